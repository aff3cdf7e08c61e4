#include "SqlText.h"

#include <filesystem>
#include <set>

namespace exporting {

namespace {

// n, appended: GCC 12 at -O3 reports a false -Wrestrict on a literal + std::to_string.
std::string withNumber(std::string text, int64_t n)
{
    text.append(std::to_string(n));
    return text;
}

} // namespace

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

std::string cutName(const std::string& name, size_t limit)
{
    if (name.size() <= limit)
        return name;
    size_t end = limit;
    // Back to the first byte of a character.
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80)
        --end;
    return name.substr(0, end);
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

std::vector<std::string> columnNames(const fields::Layout& layout)
{
    std::vector<std::string> names;
    std::set<std::string> used;
    for (const fields::Field& f : layout.fields) {
        std::string name = cutName(f.name);
        for (int n = 2; !used.insert(fields::foldCase(name)).second; ++n) {
            const std::string suffix = withNumber("_", n);
            name = cutName(f.name, MaxIdentifier - suffix.size()) + suffix;
        }
        names.push_back(std::move(name));
    }
    return names;
}

std::string tableName(
    const fields::Layout& layout, const std::string& file, fields::TextDecoder& names)
{
    std::string name = layout.table;
    if (name.empty()) {
        name = std::filesystem::path(file).stem().string();
        if (!fields::isUtf8(name.data(), name.size()))
            name = names.name(name);
    }
    if (name.empty())
        name = "records";
    if (fields::foldCase(name).rfind("sqlite_", 0) == 0)
        name = "t_" + name;
    return cutName(name);
}

std::string createTable(const std::string& table, const fields::Layout& layout, Dialect dialect)
{
    std::string sql = "CREATE TABLE " + quoteIdentifier(table) + " (";
    const std::vector<std::string> names = columnNames(layout);
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        sql += i == 0 ? "" : ", ";
        sql += quoteIdentifier(names[i]) + " "
            + columnType(fields::columnOf(layout.fields[i]), dialect);
    }
    return sql + ")";
}

std::string indexName(const std::string& table, int key)
{
    const std::string suffix = withNumber("_key", key);
    return cutName(table, MaxIdentifier - suffix.size()) + suffix;
}

std::string KeyIndex::create(const std::string& table, bool asUnique, const std::string& name) const
{
    std::string sql = std::string(asUnique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ")
        + quoteIdentifier(name.empty() ? indexName(table, key) : name) + " ON "
        + quoteIdentifier(table) + " (";
    for (size_t i = 0; i < columns.size(); ++i)
        sql += (i ? ", " : "") + quoteIdentifier(columns[i]);
    return sql + ")";
}

std::vector<KeyIndex> keyIndexes(
    const fields::Layout& layout, const spec::SpecBuffer& stat, std::vector<std::string>& notes)
{
    std::vector<KeyIndex> indexes;
    const std::vector<std::string> names = columnNames(layout);
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
            size_t found = layout.fields.size();
            for (size_t i = 0; i < layout.fields.size(); ++i) {
                const fields::Field& f = layout.fields[i];
                if (f.offset == offset && f.length == uint32_t(uint16_t(s.Length)) && !f.hex()) {
                    found = i;
                    break;
                }
            }
            if (found < layout.fields.size())
                index.columns.push_back(names[found]);
            else
                complete = false;
        }
        if (complete && !index.columns.empty())
            indexes.push_back(std::move(index));
        else
            notes.push_back(withNumber("Key ", index.key)
                + " is not made of fields of the layout: it gets no index.");
    }
    return indexes;
}

} // namespace exporting
