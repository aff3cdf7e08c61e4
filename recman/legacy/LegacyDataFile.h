// Files written by the vendor's engine, as the entry point sees them: how to tell one and open
// it, and the open data file itself (read-only, stepped in page order and walked in key order
// through orders sorted on first use).
#pragma once

#include "DataFile.h"
#include "KeyCodec.h"
#include "KeyOrder.h"
#include "LegacyFile.h"

#include <memory>
#include <string>
#include <vector>

namespace recman {

// Opens a file that is not one of our own stores: a file written by the vendor's engine, read in
// place. Returns null with `status` 30 when the file is not a readable legacy file (or 2 when it
// is one but damaged).
std::unique_ptr<DataFile> openLegacyFile(const std::string& path, int16_t& status);

// Opens a file written by the vendor's engine for salvage (btr::mode::Salvage): every record that
// can be read, in physical order, read-only. `given`, when not null, is the definition to read it
// with when its control records have lost theirs. Null with `status` 2 when nothing can be read.
std::unique_ptr<DataFile> openLegacySalvage(
    const std::string& path, bool wholeOnly, const Definition* given, int16_t& status);

// The file carries a control record of the vendor's engine (of any version, read here or not):
// such a file is never replaced by Create.
bool isLegacyFile(const std::string& path);

} // namespace recman

namespace recman::legacy {

// A handle's positions in a legacy file (LegacyDataFile.cpp).
class LegacyCursor;

class LegacyDataFile : public DataFile
{
public:
    explicit LegacyDataFile(std::unique_ptr<LegacyFile> file);

    const Definition& definition() const override { return file_->definition(); }
    bool readOnly() const override { return true; }
    int16_t liveFigures(LiveFigures& out) override;
    FormatFacts formatFacts() const override;
    bool ownerNameRequired() const override { return file_->ownerNameRequired(); }
    std::unique_ptr<Cursor> newCursor() override;
    int16_t insert(
        Cursor& cursor, uint8_t* record, uint16_t length, int keyIndex, uint8_t* keyValue) override;
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
    int16_t getPosition(const Cursor& cursor, uint32_t& position) override;
    int16_t salvageReport(std::vector<uint8_t>& out) override;

private:
    int16_t deliver(Locator loc, int keyIndex, ReadTarget& target);
    // Moves `cursor` to entry `ordinal` of key `keyIndex` and hands its record (or, for a Get
    // Key, its value) to `target`; the key buffer gets the value when `writeKey`.
    int16_t deliverEntry(LegacyCursor& cursor, int keyIndex, const KeyOrder& order, size_t ordinal,
        ReadTarget& target, bool writeKey = true);
    // Moves `cursor` to the record at `loc` in physical order and hands it to `target`.
    int16_t deliverRecord(LegacyCursor& cursor, Locator loc, ReadTarget& target);
    // Physical order as Step gives it: in salvage, records that are not given (whole-only: whose
    // variable part cannot be read whole; compressed: whose stream does not decode) are passed
    // over.
    int16_t firstRecord(Locator& loc);
    int16_t lastRecord(Locator& loc);
    int16_t nextRecord(Locator& loc);
    int16_t previousRecord(Locator& loc);
    int16_t skipIncomplete(int16_t s, Locator& loc, bool backward);
    // The record at `position` as Step would give it: 43 when Step never does.
    int16_t liveRecordAt(uint32_t position, Locator& loc);
    // The order of a key, or 41 in salvage (a damaged file's indexes are not trusted).
    const KeyOrder* orderOf(int keyIndex, int16_t& status);

    // Ranks in physical order for the percentage operations, counted once on first use (the
    // file never changes): every `every`-th record's locator, and how many records Step gives.
    struct PhysicalRanks
    {
        bool counted = false;
        uint64_t records = 0;
        uint64_t every = 0;
        std::vector<Locator> marks;
    };
    int16_t countPhysical();
    int16_t recordAtRank(uint64_t rank, Locator& loc);

    std::unique_ptr<LegacyFile> file_;
    std::vector<std::unique_ptr<KeyCodec>> codecs_; // one per key, for the key buffer's value
    std::vector<uint8_t> record_;  // the record being delivered, reused from call to call
    std::vector<uint8_t> encoded_; // a key value being searched for
    PhysicalRanks physical_;
};

} // namespace recman::legacy
