// What a records window asks of the record manager, timed on a large file of each kind: Get By
// Percentage (the scroll bar dragged), Find Percentage (where the rows shown lie), Get Greater or
// Equal (a value typed in), Get Direct (a row again by its position) and Get Previous (scrolling
// up), each the first time and then on average, with the peak memory.
//
//   varnok_browse_bench [N] [DIR]
//
// Writes a 6.0 file of N records (default 1000000) with the tests' synthetic writer (100-byte
// records, key 0 an 8-byte integer without duplicates in scrambled order, key 1 a 20-byte string
// of 5000 values with duplicates), copies it into one of our own files made by Create from its
// Stat, and times both. DIR defaults to a fresh directory under the system's temporary
// directory, removed afterwards.
#include "BenchFile.h"
#include "BtrCall.h"
#include "CopyRecords.h"
#include "LittleEndian.h"
#include "WinBtr.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::secondsSince;
namespace op = btr::op;
namespace st = btr::status;

constexpr int Calls = 200;

struct Btr
{
    uint8_t pos[btr::PositionBlockSize] {};
    uint8_t key[btr::KeyBufferSize] {};
    std::vector<uint8_t> data = std::vector<uint8_t>(65535);
    uint16_t length = 0;

    int16_t call(uint16_t operation, int keyNumber, uint16_t offered = 65535)
    {
        length = offered;
        return BTRCALLID(
            operation, pos, data.data(), &length, key, 255, uint8_t(keyNumber), nullptr);
    }
    uint32_t position()
    {
        uint8_t p[4] = {};
        uint16_t n = 4;
        BTRCALLID(op::GetPosition, pos, p, &n, key, 255, 0, nullptr);
        return btr::le::get32(p);
    }
};

// Runs `one(i)` `calls` times; the first call's time and the average of the others, in ms.
template <typename Call> bool timed(const char* what, int calls, Call one)
{
    auto start = Clock::now();
    if (!one(0))
        return false;
    const double first = secondsSince(start) * 1e3;
    start = Clock::now();
    for (int i = 1; i < calls; ++i) {
        if (!one(i))
            return false;
    }
    const double rest = secondsSince(start) * 1e3 / std::max(1, calls - 1);
    std::printf("  %-44s first %8.3f ms, then %8.4f ms a call\n", what, first, rest);
    return true;
}

bool failed(const char* what, int16_t status)
{
    std::fprintf(stderr, "%s: status %d (%s)\n", what, status, btr::statusText(status));
    return false;
}

bool browse(const std::string& path, uint32_t n, bool ours)
{
    std::printf("%s (%u records):\n", ours ? "our own file" : "6.0 file", n);
    Btr f;
    std::strncpy(reinterpret_cast<char*>(f.key), path.c_str(), sizeof f.key - 1);
    if (int16_t s = f.call(op::Open, 0, 0))
        return failed("open", s);
    std::mt19937 rng(7);
    std::vector<uint32_t> positions;
    const auto byPercentage = [&](int key) {
        return [&, key](int) {
            btr::le::put16(f.data.data(), uint16_t(rng() % 10001));
            if (int16_t s = f.call(op::GetByPercentage, key))
                return failed("Get By Percentage", s);
            positions.push_back(f.position());
            return true;
        };
    };
    if (!timed("Get By Percentage, key 0 (unique)", Calls, byPercentage(0))
        || !timed("Get By Percentage, key 1 (duplicates)", Calls, byPercentage(1))
        || !timed("Get By Percentage, physical order", Calls, byPercentage(-1)))
        return false;

    const auto findByValue = [&](int key) {
        return [&, key](int i) {
            btr::le::put32(f.data.data(), positions[size_t(i) % positions.size()]);
            if (int16_t s = f.call(op::GetDirect, key))
                return failed("Get Direct", s);
            // By key the value Get Direct left in the key buffer; in physical order the position.
            btr::le::put32(f.data.data(), positions[size_t(i) % positions.size()]);
            if (int16_t s = f.call(op::FindPercentage, key, 4))
                return failed("Find Percentage", s);
            return true;
        };
    };
    if (!timed("Get Direct + Find Percentage, key 0", Calls, findByValue(0))
        || !timed("Get Direct + Find Percentage, key 1", Calls, findByValue(1))
        || !timed("Get Direct + Find Percentage, physical", Calls, findByValue(-1)))
        return false;
    if (!timed("Get Greater or Equal, key 0", 1000, [&](int) {
            btr::le::putN(f.key, 8, rng() % (uint64_t(n) + 10));
            const int16_t s = f.call(op::GetGreaterOrEqual, 0);
            return s == st::Success || s == st::EndOfFile || failed("Get Greater or Equal", s);
        }))
        return false;
    if (!timed("Get Direct, key 0", 1000, [&](int i) {
            btr::le::put32(f.data.data(), positions[size_t(i) % positions.size()]);
            const int16_t s = f.call(op::GetDirect, 0);
            return s == st::Success || failed("Get Direct", s);
        }))
        return false;
    if (f.call(op::GetLast, 1) != st::Success)
        return failed("Get Last", f.call(op::GetLast, 1));
    if (!timed("Get Previous, key 1, from the end", 10000, [&](int) {
            const int16_t s = f.call(op::GetPrevious, 1);
            return s == st::Success || failed("Get Previous", s);
        }))
        return false;
    if (!timed("Get Direct + Get Previous, key 1", 1000, [&](int i) {
            btr::le::put32(f.data.data(), positions[size_t(i) % positions.size()]);
            const int16_t s = f.call(op::GetDirect, 1);
            const int16_t p = f.call(op::GetPrevious, 1);
            return (s == st::Success && (p == st::Success || p == st::EndOfFile))
                || failed("Get Direct + Get Previous", s ? s : p);
        }))
        return false;
    if (ours) {
        // A few rows edited (gone and added again): the ranks follow without a new count.
        for (int i = 0; i < 20; ++i) {
            btr::le::put32(f.data.data(), positions[size_t(i)]);
            if (f.call(op::GetDirect, -1) != st::Success)
                continue;
            const uint16_t length = f.length;
            if (int16_t s = f.call(op::Delete, -1))
                return failed("Delete", s);
            f.length = length;
            if (int16_t s = f.call(op::Insert, -1, length))
                return failed("Insert", s);
        }
        if (!timed("Get By Percentage, key 1, after 20 edits", Calls, byPercentage(1)))
            return false;
    }
    if (int16_t s = f.call(op::Close, 0, 4))
        return failed("close", s);
    std::printf("  peak resident memory so far: %.1f MiB\n", bench::peakRssMiB());
    return true;
}

bool run(const std::string& legacy, const std::string& ours, uint32_t n)
{
    auto start = Clock::now();
    legacytest::writeLegacyFile(legacy, bench::benchFileSpec(n));
    std::printf("wrote the 6.0 file in %.2f s\n", secondsSince(start));
    if (!browse(legacy, n, false))
        return false;

    start = Clock::now();
    TWinBtr source, destination;
    if (int16_t s = source.Open(legacy.c_str(), "", 0))
        return failed("open the 6.0 file", s);
    uint8_t spec[btr::SpecBufferSize] = {};
    source.StatTo(spec);
    destination.ClearKey(255);
    std::strncpy(reinterpret_cast<char*>(destination.KeyBuffer), ours.c_str(), 254);
    if (int16_t s = destination.CallWith(op::Create, spec, sizeof spec))
        return failed("create our own file", s);
    if (int16_t s = destination.Open(ours.c_str(), "", 0))
        return failed("open our own file", s);
    const CopyOutcome copied = copyRecords(source, destination, {});
    if (copied.failed())
        return failed("copy", copied.status);
    source.Close();
    destination.Close();
    std::printf("copied into our own file in %.2f s\n", secondsSince(start));
    return browse(ours, n, true);
}

} // namespace

int main(int argc, char** argv)
{
    const uint32_t n = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    std::optional<bench::ScratchDirectory> scratch;
    std::filesystem::path dir;
    if (argc > 2) {
        dir = argv[2];
    } else {
        scratch.emplace("varnok-browse-bench");
        dir = scratch->path();
    }
    const bool ok
        = run((dir / "BROWSE.DAT").string(), (dir / "BROWSE.BTR").string(), std::max(n, 2u));
    return ok ? 0 : 1;
}
