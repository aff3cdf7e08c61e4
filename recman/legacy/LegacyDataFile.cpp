#include "LegacyDataFile.h"

#include "KeyOrder.h"
#include "LittleEndian.h"
#include "Reason.h"

#include <algorithm>
#include <cstring>

namespace recman::legacy {

namespace {

class LegacyCursor : public Cursor
{
public:
    Locator current = 0;
    size_t ordinal = 0; // place in the key order of `keyIndex`
};

} // namespace

LegacyDataFile::LegacyDataFile(std::unique_ptr<LegacyFile> file)
    : file_(std::move(file))
{
    for (const Key& key : file_->definition().keys)
        codecs_.push_back(std::make_unique<KeyCodec>(key, file_->definition().acsBlocks));
}

int16_t LegacyDataFile::liveFigures(LiveFigures& out)
{
    // Nothing changes the file while we read it: the control record's figures are the live ones.
    out.records = file_->recordCount();
    out.keyValues = file_->keyValues();
    out.unusedPages = 0;
    return status::Success;
}

FormatFacts LegacyDataFile::formatFacts() const
{
    namespace fx = btr::facts;
    const legacy::FileFacts f = file_->facts();
    FormatFacts out;
    switch (f.family) {
    case Family::V5:
        out.family = fx::V5;
        break;
    case Family::V6:
        out.family = fx::V6;
        break;
    case Family::V8:
        out.family = fx::V8;
        break;
    case Family::V95:
        out.family = fx::V95;
        break;
    }
    out.version = f.version;
    out.ownerMode = f.ownerName ? f.ownerMode : fx::NoOwner;
    out.cipher = uint8_t(f.cipher);
    out.features = uint16_t((f.compressed ? fx::Compressed : 0) | (f.ownerName ? fx::OwnerName : 0)
        | (f.cipher != Cipher::None ? fx::Encrypted : 0) | (f.systemData ? fx::SystemData : 0)
        | (f.variableTail ? fx::VariableTail : 0)
        | (file_->definition().variableLength() ? fx::VariableLength : 0));
    return out;
}

std::unique_ptr<Cursor> LegacyDataFile::newCursor()
{
    return std::make_unique<LegacyCursor>();
}

int16_t LegacyDataFile::insert(Cursor&, uint8_t*, uint16_t, int, uint8_t*)
{
    // The file belongs to the vendor's engine and is only read here.
    return status::OperationNotAllowed;
}

int16_t LegacyDataFile::deliver(Locator loc, int keyIndex, ReadTarget& target)
{
    bool whole = true;
    if (int16_t s = file_->salvaging() ? file_->readRescued(loc, record_, whole)
                                       : file_->readRecord(loc, record_))
        return s;
    target.length = uint16_t(record_.size());
    if (target.data && target.capacity > 0)
        std::memcpy(target.data, record_.data(), std::min<size_t>(record_.size(), target.capacity));
    if (keyIndex >= 0 && target.keyValue)
        codecs_[size_t(keyIndex)]->extractValue(record_.data(), record_.size(), target.keyValue);
    return record_.size() > target.capacity ? status::DataBufferTooShort : status::Success;
}

int16_t LegacyDataFile::skipIncomplete(int16_t s, Locator& loc)
{
    if (!file_->salvaging() || (!file_->wholeOnly() && !file_->compressed()))
        return s;
    for (bool whole = false; s == status::Success; s = file_->stepNext(loc)) {
        if (int16_t r = file_->readRescued(loc, record_, whole))
            return r;
        if (whole)
            break;
    }
    return s;
}

int16_t LegacyDataFile::getFirst(Cursor& cursor, int keyIndex, ReadTarget& target)
{
    // A damaged file's indexes are not trusted: salvage reads in physical order only.
    if (file_->salvaging())
        return status::OperationNotAllowed;
    auto& c = static_cast<LegacyCursor&>(cursor);
    int16_t s = status::Success;
    const KeyOrder* order = file_->keyOrder(keyIndex, s);
    if (!order)
        return s;
    if (order->size() == 0) {
        c.keyIndex = -1;
        c.hasCurrent = false;
        return status::EndOfFile;
    }
    if ((s = deliver(order->locator(0), keyIndex, target)) == status::IoError)
        return s;
    c.keyIndex = keyIndex;
    c.ordinal = 0;
    c.current = order->locator(0);
    c.hasCurrent = true;
    return s;
}

int16_t LegacyDataFile::getNext(Cursor& cursor, ReadTarget& target)
{
    if (file_->salvaging())
        return status::OperationNotAllowed;
    auto& c = static_cast<LegacyCursor&>(cursor);
    int16_t s = status::Success;
    const KeyOrder* order = file_->keyOrder(c.keyIndex, s);
    if (!order)
        return s;
    if (c.ordinal + 1 >= order->size())
        return status::EndOfFile;
    if ((s = deliver(order->locator(c.ordinal + 1), c.keyIndex, target)) == status::IoError)
        return s;
    ++c.ordinal;
    c.current = order->locator(c.ordinal);
    c.hasCurrent = true;
    return s;
}

int16_t LegacyDataFile::stepFirst(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<LegacyCursor&>(cursor);
    Locator loc = 0;
    int16_t s = skipIncomplete(file_->stepFirst(loc), loc);
    if (s == status::EndOfFile) {
        c.keyIndex = -1;
        c.hasCurrent = false;
    }
    if (s != status::Success || (s = deliver(loc, -1, target)) == status::IoError)
        return s;
    c.keyIndex = -1;
    c.current = loc;
    c.hasCurrent = true;
    return s;
}

int16_t LegacyDataFile::stepNext(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<LegacyCursor&>(cursor);
    if (!c.hasCurrent)
        return status::InvalidPositioning;
    Locator loc = c.current;
    int16_t s = skipIncomplete(file_->stepNext(loc), loc);
    if (s != status::Success || (s = deliver(loc, -1, target)) == status::IoError)
        return s;
    c.keyIndex = -1;
    c.current = loc;
    return s;
}

int16_t LegacyDataFile::getPosition(const Cursor& cursor, uint32_t& position)
{
    const auto& c = static_cast<const LegacyCursor&>(cursor);
    if (!c.hasCurrent)
        return status::InvalidPositioning;
    position = file_->position(c.current);
    return status::Success;
}

int16_t LegacyDataFile::salvageReport(std::vector<uint8_t>& out)
{
    namespace sv = btr::salvage;
    namespace at = btr::salvage::report;
    if (!file_->salvaging())
        return status::OperationNotAllowed;
    const SalvageReport& r = file_->salvageReport();
    out.assign(sv::ReportSize, 0);
    uint8_t* p = out.data();
    btr::le::put16(p + at::Version, sv::LayoutVersion);
    btr::le::put16(p + at::Size, sv::ReportSize);
    btr::le::put32(p + at::Rescued, r.rescued);
    btr::le::put32(p + at::Partial, r.partial);
    btr::le::put32(p + at::LeftOut, r.leftOut);
    btr::le::put32(p + at::PagesMissing, r.pagesMissing);
    btr::le::put32(p + at::PagesDamaged, r.pagesDamaged);
    btr::le::put32(p + at::PagesAmbiguous, r.pagesAmbiguous);
    btr::le::put32(p + at::StaleCopies, r.staleCopies);
    btr::le::put32(p + at::Untabled, r.untabled);
    btr::le::put32(p + at::CountedRecords, r.countedRecords);
    static_assert(uint8_t(SalvageReport::ControlRecord) == sv::FromControlRecord
        && uint8_t(SalvageReport::Shadow) == sv::FromShadow
        && uint8_t(SalvageReport::Caller) == sv::FromCaller);
    p[at::Source] = uint8_t(r.source);
    p[at::Flags] = uint8_t(
        (r.acsLost ? sv::AcsLost : 0) | (r.pageSizeFromPages ? sv::PageSizeFromPages : 0));
    btr::le::put16(p + at::PageSize, file_->definition().pageSize);
    btr::le::put16(p + at::FileVersion, file_->version());
    return status::Success;
}

} // namespace recman::legacy

namespace recman {

namespace {

// Why a legacy open failed, with the kind of reason its status and the file's first page give.
void explainRefusal(const std::string& path, int16_t status, std::string reason)
{
    uint8_t kind = btr::reason::Other;
    if (status == btr::status::IoError)
        kind = btr::reason::Damaged;
    else if (status == btr::status::NotADataFile)
        kind = legacy::LegacyFile::carriesControlRecord(path) ? btr::reason::NotRead
                                                              : btr::reason::NotADataFile;
    explain(kind, std::move(reason));
}

} // namespace

std::unique_ptr<DataFile> openLegacySalvage(
    const std::string& path, bool wholeOnly, const Definition* given, int16_t& status)
{
    std::string reason;
    legacy::SalvageRequest request;
    request.wholeOnly = wholeOnly;
    request.given = given;
    auto file = legacy::LegacyFile::openSalvage(path, request, status, reason);
    if (!file) {
        explainRefusal(path, status, std::move(reason));
        return nullptr;
    }
    return std::make_unique<legacy::LegacyDataFile>(std::move(file));
}

std::unique_ptr<DataFile> openLegacyFile(const std::string& path, int16_t& status)
{
    std::string reason;
    auto file = legacy::LegacyFile::open(path, status, reason);
    if (!file) {
        explainRefusal(path, status, std::move(reason));
        return nullptr;
    }
    return std::make_unique<legacy::LegacyDataFile>(std::move(file));
}

bool isLegacyFile(const std::string& path)
{
    return legacy::LegacyFile::carriesControlRecord(path);
}

} // namespace recman
