// SpecBuffer: a data file's whole definition in the record manager's 1920-byte Stat/Create layout.
//
// Layout (little-endian): a 16-byte file header (FileSpec), one 16-byte KeySegmentSpec per key
// segment, then, when any segment uses an alternate collating sequence, the 265-byte AcsBlocks
// directly after the last segment: block n is the one a segment with AcsNumber n uses, and there
// are as many as the highest AcsNumber among those segments says (the window edits block 0). The
// number of segments is not stored: it follows from NumIndexes and the "segmented" flag of each
// entry (see readLayout and countKeys).
//
// Every number is shown the same way everywhere: 16-bit fields as signed, 8-bit fields as unsigned,
// 32-bit fields as signed. Writing a number keeps the low-order bits that fit the field.
#pragma once

#include "DefinitionLayout.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace spec {

// The layout's sizes under the names the window's code has always used.
constexpr int BufferSize = btr::SpecBufferSize;
constexpr int FileSpecSize = btr::layout::HeaderSize;
constexpr int SegmentSize = btr::layout::SegmentSize;
constexpr int AcsNameSize = btr::layout::AcsNameSize;
constexpr int AcsTableSize = btr::layout::AcsTableSize;
constexpr int AcsBlockSize = btr::layout::AcsBlockSize;
constexpr uint8_t AcsSignature = btr::layout::AcsSignature;
// The most segment entries that fit the buffer, without and with a collating sequence.
constexpr int MaxEntries = btr::layout::MaxSegments;
constexpr int MaxEntriesWithAcs = btr::layout::MaxSegmentsWithAcs;

// How a field is shown and stored: its width and whether its value reads as signed.
enum class Width : uint8_t { Signed16, Unsigned8, Signed32 };

struct Field
{
    const char* name;
    uint16_t offset; // from the start of the header or of the segment entry
    Width width;
};

// File header fields, in the order of the window's eight header edits.
namespace file {
constexpr Field RecordLength {"RecordLength", btr::layout::file::RecordLength, Width::Signed16};
constexpr Field PageSize {"PageSize", btr::layout::file::PageSize, Width::Signed16};
constexpr Field NumIndexes {"NumIndexes", btr::layout::file::NumIndexes, Width::Signed16};
constexpr Field NumRecords {"NumRecords", btr::layout::file::NumRecords, Width::Signed32};
constexpr Field FileFlags {"FileFlags", btr::layout::file::FileFlags, Width::Signed16};
constexpr Field DuplicatePointers {
    "DuplicatePointers", btr::layout::file::DuplicatePointers, Width::Unsigned8};
constexpr Field Reserved {"Reserved", btr::layout::file::Reserved, Width::Unsigned8};
constexpr Field UnusedPages {"UnusedPages", btr::layout::file::UnusedPages, Width::Signed16};
constexpr std::array<Field, 8> All {RecordLength, PageSize, NumIndexes, NumRecords, FileFlags,
    DuplicatePointers, Reserved, UnusedPages};
} // namespace file

// Key segment fields, in the order of the key grid's columns 1 to 9.
namespace segment {
constexpr Field Position {"Position", btr::layout::segment::Position, Width::Signed16};
constexpr Field Length {"Length", btr::layout::segment::Length, Width::Signed16};
constexpr Field KeyFlags {"KeyFlags", btr::layout::segment::KeyFlags, Width::Signed16};
constexpr Field NumKeyValues {"NumKeyValues", btr::layout::segment::NumKeyValues, Width::Signed32};
constexpr Field ExtendedType {"ExtendedType", btr::layout::segment::ExtendedType, Width::Unsigned8};
constexpr Field NullValue {"NullValue", btr::layout::segment::NullValue, Width::Unsigned8};
constexpr Field Reserved {"Reserved", btr::layout::segment::Reserved, Width::Signed16};
constexpr Field ManualKeyNumber {
    "ManualKeyNumber", btr::layout::segment::ManualKeyNumber, Width::Unsigned8};
constexpr Field AcsNumber {"AcsNumber", btr::layout::segment::AcsNumber, Width::Unsigned8};
constexpr std::array<Field, 9> All {Position, Length, KeyFlags, NumKeyValues, ExtendedType,
    NullValue, Reserved, ManualKeyNumber, AcsNumber};
} // namespace segment

// Reads a field at base + field.offset as the number the window shows.
int32_t readField(const uint8_t* base, const Field& field);
// Stores value's low-order bits into the field's width.
void writeField(uint8_t* base, const Field& field, int32_t value);

struct FileSpec
{
    int16_t RecordLength = 0;
    int16_t PageSize = 0;
    int16_t NumIndexes = 0;
    int32_t NumRecords = 0;
    int16_t FileFlags = 0;
    uint8_t DuplicatePointers = 0;
    uint8_t Reserved = 0;
    int16_t UnusedPages = 0;
    bool operator==(const FileSpec&) const = default;
};

struct KeySegmentSpec
{
    int16_t Position = 0;
    int16_t Length = 0;
    int16_t KeyFlags = 0;
    int32_t NumKeyValues = 0;
    uint8_t ExtendedType = 0;
    uint8_t NullValue = 0;
    int16_t Reserved = 0;
    uint8_t ManualKeyNumber = 0;
    uint8_t AcsNumber = 0;
    bool operator==(const KeySegmentSpec&) const = default;
};

struct AcsBlock
{
    uint8_t Signature = AcsSignature;
    std::string Name; // at most 8 characters
    std::array<uint8_t, AcsTableSize> Table {};
    bool operator==(const AcsBlock&) const = default;
};

// File flag bits (FileSpec.FileFlags) and key flag bits (KeySegmentSpec.KeyFlags).
struct FlagBit
{
    int bit;
    uint16_t value;
    const char* checkBox;
    const char* caption;
};

extern const std::array<FlagBit, 12> FileFlagBits;
extern const std::array<FlagBit, 11> KeyFlagBits;

// The flag bits under the names of the window's check boxes.
namespace fileflag {
constexpr uint16_t VarLen = btr::fileflag::VariableLength;
constexpr uint16_t BlankTrunc = btr::fileflag::BlankTruncation;
constexpr uint16_t PreAlloc = btr::fileflag::PreAllocation;
constexpr uint16_t DataCompress = btr::fileflag::Compressed;
constexpr uint16_t KeyOnly = btr::fileflag::KeyOnly;
constexpr uint16_t IndexBalance = btr::fileflag::IndexBalance;
constexpr uint16_t Free10 = btr::fileflag::Free10;
constexpr uint16_t Free20 = btr::fileflag::Free20;
constexpr uint16_t DuplPointers = btr::fileflag::DuplicatePointers;
constexpr uint16_t Reserved = btr::fileflag::Reserved;
constexpr uint16_t KeyNumbersGiven = btr::fileflag::KeyNumbersGiven;
constexpr uint16_t UseVats = btr::fileflag::UseVats;
} // namespace fileflag

namespace keyflag {
constexpr uint16_t Duplicates = btr::keyflag::Duplicates;
constexpr uint16_t Modifiable = btr::keyflag::Modifiable;
constexpr uint16_t Binary = btr::keyflag::Binary;
constexpr uint16_t NullAllSegments = btr::keyflag::NullAll;
constexpr uint16_t Segmented = btr::keyflag::Segmented;
constexpr uint16_t Acs = btr::keyflag::Acs;
constexpr uint16_t Descending = btr::keyflag::Descending;
constexpr uint16_t RepeatDuplicates = btr::keyflag::RepeatingDuplicates;
constexpr uint16_t ExtendedType = btr::keyflag::ExtendedType;
constexpr uint16_t NullAnySegment = btr::keyflag::NullAny;
constexpr uint16_t CaseInsensitive = btr::keyflag::CaseInsensitive;
} // namespace keyflag

// Extended key types and the items of the window's extended-type combo box.
struct ExtType
{
    uint8_t code;
    int comboIndex;
    const char* text;
};

extern const std::array<ExtType, 15> ExtTypes;

namespace exttype = btr::exttype;

// The combo box item for a type code, or -1 when the code has no item (12, 13, 16, 18-255).
int comboIndexForCode(int code);
// The type code of a combo box item, or -1 for an index outside 0..14.
int codeForComboIndex(int index);

// How the entries of a buffer group into keys.
struct Layout
{
    int entryCount = 0;                        // S: number of segment entries
    bool hasAcs = false;                       // some entry has key flag 0x20
    int acsBlockCount = 0;                     // highest AcsNumber of those entries + 1
    std::array<int, MaxEntries> keyOfEntry {}; // key number of each entry
    int acsOffset() const { return FileSpecSize + SegmentSize * entryCount; }
};

// The number of keys formed by a list of segment flags: one per entry without 0x10.
int countKeys(const int16_t* keyFlags, int entryCount);

class SpecBuffer
{
public:
    std::array<uint8_t, BufferSize> bytes {};

    uint8_t* data() { return bytes.data(); }
    const uint8_t* data() const { return bytes.data(); }
    void clear() { bytes.fill(0); }

    static constexpr int segmentOffset(int k) { return FileSpecSize + SegmentSize * k; }
    // Where block n of the collating sequences that follow entryCount entries begins.
    static constexpr int acsOffset(int entryCount, int n = 0)
    {
        return segmentOffset(entryCount) + AcsBlockSize * n;
    }
    // Whether block n after entryCount entries lies inside the buffer.
    static constexpr bool acsFits(int entryCount, int n = 0)
    {
        return entryCount >= 0 && n >= 0 && n < BufferSize / AcsBlockSize
            && acsOffset(entryCount, n) + AcsBlockSize <= BufferSize;
    }

    int32_t headerField(const Field& f) const { return readField(data(), f); }
    void setHeaderField(const Field& f, int32_t v) { writeField(data(), f, v); }
    // Entry k must be below MaxEntries; reading beyond gives 0, writing beyond writes nothing.
    int32_t segmentField(int k, const Field& f) const;
    void setSegmentField(int k, const Field& f, int32_t v);

    FileSpec fileSpec() const;
    void setFileSpec(const FileSpec& s);
    KeySegmentSpec segment(int k) const;
    void setSegment(int k, const KeySegmentSpec& s);
    // Block n of those that follow entryCount entries; none when it would not lie inside the
    // buffer.
    std::optional<AcsBlock> acs(int entryCount, int n = 0) const;
    // Writes signature, name (zero-padded, cut to 8 characters) and table as block n; false when
    // it does not fit after entryCount entries (nothing is written then).
    bool setAcs(int entryCount, const AcsBlock& block, int n = 0);

    // Reading: walks the entries until key NumIndexes - 1 is complete, never past the buffer.
    Layout readLayout() const;
};

// The name as it is stored: the bytes up to the first zero, all 8 when there is none.
std::string acsNameFromBytes(const uint8_t* nameBytes);

} // namespace spec
