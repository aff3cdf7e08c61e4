// What a store holds, as both its creation and the open data file name it: the identification
// SQLite's header carries, the records table's key columns and the counters' names.
#pragma once

#include "Definition.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace recman::store {

// `PRAGMA application_id` of our stores ("VrnK") and the format version in `user_version`.
constexpr int32_t ApplicationId = 0x56726e4b;
constexpr int32_t FormatVersion = 1;

// Name of the records column (and, with "records_" before it, of the index) that holds the
// encoded value of keys[index].
inline std::string keyColumn(size_t index)
{
    std::string name = std::to_string(index);
    name.insert(name.begin(), 'k');
    return name;
}

// Counters: "records", and per key "k<index>.values" (distinct values) and, for an autoincrement
// key, "k<index>.highest" (the highest value present).
constexpr const char* RecordsCounter = "records";
constexpr const char* ValuesSuffix = ".values";
constexpr const char* HighestSuffix = ".highest";

inline bool isAutoincrement(const Key& key)
{
    // Create lets an autoincrement key have only one segment, of 2, 4 or 8 bytes.
    return key.autoincrement() && key.segments.size() == 1;
}

} // namespace recman::store
