// The key codec: turns a record's key segments into one byte string whose unsigned byte order
// (memcmp, shorter first on a common prefix) is the record manager's order for that key. It is the
// one place that knows collation rules; our store's indexes and the legacy reader both sort by it.
#pragma once

#include "Definition.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace recman {

class KeyCodec
{
public:
    // `acsBlocks` must outlive the codec (the definition's blocks).
    KeyCodec(const Key& key, const std::vector<AcsBlockDef>& acsBlocks);

    // Encodes the key of `record` (`recordLength` bytes; a segment beyond the record's end reads
    // as zero bytes) into `out`, replacing its contents; no allocation once `out` has grown.
    // Returns false when the key is null for this record (it is then left out of the index).
    bool encode(const uint8_t* record, size_t recordLength, std::vector<uint8_t>& out) const;

    // The key value as the caller sees it in the key buffer: the segments' bytes concatenated.
    size_t valueLength() const { return valueLength_; }
    void extractValue(const uint8_t* record, size_t recordLength, uint8_t* out) const;

private:
    const Key& key_;
    const std::vector<AcsBlockDef>& acs_;
    size_t valueLength_ = 0;
};

} // namespace recman
