// Copy benchmark: how fast the record manager copies a file the way the window's Copy does,
// against what SQLite itself needs to move the same rows (INSERT INTO ... SELECT into an
// equivalent table with the same indexes).
//
//   varnok_copy_bench [N] [DIR]
//
// Builds a source file of N records (default 200000; 100-byte records, key 0 an 8-byte integer
// without duplicates, key 1 a 20-byte string with duplicates) in DIR (default: a fresh directory
// under the system's temporary directory, removed afterwards), creates a destination from the
// source's Stat, copies through TWinBtr and prints records per second, peak resident memory,
// the SQLite floor and the time of one Stat.
#include "BtrCall.h"
#include "CopyRecords.h"
#include "DefinitionImage.h"
#include "WinBtr.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time used so far, user and system, in seconds.
std::pair<double, double> cpuSeconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds(u.ru_utime), seconds(u.ru_stime)};
}

long peakRssKiB()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// The definition: 100-byte records, key 0 = 8-byte integer at 1, key 1 = 20-byte string at 9
// with duplicates.
void benchDefinition(uint8_t* spec)
{
    testsupport::DefinitionImage d;
    d.addKey({{1, 8, testsupport::ExtendedTypeKey, 0, 1}});           // integer
    d.addKey({{9, 20, testsupport::ExtendedTypeKey | 0x0001, 0, 0}}); // string, duplicates
    const std::vector<uint8_t> image = d.bytes();
    std::memcpy(spec, image.data(), image.size());
}

int16_t createFile(const std::string& name, uint8_t* spec)
{
    TWinBtr f;
    f.ClearKey(255);
    std::memcpy(f.KeyBuffer, name.c_str(), name.size() + 1);
    f.KeyNumber = 0;
    return f.CallWith(btr::op::Create, spec, btr::SpecBufferSize);
}

bool fail(const char* what, int16_t status)
{
    std::fprintf(stderr, "%s: status %d (%s)\n", what, status, btr::statusText(status));
    return false;
}

// Fills the source: key 0 runs through 0..n-1 in a scrambled order, key 1 takes one of 5000
// customer names, so the destination's key 1 index grows at scattered places as in real data.
bool buildSource(const std::string& name, long n)
{
    uint8_t spec[btr::SpecBufferSize];
    benchDefinition(spec);
    if (int16_t s = createFile(name, spec))
        return fail("create source", s);
    TWinBtr f;
    if (int16_t s = f.Open(name.c_str(), "", 0))
        return fail("open source", s);
    // A prime above any record count: i * step mod n visits every id once.
    constexpr uint64_t step = 2147483647;
    auto start = Clock::now();
    for (long i = 0; i < n; ++i) {
        uint64_t id = (static_cast<uint64_t>(i) * step) % static_cast<uint64_t>(n);
        std::memset(f.Buffer, 'x', 100);
        std::memcpy(f.Buffer, &id, 8);
        char name20[21];
        std::snprintf(name20, sizeof name20, "CUSTOMER %011llu",
            static_cast<unsigned long long>((id * 7919) % 5000));
        std::memcpy(f.Buffer + 8, name20, 20);
        if (int16_t s = f.Insert())
            return fail("insert into source", s);
    }
    f.Close();
    std::printf("source: %ld records inserted in %.2f s (%.0f records/s)\n", n, secondsSince(start),
        n / secondsSince(start));
    return true;
}

// The Copy command's loop, as the window runs it.
long copyFile(const std::string& from, const std::string& to)
{
    TWinBtr source;
    TWinBtr dest;
    if (int16_t s = source.Open(from.c_str(), "", 0))
        return fail("open source", s), -1;
    if (int16_t s = dest.Open(to.c_str(), "", 0))
        return fail("open destination", s), -1;
    const CopyOutcome outcome = copyRecords(source, dest);
    source.Close();
    dest.Close();
    return outcome.inserted;
}

// The floor: SQLite moving the same rows in key 0 order into an equivalent table.
double sqliteFloor(const std::string& from, const std::string& to)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(to.c_str(), &db) != SQLITE_OK)
        return -1;
    const std::string sql = "PRAGMA journal_mode = DELETE; PRAGMA cache_size = -8192;"
                            "CREATE TABLE records(pos INTEGER PRIMARY KEY, data BLOB NOT NULL,"
                            " k0 BLOB, k1 BLOB);"
                            "CREATE UNIQUE INDEX records_k0 ON records(k0);"
                            "CREATE INDEX records_k1 ON records(k1);"
                            "ATTACH '"
        + from + "' AS src;";
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "floor: %s\n", err);
        sqlite3_free(err);
        sqlite3_close(db);
        return -1;
    }
    auto start = Clock::now();
    int rc = sqlite3_exec(db,
        "INSERT INTO records(data, k0, k1) SELECT data, k0, k1 FROM src.records ORDER BY k0",
        nullptr, nullptr, &err);
    double t = secondsSince(start);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "floor: %s\n", err);
        sqlite3_free(err);
        t = -1;
    }
    sqlite3_close(db);
    return t;
}

} // namespace

int main(int argc, char** argv)
{
    long n = argc > 1 ? std::atol(argv[1]) : 200000;
    if (n <= 0) {
        std::fprintf(stderr, "usage: varnok_copy_bench [records] [directory]\n");
        return 2;
    }
    std::filesystem::path dir;
    bool scratch = argc <= 2;
    if (scratch) {
        std::string t = (std::filesystem::temp_directory_path() / "varnok-bench-XXXXXX").string();
        if (!::mkdtemp(t.data()))
            return 1;
        dir = t;
    } else {
        dir = argv[2];
    }
    const std::string from = (dir / "SOURCE.BTR").string();
    const std::string to = (dir / "DEST.BTR").string();
    const std::string floorFile = (dir / "FLOOR.DB").string();
    std::filesystem::remove(floorFile);

    int rc = 1;
    if (buildSource(from, n)) {
        // The destination is created from the source's own Stat, as the window does.
        uint8_t spec[btr::SpecBufferSize] = {};
        TWinBtr f;
        f.Open(from.c_str(), "", 0);
        f.StatTo(spec);
        f.Close();
        if (int16_t s = createFile(to, spec)) {
            fail("create destination", s);
        } else {
            auto start = Clock::now();
            const auto cpuBefore = cpuSeconds();
            long copied = copyFile(from, to);
            double ours = secondsSince(start);
            const auto cpuAfter = cpuSeconds();
            long rss = peakRssKiB();
            double floor = sqliteFloor(from, floorFile);

            // Stat on the source: the same few microseconds whatever the record count.
            TWinBtr statted;
            statted.Open(from.c_str(), "", 0);
            constexpr int Stats = 1000;
            auto statStart = Clock::now();
            for (int i = 0; i < Stats; ++i)
                statted.Stat();
            double statMicros = secondsSince(statStart) * 1e6 / Stats;
            statted.Close();

            std::printf("copy: %ld of %ld records in %.2f s = %.0f records/s\n", copied, n, ours,
                copied / ours);
            const double user = cpuAfter.first - cpuBefore.first;
            const double system = cpuAfter.second - cpuBefore.second;
            std::printf("copy processor time: user %.2f s, system %.2f s; waiting for the disk "
                        "%.2f s\n",
                user, system, std::max(0.0, ours - user - system));
            std::printf("peak resident memory: %.1f MiB\n", rss / 1024.0);
            std::printf("SQLite floor (INSERT INTO ... SELECT): %.2f s = %.0f records/s\n", floor,
                n / floor);
            std::printf("ratio ours/floor: %.2f\n", ours / floor);
            std::printf("Stat on the source: %.1f us per call\n", statMicros);
            rc = copied == n ? 0 : 1;
        }
    }
    if (scratch)
        std::filesystem::remove_all(dir);
    return rc;
}
