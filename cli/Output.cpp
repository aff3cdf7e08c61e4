#include "Output.h"

#include "Context.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

namespace {

constexpr size_t StreamBuffer = 1 << 20;

// Permissions a file created the ordinary way would get.
mode_t creationMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

OutputFile::~OutputFile()
{
    abandon();
}

bool OutputFile::open(Context& ctx, const std::string& name)
{
    name_ = name;
    if (name.empty() || name == "-") {
        stream_ = ctx.io.out;
        return true;
    }
    std::string pattern = name + ".partial-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        ctx.fail(fileFailure("Cannot create", name, errno));
        return false;
    }
    ::fchmod(fd, creationMode());
    stream_ = ::fdopen(fd, "wb");
    if (!stream_) {
        ctx.fail(fileFailure("Cannot create", name, errno));
        ::close(fd);
        ::unlink(pattern.c_str());
        return false;
    }
    std::setvbuf(stream_, nullptr, _IOFBF, StreamBuffer);
    temporary_ = pattern;
    return true;
}

bool OutputFile::commit(Context& ctx)
{
    if (isStandardOutput()) {
        if (std::fflush(stream_) != 0) {
            ctx.fail(fileFailure("Cannot write", "standard output", errno));
            return false;
        }
        return true;
    }
    int error = 0;
    if (std::fflush(stream_) != 0 || ::fsync(::fileno(stream_)) != 0)
        error = errno;
    if (std::fclose(stream_) != 0 && error == 0)
        error = errno;
    stream_ = nullptr;
    if (error == 0 && ::rename(temporary_.c_str(), name_.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ctx.fail(fileFailure("Cannot write", name_, error));
        abandon();
        return false;
    }
    temporary_.clear();
    return true;
}

void OutputFile::abandon()
{
    if (temporary_.empty())
        return;
    if (stream_)
        std::fclose(stream_);
    stream_ = nullptr;
    ::unlink(temporary_.c_str());
    temporary_.clear();
}

InputFile::~InputFile()
{
    if (owned_ && stream_)
        std::fclose(stream_);
}

bool InputFile::open(Context& ctx, const std::string& name)
{
    if (name.empty() || name == "-") {
        stream_ = ctx.io.in;
        return true;
    }
    stream_ = std::fopen(name.c_str(), "rb");
    if (!stream_) {
        ctx.fail(fileFailure("Cannot open", name, errno));
        return false;
    }
    owned_ = true;
    struct stat info = {};
    if (::fstat(::fileno(stream_), &info) == 0 && S_ISDIR(info.st_mode)) {
        ctx.fail(fileFailure("Cannot open", name, EISDIR));
        return false;
    }
    return true;
}

} // namespace cli
