// Synthetic legacy data files for the tests: lays out 5.x and 6.x files as the vendor's engine
// leaves them on disk, from a definition and a rule that gives record i. Never part of the product.
//
// 6.x files get both control records, every page allocation table pair the file needs (pair k at
// physical page 2 + (k - 1) * (N + 2) and the next), fixed and variable data pages, and on request
// freed slots, stale shadow copies and pages out of order. 5.x files get the control record, the
// collating sequence on page 1, data and variable pages and the chain of deleted records.
//
// Records are streamed: memory stays at a few pages (plus 5 bytes per logical page for the tables
// and one entry per distinct value of each key with linked duplicates), so files of a million
// records are written as easily as files of ten.
#pragma once

#include "Definition.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace legacytest {

// Versions as the reader reports them: 5.x in the high byte, 6.x as the control record's word.
constexpr uint16_t Version5 = 0x0400;
constexpr uint16_t Version60 = 0x0600;
constexpr uint16_t Version61 = 0x0610;

// Record `index` (0-based), whole: the fixed part, then for variable-length files the variable
// part. The rule must give the same bytes for the same index every time it is asked.
using RecordRule = std::function<void(uint32_t index, std::vector<uint8_t>& record)>;

// Which copy of a pair (the two control records, the two copies of each table) is the current one.
// Alternating puts the current control record on page 1 and the current copy of pair k on its
// second page for odd k and its first page for even k.
enum class CurrentCopy { First, Second, Alternating };

struct LegacyFileSpec
{
    uint16_t version = Version60; // Version5 (or 0x0300/0x0500), Version60, Version61
    // Page size, record length, file flags (variable length, blank truncation), keys with their
    // segments (1-based positions, flags as stored including Segmented on all but the last,
    // extended type, null value, the key's unique-value count in numKeyValues of its first
    // segment, acsNumber for Acs segments) and the collating sequences.
    recman::Definition definition;
    uint32_t records = 0;
    RecordRule rule;

    // Usage count of the current control record and of every current table copy; shadows carry
    // one less.
    uint32_t usageCount = 5;
    CurrentCopy current = CurrentCopy::Alternating;
    // Every n-th record slot (n >= 2) is left freed among the records: in 6.x a usage count of 0
    // over the bytes of a record that must not be read, in 5.x on the chain of deleted records.
    uint32_t freeSlotEvery = 0;
    // 6.x: every n-th data page and every n-th variable page also leaves a stale copy, with the
    // same page header and bytes that must not be read; the shadow tables point at every other
    // one of them, no table at the rest. The shadow control record then counts one record more.
    uint32_t staleEvery = 0;
    // 6.x: pages are placed out of logical order (blocks of 16 physical pages shuffled), so table
    // entries point backwards, forwards and past the next pair.
    bool scatter = false;
    // Most bytes of a variable part in one fragment (0: as many as the page holds), to make
    // chains of many fragments over several variable pages.
    uint32_t fragmentLimit = 0;
};

// Where the writer put everything, for checks and for damaging the file afterwards.
struct WrittenLayout
{
    uint16_t version = 0;
    uint32_t pageSize = 0;
    uint32_t entriesPerTable = 0; // N = (page size - 8) / 4 (6.x)
    uint32_t physicalPages = 0;   // pages in the file
    uint32_t physicalLength = 0;  // bytes per record slot
    uint32_t slotsPerPage = 0;
    uint32_t pairs = 0;                 // 6.x: page allocation table pairs
    uint32_t currentFcr = 0;            // 6.x: physical page of the current control record
    std::vector<uint32_t> currentTable; // 6.x: physical page of pair k's current copy, at k - 1
    std::vector<uint32_t> physicalOf;   // by logical page (5.x: page number), 0 where unused
    std::vector<uint8_t> typeOf;        // 'D', 'V' or 'A' by logical page, 0 where unused
    std::vector<uint32_t> stalePages;   // physical pages of stale copies
    uint32_t freedSlots = 0;
    uint32_t dataPages = 0;
    uint32_t variablePages = 0;

    // First physical page of pair k (1-based).
    uint32_t pairPage(uint32_t k) const { return 2 + (k - 1) * (entriesPerTable + 2); }
};

// Writes the file at `path` (replacing it). Throws std::invalid_argument for a specification the
// format cannot hold and std::runtime_error when the file cannot be written.
WrittenLayout writeLegacyFile(const std::filesystem::path& path, const LegacyFileSpec& spec);

// Damage to a written 6.x file, each of which a reader must answer with status 2. "The last pair"
// is pair `pairs`; entry damage changes the current copy's entry for the first data page that
// pair maps.
enum class Damage {
    PairMissing,         // both copies of the last pair zeroed
    WrongPairNumber,     // the current copy of the last pair says k + 1 in its header
    EntryToOtherType,    // that entry points at a page of another type
    EntryToOtherLogical, // that entry points at the data page of another logical page
    TableUsageDiffers,   // the current copy of the last pair counts one use more than the FCR
    PairCountHigh,       // the current control record counts one pair more than there are
    PairCountLow,        // ... one pair fewer
    HighestPageLow,      // ... gives the highest logical page + 1 as one less than the tables use
    RecordCountHigh,     // ... counts one record more than the tables hold
};
void damage(const std::filesystem::path& path, const WrittenLayout& layout, Damage what);

} // namespace legacytest
