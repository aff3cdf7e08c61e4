// The newer on-disk format, versions 8.x, 9.0 and 9.5 (engines up to 13.x write 9.5): every offset,
// size and bit the reader looks at, by name. Everything is little-endian; offsets are in the page
// (or in the structure, for control records and allocation tables, which span several pages at
// small page sizes) unless said otherwise.
//
// Two sub-layouts share everything but a few sizes: "v8" (8.x and 9.0) and "9.5".
#pragma once

#include "LittleEndian.h"

#include <cstdint>

namespace recman::legacy::format::v8 {

// Versions as the control record's word at 0x4A gives them (negated when an owner name is set).
constexpr uint16_t MinVersion = 0x0800;
constexpr uint16_t Version90 = 0x0900;
constexpr uint16_t Version95 = 0x0950;

// Page sizes of this format go beyond 4096; only these are read.
constexpr uint32_t MaxPageSize = 4096;

// Every page begins with its logical number (32-bit) and its type (16-bit); then, by sub-layout,
// its usage count. Data pages carry this bit in it.
namespace page {
constexpr uint32_t Number = 0;
constexpr uint32_t Type = 4;
constexpr uint16_t TypeControl = 'C';
constexpr uint16_t TypeTable = 'P';
constexpr uint16_t TypeData = 'D';
constexpr uint16_t TypeVariable = 'V';
constexpr uint16_t TypeAcs = 'A';
constexpr uint16_t TypeIndexBit = 0x8000; // with the key number
constexpr uint16_t DataPageBit = 0x8000;
} // namespace page

// The sizes that differ between the two sub-layouts.
struct SubLayout
{
    uint32_t usageCount;     // 32-bit usage count of control records, tables and pages
    uint32_t tableEntries;   // where an allocation table's entries begin
    uint32_t tableEntrySize; // bytes per entry
    uint32_t dataHeader;     // a data page's slots begin here
    uint32_t variableHeader; // a variable page's fragments begin here
    uint32_t fragmentCount;  // 16-bit, in a variable page
};
constexpr SubLayout V8 {6, 0x14, 6, 8, 16, 0x0E};
constexpr SubLayout V95 {8, 0x10, 8, 10, 18, 0x10};

// Control records and allocation tables are structures of U = max(2, 2048 / page size) pages:
// control record A at page 0, its twin at page U (the current one has the higher usage count),
// pages 2U to 4U - 1 zero, then allocation-table pair k at 4U + (k - 1) (N + 2U) with its twin U
// pages later, N = U * page size * 15 / (16 * entry size) - 2U entries per table.
constexpr uint32_t StructureBytes = 2048;
constexpr uint32_t MinStructurePages = 2;
constexpr uint32_t FirstTableStructure = 4; // in structures of U pages

inline uint32_t structurePages(uint32_t pageSize)
{
    return StructureBytes / pageSize > MinStructurePages ? StructureBytes / pageSize
                                                         : MinStructurePages;
}

// The control record.
namespace fcr {
constexpr uint8_t Mark[2] = {'F', 'C'};   // bytes 0-1, with the control type at page::Type
constexpr uint32_t KeysAgain = 0x14;      // 16-bit, the same as KeyCount
constexpr uint32_t RecordLength = 0x16;   // 16-bit; 0 in compressed files
constexpr uint32_t PhysicalLength = 0x18; // 16-bit, a slot
// The record count: a 32-bit number at 0x1C in every file seen, whose word at 0x1A was 0. Whether
// larger counts put a high word at 0x1A (hi/lo, as 6.x does) is not known: the records decide.
constexpr uint32_t RecordCountHigh = 0x1A;
constexpr uint32_t RecordCount = 0x1C;
constexpr uint32_t LogicalEnd = 0x26; // hi/lo: the highest logical page + 1 (its low word at 0x28)
constexpr uint32_t PageSize = 0x2A;   // 16-bit
constexpr uint32_t Version = 0x4A;    // 16-bit, signed: negated when an owner name is set
constexpr uint32_t PairCount = 0x4C;  // 16-bit: allocation-table pairs
constexpr uint32_t KeyCount = 0x76;   // 16-bit
constexpr uint32_t SegmentCount = 0x78; // 16-bit
constexpr uint32_t KeyTable = 0x7A;     // 16-bit: offset of a table of 16-bit offsets, one per key
constexpr uint32_t FileFlags = 0x190;   // 16-bit
constexpr uint32_t CompressedRecordLength = 0x192; // 16-bit
constexpr uint32_t Size = 0x200;                   // the fields above lie in the first 512 bytes
} // namespace fcr

// File flags of this format beyond the definition's: system data is kept in each slot when
// (flags & SystemDataMask) == SystemData.
constexpr uint16_t SystemData = 0x0200;
constexpr uint16_t SystemDataMask = 0x1200;
constexpr uint16_t VariableTail = 0x0800;

// A key segment spec: 36 bytes. The offsets of the fields read are those of the older 30-byte
// specs (format::keyspec); the unique-value count is not where those keep it.
constexpr uint32_t KeySpecSize = 36;

// Allocation tables: "PP" at bytes 3-4 (the type word at 4 and the top byte of the number), the
// pair number k in the low 24 bits of the 32-bit number. Entry e (1..N) gives logical page
// (k - 1) N + e: its physical page (32-bit; Unused for none) and its type (16-bit; 9.5 adds 2 bytes
// not understood).
namespace table {
constexpr uint32_t Mark = 3; // "PP"
constexpr uint32_t PairMask = 0xFFFFFF;
constexpr uint32_t EntryPhysical = 0;
constexpr uint32_t EntryType = 4;
constexpr uint32_t Unused = 0xFFFFFFFE;
} // namespace table

// A slot. Uncompressed: a 16-bit usage count (0 free), the system data when kept, the record,
// then in variable-length files a 6-byte pointer [32-bit logical page][16-bit fragment] (page
// 0xFFFFFFFF: none), in variable-tail files a 32-bit length, then duplicate pointers.
// Compressed: the 6-byte pointer to the stream, a byte that is 1 for a record, 2 bytes, the system
// data when kept, the duplicate pointers.
namespace slot {
constexpr uint32_t UsagePrefix = 2;
constexpr uint32_t SystemDataSize = 8;
constexpr uint32_t PointerSize = 6;
constexpr uint32_t PointerFragment = 4; // 16-bit
constexpr uint32_t NoPage = 0xFFFFFFFF;
constexpr uint32_t TailLengthSize = 4;
constexpr uint32_t CompressedInUse = 6;
constexpr uint32_t CompressedFixed = 9; // pointer, in-use byte, 2 bytes
} // namespace slot

// Variable-tail files: the record's chain holds 10-byte entries, each naming a chain of its own
// and the bytes it holds.
namespace tail {
constexpr uint32_t EntrySize = 10;
constexpr uint32_t EntryLength = 6; // 32-bit
} // namespace tail

// A record's address (in duplicate chains, the free-slot chain and Get Position): logical page
// << b | slot, b = max(4, ceil(log2(slots per page))).
constexpr uint32_t MinAddressBits = 4;

// A collating-sequence page: the 265-byte block (0xAC, name, table) from here.
constexpr uint32_t AcsBlock = 8;

} // namespace recman::legacy::format::v8
