// The key codec: turns a record's key segments into one byte string whose unsigned byte order
// (memcmp, shorter first on a common prefix) is the record manager's order for that key. It is the
// one place that knows collation rules; our store's indexes and the legacy reader both sort by it.
#pragma once

#include "Definition.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace recman {

class KeyCodec
{
public:
    // The codec keeps its own copy of what it needs from the key and the collating-sequence blocks,
    // so it may outlive them and be copied freely. A segment asking for a block that is not there
    // (Create refuses that, a damaged legacy file may not) collates by byte value.
    KeyCodec(const Key& key, const std::vector<AcsBlockDef>& acsBlocks);

    // Encodes the key of `record` (`recordLength` bytes; a segment beyond the record's end reads
    // as zero bytes) into `out`, replacing its contents; no allocation once `out` has grown.
    // Returns false when the key is null for this record (it is then left out of the index).
    bool encode(const uint8_t* record, size_t recordLength, std::vector<uint8_t>& out) const;

    // The longest encoding this key can produce; reserving it in `out` makes encode
    // allocation-free.
    size_t maxEncodedLength() const { return maxEncodedLength_; }

    // The key value as the caller sees it in the key buffer: the segments' bytes concatenated.
    size_t valueLength() const { return valueLength_; }
    void extractValue(const uint8_t* record, size_t recordLength, uint8_t* out) const;

    // Encodes a key value as the key buffer holds it (`valueLength()` bytes, the segments' bytes
    // one after the other) into `out`, whether or not it is null: a Get that searches for a value
    // places even a null one in the key's order. Returns false when the value is null for the key.
    bool encodeValue(const uint8_t* value, std::vector<uint8_t>& out) const;

private:
    // One segment, prepared once: where it lies, how it is turned into bytes and, for string-like
    // segments, the byte map (collating sequence or case folding) or none.
    struct Plan
    {
        size_t offset = 0; // 0-based position in the record
        size_t length = 0;
        size_t valueOffset = 0; // where the segment lies in a key value
        SegmentType type = SegmentType::String;
        bool descending = false;
        uint8_t nullValue = 0;
        int map = -1; // index into maps_, -1 for none
    };

    size_t encodeSegment(const Plan& plan, const uint8_t* bytes, uint8_t* out) const;
    template <typename SegmentBytes>
    bool encodeWith(SegmentBytes segment, std::vector<uint8_t>& out) const;

    std::vector<Plan> plans_;
    std::vector<AcsTable> maps_;
    bool nullAll_ = false;
    bool nullAny_ = false;
    size_t valueLength_ = 0;
    size_t maxEncodedLength_ = 0;
};

} // namespace recman
