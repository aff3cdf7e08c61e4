// Where a file's pages are: its data pages in step order (5.x: every page that says it is one;
// 6.x and newer: the logical pages the chain of allocation tables maps to data pages, in logical
// order), and, in files with tables, the physical page behind each logical page that a pointer
// names.
#include "Format.h"
#include "LegacyFile.h"

#include <algorithm>
#include <string>

namespace recman::legacy {

using btr::le::get16;
using btr::le::get32;
using format::hiLo;

// Data pages carry their own number and the data-page bit in their usage count; every other page
// (index, variable data, collating sequence, free) is passed over. Compressed files count their
// records on the way, by their in-use bytes. The pages are read in runs: a few large reads rather
// than one per page.
int16_t LegacyFile::findDataPagesV5(uint64_t& used, std::string& reason)
{
    used = 0;
    std::vector<uint8_t> run(size_t(RunPages) * pageSize_);
    for (uint32_t first = 1; first < filePages_; first += RunPages) {
        const uint32_t n = std::min<uint32_t>(RunPages, filePages_ - first);
        if (!source_.readAt(uint64_t(first) * pageSize_, run.data(), size_t(n) * pageSize_)) {
            reason = "a page cannot be read";
            return status::IoError;
        }
        for (uint32_t p = 0; p < n; ++p) {
            const uint8_t* page = run.data() + size_t(p) * pageSize_;
            if (!namesDataPage(page, first + p))
                continue;
            addDataPage(first + p, first + p);
            if (slotMark_ != SlotMark::FreeChain)
                used += usedSlots(page);
        }
    }
    return status::Success;
}

uint32_t LegacyFile::usedSlots(const uint8_t* page) const
{
    const uint8_t* slots = page + profile_->dataHeader;
    uint32_t used = 0;
    for (uint32_t slot = 0; slot < slotsPerPage_; ++slot)
        used += slotInUse(slots + slot * physicalLength_, 0);
    return used;
}

namespace {

std::string misplaced(uint64_t logical)
{
    return "logical page " + std::to_string(logical)
        + " is not on the page its allocation table names";
}

// The most any page header takes, of every family.
constexpr size_t HeaderBytes = 16;

} // namespace

// The chain of tables is trusted only once all of it agrees with the current control record and
// with the pages it names; anything else answers 2, and nothing is guessed: no copy is taken for
// another, no entry is skipped over.
int16_t LegacyFile::readPageTable(
    const std::vector<uint8_t>& fcr, std::vector<uint64_t>& named, std::string& reason)
{
    const Profile& p = *profile_;
    const TableGeometry& g = tables_;
    const uint32_t perTable = g.perTable;
    const uint32_t pairs = get16(&fcr[p.pairCount]);
    const uint32_t logicalEnd = hiLo(&fcr[format::fcr::PageCount]); // the highest logical page + 1
    const uint32_t fcrUsage = get32(&fcr[p.stamp]);
    // Where later pairs of the newer format lie was seen only at 1024 and 2048 bytes a page, and
    // never in a 9.5 file: elsewhere a pair not found at its place is a layout not known, not
    // damage.
    const bool spacingKnown = p.family == Family::V6
        || (p.family == Family::V8 && (pageSize_ == 1024 || pageSize_ == 2048));
    auto notKnown = [this, &reason](uint64_t k) {
        reason = "allocation-table pair " + std::to_string(k) + " of this " + versionName()
            + " file with " + std::to_string(pageSize_)
            + "-byte pages is not where the format keeps it: several pairs are not read here";
        return status::NotADataFile;
    };
    auto readHeader = [this](uint64_t page, uint8_t* out) {
        return page < filePages_ && source_.readAt(page * pageSize_, out, HeaderBytes);
    };

    if (pairs == 0 || g.pairPage(pairs) + g.twin + g.unit > filePages_) {
        if (pairs > 1 && !spacingKnown)
            return notKnown(pairs);
        reason = "the control record counts page allocation tables the file does not hold";
        return status::IoError;
    }
    if (logicalEnd == 0 || logicalEnd - 1 > uint64_t(pairs) * perTable) {
        reason = "the control record counts more pages than its page allocation tables cover";
        return status::IoError;
    }
    uint8_t header[HeaderBytes];
    // A table where the pair after the last counted one lies: the count is wrong.
    for (uint64_t copy : {uint64_t(0), uint64_t(g.twin)}) {
        if (readHeader(g.pairPage(pairs + 1) + copy, header) && marksTable(p, header, pairs + 1)) {
            reason = "the file holds more page allocation tables than the control record counts";
            return status::IoError;
        }
    }

    // logicalEnd <= pairs * N + 1, and the pairs lie inside the file: 4 bytes per page at most.
    logicalPages_.assign(logicalEnd, 0);
    auto refuse = [this, &reason](std::string why, int16_t status = status::IoError) {
        logicalPages_.clear();
        dataPages_.clear();
        addressPages_.clear();
        dataPageOf_.clear();
        if (status == status::IoError)
            reason = std::move(why);
        return status;
    };
    std::vector<uint8_t> first, second;
    for (uint32_t k = 1; k <= pairs; ++k) {
        const uint64_t at = g.pairPage(k);
        const std::string table = "page allocation table " + std::to_string(k);
        // Both copies of a pair are always there; one that is not marked as its pair is damage.
        if (!readStructure(at, first) || !marksTable(p, first.data(), k)
            || !readStructure(at + g.twin, second) || !marksTable(p, second.data(), k)) {
            if (k > 1 && !spacingKnown)
                return refuse({}, notKnown(k));
            return refuse(table + " is not where it must be");
        }
        // The copy with the higher usage count is current, the other the shadow from before the
        // last change; copies that claim the same count must say the same.
        const uint32_t one = get32(&first[p.stamp]);
        const uint32_t two = get32(&second[p.stamp]);
        if (one == two
            && !std::equal(
                first.begin() + p.tableEntries, first.end(), second.begin() + p.tableEntries))
            return refuse("both copies of " + table + " claim to be current");
        const uint8_t* current = one >= two ? first.data() : second.data();
        // A table written after the control record belongs to a change that never completed.
        if (std::max(one, two) > fcrUsage)
            return refuse(table + " is newer than the control record");

        for (uint32_t e = 1; e <= perTable; ++e) {
            const TableEntry entry = tableEntry(p, current, e);
            if (!entry.used)
                continue;
            const uint64_t logical = uint64_t(k - 1) * perTable + e;
            if (logical >= logicalEnd)
                return refuse("a page allocation table names a page beyond the control record's "
                              "count");
            // Every page named is checked against its header afterwards, all in one pass.
            if (entry.physical >= filePages_)
                return refuse(misplaced(logical));
            named.push_back(uint64_t(entry.physical) << 32 | logical);
            logicalPages_[size_t(logical)] = entry.physical << 8 | shortType(entry.type);
            // Step order is logical page order, through every table.
            if (entry.type == pagetype::Data)
                addDataPage(entry.physical, uint32_t(logical));
        }
    }
    return status::Success;
}

// Every page the tables name carries that logical number and the type the table gives it, and the
// records on the data pages are the ones the control record counts; another number means tables
// and control record are not of one state of the file. The pages are read in physical order, in
// runs of consecutive pages: a few large reads rather than one per page.
int16_t LegacyFile::verifyPages(std::vector<uint64_t>& named, uint64_t& used, std::string& reason)
{
    std::sort(named.begin(), named.end());
    std::vector<uint8_t> run(size_t(RunPages) * pageSize_);
    used = 0;
    for (size_t i = 0, n = 0; i < named.size(); i += n) {
        const uint32_t first = uint32_t(named[i] >> 32);
        for (n = 1;
             i + n < named.size() && n < RunPages && uint32_t(named[i + n] >> 32) == first + n;
             ++n) { }
        if (!source_.readAt(uint64_t(first) * pageSize_, run.data(), n * pageSize_)) {
            reason = "a page cannot be read";
            return status::IoError;
        }
        for (size_t p = 0; p < n; ++p) {
            const uint8_t* page = run.data() + p * pageSize_;
            const uint32_t logical = uint32_t(named[i + p]);
            const uint8_t type = uint8_t(logicalPages_[logical]);
            const PageHeader h = pageHeader(*profile_, page);
            if (h.number != logical || shortType(h.type) != type) {
                reason = misplaced(logical);
                return status::IoError;
            }
            if (type == pagetype::Data)
                used += usedSlots(page);
        }
    }
    return status::Success;
}

bool LegacyFile::namesDataPage(const uint8_t* header, uint32_t addressPage) const
{
    const PageHeader h = pageHeader(*profile_, header);
    return h.type == pagetype::Data && h.number == addressPage;
}

bool LegacyFile::namesVariablePage(const uint8_t* header, uint32_t page) const
{
    const PageHeader h = pageHeader(*profile_, header);
    if (profile_->family == Family::V5)
        return h.number == page && h.type != pagetype::Data;
    return h.number == page && h.type == pagetype::Variable;
}

void LegacyFile::addDataPage(uint32_t physical, uint32_t addressPage)
{
    if (dataPageOf_.size() <= addressPage)
        dataPageOf_.resize(size_t(addressPage) + 1, UINT32_MAX);
    dataPageOf_[addressPage] = uint32_t(dataPages_.size());
    dataPages_.push_back(physical);
    addressPages_.push_back(addressPage);
}

bool LegacyFile::mapLogical(uint32_t logical, uint16_t type, uint32_t& physical) const
{
    if (logical == 0 || logical >= logicalPages_.size()
        || uint8_t(logicalPages_[logical]) != shortType(type))
        return false;
    physical = logicalPages_[logical] >> 8;
    return true;
}

uint32_t LegacyFile::firstLogicalOfType(uint16_t type, uint32_t* count) const
{
    uint32_t first = 0, n = 0;
    for (uint32_t logical = 1; logical < logicalPages_.size(); ++logical) {
        if (uint8_t(logicalPages_[logical]) == shortType(type)) {
            first = first ? first : logical;
            ++n;
        }
    }
    if (count)
        *count = n;
    return first;
}

int16_t LegacyFile::variablePage(uint32_t page, uint32_t& physical) const
{
    if (profile_->tables)
        return mapLogical(page, pagetype::Variable, physical) ? status::Success : status::IoError;
    if (page == 0 || page >= filePages_)
        return status::IoError;
    physical = page;
    return status::Success;
}

} // namespace recman::legacy
