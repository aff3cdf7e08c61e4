// Samples read through TWinBtr from files the embedded record manager holds: every record of a
// small file, every k-th of a large one, the same ones on each run, and the file's key number and
// Step use left alone.
#include "Sample.h"

#include "DefinitionImage.h"
#include "LittleEndian.h"
#include "ScratchDir.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

using namespace fields;
using testsupport::Bytes;
using testsupport::DefinitionImage;
using testsupport::ScratchDir;
using testsupport::SegmentEntry;

namespace {

std::string fileOf(const ScratchDir& dir, uint32_t records)
{
    DefinitionImage d;
    d.recordLength = 6;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, testsupport::ExtendedTypeKey, 0, btr::exttype::Integer}});
    const std::string path = dir.file("S.BTR");
    testsupport::createFile(path, d);
    std::vector<Bytes> rows;
    for (uint32_t i = 0; i < records; ++i) {
        Bytes r(6, 0);
        btr::le::put32(r.data(), i);
        rows.push_back(r);
    }
    testsupport::insertRecords(path, rows);
    return path;
}

std::vector<uint32_t> ids(const RecordSample& s)
{
    std::vector<uint32_t> out;
    for (size_t i = 0; i < s.size(); ++i)
        out.push_back(btr::le::get32(s.record(i)));
    return out;
}

// Ids of a sample of the file at `path` read with `counted` and `limit`.
std::vector<uint32_t> sampleOf(const std::string& path, uint64_t counted, uint32_t limit)
{
    TWinBtr file;
    EXPECT_EQ(file.Open(path.c_str(), "", btr::mode::ReadOnly), btr::status::Success);
    EXPECT_EQ(file.Stat(), btr::status::Success);
    file.KeyNumber = 0;
    RecordSample sample(6);
    EXPECT_EQ(readSample(file, counted, limit, sample), btr::status::Success);
    EXPECT_EQ(sample.fileRecords, 50U);
    EXPECT_FALSE(file.UseStep);
    EXPECT_EQ(file.KeyNumber, 0);
    file.Close();
    return ids(sample);
}

TEST(Sample, ASmallFileWholeALargeOneEvenlySpread)
{
    ScratchDir dir;
    const std::string path = fileOf(dir, 50);
    EXPECT_EQ(sampleOf(path, 50, 100).size(), 50U);
    // One record of every run of five, not always the same one of it; the same ones again.
    const std::vector<uint32_t> tenth = sampleOf(path, 50, 10);
    ASSERT_EQ(tenth.size(), 10U);
    std::set<uint32_t> places;
    for (uint32_t k = 0; k < 10; ++k) {
        EXPECT_EQ(tenth[k] / 5, k) << tenth[k];
        places.insert(tenth[k] % 5);
    }
    EXPECT_GT(places.size(), 1U);
    EXPECT_EQ(sampleOf(path, 50, 10), tenth);
}

TEST(Sample, AFileWithMoreRecordsThanItSaysIsThinnedEvenly)
{
    ScratchDir dir;
    const std::string path = fileOf(dir, 50);
    // A count five times too small: the sample fills up and is thinned as it goes, and still
    // reaches the end of the file.
    const std::vector<uint32_t> got = sampleOf(path, 10, 10);
    ASSERT_GE(got.size(), 5U);
    ASSERT_LE(got.size(), 10U);
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
    EXPECT_EQ(got.front(), 0U);
    EXPECT_GE(got.back(), 32U);
}

TEST(Sample, SampleLimitsKeepTheWorkBounded)
{
    EXPECT_EQ(sampleLimit(100), 20000U);
    EXPECT_EQ(sampleLimit(4000), 4194U);
    EXPECT_EQ(sampleLimit(60000), 1000U);
}

} // namespace

// Runs of consecutive records from the start of the file to its end, begun by percentages: a few
// hundred records read of thousands, the same ones every time; a small file is read whole.
TEST(Sample, ASpreadSampleReadsRunsFromStartToEnd)
{
    ScratchDir dir;
    const std::string path = fileOf(dir, 4000);
    const auto spread = [&path](uint32_t limit) {
        TWinBtr file;
        EXPECT_EQ(file.Open(path.c_str(), "", btr::mode::ReadOnly), btr::status::Success);
        file.KeyNumber = 0;
        RecordSample sample(6);
        EXPECT_EQ(readSpreadSample(file, 4000, limit, sample), btr::status::Success);
        EXPECT_EQ(sample.fileRecords, 4000U);
        EXPECT_FALSE(file.UseStep);
        return ids(sample);
    };
    const std::vector<uint32_t> got = spread(400);
    ASSERT_GE(got.size(), 390U);
    ASSERT_LE(got.size(), 400U);
    EXPECT_TRUE(std::is_sorted(got.begin(), got.end()));
    EXPECT_EQ(got.front(), 0U);
    EXPECT_EQ(got.back(), 3999U);
    // Runs of eight consecutive records.
    EXPECT_EQ(got[7], got[0] + 7);
    EXPECT_EQ(got[8], uint32_t(4000 - 1) * 1 / 49);
    EXPECT_EQ(spread(400), got);
    EXPECT_EQ(spread(5000).size(), 4000U);
}
