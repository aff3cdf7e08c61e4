// Copy onto a full disk: the record manager answers 18 and drops the writes of its pending
// bundle, so Inserts it answered 0 are gone again. The window counts what the destination holds.
// The destination lives on a small file system of its own (a private tmpfs in a mount namespace
// of the test's thread), which needs the right to mount.
#include "DataFiles.h"

#include <QDir>
#include <QProgressBar>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

using datafiles::Definition;
using datafiles::File;

// One unique 4-byte integer key at 1 and a 200-byte record.
Definition idKey()
{
    Definition d;
    d.recordLength = 200;
    d.segments = {{1, 4, 0x100, 1}};
    return d;
}

class CopyOntoAFullDisk : public DataFileTest
{
protected:
    // Mounts a small tmpfs on "full" in a mount namespace of this thread alone; false when the
    // process may not.
    bool mountSmallDisk(const char* size)
    {
        original = ::open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
        if (original < 0 || !QDir().mkdir(QStringLiteral("full")))
            return false;
        if (::unshare(CLONE_NEWNS) != 0
            || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return false;
        mountPoint = QDir::current().absoluteFilePath(QStringLiteral("full")).toStdString();
        mounted = ::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, size) == 0;
        return mounted;
    }
    void TearDown() override
    {
        DataFileTest::TearDown();
        if (mounted)
            ::umount2(mountPoint.c_str(), MNT_DETACH);
        // Back to the process's own mount namespace (which also moves this thread to its root).
        if (original >= 0) {
            ::setns(original, CLONE_NEWNS);
            ::close(original);
        }
        QDir::setCurrent(previous);
    }
    // SRC.BTR with records 1..count, and an empty full/DST.BTR of the same definition.
    static void makeSourceAndDestination(uint32_t count)
    {
        ASSERT_EQ(datafiles::create("SRC.BTR", idKey()), 0);
        File src("SRC.BTR");
        for (uint32_t id = 1; id <= count; ++id)
            ASSERT_EQ(src.insert(datafiles::record(id, 200, static_cast<uint8_t>(id))), 0);
        ASSERT_EQ(datafiles::create("full/DST.BTR", idKey()), 0);
    }
    int original = -1;
    bool mounted = false;
    std::string mountPoint;
};

// The disk holds the first bundle of writes but not the second: the Inserts of the second were
// answered 0 until the bundle's commit failed, and then they were dropped.
TEST_F(CopyOntoAFullDisk, CountsTheRecordsTheDestinationHolds)
{
    // Room for one bundle of writes (up to 65 535), not for all of them.
    if (!mountSmallDisk("size=12m"))
        GTEST_SKIP() << "no right to mount a small file system here";
    const uint32_t count = 100000;
    ASSERT_NO_FATAL_FAILURE(makeSourceAndDestination(count));
    int inserted = 0;
    QObject::connect(window->ProgressBar, &QProgressBar::valueChanged,
        [&inserted](int v) { inserted = std::max(inserted, v); });
    copy(QStringLiteral("SRC.BTR"), QStringLiteral("full/DST.BTR"));

    File dst("full/DST.BTR");
    ASSERT_EQ(dst.status, 0);
    const auto records = dst.all(btr::op::GetFirst, btr::op::GetNext);
    const int held = static_cast<int>(records.size());
    ASSERT_LT(inserted, static_cast<int>(count)) << "the disk did not fill up";
    ASSERT_LT(held, inserted) << "the failed write dropped nothing";
    EXPECT_EQ(presenter->messages,
        QStringList {QStringLiteral("Cannot insert into full/DST.BTR: disk full (status 18). %1 "
                                    "records copied; %2 records were lost with the failed "
                                    "write; %1 records are in full/DST.BTR.")
                         .arg(held)
                         .arg(inserted - held)});
    // What stayed is the records copied first, whole.
    for (int i = 0; i < held; ++i)
        ASSERT_EQ(records[static_cast<size_t>(i)],
            datafiles::record(static_cast<uint32_t>(i + 1), 200, static_cast<uint8_t>(i + 1)));
    EXPECT_EQ(window->ProgressBar->value(), 0);
    EXPECT_FALSE(window->BtrFile->IsOpen);
}

// Every Insert fits in the pending bundle, but the disk cannot take the bundle when Close commits
// it: the copy looked complete, and the message says that it is not. A bundle also commits at the
// first write after it has been open for a second, so on a slow machine the failure may come at an
// Insert instead; the message must then say that, with its own counts.
TEST_F(CopyOntoAFullDisk, SaysWhenTheLastWritesAreLostAtClose)
{
    if (!mountSmallDisk("size=64k"))
        GTEST_SKIP() << "no right to mount a small file system here";
    const uint32_t count = 800;
    ASSERT_NO_FATAL_FAILURE(makeSourceAndDestination(count));
    int inserted = 0;
    QObject::connect(window->ProgressBar, &QProgressBar::valueChanged,
        [&inserted](int v) { inserted = std::max(inserted, v); });
    copy(QStringLiteral("SRC.BTR"), QStringLiteral("full/DST.BTR"));

    File dst("full/DST.BTR");
    ASSERT_EQ(dst.status, 0);
    const auto held = dst.all(btr::op::GetFirst, btr::op::GetNext).size();
    ASSERT_LT(held, count) << "the disk took every record";
    ASSERT_EQ(presenter->messages.size(), 1);
    const bool atClose = presenter->messages[0].startsWith(QStringLiteral("Cannot close"));
    const size_t answered = atClose ? count : size_t(inserted);
    EXPECT_EQ(presenter->messages[0],
        QStringLiteral("Cannot %1 full/DST.BTR: disk full (status 18). %2 records copied; %3 "
                       "records were lost with the failed write; %2 records are in full/DST.BTR.")
            .arg(atClose ? QStringLiteral("close") : QStringLiteral("insert into"))
            .arg(held)
            .arg(answered - held));
    EXPECT_FALSE(window->BtrFile->IsOpen);
}

} // namespace
