// The control record: which version wrote the file, its owner name and whether its data is
// encrypted, its definition (record length, file flags, the key specs and their collating
// sequences) and where the rest of the file is described.
#include "FileFacts.h"
#include "Format.h"
#include "KeyOrder.h"
#include "LegacyFile.h"

#include <algorithm>

namespace recman::legacy {

using btr::le::get16;
using btr::le::get32;
using format::hiLo;

namespace {

bool oldPageSize(uint32_t size)
{
    return size >= format::PageSizeUnit && size % format::PageSizeUnit == 0;
}

uint8_t factsFamily(Family family)
{
    switch (family) {
    case Family::V5:
        return btr::facts::V5;
    case Family::V6:
        return btr::facts::V6;
    case Family::V8:
        return btr::facts::V8;
    case Family::V95:
        break;
    }
    return btr::facts::V95;
}

// A version word stored negated when an owner name is set.
uint16_t unNegated(uint16_t word, bool& negated)
{
    negated = int16_t(word) < 0;
    return negated ? uint16_t(0 - word) : word;
}

// The newer format's majors as far as a control record of them is recognised (engines up to 13.x
// write 9.5).
constexpr unsigned FirstOldMajor = 6;
constexpr unsigned LastKnownMajor = 15;

const char* const NoControlRecord = "no control record of any version the vendor's engine writes";

} // namespace

std::string LegacyFile::versionName() const
{
    return btr::facts::versionName(factsFamily(profile_->family), version_);
}

// The first bytes tell the family: 5.x control records begin with four zero bytes and a version
// byte of 3 to 5 (negated with an owner name); 6.x and newer ones with "FC", their version word at
// 0x4A (negated with an owner name), the newer format with the control page type where 6.x keeps
// a usage count.
LegacyFile::Identity LegacyFile::identify(const uint8_t* head)
{
    Identity id;
    const uint32_t oldSize = get16(head + format::fcr::PageSize);
    if (head[0] == format::v6::ControlMark[0] && head[1] == format::v6::ControlMark[1]) {
        id.version = unNegated(get16(head + format::v6::Version), id.owner);
        const unsigned major = id.version >> 8;
        if (major < FirstOldMajor || major > LastKnownMajor)
            return id;
        if (major == FirstOldMajor) {
            if (!oldPageSize(oldSize))
                return id;
            id.kind = Identity::Read;
            id.family = Family::V6;
            id.pageSize = oldSize;
            return id;
        }
        const uint32_t newSize = get16(head + format::v8::fcr::PageSize);
        if (major == 7) {
            // Nothing of its layout is known, not even where it keeps its page size.
            if (!oldPageSize(oldSize) && !oldPageSize(newSize))
                return id;
            id.kind = Identity::Refused;
            id.family = Family::V6;
            id.reason = "version 7.x files are not read: no file of that version has been seen";
            return id;
        }
        if (get16(head + format::v8::page::Type) != format::v8::page::TypeControl
            || !oldPageSize(newSize))
            return id;
        id.pageSize = newSize;
        id.family = id.version == format::v8::Version95 ? Family::V95 : Family::V8;
        id.kind = Identity::Refused;
        const std::string name = btr::facts::versionName(factsFamily(id.family), id.version);
        if (id.version > format::v8::Version90 && id.version != format::v8::Version95)
            id.reason = name + " files are not read: only 8.x, 9.0 and 9.5 are known";
        else if (newSize > format::v8::MaxPageSize)
            id.reason = "page size " + std::to_string(newSize)
                + " of the 8.x-9.5 format is not "
                  "read ("
                + name + ")";
        else
            id.kind = Identity::Read;
        return id;
    }
    const uint8_t byte = head[format::v5::VersionByte];
    id.owner = byte >= 0x80;
    const uint8_t version = id.owner ? uint8_t(0 - byte) : byte;
    if (get32(head + format::v5::ZeroBytes) == 0 && version >= format::v5::MinVersion
        && version <= format::v5::MaxVersion && oldPageSize(oldSize)) {
        id.kind = Identity::Read;
        id.family = Family::V5;
        id.version = uint16_t(version << 8);
        id.pageSize = oldSize;
    }
    return id;
}

bool LegacyFile::carriesControlRecord(const std::string& path)
{
    posix::ReadOnlyFile file;
    uint8_t head[format::HeadSize] {};
    return file.open(path) == 0 && file.readAt(0, head, sizeof head)
        && identify(head).kind != Identity::None;
}

int16_t LegacyFile::refuseUnsupported(uint16_t flags, std::string& reason) const
{
    if (flags & fileflag::KeyOnly) {
        reason = "key-only file of " + versionName()
            + ": its records live in the index pages, which are not read";
        return status::NotADataFile;
    }
    if ((flags & fileflag::UseVats) && !newerFormat(profile_->family)) {
        reason = "variable-tail allocation tables in a " + versionName() + " file are not read";
        return status::NotADataFile;
    }
    return status::Success;
}

int16_t LegacyFile::parse(std::string& reason)
{
    uint8_t head[format::HeadSize] {};
    if (fileSize_ < format::MinFileSize || !source_.readAt(0, head, sizeof head)) {
        reason = "too short for a control record";
        return status::NotADataFile;
    }
    if (fileSize_ > format::MaxFileSize) {
        reason = "larger than 4 GiB";
        return status::IoError;
    }
    Identity id = identify(head);
    if (id.kind == Identity::None) {
        reason = NoControlRecord;
        return status::NotADataFile;
    }
    if (id.kind == Identity::Refused) {
        reason = std::move(id.reason);
        return status::NotADataFile;
    }
    pageSize_ = id.pageSize;
    version_ = id.version;
    setFamily(id.family);
    switch (id.family) {
    case Family::V5:
        return parseV5(reason);
    case Family::V6:
        return parseV6(reason);
    case Family::V8:
    case Family::V95:
        break;
    }
    return parseV8(reason);
}

int16_t LegacyFile::readOwner(const std::vector<uint8_t>& fcr, bool negated, std::string& reason)
{
    using namespace format::owner;
    ownerSet_ = negated;
    ownerMode_ = negated ? fcr[AccessMode] : 0;
    if (!negated)
        return status::Success;
    if (ownerMode_ > OthersReadEncrypted) {
        reason = "owner name of access mode " + std::to_string(ownerMode_) + " (" + versionName()
            + "): only modes 0 to 3 are known";
        return status::NotADataFile;
    }
    if (encrypted(ownerMode_) && newerFormat(profile_->family)) {
        reason = "encrypted data in a " + versionName() + " file is not read";
        return status::NotADataFile;
    }
    return status::Success;
}

// Where a record's parts lie in its slot, from the family, the file flags and the lengths read.
int16_t LegacyFile::layOutSlot(std::string& reason)
{
    const Family family = profile_->family;
    const bool variable = def_.variableLength();
    const uint32_t system = systemData_ ? format::v8::slot::SystemDataSize : 0;
    if (compressed_) {
        slotMark_ = SlotMark::Flag;
        pointerAt_ = 0;
        recordOffset_ = 0;
        switch (family) {
        case Family::V5:
            flagAt_ = format::compressed::InUse;
            linksFrom_ = format::compressed::SlotV5;
            break;
        case Family::V6:
            flagAt_ = format::compressed::InUse;
            linksFrom_ = format::compressed::SlotV6;
            break;
        case Family::V8:
        case Family::V95:
            flagAt_ = format::v8::slot::CompressedInUse;
            linksFrom_ = format::v8::slot::CompressedFixed + system;
            break;
        }
    } else {
        switch (family) {
        case Family::V5:
            slotMark_ = SlotMark::FreeChain;
            recordOffset_ = 0;
            break;
        case Family::V6:
            slotMark_ = SlotMark::Prefix;
            recordOffset_ = format::v6::SlotPrefix;
            break;
        case Family::V8:
        case Family::V95:
            slotMark_ = SlotMark::Prefix;
            recordOffset_ = format::v8::slot::UsagePrefix + system;
            break;
        }
        pointerAt_ = recordOffset_ + def_.recordLength;
        tailLengthAt_ = pointerAt_ + profile_->pointerSize;
        linksFrom_ = pointerAt_ + (variable ? profile_->pointerSize : 0)
            + (variableTail_ ? format::v8::slot::TailLengthSize : 0);
    }
    if (def_.recordLength < 1 || physicalLength_ < linksFrom_ || physicalLength_ == 0
        || physicalLength_ > pageSize_ - profile_->dataHeader) {
        reason = compressed_ ? "the record slot does not fit the page"
                             : "the record length does not fit the page";
        return status::IoError;
    }
    slotsPerPage_ = (pageSize_ - profile_->dataHeader) / physicalLength_;
    return status::Success;
}

PageSource::Key LegacyFile::ownerKey(const std::vector<uint8_t>& fcr) const
{
    PageSource::Key key {};
    std::copy_n(fcr.begin() + format::owner::Block, key.size(), key.begin());
    return key;
}

uint64_t LegacyFile::plainBytes() const
{
    // The control record is never encrypted: page 0, and in 6.x both control records.
    return uint64_t(pageSize_) * (profile_->family == Family::V6 ? 2 : 1);
}

// Under the right rule every page carries its own number: a 5.x page its page number, a 6.x
// allocation table its "PP" and pair number (and every page it names, checked as the tables are
// read, its logical number).
LegacyFile::CipherScore LegacyFile::cipherScore(
    Cipher cipher, const PageSource::Key& key, uint32_t pairs) const
{
    CipherScore score;
    uint8_t header[format::PageHeaderSize];
    auto read = [&](uint64_t page) {
        const uint64_t at = page * pageSize_;
        if (!source_.readAt(at, header, sizeof header))
            return false;
        PageSource::decrypt(cipher, key, plainBytes(), pageSize_, at, header, sizeof header);
        return true;
    };
    if (profile_->family == Family::V5) {
        // Every page, read in runs.
        std::vector<uint8_t> run(size_t(RunPages) * pageSize_);
        for (uint32_t first = 1; first < filePages_; first += RunPages) {
            const uint32_t n = std::min<uint32_t>(RunPages, filePages_ - first);
            if (!source_.readAt(uint64_t(first) * pageSize_, run.data(), size_t(n) * pageSize_))
                break;
            for (uint32_t p = 0; p < n; ++p) {
                const uint64_t at = uint64_t(first + p) * pageSize_;
                std::copy_n(run.begin() + long(p) * pageSize_, sizeof header, header);
                PageSource::decrypt(
                    cipher, key, plainBytes(), pageSize_, at, header, sizeof header);
                ++score.looked;
                score.agree += hiLo(header + format::page::Number) == first + p;
            }
        }
        return score;
    }
    const TableGeometry g = tableGeometry(*profile_, pageSize_);
    for (uint64_t k = 1; k <= pairs && g.pairPage(k) + g.twin < filePages_; ++k) {
        for (uint64_t page : {g.pairPage(k), g.pairPage(k) + g.twin}) {
            if (!read(page))
                return score;
            ++score.looked;
            score.agree += marksTable(*profile_, header, k);
        }
    }
    return score;
}

int16_t LegacyFile::chooseCipher(const std::vector<uint8_t>& fcr, std::string& reason)
{
    const PageSource::Key key = ownerKey(fcr);
    const uint32_t pairs = profile_->tables ? get16(&fcr[profile_->pairCount]) : 0;
    // Both rules can agree only where the key's 2-byte words repeat as rule 2 reads them; rule 1
    // is then taken, the one most real files use.
    for (Cipher cipher : {Cipher::Rule1, Cipher::Rule2}) {
        const CipherScore score = cipherScore(cipher, key, pairs);
        if (score.looked > 0 && score.agree == score.looked) {
            source_.decryptWith(cipher, key, plainBytes(), pageSize_);
            return status::Success;
        }
    }
    reason = "encrypted data of " + versionName()
        + " that neither known rule decrypts: its pages do not carry their own numbers";
    return status::NotADataFile;
}

int16_t LegacyFile::parseV5(std::string& reason)
{
    if (pageSize_ > format::v5::MaxPageSize) {
        reason = "page size " + std::to_string(pageSize_) + " is beyond what version 5.x files use";
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
    if (ownerNameRequired())
        if (int16_t s = chooseCipher(fcr, reason))
            return s;
    std::vector<uint32_t> acsPages;
    if (int16_t s = readKeysV5(fcr, acsPages, reason))
        return s;
    if (int16_t s = loadAcsBlocks(acsPages, reason))
        return s;
    uint64_t used = 0;
    if (int16_t s = findDataPagesV5(used, reason))
        return s;
    if (slotMark_ == SlotMark::FreeChain) {
        readFreeChain(hiLo(&fcr[format::v5::FreeChainHead]));
        return status::Success;
    }
    // Compressed: the in-use byte tells every record, and they are the ones the file counts.
    if (used != def_.numRecords) {
        reason = "the data pages hold " + std::to_string(used)
            + " records, the control record counts " + std::to_string(def_.numRecords);
        return status::IoError;
    }
    return status::Success;
}

int16_t LegacyFile::readHeaderV5(const std::vector<uint8_t>& fcr, std::string& reason)
{
    using namespace format::v5;
    bool negated = false;
    const uint8_t byte = fcr[VersionByte];
    negated = byte >= 0x80;
    version_ = uint16_t((negated ? uint8_t(0 - byte) : byte) << 8);
    if (const int16_t s = readOwner(fcr, negated, reason))
        return s;
    uint16_t flags = get16(&fcr[format::fcr::FileFlags]);
    if (const int16_t refused = refuseUnsupported(flags, reason))
        return refused;
    const uint8_t marker = fcr[VariableMarker];
    bool variable = (flags & fileflag::VariableLength) || marker == MarkerVariable
        || marker == MarkerTruncated;
    bool truncation = (flags & fileflag::BlankTruncation) || marker == MarkerTruncated;
    def_.fileFlags = uint16_t(flags | (variable ? fileflag::VariableLength : 0)
        | (truncation ? fileflag::BlankTruncation : 0));
    compressed_ = flags & fileflag::Compressed;
    def_.pageSize = uint16_t(pageSize_);
    def_.recordLength
        = get16(&fcr[compressed_ ? CompressedRecordLength : format::fcr::RecordLength]);
    def_.numRecords = hiLo(&fcr[format::fcr::RecordCount]);
    physicalLength_ = get16(&fcr[format::fcr::PhysicalLength]);
    return layOutSlot(reason);
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
    return readKeySpecs(fcr.data(), uint32_t(fcr.size()), firstSpecs, acsPages, reason);
}

int16_t LegacyFile::parseV6(std::string& reason)
{
    using namespace format::v6;
    filePages_ = uint32_t(fileSize_ / pageSize_);
    tables_ = tableGeometry(*profile_, pageSize_);
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
    if (ownerNameRequired())
        if (int16_t s = chooseCipher(fcr, reason))
            return s;
    std::vector<uint64_t> named;
    if (int16_t s = readPageTable(fcr, named, reason))
        return s;
    std::vector<uint32_t> acsPages;
    if (int16_t s = readKeysV6(fcr, acsPages, reason))
        return s;
    uint64_t used = 0;
    if (int16_t s = verifyPages(named, used, reason))
        return s;
    if (used != def_.numRecords) {
        reason = "the data pages hold " + std::to_string(used)
            + " records, the control record counts " + std::to_string(def_.numRecords);
        return status::IoError;
    }
    return loadAcsBlocks(acsPages, reason);
}

int16_t LegacyFile::readHeaderV6(const std::vector<uint8_t>& fcr, std::string& reason)
{
    using namespace format::v6;
    bool negated = false;
    version_ = unNegated(get16(&fcr[Version]), negated);
    if (version_ >= FirstUnreadVersion && version_ < format::v8::MinVersion) {
        reason = "version 7.x files are not read: no file of that version has been seen";
        return status::NotADataFile;
    }
    if (version_ < MinVersion || version_ >= FirstUnreadVersion) {
        reason = NoControlRecord;
        return status::NotADataFile;
    }
    if (const int16_t s = readOwner(fcr, negated, reason))
        return s;
    uint16_t flags = get16(&fcr[format::fcr::FileFlags]);
    if (const int16_t refused = refuseUnsupported(flags, reason))
        return refused;
    def_.fileFlags = flags;
    compressed_ = flags & fileflag::Compressed;
    def_.pageSize = uint16_t(pageSize_);
    def_.recordLength
        = get16(&fcr[compressed_ ? CompressedRecordLength : format::fcr::RecordLength]);
    def_.numRecords = hiLo(&fcr[format::fcr::RecordCount]);
    physicalLength_ = get16(&fcr[format::fcr::PhysicalLength]);
    return layOutSlot(reason);
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
    if (int16_t s = readKeySpecs(fcr.data(), pageSize_, firstSpecs, acsPages, reason))
        return s;
    if (def_.segmentCount() != fcr[SegmentCount]) {
        reason = "the key specs disagree with the segment count";
        return status::IoError;
    }
    return status::Success;
}

int16_t LegacyFile::parseV8(std::string& reason)
{
    namespace v8 = format::v8;
    filePages_ = uint32_t(fileSize_ / pageSize_);
    tables_ = tableGeometry(*profile_, pageSize_);
    if (filePages_ < tables_.first + 2 * tables_.unit) {
        reason = "shorter than its control records and allocation tables";
        return status::IoError;
    }
    // Of the two control records the one with the higher usage count is current.
    std::vector<uint8_t> fcr, other;
    auto sound = [this](const std::vector<uint8_t>& c) {
        return c[0] == v8::fcr::Mark[0] && c[1] == v8::fcr::Mark[1]
            && get16(&c[v8::page::Type]) == v8::page::TypeControl
            && get16(&c[v8::fcr::PageSize]) == pageSize_;
    };
    const bool okOne = readStructure(0, fcr) && sound(fcr);
    const bool okTwo = readStructure(tables_.unit, other) && sound(other);
    if (okTwo && (!okOne || get32(&other[profile_->stamp]) > get32(&fcr[profile_->stamp])))
        fcr.swap(other);
    else if (!okOne) {
        reason = "no readable control record";
        return status::IoError;
    }
    if (const int16_t s = readHeaderV8(fcr, reason))
        return s;
    std::vector<uint64_t> named;
    if (int16_t s = readPageTable(fcr, named, reason))
        return s;
    std::vector<uint32_t> acsPages;
    if (int16_t s = readKeysV8(fcr, acsPages, reason))
        return s;
    uint64_t used = 0;
    if (int16_t s = verifyPages(named, used, reason))
        return s;
    // The count is a 32-bit number at 0x1C in every file seen; were a file to keep a high word at
    // 0x1A instead, its records say so.
    const uint32_t plain = get32(&fcr[v8::fcr::RecordCount]);
    const uint32_t highLow = hiLo(&fcr[v8::fcr::RecordCountHigh]);
    if (used != plain && used != highLow) {
        reason = "the data pages hold " + std::to_string(used)
            + " records, the control record counts " + std::to_string(plain);
        return status::IoError;
    }
    def_.numRecords = uint32_t(used);
    if (int16_t s = loadAcsBlocks(acsPages, reason))
        return s;
    // Record addresses: logical page << b | slot, and every logical page must have one.
    addressBits_ = v8::MinAddressBits;
    while ((uint64_t(1) << addressBits_) < slotsPerPage_)
        ++addressBits_;
    if ((uint64_t(logicalPages_.size()) << addressBits_) > (uint64_t(1) << 32)) {
        reason = "more pages than 32-bit record addresses reach";
        return status::IoError;
    }
    return status::Success;
}

int16_t LegacyFile::readHeaderV8(const std::vector<uint8_t>& fcr, std::string& reason)
{
    namespace v8 = format::v8;
    bool negated = false;
    const uint16_t version = unNegated(get16(&fcr[v8::fcr::Version]), negated);
    // The current control record must be of the sub-layout the file began with.
    const Family family = version == v8::Version95 ? Family::V95 : Family::V8;
    if (version < v8::MinVersion || version > v8::Version95 || family != profile_->family) {
        reason = "the control records disagree on the file's version";
        return status::IoError;
    }
    version_ = version;
    if (const int16_t s = readOwner(fcr, negated, reason))
        return s;
    const uint16_t flags = get16(&fcr[v8::fcr::FileFlags]);
    if (const int16_t refused = refuseUnsupported(flags, reason))
        return refused;
    def_.fileFlags = flags;
    compressed_ = flags & fileflag::Compressed;
    variableTail_ = (flags & v8::VariableTail) && def_.variableLength();
    systemData_ = (flags & v8::SystemDataMask) == v8::SystemData;
    if (compressed_ && variableTail_) {
        reason = "compressed records with variable-tail allocation tables in a " + versionName()
            + " file are not read";
        return status::NotADataFile;
    }
    def_.pageSize = uint16_t(pageSize_);
    def_.recordLength
        = get16(&fcr[compressed_ ? v8::fcr::CompressedRecordLength : v8::fcr::RecordLength]);
    def_.numRecords = get32(&fcr[v8::fcr::RecordCount]);
    physicalLength_ = get16(&fcr[v8::fcr::PhysicalLength]);
    return layOutSlot(reason);
}

int16_t LegacyFile::readKeysV8(
    const std::vector<uint8_t>& fcr, std::vector<uint32_t>& acsPages, std::string& reason)
{
    namespace v8 = format::v8;
    const uint32_t keyCount = get16(&fcr[v8::fcr::KeyCount]);
    const uint32_t table = get16(&fcr[v8::fcr::KeyTable]);
    if (keyCount != get16(&fcr[v8::fcr::KeysAgain])) {
        reason = "the control record gives two different numbers of keys";
        return status::IoError;
    }
    if (keyCount > MaxKeys || table + 2 * keyCount > fcr.size()) {
        reason = "the key table lies outside the control record";
        return status::IoError;
    }
    std::vector<uint32_t> firstSpecs(keyCount);
    for (uint32_t k = 0; k < keyCount; ++k)
        firstSpecs[k] = get16(&fcr[table + 2 * k]);
    if (int16_t s = readKeySpecs(fcr.data(), uint32_t(fcr.size()), firstSpecs, acsPages, reason))
        return s;
    if (uint32_t(def_.segmentCount()) != get16(&fcr[v8::fcr::SegmentCount])) {
        reason = "the key specs disagree with the segment count";
        return status::IoError;
    }
    return status::Success;
}

int16_t LegacyFile::readKeySpecs(const uint8_t* fcr, uint32_t fcrSize,
    const std::vector<uint32_t>& firstSpecs, std::vector<uint32_t>& acsPages, std::string& reason)
{
    using namespace format::keyspec;
    const Family family = profile_->family;
    const uint32_t specSize = profile_->keySpecSize;
    // Positions count from where the record begins in its slot; in compressed files from the
    // decompressed record's first byte.
    const uint32_t base = compressed_ ? 0 : recordOffset_;
    const uint32_t lowest = newerFormat(family) ? 0 : format::v5::FirstKeySpec;
    uint32_t next = format::v5::FirstKeySpec; // 5.x: the keys' specs follow one another
    int segments = 0;
    for (size_t k = 0; k < firstSpecs.size(); ++k) {
        uint32_t offset = family == Family::V5 ? next : firstSpecs[k];
        Key key;
        key.number = int(k);
        uint32_t uniqueValues = 0;
        for (;;) {
            if (offset < lowest || offset + specSize > fcrSize || ++segments > MaxKeys) {
                reason = "the key specs run outside the control record";
                return status::IoError;
            }
            const uint8_t* spec = fcr + offset;
            Segment segment;
            segment.flags = get16(spec + Flags);
            const uint32_t stored = get16(spec + Position);
            if (stored < base) {
                if (systemData_ && stored >= format::v8::slot::UsagePrefix) {
                    reason = "a key on the system data of a " + versionName() + " file is not read";
                    return status::NotADataFile;
                }
                reason = "a key segment lies before the record";
                return status::IoError;
            }
            const uint32_t position = stored - base + 1;
            segment.length = get16(spec + Length);
            if (segment.length == 0 || position + segment.length - 1 > def_.recordLength) {
                reason = "a key segment lies outside the record";
                return status::IoError;
            }
            segment.position = uint16_t(position);
            segment.extType = spec[ExtendedType];
            segment.nullValue = spec[NullValue];
            if (def_.fileFlags & fileflag::KeyNumbersGiven)
                segment.manualKeyNumber = uint8_t(k);
            if (key.segments.empty()) {
                // The newer format keeps no unique-value count where the older one does; its
                // duplicate pointers are not established, so duplicates keep step order there.
                const bool older = !newerFormat(family);
                uniqueValues = older ? hiLo(spec + UniqueValues) : 0;
                // Linked duplicates: the previous and the next record of the same value, after
                // the record's data.
                const uint32_t links = get16(spec + DuplicateLinks);
                const bool linked = older && (segment.flags & keyflag::Duplicates)
                    && !(segment.flags & keyflag::RepeatingDuplicates);
                duplicateLinks_.push_back(linked && links >= linksFrom_
                            && links + format::DuplicateLinksSize <= physicalLength_
                        ? links
                        : 0);
            }
            if (segment.flags & keyflag::Acs) {
                // 5.x files keep one sequence, on page 1; 6.1 files name each segment's sequence
                // by its logical page; newer files are read with their one sequence (page 0 here
                // stands for "the file's only one").
                uint32_t page = 0;
                if (family == Family::V5)
                    page = format::v5::AcsPage;
                else if (family == Family::V6)
                    page = format::pageNumber(
                        spec[AcsPageHigh], spec[AcsPageLow], spec[AcsPageMiddle]);
                auto found = std::find(acsPages.begin(), acsPages.end(), page);
                segment.acsNumber = uint8_t(found - acsPages.begin());
                if (found == acsPages.end())
                    acsPages.push_back(page);
            }
            key.segments.push_back(segment);
            offset += specSize;
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
    compressed_ = variableTail_ = systemData_ = false;
}

int16_t LegacyFile::loadAcsBlocks(const std::vector<uint32_t>& acsPages, std::string& reason)
{
    using pagetype::Acs;
    std::vector<uint8_t> page;
    for (uint32_t logical : acsPages) {
        bool found = false;
        if (profile_->family == Family::V5) {
            const auto& signature = format::v5::AcsPageSignature;
            found = readPhysical(format::v5::AcsPage, page) == status::Success
                && std::equal(std::begin(signature), std::end(signature), page.begin());
        } else {
            // A file of one sequence may name no page in its key specs: take its only one.
            if (logical == 0) {
                uint32_t count = 0;
                logical = firstLogicalOfType(Acs, &count);
                if (count > 1 && newerFormat(profile_->family)) {
                    reason = "several collating sequences in a " + versionName()
                        + " file are not read: which key uses which is not known";
                    return status::NotADataFile;
                }
            }
            uint32_t physical = 0;
            found = mapLogical(logical, Acs, physical)
                && readPhysical(physical, page) == status::Success;
            if (found) {
                const PageHeader h = pageHeader(*profile_, page.data());
                found = h.number == logical && h.type == Acs
                    && page[profile_->acsBlock] == AcsSignature;
            }
        }
        if (!found) {
            reason = "a key's collating sequence is missing";
            return status::IoError;
        }
        AcsBlockDef block;
        std::copy_n(page.begin() + profile_->acsBlock, AcsBlockSize, block.bytes.begin());
        def_.acsBlocks.push_back(block);
    }
    return status::Success;
}

} // namespace recman::legacy
