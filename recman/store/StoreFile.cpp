#include "StoreFile.h"

#include "LittleEndian.h"

#include <cstring>

namespace recman::store {

namespace {

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

} // namespace

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

} // namespace recman::store

namespace recman {

std::unique_ptr<DataFile> openStore(const std::string& path, bool writable, int16_t& status)
{
    using namespace store;
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
    rc = exec(db, "PRAGMA cache_size = -8192");
    if (rc == SQLITE_OK && writable)
        rc = exec(db, "PRAGMA journal_mode = DELETE");

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
        status = primaryCode(rc) == SQLITE_BUSY ? st::FileInUse : st::IoError;
        return nullptr;
    }
    auto file = std::make_unique<StoreFile>(db, std::move(def), writable);
    status = file->init();
    if (status != st::Success)
        return nullptr;
    return file;
}

} // namespace recman
