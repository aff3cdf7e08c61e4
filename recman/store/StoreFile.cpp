#include "StoreFile.h"

#include "LittleEndian.h"

#include <algorithm>
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

    // Autoincrement keys whose value is zero get the highest value + 1, in a copy of the
    // record: the caller's record changes only once it is stored.
    const uint8_t* stored = record;
    if (hasAutoincrement_) {
        record_.assign(record, record + length);
        stored = record_.data();
    }
    bool assigned = false;
    for (size_t i = 0; i < def_.keys.size() && hasAutoincrement_; ++i) {
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
    sqlite3_bind_blob(ins, 1, stored, length, SQLITE_STATIC);
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        keyNull_[i] = !codecs_[i].encode(stored, length, encoded_[i]);
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
        if (known_[i].contains(encoded_[i]))
            continue;
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
        if (def_.keys[i].duplicates() && !keyNull_[i])
            known_[i].add(encoded_[i]);
        if (isAutoincrement(def_.keys[i]) && !keyNull_[i]) {
            const Segment& s = def_.keys[i].segments.front();
            highest_[i] = std::max(highest_[i], readSigned(stored + s.position - 1, s.length));
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
        c.pos = pos;
        c.hasCurrent = true;
        if (keyNull_[keyIndex]) {
            c.keyIndex = -1; // the record is not in that key's order
        } else {
            c.keyIndex = keyIndex;
            c.key.assign(encoded_[keyIndex].begin(), encoded_[keyIndex].end());
        }
        if (keyValue)
            codecs_[keyIndex].extractValue(stored, length, keyValue);
    }

    // The record is stored: whatever becomes of the commit it starts, this Insert succeeded. A
    // busy commit leaves the bundle pending for a later call; one that fails for real drops the
    // bundle, and the next call on the file hears of it.
    if (++bundleOps_ >= BundleMaxOperations) {
        int16_t s = commit();
        if (s != st::Success && s != st::FileInUse)
            deferred_ = s;
    }
    return st::Success;
}

bool KnownValues::contains(const std::vector<uint8_t>& value) const
{
    bool found = false;
    if (!slots_.empty())
        slotOf(value, found);
    return found;
}

void KnownValues::add(const std::vector<uint8_t>& value)
{
    if (value.size() > 0xffff)
        return;
    if (slots_.empty()) {
        slots_.assign(Slots, 0);
        bytes_.reserve(MaxBytes);
    }
    bool found = false;
    size_t slot = slotOf(value, found);
    if (found)
        return;
    if (count_ >= Slots / 2 || bytes_.size() + 2 + value.size() > MaxBytes) {
        clear();
        slot = slotOf(value, found);
    }
    slots_[slot] = static_cast<uint32_t>(bytes_.size() + 1);
    bytes_.push_back(static_cast<uint8_t>(value.size()));
    bytes_.push_back(static_cast<uint8_t>(value.size() >> 8));
    bytes_.insert(bytes_.end(), value.begin(), value.end());
    ++count_;
}

void KnownValues::clear()
{
    std::fill(slots_.begin(), slots_.end(), 0);
    bytes_.clear();
    count_ = 0;
}

// The slot holding `value` (found), or the free slot where it would go.
size_t KnownValues::slotOf(const std::vector<uint8_t>& value, bool& found) const
{
    uint64_t h = 14695981039346656037ull; // FNV-1a
    for (uint8_t b : value)
        h = (h ^ b) * 1099511628211ull;
    for (size_t slot = h & (Slots - 1);; slot = (slot + 1) & (Slots - 1)) {
        const uint32_t at = slots_[slot];
        if (at == 0) {
            found = false;
            return slot;
        }
        const uint8_t* p = bytes_.data() + at - 1;
        const size_t n = size_t(p[0]) | size_t(p[1]) << 8;
        if (n == value.size() && std::memcmp(p + 2, value.data(), n) == 0) {
            found = true;
            return slot;
        }
    }
}

namespace {

// SQLite's file change counter: a big-endian word in the database header that every commit of
// a rollback-journal database raises.
constexpr uint64_t ChangeCounterOffset = 24;

} // namespace

bool StoreFile::changeCount(uint32_t& out) const
{
    uint8_t b[4];
    if (!file_.isOpen() || !file_.readAt(ChangeCounterOffset, b, sizeof b))
        return false;
    out = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return true;
}

// What the cursor read ahead along `order` still shows the file: this connection has not
// written since, and no commit has happened (during a bundle of its own no one else can
// commit). Reading the counter takes no lock: a commit raises it before it writes any other page,
// and reads always begin after the counter was taken, so an unchanged counter means nothing
// was committed since the records were read.
bool StoreFile::readAheadValid(const StoreCursor& c, int order) const
{
    if (c.ahead.order != order || c.ahead.generation != generation_)
        return false;
    if (inBundle_)
        return true;
    uint32_t now = 0;
    return changeCount(now) && now == c.ahead.changeCount;
}

// Reads ahead with `s` (bound, not yet stepped) and resets it: the shared lock it took is let go
// before the call returns.
int16_t StoreFile::readAhead(StoreCursor& c, sqlite3_stmt* s, int order)
{
    ReadAhead& a = c.ahead;
    const size_t records = a.order == order && a.generation == generation_
        ? std::min(a.records * 2, ReadAhead::MostRecords)
        : ReadAhead::FirstRecords;
    a.drop();
    a.records = records;
    if (!changeCount(a.changeCount))
        a.changeCount = 0;
    int rc = SQLITE_DONE;
    while (a.entries.size() < records && a.bytes.size() < ReadAhead::MaxBytes
        && (rc = sqlite3_step(s)) == SQLITE_ROW) {
        const void* data = sqlite3_column_blob(s, 1);
        const int n = sqlite3_column_bytes(s, 1);
        const void* key = order >= 0 ? sqlite3_column_blob(s, 2) : nullptr;
        const int keyBytes = order >= 0 ? sqlite3_column_bytes(s, 2) : 0;
        if (n > 0xffff || (n > 0 && !data) || (keyBytes > 0 && !key)) {
            sqlite3_reset(s);
            a.drop();
            return st::IoError; // no record of ours is that long: the file is damaged
        }
        ReadAhead::Entry e {sqlite3_column_int64(s, 0), static_cast<uint32_t>(a.bytes.size()),
            static_cast<uint32_t>(n), static_cast<uint32_t>(a.bytes.size() + n),
            static_cast<uint32_t>(keyBytes)};
        a.bytes.insert(a.bytes.end(), static_cast<const uint8_t*>(data),
            static_cast<const uint8_t*>(data) + n);
        a.bytes.insert(a.bytes.end(), static_cast<const uint8_t*>(key),
            static_cast<const uint8_t*>(key) + keyBytes);
        a.entries.push_back(e);
    }
    const bool full = a.entries.size() >= records || a.bytes.size() >= ReadAhead::MaxBytes;
    if (!full && rc != SQLITE_DONE) {
        sqlite3_reset(s);
        a.drop();
        const int16_t failed = statusOf(rc, db_);
        return failed == st::Success ? st::IoError : failed;
    }
    sqlite3_reset(s);
    a.end = !full;
    a.order = order;
    a.generation = generation_;
    a.next = 0;
    return st::Success;
}

// Hands the cursor's next read-ahead record to the caller and makes it the current record.
int16_t StoreFile::deliver(StoreCursor& c, ReadTarget& t)
{
    ReadAhead& a = c.ahead;
    const ReadAhead::Entry& e = a.entries[a.next++];
    const uint8_t* data = a.bytes.data() + e.data;
    t.length = static_cast<uint16_t>(e.dataLength);
    std::memcpy(t.data, data, std::min<size_t>(e.dataLength, t.capacity));
    c.pos = e.pos;
    c.hasCurrent = true;
    if (a.order >= 0) {
        c.key.assign(a.bytes.data() + e.key, a.bytes.data() + e.key + e.keyLength);
        if (t.keyValue)
            codecs_[a.order].extractValue(data, e.dataLength, t.keyValue);
    }
    return e.dataLength > t.capacity ? st::DataBufferTooShort : st::Success;
}

// The first record of a walk: `s` seeks its start. Nothing found: 9 and no position.
int16_t StoreFile::walkFirst(StoreCursor& c, sqlite3_stmt* s, int order, ReadTarget& t)
{
    c.ahead.drop();
    c.keyIndex = -1;
    c.hasCurrent = false;
    if (int16_t failed = readAhead(c, s, order))
        return failed;
    if (c.ahead.entries.empty())
        return st::EndOfFile;
    c.keyIndex = order;
    return deliver(c, t);
}

// The next record of a walk from what was read ahead, while that still holds: true when it
// answered (`status` set). At the end: 9, and the position stays on the last record.
bool StoreFile::nextReadAhead(StoreCursor& c, int order, ReadTarget& t, int16_t& status)
{
    if (!readAheadValid(c, order))
        return false;
    if (c.ahead.next < c.ahead.entries.size())
        status = deliver(c, t);
    else if (c.ahead.end)
        status = st::EndOfFile;
    else
        return false;
    return true;
}

// The next record of a walk sought again by `after` (bound to the current record). At the end:
// 9, and the position stays on the last record, so that a further call answers 9 again (or
// finds what was added since).
int16_t StoreFile::walkNext(StoreCursor& c, sqlite3_stmt* after, int order, ReadTarget& t)
{
    if (int16_t failed = readAhead(c, after, order))
        return failed;
    if (c.ahead.entries.empty())
        return st::EndOfFile;
    return deliver(c, t);
}

int16_t StoreFile::getFirst(Cursor& cursor, int keyIndex, ReadTarget& target)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    Statement& q = c.first[keyIndex];
    if (!q) {
        const std::string k = keyColumn(keyIndex);
        if (q.prepare(db_,
                "SELECT pos, data, " + k + " FROM records WHERE " + k + " IS NOT NULL ORDER BY " + k
                    + ", pos")
            != SQLITE_OK)
            return st::IoError;
    }
    return walkFirst(c, q.get(), keyIndex, target);
}

int16_t StoreFile::getNext(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    const int keyIndex = c.keyIndex;
    int16_t status;
    if (nextReadAhead(c, keyIndex, target, status))
        return status;
    // Resume after the current record: same key value and a later position, or a higher key.
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
    sqlite3_bind_blob(q.get(), 1, c.key.data(), static_cast<int>(c.key.size()), SQLITE_TRANSIENT);
    if (def_.keys[keyIndex].duplicates())
        sqlite3_bind_int64(q.get(), 2, c.pos);
    return walkNext(c, q.get(), keyIndex, target);
}

int16_t StoreFile::stepFirst(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    if (!c.stepFirst
        && c.stepFirst.prepare(db_, "SELECT pos, data FROM records ORDER BY pos") != SQLITE_OK)
        return st::IoError;
    return walkFirst(c, c.stepFirst.get(), -1, target);
}

int16_t StoreFile::stepNext(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    if (!c.hasCurrent)
        return st::InvalidPositioning;
    c.keyIndex = -1;
    int16_t status;
    if (nextReadAhead(c, -1, target, status))
        return status;
    if (!c.stepAfter
        && c.stepAfter.prepare(db_, "SELECT pos, data FROM records WHERE pos > ?1 ORDER BY pos")
            != SQLITE_OK)
        return st::IoError;
    sqlite3_bind_int64(c.stepAfter.get(), 1, c.pos);
    return walkNext(c, c.stepAfter.get(), -1, target);
}

} // namespace recman::store

namespace recman {

namespace {

using namespace store;

// How long a call waits for another process's commit before it answers 85.
constexpr int BusyTimeoutMs = 2000;

// SQLite writes a journal's header (its magic number first) only when it syncs the journal, so
// a writer killed before its bundle's first sync leaves a journal whose header is zero. SQLite
// takes that for no journal and leaves it at rest. Under SQLite's reserved lock no bundle of
// another process is open (its live journal would look the same), and a hot journal has been
// rolled back by taking the lock: a journal still there with a zero header is dead.
void removeDeadJournal(sqlite3* db, const std::string& path)
{
    const std::string journal = path + "-journal";
    posix::FileInfo info;
    if (posix::fileInfo(journal, info) != 0 || !info.regular)
        return;
    sqlite3_busy_timeout(db, 0); // someone is writing: the journal is theirs
    if (exec(db, "BEGIN IMMEDIATE") == SQLITE_OK) {
        posix::ReadOnlyFile j;
        uint8_t magic[8] = {};
        if (j.open(journal) == 0) {
            const bool read = j.readAt(0, magic, sizeof magic);
            if (!read || std::all_of(magic, magic + sizeof magic, [](uint8_t b) { return b == 0; }))
                posix::removeFile(journal);
        }
        exec(db, "ROLLBACK");
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);
}

} // namespace

std::unique_ptr<DataFile> openStore(
    const std::string& path, bool writable, const posix::OpenFileLock& lock, int16_t& status)
{
    sqlite3* db = nullptr;
    int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        status = st::IoError;
        return nullptr;
    }
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    // The page cache is bounded per file, so memory does not grow with the file.
    rc = exec(db, "PRAGMA cache_size = -8192");
    if (rc == SQLITE_OK && writable)
        rc = exec(db, "PRAGMA journal_mode = DELETE");
    if (rc == SQLITE_OK && writable)
        removeDeadJournal(db, path);

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
    auto file = std::make_unique<StoreFile>(db, std::move(def), writable, lock);
    status = file->init();
    if (status != st::Success)
        return nullptr;
    return file;
}

} // namespace recman
