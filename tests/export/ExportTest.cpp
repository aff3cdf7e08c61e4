// exportFile against data files made through the embedded record manager: every format read back
// (CSV and JSON Lines parsed, the SQL script and the database run through SQLite), every order,
// progress and cancel, and the failures that must leave the destination as it was.
#include "Export.h"
#include "ScratchDir.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using testsupport::Bytes;
using testsupport::ScratchDir;

namespace {

namespace fs = std::filesystem;

// The test file's records: a name (string, key 0 with duplicates), an id (integer, key 1) and a
// date, which every seventh record holds with month 13.
constexpr uint16_t RecordLength = 16;

Bytes record(int id)
{
    Bytes r(RecordLength, 0);
    const std::string name = "N" + std::to_string(id % 50);
    std::copy(name.begin(), name.end(), r.begin());
    std::fill(r.begin() + int(name.size()), r.begin() + 8, ' ');
    for (int i = 0; i < 4; ++i)
        r[size_t(8 + i)] = uint8_t(uint32_t(id) >> (8 * i));
    r[12] = uint8_t(1 + id % 28);
    r[13] = id % 7 == 3 ? 13 : uint8_t(1 + id % 12);
    r[14] = uint8_t(2001 & 0xFF);
    r[15] = uint8_t(2001 >> 8);
    return r;
}

// Ids in an order of their own, so that physical order differs from every key's.
std::vector<int> insertionOrder(int count)
{
    std::vector<int> ids;
    for (int i = 0; i < count; ++i)
        ids.push_back((i * 37 + 11) % count);
    return ids;
}

std::string makeFileOf(const ScratchDir& dir, const std::vector<Bytes>& records)
{
    const std::string path = dir.file("PEOPLE.DAT");
    testsupport::DefinitionImage d;
    d.recordLength = RecordLength;
    d.pageSize = 1024;
    d.addKey(
        {{1, 8, btr::keyflag::Duplicates | btr::keyflag::ExtendedType, 0, btr::exttype::String}});
    d.addKey({{9, 4, btr::keyflag::ExtendedType, 0, btr::exttype::Integer}});
    testsupport::createFile(path, d);
    testsupport::insertRecords(path, records);
    return path;
}

std::string makeFile(const ScratchDir& dir, int count)
{
    std::vector<Bytes> records;
    for (int id : insertionOrder(count))
        records.push_back(record(id));
    return makeFileOf(dir, records);
}

fields::Layout layout()
{
    fields::Layout l;
    l.recordLength = RecordLength;
    l.origin = "test";
    l.fields.push_back({"name", 0, 8, {btr::exttype::String, 0, false}, fields::Source::Key, {}});
    l.fields.push_back({"id", 8, 4, {btr::exttype::Integer, 0, false}, fields::Source::Key, {}});
    l.fields.push_back({"born", 12, 4, {btr::exttype::Date, 0, false}, fields::Source::Key, {}});
    fields::completeLayout(l);
    return l;
}

std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Everything in the directory but the data file: what an export left there.
std::vector<std::string> leftovers(const ScratchDir& dir)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        const std::string name = e.path().filename().string();
        if (name != "PEOPLE.DAT")
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Database
{
public:
    explicit Database(const std::string& path)
    {
        EXPECT_EQ(sqlite3_open_v2(
                      path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
            SQLITE_OK);
    }
    ~Database() { sqlite3_close_v2(db_); }

    bool exec(const std::string& sql)
    {
        char* message = nullptr;
        const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message);
        if (message) {
            ADD_FAILURE() << message;
            sqlite3_free(message);
        }
        return rc == SQLITE_OK;
    }

    // The first column of every row of `sql`, as text.
    std::vector<std::string> column(const std::string& sql)
    {
        std::vector<std::string> values;
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db_);
        while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
            const auto* text = sqlite3_column_text(stmt, 0);
            values.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
        }
        sqlite3_finalize(stmt);
        return values;
    }

private:
    sqlite3* db_ = nullptr;
};

struct Exported
{
    exporting::Result result;
    std::string path;
};

Exported exportAs(const ScratchDir& dir, const std::string& data, exporting::Format format,
    const exporting::Order& order = {}, const exporting::ProgressFn& progress = {},
    const std::string& name = "out")
{
    TWinBtr file;
    EXPECT_EQ(file.Open(data.c_str(), "", btr::mode::ReadOnly), 0);
    fields::TextDecoder decoder("CP437");
    exporting::Settings settings;
    settings.format = format;
    Exported e;
    e.path = dir.file(name);
    e.result
        = exporting::exportFile(file, data, layout(), decoder, order, settings, e.path, progress);
    file.Close();
    return e;
}

// The ids an export holds, in its order, read back from any format.
std::vector<int> idsOf(const Exported& e, exporting::Format format)
{
    std::vector<int> ids;
    switch (format) {
    case exporting::Format::Csv: {
        const std::vector<std::string> rows = lines(readText(e.path));
        for (size_t i = 1; i < rows.size(); ++i)
            ids.push_back(std::stoi(rows[i].substr(rows[i].find(',') + 1)));
        break;
    }
    case exporting::Format::JsonLines:
        for (const std::string& line : lines(readText(e.path)))
            ids.push_back(nlohmann::json::parse(line).at("id").get<int>());
        break;
    case exporting::Format::Sql: {
        Database db(":memory:");
        EXPECT_TRUE(db.exec(readText(e.path)));
        for (const std::string& id : db.column("SELECT id FROM PEOPLE ORDER BY rowid"))
            ids.push_back(std::stoi(id));
        break;
    }
    case exporting::Format::Sqlite: {
        Database db(e.path);
        for (const std::string& id : db.column("SELECT id FROM PEOPLE ORDER BY rowid"))
            ids.push_back(std::stoi(id));
        break;
    }
    }
    return ids;
}

std::vector<int> sortedIds(int count, bool descending)
{
    std::vector<int> ids(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        ids[size_t(i)] = descending ? count - 1 - i : i;
    return ids;
}

constexpr int Count = 200;
constexpr uint64_t InvalidCount = (Count + 3) / 7; // ids 3, 10, 17, ... below Count

class EveryFormat : public ::testing::TestWithParam<exporting::Format>
{
};

TEST_P(EveryFormat, WritesEveryRecordAndCountsTheInvalidDates)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, Count);
    const Exported e = exportAs(dir, data, GetParam());
    ASSERT_TRUE(e.result.ok) << e.result.error;
    EXPECT_FALSE(e.result.cancelled);
    EXPECT_EQ(e.result.records, uint64_t(Count));
    EXPECT_EQ(e.result.invalidValues, InvalidCount);
    EXPECT_EQ(idsOf(e, GetParam()), insertionOrder(Count));
    EXPECT_EQ(leftovers(dir), std::vector<std::string> {"out"});
}

INSTANTIATE_TEST_SUITE_P(Export, EveryFormat,
    ::testing::Values(exporting::Format::Csv, exporting::Format::JsonLines, exporting::Format::Sql,
        exporting::Format::Sqlite),
    [](const auto& param) {
        switch (param.param) {
        case exporting::Format::Csv:
            return "Csv";
        case exporting::Format::JsonLines:
            return "JsonLines";
        case exporting::Format::Sql:
            return "Sql";
        case exporting::Format::Sqlite:
            return "Sqlite";
        }
        return "Unknown";
    });

TEST(ExportValues, CsvAndJsonLinesWriteEachTypeAsItIs)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, 11);
    const Exported csv = exportAs(dir, data, exporting::Format::Csv, {1, false});
    ASSERT_TRUE(csv.result.ok) << csv.result.error;
    const std::vector<std::string> rows = lines(readText(csv.path));
    ASSERT_EQ(rows.size(), 12U);
    EXPECT_EQ(rows[0], "name,id,born\r");
    EXPECT_EQ(rows[1], "N0,0,2001-01-01\r");
    EXPECT_EQ(rows[4],
        "N3,3,0x04"
        "0dd107\r"); // month 13: the date's bytes in hex
    const Exported jsonl
        = exportAs(dir, data, exporting::Format::JsonLines, {1, false}, {}, "out.jsonl");
    ASSERT_TRUE(jsonl.result.ok) << jsonl.result.error;
    EXPECT_EQ(lines(readText(jsonl.path)).at(2), R"({"name":"N2","id":2,"born":"2001-03-03"})");
}

// Found by the export fuzz target: a NUL inside a string ended the script's statement early.
TEST(ExportValues, AStringWithANulInsideKeepsTheScriptWhole)
{
    ScratchDir dir;
    Bytes r = record(1);
    const std::string name("ab\0cd'", 6);
    std::copy(name.begin(), name.end(), r.begin());
    const std::string data = makeFileOf(dir, {r});
    const Exported sqlite = exportAs(dir, data, exporting::Format::Sql);
    ASSERT_TRUE(sqlite.result.ok) << sqlite.result.error;
    Database db(":memory:");
    EXPECT_TRUE(db.exec(readText(sqlite.path)));
    EXPECT_EQ(db.column("SELECT hex(CAST(name AS BLOB)) FROM PEOPLE"),
        std::vector<std::string> {"616200636427"});

    TWinBtr file;
    ASSERT_EQ(file.Open(data.c_str(), "", btr::mode::ReadOnly), 0);
    fields::TextDecoder decoder("CP437");
    exporting::Settings settings;
    settings.format = exporting::Format::Sql;
    settings.dialect = exporting::Dialect::Postgresql;
    ASSERT_TRUE(
        exporting::exportFile(file, data, layout(), decoder, {}, settings, dir.file("pg")).ok);
    // PostgreSQL's text holds no NUL: the rest of the value stays.
    EXPECT_NE(readText(dir.file("pg")).find("VALUES ('abcd''', 1, "), std::string::npos)
        << readText(dir.file("pg"));
}

TEST(ExportDatabase, HoldsTheTableItsIndexesAndWhereItCameFrom)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, Count);
    const Exported e = exportAs(dir, data, exporting::Format::Sqlite);
    ASSERT_TRUE(e.result.ok) << e.result.error;
    Database db(e.path);
    EXPECT_EQ(db.column("SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = "
                        "'PEOPLE' ORDER BY name"),
        (std::vector<std::string> {"PEOPLE_key0", "PEOPLE_key1"}));
    EXPECT_EQ(
        db.column("SELECT typeof(id) FROM PEOPLE LIMIT 1"), std::vector<std::string> {"integer"});
    EXPECT_EQ(db.column("SELECT table_name || ' ' || file || ' ' || records || ' ' || "
                        "invalid_values FROM varnok_source"),
        std::vector<std::string> {"PEOPLE " + data + " 200 " + std::to_string(InvalidCount)});
    // A key without duplicates makes a unique index.
    EXPECT_EQ(db.column("SELECT sql FROM sqlite_master WHERE name = 'PEOPLE_key1'"),
        std::vector<std::string> {R"(CREATE UNIQUE INDEX "PEOPLE_key1" ON "PEOPLE" ("id"))"});
}

struct OrderCase
{
    const char* name;
    exporting::Order order;
    bool sorted;
    bool descending;
};

class ExportOrder : public ::testing::TestWithParam<std::tuple<OrderCase, exporting::Format>>
{
};

TEST_P(ExportOrder, FollowsTheChosenKeyAndDirection)
{
    const auto& [c, format] = GetParam();
    ScratchDir dir;
    const std::string data = makeFile(dir, Count);
    const Exported e = exportAs(dir, data, format, c.order);
    ASSERT_TRUE(e.result.ok) << e.result.error;
    std::vector<int> expected = c.sorted ? sortedIds(Count, c.descending) : insertionOrder(Count);
    if (!c.sorted && c.descending)
        std::reverse(expected.begin(), expected.end());
    EXPECT_EQ(idsOf(e, format), expected);
}

INSTANTIATE_TEST_SUITE_P(Export, ExportOrder,
    ::testing::Combine(::testing::Values(OrderCase {"Physical", {-1, false}, false, false},
                           OrderCase {"PhysicalBackwards", {-1, true}, false, true},
                           OrderCase {"Key1", {1, false}, true, false},
                           OrderCase {"Key1Descending", {1, true}, true, true}),
        ::testing::Values(exporting::Format::Csv, exporting::Format::Sqlite)),
    [](const auto& param) {
        return std::string(std::get<0>(param.param).name)
            + (std::get<1>(param.param) == exporting::Format::Csv ? "Csv" : "Sqlite");
    });

TEST(ExportOrder, ByANameKeyKeepsEqualNamesInTheirOrder)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, 100);
    const Exported e = exportAs(dir, data, exporting::Format::JsonLines, {0, false});
    ASSERT_TRUE(e.result.ok) << e.result.error;
    std::vector<std::string> names;
    for (const std::string& line : lines(readText(e.path)))
        names.push_back(nlohmann::json::parse(line).at("name").get<std::string>());
    ASSERT_EQ(names.size(), 100U);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

TEST(ExportOrder, AKeyTheFileDoesNotHaveIsRefusedAndWritesNothing)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, 10);
    const Exported e = exportAs(dir, data, exporting::Format::Csv, {5, false});
    EXPECT_FALSE(e.result.ok);
    EXPECT_NE(e.result.error.find("Cannot read " + data + ": "), std::string::npos)
        << e.result.error;
    EXPECT_NE(e.result.error.find("(status 6)"), std::string::npos) << e.result.error;
    EXPECT_TRUE(leftovers(dir).empty());
}

class ExportProgress : public ::testing::TestWithParam<exporting::Format>
{
};

TEST_P(ExportProgress, ClimbsToTheTotalAndACancelLeavesNothing)
{
    constexpr int Large = int(exporting::ProgressEvery) * 3 + 100;
    ScratchDir dir;
    const std::string data = makeFile(dir, Large);
    std::vector<std::pair<uint64_t, uint64_t>> calls;
    const Exported done = exportAs(dir, data, GetParam(), {}, [&](uint64_t d, uint64_t t) {
        calls.emplace_back(d, t);
        return true;
    });
    ASSERT_TRUE(done.result.ok) << done.result.error;
    ASSERT_GE(calls.size(), 4U);
    for (size_t i = 1; i < calls.size(); ++i)
        EXPECT_GT(calls[i].first, calls[i - 1].first);
    for (const auto& call : calls)
        EXPECT_EQ(call.second, uint64_t(Large));
    EXPECT_EQ(calls.back().first, uint64_t(Large));

    // A cancel after the second call: the file written before stays exactly as it was.
    const std::string before = readText(done.path);
    int seen = 0;
    const Exported cancelled = exportAs(
        dir, data, GetParam(), {1, true}, [&](uint64_t, uint64_t) { return ++seen < 2; });
    EXPECT_FALSE(cancelled.result.ok);
    EXPECT_TRUE(cancelled.result.cancelled);
    EXPECT_EQ(cancelled.result.records, 2 * exporting::ProgressEvery);
    EXPECT_EQ(readText(done.path), before);
    EXPECT_EQ(leftovers(dir), std::vector<std::string> {"out"});
}

INSTANTIATE_TEST_SUITE_P(Export, ExportProgress,
    ::testing::Values(exporting::Format::Csv, exporting::Format::Sqlite),
    [](const auto& param) { return param.param == exporting::Format::Csv ? "Csv" : "Sqlite"; });

TEST(ExportProgress, ACancelAtTheLastCallStillWritesNothing)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, 10);
    const Exported e = exportAs(dir, data, exporting::Format::Sql, {}, [](uint64_t d, uint64_t t) {
        EXPECT_EQ(d, 10U);
        EXPECT_EQ(t, 10U);
        return false;
    });
    EXPECT_TRUE(e.result.cancelled);
    EXPECT_TRUE(leftovers(dir).empty());
}

class ExportFailure : public ::testing::TestWithParam<exporting::Format>
{
};

TEST_P(ExportFailure, AMissingDirectoryIsToldAndNothingIsWritten)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, 10);
    const Exported e = exportAs(dir, data, GetParam(), {}, {}, "missing/out");
    EXPECT_FALSE(e.result.ok);
    EXPECT_FALSE(e.result.cancelled);
    EXPECT_EQ(e.result.error,
        "Cannot create " + dir.file("missing/out") + ": No such file or directory.");
    EXPECT_TRUE(leftovers(dir).empty());
}

TEST_P(ExportFailure, ADirectoryAtThePathStaysAndTheTemporaryFileGoes)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, 10);
    fs::create_directory(dir.path("out"));
    std::ofstream(dir.file("out/kept")) << "kept";
    const Exported e = exportAs(dir, data, GetParam());
    EXPECT_FALSE(e.result.ok);
    EXPECT_NE(e.result.error.find("Cannot write " + e.path + ": "), std::string::npos)
        << e.result.error;
    EXPECT_EQ(leftovers(dir), std::vector<std::string> {"out"});
    EXPECT_EQ(readText(dir.file("out/kept")), "kept");
}

TEST_P(ExportFailure, ADirectoryThatCannotBeWrittenIsTold)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into any directory";
    ScratchDir dir;
    const std::string data = makeFile(dir, 10);
    fs::create_directory(dir.path("locked"));
    fs::permissions(dir.path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    const Exported e = exportAs(dir, data, GetParam(), {}, {}, "locked/out");
    fs::permissions(dir.path("locked"), fs::perms::owner_all);
    EXPECT_FALSE(e.result.ok);
    EXPECT_EQ(e.result.error, "Cannot create " + e.path + ": Permission denied.");
    EXPECT_TRUE(fs::is_empty(dir.path("locked")));
}

INSTANTIATE_TEST_SUITE_P(Export, ExportFailure,
    ::testing::Values(exporting::Format::JsonLines, exporting::Format::Sqlite),
    [](const auto& param) {
        return param.param == exporting::Format::JsonLines ? "JsonLines" : "Sqlite";
    });

TEST(ExportFailure, AFileAlreadyThereIsReplacedOnlyWhenTheExportIsComplete)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, 10);
    std::ofstream(dir.file("out")) << "old";
    const Exported e = exportAs(dir, data, exporting::Format::Csv);
    ASSERT_TRUE(e.result.ok) << e.result.error;
    EXPECT_EQ(lines(readText(e.path)).size(), 11U);
}

TEST(ExportFailure, AFileThatIsNotOpenIsToldWithItsStatus)
{
    ScratchDir dir;
    TWinBtr file;
    fields::TextDecoder decoder("CP437");
    const exporting::Result r
        = exporting::exportFile(file, "GONE.DAT", layout(), decoder, {}, {}, dir.file("out"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error.rfind("Cannot read GONE.DAT: ", 0), 0U) << r.error;
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(ExportSettings, ADelimiterThatCannotSeparateIsRefused)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, 3);
    for (const char delimiter : {'"', '\n', '\r'}) {
        TWinBtr file;
        ASSERT_EQ(file.Open(data.c_str(), "", btr::mode::ReadOnly), 0);
        fields::TextDecoder decoder("CP437");
        exporting::Settings settings;
        settings.delimiter = delimiter;
        const exporting::Result r
            = exporting::exportFile(file, data, layout(), decoder, {}, settings, dir.file("out"));
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.error.find("delimiter"), std::string::npos);
    }
    EXPECT_TRUE(leftovers(dir).empty());
}

TEST(ExportSettings, TheTableNameAndCsvOptionsAreTheCallers)
{
    ScratchDir dir;
    const std::string data = makeFile(dir, 4);
    TWinBtr file;
    ASSERT_EQ(file.Open(data.c_str(), "", btr::mode::ReadOnly), 0);
    fields::TextDecoder decoder("CP437");
    exporting::Settings settings;
    settings.format = exporting::Format::Sql;
    settings.dialect = exporting::Dialect::Postgresql;
    settings.table = "people of \"1990\"";
    ASSERT_TRUE(
        exporting::exportFile(file, data, layout(), decoder, {1}, settings, dir.file("s")).ok);
    const std::string script = readText(dir.file("s"));
    EXPECT_EQ(
        script.rfind(R"(CREATE TABLE "people of ""1990""" ("name" TEXT, "id" BIGINT, )", 0), 0U)
        << script;
    // A date column is text: its invalid value stays there as its hex.
    EXPECT_NE(script.find("VALUES ('N3', 3, '0x040dd107');"), std::string::npos) << script;

    settings = {};
    settings.delimiter = ';';
    settings.header = false;
    ASSERT_TRUE(
        exporting::exportFile(file, data, layout(), decoder, {1}, settings, dir.file("c")).ok);
    EXPECT_EQ(lines(readText(dir.file("c"))).at(0), "N0;0;2001-01-01\r");
}

} // namespace
