#include "TypedTable.h"

#include "DictionaryRecords.h"
#include "LegacyWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace clitest {

namespace {

using testsupport::fieldRecord;
using testsupport::indexRecord;
using testsupport::tableRecord;

constexpr uint16_t RecordLength = 130;
constexpr uint16_t TypedId = 20;

struct Column // NOLINT(clang-analyzer-optin.performance.Padding): the fields stand in table order
{
    const char* name;
    uint8_t type;
    uint16_t offset;
    uint16_t size;
    uint8_t decimals;
    uint16_t flags;
};

// Type codes are spelled out here as the dictionary stores them.
const Column Columns[] = {
    {"Id", 1, 0, 4, 0, 0},
    {"Name", 0, 4, 10, 0, 0},
    {"Small", 1, 14, 1, 0, 0x08},
    {"Price", 5, 15, 4, 2, 0},
    {"Rate", 2, 19, 8, 0, 0},
    {"Born", 3, 27, 4, 0, 0},
    {"At", 4, 31, 4, 0, 0},
    {"Cash", 6, 35, 4, 2, 0},
    {"Ok", 7, 39, 1, 0, 0},
    {"Qty", 8, 40, 5, 0, 0},
    {"Old", 9, 45, 4, 0, 0},
    {"Label", 10, 49, 6, 0, 0},
    {"Code", 11, 55, 6, 0, 0},
    {"Count", 14, 61, 2, 0, 0},
    {"Seq", 15, 63, 4, 0, 0},
    {"Flag", 16, 67, 1, 2, 0},
    {"Amount", 17, 68, 6, 2, 0},
    {"Money", 19, 74, 8, 0, 0},
    {"When", 20, 82, 8, 0, 0},
    {"Wide", 25, 90, 4, 0, 0},
    {"Wz", 26, 94, 4, 0, 0},
    {"Guid", 27, 98, 16, 0, 0},
    {"Quote", 0, 114, 12, 0, 0},
};

void put(Bytes& r, size_t at, const Bytes& bytes)
{
    std::copy(bytes.begin(), bytes.end(), r.begin() + long(at));
}

Bytes str(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes le64(uint64_t v)
{
    Bytes b(8);
    for (int i = 0; i < 8; ++i)
        b[size_t(i)] = uint8_t(v >> (8 * i));
    return b;
}

Bytes record(int32_t id, const std::string& name, const std::string& quote, bool valid)
{
    Bytes r(RecordLength, ' ');
    testsupport::put32(r, 0, uint32_t(id));
    put(r, 4, str(name));
    r[14] = valid ? 0xFF : 0x00;
    put(r, 15, valid ? Bytes {0x01, 0x23, 0x45, 0x0D} : Bytes {0x01, 0x2F, 0x45, 0x0D});
    const double rate = valid ? 0.1 : 0.0;
    Bytes rateBytes(8);
    std::memcpy(rateBytes.data(), &rate, 8);
    put(r, 19, rateBytes);
    put(r, 27, valid ? Bytes {31, 12, 0xCF, 0x07} : Bytes {1, 13, 0xD0, 0x07});
    put(r, 31, valid ? Bytes {5, 4, 3, 2} : Bytes {0, 0, 0, 0});
    put(r, 35, valid ? Bytes {0x00, 0x12, 0x34, 0x5C} : Bytes {0x00, 0x00, 0x00, 0x0C});
    r[39] = valid ? 1 : 0;
    put(r, 40, str(valid ? "0012}" : "00X12"));
    put(r, 45, valid ? Bytes {0, 0, 0x20, 0x83} : Bytes {0, 0, 0, 0});
    put(r, 49, Bytes {3, 'a', 'b', 'c', 'z', 'z'});
    put(r, 55, Bytes {'x', 'y', 0, 'q', 'q', 'q'});
    testsupport::put16(r, 61, valid ? 65535 : 0);
    testsupport::put32(r, 63, 7);
    r[67] = valid ? 0x04 : 0x00;
    put(r, 68, str("00123-"));
    put(r, 74, le64(valid ? 123450000 : 0));
    put(r, 82, le64(valid ? 630822816000000000 : 0));
    put(r, 90, Bytes {'A', 0, 0xE9, 0});
    put(r, 94, Bytes {'H', 0, 0, 0});
    put(r, 98,
        Bytes {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD,
            0xEE, 0xFF});
    put(r, 114, str(quote));
    put(r, 126, Bytes {0xDE, 0xAD, 0xBE, 0xEF});
    if (!valid) // a null date
        put(r, 27, Bytes {0, 0, 0, 0});
    return r;
}

recman::Definition legacyDefinition(const DefinitionImage& image, uint32_t records)
{
    recman::Definition def;
    def.pageSize = image.pageSize;
    def.recordLength = image.recordLength;
    def.fileFlags = image.fileFlags;
    int number = 0;
    recman::Key key;
    for (const SegmentEntry& s : image.segments) {
        key.segments.push_back(
            {s.position, s.length, s.flags, records, s.extType, s.nullValue, 0, 0, s.acsNumber});
        if (!(s.flags & testsupport::AnotherSegmentFollows)) {
            key.number = number++;
            def.keys.push_back(key);
            key = {};
        }
    }
    return def;
}

} // namespace

const std::vector<std::string> TypedColumns {"Id", "Name", "Small", "Price", "Rate", "Born", "At",
    "Cash", "Ok", "Qty", "Old", "Label", "Code", "Count", "Seq", "Flag", "Amount", "Money", "When",
    "Wide", "Wz", "Guid", "Quote", "filler_127"};

std::vector<Bytes> typedRecords()
{
    // 0x81 is u-umlaut in CP437.
    return {record(1, "M\x81ller", "say \"hi\", ok", true), record(2, "", "", false),
        record(3, "Line\nTwo", "plain", true)};
}

std::vector<std::string> typedCsv()
{
    const std::string rest = "abc,xy,65535,7,1,-1.23,12345.0000,2000-01-01T00:00:00.0000000,"
                             "A\xC3\xA9,H,00112233-4455-6677-8899-aabbccddeeff,";
    return {
        "1,M\xC3\xBCller,-1,-1234.50,0.1,1999-12-31,02:03:04.05,123.45,1,-120,5," + rest
            + "\"say \"\"hi\"\", ok\",deadbeef\r\n",
        "2,,0,0x012f450d,0,,00:00:00.00,0.00,0,0x3030583132,0,abc,xy,0,7,0,-1.23,0.0000,"
        "0001-01-01T00:00:00.0000000,A\xC3\xA9,H,00112233-4455-6677-8899-aabbccddeeff,,"
        "deadbeef\r\n",
        "3,\"Line\nTwo\",-1,-1234.50,0.1,1999-12-31,02:03:04.05,123.45,1,-120,5," + rest
            + "plain,deadbeef\r\n",
    };
}

std::string storageName(Storage storage)
{
    return storage == Storage::RecordManager ? "RecordManager" : "Legacy";
}

namespace {

legacytest::WrittenLayout writeLegacy60(
    const std::string& path, const DefinitionImage& definition, const std::vector<Bytes>& records)
{
    legacytest::LegacyFileSpec spec;
    spec.version = legacytest::Version60;
    spec.definition = legacyDefinition(definition, uint32_t(records.size()));
    spec.records = uint32_t(records.size());
    spec.rule = [records](uint32_t i, std::vector<uint8_t>& r) { r = records[i]; };
    return legacytest::writeLegacyFile(path, spec);
}

} // namespace

void writeDataFile(const std::string& path, Storage storage, const DefinitionImage& definition,
    const std::vector<Bytes>& records)
{
    if (storage == Storage::RecordManager) {
        createFile(path, definition);
        insertRecords(path, records);
        return;
    }
    writeLegacy60(path, definition, records);
}

void writeDamagedLegacyFile(
    const std::string& path, const DefinitionImage& definition, const std::vector<Bytes>& records)
{
    const legacytest::WrittenLayout layout = writeLegacy60(path, definition, records);
    legacytest::damage(path, layout, legacytest::Damage::RecordCountHigh);
}

void writeKeyOnlyLegacyFile(
    const std::string& path, const DefinitionImage& definition, const std::vector<Bytes>& records)
{
    const legacytest::WrittenLayout layout = writeLegacy60(path, definition, records);
    // The file flags of both control records (pages 0 and 1), at 0x106: 0x10, key-only.
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr) << path;
    for (uint32_t page = 0; page < 2; ++page) {
        uint8_t flags = 0;
        std::fseek(f, long(page * layout.pageSize + 0x106), SEEK_SET);
        ASSERT_EQ(std::fread(&flags, 1, 1, f), 1U);
        flags |= 0x10;
        std::fseek(f, long(page * layout.pageSize + 0x106), SEEK_SET);
        ASSERT_EQ(std::fwrite(&flags, 1, 1, f), 1U);
    }
    std::fclose(f);
}

std::string writeTypedDictionary(const std::string& dir, Storage storage,
    const std::string& location, const std::vector<Bytes>& extraTables)
{
    std::vector<Bytes> tables {tableRecord(1, "X$File", "FILE.DDF", 0x10),
        tableRecord(2, "X$Field", "FIELD.DDF", 0x10), tableRecord(TypedId, "Typed", location)};
    tables.insert(tables.end(), extraTables.begin(), extraTables.end());
    std::vector<Bytes> fieldRecords;
    uint16_t id = 100;
    for (const Column& c : Columns)
        fieldRecords.push_back(
            fieldRecord(id++, TypedId, c.name, c.type, c.offset, c.size, c.decimals, c.flags));
    fieldRecords.push_back(fieldRecord(id++, TypedId, "PK_Typed", 255, 0, 0));
    writeDataFile(dir + "/FILE.DDF", storage, testsupport::fileDdfDefinition(), tables);
    writeDataFile(dir + "/FIELD.DDF", storage, testsupport::fieldDdfDefinition(), fieldRecords);
    writeDataFile(dir + "/INDEX.DDF", storage, testsupport::indexDdfDefinition(),
        {indexRecord(TypedId, 100, 0, 0)});

    std::string relative = location;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    const std::filesystem::path path = std::filesystem::path(dir) / relative;
    std::filesystem::create_directories(path.parent_path());
    DefinitionImage d;
    d.recordLength = RecordLength;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, 0x0100, 0, 1}});
    writeDataFile(path.string(), storage, d, typedRecords());
    return path.string();
}

std::string sqliteShell(const std::string& database, const std::string& sql, bool* available)
{
    *available = std::filesystem::exists("/usr/bin/sqlite3");
    if (!*available)
        return {};
    const std::string script = database + ".sql-input";
    writeText(script, sql);
    const std::string command = "/usr/bin/sqlite3 -batch '" + database + "' <'" + script + "' 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    size_t n = 0;
    while (pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    if (pipe)
        ::pclose(pipe);
    std::filesystem::remove(script);
    return out;
}

} // namespace clitest
