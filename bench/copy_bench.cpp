// Copy benchmark: how fast the record manager copies a file the way the window's Copy does,
// against what SQLite itself needs to move the same rows (INSERT INTO ... SELECT into an
// equivalent table with the same indexes).
//
//   varnok_copy_bench [N...] [--dir DIR]
//
// For each N (default 100000 and 1000000) builds a source file of N records (100-byte records,
// key 0 an 8-byte integer without duplicates inserted in a scrambled order, key 1 a 20-byte
// string with duplicates) in DIR (default: a fresh directory under the system's temporary
// directory, removed afterwards), creates a destination from the source's Stat, copies through
// TWinBtr in a child process of its own (so that each size's peak resident memory is its own)
// and prints records per second, peak resident memory, the SQLite floor measured in the same
// run and the ratio to it, and the time of one Stat. Then it copies once more in a child that is
// killed at a random moment, and prints how many acknowledged records the kill lost (at most
// one bundle) and what PRAGMA integrity_check says of the destination.
#include "BtrCall.h"
#include "CopyRecords.h"
#include "DefinitionImage.h"
#include "WinBtr.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
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

// The Copy command's loop, as the window runs it. `acknowledged`, when given, counts the
// Inserts answered 0 as they happen (a killed copy leaves it behind).
long copyFile(const std::string& from, const std::string& to, volatile long* acknowledged = nullptr)
{
    TWinBtr source;
    TWinBtr dest;
    if (int16_t s = source.Open(from.c_str(), "", 0))
        return fail("open source", s), -1;
    if (int16_t s = dest.Open(to.c_str(), "", 0))
        return fail("open destination", s), -1;
    long copied = 0;
    std::function<void()> counted;
    if (acknowledged)
        counted = [&] { *acknowledged = ++copied; };
    const CopyOutcome outcome = copyRecords(source, dest, counted);
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

int64_t sqliteValue(const std::string& path, const char* sql, std::string* text = nullptr)
{
    sqlite3* db = nullptr;
    int64_t v = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK
            && sqlite3_step(s) == SQLITE_ROW) {
            v = sqlite3_column_int64(s, 0);
            if (text && sqlite3_column_text(s, 0))
                *text = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return v;
}

// One size: source, copy, floor, Stat. Runs in a process of its own.
int measure(const std::filesystem::path& dir, long n)
{
    const std::string from = (dir / "SOURCE.BTR").string();
    const std::string to = (dir / "DEST.BTR").string();
    const std::string floorFile = (dir / "FLOOR.DB").string();
    for (const std::string& f : {from, to, floorFile})
        std::filesystem::remove(f);
    std::printf("== %ld records\n", n);
    if (!buildSource(from, n))
        return 1;
    // The destination is created from the source's own Stat, as the window does.
    uint8_t spec[btr::SpecBufferSize] = {};
    {
        TWinBtr f;
        f.Open(from.c_str(), "", 0);
        f.StatTo(spec);
        f.Close();
    }
    if (int16_t s = createFile(to, spec))
        return fail("create destination", s), 1;
    const long rssBefore = peakRssKiB();
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

    std::printf(
        "copy: %ld of %ld records in %.2f s = %.0f records/s\n", copied, n, ours, copied / ours);
    const double user = cpuAfter.first - cpuBefore.first;
    const double system = cpuAfter.second - cpuBefore.second;
    std::printf("copy processor time: user %.2f s, system %.2f s; waiting for the disk %.2f s\n",
        user, system, std::max(0.0, ours - user - system));
    std::printf("peak resident memory: %.1f MiB (%.1f MiB before the copy)\n", rss / 1024.0,
        rssBefore / 1024.0);
    std::printf("SQLite floor (INSERT INTO ... SELECT ... ORDER BY k0): %.2f s = %.0f records/s\n",
        floor, n / floor);
    std::printf("ratio ours/floor: %.2f\n", ours / floor);
    std::printf("Stat on the source: %.1f us per call\n", statMicros);

    // A copy killed at a random moment: what it had been told was stored, against what is there.
    std::filesystem::remove(to);
    if (int16_t s = createFile(to, spec))
        return fail("create destination", s), 1;
    auto* acknowledged = static_cast<volatile long*>(
        ::mmap(nullptr, sizeof(long), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    *acknowledged = 0;
    std::mt19937_64 rng(static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
    const double delay = std::uniform_real_distribution<double>(0.1, 0.9)(rng) * ours;
    std::fflush(stdout);
    pid_t child = ::fork();
    if (child == 0) {
        copyFile(from, to, acknowledged);
        ::_exit(0);
    }
    ::usleep(static_cast<useconds_t>(delay * 1e6));
    ::kill(child, SIGKILL);
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    const long told = *acknowledged;
    {
        // A writable open rolls back what the killed copy left half done.
        TWinBtr f;
        f.Open(to.c_str(), "", 0);
        f.Close();
    }
    std::string integrity;
    sqliteValue(to, "PRAGMA integrity_check", &integrity);
    const int64_t present = sqliteValue(to, "SELECT count(*) FROM records");
    const int64_t counted = sqliteValue(to, "SELECT value FROM counters WHERE name = 'records'");
    std::printf("SIGKILL after %.2f s: %ld records acknowledged, %lld present (counter %lld), "
                "%lld lost; integrity_check: %s\n",
        delay, told, static_cast<long long>(present), static_cast<long long>(counted),
        static_cast<long long>(told - present), integrity.c_str());
    return copied == n ? 0 : 1;
}

int main(int argc, char** argv)
{
    std::vector<long> sizes;
    std::filesystem::path dir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--dir") == 0 && i + 1 < argc) {
            dir = argv[++i];
            continue;
        }
        long n = std::atol(argv[i]);
        if (n <= 0) {
            std::fprintf(stderr, "usage: varnok_copy_bench [records...] [--dir directory]\n");
            return 2;
        }
        sizes.push_back(n);
    }
    if (sizes.empty())
        sizes = {100000, 1000000};
    const bool scratch = dir.empty();
    if (scratch) {
        std::string t = (std::filesystem::temp_directory_path() / "varnok-bench-XXXXXX").string();
        if (!::mkdtemp(t.data()))
            return 1;
        dir = t;
    }
    int rc = 0;
    for (long n : sizes) {
        std::fflush(stdout);
        pid_t child = ::fork();
        if (child == 0) {
            int r = measure(dir, n);
            std::fflush(stdout);
            ::_exit(r);
        }
        int wstatus = 0;
        ::waitpid(child, &wstatus, 0);
        if (!WIFEXITED(wstatus) || WEXITSTATUS(wstatus) != 0)
            rc = 1;
    }
    if (scratch)
        std::filesystem::remove_all(dir);
    return rc;
}
