// Files that are not our own stores: no legacy reader is built in, so none is readable.
#include "DataFile.h"

namespace recman {

std::unique_ptr<DataFile> openLegacyFile(const std::string& path, int16_t& status)
{
    (void)path;
    status = 30;
    return nullptr;
}

} // namespace recman
