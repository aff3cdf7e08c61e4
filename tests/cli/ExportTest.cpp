// fields, tables and export: a dictionary of every value type (through the record manager and in
// the legacy format) exported in each format and read back, CSV quoting, JSON numbers, SQL run
// through the sqlite3 shell, every fixture exported without a dictionary with every byte in it,
// and the bad inputs: locations outside or nowhere, damaged dictionaries, bad options.
#include "CliRun.h"
#include "DictionaryRecords.h"
#include "RequireFixtures.h"
#include "TypedTable.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <sstream>

using namespace clitest;

namespace {

std::string header()
{
    std::string h;
    for (const std::string& c : TypedColumns)
        h += (h.empty() ? "" : ",") + c;
    return h + "\r\n";
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& l : lines)
        text += l;
    return text;
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

class TypedExport : public ::testing::TestWithParam<Storage>
{
};

TEST_P(TypedExport, CsvHasEveryValueAndCountsTheInvalidOnes)
{
    ScratchDir dir;
    const std::string data = writeTypedDictionary(dir.path(), GetParam());
    const CliResult r = runCli({"export", data});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, header() + joined(typedCsv()));
    // M\x81ller reads as Müller in CP437 and CP850: the first.
    EXPECT_EQ(r.err,
        "varnok-cli: " + data
            + ": text read as CP437 (guessed from 187 bytes of names and text, 1 of them outside "
              "ASCII; choose another with --encoding NAME)\nvarnok-cli: "
            + data
            + ": 2 values were not valid for their type; they are written as 0x and their bytes "
              "in hex.\n");

    // The same through --dictionary from elsewhere, and by the table's name.
    const CliResult named = runCli({"export", data, "--dictionary", dir.path(), "--table", "TYPED",
        "--no-header", "--null", "NULL", "--delimiter", ";"});
    ASSERT_EQ(named.status, 0) << named.err;
    const std::vector<std::string> out = lines(named.out);
    ASSERT_EQ(out.size(), 4U); // record 3's name holds a line feed
    EXPECT_EQ(out[1].find("2;;0;0x012f450d;0;NULL;00:00:00.00;"), 0U) << out[1];
    EXPECT_NE(out[0].find(";\"say \"\"hi\"\", ok\";"), std::string::npos) << out[0];
}

TEST_P(TypedExport, JsonLinesWriteNumbersBooleansAndNulls)
{
    ScratchDir dir;
    const std::string data = writeTypedDictionary(dir.path(), GetParam());
    const CliResult r = runCli({"export", data, "--format", "jsonl"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 3U);
    // Decimals with all their digits, as JSON numbers.
    EXPECT_NE(out[0].find("\"Price\":-1234.50,"), std::string::npos) << out[0];
    EXPECT_NE(out[0].find("\"Money\":12345.0000,"), std::string::npos) << out[0];
    const auto first = nlohmann::json::parse(out[0]);
    EXPECT_EQ(first["Id"], 1);
    EXPECT_EQ(first["Name"], "M\xC3\xBCller");
    EXPECT_EQ(first["Small"], -1);
    EXPECT_EQ(first["Rate"], 0.1);
    EXPECT_EQ(first["Born"], "1999-12-31");
    EXPECT_EQ(first["Ok"], true);
    EXPECT_EQ(first["Flag"], true);
    EXPECT_EQ(first["Count"], 65535);
    EXPECT_EQ(first["Old"], 5);
    EXPECT_EQ(first["Quote"], "say \"hi\", ok");
    EXPECT_EQ(first["filler_127"], "deadbeef");
    EXPECT_EQ(first.size(), TypedColumns.size());
    const auto second = nlohmann::json::parse(out[1]);
    EXPECT_TRUE(second["Born"].is_null());
    EXPECT_EQ(second["Ok"], false);
    EXPECT_EQ(second["Price"], "0x012f450d");
    EXPECT_EQ(second["Qty"], "0x3030583132");
    EXPECT_EQ(nlohmann::json::parse(out[2])["Name"], "Line\nTwo");
}

TEST_P(TypedExport, SqlScriptsRunInTheSqliteShell)
{
    ScratchDir dir;
    const std::string data = writeTypedDictionary(dir.path(), GetParam());
    const CliResult r = runCli({"export", data, "--format", "sql", "--key", "0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.find("CREATE TABLE \"Typed\" (\"Id\" INTEGER, \"Name\" TEXT, \"Small\" "
                         "INTEGER, \"Price\" TEXT, \"Rate\" REAL,"),
        0U)
        << r.out.substr(0, 200);
    EXPECT_NE(r.out.find("\nCREATE UNIQUE INDEX \"Typed_key0\" ON \"Typed\" (\"Id\");\n"),
        std::string::npos);
    bool shell = false;
    const std::string db = dir.file("typed.sqlite");
    std::string got = sqliteShell(db, r.out, &shell);
    if (!shell)
        GTEST_SKIP() << "no sqlite3 shell";
    EXPECT_EQ(got, "");
    got = sqliteShell(db,
        "SELECT Id, Name, Price, typeof(Price), Rate, Born, Cash, Ok, quote(filler_127) FROM Typed "
        "ORDER BY Id;",
        &shell);
    EXPECT_EQ(got,
        "1|M\xC3\xBCller|-1234.50|text|0.1|1999-12-31|123.45|1|X'DEADBEEF'\n"
        "2||0x012f450d|text|0.0||0.00|0|X'DEADBEEF'\n"
        "3|Line\nTwo|-1234.50|text|0.1|1999-12-31|123.45|1|X'DEADBEEF'\n");

    const CliResult pg = runCli({"export", data, "--format", "sql", "--dialect", "postgresql"});
    ASSERT_EQ(pg.status, 0) << pg.err;
    EXPECT_NE(pg.out.find("\"Price\" NUMERIC, \"Rate\" DOUBLE PRECISION,"), std::string::npos);
    EXPECT_NE(pg.out.find("(2, '', 0, NULL /* 0x012f450d */, 0, NULL,"), std::string::npos);
    EXPECT_NE(pg.out.find(", '\\xdeadbeef');\n"), std::string::npos);
}

TEST_P(TypedExport, FieldsAndTablesShowTheDictionary)
{
    ScratchDir dir;
    const std::string data = writeTypedDictionary(dir.path(), GetParam(), "DATA\\TYPED.BTR",
        {testsupport::tableRecord(30, "Outside", "..\\..\\ETC\\PASSWD"),
            testsupport::tableRecord(31, "Missing", "DATA\\NONE.BTR")});
    CliResult r = runCli({"fields", data, "--dictionary", dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(
        r.out.find("fields from dictionary " + dir.path() + ", table Typed\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nPrice       16        4       decimal         2         dictionary\n"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nfiller_127  127       4       hex             0         filler\n"),
        std::string::npos)
        << r.out;

    r = runCli({"fields", data, "--json", "--dictionary", dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["table"], "Typed");
    ASSERT_EQ(j["fields"].size(), TypedColumns.size());
    EXPECT_EQ(j["fields"][17]["name"], "Money");
    EXPECT_EQ(j["fields"][17]["type"], "currency");
    EXPECT_EQ(j["fields"][17]["position"], 75);

    r = runCli({"tables", dir.path()});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), 14U) << r.out;
    EXPECT_EQ(out[0].find("table    location"), 0U) << out[0];
    EXPECT_NE(out[1].find(data + " "), std::string::npos) << out[1];
    EXPECT_EQ(out[1].back(), '3') << out[1];
    EXPECT_NE(out[2].find("missing: its location '..\\..\\ETC\\PASSWD' points outside the "
                          "dictionary's directory"),
        std::string::npos)
        << out[2];
    EXPECT_NE(out[3].find("points nowhere: no NONE.BTR in"), std::string::npos) << out[3];
    // Then every file of the directory, accounted for.
    EXPECT_EQ(joined({out[5], "|", out[6], "|", out[7], "|", out[10], "|", out[11]}),
        "Read: 1 file, 3 records|  " + data
            + " (Typed): 3 records|Tables whose file is missing: 2 tables|The data dictionary: 3 "
              "files|  "
            + dir.file("FILE.DDF"));
    r = runCli({"tables", dir.path(), "--json"});
    const auto first = nlohmann::json::parse(lines(r.out)[0]);
    EXPECT_EQ(first["table"], "Typed");
    EXPECT_EQ(first["records"], 3);
    EXPECT_EQ(first["present"], true);
}

INSTANTIATE_TEST_SUITE_P(Storages, TypedExport,
    ::testing::Values(Storage::RecordManager, Storage::Legacy),
    [](const ::testing::TestParamInfo<Storage>& p) { return storageName(p.param); });

TEST(Export, KeyLayoutsCsvQuotingOrdersAndTheCodePage)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"),
        {twoKeyRecord(2, "comma, here", 0x41), twoKeyRecord(1, "quote \" \x9C", 0x42),
            twoKeyRecord(3, "cr\rlf\n", 0x43)});
    CliResult r = runCli({"export", dir.file("A.BTR")});
    ASSERT_EQ(r.status, 0) << r.err;
    auto filler = [](const char* digit) {
        std::string hex;
        for (int i = 0; i < 26; ++i)
            hex += std::string("4") + digit;
        return hex;
    };
    EXPECT_EQ(r.out,
        "key0,key1,filler_25\r\n1,\"quote \"\" \xC2\xA3\"," + filler("2") + "\r\n2,\"comma, here\","
            + filler("1") + "\r\n3,\"cr\rlf\n\"," + filler("3") + "\r\n");
    EXPECT_EQ(r.err,
        "varnok-cli: " + dir.file("A.BTR")
            + ": text read as CP437 (guessed from 26 bytes of names and text, 1 of them outside "
              "ASCII; choose another with --encoding NAME)\n");

    r = runCli({"export", dir.file("A.BTR"), "--key", "1", "--no-header", "-f", "jsonl"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out)[0].find("{\"key0\":2,\"key1\":\"comma, here\","), 0U) << r.out;
    r = runCli({"export", dir.file("A.BTR"), "--physical", "--no-header"});
    EXPECT_EQ(r.out.find("2,"), 0U) << r.out;
    r = runCli({"export", dir.file("A.BTR"), "--encoding", "CP1252", "--no-header"});
    EXPECT_NE(r.out.find("\"quote \"\" \xC5\x93\""), std::string::npos) << r.out; // oe ligature
    EXPECT_EQ(r.err, ""); // a code page named is never second-guessed

    // To a file, whole or not at all.
    r = runCli({"export", dir.file("A.BTR"), "--output", dir.file("a.csv"), "--delimiter", "tab"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fileText(dir.file("a.csv")).find("key0\tkey1\tfiller_25\r\n"), 0U);
}

TEST(Export, AKeyThatLeavesOutNullValuesIsReported)
{
    ScratchDir dir;
    DefinitionImage d;
    d.recordLength = 8;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, 0x0108 | 0x0001, 0, 0, ' '}}); // null when all blanks
    createFile(dir.file("N.BTR"), d);
    insertRecords(dir.file("N.BTR"),
        {Bytes {'a', 'a', 'a', 'a', 1, 2, 3, 4}, Bytes {' ', ' ', ' ', ' ', 5, 6, 7, 8}});
    CliResult r = runCli({"export", dir.file("N.BTR"), "--no-header"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "aaaa,01020304\r\n");
    EXPECT_EQ(r.err,
        "varnok-cli: " + dir.file("N.BTR")
            + ": key 0 gave 1 of the file's 2 records (it leaves out those whose key is null); "
              "--physical exports them all.\n");
    r = runCli({"export", dir.file("N.BTR"), "--no-header", "--physical"});
    EXPECT_EQ(r.out, "aaaa,01020304\r\n,05060708\r\n");
    EXPECT_EQ(r.err, "");
}

TEST(Export, BadInputsGetAClearMessage)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    struct Case
    {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const std::string a = dir.file("A.BTR");
    for (const Case& c : std::vector<Case> {
             {{"export", dir.file("NONE.BTR")}, 1,
                 "varnok-cli: Cannot open " + dir.file("NONE.BTR")
                     + ": file not found (status "
                       "12).\n"},
             {{"export", a, "--encoding", "NOPE-1"}, 1,
                 "varnok-cli: Unknown encoding NOPE-1 (iconv has no conversion from it to "
                 "UTF-8).\n"},
             {{"export", a, "--delimiter", "::"}, 1,
                 "varnok-cli: The delimiter must be one character other than a quote or a line "
                 "end (or 'tab'), not '::'.\n"},
             {{"export", a, "--dictionary", dir.path()}, 1,
                 "varnok-cli: No dictionary in " + dir.path() + " (no FILE.DDF).\n"},
             {{"export", a, "--key", "5"}, 1,
                 "varnok-cli: Cannot read " + a
                     + ": invalid key number (status 6). 0 records were exported before; "
                       "standard output holds them.\n"},
             {{"fields", a, "--table", "X"}, 1,
                 "varnok-cli: No dictionary in " + dir.path() + " (no FILE.DDF).\n"},
             {{"tables", dir.path()}, 1,
                 "varnok-cli: No dictionary in " + dir.path() + " (no FILE.DDF).\n"},
         }) {
        const CliResult r = runCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[1];
        EXPECT_EQ(r.err, c.err);
    }
    EXPECT_EQ(runCli({"export", a, "--format", "xml"}).status, 2);
    EXPECT_EQ(runCli({"export", a, "--key", "1", "--physical"}).status, 2);
}

TEST(Export, ADamagedDictionaryOrAFieldPastTheEnd)
{
    ScratchDir dir;
    DefinitionImage d;
    d.recordLength = 10;
    d.pageSize = 1024;
    createFile(dir.file("T.BTR"), d);
    insertRecords(dir.file("T.BTR"), {Bytes(10, 'x')});
    writeDataFile(dir.file("FILE.DDF"), Storage::RecordManager, testsupport::fileDdfDefinition(),
        {testsupport::tableRecord(5, "T", "t.btr")});
    writeDataFile(dir.file("FIELD.DDF"), Storage::RecordManager, testsupport::fieldDdfDefinition(),
        {testsupport::fieldRecord(1, 5, "Head", 0, 0, 4),
            testsupport::fieldRecord(2, 5, "Tail", 0, 8, 6)});
    CliResult r = runCli({"export", dir.file("T.BTR")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Head,filler_5,Tail\r\nxxxx,78787878,0x7878\r\n");
    EXPECT_NE(r.err.find("Field Tail (position 9, length 6) runs past the record's 10 bytes"),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find(": 1 values were not valid"), std::string::npos) << r.err;

    // FIELD.DDF damaged: named, the dictionary is refused; beside the file, noted and the keys
    // used.
    writeText(dir.file("FIELD.DDF"), std::string(3000, '\x07'));
    r = runCli({"export", dir.file("T.BTR"), "--dictionary", dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find("Cannot read the dictionary file " + dir.file("FIELD.DDF")), std::string::npos)
        << r.err;
    r = runCli({"export", dir.file("T.BTR")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "filler_1\r\n78787878787878787878\r\n");
    EXPECT_NE(r.err.find("The fields come from the keys."), std::string::npos) << r.err;
}

// Every fixture exported without a dictionary, in physical order: one line per record, and every
// byte that no typed field shows is in a filler or the variable part, in hex.
class FixtureExport : public ::testing::TestWithParam<const char*>
{
};

TEST_P(FixtureExport, EveryRecordAndEveryByteIsThere)
{
    REQUIRE_LEGACY_FIXTURES();
    const std::string path = testsupport::fixturePath(GetParam()).string();
    const CliResult layout = runCli({"fields", path, "--json"});
    ASSERT_EQ(layout.status, 0) << layout.err;
    const auto fieldList = nlohmann::json::parse(layout.out)["fields"];
    const uint32_t recordLength = nlohmann::json::parse(layout.out)["recordLength"];
    std::vector<bool> covered(recordLength, false);
    for (const auto& f : fieldList) {
        if (f["length"].is_null())
            continue;
        for (uint32_t i = 0; i < f["length"].get<uint32_t>(); ++i) {
            const uint32_t at = f["position"].get<uint32_t>() - 1 + i;
            if (at < recordLength)
                covered[at] = true;
        }
    }
    EXPECT_EQ(std::count(covered.begin(), covered.end(), false), 0);

    const CliResult r = runCli({"export", path, "--physical", "--format", "jsonl"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Bytes> records = readRecords(path, -1);
    const std::vector<std::string> out = lines(r.out);
    ASSERT_EQ(out.size(), records.size());
    for (size_t n = 0; n < records.size(); ++n) {
        const auto j = nlohmann::json::parse(out[n]);
        ASSERT_EQ(j.size(), fieldList.size());
        for (const auto& f : fieldList) {
            if (f["type"] != "hex")
                continue;
            const size_t at = f["position"].get<size_t>() - 1;
            const size_t length
                = f["length"].is_null() ? records[n].size() - at : f["length"].get<size_t>();
            const Bytes bytes(
                records[n].begin() + long(at), records[n].begin() + long(at + length));
            std::string hex;
            for (uint8_t b : bytes) {
                static const char* digits = "0123456789abcdef";
                hex += digits[b >> 4];
                hex += digits[b & 15];
            }
            EXPECT_EQ(j[f["name"].get<std::string>()], hex) << GetParam() << " record " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureExport, ::testing::ValuesIn(LegacyFixtures),
    [](const ::testing::TestParamInfo<const char*>& p) { return fixtureTestName(p.param); });

} // namespace
