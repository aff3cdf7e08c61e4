// Definition images for the targets that take one (Create, description files): one of each kind
// of key the record manager knows, built with the tests' image builder.
#pragma once

#include "FuzzSupport.h"

namespace fuzz {

// Each image with a name saying what it holds.
std::vector<std::pair<std::string, Bytes>> definitionSeeds();

} // namespace fuzz
