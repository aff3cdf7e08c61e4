// Where the legacy fixtures are, and scratch copies of them for tests that alter a file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace legacytest {

inline std::filesystem::path fixturePath(const std::string& name)
{
    return std::filesystem::path(VARNOK_NATIVE_FIXTURES) / name;
}

inline bool fixturesPresent()
{
    return std::filesystem::exists(fixturePath("GALTELA.DAT"));
}

#define REQUIRE_LEGACY_FIXTURES()                                                                  \
    if (!legacytest::fixturesPresent())                                                            \
    GTEST_SKIP() << "legacy data files not found in " VARNOK_NATIVE_FIXTURES                       \
                    " (they are not part of the repository)"

std::vector<uint8_t> readAll(const std::filesystem::path& path);
void writeAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// A directory of its own under the system's temporary directory, removed with everything in it.
class ScratchDir
{
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    std::filesystem::path path(const std::string& name) const { return dir_ / name; }

private:
    std::filesystem::path dir_;
};

} // namespace legacytest
