// Slots and records: which slots hold a record, stepping through them in page order, and
// reading a record: its fixed part and the fragments of its variable part (whole, or through a
// variable tail's table of chains), or its compressed stream, decoded once the whole chain is read.
#include "Compression.h"
#include "Format.h"
#include "LegacyFile.h"

#include <algorithm>

namespace recman::legacy {

using btr::le::get16;

namespace {

constexpr uint32_t MaxRecordBytes = 65535;
// No chain of fragments is longer than this many links; a longer one is a loop.
constexpr uint32_t MaxFragments = 65536;
// Every block of a compressed stream adds a 2-byte count to what it gives: a stream several times
// the longest record is no stream.
constexpr size_t MaxStreamBytes = 4 * (size_t(MaxRecordBytes) + 1);
// A variable tail's entries: one per chain, and no chain holds less than a byte.
constexpr size_t MaxTailBytes = size_t(MaxRecordBytes) * format::v8::tail::EntrySize;
// A fragment-table entry that names no fragment.
constexpr uint16_t UnusedEntry = 0xFFFF;

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
            || !source_.readAt(link, next, sizeof next)) {
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
    uint32_t page = 0, slot = 0;
    if (newerFormat(profile_->family)) {
        page = address >> addressBits_;
        slot = address & ((uint32_t(1) << addressBits_) - 1);
    } else {
        page = address / pageSize_;
        const uint32_t offset = address % pageSize_;
        if (offset < profile_->dataHeader || (offset - profile_->dataHeader) % physicalLength_ != 0)
            return false;
        slot = (offset - profile_->dataHeader) / physicalLength_;
    }
    if (page >= dataPageOf_.size() || dataPageOf_[page] == UINT32_MAX || slot >= slotsPerPage_)
        return false;
    ordinal = dataPageOf_[page] * slotsPerPage_ + slot;
    return true;
}

bool LegacyFile::slotInUse(const uint8_t* slot, uint32_t ordinal) const
{
    switch (slotMark_) {
    case SlotMark::Prefix:
        return get16(slot) != 0; // the slot's usage count
    case SlotMark::Flag:
        return slot[flagAt_] == format::compressed::InUseMark;
    case SlotMark::FreeChain:
        break;
    }
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
    const uint32_t header = profile_->dataHeader;
    bool linkLike = page >= 1 && page < filePages_ && offset >= header
        && (offset - header) % physicalLength_ == 0
        && (offset - header) / physicalLength_ < slotsPerPage_;
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
    slot = page + profile_->dataHeader + index * physicalLength_;
    return status::Success;
}

int16_t LegacyFile::seekUsed(uint32_t dataPage, uint32_t slot, Locator& loc)
{
    for (; dataPage < dataPages_.size(); ++dataPage, slot = 0) {
        int16_t s = status::Success;
        const uint8_t* page = loadPage(dataPages_[dataPage], s);
        if (!page)
            return s;
        const uint8_t* slots = page + profile_->dataHeader;
        for (; slot < slotsPerPage_; ++slot) {
            if (slotInUse(slots + slot * physicalLength_, dataPage * slotsPerPage_ + slot)) {
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
    if (newerFormat(profile_->family))
        return uint32_t(addressPages_[dataPage]) << addressBits_ | locatorSlot(loc);
    return uint32_t(uint64_t(addressPages_[dataPage]) * pageSize_ + profile_->dataHeader
        + locatorSlot(loc) * physicalLength_);
}

int16_t LegacyFile::readFixedPart(Locator loc, std::vector<uint8_t>& out)
{
    if (compressed_) {
        if (int16_t s = readRecord(loc, out))
            return s;
        out.resize(def_.recordLength);
        return status::Success;
    }
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
    if (compressed_)
        return readCompressed(slot + pointerAt_, out);
    const uint8_t* data = slot + recordOffset_;
    out.assign(data, data + def_.recordLength);
    if (!def_.variableLength())
        return status::Success;
    if (variableTail_)
        return appendVariableTail(slot + pointerAt_, btr::le::get32(slot + tailLengthAt_), out);
    return appendChain(slot + pointerAt_, MaxRecordBytes, out);
}

int16_t LegacyFile::readRescued(Locator loc, std::vector<uint8_t>& out, bool& whole)
{
    const uint8_t* slot = nullptr;
    if (int16_t s = slotOf(loc, slot))
        return s;
    whole = true;
    if (compressed_) {
        // A stream that does not decode gives nothing that can be trusted, not even a fixed part.
        if (readCompressed(slot + pointerAt_, out) != status::Success) {
            out.clear();
            whole = false;
        }
        return status::Success;
    }
    const uint8_t* data = slot + recordOffset_;
    out.assign(data, data + def_.recordLength);
    if (!def_.variableLength())
        return status::Success;
    // A chain that breaks cannot say where its record ended, and one that loops would repeat
    // bytes: what was read of it is not kept, the fixed part always is.
    const int16_t s = variableTail_
        ? appendVariableTail(slot + pointerAt_, btr::le::get32(slot + tailLengthAt_), out)
        : appendChain(slot + pointerAt_, MaxRecordBytes, out);
    if (s != status::Success) {
        out.resize(def_.recordLength);
        whole = false;
    }
    return status::Success;
}

// The stream is decoded only once the whole chain is read: a fragment may end inside a count. It
// must give the record's length exactly (at least that in a variable-length file, whose variable
// part follows the fixed part), with nothing left over.
int16_t LegacyFile::readCompressed(const uint8_t* pointer, std::vector<uint8_t>& out)
{
    stream_.clear();
    if (int16_t s = appendChain(pointer, MaxStreamBytes, stream_))
        return s;
    out.clear();
    if (!decompress(stream_.data(), stream_.size(), MaxRecordBytes, out)
        || out.size() < def_.recordLength
        || (!def_.variableLength() && out.size() != def_.recordLength))
        return status::IoError;
    return status::Success;
}

// A variable tail: the record's chain holds entries of [page][fragment][length], each a chain of
// its own of exactly that many bytes, read in turn. Together they hold what the slot says is
// stored: the variable part (as in the files seen), or the whole record.
int16_t LegacyFile::appendVariableTail(
    const uint8_t* pointer, uint32_t stored, std::vector<uint8_t>& out)
{
    using format::v8::tail::EntryLength;
    using format::v8::tail::EntrySize;
    tailEntries_.clear();
    if (int16_t s = appendChain(pointer, MaxTailBytes, tailEntries_))
        return s;
    if (tailEntries_.size() % EntrySize != 0)
        return status::IoError;
    const size_t fixed = out.size();
    for (size_t at = 0; at < tailEntries_.size(); at += EntrySize) {
        const uint8_t* entry = tailEntries_.data() + at;
        const uint32_t length = btr::le::get32(entry + EntryLength);
        const size_t before = out.size();
        if (length > MaxRecordBytes - before)
            return status::IoError;
        if (int16_t s = appendChain(entry, before + length, out))
            return s;
        if (out.size() - before != length)
            return status::IoError;
    }
    if (out.size() - fixed != stored && out.size() != stored)
        return status::IoError;
    return status::Success;
}

int16_t LegacyFile::appendChain(const uint8_t* pointer, size_t most, std::vector<uint8_t>& out)
{
    using namespace format::variable;
    const Profile& p = *profile_;
    uint8_t link[format::v8::slot::PointerSize];
    std::copy_n(pointer, p.pointerSize, link);
    for (uint32_t fragments = 0;; ++fragments) {
        const FragmentRef ref = fragmentRef(p, link);
        if (ref.end)
            return status::Success;
        uint32_t physical = 0;
        if (fragments >= MaxFragments || variablePage(ref.page, physical) != status::Success)
            return status::IoError;
        int16_t s = status::Success;
        const uint8_t* page = loadPage(physical, s);
        if (!page)
            return s;
        if (!namesVariablePage(page, ref.page))
            return status::IoError;

        // The fragment table grows backward from the page's end, one entry per fragment and a last
        // one where the free space begins; a fragment ends where the nearest fragment (or the
        // free space) after it begins. Entries 0 and 0xFFFF name nothing.
        const uint32_t count = get16(page + p.fragmentCount);
        if (ref.fragment >= count
            || EntrySize * (uint64_t(count) + 1) > pageSize_ - p.variableHeader)
            return status::IoError;
        const uint32_t tableStart = pageSize_ - EntrySize * (count + 1);
        const uint8_t* last = page + pageSize_ - EntrySize;
        const uint16_t entry = get16(last - EntrySize * ref.fragment);
        uint32_t begin = entry & OffsetMask;
        if (entry == 0 || entry == UnusedEntry || begin < p.variableHeader || begin >= tableStart)
            return status::IoError;
        // Offsets that ascend with the fragment number (as in every page an engine writes until
        // it reuses space) are found so once per page, and the end is then the next used entry;
        // otherwise every entry is looked at.
        auto used = [](uint16_t e) { return e != 0 && e != UnusedEntry; };
        int8_t& ascend = fragmentsAscend_[physical % CachedPages];
        if (ascend < 0) {
            ascend = 1;
            for (uint32_t j = 0, previous = 0; j <= count && ascend; ++j) {
                const uint16_t e = get16(last - EntrySize * j);
                if (used(e)) {
                    ascend = (e & OffsetMask) > previous;
                    previous = e & OffsetMask;
                }
            }
        }
        uint32_t end = tableStart + 1;
        for (uint32_t j = ascend ? ref.fragment + 1 : 0; j <= count; ++j) {
            const uint16_t other = get16(last - EntrySize * j);
            const uint32_t at = other & OffsetMask;
            if (used(other) && at > begin && at < end) {
                end = at;
                if (ascend)
                    break;
            }
        }
        if (end > tableStart)
            return status::IoError;
        // Fragments begin with the link to the next one; in 5.x files only when flagged.
        if (p.everyFragmentLinked || (entry & LinkedBit)) {
            if (end - begin < p.pointerSize)
                return status::IoError;
            std::copy_n(page + begin, p.pointerSize, link);
            begin += p.pointerSize;
        } else {
            std::fill(std::begin(link), std::end(link), format::EndOfChain);
        }
        if (out.size() + (end - begin) > most)
            return status::IoError;
        out.insert(out.end(), page + begin, page + end);
    }
}

} // namespace recman::legacy
