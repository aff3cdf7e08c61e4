#include "Posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace recman::posix {

namespace {

int lastError()
{
    return errno != 0 ? errno : EIO;
}

void fill(const struct stat& st, FileInfo& out)
{
    out.regular = S_ISREG(st.st_mode);
    out.size = uint64_t(st.st_size);
    out.device = uint64_t(st.st_dev);
    out.inode = uint64_t(st.st_ino);
}

// Where the presence locks sit: below the bytes SQLite locks (from 0x40000000, 512 bytes),
// which no database of ours reaches, so they meet neither SQLite's locks nor data.
constexpr off_t PresenceLockOffset = 0x3fffff00;
constexpr off_t PresenceLockLength = 16;

bool readFully(int fd, uint64_t offset, void* out, size_t length);

} // namespace

Failure classify(int error)
{
    switch (error) {
    case 0:
        return Failure::None;
    case ENOENT:
    case ENOTDIR:
        return Failure::NotFound;
    case EACCES:
        return Failure::AccessDenied;
    case EPERM:
        return Failure::NotPermitted;
    case ENAMETOOLONG:
        return Failure::NameTooLong;
    case EEXIST:
        return Failure::AlreadyExists;
    case ENOSPC:
        return Failure::NoSpace;
    case EDQUOT:
        return Failure::QuotaExceeded;
    case EFBIG:
        return Failure::FileTooLarge;
    default:
        return Failure::Other;
    }
}

std::string describe(int error)
{
    return std::strerror(error);
}

int fileInfo(const std::string& path, FileInfo& out)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return lastError();
    fill(st, out);
    return 0;
}

bool mayRead(const std::string& path)
{
    return ::access(path.c_str(), R_OK) == 0;
}

bool mayWrite(const std::string& path)
{
    return ::access(path.c_str(), W_OK) == 0;
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int ReadOnlyFile::open(const std::string& path)
{
    if (fd_ >= 0)
        ::close(fd_);
#ifdef O_NOATIME
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd_ >= 0)
        return 0;
    if (errno != EPERM)
        return lastError();
#endif
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ >= 0 ? 0 : lastError();
}

int ReadOnlyFile::info(FileInfo& out) const
{
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        return lastError();
    fill(st, out);
    return 0;
}

bool ReadOnlyFile::readAt(uint64_t offset, void* out, size_t length) const
{
    return readFully(fd_, offset, out, length);
}

OpenFileLock::~OpenFileLock()
{
    close();
}

int OpenFileLock::open(const std::string& path)
{
    close();
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK);
    writable_ = fd_ >= 0;
    if (fd_ < 0 && (errno == EACCES || errno == EROFS || errno == EPERM || errno == EISDIR))
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    return fd_ >= 0 ? 0 : lastError();
}

void OpenFileLock::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    writable_ = false;
}

int OpenFileLock::info(FileInfo& out) const
{
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        return lastError();
    fill(st, out);
    return 0;
}

bool OpenFileLock::tryLock(bool exclusive)
{
    struct flock l
    {
    };
    l.l_whence = SEEK_SET;
    l.l_start = PresenceLockOffset;
    l.l_len = PresenceLockLength;
    if (exclusive && !writable_) {
        l.l_type = F_WRLCK;
        if (::fcntl(fd_, F_OFD_GETLK, &l) != 0 || l.l_type != F_UNLCK)
            return false;
        l = {};
        l.l_whence = SEEK_SET;
        l.l_start = PresenceLockOffset;
        l.l_len = PresenceLockLength;
        exclusive = false;
    }
    l.l_type = exclusive ? F_WRLCK : F_RDLCK;
    return ::fcntl(fd_, F_OFD_SETLK, &l) == 0;
}

bool OpenFileLock::readAt(uint64_t offset, void* out, size_t length) const
{
    return readFully(fd_, offset, out, length);
}

namespace {

bool readFully(int fd, uint64_t offset, void* out, size_t length)
{
    auto* to = static_cast<uint8_t*>(out);
    while (length > 0) {
        ssize_t got = ::pread(fd, to, length, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        to += got;
        offset += uint64_t(got);
        length -= size_t(got);
    }
    return true;
}

} // namespace

std::string directoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

int createTemporary(const std::string& directory, const std::string& prefix, std::string& path)
{
    path = directory + "/" + prefix + "XXXXXX";
    int fd = ::mkstemp(path.data());
    if (fd < 0)
        return lastError();
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    return 0;
}

int renameOver(const std::string& from, const std::string& to)
{
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : lastError();
}

int linkNew(const std::string& from, const std::string& to)
{
    return ::link(from.c_str(), to.c_str()) == 0 ? 0 : lastError();
}

void removeFile(const std::string& path)
{
    ::unlink(path.c_str());
}

int syncFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

void syncDirectory(const std::string& directory)
{
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

uint32_t processId()
{
    return uint32_t(::getpid());
}

} // namespace recman::posix
