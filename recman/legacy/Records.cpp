// Slots and records: which slots hold a record, stepping through them in page order, and
// reading a record's fixed part and the fragments of its variable part.
#include "Format.h"
#include "LegacyFile.h"

#include <algorithm>

namespace recman::legacy {

using btr::le::get16;

namespace {

constexpr uint32_t MaxRecordBytes = 65535;
// No chain of fragments is longer than this many links; a longer one is a loop.
constexpr uint32_t MaxFragments = 65536;

} // namespace

// Deleted records are chained from the control record through the first four bytes of each
// freed slot; a chain that leaves the data pages, or loops, is not trusted.
void LegacyFile::readFreeChain(uint32_t head)
{
    const uint64_t slots = uint64_t(dataPages_.size()) * slotsPerPage_;
    freeSlots_.assign(size_t(slots), false);
    uint32_t link = head;
    for (uint64_t count = 0; link != UINT32_MAX && link != 0; ++count) {
        uint32_t ordinal = 0;
        uint8_t next[format::FreeLinkSize];
        if (count >= slots || !slotOfAddress(link, ordinal) || freeSlots_[ordinal]
            || !file_.readAt(link, next, sizeof next)) {
            freeSlots_.clear();
            return;
        }
        freeSlots_[ordinal] = true;
        link = format::hiLo(next);
    }
    freeChainRead_ = true;
}

// The slot a record address names, as an ordinal over all slots in step order.
bool LegacyFile::slotOfAddress(uint32_t address, uint32_t& ordinal) const
{
    uint32_t page = address / pageSize_;
    uint32_t offset = address % pageSize_;
    if (page >= dataPageOf_.size() || dataPageOf_[page] == UINT32_MAX
        || offset < format::PageHeaderSize
        || (offset - format::PageHeaderSize) % physicalLength_ != 0)
        return false;
    uint32_t slot = (offset - format::PageHeaderSize) / physicalLength_;
    if (slot >= slotsPerPage_)
        return false;
    ordinal = dataPageOf_[page] * slotsPerPage_ + slot;
    return true;
}

bool LegacyFile::slotInUse(const uint8_t* slot, uint32_t ordinal) const
{
    if (v6_)
        return get16(slot) != 0; // the slot prefix: its usage count
    if (freeChainRead_ && freeSlots_[ordinal])
        return false;
    auto nonZero = [](uint8_t b) { return b != 0; };
    if (physicalLength_ <= format::FreeLinkSize)
        return std::any_of(slot, slot + physicalLength_, nonZero);
    if (std::any_of(slot + format::FreeLinkSize, slot + physicalLength_, nonZero))
        return true;
    // Zeros after the first four bytes: a freed slot, whose first four bytes link to the next
    // freed slot (or end the chain), unless those bytes cannot be such a link.
    uint32_t link = format::hiLo(slot);
    if (link == 0 || link == UINT32_MAX)
        return false;
    uint32_t page = link / pageSize_;
    uint32_t offset = link % pageSize_;
    bool linkLike = page >= 1 && page < filePages_ && offset >= format::PageHeaderSize
        && (offset - format::PageHeaderSize) % physicalLength_ == 0
        && (offset - format::PageHeaderSize) / physicalLength_ < slotsPerPage_;
    return !linkLike;
}

int16_t LegacyFile::slotOf(Locator loc, const uint8_t*& slot)
{
    uint64_t dataPage = locatorPage(loc);
    uint32_t index = locatorSlot(loc);
    if (dataPage >= dataPages_.size() || index >= slotsPerPage_)
        return status::IoError;
    int16_t s = status::Success;
    const uint8_t* page = loadPage(dataPages_[dataPage], s);
    if (!page)
        return s;
    slot = page + format::PageHeaderSize + index * physicalLength_;
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
            if (slotInUse(page + format::PageHeaderSize + slot * physicalLength_,
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
    return seekUsed(uint32_t(locatorPage(loc)), locatorSlot(loc) + 1, loc);
}

int16_t LegacyFile::seekUsedBackward(uint32_t dataPage, uint32_t slot, Locator& loc)
{
    if (dataPage >= dataPages_.size() || slotsPerPage_ == 0)
        return status::EndOfFile;
    slot = std::min(slot, slotsPerPage_ - 1);
    for (uint32_t page = dataPage + 1; page-- > 0; slot = slotsPerPage_ - 1) {
        for (uint32_t at = slot + 1; at-- > 0;) {
            // The page stays in the cache from one slot to the next.
            const uint8_t* bytes = nullptr;
            if (int16_t s = slotOf(makeLocator(page, at), bytes))
                return s;
            if (slotInUse(bytes, page * slotsPerPage_ + at)) {
                loc = makeLocator(page, at);
                return status::Success;
            }
        }
    }
    return status::EndOfFile;
}

int16_t LegacyFile::stepLast(Locator& loc)
{
    if (dataPages_.empty() || slotsPerPage_ == 0)
        return status::EndOfFile;
    return seekUsedBackward(uint32_t(dataPages_.size() - 1), slotsPerPage_ - 1, loc);
}

int16_t LegacyFile::stepPrevious(Locator& loc)
{
    const uint32_t page = uint32_t(locatorPage(loc));
    const uint32_t slot = locatorSlot(loc);
    if (slot > 0)
        return seekUsedBackward(page, slot - 1, loc);
    if (page == 0)
        return status::EndOfFile;
    return seekUsedBackward(page - 1, slotsPerPage_ - 1, loc);
}

int16_t LegacyFile::recordAt(uint32_t address, Locator& loc)
{
    uint32_t ordinal = 0;
    if (slotsPerPage_ == 0 || !slotOfAddress(address, ordinal))
        return status::InvalidRecordAddress;
    const Locator at = makeLocator(ordinal / slotsPerPage_, ordinal % slotsPerPage_);
    const uint8_t* slot = nullptr;
    if (int16_t s = slotOf(at, slot))
        return s;
    if (!slotInUse(slot, ordinal))
        return status::InvalidRecordAddress;
    loc = at;
    return status::Success;
}

uint32_t LegacyFile::position(Locator loc) const
{
    uint64_t dataPage = locatorPage(loc);
    if (dataPage >= dataPages_.size())
        return 0;
    return uint32_t(uint64_t(addressPages_[dataPage]) * pageSize_ + format::PageHeaderSize
        + locatorSlot(loc) * physicalLength_);
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
    return appendVariablePart(data + def_.recordLength, out);
}

int16_t LegacyFile::readRescued(Locator loc, std::vector<uint8_t>& out, bool& whole)
{
    const uint8_t* slot = nullptr;
    if (int16_t s = slotOf(loc, slot))
        return s;
    const uint8_t* data = slot + recordOffset_;
    out.assign(data, data + def_.recordLength);
    whole = true;
    if (!def_.variableLength())
        return status::Success;
    // A chain that breaks cannot say where its record ended, and one that loops would repeat
    // bytes: what was read of it is not kept, the fixed part always is.
    if (appendVariablePart(data + def_.recordLength, out) != status::Success) {
        out.resize(def_.recordLength);
        whole = false;
    }
    return status::Success;
}

int16_t LegacyFile::appendVariablePart(const uint8_t* pointer, std::vector<uint8_t>& out)
{
    using namespace format::variable;
    uint8_t link[format::VariablePointerSize];
    std::copy_n(pointer, sizeof link, link);
    for (uint32_t fragments = 0; !format::isEndOfChain(link); ++fragments) {
        uint32_t pageNo
            = format::pageNumber(link[PointerHigh], link[PointerLow], link[PointerMiddle]);
        uint32_t physical = 0;
        if (fragments >= MaxFragments || variablePage(pageNo, physical) != status::Success)
            return status::IoError;
        int16_t s = status::Success;
        const uint8_t* page = loadPage(physical, s);
        if (!page)
            return s;
        if (!namesVariablePage(page, pageNo))
            return status::IoError;

        // The fragment table grows backward from the page's end; a fragment ends where the next
        // used entry's fragment (or the free space) begins.
        uint32_t index = link[PointerFragment];
        uint32_t entryAt = pageSize_ - EntrySize - EntrySize * index;
        uint16_t entry = get16(page + entryAt);
        uint32_t begin = entry & OffsetMask;
        if (begin < HeaderSize || begin >= entryAt)
            return status::IoError;
        uint32_t end = 0;
        for (uint32_t next = entryAt - EntrySize; next >= begin; next -= EntrySize) {
            if (uint16_t value = get16(page + next)) {
                end = value & OffsetMask;
                if (end <= begin || end > next)
                    return status::IoError;
                break;
            }
        }
        if (end == 0)
            return status::IoError;
        // 6.x fragments all begin with the link to the next one; 5.x ones only when flagged.
        uint8_t following[format::VariablePointerSize];
        std::fill(std::begin(following), std::end(following), format::EndOfChain);
        if (v6_ || (entry & LinkedBit)) {
            if (end - begin < sizeof following)
                return status::IoError;
            std::copy_n(page + begin, sizeof following, following);
            begin += sizeof following;
        }
        if (out.size() + (end - begin) > MaxRecordBytes)
            return status::IoError;
        out.insert(out.end(), page + begin, page + end);
        std::copy_n(following, sizeof link, link);
    }
    return status::Success;
}

} // namespace recman::legacy
