// Text back into a field's bytes: every type's round trip from its own text, what a person types
// beside it, the style of the bytes replaced, every refusal with its reason (and the bytes left as
// they were), and code pages.
#include "Encode.h"
#include "DefinitionLayout.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

using namespace fields;
namespace exttype = btr::exttype;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes le(uint64_t v, int n)
{
    Bytes b(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        b[size_t(i)] = uint8_t(v >> (8 * i));
    return b;
}

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

Bytes ascii(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

std::string textOf(const ValueType& t, const Bytes& b)
{
    TextDecoder decoder;
    std::string out;
    appendValue(t, b.data(), b.size(), decoder, out);
    return out;
}

std::string hex(const Bytes& b)
{
    std::string out;
    appendHex(b.data(), b.size(), out);
    return out;
}

struct Stored
{
    uint8_t type;
    Bytes bytes;
    uint8_t decimals = 0;
    bool signedByte = false;
};

// Bytes whose text, written back over them, gives exactly the same bytes: each type's canonical
// form, the edges of its range, and the spellings a type keeps from the bytes it replaces.
const std::vector<Stored> Canonical {
    {exttype::String, ascii("ABC   ")},
    {exttype::String, {'A', ' ', 'B', 0, 0}}, // NUL padding kept
    {exttype::String, {0x82, 0xE1, 0xB0, ' '}},
    {exttype::String, ascii("FULL")},
    {exttype::String, {}},
    {exttype::Note, ascii("memo  ")},
    {exttype::ZString, {'H', 'I', 0, 0, 0}},
    {exttype::ZString, ascii("NO NUL")}, // a program that filled it to the end
    {exttype::LString, {3, 'A', 'B', 'C', 0, 0}},
    {exttype::LString, {0, ' ', ' '}},
    {exttype::LVar, {2, 0, 'O', 'K', 0}},
    {exttype::WString, {'A', 0, 0xE9, 0, ' ', 0}},
    {exttype::WString, {0x3D, 0xD8, 0x00, 0xDE}},
    {exttype::WZString, {'H', 0, 'I', 0, 0, 0, 0, 0}},
    {exttype::Integer, {0}},
    {exttype::Integer, {0xFF}},
    {exttype::Integer, {0x80}, 0, true},
    {exttype::Integer, {0x7F}, 0, true},
    {exttype::Integer, le(0x8000, 2)},
    {exttype::Integer, le(0x7FFF, 2)},
    {exttype::Integer, le(0x80000000, 4)},
    {exttype::Integer, le(0x7FFFFFFF, 4)},
    {exttype::Integer, le(0x8000000000000000, 8)},
    {exttype::Integer, le(0x7FFFFFFFFFFFFFFF, 8)},
    {exttype::Autoincrement, le(0x8000, 2)},
    {exttype::Autoincrement, le(0x7FFFFFFF, 4)},
    {exttype::Autoincrement, le(uint64_t(-1), 8)},
    {exttype::Unsigned, {0xFF}},
    {exttype::Unsigned, le(0xFFFF, 2)},
    {exttype::Unsigned, le(0x010203, 3)},
    {exttype::Unsigned, le(0xFFFFFFFFFFFFFFFF, 8)},
    {exttype::Unsigned, Bytes(10, 0xFF)},
    {exttype::Unsigned, {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80}},
    {exttype::Float, f32(0.1f)},
    {exttype::Float, f32(-0.0f)},
    {exttype::Float, f32(3.4028235e38f)},
    {exttype::Float, f32(1e-45f)},
    {exttype::Float, f64(0.1)},
    {exttype::Float, f64(-0.0)},
    {exttype::Float, f64(1.7976931348623157e308)},
    {exttype::Float, f64(5e-324)},
    {exttype::BFloat, {0, 0, 0, 0x81}},
    {exttype::BFloat, {0, 0, 0x80, 0x81}},
    {exttype::BFloat, {0, 0, 0, 0}},
    {exttype::BFloat, {0, 0, 0, 1}},                // the smallest exponent
    {exttype::BFloat, {0xFF, 0xFF, 0xFF, 0xFF}},    // the largest negative
    {exttype::BFloat, {0x54, 0x55, 0x55, 2}},       // a float denormal
    {exttype::BFloat, {1, 0, 0, 0, 0, 0, 0, 0x81}}, // 1 + 2^-55: below double precision
    {exttype::BFloat, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF}},
    {exttype::BFloat, {0, 0, 0, 0, 0, 0, 0x80, 1}},
    {exttype::Date, {1, 1, 1, 0}},
    {exttype::Date, {31, 12, 0x0F, 0x27}},
    {exttype::Date, {29, 2, 0xD0, 0x07}}, // 2000: a leap year
    {exttype::Date, {29, 2, 0x0C, 0x07}}, // 1804 is a leap year, 1800 (below) is not
    {exttype::Date, {0, 0, 0, 0}},
    {exttype::Time, {0, 0, 0, 0}},
    {exttype::Time, {99, 59, 59, 23}},
    {exttype::Timestamp, le(0, 8)},
    {exttype::Timestamp, le(630822816000000000 + 36610000001, 8)},
    {exttype::Timestamp, le(3155378975999999999, 8)},
    {exttype::Decimal, {0x01, 0x23, 0x45, 0x0D}, 2},
    {exttype::Decimal, {0x12, 0x3C}},
    {exttype::Decimal, {0x12, 0x3A}},
    {exttype::Decimal, {0x00, 0x0D}, 2}, // negative zero
    {exttype::Decimal, {0x5C}, 2},
    {exttype::Decimal,
        Bytes {0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99,
            0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99,
            0x99, 0x99, 0x99, 0x9E},
        5}, // the largest: 63 digits
    {exttype::Money, {0x00, 0x12, 0x34, 0x5F}, 2},
    {exttype::Numeric, ascii("00123"), 2},
    {exttype::Numeric, ascii("  123")},
    {exttype::Numeric, ascii("  00{"), 2}, // blanks, and a positive overpunch
    {exttype::Numeric, ascii("0012R")},
    {exttype::Numeric, ascii("0000}")}, // negative zero
    {exttype::Numeric, ascii("     ")},
    {exttype::Numeric, ascii("99999"), 7},
    {exttype::SignSeparate, ascii("00123-"), 2},
    {exttype::SignSeparate, ascii("  123+")},
    {exttype::SignSeparate, ascii("    0-")},
    {exttype::Currency, le(0x8000000000000000, 8)},
    {exttype::Currency, le(0x7FFFFFFFFFFFFFFF, 8)},
    {exttype::Currency, le(uint64_t(-15), 8)},
    {exttype::Logical, {0}},
    {exttype::Logical, {7}}, // a program's own true
    {exttype::Logical, {0xFF, 0xFF}},
    {exttype::Bit, {0xFB}, 2},
    {exttype::Bit, {0x04}, 2},
    {exttype::Bit, {0x00, 0x80}, 15},
    {exttype::Guid,
        {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE,
            0xFF}},
    {99, {0xAB, 0xCD}},
    // Bytes no value of their type: written and read back as 0x and hex.
    {exttype::Date, {1, 13, 0xD0, 0x07}},
    {exttype::Date, {29, 2, 0x08, 0x07}},
    {exttype::Decimal, {0x12, 0x33}},
    {exttype::Numeric, ascii("12X45")},
    {exttype::Float, le(0x7FF8000000000000, 8)},
    {exttype::LString, {5, 'A', 'B'}},
    {exttype::WString, {'A', 0, 'B'}},
    {exttype::Integer, {1, 2, 3}},
    {exttype::Bit, {0x80}, 8},
    {exttype::Timestamp, le(3155378976000000000, 8)},
};

TEST(Encode, EveryTypesOwnTextGivesBackItsBytes)
{
    TextEncoder encoder;
    ASSERT_TRUE(encoder.valid());
    for (const Stored& c : Canonical) {
        const ValueType t {c.type, c.decimals, c.signedByte};
        const std::string text = textOf(t, c.bytes);
        Bytes bytes = c.bytes;
        std::string why;
        EXPECT_TRUE(encodeValue(t, text, bytes.data(), bytes.size(), encoder, why))
            << "type " << int(c.type) << " '" << text << "': " << why;
        EXPECT_EQ(hex(bytes), hex(c.bytes)) << "type " << int(c.type) << " '" << text << "'";
    }
}

// Bytes of more than one spelling for a text: written back, they read as the same text.
TEST(Encode, OtherSpellingsGiveBackTheirText)
{
    const std::vector<Stored> spellings {
        {exttype::BFloat, {1, 2, 3, 0}},          // zero with mantissa bits
        {exttype::String, {'A', 0, ' ', 0, ' '}}, // mixed padding
        {exttype::ZString, {'A', 0, 'Z', 'Z'}},   // bytes after the NUL
        {exttype::LString, {1, 'A', 'B', 'C'}},
        {exttype::Decimal, {0x12, 0x3B}},         // the other negative sign
        {exttype::Numeric, ascii("   0{"), 2},    // "  00{" once written
        {exttype::BFloat, {0x55, 0x55, 0x55, 2}}, // a float denormal loses its last bit
    };
    TextEncoder encoder;
    for (const Stored& c : spellings) {
        const ValueType t {c.type, c.decimals, c.signedByte};
        const std::string text = textOf(t, c.bytes);
        Bytes bytes = c.bytes;
        std::string why;
        ASSERT_TRUE(encodeValue(t, text, bytes.data(), bytes.size(), encoder, why)) << why;
        EXPECT_EQ(textOf(t, bytes), text) << "type " << int(c.type);
    }
}

struct Typed
{
    uint8_t type;
    Bytes before; // the bytes replaced, and the field's length
    std::string text;
    Bytes after;
    uint8_t decimals = 0;
    bool signedByte = false;
};

// What a person types, and the style the bytes replaced keep.
const std::vector<Typed> TypedCases {
    {exttype::Integer, {0, 0}, " +42 ", le(42, 2)},
    {exttype::Integer, {0, 0}, "-0", le(0, 2)},
    {exttype::Integer, {0, 0}, "007.00", le(7, 2)},
    {exttype::Integer, {0}, "-1", {0xFF}, 0, true},
    {exttype::Unsigned, Bytes(10, 0), "1208925819614629174706175", Bytes(10, 0xFF)},
    {exttype::Float, Bytes(4), "1.5e3", f32(1500)},
    {exttype::Float, Bytes(8), ".25", f64(0.25)},
    {exttype::Float, Bytes(8), "-.5", f64(-0.5)},
    {exttype::BFloat, Bytes(4), "5", {0, 0, 0x20, 0x83}},
    {exttype::BFloat, Bytes(8), "-3", {0, 0, 0, 0, 0, 0, 0xC0, 0x82}},
    {exttype::Decimal, {0, 0, 0}, "12", {0x00, 0x12, 0x0F}, 1},
    {exttype::Decimal, {0, 0, 0x0C}, "12", {0x00, 0x12, 0x0C}, 1}, // the old positive sign kept
    {exttype::Decimal, {0, 0, 0x0B}, "12", {0x00, 0x12, 0x0F}, 1}, // a negative's is not
    {exttype::Decimal, {0, 0, 0x0C}, "-1.5", {0x00, 0x01, 0x5D}, 1},
    {exttype::Decimal, {0, 0}, "1.500", {0x01, 0x5F}, 1}, // zeros past the scale
    {exttype::Money, {0, 0, 0}, "+.5", {0x00, 0x05, 0x0F}, 2},
    {exttype::Numeric, ascii("00000"), "1.5", ascii("00150"), 2},
    {exttype::Numeric, ascii("     "), "1.5", ascii("  150"), 2},
    {exttype::Numeric, ascii("     "), "0", ascii("  000"), 2},
    {exttype::Numeric, ascii("0000{"), "12", ascii("0001B")},
    {exttype::Numeric, ascii("0000J"), "12", ascii("0001B")},
    {exttype::Numeric, ascii("00000"), "-12", ascii("0001K")},
    {exttype::Numeric, ascii("00001"), "", ascii("     ")},
    {exttype::SignSeparate, ascii("     "), "-7", ascii("   7-")},
    {exttype::SignSeparate, ascii("000000"), "7", ascii("00007+")},
    {exttype::Currency, Bytes(8), "-1.5", le(uint64_t(-15000), 8)},
    {exttype::Date, {9, 9, 9, 9}, "2024-2-9", {9, 2, 0xE8, 0x07}},
    {exttype::Date, {9, 9, 9, 9}, "", {0, 0, 0, 0}},
    {exttype::Date, {9, 9, 9, 9}, "0000-00-00", {0, 0, 0, 0}},
    {exttype::Time, Bytes(4), "7:05", {0, 0, 5, 7}},
    {exttype::Time, Bytes(4), "23:59:59.5", {50, 59, 59, 23}},
    {exttype::Timestamp, Bytes(8), "2000-01-01", le(630822816000000000, 8)},
    {exttype::Timestamp, Bytes(8), "2000-01-01 01:01:01.0000001",
        le(630822816000000000 + 36610000001, 8)},
    {exttype::Logical, {0, 0}, "TRUE", {1, 0}},
    {exttype::Logical, {0xFF}, "yes", {0xFF}},
    {exttype::Logical, {0xFF}, "false", {0}},
    {exttype::Bit, {0x5A}, "1", {0x5E}, 2},
    {exttype::Bit, {0x5E}, "0", {0x5A}, 2},
    {exttype::Guid, Bytes(16), "{00112233-4455-6677-8899-AABBCCDDEEFF}",
        {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE,
            0xFF}},
    {exttype::Guid, Bytes(16), "00112233445566778899aabbccddeeff",
        {0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE,
            0xFF}},
    {exttype::String, ascii("OLD VALUE"), "new", ascii("new      ")},
    {exttype::String, Bytes(5), "ab", {'a', 'b', 0, 0, 0}},
    {exttype::String, ascii("xyz"), "", ascii("   ")},
    {exttype::ZString, ascii("abcdef"), "xy", {'x', 'y', 0, 0, 0, 0}},
    {exttype::ZString, {'a', 0, 0, 0}, "xyz", {'x', 'y', 'z', 0}},
    {exttype::LString, {0, 0, 0, 0}, "ab", {2, 'a', 'b', 0}},
    {exttype::LVar, {0, 0, 0, 0, ' '}, "a", {1, 0, 'a', ' ', ' '}},
    {exttype::WString, Bytes(6), "\xC3\xA9", {0xE9, 0, 0, 0, 0, 0}},
    {exttype::WZString, Bytes(6), "\xF0\x9F\x98\x80", {0x3D, 0xD8, 0x00, 0xDE, 0, 0}},
    // Raw bytes, for any type; a text type takes "0x" of another length as text.
    {exttype::Date, {1, 1, 1, 0}, " 0x010DD007 ", {1, 13, 0xD0, 0x07}},
    {exttype::String, Bytes(4), "0x41", {'0', 'x', '4', '1'}},
    {exttype::String, Bytes(2), "0x4142", {'A', 'B'}},
    {99, Bytes(2), "abcd", {0xAB, 0xCD}},
};

TEST(Encode, WhatAPersonTypesAndTheStyleOfTheBytesReplaced)
{
    TextEncoder encoder;
    for (const Typed& c : TypedCases) {
        Bytes bytes = c.before;
        std::string why;
        EXPECT_TRUE(encodeValue(
            {c.type, c.decimals, c.signedByte}, c.text, bytes.data(), bytes.size(), encoder, why))
            << "type " << int(c.type) << " '" << c.text << "': " << why;
        EXPECT_EQ(hex(bytes), hex(c.after)) << "type " << int(c.type) << " '" << c.text << "'";
    }
}

struct Refused
{
    uint8_t type;
    size_t length;
    std::string text;
    std::string why;
    uint8_t decimals = 0;
    bool signedByte = false;
    uint8_t fill = 0x5A; // the bytes there before
};

const std::vector<Refused> RefusedCases {
    {exttype::Integer, 1, "300", "300 does not fit a 1-byte integer (0 to 255)"},
    {exttype::Integer, 1, "-1", "-1 does not fit a 1-byte integer (0 to 255)"},
    {exttype::Integer, 1, "128", "128 does not fit a 1-byte integer (-128 to 127)", 0, true},
    {exttype::Integer, 2, "-32769", "-32769 does not fit a 2-byte integer (-32768 to 32767)"},
    {exttype::Integer, 8, "9223372036854775808",
        "9223372036854775808 does not fit an 8-byte integer (-9223372036854775808 to "
        "9223372036854775807)"},
    {exttype::Integer, 8, "99999999999999999999999",
        "99999999999999999999999 does not fit an 8-byte integer (-9223372036854775808 to "
        "9223372036854775807)"},
    {exttype::Unsigned, 8, "18446744073709551616",
        "18446744073709551616 does not fit an 8-byte unsigned binary (0 to 18446744073709551615)"},
    {exttype::Unsigned, 10, "1208925819614629174706176",
        "1208925819614629174706176 does not fit a 10-byte unsigned binary (0 to 2^80 - 1)"},
    {exttype::Autoincrement, 2, "40000",
        "40000 does not fit a 2-byte autoincrement (-32768 to 32767)"},
    {exttype::Integer, 4, "12.5", "12.5 is not a whole number"},
    {exttype::Integer, 4, "", "no value given: a number has no empty value"},
    {exttype::Integer, 4, "12a", "'12a' is not a number"},
    {exttype::Integer, 4, "+-1", "'+-1' is not a number"},
    {exttype::Integer, 3, "1",
        "an integer takes 1, 2, 4 or 8 bytes, this field has 3 bytes (its bytes can be given as 0x "
        "and 6 hex digits)"},
    {exttype::Integer, 4, "0x0102", "4 hex digits given, the field's 4 bytes take 8"},
    {exttype::Float, 4, "1e39", "1e39 does not fit a 4-byte float (largest 3.4028235e+38)"},
    {exttype::Float, 4, "1e-50", "1e-50 is too small for a 4-byte float (smallest 1e-45)"},
    {exttype::Float, 8, "inf", "'inf' is not a number"},
    {exttype::Float, 8, "1,5", "'1,5' is not a number (the decimal point is '.')"},
    {exttype::BFloat, 4, "2e38", "2e38 does not fit a 4-byte bfloat (largest 1.7014117e+38)"},
    {exttype::BFloat, 4, "1e-39", "1e-39 is too small for a 4-byte bfloat (smallest 2.938736e-39)"},
    {exttype::BFloat, 8, "-1e-40",
        "-1e-40 is too small for an 8-byte bfloat (smallest 2.93873587705571877e-39)"},
    {exttype::Decimal, 2, "1.234", "3 decimals given, the field has 2", 2},
    {exttype::Decimal, 2, "0.5", "1 decimal given, the field has none"},
    {exttype::Decimal, 2, "10", "10 does not fit a 2-byte decimal with 2 decimals (largest 9.99)",
        2},
    {exttype::Money, 2, "", "no value given: money has no empty value", 2},
    {exttype::Numeric, 3, "-1000", "-1000 does not fit a 3-byte numeric (largest 999)"},
    {exttype::SignSeparate, 4, "1000",
        "1000 does not fit a 4-byte numeric with trailing sign and 1 decimal (largest 99.9)", 1},
    {exttype::SignSeparate, 1, "1",
        "a 1-byte numeric with trailing sign has room for the sign only: it can only be empty"},
    {exttype::Currency, 8, "922337203685477.5808",
        "922337203685477.5808 does not fit currency (-922337203685477.5808 to "
        "922337203685477.5807)"},
    {exttype::Currency, 8, "0.00001", "5 decimals given, the field has 4"},
    {exttype::Currency, 8, "-1234567890123456",
        "-1234567890123456 does not fit currency (-922337203685477.5808 to "
        "922337203685477.5807)"},
    {exttype::Logical, 1, "0x", "0 hex digits given, the field's 1 byte takes 2"},
    {exttype::Date, 4, "2023-13-01", "13 is not a month"},
    {exttype::Date, 4, "2023-02-29", "February 2023 has no day 29"},
    {exttype::Date, 4, "1900-02-29", "February 1900 has no day 29"},
    {exttype::Date, 4, "2023-04-00", "0 is not a day of a month"},
    {exttype::Date, 4, "0000-01-01", "0 is not a year (years run from 1 to 9999)"},
    {exttype::Date, 4, "31.12.1999", "'31.12.1999' is not a date (dates are written YYYY-MM-DD)"},
    {exttype::Date, 4, "1999-12-31x", "'1999-12-31x' is not a date (dates are written YYYY-MM-DD)"},
    {exttype::Time, 4, "24:00", "24 is not an hour (0 to 23)"},
    {exttype::Time, 4, "12:60", "60 is not a minute (0 to 59)"},
    {exttype::Time, 4, "12:00:00.123", "3 decimals of a second given, a time holds hundredths"},
    {exttype::Time, 4, "", "no value given: a time has no empty value"},
    {exttype::Time, 4, "noon", "'noon' is not a time (times are written HH:MM:SS.hh)"},
    {exttype::Timestamp, 8, "2000-01-01T12",
        "'2000-01-01T12' is not a time (times are written "
        "HH:MM:SS.fffffff)"},
    {exttype::Logical, 1, "maybe", "'maybe' is neither 0 nor 1 (nor true, false, yes, no)"},
    {exttype::Logical, 1, "", "no value given: a logical has no empty value"},
    {exttype::Bit, 1, "1", "bit 8 is past the field's 1 byte", 8},
    {exttype::Guid, 16, "00112233-4455-6677-8899",
        "'00112233-4455-6677-8899' is not a GUID "
        "(GUIDs are written as 8-4-4-4-12 hex digits)"},
    {exttype::ZString, 10, "1234567890",
        "a zstring of 10 bytes holds at most 9 characters; this text has 10", 0, false, 0},
    {exttype::ZString, 10, std::string("a\0b", 3),
        "a zstring ends at its first NUL: it cannot hold U+0000"},
    {exttype::String, 3, "\xC3\xA9t\xC3\xA9s",
        "a string of 3 bytes holds at most 3 characters; this text has 4"},
    {exttype::LString, 300, std::string(256, 'x'),
        "an lstring of 300 bytes holds at most 255 characters; this text has 256"},
    {exttype::LVar, 1, "", "an lvar of 1 byte has no room for its length"},
    {exttype::WString, 4, "abc",
        "a wstring of 4 bytes holds at most 2 characters; this text has 3"},
    {exttype::WString, 4, "a\xF0\x9F\x98\x80",
        "a wstring of 4 bytes holds at most 2 UTF-16 units; this text takes 3"},
    {exttype::WString, 3, "a",
        "a wstring takes an even number of bytes, this field has 3 bytes (its bytes can be given "
        "as 0x and 6 hex digits)"},
    {exttype::String, 8, "bad \xFF", "the text is not valid UTF-8 (byte 5)"},
    {99, 2, "abc", "3 hex digits given, the field's 2 bytes take 4"},
    {99, 2, "wxyz", "'wxyz' is not hex digits"},
    {exttype::Integer, 4, "\x01zz\xC3", "'\xEF\xBF\xBDzz\xEF\xBF\xBD' is not a number"},
};

TEST(Encode, RefusedWithTheReasonAndTheBytesLeftAsTheyWere)
{
    TextEncoder encoder;
    for (const Refused& c : RefusedCases) {
        Bytes bytes(c.length, c.fill);
        std::string why;
        EXPECT_FALSE(encodeValue(
            {c.type, c.decimals, c.signedByte}, c.text, bytes.data(), bytes.size(), encoder, why))
            << "type " << int(c.type) << " '" << c.text << "'";
        EXPECT_EQ(why, c.why) << "type " << int(c.type) << " '" << c.text << "'";
        EXPECT_EQ(bytes, Bytes(c.length, c.fill))
            << "type " << int(c.type) << " '" << c.text << "'";
    }
}

TEST(Encode, CodePagesTakeTheirOwnLettersAndNameTheOthers)
{
    struct Page
    {
        const char* name;
        std::string text;
        Bytes bytes;     // empty: refused
        std::string why; // the refusal's reason
    };
    const std::vector<Page> pages {
        {"CP437", "\xC3\xA9\xE2\x96\x91", {0x82, 0xB0}, ""},                        // é ░
        {"CP437", "\xD0\x96", {}, "'\xD0\x96' cannot be written in CP437"},         // Ж
        {"CP850", "\xC3\x98\xC3\x80", {0x9D, 0xB7}, ""},                            // Ø À
        {"CP850", "\xE2\x82\xAC", {}, "'\xE2\x82\xAC' cannot be written in CP850"}, // €
        {"CP866", "\xD0\x96\xD1\x8F", {0x86, 0xEF}, ""},                            // Жя
        {"CP866", "A\xC3\xA9", {}, "'\xC3\xA9' cannot be written in CP866"},
        {"CP1252", "\xE2\x82\xAC\xC3\xBF", {0x80, 0xFF}, ""},                         // €ÿ
        {"CP1252", "\xE2\x94\x80", {}, "'\xE2\x94\x80' cannot be written in CP1252"}, // ─
        {"CP1252", "\xC2\x81", {}, "U+0081 cannot be written in CP1252"},
    };
    for (const Page& p : pages) {
        TextEncoder encoder(p.name);
        ASSERT_TRUE(encoder.valid()) << p.name;
        Bytes bytes(2, 0x5A);
        std::string why;
        const bool written
            = encodeValue({exttype::String}, p.text, bytes.data(), bytes.size(), encoder, why);
        EXPECT_EQ(written, !p.bytes.empty()) << p.name << " " << p.text;
        EXPECT_EQ(why, p.why) << p.name;
        EXPECT_EQ(bytes, p.bytes.empty() ? Bytes(2, 0x5A) : p.bytes) << p.name << " " << p.text;
        if (written) {
            TextDecoder decoder(p.name);
            std::string text;
            appendValue({exttype::String}, bytes.data(), bytes.size(), decoder, text);
            EXPECT_EQ(text, p.text) << p.name;
        }
    }
    // A code page of two bytes a character is counted in bytes.
    TextEncoder utf8("UTF-8");
    Bytes three(3);
    std::string why;
    EXPECT_FALSE(encodeValue({exttype::String}, "\xC3\xA9\xC3\xA9", three.data(), 3, utf8, why));
    EXPECT_EQ(why, "a string of 3 bytes holds at most 3 bytes of text in UTF-8; this text takes 4");

    TextEncoder unknown("NO-SUCH-CODE-PAGE");
    EXPECT_FALSE(unknown.valid());
    EXPECT_NE(unknown.error().find("NO-SUCH-CODE-PAGE"), std::string::npos);
    EXPECT_FALSE(encodeValue({exttype::String}, "\xC3\xA9", three.data(), 3, unknown, why));
    EXPECT_EQ(why, unknown.error());
    EXPECT_TRUE(encodeValue({exttype::String}, "ok", three.data(), 3, unknown, why));
}

// A zstring, lstring or lvar whose text the code page cannot read shows the hex of the whole
// field and goes back as those bytes; hex digits of another length are the characters typed, even
// when their bytes would not be text (a stored text "0x94" must read back as itself).
TEST(Encode, TextTheCodePageCannotReadGoesBackAsItsBytes)
{
    TextEncoder cp1252("CP1252");
    TextDecoder decoder("CP1252");
    for (const Stored& c : std::vector<Stored> {{exttype::ZString, {'A', 0x81, 0, 0}},
             {exttype::LString, {2, 'A', 0x81, 0}}, {exttype::LVar, {1, 0, 0x81, 0}}}) {
        std::string text;
        ASSERT_EQ(int(appendValue({c.type}, c.bytes.data(), c.bytes.size(), decoder, text)),
            int(Kind::Invalid));
        Bytes bytes(c.bytes.size(), 0);
        std::string why;
        EXPECT_TRUE(encodeValue({c.type}, text, bytes.data(), bytes.size(), cp1252, why)) << why;
        EXPECT_EQ(bytes, c.bytes) << text;
    }
    // Hex of readable text, in upper case, or with blanks around it is the characters typed.
    for (const std::string typed : {"0x4142", "0x8D", " 0x8d", "0x8d\n", "0x8d"}) {
        Bytes bytes(8, 0);
        std::string why;
        EXPECT_TRUE(
            encodeValue({exttype::ZString}, typed, bytes.data(), bytes.size(), cp1252, why));
        EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + long(typed.size())), typed);
    }
    // An lvar whose text is hex digits of bytes UTF-8 cannot read goes round as that text.
    TextEncoder utf8("UTF-8");
    TextDecoder fromUtf8("UTF-8");
    Bytes field(16, 0);
    std::string why;
    ASSERT_TRUE(encodeValue({exttype::LVar}, "0x94", field.data(), field.size(), utf8, why)) << why;
    std::string back;
    EXPECT_EQ(int(appendValue({exttype::LVar}, field.data(), field.size(), fromUtf8, back)),
        int(Kind::Text));
    EXPECT_EQ(back, "0x94");
}

TEST(Encode, FieldsOfARecordAsAppendFieldReadsThem)
{
    TextEncoder encoder;
    Bytes record {1, 2, 3, 4, 5, 6, 7, 8};
    const Field number {"n", 0, 2, {exttype::Integer}, Source::Dictionary, {}};
    const Field filler {"filler_3", 2, 2, {}, Source::Filler, {}};
    const Field variable {"variable_part", 6, 0, {}, Source::VariablePart, {}};
    const Field past {"past", 6, 4, {exttype::String}, Source::Dictionary, {}};
    std::string why;
    EXPECT_TRUE(encodeField(number, "-2", record.data(), record.size(), encoder, why)) << why;
    EXPECT_TRUE(encodeField(filler, "abcd", record.data(), record.size(), encoder, why)) << why;
    EXPECT_TRUE(encodeField(variable, "0xeeff", record.data(), record.size(), encoder, why)) << why;
    EXPECT_EQ(record, (Bytes {0xFE, 0xFF, 0xAB, 0xCD, 5, 6, 0xEE, 0xFF}));
    EXPECT_FALSE(encodeField(variable, "eeff00", record.data(), record.size(), encoder, why));
    EXPECT_EQ(why, "6 hex digits given, the field's 2 bytes take 4");
    EXPECT_FALSE(encodeField(past, "x", record.data(), record.size(), encoder, why));
    EXPECT_EQ(why,
        "the record ends before field past does (it has 8 bytes, the field runs to "
        "byte 10)");
    EXPECT_EQ(record, (Bytes {0xFE, 0xFF, 0xAB, 0xCD, 5, 6, 0xEE, 0xFF}));
}

} // namespace
