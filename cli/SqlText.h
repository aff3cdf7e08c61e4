// What export's SQL scripts and convert's databases share: table and column names, column types,
// and the index each key of the file gives.
#pragma once

#include "Layout.h"

#include <string>
#include <vector>

namespace cli {

enum class Dialect { Sqlite, PostgreSql };

// "name" with every " doubled.
std::string quoteIdentifier(const std::string& name);

// The column type a dialect gives a field: SQLite INTEGER, REAL, TEXT (exact decimals too, so
// that no digit is lost to a conversion) and BLOB; PostgreSQL BIGINT, DOUBLE PRECISION, NUMERIC,
// TEXT and BYTEA.
const char* columnType(fields::Column column, Dialect dialect);

// The table a file becomes: the dictionary's table name, or the file's name without its
// directory and extension.
std::string tableName(const fields::Layout& layout, const std::string& file);

// CREATE TABLE "table" ("field" TYPE, ...)
std::string createTable(const std::string& table, const fields::Layout& layout, Dialect dialect);

struct KeyIndex
{
    int key = 0;
    bool unique = false;
    std::vector<std::string> columns;
    std::string create(const std::string& table, bool unique) const;
};

// One index per key whose every segment is a field of the layout (the same position and length):
// UNIQUE when the key allows no duplicates. A key without such fields is noted and left out.
std::vector<KeyIndex> keyIndexes(
    const fields::Layout& layout, const spec::SpecBuffer& stat, std::vector<std::string>& notes);

} // namespace cli
