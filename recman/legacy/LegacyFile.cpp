#include "LegacyFile.h"

#include "KeyCodec.h"
#include "LittleEndian.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace recman::legacy {

namespace {

using btr::le::get16;
using btr::le::get32;

constexpr uint32_t KeySpecSize = 30;
constexpr uint32_t FirstKeySpecV5 = 0x110;
constexpr uint32_t PageHeaderSize = 6;
// A variable-data page: the page header, then a 4-byte link and a 2-byte fragment count.
constexpr uint32_t VariableHeaderSize = 12;
constexpr uint32_t MaxRecordBytes = 65535;
// No chain of fragments is longer than this many links; a longer one is a loop.
constexpr uint32_t MaxFragments = 65536;
constexpr uint8_t PageData = 'D';
constexpr uint8_t PageVariable = 'V';
constexpr uint8_t PageAcs = 'A';

// Two 16-bit words, high word first.
uint32_t hiLo(const uint8_t* p)
{
    return (uint32_t(get16(p)) << 16) | get16(p + 2);
}

// Page numbers in variable-part pointers, 6.x page headers and allocation entries are three bytes
// scattered as high, low, middle.
uint32_t pageNumber(uint8_t high, uint8_t low, uint8_t middle)
{
    return (uint32_t(high) << 16) | (uint32_t(middle) << 8) | low;
}

// The 6.x header of a page: byte 0 high byte of the logical number, byte 1 type, 2-3 low/middle.
bool headerNames(const uint8_t* page, uint32_t logical, uint8_t type)
{
    return page[1] == type && pageNumber(page[0], page[2], page[3]) == logical;
}

bool isEndOfChain(const uint8_t* pointer)
{
    return pointer[0] == 0xFF && pointer[1] == 0xFF && pointer[2] == 0xFF && pointer[3] == 0xFF;
}

// The file system side, kept small so that another platform only replaces these.
int openReadOnly(const std::string& path)
{
#ifdef O_NOATIME
    // Reading a user's file must not even change its access time; only the owner may ask that.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOATIME);
    if (fd >= 0 || errno != EPERM)
        return fd;
#endif
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
}

bool readAt(int fd, uint64_t offset, uint8_t* out, size_t length)
{
    while (length > 0) {
        ssize_t got = ::pread(fd, out, length, off_t(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        out += got;
        offset += uint64_t(got);
        length -= size_t(got);
    }
    return true;
}

// File flags of variants the reader does not read: 30 with the reason, or 0.
int16_t refuseUnsupported(uint16_t flags, std::string& reason)
{
    if (flags & fileflag::Compressed) {
        reason = "compressed records are not read";
        return status::NotADataFile;
    }
    if (flags & fileflag::UseVats) {
        reason = "variable-tail allocation tables are not read";
        return status::NotADataFile;
    }
    if (flags & fileflag::KeyOnly) {
        reason = "key-only files keep their records in the index and are not read";
        return status::NotADataFile;
    }
    return status::Success;
}

enum class Layout { None, V5, V6 };

// The first bytes of the file tell its layout: 6.x control records begin "FC", 5.x ones with
// four zero bytes and a version byte of 3 to 5; both give a page size in 512-byte steps.
Layout layoutOf(const uint8_t* head)
{
    uint32_t pageSize = get16(head + 0x08);
    if (pageSize < 512 || pageSize % 512 != 0)
        return Layout::None;
    if (head[0] == 'F' && head[1] == 'C')
        return Layout::V6;
    if (get32(head) == 0 && head[7] >= 3 && head[7] <= 5)
        return Layout::V5;
    return Layout::None;
}

constexpr size_t HeadSize = 0x80;

} // namespace

bool LegacyFile::carriesControlRecord(const std::string& path)
{
    int fd = openReadOnly(path);
    if (fd < 0)
        return false;
    uint8_t head[HeadSize] {};
    bool found = readAt(fd, 0, head, sizeof head) && layoutOf(head) != Layout::None;
    ::close(fd);
    return found;
}

size_t KeyIndex::memoryUse() const
{
    return keys_.capacity() + entries_.capacity() * sizeof(Entry);
}

LegacyFile::~LegacyFile()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::unique_ptr<LegacyFile> LegacyFile::open(
    const std::string& path, int16_t& status, std::string& reason)
{
    std::unique_ptr<LegacyFile> file(new LegacyFile);
    file->fd_ = openReadOnly(path);
    if (file->fd_ < 0) {
        status = errno == EACCES                  ? status::AccessDenied
            : errno == ENOENT || errno == ENOTDIR ? status::FileNotFound
                                                  : status::IoError;
        reason = std::string("cannot open the file: ") + std::strerror(errno);
        return nullptr;
    }
    struct stat info
    {
    };
    if (::fstat(file->fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
        status = status::FileNotFound;
        reason = "not a regular file";
        return nullptr;
    }
    file->fileSize_ = uint64_t(info.st_size);
    status = file->parse(reason);
    if (status != status::Success)
        return nullptr;
    file->cache_.resize(size_t(CachedPages) * file->pageSize_);
    std::fill(std::begin(file->cachedPage_), std::end(file->cachedPage_), UINT32_MAX);
    return file;
}

int16_t LegacyFile::readPhysical(uint32_t page, std::vector<uint8_t>& buffer)
{
    buffer.resize(pageSize_);
    if (page >= filePages_ || !readAt(fd_, uint64_t(page) * pageSize_, buffer.data(), pageSize_))
        return status::IoError;
    return status::Success;
}

const uint8_t* LegacyFile::loadPage(uint32_t physicalPage, int16_t& status)
{
    status = status::Success;
    uint32_t place = physicalPage % CachedPages;
    uint8_t* page = cache_.data() + size_t(place) * pageSize_;
    if (cachedPage_[place] == physicalPage)
        return page;
    cachedPage_[place] = UINT32_MAX;
    if (physicalPage >= filePages_
        || !readAt(fd_, uint64_t(physicalPage) * pageSize_, page, pageSize_)) {
        status = status::IoError;
        return nullptr;
    }
    cachedPage_[place] = physicalPage;
    return page;
}

int16_t LegacyFile::parse(std::string& reason)
{
    uint8_t head[HeadSize] {};
    if (fileSize_ < 512 || !readAt(fd_, 0, head, sizeof head)) {
        reason = "too short for a control record";
        return status::NotADataFile;
    }
    if (fileSize_ > UINT32_MAX) {
        // Record positions are 32-bit byte offsets.
        reason = "larger than 4 GiB";
        return status::IoError;
    }
    pageSize_ = get16(head + 0x08);
    switch (layoutOf(head)) {
    case Layout::V6:
        return parseV6(reason);
    case Layout::V5:
        return parseV5(reason);
    case Layout::None:
        break;
    }
    reason = "no control record of version 5 or 6";
    return status::NotADataFile;
}

int16_t LegacyFile::parseV5(std::string& reason)
{
    if (pageSize_ > 4096) {
        reason = "page size beyond what version 5 files use";
        return status::NotADataFile;
    }
    filePages_ = uint32_t(fileSize_ / pageSize_);
    std::vector<uint8_t> fcr;
    if (readPhysical(0, fcr) != status::Success) {
        reason = "the control record is cut short";
        return status::IoError;
    }
    version_ = uint16_t(fcr[7] << 8);
    uint16_t flags = get16(&fcr[0x106]);
    if (const int16_t refused = refuseUnsupported(flags, reason))
        return refused;
    bool variable = (flags & fileflag::VariableLength) || fcr[0x38] == 0xFF || fcr[0x38] == 0xFD;
    bool truncation = (flags & fileflag::BlankTruncation) || fcr[0x38] == 0xFD;
    def_.fileFlags = uint16_t(flags | (variable ? fileflag::VariableLength : 0)
        | (truncation ? fileflag::BlankTruncation : 0));
    def_.pageSize = uint16_t(pageSize_);
    def_.recordLength = get16(&fcr[0x16]);
    def_.numRecords = hiLo(&fcr[0x1A]);
    physicalLength_ = get16(&fcr[0x18]);
    recordOffset_ = 0;
    uint32_t pageCount = hiLo(&fcr[0x26]);
    if (pageCount == 0 || pageCount > filePages_) {
        reason = "the control record counts more pages than the file holds";
        return status::IoError;
    }
    filePages_ = pageCount;

    uint16_t keyCount = get16(&fcr[0x14]);
    if (keyCount > MaxKeys) {
        reason = "more keys than a file can have";
        return status::IoError;
    }
    std::vector<uint32_t> firstSpecs(keyCount, 0);
    std::vector<uint32_t> acsPages;
    if (int16_t s = readKeySpecs(fcr.data(), firstSpecs, false, acsPages, reason))
        return s;
    if (int16_t s = loadAcsBlocks(acsPages, reason))
        return s;

    // Data pages carry their own number and bit 0x8000 in their usage count; every other page
    // (index, variable data, collating sequence, free) is passed over.
    uint8_t header[PageHeaderSize];
    for (uint32_t page = 1; page < filePages_; ++page) {
        if (!readAt(fd_, uint64_t(page) * pageSize_, header, sizeof header)) {
            reason = "a page cannot be read";
            return status::IoError;
        }
        if ((get16(header + 4) & 0x8000) && hiLo(header) == page)
            addDataPage(page, page);
    }
    readFreeChain(hiLo(&fcr[0x10]));
    return status::Success;
}

// Deleted records are chained from the control record through the first four bytes of each
// freed slot; a chain that leaves the data pages, or loops, is not trusted.
void LegacyFile::readFreeChain(uint32_t head)
{
    const uint64_t slots = uint64_t(dataPages_.size()) * slotsPerPage_;
    freeSlots_.assign(size_t(slots), false);
    uint32_t link = head;
    for (uint64_t count = 0; link != UINT32_MAX && link != 0; ++count) {
        uint32_t ordinal = 0;
        uint8_t next[4];
        if (count >= slots || !slotOfAddress(link, ordinal) || freeSlots_[ordinal]
            || !readAt(fd_, link, next, sizeof next)) {
            freeSlots_.clear();
            return;
        }
        freeSlots_[ordinal] = true;
        link = hiLo(next);
    }
    freeChainRead_ = true;
}

int16_t LegacyFile::parseV6(std::string& reason)
{
    filePages_ = uint32_t(fileSize_ / pageSize_);
    if (filePages_ < 4) {
        reason = "shorter than its control records and page allocation tables";
        return status::IoError;
    }
    // Two copies of the control record and of the allocation table: the one with the higher
    // usage count is current, the other a shadow left from before the last change.
    auto pickCurrent = [this](uint32_t first, uint8_t a, uint8_t b, std::vector<uint8_t>& out) {
        std::vector<uint8_t> one, two;
        bool okOne = readPhysical(first, one) == status::Success && one[0] == a && one[1] == b;
        bool okTwo = readPhysical(first + 1, two) == status::Success && two[0] == a && two[1] == b;
        if (okOne && (!okTwo || get32(&one[4]) >= get32(&two[4])))
            out = std::move(one);
        else if (okTwo)
            out = std::move(two);
        return okOne || okTwo;
    };
    std::vector<uint8_t> fcr;
    if (!pickCurrent(0, 'F', 'C', fcr) || get16(&fcr[0x08]) != pageSize_) {
        reason = "no readable control record";
        return status::IoError;
    }
    version_ = get16(&fcr[0x4A]);
    if (version_ >= 0x0700) {
        reason = "version 7 or later files are not read";
        return status::NotADataFile;
    }
    if (version_ < 0x0600) {
        reason = "no control record of version 5 or 6";
        return status::NotADataFile;
    }
    uint16_t flags = get16(&fcr[0x106]);
    if (const int16_t refused = refuseUnsupported(flags, reason))
        return refused;
    v6_ = true;
    def_.fileFlags = flags;
    def_.pageSize = uint16_t(pageSize_);
    def_.recordLength = get16(&fcr[0x16]);
    def_.numRecords = hiLo(&fcr[0x1A]);
    physicalLength_ = get16(&fcr[0x18]);
    recordOffset_ = 2; // each record slot begins with its usage count

    std::vector<uint8_t> pat;
    if (!pickCurrent(2, 'P', 'P', pat)) {
        reason = "no readable page allocation table";
        return status::IoError;
    }
    uint32_t entries = (pageSize_ - 8) / 4;
    if (hiLo(&fcr[0x26]) > entries || filePages_ > entries + 4) {
        // Where the tables for the pages beyond the first table lie is not known; guessing
        // would return wrong records.
        reason = "more pages than one page allocation table covers";
        return status::IoError;
    }
    logicalToPhysical_.assign(entries + 1, 0);
    logicalType_.assign(entries + 1, 0);
    std::vector<uint8_t> header(PageHeaderSize);
    for (uint32_t logical = 1; logical <= entries; ++logical) {
        const uint8_t* entry = &pat[8 + 4 * (logical - 1)];
        uint8_t type = entry[1];
        if (type == 0)
            continue; // a free logical page
        uint32_t physical = pageNumber(entry[0], entry[2], entry[3]);
        bool inFile = physical >= 4 && physical < filePages_;
        if (inFile) {
            // Other pages are checked where a pointer leads to them.
            logicalToPhysical_[logical] = physical;
            logicalType_[logical] = type;
        }
        if (type != PageData)
            continue;
        if (!inFile || !readAt(fd_, uint64_t(physical) * pageSize_, header.data(), header.size())
            || !headerNames(header.data(), logical, PageData)) {
            reason = "the page allocation table names a data page that is not there";
            return status::IoError;
        }
        addDataPage(physical, logical);
    }

    uint32_t keyCount = fcr[0x76];
    uint32_t table = get16(&fcr[0x78]);
    if (keyCount > MaxKeys || table + 2 * keyCount > pageSize_) {
        reason = "the key table lies outside the control record";
        return status::IoError;
    }
    std::vector<uint32_t> firstSpecs(keyCount);
    for (uint32_t k = 0; k < keyCount; ++k)
        firstSpecs[k] = get16(&fcr[table + 2 * k]);
    std::vector<uint32_t> acsPages;
    if (int16_t s = readKeySpecs(fcr.data(), firstSpecs, true, acsPages, reason))
        return s;
    if (def_.segmentCount() != fcr[0x77]) {
        reason = "the key specs disagree with the segment count";
        return status::IoError;
    }
    return loadAcsBlocks(acsPages, reason);
}

int16_t LegacyFile::readKeySpecs(const uint8_t* fcr, const std::vector<uint32_t>& firstSpecs,
    bool v6, std::vector<uint32_t>& acsPages, std::string& reason)
{
    uint32_t extra = def_.variableLength() ? 4 : 0;
    if (def_.recordLength < 1 || physicalLength_ < recordOffset_ + def_.recordLength + extra
        || physicalLength_ > pageSize_ - PageHeaderSize) {
        reason = "the record length does not fit the page";
        return status::IoError;
    }
    slotsPerPage_ = (pageSize_ - PageHeaderSize) / physicalLength_;

    uint32_t next = FirstKeySpecV5; // 5.x: the keys' specs follow one another
    int segments = 0;
    for (size_t k = 0; k < firstSpecs.size(); ++k) {
        uint32_t offset = v6 ? firstSpecs[k] : next;
        Key key;
        key.number = int(k);
        uint32_t uniqueValues = 0;
        for (;;) {
            if (offset < FirstKeySpecV5 || offset + KeySpecSize > pageSize_
                || ++segments > MaxKeys) {
                reason = "the key specs run outside the control record";
                return status::IoError;
            }
            const uint8_t* spec = fcr + offset;
            Segment segment;
            segment.flags = get16(spec + 0x08);
            uint32_t stored = get16(spec + 0x14);
            // 6.x positions count the record's 2-byte usage prefix; 5.x positions are 0-based.
            if (v6 && stored < 2) {
                reason = "a key segment lies before the record";
                return status::IoError;
            }
            uint32_t position = v6 ? stored - 1 : stored + 1;
            segment.length = get16(spec + 0x16);
            if (segment.length == 0 || position + segment.length - 1 > def_.recordLength) {
                reason = "a key segment lies outside the record";
                return status::IoError;
            }
            segment.position = uint16_t(position);
            segment.extType = spec[0x1C];
            segment.nullValue = spec[0x1D];
            if (key.segments.empty()) {
                uniqueValues = hiLo(spec + 0x04);
                // Linked duplicates: 8 bytes after the record's data, the previous and the next
                // record of the same value (each a hi/lo address; all 0xFF for none).
                uint32_t links = get16(spec + 0x12);
                bool linked = (segment.flags & keyflag::Duplicates)
                    && !(segment.flags & keyflag::RepeatingDuplicates);
                duplicateLinks_.push_back(linked && links >= recordOffset_ + def_.recordLength
                            && links + 8 <= physicalLength_
                        ? links
                        : 0);
            }
            if (segment.flags & keyflag::Acs) {
                // 6.1 files name each segment's sequence by its page; older files have one.
                uint32_t page = v6 ? pageNumber(spec[0x19], spec[0x1A], spec[0x1B]) : 1;
                auto found = std::find(acsPages.begin(), acsPages.end(), page);
                segment.acsNumber = uint8_t(found - acsPages.begin());
                if (found == acsPages.end())
                    acsPages.push_back(page);
            }
            key.segments.push_back(segment);
            offset += KeySpecSize;
            if (!(segment.flags & keyflag::Segmented))
                break;
        }
        if (key.totalLength() > MaxKeyLength) {
            reason = "a key is longer than 255 bytes";
            return status::IoError;
        }
        for (Segment& segment : key.segments)
            segment.numKeyValues = uniqueValues;
        keyValues_.push_back(uniqueValues);
        def_.keys.push_back(std::move(key));
        next = offset;
    }
    indexes_.resize(def_.keys.size());
    return status::Success;
}

int16_t LegacyFile::loadAcsBlocks(const std::vector<uint32_t>& acsPages, std::string& reason)
{
    std::vector<uint8_t> page;
    for (uint32_t logical : acsPages) {
        bool found = false;
        if (!v6_) {
            static const uint8_t signature[] = {0, 0, 1, 0, 0, 0, 0xAC};
            found = readPhysical(1, page) == status::Success
                && std::equal(std::begin(signature), std::end(signature), page.begin());
        } else {
            if (logical == 0) {
                // A file of one sequence may name no page in its key specs: take its only one.
                for (uint32_t l = 1; l < logicalType_.size() && logical == 0; ++l)
                    if (logicalType_[l] == PageAcs)
                        logical = l;
            }
            found = logical != 0 && logical < logicalType_.size()
                && logicalType_[logical] == PageAcs
                && readPhysical(logicalToPhysical_[logical], page) == status::Success
                && headerNames(page.data(), logical, PageAcs) && page[6] == 0xAC;
        }
        if (!found) {
            reason = "a key's collating sequence is missing";
            return status::IoError;
        }
        AcsBlockDef block;
        std::copy_n(page.begin() + PageHeaderSize, AcsBlockSize, block.bytes.begin());
        def_.acsBlocks.push_back(block);
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

// The slot a record address names, as an ordinal over all slots in step order.
bool LegacyFile::slotOfAddress(uint32_t address, uint32_t& ordinal) const
{
    uint32_t page = address / pageSize_;
    uint32_t offset = address % pageSize_;
    if (page >= dataPageOf_.size() || dataPageOf_[page] == UINT32_MAX || offset < PageHeaderSize
        || (offset - PageHeaderSize) % physicalLength_ != 0)
        return false;
    uint32_t slot = (offset - PageHeaderSize) / physicalLength_;
    if (slot >= slotsPerPage_)
        return false;
    ordinal = dataPageOf_[page] * slotsPerPage_ + slot;
    return true;
}

// Records of equal value come in the order of the file's duplicate chain (the order they were
// added), which differs from page order once freed slots have been reused. A run whose chain
// does not link exactly its own records, head to tail, keeps page order.
void LegacyFile::orderDuplicates(KeyIndex& index, const std::vector<uint32_t>& nextOf) const
{
    auto& entries = index.entries_;
    const uint8_t* keys = index.keys_.data();
    auto same = [keys](const KeyIndex::Entry& a, const KeyIndex::Entry& b) {
        return a.length == b.length && std::memcmp(keys + a.offset, keys + b.offset, a.length) == 0;
    };
    auto ordinalOf
        = [this](const KeyIndex::Entry& e) { return e.dataPage * slotsPerPage_ + e.slot; };
    std::vector<std::pair<uint32_t, uint32_t>> members; // (slot ordinal, place in the run)
    std::vector<int64_t> successor;
    std::vector<uint8_t> targeted;
    std::vector<KeyIndex::Entry> ordered;
    for (size_t begin = 0, end = 0; begin < entries.size(); begin = end) {
        for (end = begin + 1; end < entries.size() && same(entries[begin], entries[end]); ++end) { }
        size_t n = end - begin;
        if (n < 2)
            continue;
        members.clear();
        for (size_t i = 0; i < n; ++i)
            members.push_back({ordinalOf(entries[begin + i]), uint32_t(i)});
        std::sort(members.begin(), members.end());
        successor.assign(n, -1);
        targeted.assign(n, 0);
        bool chained = true;
        for (size_t i = 0; i < n && chained; ++i) {
            uint32_t next = nextOf[ordinalOf(entries[begin + i])];
            uint32_t ordinal = 0;
            if (next == UINT32_MAX || !slotOfAddress(next, ordinal))
                continue;
            auto found = std::lower_bound(
                members.begin(), members.end(), std::pair<uint32_t, uint32_t> {ordinal, 0});
            if (found == members.end() || found->first != ordinal)
                continue;
            successor[i] = found->second;
            chained = !targeted[found->second];
            targeted[found->second] = 1;
        }
        if (!chained || std::count(targeted.begin(), targeted.end(), 0) != 1)
            continue;
        ordered.clear();
        int64_t at = std::find(targeted.begin(), targeted.end(), 0) - targeted.begin();
        for (; at >= 0 && ordered.size() < n; at = successor[size_t(at)])
            ordered.push_back(entries[begin + size_t(at)]);
        if (ordered.size() == n && at < 0)
            std::copy(ordered.begin(), ordered.end(), entries.begin() + long(begin));
    }
}

bool LegacyFile::slotInUse(const uint8_t* slot, uint32_t ordinal) const
{
    if (v6_)
        return get16(slot) != 0;
    if (freeChainRead_ && freeSlots_[ordinal])
        return false;
    auto nonZero = [](uint8_t b) { return b != 0; };
    if (physicalLength_ <= 4)
        return std::any_of(slot, slot + physicalLength_, nonZero);
    if (std::any_of(slot + 4, slot + physicalLength_, nonZero))
        return true;
    // Zeros after the first four bytes: a freed slot, whose first four bytes link to the next
    // freed slot (or end the chain), unless those bytes cannot be such a link.
    uint32_t link = hiLo(slot);
    if (link == 0 || link == UINT32_MAX)
        return false;
    uint32_t page = link / pageSize_;
    uint32_t offset = link % pageSize_;
    bool linkLike = page >= 1 && page < filePages_ && offset >= PageHeaderSize
        && (offset - PageHeaderSize) % physicalLength_ == 0
        && (offset - PageHeaderSize) / physicalLength_ < slotsPerPage_;
    return !linkLike;
}

int16_t LegacyFile::slotOf(Locator loc, const uint8_t*& slot)
{
    uint64_t dataPage = loc >> 16;
    uint32_t index = uint32_t(loc & 0xFFFF);
    if (dataPage >= dataPages_.size() || index >= slotsPerPage_)
        return status::IoError;
    int16_t s = status::Success;
    const uint8_t* page = loadPage(dataPages_[dataPage], s);
    if (!page)
        return s;
    slot = page + PageHeaderSize + index * physicalLength_;
    return status::Success;
}

int16_t LegacyFile::seekUsed(uint32_t dataPage, uint32_t slot, Locator& loc)
{
    for (; dataPage < dataPages_.size(); ++dataPage, slot = 0) {
        int16_t s = status::Success;
        const uint8_t* page = loadPage(dataPages_[dataPage], s);
        if (!page)
            return s;
        for (; slot < slotsPerPage_; ++slot) {
            if (slotInUse(page + PageHeaderSize + slot * physicalLength_,
                    dataPage * slotsPerPage_ + slot)) {
                loc = makeLocator(dataPage, slot);
                return status::Success;
            }
        }
    }
    return status::EndOfFile;
}

int16_t LegacyFile::stepFirst(Locator& loc)
{
    return seekUsed(0, 0, loc);
}

int16_t LegacyFile::stepNext(Locator& loc)
{
    return seekUsed(uint32_t(loc >> 16), uint32_t(loc & 0xFFFF) + 1, loc);
}

uint32_t LegacyFile::position(Locator loc) const
{
    uint64_t dataPage = loc >> 16;
    if (dataPage >= dataPages_.size())
        return 0;
    return uint32_t(uint64_t(addressPages_[dataPage]) * pageSize_ + PageHeaderSize
        + (loc & 0xFFFF) * physicalLength_);
}

int16_t LegacyFile::readFixedPart(Locator loc, std::vector<uint8_t>& out)
{
    const uint8_t* slot = nullptr;
    if (int16_t s = slotOf(loc, slot))
        return s;
    out.assign(slot + recordOffset_, slot + recordOffset_ + def_.recordLength);
    return status::Success;
}

int16_t LegacyFile::readRecord(Locator loc, std::vector<uint8_t>& out)
{
    const uint8_t* slot = nullptr;
    if (int16_t s = slotOf(loc, slot))
        return s;
    const uint8_t* data = slot + recordOffset_;
    out.assign(data, data + def_.recordLength);
    if (!def_.variableLength())
        return status::Success;
    uint8_t pointer[4];
    std::copy_n(data + def_.recordLength, 4, pointer);
    return appendVariablePart(pointer, out);
}

int16_t LegacyFile::variablePage(uint32_t page, uint32_t& physical) const
{
    if (v6_) {
        if (page == 0 || page >= logicalType_.size() || logicalType_[page] != PageVariable)
            return status::IoError;
        physical = logicalToPhysical_[page];
    } else {
        if (page == 0 || page >= filePages_)
            return status::IoError;
        physical = page;
    }
    return status::Success;
}

int16_t LegacyFile::appendVariablePart(const uint8_t pointer[4], std::vector<uint8_t>& out)
{
    uint8_t link[4];
    std::copy_n(pointer, 4, link);
    for (uint32_t fragments = 0; !isEndOfChain(link); ++fragments) {
        uint32_t pageNo = pageNumber(link[0], link[1], link[2]);
        uint32_t physical = 0;
        if (fragments >= MaxFragments || variablePage(pageNo, physical) != status::Success)
            return status::IoError;
        int16_t s = status::Success;
        const uint8_t* page = loadPage(physical, s);
        if (!page)
            return s;
        if (v6_ ? !headerNames(page, pageNo, PageVariable)
                : (hiLo(page) != pageNo || (get16(page + 4) & 0x8000)))
            return status::IoError;

        // The fragment table grows backward from the page's end; a fragment ends where the next
        // used entry's fragment (or the free space) begins.
        uint32_t index = link[3];
        uint32_t entryAt = pageSize_ - 2 - 2 * index;
        uint16_t entry = get16(page + entryAt);
        uint32_t begin = entry & 0x7FFF;
        if (begin < VariableHeaderSize || begin >= entryAt)
            return status::IoError;
        uint32_t end = 0;
        for (uint32_t next = entryAt - 2; next >= begin; next -= 2) {
            if (uint16_t value = get16(page + next)) {
                end = value & 0x7FFF;
                if (end <= begin || end > next)
                    return status::IoError;
                break;
            }
        }
        if (end == 0)
            return status::IoError;
        // 6.x fragments all begin with the link to the next one; 5.x ones only when flagged.
        uint8_t following[4] = {0xFF, 0xFF, 0xFF, 0xFF};
        if (v6_ || (entry & 0x8000)) {
            if (end - begin < 4)
                return status::IoError;
            std::copy_n(page + begin, 4, following);
            begin += 4;
        }
        if (out.size() + (end - begin) > MaxRecordBytes)
            return status::IoError;
        out.insert(out.end(), page + begin, page + end);
        std::copy_n(following, 4, link);
    }
    return status::Success;
}

const KeyIndex* LegacyFile::keyIndex(int keyIndex, int16_t& status)
{
    if (keyIndex < 0 || size_t(keyIndex) >= def_.keys.size()) {
        status = status::InvalidKeyNumber;
        return nullptr;
    }
    status = status::Success;
    if (indexes_[size_t(keyIndex)])
        return indexes_[size_t(keyIndex)].get();

    auto index = std::make_unique<KeyIndex>();
    KeyCodec codec(def_.keys[size_t(keyIndex)], def_.acsBlocks);
    uint64_t slots = uint64_t(dataPages_.size()) * slotsPerPage_;
    index->entries_.reserve(size_t(std::min<uint64_t>(def_.numRecords, slots)));
    std::vector<uint8_t> encoded;
    const uint32_t links = duplicateLinks_[size_t(keyIndex)];
    std::vector<uint32_t> nextOf(links ? size_t(slots) : 0, UINT32_MAX);
    for (uint32_t dataPage = 0; dataPage < dataPages_.size(); ++dataPage) {
        const uint8_t* page = loadPage(dataPages_[dataPage], status);
        if (!page)
            return nullptr;
        for (uint32_t slot = 0; slot < slotsPerPage_; ++slot) {
            const uint8_t* record = page + PageHeaderSize + slot * physicalLength_;
            if (!slotInUse(record, dataPage * slotsPerPage_ + slot)
                || !codec.encode(record + recordOffset_, def_.recordLength, encoded))
                continue;
            if (index->keys_.size() + encoded.size() > UINT32_MAX || encoded.size() > UINT16_MAX) {
                status = status::IoError;
                return nullptr;
            }
            index->entries_.push_back({uint32_t(index->keys_.size()), dataPage, uint16_t(slot),
                uint16_t(encoded.size())});
            index->keys_.insert(index->keys_.end(), encoded.begin(), encoded.end());
            if (links)
                nextOf[size_t(dataPage) * slotsPerPage_ + slot] = hiLo(record + links + 4);
        }
    }
    const uint8_t* keys = index->keys_.data();
    std::sort(index->entries_.begin(), index->entries_.end(),
        [keys](const KeyIndex::Entry& a, const KeyIndex::Entry& b) {
            int c = std::memcmp(keys + a.offset, keys + b.offset, std::min(a.length, b.length));
            if (c != 0)
                return c < 0;
            if (a.length != b.length)
                return a.length < b.length;
            // Equal keys in step order.
            return a.dataPage != b.dataPage ? a.dataPage < b.dataPage : a.slot < b.slot;
        });
    if (links)
        orderDuplicates(*index, nextOf);
    index->entries_.shrink_to_fit();
    index->keys_.shrink_to_fit();
    indexes_[size_t(keyIndex)] = std::move(index);
    return indexes_[size_t(keyIndex)].get();
}

} // namespace recman::legacy
