// The layout in force for one open data file, chosen as every reader of records chooses it: a
// layout file when one is given, the keys alone when asked, otherwise the data dictionary's table
// (beside the file or in a directory given) with inference for what it leaves uncovered, or
// inference alone where there is no dictionary; and the code page its text is read in, given or
// guessed from the dictionary's names and the text of the first records.
//
// Nothing is printed: what a user should be told comes back as notes, a failure as an error in
// the window's words, so that the command line prints them and the records window shows them.
#pragma once

#include "CodePage.h"
#include "Dictionary.h"
#include "Layout.h"
#include "Sample.h"
#include "TextDecoder.h"

#include <string>
#include <vector>

class TWinBtr;

namespace fields {

struct FileLayoutOptions
{
    std::string encoding = AutoEncoding; // a code-page name, or "auto" to guess
    std::string dictionary;              // a directory, empty: look beside the file
    std::string table;
    std::string layoutFile; // a layout JSON file (or a directory holding NAME.json)
    bool infer = false;     // infer even when a dictionary is found (uncovered bytes)
    bool keysOnly = false;
    // Infer from runs of records spread over the file by percentages rather than from a walk
    // over every record: what a window opening a large file wants at once.
    bool spreadSample = false;
    // How the notes tell a user to choose another code page, and to give the owner name of a
    // file whose records are encrypted: each program names its own control for it.
    std::string encodingHint = "the Code page box";
    std::string ownerAdvice
        = "its records are encrypted under an owner name; open it again and give the name";
};

struct FileLayout
{
    bool ok = false;
    std::string error; // when !ok, in the window's words
    Layout layout;     // layout.origin says where the fields come from
    std::string encoding;
    std::vector<std::string> notes;
};

FileLayout fileLayout(TWinBtr& file, const std::string& name, const FileLayoutOptions& options);

// What a user is told of a code page guessed from bytes outside ASCII, empty when the text was
// plain ASCII: "FILE: text read as CP866 (guessed from ...; choose another with HINT)". `what`
// says what was read: "text", or "names" where no record was.
std::string guessNote(const std::string& subject, const CodePageGuess& guess,
    const std::string& encodingHint, const char* what = "text");

// With `encoding` "auto", the code page of the open file's text guessed from the names of
// `dictionary` (when there is one) and the layout's text fields over its first records, its note
// added to `notes`: `decoder` then reads it. True when that changed the decoder's code page.
bool guessEncoding(const std::string& encoding, TWinBtr& file, const std::string& name,
    const Dictionary* dictionary, const Layout& layout, TextDecoder& decoder,
    const std::string& encodingHint, std::vector<std::string>& notes);

// The layout file for data file `name` that `path` gives: path itself, or for a directory the
// file in it named as the data file's stem with .json (in any case). Empty when the directory has
// none.
std::string layoutFileFor(const std::string& path, const std::string& name);

// Reads the layout file `path` for the open file `name` (its Stat image read). False with `error`
// set: a file that cannot be read, or a layout that does not fit the file.
bool readLayoutFile(TWinBtr& file, const std::string& name, const std::string& path, Layout& layout,
    std::string& error);

// Reads the sample inference takes from the open file `name` (its Stat image read), spread by
// percentages when `spread`. A read that
// fails after some records is noted and the sample is what was read; an encrypted file read
// without its owner name is noted (its keys still make a layout); false with `error` set when no
// record could be read.
bool readRecordSample(TWinBtr& file, const std::string& name, RecordSample& sample,
    const std::string& ownerAdvice, std::vector<std::string>& notes, std::string& error,
    bool spread = false);

} // namespace fields
