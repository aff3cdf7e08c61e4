// A data file's definition as the record manager keeps it: parsed from a Create buffer (or from a
// legacy file's control record), validated, and written back as a Stat image.
#pragma once

#include "DefinitionLayout.h"

#include <array>
#include <cstdint>
#include <vector>

namespace recman {

// The definition layout and its bits are the entry point's contract; the record manager uses them
// under the contract's names.
using btr::layout::AcsBlockSize;
using btr::layout::AcsSignature;
using btr::layout::HeaderSize;
using btr::layout::SegmentSize;
namespace fileflag = btr::fileflag;
namespace keyflag = btr::keyflag;

// A key has at least one segment, so a file has no more keys than the layout has segment entries.
constexpr int MaxKeys = btr::layout::MaxSegments;
// The bytes a key value is made of; also the longest segment.
constexpr int MaxKeyLength = 255;

// What a segment holds, from its extended type (flag 0x100) or, without one, from the binary flag.
enum class SegmentType : uint8_t {
    String = btr::exttype::String,
    Integer = btr::exttype::Integer,
    Float = btr::exttype::Float,
    Date = btr::exttype::Date,
    Time = btr::exttype::Time,
    Decimal = btr::exttype::Decimal,
    Money = btr::exttype::Money,
    Logical = btr::exttype::Logical,
    Numeric = btr::exttype::Numeric,
    BFloat = btr::exttype::BFloat,
    LString = btr::exttype::LString,
    ZString = btr::exttype::ZString,
    Unsigned = btr::exttype::Unsigned,
    Autoincrement = btr::exttype::Autoincrement,
    SignSeparate = btr::exttype::SignSeparate,
    OldString,   // no extended type, binary flag clear
    OldBinary,   // no extended type, binary flag set
    Unsupported, // an extended type code that is not a key type
};

struct Segment
{
    uint16_t position = 0; // 1-based
    uint16_t length = 0;
    uint16_t flags = 0;        // key flags, as stored
    uint32_t numKeyValues = 0; // as given at Create; Stat reports the live figure instead
    uint8_t extType = 0;
    uint8_t nullValue = 0;
    uint16_t reserved = 0;
    uint8_t manualKeyNumber = 0;
    uint8_t acsNumber = 0;

    SegmentType type() const;
    // String-like segments are the only ones a collating sequence or case folding applies to.
    bool stringLike() const;
};

struct Key
{
    int number = 0; // key number: its ordinal, or ManualKeyNumber when the file gives numbers
    std::vector<Segment> segments; // in definition order
    bool duplicates() const;
    bool modifiable() const;
    // Duplicates kept in a chain through the record (8 bytes per record): duplicates without the
    // repeating-duplicates flag.
    bool linkedDuplicates() const;
    bool autoincrement() const; // its first segment is of type autoincrement
    bool nullAll() const;       // 0x08: null when every segment is null
    bool nullAny() const;       // 0x200: null when any segment is null
    int totalLength() const;    // bytes of the key value (sum of segment lengths)
};

using AcsTable = std::array<uint8_t, btr::layout::AcsTableSize>;

struct AcsBlockDef
{
    std::array<uint8_t, AcsBlockSize> bytes {}; // stored and reported back as given
    uint8_t signature() const { return bytes[0]; }
    const uint8_t* name() const { return bytes.data() + btr::layout::AcsNameOffset; } // 8 bytes
    const uint8_t* table() const { return bytes.data() + btr::layout::AcsTableOffset; }
};

struct Definition
{
    uint16_t recordLength = 0;
    uint16_t pageSize = 0;
    uint32_t numRecords = 0; // as given at Create (reported live by Stat)
    uint16_t fileFlags = 0;
    uint8_t duplicatePointers = 0;
    uint8_t reserved = 0;
    uint16_t unusedPages = 0;           // as given at Create
    std::vector<Key> keys;              // in definition order (the order of the segment entries)
    std::vector<AcsBlockDef> acsBlocks; // block n is the one AcsNumber n selects

    bool variableLength() const { return fileFlags & fileflag::VariableLength; }
    bool keyOnly() const { return fileFlags & fileflag::KeyOnly; }
    int segmentCount() const;
    // Bytes the definition takes in the Stat/Create layout.
    int imageSize() const;
    // The key with the given key number, or null.
    const Key* keyByNumber(int number) const;

    // The Stat image: header, every segment, every collating-sequence block, with the live
    // figures filled in (numRecords; keyValues[i] = distinct non-null values of keys[i], written on
    // every segment of that key; unusedPages).
    std::vector<uint8_t> statImage(uint32_t liveRecords, const std::vector<uint32_t>& keyValues,
        uint16_t liveUnusedPages) const;
};

// Parses and validates a Create buffer of `length` bytes. Checks run in the record manager's order
// and the first failure wins: page size (24), record length (28), key and segment counts (26),
// buffer covering the segment entries (22), key numbers (6), segment positions (27), types (49),
// lengths (29), flag consistency (45), autoincrement (55), collating sequences (48, or 22 when a
// block a segment asks for lies beyond the buffer). A buffer shorter than the 16-byte header
// answers 22 before anything else. Returns 0 and fills `out` on success; `out` is left untouched
// on failure.
int16_t parseCreate(const uint8_t* data, uint16_t length, Definition& out);

} // namespace recman
