#include "Definition.h"

#include "LittleEndian.h"

#include <algorithm>
#include <bitset>
#include <cstring>

namespace recman {

namespace {

using namespace btr::status;
namespace file = btr::layout::file;
namespace seg = btr::layout::segment;
using btr::le::get16;
using btr::le::get32;
using btr::le::put16;
using btr::le::put32;

// Per record, a key with linked duplicates keeps an 8-byte chain pointer and a variable-length
// record a 4-byte pointer to its variable part; both count against the page.
constexpr int LinkedDuplicateOverhead = 8;
constexpr int VariablePartOverhead = 4;
constexpr int PageHeaderOverhead = 8;
constexpr int MaxCompressedRecordLength = 0x7FFF;

// The flags every segment of one key must share.
constexpr uint16_t KeyWideFlags = keyflag::Duplicates | keyflag::Modifiable
    | keyflag::RepeatingDuplicates | keyflag::NullAll | keyflag::NullAny;

bool pageSizeAllowed(int pageSize)
{
    if (pageSize >= 512 && pageSize <= 4096)
        return pageSize % 512 == 0;
    return pageSize == 8192 || pageSize == 16384;
}

// How many segment entries a file of this page size may hold (the index pages must fit them).
int segmentLimit(int pageSize)
{
    if (pageSize <= 512)
        return 8;
    if (pageSize <= 1024)
        return 23;
    if (pageSize <= 1536)
        return 24;
    if (pageSize <= 3584)
        return 54;
    return 119;
}

Segment readSegment(const uint8_t* p)
{
    Segment s;
    s.position = get16(p + seg::Position);
    s.length = get16(p + seg::Length);
    s.flags = get16(p + seg::KeyFlags);
    s.numKeyValues = get32(p + seg::NumKeyValues);
    s.extType = p[seg::ExtendedType];
    s.nullValue = p[seg::NullValue];
    s.reserved = get16(p + seg::Reserved);
    s.manualKeyNumber = p[seg::ManualKeyNumber];
    s.acsNumber = p[seg::AcsNumber];
    return s;
}

void writeSegment(uint8_t* p, const Segment& s, uint32_t numKeyValues)
{
    put16(p + seg::Position, s.position);
    put16(p + seg::Length, s.length);
    put16(p + seg::KeyFlags, s.flags);
    put32(p + seg::NumKeyValues, numKeyValues);
    p[seg::ExtendedType] = s.extType;
    p[seg::NullValue] = s.nullValue;
    put16(p + seg::Reserved, s.reserved);
    p[seg::ManualKeyNumber] = s.manualKeyNumber;
    p[seg::AcsNumber] = s.acsNumber;
}

// Lengths by type, as the vendor's engine allows them: real files hold, among others, 6-byte
// unsigned binary keys (compared a 16-bit word at a time, so any even length) and 1-byte zstrings.
bool lengthAllowed(const Segment& s)
{
    const int n = s.length;
    switch (s.type()) {
    case SegmentType::Integer:
        return n == 1 || n == 2 || n == 4 || n == 8;
    case SegmentType::Unsigned:
        return n == 1 || (n >= 2 && n <= MaxKeyLength && n % 2 == 0);
    case SegmentType::Float:
    case SegmentType::BFloat:
        return n == 4 || n == 8;
    case SegmentType::Date:
    case SegmentType::Time:
        return n == 4;
    case SegmentType::Logical:
        return n == 1 || n == 2;
    case SegmentType::Autoincrement:
        return n == 2 || n == 4 || n == 8;
    case SegmentType::String:
    case SegmentType::OldString:
    case SegmentType::Decimal:
    case SegmentType::Money:
    case SegmentType::Numeric:
    case SegmentType::ZString:
        return n >= 1 && n <= MaxKeyLength;
    case SegmentType::LString:
    case SegmentType::SignSeparate:
        return n >= 2 && n <= MaxKeyLength;
    case SegmentType::OldBinary:
        return n >= 2 && n <= MaxKeyLength && n % 2 == 0;
    case SegmentType::Unsupported:
        return false;
    }
    return false;
}

} // namespace

SegmentType Segment::type() const
{
    if (!(flags & keyflag::ExtendedType))
        return (flags & keyflag::Binary) ? SegmentType::OldBinary : SegmentType::OldString;
    switch (extType) {
    case btr::exttype::String:
    case btr::exttype::Integer:
    case btr::exttype::Float:
    case btr::exttype::Date:
    case btr::exttype::Time:
    case btr::exttype::Decimal:
    case btr::exttype::Money:
    case btr::exttype::Logical:
    case btr::exttype::Numeric:
    case btr::exttype::BFloat:
    case btr::exttype::LString:
    case btr::exttype::ZString:
    case btr::exttype::Unsigned:
    case btr::exttype::Autoincrement:
    case btr::exttype::SignSeparate:
        return SegmentType(extType);
    default:
        return SegmentType::Unsupported;
    }
}

bool Segment::stringLike() const
{
    switch (type()) {
    case SegmentType::String:
    case SegmentType::OldString:
    case SegmentType::LString:
    case SegmentType::ZString:
        return true;
    default:
        return false;
    }
}

// Segments of one key agree on the key-wide flags (Create refuses anything else), so the first
// segment speaks for the key.
bool Key::duplicates() const
{
    return !segments.empty() && (segments.front().flags & keyflag::Duplicates);
}

bool Key::modifiable() const
{
    return !segments.empty() && (segments.front().flags & keyflag::Modifiable);
}

bool Key::linkedDuplicates() const
{
    return duplicates() && !(segments.front().flags & keyflag::RepeatingDuplicates);
}

bool Key::autoincrement() const
{
    return !segments.empty() && segments.front().type() == SegmentType::Autoincrement;
}

bool Key::nullAll() const
{
    return !segments.empty() && (segments.front().flags & keyflag::NullAll);
}

bool Key::nullAny() const
{
    return !segments.empty() && (segments.front().flags & keyflag::NullAny);
}

int Key::totalLength() const
{
    int total = 0;
    for (const Segment& s : segments)
        total += s.length;
    return total;
}

int Definition::segmentCount() const
{
    int count = 0;
    for (const Key& k : keys)
        count += int(k.segments.size());
    return count;
}

int Definition::imageSize() const
{
    return HeaderSize + SegmentSize * segmentCount() + AcsBlockSize * int(acsBlocks.size());
}

const Key* Definition::keyByNumber(int number) const
{
    auto it = std::find_if(
        keys.begin(), keys.end(), [number](const Key& k) { return k.number == number; });
    return it == keys.end() ? nullptr : &*it;
}

std::vector<uint8_t> Definition::statImage(
    uint32_t liveRecords, const std::vector<uint32_t>& keyValues, uint16_t liveUnusedPages) const
{
    std::vector<uint8_t> image(size_t(imageSize()), 0);
    uint8_t* p = image.data();
    put16(p + file::RecordLength, recordLength);
    put16(p + file::PageSize, pageSize);
    put16(p + file::NumIndexes, uint16_t(keys.size()));
    put32(p + file::NumRecords, liveRecords);
    put16(p + file::FileFlags, fileFlags);
    p[file::DuplicatePointers] = duplicatePointers;
    p[file::Reserved] = reserved;
    put16(p + file::UnusedPages, liveUnusedPages);
    p += HeaderSize;
    for (size_t k = 0; k < keys.size(); ++k) {
        const uint32_t values = k < keyValues.size() ? keyValues[k] : 0;
        for (const Segment& s : keys[k].segments) {
            writeSegment(p, s, values);
            p += SegmentSize;
        }
    }
    for (const AcsBlockDef& block : acsBlocks) {
        std::memcpy(p, block.bytes.data(), AcsBlockSize);
        p += AcsBlockSize;
    }
    return image;
}

int16_t parseCreate(const uint8_t* data, uint16_t length, Definition& out)
{
    if (data == nullptr || length < HeaderSize)
        return DataBufferTooShort;

    Definition def;
    def.recordLength = get16(data + file::RecordLength);
    def.pageSize = get16(data + file::PageSize);
    const int numIndexes = int16_t(get16(data + file::NumIndexes));
    def.numRecords = get32(data + file::NumRecords);
    def.fileFlags = get16(data + file::FileFlags);
    def.duplicatePointers = data[file::DuplicatePointers];
    def.reserved = data[file::Reserved];
    def.unusedPages = get16(data + file::UnusedPages);

    if (!pageSizeAllowed(def.pageSize))
        return PageSizeError;

    // Read the keys before judging anything that depends on them, without failing yet: the walk
    // stops where the buffer ends or where the entries exceed what the page size allows, and the
    // checks below only refuse on what was actually read, so each verdict stands whatever the
    // unread part would have said.
    const int limit = segmentLimit(def.pageSize);
    const int entriesInBuffer = (length - HeaderSize) / SegmentSize;
    bool bufferShort = false;
    bool tooManySegments = false;
    int entry = 0;
    for (int k = 0; k < std::min(numIndexes, MaxKeys) && !bufferShort && !tooManySegments; ++k) {
        Key key;
        for (;;) {
            if (entry >= limit) {
                tooManySegments = true;
                break;
            }
            if (entry >= entriesInBuffer) {
                bufferShort = true;
                break;
            }
            key.segments.push_back(readSegment(data + HeaderSize + SegmentSize * entry++));
            if (!(key.segments.back().flags & keyflag::Segmented))
                break;
        }
        if (!key.segments.empty())
            def.keys.push_back(std::move(key));
    }

    // Record length: the record and its per-record pointers must fit a page.
    int overhead = def.variableLength() ? VariablePartOverhead : 0;
    for (const Key& key : def.keys)
        overhead += key.linkedDuplicates() ? LinkedDuplicateOverhead : 0;
    // A compressed record lives as a stream in the variable pages, not in its slot: it need not
    // fit a page (real files hold longer ones), only keep its length a positive 16-bit number.
    const bool fits = def.fileFlags & fileflag::Compressed
        ? def.recordLength <= MaxCompressedRecordLength
        : def.recordLength + overhead <= def.pageSize - PageHeaderOverhead;
    if (def.recordLength < 4 || !fits)
        return InvalidRecordLength;

    if (numIndexes < 0 || numIndexes > MaxKeys || tooManySegments)
        return NumberOfKeys;
    if (bufferShort)
        return DataBufferTooShort;

    // Key numbers are part of the key table's shape, so they are settled before the segments are
    // looked at one by one: a given number must be below 119 and used once.
    const bool numbersGiven = def.fileFlags & fileflag::KeyNumbersGiven;
    std::bitset<MaxKeys> used;
    for (size_t k = 0; k < def.keys.size(); ++k) {
        Key& key = def.keys[k];
        if (!numbersGiven) {
            key.number = int(k);
            continue;
        }
        key.number = key.segments.front().manualKeyNumber;
        if (key.number >= MaxKeys || used.test(size_t(key.number)))
            return InvalidKeyNumber;
        used.set(size_t(key.number));
    }

    for (const Key& key : def.keys)
        for (const Segment& s : key.segments)
            if (s.position < 1 || int(s.position) + int(s.length) - 1 > def.recordLength)
                return InvalidKeyPosition;

    for (const Key& key : def.keys)
        for (const Segment& s : key.segments)
            if (s.type() == SegmentType::Unsupported)
                return KeyTypeError;

    for (const Key& key : def.keys) {
        for (const Segment& s : key.segments)
            if (!lengthAllowed(s))
                return InvalidKeyLength;
        if (key.totalLength() > MaxKeyLength)
            return InvalidKeyLength;
    }

    for (const Key& key : def.keys) {
        const uint16_t keyWide = key.segments.front().flags & KeyWideFlags;
        for (const Segment& s : key.segments) {
            if ((s.flags & KeyWideFlags) != keyWide)
                return InconsistentKeyFlags;
            if ((s.flags & (keyflag::Acs | keyflag::CaseInsensitive)) && !s.stringLike())
                return InconsistentKeyFlags;
        }
    }
    if (def.keyOnly() && (def.keys.size() != 1 || def.variableLength()))
        return InconsistentKeyFlags;
    // The key of a key-only file is the only way to its records: a null key would leave a record
    // counted by Stat that nothing can read or copy.
    if (def.keyOnly() && (def.keys.front().nullAll() || def.keys.front().nullAny()))
        return InconsistentKeyFlags;

    for (const Key& key : def.keys) {
        const bool hasAutoincrement = std::any_of(key.segments.begin(), key.segments.end(),
            [](const Segment& s) { return s.type() == SegmentType::Autoincrement; });
        if (hasAutoincrement && (key.segments.size() != 1 || key.duplicates()))
            return AutoincrementError;
    }

    // Collating-sequence blocks follow the last entry; a segment with 0x20 uses block AcsNumber,
    // so the definition holds every block up to the highest number used. A block the buffer does
    // not hold is a sequence the definition does not have.
    int blockCount = 0;
    for (const Key& key : def.keys)
        for (const Segment& s : key.segments)
            if (s.flags & keyflag::Acs)
                blockCount = std::max(blockCount, s.acsNumber + 1);
    const size_t blocksAt = size_t(HeaderSize) + size_t(SegmentSize) * size_t(entry);
    const size_t blocksInBuffer = (length - blocksAt) / AcsBlockSize;
    if (size_t(blockCount) > blocksInBuffer)
        return InvalidCollatingSequence;
    def.acsBlocks.resize(size_t(blockCount));
    for (int b = 0; b < blockCount; ++b)
        std::memcpy(def.acsBlocks[size_t(b)].bytes.data(),
            data + blocksAt + size_t(AcsBlockSize) * size_t(b), AcsBlockSize);
    for (const Key& key : def.keys)
        for (const Segment& s : key.segments)
            if ((s.flags & keyflag::Acs) && def.acsBlocks[s.acsNumber].signature() != AcsSignature)
                return InvalidCollatingSequence;

    out = std::move(def);
    return Success;
}

} // namespace recman
