#include "RecordFiles.h"

#include "DefinitionImage.h"
#include "TestFiles.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace recordstest {

uint32_t idOf(uint32_t i, uint32_t n)
{
    return uint32_t(uint64_t(i) * 7919 % n);
}

std::vector<uint8_t> record(uint32_t i, uint32_t n)
{
    std::vector<uint8_t> r(RecordLength, ' ');
    const uint32_t id = idOf(i, n);
    std::memcpy(r.data(), &id, 4);
    char name[21];
    std::snprintf(name, sizeof name, "NAME %04u", id % Names);
    std::memcpy(r.data() + 4, name, std::strlen(name));
    // A date: 2000-01-01 plus id days within a year, little-endian day, month, year.
    r[24] = uint8_t(1 + id % 28);
    r[25] = uint8_t(1 + id % 12);
    const uint16_t year = uint16_t(2000 + id % 20);
    std::memcpy(r.data() + 26, &year, 2);
    if (i % 3 == 0)
        std::memcpy(r.data() + 28, "TAG", 3);
    return r;
}

uint32_t idIn(const std::vector<uint8_t>& record)
{
    uint32_t id = 0;
    if (record.size() >= 4)
        std::memcpy(&id, record.data(), 4);
    return id;
}

void makeOwnFile(const std::string& path, uint32_t n, bool nullKey)
{
    testsupport::DefinitionImage d;
    d.recordLength = RecordLength;
    d.pageSize = 4096;
    d.addKey({{1, 4, testsupport::ExtendedTypeKey, 0, btr::exttype::Integer}});
    d.addKey({{5, 20,
        uint16_t(
            testsupport::ExtendedTypeKey | btr::keyflag::Duplicates | btr::keyflag::Modifiable),
        0, btr::exttype::String}});
    if (nullKey)
        d.addKey({{29, 4,
            uint16_t(
                btr::keyflag::Duplicates | btr::keyflag::NullAll | testsupport::ExtendedTypeKey),
            0, btr::exttype::String, ' '}});
    testsupport::createFile(path, d);
    std::vector<testsupport::Bytes> records;
    records.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        const std::vector<uint8_t> r = record(i, n);
        records.emplace_back(r.begin(), r.end());
    }
    testsupport::insertRecords(path, records);
}

legacytest::WrittenLayout makeLegacyFile(
    const std::string& path, uint32_t n, uint16_t version, bool compressed)
{
    legacytest::LegacyFileSpec spec;
    spec.version = version;
    spec.records = n;
    spec.rule = [n](uint32_t i, std::vector<uint8_t>& r) { r = record(i, n); };
    recman::Definition& def = spec.definition;
    def.pageSize = version >= legacytest::Version80 ? 4096 : 1024;
    def.recordLength = RecordLength;
    if (compressed)
        def.fileFlags |= recman::fileflag::Compressed;
    recman::Key ids;
    ids.segments.push_back(
        {1, 4, recman::keyflag::ExtendedType, n, btr::exttype::Integer, 0, 0, 0, 0});
    recman::Key names;
    names.number = 1;
    names.segments.push_back(
        {5, 20, uint16_t(recman::keyflag::ExtendedType | recman::keyflag::Duplicates), Names,
            btr::exttype::String, 0, 0, 0, 0});
    def.keys = {ids, names};
    return legacytest::writeLegacyFile(path, spec);
}

std::vector<char> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace recordstest
