// Each type's text: every length the type has, its boundaries, and bytes that are no value of it
// (written as hex and said to be invalid).
#include "Values.h"
#include "DefinitionLayout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace fields;
namespace exttype = btr::exttype;

namespace {

using Bytes = std::vector<uint8_t>;

struct Case
{
    uint8_t type;
    Bytes bytes;
    std::string text;
    Kind kind;
    uint8_t decimals = 0;
    bool signedByte = false;
};

Bytes f32(float v)
{
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

Bytes f64(double v)
{
    Bytes b(8);
    std::memcpy(b.data(), &v, 8);
    return b;
}

Bytes le(uint64_t v, int n)
{
    Bytes b(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        b[size_t(i)] = uint8_t(v >> (8 * i));
    return b;
}

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

const Kind T = Kind::Text;
const Kind N = Kind::Number;
const Kind B = Kind::Boolean;
const Kind Z = Kind::Null;
const Kind X = Kind::Invalid;

const std::vector<Case> Cases {
    // string: blanks and NULs at the end trimmed, CP437 to UTF-8
    {exttype::String, text("ABC   "), "ABC", T},
    {exttype::String, {'A', ' ', 'B', 0, 0}, "A B", T},
    {exttype::String, text("      "), "", T},
    {exttype::String, {0x82, 0xE1, 0xB0}, "\xC3\xA9\xC3\x9F\xE2\x96\x91", T}, // é ß ░
    {exttype::String, {}, "", T},
    // zstring: up to the first NUL
    {exttype::ZString, {'H', 'I', 0, 'Z', 'Z'}, "HI", T},
    {exttype::ZString, text("NO NUL  "), "NO NUL", T},
    // lstring: the length byte
    {exttype::LString, {3, 'A', 'B', 'C', 'D'}, "ABC", T},
    {exttype::LString, {0, 'A'}, "", T},
    {exttype::LString, {5, 'A', 'B'}, "0x054142", X},
    {exttype::LString, {}, "0x", X},
    // lvar: a 2-byte length
    {exttype::LVar, {2, 0, 'O', 'K', '!'}, "OK", T},
    {exttype::LVar, {9, 0, 'O'}, "0x09004f", X},
    {exttype::Note, text("memo text  "), "memo text", T},
    // wstring, wzstring: UTF-16LE
    {exttype::WString, {'A', 0, 0xE9, 0, ' ', 0}, "A\xC3\xA9", T},
    {exttype::WString, {0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80", T}, // a surrogate pair
    {exttype::WString, {0x3D, 0xD8, 'A', 0}, "0x3dd84100", X},           // unpaired
    {exttype::WString, {'A', 0, 'B'}, "0x410042", X},                    // odd length
    {exttype::WZString, {'H', 0, 'I', 0, 0, 0, 'Z', 0}, "HI", T},
    // integer: 1 byte unsigned unless signed, 2/4/8 signed
    {exttype::Integer, {0xFF}, "255", N},
    {exttype::Integer, {0xFF}, "-1", N, 0, true},
    {exttype::Integer, {0x80}, "-128", N, 0, true},
    {exttype::Integer, le(0x8000, 2), "-32768", N},
    {exttype::Integer, le(0x7FFF, 2), "32767", N},
    {exttype::Integer, le(0x80000000, 4), "-2147483648", N},
    {exttype::Integer, le(0x7FFFFFFF, 4), "2147483647", N},
    {exttype::Integer, le(0x8000000000000000, 8), "-9223372036854775808", N},
    {exttype::Integer, le(0x7FFFFFFFFFFFFFFF, 8), "9223372036854775807", N},
    {exttype::Integer, le(0, 4), "0", N},
    {exttype::Integer, {1, 2, 3}, "0x010203", X},
    // autoincrement: signed 2/4/8
    {exttype::Autoincrement, le(uint16_t(-5), 2), "-5", N},
    {exttype::Autoincrement, le(70000, 4), "70000", N},
    {exttype::Autoincrement, le(1, 8), "1", N},
    {exttype::Autoincrement, {1}, "0x01", X},
    // unsigned binary: any length
    {exttype::Unsigned, {0xFF}, "255", N},
    {exttype::Unsigned, le(0xFFFF, 2), "65535", N},
    {exttype::Unsigned, le(0xFFFFFFFF, 4), "4294967295", N},
    {exttype::Unsigned, le(0xFFFFFFFFFFFFFFFF, 8), "18446744073709551615", N},
    {exttype::Unsigned, le(0x010203040506, 6), "1108152157446", N},
    {exttype::Unsigned, Bytes(10, 0xFF), "1208925819614629174706175", N},
    {exttype::Unsigned, Bytes(10, 0), "0", N},
    // float: the shortest text that reads back
    {exttype::Float, f32(0.1f), "0.1", N},
    {exttype::Float, f32(-2.5f), "-2.5", N},
    {exttype::Float, f64(0.1), "0.1", N},
    {exttype::Float, f64(1e300), "1e+300", N},
    {exttype::Float, f64(0.0), "0", N},
    {exttype::Float, f64(5e-324), "5e-324", N},
    {exttype::Float, le(0x7FF8000000000000, 8), "0x000000000000f87f", X}, // NaN
    {exttype::Float, le(0x7F800000, 4), "0x0000807f", X},                 // infinity
    {exttype::Float, {1, 2}, "0x0102", X},
    // bfloat: 1.m x 2^(E-129)
    {exttype::BFloat, {0, 0, 0, 0x81}, "1", N},
    {exttype::BFloat, {0, 0, 0x80, 0x81}, "-1", N},
    {exttype::BFloat, {0, 0, 0x20, 0x83}, "5", N},
    {exttype::BFloat, {0, 0, 0, 0x80}, "0.5", N},
    {exttype::BFloat, {1, 2, 3, 0}, "0", N},
    {exttype::BFloat, {0, 0, 0, 0, 0, 0, 0x40, 0x82}, "3", N},
    {exttype::BFloat, {1, 0, 0, 0, 0, 0, 0, 0x81}, "1.0000000000000000278", N}, // 1 + 2^-55
    {exttype::BFloat, {0, 0, 0x81}, "0x000081", X},
    // date: day, month, 16-bit year; all zero is null
    {exttype::Date, {31, 12, 0xCF, 0x07}, "1999-12-31", T},
    {exttype::Date, {29, 2, 0xD0, 0x07}, "2000-02-29", T},
    {exttype::Date, {1, 1, 1, 0}, "0001-01-01", T},
    {exttype::Date, {31, 12, 0x0F, 0x27}, "9999-12-31", T},
    {exttype::Date, {0, 0, 0, 0}, "", Z},
    {exttype::Date, {29, 2, 0x6D, 0x07}, "0x1d026d07", X}, // 1901 is no leap year
    {exttype::Date, {1, 13, 0xD0, 0x07}, "0x010dd007", X},
    {exttype::Date, {0, 1, 0xD0, 0x07}, "0x0001d007", X},
    {exttype::Date, {31, 4, 0xD0, 0x07}, "0x1f04d007", X},
    {exttype::Date, {1, 1, 0, 0}, "0x01010000", X},
    {exttype::Date, {1, 1, 0xD0}, "0x0101d0", X},
    // time: hundredths, seconds, minutes, hours
    {exttype::Time, {5, 4, 3, 2}, "02:03:04.05", T},
    {exttype::Time, {0, 0, 0, 0}, "00:00:00.00", T},
    {exttype::Time, {99, 59, 59, 23}, "23:59:59.99", T},
    {exttype::Time, {0, 0, 0, 24}, "0x00000018", X},
    {exttype::Time, {0, 60, 0, 0}, "0x003c0000", X},
    {exttype::Time, {100, 0, 0, 0}, "0x64000000", X},
    // timestamp: 100 ns since 0001-01-01
    {exttype::Timestamp, le(0, 8), "0001-01-01T00:00:00.0000000", T},
    {exttype::Timestamp, le(630822816000000000, 8), "2000-01-01T00:00:00.0000000", T},
    {exttype::Timestamp, le(630822816000000000 + 36610000001, 8), "2000-01-01T01:01:01.0000001", T},
    {exttype::Timestamp, le(3155378975999999999, 8), "9999-12-31T23:59:59.9999999", T},
    {exttype::Timestamp, le(3155378976000000000, 8), "0x004037f47528ca2b", X},
    // decimal and money: packed, the sign in the last half-byte
    {exttype::Decimal, {0x01, 0x23, 0x45, 0x0D}, "-1234.50", N, 2},
    {exttype::Decimal, {0x12, 0x3C}, "123", N},
    {exttype::Decimal, {0x12, 0x3F}, "123", N},
    {exttype::Decimal, {0x12, 0x3A}, "123", N},
    {exttype::Decimal, {0x12, 0x3E}, "123", N},
    {exttype::Decimal, {0x12, 0x3B}, "-123", N},
    {exttype::Decimal, {0x5C}, "0.05", N, 2},
    {exttype::Decimal, {0x00, 0x0C}, "0.00", N, 2},
    {exttype::Decimal, {0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9C}, "9999999999999999.9",
        N, 1},
    {exttype::Decimal, {0x1A, 0x3C}, "0x1a3c", X}, // a digit above 9
    {exttype::Decimal, {0x12, 0x33}, "0x1233", X}, // a digit in the sign's place
    {exttype::Decimal, {0xA2, 0x3C}, "0xa23c", X},
    {exttype::Money, {0x00, 0x12, 0x34, 0x5C}, "123.45", N, 2},
    {exttype::Money, {0x00, 0x12, 0x34, 0x5D}, "-123.45", N, 2},
    // numeric: ASCII digits, the sign overpunched in the last byte
    {exttype::Numeric, text("00123"), "1.23", N, 2},
    {exttype::Numeric, text("  123"), "123", N},
    {exttype::Numeric, text("0012{"), "1.20", N, 2},
    {exttype::Numeric, text("0012A"), "121", N},
    {exttype::Numeric, text("0012I"), "129", N},
    {exttype::Numeric, text("0012}"), "-120", N},
    {exttype::Numeric, text("0012J"), "-121", N},
    {exttype::Numeric, text("0012R"), "-129", N},
    {exttype::Numeric, text("     "), "", Z},
    {exttype::Numeric, text("12X45"), "0x3132583435", X},
    {exttype::Numeric, text("0012S"), "0x3030313253", X},
    // numeric with a separate trailing sign
    {exttype::SignSeparate, text("00123-"), "-1.23", N, 2},
    {exttype::SignSeparate, text("00123+"), "123", N},
    {exttype::SignSeparate, text("001234"), "0x303031323334", X},
    {exttype::SignSeparate, text("+"), "0x2b", X},
    // currency: 64-bit, 4 decimals
    {exttype::Currency, le(123450000, 8), "12345.0000", N},
    {exttype::Currency, le(uint64_t(-15), 8), "-0.0015", N},
    {exttype::Currency, le(0x8000000000000000, 8), "-922337203685477.5808", N},
    {exttype::Currency, {1, 2, 3, 4}, "0x01020304", X},
    // logical and bit
    {exttype::Logical, {0}, "0", B},
    {exttype::Logical, {7}, "1", B},
    {exttype::Logical, {0, 1}, "1", B},
    {exttype::Logical, {0, 0}, "0", B},
    {exttype::Logical, {0, 0, 0}, "0x000000", X},
    {exttype::Bit, {0x04}, "1", B, 2},
    {exttype::Bit, {0x04}, "0", B, 1},
    {exttype::Bit, {0x80}, "1", B, 7},
    {exttype::Bit, {0x80}, "0x80", X, 8},
    // GUID: 8-4-4-4-12, the first three groups little-endian
    {exttype::Guid,
        {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE,
            0xFF},
        "00112233-4455-6677-8899-aabbccddeeff", T},
    {exttype::Guid, {1, 2}, "0x0102", X},
    // a type code Varnok does not know: its bytes
    {99, {0xAB, 0xCD}, "abcd", Kind::Bytes},
};

TEST(Values, EveryTypeEveryLengthBoundariesAndInvalidBytes)
{
    TextDecoder decoder;
    ASSERT_TRUE(decoder.valid());
    for (const Case& c : Cases) {
        std::string out = "prefix:";
        const ValueType t {c.type, c.decimals, c.signedByte};
        const Kind kind = appendValue(t, c.bytes.data(), c.bytes.size(), decoder, out);
        EXPECT_EQ(out, "prefix:" + c.text)
            << "type " << int(c.type) << " length " << c.bytes.size();
        EXPECT_EQ(int(kind), int(c.kind)) << "type " << int(c.type) << " text " << c.text;
    }
}

TEST(Values, TheCodePageIsTheUsersChoice)
{
    const Bytes euro {0x80, ' '};
    struct Page
    {
        const char* name;
        std::string text;
        Kind kind;
    };
    for (const Page& p : {Page {"CP437", "\xC3\x87", T}, Page {"CP1252", "\xE2\x82\xAC", T},
             Page {"CP850", "\xC3\x87", T}, Page {"UTF-8", "0x8020", X}}) {
        TextDecoder decoder(p.name);
        ASSERT_TRUE(decoder.valid()) << p.name;
        std::string out;
        EXPECT_EQ(int(appendValue({exttype::String}, euro.data(), euro.size(), decoder, out)),
            int(p.kind))
            << p.name;
        EXPECT_EQ(out, p.text) << p.name;
    }
    TextDecoder unknown("NO-SUCH-CODE-PAGE");
    EXPECT_FALSE(unknown.valid());
    EXPECT_NE(unknown.error().find("NO-SUCH-CODE-PAGE"), std::string::npos);
}

TEST(Values, LongTextGrowsTheConversionRoom)
{
    TextDecoder decoder;
    const Bytes boxes(3000, 0xB0); // each becomes three bytes of UTF-8
    std::string out;
    ASSERT_EQ(
        int(appendValue({exttype::String}, boxes.data(), boxes.size(), decoder, out)), int(T));
    EXPECT_EQ(out.size(), 9000U);
    EXPECT_EQ(out.substr(0, 3), "\xE2\x96\x91");
}

} // namespace
