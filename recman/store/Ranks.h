// Ranks in one order of a store (a key's order, or physical order) for Get By Percentage and Find
// Percentage, without counting up to a million index entries on every call: SQLite's b-trees keep
// no counts below a page.
//
// One walk of the order keeps every `every`-th entry's place (its encoded key and its tie: the
// duplicate sequence or the position) as a mark, so mark j had j × every entries before it. The
// entries this connection adds and removes afterwards are noted, few of them, and move the ranks
// of the marks after them; a walk of at most a few hundred entries from the nearest mark then
// finds any rank exactly. Changes by another process (SQLite's change counter) or too many of our
// own drop the marks, and the next call walks again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace recman::store {

class RankMarks
{
public:
    // An entry's place in the order: its encoded key (empty in physical order) and its tie.
    struct Place
    {
        const uint8_t* key = nullptr;
        size_t keyLength = 0;
        int64_t tie = 0;
    };

    // At most about this many marks, whatever the size of the file, and changes noted before the
    // marks are dropped.
    static constexpr size_t MostMarks = 4096;
    static constexpr size_t MostChanges = 4096;

    bool built() const { return built_; }
    void drop();

    // Building: `startBuild`, then every entry of the order in order, then `finishBuild`.
    // `changeCount` is SQLite's change counter the walk saw.
    void startBuild(uint32_t changeCount);
    void addEntry(const uint8_t* key, size_t keyLength, int64_t tie);
    void finishBuild();

    uint32_t changeCount() const { return changeCount_; }
    void setChangeCount(uint32_t changeCount) { changeCount_ = changeCount; }

    // Entries in the order now.
    uint64_t size() const { return entries_ + inserted_.size() - deleted_.size(); }

    // The last mark with at most `rank` entries before it: false when there is none (every entry
    // up to that rank was added since the walk, or the order had none then).
    bool markForRank(uint64_t rank, Place& mark, uint64_t& before) const;
    // The last mark at or before `place`: false when there is none.
    bool markAtOrBefore(const Place& place, Place& mark, uint64_t& before) const;

    // An entry added or removed through this connection; past MostChanges the marks are dropped.
    void noteInserted(const Place& place);
    void noteDeleted(const Place& place);

private:
    struct Change
    {
        std::vector<uint8_t> key;
        int64_t tie = 0;
    };

    Place markAt(size_t j) const;
    // Entries before mark j now.
    uint64_t before(size_t j) const;
    static size_t countBefore(const std::vector<Change>& changes, const Place& place);
    void note(std::vector<Change>& into, const Place& place);

    bool built_ = false;
    uint32_t changeCount_ = 0;
    uint64_t entries_ = 0; // at the walk
    uint64_t every_ = 1;
    std::vector<uint8_t> keys_;
    std::vector<uint32_t> keyAt_; // mark j's key is keys_[keyAt_[j], keyAt_[j + 1])
    std::vector<int64_t> ties_;
    std::vector<Change> inserted_, deleted_; // in order
};

} // namespace recman::store
