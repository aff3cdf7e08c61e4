// The record manager's one entry point and the codes that cross it.
//
// Every access to a data file goes through BTRCALLID. The program links either Varnok's
// embedded record manager (recman/) or another library that exports the same symbol.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define VARNOK_BTR_API __declspec(dllimport)
#define VARNOK_BTR_CALL __stdcall
#else
#define VARNOK_BTR_API __attribute__((visibility("default")))
#define VARNOK_BTR_CALL
#endif

extern "C" {

// op:         operation code (plus a lock bias when one is asked for)
// posBlock:   the caller's 128-byte position block; Open fills it, later calls pass it back
// data:       data buffer
// dataLength: in: bytes offered in data; out: bytes returned
// keyBuffer:  key buffer (Open and Create: the NUL-terminated file name)
// keyLength:  size of the key buffer the caller offers (255 in this program)
// keyNumber:  key number, or the open mode for Open (read as signed where negative values mean
//             something: -1 = 0xFF, -2 = 0xFE, ...)
// clientId:   16 bytes identifying the client
VARNOK_BTR_API int16_t VARNOK_BTR_CALL BTRCALLID(uint16_t op, void* posBlock, void* data,
    uint16_t* dataLength, void* keyBuffer, uint8_t keyLength, uint8_t keyNumber, void* clientId);
}

namespace btr {

constexpr int PositionBlockSize = 128;
constexpr int KeyBufferSize = 256;
constexpr int ClientIdSize = 16;
constexpr int SpecBufferSize = 1920;

// Operation codes.
namespace op {
constexpr uint16_t Open = 0;
constexpr uint16_t Close = 1;
constexpr uint16_t Insert = 2;
constexpr uint16_t GetNext = 6;
constexpr uint16_t GetFirst = 12;
constexpr uint16_t Create = 14;
constexpr uint16_t Stat = 15;
constexpr uint16_t GetPosition = 22;
constexpr uint16_t StepNext = 24;
constexpr uint16_t StepFirst = 33;
} // namespace op

// Open modes, passed in the key number of Open.
namespace mode {
constexpr int8_t Normal = 0;
constexpr int8_t Accelerated = -1;
constexpr int8_t ReadOnly = -2;
constexpr int8_t Verify = -3;
constexpr int8_t Exclusive = -4;
} // namespace mode

// Create: key number 0 replaces an existing file, -1 refuses to.
namespace create {
constexpr int8_t Replace = 0;
constexpr int8_t NoReplace = -1;
} // namespace create

// Status codes.
namespace status {
constexpr int16_t Success = 0;
constexpr int16_t InvalidOperation = 1;
constexpr int16_t IoError = 2;
constexpr int16_t FileNotOpen = 3;
constexpr int16_t DuplicateKey = 5;
constexpr int16_t InvalidKeyNumber = 6;
constexpr int16_t DifferentKeyNumber = 7;
constexpr int16_t InvalidPositioning = 8;
constexpr int16_t EndOfFile = 9;
constexpr int16_t InvalidFileName = 11;
constexpr int16_t FileNotFound = 12;
constexpr int16_t DiskFull = 18;
constexpr int16_t KeyBufferTooShort = 21;
constexpr int16_t DataBufferTooShort = 22;
constexpr int16_t PageSizeError = 24;
constexpr int16_t CreateIoError = 25;
constexpr int16_t NumberOfKeys = 26;
constexpr int16_t InvalidKeyPosition = 27;
constexpr int16_t InvalidRecordLength = 28;
constexpr int16_t InvalidKeyLength = 29;
constexpr int16_t NotADataFile = 30;
constexpr int16_t OperationNotAllowed = 41;
constexpr int16_t KeyNotGiven = 44; // a key call without a key (raised by TWinBtr itself)
constexpr int16_t InconsistentKeyFlags = 45;
constexpr int16_t AccessDenied = 46;
constexpr int16_t InvalidCollatingSequence = 48;
constexpr int16_t KeyTypeError = 49;
constexpr int16_t AutoincrementError = 55;
constexpr int16_t FileAlreadyExists = 59;
constexpr int16_t FileInUse = 85;
constexpr int16_t FileTableFull = 86;
constexpr int16_t HandleTableFull = 87;
constexpr int16_t IncompatibleMode = 88;
} // namespace status

// A status in words, for messages shown to the user ("duplicate key value", ...).
constexpr const char* statusText(int16_t code)
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
    case status::IncompatibleMode:
        return "incompatible mode";
    default:
        return "record manager error";
    }
}

} // namespace btr
