// A legacy file through the face every open data file shows the entry point.
#include "LegacyDataFile.h"
#include "Fixtures.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace recman;
using namespace recman::legacy;
using legacytest::fixturePath;

namespace {

std::unique_ptr<DataFile> openData(const char* name)
{
    int16_t status = -1;
    std::string reason;
    auto file = LegacyFile::open(fixturePath(name), status, reason);
    EXPECT_EQ(status, 0) << reason;
    if (!file)
        return nullptr;
    return std::make_unique<LegacyDataFile>(std::move(file));
}

struct Buffers
{
    std::vector<uint8_t> data = std::vector<uint8_t>(4096);
    std::vector<uint8_t> key = std::vector<uint8_t>(256);
    ReadTarget target()
    {
        ReadTarget t;
        t.data = data.data();
        t.capacity = uint16_t(data.size());
        t.keyValue = key.data();
        return t;
    }
};

TEST(LegacyDataFile, GetWalksEachKeyAndReturnsItsValue)
{
    REQUIRE_LEGACY_FIXTURES();
    auto file = openData("GALTELA.DAT");
    ASSERT_TRUE(file);
    EXPECT_TRUE(file->readOnly());
    const Definition& def = file->definition();
    for (int k = 0; k < 3; ++k) {
        auto cursor = file->newCursor();
        Buffers b;
        ReadTarget t = b.target();
        uint32_t count = 0;
        for (int16_t s = file->getFirst(*cursor, k, t); s == 0; s = file->getNext(*cursor, t)) {
            ++count;
            EXPECT_EQ(t.length, 950);
            EXPECT_EQ(cursor->keyIndex, k);
            size_t at = 0;
            for (const Segment& seg : def.keys[size_t(k)].segments) {
                EXPECT_EQ(std::memcmp(&b.key[at], &b.data[seg.position - 1u], seg.length), 0);
                at += seg.length;
            }
            t = b.target();
        }
        EXPECT_EQ(count, 73u) << "key " << k;
    }
}

TEST(LegacyDataFile, ShortBufferGetsWhatFitsAndTheFullLength)
{
    REQUIRE_LEGACY_FIXTURES();
    auto file = openData("VARIABLE.DAT");
    ASSERT_TRUE(file);
    auto cursor = file->newCursor();
    Buffers b;
    ReadTarget t = b.target();
    t.capacity = 10;
    // Key 1 is the record number: the first record is record 0 (8 bytes), the next 9 bytes...
    ASSERT_EQ(file->getFirst(*cursor, 1, t), 0);
    EXPECT_EQ(t.length, 8);
    for (int i = 1; i <= 20; ++i) {
        std::fill(b.data.begin(), b.data.end(), 0x55);
        int16_t s = file->getNext(*cursor, t);
        EXPECT_EQ(t.length, 8 + i);
        EXPECT_EQ(s, 8 + i > 10 ? 22 : 0);
        EXPECT_EQ(b.data[6], i);
        EXPECT_EQ(b.data[10], 0x55); // nothing beyond what was offered
    }
}

TEST(LegacyDataFile, EmptyFileHasNoFirstRecord)
{
    REQUIRE_LEGACY_FIXTURES();
    auto file = openData("MULTIACS.DAT");
    ASSERT_TRUE(file);
    auto cursor = file->newCursor();
    Buffers b;
    ReadTarget t = b.target();
    EXPECT_EQ(file->getFirst(*cursor, 2, t), 9);
    EXPECT_EQ(cursor->keyIndex, -1);
    EXPECT_EQ(file->stepFirst(*cursor, t), 9);
    EXPECT_FALSE(cursor->hasCurrent);
    EXPECT_EQ(file->stepNext(*cursor, t), 8);
    EXPECT_EQ(file->getFirst(*cursor, 3, t), 6);
}

TEST(LegacyDataFile, CursorsMoveIndependently)
{
    REQUIRE_LEGACY_FIXTURES();
    auto file = openData("VARIABLE.DAT");
    ASSERT_TRUE(file);
    auto byKey = file->newCursor();
    auto byStep = file->newCursor();
    Buffers a, b;
    ReadTarget ta = a.target(), tb = b.target();
    ASSERT_EQ(file->getFirst(*byKey, 0, ta), 0);
    ASSERT_EQ(file->stepFirst(*byStep, tb), 0);
    for (int i = 1; i < 100; ++i) {
        ASSERT_EQ(file->getNext(*byKey, ta), 0);
        ASSERT_EQ(file->stepNext(*byStep, tb), 0);
        EXPECT_EQ(b.data[6] | (b.data[7] << 8), i);
        // Key 0 is i % 64 with duplicates in page order: 0, 64, 128, ... first.
        EXPECT_EQ(a.data[4], i / 16);
    }
    EXPECT_EQ(a.data[4], 6); // the 100th record along key 0 has value 6 (16 records each)
}

} // namespace
