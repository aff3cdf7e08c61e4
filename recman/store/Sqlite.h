// Small helpers over SQLite's C interface: statements that finalize themselves, and the
// record manager's status for an SQLite result.
#pragma once

#include "BtrCall.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <utility>

namespace recman::store {

namespace st = btr::status;

// The primary result code of an extended one.
inline int primaryCode(int rc)
{
    return rc & 0xff;
}

// Status for an SQLite result code (primary code only).
int16_t statusOf(int rc);
// Status for a failed call on `db`: an I/O error for lack of space is a full disk.
int16_t statusOf(int rc, sqlite3* db);

// Runs SQL that returns no rows.
inline int exec(sqlite3* db, const char* sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

class Statement
{
public:
    Statement() = default;
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept
        : stmt_(std::exchange(other.stmt_, nullptr))
    { }
    Statement& operator=(Statement&& other) = delete;

    void finalize()
    {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }

    int prepare(sqlite3* db, const std::string& sql)
    {
        finalize();
        return sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
            SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
    }
    sqlite3_stmt* get() const { return stmt_; }
    explicit operator bool() const { return stmt_ != nullptr; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

} // namespace recman::store
