// The records of one key in key order: every record whose key is not null, as (encoded key,
// locator) pairs ordered by the encoded key, records with equal keys in the order of the file's
// duplicate chain (in step order where the key keeps no chain). The encoded keys live in one byte
// array; the records themselves are not copied.
#pragma once

#include "LegacyFile.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace recman::legacy {

class KeyOrder
{
public:
    size_t size() const { return entries_.size(); }
    Locator locator(size_t i) const { return makeLocator(entries_[i].dataPage, entries_[i].slot); }

    // Searches by an encoded key (the key codec's bytes; memcmp order, a shorter key first on a
    // common prefix): the first entry not before it, and the first entry after it.
    size_t lowerBound(const uint8_t* key, size_t length) const;
    size_t upperBound(const uint8_t* key, size_t length) const;
    // Entry i holds exactly this encoded key.
    bool holds(size_t i, const uint8_t* key, size_t length) const;
    // The entries of entry i's value: the first of them, and the one after the last.
    size_t groupBegin(size_t i) const;
    size_t groupEnd(size_t i) const;
    // Bytes the order holds (for reports on memory use).
    size_t memoryUse() const;

private:
    friend class LegacyFile;
    // 12 bytes per record, besides its encoded key.
    struct Entry
    {
        uint32_t offset; // of the encoded key in keys_
        uint32_t dataPage;
        uint16_t slot;
        uint16_t length; // of the encoded key
    };
    std::vector<uint8_t> keys_;
    std::vector<Entry> entries_;
};

} // namespace recman::legacy
