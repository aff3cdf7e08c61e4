#include "DefinitionImage.h"

#include <algorithm>

namespace testsupport {

namespace {

constexpr size_t HeaderSize = 16;
constexpr size_t SegmentSize = 16;
constexpr size_t AcsBlockSize = 265;
constexpr size_t AcsNameSize = 8;
constexpr size_t AcsTableSize = 256;

} // namespace

DefinitionImage& DefinitionImage::addKey(std::vector<SegmentEntry> key)
{
    for (size_t i = 0; i + 1 < key.size(); ++i)
        key[i].flags |= AnotherSegmentFollows;
    segments.insert(segments.end(), key.begin(), key.end());
    ++numIndexes;
    return *this;
}

Bytes DefinitionImage::bytes() const
{
    Bytes b(
        std::max(length, HeaderSize + SegmentSize * segments.size() + AcsBlockSize * blocks.size()),
        filler);
    put16(b, 0, recordLength);
    put16(b, 2, pageSize);
    put16(b, 4, uint16_t(numIndexes));
    put32(b, 6, numRecords);
    put16(b, 10, fileFlags);
    b[12] = duplicatePointers;
    b[13] = reserved;
    put16(b, 14, unusedPages);
    size_t at = HeaderSize;
    for (const SegmentEntry& s : segments) {
        put16(b, at, s.position);
        put16(b, at + 2, s.length);
        put16(b, at + 4, s.flags);
        put32(b, at + 6, s.numKeyValues);
        b[at + 10] = s.extType;
        b[at + 11] = s.nullValue;
        put16(b, at + 12, s.reserved);
        b[at + 14] = s.manualKeyNumber;
        b[at + 15] = s.acsNumber;
        at += SegmentSize;
    }
    for (const Bytes& block : blocks) {
        checkRange(b, at, block.size());
        std::copy(block.begin(), block.end(), b.begin() + long(at));
        at += AcsBlockSize;
    }
    b.resize(length);
    return b;
}

Bytes acsBlock(const std::string& name, const Bytes& table, uint8_t signature)
{
    Bytes block(AcsBlockSize, 0);
    block[0] = signature;
    std::copy_n(name.begin(), std::min(name.size(), AcsNameSize), block.begin() + 1);
    std::copy_n(
        table.begin(), std::min(table.size(), AcsTableSize), block.begin() + 1 + AcsNameSize);
    return block;
}

} // namespace testsupport
