// The control record: which version wrote the file, its definition (record length, file flags,
// the key specs and their collating sequences) and where the rest of the file is described.
#include "Format.h"
#include "KeyOrder.h"
#include "LegacyFile.h"

#include <algorithm>

namespace recman::legacy {

using btr::le::get16;
using btr::le::get32;
using format::hiLo;

int16_t LegacyFile::refuseUnsupported(uint16_t flags, std::string& reason)
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

// The first bytes of the file tell its layout: 6.x control records begin "FC", 5.x ones with
// four zero bytes and a version byte of 3 to 5; both give a page size in 512-byte steps.
LegacyFile::Layout LegacyFile::layoutOf(const uint8_t* head)
{
    uint32_t pageSize = get16(head + format::fcr::PageSize);
    if (pageSize < format::PageSizeUnit || pageSize % format::PageSizeUnit != 0)
        return Layout::None;
    if (head[0] == format::v6::ControlMark[0] && head[1] == format::v6::ControlMark[1])
        return Layout::V6;
    const uint8_t version = head[format::v5::VersionByte];
    if (get32(head + format::v5::ZeroBytes) == 0 && version >= format::v5::MinVersion
        && version <= format::v5::MaxVersion)
        return Layout::V5;
    return Layout::None;
}

bool LegacyFile::carriesControlRecord(const std::string& path)
{
    posix::ReadOnlyFile file;
    uint8_t head[format::HeadSize] {};
    return file.open(path) == 0 && file.readAt(0, head, sizeof head)
        && layoutOf(head) != Layout::None;
}

int16_t LegacyFile::parse(std::string& reason)
{
    uint8_t head[format::HeadSize] {};
    if (fileSize_ < format::MinFileSize || !file_.readAt(0, head, sizeof head)) {
        reason = "too short for a control record";
        return status::NotADataFile;
    }
    if (fileSize_ > format::MaxFileSize) {
        reason = "larger than 4 GiB";
        return status::IoError;
    }
    pageSize_ = get16(head + format::fcr::PageSize);
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
    if (pageSize_ > format::v5::MaxPageSize) {
        reason = "page size beyond what version 5 files use";
        return status::NotADataFile;
    }
    filePages_ = uint32_t(fileSize_ / pageSize_);
    std::vector<uint8_t> fcr;
    if (readPhysical(0, fcr) != status::Success) {
        reason = "the control record is cut short";
        return status::IoError;
    }
    if (const int16_t s = readHeaderV5(fcr, reason))
        return s;
    uint32_t pageCount = hiLo(&fcr[format::fcr::PageCount]);
    if (pageCount == 0 || pageCount > filePages_) {
        reason = "the control record counts more pages than the file holds";
        return status::IoError;
    }
    filePages_ = pageCount;
    std::vector<uint32_t> acsPages;
    if (int16_t s = readKeysV5(fcr, acsPages, reason))
        return s;
    if (int16_t s = loadAcsBlocks(acsPages, reason))
        return s;
    if (int16_t s = findDataPagesV5(reason))
        return s;
    readFreeChain(hiLo(&fcr[format::v5::FreeChainHead]));
    return status::Success;
}

int16_t LegacyFile::readHeaderV5(const std::vector<uint8_t>& fcr, std::string& reason)
{
    using namespace format::v5;
    version_ = uint16_t(fcr[VersionByte] << 8);
    uint16_t flags = get16(&fcr[format::fcr::FileFlags]);
    if (const int16_t refused = refuseUnsupported(flags, reason))
        return refused;
    const uint8_t marker = fcr[VariableMarker];
    bool variable = (flags & fileflag::VariableLength) || marker == MarkerVariable
        || marker == MarkerTruncated;
    bool truncation = (flags & fileflag::BlankTruncation) || marker == MarkerTruncated;
    def_.fileFlags = uint16_t(flags | (variable ? fileflag::VariableLength : 0)
        | (truncation ? fileflag::BlankTruncation : 0));
    def_.pageSize = uint16_t(pageSize_);
    def_.recordLength = get16(&fcr[format::fcr::RecordLength]);
    def_.numRecords = hiLo(&fcr[format::fcr::RecordCount]);
    physicalLength_ = get16(&fcr[format::fcr::PhysicalLength]);
    recordOffset_ = 0;
    return status::Success;
}

int16_t LegacyFile::readKeysV5(
    const std::vector<uint8_t>& fcr, std::vector<uint32_t>& acsPages, std::string& reason)
{
    uint16_t keyCount = get16(&fcr[format::v5::KeyCount]);
    if (keyCount > MaxKeys) {
        reason = "more keys than a file can have";
        return status::IoError;
    }
    std::vector<uint32_t> firstSpecs(keyCount, 0);
    return readKeySpecs(fcr.data(), firstSpecs, false, acsPages, reason);
}

int16_t LegacyFile::parseV6(std::string& reason)
{
    using namespace format::v6;
    filePages_ = uint32_t(fileSize_ / pageSize_);
    if (filePages_ < FirstPageAfterTables) {
        reason = "shorter than its control records and page allocation tables";
        return status::IoError;
    }
    std::vector<uint8_t> fcr;
    if (!pickCurrent(0, ControlMark, fcr) || get16(&fcr[format::fcr::PageSize]) != pageSize_) {
        reason = "no readable control record";
        return status::IoError;
    }
    if (const int16_t s = readHeaderV6(fcr, reason))
        return s;
    if (int16_t s = readPageTable(fcr, reason))
        return s;
    std::vector<uint32_t> acsPages;
    if (int16_t s = readKeysV6(fcr, acsPages, reason))
        return s;
    if (int16_t s = countRecordsV6(reason))
        return s;
    return loadAcsBlocks(acsPages, reason);
}

int16_t LegacyFile::readHeaderV6(const std::vector<uint8_t>& fcr, std::string& reason)
{
    using namespace format::v6;
    version_ = get16(&fcr[Version]);
    if (version_ >= FirstUnreadVersion) {
        reason = "version 7 or later files are not read";
        return status::NotADataFile;
    }
    if (version_ < MinVersion) {
        reason = "no control record of version 5 or 6";
        return status::NotADataFile;
    }
    uint16_t flags = get16(&fcr[format::fcr::FileFlags]);
    if (const int16_t refused = refuseUnsupported(flags, reason))
        return refused;
    v6_ = true;
    def_.fileFlags = flags;
    def_.pageSize = uint16_t(pageSize_);
    def_.recordLength = get16(&fcr[format::fcr::RecordLength]);
    def_.numRecords = hiLo(&fcr[format::fcr::RecordCount]);
    physicalLength_ = get16(&fcr[format::fcr::PhysicalLength]);
    recordOffset_ = SlotPrefix;
    return status::Success;
}

int16_t LegacyFile::readKeysV6(
    const std::vector<uint8_t>& fcr, std::vector<uint32_t>& acsPages, std::string& reason)
{
    using namespace format::v6;
    uint32_t keyCount = fcr[KeyCount];
    uint32_t table = get16(&fcr[KeyTable]);
    if (keyCount > MaxKeys || table + 2 * keyCount > pageSize_) {
        reason = "the key table lies outside the control record";
        return status::IoError;
    }
    std::vector<uint32_t> firstSpecs(keyCount);
    for (uint32_t k = 0; k < keyCount; ++k)
        firstSpecs[k] = get16(&fcr[table + 2 * k]);
    if (int16_t s = readKeySpecs(fcr.data(), firstSpecs, true, acsPages, reason))
        return s;
    if (def_.segmentCount() != fcr[SegmentCount]) {
        reason = "the key specs disagree with the segment count";
        return status::IoError;
    }
    return status::Success;
}

int16_t LegacyFile::readKeySpecs(const uint8_t* fcr, const std::vector<uint32_t>& firstSpecs,
    bool v6, std::vector<uint32_t>& acsPages, std::string& reason)
{
    using namespace format::keyspec;
    uint32_t extra = def_.variableLength() ? format::VariablePointerSize : 0;
    if (def_.recordLength < 1 || physicalLength_ < recordOffset_ + def_.recordLength + extra
        || physicalLength_ > pageSize_ - format::PageHeaderSize) {
        reason = "the record length does not fit the page";
        return status::IoError;
    }
    slotsPerPage_ = (pageSize_ - format::PageHeaderSize) / physicalLength_;

    uint32_t next = format::v5::FirstKeySpec; // 5.x: the keys' specs follow one another
    int segments = 0;
    for (size_t k = 0; k < firstSpecs.size(); ++k) {
        uint32_t offset = v6 ? firstSpecs[k] : next;
        Key key;
        key.number = int(k);
        uint32_t uniqueValues = 0;
        for (;;) {
            if (offset < format::v5::FirstKeySpec || offset + Size > pageSize_
                || ++segments > MaxKeys) {
                reason = "the key specs run outside the control record";
                return status::IoError;
            }
            const uint8_t* spec = fcr + offset;
            Segment segment;
            segment.flags = get16(spec + Flags);
            uint32_t stored = get16(spec + Position);
            // 6.x positions count the record's 2-byte usage prefix; 5.x positions are 0-based.
            if (v6 && stored < format::v6::SlotPrefix) {
                reason = "a key segment lies before the record";
                return status::IoError;
            }
            uint32_t position = v6 ? stored - 1 : stored + 1;
            segment.length = get16(spec + Length);
            if (segment.length == 0 || position + segment.length - 1 > def_.recordLength) {
                reason = "a key segment lies outside the record";
                return status::IoError;
            }
            segment.position = uint16_t(position);
            segment.extType = spec[ExtendedType];
            segment.nullValue = spec[NullValue];
            if (key.segments.empty()) {
                uniqueValues = hiLo(spec + UniqueValues);
                // Linked duplicates: the previous and the next record of the same value, after
                // the record's data.
                uint32_t links = get16(spec + DuplicateLinks);
                bool linked = (segment.flags & keyflag::Duplicates)
                    && !(segment.flags & keyflag::RepeatingDuplicates);
                duplicateLinks_.push_back(linked && links >= recordOffset_ + def_.recordLength
                            && links + format::DuplicateLinksSize <= physicalLength_
                        ? links
                        : 0);
            }
            if (segment.flags & keyflag::Acs) {
                // 6.1 files name each segment's sequence by its page; older files have one.
                uint32_t page = v6
                    ? format::pageNumber(spec[AcsPageHigh], spec[AcsPageLow], spec[AcsPageMiddle])
                    : format::v5::AcsPage;
                auto found = std::find(acsPages.begin(), acsPages.end(), page);
                segment.acsNumber = uint8_t(found - acsPages.begin());
                if (found == acsPages.end())
                    acsPages.push_back(page);
            }
            key.segments.push_back(segment);
            offset += Size;
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
    orders_.resize(def_.keys.size());
    return status::Success;
}

void LegacyFile::resetDefinition()
{
    def_ = Definition {};
    keyValues_.clear();
    duplicateLinks_.clear();
    orders_.clear();
    v6_ = false;
}

int16_t LegacyFile::loadAcsBlocks(const std::vector<uint32_t>& acsPages, std::string& reason)
{
    using format::page::TypeAcs;
    std::vector<uint8_t> page;
    for (uint32_t logical : acsPages) {
        bool found = false;
        if (!v6_) {
            const auto& signature = format::v5::AcsPageSignature;
            found = readPhysical(format::v5::AcsPage, page) == status::Success
                && std::equal(std::begin(signature), std::end(signature), page.begin());
        } else {
            // A file of one sequence may name no page in its key specs: take its only one.
            if (logical == 0)
                logical = firstLogicalOfType(TypeAcs);
            uint32_t physical = 0;
            found = mapLogical(logical, TypeAcs, physical)
                && readPhysical(physical, page) == status::Success
                && format::headerNames(page.data(), logical, TypeAcs)
                && page[format::AcsBlockOffset] == AcsSignature;
        }
        if (!found) {
            reason = "a key's collating sequence is missing";
            return status::IoError;
        }
        AcsBlockDef block;
        std::copy_n(page.begin() + format::AcsBlockOffset, AcsBlockSize, block.bytes.begin());
        def_.acsBlocks.push_back(block);
    }
    return status::Success;
}

} // namespace recman::legacy
