// The words the program uses for what the record manager answered: the window's message boxes and
// the command line's standard error say the same thing the same way.
#pragma once

#include "CopyRecords.h"

#include <cstdint>
#include <string>

// A status in words with its number: "file not found (status 12)".
std::string statusWords(int16_t status);

// "Cannot create D.BTR: page size error (status 24)." — what failed, on which file, and why.
std::string cannotDo(const std::string& what, const std::string& name, int16_t status);
// The same with the record manager's reason after the status, when it gave one: "Cannot open
// X.DAT: not a data file (status 30): version 7.x files are not read."
std::string cannotDo(
    const std::string& what, const std::string& name, int16_t status, const std::string& reason);

// A failed file-system call on a file that is not a data file (an export, a sequential file):
// "Cannot write NAME: No space left on device." for the errno `error`.
std::string fileFailure(const std::string& what, const std::string& name, int error);

// The message of a copy that stopped: what failed on which file, and how many records the
// destination gained. The count is the destination's own: a full disk drops the writes not yet
// committed, so it can be less than the Inserts answered 0, and then the message says so.
std::string copyStopped(const std::string& what, const std::string& name, int16_t status,
    const CopyOutcome& outcome, const std::string& destination);

// How many records a copy that stopped added: "16 records copied." and, when a failed write took
// committed-looking records with it, how many were lost and how many the destination holds.
std::string recordsCopied(const CopyOutcome& outcome, const std::string& destination);

// What stopped a copy, in the words of its message: "Cannot read", "Cannot insert into",
// "Cannot close".
const char* copyStopWhat(const CopyOutcome& outcome);
