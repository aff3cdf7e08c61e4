// The data dictionary's record parser against any bytes, and the layouts it gives. The input is
// a run of records, each a byte choosing the file (FILE.DDF, FIELD.DDF or INDEX.DDF by its value
// modulo 3), a length byte and that many bytes. Whatever the records hold, every table's layout
// must cover every byte of its fixed part, name each field once (in any case), and give every
// field of a record some text; a location must resolve below the dictionary's directory or be
// refused.
#include "Dictionary.h"
#include "DictionaryRecords.h"
#include "FuzzSupport.h"
#include "LittleEndian.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace {

fuzz::Bytes frame(const std::vector<std::pair<int, fuzz::Bytes>>& records)
{
    fuzz::Bytes input;
    for (const auto& [file, bytes] : records) {
        input.push_back(uint8_t(file));
        input.push_back(uint8_t(std::min<size_t>(bytes.size(), 255)));
        input.insert(
            input.end(), bytes.begin(), bytes.begin() + long(std::min<size_t>(bytes.size(), 255)));
    }
    return input;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, [](const fuzz::SeedSink& sink) {
        using testsupport::fieldRecord;
        using testsupport::indexRecord;
        using testsupport::tableRecord;
        sink("empty", {});
        sink("typed",
            frame({{0, tableRecord(1, "X$File", "FILE.DDF", 0x10)},
                {0, tableRecord(7, "Customer", "DATA\\CUST.BTR")},
                {1, fieldRecord(1, 7, "Id", 1, 0, 4)}, {1, fieldRecord(2, 7, "Name", 0, 4, 20)},
                {1, fieldRecord(3, 7, "Price", 5, 24, 6, 2)},
                {1, fieldRecord(4, 7, "Flag", 16, 30, 1, 3)},
                {1, fieldRecord(5, 7, "PK", 255, 0, 0)}, {2, indexRecord(7, 1, 0, 0)}}));
        sink("overlapping",
            frame({{0, tableRecord(2, "Parts", "..\\PARTS.DAT")},
                {1, fieldRecord(1, 2, "Phone", 0, 10, 8)},
                {1, fieldRecord(2, 2, "phone", 0, 10, 3)},
                {1, fieldRecord(3, 2, "Past", 13, 60, 30, 4)}, {0, fuzz::Bytes(40, 'x')}}));
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fields::RecordList files[3];
    for (size_t at = 0; at + 2 <= size;) {
        const int file = data[at] % 3;
        const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
        files[file].emplace_back(data + at + 2, data + at + 2 + length);
        at += 2 + length;
    }
    const fields::Dictionary d = fields::parseDictionary(files[0], files[1], files[2]);
    if (d.tables.size() + d.fields.size() + d.indexes.size() + d.problems.size()
        != files[0].size() + files[1].size() + files[2].size())
        fuzz::fail("a record is neither read nor reported");

    // A record of the input's own bytes, 64 bytes of fixed part and a variable part.
    spec::SpecBuffer stat;
    btr::le::put16(stat.data() + btr::layout::file::RecordLength, 64);
    btr::le::put16(stat.data() + btr::layout::file::FileFlags, btr::fileflag::VariableLength);
    fuzz::Bytes record(data, data + std::min<size_t>(size, 96));
    record.resize(std::max<size_t>(record.size(), 70), 0);
    fields::TextDecoder decoder;
    std::string text;
    for (const fields::DictTable& t : d.tables) {
        const fields::Layout layout = fields::tableLayout(d, t, stat, decoder);
        std::vector<bool> covered(64, false);
        std::set<std::string> names;
        for (const fields::Field& f : layout.fields) {
            if (!names.insert(fields::lowerCase(f.name)).second)
                fuzz::fail("two fields of one name: " + f.name);
            for (uint64_t i = f.offset; i < std::min<uint64_t>(f.offset + uint64_t(f.length), 64);
                 ++i)
                covered[size_t(i)] = true;
            text.clear();
            const fields::Kind kind
                = fields::appendField(f, record.data(), record.size(), decoder, text);
            if (kind == fields::Kind::Invalid && text.compare(0, 2, "0x") != 0)
                fuzz::fail("an invalid value that is not hex");
        }
        if (std::find(covered.begin(), covered.end(), false) != covered.end())
            fuzz::fail("a byte of the fixed part in no field");
        const fields::Located at = fields::locate(fuzz::scratchPath("dictionary"), t.location);
        if (at.found())
            fuzz::fail("a location found in an empty directory");
    }
    return 0;
}
