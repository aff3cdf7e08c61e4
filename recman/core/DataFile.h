// One open data file of any kind (our own SQLite store or a file written by the vendor's engine),
// as the entry point sees it. Several handles may share one DataFile; each has its own Cursor.
//
// Every operation returns a record-manager status and never throws. Reads copy straight into the
// caller's buffers and obtain no memory.
#pragma once

#include "BtrCall.h"
#include "Definition.h"
#include "FileFacts.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace recman {

// Where a read puts what it found.
struct ReadTarget
{
    uint8_t* data = nullptr; // the record goes here, as much as fits
    uint16_t capacity = 0;   // bytes offered in `data`
    uint16_t length = 0;     // out: the record's full length (more than `capacity` means status 22)
    // Keyed reads write the key's value here when it is not null; the caller has made sure the
    // key buffer holds the key's value length.
    uint8_t* keyValue = nullptr;
    // A Get Key (+50): only the key's value comes back, `data` is not touched and `length` is 0;
    // only the logical position moves, and it stands for the whole group of equal values.
    bool keyOnly = false;
};

// How a Get given a key value finds its entry.
enum class Match {
    Equal,          // the first entry of that value
    Greater,        // the first entry after every entry of that value
    GreaterOrEqual, // the first entry at or after it
    Less,           // the last (newest) entry before every entry of that value
    LessOrEqual,    // the last entry at or before it
};

// Get By Percentage: the entry at `percent` hundredths of a percent of `n` entries (n > 0),
// floor(percent × (n − 1) / 10000).
inline uint64_t entryAtPercentage(uint16_t percent, uint64_t n)
{
    return uint64_t(percent) * (n - 1) / btr::WholePercentage;
}

// Find Percentage: where entry `rank` of `n` lies, round(rank × 10000 / (n − 1)) with halves
// rounded up, 0 when it is the only one.
inline uint32_t percentageOfEntry(uint64_t rank, uint64_t n)
{
    if (n <= 1)
        return 0;
    return uint32_t((2 * rank * btr::WholePercentage + (n - 1)) / (2 * (n - 1)));
}

// One handle's place in a file, in the record manager's three senses. The file kind derives from
// it to keep what it needs to move on (the entry's encoded key, a locator, records read ahead);
// the fields here are kept up to date by the file kind and read by the entry point to answer 7
// and 8.
class Cursor
{
public:
    virtual ~Cursor() = default;

    // Logical position: index in Definition::keys of the key the last keyed Get, Insert or Update
    // positioned on; -1 when there is none (never positioned, a Step moved, Get Direct on -1).
    // Get Next and Get Previous move from it.
    int keyIndex = -1;
    // Physical position: a record in physical order (possibly one deleted since) that Step Next
    // and Step Previous move from.
    bool hasPhysical = false;
    // Current record: what Update, Delete and Get Position act on.
    bool hasCurrent = false;
};

// Live figures for Stat, kept by the file rather than counted.
struct LiveFigures
{
    uint32_t records = 0;
    std::vector<uint32_t> keyValues; // distinct non-null values, one per Definition::keys entry
    uint16_t unusedPages = 0;
};

// What a file is beyond its definition, for the entry point's FileFacts operation: its format
// family and version, the features it uses (btr::facts bits), its owner name's access mode and the
// rule its data is decrypted by.
struct FormatFacts
{
    uint8_t family = btr::facts::OwnFormat;
    uint16_t version = 0;
    uint16_t features = 0;
    uint8_t ownerMode = btr::facts::NoOwner;
    uint8_t cipher = 0;
};

class DataFile
{
public:
    virtual ~DataFile() = default;

    virtual const Definition& definition() const = 0;
    // The file cannot be written by its nature (a legacy file): writes answer 41.
    virtual bool readOnly() const = 0;
    // Fills `out` without scanning the file.
    virtual int16_t liveFigures(LiveFigures& out) = 0;
    virtual FormatFacts formatFacts() const = 0;
    // The records are encrypted under an owner name: only a handle opened with one reads them
    // (Open and Stat need none).
    virtual bool ownerNameRequired() const { return false; }

    // A fresh cursor for a new handle (no position).
    virtual std::unique_ptr<Cursor> newCursor() = 0;

    // Adds `record` (`length` bytes, already checked against the record length rules). Values the
    // record manager assigns (autoincrement) are written back into `record`. The new record
    // becomes the current record and the physical position; with keyIndex >= 0 it also becomes
    // the logical position on that key (none when its value there is null) and the key's value is
    // written to `keyValue`; with keyIndex < 0 the logical position stays as it was.
    virtual int16_t insert(
        Cursor& cursor, uint8_t* record, uint16_t length, int keyIndex, uint8_t* keyValue)
        = 0;

    // Key order: records whose key is null are absent, duplicates come in insertion order (an
    // entry whose value an Update changed comes last among its new equals). Every read sets the
    // logical position on its key, the physical position and the current record (a Get Key only
    // the logical position). Status 9 at either end and 4 for a value not found, moving nothing;
    // 22 when the record is longer than the target (as much as fits copied, positions set all
    // the same).
    virtual int16_t getFirst(Cursor& cursor, int keyIndex, ReadTarget& target) = 0;
    virtual int16_t getLast(Cursor& cursor, int keyIndex, ReadTarget& target) = 0;
    // Called only when cursor.keyIndex >= 0; moves one entry along that key.
    virtual int16_t getNext(Cursor& cursor, ReadTarget& target) = 0;
    virtual int16_t getPrevious(Cursor& cursor, ReadTarget& target) = 0;
    // `value`: a whole value of keys[keyIndex] as the key buffer holds it (valueLength bytes).
    virtual int16_t getByValue(
        Cursor& cursor, int keyIndex, Match match, const uint8_t* value, ReadTarget& target)
        = 0;

    // Physical order. They set the physical position and the current record, and clear the
    // logical position. Step Next and Step Previous without a physical position answer 8.
    virtual int16_t stepFirst(Cursor& cursor, ReadTarget& target) = 0;
    virtual int16_t stepLast(Cursor& cursor, ReadTarget& target) = 0;
    virtual int16_t stepNext(Cursor& cursor, ReadTarget& target) = 0;
    virtual int16_t stepPrevious(Cursor& cursor, ReadTarget& target) = 0;

    // The record at `position` (as Get Position gives it): 43 when no live record is there,
    // nothing moved. It becomes the current record and the physical position; with keyIndex >= 0
    // the logical position is on that key at this very entry (44 and none when its value there is
    // null: the record is returned, the key value not written); with -1 there is none.
    virtual int16_t getDirect(Cursor& cursor, uint32_t position, int keyIndex, ReadTarget& target)
        = 0;

    // Entry floor(percent × (n − 1) / 10000) of the n entries of keys[keyIndex], or of the n live
    // records in physical order for keyIndex -1, positioned as Get First / Step First would be
    // there. 9 when n is 0.
    virtual int16_t getByPercentage(
        Cursor& cursor, int keyIndex, uint16_t percent, ReadTarget& target)
        = 0;
    // Where an entry lies, as round(rank × 10000 / (n − 1)) (0 when n is 1): for keyIndex >= 0
    // the first entry of `value` (4 when there is none), for -1 the record at `position` (43 when
    // no live record is there). Moves nothing.
    virtual int16_t findPercentage(
        int keyIndex, const uint8_t* value, uint32_t position, uint32_t& percent)
        = 0;

    // Replaces the current record by `record` (`length` bytes, checked against the record length
    // rules by the caller). 8 without a current record, 80 when it was changed or deleted since
    // this cursor read it, 10 when a key that may not change would, 5 when a key without
    // duplicates would repeat a value; nothing is written then. The physical position stays;
    // with keyIndex >= 0 the logical position follows the record on that key and its new value is
    // written to `keyValue`; with -1 the logical position stays where it was.
    virtual int16_t update(
        Cursor& cursor, const uint8_t* record, uint16_t length, int keyIndex, uint8_t* keyValue)
    {
        (void)cursor, (void)record, (void)length, (void)keyIndex, (void)keyValue;
        return btr::status::OperationNotAllowed;
    }
    // Removes the current record (8 without one, 80 as for update). The current record is
    // cleared; Get Next / Get Previous on keyIndex (when it is >= 0; the logical position stays
    // for -1) and Step Next / Step Previous go on from the deleted record's place.
    virtual int16_t remove(Cursor& cursor, int keyIndex)
    {
        (void)cursor, (void)keyIndex;
        return btr::status::OperationNotAllowed;
    }

    // The current record's position (8 without a current record).
    virtual int16_t getPosition(const Cursor& cursor, uint32_t& position) = 0;

    // The salvage report (btr::salvage's layout) of a file opened for salvage; 41 for any other.
    virtual int16_t salvageReport(std::vector<uint8_t>& out)
    {
        (void)out;
        return btr::status::OperationNotAllowed;
    }

    // A handle is going away: its cursor is destroyed right after this call.
    virtual void releaseCursor(Cursor& cursor) { (void)cursor; }

    // Pending writes: made durable at Close of any handle on the file, and on the first call after
    // `commitIfDue` finds them old enough. Files that never write keep the defaults.
    virtual bool writesPending() const { return false; }
    virtual int16_t commit() { return 0; }
    virtual int16_t commitIfDue(std::chrono::steady_clock::time_point now)
    {
        (void)now;
        return 0;
    }

    // Transactions. The writes of transaction `owner` (never 0) go into a savepoint of their own,
    // opened by `joinTransaction` before its first write here; while it is open no commit
    // happens, and a write of anyone else answers 85. `endTransaction` keeps (commit true) or
    // undoes them. Files that never write have nothing to join.
    virtual uint64_t transactionOwner() const { return 0; }
    virtual int16_t joinTransaction(uint64_t owner)
    {
        (void)owner;
        return btr::status::OperationNotAllowed;
    }
    virtual int16_t endTransaction(bool commit)
    {
        (void)commit;
        return 0;
    }
};

} // namespace recman
