#include "Sqlite.h"

#include "Posix.h"

namespace recman::store {

int16_t statusOf(int rc)
{
    switch (primaryCode(rc)) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return st::Success;
    case SQLITE_FULL:
        return st::DiskFull;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return st::FileInUse;
    case SQLITE_CONSTRAINT:
        return st::DuplicateKey;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return st::AccessDenied;
    default:
        return st::IoError;
    }
}

int16_t statusOf(int rc, sqlite3* db)
{
    if (primaryCode(rc) == SQLITE_IOERR) {
        switch (posix::classify(sqlite3_system_errno(db))) {
        case posix::Failure::NoSpace:
        case posix::Failure::QuotaExceeded:
        case posix::Failure::FileTooLarge:
            return st::DiskFull;
        default:
            break;
        }
    }
    return statusOf(rc);
}

} // namespace recman::store
