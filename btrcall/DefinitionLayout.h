// A data file's definition as it crosses the entry point: the Create buffer a caller fills and
// the Stat image the record manager answers, with the flag bits and key types they carry.
//
// Layout (little-endian): a 16-byte file header, one 16-byte entry per key segment (the segments
// of a key one after another, every one but the last with the Segmented flag), then the
// collating-sequence blocks the segments name, 265 bytes each.
#pragma once

#include "BtrCall.h"

#include <cstdint>

namespace btr {

namespace layout {

constexpr int HeaderSize = 16;
constexpr int SegmentSize = 16;
// A collating-sequence block: signature, name (zero-padded), and the byte map.
constexpr int AcsNameSize = 8;
constexpr int AcsTableSize = 256;
constexpr int AcsNameOffset = 1;
constexpr int AcsTableOffset = AcsNameOffset + AcsNameSize;
constexpr int AcsBlockSize = AcsTableOffset + AcsTableSize; // 265
constexpr uint8_t AcsSignature = 0xAC;
// The most segment entries the 1920-byte buffer holds, without and with a collating sequence.
constexpr int MaxSegments = (SpecBufferSize - HeaderSize) / SegmentSize; // 119
constexpr int MaxSegmentsWithAcs
    = (SpecBufferSize - HeaderSize - AcsBlockSize) / SegmentSize; // 102

// File header fields: offset from the start of the buffer.
namespace file {
constexpr int RecordLength = 0;       // 16-bit
constexpr int PageSize = 2;           // 16-bit
constexpr int NumIndexes = 4;         // 16-bit
constexpr int NumRecords = 6;         // 32-bit
constexpr int FileFlags = 10;         // 16-bit
constexpr int DuplicatePointers = 12; // 8-bit
constexpr int Reserved = 13;          // 8-bit
constexpr int UnusedPages = 14;       // 16-bit
} // namespace file

// Segment entry fields: offset from the start of the entry.
namespace segment {
constexpr int Position = 0;         // 16-bit, 1-based
constexpr int Length = 2;           // 16-bit
constexpr int KeyFlags = 4;         // 16-bit
constexpr int NumKeyValues = 6;     // 32-bit
constexpr int ExtendedType = 10;    // 8-bit
constexpr int NullValue = 11;       // 8-bit
constexpr int Reserved = 12;        // 16-bit
constexpr int ManualKeyNumber = 14; // 8-bit
constexpr int AcsNumber = 15;       // 8-bit
} // namespace segment

} // namespace layout

// File flag bits (header FileFlags).
namespace fileflag {
constexpr uint16_t VariableLength = 0x0001;
constexpr uint16_t BlankTruncation = 0x0002;
constexpr uint16_t PreAllocation = 0x0004;
constexpr uint16_t Compressed = 0x0008;
constexpr uint16_t KeyOnly = 0x0010;
constexpr uint16_t IndexBalance = 0x0020;
constexpr uint16_t Free10 = 0x0040;
constexpr uint16_t Free20 = 0x0080;
constexpr uint16_t DuplicatePointers = 0x0100;
constexpr uint16_t Reserved = 0x0200;
constexpr uint16_t KeyNumbersGiven = 0x0400;
constexpr uint16_t UseVats = 0x0800; // variable-tail allocation tables
} // namespace fileflag

// Key flag bits (segment KeyFlags).
namespace keyflag {
constexpr uint16_t Duplicates = 0x0001;
constexpr uint16_t Modifiable = 0x0002;
constexpr uint16_t Binary = 0x0004;
constexpr uint16_t NullAll = 0x0008; // the key is null when every segment is null
constexpr uint16_t Segmented = 0x0010;
constexpr uint16_t Acs = 0x0020;
constexpr uint16_t Descending = 0x0040;
constexpr uint16_t RepeatingDuplicates = 0x0080;
constexpr uint16_t ExtendedType = 0x0100;
constexpr uint16_t NullAny = 0x0200; // the key is null when any segment is null
constexpr uint16_t CaseInsensitive = 0x0400;
} // namespace keyflag

// Extended key types (segment ExtendedType, read when the ExtendedType key flag is set).
namespace exttype {
constexpr uint8_t String = 0;
constexpr uint8_t Integer = 1;
constexpr uint8_t Float = 2;
constexpr uint8_t Date = 3;
constexpr uint8_t Time = 4;
constexpr uint8_t Decimal = 5;
constexpr uint8_t Money = 6;
constexpr uint8_t Logical = 7;
constexpr uint8_t Numeric = 8;
constexpr uint8_t BFloat = 9;
constexpr uint8_t LString = 10;
constexpr uint8_t ZString = 11;
constexpr uint8_t Unsigned = 14;
constexpr uint8_t Autoincrement = 15;
constexpr uint8_t SignSeparate = 17;
// Types that fields hold and description files name, but that no key may have (Create answers
// KeyTypeError for them).
constexpr uint8_t Note = 12;
constexpr uint8_t LVar = 13;
constexpr uint8_t Bit = 16;
constexpr uint8_t Currency = 19;
constexpr uint8_t Timestamp = 20;
constexpr uint8_t WString = 25;
constexpr uint8_t WZString = 26;
constexpr uint8_t Guid = 27;
} // namespace exttype

} // namespace btr
