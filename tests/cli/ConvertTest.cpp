// convert: a dictionary's directory and a directory of files without one into a SQLite database,
// queried with the sqlite3 shell; typed columns, indexes, varnok_source, and the files that fail
// while the others go on.
#include "CliRun.h"
#include "DictionaryRecords.h"
#include "TypedTable.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <sstream>

using namespace clitest;

namespace {

class TypedConvert : public ::testing::TestWithParam<Storage>
{
};

TEST_P(TypedConvert, ADictionarysTablesBecomeTypedTables)
{
    ScratchDir dir;
    const std::string data = writeTypedDictionary(dir.path(), GetParam(), "data\\typed.btr",
        {testsupport::tableRecord(30, "Outside", "..\\OUT.BTR"),
            testsupport::tableRecord(31, "Missing", "NONE.BTR")});
    ScratchDir out;
    const std::string db = out.file("all.sqlite");
    const CliResult r = runCli({"convert", dir.path(), "--into", db});
    // Tables whose file is not there are listed; every file that is there is converted.
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
        "Converted: 1 file, 3 records\n  " + data
            + " -> Typed: 3 records\nTables whose file is missing: 2 tables\n  table Outside: "
              "its location '..\\OUT.BTR' points outside the dictionary's directory "
            + dir.path()
            + "\n  table Missing: its location 'NONE.BTR' points nowhere: no NONE.BTR in "
            + dir.path() + "\nThe data dictionary: 3 files\n  " + dir.file("FILE.DDF") + "\n  "
            + dir.file("FIELD.DDF") + "\n  " + dir.file("INDEX.DDF") + "\n");
    EXPECT_NE(r.err.find(": 2 values were not valid for their type; they are stored as 0x"),
        std::string::npos)
        << r.err;

    bool shell = false;
    const std::string got = sqliteShell(db,
        "SELECT Id, Name, Small, Price, typeof(Price), Rate, typeof(Rate), Born, At, Cash, Ok, "
        "typeof(Ok), Qty, Old, Label, Code, Count, Seq, Flag, Amount, Money, \"When\", Wide, Wz, "
        "Guid, Quote, hex(filler_127), typeof(filler_127) FROM Typed ORDER BY Id;\n"
        "SELECT table_name, file = '"
            + data
            + "', fields, records, invalid_values, encoding FROM varnok_source;\n"
              "SELECT name FROM sqlite_master WHERE type = 'index' AND sql LIKE '%UNIQUE%';\n",
        &shell);
    if (!shell)
        GTEST_SKIP() << "no sqlite3 shell";
    EXPECT_EQ(got,
        "1|M\xC3\xBCller|-1|-1234.50|text|0.1|real|1999-12-31|02:03:04.05|123.45|1|integer|-120|5."
        "0|"
        "abc|xy|65535|7|1|-1.23|12345.0000|2000-01-01T00:00:00.0000000|A\xC3\xA9|H|"
        "00112233-4455-6677-8899-aabbccddeeff|say \"hi\", ok|DEADBEEF|blob\n"
        "2||0|0x012f450d|text|0.0|real||00:00:00.00|0.00|0|integer|0x3030583132|0.0|abc|xy|0|7|0|"
        "-1.23|0.0000|0001-01-01T00:00:00.0000000|A\xC3\xA9|H|"
        "00112233-4455-6677-8899-aabbccddeeff||DEADBEEF|blob\n"
        "3|Line\nTwo|-1|-1234.50|text|0.1|real|1999-12-31|02:03:04.05|123.45|1|integer|-120|5.0|"
        "abc|xy|65535|7|1|-1.23|12345.0000|2000-01-01T00:00:00.0000000|A\xC3\xA9|H|"
        "00112233-4455-6677-8899-aabbccddeeff|plain|DEADBEEF|blob\n"
        "Typed|1|dictionary "
            + dir.path() + ", table Typed|3|2|CP437\nTyped_key0\n");

    // Again: the table is replaced, not doubled.
    runCli({"convert", dir.path(), "--into", db});
    EXPECT_EQ(
        sqliteShell(db, "SELECT count(*) FROM Typed; SELECT count(*) FROM varnok_source;", &shell),
        "3\n1\n");
}

INSTANTIATE_TEST_SUITE_P(Storages, TypedConvert,
    ::testing::Values(Storage::RecordManager, Storage::Legacy),
    [](const ::testing::TestParamInfo<Storage>& p) { return storageName(p.param); });

TEST(Convert, FilesWithoutADictionaryByTheirKeysAndFailuresGoOn)
{
    ScratchDir dir;
    ScratchDir out;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"), {twoKeyRecord(1, "ONE"), twoKeyRecord(2, "ONE")});
    DefinitionImage v;
    v.recordLength = 6;
    v.pageSize = 1024;
    v.fileFlags = 0x0001;
    v.addKey({SegmentEntry {1, 2, 0x0100, 0, 14}});
    createFile(dir.file("b.dat"), v);
    insertRecords(dir.file("b.dat"), {Bytes {1, 0, 'a', 'b', 'c', 'd', 0xFF, 0xFE}});
    writeText(dir.file("notes.txt"), "not a data file");
    const std::string db = out.file("x.sqlite");
    CliResult r = runCli({"convert", dir.path(), "--into", db});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
        "Converted: 2 files, 3 records\n  " + dir.file("A.BTR") + " -> A: 2 records\n  "
            + dir.file("b.dat") + " -> b: 1 records\nNot record-manager files: 1 file\n  "
            + dir.file("notes.txt")
            + ": not a data file (status 30): too short for a control "
              "record\n");
    EXPECT_EQ(r.err, "");
    bool shell = false;
    const std::string got = sqliteShell(db,
        "SELECT key0, key1, hex(filler_25) = hex(zeroblob(26)) FROM A ORDER BY key0;\n"
        "SELECT key0, hex(filler_3), hex(variable_part) FROM b;\n"
        "SELECT name, sql LIKE '%UNIQUE%' FROM sqlite_master WHERE type = 'index' AND name NOT "
        "LIKE 'sqlite_%' ORDER BY name;\n",
        &shell);
    if (!shell)
        GTEST_SKIP() << "no sqlite3 shell";
    EXPECT_EQ(got, "1|ONE|1\n2|ONE|1\n1|61626364|FFFE\nA_key0|1\nA_key1|0\nb_key0|1\n");

    // Named files: one missing fails, the other is done; a database that is no database.
    r = runCli({"convert", dir.file("NONE.BTR"), dir.file("A.BTR"), "--into", db});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, dir.file("A.BTR") + " -> A: 2 records\n");
    EXPECT_EQ(r.err,
        "varnok-cli: Cannot open " + dir.file("NONE.BTR") + ": file not found (status 12).\n");
    r = runCli({"convert", dir.file("A.BTR"), "--into", dir.file("notes.txt")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open the database " + dir.file("notes.txt")), std::string::npos)
        << r.err;
    // A database inside a directory it reads is refused before anything is read or written.
    r = runCli({"convert", dir.path(), "--into", dir.file("sub/in.sqlite")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        "varnok-cli: The database " + dir.file("sub/in.sqlite") + " would be in " + dir.path()
            + ", which convert reads and never writes into: choose one outside it.\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("sub")));
    EXPECT_EQ(fileText(dir.file("notes.txt")), "not a data file");
    // A Varnok data file is an SQLite database too, and is never written into.
    const Bytes before = statOf(dir.file("A.BTR"));
    r = runCli({"convert", dir.file("b.dat"), "--into", dir.file("A.BTR")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open the database " + dir.file("A.BTR")
                  + ": it is another program's database"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(statOf(dir.file("A.BTR")), before);
    EXPECT_EQ(readRecords(dir.file("A.BTR")).size(), 2U);
}

TEST(Convert, AUniqueKeyWhoseTextRepeatsGetsAPlainIndex)
{
    ScratchDir dir;
    DefinitionImage d;
    d.recordLength = 4;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, 0x0100, 0, 0}});
    createFile(dir.file("S.BTR"), d);
    // "AB  " and "AB\0\0" are two key values, one text.
    insertRecords(dir.file("S.BTR"), {Bytes {'A', 'B', ' ', ' '}, Bytes {'A', 'B', 0, 0}});
    const CliResult r = runCli({"convert", dir.file("S.BTR"), "--into", dir.file("s.sqlite")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(
        r.err.find("Key 0 has no duplicates, but its values as text repeat"), std::string::npos)
        << r.err;
    bool shell = false;
    const std::string got = sqliteShell(dir.file("s.sqlite"),
        "SELECT count(*) FROM S; SELECT sql FROM sqlite_master WHERE name = 'S_key0';", &shell);
    if (shell) {
        EXPECT_EQ(got, "2\nCREATE INDEX \"S_key0\" ON \"S\" (\"key0\")\n");
    }
}

// A directory as users bring it: a dictionary whose tables lead to a good file, a damaged one, one
// of a feature Varnok does not read and one that is gone, and beside them a file the dictionary
// does not name, a program's 4-byte state file and a text file.
struct ApplicationDirectory
{
    ScratchDir dir;
    ApplicationDirectory()
    {
        writeDataFile(dir.file("FILE.DDF"), Storage::RecordManager,
            testsupport::fileDdfDefinition(),
            {testsupport::tableRecord(1, "X$File", "FILE.DDF", 0x10),
                testsupport::tableRecord(2, "Good", "GOOD.BTR"),
                testsupport::tableRecord(3, "Broken", "BROKEN.DAT"),
                testsupport::tableRecord(4, "Keyonly", "KEYONLY.DAT"),
                testsupport::tableRecord(5, "Gone", "GONE.DAT")});
        writeDataFile(dir.file("FIELD.DDF"), Storage::RecordManager,
            testsupport::fieldDdfDefinition(), {testsupport::fieldRecord(1, 2, "Id", 1, 0, 4)});
        writeDataFile(
            dir.file("INDEX.DDF"), Storage::RecordManager, testsupport::indexDdfDefinition(), {});
        createFile(dir.file("GOOD.BTR"), twoKeyDefinition());
        insertRecords(dir.file("GOOD.BTR"), {twoKeyRecord(1, "one"), twoKeyRecord(2, "two")});
        const std::vector<Bytes> records {twoKeyRecord(1, "one"), twoKeyRecord(2, "two")};
        writeDamagedLegacyFile(dir.file("BROKEN.DAT"), twoKeyDefinition(), records);
        writeKeyOnlyLegacyFile(dir.file("KEYONLY.DAT"), twoKeyDefinition(), records);
        createFile(dir.file("EXTRA.BTR"), twoKeyDefinition());
        insertRecords(dir.file("EXTRA.BTR"), {twoKeyRecord(7, "seven")});
        writeText(dir.file("STATE.DAT"), std::string("\x01\x00\x00\x00", 4));
        writeText(dir.file("README.TXT"), "Contracts 1994\r\n");
    }

    // Every file's name, size and time of last change.
    std::string snapshot() const
    {
        std::string text;
        std::vector<std::filesystem::path> paths;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            paths.push_back(entry.path());
        std::sort(paths.begin(), paths.end());
        for (const auto& p : paths) {
            text += p.filename().string() + " " + std::to_string(std::filesystem::file_size(p))
                + " "
                + std::to_string(std::filesystem::last_write_time(p).time_since_epoch().count())
                + "\n";
        }
        return text;
    }
};

// The lines of `text` from the one that starts with `heading` to the next heading.
std::string section(const std::string& text, const std::string& heading)
{
    const size_t at = text.find("\n" + heading);
    if (at == std::string::npos && text.rfind(heading, 0) != 0)
        return "(no " + heading + ")";
    size_t start = at == std::string::npos ? 0 : at + 1;
    size_t end = start;
    do
        end = text.find('\n', end) + 1;
    while (end < text.size() && text.compare(end, 2, "  ") == 0);
    return text.substr(start, end - start);
}

TEST(ConvertDirectory, EveryFileIsAccountedForAndNothingIsWrittenThere)
{
    ApplicationDirectory app;
    const ScratchDir& dir = app.dir;
    const std::string before = app.snapshot();
    ScratchDir out;
    const CliResult r = runCli({"convert", dir.path(), "--into", out.file("app.sqlite")});
    // The damaged file and the one not read are failures; the gone table, the state file and the
    // text file are not.
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(section(r.out, "Converted:"),
        "Converted: 2 files, 3 records\n  " + dir.file("GOOD.BTR") + " -> Good: 2 records\n  "
            + dir.file("EXTRA.BTR") + " -> EXTRA: 1 records\n")
        << r.out;
    EXPECT_EQ(section(r.out, "Damaged")
                  .find("Damaged (varnok-cli recover may rescue their "
                        "records): 1 file\n  "
                      + dir.file("BROKEN.DAT") + ": I/O error (status 2): "),
        0U)
        << r.out;
    EXPECT_EQ(section(r.out, "Not read")
                  .find("Not read (a version or feature Varnok does not "
                        "read): 1 file\n  "
                      + dir.file("KEYONLY.DAT") + ": "),
        0U)
        << r.out;
    EXPECT_NE(section(r.out, "Not read").find("key-only"), std::string::npos) << r.out;
    EXPECT_EQ(section(r.out, "Tables whose file is missing"),
        "Tables whose file is missing: 1 table\n  table Gone: its location 'GONE.DAT' points "
        "nowhere: no GONE.DAT in "
            + dir.path() + "\n");
    const std::string others = section(r.out, "Not record-manager files");
    EXPECT_EQ(others.find("Not record-manager files: 2 files\n  " + dir.file("README.TXT")), 0U)
        << r.out;
    EXPECT_NE(others.find("\n  " + dir.file("STATE.DAT") + ": not a data file (status 30)"),
        std::string::npos)
        << r.out;
    EXPECT_EQ(section(r.out, "The data dictionary"),
        "The data dictionary: 3 files\n  " + dir.file("FILE.DDF") + "\n  " + dir.file("FIELD.DDF")
            + "\n  " + dir.file("INDEX.DDF") + "\n");
    // Each failure also on standard error, in the window's words.
    EXPECT_NE(r.err.find("varnok-cli: Cannot open " + dir.file("BROKEN.DAT")), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("varnok-cli: Cannot open " + dir.file("KEYONLY.DAT")), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("STATE.DAT"), std::string::npos) << r.err;
    EXPECT_EQ(app.snapshot(), before);

    bool shell = false;
    const std::string got = sqliteShell(out.file("app.sqlite"),
        "SELECT table_name, records FROM varnok_source ORDER BY 1;", &shell);
    if (shell) {
        EXPECT_EQ(got, "EXTRA|1\nGood|2\n");
    }

    // tables: the same account, the dictionary's tables first.
    const CliResult t = runCli({"tables", dir.path()});
    EXPECT_EQ(t.status, 1) << t.err;
    EXPECT_EQ(section(t.out, "Read:"),
        "Read: 1 file, 2 records\n  " + dir.file("GOOD.BTR") + " (Good): 2 records\n")
        << t.out;
    EXPECT_EQ(section(t.out, "Record-manager files the dictionary does not name"),
        "Record-manager files the dictionary does not name: 1 file\n  " + dir.file("EXTRA.BTR")
            + ": 1 records\n");
    EXPECT_NE(section(t.out, "Damaged").find(dir.file("BROKEN.DAT") + " (Broken): I/O error"),
        std::string::npos)
        << t.out;
    EXPECT_NE(section(t.out, "Not record-manager files").find("2 files"), std::string::npos);
    const CliResult j = runCli({"tables", dir.path(), "--json"});
    std::string outcomes;
    std::istringstream lines(j.out);
    for (std::string line; std::getline(lines, line);) {
        const auto o = nlohmann::json::parse(line);
        outcomes += (o["table"].is_null() ? std::string("-") : o["table"].get<std::string>()) + ":"
            + o["outcome"].get<std::string>() + " ";
    }
    EXPECT_EQ(outcomes,
        "Good:read Broken:damaged Keyonly:not read Gone:missing -:dictionary -:dictionary "
        "-:dictionary -:not in the dictionary -:not a record-manager file -:not a record-manager "
        "file ");
    EXPECT_EQ(app.snapshot(), before);
}

TEST(ConvertDirectory, ADictionaryThatDoesNotReadLeavesTheFilesToTheirKeys)
{
    ApplicationDirectory app;
    const ScratchDir& dir = app.dir;
    writeText(dir.file("FIELD.DDF"), std::string(3000, '\x07'));
    ScratchDir out;
    const CliResult r = runCli({"convert", dir.path(), "--into", out.file("app.sqlite")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("varnok-cli: Cannot read the dictionary file " + dir.file("FIELD.DDF")),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("The files are converted by their keys."), std::string::npos) << r.err;
    // Every record-manager file by its keys, the dictionary's readable ones too.
    const std::string converted = section(r.out, "Converted:");
    EXPECT_EQ(converted.find("Converted: 4 files, 8 records\n"), 0U) << r.out;
    for (const char* name : {"EXTRA.BTR -> EXTRA: 1", "FILE.DDF -> FILE: 5", "GOOD.BTR -> GOOD: 2",
             "INDEX.DDF -> INDEX: 0"})
        EXPECT_NE(converted.find(name), std::string::npos) << name << "\n" << r.out;
    EXPECT_NE(
        section(r.out, "Not record-manager files").find(dir.file("FIELD.DDF")), std::string::npos)
        << r.out;
    EXPECT_EQ(section(r.out, "Tables whose file is missing"), "(no Tables whose file is missing)");
}

} // namespace
