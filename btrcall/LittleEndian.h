// Little-endian numbers as the definition layout, records and legacy pages hold them. Every layer
// reads and writes multi-byte numbers through these; nothing else spells out the byte order.
#pragma once

#include <cstdint>

namespace btr::le {

inline uint16_t get16(const uint8_t* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

// An unsigned number of `width` bytes, 1 to 8 (key values of any integer width).
inline uint64_t getN(const uint8_t* p, int width)
{
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

inline void putN(uint8_t* p, int width, uint64_t v)
{
    for (int i = 0; i < width; ++i, v >>= 8)
        p[i] = uint8_t(v);
}

// The same through a char or void pointer, for buffers the caller types as it likes.
inline uint16_t get16(const void* p)
{
    return get16(static_cast<const uint8_t*>(p));
}
inline uint32_t get32(const void* p)
{
    return get32(static_cast<const uint8_t*>(p));
}
inline void put16(void* p, uint16_t v)
{
    put16(static_cast<uint8_t*>(p), v);
}
inline void put32(void* p, uint32_t v)
{
    put32(static_cast<uint8_t*>(p), v);
}

} // namespace btr::le
