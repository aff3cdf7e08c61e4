#include "Ranks.h"

#include <algorithm>
#include <cstring>

namespace recman::store {

namespace {

// The order of the index: the encoded key as memcmp compares it (a shorter key first on a common
// prefix), then the tie.
int compare(const uint8_t* a, size_t aLength, int64_t aTie, const RankMarks::Place& b)
{
    const size_t n = std::min(aLength, b.keyLength);
    const int c = n == 0 ? 0 : std::memcmp(a, b.key, n);
    if (c != 0)
        return c;
    if (aLength != b.keyLength)
        return aLength < b.keyLength ? -1 : 1;
    return aTie < b.tie ? -1 : aTie > b.tie ? 1 : 0;
}

} // namespace

void RankMarks::drop()
{
    built_ = false;
    entries_ = 0;
    every_ = 1;
    keys_.clear();
    keyAt_.clear();
    ties_.clear();
    inserted_.clear();
    deleted_.clear();
}

void RankMarks::startBuild(uint32_t changeCount)
{
    drop();
    changeCount_ = changeCount;
    keyAt_.push_back(0);
}

void RankMarks::addEntry(const uint8_t* key, size_t keyLength, int64_t tie)
{
    if (entries_ % every_ == 0) {
        if (ties_.size() >= MostMarks) {
            // Twice as far apart: every other mark stays.
            std::vector<uint8_t> keys;
            std::vector<uint32_t> keyAt {0};
            for (size_t j = 0; j < ties_.size(); j += 2) {
                keys.insert(keys.end(), keys_.begin() + keyAt_[j], keys_.begin() + keyAt_[j + 1]);
                keyAt.push_back(uint32_t(keys.size()));
                ties_[j / 2] = ties_[j];
            }
            ties_.resize((ties_.size() + 1) / 2);
            keys_ = std::move(keys);
            keyAt_ = std::move(keyAt);
            every_ *= 2;
        }
        if (entries_ % every_ == 0) {
            keys_.insert(keys_.end(), key, key + keyLength);
            keyAt_.push_back(uint32_t(keys_.size()));
            ties_.push_back(tie);
        }
    }
    ++entries_;
}

void RankMarks::finishBuild()
{
    built_ = true;
}

RankMarks::Place RankMarks::markAt(size_t j) const
{
    return Place {keys_.data() + keyAt_[j], keyAt_[j + 1] - keyAt_[j], ties_[j]};
}

size_t RankMarks::countBefore(const std::vector<Change>& changes, const Place& place)
{
    auto at = std::partition_point(changes.begin(), changes.end(), [&place](const Change& c) {
        return compare(c.key.data(), c.key.size(), c.tie, place) < 0;
    });
    return size_t(at - changes.begin());
}

uint64_t RankMarks::before(size_t j) const
{
    const Place mark = markAt(j);
    return j * every_ + countBefore(inserted_, mark) - countBefore(deleted_, mark);
}

bool RankMarks::markForRank(uint64_t rank, Place& mark, uint64_t& entriesBefore) const
{
    // Marks in order have ever more entries before them: the last one with at most `rank`.
    size_t low = 0, high = ties_.size();
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        if (before(mid) <= rank)
            low = mid + 1;
        else
            high = mid;
    }
    if (low == 0)
        return false;
    mark = markAt(low - 1);
    entriesBefore = before(low - 1);
    return true;
}

bool RankMarks::markAtOrBefore(const Place& place, Place& mark, uint64_t& entriesBefore) const
{
    size_t low = 0, high = ties_.size();
    while (low < high) {
        const size_t mid = low + (high - low) / 2;
        const Place m = markAt(mid);
        if (compare(m.key, m.keyLength, m.tie, place) <= 0)
            low = mid + 1;
        else
            high = mid;
    }
    if (low == 0)
        return false;
    mark = markAt(low - 1);
    entriesBefore = before(low - 1);
    return true;
}

void RankMarks::note(std::vector<Change>& into, const Place& place)
{
    if (inserted_.size() + deleted_.size() >= MostChanges) {
        drop();
        return;
    }
    const size_t at = countBefore(into, place);
    Change c;
    c.key.assign(place.key, place.key + place.keyLength);
    c.tie = place.tie;
    into.insert(into.begin() + long(at), std::move(c));
}

void RankMarks::noteInserted(const Place& place)
{
    if (built_)
        note(inserted_, place);
}

void RankMarks::noteDeleted(const Place& place)
{
    if (!built_)
        return;
    // An entry added since the walk simply goes again.
    const size_t at = countBefore(inserted_, place);
    if (at < inserted_.size()
        && compare(inserted_[at].key.data(), inserted_[at].key.size(), inserted_[at].tie, place)
            == 0) {
        inserted_.erase(inserted_.begin() + long(at));
        return;
    }
    note(deleted_, place);
}

} // namespace recman::store
