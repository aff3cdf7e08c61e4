// What lands on disk: the Stat image as created, Create that replaces whole or not at all, files
// the sqlite3 shell can read, damaged files, and writes that survive a killed process.
#include "EntryHelpers.h"

#include <sqlite3.h>

#include <csignal>
#include <random>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace entrytest;

namespace {

std::vector<std::string> directoryEntries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

int64_t sqliteCount(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    int64_t n = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK
            && sqlite3_step(s) == SQLITE_ROW)
            n = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return n;
}

void sqliteExec(const std::string& path, const char* sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// A definition with a three-segment key, a key with a collating sequence and one with two
// (reversing the alphabet and folding case), and non-zero bytes in every pass-through field.
Spec richSpec()
{
    Spec s;
    s.recordLength = 64;
    s.pageSize = 1024;
    s.fileFlags = 0x0102; // blank truncation, duplicate pointers: stored, not acted on
    s.keys = {
        {Seg {1, 4, 0x0003, 1}, Seg {5, 2, 0x0003, 14}, Seg {7, 10, 0x0043, 0}},
        {Seg {17, 10, 0x0021, 0, 0, 0}},
        {Seg {27, 10, 0x0021, 11, 0, 1}},
    };
    std::vector<uint8_t> reverse(256), upper(256);
    for (int i = 0; i < 256; ++i) {
        reverse[i] = static_cast<uint8_t>(i >= 'A' && i <= 'Z' ? 'Z' - (i - 'A') : i);
        upper[i] = static_cast<uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
    }
    s.acsTables = {reverse, upper};
    return s;
}

TEST(Stat, ReportsTheDefinitionAsCreatedWithLiveFigures)
{
    ScratchDir dir;
    const std::string path = dir.file("RICH.BTR");
    std::vector<uint8_t> img = image(richSpec());
    img[12] = 3;         // DuplicatePointers
    img[13] = 0x5A;      // Reserved
    img[6] = 77;         // NumRecords as typed: Stat reports the live count instead
    img[14] = 9;         // UnusedPages as typed
    img[16 + 12] = 0x34; // a segment's Reserved bytes
    img[16 + 6] = 123;   // NumKeyValues as typed
    ASSERT_EQ(create(path, img), st::Success);
    Handle h;
    ASSERT_EQ(h.open(path), st::Success);
    for (int i = 0; i < 30; ++i) {
        std::vector<uint8_t> r(64, ' ');
        r[0] = static_cast<uint8_t>(i % 7); // key 0: 7 distinct values over three segments
        std::string name = "NAME" + std::to_string(i % 4);
        std::memcpy(&r[16], name.data(), name.size());
        std::memcpy(&r[26], name.data(), name.size());
        ASSERT_EQ(h.insert(r, -1), st::Success);
    }
    h.key[0] = 0xFF;
    int16_t status;
    std::vector<uint8_t> got = h.stat(status);
    ASSERT_EQ(status, st::Success);
    EXPECT_EQ(h.key[0], 0);
    const size_t size = 16 + 16 * 5 + 2 * 265;
    ASSERT_EQ(got.size(), size);

    std::vector<uint8_t> want(img.begin(), img.begin() + size);
    // Live figures: 30 records, no free pages, distinct values per key on each of its segments.
    std::memset(&want[6], 0, 4);
    want[6] = 30;
    std::memset(&want[14], 0, 2);
    const uint32_t values[] = {7, 7, 7, 4, 4};
    for (int s = 0; s < 5; ++s) {
        std::memset(&want[16 + 16 * s + 6], 0, 4);
        want[16 + 16 * s + 6] = static_cast<uint8_t>(values[s]);
    }
    EXPECT_EQ(got, want);

    // A buffer shorter than the definition: as much as fits, the full size, and 22.
    std::vector<uint8_t> part(100, 0xEE);
    EXPECT_EQ(h.call(op::Stat, part.data(), 100), st::DataBufferTooShort);
    EXPECT_EQ(h.lastLength, size);
    EXPECT_TRUE(std::equal(part.begin(), part.end(), want.begin()));

    // The counters are kept in the file: a reopen reports the same figures.
    ASSERT_EQ(h.close(), st::Success);
    ASSERT_EQ(h.open(path, -2), st::Success);
    EXPECT_EQ(h.stat(status), want);
    EXPECT_EQ(h.close(), st::Success);
}

TEST(Create, RefusedOrFailedCreateLeavesTheExistingFileUntouched)
{
    ScratchDir dir;
    const std::string path = dir.file("KEEP.BTR");
    ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    Handle h;
    ASSERT_EQ(h.open(path), st::Success);
    for (int i = 0; i < 50; ++i) {
        auto r = twoKeyRecord(i, "KEEP");
        ASSERT_EQ(h.insert(r), st::Success);
    }
    ASSERT_EQ(h.close(), st::Success);
    const std::vector<uint8_t> before = fileBytes(path);
    const auto entriesBefore = directoryEntries(dir.path());

    struct Case
    {
        const char* what;
        std::function<void(Spec&)> change;
        size_t length;
        int keyNumber;
        int16_t status;
    };
    const Case cases[] = {
        {"page size", [](Spec& s) { s.pageSize = 1000; }, 1920, 0, st::PageSizeError},
        {"record length", [](Spec& s) { s.recordLength = 3; }, 1920, 0, st::InvalidRecordLength},
        {"key count",
            [](Spec& s) {
                s.pageSize = 512;
                s.keys.assign(9, {Seg {1, 8, 0, 0}});
            },
            1920, 0, st::NumberOfKeys},
        {"segment position", [](Spec& s) { s.keys[1][0].position = 90; }, 1920, 0,
            st::InvalidKeyPosition},
        {"key type", [](Spec& s) { s.keys[0][0].type = 12; }, 1920, 0, st::KeyTypeError},
        {"key length", [](Spec& s) { s.keys[0][0].length = 3; }, 1920, 0, st::InvalidKeyLength},
        {"flags",
            [](Spec& s) {
                s.keys[1] = {Seg {9, 10, 0x0001, 0}, Seg {19, 10, 0x0000, 0}};
            },
            1920, 0, st::InconsistentKeyFlags},
        {"autoincrement",
            [](Spec& s) {
                s.keys[0][0] = Seg {1, 8, 0x0001, 15};
            },
            1920, 0, st::AutoincrementError},
        {"collating sequence", [](Spec& s) { s.keys[1][0].flags |= 0x20; }, 1920, 0,
            st::InvalidCollatingSequence},
        {"buffer shorter than the definition", [](Spec&) {}, 40, 0, st::DataBufferTooShort},
        {"exists", [](Spec&) {}, 1920, -1, st::FileAlreadyExists},
    };
    for (const Case& c : cases) {
        Spec s = twoKeySpec();
        c.change(s);
        std::vector<uint8_t> img = image(s);
        img.resize(c.length);
        EXPECT_EQ(create(path, img, c.keyNumber), c.status) << c.what;
        EXPECT_EQ(fileBytes(path), before) << c.what;
    }
    // Open files are not replaced.
    ASSERT_EQ(h.open(path), st::Success);
    EXPECT_EQ(create(path, image(twoKeySpec())), st::FileInUse);
    ASSERT_EQ(h.close(), st::Success);
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(directoryEntries(dir.path()), entriesBefore) << "nothing left behind";

    // A Create that cannot build its file reports 25 and creates nothing.
    EXPECT_EQ(create(dir.file("NO/SUCH/DIR.BTR"), image(twoKeySpec())), st::CreateIoError);

    // A valid Create with key number 0 replaces the file: empty again.
    ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    ASSERT_EQ(h.open(path), st::Success);
    EXPECT_EQ(h.recordCount(), 0u);
    EXPECT_EQ(h.close(), st::Success);
}

TEST(Storage, OurFileIsAnSqliteDatabaseWithNoSideFilesAtRest)
{
    ScratchDir dir;
    const std::string path = dir.file("SHELL.BTR");
    ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    Handle h;
    ASSERT_EQ(h.open(path), st::Success);
    for (int i = 0; i < 3; ++i) {
        auto r = twoKeyRecord(i, "SHELL");
        ASSERT_EQ(h.insert(r), st::Success);
    }
    // A bundle is not committed yet: another connection sees nothing.
    EXPECT_EQ(sqliteCount(path, "SELECT count(*) FROM records"), 0);
    ASSERT_EQ(h.close(), st::Success);
    EXPECT_EQ(directoryEntries(dir.path()), std::vector<std::string> {"SHELL.BTR"});

    EXPECT_EQ(sqliteCount(path, "SELECT count(*) FROM records"), 3);
    EXPECT_EQ(sqliteCount(path, "PRAGMA application_id"), 0x56726e4b);
    EXPECT_EQ(sqliteCount(path, "PRAGMA user_version"), 2);
    EXPECT_EQ(sqliteCount(path, "SELECT value FROM counters WHERE name = 'records'"), 3);
    // The shell sees the same.
    std::string cmd = "sqlite3 '" + path + "' 'SELECT count(*) FROM records' 2>/dev/null";
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char out[32] = {};
        size_t n = fread(out, 1, sizeof out - 1, p);
        if (::pclose(p) == 0) {
            EXPECT_EQ(std::string(out, n), "3\n");
        }
    }
}

TEST(Storage, DamagedStoresAnswerTwoAndNeverCrash)
{
    ScratchDir dir;
    const std::string path = dir.file("GOOD.BTR");
    ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    {
        Handle h;
        ASSERT_EQ(h.open(path), st::Success);
        for (int i = 0; i < 400; ++i) {
            auto r = twoKeyRecord(i * 7919 % 400, numbered("N", i % 13), 'x');
            ASSERT_EQ(h.insert(r), st::Success);
        }
        ASSERT_EQ(h.close(), st::Success);
    }
    const std::vector<uint8_t> good = fileBytes(path);
    ASSERT_GT(good.size(), 8192u);

    // Damage by schema: the definition unreadable, an index gone.
    const std::string broken = dir.file("BROKEN.BTR");
    std::filesystem::copy_file(path, broken);
    sqliteExec(broken, "UPDATE definition SET image = x'0102'");
    Handle h;
    EXPECT_EQ(h.open(broken), st::IoError);
    std::filesystem::copy_file(path, broken, std::filesystem::copy_options::overwrite_existing);
    sqliteExec(broken, "DROP INDEX records_k1");
    EXPECT_EQ(h.open(broken), st::IoError);

    // Damage by bytes: truncations and overwritten runs anywhere past the header.
    std::mt19937 rng(11);
    const std::string bad = dir.file("BAD.BTR");
    for (int round = 0; round < 60; ++round) {
        std::vector<uint8_t> bytes = good;
        if (round % 3 == 0) {
            bytes.resize(100 + rng() % (good.size() - 100));
        } else {
            size_t at = 100 + rng() % (good.size() - 100);
            size_t n = 1 + rng() % 64;
            for (size_t i = at; i < std::min(bytes.size(), at + n); ++i)
                bytes[i] = static_cast<uint8_t>(rng());
        }
        {
            std::ofstream out(bad, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        Handle d;
        int16_t s = d.open(bad);
        EXPECT_TRUE(s == st::Success || s == st::IoError || s == st::NotADataFile) << s;
        if (s != st::Success)
            continue;
        std::vector<uint8_t> r;
        int16_t status;
        d.stat(status);
        EXPECT_TRUE(status == st::Success || status == st::IoError) << status;
        for (int key = 0; key < 2; ++key) {
            int n = 0;
            for (s = d.read(op::GetFirst, r, key); s == st::Success && n < 1000;
                 s = d.read(op::GetNext, r, key))
                ++n;
            EXPECT_TRUE(s == st::EndOfFile || s == st::IoError) << s;
        }
        for (s = d.read(op::StepFirst, r); s == st::Success; s = d.read(op::StepNext, r)) { }
        EXPECT_TRUE(s == st::EndOfFile || s == st::IoError) << s;
        auto rec = twoKeyRecord(100000 + round, "NEW");
        s = d.insert(rec);
        EXPECT_TRUE(s == st::Success || s == st::IoError || s == st::DuplicateKey) << s;
        s = d.close();
        EXPECT_TRUE(s == st::Success || s == st::IoError) << s;
    }
}

// A process inserting records is killed outright; what it wrote is a prefix of what it inserted,
// whole bundles only, and the counters agree with the records present.
TEST(Durability, KilledWriterLeavesAPrefixAndMatchingCounters)
{
    ScratchDir dir;
    const std::string path = dir.file("KILLED.BTR");
    ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    constexpr int BundleOperations = 65535;
    constexpr int Announced = BundleOperations + 10000;
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(fds[0]);
        Handle w;
        if (w.open(path) != st::Success)
            ::_exit(1);
        for (int i = 1; i < 10000000; ++i) {
            auto r = twoKeyRecord(i, "NAME" + std::to_string(i % 50));
            if (w.insert(r) != st::Success)
                ::_exit(2);
            if (i == Announced && ::write(fds[1], "n", 1) != 1)
                ::_exit(3);
        }
        ::_exit(4);
    }
    ::close(fds[1]);
    char c = 0;
    ASSERT_EQ(::read(fds[0], &c, 1), 1) << "the writer did not get to " << Announced;
    ::kill(child, SIGKILL);
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    ::close(fds[0]);
    ASSERT_TRUE(WIFSIGNALED(wstatus));

    Handle h;
    ASSERT_EQ(h.open(path), st::Success);
    std::vector<uint8_t> r;
    int64_t expected = 1;
    int16_t s;
    for (s = h.read(op::StepFirst, r); s == st::Success; s = h.read(op::StepNext, r)) {
        ASSERT_EQ(idOf(r), expected);
        ++expected;
    }
    EXPECT_EQ(s, st::EndOfFile);
    const int64_t present = expected - 1;
    // A bundle holds at most 65 535 writes (fewer when it is committed for its age), so all but
    // the last 65 535 records announced are on disk.
    EXPECT_GE(present, Announced - BundleOperations);
    int16_t status;
    auto img = h.stat(status);
    ASSERT_EQ(status, st::Success);
    EXPECT_EQ(get32(&img[6]), present);
    EXPECT_EQ(get32(&img[16 + 6]), present);
    EXPECT_EQ(get32(&img[32 + 6]), std::min<int64_t>(present, 50));
    // The file is sound: writing goes on where it stopped.
    auto next = twoKeyRecord(present + 1, "AFTER");
    EXPECT_EQ(h.insert(next), st::Success);
    EXPECT_EQ(h.close(), st::Success);
    EXPECT_EQ(directoryEntries(dir.path()), std::vector<std::string> {"KILLED.BTR"});
}

} // namespace

namespace {

// Counts records by stepping and checks the counters agree: the file is whole.
int64_t soundRecordCount(const std::string& path)
{
    Handle h;
    EXPECT_EQ(h.open(path), st::Success);
    std::vector<uint8_t> r;
    int64_t n = 0;
    int16_t s;
    for (s = h.read(op::StepFirst, r); s == st::Success; s = h.read(op::StepNext, r))
        ++n;
    EXPECT_EQ(s, st::EndOfFile);
    EXPECT_EQ(h.recordCount(), n);
    EXPECT_EQ(h.close(), st::Success);
    return n;
}

// The disk fills up under a writer: it hears 18, and what survives is whole. The child process
// works on a small file system of its own (a private tmpfs), which needs the right to mount.
TEST(Durability, DiskFullAnswers18AndLeavesTheFileSound)
{
    ScratchDir dir;
    const std::string path = dir.file("FULL.BTR");
    enum Outcome { Sound = 0, NoMount = 77, OpenFailed, NotFull, NotSound };
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::unshare(CLONE_NEWNS) != 0
            || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=1m") != 0)
            ::_exit(NoMount);
        if (create(path, image(twoKeySpec())) != st::Success)
            ::_exit(OpenFailed);
        Handle w;
        if (w.open(path) != st::Success)
            ::_exit(OpenFailed);
        int16_t s = st::Success;
        for (int i = 0; i < 100000 && s == st::Success; ++i) {
            auto r = twoKeyRecord(i, "NAME" + std::to_string(i % 50));
            s = w.insert(r);
        }
        int16_t closed = w.close();
        if (s != st::DiskFull && closed != st::DiskFull)
            ::_exit(NotFull);
        // Whatever was committed is whole: records and counters agree, whole bundles only.
        Handle r;
        if (r.open(path) != st::Success)
            ::_exit(NotSound);
        std::vector<uint8_t> rec;
        uint32_t n = 0;
        for (s = r.read(op::StepFirst, rec); s == st::Success; s = r.read(op::StepNext, rec))
            ++n;
        ::_exit(s == st::EndOfFile && r.recordCount() == n && n % 65535 == 0 ? Sound : NotSound);
    }
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    ASSERT_TRUE(WIFEXITED(wstatus));
    if (WEXITSTATUS(wstatus) == NoMount)
        GTEST_SKIP() << "no right to mount a small file system here";
    EXPECT_EQ(WEXITSTATUS(wstatus), Sound);
}

// Another process reading the file keeps a Close from committing: Close answers 85 and keeps
// everything, and succeeds once the reader has gone.
TEST(Durability, CloseThatCannotCommitKeepsTheHandleAndItsWrites)
{
    ScratchDir dir;
    const std::string path = dir.file("BUSY.BTR");
    ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    Handle h;
    ASSERT_EQ(h.open(path), st::Success);
    for (int i = 0; i < 5; ++i) {
        auto r = twoKeyRecord(i, "BUSY");
        ASSERT_EQ(h.insert(r), st::Success);
    }
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &reader, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(reader, "SELECT pos FROM records", -1, &s, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(reader, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(s), SQLITE_DONE); // holds a read lock until the transaction ends
    EXPECT_EQ(h.close(), st::FileInUse);
    sqlite3_finalize(s);
    sqlite3_exec(reader, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(reader);
    EXPECT_EQ(h.recordCount(), 5u);
    ASSERT_EQ(h.close(), st::Success);
    EXPECT_EQ(soundRecordCount(path), 5);
}

} // namespace
