#include "Definition.h"
#include "DefinitionImage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>

using namespace recman;

namespace {

using testsupport::Bytes;
using testsupport::SegmentEntry;

// The valid starting definition every case alters: record length 100, page 1024, one 10-byte
// string key; the rest of the 1920 bytes (or `length` bytes) left as filler.
struct CreateBuffer : testsupport::DefinitionImage
{
    CreateBuffer()
    {
        pageSize = 1024;
        numIndexes = 1;
        segments = {SegmentEntry {}};
    }
};

// A collating sequence named `name` whose table reverses the byte order.
Bytes acsBlock(const std::string& name, uint8_t signature = 0xAC)
{
    Bytes table(256);
    for (size_t i = 0; i < 256; ++i)
        table[i] = uint8_t(255 - i);
    return testsupport::acsBlock(name, table, signature);
}

SegmentEntry typed(uint8_t type, uint16_t length, uint16_t flags = 0, uint16_t position = 1)
{
    SegmentEntry s;
    s.position = position;
    s.length = length;
    s.flags = uint16_t(flags | keyflag::ExtendedType);
    s.extType = type;
    return s;
}

int16_t parse(const CreateBuffer& c)
{
    const Bytes b = c.bytes();
    Definition def;
    return parseCreate(b.data(), uint16_t(b.size()), def);
}

// Each fault turns the valid starting definition (record length 100, page 1024, one 10-byte
// string key) into one that Create refuses with exactly one status.
using Fault = std::function<void(CreateBuffer&)>;

struct FaultCase
{
    std::string name;
    int16_t status;
    Fault fault;
};

const FaultCase faultCases[] = {
    {"ShortHeader", 22, [](CreateBuffer& c) { c.length = 15; }},
    {"PageSizeNotMultipleOf512", 24, [](CreateBuffer& c) { c.pageSize = 1000; }},
    {"PageSizeBetween4096And8192", 24, [](CreateBuffer& c) { c.pageSize = 4608; }},
    {"PageSizeZero", 24, [](CreateBuffer& c) { c.pageSize = 0; }},
    {"PageSize32768", 24, [](CreateBuffer& c) { c.pageSize = 32768; }},
    {"RecordLengthBelowFour", 28,
        [](CreateBuffer& c) {
            c.recordLength = 3;
            c.segments[0].length = 2;
        }},
    {"RecordLengthOverPage", 28, [](CreateBuffer& c) { c.recordLength = 1017; }},
    {"RecordLengthWithLinkedDuplicates", 28,
        [](CreateBuffer& c) {
            c.recordLength = 1009;
            c.segments[0].flags = keyflag::Duplicates;
        }},
    {"RecordLengthVariable", 28,
        [](CreateBuffer& c) {
            c.recordLength = 1013;
            c.fileFlags = fileflag::VariableLength;
        }},
    {"RecordLengthTopBitSet", 28, [](CreateBuffer& c) { c.recordLength = 0x8010; }},
    {"CompressedRecordLengthTopBitSet", 28,
        [](CreateBuffer& c) {
            c.recordLength = 0x8010;
            c.fileFlags = fileflag::Compressed;
        }},
    {"NegativeKeyCount", 26, [](CreateBuffer& c) { c.numIndexes = -1; }},
    {"MoreThan119Keys", 26,
        [](CreateBuffer& c) {
            c.pageSize = 4096;
            c.numIndexes = 120;
        }},
    {"NineSegmentsOnPage512", 26,
        [](CreateBuffer& c) {
            c.pageSize = 512;
            c.numIndexes = 9;
            c.segments.assign(9, SegmentEntry {});
        }},
    {"TwentyFourSegmentsOnPage1024", 26,
        [](CreateBuffer& c) {
            c.segments.assign(24, SegmentEntry {1, 1, keyflag::Segmented});
            c.segments.back().flags = 0;
        }},
    {"EntriesBeyondTheBuffer", 22,
        [](CreateBuffer& c) {
            c.numIndexes = 2;
            c.length = 16 + 16 + 8;
        }},
    {"EntryCutShort", 22, [](CreateBuffer& c) { c.length = 31; }},
    {"SegmentedFlagRunsOffTheBuffer", 22,
        [](CreateBuffer& c) {
            c.segments[0].flags = keyflag::Segmented;
            c.length = 32;
        }},
    {"ManualKeyNumberTwice", 6,
        [](CreateBuffer& c) {
            c.fileFlags = fileflag::KeyNumbersGiven;
            c.numIndexes = 2;
            c.segments = {SegmentEntry {}, SegmentEntry {}};
            c.segments[0].manualKeyNumber = 3;
            c.segments[1].manualKeyNumber = 3;
        }},
    {"ManualKeyNumber119", 6,
        [](CreateBuffer& c) {
            c.fileFlags = fileflag::KeyNumbersGiven;
            c.segments[0].manualKeyNumber = 119;
        }},
    {"PositionZero", 27, [](CreateBuffer& c) { c.segments[0].position = 0; }},
    {"SegmentEndsPastRecord", 27, [](CreateBuffer& c) { c.segments[0].position = 92; }},
    {"SegmentPositionWrapsAround", 27, [](CreateBuffer& c) { c.segments[0].position = 65535; }},
    {"ExtendedType12", 49, [](CreateBuffer& c) { c.segments[0] = typed(12, 4); }},
    {"ExtendedType16", 49, [](CreateBuffer& c) { c.segments[0] = typed(16, 4); }},
    {"ExtendedType200", 49, [](CreateBuffer& c) { c.segments[0] = typed(200, 4); }},
    {"IntegerOfThree", 29, [](CreateBuffer& c) { c.segments[0] = typed(1, 3); }},
    {"FloatOfTwo", 29, [](CreateBuffer& c) { c.segments[0] = typed(2, 2); }},
    {"DateOfEight", 29, [](CreateBuffer& c) { c.segments[0] = typed(3, 8); }},
    {"LogicalOfFour", 29, [](CreateBuffer& c) { c.segments[0] = typed(7, 4); }},
    {"AutoincrementOfOne", 29, [](CreateBuffer& c) { c.segments[0] = typed(15, 1); }},
    {"LStringOfOne", 29, [](CreateBuffer& c) { c.segments[0] = typed(10, 1); }},
    {"SignSeparateOfOne", 29, [](CreateBuffer& c) { c.segments[0] = typed(17, 1); }},
    {"StringOfZero", 29, [](CreateBuffer& c) { c.segments[0].length = 0; }},
    {"OldBinaryOdd", 29,
        [](CreateBuffer& c) {
            c.segments[0].flags = keyflag::Binary;
            c.segments[0].length = 3;
        }},
    {"KeyOver255", 29,
        [](CreateBuffer& c) {
            c.recordLength = 300;
            c.segments = {SegmentEntry {1, 200, keyflag::Segmented}, SegmentEntry {201, 56}};
        }},
    {"SegmentsDisagreeOnDuplicates", 45,
        [](CreateBuffer& c) {
            c.segments = {
                SegmentEntry {1, 4, keyflag::Segmented | keyflag::Duplicates}, SegmentEntry {5, 4}};
        }},
    {"SegmentsDisagreeOnNullFlags", 45,
        [](CreateBuffer& c) {
            c.segments = {SegmentEntry {1, 4, keyflag::Segmented | keyflag::NullAny},
                SegmentEntry {5, 4, keyflag::NullAll}};
        }},
    {"CollatingSequenceOnInteger", 45,
        [](CreateBuffer& c) {
            c.segments[0] = typed(1, 4, keyflag::Acs);
            c.blocks = {acsBlock("UPPER")};
        }},
    {"CaseInsensitiveOnOldBinary", 45,
        [](CreateBuffer& c) {
            c.segments[0].flags = keyflag::Binary | keyflag::CaseInsensitive;
            c.segments[0].length = 4;
        }},
    {"KeyOnlyWithTwoKeys", 45,
        [](CreateBuffer& c) {
            c.fileFlags = fileflag::KeyOnly;
            c.numIndexes = 2;
            c.segments = {SegmentEntry {}, SegmentEntry {}};
        }},
    {"KeyOnlyWithoutKeys", 45,
        [](CreateBuffer& c) {
            c.fileFlags = fileflag::KeyOnly;
            c.numIndexes = 0;
        }},
    {"KeyOnlyVariable", 45,
        [](CreateBuffer& c) { c.fileFlags = fileflag::KeyOnly | fileflag::VariableLength; }},
    // Found by fuzzing Create: a record whose key is null would be counted and never readable.
    {"KeyOnlyNullAll", 45,
        [](CreateBuffer& c) {
            c.fileFlags = fileflag::KeyOnly;
            c.segments[0].flags = keyflag::NullAll;
        }},
    {"KeyOnlyNullAny", 45,
        [](CreateBuffer& c) {
            c.fileFlags = fileflag::KeyOnly;
            c.segments[0].flags = keyflag::NullAny;
        }},
    {"AutoincrementWithDuplicates", 55,
        [](CreateBuffer& c) { c.segments[0] = typed(15, 4, keyflag::Duplicates); }},
    {"AutoincrementInTwoSegments", 55,
        [](CreateBuffer& c) {
            c.segments = {typed(15, 4, keyflag::Segmented), typed(0, 4, 0, 5)};
        }},
    {"AutoincrementAsSecondSegment", 55,
        [](CreateBuffer& c) {
            c.segments = {typed(0, 4, keyflag::Segmented), typed(15, 4, 0, 5)};
        }},
    {"CollatingBlockMissing", 48,
        [](CreateBuffer& c) {
            c.segments[0].flags = keyflag::Acs;
            c.length = 32 + 264;
        }},
    {"CollatingBlockSignature", 48,
        [](CreateBuffer& c) {
            c.segments[0].flags = keyflag::Acs;
            c.blocks = {acsBlock("UPPER", 0xAB)};
        }},
    {"CollatingNumberBeyondTheBuffer", 48,
        [](CreateBuffer& c) {
            c.segments[0].flags = keyflag::Acs;
            c.segments[0].acsNumber = 7;
            c.blocks = {acsBlock("UPPER")};
        }},
    {"CollatingNumberOneWithOneBlock", 48,
        [](CreateBuffer& c) {
            c.segments[0].flags = keyflag::Acs | keyflag::CaseInsensitive;
            c.segments[0].acsNumber = 1;
            c.blocks = {acsBlock("UPPER")};
            c.length = 16 + 16 + 265;
        }},
};

void PrintTo(const FaultCase& c, std::ostream* os)
{
    *os << c.name;
}

class CreateFault : public testing::TestWithParam<FaultCase>
{
};

TEST(CreateFault, StartingDefinitionIsValid)
{
    EXPECT_EQ(parse(CreateBuffer {}), 0);
}

TEST_P(CreateFault, AnswersItsStatus)
{
    CreateBuffer c;
    GetParam().fault(c);
    EXPECT_EQ(parse(c), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Create, CreateFault, testing::ValuesIn(faultCases), [](const auto& p) { return p.param.name; });

// Two faults at once: the check that comes first in Create's order answers. The later check's
// fault sits in the earlier key where there are two keys, so the order of the checks decides, not
// the order of the segments.
const FaultCase pairCases[] = {
    {"ShortHeaderBeforePageSize", 22,
        [](CreateBuffer& c) {
            c.length = 15;
            c.pageSize = 0;
        }},
    {"PageSizeBeforeRecordLength", 24,
        [](CreateBuffer& c) {
            c.pageSize = 1000;
            c.recordLength = 2;
        }},
    {"RecordLengthBeforeKeyCount", 28,
        [](CreateBuffer& c) {
            c.recordLength = 1017;
            c.numIndexes = -1;
        }},
    {"KeyCountBeforeShortEntries", 26,
        [](CreateBuffer& c) {
            c.pageSize = 4096;
            c.numIndexes = 120;
            c.length = 31;
        }},
    {"ShortEntriesBeforeKeyNumber", 22,
        [](CreateBuffer& c) {
            c.fileFlags = fileflag::KeyNumbersGiven;
            c.numIndexes = 2;
            c.segments = {SegmentEntry {}, SegmentEntry {}};
            c.segments[0].manualKeyNumber = 119;
            c.length = 40;
        }},
    {"KeyNumberBeforePosition", 6,
        [](CreateBuffer& c) {
            c.fileFlags = fileflag::KeyNumbersGiven;
            c.numIndexes = 2;
            c.segments = {SegmentEntry {0, 10}, SegmentEntry {}};
            c.segments[0].manualKeyNumber = 1;
            c.segments[1].manualKeyNumber = 1;
        }},
    {"PositionBeforeType", 27,
        [](CreateBuffer& c) {
            c.numIndexes = 2;
            c.segments = {typed(12, 4), SegmentEntry {95, 10}};
        }},
    {"TypeBeforeLength", 49,
        [](CreateBuffer& c) {
            c.numIndexes = 2;
            c.segments = {typed(1, 3), typed(13, 4)};
        }},
    {"LengthBeforeFlags", 29,
        [](CreateBuffer& c) {
            c.numIndexes = 2;
            c.segments = {typed(1, 4, keyflag::CaseInsensitive), SegmentEntry {1, 0}};
        }},
    {"FlagsBeforeAutoincrement", 45,
        [](CreateBuffer& c) {
            c.numIndexes = 2;
            c.segments = {typed(15, 4, keyflag::Duplicates),
                SegmentEntry {1, 4, keyflag::Segmented | keyflag::Modifiable}, SegmentEntry {5, 4}};
        }},
    {"KeyOnlyBeforeAutoincrement", 45,
        [](CreateBuffer& c) {
            c.fileFlags = fileflag::KeyOnly | fileflag::VariableLength;
            c.segments = {typed(15, 4, keyflag::Duplicates)};
        }},
    {"AutoincrementBeforeCollating", 55,
        [](CreateBuffer& c) {
            c.numIndexes = 2;
            c.segments
                = {SegmentEntry {1, 10, keyflag::Acs}, typed(15, 4, keyflag::Duplicates, 20)};
            c.blocks = {acsBlock("UPPER", 0)};
        }},
};

INSTANTIATE_TEST_SUITE_P(FirstFailureWins, CreateFault, testing::ValuesIn(pairCases),
    [](const auto& p) { return p.param.name; });

TEST(CreateLimits, BoundariesAreAccepted)
{
    const std::vector<std::pair<std::string, Fault>> accepted = {
        {"PageSizes",
            [](CreateBuffer& c) {
                c.pageSize = 8192;
                c.recordLength = 8184;
            }},
        {"RecordLengthFour",
            [](CreateBuffer& c) {
                c.recordLength = 4;
                c.segments[0].length = 4;
            }},
        {"RecordFillsPage", [](CreateBuffer& c) { c.recordLength = 1016; }},
        // As real compressed files have them: the record lives in variable pages.
        {"CompressedRecordLongerThanPage",
            [](CreateBuffer& c) {
                c.recordLength = 5000;
                c.fileFlags = fileflag::Compressed | fileflag::VariableLength;
            }},
        {"RepeatingDuplicatesTakeNoPointer",
            [](CreateBuffer& c) {
                c.recordLength = 1016;
                c.segments[0].flags = keyflag::Duplicates | keyflag::RepeatingDuplicates;
            }},
        {"EightSegmentsOnPage512",
            [](CreateBuffer& c) {
                c.pageSize = 512;
                c.numIndexes = 8;
                c.segments.assign(8, SegmentEntry {});
            }},
        {"NoKeys",
            [](CreateBuffer& c) {
                c.numIndexes = 0;
                c.segments.clear();
            }},
        {"KeyOf255",
            [](CreateBuffer& c) {
                c.recordLength = 300;
                c.segments = {SegmentEntry {1, 200, keyflag::Segmented}, SegmentEntry {201, 55}};
            }},
        {"SegmentEndsAtRecordEnd", [](CreateBuffer& c) { c.segments[0].position = 91; }},
        {"ManualKeyNumber118",
            [](CreateBuffer& c) {
                c.fileFlags = fileflag::KeyNumbersGiven;
                c.segments[0].manualKeyNumber = 118;
            }},
        {"KeyOnly", [](CreateBuffer& c) { c.fileFlags = fileflag::KeyOnly; }},
        {"CaseInsensitiveZString",
            [](CreateBuffer& c) { c.segments[0] = typed(11, 10, keyflag::CaseInsensitive); }},
        {"UnusedCollatingBlockNeedsNoSignature",
            [](CreateBuffer& c) {
                c.segments[0].flags = keyflag::Acs;
                c.segments[0].acsNumber = 1;
                c.blocks = {acsBlock("JUNK", 0), acsBlock("UPPER")};
            }},
        {"ExactLength",
            [](CreateBuffer& c) {
                c.segments[0].flags = keyflag::Acs;
                c.blocks = {acsBlock("UPPER")};
                c.length = 16 + 16 + 265;
            }},
    };
    for (const auto& [name, change] : accepted) {
        CreateBuffer c;
        change(c);
        EXPECT_EQ(parse(c), 0) << name;
    }
    for (uint16_t pageSize = 512; pageSize <= 4096; pageSize += 512) {
        CreateBuffer c;
        c.pageSize = pageSize;
        c.recordLength = 10;
        EXPECT_EQ(parse(c), 0) << pageSize;
    }
}

// The segments a file may hold grow with its page size; one more than the limit answers 26.
TEST(CreateLimits, SegmentsPerPageSize)
{
    const std::pair<uint16_t, size_t> limits[] = {{512, 8}, {1024, 23}, {1536, 24}, {2048, 54},
        {3584, 54}, {4096, 119}, {8192, 119}, {16384, 119}};
    for (const auto& [pageSize, limit] : limits) {
        for (const size_t count : {limit, limit + 1}) {
            CreateBuffer c;
            c.pageSize = pageSize;
            c.segments.assign(count, SegmentEntry {1, 1, keyflag::Segmented});
            c.segments.back().flags = 0;
            c.length = 16 + 16 * count;
            EXPECT_EQ(parse(c), count > limit ? 26 : 0) << pageSize << " " << count;
        }
    }
}

// Every length from 0 to 256 for every key type: accepted exactly where the type allows it,
// 29 everywhere else. Real files written by the vendor's engine hold 6-byte unsigned binary keys
// and 1-byte zstring segments, so those must pass.
TEST(CreateLimits, LengthsByType)
{
    auto exactly = [](const std::vector<int>& allowed) {
        return [allowed](
                   int n) { return std::find(allowed.begin(), allowed.end(), n) != allowed.end(); };
    };
    auto from = [](int least) { return [least](int n) { return n >= least && n <= 255; }; };
    auto even = [](int n) { return n >= 2 && n <= 255 && n % 2 == 0; };
    struct TypeCase
    {
        const char* name;
        int type; // extended type, or -1 for the old binary flag, -2 for an old-style string
        std::function<bool(int)> allowed;
    };
    const TypeCase types[] = {
        {"String", 0, from(1)},
        {"Integer", 1, exactly({1, 2, 4, 8})},
        {"Float", 2, exactly({4, 8})},
        {"Date", 3, exactly({4})},
        {"Time", 4, exactly({4})},
        {"Decimal", 5, from(1)},
        {"Money", 6, from(1)},
        {"Logical", 7, exactly({1, 2})},
        {"Numeric", 8, from(1)},
        {"BFloat", 9, exactly({4, 8})},
        {"LString", 10, from(2)},
        {"ZString", 11, from(1)},
        {"Unsigned", 14, [even](int n) { return n == 1 || even(n); }},
        {"Autoincrement", 15, exactly({2, 4, 8})},
        {"SignSeparate", 17, from(2)},
        {"OldBinary", -1, even},
        {"OldString", -2, from(1)},
    };
    for (const TypeCase& t : types) {
        for (int n = 0; n <= 256; ++n) {
            CreateBuffer c;
            c.recordLength = 300;
            if (t.type >= 0) {
                c.segments[0] = typed(uint8_t(t.type), uint16_t(n));
            } else {
                c.segments[0].length = uint16_t(n);
                c.segments[0].flags = t.type == -1 ? keyflag::Binary : 0;
            }
            EXPECT_EQ(parse(c), t.allowed(n) ? 0 : 29) << t.name << " of " << n;
        }
    }
}

TEST(ParseCreate, LeavesTheDefinitionUntouchedOnFailure)
{
    Definition def;
    def.recordLength = 77;
    CreateBuffer c;
    c.pageSize = 1000;
    const Bytes b = c.bytes();
    ASSERT_EQ(parseCreate(b.data(), uint16_t(b.size()), def), 24);
    EXPECT_EQ(def.recordLength, 77);
    EXPECT_EQ(parseCreate(nullptr, 0, def), 22);
}

TEST(ParseCreate, GroupsSegmentsIntoKeysAndNumbersThem)
{
    CreateBuffer c;
    c.numIndexes = 3;
    c.segments = {SegmentEntry {1, 4, keyflag::Segmented | keyflag::Duplicates},
        SegmentEntry {5, 4, keyflag::Duplicates}, SegmentEntry {9, 2},
        SegmentEntry {11, 2, keyflag::Segmented}, SegmentEntry {13, 2, keyflag::Segmented},
        SegmentEntry {15, 2}};
    c.filler = 0x10; // whatever follows the last key is not read as more segments
    const Bytes b = c.bytes();
    Definition def;
    ASSERT_EQ(parseCreate(b.data(), uint16_t(b.size()), def), 0);
    ASSERT_EQ(def.keys.size(), 3u);
    EXPECT_EQ(def.keys[0].segments.size(), 2u);
    EXPECT_EQ(def.keys[1].segments.size(), 1u);
    EXPECT_EQ(def.keys[2].segments.size(), 3u);
    EXPECT_TRUE(def.keys[0].duplicates());
    EXPECT_EQ(def.keys[2].totalLength(), 6);
    EXPECT_EQ(def.segmentCount(), 6);
    EXPECT_EQ(def.imageSize(), 16 + 6 * 16);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(def.keys[size_t(k)].number, k);
    ASSERT_NE(def.keyByNumber(1), nullptr);
    EXPECT_EQ(def.keyByNumber(1)->segments[0].position, 9);
    EXPECT_EQ(def.keyByNumber(3), nullptr);
}

TEST(ParseCreate, GivenKeyNumbersReplaceOrdinals)
{
    CreateBuffer c;
    c.fileFlags = fileflag::KeyNumbersGiven;
    c.numIndexes = 2;
    c.segments
        = {SegmentEntry {1, 4, keyflag::Segmented}, SegmentEntry {5, 4}, SegmentEntry {9, 2}};
    c.segments[0].manualKeyNumber = 7;
    c.segments[1].manualKeyNumber = 0; // only the first segment's number counts
    c.segments[2].manualKeyNumber = 0;
    const Bytes b = c.bytes();
    Definition def;
    ASSERT_EQ(parseCreate(b.data(), uint16_t(b.size()), def), 0);
    EXPECT_EQ(def.keys[0].number, 7);
    EXPECT_EQ(def.keys[1].number, 0);
    EXPECT_EQ(def.keyByNumber(7), &def.keys[0]);
    EXPECT_EQ(def.keyByNumber(1), nullptr);
}

// A file with a three-segment key using two collating sequences and a second key: the Stat image
// is the Create buffer again, byte for byte, apart from the live figures.
TEST(StatImage, RoundTripsTheCreateBuffer)
{
    CreateBuffer c;
    c.recordLength = 200;
    c.pageSize = 2048;
    c.numIndexes = 2;
    c.numRecords = 12345;
    c.fileFlags = 0xF000 | fileflag::VariableLength | 0x0800;
    c.duplicatePointers = 3;
    c.reserved = 0x5A;
    c.unusedPages = 9;
    SegmentEntry first = typed(0, 20, keyflag::Segmented | keyflag::Acs | keyflag::Duplicates);
    first.numKeyValues = 111;
    first.nullValue = ' ';
    first.reserved = 0xBEEF;
    SegmentEntry second
        = typed(1, 4, keyflag::Segmented | keyflag::Duplicates | keyflag::Descending, 21);
    second.numKeyValues = 111;
    SegmentEntry third
        = typed(11, 30, keyflag::Duplicates | keyflag::Acs | keyflag::CaseInsensitive, 25);
    third.acsNumber = 1;
    third.numKeyValues = 111;
    third.manualKeyNumber = 0x44;
    SegmentEntry other = typed(14, 8, keyflag::Modifiable | 0x8000, 60);
    other.numKeyValues = 333;
    c.segments = {first, second, third, other};
    c.blocks = {acsBlock("UPPER"), acsBlock("LOWERCAS")};
    c.filler = 0xCC;
    const Bytes created = c.bytes();

    Definition def;
    ASSERT_EQ(parseCreate(created.data(), uint16_t(created.size()), def), 0);
    ASSERT_EQ(def.keys.size(), 2u);
    ASSERT_EQ(def.keys[0].segments.size(), 3u);
    ASSERT_EQ(def.acsBlocks.size(), 2u);
    EXPECT_EQ(def.imageSize(), 16 + 4 * 16 + 2 * 265);

    const Bytes asCreated(created.begin(), created.begin() + def.imageSize());
    EXPECT_EQ(def.statImage(12345, {111, 333}, 9), asCreated);

    const Bytes live = def.statImage(0x01020304, {0xA0B0C0D0, 5}, 0x0708);
    ASSERT_EQ(live.size(), asCreated.size());
    Bytes expected = asCreated;
    auto put = [&expected](size_t at, std::initializer_list<uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), expected.begin() + long(at));
    };
    put(6, {0x04, 0x03, 0x02, 0x01});
    put(14, {0x08, 0x07});
    for (size_t segmentAt : {16u, 32u, 48u})
        put(segmentAt + 6, {0xD0, 0xC0, 0xB0, 0xA0});
    put(64 + 6, {5, 0, 0, 0});
    EXPECT_EQ(live, expected);
}

TEST(StatImage, KeylessFileIsJustTheHeader)
{
    CreateBuffer c;
    c.numIndexes = 0;
    c.segments.clear();
    c.numRecords = 4;
    const Bytes created = c.bytes();
    Definition def;
    ASSERT_EQ(parseCreate(created.data(), uint16_t(created.size()), def), 0);
    EXPECT_EQ(def.statImage(4, {}, 0), Bytes(created.begin(), created.begin() + 16));
}

} // namespace
