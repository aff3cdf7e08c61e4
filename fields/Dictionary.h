// Data dictionaries: FILE.DDF, FIELD.DDF and INDEX.DDF, the three record-manager files that
// applications of the vendor's SQL layer keep beside their data files to name tables, fields and
// indexes. They are read through TWinBtr like any other data file; parsing their records is a
// pure function over bytes, so that it can be fuzzed.
#pragma once

#include "Layout.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fields {

// The dictionary's record layouts.
namespace ddf {
// FILE.DDF: one 97-byte record per table.
namespace file {
constexpr int Id = 0;   // 16-bit
constexpr int Name = 2; // 20 bytes
constexpr int NameSize = 20;
constexpr int Location = 22; // 64 bytes
constexpr int LocationSize = 64;
constexpr int Flags = 86; // 8-bit
constexpr int RecordSize = 97;
constexpr uint8_t DictionaryFile = 0x10; // the table is one of the dictionary's own files
constexpr uint8_t TrueNulls = 0x40;
} // namespace file
// FIELD.DDF: one 32-byte record per field.
namespace field {
constexpr int Id = 0;   // 16-bit
constexpr int File = 2; // 16-bit, the table's id
constexpr int Name = 4; // 20 bytes
constexpr int NameSize = 20;
constexpr int DataType = 24; // 8-bit
constexpr int Offset = 25;   // 16-bit, 0-based
constexpr int Size = 27;     // 16-bit
constexpr int Decimals = 29; // 8-bit
constexpr int Flags = 30;    // 16-bit
constexpr int RecordSize = 32;
// Data types of entries that are not fields.
constexpr uint8_t ConstraintName = 227;
constexpr uint8_t IndexName = 255;
constexpr uint16_t CaseInsensitive = 0x01;
constexpr uint16_t Nullable = 0x04;
constexpr uint16_t SignedByte = 0x08;
} // namespace field
// INDEX.DDF: one 10-byte record per index segment, five 16-bit numbers.
namespace index {
constexpr int File = 0;
constexpr int Field = 2;
constexpr int Number = 4;
constexpr int Part = 6;
constexpr int Flags = 8;
constexpr int RecordSize = 10;
} // namespace index
} // namespace ddf

// Names and locations are the bytes the dictionary holds, in its code page: TextDecoder::name
// gives them in UTF-8.
struct DictTable
{
    uint16_t id = 0;
    std::string name;     // blanks and NULs at the end trimmed
    std::string location; // as stored, trimmed
    uint8_t flags = 0;
    bool dictionaryFile() const { return flags & ddf::file::DictionaryFile; }
};

struct DictField
{
    uint16_t id = 0;
    uint16_t file = 0;
    std::string name;
    uint8_t dataType = 0;
    uint16_t offset = 0;
    uint16_t size = 0;
    uint8_t decimals = 0;
    uint16_t flags = 0;
    bool isField() const
    {
        return dataType != ddf::field::ConstraintName && dataType != ddf::field::IndexName;
    }
};

struct DictIndex
{
    uint16_t file = 0;
    uint16_t field = 0;
    uint16_t number = 0;
    uint16_t part = 0;
    uint16_t flags = 0;
};

struct Dictionary
{
    std::filesystem::path directory;
    std::vector<DictTable> tables;
    std::vector<DictField> fields;
    std::vector<DictIndex> indexes;
    // Records that could not be read (too short), one sentence each; the rest is still read.
    std::vector<std::string> problems;

    // A table by a name in UTF-8, in any case: the stored name read in `names`' code page, or in
    // any the guess knows, when it is not the same bytes; null when there is none.
    const DictTable* table(const std::string& name, TextDecoder* names = nullptr) const;
};

using RecordList = std::vector<std::vector<uint8_t>>;

// The dictionary the three files' records make. Never fails: a record shorter than its layout is
// left out with a problem naming the file and the record's number; names are cut at their size.
Dictionary parseDictionary(
    const RecordList& fileDdf, const RecordList& fieldDdf, const RecordList& indexDdf);

// The layout the dictionary gives table t for records of the Stat image's shape: its fields
// (constraint and index names left out), named in UTF-8 as `names` reads them, completed.
Layout tableLayout(const Dictionary& dictionary, const DictTable& t, const spec::SpecBuffer& stat,
    TextDecoder& names);

// Where a table's location leads: the file, found case-insensitively component by component
// below the dictionary's directory (DOS backslashes read as separators; a component that is not
// there as its bytes is looked for as `names` reads it, then as any code page the guess knows
// reads it, for files renamed into UTF-8); or an error when it points outside that directory
// (absolute, a drive letter, "..") or nowhere, which quotes the location as `names` reads it.
struct Located
{
    std::filesystem::path path;
    std::string error; // empty when found
    bool found() const { return error.empty(); }
};
Located locate(const std::filesystem::path& directory, const std::string& location,
    TextDecoder* names = nullptr);

// A name in `directory` matching `name` case-insensitively (an exact match first); empty when
// there is none or the directory cannot be listed.
std::filesystem::path findInDirectory(
    const std::filesystem::path& directory, const std::string& name);

// Reads the dictionary in `directory` through TWinBtr. `error` says why it could not be read: no
// FILE.DDF (and whether only the newer, unpublished dictionary files are there), or a file that
// does not open or read, with the record manager's status.
struct DictionaryRead
{
    Dictionary dictionary;
    std::string error;
    bool present = true; // false when the directory holds no FILE.DDF
    bool ok() const { return error.empty(); }
};
DictionaryRead readDictionary(const std::filesystem::path& directory);

// Every record of a data file in physical order, or the status that stopped the read (EndOfFile
// never: that is success).
int16_t readAllRecords(const std::string& name, RecordList& records);

// The layout for data file `name` with Stat image `stat`:
//   - with `table`, that table of the dictionary in `dictionaryDir` (or the file's directory);
//   - otherwise, with a dictionary there, the table whose location is the file;
//   - otherwise the layout from the keys.
// A dictionary named with `dictionaryDir` or `table` must be there and readable and must have the
// table; one found beside the file that does not read is noted and the keys used instead. Names
// are read in `names`' code page.
struct LayoutChoice
{
    Layout layout;
    std::string error; // empty on success
    std::vector<std::string> notes;
    // The dictionary that was read (null when there was none or it did not read) and the table
    // the layout is of (null for a layout from the keys): to name the fields again in another
    // code page, and for the guess of which one.
    std::shared_ptr<const Dictionary> dictionary;
    const DictTable* table = nullptr;
    bool ok() const { return error.empty(); }
};
LayoutChoice chooseLayout(const std::string& name, const spec::SpecBuffer& stat,
    const std::string& dictionaryDir, const std::string& table, TextDecoder& names);

} // namespace fields
