#include "Sample.h"

#include "CopyRecords.h"

#include <algorithm>

namespace fields {

uint32_t sampleLimit(uint32_t recordLength)
{
    constexpr uint32_t Bytes = 16U << 20;
    return std::clamp<uint32_t>(Bytes / std::max<uint32_t>(recordLength, 1), 1000, 20000);
}

namespace {

// Which record of window k (of `stride` records each) the sample keeps: each window its own,
// scattered place, so that a file whose records repeat with the stride's period (every tenth a
// heading, say) is not seen in a single phase of it; the same places on every run.
uint64_t chosenIn(uint64_t window, uint64_t stride)
{
    uint64_t x = window + 0x9E37'79B9'7F4A'7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58'476D'1CE4'E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D0'49BB'1331'11EBULL;
    return (x ^ (x >> 31)) % stride;
}

} // namespace

int16_t readSample(TWinBtr& file, uint64_t counted, uint32_t limit, RecordSample& sample)
{
    limit = std::max<uint32_t>(limit, 1);
    const bool useStep = file.UseStep;
    uint64_t stride = std::max<uint64_t>(1, (counted + limit - 1) / limit);
    uint64_t read = 0;
    file.UseStep = true;
    auto chosen = [&] { return read % stride == chosenIn(read / stride, stride); };
    const int16_t status = readEveryRecord(file, [&] {
        if (chosen()) {
            if (sample.size() >= limit) {
                sample.thin();
                stride *= 2;
            }
            if (chosen())
                sample.add(file.Buffer, file.ReturnedLength);
        }
        ++read;
        return true;
    });
    file.UseStep = useStep;
    sample.fileRecords = read;
    return status == btr::status::EndOfFile ? btr::status::Success : status;
}

} // namespace fields
