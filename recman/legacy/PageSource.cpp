#include "PageSource.h"

#include "Format.h"

#include <algorithm>

namespace recman::legacy {

void PageSource::decrypt(Cipher cipher, const Key& key, uint64_t plainEnd, uint32_t pageSize,
    uint64_t offset, uint8_t* bytes, size_t length)
{
    using format::owner::Rule2Span;
    using format::owner::Rule2Words;
    size_t i = offset < plainEnd ? size_t(std::min<uint64_t>(plainEnd - offset, length)) : 0;
    if (cipher == Cipher::Rule1) {
        for (; i < length; ++i)
            bytes[i] ^= key[(offset + i) % key.size()];
    } else if (cipher == Cipher::Rule2 && pageSize != 0) {
        for (; i < length; ++i) {
            const uint64_t o = (offset + i) % pageSize;
            bytes[i] ^= key[2 * ((o / Rule2Span) % Rule2Words) + (o % 2)];
        }
    }
}

} // namespace recman::legacy
