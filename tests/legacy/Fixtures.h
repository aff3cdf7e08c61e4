// Where the legacy fixtures are, and scratch copies of them for tests that alter a file.
#pragma once

#include "RequireFixtures.h"
#include "ScratchDir.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace legacytest {

using testsupport::fixturePath;

std::vector<uint8_t> readAll(const std::filesystem::path& path);
void writeAll(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

using testsupport::ScratchDir;

} // namespace legacytest
