// An open store: the data file the entry point reads and writes, and the cursor each handle
// keeps on it. Reads run SQLite statements along a key's index (or in rowid order for Step);
// writes are bundled into one transaction (see Bundle.cpp).
#pragma once

#include "DataFile.h"
#include "KeyCodec.h"
#include "Schema.h"
#include "Sqlite.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace recman::store {

// Writes are bundled into one transaction, committed at Close, after this many writes, or on
// the first call once the bundle has been open this long.
constexpr int BundleMaxOperations = 10000;
constexpr std::chrono::milliseconds BundleMaxAge {1000};

class StoreCursor final : public Cursor
{
public:
    explicit StoreCursor(size_t keys)
        : first(keys)
        , after(keys)
    { }

    void stop()
    {
        if (running) {
            sqlite3_reset(running);
            running = nullptr;
        }
    }

    int64_t pos = 0;          // the current record
    std::vector<uint8_t> key; // its encoded value on keyIndex
    // A statement still stepping from the current record along `runningKey` (-1: physical order),
    // valid while the file's write generation is `generation`.
    sqlite3_stmt* running = nullptr;
    int runningKey = -1;
    uint64_t generation = 0;
    std::vector<Statement> first, after; // per key, prepared on first use
    Statement stepFirst, stepAfter;
};

class StoreFile final : public DataFile
{
public:
    StoreFile(sqlite3* db, Definition definition, bool writable)
        : db_(db)
        , def_(std::move(definition))
        , writable_(writable)
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
        auto& c = static_cast<StoreCursor&>(cursor);
        c.stop();
        std::erase(cursors_, &c);
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
    int16_t deliver(StoreCursor& c, sqlite3_stmt* s, int keyIndex, ReadTarget& t);
    int16_t stepRunning(StoreCursor& c, int keyIndex, ReadTarget& t, bool keepOnEnd);
    void stopAll()
    {
        for (StoreCursor* c : cursors_)
            c->stop();
    }

    sqlite3* db_;
    Definition def_;
    bool writable_;
    std::vector<KeyCodec> codecs_;

    // Counters as of the open bundle (or the last load); written back before each commit.
    uint32_t records_ = 0;
    std::vector<uint32_t> values_;
    std::vector<int64_t> highest_; // autoincrement keys: highest value present

    bool inBundle_ = false;
    int bundleOps_ = 0;
    std::chrono::steady_clock::time_point bundleStart_;
    int16_t deferred_ = st::Success;
    // Changes on every write, commit and rollback: running read statements are then re-seeked.
    uint64_t generation_ = 1;

    Statement insert_, saveCounter_, loadCounters_, freePages_;
    std::vector<Statement> probe_; // keys with duplicates: is this value present already?
    std::vector<StoreCursor*> cursors_;

    // Reused on every Insert so that inserting obtains no memory.
    std::vector<uint8_t> record_;
    std::vector<std::vector<uint8_t>> encoded_;
    std::vector<char> keyNull_;
};

} // namespace recman::store
