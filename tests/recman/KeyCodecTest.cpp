#include "KeyCodec.h"

#include "ByteVector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

using namespace recman;
using testsupport::hex;

namespace {

using Bytes = std::vector<uint8_t>;

Segment segment(uint16_t position, uint16_t length, SegmentType type, uint16_t flags = 0)
{
    Segment s;
    s.position = position;
    s.length = length;
    s.flags = flags;
    if (type == SegmentType::OldBinary) {
        s.flags |= keyflag::Binary;
    } else if (type != SegmentType::OldString) {
        s.flags |= keyflag::ExtendedType;
        s.extType = uint8_t(type);
    }
    return s;
}

Key makeKey(std::vector<Segment> segments)
{
    Key key;
    key.segments = std::move(segments);
    for (size_t i = 0; i + 1 < key.segments.size(); ++i)
        key.segments[i].flags |= keyflag::Segmented;
    return key;
}

Bytes le(int64_t value, size_t length)
{
    Bytes b(length);
    for (size_t i = 0; i < length; ++i)
        b[i] = uint8_t(uint64_t(value) >> (8 * i));
    return b;
}

template <typename T> Bytes ieee(T value)
{
    Bytes b(sizeof(T));
    std::memcpy(b.data(), &value, sizeof(T));
    return b;
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes date(int day, int month, int year)
{
    return {uint8_t(day), uint8_t(month), uint8_t(year), uint8_t(year >> 8)};
}

Bytes timeOfDay(int hours, int minutes, int seconds, int hundredths)
{
    return {uint8_t(hundredths), uint8_t(seconds), uint8_t(minutes), uint8_t(hours)};
}

// Packed decimal of `length` bytes from a digit string, with the given sign half-byte.
Bytes packed(const std::string& digits, uint8_t sign, size_t length)
{
    std::string all = std::string(2 * length - 1 - digits.size(), '0') + digits;
    Bytes b(length);
    for (size_t i = 0; i < length; ++i) {
        const uint8_t hi = uint8_t(all[2 * i] - '0');
        const uint8_t lo = i + 1 < length ? uint8_t(all[2 * i + 1] - '0') : sign;
        b[i] = uint8_t(hi << 4 | lo);
    }
    return b;
}

// An lstring field of `length` bytes: count byte, content, then filler that must not matter.
Bytes lstring(const Bytes& content, size_t length, uint8_t filler = 0)
{
    Bytes b(length, filler);
    b[0] = uint8_t(content.size());
    std::copy(content.begin(), content.end(), b.begin() + 1);
    return b;
}

Bytes zstring(const std::string& content, size_t length, uint8_t filler = 0)
{
    // Built by appending: copying into a pre-sized vector draws a false -Wstringop-overflow from
    // GCC 12 at -O2.
    Bytes b(content.begin(), content.end());
    b.push_back(0);
    b.resize(length, filler);
    return b;
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

AcsBlockDef acsBlock(const std::string& name, const std::array<uint8_t, 256>& table)
{
    AcsBlockDef block;
    block.bytes[0] = AcsSignature;
    std::copy(name.begin(), name.end(), block.bytes.begin() + 1);
    std::copy(table.begin(), table.end(), block.bytes.begin() + 9);
    return block;
}

// A collating sequence that sorts the alphabet backwards (Z first), both cases alike.
AcsBlockDef reversedAlphabet()
{
    std::array<uint8_t, 256> table {};
    for (int i = 0; i < 256; ++i)
        table[size_t(i)] = uint8_t(i);
    for (size_t i = 0; i < 26; ++i) {
        table['A' + i] = uint8_t('Z' - i);
        table['a' + i] = uint8_t('Z' - i);
    }
    return acsBlock("REVERSE", table);
}

// A record value in its place in the true order; `same` marks it equal to the one before.
struct Value
{
    Bytes record;
    bool same = false;
};
Value same(Bytes record)
{
    return {std::move(record), true};
}

struct OrderCase
{
    std::string name;
    std::vector<Segment> segments;
    std::vector<Value> values; // in the record manager's order
    std::vector<AcsBlockDef> acs = {};
};

Bytes encoded(const KeyCodec& codec, const Bytes& record)
{
    Bytes out;
    EXPECT_TRUE(codec.encode(record.data(), record.size(), out));
    return out;
}

void PrintTo(const OrderCase& c, std::ostream* os)
{
    *os << c.name;
}

class KeyOrder : public testing::TestWithParam<OrderCase>
{
};

TEST_P(KeyOrder, EncodingsFollowTheTrueOrder)
{
    const OrderCase& c = GetParam();
    const Key key = makeKey(c.segments);
    const KeyCodec codec(key, c.acs);
    for (size_t i = 1; i < c.values.size(); ++i) {
        const Bytes before = encoded(codec, c.values[i - 1].record);
        const Bytes after = encoded(codec, c.values[i].record);
        if (c.values[i].same) {
            EXPECT_EQ(before, after)
                << "values " << i - 1 << " and " << i << ": " << hex(before) << "/ " << hex(after);
        } else {
            EXPECT_LT(before, after)
                << "values " << i - 1 << " and " << i << ": " << hex(before) << "/ " << hex(after);
        }
    }
}

std::vector<Value> integers(size_t length, std::initializer_list<int64_t> ordered)
{
    std::vector<Value> values;
    for (int64_t v : ordered)
        values.push_back({le(v, length)});
    return values;
}

// Unsigned numbers of `length` bytes, little-endian, ascending: zero, then for each byte from the
// lowest, the number with only that byte 1 and the number with it and every byte below 0xFF.
// A codec that compared any byte out of its weight's place would misorder a pair.
std::vector<Value> ascendingUnsigned(size_t length)
{
    std::vector<Value> values {{Bytes(length, 0)}};
    for (size_t i = 0; i < length; ++i) {
        Bytes one(length, 0);
        one[i] = 1;
        values.push_back({one});
        Bytes ones(length, 0);
        std::fill(ones.begin(), ones.begin() + long(i) + 1, 0xFF);
        values.push_back({ones});
    }
    return values;
}

const OrderCase orderCases[] = {
    {"Integer1", {segment(1, 1, SegmentType::Integer)}, integers(1, {-128, -1, 0, 1, 127})},
    {"Integer2", {segment(1, 2, SegmentType::Integer)},
        integers(2, {-32768, -256, -255, -1, 0, 1, 255, 256, 32767})},
    {"Integer4", {segment(1, 4, SegmentType::Integer)},
        integers(4, {INT32_MIN, -65536, -1, 0, 1, 65535, 65536, INT32_MAX})},
    {"Integer8", {segment(1, 8, SegmentType::Integer)},
        integers(8, {INT64_MIN, -(int64_t(1) << 32), -1, 0, 1, 255, int64_t(1) << 40, INT64_MAX})},
    {"Autoincrement4", {segment(1, 4, SegmentType::Autoincrement)},
        integers(4, {-70000, -1, 0, 1, 256, 70000})},
    {"Unsigned2", {segment(1, 2, SegmentType::Unsigned)},
        integers(2, {0, 1, 255, 256, 32768, 65535})},
    {"Unsigned8", {segment(1, 8, SegmentType::Unsigned)},
        integers(8, {0, 1, 256, INT64_MAX, int64_t(UINT64_MAX)})},
    {"Unsigned1", {segment(1, 1, SegmentType::Unsigned)}, ascendingUnsigned(1)},
    {"Unsigned6", {segment(1, 6, SegmentType::Unsigned)}, ascendingUnsigned(6)},
    {"Unsigned10", {segment(1, 10, SegmentType::Unsigned)}, ascendingUnsigned(10)},
    {"Unsigned254", {segment(1, 254, SegmentType::Unsigned)}, ascendingUnsigned(254)},
    {"OldBinary2", {segment(1, 2, SegmentType::OldBinary)}, ascendingUnsigned(2)},
    {"OldBinary14", {segment(1, 14, SegmentType::OldBinary)}, ascendingUnsigned(14)},
    {"OldBinary254", {segment(1, 254, SegmentType::OldBinary)}, ascendingUnsigned(254)},
    {"Unsigned6ThenString",
        {segment(1, 6, SegmentType::Unsigned), segment(7, 2, SegmentType::String)},
        {{cat({le(1, 6), text("ZZ")})}, {cat({le(0x100, 6), text("AA")})},
            {cat({le(0x100, 6), text("AB")})}, {cat({le(0x10000000000, 6), text("AA")})}}},
    {"ZString1", {segment(1, 1, SegmentType::ZString)},
        {{Bytes {0}}, {Bytes {1}}, {text("A")}, {text("a")}, {Bytes {0xFF}}}},
    {"OldBinary6", {segment(1, 6, SegmentType::OldBinary)},
        integers(6, {0, 1, 0xFF, 0x100, 0x10000, 0x7FFFFFFFFF, 0x800000000000})},
    {"Logical2", {segment(1, 2, SegmentType::Logical)}, integers(2, {0, 1, 0x100, 0xFFFF})},
    {"Float4", {segment(1, 4, SegmentType::Float)},
        {{ieee(-1e30f)}, {ieee(-2.5f)}, {ieee(-1.0f)}, {ieee(-1e-30f)}, {ieee(-0.0f)},
            same(ieee(0.0f)), {ieee(1e-30f)}, {ieee(1.0f)}, {ieee(1.5f)}, {ieee(2.0f)},
            {ieee(1e30f)}}},
    {"Float8", {segment(1, 8, SegmentType::Float)},
        {{ieee(-1e300)}, {ieee(-2.0)}, {ieee(-1.5)}, {ieee(-1e-300)}, {ieee(0.0)}, same(ieee(-0.0)),
            {ieee(4.9e-324)}, {ieee(0.5)}, {ieee(3.0)}, {ieee(1e300)}}},
    // 4-byte bfloats: mantissa little-endian, sign in the top bit of the third byte, exponent
    // last.
    {"BFloat4", {segment(1, 4, SegmentType::BFloat)},
        {{{0x00, 0x00, 0xA0, 0x84}},        // -10
            {{0x00, 0x00, 0xC0, 0x82}},     // -3
            {{0x00, 0x00, 0x80, 0x81}},     // -1
            {{0x00, 0x00, 0x80, 0x80}},     // -0.5
            {{0x00, 0x00, 0x00, 0x00}},     // 0
            same({0x12, 0x34, 0x80, 0x00}), // exponent 0 is zero, whatever else is there
            {{0x00, 0x00, 0x00, 0x80}},     // 0.5
            {{0x00, 0x00, 0x00, 0x81}},     // 1
            {{0x01, 0x00, 0x00, 0x81}},     // a little more than 1
            {{0x00, 0x00, 0x00, 0x82}},     // 2
            {{0x00, 0x00, 0x40, 0x82}},     // 3
            {{0x00, 0x00, 0x20, 0x84}}}},   // 10
    {"BFloat8", {segment(1, 8, SegmentType::BFloat)},
        {{{0, 0, 0, 0, 0, 0, 0xC0, 0x82}},       // -3
            {{0xFF, 0, 0, 0, 0, 0, 0x80, 0x81}}, // a little below -1
            {{0, 0, 0, 0, 0, 0, 0x80, 0x81}},    // -1
            {{0, 0, 0, 0, 0, 0, 0, 0}},          // 0
            {{0, 0, 0, 0, 0, 0, 0, 0x81}},       // 1
            {{0, 0, 0, 0, 0, 0, 0x40, 0x82}}}},  // 3
    {"Date", {segment(1, 4, SegmentType::Date)},
        {{date(31, 12, 1999)}, {date(1, 1, 2000)}, {date(2, 1, 2000)}, {date(31, 1, 2000)},
            {date(1, 2, 2000)}, {date(15, 12, 2000)}, {date(1, 1, 2001)}, {date(1, 1, 2256)}}},
    {"Time", {segment(1, 4, SegmentType::Time)},
        {{timeOfDay(0, 0, 0, 0)}, {timeOfDay(0, 0, 0, 99)}, {timeOfDay(0, 0, 1, 0)},
            {timeOfDay(0, 1, 0, 0)}, {timeOfDay(1, 0, 0, 0)}, {timeOfDay(12, 59, 59, 99)},
            {timeOfDay(13, 0, 0, 0)}, {timeOfDay(23, 59, 59, 99)}}},
    {"Decimal", {segment(1, 3, SegmentType::Decimal)},
        {{packed("99999", 0xD, 3)}, {packed("1000", 0xB, 3)}, {packed("999", 0xD, 3)},
            {packed("1", 0xD, 3)}, {packed("0", 0xC, 3)}, same(packed("0", 0xD, 3)),
            same(packed("0", 0xF, 3)), {packed("1", 0xC, 3)}, {packed("2", 0xF, 3)},
            same(packed("2", 0xC, 3)), {packed("999", 0xC, 3)}, {packed("1000", 0xA, 3)},
            {packed("99999", 0xC, 3)}}},
    {"Money", {segment(1, 5, SegmentType::Money)},
        {{packed("123456789", 0xD, 5)}, {packed("12", 0xD, 5)}, {packed("0", 0xC, 5)},
            {packed("12", 0xC, 5)}, {packed("100", 0xC, 5)}, {packed("123456789", 0xC, 5)}}},
    {"Numeric", {segment(1, 5, SegmentType::Numeric)},
        {{text("9999R")},                                              // -99999
            {text("  99R")},                                           // -999
            {text("0010}")},                                           // -100
            {text("0001J")},                                           // -11
            {text("0000J")},                                           // -1
            {text("0000{")},                                           // 0
            same(text("0000}")),                                       // negative zero
            same(text("00000")), same(text("    0")), {text("0000A")}, // 1
            same(text("00001")), {text("0001{")},                      // 10
            {text("  12B")},                                           // 122
            {text("99999")}}},
    {"SignSeparateNumeric", {segment(1, 5, SegmentType::SignSeparate)},
        {{text("9999-")}, {text("0100-")}, same(text(" 100-")), {text("0099-")}, {text("0001-")},
            {text("0000+")}, same(text("0000-")), same(text("    +")), {text("0001+")},
            {text("  99+")}, {text("0100+")}, {text("9999+")}}},
    {"String", {segment(1, 4, SegmentType::String)},
        {{text("\x01zzz")}, {text("ABCD")}, {text("ABCE")}, {text("abcd")},
            {Bytes {0xFF, 0, 0, 0}}}},
    {"LStringPrefixAndZeroByte", {segment(1, 8, SegmentType::LString)},
        {{lstring({}, 8, 'z')}, {lstring(text(std::string("\0", 1)), 8)},
            {lstring(text(std::string("\0\0", 2)), 8)}, {lstring(text(std::string("\0a", 2)), 8)},
            {lstring(text("a"), 8, 'q')}, same(lstring(text("a"), 8, 'r')),
            {lstring(text(std::string("a\0", 2)), 8)}, {lstring(text("ab"), 8)},
            {lstring(text("abcdefg"), 8)},
            // a count beyond the field reads only the field
            same(cat({{200}, text("abcdefg")})), {lstring(text("b"), 8)}}},
    {"ZStringPrefix", {segment(1, 6, SegmentType::ZString)},
        {{zstring("", 6, 'x')}, {zstring("A", 6)}, same(zstring("A", 6, 'y')), {zstring("AB", 6)},
            {zstring("ABC", 6, 'z')}, {text("ABCDEF")}, {zstring("B", 6)}}},
    {"DescendingInteger", {segment(1, 2, SegmentType::Integer, keyflag::Descending)},
        integers(2, {32767, 256, 1, 0, -1, -256, -32768})},
    {"DescendingZString", {segment(1, 5, SegmentType::ZString, keyflag::Descending)},
        {{zstring("b", 5)}, {zstring("abc", 5)}, {zstring("ab", 5)}, {zstring("a", 5)},
            {zstring("", 5)}}},
    {"AlternateCollatingSequenceReversed", {segment(1, 3, SegmentType::String, keyflag::Acs)},
        {{text("ZOO")}, same(text("zoo")), {text("YAK")}, {text("APE")}, {text("AAR")}},
        {reversedAlphabet()}},
    {"SecondCollatingSequenceByNumber", {[] {
         Segment s = segment(1, 6, SegmentType::ZString, keyflag::Acs | keyflag::CaseInsensitive);
         s.acsNumber = 1;
         return s;
     }()},
        {{zstring("Z", 6)}, {zstring("Zed", 6)}, {zstring("ZA", 6)}, {zstring("y", 6)},
            {zstring("a", 6)}},
        {acsBlock("IDENTITY",
             [] {
                 std::array<uint8_t, 256> t {};
                 for (int i = 0; i < 256; ++i)
                     t[size_t(i)] = uint8_t(i);
                 return t;
             }()),
            reversedAlphabet()}},
    {"CaseInsensitive", {segment(1, 6, SegmentType::String, keyflag::CaseInsensitive)},
        {{text("APPLE ")}, same(text("apple ")), same(text("ApPlE ")), {text("Banana")},
            {text("cherry")}, {text("{{{{{{")}}},
    {"CaseInsensitiveOldStyle", {segment(1, 2, SegmentType::OldString, keyflag::CaseInsensitive)},
        {{text("A[")}, same(text("a[")), {text("Z`")}, {text("[a")}, {text("`a")}}},
    {"MultiSegmentMixed",
        {segment(1, 2, SegmentType::Integer),
            segment(3, 4, SegmentType::ZString, keyflag::Descending),
            segment(7, 4, SegmentType::Date)},
        {{cat({le(-5, 2), zstring("b", 4), date(1, 1, 2020)})},
            {cat({le(-5, 2), zstring("ab", 4), date(1, 1, 1990)})},
            {cat({le(-5, 2), zstring("a", 4), date(1, 1, 1990)})},
            {cat({le(-5, 2), zstring("a", 4), date(2, 1, 1990)})},
            {cat({le(-5, 2), zstring("", 4), date(1, 1, 1980)})},
            {cat({le(3, 2), zstring("zzz", 4), date(1, 1, 1980)})}}},
    {"MultiSegmentStringThenNumber",
        {segment(5, 3, SegmentType::LString), segment(1, 4, SegmentType::Integer)},
        {{cat({le(-1, 4), lstring(text("a"), 3, 1)})}, {cat({le(100, 4), lstring(text("a"), 3)})},
            {cat({le(0, 4), lstring(text(std::string("a\0", 2)), 3)})},
            {cat({le(-9, 4), lstring(text("b"), 3)})}}},
};

INSTANTIATE_TEST_SUITE_P(Types, KeyOrder, testing::ValuesIn(orderCases),
    [](const auto& param) { return param.param.name; });

struct NullCase
{
    std::string name;
    Bytes record;
    uint16_t nullFlag;
    bool stored; // whether the key is in the index
};

void PrintTo(const NullCase& c, std::ostream* os)
{
    *os << c.name;
}

class NullKeys : public testing::TestWithParam<NullCase>
{
};

// Two segments, null values 0x20 and 0x00.
TEST_P(NullKeys, NullSegmentsDecideWhetherTheKeyIsStored)
{
    const NullCase& c = GetParam();
    Segment a = segment(1, 3, SegmentType::String, c.nullFlag);
    a.nullValue = ' ';
    Segment b = segment(4, 2, SegmentType::Integer, c.nullFlag);
    const Key key = makeKey({a, b});
    const KeyCodec codec(key, {});
    Bytes out {1, 2, 3};
    EXPECT_EQ(codec.encode(c.record.data(), c.record.size(), out), c.stored);
    if (!c.stored) {
        EXPECT_TRUE(out.empty());
    }
}

const NullCase nullCases[] = {
    {"AllSegmentsBothNull", cat({text("   "), le(0, 2)}), keyflag::NullAll, false},
    {"AllSegmentsOneNull", cat({text("   "), le(7, 2)}), keyflag::NullAll, true},
    {"AllSegmentsOtherNull", cat({text("ab "), le(0, 2)}), keyflag::NullAll, true},
    {"AllSegmentsNoneNull", cat({text("abc"), le(1, 2)}), keyflag::NullAll, true},
    {"AnySegmentBothNull", cat({text("   "), le(0, 2)}), keyflag::NullAny, false},
    {"AnySegmentFirstNull", cat({text("   "), le(7, 2)}), keyflag::NullAny, false},
    {"AnySegmentSecondNull", cat({text(" a "), le(0, 2)}), keyflag::NullAny, false},
    {"AnySegmentNoneNull", cat({text("  a"), le(256, 2)}), keyflag::NullAny, true},
    {"NoNullFlag", cat({text("   "), le(0, 2)}), 0, true},
    // A record too short to reach the second segment reads zeros there: null.
    {"ShortRecordReadsZeros", text("abc"), keyflag::NullAny, false},
};

INSTANTIATE_TEST_SUITE_P(Keys, NullKeys, testing::ValuesIn(nullCases),
    [](const auto& param) { return param.param.name; });

TEST(KeyCodec, SegmentPastTheRecordEndReadsZeros)
{
    const Key key
        = makeKey({segment(3, 6, SegmentType::String), segment(1, 2, SegmentType::Unsigned)});
    const KeyCodec codec(key, {});
    const Bytes shortRecord = text("xyAB");
    const Bytes padded = cat({text("xyAB"), Bytes(4, 0)});
    Bytes a;
    Bytes b;
    ASSERT_TRUE(codec.encode(shortRecord.data(), shortRecord.size(), a));
    ASSERT_TRUE(codec.encode(padded.data(), padded.size(), b));
    EXPECT_EQ(a, b);

    ASSERT_EQ(codec.valueLength(), 8u);
    Bytes value(codec.valueLength(), 0xEE);
    codec.extractValue(shortRecord.data(), shortRecord.size(), value.data());
    EXPECT_EQ(value, cat({text("AB"), Bytes(4, 0), text("xy")}));
}

TEST(KeyCodec, ExtractValueConcatenatesRawSegmentsWithoutCollation)
{
    Segment s = segment(2, 3, SegmentType::String, keyflag::CaseInsensitive | keyflag::Descending);
    const Key key = makeKey({s, segment(6, 2, SegmentType::Integer)});
    const KeyCodec codec(key, {});
    const Bytes record = text("-abc-XY-");
    Bytes value(codec.valueLength());
    codec.extractValue(record.data(), record.size(), value.data());
    EXPECT_EQ(value, text("abcXY"));
}

// A Get searches with a key value as the caller holds it: its encoding must be the record's,
// segments in key order however they lie in the record, and say null where the record's would.
TEST(KeyCodec, KeyValuesEncodeAsTheRecordsTheyCameFrom)
{
    Segment name = segment(5, 4, SegmentType::String, keyflag::CaseInsensitive | keyflag::NullAny);
    name.nullValue = ' ';
    Segment number = segment(1, 2, SegmentType::Integer, keyflag::Descending | keyflag::NullAny);
    Segment label = segment(9, 4, SegmentType::ZString, keyflag::NullAny);
    const Key key = makeKey({name, number, label});
    const KeyCodec codec(key, {});
    struct Case
    {
        const char* what;
        Bytes record;
        bool stored;
    };
    const Case cases[] = {
        {"every segment set", cat({le(-3, 2), text("xx"), text("anna"), text("ab"), Bytes(2, 0)}),
            true},
        {"a blank name", cat({le(7, 2), text("xx"), text("    "), text("abcd")}), false},
        {"a zero number", cat({le(0, 2), text("xx"), text("OTTO"), text("a"), Bytes(3, 0)}), false},
    };
    for (const Case& c : cases) {
        Bytes value(codec.valueLength());
        codec.extractValue(c.record.data(), c.record.size(), value.data());
        Bytes fromRecord, fromValue;
        EXPECT_EQ(codec.encode(c.record.data(), c.record.size(), fromRecord), c.stored) << c.what;
        EXPECT_EQ(codec.encodeValue(value.data(), fromValue), c.stored) << c.what;
        if (c.stored) {
            EXPECT_EQ(fromValue, fromRecord) << c.what;
        } else {
            // A null value still has its place in the order, between its neighbours.
            EXPECT_FALSE(fromValue.empty()) << c.what;
        }
    }
}

TEST(KeyCodec, OutlivesTheDefinitionItWasMadeFrom)
{
    std::vector<KeyCodec> codecs;
    {
        Segment acs = segment(1, 3, SegmentType::String, keyflag::Acs);
        const Key key
            = makeKey({acs, segment(4, 3, SegmentType::String, keyflag::CaseInsensitive)});
        const std::vector<AcsBlockDef> blocks {reversedAlphabet()};
        codecs.emplace_back(key, blocks);
    }
    const KeyCodec copy = codecs.front();
    codecs.clear();
    const Bytes record = text("ABCabc");
    Bytes out;
    ASSERT_TRUE(copy.encode(record.data(), record.size(), out));
    EXPECT_EQ(out, text("ZYXABC"));
}

TEST(KeyCodec, EncodeDoesNotReallocateOnceTheBufferHasGrown)
{
    const Key key = makeKey({segment(1, 4, SegmentType::LString), segment(5, 4, SegmentType::Float),
        segment(9, 3, SegmentType::Decimal)});
    const KeyCodec codec(key, {});
    Bytes out;
    out.reserve(codec.maxEncodedLength());
    const uint8_t* storage = out.data();
    const size_t capacity = out.capacity();
    // The longest encoding: an lstring of zero bytes doubles its content.
    const Bytes records[] = {cat({lstring(Bytes(3, 0), 4), ieee(1.0f), packed("5", 0xC, 3)}),
        cat({lstring({}, 4), ieee(-1.0f), packed("5", 0xD, 3)}), Bytes {}};
    for (const Bytes& r : records) {
        ASSERT_TRUE(codec.encode(r.data(), r.size(), out));
        EXPECT_LE(out.size(), codec.maxEncodedLength());
        EXPECT_EQ(out.data(), storage);
        EXPECT_EQ(out.capacity(), capacity);
    }
}

// Definitions Create would refuse can still reach the codec from a damaged legacy file: it must
// neither read outside the record nor the collating blocks.
TEST(KeyCodec, DamagedDefinitionsEncodeWithoutReadingOutOfBounds)
{
    Segment missingAcs = segment(1, 4, SegmentType::String, keyflag::Acs);
    missingAcs.acsNumber = 9;
    Segment oddFloat = segment(2, 3, SegmentType::Float);
    Segment hugeLString = segment(1, 600, SegmentType::LString);
    Segment zeroLength = segment(0, 0, SegmentType::Numeric);
    Segment unknownType = segment(1, 2, SegmentType::String);
    unknownType.extType = 12;
    const Key key = makeKey({missingAcs, oddFloat, hugeLString, zeroLength, unknownType});
    const KeyCodec codec(key, {reversedAlphabet()});
    const Bytes record = text("ABCDEFGH");
    Bytes out;
    ASSERT_TRUE(codec.encode(record.data(), record.size(), out));
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), text("ABCD")); // no such block: byte order
    EXPECT_TRUE(codec.encode(nullptr, 0, out));
}

} // namespace
