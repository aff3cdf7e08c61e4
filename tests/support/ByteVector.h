// Little-endian numbers in the byte vectors tests and benchmarks build, through the contract's
// own helpers. An offset past the end throws instead of writing beyond the buffer.
#pragma once

#include "LittleEndian.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// Throws when the `width` bytes from `at` do not lie inside `b`.
inline void checkRange(const Bytes& b, size_t at, size_t width)
{
    if (at > b.size() || width > b.size() - at)
        throw std::out_of_range("offset past the end of a test buffer");
}

inline void put16(Bytes& b, size_t at, uint16_t v)
{
    checkRange(b, at, 2);
    btr::le::put16(b.data() + at, v);
}

inline void put32(Bytes& b, size_t at, uint32_t v)
{
    checkRange(b, at, 4);
    btr::le::put32(b.data() + at, v);
}

inline uint16_t get16(const Bytes& b, size_t at)
{
    checkRange(b, at, 2);
    return btr::le::get16(b.data() + at);
}

inline uint32_t get32(const Bytes& b, size_t at)
{
    checkRange(b, at, 4);
    return btr::le::get32(b.data() + at);
}

} // namespace testsupport
