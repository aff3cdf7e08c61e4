#include "SqliteTable.h"

#include "DefinitionText.h"

#include <fmt/core.h>

#include <charconv>

namespace exporting {

void Statement::finalize()
{
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
}

bool Statement::prepare(sqlite3* db, const std::string& sql)
{
    finalize();
    return sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &stmt_, nullptr) == SQLITE_OK;
}

Database::~Database()
{
    if (db_)
        sqlite3_close_v2(db_);
}

bool Database::open(const std::string& name, std::string& error)
{
    if (sqlite3_open_v2(name.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
        != SQLITE_OK) {
        error = db_ ? sqlite3_errmsg(db_) : "out of memory";
        return false;
    }
    sqlite3_extended_result_codes(db_, 1);
    // Reading the schema is what finds a file that is no database at all.
    if (!exec("PRAGMA schema_version", error))
        return false;
    Statement id;
    if (!id.prepare(db_, "PRAGMA application_id") || sqlite3_step(id.get()) != SQLITE_ROW) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    if (const auto owner = sqlite3_column_int64(id.get(), 0); owner != 0) {
        error = fmt::format("it is another program's database (application id {}), such as "
                            "a Varnok data file; convert writes plain SQLite databases only",
            owner);
        return false;
    }
    return true;
}

bool Database::close(std::string& error)
{
    if (!db_)
        return true;
    if (sqlite3_close(db_) != SQLITE_OK) {
        error = sqlite3_errmsg(db_);
        return false;
    }
    db_ = nullptr;
    return true;
}

bool Database::exec(const std::string& sql, std::string& error)
{
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    error = message ? message : sqlite3_errmsg(db_);
    sqlite3_free(message);
    return false;
}

bool Database::createSourceTable(std::string& error)
{
    return exec(std::string("CREATE TABLE IF NOT EXISTS ") + SourceTable
            + " (table_name TEXT PRIMARY KEY, file TEXT NOT NULL, fields TEXT NOT NULL, "
              "encoding TEXT NOT NULL, definition TEXT NOT NULL, records INTEGER NOT NULL, "
              "invalid_values INTEGER NOT NULL)",
        error);
}

TableWriter::TableWriter(Database& db, const fields::Layout& layout, fields::TextDecoder& decoder)
    : db_(db)
    , layout_(layout)
    , decoder_(decoder)
    , values_(layout.fields.size())
{
    for (const fields::Field& f : layout.fields)
        columns_.push_back(fields::columnOf(f));
}

bool TableWriter::begin(const std::string& table, std::string& error)
{
    table_ = table;
    if (!db_.exec("DROP TABLE IF EXISTS " + quoteIdentifier(table), error)
        || !db_.exec(createTable(table, layout_, Dialect::Sqlite), error)) {
        error += ".";
        return false;
    }
    std::string insert = "INSERT INTO " + quoteIdentifier(table) + " VALUES (";
    for (size_t i = 0; i < layout_.fields.size(); ++i)
        insert += i ? ", ?" : "?";
    insert += ")";
    if (!insert_.prepare(db_.handle(), insert)) {
        error = db_.message() + ".";
        return false;
    }
    return true;
}

bool TableWriter::record(const uint8_t* data, size_t length)
{
    sqlite3_stmt* stmt = insert_.get();
    for (size_t i = 0; i < columns_.size(); ++i)
        bindField(int(i + 1), i, data, length);
    const bool stepped = sqlite3_step(stmt) == SQLITE_DONE;
    sqlite3_reset(stmt);
    if (stepped)
        ++rows_;
    return stepped;
}

void TableWriter::bindField(int at, size_t field, const uint8_t* data, size_t length)
{
    sqlite3_stmt* stmt = insert_.get();
    const fields::Field& f = layout_.fields[field];
    const fields::Column column = columns_[field];
    // Fillers and the variable part are stored as the bytes they are.
    if (f.hex() && f.offset + size_t(f.length) <= length) {
        const size_t n = f.source == fields::Source::VariablePart ? length - f.offset : f.length;
        sqlite3_bind_blob(stmt, at, data + f.offset, int(n), SQLITE_STATIC);
        return;
    }
    std::string& value = values_[field];
    value.clear();
    const fields::Kind kind = fields::appendField(f, data, length, decoder_, value);
    const char* begin = value.data();
    const char* end = begin + value.size();
    switch (kind) {
    case fields::Kind::Null:
        sqlite3_bind_null(stmt, at);
        return;
    case fields::Kind::Number:
    case fields::Kind::Boolean:
        if (column == fields::Column::Integer) {
            sqlite3_int64 v = 0;
            const auto r = std::from_chars(begin, end, v);
            if (r.ec == std::errc() && r.ptr == end) {
                sqlite3_bind_int64(stmt, at, v);
                return;
            }
        } else if (column == fields::Column::Real) {
            double v = 0;
            const auto r = std::from_chars(begin, end, v);
            if (r.ec == std::errc() && r.ptr == end) {
                sqlite3_bind_double(stmt, at, v);
                return;
            }
        }
        break;
    case fields::Kind::Invalid:
        ++invalid_;
        break;
    case fields::Kind::Text:
    case fields::Kind::Bytes:
        break;
    }
    sqlite3_bind_text(stmt, at, begin, int(value.size()), SQLITE_STATIC);
}

bool TableWriter::finish(const spec::SpecBuffer& stat, const std::string& sourceName,
    const std::function<std::string(const std::string&)>& nameIndex,
    std::vector<std::string>& notes, std::string& error)
{
    insert_.finalize();
    for (const KeyIndex& index : keyIndexes(layout_, stat, notes)) {
        const std::string wanted = indexName(table_, index.key);
        const std::string named = nameIndex ? nameIndex(wanted) : wanted;
        if (!index.unique) {
            if (!db_.exec(index.create(table_, false, named), error))
                return false;
            continue;
        }
        // Distinct stored bytes can read as the same text (trailing blanks, null keys), so a key
        // without duplicates may still not make a unique index of its values.
        std::string uniqueError;
        if (!db_.exec("SAVEPOINT unique_index", error)
            || (!db_.exec(index.create(table_, true, named), uniqueError)
                && (!db_.exec("ROLLBACK TO unique_index", error)
                    || !db_.exec(index.create(table_, false, named), error)))
            || !db_.exec("RELEASE unique_index", error))
            return false;
        if (!uniqueError.empty())
            notes.push_back("Key " + std::to_string(index.key)
                + " has no duplicates, but its values as text repeat: its index is not unique.");
    }

    Statement source;
    if (!source.prepare(db_.handle(),
            std::string("INSERT OR REPLACE INTO ") + SourceTable
                + " (table_name, file, fields, encoding, definition, records, invalid_values) "
                  "VALUES (?, ?, ?, ?, ?, ?, ?)")) {
        error = db_.message() + ".";
        return false;
    }
    const std::string definition
        = definitionJson(sourceName, stat, decoder_)
              .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    const std::string file8 = fields::validUtf8(sourceName);
    sqlite3_bind_text(source.get(), 1, table_.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(source.get(), 2, file8.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(source.get(), 3, layout_.origin.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(source.get(), 4, decoder_.encoding().c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(source.get(), 5, definition.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(source.get(), 6, sqlite3_int64(rows_));
    sqlite3_bind_int64(source.get(), 7, sqlite3_int64(invalid_));
    if (sqlite3_step(source.get()) != SQLITE_DONE) {
        error = db_.message() + ".";
        return false;
    }
    return true;
}

} // namespace exporting
