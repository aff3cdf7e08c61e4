// Where the legacy fixtures are, and scratch copies of them for tests that alter a file.
#pragma once

#include "RequireFixtures.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace legacytest {

using testsupport::fixturePath;

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
