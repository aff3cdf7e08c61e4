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
// Open's data buffer may carry an owner name: at most 8 characters and a NUL.
constexpr int OwnerNameSize = 9;

// Operation codes.
namespace op {
constexpr uint16_t Open = 0;
constexpr uint16_t Close = 1;
constexpr uint16_t Insert = 2;
constexpr uint16_t Update = 3;
constexpr uint16_t Delete = 4;
constexpr uint16_t GetEqual = 5;
constexpr uint16_t GetNext = 6;
constexpr uint16_t GetPrevious = 7;
constexpr uint16_t GetGreater = 8;
constexpr uint16_t GetGreaterOrEqual = 9;
constexpr uint16_t GetLess = 10;
constexpr uint16_t GetLessOrEqual = 11;
constexpr uint16_t GetFirst = 12;
constexpr uint16_t GetLast = 13;
constexpr uint16_t Create = 14;
constexpr uint16_t Stat = 15;
constexpr uint16_t BeginTransaction = 19;
constexpr uint16_t EndTransaction = 20;
constexpr uint16_t AbortTransaction = 21;
constexpr uint16_t GetPosition = 22;
constexpr uint16_t GetDirect = 23;
constexpr uint16_t StepNext = 24;
constexpr uint16_t StepFirst = 33;
constexpr uint16_t StepLast = 34;
constexpr uint16_t StepPrevious = 35;
constexpr uint16_t GetByPercentage = 44;
constexpr uint16_t FindPercentage = 45;
// Begin Transaction asking for a concurrent transaction: the same here as BeginTransaction.
constexpr uint16_t BeginConcurrentTransaction = 1019;
// Get Key: any Get (Get Equal to Get Last) plus this asks for the key value alone; the data buffer
// is not touched.
constexpr uint16_t KeyOnly = 50;
// Varnok's own, outside the vendor's codes: the salvage report of a handle opened in a salvage
// mode (see namespace salvage below). Any other handle answers 41.
constexpr uint16_t SalvageReport = 0x5652;
// Varnok's own: why the record manager answered the last call this thread made (other than this
// one) as it did, in words: which version or feature of a file it does not read, which page of a
// damaged file gave out. The data buffer receives the text (UTF-8, no terminating NUL) and the
// data length its length, 0 when there is no reason to give; as much as fits and 22 when the
// buffer is shorter. The first byte of the key buffer receives what kind of reason it is (namespace
// reason below). The other parameters are not looked at, and no file needs to be open.
constexpr uint16_t Reason = 0x5653;
// Varnok's own: what the open file is beyond its definition (its format and version, the features
// it uses, its owner name's access mode), in the layout of FileFacts.h; as much as fits and 22
// when the data buffer is shorter. Works on any open handle, a salvage handle too.
constexpr uint16_t FileFacts = 0x5654;
} // namespace op

// The kinds of reason op::Reason tells apart, so that a program going through a directory can sort
// what it could not read: files that are no record-manager files at all, files of a version or
// with a feature not read, damaged files, files whose records need the owner name.
namespace reason {
constexpr uint8_t None = 0;
constexpr uint8_t NotADataFile = 1; // no control record of any version: not a record-manager file
constexpr uint8_t NotRead = 2;      // a record-manager file of a version or feature not read
constexpr uint8_t Damaged = 3;      // a record-manager file that disagrees with itself
constexpr uint8_t OwnerName = 4;    // records encrypted under an owner name not given at Open
constexpr uint8_t Other = 5;        // anything else (a file-system failure, a bad argument)
} // namespace reason

// Open modes, passed in the key number of Open. Open's data buffer carries the owner name (data
// length 0 for none): Varnok cannot check it against a file, so any name given is taken as the
// caller's statement that it may read the file. Without one, a legacy file whose records are
// encrypted under an owner name opens and Stats, and every record read answers OwnerNameRequired.
namespace mode {
constexpr int8_t Normal = 0;
constexpr int8_t Accelerated = -1;
constexpr int8_t ReadOnly = -2;
constexpr int8_t Verify = -3;
constexpr int8_t Exclusive = -4;
// Varnok's own, outside the vendor's modes: salvage reading of a damaged file written by the
// vendor's engine (see namespace salvage below). Our own files answer 41.
constexpr int8_t Salvage = -64;
// As Salvage, but a record whose variable part cannot be read whole is left out, not given short.
constexpr int8_t SalvageWholeOnly = -65;
} // namespace mode

// The key number -1: Insert, Update and Delete that leave the logical position as it was, Get
// Direct that sets none, Get By Percentage and Find Percentage in physical order.
constexpr int8_t NoKey = -1;

// Get By Percentage and Find Percentage: hundredths of a percent, 0 the first entry, this the last.
constexpr uint16_t WholePercentage = 10000;

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
constexpr int16_t KeyNotFound = 4;
constexpr int16_t DuplicateKey = 5;
constexpr int16_t InvalidKeyNumber = 6;
constexpr int16_t DifferentKeyNumber = 7;
constexpr int16_t InvalidPositioning = 8;
constexpr int16_t EndOfFile = 9;
constexpr int16_t ModifiableKeyValue = 10; // Update would change a key that may not change
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
constexpr int16_t TransactionActive = 37; // Begin Transaction while this client has one open
constexpr int16_t NoTransaction = 39;     // End or Abort Transaction with none open
constexpr int16_t OperationNotAllowed = 41;
constexpr int16_t InvalidRecordAddress = 43; // a position that names no live record
// Get Direct on a key for which that record's value is null; TWinBtr raises it itself for a key
// call given no key.
constexpr int16_t InvalidKeyPath = 44;
constexpr int16_t InconsistentKeyFlags = 45;
constexpr int16_t AccessDenied = 46;
constexpr int16_t InvalidCollatingSequence = 48;
constexpr int16_t KeyTypeError = 49;
// A record read of a legacy file whose data is encrypted under an owner name, opened without one.
constexpr int16_t OwnerNameRequired = 51;
constexpr int16_t AutoincrementError = 55;
constexpr int16_t FileAlreadyExists = 59;
// Update or Delete of a record another handle or process changed or deleted since this one read it.
constexpr int16_t Conflict = 80;
constexpr int16_t FileInUse = 85;
constexpr int16_t FileTableFull = 86;
constexpr int16_t HandleTableFull = 87;
constexpr int16_t IncompatibleMode = 88;
} // namespace status

// Salvage reading: every record that can be read out of a damaged legacy file, and none that
// cannot be trusted.
//
// Open with mode::Salvage (or SalvageWholeOnly) reads the file read-only, each page on its own:
// the definition from the current control record, else from its shadow (its definition only,
// never its counts), else from the one the caller gives in the Open data buffer (a definition
// image as Stat returns it; data length 0 for none; a given definition is also taken when the
// file's own has lost its collating-sequence page). Step First / Step Next then give the rescued
// records in physical page order; Stat gives that definition with the number of rescued records
// (and 0 unique values per key: they are not counted); Get First / Get Next answer 41 (a damaged
// file's indexes are not trusted); writes answer 41. A salvage Open's data buffer holds either an
// owner name (at most OwnerNameSize bytes) or a definition image followed, when the file's records
// are encrypted, by the owner name. Open answers 2 when nothing can be read (no
// definition, no page size that the pages agree with), 30 for a kind of file the reader does not
// read, 41 for one of our own files, 88 when the file is open here in another mode.
//
// op::SalvageReport fills the data buffer with the report below (ReportSize bytes,
// little-endian; a shorter buffer gets as much as fits and 22).
namespace salvage {
constexpr int ReportSize = 64;
constexpr int LayoutVersion = 1;
namespace report {
constexpr int Version = 0;         // 16-bit: LayoutVersion
constexpr int Size = 2;            // 16-bit: ReportSize
constexpr int Rescued = 4;         // 32-bit: records Step gives (partial ones included)
constexpr int Partial = 8;         // 32-bit: of those, records given without their variable part
constexpr int LeftOut = 12;        // 32-bit: records left out: whole-only, for a broken chain;
                                   // in compressed files, a stream that does not decode
constexpr int PagesMissing = 16;   // 32-bit: pages the file should hold but that are cut off
constexpr int PagesDamaged = 20;   // 32-bit: data pages whose header does not make sense
constexpr int PagesAmbiguous = 24; // 32-bit: copies of one page equally recent but different
constexpr int StaleCopies = 28;    // 32-bit: older copies passed over (normal, not skipped)
constexpr int Untabled = 32;       // 32-bit: pages taken from a copy that no sound table names
constexpr int CountedRecords = 36; // 32-bit: the current control record's count, or 0xFFFFFFFF
constexpr int Source = 40;         // 8-bit: where the definition came from (below)
constexpr int Flags = 41;          // 8-bit: the flag bits below
constexpr int PageSize = 42;       // 16-bit: the page size the pages were read with
constexpr int FileVersion = 44;    // 16-bit: 5.x 0x0400-style, 6.x the control record's word
// Bytes 46 to 63 are zero.
} // namespace report
// Where the definition came from.
constexpr uint8_t FromControlRecord = 1;
constexpr uint8_t FromShadow = 2;
constexpr uint8_t FromCaller = 3;
// Flag bits.
constexpr uint8_t AcsLost = 0x01;           // a key's collating-sequence page is lost
constexpr uint8_t PageSizeFromPages = 0x02; // the page size came from the pages, not a record
} // namespace salvage

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
    case status::KeyNotFound:
        return "key value not found";
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
    case status::ModifiableKeyValue:
        return "modifiable key value error";
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
    case status::TransactionActive:
        return "transaction active";
    case status::NoTransaction:
        return "no transaction";
    case status::OperationNotAllowed:
        return "operation not allowed";
    case status::InvalidRecordAddress:
        return "invalid record address";
    case status::InvalidKeyPath:
        return "invalid key path";
    case status::InconsistentKeyFlags:
        return "inconsistent key flags";
    case status::AccessDenied:
        return "access denied";
    case status::OwnerNameRequired:
        return "owner name required";
    case status::InvalidCollatingSequence:
        return "invalid collating sequence";
    case status::KeyTypeError:
        return "key type error";
    case status::AutoincrementError:
        return "autoincrement error";
    case status::FileAlreadyExists:
        return "file already exists";
    case status::Conflict:
        return "conflict";
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
