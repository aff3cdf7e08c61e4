#include "Sample.h"

#include "CopyRecords.h"

#include <algorithm>

namespace fields {

uint32_t sampleLimit(uint32_t recordLength)
{
    constexpr uint32_t Bytes = 16U << 20;
    return std::clamp<uint32_t>(Bytes / std::max<uint32_t>(recordLength, 1), 1000, 20000);
}

int16_t readSample(TWinBtr& file, uint64_t counted, uint32_t limit, RecordSample& sample)
{
    limit = std::max<uint32_t>(limit, 1);
    const bool useStep = file.UseStep;
    uint64_t stride = std::max<uint64_t>(1, (counted + limit - 1) / limit);
    uint64_t read = 0;
    file.UseStep = true;
    const int16_t status = readEveryRecord(file, [&] {
        if (read % stride == 0) {
            if (sample.size() >= limit) {
                sample.thin();
                stride *= 2;
            }
            if (read % stride == 0)
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
