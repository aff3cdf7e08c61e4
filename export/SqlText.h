// What export's SQL scripts and convert's databases share: table and column names, column types,
// and the index each key of the file gives.
//
// Names come from files and may hold anything: blanks, punctuation, quotes, SQL keywords, letters
// of any code page (in UTF-8 by then), names that differ only in case. Every identifier is quoted
// (a quote inside doubled), so any of them is valid in SQLite and PostgreSQL; it is cut to the 63
// bytes PostgreSQL keeps, at the end of a character; and the columns of a table are made unique in
// any case, as both compare them (SQLite always, PostgreSQL once a tool folds them).
#pragma once

#include "Export.h"
#include "Layout.h"
#include "SpecBuffer.h"

#include <string>
#include <vector>

namespace exporting {

// The longest identifier PostgreSQL keeps, in bytes.
constexpr size_t MaxIdentifier = 63;

// "name" with every " doubled.
std::string quoteIdentifier(const std::string& name);

// The name cut to at most `limit` bytes at the end of a UTF-8 character.
std::string cutName(const std::string& name, size_t limit = MaxIdentifier);

// The column type a dialect gives a field: SQLite INTEGER, REAL, TEXT (exact decimals too, so
// that no digit is lost to a conversion) and BLOB; PostgreSQL BIGINT, DOUBLE PRECISION, NUMERIC,
// TEXT and BYTEA.
const char* columnType(fields::Column column, Dialect dialect);

// The column name of each field of the layout, in order: its name, cut, and made unique in any
// case (foldCase) after the cut with a suffix _2, _3...
std::vector<std::string> columnNames(const fields::Layout& layout);

// The table a file becomes: the dictionary's table name, or the file's name without its directory
// and extension (a name that is not UTF-8 read in the file's code page, `names`), cut; a name
// SQLite keeps for itself (sqlite_...) gets "t_" before it.
std::string tableName(
    const fields::Layout& layout, const std::string& file, fields::TextDecoder& names);

// CREATE TABLE "table" ("field" TYPE, ...)
std::string createTable(const std::string& table, const fields::Layout& layout, Dialect dialect);

// "<table>_key<N>", the table's part cut so that the whole fits.
std::string indexName(const std::string& table, int key);

struct KeyIndex
{
    int key = 0;
    bool unique = false;
    std::vector<std::string> columns;
    // CREATE [UNIQUE] INDEX "name" ON "table" (...), named indexName(table, key) unless `name`
    // gives another.
    std::string create(
        const std::string& table, bool unique, const std::string& name = std::string()) const;
};

// One index per key whose every segment is a field of the layout (the same position and length):
// UNIQUE when the key allows no duplicates. A key without such fields is noted and left out.
std::vector<KeyIndex> keyIndexes(
    const fields::Layout& layout, const spec::SpecBuffer& stat, std::vector<std::string>& notes);

} // namespace exporting
