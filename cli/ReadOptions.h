// The options of the commands that read a file's records: in which order (save, export), and as
// which fields (fields, export, convert), with text in which code page (every command that prints
// text from inside a file).
#pragma once

#include "CodePage.h"
#include "Context.h"
#include "Dictionary.h"
#include "Inference.h"

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
    std::string encoding = fields::AutoEncoding;
    std::string dictionary; // empty: the file's own directory
    std::string table;
    bool infer = false;    // infer the bytes a dictionary leaves uncovered too
    bool keysOnly = false; // the keys and fillers, no dictionary, no inference
    std::string layout;    // a layout file, or a directory of <data file stem>.json
};

// --dictionary, --infer, --keys-only, --layout and, when asked for, --table and --encoding.
void addFieldOptions(CLI::App* cmd, FieldOptions& options, bool table = true, bool encoding = true);
// --encoding alone, for the commands that read names but no fields.
void addEncodingOption(CLI::App* cmd, std::string& encoding);

// True for --encoding auto (in any case): the code page is guessed from each file's text.
bool guessesEncoding(const std::string& encoding);

// The decoder of --encoding's code page (CP437 for auto, until a guess names another); false with
// the failure reported when iconv does not know the code page.
bool encodingDecoder(Context& ctx, const std::string& encoding, fields::TextDecoder& decoder);

// Says on standard error which code page `subject`'s text is read in and why, when it was guessed
// from bytes outside ASCII: "FILE: text read as CP866 (guessed from ...; choose another with
// --encoding NAME)". `what` says what was read: "text", or "names" where no record was.
void sayGuess(Context& ctx, const std::string& subject, const fields::CodePageGuess& guess,
    const char* what = "text");

// With --encoding auto, the code page of the open file `name`'s text, guessed from the names of
// `dictionary` (the one beside it, when there is one) and the layout's text fields over its first
// records, said on standard error: `decoder` then reads it. True when that changed the decoder's
// code page (a layout from a dictionary is then to be named again). Otherwise nothing.
bool guessEncoding(Context& ctx, const std::string& encoding, TWinBtr& file,
    const std::string& name, const fields::Dictionary* dictionary, const fields::Layout& layout,
    fields::TextDecoder& decoder);

// The layout of the open file `name` (its Stat image taken from `file`), with the layout's notes
// on standard error; false with the failure reported. It is, in this order: the layout file
// --layout names (for a directory, the file's stem with .json in it, which must be there); the
// keys with --keys-only; the dictionary's table; otherwise, and with --infer also for what the
// dictionary leaves uncovered, inferred from a sample of the file's records (which moves the
// file's position: read from the first record afterwards). `decoder` receives the code page of
// its text: --encoding's, or with auto the one guessed from the names of the dictionary beside it
// and the text fields (inferred ones too) of its first records (said on standard error); the
// layout's names and the evidence's examples are read in it.
bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout, fields::TextDecoder& decoder);
bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout);

// The file's Stat image as a SpecBuffer.
spec::SpecBuffer statBuffer(const TWinBtr& file);

// The layout file for data file `name` that `path` gives: path itself, or for a directory the
// file in it named as the data file's stem with .json (in any case). Empty when the directory
// has none.
std::string layoutFileFor(const std::string& path, const std::string& name);

// Reads the layout file `path` for the open file `name` (its Stat image read). False with the
// failure reported: a file that cannot be read, or a layout that does not fit the file.
bool readLayoutFile(Context& ctx, TWinBtr& file, const std::string& name, const std::string& path,
    fields::Layout& layout);

// Reads the sample inference takes from the open file `name` (its Stat image read) into `sample`
// (made for its record length). A read that fails after some records is noted and the sample is
// what was read; false with the failure reported when no record could be read.
bool readRecordSample(
    Context& ctx, TWinBtr& file, const std::string& name, fields::RecordSample& sample);

} // namespace cli
