// The options of the commands that read a file's records: in which order (save, export), and as
// which fields (fields, export, convert).
#pragma once

#include "Context.h"
#include "Dictionary.h"

#include <CLI/App.hpp>

#include <string>

namespace cli {

// Key 0 order by default, the order of another key, or physical (Step) order.
struct RecordOrder
{
    int key = 0;
    bool physical = false;
};

void addOrderOptions(CLI::App* cmd, RecordOrder& order);
// Sets the open file's key number and Step use; a file without keys is read in Step order
// whatever was asked.
void applyOrder(TWinBtr& file, const RecordOrder& order);

struct FieldOptions
{
    std::string encoding = fields::DefaultEncoding;
    std::string dictionary; // empty: the file's own directory
    std::string table;
    bool infer = false;    // infer the bytes a dictionary leaves uncovered too
    bool keysOnly = false; // the keys and fillers, no dictionary, no inference
    std::string layout;    // a layout file, or a directory of <data file stem>.json
};

// --dictionary, --infer, --keys-only, --layout and, when asked for, --table and --encoding.
void addFieldOptions(CLI::App* cmd, FieldOptions& options, bool table = true, bool encoding = true);

// The layout of the open file `name` (its Stat image taken from `file`), with the layout's notes
// on standard error; false with the failure reported. It is, in this order: the layout file
// --layout names (for a directory, the file's stem with .json in it, which must be there); the
// keys with --keys-only; the dictionary's table; otherwise, and with --infer also for what the
// dictionary leaves uncovered, inferred from a sample of the file's records (which moves the
// file's position: read from the first record afterwards).
bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout);

// The layout file for data file `name` that `path` gives: path itself, or for a directory the
// file in it named as the data file's stem with .json (in any case). Empty when the directory
// has none.
std::string layoutFileFor(const std::string& path, const std::string& name);

// Reads the layout file `path` for the open file `name` (its Stat image read). False with the
// failure reported: a file that cannot be read, or a layout that does not fit the file.
bool readLayoutFile(Context& ctx, TWinBtr& file, const std::string& name, const std::string& path,
    fields::Layout& layout);

// Replaces the fillers of `layout` by fields inferred from a sample of the open file's records
// (its Stat image read); false with the failure reported when the records cannot be read.
bool inferFields(Context& ctx, TWinBtr& file, const std::string& name, const std::string& encoding,
    fields::Layout& layout);

// The file's Stat image as a SpecBuffer.
spec::SpecBuffer statBuffer(const TWinBtr& file);

} // namespace cli
