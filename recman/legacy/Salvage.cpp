// Salvage reading of a damaged legacy file: every record that can be read, and none that cannot
// be trusted.
//
// The definition comes from the current control record, else from its shadow (its definition,
// never its counts), else from the caller. Every page is then looked at on its own, in physical
// order: a page whose header does not make sense is skipped and counted, never followed. In files
// with allocation tables one logical page may have several physical copies: the one the current
// table names when table and page agree, otherwise the most recent sound copy by its usage count.
// The records are then read with the reader's own slot, chain and stream checks.
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
// The most any page header takes, of every family.
constexpr size_t HeaderBytes = 16;
// Logical page numbers are three bytes in 6.x files; page maps are not made larger than that.
constexpr uint64_t MaxLogicalPages = uint64_t(1) << 24;

bool allZero(const uint8_t* bytes, size_t length)
{
    return std::all_of(bytes, bytes + length, [](uint8_t b) { return b == 0; });
}

// What a page header says it is: a page of a known kind (control record, table, data, variable
// data, collating sequence), an index page (whose type alone proves little: neither for nor
// against), or nothing known.
int knownKind(const Profile& profile, const uint8_t* header)
{
    const uint16_t type = pageHeader(profile, header).type;
    if (type == pagetype::Data || type == pagetype::Variable || type == pagetype::Acs)
        return 1;
    // Control records and tables by their marks: 6.x "FC" and "PP" in the first two bytes, the
    // newer format its type word (tables "PP" at bytes 3-4).
    const bool v6 = profile.family == Family::V6;
    if (type == pagetype::Control)
        return !v6 || header[0] == 'F' ? 1 : -1;
    if (type == pagetype::Table)
        return (v6 ? header[0] == 'P' : header[3] == 'P') ? 1 : -1;
    return (type & pagetype::IndexBit) && (type & ~pagetype::IndexBit) < MaxKeys ? 0 : -1;
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
    if (profile_->tables)
        mapPagesTabled(fcr);
    else
        mapPagesV5(fcr);

    std::string why;
    const int16_t acs = loadAcsBlocks(acsPages, why);
    if (acs == status::NotADataFile) {
        reason = why;
        return acs;
    }
    if (acs != status::Success) {
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

// An encrypted file: of the two rules, the one under which most pages carry their own numbers,
// when that is most of them.
int16_t LegacyFile::salvageCipher(const std::vector<uint8_t>& fcr, std::string& reason)
{
    const PageSource::Key key = ownerKey(fcr);
    // The tables the control record counts, as far as the file reaches.
    const uint32_t pairs = profile_->tables ? get16(&fcr[profile_->pairCount]) : 0;
    CipherScore best;
    Cipher chosen = Cipher::None;
    for (Cipher cipher : {Cipher::Rule1, Cipher::Rule2}) {
        const CipherScore score = cipherScore(cipher, key, pairs);
        if (score.agree > best.agree) {
            best = score;
            chosen = cipher;
        }
    }
    if (chosen == Cipher::None || 2 * best.agree <= best.looked) {
        reason = "encrypted data of " + versionName()
            + " that neither known rule decrypts: its pages do not carry their own numbers";
        return status::NotADataFile;
    }
    source_.decryptWith(chosen, key, plainBytes(), pageSize_);
    return status::Success;
}

// 6.x and the newer format: the control record at its place, or its twin, found at the page size
// it gives itself; the current one unless a table of the first pair was written after it.
int16_t LegacyFile::salvageTabled(const SalvageRequest& request, Family family, uint32_t pageSize,
    std::vector<uint32_t>& acsPages, std::vector<uint8_t>& fcr, std::string& reason)
{
    (void)request;
    setFamily(family);
    pageSize_ = pageSize;
    filePages_ = uint32_t(fileSize_ / pageSize_);
    tables_ = tableGeometry(*profile_, pageSize_);
    const bool newer = newerFormat(family);
    const uint64_t twin = newer ? tables_.unit : 1;
    struct Copy
    {
        std::vector<uint8_t> bytes;
        uint32_t usage;
    };
    std::vector<Copy> copies;
    for (uint64_t page : {uint64_t(0), twin}) {
        std::vector<uint8_t> bytes;
        if (!readStructure(page, bytes))
            continue;
        const bool mark = bytes[0] == 'F' && bytes[1] == 'C';
        const uint32_t size
            = get16(&bytes[newer ? format::v8::fcr::PageSize : format::fcr::PageSize]);
        if (mark && size == pageSize_
            && (!newer || get16(&bytes[format::v8::page::Type]) == format::v8::page::TypeControl)) {
            const uint32_t usage = get32(&bytes[profile_->stamp]);
            copies.push_back({std::move(bytes), usage});
        }
    }
    std::stable_sort(copies.begin(), copies.end(),
        [](const Copy& a, const Copy& b) { return a.usage > b.usage; });
    // A lone copy is the current one unless a table of the first pair was written after it.
    bool loneIsShadow = false;
    if (copies.size() == 1) {
        std::vector<uint8_t> table;
        for (uint64_t page : {tables_.pairPage(1), tables_.pairPage(1) + tables_.twin}) {
            if (readStructure(page, table) && marksTable(*profile_, table.data(), 1)
                && get32(&table[profile_->stamp]) > copies[0].usage)
                loneIsShadow = true;
        }
    }
    std::string why;
    for (size_t i = 0; i < copies.size(); ++i) {
        resetDefinition();
        acsPages.clear();
        int16_t s = newer ? readHeaderV8(copies[i].bytes, why) : readHeaderV6(copies[i].bytes, why);
        if (s == status::NotADataFile) {
            reason = why;
            return s;
        }
        if (s == status::Success)
            s = newer ? readKeysV8(copies[i].bytes, acsPages, why)
                      : readKeysV6(copies[i].bytes, acsPages, why);
        if (s == status::NotADataFile) {
            reason = why;
            return s;
        }
        if (s == status::Success) {
            const bool current = i == 0 && !loneIsShadow;
            report_.source = current ? SalvageReport::ControlRecord : SalvageReport::Shadow;
            if (current) {
                fcr = copies[i].bytes;
                report_.countedRecords = def_.numRecords;
            }
            // The key to the data is in the control record that holds the owner block.
            if (ownerNameRequired())
                if (int16_t c = salvageCipher(copies[i].bytes, reason))
                    return c;
            break;
        }
    }
    return status::Success;
}

int16_t LegacyFile::salvageDefinition(const SalvageRequest& request,
    std::vector<uint32_t>& acsPages, std::vector<uint8_t>& fcr, std::string& reason)
{
    uint8_t head[format::HeadSize] {};
    if (!source_.readAt(0, head, sizeof head)) {
        reason = "the first page cannot be read";
        return status::IoError;
    }
    Identity id = identify(head);
    if (id.kind == Identity::Refused) {
        reason = std::move(id.reason);
        return status::NotADataFile;
    }
    if (id.kind == Identity::None) {
        // The first control record is lost: its twin, at the place each page size puts it.
        uint8_t other[format::HeadSize] {};
        for (uint32_t size = format::PageSizeUnit;
             size <= format::LargestPageSize && id.kind == Identity::None;
             size += format::PageSizeUnit) {
            const uint64_t newerTwin = uint64_t(format::v8::structurePages(size)) * size;
            for (uint64_t at : {uint64_t(size), newerTwin}) {
                if (at * 2 > fileSize_ || !source_.readAt(at, other, sizeof other))
                    continue;
                Identity twin = identify(other);
                const bool placed = twin.family == Family::V6
                    ? at == size
                    : newerFormat(twin.family) && at == newerTwin;
                if (twin.kind != Identity::None && twin.family != Family::V5 && placed
                    && twin.pageSize == size) {
                    id = std::move(twin);
                    break;
                }
            }
        }
        if (id.kind == Identity::Refused) {
            reason = std::move(id.reason);
            return status::NotADataFile;
        }
    }

    if (id.kind == Identity::Read && id.family != Family::V5) {
        version_ = id.version;
        if (int16_t s = salvageTabled(request, id.family, id.pageSize, acsPages, fcr, reason))
            return s;
    } else if (id.kind == Identity::Read) {
        setFamily(Family::V5);
        version_ = id.version;
        pageSize_ = id.pageSize;
        filePages_ = uint32_t(fileSize_ / pageSize_);
        std::vector<uint8_t> bytes;
        if (pageSize_ <= format::v5::MaxPageSize && readPhysical(0, bytes) == status::Success) {
            std::string why;
            int16_t s = readHeaderV5(bytes, why);
            if (s == status::Success)
                s = readKeysV5(bytes, acsPages, why);
            if (s == status::NotADataFile) {
                reason = why;
                return s;
            }
            if (s == status::Success) {
                report_.source = SalvageReport::ControlRecord;
                report_.countedRecords = def_.numRecords;
                if (ownerNameRequired())
                    if (int16_t c = salvageCipher(bytes, reason))
                        return c;
                fcr = std::move(bytes);
            }
        }
    }

    if (report_.source != SalvageReport::None) {
        // The pages must agree with the page size the control record gives.
        uint32_t best = pageSize_;
        int64_t bestScore = pageSizeScore(pageSize_, *profile_).value();
        for (uint32_t size = format::PageSizeUnit; size <= format::LargestPageSize;
             size += format::PageSizeUnit) {
            const PageSizeScore score = pageSizeScore(size, *profile_);
            if (score.convincing() && score.value() > bestScore) {
                best = size;
                bestScore = score.value();
            }
        }
        if (best != pageSize_) {
            if (physicalLength_ > best - profile_->dataHeader) {
                reason = "the pages are not of the size the control record gives, and its "
                         "records do not fit the size they are";
                return status::IoError;
            }
            pageSize_ = best;
            def_.pageSize = uint16_t(best);
            slotsPerPage_ = (pageSize_ - profile_->dataHeader) / physicalLength_;
            tables_ = tableGeometry(*profile_, pageSize_);
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
    compressed_ = def_.fileFlags & fileflag::Compressed;
    // The slot: its fixed bytes, then 8 bytes for each key with linked duplicates and each
    // duplicate pointer reserved for a later key.
    uint32_t links = def_.duplicatePointers;
    for (const Key& key : def_.keys)
        links += key.linkedDuplicates() ? 1 : 0;
    std::string why;
    physicalLength_ = 1;
    layOutSlot(why);
    physicalLength_ = linksFrom_ + links * format::DuplicateLinksSize;
    if (layOutSlot(why) != status::Success) {
        reason = "the given definition's records do not fit the file's pages";
        return status::IoError;
    }
    version_ = profile_->family == Family::V6 ? format::v6::MinVersion
                                              : uint16_t(format::v5::MaxVersion - 1) << 8;
    keyValues_.assign(def_.keys.size(), 0);
    duplicateLinks_.assign(def_.keys.size(), 0);
    orders_.resize(def_.keys.size());
    return status::Success;
}

// How well pages of this size and layout make sense: the page headers of a known kind (5.x: that
// carry their own number), and those that are neither that nor zeros. Pages read at half their
// size show garbage every other page, at twice their size half as many headers: the true size
// scores highest. The places of control records and tables, which span several pages in the
// newer format, are not looked at.
LegacyFile::PageSizeScore LegacyFile::pageSizeScore(uint32_t pageSize, const Profile& profile) const
{
    const uint64_t pages = std::min<uint64_t>(fileSize_ / pageSize, ScoredPages);
    const TableGeometry g = tableGeometry(profile, pageSize);
    const uint64_t from = newerFormat(profile.family) ? g.first : 1;
    PageSizeScore score;
    uint8_t header[HeaderBytes];
    for (uint64_t page = from; page < pages; ++page) {
        if (newerFormat(profile.family) && g.tablePlace(page))
            continue;
        if (!source_.readAt(page * pageSize, header, sizeof header))
            break;
        if (allZero(header, format::PageHeaderSize))
            continue;
        const int kind = profile.family != Family::V5     ? knownKind(profile, header)
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
    // Only the older families: the newer format's two sub-layouts look alike page by page, and
    // guessing between them would shift every record.
    for (Family family : {Family::V5, Family::V6}) {
        const Profile& profile = profileOf(family);
        for (uint32_t size = format::PageSizeUnit; size <= format::LargestPageSize;
             size += format::PageSizeUnit) {
            // Most pages must make sense, or the size is only the best that noise allows.
            const PageSizeScore score = pageSizeScore(size, profile);
            if (!score.convincing())
                continue;
            if (!found || score.value() > bestScore
                || (score.value() == bestScore && size == preferred)) {
                found = true;
                bestScore = score.value();
                pageSize_ = size;
                setFamily(family);
            }
        }
    }
    tables_ = tableGeometry(*profile_, pageSize_);
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
        if (!source_.readAt(uint64_t(page) * pageSize_, header, sizeof header))
            break;
        if (namesDataPage(header, page))
            addDataPage(page, page);
        else if (hiLo(header + format::page::Number) != page && !allZero(header, sizeof header))
            ++report_.pagesDamaged;
    }
    if (!fcr.empty() && slotMark_ == SlotMark::FreeChain)
        readFreeChain(hiLo(&fcr[format::v5::FreeChainHead]));
}

void LegacyFile::mapPagesTabled(const std::vector<uint8_t>& fcr)
{
    const Profile& p = *profile_;
    const TableGeometry& g = tables_;
    const uint32_t perTable = g.perTable;
    // Pairs whose place lies inside the file, and the logical pages they can name.
    const uint64_t pairs = filePages_ > g.first ? (filePages_ - g.first - 1) / g.stride + 1 : 0;
    const bool fcrTrusted = !fcr.empty();
    const uint32_t fcrUsage = fcrTrusted ? get32(&fcr[p.stamp]) : 0;
    // A cut file may have lost later pairs whose pages lie before the cut: the control record
    // counts them, and a page that says it is one of them is no less sound. Without a control
    // record to trust, a logical number far beyond what a file of this size holds is damage.
    uint64_t logicalEnd = pairs * perTable + 1;
    if (fcrTrusted)
        logicalEnd = std::max<uint64_t>({logicalEnd, hiLo(&fcr[format::fcr::PageCount]),
            uint64_t(get16(&fcr[p.pairCount])) * perTable + 1});
    else
        logicalEnd = std::max<uint64_t>(logicalEnd, uint64_t(2) * filePages_ + perTable);
    logicalEnd = std::min(logicalEnd, MaxLogicalPages);

    // What the current table of each pair says (physical << 8 | type; covered when a current
    // table speaks of the page at all), and every (logical, physical) any sound copy names.
    std::vector<uint32_t> current(size_t(logicalEnd), 0);
    std::vector<bool> covered(size_t(logicalEnd), false);
    std::vector<uint64_t> named;
    std::vector<uint8_t> one, two;
    for (uint64_t k = 1; k <= pairs; ++k) {
        const uint64_t at = g.pairPage(k);
        const bool okOne = readStructure(at, one) && marksTable(p, one.data(), k);
        const bool okTwo = readStructure(at + g.twin, two) && marksTable(p, two.data(), k);
        const uint32_t usageOne = okOne ? get32(&one[p.stamp]) : 0;
        const uint32_t usageTwo = okTwo ? get32(&two[p.stamp]) : 0;
        for (const auto* copy : {okOne ? &one : nullptr, okTwo ? &two : nullptr}) {
            if (!copy)
                continue;
            for (uint32_t e = 1; e <= perTable; ++e) {
                const TableEntry entry = tableEntry(p, copy->data(), e);
                if (entry.used)
                    named.push_back((uint64_t((k - 1) * perTable + e) << 32) | entry.physical);
            }
        }
        // Of two sound copies the more recent is current (equal counts must say the same); a
        // lone copy only when its count is the control record's.
        const std::vector<uint8_t>* trusted = nullptr;
        uint32_t usage = 0;
        if (okOne && okTwo) {
            if (usageOne != usageTwo)
                trusted = usageOne > usageTwo ? &one : &two;
            else if (std::equal(
                         one.begin() + p.tableEntries, one.end(), two.begin() + p.tableEntries))
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
            const TableEntry entry = tableEntry(p, trusted->data(), e);
            const uint64_t logical = (k - 1) * perTable + e;
            if (logical >= logicalEnd)
                break;
            covered[size_t(logical)] = true;
            if (entry.used && entry.physical < (uint32_t(1) << 24))
                current[size_t(logical)] = entry.physical << 8 | shortType(entry.type);
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
    uint8_t header[HeaderBytes];
    for (uint32_t page = uint32_t(g.first); page < filePages_; ++page) {
        if (g.tablePlace(page))
            continue; // a table's place
        if (!source_.readAt(uint64_t(page) * pageSize_, header, sizeof header))
            break;
        const PageHeader h = pageHeader(p, header);
        if (h.type != pagetype::Data && h.type != pagetype::Variable && h.type != pagetype::Acs)
            continue;
        // Data pages carry the data-page bit in their usage count in every file seen: a page
        // that says "D" without it is not one.
        if (h.number == 0 || h.number >= logicalEnd
            || (h.type == pagetype::Data && !(h.usage & format::page::DataPageBit))) {
            ++report_.pagesDamaged;
            continue;
        }
        sound[page] = true;
        candidates.push_back({h.number << 8 | shortType(h.type), page, h.usage});
    }
    std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) {
        return a.logicalType != b.logicalType ? a.logicalType < b.logicalType : a.usage > b.usage;
    });

    // Pages the current tables name as data or variable pages that are not there.
    bool tailCounted = false;
    for (uint64_t logical = 1; logical < logicalEnd; ++logical) {
        const uint8_t type = uint8_t(current[size_t(logical)]);
        if (type != pagetype::Data && type != pagetype::Variable)
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
        if (type == pagetype::Data)
            data.emplace_back(physical, logical);
    }
    // Step order is physical order.
    std::sort(data.begin(), data.end());
    for (auto [physical, logical] : data)
        addDataPage(physical, logical);
    if (newerFormat(p.family)) {
        addressBits_ = format::v8::MinAddressBits;
        while ((uint64_t(1) << addressBits_) < slotsPerPage_)
            ++addressBits_;
    }
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
        } else if (wholeOnly_ || compressed_) {
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
