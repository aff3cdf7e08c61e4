// The store's transactions: writes are bundled into one SQLite transaction with the counters
// they change, committed at Close, after a bounded number of writes, or once the bundle is old.
// A client's transaction is a savepoint inside the bundle; while it is open the bundle waits.
#include "StoreFile.h"

#include <charconv>

namespace recman::store {

namespace {

constexpr const char* TransactionSavepoint = "varnok_transaction";

} // namespace

int16_t StoreFile::loadCounters()
{
    sqlite3_stmt* s = loadCounters_.get();
    bool haveRecords = false;
    int64_t positions = 0;
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
        if (n == PositionsCounter) {
            positions = value;
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
    // Files of the first format keep no such counter: their highest position is the last one.
    sqlite3_stmt* last = lastPositionQuery_.get();
    rc = sqlite3_step(last);
    lastPosition_
        = std::max<int64_t>(positions, rc == SQLITE_ROW ? sqlite3_column_int64(last, 0) : 0);
    sqlite3_reset(last);
    if (rc != SQLITE_ROW)
        return statusOf(rc);
    return haveRecords ? st::Success : st::IoError;
}

int16_t StoreFile::beginBundle()
{
    int rc = exec(db_, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK)
        return statusOf(rc);
    // Counters as committed, in case another process wrote between our bundles; and what is
    // known of the file's values and ranks only if it still holds.
    if (int16_t s = loadCounters()) {
        exec(db_, "ROLLBACK");
        return s;
    }
    for (KnownValues& k : known_)
        k.clear();
    if (!changeCount(bundleChangeCount_))
        bundleChangeCount_ = 0;
    for (RankMarks& m : keyRanks_) {
        if (m.built() && m.changeCount() != bundleChangeCount_)
            m.drop();
    }
    if (physicalRanks_.built() && physicalRanks_.changeCount() != bundleChangeCount_)
        physicalRanks_.drop();
    inBundle_ = true;
    bundleOps_ = 0;
    bundleStart_ = std::chrono::steady_clock::now();
    return st::Success;
}

// The bundle was rolled back (by SQLite after an I/O error, or by us): forget its effects. A
// transaction inside it is lost with it, and End Transaction will say so.
void StoreFile::abandonBundle(int16_t why)
{
    if (!sqlite3_get_autocommit(db_))
        exec(db_, "ROLLBACK");
    inBundle_ = false;
    ++generation_;
    for (KnownValues& k : known_)
        k.clear();
    dropRanks();
    if (transaction_.owner != 0 && transaction_.failed == st::Success)
        transaction_.failed = why == st::Success ? st::IoError : why;
    loadCounters();
}

int16_t StoreFile::startWrite()
{
    if (!writable_)
        return st::AccessDenied;
    if (transaction_.owner != 0 && transaction_.failed != st::Success)
        return transaction_.failed;
    if (deferred_ != st::Success) {
        int16_t s = deferred_;
        deferred_ = st::Success;
        return s;
    }
    if (!inBundle_)
        return beginBundle();
    return st::Success;
}

// The write is stored: whatever becomes of the commit it starts, it succeeded. A busy commit
// leaves the bundle pending for a later call; one that fails for real drops the bundle, and the
// next call on the file hears of it.
void StoreFile::finishWrite()
{
    if (++bundleOps_ >= BundleMaxOperations && transaction_.owner == 0) {
        int16_t s = commit();
        if (s != st::Success && s != st::FileInUse)
            deferred_ = s;
    }
}

int16_t StoreFile::commit()
{
    if (!inBundle_) {
        int16_t s = deferred_;
        deferred_ = st::Success;
        return s;
    }
    // The bundle holds an open transaction: it waits for End or Abort.
    if (transaction_.owner != 0)
        return st::Success;
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
    if (rc == SQLITE_DONE)
        rc = save(PositionsCounter, lastPosition_);
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
        abandonBundle(failed);
        return failed;
    }
    inBundle_ = false;
    // Our own commit raised the change counter by one: the ranks noted our writes and hold.
    uint32_t now = 0;
    const bool ours = changeCount(now) && now == bundleChangeCount_ + 1;
    for (RankMarks& m : keyRanks_) {
        if (ours)
            m.setChangeCount(now);
        else
            m.drop();
    }
    if (ours)
        physicalRanks_.setChangeCount(now);
    else
        physicalRanks_.drop();
    int16_t s = deferred_;
    deferred_ = st::Success;
    return s;
}

int16_t StoreFile::commitIfDue(std::chrono::steady_clock::time_point now)
{
    if (!inBundle_ || transaction_.owner != 0 || now - bundleStart_ < BundleMaxAge)
        return st::Success;
    int16_t s = commit();
    if (s != st::Success && s != st::FileInUse)
        deferred_ = s; // told to the next write or Close on this file
    return s;
}

int16_t StoreFile::joinTransaction(uint64_t owner)
{
    if (int16_t s = startWrite())
        return s;
    const std::string sql = std::string("SAVEPOINT ") + TransactionSavepoint;
    if (int rc = exec(db_, sql.c_str()); rc != SQLITE_OK) {
        const int16_t failed = statusOf(rc, db_);
        if (sqlite3_get_autocommit(db_))
            abandonBundle(failed);
        return failed;
    }
    Transaction& t = transaction_;
    t.owner = owner;
    t.failed = st::Success;
    t.generation = generation_;
    t.records = records_;
    t.values = values_;
    t.highest = highest_;
    t.lastPosition = lastPosition_;
    return st::Success;
}

int16_t StoreFile::endTransaction(bool keep)
{
    Transaction& t = transaction_;
    if (t.owner == 0)
        return st::Success;
    const int16_t failed = t.failed;
    t.owner = 0;
    t.failed = st::Success;
    if (failed != st::Success)
        return keep ? failed : st::Success; // the bundle that held it is gone: nothing is left
    std::string sql;
    if (!keep)
        sql = std::string("ROLLBACK TO ") + TransactionSavepoint + ";";
    sql += std::string("RELEASE ") + TransactionSavepoint;
    if (int rc = exec(db_, sql.c_str()); rc != SQLITE_OK) {
        const int16_t s = statusOf(rc, db_);
        abandonBundle(s);
        return s;
    }
    if (!keep) {
        records_ = t.records;
        values_ = t.values;
        highest_ = t.highest;
        // Sequence numbers are not taken back: they need only grow.
        ++generation_;
        for (KnownValues& k : known_)
            k.clear();
        dropRanks();
        // Records read inside the transaction are current again as they are now: as they were
        // before it, or gone.
        for (StoreCursor* c : cursors_) {
            if (!c->hasCurrent || c->currentSince <= t.generation)
                continue;
            const int16_t s = fetch(c->pos);
            if (s == st::Success) {
                c->record = fetched_.data;
                c->currentSince = generation_;
            } else {
                c->hasCurrent = false;
            }
        }
    }
    if (bundleOps_ >= BundleMaxOperations) {
        const int16_t s = commit();
        if (s != st::Success && s != st::FileInUse)
            deferred_ = s;
    }
    return st::Success;
}

} // namespace recman::store
