// What every command shares: the streams, the exit status, the words of its messages, opening and
// creating files through TWinBtr, and progress on a terminal.
#pragma once

#include "Cli.h"
#include "CopyRecords.h"
#include "WinBtr.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace cli {

class Context
{
public:
    explicit Context(const Io& streams)
        : io(streams)
    { }

    const Io& io;
    bool quiet = false;

    // A failed operation: "varnok-cli: <message>" on standard error; the run ends with status 1.
    void fail(const std::string& message);
    // A note on standard error that is not a failure.
    void note(const std::string& message);
    bool failed() const { return failed_; }
    bool showProgress() const { return io.errIsTerminal && !quiet; }

private:
    bool failed_ = false;
};

// Opens `name` (mode 0, as the window does) with the owner name `owner` (empty: none); on failure
// reports "Cannot open NAME: ... (status N)." and returns false.
bool openFile(Context& ctx, TWinBtr& file, const std::string& name, const std::string& owner = {});

// Whether the open `file`'s records are encrypted under an owner name and `owner` gives none: then
// every record read would answer 51, and a command says so before it writes anything.
bool ownerNameMissing(TWinBtr& file, const std::string& owner);
// What a user is told of a file whose records need the owner name.
constexpr const char* OwnerNameAdvice
    = "its records are encrypted under an owner name; give it with --owner NAME";

// Before a command reads the records of the open `file`: one whose records are encrypted under an
// owner name needs it, and without one the failure is reported before anything is written.
bool recordsReadable(
    Context& ctx, TWinBtr& file, const std::string& name, const std::string& owner);

// A failed read in varnok-cli's words; for a file whose records are encrypted under an owner
// name it says how to give one: "Cannot read X.DAT: owner name required (status 51): its records
// are encrypted under an owner name; give it with --owner NAME."
std::string cannotRead(const std::string& name, int16_t status);
// A copy that stopped: cannotRead's words when it was the read that failed, then how many records
// the destination gained.
std::string copyFailure(
    const CopyOutcome& outcome, const std::string& source, const std::string& destination);

// Creates `name` from a definition image (the Create layout, `length` bytes) through `file`'s
// position block. Without `replace` an existing file is left alone (status 59). A name that does
// not fit the key buffer answers 11 without a call.
int16_t createFile(
    TWinBtr& file, const std::string& name, const uint8_t* image, uint16_t length, bool replace);

// The file's Stat image, as the record manager reports it (at most 1920 bytes); false with the
// failure reported when the file cannot be opened or its Stat fails.
bool statImage(Context& ctx, const std::string& name, uint8_t (&image)[btr::SpecBufferSize]);

// "N records" counting up on standard error while a long copy, save or load runs, drawn only on a
// terminal and at most a few times a second; the line is cleared when the work ends.
class Progress
{
public:
    // `total` 0: not known (a load from a stream).
    Progress(const Context& ctx, std::string label, uint64_t total);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void step()
    {
        if (enabled_ && (++done_ & (CheckEvery - 1)) == 0)
            draw();
    }
    // Clears the line.
    void finish();

private:
    static constexpr uint64_t CheckEvery = 1024;
    void draw();

    std::FILE* err_;
    bool enabled_;
    std::string label_;
    uint64_t total_;
    uint64_t done_ = 0;
    std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point drawn_;
    bool shown_ = false;
};

} // namespace cli
