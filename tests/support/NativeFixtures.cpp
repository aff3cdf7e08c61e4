#include "NativeFixtures.h"

#include <cstdlib>
#include <cstring>

namespace testsupport {

std::filesystem::path fixturePath(const std::string& name)
{
    return std::filesystem::path(VARNOK_NATIVE_FIXTURES) / name;
}

std::string missingFixtures()
{
    // Every fixture set has this file; its absence means the directory is missing or wrong.
    if (std::filesystem::exists(fixturePath("GALTELA.DAT")))
        return {};
    return "legacy data files not found in " VARNOK_NATIVE_FIXTURES
           " (they are not part of the repository; configure with -DVARNOK_NATIVE_FIXTURES=DIR"
           " to name their directory)";
}

bool fixturesRequired()
{
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

} // namespace testsupport
