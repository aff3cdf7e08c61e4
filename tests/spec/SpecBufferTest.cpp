#include "SpecBuffer.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

using namespace spec;

namespace {

std::vector<uint8_t> bytesOf(const SpecBuffer& b, int from, int to)
{
    return std::vector<uint8_t>(b.bytes.begin() + from, b.bytes.begin() + to);
}

AcsBlock identityAcs(const std::string& name)
{
    AcsBlock block;
    block.Name = name;
    std::iota(block.Table.begin(), block.Table.end(), 0);
    return block;
}

TEST(SpecBuffer, HeaderImageMatchesTheLayoutByteForByte)
{
    SpecBuffer b;
    FileSpec header;
    header.RecordLength = 0x1234;
    header.PageSize = 4096;
    header.NumIndexes = 3;
    header.NumRecords = 100000;
    header.FileFlags = static_cast<int16_t>(0xF403);
    header.DuplicatePointers = 7;
    header.Reserved = 0xAB;
    header.UnusedPages = 0x0102;
    b.setFileSpec(header);
    const std::vector<uint8_t> expected {0x34, 0x12, 0x00, 0x10, 0x03, 0x00, 0xA0, 0x86, 0x01, 0x00,
        0x03, 0xF4, 0x07, 0xAB, 0x02, 0x01};
    EXPECT_EQ(bytesOf(b, 0, 16), expected);
    EXPECT_EQ(b.fileSpec(), header);
    EXPECT_EQ(std::count(b.bytes.begin() + 16, b.bytes.end(), 0), BufferSize - 16);
}

TEST(SpecBuffer, SegmentImageMatchesTheLayoutByteForByte)
{
    SpecBuffer b;
    KeySegmentSpec s;
    s.Position = 5;
    s.Length = 0x0120;
    s.KeyFlags = 0x0113;
    s.NumKeyValues = 0x01020304;
    s.ExtendedType = 15;
    s.NullValue = 0x20;
    s.Reserved = 0x0A0B;
    s.ManualKeyNumber = 9;
    s.AcsNumber = 2;
    b.setSegment(1, s);
    const std::vector<uint8_t> expected {0x05, 0x00, 0x20, 0x01, 0x13, 0x01, 0x04, 0x03, 0x02, 0x01,
        0x0F, 0x20, 0x0B, 0x0A, 0x09, 0x02};
    EXPECT_EQ(bytesOf(b, 32, 48), expected);
    EXPECT_EQ(std::count(b.bytes.begin(), b.bytes.begin() + 32, 0), 32);
    EXPECT_EQ(b.segment(1), s);
}

TEST(SpecBuffer, NumbersShowSignedOrUnsignedByWidthAndKeepTheirLowBitsWhenWritten)
{
    struct Case
    {
        Field field;
        int32_t written;
        int32_t shown;
    };
    const Case cases[] = {
        {file::RecordLength, 40000, -25536},  // a record length of 32768 or more shows negative
        {file::RecordLength, -25536, -25536}, // and the negative number stores the same bits
        {file::RecordLength, 70000, 4464},    // beyond 16 bits: the low 16 bits
        {file::PageSize, 65535, -1},
        {file::NumRecords, 100000, 100000},
        {file::NumRecords, -1, -1},
        {file::DuplicatePointers, 300, 44},
        {file::Reserved, -1, 255},
        {file::FileFlags, 0xF000, -4096},          // bits 12-15 travel in the number
        {segment::KeyFlags, 0xF800 | 0x10, -2032}, // bits 11-15 too
        {segment::ExtendedType, 270, 14},
        {segment::NumKeyValues, static_cast<int32_t>(0x80000000u), INT32_MIN},
    };
    for (const Case& c : cases) {
        SpecBuffer b;
        b.setHeaderField(c.field, c.written);
        EXPECT_EQ(b.headerField(c.field), c.shown) << c.field.name << " <- " << c.written;
        // Writing back what is shown stores the same bytes again.
        const auto before = b.bytes;
        b.setHeaderField(c.field, b.headerField(c.field));
        EXPECT_EQ(b.bytes, before) << c.field.name;
    }
}

TEST(SpecBuffer, ThreeEntriesFormTwoKeysWithTheCollatingSequenceAfterThem)
{
    SpecBuffer b;
    b.setHeaderField(file::NumIndexes, 2);
    const int16_t flags[] = {0x0013, 0x0003, 0x0020};
    for (int k = 0; k < 3; ++k)
        b.setSegmentField(k, segment::KeyFlags, flags[k]);
    EXPECT_EQ(countKeys(flags, 3), 2);
    ASSERT_TRUE(b.setAcs(3, identityAcs("UPPER")));

    const Layout layout = b.readLayout();
    EXPECT_EQ(layout.entryCount, 3);
    EXPECT_TRUE(layout.hasAcs);
    EXPECT_EQ(layout.keyOfEntry[0], 0);
    EXPECT_EQ(layout.keyOfEntry[1], 0);
    EXPECT_EQ(layout.keyOfEntry[2], 1);
    EXPECT_EQ(layout.acsOffset(), 64);

    EXPECT_EQ(b.bytes[64], 0xAC);
    EXPECT_EQ(bytesOf(b, 65, 73), (std::vector<uint8_t> {'U', 'P', 'P', 'E', 'R', 0, 0, 0}));
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(b.bytes[static_cast<size_t>(73 + i)], i);
    EXPECT_EQ(b.bytes[329], 0);
    const auto acs = b.acs(layout.entryCount);
    ASSERT_TRUE(acs.has_value());
    EXPECT_EQ(acs->Name, "UPPER");
    EXPECT_EQ(*acs, identityAcs("UPPER"));
}

TEST(SpecBuffer, ThreeSegmentKeyIsOneKey)
{
    SpecBuffer b;
    b.setHeaderField(file::NumIndexes, 1);
    b.setSegmentField(0, segment::KeyFlags, 0x10);
    b.setSegmentField(1, segment::KeyFlags, 0x10 | 0x01);
    b.setSegmentField(2, segment::KeyFlags, 0x01);
    b.setSegmentField(3, segment::KeyFlags, 0x00); // beyond the definition: never read
    const Layout layout = b.readLayout();
    EXPECT_EQ(layout.entryCount, 3);
    EXPECT_FALSE(layout.hasAcs);
    EXPECT_EQ(std::vector<int>(layout.keyOfEntry.begin(), layout.keyOfEntry.begin() + 3),
        (std::vector<int> {0, 0, 0}));
    const int16_t flags[] = {0x10, 0x11, 0x01};
    EXPECT_EQ(countKeys(flags, 3), 1);
}

TEST(SpecBuffer, ReadingNeverWalksPastTheBuffer)
{
    struct Case
    {
        int16_t numIndexes;
        int16_t flagsOfEveryEntry;
        int entries;
    };
    const Case cases[] = {
        {0, 0, 0}, // a file without keys has no entries
        {-3, 0, 0},
        {119, 0, 119},
        {120, 0, 119},  // more keys than entries fit: stops at the last whole entry
        {1, 0x10, 119}, // a key that never ends
        {5, 0x30, 119},
    };
    for (const Case& c : cases) {
        SpecBuffer b;
        b.setHeaderField(file::NumIndexes, c.numIndexes);
        for (int k = 0; k < MaxEntries; ++k)
            b.setSegmentField(k, segment::KeyFlags, c.flagsOfEveryEntry);
        const Layout layout = b.readLayout();
        EXPECT_EQ(layout.entryCount, c.entries) << "NumIndexes " << c.numIndexes;
        EXPECT_FALSE(layout.hasAcs && b.acs(layout.entryCount).has_value());
    }
}

TEST(SpecBuffer, CollatingSequenceFitsAfterAtMost102Entries)
{
    EXPECT_EQ(MaxEntries, 119);
    EXPECT_EQ(MaxEntriesWithAcs, 102);
    SpecBuffer b;
    b.bytes.fill(0x55);
    EXPECT_TRUE(b.setAcs(102, identityAcs("X")));
    EXPECT_EQ(b.bytes[16 + 16 * 102 + 264], 255);
    EXPECT_EQ(b.bytes[16 + 16 * 102 + 265], 0x55);
    const auto before = b.bytes;
    EXPECT_FALSE(b.setAcs(103, identityAcs("X")));
    EXPECT_EQ(b.bytes, before);
    EXPECT_FALSE(b.acs(103).has_value());
    // Entries beyond 119 are neither read nor written.
    b.setSegmentField(119, segment::Position, 1);
    EXPECT_EQ(b.bytes, before);
    EXPECT_EQ(b.segmentField(119, segment::Position), 0);
}

TEST(SpecBuffer, SeveralCollatingSequencesFollowTheSegmentsInNumberOrder)
{
    SpecBuffer b;
    b.setHeaderField(file::NumIndexes, 3);
    b.setSegmentField(0, segment::KeyFlags, 0x20);
    b.setSegmentField(1, segment::KeyFlags, 0x00);
    b.setSegmentField(1, segment::AcsNumber, 5); // without 0x20 the number means nothing
    b.setSegmentField(2, segment::KeyFlags, 0x420);
    b.setSegmentField(2, segment::AcsNumber, 2);
    for (int n = 0; n < 3; ++n)
        ASSERT_TRUE(b.setAcs(3, identityAcs("SEQ" + std::to_string(n)), n));

    const Layout layout = b.readLayout();
    EXPECT_EQ(layout.acsBlockCount, 3);
    EXPECT_EQ(SpecBuffer::acsOffset(3, 2), 64 + 2 * 265);
    EXPECT_EQ(b.bytes[64 + 265], 0xAC);
    EXPECT_EQ(b.acs(3, 1)->Name, "SEQ1");
    EXPECT_EQ(b.acs(3, 2)->Name, "SEQ2");
    EXPECT_EQ(b.acs(3)->Name, "SEQ0");

    // After 40 entries four blocks fit and a fifth does not; after 3, seven fit.
    EXPECT_TRUE(SpecBuffer::acsFits(40, 3));
    EXPECT_FALSE(SpecBuffer::acsFits(40, 4));
    EXPECT_TRUE(SpecBuffer::acsFits(3, 6));
    EXPECT_FALSE(SpecBuffer::acsFits(0, -1));
    EXPECT_FALSE(SpecBuffer::acsFits(0, 255));
    EXPECT_FALSE(b.acs(40, 4).has_value());
    const auto before = b.bytes;
    EXPECT_FALSE(b.setAcs(40, identityAcs("X"), 4));
    EXPECT_EQ(b.bytes, before);
}

TEST(SpecBuffer, CollatingSequenceNames)
{
    struct Case
    {
        std::string written;
        std::vector<uint8_t> stored;
        std::string read;
    };
    const Case cases[] = {
        {"GALCAPS", {'G', 'A', 'L', 'C', 'A', 'P', 'S', 0}, "GALCAPS"},
        {"EIGHTCHR", {'E', 'I', 'G', 'H', 'T', 'C', 'H', 'R'}, "EIGHTCHR"},
        {"TENLETTERS", {'T', 'E', 'N', 'L', 'E', 'T', 'T', 'E'}, "TENLETTE"},
        {"AB", {'A', 'B', 0, 0, 0, 0, 0, 0}, "AB"},
        {"", {0, 0, 0, 0, 0, 0, 0, 0}, ""},
    };
    for (const Case& c : cases) {
        SpecBuffer b;
        b.bytes.fill(0xFF); // writing zero-fills the name first
        ASSERT_TRUE(b.setAcs(1, identityAcs(c.written)));
        EXPECT_EQ(bytesOf(b, 33, 41), c.stored) << c.written;
        EXPECT_EQ(b.acs(1)->Name, c.read);
        EXPECT_EQ(b.bytes[41 + 256], 0xFF); // the byte after the table is not touched
    }
}

TEST(SpecBuffer, ExtendedTypesMapBothWays)
{
    const std::vector<std::pair<int, int>> codeToIndex {{0, 0}, {5, 5}, {11, 11}, {12, -1},
        {13, -1}, {14, 12}, {15, 13}, {16, -1}, {17, 14}, {18, -1}, {255, -1}, {-1, -1}};
    for (const auto& [code, index] : codeToIndex)
        EXPECT_EQ(comboIndexForCode(code), index) << "code " << code;
    const std::vector<std::pair<int, int>> indexToCode {
        {0, 0}, {11, 11}, {12, 14}, {13, 15}, {14, 17}, {15, -1}, {-1, -1}};
    for (const auto& [index, code] : indexToCode)
        EXPECT_EQ(codeForComboIndex(index), code) << "index " << index;
    EXPECT_STREQ(ExtTypes[12].text, "Unsigned");
    EXPECT_STREQ(ExtTypes[14].text, "SignSeparate");
}

TEST(SpecBuffer, FlagTablesNameEveryBitOnce)
{
    for (size_t i = 0; i < FileFlagBits.size(); ++i) {
        EXPECT_EQ(FileFlagBits[i].bit, static_cast<int>(i));
        EXPECT_EQ(FileFlagBits[i].value, 1u << i);
    }
    for (size_t i = 0; i < KeyFlagBits.size(); ++i) {
        EXPECT_EQ(KeyFlagBits[i].bit, static_cast<int>(i));
        EXPECT_EQ(KeyFlagBits[i].value, 1u << i);
    }
    EXPECT_STREQ(FileFlagBits[11].checkBox, "ChUseVATs");
    EXPECT_STREQ(KeyFlagBits[3].checkBox, "ChNullKey_AllSeg");
    EXPECT_STREQ(KeyFlagBits[9].caption, "NullKeyAnySeg");
}

} // namespace
