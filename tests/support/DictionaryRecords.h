// Records of the three data dictionary files (FILE.DDF, FIELD.DDF, INDEX.DDF) and definitions to
// create them with, for tests that build dictionaries. The layouts are spelled out here on their
// own, not taken from the product, so that a wrong offset there cannot hide behind a test.
#pragma once

#include "ByteVector.h"
#include "DefinitionImage.h"

#include <cstdint>
#include <string>

namespace testsupport {

// FILE.DDF: id (2), name (20), location (64), flags (1), reserved (10): 97 bytes.
inline Bytes tableRecord(
    uint16_t id, const std::string& name, const std::string& location, uint8_t flags = 0)
{
    Bytes r(97, 0);
    put16(r, 0, id);
    std::fill(r.begin() + 2, r.begin() + 86, ' ');
    std::copy(name.begin(), name.begin() + std::min<size_t>(name.size(), 20), r.begin() + 2);
    std::copy(
        location.begin(), location.begin() + std::min<size_t>(location.size(), 64), r.begin() + 22);
    r[86] = flags;
    return r;
}

// FIELD.DDF: id (2), table (2), name (20), type (1), offset (2), size (2), decimals (1),
// flags (2): 32 bytes.
inline Bytes fieldRecord(uint16_t id, uint16_t table, const std::string& name, uint8_t type,
    uint16_t offset, uint16_t size, uint8_t decimals = 0, uint16_t flags = 0)
{
    Bytes r(32, 0);
    put16(r, 0, id);
    put16(r, 2, table);
    std::fill(r.begin() + 4, r.begin() + 24, ' ');
    std::copy(name.begin(), name.begin() + std::min<size_t>(name.size(), 20), r.begin() + 4);
    r[24] = type;
    put16(r, 25, offset);
    put16(r, 27, size);
    r[29] = decimals;
    put16(r, 30, flags);
    return r;
}

// INDEX.DDF: table, field, key number, segment, flags; 16 bits each.
inline Bytes indexRecord(
    uint16_t table, uint16_t field, uint16_t number, uint16_t part, uint16_t flags = 0)
{
    Bytes r(10, 0);
    put16(r, 0, table);
    put16(r, 2, field);
    put16(r, 4, number);
    put16(r, 6, part);
    put16(r, 8, flags);
    return r;
}

// The three files' definitions: FILE.DDF keyed by id (unique) and by name, FIELD.DDF by id,
// INDEX.DDF by table (duplicates).
inline DefinitionImage fileDdfDefinition()
{
    DefinitionImage d;
    d.recordLength = 97;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 2, 0x0100, 0, 1}});
    d.addKey({SegmentEntry {3, 20, 0x0500, 0, 0}});
    return d;
}

inline DefinitionImage fieldDdfDefinition()
{
    DefinitionImage d;
    d.recordLength = 32;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 2, 0x0100, 0, 1}});
    return d;
}

inline DefinitionImage indexDdfDefinition()
{
    DefinitionImage d;
    d.recordLength = 10;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 2, 0x0101, 0, 1}});
    return d;
}

} // namespace testsupport
