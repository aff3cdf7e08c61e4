// The file-system error texts as the commands that touch the file system directly show them:
// Delete and "ACS to file", each failure made for real in the scratch directory. The failures
// are ones the system gives whatever the user's rights (a directory where a file is expected, a
// full device, a socket, a descriptor limit), so they show with administrator rights too.
#include "DataFiles.h"

#include <QDir>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using FileErrorTexts = DataFileTest;

enum class Command { Delete, AcsToFile };

// A socket in the current directory: no file-system call can open it for writing.
bool makeSocket(const char* name)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name, sizeof address.sun_path - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

TEST_F(FileErrorTexts, EachFailureShowsItsText)
{
    ASSERT_EQ(datafiles::create("FILE.BTR", datafiles::Definition {}), 0);
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("sub")));
    ASSERT_TRUE(makeSocket("SOCKET"));
    const QString tooLong = QString(300, QLatin1Char('N'));
    struct Case
    {
        const char* what;
        Command command;
        QString name;
        const char* text;
    };
    const Case cases[] = {
        {"a missing file", Command::Delete, "GONE.BTR", "File not found."},
        {"a missing directory", Command::Delete, "nodir/GONE.BTR", "Invalid filename."},
        {"a missing directory deeper down", Command::Delete, "sub/nodir/GONE.BTR",
            "Invalid filename."},
        {"a file taken for a directory", Command::Delete, "FILE.BTR/GONE.BTR", "Invalid filename."},
        {"a name too long", Command::Delete, tooLong, "Invalid filename."},
        {"a directory", Command::Delete, "sub", "File access denied."},
        {"into a missing directory", Command::AcsToFile, "nodir/acs.txt", "Invalid filename."},
        {"into a file taken for a directory", Command::AcsToFile, "FILE.BTR/acs.txt",
            "Invalid filename."},
        {"onto a directory", Command::AcsToFile, "sub", "File access denied."},
        {"onto a full device", Command::AcsToFile, "/dev/full", "Disk full."},
        {"onto a socket", Command::AcsToFile, "SOCKET", "I/O error 6."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        presenter->errors.clear();
        if (c.command == Command::Delete) {
            window->EFrom->setText(c.name);
            QTest::mouseClick(window->BDelete, Qt::LeftButton);
            // A failed Delete leaves the name in place: the file list was not re-read.
            EXPECT_EQ(window->EFrom->text(), c.name);
        } else {
            window->EACSName->setText(c.name);
            QTest::mouseClick(window->BFileACS, Qt::LeftButton);
        }
        EXPECT_EQ(presenter->errors, QStringList {QString::fromLatin1(c.text)});
    }
    EXPECT_TRUE(QFileInfo(QStringLiteral("sub")).isDir());
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral("FILE.BTR")));
}

TEST_F(FileErrorTexts, NoDescriptorLeftShowsTooManyOpenFiles)
{
    rlimit before {};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    // The lowest free descriptor becomes the limit, so the next open finds none.
    const int lowest = ::dup(0);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit limited = before;
    limited.rlim_cur = static_cast<rlim_t>(lowest);
    // The same command failing once while descriptors are still free: the sanitizers' runtime
    // checks an object's type the first time it meets it, and that check needs a descriptor.
    window->EACSName->setText(QStringLiteral("nodir/acs.txt"));
    QTest::mouseClick(window->BFileACS, Qt::LeftButton);
    ASSERT_EQ(presenter->errors, QStringList {"Invalid filename."});
    presenter->errors.clear();
    window->EACSName->setText(QStringLiteral("acs.txt"));
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limited), 0);
    QTest::mouseClick(window->BFileACS, Qt::LeftButton);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &before), 0);
    EXPECT_EQ(presenter->errors, QStringList {"Too many open files."});
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("acs.txt")));
}

TEST_F(FileErrorTexts, AFileInADirectoryThatCannotBeWrittenIsNotDeleted)
{
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("locked")));
    ASSERT_EQ(datafiles::create("locked/KEEP.BTR", datafiles::Definition {}), 0);
    ASSERT_EQ(::chmod("locked", 0555), 0);
    if (::access("locked", W_OK) == 0) {
        ::chmod("locked", 0755);
        GTEST_SKIP() << "running with rights that ignore directory permissions";
    }
    window->EFrom->setText(QStringLiteral("locked/KEEP.BTR"));
    QTest::mouseClick(window->BDelete, Qt::LeftButton);
    ::chmod("locked", 0755);
    EXPECT_EQ(presenter->errors, QStringList {"File access denied."});
    EXPECT_TRUE(QFileInfo::exists(QStringLiteral("locked/KEEP.BTR")));
}

} // namespace
