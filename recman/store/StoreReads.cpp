// Reading a store: walks along a key's index or in position order, either way, resumed from a
// cursor's place by seeking; Get Direct; and the ranks behind the percentage operations.
#include "StoreFile.h"

#include <algorithm>
#include <cstring>

namespace recman::store {

namespace {

// SQLite's file change counter: a big-endian word in the database header that every commit of
// a rollback-journal database raises.
constexpr uint64_t ChangeCounterOffset = 24;

} // namespace

std::string StoreFile::tieColumn(size_t keyIndex) const
{
    return hasSequence(keyIndex) ? sequenceColumn(keyIndex) : std::string("pos");
}

bool StoreFile::hasSequence(size_t keyIndex) const
{
    return version_ >= 2 && def_.keys[keyIndex].duplicates();
}

sqlite3_stmt* StoreFile::keyQuery(int keyIndex, KeyQuery query)
{
    Statement& q = keyQueries_[size_t(keyIndex)][query];
    if (q)
        return q.get();
    const std::string k = keyColumn(size_t(keyIndex));
    const std::string t = tieColumn(size_t(keyIndex));
    // Entries compare as (key, tie) row values, so that a walk resumes in the middle of many
    // equal keys by one seek in the index on both.
    const std::string entry = "(" + k + ", " + t + ")";
    const std::string walk
        = "SELECT pos, data, " + k + ", " + t + " FROM records WHERE " + k + " IS NOT NULL";
    const std::string forward = " ORDER BY " + k + ", " + t;
    const std::string backward = " ORDER BY " + k + " DESC, " + t + " DESC";
    std::string sql;
    switch (query) {
    case KeyFirst:
        sql = walk + forward;
        break;
    case KeyLast:
        sql = walk + backward;
        break;
    case KeyGreaterOrEqual:
        sql = walk + " AND " + k + " >= ?1" + forward;
        break;
    case KeyGreater:
        sql = walk + " AND " + k + " > ?1" + forward;
        break;
    case KeyLessOrEqual:
        sql = walk + " AND " + k + " <= ?1" + backward;
        break;
    case KeyLess:
        sql = walk + " AND " + k + " < ?1" + backward;
        break;
    case KeyAfter:
        sql = walk + " AND " + entry + " > (?1, ?2)" + forward;
        break;
    case KeyBefore:
        sql = walk + " AND " + entry + " < (?1, ?2)" + backward;
        break;
    case KeyAtRank:
        sql = "SELECT pos FROM records WHERE " + k + " IS NOT NULL" + forward
            + " LIMIT 1 OFFSET ?1";
        break;
    case KeyFromMark:
        sql = "SELECT pos FROM records WHERE " + k + " IS NOT NULL AND " + entry + " >= (?1, ?2)"
            + forward + " LIMIT 1 OFFSET ?3";
        break;
    case KeyCountFromMark:
        sql = "SELECT count(*) FROM records WHERE " + entry + " >= (?1, ?2) AND " + k + " < ?3";
        break;
    case KeyCountBefore:
        sql = "SELECT count(*) FROM records WHERE " + k + " < ?1";
        break;
    case KeyMarks:
        sql = "SELECT " + k + ", " + t + " FROM records WHERE " + k + " IS NOT NULL" + forward;
        break;
    case KeyQueries:
        return nullptr;
    }
    return q.prepare(db_, sql) == SQLITE_OK ? q.get() : nullptr;
}

sqlite3_stmt* StoreFile::physicalQuery(PhysicalQuery query)
{
    Statement& q = physicalQueries_[query];
    if (q)
        return q.get();
    std::string sql;
    switch (query) {
    case PhysicalFirst:
        sql = "SELECT pos, data FROM records ORDER BY pos";
        break;
    case PhysicalLast:
        sql = "SELECT pos, data FROM records ORDER BY pos DESC";
        break;
    case PhysicalAfter:
        sql = "SELECT pos, data FROM records WHERE pos > ?1 ORDER BY pos";
        break;
    case PhysicalBefore:
        sql = "SELECT pos, data FROM records WHERE pos < ?1 ORDER BY pos DESC";
        break;
    case PhysicalAtRank:
        sql = "SELECT pos FROM records ORDER BY pos LIMIT 1 OFFSET ?1";
        break;
    case PhysicalFromMark:
        sql = "SELECT pos FROM records WHERE pos >= ?1 ORDER BY pos LIMIT 1 OFFSET ?2";
        break;
    case PhysicalCountFromMark:
        sql = "SELECT count(*) FROM records WHERE pos >= ?1 AND pos < ?2";
        break;
    case PhysicalCountBefore:
        sql = "SELECT count(*) FROM records WHERE pos < ?1";
        break;
    case PhysicalMarks:
        sql = "SELECT pos FROM records ORDER BY pos";
        break;
    case PhysicalQueries:
        return nullptr;
    }
    return q.prepare(db_, sql) == SQLITE_OK ? q.get() : nullptr;
}

bool StoreFile::changeCount(uint32_t& out) const
{
    uint8_t b[4];
    if (!file_.isOpen() || !file_.readAt(ChangeCounterOffset, b, sizeof b))
        return false;
    out = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    return true;
}

// What the cursor read ahead along `order` still shows the file, and follows the cursor's place
// there: this connection has not written since, and no commit has happened (during a bundle of
// its own no one else can commit). Reading the counter takes no lock: a commit raises it before
// it writes any other page, and reads always begin after the counter was taken, so an unchanged
// counter means nothing was committed since the records were read.
bool StoreFile::readAheadValid(const StoreCursor& c, int order, bool backward) const
{
    const ReadAhead& a = c.ahead;
    if (a.order != order || a.backward != backward || a.generation != generation_ || a.next == 0)
        return false;
    const int64_t at = order >= 0 ? c.keyPos : c.physical;
    if (a.entries[a.next - 1].pos != at || (order >= 0 && (c.keyIndex != order || c.wholeValue)))
        return false;
    if (inBundle_)
        return true;
    uint32_t now = 0;
    return changeCount(now) && now == a.changeCount;
}

// Reads ahead with `s` (bound, not yet stepped) and resets it: the shared lock it took is let go
// before the call returns.
int16_t StoreFile::readAhead(
    StoreCursor& c, sqlite3_stmt* s, int order, bool backward, bool continuing)
{
    ReadAhead& a = c.ahead;
    // A walk that used up what it read ahead reads more next time; a seek reads a few.
    const size_t records
        = continuing ? std::min(a.records * 2, ReadAhead::MostRecords) : ReadAhead::FirstRecords;
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
        const int64_t pos = sqlite3_column_int64(s, 0);
        ReadAhead::Entry e {pos, order >= 0 ? sqlite3_column_int64(s, 3) : pos,
            static_cast<uint32_t>(a.bytes.size()), static_cast<uint32_t>(n),
            static_cast<uint32_t>(a.bytes.size() + n), static_cast<uint32_t>(keyBytes)};
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
    a.backward = backward;
    a.generation = generation_;
    a.next = 0;
    return st::Success;
}

void StoreFile::makeCurrent(StoreCursor& c, int64_t pos, const uint8_t* data, size_t length)
{
    c.pos = c.physical = pos;
    c.record.assign(data, data + length);
    c.currentSince = generation_;
    c.hasCurrent = c.hasPhysical = true;
}

// Hands the cursor's next read-ahead record to the caller and moves the cursor there.
int16_t StoreFile::deliver(StoreCursor& c, ReadTarget& t, Moves moves, bool writeKey)
{
    ReadAhead& a = c.ahead;
    const ReadAhead::Entry& e = a.entries[a.next++];
    const uint8_t* data = a.bytes.data() + e.data;
    if (moves != Moves::Physical) {
        c.keyIndex = a.order;
        c.key.assign(a.bytes.data() + e.key, a.bytes.data() + e.key + e.keyLength);
        c.tie = e.tie;
        c.keyPos = e.pos;
        c.wholeValue = moves == Moves::KeyOnly;
        if (writeKey && t.keyValue)
            codecs_[size_t(a.order)].extractValue(data, e.dataLength, t.keyValue);
    } else {
        c.keyIndex = -1;
        c.wholeValue = false;
    }
    if (moves == Moves::KeyOnly) {
        c.hasCurrent = c.hasPhysical = false;
        t.length = 0;
        return st::Success;
    }
    makeCurrent(c, e.pos, data, e.dataLength);
    t.length = static_cast<uint16_t>(e.dataLength);
    std::memcpy(t.data, data, std::min<size_t>(e.dataLength, t.capacity));
    return e.dataLength > t.capacity ? st::DataBufferTooShort : st::Success;
}

int16_t StoreFile::seek(StoreCursor& c, sqlite3_stmt* s, int order, bool backward, ReadTarget& t,
    Moves moves, bool writeKey, bool continuing)
{
    if (!s)
        return st::IoError;
    if (int16_t failed = readAhead(c, s, order, backward, continuing))
        return failed;
    if (c.ahead.entries.empty())
        return st::EndOfFile;
    return deliver(c, t, moves, writeKey);
}

bool StoreFile::nextReadAhead(
    StoreCursor& c, int order, bool backward, ReadTarget& t, int16_t& status, bool& continuing)
{
    continuing = false;
    if (!readAheadValid(c, order, backward))
        return false;
    continuing = true;
    if (c.ahead.next < c.ahead.entries.size())
        status = deliver(
            c, t, order >= 0 ? (t.keyOnly ? Moves::KeyOnly : Moves::Logical) : Moves::Physical);
    else if (c.ahead.end)
        status = st::EndOfFile;
    else
        return false;
    return true;
}

// One entry on along the cursor's key. At either end: 9, and the position stays, so that a
// further call answers 9 again (or finds what was added since).
int16_t StoreFile::walkKey(StoreCursor& c, bool backward, ReadTarget& t)
{
    const int order = c.keyIndex;
    int16_t status;
    bool continuing = false;
    if (nextReadAhead(c, order, backward, t, status, continuing))
        return status;
    // After a Get Key the place stands for its whole value: on to the next value, or back to the
    // newest entry of the one before.
    const KeyQuery q
        = c.wholeValue ? (backward ? KeyLess : KeyGreater) : (backward ? KeyBefore : KeyAfter);
    sqlite3_stmt* s = keyQuery(order, q);
    if (!s)
        return st::IoError;
    sqlite3_bind_blob(s, 1, c.key.data(), static_cast<int>(c.key.size()), SQLITE_TRANSIENT);
    if (!c.wholeValue)
        sqlite3_bind_int64(s, 2, c.tie);
    return seek(
        c, s, order, backward, t, t.keyOnly ? Moves::KeyOnly : Moves::Logical, true, continuing);
}

int16_t StoreFile::walkPhysical(StoreCursor& c, bool backward, ReadTarget& t)
{
    int16_t status;
    bool continuing = false;
    if (nextReadAhead(c, -1, backward, t, status, continuing))
        return status;
    sqlite3_stmt* s = physicalQuery(backward ? PhysicalBefore : PhysicalAfter);
    if (!s)
        return st::IoError;
    sqlite3_bind_int64(s, 1, c.physical);
    return seek(c, s, -1, backward, t, Moves::Physical, true, continuing);
}

int16_t StoreFile::getFirst(Cursor& cursor, int keyIndex, ReadTarget& target)
{
    return seek(static_cast<StoreCursor&>(cursor), keyQuery(keyIndex, KeyFirst), keyIndex, false,
        target, target.keyOnly ? Moves::KeyOnly : Moves::Logical);
}

int16_t StoreFile::getLast(Cursor& cursor, int keyIndex, ReadTarget& target)
{
    return seek(static_cast<StoreCursor&>(cursor), keyQuery(keyIndex, KeyLast), keyIndex, true,
        target, target.keyOnly ? Moves::KeyOnly : Moves::Logical);
}

int16_t StoreFile::getNext(Cursor& cursor, ReadTarget& target)
{
    return walkKey(static_cast<StoreCursor&>(cursor), false, target);
}

int16_t StoreFile::getPrevious(Cursor& cursor, ReadTarget& target)
{
    return walkKey(static_cast<StoreCursor&>(cursor), true, target);
}

int16_t StoreFile::getByValue(
    Cursor& cursor, int keyIndex, Match match, const uint8_t* value, ReadTarget& target)
{
    auto& c = static_cast<StoreCursor&>(cursor);
    // Encoded before anything is read: the found value goes into the same key buffer.
    const bool stored = codecs_[size_t(keyIndex)].encodeValue(value, value_);
    KeyQuery q = KeyGreaterOrEqual;
    bool backward = false;
    switch (match) {
    case Match::Equal:
    case Match::GreaterOrEqual:
        break;
    case Match::Greater:
        q = KeyGreater;
        break;
    case Match::Less:
        q = KeyLess;
        backward = true;
        break;
    case Match::LessOrEqual:
        q = KeyLessOrEqual;
        backward = true;
        break;
    }
    sqlite3_stmt* s = keyQuery(keyIndex, q);
    if (!s)
        return st::IoError;
    sqlite3_bind_blob(s, 1, value_.data(), static_cast<int>(value_.size()), SQLITE_TRANSIENT);
    if (int16_t failed = readAhead(c, s, keyIndex, backward, false))
        return failed;
    const ReadAhead& a = c.ahead;
    if (match == Match::Equal) {
        const bool found = stored && !a.entries.empty() && a.entries[0].keyLength == value_.size()
            && std::memcmp(a.bytes.data() + a.entries[0].key, value_.data(), value_.size()) == 0;
        if (!found)
            return st::KeyNotFound;
    } else if (a.entries.empty()) {
        return st::EndOfFile;
    }
    // Get Equal leaves the key buffer as the caller gave it.
    return deliver(
        c, target, target.keyOnly ? Moves::KeyOnly : Moves::Logical, match != Match::Equal);
}

int16_t StoreFile::stepFirst(Cursor& cursor, ReadTarget& target)
{
    return seek(static_cast<StoreCursor&>(cursor), physicalQuery(PhysicalFirst), -1, false, target,
        Moves::Physical);
}

int16_t StoreFile::stepLast(Cursor& cursor, ReadTarget& target)
{
    return seek(static_cast<StoreCursor&>(cursor), physicalQuery(PhysicalLast), -1, true, target,
        Moves::Physical);
}

int16_t StoreFile::stepNext(Cursor& cursor, ReadTarget& target)
{
    return walkPhysical(static_cast<StoreCursor&>(cursor), false, target);
}

int16_t StoreFile::stepPrevious(Cursor& cursor, ReadTarget& target)
{
    return walkPhysical(static_cast<StoreCursor&>(cursor), true, target);
}

int16_t StoreFile::fetch(int64_t pos)
{
    sqlite3_stmt* s = byPosition_.get();
    sqlite3_bind_int64(s, 1, pos);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_ROW) {
        sqlite3_reset(s);
        if (rc == SQLITE_DONE)
            return st::InvalidRecordAddress;
        const int16_t failed = statusOf(rc, db_);
        return failed == st::Success ? st::IoError : failed;
    }
    Fetched& f = fetched_;
    const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(s, 0));
    const int n = sqlite3_column_bytes(s, 0);
    if (n > 0xffff || (n > 0 && !data)) {
        sqlite3_reset(s);
        return st::IoError;
    }
    f.data.assign(data, data + n);
    for (size_t i = 0; i < def_.keys.size(); ++i) {
        const int column = 1 + 2 * int(i);
        f.null[i] = sqlite3_column_type(s, column) == SQLITE_NULL;
        const auto* key = static_cast<const uint8_t*>(sqlite3_column_blob(s, column));
        const int keyBytes = sqlite3_column_bytes(s, column);
        if (keyBytes > 0 && !key) {
            sqlite3_reset(s);
            return st::IoError;
        }
        f.keys[i].assign(key, key + keyBytes);
        f.ties[i] = sqlite3_column_int64(s, column + 1);
    }
    sqlite3_reset(s);
    return st::Success;
}

int16_t StoreFile::placeFetched(StoreCursor& c, int64_t pos, int keyIndex, ReadTarget& t)
{
    const Fetched& f = fetched_;
    const bool inKey = keyIndex >= 0 && !f.null[size_t(keyIndex)];
    makeCurrent(c, pos, f.data.data(), f.data.size());
    c.wholeValue = false;
    if (inKey) {
        c.keyIndex = keyIndex;
        c.key = f.keys[size_t(keyIndex)];
        c.tie = f.ties[size_t(keyIndex)];
        c.keyPos = pos;
        if (t.keyValue)
            codecs_[size_t(keyIndex)].extractValue(f.data.data(), f.data.size(), t.keyValue);
    } else {
        c.keyIndex = -1;
    }
    t.length = static_cast<uint16_t>(f.data.size());
    std::memcpy(t.data, f.data.data(), std::min<size_t>(f.data.size(), t.capacity));
    if (keyIndex >= 0 && !inKey)
        return st::InvalidKeyPath;
    return f.data.size() > t.capacity ? st::DataBufferTooShort : st::Success;
}

int16_t StoreFile::getDirect(Cursor& cursor, uint32_t position, int keyIndex, ReadTarget& target)
{
    if (int16_t s = fetch(position))
        return s;
    return placeFetched(static_cast<StoreCursor&>(cursor), position, keyIndex, target);
}

void StoreFile::dropRanks()
{
    for (RankMarks& m : keyRanks_)
        m.drop();
    physicalRanks_.drop();
}

// The marks of `order`, walked again when another process has committed since they were taken.
int16_t StoreFile::ranks(int order, RankMarks*& out)
{
    RankMarks& m = order >= 0 ? keyRanks_[size_t(order)] : physicalRanks_;
    out = &m;
    uint32_t now = 0;
    const bool counted = changeCount(now);
    if (m.built() && !inBundle_ && (!counted || now != m.changeCount()))
        m.drop();
    if (m.built())
        return st::Success;
    sqlite3_stmt* s = order >= 0 ? keyQuery(order, KeyMarks) : physicalQuery(PhysicalMarks);
    if (!s)
        return st::IoError;
    // Taken before the walk: a commit that slips in between shows as a change next time.
    m.startBuild(inBundle_ ? bundleChangeCount_ : now);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        if (order >= 0) {
            const auto* key = static_cast<const uint8_t*>(sqlite3_column_blob(s, 0));
            const int keyBytes = sqlite3_column_bytes(s, 0);
            if (keyBytes > 0 && !key)
                break;
            m.addEntry(key, size_t(keyBytes), sqlite3_column_int64(s, 1));
        } else {
            m.addEntry(nullptr, 0, sqlite3_column_int64(s, 0));
        }
    }
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) {
        m.drop();
        const int16_t failed = statusOf(rc, db_);
        return failed == st::Success ? st::IoError : failed;
    }
    m.finishBuild();
    return st::Success;
}

int16_t StoreFile::count(sqlite3_stmt* s, uint64_t& out)
{
    const int rc = sqlite3_step(s);
    out = rc == SQLITE_ROW ? uint64_t(sqlite3_column_int64(s, 0)) : 0;
    sqlite3_reset(s);
    if (rc != SQLITE_ROW) {
        const int16_t failed = statusOf(rc, db_);
        return failed == st::Success ? st::IoError : failed;
    }
    return st::Success;
}

// The position of entry `rank` of `order`: from the last mark at or before it, a walk of at most
// a mark's spacing (and the entries added since).
int16_t StoreFile::entryAtRank(int order, RankMarks& marks, uint64_t rank, int64_t& pos)
{
    RankMarks::Place mark;
    uint64_t before = 0;
    sqlite3_stmt* s = nullptr;
    if (marks.markForRank(rank, mark, before)) {
        s = order >= 0 ? keyQuery(order, KeyFromMark) : physicalQuery(PhysicalFromMark);
        if (!s)
            return st::IoError;
        int at = 1;
        if (order >= 0)
            sqlite3_bind_blob(s, at++, mark.key, int(mark.keyLength), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, at++, mark.tie);
        sqlite3_bind_int64(s, at, int64_t(rank - before));
    } else {
        s = order >= 0 ? keyQuery(order, KeyAtRank) : physicalQuery(PhysicalAtRank);
        if (!s)
            return st::IoError;
        sqlite3_bind_int64(s, 1, int64_t(rank));
    }
    const int rc = sqlite3_step(s);
    pos = rc == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
    sqlite3_reset(s);
    if (rc == SQLITE_ROW)
        return st::Success;
    const int16_t failed = statusOf(rc, db_);
    return failed == st::Success ? st::IoError : failed; // the marks disagree with the file
}

int16_t StoreFile::getByPercentage(
    Cursor& cursor, int keyIndex, uint16_t percent, ReadTarget& target)
{
    RankMarks* marks = nullptr;
    if (int16_t s = ranks(keyIndex, marks))
        return s;
    const uint64_t n = marks->size();
    if (n == 0)
        return st::EndOfFile;
    int64_t pos = 0;
    if (int16_t s = entryAtRank(keyIndex, *marks, entryAtPercentage(percent, n), pos))
        return s;
    if (int16_t s = fetch(pos))
        return s == st::InvalidRecordAddress ? st::IoError : s;
    return placeFetched(static_cast<StoreCursor&>(cursor), pos, keyIndex, target);
}

int16_t StoreFile::findPercentage(
    int keyIndex, const uint8_t* value, uint32_t position, uint32_t& percent)
{
    RankMarks::Place place;
    if (keyIndex >= 0) {
        if (!codecs_[size_t(keyIndex)].encodeValue(value, value_))
            return st::KeyNotFound; // a null value has no entry
        bool found = false;
        if (int16_t s = probe(size_t(keyIndex), value_, 0, found))
            return s;
        if (!found)
            return st::KeyNotFound;
        // The first entry of the value: every entry of a smaller value comes before it.
        place = RankMarks::Place {value_.data(), value_.size(), INT64_MIN};
    } else {
        if (int16_t s = fetch(position))
            return s;
        place = RankMarks::Place {nullptr, 0, int64_t(position)};
    }
    RankMarks* marks = nullptr;
    if (int16_t s = ranks(keyIndex, marks))
        return s;
    RankMarks::Place mark;
    uint64_t before = 0;
    sqlite3_stmt* s = nullptr;
    if (marks->markAtOrBefore(place, mark, before)) {
        s = keyIndex >= 0 ? keyQuery(keyIndex, KeyCountFromMark)
                          : physicalQuery(PhysicalCountFromMark);
        if (!s)
            return st::IoError;
        int at = 1;
        if (keyIndex >= 0)
            sqlite3_bind_blob(s, at++, mark.key, int(mark.keyLength), SQLITE_TRANSIENT);
        sqlite3_bind_int64(s, at++, mark.tie);
        if (keyIndex >= 0)
            sqlite3_bind_blob(s, at, value_.data(), int(value_.size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_int64(s, at, int64_t(position));
    } else {
        before = 0;
        s = keyIndex >= 0 ? keyQuery(keyIndex, KeyCountBefore) : physicalQuery(PhysicalCountBefore);
        if (!s)
            return st::IoError;
        if (keyIndex >= 0)
            sqlite3_bind_blob(s, 1, value_.data(), int(value_.size()), SQLITE_TRANSIENT);
        else
            sqlite3_bind_int64(s, 1, int64_t(position));
    }
    uint64_t between = 0;
    if (int16_t failed = count(s, between))
        return failed;
    percent = percentageOfEntry(before + between, marks->size());
    return st::Success;
}

} // namespace recman::store
