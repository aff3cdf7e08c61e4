// One open data file of any kind (our own SQLite store or a file written by the vendor's engine),
// as the entry point sees it. Several handles may share one DataFile; each has its own Cursor.
//
// Every operation returns a record-manager status and never throws. Reads copy straight into the
// caller's buffers and obtain no memory.
#pragma once

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
};

// One handle's place in a file. The file kind derives from it to keep what it needs to move on
// (the current record's locator, its encoded key, a running statement, ...). The two fields here
// are kept up to date by the file kind and read by the entry point to answer 7 and 8.
class Cursor
{
public:
    virtual ~Cursor() = default;

    // Index in Definition::keys of the key the last Get First / Get Next / Insert positioned on;
    // -1 when there is no key position (never positioned, Get First found nothing, Step moved).
    int keyIndex = -1;
    // A current record exists (for Get Position and Step Next).
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
    // record manager assigns (autoincrement) are written back into `record`. With keyIndex >= 0
    // the cursor is positioned on that key at the new record and the key's value is written to
    // `keyValue`; with keyIndex < 0 the cursor does not move.
    virtual int16_t insert(
        Cursor& cursor, uint8_t* record, uint16_t length, int keyIndex, uint8_t* keyValue)
        = 0;

    // Key order: records whose key is null are absent, duplicates come in insertion order.
    // Status 9 at the end; 22 when the record is longer than the target (as much as fits copied,
    // position moved all the same).
    virtual int16_t getFirst(Cursor& cursor, int keyIndex, ReadTarget& target) = 0;
    // Called only when cursor.keyIndex >= 0; moves on along that key.
    virtual int16_t getNext(Cursor& cursor, ReadTarget& target) = 0;

    // Physical order. Step Next without a current record answers 8.
    virtual int16_t stepFirst(Cursor& cursor, ReadTarget& target) = 0;
    virtual int16_t stepNext(Cursor& cursor, ReadTarget& target) = 0;

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
};

} // namespace recman
