// Seed files for the targets that read legacy data files: small 5.x, 6.0 and 6.1 files from the
// tests' synthetic writer (fixed and variable length, freed slots, stale shadow copies, scattered
// pages, collating sequences, several table pairs), and the real fixture files when the build
// knows where they are.
#pragma once

#include "FuzzSupport.h"

namespace fuzz {

void writeLegacySeeds(const SeedSink& sink);

} // namespace fuzz
