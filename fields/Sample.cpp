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

int16_t readSpreadSample(TWinBtr& file, uint64_t counted, uint32_t limit, RecordSample& sample)
{
    constexpr uint32_t RunLength = 8;
    limit = std::max<uint32_t>(limit, 1);
    if (counted < uint64_t(limit) * 2)
        return readSample(file, counted, limit, sample);
    // A percentage has 10001 values: no more runs than that.
    const uint32_t runs = std::clamp<uint32_t>(limit / RunLength, 2, btr::WholePercentage + 1);
    const bool useStep = file.UseStep;
    file.UseStep = true;
    int16_t status = btr::status::Success;
    for (uint32_t run = 0; run < runs && status == btr::status::Success; ++run) {
        const auto percent = uint16_t(uint64_t(run) * btr::WholePercentage / (runs - 1));
        status = file.GetByPercentage(percent);
        for (uint32_t i = 0; i < RunLength && status == btr::status::Success; ++i) {
            sample.add(file.Buffer, file.ReturnedLength);
            if (i + 1 < RunLength)
                status = file.GetNext();
        }
        // The last run ends at the file's end.
        if (status == btr::status::EndOfFile)
            status = btr::status::Success;
    }
    file.UseStep = useStep;
    sample.fileRecords = counted;
    return status;
}

} // namespace fields
