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
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t RecordLength = 100;
constexpr uint32_t Names = 5000;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double peakRssMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// Record i: its id (i * a prime, modulo n: every id once, out of insertion order), a customer
// name of 5000, filler.
legacytest::LegacyFileSpec benchSpec(uint32_t n)
{
    legacytest::LegacyFileSpec spec;
    spec.version = legacytest::Version60;
    spec.records = n;
    spec.rule = [n](uint32_t i, std::vector<uint8_t>& record) {
        record.assign(RecordLength, 'x');
        const uint64_t id = uint64_t(i) * 2147483647u % n;
        for (int b = 0; b < 8; ++b)
            record[size_t(b)] = uint8_t(id >> (8 * b));
        char name[21];
        std::snprintf(name, sizeof name, "CUSTOMER %011llu",
            static_cast<unsigned long long>(id * 7919 % Names));
        std::memcpy(record.data() + 8, name, 20);
    };
    recman::Definition& def = spec.definition;
    def.pageSize = 4096;
    def.recordLength = RecordLength;
    recman::Key ids;
    ids.segments.push_back({1, 8, recman::keyflag::ExtendedType, n, 1, 0, 0, 0, 0});
    recman::Key names;
    names.number = 1;
    names.segments.push_back(
        {9, 20, uint16_t(recman::keyflag::ExtendedType | recman::keyflag::Duplicates), Names, 0, 0,
            0, 0, 0});
    def.keys = {ids, names};
    return spec;
}

bool fail(const char* what, int16_t status)
{
    std::fprintf(stderr, "%s: status %d (%s)\n", what, status, btr::statusText(status));
    return false;
}

bool run(const std::string& from, const std::string& to, uint32_t n)
{
    auto start = Clock::now();
    const legacytest::WrittenLayout layout = legacytest::writeLegacyFile(from, benchSpec(n));
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
    std::filesystem::path dir;
    const bool scratch = argc <= 2;
    if (scratch) {
        std::string pattern
            = (std::filesystem::temp_directory_path() / "varnok-chain-bench-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        dir = pattern;
    } else {
        dir = argv[2];
    }
    bool ok = false;
    try {
        ok = run((dir / "LEGACY.DAT").string(), (dir / "COPY.DAT").string(), n);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot write the legacy file: %s\n", e.what());
    }
    if (scratch)
        std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
