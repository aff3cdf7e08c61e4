// save and load: the sequential format byte for byte in each order, every fixture through save,
// clone and load, and the records a load refuses, stops at or counts.
#include "CliRun.h"
#include "DefinitionLayout.h"
#include "RequireFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace clitest;

namespace {

std::string sequentialOf(const std::vector<Bytes>& records)
{
    std::string text;
    for (const Bytes& r : records)
        text += std::to_string(r.size()) + "," + std::string(r.begin(), r.end()) + "\r\n";
    return text + "\x1A";
}

// Three records whose order differs on each key and in insertion order.
struct ThreeRecords
{
    Bytes b = twoKeyRecord(20, "ALPHA", 'b');
    Bytes c = twoKeyRecord(30, "\r\n\x1A", 'c'); // bytes the format must carry by count
    Bytes a = twoKeyRecord(10, "GAMMA", 'a');
};

TEST(Save, WritesTheFormatInKeyZeroOrderByDefaultAndInTheOrderAsked)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    const ThreeRecords t;
    insertRecords(dir.file("A.BTR"), {t.b, t.c, t.a});

    struct Order
    {
        std::vector<std::string> options;
        std::vector<Bytes> records;
    };
    for (const Order& order : {Order {{}, {t.a, t.b, t.c}}, Order {{"--key", "1"}, {t.c, t.b, t.a}},
             Order {{"--physical"}, {t.b, t.c, t.a}}}) {
        std::vector<std::string> args {"save", dir.file("A.BTR"), dir.file("A.SEQ")};
        args.insert(args.end(), order.options.begin(), order.options.end());
        const CliResult r = runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(fileText(dir.file("A.SEQ")), sequentialOf(order.records));
    }
    // Standard output takes the same bytes.
    const CliResult r = runCli({"save", dir.file("A.BTR")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, sequentialOf({t.a, t.b, t.c}));
}

TEST(Save, AFileWithoutKeysInStepOrderAndVariableRecordsWhole)
{
    ScratchDir dir;
    DefinitionImage d;
    d.recordLength = 6;
    d.pageSize = 512;
    d.fileFlags = btr::fileflag::VariableLength;
    createFile(dir.file("V.BTR"), d);
    std::vector<Bytes> records;
    for (size_t n : {6U, 600U, 6000U, 60000U})
        records.push_back(Bytes(n, uint8_t(n)));
    insertRecords(dir.file("V.BTR"), records);
    const CliResult r = runCli({"save", dir.file("V.BTR"), "-"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, sequentialOf(records));
}

TEST(Save, AKeyTheFileDoesNotHaveWritesNoFile)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"), {twoKeyRecord(1, "X")});
    const CliResult r = runCli({"save", "--key", "5", dir.file("A.BTR"), dir.file("A.SEQ")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot read " + dir.file("A.BTR") + ": invalid key number (status 6)."),
        std::string::npos)
        << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("A.SEQ")));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Save, AnOutputThatCannotBeWrittenIsAFailure)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"), {twoKeyRecord(1, "X")});
    const CliResult r = runCli({"save", dir.file("A.BTR"), dir.file("nodir/A.SEQ")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find("Cannot create " + dir.file("nodir/A.SEQ") + ": No such file or directory"),
        std::string::npos)
        << r.err;
}

class SaveLoadFixture : public testing::TestWithParam<const char*>
{
};

// save, clone, load: the clone holds the same records in step order and on key 0, and saving it
// again gives the same bytes.
TEST_P(SaveLoadFixture, GivesTheSameRecords)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string source = testsupport::fixturePath(GetParam()).string();
    const std::string clone = dir.file("CLONE");
    ASSERT_EQ(runCli({"save", source, dir.file("S.SEQ")}).status, 0);
    ASSERT_EQ(runCli({"clone", source, clone}).status, 0);
    const CliResult load = runCli({"load", clone, dir.file("S.SEQ")});
    ASSERT_EQ(load.status, 0) << load.err;
    EXPECT_EQ(readRecords(clone, -1).size(), readRecords(source, -1).size());
    EXPECT_TRUE(readRecords(clone, 0) == readRecords(source, 0)) << "key 0 order differs";
    ASSERT_EQ(runCli({"save", clone, dir.file("T.SEQ")}).status, 0);
    EXPECT_EQ(fileText(dir.file("T.SEQ")), fileText(dir.file("S.SEQ")));
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, SaveLoadFixture, testing::ValuesIn(LegacyFixtures),
    [](const auto& param) { return fixtureTestName(param.param); });

TEST(Load, FromStandardInputWithABlankForTheCommaAndNoEndMark)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    const ThreeRecords t;
    std::string input;
    for (const Bytes* r : {&t.a, &t.b})
        input += "50 " + std::string(r->begin(), r->end()) + "\r\n";
    const CliResult r = runCli({"load", dir.file("A.BTR")}, input);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readRecords(dir.file("A.BTR"), -1), (std::vector<Bytes> {t.a, t.b}));
}

TEST(Load, AMalformedFileStopsAtItsFirstBadRecordAndKeepsTheRecordsBefore)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    const ThreeRecords t;
    std::string text = sequentialOf({t.a, t.b, t.c});
    text.resize(2 * 55 + 20); // cut inside the third record
    writeText(dir.file("CUT.SEQ"), text);
    const CliResult r = runCli({"load", dir.file("A.BTR"), dir.file("CUT.SEQ")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        "varnok-cli: Cannot load " + dir.file("CUT.SEQ")
            + ": record 3 at byte 110: the file ends after 17 of the record's 50 bytes. 2 records "
              "copied.\n");
    EXPECT_EQ(readRecords(dir.file("A.BTR"), -1), (std::vector<Bytes> {t.a, t.b}));
}

TEST(Load, ARefusedRecordStopsTheLoadWithItsNumberUnlessKeepGoing)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    const ThreeRecords t;
    // The second record repeats key 0 of the first; the third is too short for the file.
    writeText(dir.file("IN.SEQ"),
        sequentialOf({t.a, t.a, Bytes(t.b.begin(), t.b.begin() + 40), t.b, t.c}));

    CliResult r = runCli({"load", dir.file("A.BTR"), dir.file("IN.SEQ")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        "varnok-cli: Cannot insert into " + dir.file("A.BTR")
            + ": duplicate key value (status 5); record 2 at byte 55 of " + dir.file("IN.SEQ")
            + ". 1 records copied.\n");
    EXPECT_EQ(readRecords(dir.file("A.BTR"), -1).size(), 1U);

    createFile(dir.file("A.BTR"), twoKeyDefinition());
    r = runCli({"load", "--keep-going", dir.file("A.BTR"), dir.file("IN.SEQ")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("refused record 2 at byte 55 of " + dir.file("IN.SEQ")
                  + ": duplicate key value (status 5)."),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("refused record 3 at byte 110 of " + dir.file("IN.SEQ")
                  + ": data buffer too short (status 22)."),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("2 records of " + dir.file("IN.SEQ") + " were refused by "
                  + dir.file("A.BTR") + "; 3 records loaded."),
        std::string::npos)
        << r.err;
    EXPECT_EQ(readRecords(dir.file("A.BTR"), -1), (std::vector<Bytes> {t.a, t.b, t.c}));
}

TEST(Load, IntoAFileThatIsNotThereOrFromAnInputThatIsNot)
{
    ScratchDir dir;
    writeText(dir.file("IN.SEQ"), "1,a\r\n");
    CliResult r = runCli({"load", dir.file("NONE.BTR"), dir.file("IN.SEQ")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open " + dir.file("NONE.BTR") + ": file not found (status 12)."),
        std::string::npos)
        << r.err;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    r = runCli({"load", dir.file("A.BTR"), dir.file("NONE.SEQ")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open " + dir.file("NONE.SEQ") + ": No such file or directory."),
        std::string::npos)
        << r.err;
    r = runCli({"load", dir.file("A.BTR"), dir.path()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Is a directory"), std::string::npos) << r.err;
}

TEST(Load, ALegacyFileIsNeverWritten)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string legacy = testsupport::fixturePath("MBBSEMU.DAT").string();
    const std::string before = fileText(legacy);
    ASSERT_EQ(runCli({"save", legacy, dir.file("S.SEQ")}).status, 0);
    const CliResult r = runCli({"load", legacy, dir.file("S.SEQ")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("operation not allowed (status 41)"), std::string::npos) << r.err;
    EXPECT_EQ(fileText(legacy), before);
}

TEST(Progress, ShownOnATerminalOnlyAndSilencedByQuiet)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    std::vector<Bytes> records;
    for (int i = 0; i < 30000; ++i)
        records.push_back(twoKeyRecord(i, "P"));
    insertRecords(dir.file("A.BTR"), records);

    const CliResult piped = runCli({"save", dir.file("A.BTR"), dir.file("A.SEQ")});
    EXPECT_EQ(piped.err, "");
    const CliResult quiet
        = runCli({"--quiet", "save", dir.file("A.BTR"), dir.file("A.SEQ")}, {}, true);
    EXPECT_EQ(quiet.err, "");
    const CliResult quietAfter
        = runCli({"save", dir.file("A.BTR"), dir.file("A.SEQ"), "-q"}, {}, true);
    EXPECT_EQ(quietAfter.err, "");
    // On a terminal the count is drawn (the first time it is looked at, then a few times a
    // second) and cleared at the end.
    const CliResult shown = runCli({"save", dir.file("A.BTR"), dir.file("A.SEQ")}, {}, true);
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(
        shown.err.rfind("\rsave " + dir.file("A.BTR") + ": 1024 of 30000 records (3%), ", 0), 0U)
        << shown.err;
    EXPECT_TRUE(shown.err.ends_with("\r\x1b[K")) << shown.err;
}

} // namespace
