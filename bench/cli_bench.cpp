// varnok-cli copy against the copy loop it is built on, in the same run:
//
//   1. the large legacy benchmark file (N records, default 1000000) copied into a new file, once
//      by copyRecords in this process (Create from its Stat, open both, copy, close) and once by
//      running `varnok-cli copy` (which does the same, plus starting up); each twice, alternately,
//      and the faster of each pair reported, with their ratio;
//   2. a directory of M small files (default 1000, 10 records each) copied into another by one
//      run of `varnok-cli copy DIR/* OUT/`: milliseconds per file.
//
//   varnok_cli_bench [N] [M]
#include "BenchFile.h"
#include "BtrCall.h"
#include "CopyRecords.h"
#include "DefinitionLayout.h"
#include "LittleEndian.h"
#include "WinBtr.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using bench::Clock;
using bench::secondsSince;

// prefix, n and suffix ("LOOP1.BTR"), built by appending: GCC 12 at -O3 reports a false
// -Wrestrict on a literal + std::to_string.
std::string numbered(const char* prefix, uint32_t n, const char* suffix)
{
    std::string s(prefix);
    s.append(std::to_string(n));
    s.append(suffix);
    return s;
}

bool fail(const char* what, int16_t status)
{
    std::fprintf(stderr, "%s: status %d (%s)\n", what, status, btr::statusText(status));
    return false;
}

int16_t createFrom(const uint8_t* spec, const std::string& to)
{
    TWinBtr creator;
    creator.ClearKey(255);
    std::memcpy(creator.KeyBuffer, to.c_str(), to.size() + 1);
    creator.KeyNumber = 0;
    return creator.CallWith(btr::op::Create, const_cast<uint8_t*>(spec), btr::SpecBufferSize);
}

// What `varnok-cli copy` does, without the program: seconds, or a negative number on failure.
double copyInProcess(const std::string& from, const std::string& to)
{
    const auto start = Clock::now();
    TWinBtr source;
    uint8_t spec[btr::SpecBufferSize] = {};
    if (source.Open(from.c_str(), "", 0) || source.StatTo(spec))
        return fail("open the source", source.Status), -1;
    if (int16_t s = createFrom(spec, to))
        return fail("create the copy", s), -1;
    TWinBtr dest;
    if (int16_t s = dest.Open(to.c_str(), "", 0))
        return fail("open the copy", s), -1;
    CopyOutcome outcome = copyRecords(source, dest);
    source.Close();
    closeDestination(dest, to.c_str(), outcome);
    if (outcome.failed())
        return fail("copy", outcome.status), -1;
    return secondsSince(start);
}

// Runs varnok-cli with these arguments: seconds, or a negative number when it does not exit 0.
double runCli(const std::vector<std::string>& args)
{
    std::vector<char*> argv {const_cast<char*>(VARNOK_CLI), const_cast<char*>("--quiet")};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t child = 0;
    if (posix_spawn(&child, VARNOK_CLI, nullptr, nullptr, argv.data(), environ) != 0) {
        std::perror("posix_spawn");
        return -1;
    }
    int status = 0;
    waitpid(child, &status, 0);
    const double seconds = secondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "varnok-cli failed (%d)\n", status);
        return -1;
    }
    return seconds;
}

bool largeFile(const std::filesystem::path& dir, uint32_t n)
{
    const std::string from = (dir / "LEGACY.DAT").string();
    auto start = Clock::now();
    legacytest::writeLegacyFile(from, bench::benchFileSpec(n));
    std::printf("wrote %s: %u records (%.1f MB) in %.2f s\n", from.c_str(), n,
        double(std::filesystem::file_size(from)) / 1e6, secondsSince(start));

    double loop = 1e30;
    double program = 1e30;
    for (int round = 0; round < 2; ++round) {
        const std::string a = (dir / numbered("LOOP", uint32_t(round), ".BTR")).string();
        const std::string b = (dir / numbered("CLI", uint32_t(round), ".BTR")).string();
        const double l = copyInProcess(from, a);
        const double p = runCli({"copy", from, b});
        if (l < 0 || p < 0)
            return false;
        std::printf("round %d: copyRecords %.2f s, varnok-cli copy %.2f s\n", round + 1, l, p);
        loop = std::min(loop, l);
        program = std::min(program, p);
        std::filesystem::remove(a);
        std::filesystem::remove(b);
    }
    std::printf("copy of %u records: copyRecords %.2f s = %.0f records/s; varnok-cli copy %.2f s "
                "= %.0f records/s; ratio %.3f (target at most 1.1)\n",
        n, loop, n / loop, program, n / program, program / loop);
    std::printf("peak resident memory: this process %.1f MiB, varnok-cli %.1f MiB\n",
        bench::peakRssMiB(), bench::childrenPeakRssMiB());
    return true;
}

bool smallFiles(const std::filesystem::path& dir, uint32_t m)
{
    const std::filesystem::path in = dir / "in";
    const std::filesystem::path out = dir / "out";
    std::filesystem::create_directory(in);
    std::filesystem::create_directory(out);
    uint8_t spec[btr::SpecBufferSize] = {};
    btr::le::put16(spec + btr::layout::file::RecordLength, 64);
    btr::le::put16(spec + btr::layout::file::PageSize, 1024);
    btr::le::put16(spec + btr::layout::file::NumIndexes, 1);
    uint8_t* segment = spec + btr::layout::HeaderSize;
    btr::le::put16(segment + btr::layout::segment::Position, 1);
    btr::le::put16(segment + btr::layout::segment::Length, 4);
    btr::le::put16(segment + btr::layout::segment::KeyFlags, btr::keyflag::ExtendedType);
    segment[btr::layout::segment::ExtendedType] = btr::exttype::Integer;

    std::vector<std::string> args {"copy"};
    for (uint32_t f = 0; f < m; ++f) {
        const std::string name = (in / numbered("F", f, ".BTR")).string();
        if (int16_t s = createFrom(spec, name))
            return fail("create a small file", s);
        TWinBtr file;
        if (int16_t s = file.Open(name.c_str(), "", 0))
            return fail("open a small file", s);
        for (int32_t r = 0; r < 10; ++r) {
            std::memset(file.Buffer, 'r', file.BufferSize);
            btr::le::put32(file.Buffer, uint32_t(r));
            if (int16_t s = file.Insert())
                return fail("insert", s);
        }
        file.Close();
        args.push_back(name);
    }
    args.push_back(out.string() + "/");
    const double seconds = runCli(args);
    if (seconds < 0)
        return false;
    std::printf("copy of a directory of %u files of 10 records: %.2f s = %.2f ms per file "
                "(target under 5 ms)\n",
        m, seconds, seconds * 1e3 / m);
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    const uint32_t n = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    const uint32_t m = argc > 2 ? uint32_t(std::strtoul(argv[2], nullptr, 10)) : 1000;
    try {
        bench::ScratchDirectory dir("varnok-cli-bench");
        return largeFile(dir.path(), n) && smallFiles(dir.path(), m) ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
