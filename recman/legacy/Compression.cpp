#include "Compression.h"

#include "Format.h"

namespace recman::legacy {

bool decompress(const uint8_t* stream, size_t length, size_t most, std::vector<uint8_t>& out)
{
    using format::compressed::CountSize;
    const size_t before = out.size();
    auto refuse = [&out, before] {
        out.resize(before);
        return false;
    };
    // A block of either kind may count 0 (a record that begins with a run has an empty literal
    // block first); the stream ends exactly after a whole block.
    size_t at = 0;
    for (bool literal = true; at < length; literal = !literal) {
        if (length - at < CountSize)
            return refuse();
        const size_t n = btr::le::get16(stream + at);
        at += CountSize;
        if (out.size() - before + n > most)
            return refuse();
        if (literal) {
            if (n > length - at)
                return refuse();
            out.insert(out.end(), stream + at, stream + at + n);
            at += n;
        } else {
            if (at == length)
                return refuse();
            out.insert(out.end(), n, stream[at]);
            ++at;
        }
    }
    return true;
}

} // namespace recman::legacy
