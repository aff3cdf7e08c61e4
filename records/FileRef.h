// How another handle opens the same file as the window: the export and the layout editor read
// on handles of their own, never the window's position block.
#pragma once

#include "BtrCall.h"

#include <cstdint>
#include <string>

namespace records {

struct FileRef
{
    std::string path;
    std::string owner; // empty: none
    int8_t mode = btr::mode::ReadOnly;
};

} // namespace records
