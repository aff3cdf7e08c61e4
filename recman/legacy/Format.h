// The on-disk format of data files written by the vendor's engine, versions 5.x and 6.x, and what
// every version shares (owner names, compressed record streams): every offset, size and bit the
// reader looks at, by name. Numbers are little-endian except where a field is "hi/lo" (two 16-bit
// words, high word first); page numbers in variable-part pointers, 6.x page headers and allocation
// entries are three bytes scattered as high, low, middle. The newer format (8.x to 9.5) is in
// Format8.h.
#pragma once

#include "LittleEndian.h"

#include <cstddef>
#include <cstdint>

namespace recman::legacy::format {

// The first bytes of a file tell its family and version, and where it keeps its page size (5.x
// and 6.x at fcr::PageSize, the newer format at v8::fcr::PageSize).
constexpr size_t HeadSize = 0x80;
constexpr uint32_t MinFileSize = 512;
constexpr uint32_t PageSizeUnit = 512;     // page sizes are multiples of this
constexpr uint32_t LargestPageSize = 4096; // of every family read
// Record positions are 32-bit byte offsets: no file is larger.
constexpr uint64_t MaxFileSize = UINT32_MAX;

// The file control record (page 0; in 6.x pages 0 and 1). Fields 5.x and 6.x share (the newer
// format keeps the logical page count at PageCount too):
namespace fcr {
constexpr uint32_t PageSize = 0x08;       // 16-bit
constexpr uint32_t RecordLength = 0x16;   // 16-bit, the fixed part
constexpr uint32_t PhysicalLength = 0x18; // 16-bit, a slot: the record and its pointers
constexpr uint32_t RecordCount = 0x1A;    // hi/lo
constexpr uint32_t PageCount = 0x26;      // hi/lo; 6.x: the highest logical page + 1
constexpr uint32_t FileFlags = 0x106;     // 16-bit, the definition's file flag bits
} // namespace fcr

// 5.x control record.
namespace v5 {
constexpr uint32_t ZeroBytes = 0x00;   // 32-bit, always zero
constexpr uint32_t VersionByte = 0x07; // 3, 4 or 5
constexpr uint8_t MinVersion = 3;
constexpr uint8_t MaxVersion = 5;
// A compressed file's logical (fixed) record length; 0x16 holds 0 there.
constexpr uint32_t CompressedRecordLength = 0x10E;
constexpr uint32_t FreeChainHead = 0x10;  // hi/lo, the first deleted record's address
constexpr uint32_t KeyCount = 0x14;       // 16-bit
constexpr uint32_t VariableMarker = 0x38; // one of the two values below
constexpr uint8_t MarkerVariable = 0xFF;  // variable-length records
constexpr uint8_t MarkerTruncated = 0xFD; // variable-length records with blank truncation
constexpr uint32_t FirstKeySpec = 0x110;  // the keys' specs follow one another from here
constexpr uint32_t MaxPageSize = LargestPageSize;
// Page 1, when it holds the file's collating sequence, begins with these bytes.
constexpr uint8_t AcsPageSignature[] = {0, 0, 1, 0, 0, 0, 0xAC};
constexpr uint32_t AcsPage = 1;
} // namespace v5

// 6.x control record.
namespace v6 {
constexpr uint8_t ControlMark[2] = {'F', 'C'}; // bytes 0-1
// 32-bit, in the control record and in each page allocation table: of two copies the higher is
// current.
constexpr uint32_t UsageCount = 0x04;
constexpr uint32_t Version = 0x4A; // 16-bit: 0x0600, 0x0610, ...
constexpr uint16_t MinVersion = 0x0600;
constexpr uint16_t FirstUnreadVersion = 0x0700; // 7.x: no file of it has been seen
constexpr uint32_t KeyCount = 0x76;             // 8-bit
constexpr uint32_t SegmentCount = 0x77;         // 8-bit
constexpr uint32_t KeyTable = 0x78; // 16-bit: offset of a table of 16-bit offsets, one per key
// 16-bit: pairs of page allocation tables. Not 0x4C, which holds 1 in most files by coincidence.
constexpr uint32_t PairCount = 0x50;
constexpr uint32_t CompressedRecordLength = 0x10E; // as in 5.x
// Each record slot begins with a 16-bit usage count (0: a free slot).
constexpr uint32_t SlotPrefix = 2;
// The control records and the first pair of page allocation tables take the first four pages.
constexpr uint32_t FirstPageAfterTables = 4;
} // namespace v6

// A key spec: 30 bytes per segment, the segments of a key one after another.
namespace keyspec {
constexpr uint32_t Size = 30;
constexpr uint32_t UniqueValues = 0x04;   // hi/lo, kept on the key's first segment
constexpr uint32_t Flags = 0x08;          // 16-bit, the definition's key flag bits
constexpr uint32_t DuplicateLinks = 0x12; // 16-bit: where the slot keeps this key's chain links
constexpr uint32_t Position = 0x14;       // 16-bit; 5.x 0-based, 6.x counting the slot prefix
constexpr uint32_t Length = 0x16;         // 16-bit
constexpr uint32_t AcsPageHigh = 0x19;    // 6.1: the segment's collating-sequence page
constexpr uint32_t AcsPageLow = 0x1A;
constexpr uint32_t AcsPageMiddle = 0x1B;
constexpr uint32_t ExtendedType = 0x1C; // 8-bit
constexpr uint32_t NullValue = 0x1D;    // 8-bit
} // namespace keyspec

// Linked duplicates: 8 bytes in the slot, the previous and the next record of the same value,
// each a hi/lo address (all 0xFF for none).
constexpr uint32_t DuplicateLinksSize = 8;
constexpr uint32_t NextDuplicate = 4;

// Every page begins with a 6-byte header; a data page's slots follow it.
constexpr uint32_t PageHeaderSize = 6;
namespace page {
// 5.x: bytes 0-3 the page's own number (hi/lo), bytes 4-5 a usage count whose top bit marks a
// data page.
constexpr uint32_t Number = 0;
constexpr uint32_t Usage = 4;
constexpr uint16_t DataPageBit = 0x8000;
// 6.x: byte 0 the high byte of the logical page number, byte 1 the page type, bytes 2-3 its low
// and middle bytes.
constexpr uint32_t NumberHigh = 0;
constexpr uint32_t Type = 1;
constexpr uint32_t NumberLow = 2;
constexpr uint32_t NumberMiddle = 3;
constexpr uint8_t TypeData = 'D';
constexpr uint8_t TypeVariable = 'V';
constexpr uint8_t TypeAcs = 'A';
// Index pages: this bit with the key number.
constexpr uint8_t TypeIndexBit = 0x80;
} // namespace page

// A collating-sequence page: the block (signature 0xAC, name, table) right after the header.
constexpr uint32_t AcsBlockOffset = PageHeaderSize;

// A 5.x freed slot: zeros after a 4-byte hi/lo link to the next freed slot.
constexpr uint32_t FreeLinkSize = 4;

// 6.x page allocation tables come in pairs of two copies. With N = (page size - 8) / 4 entries
// per table, pair k (1, 2, ...) sits at physical pages 2 + (k - 1) * (N + 2) and the next. Each
// copy begins "PP", then k (16-bit) and a 32-bit usage count at +4; 4-byte entries from +8,
// entry e of pair k giving logical page (k - 1) * N + e as [physical high][type][physical low]
// [physical middle].
namespace pat {
constexpr uint8_t Mark[2] = {'P', 'P'};
constexpr uint32_t PairNumber = 2; // 16-bit: k
constexpr uint32_t FirstPage = 2;
constexpr uint32_t CopiesPerPair = 2;
constexpr uint32_t HeaderSize = 8;
constexpr uint32_t EntrySize = 4;
constexpr uint32_t EntryHigh = 0;
constexpr uint32_t EntryType = 1;
constexpr uint32_t EntryLow = 2;
constexpr uint32_t EntryMiddle = 3;
constexpr uint8_t TypeFree = 0;

// Whether a page begins as copy of table pair k does.
inline bool marksTable(const uint8_t* page, uint64_t k)
{
    return page[0] == Mark[0] && page[1] == Mark[1] && btr::le::get16(page + PairNumber) == k;
}
} // namespace pat

// Variable-length records: after the fixed part a 4-byte pointer [high][low][middle][fragment];
// all 0xFF ends the chain.
constexpr uint32_t VariablePointerSize = 4;
namespace variable {
constexpr uint32_t PointerHigh = 0;
constexpr uint32_t PointerLow = 1;
constexpr uint32_t PointerMiddle = 2;
constexpr uint32_t PointerFragment = 3;
// A variable-data page: the page header, then a 4-byte link and a 2-byte fragment count.
constexpr uint32_t HeaderSize = 12;
// The fragment table grows backward from the page's end, 16 bits per fragment.
constexpr uint32_t EntrySize = 2;
constexpr uint16_t OffsetMask = 0x7FFF;
// 5.x: the fragment begins with the pointer to the next one (6.x fragments always do).
constexpr uint16_t LinkedBit = 0x8000;
} // namespace variable

// Two 16-bit words, high word first.
inline uint32_t hiLo(const uint8_t* p)
{
    return (uint32_t(btr::le::get16(p)) << 16) | btr::le::get16(p + 2);
}

inline uint32_t pageNumber(uint8_t high, uint8_t low, uint8_t middle)
{
    return (uint32_t(high) << 16) | (uint32_t(middle) << 8) | low;
}

// Whether a 6.x page header names this logical page and type.
inline bool headerNames(const uint8_t* header, uint32_t logical, uint8_t type)
{
    return header[page::Type] == type
        && pageNumber(header[page::NumberHigh], header[page::NumberLow], header[page::NumberMiddle])
        == logical;
}

constexpr uint8_t EndOfChain = 0xFF; // every byte of a pointer that ends the chain

inline bool isEndOfChain(const uint8_t* pointer)
{
    return pointer[0] == EndOfChain && pointer[1] == EndOfChain && pointer[2] == EndOfChain
        && pointer[3] == EndOfChain;
}

// Owner names, in every version: the version is stored negated (two's complement: a 5.x byte 0xFC
// is version 4, a 6.x word 0xFA00 is 0x0600) when an owner name is set, and the control record
// (never encrypted) then holds the name in an encoded form and the access mode.
namespace owner {
constexpr uint32_t Block = 0x2E; // 9 bytes: the encoded name
constexpr uint32_t BlockSize = 9;
constexpr uint32_t KeySize = 8; // encrypted data is XORed with the block's first 8 bytes
constexpr uint32_t AccessMode = 0x37;
constexpr uint8_t OwnerOnly = 0;
constexpr uint8_t OthersRead = 1;
constexpr uint8_t OwnerOnlyEncrypted = 2;
constexpr uint8_t OthersReadEncrypted = 3;
// Rule 2 of the encryption: the 8 key bytes as four 2-byte words, one word per 256 bytes of the
// page, in turn.
constexpr uint32_t Rule2Span = 256;
constexpr uint32_t Rule2Words = 4;

inline bool encrypted(uint8_t mode)
{
    return mode == OwnerOnlyEncrypted || mode == OthersReadEncrypted;
}
} // namespace owner

// Compressed records (file flag 0x08): the data-page slot points to a stream in the variable pages
// (the payloads of its fragment chain, concatenated), which alternates blocks beginning with a
// literal one: [16-bit n][n bytes as they are], then [16-bit n][1 byte repeated n times].
namespace compressed {
constexpr uint32_t CountSize = 2;
// 5.x and 6.x slots: the 4-byte pointer to the stream, then a byte that is 1 for a record (0 or
// anything else: a free slot, whose first 4 bytes link the next free one); 6.x adds 2 bytes not
// understood. Duplicate links follow.
constexpr uint32_t InUse = 4;
constexpr uint8_t InUseMark = 1;
constexpr uint32_t SlotV5 = 5;
constexpr uint32_t SlotV6 = 7;
} // namespace compressed

} // namespace recman::legacy::format
