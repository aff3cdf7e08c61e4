// Browsing, direct access, Update and Delete on our own files, through BTRCALLID: long random runs
// against the model of the rules (every answer compared), and the rules one by one where a run
// would meet them only by chance.
#include "BrowseDriver.h"

#include <algorithm>

using namespace entrytest;
using testsupport::ModelKey;

namespace {

// A 40-byte record: key 0 an 8-byte integer at 1 (unique, not modifiable), key 1 a 20-byte string
// at 9 (duplicates), key 2 a 4-byte string at 29 (duplicates, null when blank), key 3 a 4-byte
// unsigned number at 33 (unique, modifiable).
constexpr uint16_t RecordLength = 40;

Spec browseSpec()
{
    Spec s;
    s.recordLength = RecordLength;
    s.keys = {{Seg {1, 8, 0, 1}}, {Seg {9, 20, 0x0003, 0}}, {Seg {29, 4, 0x000B, 0, ' '}},
        {Seg {33, 4, 0x0002, 14}}};
    return s;
}

Bytes slice(const Bytes& r, size_t at, size_t n)
{
    return Bytes(r.begin() + long(at), r.begin() + long(at + n));
}

Bytes reversed(Bytes b)
{
    std::reverse(b.begin(), b.end());
    return b;
}

std::vector<ModelKey> browseKeys()
{
    ModelKey id;
    id.modifiable = false;
    id.value = [](const Bytes& r) { return slice(r, 0, 8); };
    id.order = [](const Bytes& v) {
        Bytes o = reversed(v);
        o[0] ^= 0x80;
        return o;
    };
    ModelKey name;
    name.duplicates = true;
    name.value = [](const Bytes& r) { return slice(r, 8, 20); };
    name.order = [](const Bytes& v) { return v; };
    ModelKey tag;
    tag.duplicates = true;
    tag.value = [](const Bytes& r) { return slice(r, 28, 4); };
    tag.order = [](const Bytes& v) { return v; };
    tag.isNull = [](const Bytes& v) { return v == Bytes(4, ' '); };
    ModelKey number;
    number.value = [](const Bytes& r) { return slice(r, 32, 4); };
    number.order = reversed;
    return {id, name, tag, number};
}

class Records
{
public:
    explicit Records(uint32_t seed)
        : rng_(seed)
    { }

    int pick(int n) { return int(rng_() % uint32_t(n)); }

    // Few distinct values, so that equal keys, collisions and null keys come often.
    Bytes record()
    {
        Bytes r(RecordLength, 0);
        btr::le::putN(r.data(), 8, uint64_t(int64_t(pick(120)) - 60));
        const std::string name = names_[size_t(pick(int(names_.size())))];
        std::fill(r.begin() + 8, r.begin() + 28, ' ');
        std::copy(name.begin(), name.end(), r.begin() + 8);
        const char* tags[] = {"    ", "AAAA", "BBBB", "    ", "CC  "};
        std::copy_n(tags[pick(5)], 4, r.begin() + 28);
        btr::le::put32(r.data() + 32, uint32_t(pick(400)));
        for (size_t i = 36; i < RecordLength; ++i)
            r[i] = uint8_t(rng_());
        return r;
    }
    // The record with some of its fields changed.
    Bytes changed(Bytes r)
    {
        const Bytes other = record();
        const int what = pick(8);
        const auto take = [&](size_t at, size_t n) {
            std::copy_n(other.begin() + long(at), n, r.begin() + long(at));
        };
        if (what == 0)
            take(0, 8);
        if (what <= 2)
            take(8, 20);
        if (what == 3 || what == 4)
            take(28, 4);
        if (what == 5)
            take(32, 4);
        take(36, 4);
        return r;
    }
    // A key value to search for: mostly one a record holds, sometimes any.
    Bytes value(int k, const std::vector<Bytes>& held)
    {
        const Bytes r
            = held.empty() || pick(4) == 0 ? record() : held[size_t(pick(int(held.size())))];
        const size_t at[] = {0, 8, 28, 32}, length[] = {8, 20, 4, 4};
        return slice(r, at[k], length[k]);
    }

private:
    std::mt19937 rng_;
    std::vector<std::string> names_ {"ANNA", "BERT", "OTTO", "anna", "ZOE", "ANNA B"};
};

class Browsing : public ::testing::TestWithParam<uint32_t>
{
protected:
    void SetUp() override
    {
        path = dir.file("BROWSE.BTR");
        ASSERT_EQ(create(path, image(browseSpec())), st::Success);
        ASSERT_EQ(h.open(path), st::Success);
    }
    void TearDown() override { EXPECT_EQ(h.close(), st::Success); }

    ScratchDir dir;
    std::string path;
    Handle h;
};

// Every call of a long random run answers as the model does: reads of every kind, Get Key, Get
// Direct, percentages, Insert, Update and Delete with any key number, and writes through a second
// handle on the same file in between, which this handle's walks and its Update and Delete (80)
// must see.
TEST_P(Browsing, RandomCallsAnswerAsTheModel)
{
    BrowseModel model(browseKeys());
    BrowseDriver d(h, model, 20);
    Handle other;
    ASSERT_EQ(other.open(path), st::Success);
    Records gen(GetParam());
    std::vector<Bytes> held;
    std::vector<uint32_t> known; // positions ever seen, deleted ones too
    for (int i = 0; i < 60; ++i)
        ASSERT_TRUE(d.insert(gen.record(), gen.pick(5) - 1)) << d.history();
    for (uint32_t p : model.positions())
        known.push_back(p);

    const uint16_t gets[] = {op::GetEqual, op::GetNext, op::GetPrevious, op::GetGreater,
        op::GetGreaterOrEqual, op::GetLess, op::GetLessOrEqual, op::GetFirst, op::GetLast};
    const uint16_t steps[] = {op::StepFirst, op::StepLast, op::StepNext, op::StepPrevious};
    for (int call = 0; call < 700; ++call) {
        held.clear();
        for (uint32_t p : model.positions())
            held.push_back(*model.recordAt(p));
        const int k = gen.pick(4);
        const int kOrNone = gen.pick(5) - 1;
        const auto somePosition = [&]() -> uint32_t {
            return known.empty() || gen.pick(10) == 0 ? 9999
                                                      : known[size_t(gen.pick(int(known.size())))];
        };
        ::testing::AssertionResult r = ::testing::AssertionSuccess();
        switch (gen.pick(15)) {
        case 0:
        case 1:
            r = d.get(gets[gen.pick(9)], k, gen.value(k, held), false);
            break;
        case 2:
        case 14: {
            // A walk of a few entries either way, on the key last positioned on (mostly).
            const uint16_t way = gen.pick(2) ? op::GetNext : op::GetPrevious;
            const int key = gen.pick(4) ? d.lastKey() : k;
            for (int n = gen.pick(6) + 1; n > 0 && r; --n)
                r = d.get(way, key, {}, gen.pick(8) == 0);
            break;
        }
        case 3:
            r = d.get(gets[gen.pick(9)], k, gen.value(k, held), true);
            break;
        case 4:
        case 5:
            r = d.step(steps[gen.pick(4)]);
            break;
        case 6:
            r = d.getDirect(somePosition(), kOrNone);
            break;
        case 7:
            r = d.getByPercentage(uint16_t(gen.pick(10) == 0 ? 10001 : gen.pick(10001)), kOrNone);
            break;
        case 8:
            r = d.findPercentage(kOrNone, gen.value(std::max(k, 0), held), somePosition());
            if (kOrNone >= 0)
                r = d.findPercentage(k, gen.value(k, held), 0);
            break;
        case 9:
            r = d.position();
            break;
        case 10:
            r = d.insert(gen.record(), kOrNone);
            break;
        case 11: {
            const std::optional<Bytes> current = model.currentRecord();
            r = d.update(current ? gen.changed(*current) : gen.record(), kOrNone);
            break;
        }
        case 12:
            r = d.remove(kOrNone);
            break;
        default: {
            // Another handle changes or deletes a record, or adds one.
            const uint32_t at = somePosition();
            Bytes data(4096);
            btr::le::put32(data.data(), at);
            if (other.call(op::GetDirect, data.data(), 4096, -1) != st::Success)
                break;
            const Bytes was(data.begin(), data.begin() + RecordLength);
            const int what = gen.pick(3);
            if (what == 0) {
                Bytes changed = gen.changed(was);
                const int16_t s = other.call(op::Update, changed.data(), RecordLength, -1);
                r = s == model.changeElsewhere(at, changed)
                    ? ::testing::AssertionSuccess()
                    : ::testing::AssertionFailure() << "another handle's Update answered " << s;
            } else if (what == 1) {
                ASSERT_EQ(other.call(op::Delete, data.data(), 0, -1), st::Success);
                model.removeElsewhere(at);
            } else {
                Bytes added = gen.record();
                if (other.insert(added, -1) == st::Success) {
                    uint8_t p[4];
                    ASSERT_EQ(other.call(op::GetPosition, p, 4), st::Success);
                    model.insertElsewhere(btr::le::get32(p), added);
                    known.push_back(btr::le::get32(p));
                }
            }
            break;
        }
        }
        ASSERT_TRUE(r) << d.history();
        for (uint32_t p : model.positions()) {
            if (std::find(known.begin(), known.end(), p) == known.end())
                known.push_back(p);
        }
    }
    EXPECT_EQ(other.close(), st::Success);
    // The counters Stat reports followed every write, before and after they are committed.
    for (int round = 0; round < 2; ++round) {
        int16_t status;
        const Bytes stat = h.stat(status);
        ASSERT_EQ(status, st::Success);
        EXPECT_EQ(get32(&stat[6]), model.size());
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(get32(&stat[16 + 16 * size_t(k) + 6]), model.distinctValues(k))
                << "key " << k;
        ASSERT_EQ(h.close(), st::Success);
        ASSERT_EQ(h.open(path), st::Success);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeds, Browsing, ::testing::Values(1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u));

} // namespace
