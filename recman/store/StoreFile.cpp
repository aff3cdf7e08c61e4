// The store's writes (Insert, Update, Delete) with the counters they keep, and opening a store.
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

// INSERT and UPDATE take the same parameters: the position, the record, each key's encoded value,
// then each sequence column.
constexpr int PositionParameter = 1;
constexpr int DataParameter = 2;
int keyParameter(size_t keyIndex)
{
    return 3 + int(keyIndex);
}

// "?n". Built by inserting: GCC 12 at -O3 reports a false -Wrestrict on a literal +
// std::to_string.
std::string parameter(int n)
{
    std::string p = std::to_string(n);
    p.insert(p.begin(), '?');
    return p;
}

} // namespace

StoreFile::StoreFile(sqlite3* db, Definition definition, int formatVersion, bool writable,
    const posix::OpenFileLock& file)
    : db_(db)
    , def_(std::move(definition))
    , version_(formatVersion)
    , writable_(writable)
    , file_(file)
{
    const size_t keys = def_.keys.size();
    codecs_.reserve(keys);
    for (const Key& k : def_.keys)
        codecs_.emplace_back(k, def_.acsBlocks);
    encoded_.resize(keys);
    for (size_t i = 0; i < keys; ++i)
        encoded_[i].reserve(codecs_[i].maxEncodedLength());
    keyNull_.resize(keys);
    probe_.resize(keys);
    highestQuery_.resize(keys);
    values_.resize(keys);
    highest_.resize(keys);
    known_.resize(keys);
    keyQueries_.resize(keys);
    keyRanks_.resize(keys);
    fetched_.keys.resize(keys);
    fetched_.null.resize(keys);
    fetched_.ties.resize(keys);
    tieParameter_.assign(keys, 0);
    int next = keyParameter(keys);
    for (size_t i = 0; i < keys; ++i) {
        hasAutoincrement_ = hasAutoincrement_ || isAutoincrement(def_.keys[i]);
        if (hasSequence(i))
            tieParameter_[i] = next++;
    }
}

StoreFile::~StoreFile()
{
    // A transaction never ended is undone, as the vendor's engine does when its client goes.
    if (transaction_.owner != 0)
        endTransaction(false);
    if (inBundle_)
        commit();
    // Cursors' statements are finalized by the cursors; close_v2 waits for any left.
    insert_.finalize();
    update_.finalize();
    delete_.finalize();
    byPosition_.finalize();
    for (Statement& s : probe_)
        s.finalize();
    for (Statement& s : highestQuery_)
        s.finalize();
    for (auto& queries : keyQueries_)
        for (Statement& s : queries)
            s.finalize();
    for (Statement& s : physicalQueries_)
        s.finalize();
    saveCounter_.finalize();
    loadCounters_.finalize();
    freePages_.finalize();
    lastPositionQuery_.finalize();
    sqlite3_close_v2(db_);
}

int16_t StoreFile::init()
{
    std::string cols = "pos, data", params = "?1, ?2", sets = "data = ?2", fetch = "data";
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        const std::string k = keyColumn(i);
        const std::string p = parameter(keyParameter(i));
        cols += ", " + k;
        params += ", " + p;
        sets += ", " + k + " = " + p;
        fetch += ", " + k + ", " + tieColumn(i);
        if (probe_[i].prepare(
                db_, "SELECT 1 FROM records WHERE " + k + " = ?1 AND pos <> ?2 LIMIT 1")
            != SQLITE_OK)
            return st::IoError;
        // The key's index must be there: without it order and uniqueness would be lost.
        Statement idx;
        if (idx.prepare(db_,
                "SELECT 1 FROM sqlite_schema WHERE type = 'index' AND name = 'records_" + k + "'")
                != SQLITE_OK
            || sqlite3_step(idx.get()) != SQLITE_ROW)
            return st::IoError;
    }
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        if (tieParameter_[i] == 0)
            continue;
        const std::string p = parameter(tieParameter_[i]);
        cols += ", " + sequenceColumn(i);
        params += ", " + p;
        sets += ", " + sequenceColumn(i) + " = " + p;
    }
    if (insert_.prepare(db_, "INSERT INTO records(" + cols + ") VALUES(" + params + ")")
            != SQLITE_OK
        || update_.prepare(db_, "UPDATE records SET " + sets + " WHERE pos = ?1") != SQLITE_OK
        || delete_.prepare(db_, "DELETE FROM records WHERE pos = ?1") != SQLITE_OK
        || byPosition_.prepare(db_, "SELECT " + fetch + " FROM records WHERE pos = ?1") != SQLITE_OK
        || saveCounter_.prepare(db_, "INSERT OR REPLACE INTO counters(name, value) VALUES(?1, ?2)")
            != SQLITE_OK
        || loadCounters_.prepare(db_, "SELECT name, value FROM counters") != SQLITE_OK
        || freePages_.prepare(db_, "PRAGMA freelist_count") != SQLITE_OK
        || lastPositionQuery_.prepare(db_, "SELECT max(pos) FROM records") != SQLITE_OK)
        return st::IoError;
    return loadCounters();
}

int16_t StoreFile::liveFigures(LiveFigures& out)
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

std::unique_ptr<Cursor> StoreFile::newCursor()
{
    auto c = std::make_unique<StoreCursor>();
    cursors_.push_back(c.get());
    return c;
}

void StoreFile::releaseCursor(Cursor& cursor)
{
    std::erase(cursors_, &static_cast<StoreCursor&>(cursor));
}

int16_t StoreFile::probe(
    size_t keyIndex, const std::vector<uint8_t>& value, int64_t except, bool& found)
{
    sqlite3_stmt* p = probe_[keyIndex].get();
    sqlite3_bind_blob(p, 1, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    sqlite3_bind_int64(p, 2, except);
    const int rc = sqlite3_step(p);
    sqlite3_reset(p);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return statusOf(rc, db_);
    found = rc == SQLITE_ROW;
    return st::Success;
}

// The highest value an autoincrement key holds now, from the records at both ends of its order
// (a descending key keeps its highest value first).
int16_t StoreFile::recomputeHighest(size_t keyIndex)
{
    Statement& q = highestQuery_[keyIndex];
    const std::string k = keyColumn(keyIndex);
    if (!q
        && q.prepare(db_,
               "SELECT data FROM (SELECT data FROM records WHERE " + k + " IS NOT NULL ORDER BY "
                   + k + " LIMIT 1) UNION ALL SELECT data FROM (SELECT data FROM records WHERE " + k
                   + " IS NOT NULL ORDER BY " + k + " DESC LIMIT 1)")
            != SQLITE_OK)
        return st::IoError;
    const Segment& seg = def_.keys[keyIndex].segments.front();
    int64_t highest = 0;
    int rc;
    while ((rc = sqlite3_step(q.get())) == SQLITE_ROW) {
        const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(q.get(), 0));
        const int n = sqlite3_column_bytes(q.get(), 0);
        if (data && n >= seg.position - 1 + seg.length)
            highest = std::max(highest, readSigned(data + seg.position - 1, seg.length));
    }
    sqlite3_reset(q.get());
    if (rc != SQLITE_DONE)
        return statusOf(rc, db_);
    highest_[keyIndex] = highest;
    return st::Success;
}

int16_t StoreFile::unchangedSince(const StoreCursor& c)
{
    const int16_t s = fetch(c.pos);
    if (s == st::InvalidRecordAddress)
        return st::Conflict; // deleted meanwhile
    if (s != st::Success)
        return s;
    return fetched_.data == c.record ? st::Success : st::Conflict;
}

int16_t StoreFile::insert(
    Cursor& cursor, uint8_t* record, uint16_t length, int keyIndex, uint8_t* keyValue)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    if (int16_t s = startWrite())
        return s;

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

    // Positions are never given twice: a record deleted at the end does not lend its own.
    const int64_t pos = lastPosition_ + 1;
    sqlite3_stmt* ins = insert_.get();
    sqlite3_bind_int64(ins, PositionParameter, pos);
    sqlite3_bind_blob(ins, DataParameter, stored, length, SQLITE_STATIC);
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        keyNull_[i] = !codecs_[i].encode(stored, length, encoded_[i]);
        if (keyNull_[i])
            sqlite3_bind_null(ins, keyParameter(i));
        else
            sqlite3_bind_blob(ins, keyParameter(i), encoded_[i].data(),
                static_cast<int>(encoded_[i].size()), SQLITE_STATIC);
        if (tieParameter_[i])
            sqlite3_bind_int64(ins, tieParameter_[i], pos);
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
        bool found = false;
        if (int16_t failed = probe(i, encoded_[i], 0, found)) {
            sqlite3_clear_bindings(ins);
            if (sqlite3_get_autocommit(db_))
                abandonBundle(failed);
            return failed;
        }
        newValue[i] = !found;
    }

    int rc = sqlite3_step(ins);
    sqlite3_reset(ins);
    sqlite3_clear_bindings(ins);
    ++generation_;
    if (rc != SQLITE_DONE) {
        const int16_t failed = statusOf(rc, db_);
        if (sqlite3_get_autocommit(db_))
            abandonBundle(failed);
        return failed;
    }

    lastPosition_ = pos;
    ++records_;
    physicalRanks_.noteInserted({nullptr, 0, pos});
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        if (newValue[i])
            ++values_[i];
        if (keyNull_[i])
            continue;
        if (def_.keys[i].duplicates())
            known_[i].add(encoded_[i]);
        if (isAutoincrement(def_.keys[i])) {
            const Segment& s = def_.keys[i].segments.front();
            highest_[i] = std::max(highest_[i], readSigned(stored + s.position - 1, s.length));
        }
        keyRanks_[i].noteInserted({encoded_[i].data(), encoded_[i].size(), pos});
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
    makeCurrent(c, pos, stored, length);
    if (keyIndex >= 0) {
        c.wholeValue = false;
        if (keyNull_[keyIndex]) {
            c.keyIndex = -1; // the record is not in that key's order
        } else {
            c.keyIndex = keyIndex;
            c.key.assign(encoded_[keyIndex].begin(), encoded_[keyIndex].end());
            c.tie = pos;
            c.keyPos = pos;
        }
        if (keyValue)
            codecs_[keyIndex].extractValue(stored, length, keyValue);
    }
    finishWrite();
    return st::Success;
}

int16_t StoreFile::update(
    Cursor& cursor, const uint8_t* record, uint16_t length, int keyIndex, uint8_t* keyValue)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    if (!c.hasCurrent)
        return st::InvalidPositioning;
    if (int16_t s = startWrite())
        return s;
    // Within the bundle no other process writes: what is checked here still holds at the UPDATE.
    if (int16_t s = unchangedSince(c))
        return s;
    const Fetched& old = fetched_;
    const size_t keys = def_.keys.size();
    // A key changes when its encoded value does: a change that sorts equal is none.
    std::array<bool, MaxKeys> changed {};
    for (size_t i = 0; i < keys; ++i) {
        keyNull_[i] = !codecs_[i].encode(record, length, encoded_[i]);
        changed[i]
            = keyNull_[i] != bool(old.null[i]) || (!keyNull_[i] && encoded_[i] != old.keys[i]);
    }
    for (size_t i = 0; i < keys; ++i) {
        if (changed[i] && !def_.keys[i].modifiable())
            return st::ModifiableKeyValue;
    }
    // Distinct values before and after, asked before the record moves: the probes leave it out.
    std::array<bool, MaxKeys> oldGoes {}, newComes {};
    for (size_t i = 0; i < keys; ++i) {
        if (!changed[i])
            continue;
        bool found = false;
        if (!keyNull_[i]) {
            if (int16_t s = probe(i, encoded_[i], c.pos, found))
                return s;
            if (found && !def_.keys[i].duplicates())
                return st::DuplicateKey;
            newComes[i] = !found;
        }
        if (!old.null[i]) {
            if (!def_.keys[i].duplicates()) {
                oldGoes[i] = true;
            } else {
                if (int16_t s = probe(i, old.keys[i], c.pos, found))
                    return s;
                oldGoes[i] = !found;
            }
        }
    }

    // A value taken anew goes last among its equals.
    std::array<int64_t, MaxKeys> ties {};
    int64_t last = lastPosition_;
    sqlite3_stmt* up = update_.get();
    sqlite3_bind_int64(up, PositionParameter, c.pos);
    sqlite3_bind_blob(up, DataParameter, record, length, SQLITE_STATIC);
    for (size_t i = 0; i < keys; ++i) {
        if (keyNull_[i])
            sqlite3_bind_null(up, keyParameter(i));
        else
            sqlite3_bind_blob(up, keyParameter(i), encoded_[i].data(),
                static_cast<int>(encoded_[i].size()), SQLITE_STATIC);
        ties[i] = changed[i] && tieParameter_[i] ? ++last : old.ties[i];
        if (tieParameter_[i])
            sqlite3_bind_int64(up, tieParameter_[i], ties[i]);
    }
    int rc = sqlite3_step(up);
    sqlite3_reset(up);
    sqlite3_clear_bindings(up);
    ++generation_;
    if (rc != SQLITE_DONE) {
        const int16_t failed = statusOf(rc, db_);
        if (sqlite3_get_autocommit(db_))
            abandonBundle(failed);
        return failed;
    }

    lastPosition_ = last;
    for (size_t i = 0; i < keys; ++i) {
        if (!changed[i])
            continue;
        if (oldGoes[i]) {
            --values_[i];
            known_[i].clear();
        }
        if (newComes[i])
            ++values_[i];
        if (!old.null[i])
            keyRanks_[i].noteDeleted({old.keys[i].data(), old.keys[i].size(), old.ties[i]});
        if (!keyNull_[i])
            keyRanks_[i].noteInserted({encoded_[i].data(), encoded_[i].size(), ties[i]});
        if (isAutoincrement(def_.keys[i])) {
            if (int16_t s = recomputeHighest(i))
                deferred_ = s;
        }
    }

    if (keyIndex >= 0 && keyNull_[keyIndex]) {
        // Gone from the key: a position there stays at its old place, as after a Delete; a block
        // positioned otherwise has none on that key.
        if (c.keyIndex == keyIndex && !old.null[size_t(keyIndex)]) {
            c.key = old.keys[size_t(keyIndex)];
            c.tie = old.ties[size_t(keyIndex)];
            c.keyPos = c.pos;
            c.wholeValue = false;
        } else {
            c.keyIndex = -1;
        }
    } else if (keyIndex >= 0) {
        c.keyIndex = keyIndex;
        c.key.assign(encoded_[keyIndex].begin(), encoded_[keyIndex].end());
        c.tie = ties[keyIndex];
        c.keyPos = c.pos;
        c.wholeValue = false;
    }
    if (keyIndex >= 0 && keyValue)
        codecs_[keyIndex].extractValue(record, length, keyValue);
    c.record.assign(record, record + length);
    c.currentSince = generation_;
    finishWrite();
    return st::Success;
}

int16_t StoreFile::remove(Cursor& cursor, int keyIndex)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    if (!c.hasCurrent)
        return st::InvalidPositioning;
    if (int16_t s = startWrite())
        return s;
    if (int16_t s = unchangedSince(c))
        return s;
    const Fetched& old = fetched_;
    sqlite3_stmt* del = delete_.get();
    sqlite3_bind_int64(del, 1, c.pos);
    int rc = sqlite3_step(del);
    sqlite3_reset(del);
    ++generation_;
    if (rc != SQLITE_DONE) {
        const int16_t failed = statusOf(rc, db_);
        if (sqlite3_get_autocommit(db_))
            abandonBundle(failed);
        return failed;
    }

    --records_;
    physicalRanks_.noteDeleted({nullptr, 0, c.pos});
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        if (old.null[i])
            continue;
        bool found = false;
        if (def_.keys[i].duplicates()) {
            if (int16_t s = probe(i, old.keys[i], c.pos, found))
                deferred_ = s; // the record is gone; the count is told wrong next time
        }
        if (!found) {
            --values_[i];
            known_[i].clear();
        }
        keyRanks_[i].noteDeleted({old.keys[i].data(), old.keys[i].size(), old.ties[i]});
        if (isAutoincrement(def_.keys[i])) {
            if (int16_t s = recomputeHighest(i))
                deferred_ = s;
        }
    }

    // The neighbours of the deleted record's own place stay: Get Next, Get Previous, Step Next
    // and Step Previous go on from there.
    c.hasCurrent = false;
    c.physical = c.pos;
    c.hasPhysical = true;
    if (keyIndex >= 0) {
        c.wholeValue = false;
        if (old.null[size_t(keyIndex)]) {
            c.keyIndex = -1;
        } else {
            c.keyIndex = keyIndex;
            c.key = old.keys[size_t(keyIndex)];
            c.tie = old.ties[size_t(keyIndex)];
            c.keyPos = c.pos;
        }
    }
    finishWrite();
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

// A single integer the statement `sql` answers.
int queryInt(sqlite3* db, const char* sql, int64_t& out)
{
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_step(s);
        if (rc == SQLITE_ROW) {
            out = sqlite3_column_int64(s, 0);
            rc = SQLITE_OK;
        } else if (rc == SQLITE_DONE) {
            rc = SQLITE_CORRUPT;
        }
    }
    sqlite3_finalize(s);
    return rc;
}

} // namespace

std::unique_ptr<DataFile> openStore(const std::string& path, bool writable, bool alone,
    const posix::OpenFileLock& lock, int16_t& status)
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

    int64_t version = 0;
    if (rc == SQLITE_OK)
        rc = queryInt(db, "PRAGMA user_version", version);
    if (rc == SQLITE_OK && (version < FirstFormatVersion || version > FormatVersion))
        rc = SQLITE_CORRUPT;
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
    int current = int(version);
    // A file that cannot be brought up to date now (a full disk) is used as it is.
    if (writable && alone && current < FormatVersion)
        upgradeStore(db, def, current);
    auto file = std::make_unique<StoreFile>(db, std::move(def), current, writable, lock);
    status = file->init();
    if (status != st::Success)
        return nullptr;
    return file;
}

} // namespace recman
