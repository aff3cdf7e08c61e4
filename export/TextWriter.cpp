#include "TextWriter.h"

namespace exporting {

namespace {

// INSERTs of an SQL script are committed every so many rows, so that a long script neither holds
// one huge transaction nor pays a commit per row.
constexpr uint64_t RowsPerTransaction = 10000;

// A string literal. A NUL character would end the statement for SQLite's own reader, so SQLite
// gets it as char(0) between the literal's pieces; PostgreSQL's text cannot hold one at all, and
// there it is left out.
void appendSqlString(const std::string& value, Dialect dialect, std::string& line)
{
    line += '\'';
    for (char c : value) {
        if (c == '\0') {
            if (dialect == Dialect::Sqlite)
                line += "' || char(0) || '";
            continue;
        }
        if (c == '\'')
            line += '\'';
        line += c;
    }
    line += '\'';
}

// One value of an SQL script for a column of the given type.
void appendSqlValue(fields::Kind kind, fields::Column column, Dialect dialect,
    const std::string& value, std::string& line)
{
    using fields::Kind;
    switch (kind) {
    case Kind::Null:
        line += "NULL";
        return;
    case Kind::Bytes:
        if (dialect == Dialect::Sqlite) {
            line += "X'";
            line += value;
            line += '\'';
        } else {
            line += "'\\x";
            line += value;
            line += '\'';
        }
        return;
    case Kind::Invalid:
        // SQLite keeps the hex text in any column; PostgreSQL refuses text in a number column,
        // so there the value is null and its bytes stay beside it in a comment.
        if (dialect == Dialect::Postgresql && column != fields::Column::Text) {
            line += "NULL /* ";
            line += value;
            line += " */";
        } else {
            appendSqlString(value, dialect, line);
        }
        return;
    case Kind::Number:
    case Kind::Boolean:
        if (column == fields::Column::Exact && dialect == Dialect::Sqlite)
            appendSqlString(value, dialect, line);
        else
            line += value;
        return;
    case Kind::Text:
        appendSqlString(value, dialect, line);
        return;
    }
}

} // namespace

void appendCsv(const std::string& value, char delimiter, std::string& line)
{
    bool quote = false;
    for (char c : value) {
        if (c == delimiter || c == '"' || c == '\n' || c == '\r') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        line += value;
        return;
    }
    line += '"';
    for (char c : value) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

void appendJsonString(const std::string& value, std::string& line)
{
    static constexpr char Hex[] = "0123456789abcdef";
    line += '"';
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            line += "\\\"";
            break;
        case '\\':
            line += "\\\\";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case '\t':
            line += "\\t";
            break;
        default:
            if (c < 0x20) {
                line += "\\u00";
                line += Hex[c >> 4];
                line += Hex[c & 0x0F];
            } else {
                line += ch;
            }
        }
    }
    line += '"';
}

TextWriter::TextWriter(const fields::Layout& layout, fields::TextDecoder& decoder,
    const Settings& settings, std::FILE* out)
    : layout_(layout)
    , decoder_(decoder)
    , settings_(settings)
    , out_(out)
{
    for (const char c : {settings.delimiter, '"', '\r', '\n'})
        quoted_[static_cast<unsigned char>(c)] = true;
    for (const fields::Field& f : layout.fields) {
        columns_.push_back(fields::columnOf(f));
        std::string key;
        appendJsonString(f.name, key);
        jsonKeys_.push_back(key + ":");
    }
}

bool TextWriter::begin(const std::string& table, const std::vector<KeyIndex>& indexes)
{
    table_ = table;
    indexes_ = indexes;
    line_.clear();
    if (settings_.format == Format::Csv && settings_.header) {
        for (size_t i = 0; i < layout_.fields.size(); ++i) {
            if (i)
                line_ += settings_.delimiter;
            appendCsv(layout_.fields[i].name, settings_.delimiter, line_);
        }
        line_ += "\r\n";
    } else if (settings_.format == Format::Sql) {
        line_ += createTable(table, layout_, settings_.dialect) + ";\nBEGIN;\n";
        insert_ = "INSERT INTO " + quoteIdentifier(table) + " VALUES (";
    }
    return write();
}

bool TextWriter::record(const uint8_t* data, size_t length)
{
    line_.clear();
    if (settings_.format == Format::Csv)
        return csvRecord(data, length);
    const bool sql = settings_.format == Format::Sql;
    if (sql) {
        if (rows_ > 0 && rows_ % RowsPerTransaction == 0)
            line_ += "COMMIT;\nBEGIN;\n";
        line_ += insert_;
    } else {
        line_ += '{';
    }
    const size_t count = layout_.fields.size();
    for (size_t i = 0; i < count; ++i) {
        value_.clear();
        const fields::Kind kind
            = fields::appendField(layout_.fields[i], data, length, decoder_, value_);
        if (kind == fields::Kind::Invalid)
            ++invalid_;
        if (sql) {
            if (i)
                line_ += ", ";
            appendSqlValue(kind, columns_[i], settings_.dialect, value_, line_);
            continue;
        }
        if (i)
            line_ += ',';
        line_ += jsonKeys_[i];
        if (kind == fields::Kind::Null)
            line_ += "null";
        else if (kind == fields::Kind::Number)
            line_ += value_;
        else if (kind == fields::Kind::Boolean)
            line_ += value_ == "1" ? "true" : "false";
        else
            appendJsonString(value_, line_);
    }
    line_ += sql ? ");\n" : "}\n";
    ++rows_;
    return write();
}

bool TextWriter::end()
{
    line_.clear();
    if (settings_.format == Format::Sql) {
        line_ += "COMMIT;\n";
        for (const KeyIndex& index : indexes_)
            line_ += index.create(table_, index.unique) + ";\n";
    }
    return write();
}

// A CSV line, each value appended straight to it and quoted afterwards in the few cases that need
// it: the hot loop of an export copies nothing twice.
bool TextWriter::csvRecord(const uint8_t* data, size_t length)
{
    const size_t count = layout_.fields.size();
    for (size_t i = 0; i < count; ++i) {
        if (i)
            line_ += settings_.delimiter;
        const size_t start = line_.size();
        const fields::Kind kind
            = fields::appendField(layout_.fields[i], data, length, decoder_, line_);
        if (kind == fields::Kind::Invalid)
            ++invalid_;
        if (kind == fields::Kind::Null) {
            line_ += settings_.null;
            continue;
        }
        const char* p = line_.data() + start;
        const char* end = line_.data() + line_.size();
        while (p != end && !quoted_[static_cast<unsigned char>(*p)])
            ++p;
        if (p != end) {
            value_.assign(line_, start);
            line_.resize(start);
            appendCsv(value_, settings_.delimiter, line_);
        }
    }
    line_ += "\r\n";
    ++rows_;
    return write();
}

bool TextWriter::write()
{
    return std::fwrite(line_.data(), 1, line_.size(), out_) == line_.size();
}

} // namespace exporting
