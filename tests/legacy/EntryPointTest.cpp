// Legacy files as the program sees them: through BTRCALLID of the record manager only.
#include "BtrCall.h"
#include "Fixtures.h"
#include "LittleEndian.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

using btr::le::get16;
using btr::le::get32;
using legacytest::fixturePath;
using legacytest::readAll;
using legacytest::ScratchDir;
using legacytest::writeAll;

namespace {

namespace op = btr::op;
namespace st = btr::status;

// One open file: its position block and buffers, as the program's file object keeps them.
struct Btr
{
    uint8_t pos[btr::PositionBlockSize] {};
    uint8_t key[btr::KeyBufferSize] {};
    std::vector<uint8_t> data = std::vector<uint8_t>(65535);
    uint16_t length = 0;
    uint8_t client[btr::ClientIdSize] {};

    int16_t call(uint16_t operation, int keyNumber = 0, uint16_t offered = 65535)
    {
        length = offered;
        return BTRCALLID(
            operation, pos, data.data(), &length, key, 255, uint8_t(keyNumber), client);
    }
    int16_t open(const std::filesystem::path& path, int mode = 0)
    {
        std::memset(key, 0, sizeof key);
        std::strncpy(reinterpret_cast<char*>(key), path.c_str(), sizeof key - 1);
        return call(op::Open, mode, 0);
    }
    int16_t create(const std::filesystem::path& path, const std::vector<uint8_t>& image, int how)
    {
        std::memset(key, 0, sizeof key);
        std::strncpy(reinterpret_cast<char*>(key), path.c_str(), sizeof key - 1);
        std::copy(image.begin(), image.end(), data.begin());
        return call(op::Create, how, uint16_t(image.size()));
    }
    std::vector<uint8_t> record() const { return {data.begin(), data.begin() + length}; }
    std::vector<uint8_t> stat()
    {
        EXPECT_EQ(call(op::Stat, 0, btr::SpecBufferSize), 0);
        return {data.begin(), data.begin() + length};
    }
    ~Btr()
    {
        uint16_t none = 0;
        BTRCALLID(op::Close, pos, data.data(), &none, key, 255, 0, client);
    }
};

// Records ordered byte by byte. A vector's own operator< compares through memcmp, on which GCC 12
// at -O2 reports a false -Wstringop-overread; the same order through an explicit comparison does
// not take that path.
bool bytewise(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), std::less<>());
}

// Every record along key `k`, in the order Get First / Get Next return them, and the key
// values the key buffer showed.
std::vector<std::vector<uint8_t>> alongKey(
    Btr& file, int k, std::vector<std::vector<uint8_t>>* values = nullptr, size_t valueLength = 0)
{
    std::vector<std::vector<uint8_t>> records;
    for (int16_t s = file.call(op::GetFirst, k); s == 0; s = file.call(op::GetNext, k)) {
        records.push_back(file.record());
        if (values)
            values->emplace_back(file.key, file.key + valueLength);
    }
    return records;
}

TEST(LegacyEntry, OpensInEveryModeAndStepsEveryRecord)
{
    REQUIRE_LEGACY_FIXTURES();
    const std::pair<const char*, uint32_t> files[]
        = {{"MBBSEMU.DAT", 4}, {"VARIABLE.DAT", 1024}, {"GALTELA.DAT", 73}, {"WGSMENU2.DAT", 46},
            {"MULTIACS.DAT", 0}, {"MBMGEPLT.DAT", 22}, {"WCCACMS2.DAT", 7639}};
    for (const auto& [name, records] : files) {
        for (int mode : {0, -1, -2, -3, -4}) {
            SCOPED_TRACE(testing::Message() << name << " mode " << mode);
            Btr file;
            ASSERT_EQ(file.open(fixturePath(name), mode), 0);
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

// The program's Copy: a destination created from the source's Stat, filled by Insert from
// Get First / Get Next on key 0; every record arrives and every key gives the same order.
TEST(LegacyEntry, CopyIntoACreatedFileKeepsEveryRecordAndOrder)
{
    REQUIRE_LEGACY_FIXTURES();
    for (const char* name : {"GALTELA.DAT", "VARIABLE.DAT"}) {
        SCOPED_TRACE(name);
        ScratchDir dir;
        Btr source;
        ASSERT_EQ(source.open(fixturePath(name)), 0);
        std::vector<uint8_t> image = source.stat();
        Btr dest;
        ASSERT_EQ(dest.create(dir.path("COPY.DAT"), image, -1), 0);
        ASSERT_EQ(dest.open(dir.path("COPY.DAT")), 0);
        uint32_t copied = 0;
        for (int16_t s = source.call(op::GetFirst, 0); s == 0; s = source.call(op::GetNext, 0)) {
            std::copy_n(source.data.begin(), source.length, dest.data.begin());
            ASSERT_EQ(dest.call(op::Insert, 0, source.length), 0) << "record " << copied;
            ++copied;
        }
        EXPECT_EQ(copied, get32(&image[6]));
        std::vector<uint8_t> copiedImage = dest.stat();
        ASSERT_EQ(copiedImage.size(), image.size());
        // Everything but the unused pages, a figure of each file's own storage.
        EXPECT_TRUE(std::equal(image.begin(), image.begin() + 14, copiedImage.begin()));
        EXPECT_TRUE(std::equal(image.begin() + 16, image.end(), copiedImage.begin() + 16));
        // The same key values in the same order; records with equal values may come in another
        // order, since the copy inserted them in the order of key 0.
        size_t segment = 0;
        for (int k = 0; k < get16(&image[4]); ++k) {
            size_t valueLength = 0;
            uint16_t flags = 0;
            do {
                flags = get16(&image[16 + 16 * segment + 4]);
                valueLength += get16(&image[16 + 16 * segment + 2]);
                ++segment;
            } while (flags & 0x10);
            std::vector<std::vector<uint8_t>> sourceValues, destValues;
            auto fromSource = alongKey(source, k, &sourceValues, valueLength);
            auto fromDest = alongKey(dest, k, &destValues, valueLength);
            EXPECT_EQ(destValues, sourceValues) << "key " << k;
            std::sort(fromSource.begin(), fromSource.end(), bytewise);
            std::sort(fromDest.begin(), fromDest.end(), bytewise);
            EXPECT_EQ(fromDest, fromSource) << "key " << k;
            if (k == 0) {
                EXPECT_EQ(fromSource.size(), copied);
            }
        }
    }
}

} // namespace
