// The newer format and compressed records beside today's 6.x file: how long Open + Stat takes,
// how fast Step goes through every record, and the reading process's peak memory, at two sizes so
// that memory can be seen to stay flat as the file grows.
//
//   varnok_legacy_formats_bench [N] [DIR]
//
// Writes each file with the tests' synthetic writer (the benchmark file's 100-byte records: an
// 8-byte id in scrambled order, a 20-byte name of 5000 values, filler that compresses), of N
// records (default 1000000) and of N / 4, on 4096-byte pages: 6.0 (the baseline), 6.0 compressed,
// 5.x compressed, 9.5, 9.5 compressed. Each file is read by a fresh process of this program
// (`--read FILE`), so that its peak memory is its own. DIR defaults to a fresh directory under the
// system's temporary directory, removed afterwards.
#include "BenchFile.h"
#include "BtrCall.h"
#include "LegacyWriter.h"
#include "LittleEndian.h"
#include "WinBtr.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using bench::Clock;
using bench::secondsSince;

struct Variant
{
    const char* name;
    uint16_t version;
    bool compressed;
};

const Variant variants[] = {
    {"6.0 (today's)", legacytest::Version60, false},
    {"6.0 compressed", legacytest::Version60, true},
    {"5.x compressed", legacytest::Version5, true},
    {"9.5", legacytest::Version95, false},
    {"9.5 compressed", legacytest::Version95, true},
};

// This process's processor time so far (user and system), in seconds: on a machine shared with
// other work, the time the reading itself took.
double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The reading process: Open + Stat, then Step through every record. Prints "ms cpu-ms records
// seconds cpu-seconds".
int readFile(const char* path)
{
    TWinBtr file;
    double cpu = cpuSeconds();
    auto start = Clock::now();
    if (int16_t s = file.Open(path, "", btr::mode::ReadOnly)) {
        std::fprintf(stderr, "open: status %d (%s)\n", s, btr::statusText(s));
        return 1;
    }
    uint8_t spec[btr::SpecBufferSize] = {};
    if (int16_t s = file.StatTo(spec)) {
        std::fprintf(stderr, "stat: status %d\n", s);
        return 1;
    }
    const double openMs = secondsSince(start) * 1e3;
    const double openCpuMs = (cpuSeconds() - cpu) * 1e3;
    const uint32_t counted = btr::le::get32(spec + btr::layout::file::NumRecords);
    file.UseStep = true;
    cpu = cpuSeconds();
    start = Clock::now();
    uint32_t stepped = 0;
    for (file.GetFirst(); file.GetStatus() == btr::status::Success; file.GetNext())
        ++stepped;
    const double stepSeconds = secondsSince(start);
    const double stepCpu = cpuSeconds() - cpu;
    if (file.GetStatus() != btr::status::EndOfFile || stepped != counted) {
        std::fprintf(stderr, "step gave %u of %u records, ended with status %d\n", stepped, counted,
            file.GetStatus());
        return 1;
    }
    std::printf("%.2f %.2f %u %.4f %.4f\n", openMs, openCpuMs, stepped, stepSeconds, stepCpu);
    return 0;
}

struct Reading
{
    bool ok = false;
    double openMs = 0;
    double openCpuMs = 0;
    uint32_t records = 0;
    double stepSeconds = 0;
    double stepCpu = 0;
    double peakMiB = 0;
};

// Runs this program again to read `path`; its figures and its own peak memory.
Reading measure(const std::string& self, const std::string& path)
{
    Reading r;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return r;
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execl(self.c_str(), self.c_str(), "--read", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char out[256] = {};
    size_t got = 0;
    for (ssize_t n;
         got + 1 < sizeof out && (n = ::read(pipeFds[0], out + got, sizeof out - 1 - got)) > 0;)
        got += size_t(n);
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage {};
    if (child < 0 || ::wait4(child, &status, 0, &usage) != child || !WIFEXITED(status)
        || WEXITSTATUS(status) != 0)
        return r;
    r.ok = std::sscanf(out, "%lf %lf %u %lf %lf", &r.openMs, &r.openCpuMs, &r.records,
               &r.stepSeconds, &r.stepCpu)
        == 5;
    r.peakMiB = double(usage.ru_maxrss) / 1024.0;
    return r;
}

int run(const std::string& self, const std::filesystem::path& dir, uint32_t n)
{
    // Wall-clock times, and in brackets the processor time the reading took, which other work on
    // the machine does not stretch; the rate is by processor time.
    std::printf("%-16s %9s %8s %22s %22s %12s %9s\n", "format", "records", "MB",
        "open+stat ms (cpu)", "step s (cpu)", "records/s", "peak MiB");
    double baseline = 0;
    bool ok = true;
    for (const Variant& v : variants) {
        for (uint32_t records : {n / 4, n}) {
            legacytest::LegacyFileSpec spec = bench::benchFileSpec(records);
            spec.version = v.version;
            if (v.compressed)
                spec.definition.fileFlags |= recman::fileflag::Compressed;
            const std::string path = (dir / "FORMAT.DAT").string();
            legacytest::writeLegacyFile(path, spec);
            const Reading r = measure(self, path);
            if (!r.ok) {
                std::printf("%-16s %9u  cannot be read\n", v.name, records);
                ok = false;
                continue;
            }
            const double rate = r.records / (r.stepCpu > 0 ? r.stepCpu : 1e-9);
            if (!v.compressed && v.version == legacytest::Version60 && records == n)
                baseline = rate;
            std::printf("%-16s %9u %8.1f %12.1f (%7.1f) %12.3f (%7.3f) %12.0f %9.1f", v.name,
                records, double(std::filesystem::file_size(path)) / 1e6, r.openMs, r.openCpuMs,
                r.stepSeconds, r.stepCpu, rate, r.peakMiB);
            if (baseline > 0 && records == n)
                std::printf("   (%.0f%% of 6.0's rate)", 100.0 * rate / baseline);
            std::printf("\n");
            std::filesystem::remove(path);
        }
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--read")
        return readFile(argv[2]);
    const uint32_t n = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    try {
        std::optional<bench::ScratchDirectory> scratch;
        std::filesystem::path dir;
        if (argc > 2) {
            dir = argv[2];
        } else {
            scratch.emplace("varnok-formats-bench");
            dir = scratch->path();
        }
        const std::string self = std::filesystem::canonical("/proc/self/exe").string();
        return run(self, dir, n);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varnok_legacy_formats_bench: %s\n", e.what());
        return 1;
    }
}
