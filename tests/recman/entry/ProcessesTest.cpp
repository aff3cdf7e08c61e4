// Several processes on one file: real forked processes, each with its own record manager, that
// hand each other turns through pipes. Exclusive mode and Create over an open file hold across
// processes, an idle positioned reader never stops a writer, writers and readers running at once
// lose nothing that was acknowledged, and a killed writer leaves a sound file.
//
// The test process itself only directs: it has no file open when it forks, so each child starts
// with an empty record manager of its own. A child reports through its pipe and ends with
// _exit; an alarm turns a child that hangs into a failed test instead of a stuck run.
#include "EntryHelpers.h"

#include <sqlite3.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

using namespace entrytest;

namespace {

// A bundle commits after at most this many operations.
constexpr int BundleOperations = 65535;
// A child still running after this long is hung: it is killed, and the test fails.
constexpr unsigned HangGuardSeconds = 60;

constexpr int32_t NoMessage = INT32_MIN; // the other side has gone

// One forked process running `body`, joined to the test by a pipe each way. Both sides talk with
// say() and hear(); body's return value is the child's exit code.
class Child
{
public:
    template <class Body> explicit Child(Body body, unsigned hangGuardSeconds = HangGuardSeconds)
    {
        int down[2], up[2];
        if (::pipe(down) != 0 || ::pipe(up) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(down[1]);
            ::close(up[0]);
            in_ = down[0];
            out_ = up[1];
            ::alarm(hangGuardSeconds);
            ::_exit(body(*this));
        }
        ::close(down[0]);
        ::close(up[1]);
        in_ = up[0];
        out_ = down[1];
    }
    ~Child()
    {
        if (pid_ > 0 && !reaped_)
            ::kill(pid_, SIGKILL);
        wait();
        ::close(in_);
        ::close(out_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }

    void say(int32_t value)
    {
        if (::write(out_, &value, sizeof value) != sizeof value)
            ::close(out_); // the other side has gone; it learns so from the closed pipe
    }
    void sayAll(const std::vector<int32_t>& values)
    {
        say(static_cast<int32_t>(values.size()));
        for (int32_t v : values)
            say(v);
    }
    int32_t hear()
    {
        int32_t value = 0;
        size_t got = 0;
        while (got < sizeof value) {
            ssize_t n = ::read(in_, reinterpret_cast<char*>(&value) + got, sizeof value - got);
            if (n <= 0)
                return NoMessage;
            got += static_cast<size_t>(n);
        }
        return value;
    }
    std::vector<int32_t> hearAll()
    {
        int32_t n = hear();
        std::vector<int32_t> values;
        for (int32_t i = 0; i < n && n != NoMessage; ++i)
            values.push_back(hear());
        return values;
    }

    // A message (or the end of the pipe) is waiting to be heard; does not block.
    bool pending()
    {
        pollfd p {in_, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

    void killNow() { ::kill(pid_, SIGKILL); }
    // The exit code, or 128 + the signal that ended the child.
    int wait()
    {
        if (pid_ <= 0 || reaped_)
            return status_;
        int w = 0;
        ::waitpid(pid_, &w, 0);
        reaped_ = true;
        status_ = WIFEXITED(w) ? WEXITSTATUS(w) : 128 + WTERMSIG(w);
        return status_;
    }

private:
    pid_t pid_ = -1;
    int in_ = -1;
    int out_ = -1;
    bool reaped_ = false;
    int status_ = -1;
};

// Records with ids first..last (ascending) inserted through one handle; the first status that
// is not 0, or 0.
int16_t insertRange(Handle& h, int64_t first, int64_t last)
{
    for (int64_t id = first; id <= last; ++id) {
        auto r = twoKeyRecord(id, numbered("NAME", id % 50));
        if (int16_t s = h.insert(r))
            return s;
    }
    return st::Success;
}

// The ids of all records in key 0 order, read by one fresh handle; -1 in front on any failure.
std::vector<int64_t> idsInKeyOrder(const std::string& path)
{
    Handle h;
    std::vector<int64_t> ids;
    if (h.open(path) != st::Success)
        return {-1};
    std::vector<uint8_t> r;
    int16_t s;
    for (s = h.read(op::GetFirst, r); s == st::Success; s = h.read(op::GetNext, r))
        ids.push_back(idOf(r));
    if (s != st::EndOfFile)
        ids.insert(ids.begin(), -1);
    if (h.close() != st::Success)
        ids.insert(ids.begin(), -1);
    return ids;
}

std::string integrityCheck(const std::string& path)
{
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &s, nullptr) == SQLITE_OK
            && sqlite3_step(s) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return result;
}

bool exists(const std::string& path)
{
    struct stat sb;
    return ::lstat(path.c_str(), &sb) == 0;
}

// SQLite writes a journal's magic number only when it syncs the journal; until then the
// journal is not hot and would be left in place by SQLite.
bool journalHeaderIsZero(const std::string& journal)
{
    std::vector<uint8_t> magic = fileBytes(journal);
    magic.resize(8, 0xff);
    return magic == std::vector<uint8_t>(8, 0);
}

// What a killed writer leaves: ids 1, 2, ... in key order, at least `atLeast` of them (the records
// whose bundle had committed), and a database that passes SQLite's integrity check.
void expectIntactPrefix(const std::string& path, int64_t atLeast)
{
    const std::vector<int64_t> ids = idsInKeyOrder(path);
    ASSERT_GE(ids.size(), static_cast<size_t>(atLeast));
    for (size_t i = 0; i < ids.size(); ++i)
        ASSERT_EQ(ids[i], static_cast<int64_t>(i) + 1) << "a prefix of what was written";
    EXPECT_EQ(integrityCheck(path), "ok");
}

// The body of a child that opens `path`, inserts ids 1..split and says how that went, waits for
// a word, then inserts split+1..last and closes, saying how each went.
auto writesInTwoSteps(std::string path, int64_t split, int64_t last)
{
    return [path = std::move(path), split, last](Child& self) {
        Handle h;
        int16_t s = h.open(path);
        if (s == st::Success)
            s = insertRange(h, 1, split);
        self.say(s);
        self.hear();
        self.say(insertRange(h, split + 1, last));
        self.say(h.close());
        return 0;
    };
}

class Processes : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path = dir.file("SHARED.BTR");
        ASSERT_EQ(create(path, image(twoKeySpec())), st::Success);
    }

    ScratchDir dir;
    std::string path;
};

// Names that are not regular files answer at once: a FIFO would block an open for reading until
// a writer came, so Create must never open one to look inside.
TEST_F(Processes, CreateAndOpenOfWhatIsNotARegularFileAnswerAtOnce)
{
    const std::string fifo = dir.file("PIPE.BTR");
    const std::string device = dir.file("NULL.BTR");
    const std::string directory = dir.file("DIR.BTR");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    ASSERT_EQ(::mkdir(directory.c_str(), 0777), 0);
    std::vector<std::string> names {fifo, directory};
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        names.push_back(device);
    for (const std::string& name : names) {
        Child c(
            [&](Child& self) {
                self.say(create(name, image(twoKeySpec())));
                Handle h;
                self.say(h.open(name));
                self.say(h.open(name, -2));
                return 0;
            },
            5); // none of this waits for anything
        ASSERT_TRUE(c.started());
        EXPECT_EQ(c.hear(), st::CreateIoError) << name;
        EXPECT_EQ(c.hear(), st::FileNotFound) << name;
        EXPECT_EQ(c.hear(), st::FileNotFound) << name;
        EXPECT_EQ(c.wait(), 0) << name;
        struct stat sb;
        ASSERT_EQ(::lstat(name.c_str(), &sb), 0);
        EXPECT_FALSE(S_ISREG(sb.st_mode)) << name << " was replaced";
    }
}

// Process A holds the file exclusively: every Open by B answers 88 until A closes. Then the
// other way round: B has it open, and A's exclusive Open answers 88.
TEST_F(Processes, ExclusiveModeHoldsAcrossProcesses)
{
    constexpr int32_t Go = 1;
    Child a([&](Child& self) {
        Handle h;
        self.say(h.open(path, -4));
        self.hear();
        auto r = twoKeyRecord(1, "A");
        self.say(h.insert(r));
        self.say(h.close());
        self.hear();
        self.say(h.open(path, -4)); // B has it open now
        self.hear();
        self.say(h.open(path, -4)); // B has closed
        self.say(h.close());
        return 0;
    });
    ASSERT_TRUE(a.started());
    ASSERT_EQ(a.hear(), st::Success);

    Child b([&](Child& self) {
        for (int mode : {0, -1, -2, -3, -4}) {
            Handle h;
            self.say(h.open(path, mode));
        }
        self.hear();
        Handle h;
        self.say(h.open(path));
        self.hear();
        std::vector<uint8_t> r;
        self.say(h.read(op::GetFirst, r));
        self.say(h.close());
        return 0;
    });
    ASSERT_TRUE(b.started());
    for (int mode : {0, -1, -2, -3, -4})
        EXPECT_EQ(b.hear(), st::IncompatibleMode) << "B's Open in mode " << mode;
    a.say(Go);
    EXPECT_EQ(a.hear(), st::Success) << "A's Insert";
    EXPECT_EQ(a.hear(), st::Success) << "A's Close";
    b.say(Go);
    EXPECT_EQ(b.hear(), st::Success) << "B's Open once A has closed";
    a.say(Go);
    EXPECT_EQ(a.hear(), st::IncompatibleMode) << "A's exclusive Open while B has the file";
    b.say(Go);
    EXPECT_EQ(b.hear(), st::Success) << "B's Get First";
    EXPECT_EQ(b.hear(), st::Success) << "B's Close";
    EXPECT_EQ(b.wait(), 0);
    a.say(Go);
    EXPECT_EQ(a.hear(), st::Success) << "A's exclusive Open once B has closed";
    EXPECT_EQ(a.hear(), st::Success);
    EXPECT_EQ(a.wait(), 0);
}

// Create over a file that another process has open answers 85 and leaves the file alone: that
// process goes on writing, and everything it was told was stored is there.
TEST_F(Processes, CreateOverAFileOpenInAnotherProcessAnswers85AndChangesNothing)
{
    struct stat before;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    Child a(writesInTwoSteps(path, 20, 30));
    ASSERT_TRUE(a.started());
    ASSERT_EQ(a.hear(), st::Success);
    EXPECT_EQ(create(path, image(twoKeySpec())), st::FileInUse);
    EXPECT_EQ(create(path, image(twoKeySpec()), -1), st::FileAlreadyExists);
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino) << "the file was replaced";
    a.say(1);
    EXPECT_EQ(a.hear(), st::Success) << "A's later Inserts";
    EXPECT_EQ(a.hear(), st::Success) << "A's Close";
    EXPECT_EQ(a.wait(), 0);
    std::vector<int64_t> expected(30);
    for (int i = 0; i < 30; ++i)
        expected[i] = i + 1;
    EXPECT_EQ(idsInKeyOrder(path), expected);
    // Once nobody has it open, Create replaces it.
    EXPECT_EQ(create(path, image(twoKeySpec())), st::Success);
    EXPECT_EQ(idsInKeyOrder(path), std::vector<int64_t> {});
}

// A reader in another process positioned by Get First and by Step First, then idle, holds no
// lock: the writer's Inserts and Close all answer 0 at once. Then a writer is killed after a
// bundle was committed for its size; what was committed is there, and the reader moves on.
TEST_F(Processes, IdlePositionedReaderDoesNotBlockTheWriter)
{
    {
        Child seed([&](Child&) {
            Handle h;
            if (h.open(path) != st::Success || insertRange(h, 1, 100) != st::Success)
                return 1;
            return h.close() == st::Success ? 0 : 2;
        });
        ASSERT_EQ(seed.wait(), 0);
    }
    Child reader([&](Child& self) {
        Handle byKey, byStep;
        std::vector<uint8_t> r;
        int16_t s = byKey.open(path);
        if (s == st::Success)
            s = byStep.open(path);
        if (s == st::Success)
            s = byKey.read(op::GetFirst, r);
        if (s == st::Success)
            s = byStep.read(op::StepFirst, r);
        self.say(s);
        self.hear(); // idle, positioned, while the writers work
        s = byKey.read(op::GetNext, r);
        self.say(s == st::Success ? static_cast<int32_t>(idOf(r)) : -s);
        s = byStep.read(op::StepNext, r);
        self.say(s == st::Success ? static_cast<int32_t>(idOf(r)) : -s);
        self.say(byKey.close());
        self.say(byStep.close());
        return 0;
    });
    ASSERT_TRUE(reader.started());
    ASSERT_EQ(reader.hear(), st::Success);

    // More Inserts than one bundle holds: one commit for the bundle's size, one at Close.
    constexpr int64_t Written = 100 + BundleOperations + 5000;
    Child writer([&](Child& self) {
        Handle h;
        int16_t s = h.open(path);
        std::vector<int32_t> refused; // id, status of each Insert that did not answer 0
        for (int64_t id = 101; id <= Written && s == st::Success; ++id) {
            auto r = twoKeyRecord(id, numbered("NAME", id % 50));
            if (int16_t i = h.insert(r)) {
                refused.push_back(static_cast<int32_t>(id));
                refused.push_back(i);
            }
        }
        self.say(s);
        self.sayAll(refused);
        self.say(s == st::Success ? h.close() : s);
        return 0;
    });
    ASSERT_TRUE(writer.started());
    EXPECT_EQ(writer.hear(), st::Success) << "the writer's Open";
    const std::vector<int32_t> refused = writer.hearAll();
    EXPECT_TRUE(refused.empty()) << "Insert of id " << refused[0] << " answered " << refused[1];
    EXPECT_EQ(writer.hear(), st::Success) << "the writer's Close";
    EXPECT_EQ(writer.wait(), 0);

    // A second writer is killed in the middle of its bundle.
    Child crasher([&](Child& self) {
        Handle h;
        int16_t s = h.open(path);
        if (s == st::Success)
            s = insertRange(h, Written + 1, Written + 1000);
        self.say(s);
        if (s == st::Success)
            insertRange(h, Written + 1001, Written + 1000000);
        return 0;
    });
    ASSERT_TRUE(crasher.started());
    EXPECT_EQ(crasher.hear(), st::Success);
    crasher.killNow();
    EXPECT_EQ(crasher.wait(), 128 + SIGKILL);

    reader.say(1);
    EXPECT_EQ(reader.hear(), 2) << "Get Next after the idle time";
    EXPECT_EQ(reader.hear(), 2) << "Step Next after the idle time";
    EXPECT_EQ(reader.hear(), st::Success);
    EXPECT_EQ(reader.hear(), st::Success);
    EXPECT_EQ(reader.wait(), 0);

    ASSERT_NO_FATAL_FAILURE(expectIntactPrefix(path, Written));
}

// A reader reads ahead, but never past another process's commit: what was committed after its
// Get First and Step First comes in its walk.
TEST_F(Processes, ReaderSeesWhatAnotherProcessCommittedSinceItsLastRead)
{
    Child reader([&](Child& self) {
        Handle byKey, byStep;
        std::vector<uint8_t> r;
        int16_t s = byKey.open(path);
        for (int64_t id = 10; id <= 100 && s == st::Success; id += 10) {
            auto rec = twoKeyRecord(id, "R");
            s = byKey.insert(rec);
        }
        if (s == st::Success)
            s = byKey.close();
        if (s == st::Success)
            s = byKey.open(path);
        if (s == st::Success)
            s = byStep.open(path);
        if (s == st::Success)
            s = byKey.read(op::GetFirst, r);
        if (s == st::Success)
            s = byStep.read(op::StepFirst, r);
        self.say(s);
        self.hear();
        std::vector<int32_t> walk;
        for (s = byKey.read(op::GetNext, r); s == st::Success; s = byKey.read(op::GetNext, r))
            walk.push_back(static_cast<int32_t>(idOf(r)));
        walk.push_back(-s);
        for (s = byStep.read(op::StepNext, r); s == st::Success; s = byStep.read(op::StepNext, r))
            walk.push_back(static_cast<int32_t>(idOf(r)));
        walk.push_back(-s);
        self.sayAll(walk);
        self.say(byKey.close());
        self.say(byStep.close());
        return 0;
    });
    ASSERT_TRUE(reader.started());
    ASSERT_EQ(reader.hear(), st::Success);
    Child writer([&](Child&) {
        Handle h;
        auto a = twoKeyRecord(15, "W"), b = twoKeyRecord(200, "W");
        return h.open(path) == st::Success && h.insert(a) == st::Success
                && h.insert(b) == st::Success && h.close() == st::Success
            ? 0
            : 1;
    });
    ASSERT_EQ(writer.wait(), 0);
    reader.say(1);
    const std::vector<int32_t> expected {15, 20, 30, 40, 50, 60, 70, 80, 90, 100, 200, -9, 20, 30,
        40, 50, 60, 70, 80, 90, 100, 15, 200, -9};
    EXPECT_EQ(reader.hearAll(), expected);
    EXPECT_EQ(reader.hear(), st::Success);
    EXPECT_EQ(reader.hear(), st::Success);
    EXPECT_EQ(reader.wait(), 0);
}

// A journal whose header is all zero (its writer died before the first journal sync) is not a
// hot journal, and SQLite would leave it there: a writable Open removes it, and the data stays.
TEST_F(Processes, WritableOpenRemovesALeftoverJournalWithAZeroedHeader)
{
    {
        Handle h;
        ASSERT_EQ(h.open(path), st::Success);
        ASSERT_EQ(insertRange(h, 1, 50), st::Success);
        ASSERT_EQ(h.close(), st::Success);
    }
    const std::vector<uint8_t> data = fileBytes(path);
    const std::string journal = path + "-journal";
    {
        // A writer killed before its bundle's first journal sync leaves the journal as it is.
        Child killed([&](Child& self) {
            Handle h;
            int16_t s = h.open(path);
            if (s == st::Success)
                s = insertRange(h, 51, 55);
            self.say(s);
            self.hear();
            return 0;
        });
        ASSERT_EQ(killed.hear(), st::Success);
        killed.killNow();
        ASSERT_EQ(killed.wait(), 128 + SIGKILL);
    }
    ASSERT_TRUE(exists(journal)) << "the killed bundle left no journal: nothing to check";
    EXPECT_TRUE(journalHeaderIsZero(journal));
    Child c([&](Child& self) {
        Handle h;
        self.say(h.open(path));
        self.say(exists(journal) ? 1 : 0);
        self.say(static_cast<int32_t>(h.recordCount()));
        self.say(h.close());
        return 0;
    });
    ASSERT_TRUE(c.started());
    EXPECT_EQ(c.hear(), st::Success);
    EXPECT_EQ(c.hear(), 0) << "the journal is still there after the Open";
    EXPECT_EQ(c.hear(), 50);
    EXPECT_EQ(c.hear(), st::Success);
    EXPECT_EQ(c.wait(), 0);
    EXPECT_EQ(fileBytes(path), data);
    EXPECT_FALSE(exists(journal));
}

// The journal of a bundle still open in another process also has a zeroed header until its
// first sync: an Open elsewhere must leave it alone, under SQLite's own locking.
TEST_F(Processes, WritableOpenLeavesTheJournalOfALiveBundleAlone)
{
    const std::string journal = path + "-journal";
    Child a(writesInTwoSteps(path, 5, 10));
    ASSERT_TRUE(a.started());
    ASSERT_EQ(a.hear(), st::Success);
    ASSERT_TRUE(exists(journal)) << "the bundle has no journal: nothing to check";
    EXPECT_TRUE(journalHeaderIsZero(journal)) << "the journal was synced";

    Child b([&](Child& self) {
        Handle h;
        self.say(h.open(path));
        self.say(static_cast<int32_t>(h.recordCount()));
        self.hear();
        self.say(static_cast<int32_t>(h.recordCount()));
        self.say(h.close());
        return 0;
    });
    ASSERT_TRUE(b.started());
    EXPECT_EQ(b.hear(), st::Success);
    EXPECT_EQ(b.hear(), 0) << "B sees only what was committed";
    EXPECT_TRUE(exists(journal)) << "B's Open removed A's live journal";
    a.say(1);
    EXPECT_EQ(a.hear(), st::Success);
    EXPECT_EQ(a.hear(), st::Success);
    EXPECT_EQ(a.wait(), 0);
    b.say(1);
    EXPECT_EQ(b.hear(), 10);
    EXPECT_EQ(b.hear(), st::Success);
    EXPECT_EQ(b.wait(), 0);
    EXPECT_FALSE(exists(journal));
}

// Reads the whole file in key 0 order and in physical order, again and again, until the test
// says stop; then scans once more and reports the scans that went wrong (a status other than 0
// or 9, a record seen twice, order broken; with `contiguous`, ids not running 1, 2, 3, ...), the
// record count and its Close.
int scanUntilTold(Child& self, const std::string& path, bool contiguous)
{
    Handle h;
    if (h.open(path) != st::Success) {
        self.say(-1);
        return 1;
    }
    self.say(0);
    int32_t wrong = 0;
    std::vector<uint8_t> r;
    std::set<int64_t> seen;
    // Key 0 order is id order; physical order is insertion order, which is id order only for
    // one writer.
    auto scan = [&](uint16_t first, uint16_t next, bool idOrder) {
        int16_t s;
        int64_t last = 0; // ids start at 1 with one writer, at 0 with two
        bool sound = true;
        seen.clear();
        for (s = h.read(first, r); s == st::Success; s = h.read(next, r)) {
            const int64_t id = idOf(r);
            if ((contiguous && id != last + 1) || (idOrder && !seen.empty() && id <= last)
                || !seen.insert(id).second)
                sound = false;
            last = id;
        }
        if (s != st::EndOfFile || !sound)
            ++wrong;
    };
    bool stop = false;
    while (!stop) {
        stop = self.pending();
        scan(op::GetFirst, op::GetNext, true);
        scan(op::StepFirst, op::StepNext, contiguous);
    }
    self.say(wrong);
    self.say(static_cast<int32_t>(h.recordCount()));
    self.say(h.close());
    return 0;
}

// Two writers and a reader at once: afterwards every record whose Insert answered 0 is there
// exactly once, and nothing else is.
TEST_F(Processes, TwoWritersAndAReaderLoseNothing)
{
    constexpr int PerWriter = 4000;
    Child reader([&](Child& self) { return scanUntilTold(self, path, false); });
    ASSERT_TRUE(reader.started());
    ASSERT_EQ(reader.hear(), 0);
    auto writerBody = [&](int parity) {
        return [&, parity](Child& self) {
            Handle h;
            int16_t s = h.open(path);
            std::vector<int32_t> acknowledged, refused;
            for (int i = 0; i < PerWriter && s == st::Success; ++i) {
                const int32_t id = 2 * i + parity;
                auto r = twoKeyRecord(id, numbered("W", i % 7));
                int16_t inserted = h.insert(r);
                // Another writer's bundle may hold the file past the busy timeout: that Insert
                // stored nothing and is tried again, as a program would.
                while (inserted == st::FileInUse)
                    inserted = h.insert(r);
                if (inserted == st::Success)
                    acknowledged.push_back(id);
                else
                    refused.push_back(inserted);
            }
            self.say(s);
            self.sayAll(acknowledged);
            self.sayAll(refused);
            self.say(h.close());
            return 0;
        };
    };
    Child w0(writerBody(0));
    Child w1(writerBody(1));
    ASSERT_TRUE(w0.started() && w1.started());
    std::vector<int64_t> expected;
    for (Child* w : {&w0, &w1}) {
        EXPECT_EQ(w->hear(), st::Success) << "a writer's Open";
        std::vector<int32_t> ids = w->hearAll();
        EXPECT_EQ(w->hearAll(), std::vector<int32_t> {}) << "statuses of refused Inserts";
        EXPECT_EQ(w->hear(), st::Success) << "a writer's Close";
        EXPECT_EQ(w->wait(), 0);
        EXPECT_EQ(ids.size(), static_cast<size_t>(PerWriter));
        expected.insert(expected.end(), ids.begin(), ids.end());
    }
    // The reader scans once more after the writers are done.
    reader.say(1);
    EXPECT_EQ(reader.hear(), 0) << "scans that went wrong";
    EXPECT_EQ(reader.hear(), 2 * PerWriter) << "the reader's record count";
    EXPECT_EQ(reader.hear(), st::Success);
    EXPECT_EQ(reader.wait(), 0);

    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(idsInKeyOrder(path), expected);
    EXPECT_EQ(integrityCheck(path), "ok");
}

// A writer is killed while another process reads the file: the reader's scans stay whole and in
// order throughout, and afterwards the file holds a prefix of what was written, all committed
// bundles at least, and passes SQLite's integrity check.
TEST_F(Processes, WriterKilledWhileAnotherProcessReads)
{
    Child reader([&](Child& self) { return scanUntilTold(self, path, true); });
    ASSERT_TRUE(reader.started());
    ASSERT_EQ(reader.hear(), 0);
    // The first records are committed by a Close; the writer is killed in a later bundle.
    constexpr int Closed = 3000, Announced = Closed + 20000;
    Child writer([&](Child& self) {
        Handle h;
        int16_t s = h.open(path);
        if (s == st::Success)
            s = insertRange(h, 1, Closed);
        if (s == st::Success)
            s = h.close();
        if (s == st::Success)
            s = h.open(path);
        if (s == st::Success)
            s = insertRange(h, Closed + 1, Announced);
        self.say(s);
        if (s == st::Success)
            insertRange(h, Announced + 1, 10000000);
        return 0;
    });
    ASSERT_TRUE(writer.started());
    EXPECT_EQ(writer.hear(), st::Success);
    writer.killNow();
    EXPECT_EQ(writer.wait(), 128 + SIGKILL);
    reader.say(1); // its last scan starts after the kill
    EXPECT_EQ(reader.hear(), 0) << "scans that went wrong";
    EXPECT_GE(reader.hear(), Closed) << "the reader's record count";
    EXPECT_EQ(reader.hear(), st::Success);
    EXPECT_EQ(reader.wait(), 0);

    ASSERT_NO_FATAL_FAILURE(expectIntactPrefix(path, Closed));
    EXPECT_FALSE(exists(path + "-journal")) << "a writable Open leaves no journal behind";
}

// Reads the record of `id` by key 0 into `r`.
int16_t findId(Handle& h, int64_t id, std::vector<uint8_t>& r)
{
    btr::le::putN(h.key, 8, uint64_t(id));
    return h.read(op::GetEqual, r);
}

int16_t transactionCall(uint16_t op)
{
    uint8_t pos[btr::PositionBlockSize] = {}, key[btr::KeyBufferSize] = {}, data[4] = {};
    uint16_t length = 0;
    return BTRCALLID(op, pos, data, &length, key, 255, 0, nullptr);
}

// Two processes read the same record; one changes it (or deletes it) and commits: the other's
// Update and Delete of what it read answer 80, and go through once it has read the record again.
TEST_F(Processes, UpdateOrDeleteOfARecordAnotherProcessChangedAnswers80)
{
    {
        Handle seed;
        ASSERT_EQ(seed.open(path), st::Success);
        ASSERT_EQ(insertRange(seed, 1, 10), st::Success);
        ASSERT_EQ(seed.close(), st::Success);
    }
    constexpr int32_t Go = 1;
    Child a([&](Child& self) {
        Handle h;
        std::vector<uint8_t> five, six;
        int16_t s = h.open(path);
        if (s == st::Success)
            s = findId(h, 5, five);
        Handle h6;
        if (s == st::Success && (s = h6.open(path)) == st::Success)
            s = findId(h6, 6, six);
        self.say(s);
        self.hear(); // B changes 5 and deletes 6 meanwhile
        auto changed = twoKeyRecord(5, numbered("NAME", 5), 'A');
        self.say(h.call(op::Update, changed.data(), 100, 0));
        self.say(h.call(op::Delete, five.data(), 0, 0));
        self.say(h6.call(op::Update, six.data(), 100, 0));
        self.say(h6.call(op::Delete, six.data(), 0, 0));
        s = findId(h, 5, five);
        if (s == st::Success)
            s = h.call(op::Update, changed.data(), 100, 0);
        self.say(s);
        self.say(h.close());
        self.say(h6.close());
        return 0;
    });
    ASSERT_TRUE(a.started());
    ASSERT_EQ(a.hear(), st::Success);
    Child b([&](Child& self) {
        Handle h;
        std::vector<uint8_t> r;
        int16_t s = h.open(path);
        if (s == st::Success)
            s = findId(h, 5, r);
        auto changed = twoKeyRecord(5, numbered("NAME", 5), 'B');
        if (s == st::Success)
            s = h.call(op::Update, changed.data(), 100, 0);
        if (s == st::Success)
            s = findId(h, 6, r);
        if (s == st::Success)
            s = h.call(op::Delete, r.data(), 0, 0);
        self.say(s);
        self.say(h.close());
        return 0;
    });
    EXPECT_EQ(b.hear(), st::Success) << "B's Update and Delete";
    EXPECT_EQ(b.hear(), st::Success) << "B's Close commits them";
    EXPECT_EQ(b.wait(), 0);
    a.say(Go);
    EXPECT_EQ(a.hear(), st::Conflict) << "A's Update of what B changed";
    EXPECT_EQ(a.hear(), st::Conflict) << "A's Delete of what B changed";
    EXPECT_EQ(a.hear(), st::Conflict) << "A's Update of what B deleted";
    EXPECT_EQ(a.hear(), st::Conflict) << "A's Delete of what B deleted";
    EXPECT_EQ(a.hear(), st::Success) << "A's Update after reading again";
    EXPECT_EQ(a.hear(), st::Success);
    EXPECT_EQ(a.hear(), st::Success);
    EXPECT_EQ(a.wait(), 0);
    Handle h;
    ASSERT_EQ(h.open(path), st::Success);
    std::vector<uint8_t> r;
    ASSERT_EQ(findId(h, 5, r), st::Success);
    EXPECT_EQ(r, twoKeyRecord(5, numbered("NAME", 5), 'A'));
    EXPECT_EQ(findId(h, 6, r), st::KeyNotFound);
    EXPECT_EQ(h.recordCount(), 9u);
    EXPECT_EQ(h.close(), st::Success);
}

// What a transaction writes is seen by no other process before End; after End it is there once
// committed, and an Abort leaves the file as it was, even to a process killed inside it.
TEST_F(Processes, TransactionsAreSeenByOthersOnlyOnceEnded)
{
    {
        Handle seed;
        ASSERT_EQ(seed.open(path), st::Success);
        ASSERT_EQ(insertRange(seed, 1, 10), st::Success);
        ASSERT_EQ(seed.close(), st::Success);
    }
    const std::vector<int64_t> original = idsInKeyOrder(path);
    // How one transaction goes: Insert 100, Update 5, Delete 6.
    auto writes = [&](Handle& h) {
        std::vector<uint8_t> r;
        auto added = twoKeyRecord(100, "IN TX");
        auto changed = twoKeyRecord(5, numbered("NAME", 5), 'T');
        int16_t s = transactionCall(op::BeginTransaction);
        if (s == st::Success)
            s = h.insert(added);
        if (s == st::Success && (s = findId(h, 5, r)) == st::Success)
            s = h.call(op::Update, changed.data(), 100, 0);
        if (s == st::Success && (s = findId(h, 6, r)) == st::Success)
            s = h.call(op::Delete, r.data(), 0, 0);
        return s;
    };
    for (uint16_t end : {op::EndTransaction, op::AbortTransaction, uint16_t(0)}) {
        SCOPED_TRACE(end == op::EndTransaction ? "End" : end ? "Abort" : "killed");
        Child writer([&](Child& self) {
            Handle h;
            int16_t s = h.open(path);
            if (s == st::Success)
                s = writes(h);
            self.say(s);
            self.hear();
            if (end == 0)
                std::raise(SIGKILL);
            self.say(transactionCall(end));
            self.say(h.close());
            return 0;
        });
        ASSERT_EQ(writer.hear(), st::Success);
        EXPECT_EQ(idsInKeyOrder(path), original) << "seen before the transaction ended";
        writer.say(1);
        if (end != 0) {
            EXPECT_EQ(writer.hear(), st::Success);
            EXPECT_EQ(writer.hear(), st::Success);
        }
        EXPECT_EQ(writer.wait(), end != 0 ? 0 : 128 + SIGKILL);
        std::vector<int64_t> expected = original;
        if (end == op::EndTransaction) {
            std::erase(expected, 6);
            expected.push_back(100);
        }
        EXPECT_EQ(idsInKeyOrder(path), expected);
        EXPECT_EQ(integrityCheck(path), "ok");
        if (end == op::EndTransaction) {
            // Put back for the next round.
            Handle h;
            std::vector<uint8_t> r;
            ASSERT_EQ(h.open(path), st::Success);
            ASSERT_EQ(findId(h, 100, r), st::Success);
            ASSERT_EQ(h.call(op::Delete, r.data(), 0, 0), st::Success);
            auto six = twoKeyRecord(6, numbered("NAME", 6 % 50));
            ASSERT_EQ(h.insert(six), st::Success);
            ASSERT_EQ(h.close(), st::Success);
        }
    }
}

// Every record's id and position along key `k` (or physical order for -1), walked by one handle.
std::vector<std::pair<int64_t, uint32_t>> walk(Handle& h, int k)
{
    std::vector<std::pair<int64_t, uint32_t>> out;
    std::vector<uint8_t> r;
    const uint16_t first = k < 0 ? op::StepFirst : op::GetFirst;
    const uint16_t next = k < 0 ? op::StepNext : op::GetNext;
    for (int16_t s = h.read(first, r, k); s == st::Success; s = h.read(next, r, k)) {
        uint8_t p[4];
        EXPECT_EQ(h.call(op::GetPosition, p, 4), st::Success);
        out.emplace_back(idOf(r), btr::le::get32(p));
    }
    return out;
}

uint32_t percentOf(size_t rank, size_t n)
{
    return n <= 1 ? 0 : uint32_t((2 * rank * 10000 + n - 1) / (2 * (n - 1)));
}

// Get By Percentage and Find Percentage agree with a walk of each order, exactly: on a file large
// enough that its ranks keep only every few entries, after this handle's own changes (which move
// the ranks), after more changes than are followed one by one, and after another process's commit.
void expectPercentages(Handle& h, std::mt19937& rng)
{
    for (int k : {-1, 0, 1}) {
        SCOPED_TRACE(testing::Message() << "key " << k);
        const auto order = walk(h, k);
        const size_t n = order.size();
        ASSERT_GT(n, 0u);
        std::vector<uint8_t> data(4096);
        std::vector<uint16_t> percents {0, 1, 2, 4999, 5000, 7777, 9999, 10000};
        for (int i = 0; i < 40; ++i)
            percents.push_back(uint16_t(rng() % 10001));
        for (uint16_t p : percents) {
            btr::le::put16(data.data(), p);
            ASSERT_EQ(h.call(op::GetByPercentage, data.data(), 4096, k), st::Success);
            ASSERT_EQ(idOf(data), order[size_t(uint64_t(p) * (n - 1) / 10000)].first) << p;
        }
        for (int i = 0; i < 40; ++i) {
            size_t rank = i < 2 ? (i == 0 ? 0 : n - 1) : rng() % n;
            if (k < 0) {
                btr::le::put32(data.data(), order[rank].second);
            } else {
                // The value of that entry: its first entry is where Find Percentage points.
                std::vector<uint8_t> r;
                btr::le::put32(data.data(), order[rank].second);
                ASSERT_EQ(h.call(op::GetDirect, data.data(), 4096, k), st::Success);
                std::vector<uint8_t> value(h.key, h.key + (k == 0 ? 8 : 20));
                while (rank > 0) {
                    btr::le::put32(data.data(), order[rank - 1].second);
                    ASSERT_EQ(h.call(op::GetDirect, data.data(), 4096, k), st::Success);
                    if (!std::equal(value.begin(), value.end(), h.key))
                        break;
                    --rank;
                }
                std::copy(value.begin(), value.end(), h.key);
            }
            ASSERT_EQ(h.call(op::FindPercentage, data.data(), 4, k), st::Success);
            ASSERT_EQ(btr::le::get32(data.data()), percentOf(rank, n)) << "rank " << rank;
        }
    }
}

TEST_F(Processes, PercentagesAreExactAtScaleAndThroughChanges)
{
    constexpr int64_t Records = 20000;
    std::mt19937 rng(11);
    Handle h;
    ASSERT_EQ(h.open(path), st::Success);
    for (int64_t i = 0; i < Records; ++i) {
        auto r = twoKeyRecord(i * 7919 % 100003, numbered("NAME", int64_t(rng() % 300)));
        ASSERT_EQ(h.insert(r), st::Success);
    }
    ASSERT_EQ(h.close(), st::Success);
    ASSERT_EQ(h.open(path), st::Success);
    ASSERT_NO_FATAL_FAILURE(expectPercentages(h, rng));

    // This handle's changes, and then more of them than the ranks follow one by one.
    std::vector<uint8_t> data(4096);
    auto change = [&](int times) {
        for (int i = 0; i < times; ++i) {
            btr::le::put16(data.data(), uint16_t(rng() % 10001));
            ASSERT_EQ(h.call(op::GetByPercentage, data.data(), 4096, -1), st::Success);
            const int64_t id = idOf(data);
            if (i % 3 == 0) {
                ASSERT_EQ(h.call(op::Delete, data.data(), 0, -1), st::Success);
            } else if (i % 3 == 1) {
                // Key 1 is not modifiable: the record leaves and comes back under a new name.
                ASSERT_EQ(h.call(op::Delete, data.data(), 0, -1), st::Success);
                auto r = twoKeyRecord(id, numbered("NAME", int64_t(rng() % 300)));
                ASSERT_EQ(h.insert(r, -1), st::Success);
            } else {
                auto r = twoKeyRecord(200000 + i + Records * times, "NEW");
                ASSERT_EQ(h.insert(r, -1), st::Success);
            }
        }
    };
    ASSERT_NO_FATAL_FAILURE(change(600));
    ASSERT_NO_FATAL_FAILURE(expectPercentages(h, rng));
    ASSERT_NO_FATAL_FAILURE(change(3000));
    ASSERT_NO_FATAL_FAILURE(expectPercentages(h, rng));
    ASSERT_EQ(h.close(), st::Success);

    // Another process commits while this one holds the file open with its ranks.
    ASSERT_EQ(h.open(path), st::Success);
    ASSERT_NO_FATAL_FAILURE(expectPercentages(h, rng));
    Child other([&](Child&) {
        Handle w;
        if (w.open(path) != st::Success || insertRange(w, 300000, 300500) != st::Success)
            return 1;
        std::vector<uint8_t> r;
        for (int i = 0; i < 300 && w.read(i == 0 ? op::GetFirst : op::GetNext, r) == st::Success;
             ++i) {
            if (i % 2 == 0 && w.call(op::Delete, r.data(), 0, 0) != st::Success)
                return 2;
        }
        return w.close() == st::Success ? 0 : 3;
    });
    ASSERT_EQ(other.wait(), 0);
    ASSERT_NO_FATAL_FAILURE(expectPercentages(h, rng));
    EXPECT_EQ(h.close(), st::Success);
}

// A file of the first format version keeps working: read and written as it is while another
// process has it open, brought up to date by a process that has it alone; either way its records
// and their order are what they were.
TEST_F(Processes, FilesOfTheFirstFormatAreReadAndBroughtUpToDate)
{
    {
        Handle h;
        ASSERT_EQ(h.open(path), st::Success);
        for (int64_t id : {1, 2, 3, 4, 5, 6})
            ASSERT_EQ(insertRange(h, id, id), st::Success);
        ASSERT_EQ(h.close(), st::Success);
    }
    // As the first format made it: key 1 (duplicates) ordered by position, no sequence column.
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
        const char* sql = "DROP INDEX records_k1; ALTER TABLE records DROP COLUMN s1;"
                          "CREATE INDEX records_k1 ON records(k1);"
                          "DELETE FROM counters WHERE name = 'positions'; PRAGMA user_version = 1;";
        EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK)
            << sqlite3_errmsg(db);
        sqlite3_close(db);
    }
    auto version = [&] {
        sqlite3* db = nullptr;
        int v = -1;
        sqlite3_stmt* s = nullptr;
        if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK
            && sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr) == SQLITE_OK
            && sqlite3_step(s) == SQLITE_ROW)
            v = sqlite3_column_int(s, 0);
        sqlite3_finalize(s);
        sqlite3_close(db);
        return v;
    };
    const std::vector<int64_t> ids {1, 2, 3, 4, 5, 6};
    // A read-only open leaves the file as it is.
    Child holder([&](Child& self) {
        Handle h;
        self.say(h.open(path, -2));
        self.hear();
        self.say(h.close());
        return 0;
    });
    ASSERT_EQ(holder.hear(), st::Success);
    {
        Handle h;
        ASSERT_EQ(h.open(path), st::Success);
        EXPECT_EQ(version(), 1) << "changed under another process";
        ASSERT_EQ(insertRange(h, 7, 7), st::Success);
        std::vector<uint8_t> r;
        ASSERT_EQ(findId(h, 7, r), st::Success);
        auto same = twoKeyRecord(7, numbered("NAME", 7), 'x');
        EXPECT_EQ(h.call(op::Update, same.data(), 100, 0), st::Success);
        ASSERT_EQ(h.close(), st::Success);
    }
    EXPECT_EQ(version(), 1);
    holder.say(1);
    ASSERT_EQ(holder.hear(), st::Success);
    ASSERT_EQ(holder.wait(), 0);
    EXPECT_EQ(idsInKeyOrder(path), (std::vector<int64_t> {1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(version(), 2) << "a process alone with the file brings it up to date";
    Handle h;
    ASSERT_EQ(h.open(path), st::Success);
    for (int k : {0, 1})
        EXPECT_EQ(walk(h, k).size(), 7u);
    EXPECT_EQ(h.close(), st::Success);
    EXPECT_EQ(integrityCheck(path), "ok");
}

} // namespace
