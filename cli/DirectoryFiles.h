// The commands that go through a directory (tables, convert) account for every file in it: what
// they read or converted, and what they could not and why, sorted by kind, one line each. A file
// that is no record-manager file at all (a program's state file named *.DAT, a text file) is
// listed and is no failure; a record-manager file that could not be read is one.
#pragma once

#include "Context.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// What became of a file of a directory, in the order a summary lists them.
enum class Outcome : uint8_t {
    Done,         // read (tables) or converted (convert)
    Unnamed,      // a record-manager file the dictionary does not name (tables)
    Damaged,      // damaged: varnok-cli recover may rescue its records
    NotRead,      // a version or a feature Varnok does not read
    OwnerName,    // records encrypted under an owner name that was not given
    Failed,       // anything else that stopped it (a permission, a full disk, a database error)
    Missing,      // a table whose file is not there
    NotADataFile, // no record-manager file at all
    Dictionary,   // one of the data dictionary's own files
};

// True for the outcomes that make a command's exit status 1.
bool isFailure(Outcome outcome);

// Why the record manager refused a file: the status, its reason in words and the reason's kind.
struct Refusal
{
    int16_t status = 0;
    std::string reason;
    uint8_t kind = 0; // btr::reason

    // The outcome the kind makes (from the status when the record manager gave no kind):
    // NotADataFile, NotRead, Damaged, OwnerName or Failed.
    Outcome outcome() const;
    // "not a data file (status 30): version 7.x files are not read"
    std::string words() const;
};

// The refusal of the call `file` made last: its status and the record manager's reason (for 51,
// how to give the owner name).
Refusal refusalOf(TWinBtr& file);

// Opens `name` read-only with the owner name `owner` (empty: none); false with the refusal when
// the record manager does not open it (the file is then closed).
bool openToRead(
    TWinBtr& file, const std::string& name, Refusal& refusal, const std::string& owner = {});
// The refusal of a file whose records need the owner name, found before any record is read.
Refusal ownerNameRefusal();

// The regular files directly in `directory`, by name; false with the failure reported.
bool directoryFiles(Context& ctx, const std::string& directory, std::vector<std::string>& files);

// True when the two paths lead to the same file.
bool sameFile(const std::string& a, const std::string& b);

class DirectorySummary
{
public:
    // One line about a file (or a missing table) and, for a file done, its records.
    void add(Outcome outcome, std::string line, uint64_t records = 0);
    // Each outcome's lines under a heading with their count, in Outcome's order (Done's heading
    // even when there are none): `done` names what Done is ("Converted", "Read").
    void print(std::FILE* out, const char* done) const;

private:
    std::vector<std::pair<Outcome, std::string>> lines_;
    uint64_t records_ = 0;
};

} // namespace cli
