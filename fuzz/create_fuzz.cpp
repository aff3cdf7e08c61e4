// Create against any definition image. A definition Create takes must make a file that opens,
// whose Stat image Create takes in turn (users clone files from their Stat), and that gives back a
// record of its length once stored.
#include "DefinitionLayout.h"
#include "DefinitionSeeds.h"
#include "FuzzSupport.h"
#include "LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

bool create(const std::filesystem::path& path, const uint8_t* image, size_t size)
{
    fuzz::Call call;
    call.data.assign(image, image + std::min<size_t>(size, 65535));
    const std::string name = path.string();
    std::memcpy(call.keyBuffer, name.c_str(), std::min(name.size(), sizeof call.keyBuffer - 1));
    return call(btr::op::Create, btr::create::Replace) == btr::status::Success;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, [](const fuzz::SeedSink& sink) {
        for (const auto& [name, bytes] : fuzz::definitionSeeds())
            sink(name, bytes);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const auto path = fuzz::scratchPath("created.dat");
    static const auto clone = fuzz::scratchPath("clone.dat");
    if (!create(path, data, size))
        return 0;

    fuzz::Call call;
    call.data.assign(65535, 0);
    if (call.open(path, btr::mode::Normal) != btr::status::Success)
        fuzz::fail("a file Create made does not open");
    if (call(btr::op::Stat, 0) != btr::status::Success)
        fuzz::fail("Stat of a file Create made failed");
    const fuzz::Bytes image(call.data.begin(), call.data.begin() + call.dataLength);
    if (!create(clone, image.data(), image.size()))
        fuzz::fail("Create refuses the Stat image of a file it made");

    const uint16_t length = btr::le::get16(image.data() + btr::layout::file::RecordLength);
    fuzz::Bytes record(length);
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = size ? data[i % size] : 0;
    call.data = record;
    const int16_t inserted = call(btr::op::Insert, 0);
    call.data.assign(65535, 0);
    // A key-only file has no physical order to step through: its records come back by key.
    const bool keyOnly
        = btr::le::get16(image.data() + btr::layout::file::FileFlags) & btr::fileflag::KeyOnly;
    const int16_t first = call(keyOnly ? btr::op::GetFirst : btr::op::StepFirst, 0);
    // An autoincrement key takes a value of its own on Insert, so the length is what must come
    // back unchanged.
    if (inserted == btr::status::Success
        && (first != btr::status::Success || call.dataLength != record.size()))
        fuzz::fail("the record inserted does not come back: the first record answers "
            + std::to_string(first) + " with " + std::to_string(call.dataLength) + " of "
            + std::to_string(record.size()) + " bytes");
    if (call(btr::op::Close, 0) != btr::status::Success)
        fuzz::fail("Close failed");
    return 0;
}
