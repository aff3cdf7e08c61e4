// A file's field layout: the named, typed fields its records are read as, from a data dictionary
// or from the file's keys, completed so that every byte of every record belongs to a field.
//
// Bytes of the fixed part that no field covers become `filler_<position>` fields (hex, the
// position 1-based as in definitions); a variable-length file's records end in one
// `variable_part` field holding whatever follows the fixed part (hex). Overlapping fields (a field
// and its parts, as dictionaries give them) are all kept.
#pragma once

#include "SpecBuffer.h"
#include "Values.h"

#include <cstdint>
#include <string>
#include <vector>

namespace fields {

enum class Source : uint8_t { Dictionary, Key, Filler, VariablePart };

const char* sourceName(Source s);

// ASCII letters in lower case: names (of tables, fields, files) compare case-insensitively.
std::string lowerCase(std::string s);

struct Field
{
    std::string name;
    uint32_t offset = 0; // 0-based
    uint32_t length = 0; // the variable part: 0, it runs to the record's end
    ValueType type;
    Source source = Source::Key;

    uint32_t position() const { return offset + 1; }
    bool hex() const { return source == Source::Filler || source == Source::VariablePart; }
};

// The type's name as description files spell it ("integer", "numericsts"), "hex" for fillers and
// the variable part, "type N" for a code no field type has.
std::string typeName(const Field& f);

// How a database column holds a field's values: whole numbers (integers to 7 bytes of unsigned
// binary, logical and bit as 0 or 1), floating numbers, exact decimals (decimal, money, numeric,
// currency and unsigned binary of 8 bytes or more, whose digits a 64-bit integer or a double may
// not all hold), text (strings, dates, times, timestamps, GUIDs) or raw bytes (fillers, the
// variable part, types Varnok does not know).
enum class Column : uint8_t { Integer, Real, Exact, Text, Blob };
Column columnOf(const Field& f);

struct Layout
{
    std::vector<Field> fields;
    uint32_t recordLength = 0; // the fixed part
    bool variableLength = false;
    // Where the fields came from: "keys", or "dictionary DIR, table NAME".
    std::string origin;
    std::string table; // the dictionary's table name; empty for a layout from the keys
    // What a reader should know: fields past the record's end, types written as hex.
    std::vector<std::string> notes;
};

// One field per key segment of the Stat image, typed by its extended type (without one: binary
// keys as unsigned binary, others as string), named key<N> or key<N>_<S> for segment S (from 1) of
// a multi-segment key; a segment over exactly the bytes and type of an earlier one adds nothing.
// Then completed.
Layout keyLayout(const spec::SpecBuffer& stat);

// Sorts the fields by position (keeping the given order among equals), gives fields without a
// name or with a name used before (in any case, foldCase's) a name of their own, notes fields that
// run past the fixed part, and adds the fillers and the variable part. Names are UTF-8.
void completeLayout(Layout& layout);

// The record length and variable-length flag of a Stat image.
void setRecordShape(Layout& layout, const spec::SpecBuffer& stat);

// The text of field f of a record of `length` bytes, appended to out. A field that runs past the
// record's end is the hex of the bytes the record holds of it, Invalid.
Kind appendField(
    const Field& f, const uint8_t* record, size_t length, TextDecoder& decoder, std::string& out);

} // namespace fields
