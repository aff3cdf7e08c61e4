// Compressed records: the stream a compressed file keeps for each record, decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace recman::legacy {

// Decodes the whole `stream` (literal and run blocks in turn, beginning with a literal one) and
// appends what it gives to `out`. False, with `out` as it was, when the stream does not decode: a
// count runs past what is left, a block is cut off, or the record would grow past `most` bytes.
bool decompress(const uint8_t* stream, size_t length, size_t most, std::vector<uint8_t>& out);

} // namespace recman::legacy
