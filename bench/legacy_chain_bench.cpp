// A large 6.x legacy file, the kind whose pages need many page allocation tables: how long it
// takes to open it, to get the first record on each key (which sorts that key) and to copy it
// through TWinBtr into a file made by Create from its Stat, and how much memory the whole run
// needs.
//
//   varnok_legacy_chain_bench [N] [DIR]
//
// Writes a 6.0 file of N records (default 1000000) on 4096-byte pages with the tests' synthetic
// writer: 100-byte records, key 0 an 8-byte integer without duplicates in scrambled order, key 1
// a 20-byte string of 5000 values with linked duplicates. DIR defaults to a fresh directory under
// the system's temporary directory, removed afterwards.
#include "BenchFile.h"
#include "BtrCall.h"
#include "CopyRecords.h"
#include "LegacyWriter.h"
#include "LittleEndian.h"
#include "WinBtr.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using bench::Clock;
using bench::peakRssMiB;
using bench::secondsSince;

bool fail(const char* what, int16_t status)
{
    std::fprintf(stderr, "%s: status %d (%s)\n", what, status, btr::statusText(status));
    return false;
}

bool run(const std::string& from, const std::string& to, uint32_t n)
{
    auto start = Clock::now();
    const legacytest::WrittenLayout layout
        = legacytest::writeLegacyFile(from, bench::benchFileSpec(n));
    std::printf("wrote %s: %u records, %u pages (%.1f MB), %u page allocation table pairs in "
                "%.2f s\n",
        from.c_str(), n, layout.physicalPages, double(std::filesystem::file_size(from)) / 1e6,
        layout.pairs, secondsSince(start));
    std::printf("peak resident memory after writing: %.1f MiB\n", peakRssMiB());

    TWinBtr source;
    start = Clock::now();
    if (int16_t s = source.Open(from.c_str(), "", 0))
        return fail("open the legacy file", s);
    uint8_t spec[btr::SpecBufferSize] = {};
    if (int16_t s = source.StatTo(spec))
        return fail("stat the legacy file", s);
    std::printf(
        "open + stat: %.1f ms (%u records)\n", secondsSince(start) * 1e3, btr::le::get32(spec + 6));

    for (uint8_t k = 0; k < 2; ++k) {
        source.KeyNumber = k;
        start = Clock::now();
        if (int16_t s = source.GetFirst())
            return fail("get first", s);
        std::printf("first get on key %u (sorts it): %.3f s, peak resident memory %.1f MiB\n", k,
            secondsSince(start), peakRssMiB());
    }

    // The reader alone, for comparison with the copy: every record along key 0.
    source.KeyNumber = 0;
    start = Clock::now();
    uint32_t walked = 0;
    for (source.GetFirst(); source.GetStatus() == 0; source.GetNext())
        ++walked;
    std::printf("get first + next through %u records on key 0: %.2f s = %.0f records/s\n", walked,
        secondsSince(start), walked / secondsSince(start));

    {
        TWinBtr creator;
        creator.ClearKey(255);
        std::memcpy(creator.KeyBuffer, to.c_str(), to.size() + 1);
        creator.KeyNumber = 0;
        if (int16_t s = creator.CallWith(btr::op::Create, spec, btr::SpecBufferSize))
            return fail("create from the legacy file's stat", s);
    }
    TWinBtr dest;
    if (int16_t s = dest.Open(to.c_str(), "", 0))
        return fail("open the copy", s);
    start = Clock::now();
    source.KeyNumber = 0;
    const CopyOutcome outcome = copyRecords(source, dest);
    const auto copied = static_cast<uint32_t>(outcome.inserted);
    const int16_t closed = dest.Close();
    const double copySeconds = secondsSince(start);
    std::printf("copy: %u of %u records in %.2f s = %.0f records/s (ended with status %d, "
                "close %d)\n",
        copied, n, copySeconds, copied / copySeconds, outcome.status, closed);
    source.Close();
    std::printf("peak resident memory for the whole run: %.1f MiB\n", peakRssMiB());
    return copied == n && !outcome.failed() && closed == btr::status::Success;
}

} // namespace

int main(int argc, char** argv)
{
    const uint32_t n = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    try {
        std::optional<bench::ScratchDirectory> scratch;
        std::filesystem::path dir;
        if (argc > 2) {
            dir = argv[2];
        } else {
            scratch.emplace("varnok-chain-bench");
            dir = scratch->path();
        }
        return run((dir / "LEGACY.DAT").string(), (dir / "COPY.DAT").string(), n) ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot write the legacy file: %s\n", e.what());
        return 1;
    }
}
