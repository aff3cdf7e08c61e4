// The store's transactions: writes are bundled into one SQLite transaction with the counters
// they change, committed at Close, after a bounded number of writes, or once the bundle is old.
#include "StoreFile.h"

#include <charconv>

namespace recman::store {

int16_t StoreFile::loadCounters()
{
    sqlite3_stmt* s = loadCounters_.get();
    bool haveRecords = false;
    std::fill(values_.begin(), values_.end(), 0);
    std::fill(highest_.begin(), highest_.end(), 0);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        auto name = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        int64_t value = sqlite3_column_int64(s, 1);
        if (!name)
            continue;
        std::string_view n(name);
        if (n == RecordsCounter) {
            records_ = static_cast<uint32_t>(value);
            haveRecords = true;
            continue;
        }
        // "k<index>.values" or "k<index>.highest"
        size_t index = 0;
        auto [p, ec] = std::from_chars(n.data() + 1, n.data() + n.size(), index);
        if (n.empty() || n[0] != 'k' || ec != std::errc() || index >= values_.size())
            continue;
        std::string_view what(p, n.data() + n.size() - p);
        if (what == ValuesSuffix)
            values_[index] = static_cast<uint32_t>(value);
        else if (what == HighestSuffix)
            highest_[index] = value;
    }
    sqlite3_reset(s);
    if (rc != SQLITE_DONE)
        return statusOf(rc);
    return haveRecords ? st::Success : st::IoError;
}

int16_t StoreFile::beginBundle()
{
    int rc = exec(db_, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return statusOf(rc);
    // Counters as committed, in case another process wrote between our bundles.
    if (int16_t s = loadCounters()) {
        exec(db_, "ROLLBACK");
        return s;
    }
    inBundle_ = true;
    bundleOps_ = 0;
    bundleStart_ = std::chrono::steady_clock::now();
    return st::Success;
}

// The bundle was rolled back (by SQLite after an I/O error, or by us): forget its effects.
void StoreFile::abandonBundle()
{
    if (!sqlite3_get_autocommit(db_))
        exec(db_, "ROLLBACK");
    inBundle_ = false;
    ++generation_;
    for (KnownValues& k : known_)
        k.clear();
    loadCounters();
}

int16_t StoreFile::commit()
{
    if (!inBundle_) {
        int16_t s = deferred_;
        deferred_ = st::Success;
        return s;
    }
    ++generation_;
    auto save = [this](const std::string& name, int64_t value) {
        sqlite3_stmt* s = saveCounter_.get();
        sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, 2, value);
        int rc = sqlite3_step(s);
        sqlite3_reset(s);
        return rc;
    };
    int rc = save(RecordsCounter, records_);
    for (size_t i = 0; i < values_.size() && rc == SQLITE_DONE; ++i) {
        rc = save(keyColumn(i) + ValuesSuffix, values_[i]);
        if (rc == SQLITE_DONE && isAutoincrement(def_.keys[i]))
            rc = save(keyColumn(i) + HighestSuffix, highest_[i]);
    }
    if (rc == SQLITE_DONE)
        rc = exec(db_, "COMMIT");
    if (primaryCode(rc) == SQLITE_BUSY && !sqlite3_get_autocommit(db_)) {
        // Another process is reading (readers hold SQLite's shared lock only within a call, so
        // this lasts no longer than the busy timeout unless a foreign program holds the file):
        // SQLite keeps the transaction open, and the bundle stays pending and whole, to be
        // committed by a later call.
        return st::FileInUse;
    }
    if (rc != SQLITE_OK && rc != SQLITE_DONE) {
        const int16_t failed = statusOf(rc, db_);
        abandonBundle();
        return failed;
    }
    inBundle_ = false;
    int16_t s = deferred_;
    deferred_ = st::Success;
    return s;
}

} // namespace recman::store
