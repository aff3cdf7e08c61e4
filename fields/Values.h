// Each type's stored bytes as text. A value is appended to a buffer the caller reuses, so that a
// loop over a million records allocates nothing once the buffer has grown.
//
// The text of each type:
//   string, zstring, lstring, note, lvar: the bytes up to the last one that is neither blank nor
//     NUL (zstring: before the first NUL; lstring: the length its first byte gives; lvar: the
//     length its first two bytes give), from the code page to UTF-8;
//   wstring, wzstring: UTF-16LE to UTF-8, trimmed the same way;
//   integer (1, 2, 4, 8 bytes; one byte unsigned unless signed), autoincrement (2, 4, 8),
//     unsigned binary (any length): decimal;
//   float, bfloat: the shortest decimal that reads back to the same value (an 8-byte bfloat has
//     55 bits of mantissa: it is read into a long double, which holds them all);
//   date: YYYY-MM-DD, all zero null; time: HH:MM:SS.hh; timestamp: YYYY-MM-DDTHH:MM:SS.fffffff;
//   decimal, money, numeric, numeric with a separate sign, currency: exact, with the scale's
//     decimals and trailing zeros ("-1234.50"); a numeric of blanks only is null;
//   logical, bit: 0 or 1; GUID: 8-4-4-4-12 hex, the first three groups little-endian.
// Bytes that are not a value of their type (a month 13, a packed half-byte above 9, a letter in a
// numeric, a length that is not the type's, a NaN or an infinity, which no decimal text and no
// JSON number carries) are written as "0x" and their hex digits, and said to be Invalid.
#pragma once

#include "TextDecoder.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fields {

// What the appended text is, so that a format can write it as a string, a number, a boolean or
// a null.
enum class Kind : uint8_t {
    Text,    // a string
    Number,  // a decimal number as JSON and SQL write one
    Boolean, // "0" or "1"
    Null,    // nothing appended
    Bytes,   // hex digits of bytes that have no type (fillers, the variable part)
    Invalid, // "0x" and the hex digits of bytes not valid for their type
};

struct ValueType
{
    uint8_t type = 0;        // a type code of btr::exttype
    uint8_t decimals = 0;    // scale, or the bit number of a bit field
    bool signedByte = false; // a 1-byte integer reads as signed
};

// True for the types that hold text in the file's code page: string, zstring, lstring, note, lvar.
bool holdsCodePageText(const ValueType& t);

// The bytes of a value of a type that holds text in the file's code page (string, zstring,
// lstring, note, lvar): those its type says are the text, trailing blanks and NULs trimmed. False
// for any other type, and for a length that runs past the value.
bool codePageText(
    const ValueType& t, const uint8_t* p, size_t n, const uint8_t*& text, size_t& length);

// Appends the text of the n bytes at p as a value of type t.
Kind appendValue(
    const ValueType& t, const uint8_t* p, size_t n, TextDecoder& decoder, std::string& out);

// Appends two lower-case hex digits a byte.
void appendHex(const uint8_t* p, size_t n, std::string& out);
// Appends "0x" and the hex digits; returns Kind::Invalid.
Kind appendInvalid(const uint8_t* p, size_t n, std::string& out);

} // namespace fields
