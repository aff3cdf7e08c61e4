// recover: every fixture recovers to exactly the records copy gives, the source untouched; a
// damaged file recovers with --definition (a data file or a description), to a sequential file,
// with a JSON report; refused records are reported and the rest goes on; exit statuses.
#include "CliRun.h"
#include "RequireFixtures.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

using namespace clitest;

namespace {

std::vector<Bytes> sorted(std::vector<Bytes> records)
{
    std::sort(records.begin(), records.end(), testsupport::BytesLess());
    return records;
}

std::string lastLine(const std::string& text)
{
    const size_t end = text.size() > 0 && text.back() == '\n' ? text.size() - 1 : text.size();
    const size_t begin = text.rfind('\n', end == 0 ? 0 : end - 1);
    return text.substr(begin == std::string::npos ? 0 : begin + 1,
        end - (begin == std::string::npos ? 0 : begin + 1));
}

// A copy of a fixture with bytes from `offset` on replaced.
std::string damagedCopy(
    const ScratchDir& dir, const char* fixture, size_t offset, const std::string& bytes)
{
    std::string text = fileText(testsupport::fixturePath(fixture).string());
    text.replace(offset, bytes.size(), bytes);
    const std::string path = dir.file(std::string("DAMAGED-") + fixture);
    writeText(path, text);
    return path;
}

class RecoverFixture : public testing::TestWithParam<const char*>
{
};

TEST_P(RecoverFixture, AnUndamagedFileRecoversToWhatCopyGives)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string source = testsupport::fixturePath(GetParam()).string();
    const std::string before = fileText(source);
    const CliResult r = runCli({"recover", source, dir.file("RECOVERED")});
    ASSERT_EQ(r.status, 0) << r.err;
    const CliResult c = runCli({"copy", source, dir.file("COPIED")});
    ASSERT_EQ(c.status, 0) << c.err;
    const auto copied = readRecords(dir.file("COPIED"), -1);
    EXPECT_TRUE(sorted(readRecords(dir.file("RECOVERED"), -1)) == sorted(copied));
    EXPECT_EQ(withoutLiveFigures(statOf(dir.file("RECOVERED"))),
        withoutLiveFigures(statOf(dir.file("COPIED"))));
    EXPECT_EQ(lastLine(r.err),
        "rescued " + std::to_string(copied.size())
            + " records (0 partial); skipped 0 pages; 0 refused by the destination");
    EXPECT_EQ(fileText(source), before);
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, RecoverFixture, testing::ValuesIn(LegacyFixtures),
    [](const auto& param) { return fixtureTestName(param.param); });

// GALTELA.DAT without both control records (pages 0 and 1, 4096 bytes each).
TEST(Recover, LostControlRecordsAskForADefinitionAndRecoverWithOne)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string fixture = testsupport::fixturePath("GALTELA.DAT").string();
    const std::string source = damagedCopy(dir, "GALTELA.DAT", 0, std::string(8192, '\0'));
    CliResult r = runCli({"recover", source, dir.file("A")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(status 2)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--definition"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("A")));

    const auto expected = sorted(readRecords(fixture, -1));
    r = runCli({"recover", "--definition", fixture, source, dir.file("B")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("definition from --definition"), std::string::npos) << r.err;
    EXPECT_TRUE(sorted(readRecords(dir.file("B"), -1)) == expected);

    // A description written by describe, with its ACS file beside it.
    ASSERT_EQ(runCli({"describe", fixture, dir.file("galtela.des")}).status, 0);
    r = runCli({"recover", "--definition", dir.file("galtela.des"), source, dir.file("C")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(sorted(readRecords(dir.file("C"), -1)) == expected);
}

TEST(Recover, ACutFileGivesTheRecordsOfItsPagesAndSaysWhatIsMissing)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    std::string text = fileText(testsupport::fixturePath("VARIABLE.DAT").string());
    text.resize(text.size() / 2 + 100);
    writeText(dir.file("CUT.DAT"), text);
    const CliResult r = runCli({"recover", "--json", dir.file("CUT.DAT"), dir.file("OUT")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto j = nlohmann::json::parse(r.out);
    const auto rescued = j["rescued"].get<uint32_t>();
    EXPECT_GT(rescued, 0U);
    EXPECT_LT(rescued, 1024U);
    EXPECT_GT(j["skipped_pages"]["missing"].get<uint32_t>(), 0U);
    EXPECT_EQ(j["skipped_pages"]["total"], j["skipped_pages"]["missing"]);
    EXPECT_EQ(j["definition"], "control_record");
    EXPECT_EQ(j["control_record_records"], 1024);
    EXPECT_EQ(readRecords(dir.file("OUT"), -1).size(), rescued);
    // Every record that came is one of the file's, whole or (partial) by its fixed part.
    const auto all = readRecords(testsupport::fixturePath("VARIABLE.DAT").string(), -1);
    size_t partial = 0;
    for (const Bytes& got : readRecords(dir.file("OUT"), -1)) {
        const bool whole = std::find(all.begin(), all.end(), got) != all.end();
        partial += whole ? 0 : 1;
        if (!whole) {
            EXPECT_EQ(got.size(), 8U) << "a partial record is its fixed part";
        }
    }
    EXPECT_EQ(partial, j["partial"].get<size_t>());

    // Whole-only leaves the partial ones out.
    const CliResult w
        = runCli({"recover", "--whole-only", "--json", dir.file("CUT.DAT"), dir.file("WHOLE")});
    ASSERT_EQ(w.status, 0) << w.err;
    const auto jw = nlohmann::json::parse(w.out);
    EXPECT_EQ(jw["partial"], 0);
    EXPECT_EQ(jw["left_out"], j["partial"]);
    EXPECT_EQ(readRecords(dir.file("WHOLE"), -1).size(), rescued - partial);
}

TEST(Recover, SaveWritesASequentialFileThatLoadsBack)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string source = testsupport::fixturePath("VARIABLE.DAT").string();
    CliResult r = runCli({"recover", source, "--save", dir.file("v.seq")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lastLine(r.err),
        "rescued 1024 records (0 partial); skipped 0 pages; 0 refused by "
        "the destination");
    ASSERT_EQ(runCli({"clone", source, dir.file("LOADED")}).status, 0);
    r = runCli({"load", dir.file("LOADED"), dir.file("v.seq")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(sorted(readRecords(dir.file("LOADED"), -1)) == sorted(readRecords(source, -1)));
}

// Two records of MBBSEMU.DAT made to share the value of its unique key 1 (4 bytes at position
// 35): the second is refused with its number and status, the others arrive.
TEST(Recover, ARefusedRecordIsReportedAndTheRestGoesOn)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string fixture = testsupport::fixturePath("MBBSEMU.DAT").string();
    const auto records = readRecords(fixture, -1);
    ASSERT_EQ(records.size(), 4U);
    std::string text = fileText(fixture);
    const std::string second(records[1].begin(), records[1].end());
    const size_t at = text.find(second);
    ASSERT_NE(at, std::string::npos);
    std::copy(records[0].begin() + 34, records[0].begin() + 38, text.begin() + long(at + 34));
    writeText(dir.file("DUP.DAT"), text);

    const CliResult r = runCli({"recover", dir.file("DUP.DAT"), dir.file("OUT")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("refused record 2 (at position"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("duplicate key value (status 5)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("rescued 4 records (0 partial); skipped 0 pages; 1 refused by the "
                         "destination\n"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(readRecords(dir.file("OUT"), -1).size(), 3U);
}

TEST(Recover, WhatIsRefusedBeforeAnythingIsRead)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string fixture = testsupport::fixturePath("MBBSEMU.DAT").string();
    // Neither a destination nor --save, or both: usage.
    EXPECT_EQ(runCli({"recover", fixture}).status, 2);
    EXPECT_EQ(runCli({"recover", fixture, dir.file("A"), "--save", dir.file("B")}).status, 2);
    // A destination that exists is kept.
    ASSERT_EQ(runCli({"copy", fixture, dir.file("EXISTS")}).status, 0);
    CliResult r = runCli({"recover", fixture, dir.file("EXISTS")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("file already exists (status 59)"), std::string::npos) << r.err;
    // Our own files are not recovered.
    r = runCli({"recover", dir.file("EXISTS"), dir.file("NEW")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("(status 41)"), std::string::npos) << r.err;
    // A missing source, and a file into itself.
    EXPECT_EQ(runCli({"recover", dir.file("MISSING"), dir.file("NEW")}).status, 1);
    r = runCli({"recover", fixture, fixture});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("into itself"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("NEW")));
}

// BBSGEN.VIR keeps its collating sequence on page 1: without it, records can be saved but a
// destination needs --definition.
TEST(Recover, ALostCollatingSequenceAsksForADefinition)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const std::string fixture = testsupport::fixturePath("BBSGEN.VIR").string();
    const std::string source = damagedCopy(dir, "BBSGEN.VIR", 1024, std::string(1024, '\0'));
    CliResult r = runCli({"recover", source, dir.file("A")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("lost a collating-sequence page"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("--definition"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("A")));
    r = runCli({"recover", source, "--save", dir.file("a.seq")});
    EXPECT_EQ(r.status, 0) << r.err;
    r = runCli({"recover", "--definition", fixture, source, dir.file("B")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(withoutLiveFigures(statOf(dir.file("B"))), withoutLiveFigures(statOf(fixture)));
}

} // namespace
