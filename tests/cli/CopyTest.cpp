// clone and copy: definitions taken whole, records copied in every key's order, files added to,
// directories of files, and what is refused (usage, a file into itself, two sources of one name).
#include "CliRun.h"
#include "RequireFixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace clitest;

namespace {

std::vector<Bytes> someRecords(int first, int count)
{
    std::vector<Bytes> records;
    for (int i = first; i < first + count; ++i) {
        // Built by appending: GCC 12 at -O3 reports a false -Wrestrict on a literal +
        // std::to_string inlined here.
        std::string name("N");
        name.append(std::to_string(i % 7));
        records.push_back(twoKeyRecord((i * 37) % 1000, name, uint8_t(i)));
    }
    return records;
}

// The copy reads the source on key 0: the copy holds the same records in that order, and the same
// records in all (its Step order and the order of duplicates on other keys are its insertion
// order).
void expectSameRecords(const std::string& copy, const std::string& source)
{
    const std::vector<Bytes> copied = readRecords(copy, 0);
    EXPECT_TRUE(copied == readRecords(source, 0)) << copy << " differs on key 0";
    std::vector<Bytes> a = readRecords(copy, -1);
    std::vector<Bytes> b = readRecords(source, -1);
    std::sort(a.begin(), a.end(), testsupport::BytesLess());
    std::sort(b.begin(), b.end(), testsupport::BytesLess());
    EXPECT_EQ(a.size(), b.size());
    EXPECT_TRUE(a == b) << copy << " holds other records";
}

TEST(Clone, AnEmptyFileWithTheWholeDefinition)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"), someRecords(0, 10));
    const CliResult r = runCli({"clone", dir.file("A.BTR"), dir.file("B.BTR")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(withoutLiveFigures(statOf(dir.file("B.BTR"))),
        withoutLiveFigures(statOf(dir.file("A.BTR"))));
    EXPECT_TRUE(readRecords(dir.file("B.BTR")).empty());
}

TEST(Clone, AnExistingDestinationIsKeptUnlessReplaceIsGiven)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    createFile(dir.file("B.BTR"), twoKeyDefinition());
    insertRecords(dir.file("B.BTR"), someRecords(0, 3));
    CliResult r = runCli({"clone", dir.file("A.BTR"), dir.file("B.BTR")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        "varnok-cli: Cannot create " + dir.file("B.BTR") + ": file already exists (status 59).\n");
    EXPECT_EQ(readRecords(dir.file("B.BTR")).size(), 3U);
    r = runCli({"clone", "--replace", dir.file("A.BTR"), dir.file("B.BTR")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(readRecords(dir.file("B.BTR")).empty());
}

TEST(Clone, ANameTooLongForTheRecordManagerIsRefused)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    const std::string longName = dir.file(std::string(300, 'x'));
    const CliResult r = runCli({"clone", dir.file("A.BTR"), longName});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("invalid file name (status 11)"), std::string::npos) << r.err;
}

TEST(Copy, ANewDestinationGetsTheDefinitionAndEveryRecordInEveryOrder)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"), someRecords(0, 500));
    const CliResult r = runCli({"copy", dir.file("A.BTR"), dir.file("B.BTR")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(withoutLiveFigures(statOf(dir.file("B.BTR"))),
        withoutLiveFigures(statOf(dir.file("A.BTR"))));
    expectSameRecords(dir.file("B.BTR"), dir.file("A.BTR"));
}

TEST(Copy, AnExistingDestinationIsAddedTo)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"), someRecords(0, 20));
    createFile(dir.file("B.BTR"), twoKeyDefinition());
    std::vector<Bytes> before;
    for (int i = 0; i < 5; ++i)
        before.push_back(twoKeyRecord(5000 + i, "OLD"));
    insertRecords(dir.file("B.BTR"), before);
    const CliResult r = runCli({"copy", dir.file("A.BTR"), dir.file("B.BTR")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<Bytes> all = readRecords(dir.file("B.BTR"), -1);
    ASSERT_EQ(all.size(), 25U);
    EXPECT_EQ(std::vector<Bytes>(all.begin(), all.begin() + 5), before);
}

TEST(Copy, AStopSaysWhereAndHowManyRecordsTheDestinationGained)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(
        dir.file("A.BTR"), {twoKeyRecord(1, "A"), twoKeyRecord(2, "B"), twoKeyRecord(3, "C")});
    createFile(dir.file("B.BTR"), twoKeyDefinition());
    insertRecords(dir.file("B.BTR"), {twoKeyRecord(3, "X")});
    const CliResult r = runCli({"copy", dir.file("A.BTR"), dir.file("B.BTR")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        "varnok-cli: Cannot insert into " + dir.file("B.BTR")
            + ": duplicate key value (status 5). 2 records copied.\n");
    EXPECT_EQ(readRecords(dir.file("B.BTR")).size(), 3U);
}

TEST(Copy, AFileIsNotCopiedIntoItself)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"), someRecords(0, 4));
    const CliResult r = runCli({"copy", dir.file("A.BTR"), dir.path() + "/./A.BTR"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("into itself"), std::string::npos) << r.err;
    EXPECT_EQ(readRecords(dir.file("A.BTR")).size(), 4U);
}

TEST(Copy, IntoADirectoryEachUnderItsOwnNameAndAFailureDoesNotStopTheOthers)
{
    ScratchDir dir;
    std::filesystem::create_directory(dir.file("in"));
    std::filesystem::create_directory(dir.file("out"));
    for (const char* name : {"A.BTR", "C.BTR"}) {
        createFile(dir.file("in/") + name, twoKeyDefinition());
        insertRecords(dir.file("in/") + name, someRecords(name[0], 30));
    }
    writeText(dir.file("in/B.TXT"), "this is no data file, and it is long enough to be looked at");
    const CliResult r = runCli({"copy", dir.file("in/A.BTR"), dir.file("in/B.TXT"),
        dir.file("in/MISSING.BTR"), dir.file("in/C.BTR"), dir.file("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot open " + dir.file("in/B.TXT") + ": not a data file (status 30)"),
        std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Cannot open " + dir.file("in/MISSING.BTR") + ": file not found"),
        std::string::npos)
        << r.err;
    expectSameRecords(dir.file("out/A.BTR"), dir.file("in/A.BTR"));
    expectSameRecords(dir.file("out/C.BTR"), dir.file("in/C.BTR"));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/B.TXT")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/MISSING.BTR")));
}

TEST(Copy, TwoSourcesOfOneNameDoNotMixInOneFile)
{
    ScratchDir dir;
    for (const char* sub : {"x", "y", "out"})
        std::filesystem::create_directory(dir.file(sub));
    createFile(dir.file("x/A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("x/A.BTR"), someRecords(0, 3));
    createFile(dir.file("y/A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("y/A.BTR"), someRecords(100, 3));
    const CliResult r
        = runCli({"copy", dir.file("x/A.BTR"), dir.file("y/A.BTR"), dir.file("out") + "/"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("was copied there already"), std::string::npos) << r.err;
    expectSameRecords(dir.file("out/A.BTR"), dir.file("x/A.BTR"));
}

class CopyFixture : public testing::TestWithParam<const char*>
{
};

TEST_P(CopyFixture, EveryRecordArrivesAndTheLegacyFileIsNotWritten)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string source = testsupport::fixturePath(GetParam()).string();
    const std::string before = fileText(source);
    const CliResult r = runCli({"copy", source, dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string copy = dir.file(GetParam());
    EXPECT_EQ(withoutLiveFigures(statOf(copy)), withoutLiveFigures(statOf(source)));
    expectSameRecords(copy, source);
    EXPECT_EQ(fileText(source), before);
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, CopyFixture, testing::ValuesIn(LegacyFixtures),
    [](const auto& param) { return fixtureTestName(param.param); });

struct Usage
{
    const char* what;
    std::vector<std::string> args;
    const char* says;
};

class UsageError : public testing::TestWithParam<Usage>
{
};

TEST_P(UsageError, ExitsWithTwoAndSaysWhy)
{
    ScratchDir dir;
    std::vector<std::string> args = GetParam().args;
    for (std::string& a : args) {
        if (a == "FILE")
            a = dir.file("A.BTR");
    }
    const CliResult r = runCli(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(GetParam().says), std::string::npos) << r.err;
    EXPECT_EQ(r.err.rfind("varnok-cli: ", 0), 0U) << r.err;
}

INSTANTIATE_TEST_SUITE_P(Cases, UsageError,
    testing::Values(Usage {"no_command", {}, "A subcommand is required"},
        Usage {"unknown_command", {"stats", "FILE"}, "stats"},
        Usage {"unknown_option", {"stat", "--jason", "FILE"}, "--jason"},
        Usage {"missing_file", {"stat"}, "FILE is required"},
        Usage {"missing_destination", {"clone", "FILE"}, "DESTINATION is required"},
        Usage {"one_path_to_copy", {"copy", "FILE"}, "At least 2 required"},
        Usage {"several_into_a_file", {"copy", "FILE", "FILE", "FILE"}, "directory"},
        Usage {"key_out_of_range", {"save", "--key", "300", "FILE"}, "300"},
        Usage {"key_not_a_number", {"save", "--key", "x", "FILE"}, "x"},
        Usage {"key_and_physical", {"save", "--key", "1", "--physical", "FILE"}, "excludes"}),
    [](const auto& param) { return std::string(param.param.what); });

class CommandHelp : public testing::TestWithParam<const char*>
{
};

TEST_P(CommandHelp, GoesToStandardOutputWithStatusZero)
{
    const CliResult r = runCli({GetParam(), "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find(std::string("varnok-cli ") + GetParam()), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, CommandHelp,
    testing::Values("stat", "clone", "copy", "save", "load"),
    [](const auto& param) { return std::string(param.param); });

} // namespace
