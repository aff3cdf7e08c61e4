// Sequential files: the maintenance utility's SAVE / LOAD / RECOVER format, and the loops that
// move a data file's records into one and back.
//
// A sequential file holds one record after another: the record's length in ASCII decimal digits,
// a comma (a blank is accepted in its place), exactly that many raw bytes, then CR LF. The file
// ends with Ctrl-Z after the last record's CR LF. Records are binary: CR, LF, Ctrl-Z and NUL may
// occur inside one, so a record is read by its count, never by lines.
#pragma once

#include "CopyRecords.h"
#include "WinBtr.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace sequential {

// The longest record the format can carry to the record manager: data lengths are 16 bits.
constexpr uint32_t LongestRecord = 65535;
constexpr uint8_t EndOfFileMark = 0x1A; // Ctrl-Z

// Writes records in the format to a stream the caller owns (opened in binary mode).
class Writer
{
public:
    explicit Writer(std::FILE* out);

    // One record; false when the stream refused it (errno tells why).
    bool write(const uint8_t* data, uint16_t length);
    // The closing Ctrl-Z, then a flush; false when either failed.
    bool finish();

    uint64_t records() const { return records_; }

private:
    std::FILE* out_;
    uint64_t records_ = 0;
};

// Reads records from a stream the caller owns, checking each as it comes. A malformed file is
// refused at its first bad record, with that record's number and the byte offset where it
// begins; nothing after it is read.
class Reader
{
public:
    enum Result { Record, End, Malformed, ReadFailed };

    explicit Reader(std::FILE* in);

    // The next record into data() / length(); End after the last one (at the end of the stream
    // or at a Ctrl-Z where a record would begin).
    Result next();

    const uint8_t* data() const { return record_.data(); }
    uint8_t* data() { return record_.data(); }
    uint16_t length() const { return length_; }
    // The number (from 1) and starting byte offset of the record next() last looked at.
    uint64_t recordNumber() const { return number_; }
    uint64_t recordOffset() const { return offset_; }
    // Malformed or ReadFailed: what is wrong, as "record 3 at byte 120: ...".
    const std::string& error() const { return error_; }

private:
    int get();
    Result fail(Result result, const std::string& what);

    std::FILE* in_;
    std::vector<uint8_t> buffer_;
    size_t bufferAt_ = 0;
    size_t bufferEnd_ = 0;
    uint64_t consumed_ = 0; // bytes of the stream taken so far
    std::vector<uint8_t> record_;
    uint16_t length_ = 0;
    uint64_t number_ = 0;
    uint64_t offset_ = 0;
    std::string error_;
};

// What a save or a load did.
struct SaveOutcome
{
    // Where it ended: every record written (Complete), a read of the data file that failed, or a
    // write to the sequential file that failed (errno in writeError).
    enum Stop { Complete, Read, Write };
    Stop stop = Complete;
    int16_t status = btr::status::Success; // the data file's status when stop is Read
    int writeError = 0;
    uint64_t saved = 0;
};

// Writes every record `source` gives into `out`, in the order its KeyNumber and UseStep choose
// (Get First/Next on that key, or Step First/Next). The source's record buffer is widened first to
// the longest record a variable-length file can give, so each record is written whole. `saved`,
// when given, runs after each record written. The closing Ctrl-Z is written on success.
SaveOutcome saveRecords(TWinBtr& source, Writer& out, const std::function<void()>& saved = {});

struct LoadOutcome
{
    // Where it ended: every record inserted (Complete), the sequential file malformed or
    // unreadable (Read: `error` says which record and where), or an Insert that failed (Insert:
    // `copy.status`, and the record's number and offset below).
    CopyOutcome copy;
    std::string error;
    uint64_t recordNumber = 0;
    uint64_t recordOffset = 0;
    // With keep-going, the records the file refused.
    uint64_t refused = 0;
};

// A record the data file refused: its number (from 1) and offset in the sequential file, and the
// Insert's status.
using RefusedRecord = std::function<void(uint64_t number, uint64_t offset, int16_t status)>;

// Inserts every record of `in` into `destination`, open. A record the file refuses (a duplicate
// key, a length the file does not take) stops the load (its number and the status in the outcome)
// unless keepGoing, when it is counted, `refused` runs with its description, and the load goes
// on; any other failed Insert (a full disk, an I/O error) stops it in either case. `inserted`
// runs after each Insert that answered 0.
LoadOutcome loadRecords(Reader& in, TWinBtr& destination, bool keepGoing,
    const std::function<void()>& inserted = {}, const RefusedRecord& refused = {});

} // namespace sequential
