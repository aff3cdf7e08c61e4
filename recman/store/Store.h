// Our own data files: one SQLite database per data file.
//
// The database holds the definition exactly as created, the live counters Stat reports (record
// count, distinct values per key, highest autoincrement values) and one `records` table with a
// column of encoded key bytes per key and one index per key, so that SQLite's index order is the
// record manager's key order. The files stay readable with the `sqlite3` shell.
#pragma once

#include "DataFile.h"
#include "Posix.h"

#include <cstdint>
#include <memory>
#include <string>

namespace recman {

// Whether the file at `path` is one of our stores (of a format version read here), from its first
// bytes alone. Files that are
// not (or whose format version we do not know) go to the legacy reader.
// `version`, when given, receives its format version.
bool isStoreFile(const std::string& path, int* version = nullptr);
// The format version new stores are created with.
int currentStoreVersion();

// Opens a store. `writable` false opens it read-only (the file system refuses writes); writes
// then answer 46. Status 2 when the database is damaged. `file` is the caller's descriptor of
// the same file, kept open longer than the store: reads look through it whether another
// process has committed since they last read. `alone`: no other process has the file open, so
// a file of an earlier format version may be brought up to date.
std::unique_ptr<DataFile> openStore(const std::string& path, bool writable, bool alone,
    const posix::OpenFileLock& file, int16_t& status);

// Creates a new, empty store at `path` from a validated definition and its Create image (the
// bytes the definition was parsed from, kept so that Stat reports them as given). The store is
// built under a temporary name in the same directory and renamed into place, so an existing file
// is either replaced whole or left as it was. replace false: 59 when `path` exists.
int16_t createStore(const std::string& path, const Definition& definition, const uint8_t* image,
    size_t imageLength, bool replace);

} // namespace recman
