// Text a user typed, written back into a field's bytes by the field's type: the inverse of
// appendValue. The records window writes an edited cell with it before Update, and its Find box
// turns a key value into the key's bytes for Get Greater or Equal (one call per segment, each into
// its part of the key buffer).
//
// A value is written whole or not at all: when the text is not a value of the type, the bytes are
// left as they were and `why` says what is wrong in the user's words ("13 is not a month", "300
// does not fit a 1-byte integer (0 to 255)"), without a final full stop, for a message to end.
//
// The text appendValue writes for any bytes is always taken back, and the bytes written read as
// that same text. Beyond that, what a person types is taken:
//   - blanks before and after a number, a date, a time or hex digits; "+" before a number;
//   - string, note: the text in the code page, padded as the bytes it replaces were (NULs when
//     their last byte was NUL, blanks otherwise); an empty text is an empty string;
//   - zstring: the text and a NUL, NULs after it; it holds one character less than its length,
//     except over bytes that held no NUL either (a program that filled the field to its end);
//   - lstring, lvar: the length, the text, then NULs (blanks when the bytes replaced ended in one);
//   - wstring, wzstring: as string and zstring, in UTF-16LE;
//   - integer, autoincrement, unsigned binary: a whole number in the width's range ("12.00" too);
//   - float, bfloat: a decimal number, with an exponent or not, rounded to the nearest value the
//     type holds; a value beyond the type's range, or so small it would become zero, is refused;
//   - decimal, money, numeric, numeric with a separate sign, currency: an exact number with at
//     most the field's decimals (zeros past them are fine; "12" for "12.00"); a packed decimal
//     keeps the positive sign half-byte it had (0xA, 0xC, 0xE or 0xF, otherwise 0xF; 0xD for a
//     negative), a numeric its plain or overpunched last digit and its blank or zero padding;
//     "-0" keeps its sign where the type has one; an empty text is a numeric's null (blanks);
//   - date: YYYY-MM-DD (month and day may have one digit); empty or 0000-00-00 is the null date;
//   - time: HH:MM, HH:MM:SS or HH:MM:SS.hh; timestamp: a date alone or a date, "T" or a blank,
//     and a time with up to seven decimals of a second;
//   - logical, bit: 0 or 1, true or false, yes or no, in any case; true over a true logical keeps
//     its bytes, and a bit field changes only its own bit;
//   - GUID: 8-4-4-4-12 hex digits, with or without braces or dashes;
//   - any other type code: exactly 2n hex digits, with or without "0x".
// Plain numbers, times, timestamps, logicals and GUIDs have no empty value: an empty text is
// refused. For every type, "0x" and exactly 2n hex digits write those n bytes as they are: how a
// user mends a value that is not valid for its type, which appendValue shows in that form.
#pragma once

#include "Layout.h"
#include "TextEncoder.h"
#include "Values.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fields {

// Writes the value `text` as the n bytes at p of type t. True when written; false, with the bytes
// untouched and `why` said, when the text is not a value of the type or does not fit n bytes.
// `encoder` is the file's code page, for the text types.
bool encodeValue(const ValueType& t, std::string_view text, uint8_t* p, size_t n,
    TextEncoder& encoder, std::string& why);

// Writes exactly 2n hex digits (with or without "0x", blanks around them) as the n bytes at p:
// fillers and the variable part, which appendField writes as hex.
bool encodeHex(std::string_view text, uint8_t* p, size_t n, std::string& why);

// Writes field f of a record of `length` bytes, as appendField reads it: a filler as hex, the
// variable part as hex over the bytes the record has past the fixed part (its length stays as it
// is), any other field by its type. A field that runs past the record's end is refused.
bool encodeField(const Field& f, std::string_view text, uint8_t* record, size_t length,
    TextEncoder& encoder, std::string& why);

} // namespace fields
