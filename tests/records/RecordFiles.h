// Data files for the records window's tests: our own, made through the record manager, and the
// vendor's formats, made by the synthetic writer, all holding the same records.
//
// Record i (0-based) of n: bytes 0-3 its id, a 4-byte integer (i * 7919 mod n when n is not a
// multiple of 7919: every id once, out of insertion order); bytes 4-23 a name of 20 characters,
// "NAME nnnn" blank-padded, with 50 different names; bytes 24-27 a date; bytes 28-39 blanks.
// Key 0: the id, unique, not modifiable. Key 1: the name, duplicates allowed, modifiable.
#pragma once

#include "LegacyWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace recordstest {

constexpr uint16_t RecordLength = 40;
constexpr uint32_t Names = 50;

uint32_t idOf(uint32_t i, uint32_t n);
std::vector<uint8_t> record(uint32_t i, uint32_t n);
// The id of a record's bytes.
uint32_t idIn(const std::vector<uint8_t>& record);

// Our own file of n records. `nullKey`: a third key over bytes 28-31, left out when all blank
// (null), set on every third record only.
void makeOwnFile(const std::string& path, uint32_t n, bool nullKey = false);
// The same records in a file of the vendor's format `version`, compressed or not.
legacytest::WrittenLayout makeLegacyFile(
    const std::string& path, uint32_t n, uint16_t version, bool compressed = false);

// The whole file's bytes, to check that a read-only file was not touched.
std::vector<char> fileBytes(const std::string& path);

} // namespace recordstest
