// Layout files: the JSON `varnok-cli fields --json` prints, kept by a person, corrected by hand
// and read back to export with. Written and read here only.
//
// The shape: one object with file, origin, encoding (the code page its text was read in, when
// known), table, recordLength, variableLength and fields, an
// array of objects with name, position (from 1), length (null for the variable part), type (a
// description file's type name, or "hex"), decimals, signed (true for a 1-byte integer read as
// signed; left out otherwise), source and evidence (a string for inferred fields, else null).
//
// Read back: a field is its name, position, length, type, decimals and signed; source and
// evidence are kept as written. Fields may overlap. Hex fields named filler_<N> and the variable
// part are made afresh from the file (bytes no field covers become fillers again); a hex field
// given another name is kept under it. Members the reader does not know are passed over.
#pragma once

#include "Layout.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fields {

// The longest field name a layout file takes, in bytes of UTF-8.
constexpr size_t MaxName = 255;
// No record is longer than a 16-bit data length says.
constexpr uint64_t MaxPosition = 65535;
// A layout names at most a few thousand fields: a file larger than this is not one.
constexpr size_t MaxLayoutFile = size_t(16) << 20;
// What a field's type is called in the file: "hex" for fillers and the variable part.
constexpr const char* HexName = "hex";

// A hex field named filler_<N>: bytes no field covers, which a reader makes afresh.
bool isFillerName(const std::string& name);
// The type code of a description file's type name, in any case.
bool typeByName(const std::string& name, uint8_t& code);
// Every type name a layout file takes, in the order of the type codes, then "hex".
std::vector<std::string> typeNames();

// The rules a layout file's fields are read by, kept here for whoever makes a field another way
// (the layout editor). Each says why the field cannot be, in the words of a refusal, or is empty
// when it can.
// A name that is empty, longer than MaxName bytes or holds a control character.
std::string nameRefusal(const std::string& name);
// A type name that is neither a description file's nor "hex".
std::string typeRefusal(const std::string& type);
// A length the type (`type` as the user wrote it, `code` its code) does not take.
std::string lengthRefusal(const std::string& type, uint8_t code, uint32_t length);
// A position (from 1) or a length out of range, or bytes past the end of a fixed-length record.
std::string extentRefusal(
    uint64_t position, uint64_t length, uint32_t recordLength, bool variableLength);
// Decimals outside 0 to 255, or a bit field's bit number outside its bytes (f: its type and
// length).
std::string decimalsRefusal(const Field& f, int64_t decimals);

using LayoutJson = nlohmann::ordered_json;

// The layout of the file `file` as JSON; `encoding`, when not empty, the code page its text was
// read in.
LayoutJson layoutJson(
    const Layout& layout, const std::string& file, const std::string& encoding = {});

struct LayoutRead
{
    Layout layout;
    // Why the text is not a layout for the file, naming the field (or the line and column of
    // malformed JSON); empty when it is.
    std::string error;
    bool ok() const { return error.empty(); }
};

// Reads a layout file's text as the layout of records of `recordLength` bytes (with a variable
// part after them when `variableLength`). Refused, with nothing of it kept: text that is not JSON,
// a field without a name or with a name used before (in any case), an unknown type, a length its
// type does not take, a field past the end of a fixed-length record, a variable part in a file
// without one, a recordLength other than the file's. `origin` says where the layout came from.
LayoutRead parseLayout(
    std::string_view text, uint32_t recordLength, bool variableLength, const std::string& origin);

} // namespace fields
