// Sorting a key's records: built on first use of the key, by the key codec's order.
#include "KeyOrder.h"

#include "Format.h"
#include "KeyCodec.h"

#include <algorithm>
#include <cstring>

namespace recman::legacy {

size_t KeyOrder::memoryUse() const
{
    return keys_.capacity() + entries_.capacity() * sizeof(Entry);
}

namespace {

int compareKeys(const uint8_t* a, size_t aLength, const uint8_t* b, size_t bLength)
{
    const int c = std::memcmp(a, b, std::min(aLength, bLength));
    if (c != 0)
        return c;
    return aLength < bLength ? -1 : aLength > bLength ? 1 : 0;
}

} // namespace

size_t KeyOrder::lowerBound(const uint8_t* key, size_t length) const
{
    auto at = std::partition_point(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return compareKeys(keys_.data() + e.offset, e.length, key, length) < 0;
    });
    return size_t(at - entries_.begin());
}

size_t KeyOrder::upperBound(const uint8_t* key, size_t length) const
{
    auto at = std::partition_point(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return compareKeys(keys_.data() + e.offset, e.length, key, length) <= 0;
    });
    return size_t(at - entries_.begin());
}

bool KeyOrder::holds(size_t i, const uint8_t* key, size_t length) const
{
    return i < entries_.size()
        && compareKeys(keys_.data() + entries_[i].offset, entries_[i].length, key, length) == 0;
}

size_t KeyOrder::groupBegin(size_t i) const
{
    return lowerBound(keys_.data() + entries_[i].offset, entries_[i].length);
}

size_t KeyOrder::groupEnd(size_t i) const
{
    return upperBound(keys_.data() + entries_[i].offset, entries_[i].length);
}

const KeyOrder* LegacyFile::keyOrder(int keyIndex, int16_t& status)
{
    if (keyIndex < 0 || size_t(keyIndex) >= def_.keys.size()) {
        status = status::InvalidKeyNumber;
        return nullptr;
    }
    status = status::Success;
    if (orders_[size_t(keyIndex)])
        return orders_[size_t(keyIndex)].get();

    auto order = std::make_unique<KeyOrder>();
    KeyCodec codec(def_.keys[size_t(keyIndex)], def_.acsBlocks);
    uint64_t slots = uint64_t(dataPages_.size()) * slotsPerPage_;
    order->entries_.reserve(size_t(std::min<uint64_t>(def_.numRecords, slots)));
    std::vector<uint8_t> encoded, record;
    const uint32_t links = duplicateLinks_[size_t(keyIndex)];
    std::vector<uint32_t> nextOf(links ? size_t(slots) : 0, UINT32_MAX);
    for (uint32_t dataPage = 0; dataPage < dataPages_.size(); ++dataPage) {
        for (uint32_t slot = 0; slot < slotsPerPage_; ++slot) {
            // The page is looked up for every slot: reading a compressed record brings its
            // variable pages into the cache, where they may take the data page's place.
            const uint8_t* page = loadPage(dataPages_[dataPage], status);
            if (!page)
                return nullptr;
            const uint8_t* bytes = page + profile_->dataHeader + slot * physicalLength_;
            if (!slotInUse(bytes, dataPage * slotsPerPage_ + slot))
                continue;
            const uint32_t next
                = links ? format::hiLo(bytes + links + format::NextDuplicate) : UINT32_MAX;
            const uint8_t* data = bytes + recordOffset_;
            if (compressed_) {
                if ((status = readRecord(makeLocator(dataPage, slot), record)) != status::Success)
                    return nullptr;
                data = record.data();
            }
            if (!codec.encode(data, def_.recordLength, encoded))
                continue;
            if (order->keys_.size() + encoded.size() > UINT32_MAX || encoded.size() > UINT16_MAX) {
                status = status::IoError;
                return nullptr;
            }
            order->entries_.push_back({uint32_t(order->keys_.size()), dataPage, uint16_t(slot),
                uint16_t(encoded.size())});
            order->keys_.insert(order->keys_.end(), encoded.begin(), encoded.end());
            if (links)
                nextOf[size_t(dataPage) * slotsPerPage_ + slot] = next;
        }
    }
    const uint8_t* keys = order->keys_.data();
    std::sort(order->entries_.begin(), order->entries_.end(),
        [keys](const KeyOrder::Entry& a, const KeyOrder::Entry& b) {
            int c = std::memcmp(keys + a.offset, keys + b.offset, std::min(a.length, b.length));
            if (c != 0)
                return c < 0;
            if (a.length != b.length)
                return a.length < b.length;
            // Equal keys in step order.
            return a.dataPage != b.dataPage ? a.dataPage < b.dataPage : a.slot < b.slot;
        });
    if (links)
        orderDuplicates(*order, nextOf);
    order->entries_.shrink_to_fit();
    order->keys_.shrink_to_fit();
    orders_[size_t(keyIndex)] = std::move(order);
    return orders_[size_t(keyIndex)].get();
}

// Records of equal value come in the order of the file's duplicate chain (the order they were
// added), which differs from page order once freed slots have been reused. A run whose chain
// does not link exactly its own records, head to tail, keeps page order.
void LegacyFile::orderDuplicates(KeyOrder& order, const std::vector<uint32_t>& nextOf) const
{
    auto& entries = order.entries_;
    const uint8_t* keys = order.keys_.data();
    auto same = [keys](const KeyOrder::Entry& a, const KeyOrder::Entry& b) {
        return a.length == b.length && std::memcmp(keys + a.offset, keys + b.offset, a.length) == 0;
    };
    auto ordinalOf
        = [this](const KeyOrder::Entry& e) { return e.dataPage * slotsPerPage_ + e.slot; };
    std::vector<std::pair<uint32_t, uint32_t>> members; // (slot ordinal, place in the run)
    std::vector<int64_t> successor;
    std::vector<uint8_t> targeted;
    std::vector<KeyOrder::Entry> ordered;
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

} // namespace recman::legacy
