// Definition images as a caller of Create lays them out: the 16-byte file header, one 16-byte
// entry per key segment, the 265-byte collating-sequence blocks, and filler up to the buffer's
// length. The layout is written out here on its own rather than taken from the product's headers,
// so that a wrong offset there cannot hide behind a test that shares it.
#pragma once

#include "BtrCall.h"
#include "ByteVector.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// The key flag bits the builder sets on its own when it chains a key's segments.
constexpr uint16_t AnotherSegmentFollows = 0x0010;
constexpr uint16_t ExtendedTypeKey = 0x0100;

struct SegmentEntry
{
    uint16_t position = 1;
    uint16_t length = 10;
    uint16_t flags = 0;
    uint32_t numKeyValues = 0;
    uint8_t extType = 0;
    uint8_t nullValue = 0;
    uint16_t reserved = 0;
    uint8_t manualKeyNumber = 0;
    uint8_t acsNumber = 0;
};

struct DefinitionImage
{
    uint16_t recordLength = 100;
    uint16_t pageSize = 4096;
    int16_t numIndexes = 0;
    uint32_t numRecords = 0;
    uint16_t fileFlags = 0;
    uint8_t duplicatePointers = 0;
    uint8_t reserved = 0;
    uint16_t unusedPages = 0;
    std::vector<SegmentEntry> segments;
    std::vector<Bytes> blocks; // collating-sequence blocks, written after the last segment
    size_t length = btr::SpecBufferSize; // the image is cut or padded to this many bytes
    uint8_t filler = 0;

    // Appends one key and counts it: its segments, each but the last marked "another segment of
    // this key follows".
    DefinitionImage& addKey(std::vector<SegmentEntry> key);

    Bytes bytes() const;
};

// A collating-sequence block: signature byte, name (at most 8 bytes, NUL-padded), 256-byte table.
Bytes acsBlock(const std::string& name, const Bytes& table, uint8_t signature = 0xAC);

} // namespace testsupport
