#include "FileSystem.h"

#include "Errors.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QByteArray systemName(const QString& name)
{
    return QFile::encodeName(name);
}

namespace {

// Raises the file-system error of a call on name that failed with errnoValue, telling a missing
// file from a missing directory on the way to it.
[[noreturn]] void raiseFileErrorFor(const QString& name, int errnoValue)
{
    Directory directory = Directory::Exists;
    if (errnoValue == ENOENT) {
        struct stat info
        {
        };
        const QByteArray parent = systemName(QFileInfo(name).path());
        if (::stat(parent.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
            directory = Directory::Missing;
    }
    raiseFileError(errnoValue, directory);
}

} // namespace

int64_t fileSize(const QString& name)
{
    const int fd = ::open(systemName(name).constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        raiseFileErrorFor(name, errno);
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        raiseFileError(error);
    }
    if (::close(fd) != 0)
        raiseFileError(errno);
    return static_cast<int64_t>(info.st_size);
}

void deleteFile(const QString& name)
{
    if (::unlink(systemName(name).constData()) != 0)
        raiseFileErrorFor(name, errno);
}

void writeFile(const QString& name, const QByteArray& bytes)
{
    const int fd
        = ::open(systemName(name).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        raiseFileErrorFor(name, errno);
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, p, static_cast<size_t>(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const int error = written < 0 ? errno : ENOSPC;
            ::close(fd);
            raiseFileError(error);
        }
        p += written;
        left -= written;
    }
    if (::close(fd) != 0)
        raiseFileError(errno);
}

bool sameFile(const QString& a, const QString& b)
{
    struct stat first
    {
    };
    struct stat second
    {
    };
    if (::stat(systemName(a).constData(), &first) != 0
        || ::stat(systemName(b).constData(), &second) != 0)
        return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
