// Files written by the vendor's engine, as the entry point sees them: how to tell one and open
// it, and the open data file itself (read-only, stepped in page order and walked in key order
// through orders sorted on first use).
#pragma once

#include "DataFile.h"
#include "KeyCodec.h"
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
    int16_t getNext(Cursor& cursor, ReadTarget& target) override;
    int16_t stepFirst(Cursor& cursor, ReadTarget& target) override;
    int16_t stepNext(Cursor& cursor, ReadTarget& target) override;
    int16_t getPosition(const Cursor& cursor, uint32_t& position) override;
    int16_t salvageReport(std::vector<uint8_t>& out) override;

private:
    int16_t deliver(Locator loc, int keyIndex, ReadTarget& target);
    // Salvage: from `loc` on to the first record that is given (whole-only: whose variable part
    // reads whole; compressed: whose stream decodes).
    int16_t skipIncomplete(int16_t s, Locator& loc);

    std::unique_ptr<LegacyFile> file_;
    std::vector<std::unique_ptr<KeyCodec>> codecs_; // one per key, for the key buffer's value
    std::vector<uint8_t> record_; // the record being delivered, reused from call to call
};

} // namespace recman::legacy
