// An open store: the data file the entry point reads and writes, and the cursor each handle
// keeps on it. Reads run SQLite statements along a key's index (or in rowid order for Step);
// writes are bundled into one transaction (see Bundle.cpp).
//
// No handle holds a lock between calls: a statement left stepping would hold SQLite's shared
// lock and stop every other process's commit. So each read statement is reset before the call
// returns, and a cursor reads ahead: it keeps the next records of its walk, and serves them
// while nothing can have changed (this connection has not written, and SQLite's change counter,
// which every commit raises, is as it was); otherwise it seeks again after its current record.
#pragma once

#include "DataFile.h"
#include "KeyCodec.h"
#include "Posix.h"
#include "Schema.h"
#include "Sqlite.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace recman::store {

// Writes are bundled into one transaction, committed at Close, after this many writes, or on
// the first call once the bundle has been open this long.
constexpr int BundleMaxOperations = 65535;
constexpr std::chrono::milliseconds BundleMaxAge {1000};

// The records a cursor has read ahead along its walk, in the order it walks.
struct ReadAhead
{
    // A walk reads this many records at first, twice as many each time it used them all, up to
    // the most; and no more than MaxBytes of records and keys at once.
    static constexpr size_t FirstRecords = 16;
    static constexpr size_t MostRecords = 256;
    static constexpr size_t MaxBytes = 256 * 1024;

    struct Entry
    {
        int64_t pos;
        uint32_t data, dataLength; // in `bytes`
        uint32_t key, keyLength;   // in `bytes`; keyLength 0 in physical order
    };

    void drop()
    {
        entries.clear();
        bytes.clear();
        next = 0;
        order = NoOrder;
        records = FirstRecords;
    }

    static constexpr int NoOrder = -2; // -1: physical order; otherwise the key's index
    int order = NoOrder;
    std::vector<Entry> entries;
    std::vector<uint8_t> bytes;
    size_t next = 0;          // the entry the next Get Next / Step Next delivers
    bool end = false;         // no records follow the last entry
    uint64_t generation = 0;  // the file's write generation when they were read
    uint32_t changeCount = 0; // SQLite's change counter when they were read
    size_t records = FirstRecords;
};

class StoreCursor final : public Cursor
{
public:
    explicit StoreCursor(size_t keys)
        : first(keys)
        , after(keys)
    { }

    int64_t pos = 0;          // the current record
    std::vector<uint8_t> key; // its encoded value on keyIndex
    ReadAhead ahead;
    std::vector<Statement> first, after; // per key, prepared on first use
    Statement stepFirst, stepAfter;
};

// Encoded values known to be present in one key with duplicates, so that most Inserts learn
// without asking SQLite whether they add a distinct value. Exact, since records are neither
// deleted nor changed: a value once present stays present, whoever wrote it. Values from a
// bundle that is rolled back are forgotten with all others. Bounded: when full, it starts over.
class KnownValues
{
public:
    bool contains(const std::vector<uint8_t>& value) const;
    void add(const std::vector<uint8_t>& value);
    void clear();

private:
    static constexpr size_t Slots = size_t(1) << 15; // at most half of them used
    static constexpr size_t MaxBytes = size_t(1) << 20;

    size_t slotOf(const std::vector<uint8_t>& value, bool& found) const;

    std::vector<uint32_t> slots_; // offset + 1 in bytes_ of a value's length and bytes; 0 free
    std::vector<uint8_t> bytes_;
    size_t count_ = 0;
};

class StoreFile final : public DataFile
{
public:
    StoreFile(sqlite3* db, Definition definition, bool writable, const posix::OpenFileLock& file)
        : db_(db)
        , def_(std::move(definition))
        , writable_(writable)
        , file_(file)
    {
        codecs_.reserve(def_.keys.size());
        for (const Key& k : def_.keys)
            codecs_.emplace_back(k, def_.acsBlocks);
        encoded_.resize(def_.keys.size());
        for (size_t i = 0; i < codecs_.size(); ++i)
            encoded_[i].reserve(codecs_[i].maxEncodedLength());
        keyNull_.resize(def_.keys.size());
        probe_.resize(def_.keys.size());
        values_.resize(def_.keys.size());
        highest_.resize(def_.keys.size());
        known_.resize(def_.keys.size());
        for (const Key& k : def_.keys)
            hasAutoincrement_ = hasAutoincrement_ || isAutoincrement(k);
    }

    ~StoreFile() override
    {
        if (inBundle_)
            commit();
        // Cursors' statements are finalized by the cursors; close_v2 waits for any left.
        insert_.finalize();
        for (Statement& s : probe_)
            s.finalize();
        saveCounter_.finalize();
        loadCounters_.finalize();
        freePages_.finalize();
        sqlite3_close_v2(db_);
    }

    int16_t init()
    {
        std::string cols = "data", params = "?1";
        for (size_t i = 0; i < def_.keys.size(); ++i) {
            cols += ", " + keyColumn(i);
            params += ", ?" + std::to_string(i + 2);
            if (def_.keys[i].duplicates()) {
                int rc = probe_[i].prepare(
                    db_, "SELECT 1 FROM records WHERE " + keyColumn(i) + " = ?1 LIMIT 1");
                if (rc != SQLITE_OK)
                    return st::IoError;
            }
            // The key's index must be there: without it order and uniqueness would be lost.
            Statement idx;
            if (idx.prepare(db_,
                    "SELECT 1 FROM sqlite_schema WHERE type = 'index' AND name = 'records_"
                        + keyColumn(i) + "'")
                    != SQLITE_OK
                || sqlite3_step(idx.get()) != SQLITE_ROW)
                return st::IoError;
        }
        if (insert_.prepare(db_, "INSERT INTO records(" + cols + ") VALUES(" + params + ")")
                != SQLITE_OK
            || saveCounter_.prepare(
                   db_, "INSERT OR REPLACE INTO counters(name, value) VALUES(?1, ?2)")
                != SQLITE_OK
            || loadCounters_.prepare(db_, "SELECT name, value FROM counters") != SQLITE_OK
            || freePages_.prepare(db_, "PRAGMA freelist_count") != SQLITE_OK)
            return st::IoError;
        return loadCounters();
    }

    const Definition& definition() const override { return def_; }
    bool readOnly() const override { return false; }
    FormatFacts formatFacts() const override
    {
        FormatFacts f;
        f.version = FormatVersion;
        f.features = def_.variableLength() ? btr::facts::VariableLength : 0;
        return f;
    }

    int16_t liveFigures(LiveFigures& out) override
    {
        if (!inBundle_) {
            // Another process may have written since: the committed counters are the truth.
            if (int16_t s = loadCounters())
                return s;
        }
        out.records = records_;
        out.keyValues = values_;
        sqlite3_stmt* s = freePages_.get();
        int rc = sqlite3_step(s);
        int64_t free = rc == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
        sqlite3_reset(s);
        if (rc != SQLITE_ROW)
            return statusOf(rc);
        out.unusedPages = static_cast<uint16_t>(std::min<int64_t>(free, 0xffff));
        return st::Success;
    }

    std::unique_ptr<Cursor> newCursor() override
    {
        auto c = std::make_unique<StoreCursor>(def_.keys.size());
        cursors_.push_back(c.get());
        return c;
    }

    void releaseCursor(Cursor& cursor) override
    {
        std::erase(cursors_, &static_cast<StoreCursor&>(cursor));
    }

    int16_t insert(
        Cursor& cursor, uint8_t* record, uint16_t length, int keyIndex, uint8_t* keyValue) override;
    int16_t getFirst(Cursor& cursor, int keyIndex, ReadTarget& target) override;
    int16_t getNext(Cursor& cursor, ReadTarget& target) override;
    int16_t stepFirst(Cursor& cursor, ReadTarget& target) override;
    int16_t stepNext(Cursor& cursor, ReadTarget& target) override;

    int16_t getPosition(const Cursor& cursor, uint32_t& position) override
    {
        if (!cursor.hasCurrent)
            return st::InvalidPositioning;
        position = static_cast<uint32_t>(static_cast<const StoreCursor&>(cursor).pos);
        return st::Success;
    }

    bool writesPending() const override { return inBundle_; }
    int16_t commit() override;
    int16_t commitIfDue(std::chrono::steady_clock::time_point now) override
    {
        if (!inBundle_ || now - bundleStart_ < BundleMaxAge)
            return st::Success;
        int16_t s = commit();
        if (s != st::Success && s != st::FileInUse)
            deferred_ = s; // told to the next write or Close on this file
        return s;
    }

private:
    int16_t beginBundle();
    void abandonBundle();
    int16_t loadCounters();
    bool changeCount(uint32_t& out) const;
    bool readAheadValid(const StoreCursor& c, int order) const;
    int16_t readAhead(StoreCursor& c, sqlite3_stmt* s, int order);
    int16_t deliver(StoreCursor& c, ReadTarget& t);
    int16_t walkFirst(StoreCursor& c, sqlite3_stmt* s, int order, ReadTarget& t);
    bool nextReadAhead(StoreCursor& c, int order, ReadTarget& t, int16_t& status);
    int16_t walkNext(StoreCursor& c, sqlite3_stmt* after, int order, ReadTarget& t);

    sqlite3* db_;
    Definition def_;
    bool writable_;
    const posix::OpenFileLock& file_;
    std::vector<KeyCodec> codecs_;
    bool hasAutoincrement_ = false;

    // Counters as of the open bundle (or the last load); written back before each commit.
    uint32_t records_ = 0;
    std::vector<uint32_t> values_;
    std::vector<int64_t> highest_; // autoincrement keys: highest value present

    bool inBundle_ = false;
    int bundleOps_ = 0;
    std::chrono::steady_clock::time_point bundleStart_;
    int16_t deferred_ = st::Success;
    // Changes on every write, commit and rollback: what cursors read ahead is then dropped.
    uint64_t generation_ = 1;

    Statement insert_, saveCounter_, loadCounters_, freePages_;
    std::vector<Statement> probe_; // keys with duplicates: is this value present already?
    std::vector<KnownValues> known_;
    std::vector<StoreCursor*> cursors_;

    // Reused on every Insert so that inserting obtains no memory; the record is copied only
    // where an autoincrement value may have to be filled in.
    std::vector<uint8_t> record_;
    std::vector<std::vector<uint8_t>> encoded_;
    std::vector<char> keyNull_;
};

} // namespace recman::store
