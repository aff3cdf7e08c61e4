// Legacy files as the program sees them: through BTRCALLID of the record manager only.
#include "EntryCalls.h"
#include "Fixtures.h"
#include "LittleEndian.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>

using btr::le::get16;
using btr::le::get32;
using legacytest::alongKey;
using legacytest::Btr;
using legacytest::fixturePath;
using legacytest::readAll;
using legacytest::ScratchDir;
using legacytest::writeAll;

namespace {

namespace op = btr::op;
namespace st = btr::status;

TEST(LegacyEntry, OpensInEveryModeAndStepsEveryRecord)
{
    REQUIRE_LEGACY_FIXTURES();
    const std::pair<const char*, uint32_t> files[]
        = {{"MBBSEMU.DAT", 4}, {"VARIABLE.DAT", 1024}, {"GALTELA.DAT", 73}, {"WGSMENU2.DAT", 46},
            {"MULTIACS.DAT", 0}, {"MBMGEPLT.DAT", 22}, {"WCCACMS2.DAT", 7639}};
    // Copies: other test programs read the same fixtures at the same time, and an exclusive open
    // rightly fails while they have a file open.
    ScratchDir dir;
    for (const auto& [name, records] : files) {
        const std::string path = dir.file(name);
        std::filesystem::copy_file(fixturePath(name), path);
        for (int mode : {0, -1, -2, -3, -4}) {
            SCOPED_TRACE(testing::Message() << name << " mode " << mode);
            Btr file;
            ASSERT_EQ(file.open(path, mode), 0);
            std::vector<uint8_t> image = file.stat();
            EXPECT_EQ(get32(&image[6]), records);
            uint32_t count = 0;
            for (int16_t s = file.call(op::StepFirst); s == 0; s = file.call(op::StepNext))
                ++count;
            EXPECT_EQ(count, records);
        }
    }
}

TEST(LegacyEntry, StatGivesTheWholeDefinitionWithEveryCollatingSequence)
{
    REQUIRE_LEGACY_FIXTURES();
    Btr file;
    ASSERT_EQ(file.open(fixturePath("MULTIACS.DAT")), 0);
    std::vector<uint8_t> image = file.stat();
    ASSERT_EQ(image.size(), 16u + 4 * 16 + 2 * 265);
    EXPECT_EQ(file.key[0], 0);
    EXPECT_EQ(get16(&image[0]), 128);
    EXPECT_EQ(get16(&image[2]), 4096);
    EXPECT_EQ(get16(&image[4]), 3);
    EXPECT_EQ(get32(&image[6]), 0u);
    EXPECT_EQ(get16(&image[10]), 0x0001);
    const uint16_t segments[4][4] = {// position, length, flags, extended type / ACS number
        {3, 16, 0x0521, 11}, {21, 4, 0x0110, 1}, {25, 8, 0x0100, 2}, {31, 16, 0x0520, 11}};
    for (int s = 0; s < 4; ++s) {
        const uint8_t* seg = &image[16 + 16 * s];
        EXPECT_EQ(get16(seg), segments[s][0]);
        EXPECT_EQ(get16(seg + 2), segments[s][1]);
        EXPECT_EQ(get16(seg + 4), segments[s][2]);
        EXPECT_EQ(seg[10], segments[s][3]);
    }
    EXPECT_EQ(image[16 + 16 * 3 + 15], 1); // the last key collates through the second block
    const uint8_t* first = &image[80];
    const uint8_t* second = first + 265;
    EXPECT_EQ(first[0], 0xAC);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(first + 1)), "ALLCAPS");
    EXPECT_EQ(first[9 + 'a'], 'A');
    EXPECT_EQ(second[0], 0xAC);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(second + 1), 5), "LOWER");
    EXPECT_EQ(second[9 + 'A'], 'a');

    // A buffer too short for the definition gets what fits and status 22.
    EXPECT_EQ(file.call(op::Stat, 0, 100), st::DataBufferTooShort);
}

TEST(LegacyEntry, PositionAndKeysWork)
{
    REQUIRE_LEGACY_FIXTURES();
    Btr file;
    ASSERT_EQ(file.open(fixturePath("GALTELA.DAT")), 0);
    EXPECT_EQ(file.call(op::GetPosition, 0, 4), st::InvalidPositioning);
    ASSERT_EQ(file.call(op::StepFirst), 0);
    ASSERT_EQ(file.call(op::GetPosition, 0, 4), 0);
    EXPECT_EQ(get32(file.data.data()), 5u * 4096 + 6);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(alongKey(file, k).size(), 73u) << "key " << k;
    EXPECT_EQ(file.call(op::GetFirst, 3), st::InvalidKeyNumber);
}

TEST(LegacyEntry, WritesAreRefusedAndTheFileStaysAsItWas)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const auto path = dir.path("GALTELA.DAT");
    const std::vector<uint8_t> original = readAll(fixturePath("GALTELA.DAT"));
    writeAll(path, original);
    std::vector<uint8_t> image;
    {
        Btr file;
        ASSERT_EQ(file.open(path), 0);
        image = file.stat();
        ASSERT_EQ(file.call(op::StepFirst), 0);
        EXPECT_EQ(file.call(op::Insert, 0, 950), st::OperationNotAllowed);
        EXPECT_EQ(file.call(op::Insert, -1, 950), st::OperationNotAllowed);
    }
    Btr creator;
    EXPECT_EQ(creator.create(path, image, 0), st::OperationNotAllowed);
    EXPECT_EQ(creator.create(path, image, -1), st::FileAlreadyExists);
    EXPECT_EQ(readAll(path), original);
}

// Open, Stat and reading every record leave even the file's access time as it was.
TEST(LegacyEntry, ReadingLeavesTheAccessTime)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const auto path = dir.path("VARIABLE.DAT");
    writeAll(path, readAll(fixturePath("VARIABLE.DAT")));
    struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
    {
        Btr file;
        ASSERT_EQ(file.open(path, -2), 0);
        file.stat();
        EXPECT_EQ(alongKey(file, 1).size(), 1024u);
    }
    struct stat after
    {
    };
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_atim.tv_sec, 1000000000);
}

} // namespace
