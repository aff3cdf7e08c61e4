// A model of one handle on a data file, written from the record manager's rules for browsing,
// direct access, Update and Delete alone: a list of records and three positions (logical on a
// key, physical, current), with every key's order worked out afresh on each call by sorting. The
// conformance tests run the same calls on it and on a real file and compare every answer.
//
// It knows nothing of how the record manager keeps its places: the key orders come from the test's
// own rules for its keys, and positions are the ones the real file gave at Insert.
#pragma once

#include "BtrCall.h"
#include "ByteVector.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A key as the model sees it.
struct ModelKey
{
    bool duplicates = false;
    bool modifiable = true;
    // The key's value as the key buffer holds it, taken from a record.
    std::function<Bytes(const Bytes& record)> value;
    // Bytes whose order (memcmp, a shorter string first) is the key's order for a value.
    std::function<Bytes(const Bytes& value)> order;
    // Whether a value is null: such a record is not in the key.
    std::function<bool(const Bytes& value)> isNull = [](const Bytes&) { return false; };
};

// What the model expects of a call.
struct Expected
{
    Expected() = default;
    Expected(
        int16_t s, std::optional<Bytes> r = std::nullopt, std::optional<Bytes> k = std::nullopt)
        : status(s)
        , record(std::move(r))
        , keyValue(std::move(k))
    { }

    int16_t status = 0;
    std::optional<Bytes> record;   // the record a read returns
    std::optional<Bytes> keyValue; // what the key buffer holds afterwards, when the call writes it
    uint32_t number = 0;           // Get Position's position, Find Percentage's percentage
};

class BrowseModel
{
public:
    explicit BrowseModel(std::vector<ModelKey> keys)
        : keys_(std::move(keys))
    { }

    // A record the file holds to begin with, in physical order.
    void add(uint32_t position, const Bytes& record)
    {
        records_[position] = Record {record, ties(position)};
        changed();
    }
    size_t size() const { return records_.size(); }
    std::vector<uint32_t> positions() const
    {
        std::vector<uint32_t> out;
        for (const auto& [pos, r] : records_)
            out.push_back(pos);
        return out;
    }

    // Get First to Get Last (5 to 13), plain or as Get Key; `value` is the key buffer given.
    Expected get(uint16_t op, int k, const Bytes& value, bool keyOnly)
    {
        const std::vector<Entry>& list = entries(k);
        std::optional<size_t> at;
        const auto find = [&](auto qualifies, bool last) {
            for (size_t i = 0; i < list.size(); ++i) {
                const size_t j = last ? list.size() - 1 - i : i;
                if (qualifies(list[j]))
                    return std::optional<size_t>(j);
            }
            return std::optional<size_t>();
        };
        const Bytes v = value.empty() ? Bytes() : keys_[size_t(k)].order(value);
        switch (op) {
        case btr::op::GetFirst:
            at = find([](const Entry&) { return true; }, false);
            break;
        case btr::op::GetLast:
            at = find([](const Entry&) { return true; }, true);
            break;
        case btr::op::GetNext:
        case btr::op::GetPrevious: {
            if (logical_.key < 0)
                return {btr::status::InvalidPositioning};
            if (logical_.key != k)
                return {btr::status::DifferentKeyNumber};
            const bool next = op == btr::op::GetNext;
            at = find(
                [&](const Entry& e) {
                    const int c = logical_.whole ? compare(e.order, logical_.order)
                                                 : compare(e, logical_.order, logical_.tie);
                    return next ? c > 0 : c < 0;
                },
                !next);
            break;
        }
        case btr::op::GetEqual:
            if (keys_[size_t(k)].isNull(value))
                return {btr::status::KeyNotFound};
            at = find([&](const Entry& e) { return compare(e.order, v) == 0; }, false);
            if (!at)
                return {btr::status::KeyNotFound};
            break;
        case btr::op::GetGreater:
            at = find([&](const Entry& e) { return compare(e.order, v) > 0; }, false);
            break;
        case btr::op::GetGreaterOrEqual:
            at = find([&](const Entry& e) { return compare(e.order, v) >= 0; }, false);
            break;
        case btr::op::GetLess:
            at = find([&](const Entry& e) { return compare(e.order, v) < 0; }, true);
            break;
        default:
            at = find([&](const Entry& e) { return compare(e.order, v) <= 0; }, true);
            break;
        }
        if (!at)
            return {btr::status::EndOfFile};
        const Entry& e = list[*at];
        logical_ = {k, e.order, e.tie, keyOnly};
        Expected x;
        if (op != btr::op::GetEqual)
            x.keyValue = keys_[size_t(k)].value(records_.at(e.pos).data);
        if (keyOnly) {
            physical_.reset();
            current_.reset();
        } else {
            physical_ = current_ = e.pos;
            x.record = seen_ = records_.at(e.pos).data;
        }
        return x;
    }

    Expected step(uint16_t op)
    {
        std::optional<uint32_t> at;
        if (op == btr::op::StepNext || op == btr::op::StepPrevious) {
            if (!physical_)
                return {btr::status::InvalidPositioning};
            if (op == btr::op::StepNext) {
                auto it = records_.upper_bound(*physical_);
                if (it != records_.end())
                    at = it->first;
            } else {
                auto it = records_.lower_bound(*physical_);
                if (it != records_.begin())
                    at = std::prev(it)->first;
            }
        } else if (!records_.empty()) {
            at = op == btr::op::StepFirst ? records_.begin()->first : records_.rbegin()->first;
        }
        if (!at)
            return {btr::status::EndOfFile};
        return stepTo(*at);
    }

    Expected getDirect(uint32_t position, int k)
    {
        auto it = records_.find(position);
        if (it == records_.end())
            return {btr::status::InvalidRecordAddress};
        if (k < 0)
            return stepTo(position);
        const Bytes value = keys_[size_t(k)].value(it->second.data);
        if (keys_[size_t(k)].isNull(value)) {
            Expected x = stepTo(position);
            x.status = btr::status::InvalidKeyPath;
            return x;
        }
        logical_ = {k, keys_[size_t(k)].order(value), it->second.ties[size_t(k)], false};
        physical_ = current_ = position;
        seen_ = it->second.data;
        return {btr::status::Success, it->second.data, value};
    }

    Expected getByPercentage(uint16_t percent, int k)
    {
        if (percent > btr::WholePercentage)
            return {btr::status::InvalidOperation};
        if (k < 0) {
            const std::vector<uint32_t> all = positions();
            if (all.empty())
                return {btr::status::EndOfFile};
            return stepTo(all[size_t(uint64_t(percent) * (all.size() - 1) / 10000)]);
        }
        const std::vector<Entry>& list = entries(k);
        if (list.empty())
            return {btr::status::EndOfFile};
        return getDirect(list[size_t(uint64_t(percent) * (list.size() - 1) / 10000)].pos, k);
    }

    Expected findPercentage(int k, const Bytes& value, uint32_t position)
    {
        uint64_t rank = 0, n = 0;
        if (k < 0) {
            const std::vector<uint32_t> all = positions();
            auto it = std::find(all.begin(), all.end(), position);
            if (it == all.end())
                return {btr::status::InvalidRecordAddress};
            rank = uint64_t(it - all.begin());
            n = all.size();
        } else {
            const std::vector<Entry>& list = entries(k);
            const Bytes v = keys_[size_t(k)].order(value);
            auto it = std::find_if(
                list.begin(), list.end(), [&](const Entry& e) { return compare(e.order, v) == 0; });
            if (keys_[size_t(k)].isNull(value) || it == list.end())
                return {btr::status::KeyNotFound};
            rank = uint64_t(it - list.begin());
            n = list.size();
        }
        Expected x;
        x.number = n <= 1 ? 0 : uint32_t((2 * rank * 10000 + (n - 1)) / (2 * (n - 1)));
        return x;
    }

    Expected getPosition() const
    {
        if (!current_)
            return {btr::status::InvalidPositioning};
        Expected x;
        x.number = *current_;
        return x;
    }

    // Insert: what the file would refuse (5), or 0 with the record stored at `position`.
    int16_t insertStatus(const Bytes& record) const
    {
        return repeatsUniqueValue(record, std::nullopt) ? btr::status::DuplicateKey
                                                        : btr::status::Success;
    }
    Expected insert(const Bytes& record, int k, uint32_t position)
    {
        records_[position] = Record {record, ties(position)};
        changed();
        physical_ = current_ = position;
        seen_ = record;
        Expected x;
        if (k >= 0) {
            const Bytes value = keys_[size_t(k)].value(record);
            x.keyValue = value;
            if (keys_[size_t(k)].isNull(value))
                logical_.key = -1;
            else
                logical_
                    = {k, keys_[size_t(k)].order(value), records_[position].ties[size_t(k)], false};
        }
        return x;
    }

    Expected update(const Bytes& record, int k)
    {
        if (!current_)
            return {btr::status::InvalidPositioning};
        if (!records_.count(*current_) || records_.at(*current_).data != seen_)
            return {btr::status::Conflict};
        const std::optional<Entry> old = k >= 0 ? entryOf(*current_, k) : std::nullopt;
        const bool positionedOnK = logical_.key == k;
        if (int16_t s = change(*current_, record))
            return {s};
        seen_ = record;
        Expected x;
        if (k >= 0) {
            const Bytes value = keys_[size_t(k)].value(record);
            x.keyValue = value;
            if (!keys_[size_t(k)].isNull(value))
                logical_ = {k, keys_[size_t(k)].order(value),
                    records_.at(*current_).ties[size_t(k)], false};
            else if (positionedOnK && old)
                logical_ = {k, old->order, old->tie, false};
            else
                logical_.key = -1;
        }
        return x;
    }

    Expected remove(int k)
    {
        if (!current_)
            return {btr::status::InvalidPositioning};
        if (!records_.count(*current_) || records_.at(*current_).data != seen_)
            return {btr::status::Conflict};
        if (k >= 0) {
            const std::optional<Entry> old = entryOf(*current_, k);
            if (old)
                logical_ = {k, old->order, old->tie, false};
            else
                logical_.key = -1;
        }
        records_.erase(*current_);
        changed();
        physical_ = current_;
        current_.reset();
        return {};
    }

    // What another handle does to the record at `pos`: this handle's positions stay.
    int16_t changeElsewhere(uint32_t pos, const Bytes& record) { return change(pos, record); }
    void removeElsewhere(uint32_t pos)
    {
        records_.erase(pos);
        changed();
    }
    void insertElsewhere(uint32_t pos, const Bytes& record)
    {
        records_[pos] = Record {record, ties(pos)};
        changed();
    }

    // Distinct values key `k` holds (null ones left out), as Stat reports them.
    uint32_t distinctValues(int k) const
    {
        std::vector<Bytes> orders;
        for (const Entry& e : entries(k))
            orders.push_back(e.order);
        return uint32_t(std::unique(orders.begin(), orders.end(),
                            [](const Bytes& a, const Bytes& b) { return compare(a, b) == 0; })
            - orders.begin());
    }

    std::optional<Bytes> currentRecord() const
    {
        if (!current_ || !records_.count(*current_))
            return std::nullopt;
        return records_.at(*current_).data;
    }
    std::optional<Bytes> recordAt(uint32_t pos) const
    {
        if (!records_.count(pos))
            return std::nullopt;
        return records_.at(pos).data;
    }

private:
    struct Record
    {
        Bytes data;
        std::vector<int64_t> ties; // per key: when the record took its value there
    };
    struct Entry
    {
        Bytes order;
        int64_t tie;
        uint32_t pos;
    };
    struct Logical
    {
        int key = -1;
        Bytes order;
        int64_t tie = 0;
        bool whole = false; // after a Get Key: every entry of the value
    };

    static int compare(const Bytes& a, const Bytes& b)
    {
        const size_t n = std::min(a.size(), b.size());
        const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
        if (c != 0)
            return c;
        return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
    }
    static int compare(const Entry& e, const Bytes& order, int64_t tie)
    {
        const int c = compare(e.order, order);
        return c != 0 ? c : e.tie < tie ? -1 : e.tie > tie ? 1 : 0;
    }

    // Equal values of a key with duplicates stay in the order they were taken; a key without
    // duplicates meets its own value again only at a deleted entry's place, and there the
    // position decides.
    std::vector<int64_t> ties(uint32_t position)
    {
        std::vector<int64_t> t(keys_.size());
        ++clock_;
        for (size_t i = 0; i < keys_.size(); ++i)
            t[i] = keys_[i].duplicates ? clock_ : int64_t(position);
        return t;
    }

    // Update's checks and its change of the record at `pos`: 10, 5, or 0 with the record changed
    // (a key with duplicates whose value changes goes last among its new equals).
    int16_t change(uint32_t pos, const Bytes& record)
    {
        Record& r = records_.at(pos);
        std::vector<bool> changed(keys_.size());
        for (size_t i = 0; i < keys_.size(); ++i) {
            const Bytes before = keys_[i].value(r.data), after = keys_[i].value(record);
            const bool wasNull = keys_[i].isNull(before), isNull = keys_[i].isNull(after);
            changed[i] = wasNull != isNull
                || (!isNull && compare(keys_[i].order(before), keys_[i].order(after)) != 0);
            if (changed[i] && !keys_[i].modifiable)
                return btr::status::ModifiableKeyValue;
        }
        if (repeatsUniqueValue(record, pos))
            return btr::status::DuplicateKey;
        r.data = record;
        for (size_t i = 0; i < keys_.size(); ++i) {
            if (changed[i] && keys_[i].duplicates)
                r.ties[i] = ++clock_;
        }
        this->changed();
        return btr::status::Success;
    }

    std::optional<Entry> entryOf(uint32_t pos, int k) const
    {
        const Record& r = records_.at(pos);
        const Bytes value = keys_[size_t(k)].value(r.data);
        if (keys_[size_t(k)].isNull(value))
            return std::nullopt;
        return Entry {keys_[size_t(k)].order(value), r.ties[size_t(k)], pos};
    }

    // Key k's order, sorted again after every change.
    const std::vector<Entry>& entries(int k) const
    {
        if (sorted_.size() != keys_.size())
            sorted_.assign(keys_.size(), std::nullopt);
        std::optional<std::vector<Entry>>& list = sorted_[size_t(k)];
        if (list)
            return *list;
        list.emplace();
        for (const auto& [pos, r] : records_) {
            if (auto e = entryOf(pos, k))
                list->push_back(*e);
        }
        std::sort(list->begin(), list->end(),
            [](const Entry& a, const Entry& b) { return compare(a, b.order, b.tie) < 0; });
        return *list;
    }
    void changed() { sorted_.clear(); }

    bool repeatsUniqueValue(const Bytes& record, std::optional<uint32_t> except) const
    {
        for (size_t i = 0; i < keys_.size(); ++i) {
            const Bytes value = keys_[i].value(record);
            if (keys_[i].duplicates || keys_[i].isNull(value))
                continue;
            for (const auto& [pos, r] : records_) {
                if (pos != except
                    && compare(keys_[i].order(keys_[i].value(r.data)), keys_[i].order(value)) == 0)
                    return true;
            }
        }
        return false;
    }

    Expected stepTo(uint32_t pos)
    {
        logical_.key = -1;
        physical_ = current_ = pos;
        seen_ = records_.at(pos).data;
        return {btr::status::Success, seen_, std::nullopt};
    }

    std::vector<ModelKey> keys_;
    std::map<uint32_t, Record> records_;
    int64_t clock_ = 0;
    Logical logical_;
    std::optional<uint32_t> physical_, current_;
    Bytes seen_; // the current record as this handle read or wrote it
    mutable std::vector<std::optional<std::vector<Entry>>> sorted_;
};

} // namespace testsupport
