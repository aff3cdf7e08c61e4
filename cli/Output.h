// Files a command writes other than data files (sequential files, descriptions, exports): standard
// output for "-", otherwise a file that appears under its name only once it is complete.
#pragma once

#include "Messages.h"

#include <cstdio>
#include <string>

namespace cli {

class Context;

class OutputFile
{
public:
    OutputFile() = default;
    ~OutputFile(); // an output not committed is removed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // "-" (or empty) is standard output; any other name is written beside it under a temporary
    // name. False with the failure reported.
    bool open(Context& ctx, const std::string& name);
    std::FILE* stream() const { return stream_; }
    bool isStandardOutput() const { return temporary_.empty(); }
    // Flushes, makes the file durable and gives it its name (replacing a file of that name).
    // False with the failure reported; the temporary file is then gone.
    bool commit(Context& ctx);

private:
    void abandon();

    std::string name_;
    std::string temporary_;
    std::FILE* stream_ = nullptr;
};

// A file a command reads: standard input for "-" (or an empty name).
class InputFile
{
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False with the failure reported (a missing file, a directory, no permission).
    bool open(Context& ctx, const std::string& name);
    std::FILE* stream() const { return stream_; }

private:
    std::FILE* stream_ = nullptr;
    bool owned_ = false;
};

} // namespace cli
