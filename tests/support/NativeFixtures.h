// The data files written by the vendor's engine that tests and benchmarks read. They are not part
// of the repository: the build names their directory (the cache variable VARNOK_NATIVE_FIXTURES).
#pragma once

#include <filesystem>
#include <string>

namespace testsupport {

std::filesystem::path fixturePath(const std::string& name);

// Empty when the fixture files are there; otherwise a sentence saying where they were looked for.
std::string missingFixtures();

// Under continuous integration (CI=true) missing fixtures are a failure, not a reason to skip:
// a run that silently tests less must not pass there.
bool fixturesRequired();

} // namespace testsupport
