// Where a file's pages are: its data pages in step order (5.x: every page that says it is one;
// 6.x: the logical pages the chain of page allocation tables maps to data pages, in logical
// order), and, in 6.x files, the physical page behind each logical page that a pointer names.
#include "Format.h"
#include "LegacyFile.h"

#include <algorithm>
#include <string>

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
        if (namesDataPage(header, page))
            addDataPage(page, page);
    }
    return status::Success;
}

namespace {

std::string misplaced(uint64_t logical)
{
    return "logical page " + std::to_string(logical)
        + " is not on the page its allocation table names";
}

} // namespace

// The chain of tables is trusted only once all of it agrees with the current control record and
// with the pages it names; anything else answers 2, and nothing is guessed: no copy is taken for
// another, no entry is skipped over.
int16_t LegacyFile::readPageTable(const std::vector<uint8_t>& fcr, std::string& reason)
{
    using namespace format::pat;
    using btr::le::get32;
    const uint32_t perTable = (pageSize_ - HeaderSize) / EntrySize;
    const uint32_t pairs = get16(&fcr[format::v6::PairCount]);
    const uint32_t logicalEnd = hiLo(&fcr[format::fcr::PageCount]); // the highest logical page + 1
    const uint32_t fcrUsage = get32(&fcr[format::v6::UsageCount]);
    // Pair k follows the pages the pairs before it cover.
    auto pairPage
        = [perTable](uint64_t k) { return FirstPage + (k - 1) * (perTable + CopiesPerPair); };
    auto readPage = [this](uint64_t page, uint8_t* out, size_t length) {
        return page < filePages_ && file_.readAt(page * pageSize_, out, length);
    };

    if (pairs == 0 || pairPage(pairs) + CopiesPerPair > filePages_) {
        reason = "the control record counts page allocation tables the file does not hold";
        return status::IoError;
    }
    if (logicalEnd == 0 || logicalEnd - 1 > uint64_t(pairs) * perTable) {
        reason = "the control record counts more pages than its page allocation tables cover";
        return status::IoError;
    }
    std::vector<uint8_t> first(pageSize_), second(pageSize_);
    // A table where the pair after the last counted one lies: the count is wrong.
    for (uint32_t copy = 0; copy < CopiesPerPair; ++copy) {
        if (readPage(pairPage(pairs + 1) + copy, first.data(), HeaderSize)
            && format::pat::marksTable(first.data(), pairs + 1)) {
            reason = "the file holds more page allocation tables than the control record counts";
            return status::IoError;
        }
    }

    // logicalEnd <= pairs * N + 1, and the pairs lie inside the file: 4 bytes per page at most.
    logicalPages_.assign(logicalEnd, 0);
    auto refuse = [this, &reason](std::string why) {
        logicalPages_.clear();
        dataPages_.clear();
        addressPages_.clear();
        dataPageOf_.clear();
        reason = std::move(why);
        return status::IoError;
    };
    uint8_t header[format::PageHeaderSize];
    for (uint32_t k = 1; k <= pairs; ++k) {
        const uint64_t at = pairPage(k);
        const std::string table = "page allocation table " + std::to_string(k);
        // Both copies of a pair are always there; one that is not marked as its pair is damage.
        if (!readPage(at, first.data(), pageSize_) || !format::pat::marksTable(first.data(), k)
            || !readPage(at + 1, second.data(), pageSize_)
            || !format::pat::marksTable(second.data(), k))
            return refuse(table + " is not where it must be");
        // The copy with the higher usage count is current, the other the shadow from before the
        // last change; copies that claim the same count must say the same.
        const uint32_t one = get32(&first[format::v6::UsageCount]);
        const uint32_t two = get32(&second[format::v6::UsageCount]);
        if (one == two
            && !std::equal(first.begin() + HeaderSize, first.end(), second.begin() + HeaderSize))
            return refuse("both copies of " + table + " claim to be current");
        const uint8_t* current = one >= two ? first.data() : second.data();
        // A table written after the control record belongs to a change that never completed.
        if (std::max(one, two) > fcrUsage)
            return refuse(table + " is newer than the control record");

        for (uint32_t e = 1; e <= perTable; ++e) {
            const uint8_t* entry = current + HeaderSize + EntrySize * (e - 1);
            const uint8_t type = entry[EntryType];
            if (type == TypeFree)
                continue;
            const uint64_t logical = uint64_t(k - 1) * perTable + e;
            if (logical >= logicalEnd)
                return refuse("a page allocation table names a page beyond the control record's "
                              "count");
            const uint32_t physical
                = format::pageNumber(entry[EntryHigh], entry[EntryLow], entry[EntryMiddle]);
            // Data pages are read whole when their records are counted, and their headers
            // checked there; other pages only need their header read here.
            if (physical >= filePages_
                || (type != format::page::TypeData
                    && (!readPage(physical, header, sizeof header)
                        || !format::headerNames(header, uint32_t(logical), type))))
                return refuse(misplaced(logical));
            logicalPages_[size_t(logical)] = physical << 8 | type;
            // Step order is logical page order, through every table.
            if (type == format::page::TypeData)
                addDataPage(physical, uint32_t(logical));
        }
    }
    return status::Success;
}

// Every data page the tables name carries that logical number and the data type, and the
// records on them are the ones the control record counts; another number means tables and control
// record are not of one state of the file. The pages are read in runs of consecutive physical
// pages: a few large reads rather than one per page.
int16_t LegacyFile::countRecordsV6(std::string& reason)
{
    constexpr size_t RunPages = 64;
    std::vector<uint8_t> run(RunPages * pageSize_);
    uint64_t used = 0;
    for (size_t i = 0, n = 0; i < dataPages_.size(); i += n) {
        for (n = 1;
             i + n < dataPages_.size() && n < RunPages && dataPages_[i + n] == dataPages_[i] + n;
             ++n) { }
        if (!file_.readAt(uint64_t(dataPages_[i]) * pageSize_, run.data(), n * pageSize_)) {
            reason = "a data page cannot be read";
            return status::IoError;
        }
        for (size_t p = 0; p < n; ++p) {
            const uint8_t* page = run.data() + p * pageSize_;
            if (!namesDataPage(page, addressPages_[i + p])) {
                reason = misplaced(addressPages_[i + p]);
                return status::IoError;
            }
            const uint8_t* slots = page + format::PageHeaderSize;
            for (uint32_t slot = 0; slot < slotsPerPage_; ++slot)
                used += get16(slots + slot * physicalLength_) != 0;
        }
    }
    if (used != def_.numRecords) {
        reason = "the data pages hold " + std::to_string(used)
            + " records, the control record counts " + std::to_string(def_.numRecords);
        return status::IoError;
    }
    return status::Success;
}

bool LegacyFile::namesDataPage(const uint8_t* header, uint32_t addressPage) const
{
    if (v6_)
        return format::headerNames(header, addressPage, format::page::TypeData);
    return (get16(header + format::page::Usage) & format::page::DataPageBit)
        && hiLo(header + format::page::Number) == addressPage;
}

bool LegacyFile::namesVariablePage(const uint8_t* header, uint32_t page) const
{
    if (v6_)
        return format::headerNames(header, page, format::page::TypeVariable);
    return hiLo(header + format::page::Number) == page
        && !(get16(header + format::page::Usage) & format::page::DataPageBit);
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
    if (logical == 0 || logical >= logicalPages_.size() || uint8_t(logicalPages_[logical]) != type)
        return false;
    physical = logicalPages_[logical] >> 8;
    return true;
}

uint32_t LegacyFile::firstLogicalOfType(uint8_t type) const
{
    for (uint32_t logical = 1; logical < logicalPages_.size(); ++logical)
        if (uint8_t(logicalPages_[logical]) == type)
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
