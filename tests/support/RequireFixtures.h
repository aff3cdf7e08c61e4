// The guard at the top of every test that reads the legacy fixture files.
#pragma once

#include "NativeFixtures.h"

#include <gtest/gtest.h>

// Skips the test when the fixtures are absent (CTest then counts it as skipped, not passed), or
// fails it under CI=true, where a run without them must not look like a full one.
#define REQUIRE_LEGACY_FIXTURES()                                                                  \
    do {                                                                                           \
        if (const std::string missing_ = testsupport::missingFixtures(); !missing_.empty()) {      \
            if (testsupport::fixturesRequired())                                                   \
                FAIL() << missing_ << "; CI=true requires them";                                   \
            else                                                                                   \
                GTEST_SKIP() << missing_;                                                          \
        }                                                                                          \
    } while (false)
