// Files that are not our own stores: files written by the vendor's engine, read in place.
#include "LegacyHook.h"

#include "DataFile.h"
#include "LegacyDataFile.h"
#include "LegacyFile.h"

namespace recman {

std::unique_ptr<DataFile> openLegacyFile(const std::string& path, int16_t& status)
{
    std::string reason; // the status says enough to the caller; the reason serves diagnostics
    auto file = legacy::LegacyFile::open(path, status, reason);
    if (!file)
        return nullptr;
    return std::make_unique<legacy::LegacyDataFile>(std::move(file));
}

bool isLegacyFile(const std::string& path)
{
    return legacy::LegacyFile::carriesControlRecord(path);
}

} // namespace recman
