#include "ScratchDir.h"

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace testsupport {

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "varnok-XXXXXX").string();
    if (char* made = ::mkdtemp(pattern.data()))
        dir_ = made;
    else
        throw std::runtime_error("cannot make a scratch directory");
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

} // namespace testsupport
