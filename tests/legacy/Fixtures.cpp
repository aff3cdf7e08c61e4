#include "Fixtures.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace legacytest {

std::vector<uint8_t> readAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

ScratchDir::ScratchDir()
{
    std::string pattern
        = (std::filesystem::temp_directory_path() / "varnok-legacy-XXXXXX").string();
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

} // namespace legacytest
