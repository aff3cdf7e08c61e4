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
// --owner NAME: the owner name a file's encrypted records are read with.
void addOwnerOption(CLI::App* cmd, std::string& owner);
// Sets the open file's key number and Step use; a file without keys is read in Step order
// whatever was asked.
void applyOrder(TWinBtr& file, const RecordOrder& order);

struct FieldOptions
{
    std::string encoding = fields::DefaultEncoding;
    std::string dictionary; // empty: the file's own directory
    std::string table;
};

// --dictionary and, when asked for, --table and --encoding.
void addFieldOptions(CLI::App* cmd, FieldOptions& options, bool table = true, bool encoding = true);

// The layout of the open file `name` (its Stat image taken from `file`), with the layout's notes
// on standard error; false with the failure reported.
bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout);

// The file's Stat image as a SpecBuffer.
spec::SpecBuffer statBuffer(const TWinBtr& file);

} // namespace cli
