// varnok-cli export and convert against what they are built on, in the same run:
//
//   1. export of the large legacy benchmark file (N records, default 1000000) to CSV, against
//      reading the same records through BTRCALLID (TWinBtr, key 0 order) in this process; each
//      twice, alternately, the faster of each reported with their ratio (target at most 1.5);
//   2. the peak resident memory of export at N / 10 and N records (flat in N);
//   3. convert of the file into a new SQLite database, against SQLite's own prepared INSERT of the
//      same rows (the same columns and values, the same indexes) in one transaction (target at
//      most 1.5).
//
//   varnok_fields_bench [N]
#include "BenchFile.h"
#include "BtrCall.h"
#include "WinBtr.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using bench::Clock;
using bench::secondsSince;

struct Run
{
    double seconds = -1;
    double peakMiB = 0;
};

// Runs varnok-cli with these arguments, its own peak memory from wait4.
Run runCli(const std::vector<std::string>& args)
{
    std::vector<char*> argv {const_cast<char*>(VARNOK_CLI), const_cast<char*>("--quiet")};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Run run;
    const auto start = Clock::now();
    // The results a command prints (convert's line per table) are not the benchmark's.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, VARNOK_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::perror("posix_spawn");
        return run;
    }
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    const double seconds = secondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "varnok-cli failed (%d)\n", status);
        return run;
    }
    run.seconds = seconds;
    run.peakMiB = double(usage.ru_maxrss) / 1024.0;
    return run;
}

// Every record in key 0 order through the entry point, as export reads them.
double readThroughEntryPoint(const std::string& name, uint64_t& checksum)
{
    const auto start = Clock::now();
    TWinBtr file;
    if (file.Open(name.c_str(), "", 0) != btr::status::Success) {
        std::fprintf(stderr, "cannot open %s: status %d\n", name.c_str(), file.Status);
        return -1;
    }
    for (file.GetFirst(); file.Ok(); file.GetNext())
        checksum += file.Buffer[0] + file.ReturnedLength;
    const bool ended = file.GetStatus() == btr::status::EndOfFile;
    file.Close();
    return ended ? secondsSince(start) : -1;
}

bool check(sqlite3* db, int rc, const char* what)
{
    if (rc == SQLITE_OK || rc == SQLITE_DONE)
        return true;
    std::fprintf(stderr, "%s: %s\n", what, sqlite3_errmsg(db));
    return false;
}

// The rows convert writes, inserted by SQLite alone: key0 INTEGER, key1 TEXT (the name without
// its trailing blanks), filler_29 BLOB, in one transaction, then the same two indexes.
double sqliteAlone(const std::string& path, uint32_t n)
{
    const legacytest::LegacyFileSpec spec = bench::benchFileSpec(n);
    const auto start = Clock::now();
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK)
        return -1;
    bool ok = check(db,
                  sqlite3_exec(db,
                      "BEGIN IMMEDIATE; CREATE TABLE \"LEGACY\" (\"key0\" INTEGER, \"key1\" TEXT, "
                      "\"filler_29\" BLOB)",
                      nullptr, nullptr, nullptr),
                  "create")
        && true;
    sqlite3_stmt* stmt = nullptr;
    ok = ok
        && check(db,
            sqlite3_prepare_v2(db, "INSERT INTO \"LEGACY\" VALUES (?, ?, ?)", -1, &stmt, nullptr),
            "prepare");
    std::vector<uint8_t> record;
    for (uint32_t i = 0; ok && i < n; ++i) {
        spec.rule(i, record);
        int64_t id = 0;
        for (int b = 7; b >= 0; --b)
            id = (id << 8) | record[size_t(b)];
        size_t nameLength = 20;
        while (nameLength > 0 && record[8 + nameLength - 1] == ' ')
            --nameLength;
        sqlite3_bind_int64(stmt, 1, id);
        sqlite3_bind_text(stmt, 2, reinterpret_cast<const char*>(record.data() + 8),
            int(nameLength), SQLITE_STATIC);
        sqlite3_bind_blob(stmt, 3, record.data() + 28, int(record.size() - 28), SQLITE_STATIC);
        ok = check(db, sqlite3_step(stmt), "insert");
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    ok = ok
        && check(db,
            sqlite3_exec(db,
                "CREATE UNIQUE INDEX \"LEGACY_key0\" ON \"LEGACY\" (\"key0\"); CREATE INDEX "
                "\"LEGACY_key1\" ON \"LEGACY\" (\"key1\"); COMMIT",
                nullptr, nullptr, nullptr),
            "index");
    sqlite3_close(db);
    return ok ? secondsSince(start) : -1;
}

bool run(const std::filesystem::path& dir, uint32_t n)
{
    const std::string large = (dir / "LEGACY.DAT").string();
    const std::string small = (dir / "SMALL.DAT").string();
    auto start = Clock::now();
    legacytest::writeLegacyFile(large, bench::benchFileSpec(n));
    legacytest::writeLegacyFile(small, bench::benchFileSpec(std::max<uint32_t>(n / 10, 1)));
    std::printf("wrote %s: %u records (%.1f MB) and a tenth of it in %.2f s\n", large.c_str(), n,
        double(std::filesystem::file_size(large)) / 1e6, secondsSince(start));

    const std::string csv = (dir / "out.csv").string();
    double read = 1e30;
    double exported = 1e30;
    double largePeak = 0;
    uint64_t checksum = 0;
    for (int round = 0; round < 2; ++round) {
        const double r = readThroughEntryPoint(large, checksum);
        const Run e = runCli({"export", large, "--output", csv});
        if (r < 0 || e.seconds < 0)
            return false;
        std::printf("round %d: read through BTRCALLID %.2f s, varnok-cli export to CSV %.2f s\n",
            round + 1, r, e.seconds);
        read = std::min(read, r);
        exported = std::min(exported, e.seconds);
        largePeak = std::max(largePeak, e.peakMiB);
    }
    std::printf("export of %u records: read %.2f s = %.0f records/s; export %.2f s = %.0f "
                "records/s, %.1f MB of CSV; ratio %.3f (target at most 1.5)\n",
        n, read, n / read, exported, n / exported, double(std::filesystem::file_size(csv)) / 1e6,
        exported / read);
    const Run smallRun = runCli({"export", small, "--output", csv});
    if (smallRun.seconds < 0)
        return false;
    std::printf("export peak resident memory: %.1f MiB at %u records, %.1f MiB at %u records\n",
        smallRun.peakMiB, std::max<uint32_t>(n / 10, 1), largePeak, n);
    std::filesystem::remove(csv);

    double converted = 1e30;
    double alone = 1e30;
    double convertPeak = 0;
    for (int round = 0; round < 2; ++round) {
        const std::string a = (dir / ("convert" + std::to_string(round) + ".sqlite")).string();
        const std::string b = (dir / ("alone" + std::to_string(round) + ".sqlite")).string();
        const Run c = runCli({"convert", large, "--into", a});
        const double s = sqliteAlone(b, n);
        if (c.seconds < 0 || s < 0)
            return false;
        std::printf("round %d: varnok-cli convert %.2f s, SQLite's own INSERT %.2f s\n", round + 1,
            c.seconds, s);
        converted = std::min(converted, c.seconds);
        alone = std::min(alone, s);
        convertPeak = std::max(convertPeak, c.peakMiB);
        std::filesystem::remove(a);
        std::filesystem::remove(b);
    }
    // The baseline makes each row with the benchmark file's rule; how much of its time that is.
    const legacytest::LegacyFileSpec spec = bench::benchFileSpec(n);
    std::vector<uint8_t> record;
    const auto made = Clock::now();
    for (uint32_t i = 0; i < n; ++i) {
        spec.rule(i, record);
        checksum += record[0];
    }
    const double making = secondsSince(made);
    std::printf("convert of %u records: %.2f s = %.0f records/s; SQLite alone %.2f s (%.2f s of "
                "it making the rows); ratio %.3f, %.3f against SQLite without making the rows "
                "(target at most 1.5); convert peak resident memory %.1f MiB\n",
        n, converted, n / converted, alone, making, converted / alone, converted / (alone - making),
        convertPeak);
    return checksum != 0;
}

} // namespace

int main(int argc, char** argv)
{
    const uint32_t n = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    try {
        bench::ScratchDirectory dir("varnok-fields-bench");
        return run(dir.path(), n) ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
