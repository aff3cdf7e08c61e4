// What the entry point asks about files written by the vendor's engine, besides opening them
// (openLegacyFile, declared with the data file interface).
#pragma once

#include <string>

namespace recman {

// The file carries a control record of the vendor's engine (of any version, read here or not):
// such a file is never replaced by Create.
bool isLegacyFile(const std::string& path);

} // namespace recman
