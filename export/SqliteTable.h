// Data files as tables of a plain SQLite database: typed columns, one index per key, and a row of
// varnok_source saying where each table came from (the file, its fields, code page and
// definition). convert fills one database with many tables; an export to SQLite writes one.
#pragma once

#include "SpecBuffer.h"
#include "SqlText.h"

#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

namespace exporting {

// The table that records, for each table written, the data file it came from.
constexpr const char* SourceTable = "varnok_source";

class Statement
{
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool prepare(sqlite3* db, const std::string& sql);
    void finalize();
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

class Database
{
public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Opens `name`, made when missing. A database another program marks as its own (Varnok's data
    // files among them) is refused: tables added there could damage it. False with SQLite's or
    // that reason in `error`.
    bool open(const std::string& name, std::string& error);
    // Closes it; false with the reason when SQLite could not (a statement still running).
    bool close(std::string& error);
    bool exec(const std::string& sql, std::string& error);
    // varnok_source, unless the database has it.
    bool createSourceTable(std::string& error);

    sqlite3* handle() const { return db_; }
    std::string message() const { return sqlite3_errmsg(db_); }

private:
    sqlite3* db_ = nullptr;
};

// One data file's records as a table, written inside the caller's transaction: begin, a record()
// per record, finish. The INSERT is prepared once and its values bound from buffers kept from
// record to record.
class TableWriter
{
public:
    TableWriter(Database& db, const fields::Layout& layout, fields::TextDecoder& decoder);

    // Replaces any table of that name with an empty one of the layout's columns. False with the
    // reason in `error`.
    bool begin(const std::string& table, std::string& error);
    // Inserts one record of `length` bytes; false when the database refused it (Database::message
    // says why).
    bool record(const uint8_t* data, size_t length);
    // The key indexes of the file whose Stat image is `stat` (named by `nameIndex`, from the name
    // indexName gives to the one to use), then the table's row of varnok_source for the data file
    // `sourceName`. Keys that get no index or no unique one are told in `notes`. No record()
    // follows: the INSERT is let go, so that the database can close.
    bool finish(const spec::SpecBuffer& stat, const std::string& sourceName,
        const std::function<std::string(const std::string&)>& nameIndex,
        std::vector<std::string>& notes, std::string& error);

    uint64_t rows() const { return rows_; }
    uint64_t invalid() const { return invalid_; }

private:
    void bindField(int at, size_t field, const uint8_t* data, size_t length);

    Database& db_;
    const fields::Layout& layout_;
    fields::TextDecoder& decoder_;
    std::string table_;
    Statement insert_;
    std::vector<fields::Column> columns_;
    std::vector<std::string> values_;
    uint64_t rows_ = 0;
    uint64_t invalid_ = 0;
};

} // namespace exporting
