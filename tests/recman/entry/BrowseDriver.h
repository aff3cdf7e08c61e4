// The browsing conformance runs: one handle on a real file and the model, given the same calls,
// every answer compared (status, record, data length, key buffer, positions, percentages).
#pragma once

#include "BrowseModel.h"
#include "EntryHelpers.h"

#include <random>
#include <sstream>

namespace entrytest {

using testsupport::BrowseModel;
using testsupport::Bytes;
using testsupport::Expected;

// One handle's calls and the model's expectations side by side.
class BrowseDriver
{
public:
    BrowseDriver(Handle& handle, BrowseModel& model, size_t valueLength)
        : h_(handle)
        , model_(model)
        , valueLength_(valueLength)
    { }

    // The calls so far, for the message of the first one that disagreed.
    std::string history() const { return log_.str(); }

    // Get First to Get Last, plain or as Get Key (the key buffer holds `value`).
    // The key number of the last keyed call.
    int lastKey() const { return lastKey_; }

    ::testing::AssertionResult get(uint16_t op, int k, const Bytes& value, bool keyOnly)
    {
        note() << (keyOnly ? "GetKey " : "Get ") << op << " k" << k;
        lastKey_ = k;
        const Expected x = model_.get(op, k, value, keyOnly);
        fillKey(value);
        Bytes data(Offered, 0xA5);
        const int16_t s
            = h_.call(uint16_t(op + (keyOnly ? btr::op::KeyOnly : 0)), data.data(), Offered, k);
        return compare(x, s, data, keyOnly, value);
    }

    ::testing::AssertionResult step(uint16_t op)
    {
        note() << "Step " << op;
        const Expected x = model_.step(op);
        fillKey({});
        Bytes data(Offered, 0xA5);
        return compare(x, h_.call(op, data.data(), Offered, 0), data, false);
    }

    ::testing::AssertionResult getDirect(uint32_t position, int k)
    {
        note() << "GetDirect " << position << " k" << k;
        const Expected x = model_.getDirect(position, k);
        fillKey({});
        Bytes data(Offered, 0xA5);
        btr::le::put32(data.data(), position);
        return compare(x, h_.call(op::GetDirect, data.data(), Offered, k), data, false);
    }

    ::testing::AssertionResult getByPercentage(uint16_t percent, int k)
    {
        note() << "GetByPercentage " << percent << " k" << k;
        const Expected x = model_.getByPercentage(percent, k);
        fillKey({});
        Bytes data(Offered, 0xA5);
        btr::le::put16(data.data(), percent);
        return compare(x, h_.call(op::GetByPercentage, data.data(), Offered, k), data, false);
    }

    ::testing::AssertionResult findPercentage(int k, const Bytes& value, uint32_t position)
    {
        note() << "FindPercentage k" << k << " at " << position;
        const Expected x = model_.findPercentage(k, value, position);
        fillKey(value);
        uint8_t data[4];
        btr::le::put32(data, position);
        const int16_t s = h_.call(op::FindPercentage, data, sizeof data, k);
        if (s != x.status)
            return failure() << "status " << s << ", expected " << x.status;
        if (s == st::Success && (h_.lastLength != 4 || btr::le::get32(data) != x.number))
            return failure() << "percentage " << btr::le::get32(data) << ", expected " << x.number;
        return keyUnchanged(value);
    }

    ::testing::AssertionResult position()
    {
        note() << "GetPosition";
        const Expected x = model_.getPosition();
        uint8_t data[4] = {};
        const int16_t s = h_.call(op::GetPosition, data, sizeof data);
        if (s != x.status)
            return failure() << "status " << s << ", expected " << x.status;
        if (s == st::Success && btr::le::get32(data) != x.number)
            return failure() << "position " << btr::le::get32(data) << ", expected " << x.number;
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult insert(Bytes record, int k)
    {
        note() << "Insert k" << k;
        const int16_t expected = model_.insertStatus(record);
        fillKey({});
        const int16_t s = h_.insert(record, k);
        if (s != expected)
            return failure() << "status " << s << ", expected " << expected;
        if (s != st::Success)
            return keyUnchanged({});
        uint8_t p[4];
        if (h_.call(op::GetPosition, p, 4) != st::Success)
            return failure() << "no position after Insert";
        const Expected x = model_.insert(record, k, btr::le::get32(p));
        return x.keyValue ? keyIs(*x.keyValue) : keyUnchanged({});
    }

    ::testing::AssertionResult update(Bytes record, int k)
    {
        note() << "Update k" << k;
        const Expected x = model_.update(record, k);
        fillKey({});
        const int16_t s = h_.call(op::Update, record.data(), uint16_t(record.size()), k);
        if (s != x.status)
            return failure() << "status " << s << ", expected " << x.status;
        return x.keyValue ? keyIs(*x.keyValue) : keyUnchanged({});
    }

    ::testing::AssertionResult remove(int k)
    {
        note() << "Delete k" << k;
        const Expected x = model_.remove(k);
        uint8_t none[4] = {};
        const int16_t s = h_.call(op::Delete, none, 0, k);
        if (s != x.status)
            return failure() << "status " << s << ", expected " << x.status;
        return ::testing::AssertionSuccess();
    }

private:
    static constexpr uint16_t Offered = 4096;

    std::ostream& note()
    {
        log_ << "\n  " << ++calls_ << ": ";
        return log_;
    }
    ::testing::AssertionResult failure()
    {
        return ::testing::AssertionFailure() << "call " << calls_ << ": ";
    }

    // The key buffer: the value given, then a pattern no call writes.
    void fillKey(const Bytes& value)
    {
        std::memset(h_.key, 0xEE, sizeof h_.key);
        std::copy(value.begin(), value.end(), h_.key);
    }
    ::testing::AssertionResult keyIs(const Bytes& value)
    {
        if (!std::equal(value.begin(), value.end(), h_.key))
            return failure() << "key buffer "
                             << testsupport::hex(Bytes(h_.key, h_.key + value.size()))
                             << ", expected " << testsupport::hex(value);
        return ::testing::AssertionSuccess();
    }
    ::testing::AssertionResult keyUnchanged(const Bytes& given)
    {
        Bytes expected = given;
        expected.resize(valueLength_, 0xEE);
        return keyIs(expected);
    }

    ::testing::AssertionResult compare(
        const Expected& x, int16_t s, const Bytes& data, bool keyOnly, const Bytes& given = {})
    {
        if (s != x.status)
            return failure() << "status " << s << ", expected " << x.status;
        if (x.record) {
            if (h_.lastLength != x.record->size())
                return failure() << "data length " << h_.lastLength << ", expected "
                                 << x.record->size();
            if (!std::equal(x.record->begin(), x.record->end(), data.begin()))
                return failure() << "another record: "
                                 << testsupport::hex(
                                        Bytes(data.begin(), data.begin() + long(x.record->size())));
        } else if (keyOnly && s == st::Success) {
            if (h_.lastLength != 0)
                return failure() << "Get Key returned data length " << h_.lastLength;
            if (data != Bytes(Offered, 0xA5))
                return failure() << "Get Key wrote into the data buffer";
        }
        if (x.keyValue && (s == st::Success || s == st::InvalidKeyPath))
            return keyIs(*x.keyValue);
        return keyUnchanged(given);
    }

    Handle& h_;
    BrowseModel& model_;
    size_t valueLength_;
    std::ostringstream log_;
    int calls_ = 0;
    int lastKey_ = 0;
};

} // namespace entrytest
