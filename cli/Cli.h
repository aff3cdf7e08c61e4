// varnok-cli: the window's commands for scripts and for many files at once.
//
// Results go to standard output, errors to standard error in the window's words. The exit status
// is 0 when everything succeeded, 1 when an operation failed, 2 for a usage error.
#pragma once

#include <cstdio>

namespace cli {

constexpr int ExitSuccess = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

// The streams a run reads and writes: the process's own in the program, memory streams in tests.
struct Io
{
    std::FILE* in = stdin;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    // Progress is drawn on `err` only when it is a terminal.
    bool errIsTerminal = false;
};

// Parses the arguments (argv[0] is the program's name), runs the command and returns the exit
// status. Never throws.
int run(int argc, const char* const* argv, const Io& io);

} // namespace cli
