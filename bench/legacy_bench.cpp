// How long opening and copying a legacy file takes, and how much memory it needs, through
// BTRCALLID as the program's Copy does it: Open, Stat, Create a store from the Stat image, then
// Get First / Get Next on key 0 with one Insert per record.
//
//   varnok_legacy_bench [file]        a legacy file (default: the largest fixture)
//   varnok_legacy_bench --v5 N        a 5.x file of N records (default 1000000) made for the run
#include "BtrCall.h"
#include "ByteVector.h"
#include "NativeFixtures.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using testsupport::put16;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

long peakKiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

struct Btr
{
    uint8_t pos[btr::PositionBlockSize] {};
    uint8_t key[btr::KeyBufferSize] {};
    std::vector<uint8_t> data = std::vector<uint8_t>(65535);
    uint16_t length = 0;

    int16_t call(uint16_t op, int keyNumber, uint16_t offered)
    {
        length = offered;
        return BTRCALLID(op, pos, data.data(), &length, key, 255, uint8_t(keyNumber), nullptr);
    }
    int16_t named(uint16_t op, const std::string& path, int keyNumber, uint16_t offered)
    {
        std::memset(key, 0, sizeof key);
        std::strncpy(reinterpret_cast<char*>(key), path.c_str(), sizeof key - 1);
        return call(op, keyNumber, offered);
    }
};

void putHiLo(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    put16(b, at, uint16_t(v >> 16));
    put16(b, at + 2, uint16_t(v));
}

// A 5.x file of `records` 100-byte records on 4096-byte pages: key 0 a unique 4-byte integer at
// position 1, key 1 a 2-byte integer with duplicates (1000 values) at position 5. Only what the
// reader looks at is written: the control record and the data pages.
void makeV5(const std::string& path, uint32_t records)
{
    const uint32_t pageSize = 4096, recordLength = 100, physical = 108;
    const uint32_t perPage = (pageSize - 6) / physical;
    const uint32_t pages = 1 + (records + perPage - 1) / perPage;
    std::vector<uint8_t> page(pageSize, 0);
    page[7] = 4;
    put16(page, 0x08, uint16_t(pageSize));
    putHiLo(page, 0x10, 0xFFFFFFFF);
    put16(page, 0x14, 2);
    put16(page, 0x16, uint16_t(recordLength));
    put16(page, 0x18, uint16_t(physical));
    putHiLo(page, 0x1A, records);
    putHiLo(page, 0x26, pages);
    const uint16_t flags[2] = {0x0100, 0x0101};
    const uint16_t position[2] = {0, 4}, length[2] = {4, 2};
    for (int k = 0; k < 2; ++k) {
        size_t spec = 0x110 + 30 * size_t(k);
        putHiLo(page, spec + 4, k == 0 ? records : 1000);
        put16(page, spec + 8, flags[k]);
        put16(page, spec + 0x0A, length[k]);
        put16(page, spec + 0x12, k == 1 ? uint16_t(recordLength) : 0);
        put16(page, spec + 0x14, position[k]);
        put16(page, spec + 0x16, length[k]);
        page[spec + 0x1C] = 1; // integer
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(page.data()), pageSize);
    uint32_t i = 0;
    for (uint32_t p = 1; p < pages; ++p) {
        std::fill(page.begin(), page.end(), 0);
        putHiLo(page, 0, p);
        put16(page, 4, 0x8001);
        for (uint32_t slot = 0; slot < perPage && i < records; ++slot, ++i) {
            size_t at = 6 + size_t(slot) * physical;
            uint32_t value = i * 2654435761u; // the records' key 0 order differs from page order
            std::memcpy(&page[at], &value, 4);
            put16(page, at + 4, uint16_t(i % 1000));
            std::memset(&page[at + 6], 'x', recordLength - 6);
        }
        out.write(reinterpret_cast<const char*>(page.data()), pageSize);
    }
}

int run(int argc, char** argv)
{
    std::string source = testsupport::fixturePath("WCCACMS2.DAT").string();
    const auto scratch = std::filesystem::temp_directory_path() / "varnok-legacy-bench";
    std::filesystem::create_directories(scratch);
    if (argc > 1 && std::string(argv[1]) == "--v5") {
        uint32_t records = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 1000000;
        source = (scratch / "MADE5.DAT").string();
        auto start = Clock::now();
        makeV5(source, records);
        std::printf("made a 5.x file of %u records (%.1f MB) in %.2f s\n", records,
            double(std::filesystem::file_size(source)) / 1e6, seconds(start));
    } else if (argc > 1) {
        source = argv[1];
    }
    const std::string dest = (scratch / "COPY.DAT").string();
    std::filesystem::remove(dest);
    std::printf(
        "source %s: %.1f MB\n", source.c_str(), double(std::filesystem::file_size(source)) / 1e6);
    long baseKiB = peakKiB();

    auto start = Clock::now();
    Btr from, to;
    if (int16_t s = from.named(btr::op::Open, source, 0, 0)) {
        std::printf("open: status %d\n", s);
        return 1;
    }
    from.call(btr::op::Stat, 0, btr::SpecBufferSize);
    std::vector<uint8_t> image(from.data.begin(), from.data.begin() + from.length);
    uint32_t records = uint32_t(image[6]) | uint32_t(image[7]) << 8 | uint32_t(image[8]) << 16
        | uint32_t(image[9]) << 24;
    std::printf("open + stat: %.3f s, peak memory +%ld KiB\n", seconds(start), peakKiB() - baseKiB);

    start = Clock::now();
    int16_t s = from.call(btr::op::GetFirst, 0, 65535);
    std::printf("first get on key 0 (sorts the key): %.3f s, peak memory +%ld KiB\n",
        seconds(start), peakKiB() - baseKiB);
    uint32_t walked = 0;
    start = Clock::now();
    for (; s == 0; s = from.call(btr::op::GetNext, 0, 65535))
        ++walked;
    std::printf("get next through %u records: %.3f s (status %d)\n", walked, seconds(start), s);

    start = Clock::now();
    std::copy(image.begin(), image.end(), to.data.begin());
    if ((s = to.named(btr::op::Create, dest, -1, uint16_t(image.size())))
        || (s = to.named(btr::op::Open, dest, 0, 0))) {
        std::printf("create/open destination: status %d\n", s);
        return 1;
    }
    uint32_t copied = 0;
    for (s = from.call(btr::op::GetFirst, 0, 65535); s == 0;
         s = from.call(btr::op::GetNext, 0, 65535)) {
        std::memcpy(to.data.data(), from.data.data(), from.length);
        if (int16_t w = to.call(btr::op::Insert, 0, from.length)) {
            std::printf("insert: status %d\n", w);
            break;
        }
        ++copied;
    }
    to.call(btr::op::Close, 0, 0);
    from.call(btr::op::Close, 0, 0);
    double copySeconds = seconds(start);
    std::printf("copy of %u of %u records: %.3f s (%.0f records/s), peak memory +%ld KiB\n", copied,
        records, copySeconds, copied / (copySeconds > 0 ? copySeconds : 1), peakKiB() - baseKiB);
    std::filesystem::remove_all(scratch);
    return copied == records ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varnok_legacy_bench: %s\n", e.what());
        return 1;
    }
}
