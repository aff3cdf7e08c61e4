// Description files: the maintenance utility's CREATE input, a text of keyword=value elements that
// spells out a data file's definition, and the ACS files that hold its collating sequences.
//
// readDescription turns such a text into the image Create takes, writeDescription turns the image
// Stat answers into such a text, and locateRefusal finds the elements behind a status that Create
// answers for a description. None of them touches the file system: the text comes in as bytes,
// collating sequences come in through a callback and go out in the result, and Create runs
// through another callback, so that a command may resolve paths and a fuzz target may feed bytes.
//
// The text, in the order given (elements may be left out; a left-out flag is "n", a left-out
// number 0):
//   file:     record= variable= truncate= compress= key= page= allocation= replace= dupkey= data=
//             fthreshold=10|20|30 vats= balance=       (record=, key= and page= are required)
//   segment:  position= length= duplicates= modifiable= type= descending= alternate=
//             caseinsensitive= repeatdup= nullkey=allsegs|anyseg (or null=y|n) value= segment=
//             (position= begins a segment and is required, length= too; segment=y says that
//             another segment of the same key follows)
//   name=     the ACS file of the collating sequence: after the last segment of a key whose
//             segments say alternate=y, or once after all keys for every such key before it.
// Elements are separated by blanks, tabs or line ends; /* ... */ is a comment; keywords and y/n
// are read in either case; value= is the null value in hexadecimal (one byte: "20", "0x20").
//
// Type names: string, integer, float, date, time, decimal, money, logical, numeric, bfloat,
// lstring, zstring, note, lvar, unsignedbinary, autoincrement, bit, numericsts (numeric with a
// separate trailing sign), currency, timestamp, wstring, wzstring, guid; or their first three
// letters ("int"), in any case. Also read: "unsigned" for unsignedbinary and "signseparate" for
// numericsts. "num" is numeric and "tim" is time: numericsts and timestamp need their full names.
// A segment without type= is an old-style string key (no extended type).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace spec {

// Where an element of a description was read.
struct ElementSite
{
    std::string keyword; // lower case; "null" and "nullkey" are kept apart
    std::string value;   // as written
    int line = 0;        // 1-based line of the text
    int key = -1;        // the key it belongs to, 0-based in definition order; -1: a file element
    int segment = 0;     // 1-based segment within that key; 0: a file element, or name=
};

// An ACS file as the caller found it: 265 bytes (0xAC, the 8-byte name, the 256-byte table).
struct AcsFile
{
    std::vector<uint8_t> bytes;
    std::string error; // why the file could not be read; empty when bytes holds its content
};

// Reads the ACS file a name= element names (the name as written; the caller resolves it, for
// instance against the description's directory). Called once per distinct name.
using AcsLoader = std::function<AcsFile(const std::string& name)>;

struct Description
{
    std::vector<uint8_t> image;     // the Create image: header, segment entries, ACS blocks
    bool replace = false;           // replace=y: Create may replace an existing file
    std::vector<ElementSite> sites; // every element read, in text order (name=: one per key)
    std::string error;              // one line, "line 4: unknown element 'lenght'"; empty: read

    bool ok() const { return error.empty(); }
    // The element of that keyword of key `key` segment `segment` (-1, 0: a file element; key, 0:
    // the key's name=), or null when the text leaves it out.
    const ElementSite* site(std::string_view keyword, int key = -1, int segment = 0) const;
};

// The name a description file gives a type code ("integer", "numericsts"); null for a code no
// type has.
const char* typeName(uint8_t code);

// Reads a description. Collating sequences are numbered in the order in which keys first use a
// distinct one (the same bytes under two file names are one sequence). The image never exceeds
// the 1920-byte definition buffer; anything the text gets wrong, and any file the loader cannot
// give, is an error that names the line and element, and leaves image empty.
Description readDescription(std::string_view text, const AcsLoader& loadAcs);

// A collating sequence to save beside a written description, under the name its name= says.
struct AcsFileOut
{
    std::string fileName;       // e.g. "GALCAPS.ACS": printable, no '/', no leading '.' or '-'
    std::vector<uint8_t> bytes; // the 265 bytes of the ACS file
};

struct WrittenDescription
{
    std::string text;                 // the description; empty on error
    std::vector<AcsFileOut> acsFiles; // one per distinct sequence, in the order name= uses them
    // One line each: what the definition holds that no element carries, so that a create from
    // the text will not give it back. The text's opening comment repeats them.
    std::vector<std::string> warnings;
    std::string error; // why the image cannot be described (cut short, damaged); empty: written

    bool ok() const { return error.empty(); }
};

// Describes a definition as Stat answers it: `length` bytes of header, segment entries and the
// ACS blocks the segments use (block n = AcsNumber n). Only the first 1920 bytes are looked at.
// Every element is written except fthreshold= when no free-space threshold is set (the element
// has no value for none); null=n stands for a key without null values. The live figures
// (records, key values, unused pages) are not described, except that allocation= gives the
// unused pages of a preallocated file.
WrittenDescription writeDescription(const uint8_t* statImage, size_t length);

// Runs Create on a candidate image and answers its status (0 when it would create the file).
using CreateAttempt = std::function<int16_t(const std::vector<uint8_t>& image)>;

struct Refusal
{
    int16_t status = 0; // what Create answers for the whole description; 0: accepted
    int key = -1;       // the first key with which the status appears; -1: the file elements
    int segment = 0;    // the first segment of that key with which it appears, 1-based; 0: none
    std::vector<ElementSite> elements; // the elements that set what Create refuses
    // One line naming them: "line 14: invalid key position (status 27) at key 2 segment 1:
    // position=40 length=20 (line 14), record=50 (line 1)"; empty when accepted.
    std::string message;
};

// Finds where Create's refusal of a description lies: it tries the whole image, then the
// definitions made of the first k keys, and within the first key that is refused, that key cut
// after each of its segments, and names the elements of the first one refused with the same
// status. Create runs once for the whole image and at most once per key and per segment of the
// refused key; an empty tryCreate finds nothing (status 0).
Refusal locateRefusal(const Description& description, const CreateAttempt& tryCreate);

} // namespace spec
