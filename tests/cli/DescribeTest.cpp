// describe and create: a definition through a description file and back, for every fixture and
// for files of our own, and what create answers for a description it cannot read or the record
// manager refuses.
#include "CliRun.h"
#include "DefinitionLayout.h"
#include "RequireFixtures.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace clitest;

namespace {

// describe, then create from the description: the new file reports the same definition.
void expectRoundTrip(const std::string& original, const ScratchDir& dir)
{
    const std::string description = dir.file("D.DES");
    const CliResult described = runCli({"describe", original, description});
    ASSERT_EQ(described.status, 0) << described.err;
    const CliResult created = runCli({"create", dir.file("NEW.BTR"), description});
    ASSERT_EQ(created.status, 0) << created.err << "\n" << fileText(description);
    EXPECT_EQ(withoutLiveFigures(statOf(dir.file("NEW.BTR"))), withoutLiveFigures(statOf(original)))
        << fileText(description);
}

class DescribeFixture : public testing::TestWithParam<const char*>
{
};

TEST_P(DescribeFixture, CreateFromItsDescriptionGivesTheSameDefinition)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    expectRoundTrip(testsupport::fixturePath(GetParam()).string(), dir);
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, DescribeFixture, testing::ValuesIn(LegacyFixtures),
    [](const auto& param) { return fixtureTestName(param.param); });

Bytes table(int shift)
{
    Bytes t(256);
    for (int i = 0; i < 256; ++i)
        t[size_t(i)] = uint8_t(i + shift);
    return t;
}

// A definition that uses most of what a description can say: blank truncation, free space,
// descending, null keys with a null value, repeating duplicates, two collating sequences, one of
// them case-insensitive.
DefinitionImage richDefinition()
{
    DefinitionImage d;
    d.recordLength = 120;
    d.pageSize = 2048;
    d.fileFlags
        = btr::fileflag::VariableLength | btr::fileflag::BlankTruncation | btr::fileflag::Free10;
    d.addKey({SegmentEntry {1, 4, 0x0102, 0, btr::exttype::Integer}});
    d.addKey({SegmentEntry {5, 10, 0x01A1 | 0x0008, 0, btr::exttype::String, 0x20, 0, 0, 0},
        SegmentEntry {15, 8, 0x01C1 | 0x0008, 0, btr::exttype::Float, 0x20}});
    d.addKey({SegmentEntry {30, 12, 0x0121, 0, btr::exttype::ZString, 0, 0, 0, 1}});
    d.addKey({SegmentEntry {50, 20, 0x0520 | 0x0001, 0, btr::exttype::String, 0, 0, 0, 0}});
    d.addKey({SegmentEntry {80, 6, 0x0104, 0, btr::exttype::Unsigned}});
    d.blocks.push_back(testsupport::acsBlock("FIRST", table(0)));
    d.blocks.push_back(testsupport::acsBlock("SECOND", table(1)));
    return d;
}

TEST(Describe, ARichDefinitionOfOurOwnRoundTrips)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), richDefinition());
    expectRoundTrip(dir.file("A.BTR"), dir);
    EXPECT_EQ(fileText(dir.file("FIRST.ACS")).size(), 265U);
    EXPECT_EQ(fileText(dir.file("SECOND.ACS")).size(), 265U);
}

TEST(Describe, WhatNoElementCarriesIsNamedOnStandardError)
{
    ScratchDir dir;
    DefinitionImage d = twoKeyDefinition();
    d.fileFlags = btr::fileflag::KeyNumbersGiven;
    d.segments[0].manualKeyNumber = 3;
    d.segments[1].manualKeyNumber = 7;
    createFile(dir.file("A.BTR"), d);
    const CliResult r = runCli({"describe", dir.file("A.BTR")});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("record=50"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("varnok-cli: " + dir.file("A.BTR") + ": "), std::string::npos) << r.err;
}

TEST(Describe, AnAcsFileOfTheSameNameWithOtherBytesIsKeptUnlessReplaceIsGiven)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), richDefinition());
    writeText(dir.file("FIRST.ACS"), "the user's own file");
    CliResult r = runCli({"describe", dir.file("A.BTR"), dir.file("A.DES")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Cannot write " + dir.file("FIRST.ACS")), std::string::npos) << r.err;
    EXPECT_EQ(fileText(dir.file("FIRST.ACS")), "the user's own file");
    EXPECT_FALSE(std::filesystem::exists(dir.file("A.DES")));
    r = runCli({"describe", "--replace", dir.file("A.BTR"), dir.file("A.DES")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fileText(dir.file("FIRST.ACS")).size(), 265U);
    // The same bytes again are no conflict.
    r = runCli({"describe", dir.file("A.BTR"), dir.file("A.DES")});
    EXPECT_EQ(r.status, 0) << r.err;
}

struct BadDescription
{
    const char* what;
    std::string text;
    const char* says; // after "varnok-cli: "
};

class CreateRefuses : public testing::TestWithParam<BadDescription>
{
};

TEST_P(CreateRefuses, NamesTheElementAndCreatesNothing)
{
    ScratchDir dir;
    writeText(dir.file("D.DES"), GetParam().text);
    const CliResult r = runCli({"create", dir.file("A.BTR"), dir.file("D.DES")});
    EXPECT_EQ(r.status, 1);
    std::string says = GetParam().says;
    for (size_t at; (at = says.find("DIR/")) != std::string::npos;)
        says.replace(at, 4, dir.path() + "/");
    EXPECT_EQ(r.err, "varnok-cli: " + says + "\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("A.BTR")));
}

const std::string Good = "record=50 key=1 page=1024\n"
                         "position=1 length=4 type=integer segment=n\n";

INSTANTIATE_TEST_SUITE_P(Cases, CreateRefuses,
    testing::Values(BadDescription {"unknown_element",
                        "record=50 key=1 page=1024\nposition=1 lenght=4 type=integer segment=n\n",
                        "Cannot read DIR/D.DES: line 2: unknown element 'lenght'."},
        BadDescription {"missing_acs_file",
            "record=50 key=1 page=1024\nposition=1 length=4 alternate=y segment=n\nname=UP.ACS\n",
            "Cannot read DIR/D.DES: line 3: cannot read the collating sequence 'UP.ACS': "
            "DIR/UP.ACS: No such file or directory."},
        BadDescription {"segment_outside_the_record",
            "record=50 key=1 page=1024\nposition=48 length=4 type=integer segment=n\n",
            "Cannot create DIR/A.BTR from DIR/D.DES: line 2: invalid key position (status 27) at "
            "key 0 segment 1: position=48 length=4 (line 2), record=50 (line 1)."},
        BadDescription {"page_size",
            "record=50 key=1 page=1000\nposition=1 length=4 type=integer segment=n\n",
            "Cannot create DIR/A.BTR from DIR/D.DES: line 1: page size error (status 24) in the "
            "file elements: page=1000 (line 1)."}),
    [](const auto& param) { return std::string(param.param.what); });

TEST(Create, AnExistingFileIsKeptUnlessReplaceIsAsked)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    insertRecords(dir.file("A.BTR"), {twoKeyRecord(1, "KEPT")});
    writeText(dir.file("D.DES"), Good);
    CliResult r = runCli({"create", dir.file("A.BTR"), dir.file("D.DES")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        "varnok-cli: Cannot create " + dir.file("A.BTR") + ": file already exists (status 59).\n");
    EXPECT_EQ(readRecords(dir.file("A.BTR")).size(), 1U);
    r = runCli({"create", "--replace", dir.file("A.BTR"), dir.file("D.DES")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(readRecords(dir.file("A.BTR")).empty());
    // replace=y in the description says the same.
    insertRecords(dir.file("A.BTR"), {twoKeyRecord(1, "AGAIN")});
    writeText(dir.file("R.DES"),
        "record=50 key=1 page=1024 replace=y\n"
        "position=1 length=4 type=int segment=n\n");
    r = runCli({"create", dir.file("A.BTR"), dir.file("R.DES")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(readRecords(dir.file("A.BTR")).empty());
}

TEST(Create, FromStandardInput)
{
    ScratchDir dir;
    const CliResult r = runCli({"create", dir.file("A.BTR"), "-"}, Good);
    ASSERT_EQ(r.status, 0) << r.err;
    const Bytes stat = statOf(dir.file("A.BTR"));
    ASSERT_FALSE(stat.empty());
    EXPECT_EQ(testsupport::get16(stat, 0), 50);
    EXPECT_EQ(testsupport::get16(stat, 2), 1024);
}

} // namespace
