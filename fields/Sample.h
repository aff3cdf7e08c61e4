// The records inference looks at, read from an open data file through TWinBtr: all of them in a
// small file, in a large one a sample spread evenly over the whole file in physical order, the
// same records on every run.
#pragma once

#include "Inference.h"
#include "WinBtr.h"

#include <cstdint>

namespace fields {

// How many records of `recordLength` bytes a sample holds at most: enough for every reading to
// show itself, few enough that inference takes a fraction of a second whatever the file's size.
uint32_t sampleLimit(uint32_t recordLength);

// Steps through every record of the open file and keeps one of every k, k chosen from `counted`
// (the record count Stat gives, without a scan) so that at most `limit` are kept, each at a
// scattered but fixed place in its run of k; when the file holds more records than it said, the
// sample is thinned to every other record and k doubled.
// The sample's fileRecords is the number of records read. Returns 0, or the status that stopped
// the read (the sample then holds the records before it). The file's key number and Step use are
// left as they were.
int16_t readSample(TWinBtr& file, uint64_t counted, uint32_t limit, RecordSample& sample);

// The same number of records without reading the whole file: short runs of consecutive records
// in physical order, each begun by Get By Percentage at evenly spaced points, so that a window
// opening a file of millions of records reads a few thousand. A file of fewer than twice `limit`
// records (as `counted` says) is read whole by readSample. Same result and file state otherwise.
int16_t readSpreadSample(TWinBtr& file, uint64_t counted, uint32_t limit, RecordSample& sample);

} // namespace fields
