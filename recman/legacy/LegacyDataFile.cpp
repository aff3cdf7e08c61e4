#include "LegacyDataFile.h"

#include "KeyOrder.h"
#include "LittleEndian.h"
#include "Reason.h"

#include <algorithm>
#include <cstring>

namespace recman::legacy {

class LegacyCursor : public Cursor
{
public:
    size_t ordinal = 0;      // logical position: an entry of the order of `keyIndex`
    bool wholeValue = false; // after a Get Key it stands for every entry of that entry's value
    Locator physical = 0;
    Locator current = 0;
};

namespace {

// Marks kept for the ranks of physical order: at most about this many, whatever the file's size.
constexpr size_t MostPhysicalMarks = 4096;
constexpr uint64_t FirstMarkSpacing = 1;

bool moved(int16_t s)
{
    return s == status::Success || s == status::DataBufferTooShort;
}

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

int16_t LegacyDataFile::deliverEntry(LegacyCursor& c, int keyIndex, const KeyOrder& order,
    size_t ordinal, ReadTarget& target, bool writeKey)
{
    const Locator loc = order.locator(ordinal);
    int16_t s = status::Success;
    if (target.keyOnly) {
        if ((s = file_->readFixedPart(loc, record_)))
            return s;
        if (writeKey && target.keyValue)
            codecs_[size_t(keyIndex)]->extractValue(
                record_.data(), record_.size(), target.keyValue);
        target.length = 0;
        c.hasPhysical = c.hasCurrent = false;
    } else {
        if (!moved(s = deliver(loc, writeKey ? keyIndex : -1, target)))
            return s;
        c.physical = c.current = loc;
        c.hasPhysical = c.hasCurrent = true;
    }
    c.keyIndex = keyIndex;
    c.ordinal = ordinal;
    c.wholeValue = target.keyOnly;
    return s;
}

int16_t LegacyDataFile::deliverRecord(LegacyCursor& c, Locator loc, ReadTarget& target)
{
    const int16_t s = deliver(loc, -1, target);
    if (!moved(s))
        return s;
    c.keyIndex = -1;
    c.wholeValue = false;
    c.physical = c.current = loc;
    c.hasPhysical = c.hasCurrent = true;
    return s;
}

int16_t LegacyDataFile::skipIncomplete(int16_t s, Locator& loc, bool backward)
{
    if (!file_->salvaging() || (!file_->wholeOnly() && !file_->compressed()))
        return s;
    for (bool whole = false; s == status::Success;
         s = backward ? file_->stepPrevious(loc) : file_->stepNext(loc)) {
        if (int16_t r = file_->readRescued(loc, record_, whole))
            return r;
        if (whole)
            break;
    }
    return s;
}

int16_t LegacyDataFile::firstRecord(Locator& loc)
{
    return skipIncomplete(file_->stepFirst(loc), loc, false);
}

int16_t LegacyDataFile::lastRecord(Locator& loc)
{
    return skipIncomplete(file_->stepLast(loc), loc, true);
}

int16_t LegacyDataFile::nextRecord(Locator& loc)
{
    return skipIncomplete(file_->stepNext(loc), loc, false);
}

int16_t LegacyDataFile::previousRecord(Locator& loc)
{
    return skipIncomplete(file_->stepPrevious(loc), loc, true);
}

int16_t LegacyDataFile::liveRecordAt(uint32_t position, Locator& loc)
{
    if (int16_t s = file_->recordAt(position, loc))
        return s;
    if (file_->salvaging() && file_->wholeOnly()) {
        bool whole = false;
        if (int16_t s = file_->readRescued(loc, record_, whole))
            return s;
        if (!whole)
            return status::InvalidRecordAddress;
    }
    return status::Success;
}

const KeyOrder* LegacyDataFile::orderOf(int keyIndex, int16_t& s)
{
    // A damaged file's indexes are not trusted: salvage reads in physical order only.
    if (file_->salvaging()) {
        s = status::OperationNotAllowed;
        return nullptr;
    }
    return file_->keyOrder(keyIndex, s);
}

int16_t LegacyDataFile::getFirst(Cursor& cursor, int keyIndex, ReadTarget& target)
{
    int16_t s = status::Success;
    const KeyOrder* order = orderOf(keyIndex, s);
    if (!order)
        return s;
    if (order->size() == 0)
        return status::EndOfFile;
    return deliverEntry(static_cast<LegacyCursor&>(cursor), keyIndex, *order, 0, target);
}

int16_t LegacyDataFile::getLast(Cursor& cursor, int keyIndex, ReadTarget& target)
{
    int16_t s = status::Success;
    const KeyOrder* order = orderOf(keyIndex, s);
    if (!order)
        return s;
    if (order->size() == 0)
        return status::EndOfFile;
    return deliverEntry(
        static_cast<LegacyCursor&>(cursor), keyIndex, *order, order->size() - 1, target);
}

int16_t LegacyDataFile::getNext(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<LegacyCursor&>(cursor);
    int16_t s = status::Success;
    const KeyOrder* order = orderOf(c.keyIndex, s);
    if (!order)
        return s;
    const size_t next = c.wholeValue ? order->groupEnd(c.ordinal) : c.ordinal + 1;
    if (next >= order->size())
        return status::EndOfFile;
    return deliverEntry(c, c.keyIndex, *order, next, target);
}

int16_t LegacyDataFile::getPrevious(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<LegacyCursor&>(cursor);
    int16_t s = status::Success;
    const KeyOrder* order = orderOf(c.keyIndex, s);
    if (!order)
        return s;
    const size_t from = c.wholeValue ? order->groupBegin(c.ordinal) : c.ordinal;
    if (from == 0)
        return status::EndOfFile;
    return deliverEntry(c, c.keyIndex, *order, from - 1, target);
}

int16_t LegacyDataFile::getByValue(
    Cursor& cursor, int keyIndex, Match match, const uint8_t* value, ReadTarget& target)
{
    int16_t s = status::Success;
    const KeyOrder* order = orderOf(keyIndex, s);
    if (!order)
        return s;
    const bool stored = codecs_[size_t(keyIndex)]->encodeValue(value, encoded_);
    const uint8_t* key = encoded_.data();
    const size_t length = encoded_.size();
    size_t at = 0;
    switch (match) {
    case Match::Equal:
        at = order->lowerBound(key, length);
        if (!stored || !order->holds(at, key, length))
            return status::KeyNotFound;
        break;
    case Match::Greater:
    case Match::GreaterOrEqual:
        at = match == Match::Greater ? order->upperBound(key, length)
                                     : order->lowerBound(key, length);
        if (at >= order->size())
            return status::EndOfFile;
        break;
    case Match::Less:
    case Match::LessOrEqual:
        at = match == Match::Less ? order->lowerBound(key, length) : order->upperBound(key, length);
        if (at == 0)
            return status::EndOfFile;
        --at;
        break;
    }
    // Get Equal leaves the key buffer as the caller gave it.
    return deliverEntry(
        static_cast<LegacyCursor&>(cursor), keyIndex, *order, at, target, match != Match::Equal);
}

int16_t LegacyDataFile::stepFirst(Cursor& cursor, ReadTarget& target)
{
    Locator loc = 0;
    if (int16_t s = firstRecord(loc))
        return s;
    return deliverRecord(static_cast<LegacyCursor&>(cursor), loc, target);
}

int16_t LegacyDataFile::stepLast(Cursor& cursor, ReadTarget& target)
{
    Locator loc = 0;
    if (int16_t s = lastRecord(loc))
        return s;
    return deliverRecord(static_cast<LegacyCursor&>(cursor), loc, target);
}

int16_t LegacyDataFile::stepNext(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<LegacyCursor&>(cursor);
    if (!c.hasPhysical)
        return status::InvalidPositioning;
    Locator loc = c.physical;
    if (int16_t s = nextRecord(loc))
        return s;
    return deliverRecord(c, loc, target);
}

int16_t LegacyDataFile::stepPrevious(Cursor& cursor, ReadTarget& target)
{
    auto& c = static_cast<LegacyCursor&>(cursor);
    if (!c.hasPhysical)
        return status::InvalidPositioning;
    Locator loc = c.physical;
    if (int16_t s = previousRecord(loc))
        return s;
    return deliverRecord(c, loc, target);
}

int16_t LegacyDataFile::getDirect(
    Cursor& cursor, uint32_t position, int keyIndex, ReadTarget& target)
{
    auto& c = static_cast<LegacyCursor&>(cursor);
    int16_t s = status::Success;
    const KeyOrder* order = nullptr;
    if (keyIndex >= 0 && !(order = orderOf(keyIndex, s)))
        return s;
    Locator loc = 0;
    if ((s = liveRecordAt(position, loc)))
        return s;
    if (!order)
        return deliverRecord(c, loc, target);
    if ((s = file_->readFixedPart(loc, record_)))
        return s;
    if (!codecs_[size_t(keyIndex)]->encode(record_.data(), record_.size(), encoded_)) {
        // Not in that key: the record all the same, but no logical position and no key value.
        if (!moved(s = deliverRecord(c, loc, target)))
            return s;
        return status::InvalidKeyPath;
    }
    // This very entry among its equals: they are few next to the whole order, and in chain
    // order, not by locator.
    const size_t end = order->upperBound(encoded_.data(), encoded_.size());
    size_t at = order->lowerBound(encoded_.data(), encoded_.size());
    while (at < end && order->locator(at) != loc)
        ++at;
    if (at == end)
        return status::IoError; // the order was built from these very slots
    return deliverEntry(c, keyIndex, *order, at, target);
}

int16_t LegacyDataFile::countPhysical()
{
    PhysicalRanks& r = physical_;
    if (r.counted)
        return status::Success;
    r.records = 0;
    r.every = FirstMarkSpacing;
    r.marks.clear();
    Locator loc = 0;
    int16_t s = firstRecord(loc);
    for (; s == status::Success; s = nextRecord(loc)) {
        if (r.records % r.every == 0) {
            if (r.marks.size() >= MostPhysicalMarks) {
                // Twice as far apart: keep every other mark.
                for (size_t i = 0; 2 * i < r.marks.size(); ++i)
                    r.marks[i] = r.marks[2 * i];
                r.marks.resize((r.marks.size() + 1) / 2);
                r.every *= 2;
            }
            if (r.records % r.every == 0)
                r.marks.push_back(loc);
        }
        ++r.records;
    }
    if (s != status::EndOfFile) {
        r.marks.clear();
        return s;
    }
    r.counted = true;
    return status::Success;
}

int16_t LegacyDataFile::recordAtRank(uint64_t rank, Locator& loc)
{
    loc = physical_.marks[size_t(rank / physical_.every)];
    for (uint64_t i = rank % physical_.every; i > 0; --i) {
        if (int16_t s = nextRecord(loc))
            return s == status::EndOfFile ? status::IoError : s;
    }
    return status::Success;
}

int16_t LegacyDataFile::getByPercentage(
    Cursor& cursor, int keyIndex, uint16_t percent, ReadTarget& target)
{
    auto& c = static_cast<LegacyCursor&>(cursor);
    int16_t s = status::Success;
    if (keyIndex >= 0) {
        const KeyOrder* order = orderOf(keyIndex, s);
        if (!order)
            return s;
        if (order->size() == 0)
            return status::EndOfFile;
        return deliverEntry(c, keyIndex, *order, entryAtPercentage(percent, order->size()), target);
    }
    if ((s = countPhysical()))
        return s;
    if (physical_.records == 0)
        return status::EndOfFile;
    Locator loc = 0;
    if ((s = recordAtRank(entryAtPercentage(percent, physical_.records), loc)))
        return s;
    return deliverRecord(c, loc, target);
}

int16_t LegacyDataFile::findPercentage(
    int keyIndex, const uint8_t* value, uint32_t position, uint32_t& percent)
{
    int16_t s = status::Success;
    if (keyIndex >= 0) {
        const KeyOrder* order = orderOf(keyIndex, s);
        if (!order)
            return s;
        codecs_[size_t(keyIndex)]->encodeValue(value, encoded_);
        const size_t at = order->lowerBound(encoded_.data(), encoded_.size());
        if (!order->holds(at, encoded_.data(), encoded_.size()))
            return status::KeyNotFound;
        percent = percentageOfEntry(at, order->size());
        return status::Success;
    }
    Locator loc = 0;
    if ((s = liveRecordAt(position, loc)) || (s = countPhysical()))
        return s;
    const auto& marks = physical_.marks;
    const auto after = std::upper_bound(marks.begin(), marks.end(), loc);
    if (after == marks.begin())
        return status::InvalidRecordAddress;
    uint64_t rank = uint64_t(after - marks.begin() - 1) * physical_.every;
    for (Locator at = *(after - 1); at != loc; ++rank) {
        if ((s = nextRecord(at)) == status::EndOfFile || (s == status::Success && at > loc))
            return status::InvalidRecordAddress;
        if (s)
            return s;
    }
    percent = percentageOfEntry(rank, physical_.records);
    return status::Success;
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
