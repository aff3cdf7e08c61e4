// Samples read through TWinBtr from files the embedded record manager holds: every record of a
// small file, every k-th of a large one, the same ones on each run, and the file's key number and
// Step use left alone.
#include "Sample.h"

#include "DefinitionImage.h"
#include "LittleEndian.h"
#include "ScratchDir.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

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

TEST(Sample, ASmallFileWholeALargeOneEvenlySpread)
{
    ScratchDir dir;
    const std::string path = fileOf(dir, 50);
    for (const auto& [limit, expected] : {std::pair {uint32_t(100), std::vector<uint32_t>()},
             std::pair {uint32_t(10), std::vector<uint32_t> {0, 5, 10, 15, 20, 25, 30, 35, 40, 45}},
             std::pair {uint32_t(7), std::vector<uint32_t> {0, 8, 16, 24, 32, 40, 48}}}) {
        TWinBtr file;
        ASSERT_EQ(file.Open(path.c_str(), "", btr::mode::ReadOnly), btr::status::Success);
        ASSERT_EQ(file.Stat(), btr::status::Success);
        file.KeyNumber = 0;
        RecordSample sample(6);
        EXPECT_EQ(
            readSample(file, uint64_t(file.RecordCount()), limit, sample), btr::status::Success);
        EXPECT_EQ(sample.fileRecords, 50U);
        if (expected.empty()) {
            EXPECT_EQ(sample.size(), 50U);
        } else {
            EXPECT_EQ(ids(sample), expected) << limit;
        }
        EXPECT_FALSE(file.UseStep);
        EXPECT_EQ(file.KeyNumber, 0);
        file.Close();
    }
}

TEST(Sample, AFileWithMoreRecordsThanItSaysIsThinnedEvenly)
{
    ScratchDir dir;
    const std::string path = fileOf(dir, 40);
    TWinBtr file;
    ASSERT_EQ(file.Open(path.c_str(), "", btr::mode::ReadOnly), btr::status::Success);
    ASSERT_EQ(file.Stat(), btr::status::Success);
    // A count four times too small: the sample fills up and is thinned as it goes.
    RecordSample sample(6);
    EXPECT_EQ(readSample(file, 10, 10, sample), btr::status::Success);
    EXPECT_EQ(ids(sample), (std::vector<uint32_t> {0, 4, 8, 12, 16, 20, 24, 28, 32, 36}));
    file.Close();
}

TEST(Sample, SampleLimitsKeepTheWorkBounded)
{
    EXPECT_EQ(sampleLimit(100), 20000U);
    EXPECT_EQ(sampleLimit(4000), 4194U);
    EXPECT_EQ(sampleLimit(60000), 1000U);
}

} // namespace
