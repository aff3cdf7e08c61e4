// A directory of its own under the system's temporary directory for one test, removed with
// everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return dir_; }
    std::filesystem::path path(const std::string& name) const { return dir_ + "/" + name; }
    std::string file(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

} // namespace testsupport
