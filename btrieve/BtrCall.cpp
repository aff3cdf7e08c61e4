#include "BtrCall.h"

namespace btr {

const char* statusText(int16_t code)
{
    switch (code) {
    case status::Success:
        return "success";
    case status::InvalidOperation:
        return "invalid operation";
    case status::IoError:
        return "I/O error";
    case status::FileNotOpen:
        return "file not open";
    case status::DuplicateKey:
        return "duplicate key value";
    case status::InvalidKeyNumber:
        return "invalid key number";
    case status::DifferentKeyNumber:
        return "different key number";
    case status::InvalidPositioning:
        return "invalid positioning";
    case status::EndOfFile:
        return "end of file";
    case status::InvalidFileName:
        return "invalid file name";
    case status::FileNotFound:
        return "file not found";
    case status::DiskFull:
        return "disk full";
    case status::KeyBufferTooShort:
        return "key buffer too short";
    case status::DataBufferTooShort:
        return "data buffer too short";
    case status::PageSizeError:
        return "page size error";
    case status::CreateIoError:
        return "the file cannot be created";
    case status::NumberOfKeys:
        return "invalid number of keys or segments";
    case status::InvalidKeyPosition:
        return "invalid key position";
    case status::InvalidRecordLength:
        return "invalid record length";
    case status::InvalidKeyLength:
        return "invalid key length";
    case status::NotADataFile:
        return "not a data file";
    case status::OperationNotAllowed:
        return "operation not allowed";
    case status::KeyNotGiven:
        return "no key given";
    case status::InconsistentKeyFlags:
        return "inconsistent key flags";
    case status::AccessDenied:
        return "access denied";
    case status::InvalidCollatingSequence:
        return "invalid collating sequence";
    case status::KeyTypeError:
        return "key type error";
    case status::AutoincrementError:
        return "autoincrement error";
    case status::FileAlreadyExists:
        return "file already exists";
    case status::FileInUse:
        return "file in use";
    case status::FileTableFull:
        return "file table full";
    case status::HandleTableFull:
        return "handle table full";
    default:
        return "record manager error";
    }
}

} // namespace btr
