// Opening a legacy file and reading its pages, through a small cache of recent ones.
#include "LegacyFile.h"

#include "Format.h"
#include "KeyOrder.h"

#include <algorithm>

namespace recman::legacy {

LegacyFile::LegacyFile()
    : profile_(&profileOf(Family::V5))
{ }

LegacyFile::~LegacyFile() = default;

std::unique_ptr<LegacyFile> LegacyFile::openReadOnly(
    const std::string& path, int16_t& status, std::string& reason)
{
    std::unique_ptr<LegacyFile> file(new LegacyFile);
    if (const int error = file->source_.open(path)) {
        switch (posix::classify(error)) {
        case posix::Failure::AccessDenied:
            status = status::AccessDenied;
            break;
        case posix::Failure::NotFound:
            status = status::FileNotFound;
            break;
        default:
            status = status::IoError;
            break;
        }
        reason = "cannot open the file: " + posix::describe(error);
        return nullptr;
    }
    posix::FileInfo info;
    if (file->source_.info(info) != 0 || !info.regular) {
        status = status::FileNotFound;
        reason = "not a regular file";
        return nullptr;
    }
    file->fileSize_ = info.size;
    status = status::Success;
    return file;
}

void LegacyFile::prepareCache()
{
    cache_.resize(size_t(CachedPages) * pageSize_);
    std::fill(std::begin(cachedPage_), std::end(cachedPage_), UINT32_MAX);
}

std::unique_ptr<LegacyFile> LegacyFile::open(
    const std::string& path, int16_t& status, std::string& reason)
{
    auto file = openReadOnly(path, status, reason);
    if (!file)
        return nullptr;
    status = file->parse(reason);
    if (status != status::Success)
        return nullptr;
    file->prepareCache();
    return file;
}

void LegacyFile::setFamily(Family family)
{
    profile_ = &profileOf(family);
}

FileFacts LegacyFile::facts() const
{
    FileFacts f;
    f.family = profile_->family;
    f.version = version_;
    f.ownerName = ownerSet_;
    f.ownerMode = ownerMode_;
    f.cipher = source_.cipher();
    f.compressed = compressed_;
    f.systemData = systemData_;
    f.variableTail = variableTail_;
    return f;
}

int16_t LegacyFile::readPhysical(uint32_t page, std::vector<uint8_t>& buffer)
{
    buffer.resize(pageSize_);
    if (page >= filePages_ || !source_.readAt(uint64_t(page) * pageSize_, buffer.data(), pageSize_))
        return status::IoError;
    return status::Success;
}

bool LegacyFile::readStructure(uint64_t page, std::vector<uint8_t>& out) const
{
    const uint32_t pages = tables_.unit;
    out.resize(size_t(pages) * pageSize_);
    return page + pages <= filePages_ && source_.readAt(page * pageSize_, out.data(), out.size());
}

const uint8_t* LegacyFile::loadPage(uint32_t physicalPage, int16_t& status)
{
    status = status::Success;
    uint32_t place = physicalPage % CachedPages;
    uint8_t* page = cache_.data() + size_t(place) * pageSize_;
    if (cachedPage_[place] == physicalPage)
        return page;
    cachedPage_[place] = UINT32_MAX;
    fragmentsAscend_[place] = -1;
    if (physicalPage >= filePages_
        || !source_.readAt(uint64_t(physicalPage) * pageSize_, page, pageSize_)) {
        status = status::IoError;
        return nullptr;
    }
    cachedPage_[place] = physicalPage;
    return page;
}

bool LegacyFile::pickCurrent(uint32_t first, const uint8_t (&mark)[2], std::vector<uint8_t>& out)
{
    using format::v6::UsageCount;
    std::vector<uint8_t> one, two;
    bool okOne
        = readPhysical(first, one) == status::Success && one[0] == mark[0] && one[1] == mark[1];
    bool okTwo
        = readPhysical(first + 1, two) == status::Success && two[0] == mark[0] && two[1] == mark[1];
    if (okOne && (!okTwo || btr::le::get32(&one[UsageCount]) >= btr::le::get32(&two[UsageCount])))
        out = std::move(one);
    else if (okTwo)
        out = std::move(two);
    return okOne || okTwo;
}

} // namespace recman::legacy
