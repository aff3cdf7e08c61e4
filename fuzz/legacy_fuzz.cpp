// The legacy reader against any bytes: the input is written as a data file and opened through the
// entry point, with an owner name; when it opens, Stat, Step through every record and Get through
// every key, both ways, and reach what they found by position, value and percentage. A file the
// reader takes must answer every call with a status, end every walk, give no key more records
// than Step gives when both walks reach the end, refuse every write, and refuse a handle opened
// without an owner name its records exactly when they are encrypted.
#include "DefinitionLayout.h"
#include "FileFacts.h"
#include "FuzzSupport.h"
#include "LegacySeeds.h"
#include "LittleEndian.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Bounds the walks so that a file which makes a chain loop is found as a hang, not as a run
// that never ends.
constexpr uint32_t MaxRecords = 200000;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, fuzz::writeLegacySeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto path = fuzz::scratchPath("input.dat");
    fuzz::writeFile(path, data, size);

    // Opened with an owner name, so that encrypted records are read too.
    fuzz::Call call;
    call.data.assign(65535, 0);
    std::memcpy(call.data.data(), "FUZZ", 5);
    if (call.open(path, btr::mode::ReadOnly) != btr::status::Success)
        return 0;
    call.data.assign(65535, 0);
    // Without one, records encrypted under it answer 51, and only those.
    {
        fuzz::Call nameless;
        nameless.data.assign(65535, 0);
        if (nameless.open(path, btr::mode::ReadOnly) != btr::status::Success)
            fuzz::fail("a file opened with an owner name does not open without one");
        if (nameless(btr::op::FileFacts, 0) != btr::status::Success)
            fuzz::fail("the file facts failed");
        const bool encrypted = btr::le::get16(nameless.data.data() + btr::facts::at::Features)
            & btr::facts::Encrypted;
        if ((nameless(btr::op::StepFirst, 0) == btr::status::OwnerNameRequired) != encrypted)
            fuzz::fail("Step without an owner name answers 51 when, and only when, the records "
                       "are encrypted");
        nameless(btr::op::Close, 0);
    }
    if (call(btr::op::Stat, 0) == btr::status::Success) {
        const uint8_t* image = call.data.data();
        const int keys = int16_t(btr::le::get16(image + btr::layout::file::NumIndexes));
        std::vector<uint32_t> positions;
        const fuzz::Walk step
            = fuzz::walk(call, btr::op::StepFirst, btr::op::StepNext, 0, MaxRecords, &positions);
        fuzz::browse(call, -1, step, positions, data, size, MaxRecords);
        for (int k = 0; k < keys && k < 128; ++k) {
            positions.clear();
            const fuzz::Walk got
                = fuzz::walk(call, btr::op::GetFirst, btr::op::GetNext, k, MaxRecords, &positions);
            fuzz::browse(call, k, got, positions, data, size, MaxRecords);
            // A key with null values leaves records out; none gives more than Step. A walk that
            // meets a damaged page ends there with its status (2), so only whole walks compare.
            const bool whole
                = got.end == btr::status::EndOfFile && step.end == btr::status::EndOfFile;
            if (whole && got.records > step.records)
                fuzz::fail("key " + std::to_string(k) + " gives " + std::to_string(got.records)
                    + " records, Step " + std::to_string(step.records));
        }
    }
    // Writes are refused on a legacy file, whatever it holds.
    if (call(btr::op::Insert, 0) == btr::status::Success)
        fuzz::fail("Insert into a legacy file answered 0");
    if (call(btr::op::Update, 0) == btr::status::Success
        || call(btr::op::Delete, 0) == btr::status::Success)
        fuzz::fail("Update or Delete of a legacy file answered 0");
    if (call(btr::op::Close, 0) != btr::status::Success)
        fuzz::fail("Close of an open file failed");
    return 0;
}
