// One profile per format family: where the things every family has (page headers, slots, fragment
// chains, allocation tables, key specs) lie in that family's pages. The reading pipeline asks the
// profile and never the family, so a new family is a new entry here, not a second reader.
#pragma once

#include "Format.h"
#include "Format8.h"

#include <cstdint>

namespace recman::legacy {

enum class Family : uint8_t {
    V5,  // 3.x to 5.x: pages by their own number, no allocation tables
    V6,  // 6.x: logical pages through allocation tables of one page
    V8,  // 8.x and 9.0: the newer format, "v8" sub-layout
    V95, // 9.5
};

struct Profile
{
    Family family;
    bool tables;              // pages are logical, reached through allocation tables
    uint32_t dataHeader;      // a data page's slots begin here
    uint32_t variableHeader;  // a variable page's fragments begin here
    uint32_t fragmentCount;   // 16-bit, in a variable page
    uint32_t pointerSize;     // a pointer to a fragment
    bool everyFragmentLinked; // 5.x: only fragments whose table entry says so
    uint32_t acsBlock;        // where a collating-sequence page keeps its block
    uint32_t keySpecSize;     // bytes per key segment spec
    uint32_t stamp;           // 32-bit usage count of control records and tables
    uint32_t pageUsage;       // 16-bit usage count of a page (the data-page bit)
    uint32_t tableEntries;    // where an allocation table's entries begin
    uint32_t tableEntrySize;
    uint32_t pairCount; // in the control record: allocation-table pairs
};

inline const Profile& profileOf(Family family)
{
    using namespace format;
    static constexpr Profile v5 {Family::V5, false, PageHeaderSize, variable::HeaderSize, 10,
        VariablePointerSize, false, AcsBlockOffset, keyspec::Size, 0, page::Usage, 0, 0, 0};
    static constexpr Profile v6 {Family::V6, true, PageHeaderSize, variable::HeaderSize, 10,
        VariablePointerSize, true, AcsBlockOffset, keyspec::Size, v6::UsageCount, page::Usage,
        pat::HeaderSize, pat::EntrySize, v6::PairCount};
    static constexpr auto newer = [](Family f, const v8::SubLayout& s) {
        return Profile {f, true, s.dataHeader, s.variableHeader, s.fragmentCount,
            v8::slot::PointerSize, true, v8::AcsBlock, v8::KeySpecSize, s.usageCount, s.usageCount,
            s.tableEntries, s.tableEntrySize, v8::fcr::PairCount};
    };
    static constexpr Profile v8 = newer(Family::V8, v8::V8);
    static constexpr Profile v95 = newer(Family::V95, v8::V95);
    switch (family) {
    case Family::V5:
        return v5;
    case Family::V6:
        return v6;
    case Family::V8:
        return v8;
    case Family::V95:
        break;
    }
    return v95;
}

inline bool newerFormat(Family family)
{
    return family == Family::V8 || family == Family::V95;
}

// Page types, one code for every family: the newer format's 16-bit words ('D', 'V', 'A', 'P',
// 'C', 0x8000 | key number for index pages). 5.x pages say only whether they hold data.
namespace pagetype {
constexpr uint16_t Unknown = 0;
constexpr uint16_t Data = 'D';
constexpr uint16_t Variable = 'V';
constexpr uint16_t Acs = 'A';
constexpr uint16_t Table = 'P';
constexpr uint16_t Control = 'C';
constexpr uint16_t IndexBit = 0x8000;
} // namespace pagetype

// The type kept for a logical page in the page map: one byte (index pages all 0xFF; 0 a free page).
inline uint8_t shortType(uint16_t type)
{
    return (type & pagetype::IndexBit) ? 0xFF : uint8_t(type);
}

struct PageHeader
{
    uint32_t number = 0; // 5.x: the page's own number; else its logical page
    uint16_t type = pagetype::Unknown;
    uint16_t usage = 0;
};

inline PageHeader pageHeader(const Profile& profile, const uint8_t* page)
{
    using btr::le::get16;
    PageHeader h;
    switch (profile.family) {
    case Family::V5:
        h.number = format::hiLo(page + format::page::Number);
        h.usage = get16(page + format::page::Usage);
        h.type = (h.usage & format::page::DataPageBit) ? pagetype::Data : pagetype::Unknown;
        break;
    case Family::V6: {
        using namespace format::page;
        h.number = format::pageNumber(page[NumberHigh], page[NumberLow], page[NumberMiddle]);
        const uint8_t type = page[Type];
        h.type = type >= TypeIndexBit ? uint16_t(pagetype::IndexBit | (type & ~TypeIndexBit))
                                      : uint16_t(type);
        h.usage = get16(page + Usage);
        break;
    }
    case Family::V8:
    case Family::V95:
        h.number = btr::le::get32(page + format::v8::page::Number);
        h.type = get16(page + format::v8::page::Type);
        h.usage = get16(page + profile.pageUsage);
        break;
    }
    return h;
}

// Where allocation tables lie. A table (and a control record) is a structure of `unit` pages;
// pair k sits at `first + (k - 1) * stride`, its twin `twin` pages after it, and maps `perTable`
// logical pages.
struct TableGeometry
{
    uint32_t unit = 1;
    uint32_t perTable = 0;
    uint64_t first = 0;
    uint64_t stride = 0;
    uint32_t twin = 1;

    uint64_t pairPage(uint64_t k) const { return first + (k - 1) * stride; }
    // Whether physical page `p` is a table's place (a page no data lives on).
    bool tablePlace(uint64_t p) const
    {
        return p >= first && (p - first) % stride < uint64_t(2) * unit;
    }
};

inline TableGeometry tableGeometry(const Profile& profile, uint32_t pageSize)
{
    TableGeometry g;
    if (profile.family == Family::V6) {
        using namespace format::pat;
        g.perTable = (pageSize - HeaderSize) / EntrySize;
        g.first = FirstPage;
        g.stride = g.perTable + CopiesPerPair;
        return g;
    }
    if (!newerFormat(profile.family))
        return g;
    namespace v8 = format::v8;
    g.unit = v8::structurePages(pageSize);
    g.twin = g.unit;
    // Entries end where the formula of the format notes says: 15/16 of the structure.
    g.perTable = g.unit * pageSize * 15 / (16 * profile.tableEntrySize) - 2 * g.unit;
    g.first = uint64_t(v8::FirstTableStructure) * g.unit;
    g.stride = g.perTable + 2 * g.unit;
    return g;
}

// Whether a table structure begins as a copy of pair k does.
inline bool marksTable(const Profile& profile, const uint8_t* table, uint64_t k)
{
    if (profile.family == Family::V6)
        return format::pat::marksTable(table, k);
    namespace t = format::v8::table;
    return table[t::Mark] == 'P' && table[t::Mark + 1] == 'P'
        && (btr::le::get32(table) & t::PairMask) == k;
}

// One allocation-table entry: the physical page of a logical page and its type; `used` false for
// a logical page that is free or unused.
struct TableEntry
{
    uint32_t physical = 0;
    uint16_t type = pagetype::Unknown;
    bool used = false;
};

inline TableEntry tableEntry(const Profile& profile, const uint8_t* table, uint32_t e)
{
    const uint8_t* at = table + profile.tableEntries + size_t(profile.tableEntrySize) * (e - 1);
    TableEntry entry;
    if (profile.family == Family::V6) {
        using namespace format::pat;
        entry.physical = format::pageNumber(at[EntryHigh], at[EntryLow], at[EntryMiddle]);
        entry.type = at[EntryType];
        entry.used = entry.type != TypeFree;
        if (entry.type >= format::page::TypeIndexBit)
            entry.type = uint16_t(pagetype::IndexBit | (entry.type & ~format::page::TypeIndexBit));
        return entry;
    }
    namespace t = format::v8::table;
    entry.physical = btr::le::get32(at + t::EntryPhysical);
    entry.type = btr::le::get16(at + t::EntryType);
    entry.used = entry.physical != t::Unused;
    return entry;
}

// A pointer to a fragment of a variable-page chain: 5.x and 6.x [high][low][middle][fragment]
// (all 0xFF: the end), newer [32-bit page][16-bit fragment] (page 0xFFFFFFFF: the end).
struct FragmentRef
{
    uint32_t page = 0;
    uint32_t fragment = 0;
    bool end = true;
};

inline FragmentRef fragmentRef(const Profile& profile, const uint8_t* pointer)
{
    FragmentRef ref;
    if (newerFormat(profile.family)) {
        ref.page = btr::le::get32(pointer);
        ref.fragment = btr::le::get16(pointer + format::v8::slot::PointerFragment);
        ref.end = ref.page == format::v8::slot::NoPage;
        return ref;
    }
    using namespace format::variable;
    ref.page
        = format::pageNumber(pointer[PointerHigh], pointer[PointerLow], pointer[PointerMiddle]);
    ref.fragment = pointer[PointerFragment];
    ref.end = format::isEndOfChain(pointer);
    return ref;
}

} // namespace recman::legacy
