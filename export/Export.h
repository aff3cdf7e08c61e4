// Every record of a data file as named, typed values, written as CSV, JSON Lines, an SQL script or
// a SQLite database: the one copy of those writers, shared by varnok-cli and the records window.
//
// An export never leaves half a file behind: it is written under a temporary name beside its
// destination and renamed over it only once complete, so that a failure, a full disk or a cancel
// leaves whatever was at the destination as it was.
#pragma once

#include "Layout.h"
#include "TextDecoder.h"
#include "WinBtr.h"

#include <cstdint>
#include <functional>
#include <string>

namespace exporting {

enum class Format { Csv, JsonLines, Sql, Sqlite };
enum class Dialect { Sqlite, Postgresql };

// The order the records are written in. key -1: physical order (Step); a file without keys is
// always read in physical order.
struct Order
{
    int key = -1;
    bool descending = false;
};

struct Settings
{
    Format format = Format::Csv;
    char delimiter = ',';              // CSV
    bool header = true;                // CSV
    std::string null;                  // CSV: the text of a null value
    Dialect dialect = Dialect::Sqlite; // SQL
    // SQL and SQLite: the table's name; empty: the layout's table or the file's name.
    std::string table;
};

struct Result
{
    bool ok = false;        // false: error says what and why, in the window's words
    bool cancelled = false; // the callback said stop: nothing was left at the path
    uint64_t records = 0;
    uint64_t invalidValues = 0; // values written as hex because not valid for their type
    std::string error;
};

// Called every few thousand records (and at the end) with the records written and the file's
// record count (0 when unknown); returning false cancels.
using ProgressFn = std::function<bool(uint64_t done, uint64_t total)>;

// Every record of the open `file` (its own handle: the export moves its position) in `order`,
// under `layout`, text decoded by `decoder`, into a new file at `path`: written to a temporary
// file beside it and renamed over `path` only when complete, so that a failure or a cancel leaves
// no partial file (and a file already at `path` untouched). For Format::Sqlite, `path` is a new
// SQLite database holding one table (as convert writes it, with its key indexes and
// varnok_source). `sourceName` names the data file in messages and in varnok_source.
Result exportFile(TWinBtr& file, const std::string& sourceName, const fields::Layout& layout,
    fields::TextDecoder& decoder, const Order& order, const Settings& settings,
    const std::string& path, const ProgressFn& progress = {});

// How many records pass between two progress calls.
constexpr uint64_t ProgressEvery = 4096;

// Sets the open file's order for readEveryRecord: Step for physical order or a file without keys,
// otherwise the key (a key the file does not have answers its status at the first read).
void applyOrder(TWinBtr& file, const Order& order);

} // namespace exporting
