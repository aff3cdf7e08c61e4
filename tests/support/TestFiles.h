// Data files the tests of the layers above btrieve/ make and read back through TWinBtr and the
// record manager the test program links. Failures are test failures (GoogleTest assertions).
#pragma once

#include "ByteVector.h"
#include "DefinitionImage.h"

#include <string>
#include <vector>

namespace testsupport {

// Creates `path` from `definition` through the record manager; fails the test when refused.
void createFile(const std::string& path, const DefinitionImage& definition);
// Inserts every record (each at its own length); fails the test at the first refusal.
void insertRecords(const std::string& path, const std::vector<Bytes>& records);
// Every record of `path`: on `key` (Get First/Next), or in Step order with key -1.
std::vector<Bytes> readRecords(const std::string& path, int key = 0);

} // namespace testsupport
