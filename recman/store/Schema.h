// What a store holds, as both its creation and the open data file name it: the identification
// SQLite's header carries, the records table's key columns and the counters' names.
#pragma once

#include "Definition.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace recman::store {

// `PRAGMA application_id` of our stores ("VrnK") and the format version in `user_version`.
// Version 1 keeps equal values of a key in position order only; version 2 gives each key with
// duplicates a sequence column, so that a record whose value an Update changes goes last among
// its new equals. Files of version 1 are read and written as they are, and brought to version 2
// when a process opens one for writing while no other has it open.
constexpr int32_t ApplicationId = 0x56726e4b;
constexpr int32_t FormatVersion = 2;
constexpr int32_t FirstFormatVersion = 1;

// Name of the records column (and, with "records_" before it, of the index) that holds the
// encoded value of keys[index].
inline std::string keyColumn(size_t index)
{
    std::string name = std::to_string(index);
    name.insert(name.begin(), 'k');
    return name;
}

// Name of the column that orders equal values of keys[index] when it allows duplicates (format
// version 2): the sequence number the record took that value with. The key's index is on both.
inline std::string sequenceColumn(size_t index)
{
    std::string name = std::to_string(index);
    name.insert(name.begin(), 's');
    return name;
}

// Counters: "records", "positions" (the highest position or sequence number ever given: neither
// is given twice, whatever was deleted), and per key "k<index>.values" (distinct values) and, for
// an autoincrement key, "k<index>.highest" (the highest value present).
constexpr const char* RecordsCounter = "records";
constexpr const char* PositionsCounter = "positions";
constexpr const char* ValuesSuffix = ".values";
constexpr const char* HighestSuffix = ".highest";

inline bool isAutoincrement(const Key& key)
{
    // Create lets an autoincrement key have only one segment, of 2, 4 or 8 bytes.
    return key.autoincrement() && key.segments.size() == 1;
}

} // namespace recman::store
