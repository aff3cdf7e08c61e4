// Little-endian numbers in the byte vectors tests and benchmarks build, through the contract's
// own helpers. An offset past the end throws instead of writing beyond the buffer.
#pragma once

#include "LittleEndian.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
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

// The bytes in hexadecimal, for failure messages: "0a ff 00 ".
inline std::string hex(const Bytes& b)
{
    std::string text;
    char digits[4];
    for (uint8_t c : b) {
        std::snprintf(digits, sizeof digits, "%02x ", c);
        text += digits;
    }
    return text;
}

// Byte vectors in byte order, for ordered containers. A vector's own operator< compares through
// memcmp, on which GCC 12 at -O2 and above reports a false -Wstringop-overread; an explicit
// element comparison does not take that path.
struct BytesLess
{
    bool operator()(const Bytes& a, const Bytes& b) const
    {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), std::less<>());
    }
};

} // namespace testsupport
