// The options of the commands that read a file's records: in which order (save, export), and as
// which fields (fields, export, convert), with text in which code page (every command that prints
// text from inside a file).
#pragma once

#include "CodePage.h"
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
    std::string encoding = fields::AutoEncoding;
    std::string dictionary; // empty: the file's own directory
    std::string table;
};

// --dictionary and, when asked for, --table and --encoding.
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
// on standard error; false with the failure reported. `decoder` receives the code page of its
// text: --encoding's, or with auto the one guessed from the names of the dictionary beside it and
// the text fields of its first records (said on standard error); the layout's names are read in
// it.
bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout, fields::TextDecoder& decoder);
bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout);

// The file's Stat image as a SpecBuffer.
spec::SpecBuffer statBuffer(const TWinBtr& file);

} // namespace cli
