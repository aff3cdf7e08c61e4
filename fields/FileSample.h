// What the code-page guess reads of a file: the names its data dictionary holds and the text
// fields of its first records. A sample, never the whole file: a million records cost a few
// thousand reads more, and the text of a file is in one code page from its first record to its
// last.
#pragma once

#include "CodePage.h"
#include "Dictionary.h"
#include "Layout.h"

class TWinBtr;

namespace fields {

// Records read for a sample at most.
constexpr uint32_t SampledRecords = 5000;

// Every name the dictionary holds: its tables' names and locations, its fields', indexes' and
// constraints' names.
void addNames(const Dictionary& dictionary, TextSample& sample);

// The text fields' bytes (the fields of string, zstring, lstring, note and lvar type) of the open
// file's first records in physical order, until the sample is full or `records` were read. The
// file is left as it was set to read (its key, or physical order), to be read from its start; a
// read that fails ends the sample, and the reading that follows meets the failure again.
void sampleRecords(
    TWinBtr& file, const Layout& layout, TextSample& sample, uint32_t records = SampledRecords);

} // namespace fields
