// Layout discovery: the named, typed fields a file's records most likely hold, proposed from the
// records themselves for the bytes that no known field (a key, a dictionary's field) covers.
//
// Inference is a pure function of the known layout and a sample of records: it reads no file, so
// that it is tested on bytes and measured on millions of records. Each reading of a run of bytes
// (text of three kinds, integers, floats, dates, times, timestamps, packed and ASCII decimals,
// logicals) is scored over every sampled record by how cheaply it describes the values it finds,
// in bits, against keeping the bytes as hex; the cheapest cover of each run of unknown bytes
// wins. A reading whose values are not valid (or not plausible: a date in 1066, a float of
// 10^200, text of control characters) in nearly every record where the bytes are not blank is
// never proposed, so bytes no reading explains stay hex fillers.
#pragma once

#include "Layout.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fields {

// Records of one file, each cut or zero-filled to the fixed part, one after another.
class RecordSample
{
public:
    explicit RecordSample(uint32_t recordLength = 0)
        : recordLength_(recordLength)
    { }

    uint32_t recordLength() const { return recordLength_; }
    size_t size() const { return recordLength_ ? bytes_.size() / recordLength_ : count_; }
    bool empty() const { return size() == 0; }
    const uint8_t* record(size_t i) const { return bytes_.data() + i * recordLength_; }

    // Keeps the fixed part of a record of n bytes (zero-filled when shorter).
    void add(const uint8_t* p, size_t n);
    // Keeps every other record (the first, the third, ...): a sample that grew past its limit
    // thinned out evenly.
    void thin();
    void clear();

    // How many records the file holds, when the sample is part of them (for the evidence).
    uint64_t fileRecords = 0;

private:
    uint32_t recordLength_;
    size_t count_ = 0; // records of a zero-length fixed part
    std::vector<uint8_t> bytes_;
};

// The layout `known` with its fillers (the bytes none of its fields covers) read afresh from the
// sample: inferred fields, named by type and 1-based position (text_51, int_14, date_17, ...),
// with source Inferred and their evidence, and fillers for what is left. Known fields keep their
// names and types; the variable part stays as it is. `decoder` turns text examples in the
// evidence into UTF-8. Without records the layout is `known` as it is.
Layout inferLayout(const Layout& known, const RecordSample& sample, TextDecoder& decoder);

} // namespace fields
