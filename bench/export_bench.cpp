// exportFile, as the records window calls it, on the large legacy benchmark file (N records,
// default 1000000) under its keys' layout:
//
//   1. each format (CSV, JSON Lines, SQL, SQLite) in physical order, and CSV on key 0 backwards:
//      seconds and records per second, against reading the same records through TWinBtr alone;
//   2. the peak resident memory of a CSV and a SQLite export at N / 10 and N records, each run in a
//      child process of its own (flat in N).
//
//   varnok_export_bench [N]
#include "BenchFile.h"
#include "CopyRecords.h"
#include "Export.h"

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using bench::Clock;
using bench::secondsSince;

struct Case
{
    const char* name;
    exporting::Format format;
    exporting::Order order;
};

// One export of `data` into `out`; -1 when it failed.
double exportOnce(const std::string& data, const Case& c, const std::string& out)
{
    TWinBtr file;
    if (file.Open(data.c_str(), "", btr::mode::ReadOnly) != btr::status::Success
        || file.Stat() != btr::status::Success) {
        std::fprintf(stderr, "cannot open %s: status %d\n", data.c_str(), file.Status);
        return -1;
    }
    spec::SpecBuffer stat;
    std::copy(std::begin(file.StatBuffer), std::end(file.StatBuffer), stat.bytes.begin());
    const fields::Layout layout = fields::keyLayout(stat);
    fields::TextDecoder decoder("CP437");
    exporting::Settings settings;
    settings.format = c.format;
    const auto start = Clock::now();
    const exporting::Result r
        = exporting::exportFile(file, data, layout, decoder, c.order, settings, out);
    const double seconds = secondsSince(start);
    if (!r.ok) {
        std::fprintf(stderr, "%s: %s\n", c.name, r.error.c_str());
        return -1;
    }
    return seconds;
}

double readOnly(const std::string& data)
{
    TWinBtr file;
    if (file.Open(data.c_str(), "", btr::mode::ReadOnly) != btr::status::Success)
        return -1;
    file.UseStep = true;
    uint64_t sum = 0;
    const auto start = Clock::now();
    readEveryRecord(file, [&] {
        sum += file.Buffer[0];
        return true;
    });
    const double seconds = secondsSince(start);
    std::printf("  (checksum %llu)\n", static_cast<unsigned long long>(sum));
    return seconds;
}

// The peak memory of one export run in a child process of its own, in MiB; -1 when it failed.
double childPeak(const std::string& data, const Case& c, const std::string& out)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(exportOnce(data, c, out) < 0 ? 1 : 0);
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return double(usage.ru_maxrss) / 1024.0;
}

} // namespace

int main(int argc, char** argv)
{
    const uint32_t n = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    bench::ScratchDirectory dir("varnok-export-bench");
    const std::string big = (dir.path() / "BIG.DAT").string();
    const std::string small = (dir.path() / "SMALL.DAT").string();
    legacytest::writeLegacyFile(big, bench::benchFileSpec(n));
    legacytest::writeLegacyFile(small, bench::benchFileSpec(n / 10));
    const std::string out = (dir.path() / "out").string();

    std::printf("exportFile of %u records (6.0 file, 100-byte records, the keys' layout)\n", n);
    const double read = readOnly(big);
    std::printf("  %-24s %6.2f s  %9.0f records/s\n", "read alone (Step)", read, n / read);
    const Case cases[]
        = {{"CSV", exporting::Format::Csv, {}}, {"JSON Lines", exporting::Format::JsonLines, {}},
            {"SQL", exporting::Format::Sql, {}}, {"SQLite", exporting::Format::Sqlite, {}},
            {"CSV, key 0 backwards", exporting::Format::Csv, {0, true}}};
    for (const Case& c : cases) {
        const double s = exportOnce(big, c, out);
        if (s < 0)
            return 1;
        std::printf("  %-24s %6.2f s  %9.0f records/s  (%.1fx reading alone)\n", c.name, s, n / s,
            s / read);
    }
    std::printf("peak memory of one export in a process of its own:\n");
    for (const Case& c : {cases[0], cases[3]}) {
        const double low = childPeak(small, c, out);
        const double high = childPeak(big, c, out);
        if (low < 0 || high < 0)
            return 1;
        std::printf(
            "  %-10s %7u records %6.1f MiB, %7u records %6.1f MiB\n", c.name, n / 10, low, n, high);
    }
    return 0;
}
