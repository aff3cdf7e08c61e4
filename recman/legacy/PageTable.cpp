// Where a file's pages are: its data pages in step order (5.x: every page that says it is one;
// 6.x: the logical pages the page allocation table maps to data pages), and, in 6.x files, the
// physical page behind each logical page that a pointer names.
#include "Format.h"
#include "LegacyFile.h"

namespace recman::legacy {

using btr::le::get16;
using format::hiLo;

int16_t LegacyFile::findDataPagesV5(std::string& reason)
{
    // Data pages carry their own number and the data-page bit in their usage count; every other
    // page (index, variable data, collating sequence, free) is passed over.
    uint8_t header[format::PageHeaderSize];
    for (uint32_t page = 1; page < filePages_; ++page) {
        if (!file_.readAt(uint64_t(page) * pageSize_, header, sizeof header)) {
            reason = "a page cannot be read";
            return status::IoError;
        }
        if ((get16(header + format::page::Usage) & format::page::DataPageBit)
            && hiLo(header + format::page::Number) == page)
            addDataPage(page, page);
    }
    return status::Success;
}

int16_t LegacyFile::readPageTable(const std::vector<uint8_t>& fcr, std::string& reason)
{
    using namespace format::pat;
    std::vector<uint8_t> pat;
    if (!pickCurrent(FirstPage, Mark, pat)) {
        reason = "no readable page allocation table";
        return status::IoError;
    }
    const uint32_t entries = (pageSize_ - HeaderSize) / EntrySize;
    if (hiLo(&fcr[format::fcr::PageCount]) > entries
        || filePages_ > entries + format::v6::FirstPageAfterTables) {
        // Where the tables for the pages beyond the first table lie is not known; guessing
        // would return wrong records.
        reason = "more pages than one page allocation table covers";
        return status::IoError;
    }
    logicalToPhysical_.assign(entries + 1, 0);
    logicalType_.assign(entries + 1, 0);
    std::vector<uint8_t> header(format::PageHeaderSize);
    for (uint32_t logical = 1; logical <= entries; ++logical) {
        const uint8_t* entry = &pat[HeaderSize + EntrySize * (logical - 1)];
        uint8_t type = entry[EntryType];
        if (type == TypeFree)
            continue;
        uint32_t physical
            = format::pageNumber(entry[EntryHigh], entry[EntryLow], entry[EntryMiddle]);
        bool inFile = physical >= format::v6::FirstPageAfterTables && physical < filePages_;
        if (inFile) {
            // Other pages are checked where a pointer leads to them.
            logicalToPhysical_[logical] = physical;
            logicalType_[logical] = type;
        }
        if (type != format::page::TypeData)
            continue;
        if (!inFile || !file_.readAt(uint64_t(physical) * pageSize_, header.data(), header.size())
            || !format::headerNames(header.data(), logical, format::page::TypeData)) {
            reason = "the page allocation table names a data page that is not there";
            return status::IoError;
        }
        addDataPage(physical, logical);
    }
    return status::Success;
}

void LegacyFile::addDataPage(uint32_t physical, uint32_t addressPage)
{
    if (dataPageOf_.size() <= addressPage)
        dataPageOf_.resize(size_t(addressPage) + 1, UINT32_MAX);
    dataPageOf_[addressPage] = uint32_t(dataPages_.size());
    dataPages_.push_back(physical);
    addressPages_.push_back(addressPage);
}

bool LegacyFile::mapLogical(uint32_t logical, uint8_t type, uint32_t& physical) const
{
    if (logical == 0 || logical >= logicalType_.size() || logicalType_[logical] != type)
        return false;
    physical = logicalToPhysical_[logical];
    return true;
}

uint32_t LegacyFile::firstLogicalOfType(uint8_t type) const
{
    for (uint32_t logical = 1; logical < logicalType_.size(); ++logical)
        if (logicalType_[logical] == type)
            return logical;
    return 0;
}

int16_t LegacyFile::variablePage(uint32_t page, uint32_t& physical) const
{
    if (v6_)
        return mapLogical(page, format::page::TypeVariable, physical) ? status::Success
                                                                      : status::IoError;
    if (page == 0 || page >= filePages_)
        return status::IoError;
    physical = page;
    return status::Success;
}

} // namespace recman::legacy
