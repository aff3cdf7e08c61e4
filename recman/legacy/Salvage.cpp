// Salvage reading of a damaged legacy file: every record that can be read, and none that cannot
// be trusted.
//
// The definition comes from the current control record, else from its shadow (its definition,
// never its counts), else from the caller. Every page is then looked at on its own, in physical
// order: a page whose header does not make sense is skipped and counted, never followed. In 6.x
// files one logical page may have several physical copies: the one the current allocation table
// names when table and page agree, otherwise the most recent sound copy by its usage count. The
// records are then read with the reader's own slot and chain checks.
#include "Format.h"
#include "KeyOrder.h"
#include "LegacyFile.h"

#include <algorithm>
#include <string>

namespace recman::legacy {

using btr::le::get16;
using btr::le::get32;
using format::hiLo;

namespace {

// Pages looked at when a page size is tried: enough to tell, few enough to stay quick.
constexpr uint32_t ScoredPages = 4096;

bool allZero(const uint8_t* bytes, size_t length)
{
    return std::all_of(bytes, bytes + length, [](uint8_t b) { return b == 0; });
}

bool marked(const uint8_t* page, const uint8_t (&mark)[2])
{
    return page[0] == mark[0] && page[1] == mark[1];
}

// What a 6.x page header says it is: a page of a known kind (control record, table, data,
// variable data, collating sequence), an index page (whose type byte alone proves little:
// neither for nor against), or nothing known.
int knownKindV6(const uint8_t* header)
{
    using namespace format::page;
    const uint8_t type = header[Type];
    if (marked(header, format::v6::ControlMark) || marked(header, format::pat::Mark)
        || type == TypeData || type == TypeVariable || type == TypeAcs)
        return 1;
    return type >= TypeIndexBit && type < TypeIndexBit + MaxKeys ? 0 : -1;
}

} // namespace

std::unique_ptr<LegacyFile> LegacyFile::openSalvage(
    const std::string& path, const SalvageRequest& request, int16_t& status, std::string& reason)
{
    auto file = openReadOnly(path, status, reason);
    if (!file)
        return nullptr;
    status = file->salvage(request, reason);
    if (status != status::Success)
        return nullptr;
    return file;
}

int16_t LegacyFile::salvage(const SalvageRequest& request, std::string& reason)
{
    salvaging_ = true;
    wholeOnly_ = request.wholeOnly;
    if (fileSize_ > format::MaxFileSize) {
        reason = "larger than 4 GiB";
        return status::IoError;
    }
    if (fileSize_ < format::MinFileSize) {
        reason = "shorter than a page";
        return status::IoError;
    }
    std::vector<uint32_t> acsPages;
    std::vector<uint8_t> fcr; // the current control record, when it is trusted
    if (int16_t s = salvageDefinition(request, acsPages, fcr, reason))
        return s;
    if (v6_)
        mapPagesV6(fcr);
    else
        mapPagesV5(fcr);

    std::string why;
    if (loadAcsBlocks(acsPages, why) != status::Success) {
        report_.acsLost = true;
        // The caller's definition carries the sequences the file has lost; its records must be
        // those the pages hold.
        if (request.given && request.given->recordLength == def_.recordLength
            && request.given->variableLength() == def_.variableLength()) {
            def_.keys = request.given->keys;
            def_.acsBlocks = request.given->acsBlocks;
            keyValues_.assign(def_.keys.size(), 0);
            duplicateLinks_.assign(def_.keys.size(), 0);
            orders_.clear();
            orders_.resize(def_.keys.size());
            report_.acsLost = false;
            report_.source = SalvageReport::Caller;
        }
    }
    prepareCache();
    countRescued();
    return status::Success;
}

int16_t LegacyFile::salvageDefinition(const SalvageRequest& request,
    std::vector<uint32_t>& acsPages, std::vector<uint8_t>& fcr, std::string& reason)
{
    uint8_t head[format::HeadSize] {};
    if (!file_.readAt(0, head, sizeof head)) {
        reason = "the first page cannot be read";
        return status::IoError;
    }
    std::string why;
    // 6.x: the control record on page 0, or its other copy on page 1, found at the page size it
    // gives itself.
    uint32_t sizeV6 = 0;
    if (layoutOf(head) == Layout::V6) {
        sizeV6 = get16(head + format::fcr::PageSize);
    } else {
        uint8_t other[format::HeadSize] {};
        for (uint32_t size = format::PageSizeUnit; size <= format::LargestPageSize && !sizeV6;
             size += format::PageSizeUnit) {
            if (uint64_t(size) * 2 <= fileSize_ && file_.readAt(size, other, sizeof other)
                && layoutOf(other) == Layout::V6 && get16(other + format::fcr::PageSize) == size)
                sizeV6 = size;
        }
    }
    if (sizeV6 != 0 && sizeV6 <= format::LargestPageSize) {
        pageSize_ = sizeV6;
        filePages_ = uint32_t(fileSize_ / pageSize_);
        struct Copy
        {
            std::vector<uint8_t> bytes;
            uint32_t usage;
        };
        std::vector<Copy> copies;
        for (uint32_t page = 0; page < 2; ++page) {
            std::vector<uint8_t> bytes;
            if (readPhysical(page, bytes) == status::Success
                && marked(bytes.data(), format::v6::ControlMark)
                && get16(&bytes[format::fcr::PageSize]) == pageSize_) {
                const uint32_t usage = get32(&bytes[format::v6::UsageCount]);
                copies.push_back({std::move(bytes), usage});
            }
        }
        std::stable_sort(copies.begin(), copies.end(),
            [](const Copy& a, const Copy& b) { return a.usage > b.usage; });
        // A lone copy is the current one unless a table of the first pair was written after it.
        bool loneIsShadow = false;
        if (copies.size() == 1) {
            uint8_t table[format::pat::HeaderSize];
            for (uint32_t page = format::pat::FirstPage;
                 page < format::pat::FirstPage + format::pat::CopiesPerPair; ++page) {
                if (page < filePages_
                    && file_.readAt(uint64_t(page) * pageSize_, table, sizeof table)
                    && format::pat::marksTable(table, 1)
                    && get32(table + format::v6::UsageCount) > copies[0].usage)
                    loneIsShadow = true;
            }
        }
        for (size_t i = 0; i < copies.size(); ++i) {
            resetDefinition();
            acsPages.clear();
            int16_t s = readHeaderV6(copies[i].bytes, why);
            if (s == status::NotADataFile) {
                reason = why;
                return s;
            }
            if (s == status::Success)
                s = readKeysV6(copies[i].bytes, acsPages, why);
            if (s == status::Success) {
                const bool current = i == 0 && !loneIsShadow;
                report_.source = current ? SalvageReport::ControlRecord : SalvageReport::Shadow;
                if (current) {
                    fcr = copies[i].bytes;
                    report_.countedRecords = def_.numRecords;
                }
                break;
            }
        }
    } else if (layoutOf(head) == Layout::V5) {
        pageSize_ = get16(head + format::fcr::PageSize);
        filePages_ = uint32_t(fileSize_ / pageSize_);
        std::vector<uint8_t> bytes;
        if (pageSize_ <= format::v5::MaxPageSize && readPhysical(0, bytes) == status::Success) {
            int16_t s = readHeaderV5(bytes, why);
            if (s == status::NotADataFile) {
                reason = why;
                return s;
            }
            if (s == status::Success)
                s = readKeysV5(bytes, acsPages, why);
            if (s == status::Success) {
                report_.source = SalvageReport::ControlRecord;
                report_.countedRecords = def_.numRecords;
                fcr = std::move(bytes);
            }
        }
    }

    if (report_.source != SalvageReport::None) {
        // The pages must agree with the page size the control record gives.
        uint32_t best = pageSize_;
        int64_t bestScore = pageSizeScore(pageSize_, v6_).value();
        for (uint32_t size = format::PageSizeUnit; size <= format::LargestPageSize;
             size += format::PageSizeUnit) {
            const PageSizeScore score = pageSizeScore(size, v6_);
            if (score.convincing() && score.value() > bestScore) {
                const int64_t value = score.value();
                best = size;
                bestScore = value;
            }
        }
        if (best != pageSize_) {
            if (physicalLength_ > best - format::PageHeaderSize) {
                reason = "the pages are not of the size the control record gives, and its "
                         "records do not fit the size they are";
                return status::IoError;
            }
            pageSize_ = best;
            def_.pageSize = uint16_t(best);
            slotsPerPage_ = (pageSize_ - format::PageHeaderSize) / physicalLength_;
            report_.pageSizeFromPages = true;
            fcr.clear(); // its counts describe another file
            report_.countedRecords = UINT32_MAX;
        }
    } else {
        resetDefinition();
        acsPages.clear();
        if (!request.given) {
            reason = "no control record holds a readable definition, and none was given";
            return status::IoError;
        }
        if (!guessLayout(request.given->pageSize)) {
            reason = "no page size makes sense of the pages";
            return status::IoError;
        }
        if (int16_t s = takeGivenDefinition(*request.given, reason))
            return s;
        report_.source = SalvageReport::Caller;
    }
    filePages_ = uint32_t(fileSize_ / pageSize_);
    return status::Success;
}

int16_t LegacyFile::takeGivenDefinition(const Definition& given, std::string& reason)
{
    if (int16_t refused = refuseUnsupported(given.fileFlags, reason))
        return refused;
    def_ = given;
    def_.pageSize = uint16_t(pageSize_);
    def_.numRecords = 0;
    // The slot: the usage prefix (6.x), the data, the variable-part pointer, then 8 bytes for
    // each key with linked duplicates and each duplicate pointer reserved for a later key.
    uint32_t links = def_.duplicatePointers;
    for (const Key& key : def_.keys)
        links += key.linkedDuplicates() ? 1 : 0;
    recordOffset_ = v6_ ? format::v6::SlotPrefix : 0;
    physicalLength_ = recordOffset_ + def_.recordLength
        + (def_.variableLength() ? format::VariablePointerSize : 0)
        + links * format::DuplicateLinksSize;
    if (def_.recordLength < 1 || physicalLength_ > pageSize_ - format::PageHeaderSize) {
        reason = "the given definition's records do not fit the file's pages";
        return status::IoError;
    }
    slotsPerPage_ = (pageSize_ - format::PageHeaderSize) / physicalLength_;
    version_ = v6_ ? format::v6::MinVersion : uint16_t(format::v5::MaxVersion - 1) << 8;
    keyValues_.assign(def_.keys.size(), 0);
    duplicateLinks_.assign(def_.keys.size(), 0);
    orders_.resize(def_.keys.size());
    return status::Success;
}

// How well pages of this size and layout make sense: the page headers of a known kind (5.x: that
// carry their own number), and those that are neither that nor zeros. Pages read at half their
// size show garbage every other page, at twice their size half as many headers: the true size
// scores highest.
LegacyFile::PageSizeScore LegacyFile::pageSizeScore(uint32_t pageSize, bool v6) const
{
    const uint64_t pages = std::min<uint64_t>(fileSize_ / pageSize, ScoredPages);
    PageSizeScore score;
    uint8_t header[format::PageHeaderSize];
    for (uint64_t page = 1; page < pages; ++page) {
        if (!file_.readAt(page * pageSize, header, sizeof header))
            break;
        if (allZero(header, sizeof header))
            continue;
        const int kind = v6                               ? knownKindV6(header)
            : hiLo(header + format::page::Number) == page ? 1
                                                          : -1;
        score.known += kind > 0;
        score.unknown += kind < 0;
    }
    return score;
}

bool LegacyFile::guessLayout(uint32_t preferred)
{
    int64_t bestScore = 0;
    bool found = false;
    for (bool v6 : {false, true}) {
        for (uint32_t size = format::PageSizeUnit; size <= format::LargestPageSize;
             size += format::PageSizeUnit) {
            // Most pages must make sense, or the size is only the best that noise allows.
            const PageSizeScore score = pageSizeScore(size, v6);
            if (!score.convincing())
                continue;
            if (!found || score.value() > bestScore
                || (score.value() == bestScore && size == preferred)) {
                found = true;
                bestScore = score.value();
                pageSize_ = size;
                v6_ = v6;
            }
        }
    }
    report_.pageSizeFromPages = true;
    return found;
}

void LegacyFile::mapPagesV5(const std::vector<uint8_t>& fcr)
{
    // Without shadow paging every page is its own: data pages carry their own number and the
    // data-page bit, every other page of the file its own number at least.
    const uint32_t counted = fcr.empty() ? 0 : hiLo(&fcr[format::fcr::PageCount]);
    if (counted > filePages_)
        report_.pagesMissing = counted - filePages_;
    else if (fileSize_ % pageSize_ != 0)
        report_.pagesMissing = 1;
    if (counted != 0 && counted < filePages_)
        filePages_ = counted;
    uint8_t header[format::PageHeaderSize];
    for (uint32_t page = 1; page < filePages_; ++page) {
        if (!file_.readAt(uint64_t(page) * pageSize_, header, sizeof header))
            break;
        if (namesDataPage(header, page))
            addDataPage(page, page);
        else if (hiLo(header + format::page::Number) != page && !allZero(header, sizeof header))
            ++report_.pagesDamaged;
    }
    if (!fcr.empty())
        readFreeChain(hiLo(&fcr[format::v5::FreeChainHead]));
}

void LegacyFile::mapPagesV6(const std::vector<uint8_t>& fcr)
{
    using namespace format::pat;
    const uint32_t perTable = (pageSize_ - HeaderSize) / EntrySize;
    const uint32_t stride = perTable + CopiesPerPair;
    auto pairPage = [stride](uint64_t k) { return FirstPage + (k - 1) * stride; };
    // Pairs whose place lies inside the file, and the logical pages they can name.
    const uint64_t pairs = filePages_ > FirstPage ? (filePages_ - FirstPage - 1) / stride + 1 : 0;
    const uint64_t logicalEnd = pairs * perTable + 1;
    const bool fcrTrusted = !fcr.empty();
    const uint32_t fcrUsage = fcrTrusted ? get32(&fcr[format::v6::UsageCount]) : 0;

    // What the current table of each pair says (physical << 8 | type; covered when a current
    // table speaks of the page at all), and every (logical, physical) any sound copy names.
    std::vector<uint32_t> current(size_t(logicalEnd), 0);
    std::vector<bool> covered(size_t(logicalEnd), false);
    std::vector<uint64_t> named;
    std::vector<uint8_t> one, two;
    for (uint64_t k = 1; k <= pairs; ++k) {
        const uint32_t at = uint32_t(pairPage(k));
        const bool okOne = readPhysical(at, one) == status::Success && marksTable(one.data(), k);
        const bool okTwo = at + 1 < filePages_ && readPhysical(at + 1, two) == status::Success
            && marksTable(two.data(), k);
        const uint32_t usageOne = okOne ? get32(&one[format::v6::UsageCount]) : 0;
        const uint32_t usageTwo = okTwo ? get32(&two[format::v6::UsageCount]) : 0;
        for (const auto* copy : {okOne ? &one : nullptr, okTwo ? &two : nullptr}) {
            if (!copy)
                continue;
            for (uint32_t e = 1; e <= perTable; ++e) {
                const uint8_t* entry = copy->data() + HeaderSize + EntrySize * (e - 1);
                if (entry[EntryType] != TypeFree)
                    named.push_back((uint64_t((k - 1) * perTable + e) << 32)
                        | format::pageNumber(
                            entry[EntryHigh], entry[EntryLow], entry[EntryMiddle]));
            }
        }
        // Of two sound copies the more recent is current (equal counts must say the same); a
        // lone copy only when its count is the control record's.
        const std::vector<uint8_t>* trusted = nullptr;
        uint32_t usage = 0;
        if (okOne && okTwo) {
            if (usageOne != usageTwo)
                trusted = usageOne > usageTwo ? &one : &two;
            else if (std::equal(one.begin() + HeaderSize, one.end(), two.begin() + HeaderSize))
                trusted = &one;
            usage = std::max(usageOne, usageTwo);
        } else if (okOne || okTwo) {
            usage = okOne ? usageOne : usageTwo;
            if (fcrTrusted && usage == fcrUsage)
                trusted = okOne ? &one : &two;
        }
        // A table written after the control record belongs to a change that never completed.
        if (!trusted || (fcrTrusted && usage > fcrUsage))
            continue;
        for (uint32_t e = 1; e <= perTable; ++e) {
            const uint8_t* entry = trusted->data() + HeaderSize + EntrySize * (e - 1);
            const uint64_t logical = (k - 1) * perTable + e;
            covered[size_t(logical)] = true;
            if (entry[EntryType] != TypeFree)
                current[size_t(logical)]
                    = format::pageNumber(entry[EntryHigh], entry[EntryLow], entry[EntryMiddle]) << 8
                    | entry[EntryType];
        }
    }
    std::sort(named.begin(), named.end());

    // Every page on its own: those that say they are a copy of a logical data, variable or
    // collating-sequence page, with their usage counts.
    struct Candidate
    {
        uint32_t logicalType; // logical << 8 | type
        uint32_t physical;
        uint16_t usage;
    };
    std::vector<Candidate> candidates;
    std::vector<bool> sound(filePages_, false);
    uint8_t header[format::PageHeaderSize];
    for (uint32_t page = FirstPage; page < filePages_; ++page) {
        if ((page - FirstPage) % stride < CopiesPerPair)
            continue; // a table's place
        if (!file_.readAt(uint64_t(page) * pageSize_, header, sizeof header))
            break;
        const uint8_t type = header[format::page::Type];
        if (type != format::page::TypeData && type != format::page::TypeVariable
            && type != format::page::TypeAcs)
            continue;
        const uint32_t logical = format::pageNumber(header[format::page::NumberHigh],
            header[format::page::NumberLow], header[format::page::NumberMiddle]);
        const uint16_t usage = get16(header + format::page::Usage);
        // Data pages carry the data-page bit in their usage count in every file seen: a page
        // that says "D" without it is not one.
        if (logical == 0 || logical >= logicalEnd
            || (type == format::page::TypeData && !(usage & format::page::DataPageBit))) {
            ++report_.pagesDamaged;
            continue;
        }
        sound[page] = true;
        candidates.push_back({logical << 8 | type, page, usage});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.logicalType != b.logicalType ? a.logicalType < b.logicalType : a.usage > b.usage;
    });

    // Pages the current tables name as data or variable pages that are not there.
    bool tailCounted = false;
    for (uint64_t logical = 1; logical < logicalEnd; ++logical) {
        const uint8_t type = uint8_t(current[size_t(logical)]);
        if (type != format::page::TypeData && type != format::page::TypeVariable)
            continue;
        const uint32_t physical = current[size_t(logical)] >> 8;
        if (physical >= filePages_) {
            ++report_.pagesMissing;
            tailCounted = tailCounted || physical == filePages_;
        } else if (!sound[physical]) {
            ++report_.pagesDamaged; // a sound page of another logical page is not damaged
        }
    }
    if (fileSize_ % pageSize_ != 0 && !tailCounted)
        ++report_.pagesMissing;

    logicalPages_.assign(size_t(logicalEnd), 0);
    std::vector<std::pair<uint32_t, uint32_t>> data; // (physical, logical) of chosen data pages
    std::vector<uint8_t> first, other;
    for (size_t i = 0, n = 0; i < candidates.size(); i += n) {
        for (n = 1; i + n < candidates.size()
             && candidates[i + n].logicalType == candidates[i].logicalType;
             ++n) { }
        const uint32_t logical = candidates[i].logicalType >> 8;
        const uint8_t type = uint8_t(candidates[i].logicalType);
        const uint32_t entry = current[logical];
        size_t chosen = n; // none
        size_t ambiguous = 0;
        bool byUsage = true;
        if (covered[logical]) {
            const uint32_t physical = entry >> 8;
            for (size_t c = i; c < i + n && chosen == n; ++c) {
                if (uint8_t(entry) == type && candidates[c].physical == physical)
                    chosen = c - i;
            }
            // The table names this logical page free, of another kind, or on a page that is
            // lost: its copies here are older states, not to be read. When it names a sound page
            // of another logical page, the entry itself is wrong and the copies decide.
            byUsage
                = chosen == n && uint8_t(entry) == type && physical < filePages_ && sound[physical];
        }
        if (chosen == n && byUsage) {
            chosen = 0;
            size_t tied = 1;
            while (tied < n && candidates[i + tied].usage == candidates[i].usage)
                ++tied;
            if (tied > 1 && readPhysical(candidates[i].physical, first) == status::Success) {
                for (size_t c = 1; c < tied && chosen == 0; ++c) {
                    if (readPhysical(candidates[i + c].physical, other) != status::Success
                        || other != first)
                        chosen = n;
                }
                if (chosen == n)
                    ambiguous = tied;
            }
        }
        report_.pagesAmbiguous += uint32_t(ambiguous);
        report_.staleCopies += uint32_t(n - ambiguous - (chosen == n ? 0 : 1));
        if (chosen == n)
            continue;
        const uint32_t physical = candidates[i + chosen].physical;
        if (!std::binary_search(named.begin(), named.end(), (uint64_t(logical) << 32) | physical))
            ++report_.untabled;
        logicalPages_[logical] = physical << 8 | type;
        if (type == format::page::TypeData)
            data.emplace_back(physical, logical);
    }
    // Step order is physical order.
    std::sort(data.begin(), data.end());
    for (auto [physical, logical] : data)
        addDataPage(physical, logical);
}

void LegacyFile::countRescued()
{
    std::vector<uint8_t> record;
    Locator loc = 0;
    for (int16_t s = stepFirst(loc); s == status::Success; s = stepNext(loc)) {
        bool whole = true;
        if (readRescued(loc, record, whole) != status::Success)
            continue;
        if (whole) {
            ++report_.rescued;
        } else if (wholeOnly_) {
            ++report_.leftOut;
        } else {
            ++report_.rescued;
            ++report_.partial;
        }
    }
    def_.numRecords = report_.rescued;
    keyValues_.assign(def_.keys.size(), 0);
    for (Key& key : def_.keys)
        for (Segment& segment : key.segments)
            segment.numKeyValues = 0;
}

} // namespace recman::legacy
