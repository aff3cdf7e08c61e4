// An open store: the data file the entry point reads and writes, and the cursor each handle
// keeps on it. Reads run SQLite statements along a key's index (or in rowid order for Step), in
// either direction (StoreReads.cpp); writes are bundled into one transaction, and a client's
// transaction is a savepoint inside it (Bundle.cpp).
//
// No handle holds a lock between calls: a statement left stepping would hold SQLite's shared
// lock and stop every other process's commit. So each read statement is reset before the call
// returns, and a cursor reads ahead: it keeps the next records of its walk, and serves them
// while nothing can have changed (this connection has not written, and SQLite's change counter,
// which every commit raises, is as it was); otherwise it seeks again from its position.
#pragma once

#include "DataFile.h"
#include "KeyCodec.h"
#include "Posix.h"
#include "Ranks.h"
#include "Schema.h"
#include "Sqlite.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
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
        int64_t tie;               // the entry's place among equal keys (the position physically)
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
    bool backward = false;
    std::vector<Entry> entries;
    std::vector<uint8_t> bytes;
    size_t next = 0;          // the entry the next move along the walk delivers
    bool end = false;         // no records follow the last entry
    uint64_t generation = 0;  // the file's write generation when they were read
    uint32_t changeCount = 0; // SQLite's change counter when they were read
    size_t records = FirstRecords;
};

// A handle's positions. An entry of a key's order is its encoded key and its tie (the record's
// position, or for a key with duplicates the sequence number that keeps equal keys in the order
// they took that value), so that a walk resumes from it by seeking, whatever happened since.
class StoreCursor final : public Cursor
{
public:
    // Logical position on keyIndex; after a Get Key it stands for every entry of its key value.
    std::vector<uint8_t> key;
    int64_t tie = 0;
    int64_t keyPos = 0;
    bool wholeValue = false;
    // Physical position: a record's position, possibly one deleted since.
    int64_t physical = 0;
    // Current record: its position, and its bytes as this cursor last read or wrote them there,
    // by which Update and Delete find out whether someone else has changed it since (80).
    int64_t pos = 0;
    std::vector<uint8_t> record;
    uint64_t currentSince = 0; // the file's write generation when it became current
    ReadAhead ahead;
};

// Encoded values known to be present in one key with duplicates, so that most Inserts learn
// without asking SQLite whether they add a distinct value. Exact within a bundle: no other process
// writes while it is open, and a Delete or Update that removes a key's last record of a value
// forgets all of that key's values. A new bundle starts with none (another process may have
// deleted some meanwhile). Bounded: when full, it starts over.
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
    StoreFile(sqlite3* db, Definition definition, int formatVersion, bool writable,
        const posix::OpenFileLock& file);
    ~StoreFile() override;

    int16_t init();

    const Definition& definition() const override { return def_; }
    bool readOnly() const override { return false; }
    int16_t liveFigures(LiveFigures& out) override;
    FormatFacts formatFacts() const override
    {
        FormatFacts f;
        f.version = FormatVersion;
        f.features = def_.variableLength() ? btr::facts::VariableLength : 0;
        return f;
    }

    std::unique_ptr<Cursor> newCursor() override;
    void releaseCursor(Cursor& cursor) override;

    int16_t insert(
        Cursor& cursor, uint8_t* record, uint16_t length, int keyIndex, uint8_t* keyValue) override;
    int16_t update(Cursor& cursor, const uint8_t* record, uint16_t length, int keyIndex,
        uint8_t* keyValue) override;
    int16_t remove(Cursor& cursor, int keyIndex) override;

    int16_t getFirst(Cursor& cursor, int keyIndex, ReadTarget& target) override;
    int16_t getLast(Cursor& cursor, int keyIndex, ReadTarget& target) override;
    int16_t getNext(Cursor& cursor, ReadTarget& target) override;
    int16_t getPrevious(Cursor& cursor, ReadTarget& target) override;
    int16_t getByValue(Cursor& cursor, int keyIndex, Match match, const uint8_t* value,
        ReadTarget& target) override;
    int16_t stepFirst(Cursor& cursor, ReadTarget& target) override;
    int16_t stepLast(Cursor& cursor, ReadTarget& target) override;
    int16_t stepNext(Cursor& cursor, ReadTarget& target) override;
    int16_t stepPrevious(Cursor& cursor, ReadTarget& target) override;
    int16_t getDirect(Cursor& cursor, uint32_t position, int keyIndex, ReadTarget& target) override;
    int16_t getByPercentage(
        Cursor& cursor, int keyIndex, uint16_t percent, ReadTarget& target) override;
    int16_t findPercentage(
        int keyIndex, const uint8_t* value, uint32_t position, uint32_t& percent) override;

    int16_t getPosition(const Cursor& cursor, uint32_t& position) override
    {
        if (!cursor.hasCurrent)
            return st::InvalidPositioning;
        position = static_cast<uint32_t>(static_cast<const StoreCursor&>(cursor).pos);
        return st::Success;
    }

    bool writesPending() const override { return inBundle_; }
    int16_t commit() override;
    int16_t commitIfDue(std::chrono::steady_clock::time_point now) override;

    uint64_t transactionOwner() const override { return transaction_.owner; }
    int16_t joinTransaction(uint64_t owner) override;
    int16_t endTransaction(bool commit) override;

private:
    // What a read moves: all three positions (a Get), only the logical one (a Get Key), or the
    // physical position and the current record (a Step).
    enum class Moves { Logical, KeyOnly, Physical };

    // Queries along a key's order and in physical order, prepared on first use.
    enum KeyQuery {
        KeyFirst,
        KeyLast,
        KeyGreaterOrEqual,
        KeyGreater,
        KeyLessOrEqual,
        KeyLess,
        KeyAfter,  // after an entry
        KeyBefore, // before an entry
        KeyAtRank,
        KeyFromMark,      // the entry so many after a place
        KeyCountFromMark, // entries from a place to a value
        KeyCountBefore,   // entries before a value
        KeyMarks,         // every entry's place, for the ranks
        KeyQueries
    };
    enum PhysicalQuery {
        PhysicalFirst,
        PhysicalLast,
        PhysicalAfter,
        PhysicalBefore,
        PhysicalAtRank,
        PhysicalFromMark,
        PhysicalCountFromMark,
        PhysicalCountBefore,
        PhysicalMarks,
        PhysicalQueries
    };
    sqlite3_stmt* keyQuery(int keyIndex, KeyQuery query);
    sqlite3_stmt* physicalQuery(PhysicalQuery query);
    // The column that orders key `keyIndex`'s equal values.
    std::string tieColumn(size_t keyIndex) const;
    bool hasSequence(size_t keyIndex) const;

    // Bundles and transactions (Bundle.cpp).
    int16_t beginBundle();
    void abandonBundle(int16_t why);
    int16_t loadCounters();
    // Before a write: the bundle is open, and nothing stands in the way.
    int16_t startWrite();
    // After a write: the bundle commits once it holds enough of them.
    void finishWrite();

    // Reads (StoreReads.cpp).
    bool changeCount(uint32_t& out) const;
    bool readAheadValid(const StoreCursor& c, int order, bool backward) const;
    // `continuing`: the walk used up what it read ahead last time.
    int16_t readAhead(StoreCursor& c, sqlite3_stmt* s, int order, bool backward, bool continuing);
    int16_t deliver(StoreCursor& c, ReadTarget& t, Moves moves, bool writeKey = true);
    // The first record `s` (bound) finds along `order`, delivered: 9 and nothing moved when none.
    int16_t seek(StoreCursor& c, sqlite3_stmt* s, int order, bool backward, ReadTarget& t,
        Moves moves, bool writeKey = true, bool continuing = false);
    // The next record of a walk from what was read ahead, while that still holds: true when it
    // answered (`status` set). False with `continuing` when it holds but is used up.
    bool nextReadAhead(
        StoreCursor& c, int order, bool backward, ReadTarget& t, int16_t& status, bool& continuing);
    int16_t walkKey(StoreCursor& c, bool backward, ReadTarget& t);
    int16_t walkPhysical(StoreCursor& c, bool backward, ReadTarget& t);
    // The row at `pos` into fetched_: 0, 43 when there is none, or an SQLite failure.
    int16_t fetch(int64_t pos);
    // Makes the fetched record current, as Get Direct (keyIndex >= 0: on that key; 44 when its
    // value there is null) or a Step does.
    int16_t placeFetched(StoreCursor& c, int64_t pos, int keyIndex, ReadTarget& t);
    void makeCurrent(StoreCursor& c, int64_t pos, const uint8_t* data, size_t length);

    // Ranks (StoreReads.cpp).
    int16_t ranks(int order, RankMarks*& out);
    int16_t entryAtRank(int order, RankMarks& marks, uint64_t rank, int64_t& pos);
    int16_t count(sqlite3_stmt* s, uint64_t& out);
    void dropRanks();

    // Writes (StoreFile.cpp).
    int16_t probe(size_t keyIndex, const std::vector<uint8_t>& value, int64_t except, bool& found);
    int16_t recomputeHighest(size_t keyIndex);
    // The current record as this cursor saw it is still what the file holds: 0, or 80.
    int16_t unchangedSince(const StoreCursor& c);

    sqlite3* db_;
    Definition def_;
    int version_;
    bool writable_;
    const posix::OpenFileLock& file_;
    std::vector<KeyCodec> codecs_;
    bool hasAutoincrement_ = false;
    std::vector<int> tieParameter_; // per key, the INSERT/UPDATE parameter of its sequence, or 0

    // Counters as of the open bundle (or the last load); written back before each commit.
    uint32_t records_ = 0;
    std::vector<uint32_t> values_;
    std::vector<int64_t> highest_; // autoincrement keys: highest value present
    int64_t lastPosition_ = 0;     // the highest position or sequence number ever given

    bool inBundle_ = false;
    int bundleOps_ = 0;
    std::chrono::steady_clock::time_point bundleStart_;
    uint32_t bundleChangeCount_ = 0; // SQLite's change counter when the bundle began
    int16_t deferred_ = st::Success;
    // Changes on every write, commit and rollback: what cursors read ahead is then dropped.
    uint64_t generation_ = 1;

    // The open transaction: its savepoint in the bundle, and the counters at its start.
    struct Transaction
    {
        uint64_t owner = 0;
        int16_t failed = st::Success; // the bundle holding it was lost: End answers this
        uint64_t generation = 0;
        uint32_t records = 0;
        std::vector<uint32_t> values;
        std::vector<int64_t> highest;
        int64_t lastPosition = 0;
    } transaction_;

    Statement insert_, update_, delete_, byPosition_, saveCounter_, loadCounters_, freePages_,
        lastPositionQuery_;
    std::vector<Statement> probe_;        // per key: is this value held by a record other than ?2
    std::vector<Statement> highestQuery_; // autoincrement keys: the records at both ends
    std::vector<std::array<Statement, KeyQueries>> keyQueries_;
    std::array<Statement, PhysicalQueries> physicalQueries_;
    std::vector<KnownValues> known_;
    std::vector<StoreCursor*> cursors_;
    std::vector<RankMarks> keyRanks_;
    RankMarks physicalRanks_;

    // The row fetch() read.
    struct Fetched
    {
        std::vector<uint8_t> data;
        std::vector<std::vector<uint8_t>> keys; // encoded, per key
        std::vector<char> null;                 // per key
        std::vector<int64_t> ties;              // per key
    } fetched_;

    // Reused on every write so that writing obtains no memory; the record is copied only where an
    // autoincrement value may have to be filled in.
    std::vector<uint8_t> record_;
    std::vector<std::vector<uint8_t>> encoded_;
    std::vector<char> keyNull_;
    std::vector<uint8_t> value_; // a key value being searched for, encoded
};

// Brings a store of an earlier format version to the current one, in one transaction (`version`
// follows); the caller has the file to itself.
int16_t upgradeStore(sqlite3* db, const Definition& def, int& version);

} // namespace recman::store
