#include "SqlText.h"

#include <filesystem>

namespace cli {

std::string quoteIdentifier(const std::string& name)
{
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + '"';
}

const char* columnType(fields::Column column, Dialect dialect)
{
    const bool sqlite = dialect == Dialect::Sqlite;
    switch (column) {
    case fields::Column::Integer:
        return sqlite ? "INTEGER" : "BIGINT";
    case fields::Column::Real:
        return sqlite ? "REAL" : "DOUBLE PRECISION";
    case fields::Column::Exact:
        return sqlite ? "TEXT" : "NUMERIC";
    case fields::Column::Text:
        return "TEXT";
    case fields::Column::Blob:
        return sqlite ? "BLOB" : "BYTEA";
    }
    return "TEXT";
}

std::string tableName(const fields::Layout& layout, const std::string& file)
{
    if (!layout.table.empty())
        return layout.table;
    const std::string stem = std::filesystem::path(file).stem().string();
    return stem.empty() ? std::string("records") : stem;
}

std::string createTable(const std::string& table, const fields::Layout& layout, Dialect dialect)
{
    std::string sql = "CREATE TABLE " + quoteIdentifier(table) + " (";
    bool first = true;
    for (const fields::Field& f : layout.fields) {
        sql += first ? "" : ", ";
        sql += quoteIdentifier(f.name) + " " + columnType(fields::columnOf(f), dialect);
        first = false;
    }
    return sql + ")";
}

std::string KeyIndex::create(const std::string& table, bool asUnique) const
{
    std::string sql = std::string(asUnique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ")
        + quoteIdentifier(table + "_key" + std::to_string(key)) + " ON " + quoteIdentifier(table)
        + " (";
    for (size_t i = 0; i < columns.size(); ++i)
        sql += (i ? ", " : "") + quoteIdentifier(columns[i]);
    return sql + ")";
}

std::vector<KeyIndex> keyIndexes(
    const fields::Layout& layout, const spec::SpecBuffer& stat, std::vector<std::string>& notes)
{
    std::vector<KeyIndex> indexes;
    const spec::Layout keys = stat.readLayout();
    for (int k = 0; k < keys.entryCount;) {
        KeyIndex index;
        index.key = keys.keyOfEntry[size_t(k)];
        index.unique = true;
        bool complete = true;
        for (; k < keys.entryCount && keys.keyOfEntry[size_t(k)] == index.key; ++k) {
            const spec::KeySegmentSpec s = stat.segment(k);
            if (s.KeyFlags & btr::keyflag::Duplicates)
                index.unique = false;
            const uint32_t offset = uint32_t(std::max<int>(s.Position, 1) - 1);
            const fields::Field* found = nullptr;
            for (const fields::Field& f : layout.fields) {
                if (f.offset == offset && f.length == uint32_t(uint16_t(s.Length)) && !f.hex()) {
                    found = &f;
                    break;
                }
            }
            if (found)
                index.columns.push_back(found->name);
            else
                complete = false;
        }
        if (complete && !index.columns.empty())
            indexes.push_back(std::move(index));
        else
            notes.push_back("Key " + std::to_string(index.key)
                + " is not made of fields of the layout: it gets no index.");
    }
    return indexes;
}

} // namespace cli
