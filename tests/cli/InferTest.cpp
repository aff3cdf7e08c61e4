// Layout discovery from the command line: fields inferred without a dictionary (text and JSON,
// with evidence and the first records' values), --keys-only and --infer, a layout kept in a
// file, edited and exported with, a directory of layouts for convert, and the layouts that are
// refused, with nothing written.
#include "CliRun.h"
#include "DictionaryRecords.h"
#include "RequireFixtures.h"
#include "TypedTable.h"

#include "DefinitionLayout.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <filesystem>

using namespace clitest;
using Json = nlohmann::json;

namespace {

const char* const Names[] = {"Widget", "Gadget deluxe", "Sprocket", "", "Flange", "Bolt M8"};

// 40-byte records: key 0 a 4-byte integer at 1, a 16-byte name, a date, a price as a double,
// 8 reserved zero bytes.
std::string writeShop(const std::string& path, int records = 60)
{
    DefinitionImage d;
    d.recordLength = 40;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, 0x0100, 0, btr::exttype::Integer}});
    createFile(path, d);
    std::vector<Bytes> rows;
    for (int i = 1; i <= records; ++i) {
        Bytes r(40, 0);
        testsupport::put32(r, 0, uint32_t(i));
        const std::string name = Names[i % std::size(Names)];
        std::fill(r.begin() + 4, r.begin() + 20, ' ');
        std::copy(name.begin(), name.end(), r.begin() + 4);
        r[20] = uint8_t(1 + i % 28);
        r[21] = uint8_t(1 + i % 12);
        r[22] = uint8_t((1990 + i % 30) & 0xFF);
        r[23] = uint8_t((1990 + i % 30) >> 8);
        const double price = i * 1.25;
        std::memcpy(r.data() + 24, &price, 8);
        rows.push_back(r);
    }
    insertRecords(path, rows);
    return path;
}

std::vector<std::string> names(const Json& layout)
{
    std::vector<std::string> out;
    for (const Json& f : layout["fields"])
        out.push_back(f["name"].get<std::string>() + ":" + f["type"].get<std::string>());
    return out;
}

TEST(Infer, AFileWithoutADictionaryShowsNamedTypedFieldsWithEvidence)
{
    ScratchDir dir;
    const std::string shop = writeShop(dir.file("SHOP.BTR"));
    CliResult r = runCli({"fields", shop, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = Json::parse(r.out);
    EXPECT_EQ(j["origin"], "keys, inferred from 60 records");
    EXPECT_EQ(names(j),
        (std::vector<std::string> {
            "key0:integer", "text_5:string", "date_21:date", "float_25:float", "filler_33:hex"}));
    EXPECT_EQ(j["fields"][1]["source"], "inferred");
    EXPECT_EQ(j["fields"][2]["evidence"], "valid in 60 of 60 records; 1990-01-05 to 2019-12-04");
    EXPECT_TRUE(j["fields"][0]["evidence"].is_null());

    r = runCli({"fields", shop, "--sample", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("fields from keys, inferred from 60 records\n"
                         "name       position  length  type     decimals  source    evidence\n"
                         "key0       1         4       integer  0         key\n"
                         "text_5     5         16      string   0         inferred  valid in 60 of "
                         "60 records, 10 blank; e.g. \"Gadget deluxe\", \"Sprocket\", \"Flange\"; "
                         "up to 13 characters\n"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\nThe first 2 records:\nname       1                 2\n"
                         "key0       1                 2\n"
                         "text_5     Gadget deluxe     Sprocket\n"
                         "date_21    1991-02-02        1992-03-03\n"
                         "float_25   1.25              2.5\n"
                         "filler_33  0000000000000000  0000000000000000\n"),
        std::string::npos)
        << r.out;
    // An empty file: the keys and a filler, nothing to sample.
    const std::string empty = writeShop(dir.file("EMPTY.BTR"), 0);
    r = runCli({"fields", empty, "--sample", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("fields from keys\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nThe file holds no records.\n"), std::string::npos) << r.out;

    const Json sampled = Json::parse(runCli({"fields", shop, "--json", "--sample", "1"}).out);
    EXPECT_EQ(sampled["sample"],
        Json::parse(R"([{"key0": "1", "text_5": "Gadget deluxe", "date_21": "1991-02-02",
            "float_25": "1.25", "filler_33": "0000000000000000"}])"));

    // The same fields export; --keys-only gives the keys and one filler.
    r = runCli({"export", shop, "--format", "jsonl"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')),
        R"({"key0":1,"text_5":"Gadget deluxe","date_21":"1991-02-02","float_25":1.25,)"
        R"("filler_33":"0000000000000000"})");
    r = runCli({"export", shop, "--keys-only", "--no-header"});
    EXPECT_EQ(r.out.substr(0, r.out.find(',')), "1") << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.begin() + long(r.out.find('\n')), ','), 1);
}

TEST(Infer, InferTakesWhatADictionaryLeavesUncovered)
{
    ScratchDir dir;
    const std::string shop = writeShop(dir.file("SHOP.BTR"));
    writeDataFile(dir.file("FILE.DDF"), Storage::RecordManager, testsupport::fileDdfDefinition(),
        {testsupport::tableRecord(5, "Shop", "SHOP.BTR")});
    writeDataFile(dir.file("FIELD.DDF"), Storage::RecordManager, testsupport::fieldDdfDefinition(),
        {testsupport::fieldRecord(1, 5, "Id", 1, 0, 4),
            testsupport::fieldRecord(2, 5, "Name", 0, 4, 16)});
    CliResult r = runCli({"fields", shop, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(names(Json::parse(r.out)),
        (std::vector<std::string> {"Id:integer", "Name:string", "filler_21:hex"}));
    r = runCli({"fields", shop, "--json", "--infer"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Json j = Json::parse(r.out);
    EXPECT_EQ(names(j),
        (std::vector<std::string> {
            "Id:integer", "Name:string", "date_21:date", "float_25:float", "filler_33:hex"}));
    EXPECT_EQ(j["table"], "Shop");
    EXPECT_EQ(j["fields"][1]["source"], "dictionary");
    r = runCli({"fields", shop, "--json", "--keys-only"});
    EXPECT_EQ(
        names(Json::parse(r.out)), (std::vector<std::string> {"key0:integer", "filler_5:hex"}));
}

TEST(Infer, ALayoutKeptInAFileIsEditedAndExportedWith)
{
    ScratchDir dir;
    const std::string shop = writeShop(dir.file("SHOP.BTR"));
    Json layout = Json::parse(runCli({"fields", shop, "--json"}).out);
    // Named and typed by hand: the name as a zstring, the price in two halves, overlapping the
    // date with its day, the filler left where it was.
    Json& f = layout["fields"];
    f[1]["name"] = "Name";
    f[1]["type"] = "zstring";
    f[3] = Json::parse(R"({"name": "Low", "position": 25, "length": 4, "type": "integer"})");
    f.push_back(Json::parse(R"({"name": "High", "position": 29, "length": 4, "type": "integer"})"));
    f.push_back(Json::parse(R"({"name": "Day", "position": 21, "length": 1, "type": "integer"})"));
    writeText(dir.file("shop.json"), layout.dump(2));

    CliResult r = runCli({"export", shop, "--layout", dir.file("shop.json"), "--physical"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find("\r\n", r.out.find("\r\n") + 2)),
        "key0,Name,date_21,Day,Low,High,filler_33\r\n1,Gadget deluxe,1991-02-02,2,0,1072955392,"
        "0000000000000000");
    // A directory of layouts: SHOP.json for SHOP.BTR, found in any case.
    r = runCli({"fields", shop, "--layout", dir.path(), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Json::parse(r.out)["origin"], "layout " + dir.file("shop.json"));
    EXPECT_EQ(Json::parse(r.out)["fields"][4]["source"], "layout");
}

TEST(Infer, ALayoutThatDoesNotFitIsRefusedAndNothingIsWritten)
{
    ScratchDir dir;
    const std::string shop = writeShop(dir.file("SHOP.BTR"), 5);
    const std::string out = dir.file("out.csv");
    struct Case
    {
        std::string layout;
        std::string error;
    };
    for (const Case& c : std::vector<Case> {
             {R"({"fields": [{"name": "a", "position": 38, "length": 4, "type": "integer"}]})",
                 "field a: position 38 and length 4 run past the end of the file's 40-byte "
                 "records"},
             {R"({"fields": [{"name": "a", "position": 1, "length": 4, "type": "integer"},
                 {"name": "A", "position": 5, "length": 4, "type": "money"}]})",
                 "field A: the name is used by an earlier field (names are compared in any "
                 "case)"},
             {R"({"fields": [{"name": "a", "position": 1, "length": 3, "type": "integer"}]})",
                 "field a: type integer takes 1, 2, 4 or 8 bytes, not 3"},
             {"{\"fields\": [\n{\"name\": \"a\" \"position\": 1}]}",
                 "it is not JSON: line 2, column 23: syntax error while parsing object - "
                 "unexpected string literal; expected '}'"},
         }) {
        writeText(dir.file("bad.json"), c.layout);
        const CliResult r
            = runCli({"export", shop, "--layout", dir.file("bad.json"), "--output", out});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err,
            "varnok-cli: Cannot use the layout " + dir.file("bad.json") + " for " + shop + ": "
                + c.error + ".\n");
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    CliResult r = runCli({"export", shop, "--layout", dir.file("none.json")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        "varnok-cli: Cannot open " + dir.file("none.json") + ": No such file or directory.\n");
    std::filesystem::create_directory(dir.file("layouts"));
    r = runCli({"fields", shop, "--layout", dir.file("layouts")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        "varnok-cli: No layout for " + shop + " in " + dir.file("layouts") + " (no SHOP.json).\n");
    // Options that cannot go together are a usage error.
    for (const std::vector<std::string>& args :
        {std::vector<std::string> {"fields", shop, "--keys-only", "--infer"},
            std::vector<std::string> {"export", shop, "--layout", "x.json", "--keys-only"},
            std::vector<std::string> {"fields", shop, "--layout", "x.json", "--dictionary", "."},
            std::vector<std::string> {"fields", shop, "--sample", "0"}})
        EXPECT_EQ(runCli(args).status, 2) << args[2];
}

TEST(Infer, ConvertTakesEachFilesLayoutFromADirectory)
{
    ScratchDir dir;
    std::filesystem::create_directories(dir.file("data"));
    std::filesystem::create_directories(dir.file("layouts"));
    const std::string shop = writeShop(dir.file("data/SHOP.BTR"), 10);
    const std::string other = writeShop(dir.file("data/OTHER.BTR"), 10);
    writeText(dir.file("layouts/Shop.json"),
        R"({"table": "Products", "fields": [{"name": "Id", "position": 1, "length": 4,
        "type": "integer"}, {"name": "Price", "position": 25, "length": 8, "type": "float"}]})");
    const std::string db = dir.file("shop.sqlite");
    const CliResult r
        = runCli({"convert", dir.file("data"), "--into", db, "--layout", dir.file("layouts")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
        "Converted: 2 files, 20 records\n  " + other + " -> OTHER: 10 records\n  " + shop
            + " -> Products: 10 records\n");
    bool shell = false;
    const std::string got = sqliteShell(db,
        "SELECT Id, Price, typeof(filler_5) FROM Products ORDER BY Id LIMIT 2;\n"
        "SELECT text_5 FROM OTHER ORDER BY key0 LIMIT 1;\n"
        "SELECT table_name, fields FROM varnok_source ORDER BY table_name;\n",
        &shell);
    if (!shell)
        GTEST_SKIP() << "no sqlite3 shell";
    EXPECT_EQ(got,
        "1|1.25|blob\n2|2.5|blob\nGadget deluxe\nOTHER|keys, inferred from 10 records\n"
        "Products|layout "
            + dir.file("layouts/Shop.json") + "\n");
}

// Every fixture's inferred layout, kept as a file and read back, exports exactly as the
// inference itself does.
class FixtureLayout : public ::testing::TestWithParam<const char*>
{
};

TEST_P(FixtureLayout, WhatFieldsWritesExportsTheSame)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string path = testsupport::fixturePath(GetParam()).string();
    const CliResult layout = runCli({"fields", path, "--json"});
    ASSERT_EQ(layout.status, 0) << layout.err;
    writeText(dir.file("layout.json"), layout.out);
    const CliResult inferred = runCli({"export", path, "--physical", "--format", "jsonl"});
    const CliResult kept = runCli(
        {"export", path, "--physical", "--format", "jsonl", "--layout", dir.file("layout.json")});
    ASSERT_EQ(kept.status, 0) << kept.err;
    EXPECT_EQ(kept.out, inferred.out);
    const CliResult again = runCli({"fields", path, "--json", "--layout", dir.file("layout.json")});
    Json first = Json::parse(layout.out);
    Json second = Json::parse(again.out);
    first.erase("origin");
    second.erase("origin");
    EXPECT_EQ(first, second);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureLayout, ::testing::ValuesIn(LegacyFixtures),
    [](const ::testing::TestParamInfo<const char*>& p) { return fixtureTestName(p.param); });

} // namespace
