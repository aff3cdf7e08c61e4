// Synthetic legacy data files for the tests: lays out files as the vendor's engine leaves them on
// disk, from a definition and a rule that gives record i. Never part of the product.
//
// Every family the reader reads: 5.x (the control record, the collating sequence on page 1, data
// and variable pages, the chain of deleted records), 6.x (both control records, every page
// allocation table pair the file needs, fixed and variable data pages), and the newer format of
// 8.x, 9.0 and 9.5 in both sub-layouts (control records and tables that span several pages at small
// page sizes, system data, variable-tail allocation tables). Any of them compressed (each record a
// stream of literal and run blocks in the variable pages), with an owner name, and 5.x and 6.x
// files encrypted under it by either rule. On request freed slots, stale shadow copies, pages out
// of order, fragments split anywhere and unused fragment-table entries.
//
// Records are streamed: memory stays at a few pages (plus 5 bytes per logical page for the tables
// and one entry per distinct value of each key with linked duplicates), so files of a million
// records are written as easily as files of ten.
#pragma once

#include "Definition.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace legacytest {

// Versions as the reader reports them: 5.x in the high byte, later versions as the control
// record's word.
constexpr uint16_t Version5 = 0x0400;
constexpr uint16_t Version60 = 0x0600;
constexpr uint16_t Version61 = 0x0610;
constexpr uint16_t Version80 = 0x0800;
constexpr uint16_t Version90 = 0x0900;
constexpr uint16_t Version95 = 0x0950;

// Record `index` (0-based), whole: the fixed part, then for variable-length files the variable
// part. The rule must give the same bytes for the same index every time it is asked.
using RecordRule = std::function<void(uint32_t index, std::vector<uint8_t>& record)>;

// Which copy of a pair (the two control records, the two copies of each table) is the current one.
// Alternating puts the current control record on page 1 and the current copy of pair k on its
// second page for odd k and its first page for even k.
enum class CurrentCopy { First, Second, Alternating };

// An owner name as the control record keeps it: the version negated, the 9-byte block (the name
// in the engine's encoded form; its first 8 bytes are the key to encrypted data) and the access
// mode (0-3). Modes 2 and 3 encrypt every page after the control records of 5.x and 6.x files by
// `rule` (1 or 2); the newer format's files keep their pages plain whatever the mode says.
struct OwnerSpec
{
    bool set = false;
    uint8_t mode = 0;
    std::array<uint8_t, 9> block {0x3A, 0x91, 0x5C, 0xE7, 0x08, 0x6D, 0xB2, 0x44, 0x00};
    int rule = 1;
};

struct LegacyFileSpec
{
    // Version5 (or 0x0300/0x0500), Version60, Version61, Version80, Version90, Version95.
    uint16_t version = Version60;
    // Page size, record length (of a compressed file: the logical length), file flags (variable
    // length, blank truncation, compressed), keys with their segments (1-based positions, flags as
    // stored including Segmented on all but the last, extended type, null value, the key's
    // unique-value count in numKeyValues of its first segment, acsNumber for Acs segments) and the
    // collating sequences.
    recman::Definition definition;
    uint32_t records = 0;
    RecordRule rule;

    // Usage count of the current control record and of every current table copy; shadows carry
    // one less.
    uint32_t usageCount = 5;
    CurrentCopy current = CurrentCopy::Alternating;
    // Every n-th record slot (n >= 2) is left freed among the records: a free slot whose bytes
    // must not be read, on the chain of deleted records where the family keeps one.
    uint32_t freeSlotEvery = 0;
    // 6.x and newer: every n-th data page and every n-th variable page also leaves a stale copy,
    // with the same page header and bytes that must not be read; the shadow tables point at every
    // other one of them, no table at the rest. The shadow control record then counts one record
    // more.
    uint32_t staleEvery = 0;
    // 6.x and newer: pages are placed out of logical order (blocks of 16 physical pages
    // shuffled), so table entries point backwards, forwards and past the next pair.
    bool scatter = false;
    // Most bytes of a variable part (or compressed stream) in one fragment (0: as many as the page
    // holds), to make chains of many fragments over several variable pages, broken anywhere.
    uint32_t fragmentLimit = 0;
    // Every n-th fragment-table entry is left unused (0xFFFF), naming no fragment.
    uint32_t unusedFragmentEvery = 0;
    // Newer format: 8 bytes of system data in every slot (file flag 0x0200).
    bool systemData = false;
    // Newer format, variable-length: variable-tail allocation tables (file flag 0x0800): the
    // variable part in chains of at most `tailBlock` bytes, listed by a chain of their own.
    bool variableTail = false;
    uint32_t tailBlock = 300;
    OwnerSpec owner;
};

// Where the writer put everything, for checks and for damaging the file afterwards.
struct WrittenLayout
{
    uint16_t version = 0;
    uint32_t pageSize = 0;
    uint32_t unit = 1;            // pages per control record or table (newer format: several)
    uint32_t entriesPerTable = 0; // N (6.x and newer)
    uint32_t firstPair = 2;       // physical page of pair 1's first copy
    uint32_t physicalPages = 0;   // pages in the file
    uint32_t physicalLength = 0;  // bytes per record slot
    uint32_t slotsPerPage = 0;
    uint32_t pairs = 0;                 // 6.x and newer: page allocation table pairs
    uint32_t currentFcr = 0;            // physical page of the current control record
    std::vector<uint32_t> currentTable; // physical page of pair k's current copy, at k - 1
    std::vector<uint32_t> physicalOf;   // by logical page (5.x: page number), 0 where unused
    std::vector<uint8_t> typeOf;        // 'D', 'V' or 'A' by logical page, 0 where unused
    std::vector<uint32_t> stalePages;   // physical pages of stale copies
    uint32_t freedSlots = 0;
    uint32_t dataPages = 0;
    uint32_t variablePages = 0;
    uint64_t plainBytes = 0; // encrypted files: the bytes left plain (the control records)

    // First physical page of pair k (1-based); the second copy lies `unit` pages after it.
    uint32_t pairPage(uint32_t k) const
    {
        return firstPair + (k - 1) * (entriesPerTable + 2 * unit);
    }
    // Pages the control records take from page 0 on (5.x one, 6.x two, newer 2 * unit).
    uint32_t controlPages() const { return version < 0x0600 ? 1 : 2 * unit; }
};

// Writes the file at `path` (replacing it). Throws std::invalid_argument for a specification the
// format cannot hold and std::runtime_error when the file cannot be written.
WrittenLayout writeLegacyFile(const std::filesystem::path& path, const LegacyFileSpec& spec);

// Compresses a record into the stream compressed files keep: literal and run blocks in turn,
// beginning with a literal one, runs of at least 5 equal bytes.
std::vector<uint8_t> compressRecord(const std::vector<uint8_t>& record);

// Damage to a written file with tables (6.x and newer), each of which a reader must answer with
// status 2. "The last pair" is pair `pairs`; entry damage changes the current copy's entry for the
// first data page that pair maps.
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

// Exchanges the physical places of two logical pages of a file with tables (their bytes, and the
// entries of both copies of every table), as a file whose engine reused freed pages has them;
// `layout` follows.
void swapPages(
    const std::filesystem::path& path, WrittenLayout& layout, uint32_t logicalA, uint32_t logicalB);

} // namespace legacytest
