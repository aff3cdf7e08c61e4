// The few calls the record manager makes to the operating system, kept here so that another
// platform replaces one file pair. Every call reports failure as a code of its own (0 for none),
// which `classify` turns into the kind of failure the record manager tells apart.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace recman::posix {

// Why a call failed, as far as the record manager's statuses distinguish it.
enum class Failure : uint8_t {
    None,
    NotFound,     // the file or a directory on its path is not there
    AccessDenied, // the permissions refuse it
    NotPermitted, // the operation is refused whatever the permissions
    NameTooLong,
    AlreadyExists,
    NoSpace,       // the device is full
    QuotaExceeded, // the user's share of the device is used up
    FileTooLarge,  // beyond the largest file the system allows
    Other,
};

Failure classify(int error);
// One line saying what went wrong, for diagnostics.
std::string describe(int error);

// What the record manager needs to know of a file: whether it is a plain file, its size, and
// what identifies it (two paths name the same file when device and inode agree).
struct FileInfo
{
    bool regular = false;
    uint64_t size = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
};

// Information on the file at `path`; 0 or the failure's code.
int fileInfo(const std::string& path, FileInfo& out);
// Whether this process may read or write the file at `path`.
bool mayRead(const std::string& path);
bool mayWrite(const std::string& path);

// A file opened read-only. Looking at a file that may be a user's legacy file must not change
// even its access time: where the system allows (the owner only), the open asks it not to.
class ReadOnlyFile
{
public:
    ReadOnlyFile() = default;
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // 0 or the failure's code.
    int open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    int info(FileInfo& out) const;
    // Reads exactly `length` bytes at `offset`; false on an error or at the end of the file.
    bool readAt(uint64_t offset, void* out, size_t length) const;

private:
    int fd_ = -1;
};

// A descriptor of a data file held for as long as this process has the file open, and the
// open-file-description lock on it that tells other processes so: shared by a normal open,
// exclusive by an exclusive open or by Create replacing the file. Such locks belong to the open
// file description, not to the process, so they neither merge with SQLite's own POSIX locks nor
// vanish when some other descriptor of the file is closed; they sit on a byte range SQLite never
// locks. (flock would do as much on local disks, but on network shares Linux turns it into a
// whole-file POSIX lock, which would conflict with SQLite's locks.)
class OpenFileLock
{
public:
    OpenFileLock() = default;
    ~OpenFileLock();
    OpenFileLock(const OpenFileLock&) = delete;
    OpenFileLock& operator=(const OpenFileLock&) = delete;

    // Opens `path`, for writing too where allowed, without waiting whatever it names (a FIFO
    // included). 0 or the failure's code.
    int open(const std::string& path);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int info(FileInfo& out) const;

    // Takes the lock without waiting; false when another open of the file holds a conflicting
    // one. An exclusive lock needs a descriptor open for writing: on a file this process may not
    // write, an exclusive request only checks that nobody has the file open and then holds a
    // shared lock.
    bool tryLock(bool exclusive);

    // Reads exactly `length` bytes at `offset`; false on an error or at the end of the file.
    bool readAt(uint64_t offset, void* out, size_t length) const;

private:
    int fd_ = -1;
    bool writable_ = false;
};

// The directory part of `path` ("." when there is none).
std::string directoryOf(const std::string& path);
// Creates an empty file of a fresh name "<directory>/<prefix>XXXXXX" with the permissions a new
// file gets from the process's mask, and closes it; `path` receives the name. 0 or the failure's
// code.
int createTemporary(const std::string& directory, const std::string& prefix, std::string& path);
// Puts `from` in the place of `to` in one step, replacing what was there.
int renameOver(const std::string& from, const std::string& to);
// Gives `from` the second name `to`; fails when `to` exists.
int linkNew(const std::string& from, const std::string& to);
void removeFile(const std::string& path);
// Makes a file's contents durable; 0 or the failure's code.
int syncFile(const std::string& path);
// Makes the directory's entries (a rename into it) durable.
void syncDirectory(const std::string& directory);

// Identifies this process among others using the same files.
uint32_t processId();

} // namespace recman::posix
