// A stdio stream that writes into memory, for code that writes to a FILE*.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace testsupport {

class MemoryStream
{
public:
    MemoryStream() = default;
    ~MemoryStream()
    {
        if (stream_)
            std::fclose(stream_);
        std::free(data_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    std::FILE* stream() const { return stream_; }
    // What has been written so far.
    std::string text()
    {
        std::fflush(stream_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    std::FILE* stream_ = open_memstream(&data_, &size_);
};

} // namespace testsupport
