// Salvage reading against any bytes: the input is written as a data file and opened through the
// entry point in the salvage mode with an owner name, without a definition and, when that finds
// none, with one given in the Open data buffer; then Stat, Step through every rescued record, and
// the report. A file salvage takes must answer every call with a status, give exactly as many
// records as its report and its Stat say, refuse Gets and writes, and end every walk.
#include "DefinitionLayout.h"
#include "FuzzSupport.h"
#include "LegacySeeds.h"
#include "LittleEndian.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr uint32_t MaxRecords = 2000000;

// A definition a caller might give for a file whose control records are lost: 40-byte records
// on 1024-byte pages, one unsigned 4-byte key.
fuzz::Bytes givenDefinition()
{
    namespace f = btr::layout::file;
    namespace s = btr::layout::segment;
    fuzz::Bytes image(btr::layout::HeaderSize + btr::layout::SegmentSize, 0);
    btr::le::put16(&image[f::RecordLength], 40);
    btr::le::put16(&image[f::PageSize], 1024);
    btr::le::put16(&image[f::NumIndexes], 1);
    uint8_t* segment = &image[btr::layout::HeaderSize];
    btr::le::put16(segment + s::Position, 1);
    btr::le::put16(segment + s::Length, 4);
    btr::le::put16(segment + s::KeyFlags, btr::keyflag::ExtendedType);
    segment[s::ExtendedType] = btr::exttype::Unsigned;
    return image;
}

void exercise(fuzz::Call& call, const uint8_t* input, size_t size)
{
    if (call(btr::op::Stat, 0) != btr::status::Success)
        fuzz::fail("Stat of a salvaged file failed");
    const uint32_t counted = btr::le::get32(call.data.data() + btr::layout::file::NumRecords);
    std::vector<uint32_t> positions;
    const fuzz::Walk step
        = fuzz::walk(call, btr::op::StepFirst, btr::op::StepNext, 0, MaxRecords, &positions);
    const uint32_t stepped = step.records;
    if (step.end != btr::status::EndOfFile)
        fuzz::fail("Step ended with status " + std::to_string(step.end));
    fuzz::browse(call, -1, step, positions, input, size, MaxRecords);
    if (call(btr::op::SalvageReport, 0) != btr::status::Success)
        fuzz::fail("the salvage report failed");
    const uint8_t* report = call.data.data();
    const uint32_t rescued = btr::le::get32(report + btr::salvage::report::Rescued);
    const uint32_t partial = btr::le::get32(report + btr::salvage::report::Partial);
    if (rescued != stepped || counted != stepped || partial > rescued)
        fuzz::fail("Step gave " + std::to_string(stepped) + " records, the report "
            + std::to_string(rescued) + " (" + std::to_string(partial) + " partial), Stat "
            + std::to_string(counted));
    if (call(btr::op::GetFirst, 0) == btr::status::Success)
        fuzz::fail("Get First on a salvaged file answered 0");
    if (call(btr::op::Insert, 0) == btr::status::Success)
        fuzz::fail("Insert into a salvaged file answered 0");
    if (call(btr::op::Close, 0) != btr::status::Success)
        fuzz::fail("Close of a salvaged file failed");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, fuzz::writeLegacySeeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto path = fuzz::scratchPath("input.dat");
    static const fuzz::Bytes definition = givenDefinition();
    fuzz::writeFile(path, data, size);

    fuzz::Call call;
    call.data.assign(65535, 0);
    // The owner name, alone or after the definition, so that encrypted records are read too.
    static const fuzz::Bytes owner = {'F', 'U', 'Z', 'Z', 0};
    fuzz::Bytes withOwner = definition;
    withOwner.insert(withOwner.end(), owner.begin(), owner.end());
    for (const int8_t mode : {btr::mode::Salvage, btr::mode::SalvageWholeOnly}) {
        call.data = owner;
        int16_t st = call.open(path, mode);
        call.data.assign(65535, 0);
        if (st == btr::status::IoError) {
            // Nothing of its own to read it with: the caller's definition in the data buffer.
            call.data = withOwner;
            st = call.open(path, mode);
            call.data.assign(65535, 0);
        }
        if (st == btr::status::Success)
            exercise(call, data, size);
    }
    return 0;
}
