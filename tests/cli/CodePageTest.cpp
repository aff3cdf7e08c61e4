// Dictionaries and records in the code pages real applications were written in (CP866, CP850,
// CP852, CP1252), through the record manager and in the legacy format: every command guesses the
// code page, says so once, and gives every name and value in UTF-8 (fields, tables, export's CSV
// header, JSON keys and SQL identifiers, convert's tables, columns and indexes); a code page named
// is never second-guessed; column names stay unique and valid whatever the dictionary holds; and
// the collating sequences' names of stat.
#include "CliRun.h"
#include "CodePageTexts.h"
#include "DictionaryRecords.h"
#include "TextDecoder.h"
#include "TypedTable.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <sstream>

using namespace clitest;
using testsupport::fieldRecord;
using testsupport::indexRecord;
using testsupport::tableRecord;

namespace {

constexpr uint16_t TextSize = 24;
constexpr uint16_t RecordLength = 2 * TextSize + 4;

struct PageCase
{
    const char* encoding;
    std::string table;
    std::vector<std::string> fields; // two texts of TextSize bytes, then a 4-byte integer
    std::string index;
    std::string location; // the data file, made under this name in UTF-8
    std::vector<std::pair<std::string, std::string>> rows;
};

const std::vector<PageCase> PageCases {
    {"CP866", "Договоры", {"Заказчик", "Город", "Сумма"}, "ИНД_ЗАКАЗЧИК", "ДОГОВОР.DAT",
        {{"Иванов Пётр", "Екатеринбург"}, {"ООО Ромашка", "Москва"},
            {"Сидорова Анна", "Новосибирск"}}},
    {"CP850", "Clientes", {"Razão", "Endereço", "Número"}, "IX_RAZÃO", "CLIENTES.DAT",
        {{"João Gonçalves", "Avenida da Liberdade"}, {"Conceição Brandão", "Praça do Comércio"},
            {"Sebastião Magalhães", "Rua São Bento"}}},
    {"CP852", "Zákazníci", {"Příjmení", "Město", "Částka"}, "IX_PŘÍJMENÍ", "ZAKAZNIK.DAT",
        {{"Dvořák Jiří", "České Budějovice"}, {"Nováková Věra", "Plzeň"},
            {"Řezníček Tomáš", "Ústí nad Labem"}}},
    {"CP1252", "Kunden", {"Straße", "Ort", "Größe"}, "IX_STRASSE", "KUNDEN.DAT",
        {{"Müller GmbH", "Düsseldorf"}, {"Schäfer & Söhne", "Würzburg"},
            {"Bäckerei Weiß", "Lübeck"}}},
};

// The UTF-8 text in a code page.
std::string in(const std::string& utf8, const std::string& encoding)
{
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(testsupport::encodeText(utf8, encoding, bytes)) << utf8 << " in " << encoding;
    return std::string(bytes.begin(), bytes.end());
}

Bytes pageRecord(const PageCase& c, size_t row)
{
    Bytes r(RecordLength, ' ');
    const std::string first = in(c.rows[row].first, c.encoding);
    const std::string second = in(c.rows[row].second, c.encoding);
    std::copy(first.begin(), first.end(), r.begin());
    std::copy(second.begin(), second.end(), r.begin() + TextSize);
    testsupport::put32(r, 2 * TextSize, uint32_t(1000 * (row + 1)));
    return r;
}

// The dictionary (names in the case's code page) and the table's data file in `dir`; the data
// file's path.
std::string writePageDictionary(const std::string& dir, Storage storage, const PageCase& c)
{
    const std::string page = c.encoding;
    writeDataFile(dir + "/FILE.DDF", storage, testsupport::fileDdfDefinition(),
        {tableRecord(1, "X$File", "FILE.DDF", 0x10), tableRecord(2, "X$Field", "FIELD.DDF", 0x10),
            tableRecord(40, in(c.table, page), in(c.location, page))});
    writeDataFile(dir + "/FIELD.DDF", storage, testsupport::fieldDdfDefinition(),
        {fieldRecord(401, 40, in(c.fields[0], page), 0, 0, TextSize),
            fieldRecord(402, 40, in(c.fields[1], page), 0, TextSize, TextSize),
            fieldRecord(403, 40, in(c.fields[2], page), 1, 2 * TextSize, 4),
            fieldRecord(404, 40, in(c.index, page), 255, 0, 0)});
    writeDataFile(dir + "/INDEX.DDF", storage, testsupport::indexDdfDefinition(),
        {indexRecord(40, 401, 0, 0, 0x01)});
    DefinitionImage d;
    d.recordLength = RecordLength;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, TextSize, 0x0100 | 0x0001, 0, 0}});
    std::vector<Bytes> records;
    for (size_t i = 0; i < c.rows.size(); ++i)
        records.push_back(pageRecord(c, i));
    const std::string path = dir + "/" + c.location;
    writeDataFile(path, storage, d, records);
    return path;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        out.push_back(line);
    return out;
}

// Everything a run wrote is UTF-8.
void expectUtf8(const CliResult& r, const std::string& what)
{
    EXPECT_TRUE(fields::isUtf8(r.out.data(), r.out.size())) << what << ": " << r.out;
    EXPECT_TRUE(fields::isUtf8(r.err.data(), r.err.size())) << what << ": " << r.err;
}

class CodePageDictionary : public ::testing::TestWithParam<std::tuple<Storage, size_t>>
{
protected:
    Storage storage() const { return std::get<0>(GetParam()); }
    const PageCase& page() const { return PageCases[std::get<1>(GetParam())]; }
};

TEST_P(CodePageDictionary, EveryCommandGuessesTheCodePageAndWritesUtf8)
{
    const PageCase& c = page();
    ScratchDir dir;
    const std::string data = writePageDictionary(dir.path(), storage(), c);
    const std::string said = data + ": text read as " + c.encoding + " (guessed from ";

    CliResult r = runCli({"fields", data});
    ASSERT_EQ(r.status, 0) << r.err;
    expectUtf8(r, "fields");
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(", text in " + std::string(c.encoding) + ", fields from dictionary "
                  + dir.path() + ", table " + c.table + "\n"),
        std::string::npos)
        << r.out;
    for (const std::string& f : c.fields)
        EXPECT_NE(r.out.find("\n" + f + " "), std::string::npos) << f << "\n" << r.out;

    // CSV: the header and the values in the same code page, said once.
    r = runCli({"export", data, "--physical"});
    ASSERT_EQ(r.status, 0) << r.err;
    expectUtf8(r, "export");
    EXPECT_EQ(r.err.find(said), r.err.rfind(said));
    std::string csv = c.fields[0] + "," + c.fields[1] + "," + c.fields[2] + "\r\n";
    for (size_t i = 0; i < c.rows.size(); ++i)
        csv += c.rows[i].first + "," + c.rows[i].second + "," + std::to_string(1000 * (i + 1))
            + "\r\n";
    EXPECT_EQ(r.out, csv);

    r = runCli({"export", data, "--physical", "--format", "jsonl"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto first = nlohmann::json::parse(lines(r.out).at(0));
    EXPECT_EQ(first[c.fields[0]], c.rows[0].first);
    EXPECT_EQ(first[c.fields[1]], c.rows[0].second);
    EXPECT_EQ(first[c.fields[2]], 1000);

    // The SQL script names the table, its columns and its index in UTF-8.
    r = runCli({"export", data, "--format", "sql"});
    ASSERT_EQ(r.status, 0) << r.err;
    expectUtf8(r, "export sql");
    EXPECT_NE(r.out.find("CREATE INDEX \"" + c.table + "_key0\" ON \"" + c.table + "\" (\""
                  + c.fields[0] + "\");"),
        std::string::npos)
        << r.out;
    ScratchDir out;
    bool shell = false;
    std::string got = sqliteShell(out.file("script.sqlite"),
        r.out + "SELECT \"" + c.fields[1] + "\" FROM \"" + c.table + "\" ORDER BY \"" + c.fields[2]
            + "\" LIMIT 1;",
        &shell);
    if (shell) {
        EXPECT_EQ(got, c.rows[0].second + "\n");
    }

    r = runCli({"tables", dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    expectUtf8(r, "tables");
    EXPECT_NE(r.err.find(dir.path() + ": names read as " + c.encoding + " (guessed from "),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("\n" + c.table + "  " + c.location + "  "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Read: 1 file, 3 records\n  " + data + " (" + c.table + "): 3 records\n"),
        std::string::npos)
        << r.out;

    // convert: tables, columns and indexes in UTF-8, and the code page of each table recorded.
    const std::string db = out.file("all.sqlite");
    r = runCli({"convert", dir.path(), "--into", db});
    ASSERT_EQ(r.status, 0) << r.err;
    expectUtf8(r, "convert");
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
    EXPECT_NE(
        r.out.find("Converted: 1 file, 3 records\n  " + data + " -> " + c.table + ": 3 records\n"),
        std::string::npos)
        << r.out;
    got = sqliteShell(db,
        "SELECT \"" + c.fields[0] + "\", \"" + c.fields[2] + "\" FROM \"" + c.table
            + "\" ORDER BY 2;\nSELECT table_name, encoding FROM varnok_source;\nSELECT name FROM "
              "sqlite_master WHERE type = 'index' AND name NOT LIKE 'sqlite_%';\n",
        &shell);
    if (shell) {
        EXPECT_EQ(got,
            c.rows[0].first + "|1000\n" + c.rows[1].first + "|2000\n" + c.rows[2].first + "|3000\n"
                + c.table + "|" + c.encoding + "\n" + c.table + "_key0\n");
    }
}

TEST_P(CodePageDictionary, ACodePageNamedIsNeverSecondGuessed)
{
    const PageCase& c = page();
    ScratchDir dir;
    const std::string data = writePageDictionary(dir.path(), storage(), c);
    // Every byte of CP437 is a character: the names read as other letters, UTF-8 all the same.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>> {
             {"fields", data, "--encoding", "CP437"},
             {"export", data, "--encoding", "cp437"},
             {"tables", dir.path(), "--encoding", "CP437"},
         }) {
        const CliResult r = runCli(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        EXPECT_EQ(r.err.find("read as"), std::string::npos) << args[0] << ": " << r.err;
        expectUtf8(r, args[0]);
        if (std::string(c.encoding) != "CP850") {
            EXPECT_EQ(r.out.find(c.fields[0]), std::string::npos) << args[0] << ": " << r.out;
        }
    }
    // The code page it is in, named, reads as the guess does.
    const CliResult named = runCli({"export", data, "--physical", "--encoding", c.encoding});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.err, "");
    EXPECT_EQ(named.out.find(c.fields[0] + "," + c.fields[1]), 0U) << named.out;
    // And the table by its name in UTF-8.
    const CliResult table = runCli({"fields", data, "--table", c.table, "--json"});
    ASSERT_EQ(table.status, 0) << table.err;
    const auto j = nlohmann::json::parse(table.out);
    EXPECT_EQ(j["table"], c.table);
    EXPECT_EQ(j["encoding"], c.encoding);
    EXPECT_EQ(j["fields"][0]["name"], c.fields[0]);
}

INSTANTIATE_TEST_SUITE_P(Pages, CodePageDictionary,
    ::testing::Combine(::testing::Values(Storage::RecordManager, Storage::Legacy),
        ::testing::Range(size_t(0), PageCases.size())),
    [](const ::testing::TestParamInfo<std::tuple<Storage, size_t>>& p) {
        std::string name = PageCases[std::get<1>(p.param)].encoding;
        return name + "_" + storageName(std::get<0>(p.param));
    });

// Names no SQL dialect takes bare: blanks, punctuation, quotes, keywords, empty names, names equal
// in another case (ASCII and Cyrillic); a file name too long for PostgreSQL and one SQLite keeps
// for itself.
TEST(SqlNames, ColumnsAreQuotedCutAndUniqueInAnyCase)
{
    ScratchDir dir;
    const std::vector<std::string> names {"Name", "NAME", "select", "order by", "a\"b", "", "  ",
        "Qty. (pcs) %", "\x8F\x8E\x8B\x85", "\xAF\xAE\xAB\xA5"}; // ПОЛЕ, поле in CP866
    std::vector<Bytes> fieldRecords;
    for (size_t i = 0; i < names.size(); ++i)
        fieldRecords.push_back(fieldRecord(uint16_t(i + 1), 9, names[i], 0, uint16_t(2 * i), 2));
    writeDataFile(dir.file("FILE.DDF"), Storage::RecordManager, testsupport::fileDdfDefinition(),
        {tableRecord(9, "", "NAMES.BTR")});
    writeDataFile(dir.file("FIELD.DDF"), Storage::RecordManager, testsupport::fieldDdfDefinition(),
        fieldRecords);
    DefinitionImage d;
    d.recordLength = uint16_t(2 * names.size());
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 2, 0x0001, 0, 0}});
    createFile(dir.file("NAMES.BTR"), d);
    insertRecords(dir.file("NAMES.BTR"), {Bytes(d.recordLength, 'x')});
    const std::string stem(70, 'L');
    createFile(dir.file(stem + ".BTR"), twoKeyDefinition());
    insertRecords(dir.file(stem + ".BTR"), {twoKeyRecord(1, "one")});
    createFile(dir.file("sqlite_master.btr"), twoKeyDefinition());
    insertRecords(dir.file("sqlite_master.btr"), {twoKeyRecord(1, "one")});

    const std::vector<std::string> columns {"Name", "NAME_2", "select", "order by", "a\"b",
        "field_11", "field_13", "Qty. (pcs) %", "\xD0\x9F\xD0\x9E\xD0\x9B\xD0\x95",
        "\xD0\xBF\xD0\xBE\xD0\xBB\xD0\xB5_2"};
    CliResult r = runCli({"export", dir.file("NAMES.BTR"), "--format", "sql", "--dialect",
        "postgresql", "--encoding", "CP866"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string create = "CREATE TABLE \"NAMES\" (";
    for (size_t i = 0; i < columns.size(); ++i)
        create += (i ? ", \"" : "\"") + (i == 4 ? std::string("a\"\"b") : columns[i]) + "\" TEXT";
    EXPECT_EQ(r.out.find(create + ");\n"), 0U) << r.out.substr(0, 400);
    // PostgreSQL keeps 63 bytes of a name: the table's and its indexes' are cut to fit.
    r = runCli({"export", dir.file(stem + ".BTR"), "--format", "sql", "--dialect", "postgresql"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("CREATE INDEX \"" + std::string(58, 'L') + "_key1\" ON \""
                  + std::string(63, 'L') + "\" (\"key1\");"),
        std::string::npos)
        << r.out;

    ScratchDir out;
    const std::string db = out.file("names.sqlite");
    r = runCli({"convert", dir.path(), "--into", db, "--encoding", "CP866"});
    ASSERT_EQ(r.status, 0) << r.err;
    bool shell = false;
    const std::string got = sqliteShell(db,
        "SELECT group_concat(name, '|') FROM pragma_table_info('NAMES');\nSELECT table_name FROM "
        "varnok_source ORDER BY 1;\nSELECT name FROM sqlite_master WHERE type = 'index' AND name "
        "NOT LIKE 'sqlite_%' ORDER BY 1;\n",
        &shell);
    if (!shell)
        GTEST_SKIP() << "no sqlite3 shell";
    std::string joined;
    for (const std::string& c : columns)
        joined += (joined.empty() ? "" : "|") + c;
    EXPECT_EQ(got,
        joined + "\n" + std::string(63, 'L') + "\nNAMES\nt_sqlite_master\n" + std::string(58, 'L')
            + "_key0\n" + std::string(58, 'L') + "_key1\nNAMES_key0\nt_sqlite_master_key0\n"
            + "t_sqlite_master_key1\n");
}

// The collating sequence's name, in a DOS code page, as stat shows it.
TEST(CodePageStat, CollatingSequenceNamesAreUtf8)
{
    ScratchDir dir;
    DefinitionImage d;
    d.recordLength = 20;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 20, 0x0020 | 0x0001, 0, 0}}); // ordered by the sequence
    Bytes table(256);
    for (size_t i = 0; i < 256; ++i)
        table[i] = uint8_t(i);
    d.blocks.push_back(testsupport::acsBlock("\x90\x93\x91\x91", table)); // РУСС in CP866
    createFile(dir.file("S.BTR"), d);
    Bytes record(20, ' ');
    const std::string text = in("Привет, мир", "CP866");
    std::copy(text.begin(), text.end(), record.begin());
    insertRecords(dir.file("S.BTR"), {record});
    CliResult r = runCli({"stat", dir.file("S.BTR")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(
        r.out.find("Collating sequences  \xD0\xA0\xD0\xA3\xD0\xA1\xD0\xA1\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("text read as CP866"), std::string::npos) << r.err;
    r = runCli({"stat", "--json", "--encoding", "CP437", dir.file("S.BTR")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(nlohmann::json::parse(r.out)["collating_sequences"][0]["name"],
        "\xC3\x89\xC3\xB4\xC3\xA6\xC3\xA6"); // the same bytes in CP437
}

} // namespace
