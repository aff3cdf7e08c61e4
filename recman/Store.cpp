#include "Store.h"

#include "BtrCall.h"
#include "KeyCodec.h"
#include "LittleEndian.h"

#include <sqlite3.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace recman {

namespace st = btr::status;

namespace {

// Status for an SQLite result code (primary code only).
int16_t statusOf(int rc)
{
    switch (rc & 0xff) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return st::Success;
    case SQLITE_FULL:
        return st::DiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return st::FileInUse;
    case SQLITE_CONSTRAINT:
        return st::DuplicateKey;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return st::AccessDenied;
    default:
        return st::IoError;
    }
}

// Status for a failed call on `db`: an I/O error for lack of space is a full disk.
int16_t statusOf(int rc, sqlite3* db)
{
    if ((rc & 0xff) == SQLITE_IOERR) {
        const int error = sqlite3_system_errno(db);
        if (error == ENOSPC || error == EDQUOT || error == EFBIG)
            return st::DiskFull;
    }
    return statusOf(rc);
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

// Name of the records column (and index) that holds the encoded value of keys[index].
std::string keyColumn(size_t index)
{
    std::string name = std::to_string(index);
    name.insert(name.begin(), 'k');
    return name;
}

bool isAutoincrement(const Key& key)
{
    // Create lets an autoincrement key have only one segment, of 2, 4 or 8 bytes.
    return key.autoincrement() && key.segments.size() == 1;
}

int64_t readSigned(const uint8_t* p, int width)
{
    if (width <= 0 || width > 8)
        return 0;
    uint64_t v = btr::le::getN(p, width);
    if (width < 8 && (v >> (8 * width - 1)) & 1)
        v |= ~uint64_t(0) << (8 * width);
    return static_cast<int64_t>(v);
}

void writeSigned(uint8_t* p, int width, int64_t value)
{
    btr::le::putN(p, width, static_cast<uint64_t>(value));
}

int64_t maxSigned(int width)
{
    if (width <= 0)
        return 0;
    return width >= 8 ? INT64_MAX : (int64_t(1) << (8 * width - 1)) - 1;
}

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
        if (n == "records") {
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
        if (what == ".values")
            values_[index] = static_cast<uint32_t>(value);
        else if (what == ".highest")
            highest_[index] = value;
    }
    sqlite3_reset(s);
    if (rc != SQLITE_DONE)
        return statusOf(rc);
    return haveRecords ? st::Success : st::IoError;
}

int16_t StoreFile::beginBundle()
{
    int rc = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return statusOf(rc);
    // Counters as committed, in case another process wrote between our bundles.
    if (int16_t s = loadCounters()) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
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
    stopAll();
    if (!sqlite3_get_autocommit(db_))
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    inBundle_ = false;
    ++generation_;
    loadCounters();
}

int16_t StoreFile::commit()
{
    if (!inBundle_) {
        int16_t s = deferred_;
        deferred_ = st::Success;
        return s;
    }
    stopAll();
    ++generation_;
    auto save = [this](const std::string& name, int64_t value) {
        sqlite3_stmt* s = saveCounter_.get();
        sqlite3_bind_text(s, 1, name.data(), static_cast<int>(name.size()), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, 2, value);
        int rc = sqlite3_step(s);
        sqlite3_reset(s);
        return rc;
    };
    int rc = save("records", records_);
    for (size_t i = 0; i < values_.size() && rc == SQLITE_DONE; ++i) {
        rc = save(keyColumn(i) + ".values", values_[i]);
        if (rc == SQLITE_DONE && isAutoincrement(def_.keys[i]))
            rc = save(keyColumn(i) + ".highest", highest_[i]);
    }
    if (rc == SQLITE_DONE)
        rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
    if ((rc & 0xff) == SQLITE_BUSY && !sqlite3_get_autocommit(db_)) {
        // Another process still reads the file: the bundle stays pending and whole, to be
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

int16_t StoreFile::insert(
    Cursor& cursor, uint8_t* record, uint16_t length, int keyIndex, uint8_t* keyValue)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    if (!writable_)
        return st::AccessDenied;
    if (deferred_ != st::Success) {
        int16_t s = deferred_;
        deferred_ = st::Success;
        return s;
    }
    if (!inBundle_) {
        if (int16_t s = beginBundle())
            return s;
    }

    record_.assign(record, record + length);
    // Autoincrement keys whose value is zero get the highest value + 1.
    bool assigned = false;
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        const Key& k = def_.keys[i];
        if (!isAutoincrement(k))
            continue;
        const Segment& s = k.segments.front();
        uint8_t* p = record_.data() + s.position - 1;
        if (readSigned(p, s.length) != 0)
            continue;
        int64_t next = std::max<int64_t>(highest_[i], 0);
        if (next >= maxSigned(s.length))
            return st::DuplicateKey; // the key's range is used up
        writeSigned(p, s.length, next + 1);
        assigned = true;
    }

    sqlite3_stmt* ins = insert_.get();
    sqlite3_bind_blob(ins, 1, record_.data(), length, SQLITE_STATIC);
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        keyNull_[i] = !codecs_[i].encode(record_.data(), length, encoded_[i]);
        if (keyNull_[i])
            sqlite3_bind_null(ins, static_cast<int>(i) + 2);
        else
            sqlite3_bind_blob(ins, static_cast<int>(i) + 2, encoded_[i].data(),
                static_cast<int>(encoded_[i].size()), SQLITE_STATIC);
    }
    // A key with duplicates gains a distinct value only when the value is not there yet.
    std::array<bool, MaxKeys> newValue {};
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        if (keyNull_[i])
            continue;
        if (!def_.keys[i].duplicates()) {
            newValue[i] = true;
            continue;
        }
        sqlite3_stmt* p = probe_[i].get();
        sqlite3_bind_blob(
            p, 1, encoded_[i].data(), static_cast<int>(encoded_[i].size()), SQLITE_STATIC);
        int rc = sqlite3_step(p);
        sqlite3_reset(p);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
            sqlite3_clear_bindings(ins);
            const int16_t failed = statusOf(rc, db_);
            if (sqlite3_get_autocommit(db_))
                abandonBundle();
            return failed;
        }
        newValue[i] = rc == SQLITE_DONE;
    }

    int rc = sqlite3_step(ins);
    sqlite3_reset(ins);
    sqlite3_clear_bindings(ins);
    ++generation_;
    if (rc != SQLITE_DONE) {
        const int16_t failed = statusOf(rc, db_);
        if (sqlite3_get_autocommit(db_))
            abandonBundle();
        return failed;
    }

    ++records_;
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        if (newValue[i])
            ++values_[i];
        if (isAutoincrement(def_.keys[i]) && !keyNull_[i]) {
            const Segment& s = def_.keys[i].segments.front();
            highest_[i]
                = std::max(highest_[i], readSigned(record_.data() + s.position - 1, s.length));
        }
    }
    if (assigned) {
        // Hand the assigned values back to the caller.
        for (size_t i = 0; i < def_.keys.size(); ++i) {
            if (!isAutoincrement(def_.keys[i]))
                continue;
            const Segment& s = def_.keys[i].segments.front();
            std::memcpy(record + s.position - 1, record_.data() + s.position - 1, s.length);
        }
    }
    int64_t pos = sqlite3_last_insert_rowid(db_);
    if (keyIndex >= 0) {
        c.stop();
        c.pos = pos;
        c.hasCurrent = true;
        if (keyNull_[keyIndex]) {
            c.keyIndex = -1; // the record is not in that key's order
        } else {
            c.keyIndex = keyIndex;
            c.key.assign(encoded_[keyIndex].begin(), encoded_[keyIndex].end());
        }
        if (keyValue)
            codecs_[keyIndex].extractValue(record_.data(), length, keyValue);
    }

    if (++bundleOps_ >= BundleMaxOperations)
        return commit();
    return st::Success;
}

int16_t StoreFile::deliver(StoreCursor& c, sqlite3_stmt* s, int keyIndex, ReadTarget& t)
{
    const void* data = sqlite3_column_blob(s, 1);
    int n = sqlite3_column_bytes(s, 1);
    if (n > 0xffff || (n > 0 && !data))
        return st::IoError; // no record of ours is that long: the file is damaged
    auto bytes = static_cast<const uint8_t*>(data);
    t.length = static_cast<uint16_t>(n);
    if (n > 0)
        std::memcpy(t.data, bytes, std::min<size_t>(n, t.capacity));
    c.pos = sqlite3_column_int64(s, 0);
    c.hasCurrent = true;
    if (keyIndex >= 0) {
        auto key = static_cast<const uint8_t*>(sqlite3_column_blob(s, 2));
        int keyBytes = sqlite3_column_bytes(s, 2);
        c.key.assign(key, key + keyBytes);
        if (t.keyValue)
            codecs_[keyIndex].extractValue(bytes, n, t.keyValue);
    }
    return n > t.capacity ? st::DataBufferTooShort : st::Success;
}

// Steps c.running once. At the end: 9, and with keepOnEnd the position stays on the last record
// (so a further Get Next answers 9 again); otherwise the cursor has no position.
int16_t StoreFile::stepRunning(StoreCursor& c, int keyIndex, ReadTarget& t, bool keepOnEnd)
{
    int rc = sqlite3_step(c.running);
    if (rc == SQLITE_ROW) {
        int16_t s = deliver(c, c.running, keyIndex, t);
        if (s == st::IoError)
            c.stop();
        return s;
    }
    c.stop();
    if (rc == SQLITE_DONE) {
        if (!keepOnEnd) {
            c.keyIndex = -1;
            c.hasCurrent = false;
        }
        return st::EndOfFile;
    }
    const int16_t failed = statusOf(rc, db_);
    return failed == st::Success ? st::IoError : failed;
}

int16_t StoreFile::getFirst(Cursor& cursor, int keyIndex, ReadTarget& target)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    c.stop();
    Statement& q = c.first[keyIndex];
    if (!q) {
        const std::string k = keyColumn(keyIndex);
        if (q.prepare(db_,
                "SELECT pos, data, " + k + " FROM records WHERE " + k + " IS NOT NULL ORDER BY " + k
                    + ", pos")
            != SQLITE_OK)
            return st::IoError;
    }
    c.running = q.get();
    c.runningKey = keyIndex;
    c.generation = generation_;
    c.keyIndex = keyIndex;
    int16_t s = stepRunning(c, keyIndex, target, false);
    if (s != st::Success && s != st::DataBufferTooShort && s != st::EndOfFile)
        c.keyIndex = -1;
    return s;
}

int16_t StoreFile::getNext(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    const int keyIndex = c.keyIndex;
    if (!c.running || c.runningKey != keyIndex || c.generation != generation_) {
        // Resume after the current record: same key value and a later position, or a higher key.
        c.stop();
        Statement& q = c.after[keyIndex];
        if (!q) {
            const std::string k = keyColumn(keyIndex);
            const std::string where = def_.keys[keyIndex].duplicates()
                ? k + " >= ?1 AND (" + k + " > ?1 OR pos > ?2)"
                : k + " > ?1";
            if (q.prepare(db_,
                    "SELECT pos, data, " + k + " FROM records WHERE " + where + " ORDER BY " + k
                        + ", pos")
                != SQLITE_OK)
                return st::IoError;
        }
        sqlite3_bind_blob(
            q.get(), 1, c.key.data(), static_cast<int>(c.key.size()), SQLITE_TRANSIENT);
        if (def_.keys[keyIndex].duplicates())
            sqlite3_bind_int64(q.get(), 2, c.pos);
        c.running = q.get();
        c.runningKey = keyIndex;
        c.generation = generation_;
    }
    return stepRunning(c, keyIndex, target, true);
}

int16_t StoreFile::stepFirst(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    c.stop();
    if (!c.stepFirst
        && c.stepFirst.prepare(db_, "SELECT pos, data FROM records ORDER BY pos") != SQLITE_OK)
        return st::IoError;
    c.running = c.stepFirst.get();
    c.runningKey = -1;
    c.generation = generation_;
    c.keyIndex = -1;
    return stepRunning(c, -1, target, false);
}

int16_t StoreFile::stepNext(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    if (!c.hasCurrent)
        return st::InvalidPositioning;
    c.keyIndex = -1;
    if (!c.running || c.runningKey != -1 || c.generation != generation_) {
        c.stop();
        if (!c.stepAfter
            && c.stepAfter.prepare(db_, "SELECT pos, data FROM records WHERE pos > ?1 ORDER BY pos")
                != SQLITE_OK)
            return st::IoError;
        sqlite3_bind_int64(c.stepAfter.get(), 1, c.pos);
        c.running = c.stepAfter.get();
        c.runningKey = -1;
        c.generation = generation_;
    }
    return stepRunning(c, -1, target, true);
}

int16_t createStatus(int rc)
{
    return (rc & 0xff) == SQLITE_FULL ? st::DiskFull : st::CreateIoError;
}

int16_t buildStore(
    const std::string& path, const Definition& def, const uint8_t* image, size_t imageLength)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return createStatus(rc);
    }
    std::string sql = "PRAGMA journal_mode = DELETE;"
                      "PRAGMA application_id = "
        + std::to_string(StoreApplicationId)
        + ";"
          "PRAGMA user_version = "
        + std::to_string(StoreFormatVersion)
        + ";"
          "BEGIN;"
          "CREATE TABLE definition(image BLOB NOT NULL);"
          "CREATE TABLE counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
          "INSERT INTO counters VALUES('records', 0);";
    std::string cols;
    std::string indexes;
    for (size_t i = 0; i < def.keys.size(); ++i) {
        const Key& k = def.keys[i];
        const std::string c = keyColumn(i);
        cols += ", " + c + " BLOB";
        sql += "INSERT INTO counters VALUES('" + c + ".values', 0);";
        if (isAutoincrement(k))
            sql += "INSERT INTO counters VALUES('" + c + ".highest', 0);";
        // Ties within an index are kept in rowid (pos) order: duplicates in insertion order.
        indexes.append(k.duplicates() ? "CREATE INDEX records_" : "CREATE UNIQUE INDEX records_")
            .append(c)
            .append(" ON records(")
            .append(c)
            .append(")");
        if (k.nullAll() || k.nullAny())
            indexes.append(" WHERE ").append(c).append(" IS NOT NULL");
        indexes.append(";");
    }
    sql += "CREATE TABLE records(pos INTEGER PRIMARY KEY, data BLOB NOT NULL" + cols + ");";
    sql += indexes;
    rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        rc = sqlite3_prepare_v2(db, "INSERT INTO definition(image) VALUES(?1)", -1, &s, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_bind_blob(s, 1, image, static_cast<int>(imageLength), SQLITE_STATIC);
            rc = sqlite3_step(s);
            rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
        }
        sqlite3_finalize(s);
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    int16_t status = rc == SQLITE_OK ? st::Success : createStatus(rc);
    if (sqlite3_close(db) != SQLITE_OK && status == st::Success)
        status = st::CreateIoError;
    return status;
}

std::string directoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

void syncDirectory(const std::string& dir)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

uint32_t bigEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

bool isStoreFile(const std::string& path)
{
    // Looking at a file that may be a user's legacy file must not change its access time.
    int fd = -1;
#ifdef O_NOATIME
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd < 0 && errno == EPERM)
#endif
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    uint8_t header[100];
    ssize_t n = ::pread(fd, header, sizeof header, 0);
    ::close(fd);
    return n == static_cast<ssize_t>(sizeof header)
        && std::memcmp(header, "SQLite format 3", 16) == 0
        && bigEndian32(header + 68) == static_cast<uint32_t>(StoreApplicationId)
        && bigEndian32(header + 60) == static_cast<uint32_t>(StoreFormatVersion);
}

std::unique_ptr<DataFile> openStore(const std::string& path, bool writable, int16_t& status)
{
    sqlite3* db = nullptr;
    int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        status = st::IoError;
        return nullptr;
    }
    sqlite3_busy_timeout(db, 2000);
    // The page cache is bounded per file, so memory does not grow with the file.
    rc = sqlite3_exec(db, "PRAGMA cache_size = -8192", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK && writable)
        rc = sqlite3_exec(db, "PRAGMA journal_mode = DELETE", nullptr, nullptr, nullptr);

    std::vector<uint8_t> image;
    if (rc == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        rc = sqlite3_prepare_v2(db, "SELECT image FROM definition", -1, &s, nullptr);
        if (rc == SQLITE_OK) {
            rc = sqlite3_step(s);
            if (rc == SQLITE_ROW) {
                auto p = static_cast<const uint8_t*>(sqlite3_column_blob(s, 0));
                image.assign(p, p + sqlite3_column_bytes(s, 0));
                rc = SQLITE_OK;
            } else if (rc == SQLITE_DONE) {
                rc = SQLITE_CORRUPT;
            }
        }
        sqlite3_finalize(s);
    }
    Definition def;
    if (rc == SQLITE_OK
        && (image.size() > 0xffff
            || parseCreate(image.data(), static_cast<uint16_t>(image.size()), def) != st::Success))
        rc = SQLITE_CORRUPT;
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        // A busy file is in use; anything else means the database is not in a usable state.
        status = (rc & 0xff) == SQLITE_BUSY ? st::FileInUse : st::IoError;
        return nullptr;
    }
    auto file = std::make_unique<StoreFile>(db, std::move(def), writable);
    status = file->init();
    if (status != st::Success)
        return nullptr;
    return file;
}

int16_t createStore(const std::string& path, const Definition& definition, const uint8_t* image,
    size_t imageLength, bool replace)
{
    struct stat existing;
    if (::stat(path.c_str(), &existing) == 0) {
        if (!replace)
            return st::FileAlreadyExists;
        if (!S_ISREG(existing.st_mode))
            return st::CreateIoError;
    }
    const std::string dir = directoryOf(path);
    std::string temp = dir + "/.varnok-create-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return errno == ENOSPC ? st::DiskFull : st::CreateIoError;
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);

    int16_t status = buildStore(temp, definition, image, imageLength);
    bool renamed = false;
    if (status == st::Success) {
        if (replace) {
            renamed = ::rename(temp.c_str(), path.c_str()) == 0;
            if (!renamed)
                status = errno == ENOSPC ? st::DiskFull : st::CreateIoError;
        } else if (::link(temp.c_str(), path.c_str()) != 0) {
            status = errno == EEXIST ? st::FileAlreadyExists : st::CreateIoError;
        }
    }
    if (!renamed)
        ::unlink(temp.c_str());
    ::unlink((temp + "-journal").c_str());
    if (status == st::Success)
        syncDirectory(dir);
    return status;
}

} // namespace recman
