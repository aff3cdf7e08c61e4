// A table of every value type the field layer knows, with its data dictionary, written both
// through the embedded record manager and, with the synthetic writer, as legacy 6.0 files; and the
// text each record's values must export as.
#pragma once

#include "CliRun.h"

#include <string>
#include <vector>

namespace clitest {

// The table's fields as the dictionary names them, in position order, with the filler the
// dictionary leaves: Id, Name, Small, Price, Rate, Born, At, Cash, Ok, Qty, Old, Label, Code,
// Count, Seq, Flag, Amount, Money, When, Wide, Wz, Guid, Quote, filler_127.
extern const std::vector<std::string> TypedColumns;

// Record 1: every value valid. Record 2: an invalid date, decimal and numeric, a null date, zero
// values. Record 3 (id 3): like 1 with other text.
std::vector<Bytes> typedRecords();

// The CSV lines (RFC 4180, CRLF) of the three records, without the header.
std::vector<std::string> typedCsv();

enum class Storage { RecordManager, Legacy };
// "RecordManager" or "Legacy", for test names.
std::string storageName(Storage storage);

// Writes FILE.DDF, FIELD.DDF, INDEX.DDF and, under `location` (relative, DOS-style allowed, its
// directories made), the typed table's data file in `dir`; returns the data file's path.
// `extraTables` are more FILE.DDF records.
std::string writeTypedDictionary(const std::string& dir, Storage storage,
    const std::string& location = "TYPED.BTR", const std::vector<Bytes>& extraTables = {});

// A data file with records in `storage`: through the record manager or as a legacy 6.0 file.
void writeDataFile(const std::string& path, Storage storage, const DefinitionImage& definition,
    const std::vector<Bytes>& records);

// Legacy 6.0 files the reader refuses: one whose control record counts a record more than its
// pages hold (damaged), and one whose control records say it keeps no data, only keys (a feature
// Varnok does not read).
void writeDamagedLegacyFile(
    const std::string& path, const DefinitionImage& definition, const std::vector<Bytes>& records);
void writeKeyOnlyLegacyFile(
    const std::string& path, const DefinitionImage& definition, const std::vector<Bytes>& records);

// Runs the sqlite3 shell on `database` with `sql` on its standard input; the output, or empty
// with `available` false when there is no shell.
std::string sqliteShell(const std::string& database, const std::string& sql, bool* available);

} // namespace clitest
