// Browsing and direct access on files of the vendor's engine, through BTRCALLID: random reads on
// synthetic files against the model of the rules, and on every fixture the answers that must agree
// with its own walks (backwards as forwards, every entry found again by position, by value and by
// percentage); writes answer 41.
#include "BrowseDriver.h"
#include "Fixtures.h"
#include "writer/LegacyWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace entrytest;
using testsupport::ModelKey;
namespace keyflag = recman::keyflag;

namespace {

constexpr uint16_t RecordLength = 24;

// Record i: key 0 a unique 4-byte integer at 1, in an order of its own; key 1 an 8-byte string of
// seven values at 5 (duplicates); key 2 a 4-byte string at 13 of three values and blanks (null).
void makeRecord(uint32_t i, std::vector<uint8_t>& r)
{
    r.assign(RecordLength, 0);
    btr::le::put32(r.data(), uint32_t(int32_t(i * 7919 % 10007) - 5000));
    const std::string name = "NAME" + std::string(1, char('A' + i % 7)) + "   ";
    std::copy(name.begin(), name.end(), r.begin() + 4);
    const char* tags[] = {"    ", "AAAA", "BB  ", "    ", "ZZZZ"};
    std::copy_n(tags[i * 13 % 5], 4, r.begin() + 12);
    for (uint32_t j = 16; j < RecordLength; ++j)
        r[j] = uint8_t(i + j);
}

legacytest::LegacyFileSpec browseSpec(uint16_t version, uint16_t pageSize, uint32_t records)
{
    legacytest::LegacyFileSpec spec;
    spec.version = version;
    spec.records = records;
    spec.freeSlotEvery = 6;
    spec.rule = makeRecord;
    recman::Definition& def = spec.definition;
    def.pageSize = pageSize;
    def.recordLength = RecordLength;
    recman::Key id, name, tag;
    id.segments.push_back({1, 4, keyflag::ExtendedType, records, 1, 0, 0, 0, 0});
    name.number = 1;
    name.segments.push_back({5, 8, keyflag::Duplicates | keyflag::ExtendedType, 7, 0, 0, 0, 0, 0});
    tag.number = 2;
    tag.segments.push_back({13, 4, keyflag::Duplicates | keyflag::NullAll | keyflag::ExtendedType,
        3, 0, ' ', 0, 0, 0});
    def.keys = {id, name, tag};
    return spec;
}

Bytes slice(const Bytes& r, size_t at, size_t n)
{
    return Bytes(r.begin() + long(at), r.begin() + long(at + n));
}

std::vector<ModelKey> browseKeys()
{
    ModelKey id;
    id.value = [](const Bytes& r) { return slice(r, 0, 4); };
    id.order = [](const Bytes& v) { return Bytes {uint8_t(v[3] ^ 0x80), v[2], v[1], v[0]}; };
    ModelKey name;
    name.duplicates = true;
    name.value = [](const Bytes& r) { return slice(r, 4, 8); };
    name.order = [](const Bytes& v) { return v; };
    ModelKey tag;
    tag.duplicates = true;
    tag.value = [](const Bytes& r) { return slice(r, 12, 4); };
    tag.order = [](const Bytes& v) { return v; };
    tag.isNull = [](const Bytes& v) { return v == Bytes(4, ' '); };
    return {id, name, tag};
}

// Every record in physical order, with its position, as Step and Get Position give them.
std::vector<std::pair<uint32_t, Bytes>> physicalOrder(Handle& h)
{
    std::vector<std::pair<uint32_t, Bytes>> out;
    Bytes r;
    for (int16_t s = h.read(op::StepFirst, r); s == st::Success; s = h.read(op::StepNext, r)) {
        uint8_t p[4];
        EXPECT_EQ(h.call(op::GetPosition, p, 4), st::Success);
        out.emplace_back(btr::le::get32(p), r);
    }
    return out;
}

struct Shape
{
    const char* name;
    uint16_t version;
    uint16_t pageSize;
    uint32_t records;
    int calls;
};

void PrintTo(const Shape& s, std::ostream* os)
{
    *os << s.name;
}

class LegacyBrowsing : public ::testing::TestWithParam<Shape>
{
};

TEST_P(LegacyBrowsing, RandomReadsAnswerAsTheModel)
{
    const Shape& shape = GetParam();
    ScratchDir dir;
    const std::string path = dir.file("BROWSE.DAT");
    legacytest::writeLegacyFile(path, browseSpec(shape.version, shape.pageSize, shape.records));
    Handle h;
    ASSERT_EQ(h.open(path, -2), st::Success);
    BrowseModel model(browseKeys());
    std::vector<uint32_t> positions;
    std::vector<Bytes> held;
    for (const auto& [pos, r] : physicalOrder(h)) {
        model.add(pos, r);
        positions.push_back(pos);
        held.push_back(r);
    }
    ASSERT_EQ(model.size(), shape.records);
    // Opened again: no position, as the model begins.
    ASSERT_EQ(h.close(), st::Success);
    ASSERT_EQ(h.open(path, -2), st::Success);
    BrowseDriver d(h, model, 8);
    std::mt19937 rng(shape.records);
    const auto pick = [&rng](size_t n) { return size_t(rng() % n); };
    const auto value = [&](int k) {
        Bytes r;
        if (pick(4) == 0)
            makeRecord(uint32_t(rng()), r);
        else
            r = held[pick(held.size())];
        const size_t at[] = {0, 4, 12}, length[] = {4, 8, 4};
        return slice(r, at[k], length[k]);
    };
    const uint16_t gets[] = {op::GetEqual, op::GetNext, op::GetPrevious, op::GetGreater,
        op::GetGreaterOrEqual, op::GetLess, op::GetLessOrEqual, op::GetFirst, op::GetLast};
    const uint16_t steps[] = {op::StepFirst, op::StepLast, op::StepNext, op::StepPrevious};
    for (int call = 0; call < shape.calls; ++call) {
        const int k = int(pick(3));
        const int kOrNone = int(pick(4)) - 1;
        const uint32_t somewhere
            = pick(8) == 0 ? uint32_t(rng() % 100000) : positions[pick(positions.size())];
        ::testing::AssertionResult r = ::testing::AssertionSuccess();
        switch (pick(8)) {
        case 0:
        case 1:
            r = d.get(gets[pick(9)], k, value(k), pick(6) == 0);
            break;
        case 2:
            for (size_t n = pick(8) + 1; n > 0 && r; --n)
                r = d.get(pick(2) ? op::GetNext : op::GetPrevious, d.lastKey(), {}, pick(8) == 0);
            break;
        case 3:
            r = d.step(steps[pick(4)]);
            break;
        case 4:
            r = d.getDirect(somewhere, kOrNone);
            break;
        case 5:
            r = d.getByPercentage(uint16_t(pick(10001)), kOrNone);
            break;
        case 6:
            r = d.findPercentage(kOrNone, value(std::max(k, 0)), somewhere);
            break;
        default:
            r = d.position();
            break;
        }
        ASSERT_TRUE(r) << d.history();
    }
    // Writes are refused whatever the position.
    Bytes any(RecordLength, 0);
    EXPECT_EQ(h.call(op::Update, any.data(), RecordLength, 0), st::OperationNotAllowed);
    EXPECT_EQ(h.call(op::Delete, any.data(), 0, 0), st::OperationNotAllowed);
    EXPECT_EQ(h.close(), st::Success);
}

// Enough records in the largest file that the ranks of physical order keep a mark only every few.
const Shape shapes[] = {
    {"v5_512", legacytest::Version5, 512, 700, 1500},
    {"v6_1024", legacytest::Version60, 1024, 900, 1500},
    {"v6_4096_many", legacytest::Version61, 4096, 12000, 800},
};

INSTANTIATE_TEST_SUITE_P(Files, LegacyBrowsing, ::testing::ValuesIn(shapes),
    [](const auto& shape) { return std::string(shape.param.name); });

// Any file: what its own walks say must agree with every other way of reaching the same entries.
void expectConsistentReads(const std::string& path)
{
    Handle h;
    ASSERT_EQ(h.open(path, -2), st::Success);
    int16_t status;
    const Bytes stat = h.stat(status);
    ASSERT_EQ(status, st::Success);
    const auto records = physicalOrder(h);
    // Physical order backwards.
    std::vector<Bytes> back;
    Bytes r, data(65535);
    for (int16_t s = h.read(op::StepLast, r, 0, 65535); s == st::Success;
         s = h.read(op::StepPrevious, r, 0, 65535))
        back.push_back(r);
    std::reverse(back.begin(), back.end());
    ASSERT_EQ(back.size(), records.size());
    for (size_t i = 0; i < back.size(); ++i)
        ASSERT_EQ(back[i], records[i].second) << "record " << i << " stepping backwards";
    // Every record again by its position, and its place in physical order as a percentage.
    const size_t n = records.size();
    for (size_t i = 0; i < n; ++i) {
        btr::le::put32(data.data(), records[i].first);
        ASSERT_EQ(h.call(op::GetDirect, data.data(), 65535, -1), st::Success);
        ASSERT_EQ(Bytes(data.begin(), data.begin() + h.lastLength), records[i].second);
        btr::le::put32(data.data(), records[i].first);
        ASSERT_EQ(h.call(op::FindPercentage, data.data(), 4, -1), st::Success);
        EXPECT_EQ(btr::le::get32(data.data()),
            n == 1 ? 0u : uint32_t((2 * i * 10000 + n - 1) / (2 * (n - 1))));
    }
    const uint16_t percents[] = {0, 1, 3333, 5000, 9999, 10000};
    for (uint16_t p : percents) {
        btr::le::put16(data.data(), p);
        const int16_t s = h.call(op::GetByPercentage, data.data(), 65535, -1);
        if (n == 0) {
            EXPECT_EQ(s, st::EndOfFile);
            continue;
        }
        ASSERT_EQ(s, st::Success);
        EXPECT_EQ(Bytes(data.begin(), data.begin() + h.lastLength),
            records[size_t(uint64_t(p) * (n - 1) / 10000)].second);
    }

    // Each key's value length: its segments' lengths, the segments of a key one after another.
    const int keys = int16_t(btr::le::get16(&stat[4]));
    std::vector<size_t> valueLength;
    bool startsKey = true;
    for (size_t at = 16; (int(valueLength.size()) < keys || !startsKey) && at + 16 <= stat.size();
         at += 16) {
        if (startsKey)
            valueLength.push_back(0);
        valueLength.back() += btr::le::get16(&stat[at + 2]);
        startsKey = !(btr::le::get16(&stat[at + 4]) & keyflag::Segmented);
    }
    ASSERT_EQ(int(valueLength.size()), keys);
    for (int k = 0; k < keys; ++k) {
        SCOPED_TRACE(testing::Message() << "key " << k);
        std::vector<Bytes> forward, values, backward;
        std::vector<uint32_t> places;
        for (int16_t s = h.read(op::GetFirst, r, k, 65535); s == st::Success;
             s = h.read(op::GetNext, r, k, 65535)) {
            forward.push_back(r);
            values.emplace_back(h.key, h.key + valueLength[size_t(k)]);
            uint8_t p[4];
            ASSERT_EQ(h.call(op::GetPosition, p, 4), st::Success);
            places.push_back(btr::le::get32(p));
        }
        for (int16_t s = h.read(op::GetLast, r, k, 65535); s == st::Success;
             s = h.read(op::GetPrevious, r, k, 65535))
            backward.push_back(r);
        std::reverse(backward.begin(), backward.end());
        ASSERT_EQ(backward, forward);
        const size_t m = forward.size();
        // The entry a Get given `value` finds, as its index in the walk; m when none.
        const auto indexOf = [&](uint16_t get, const Bytes& value) {
            std::copy(value.begin(), value.end(), h.key);
            uint8_t p[4];
            if (h.read(get, r, k, 65535) != st::Success
                || h.call(op::GetPosition, p, 4) != st::Success)
                return m;
            return size_t(
                std::find(places.begin(), places.end(), btr::le::get32(p)) - places.begin());
        };
        for (size_t i = 0; i < m; i += 1 + m / 40) {
            // Get Direct on the key puts the position at this very entry among its equals.
            btr::le::put32(data.data(), places[i]);
            ASSERT_EQ(h.call(op::GetDirect, data.data(), 65535, k), st::Success);
            if (i + 1 < m) {
                ASSERT_EQ(h.read(op::GetNext, r, k, 65535), st::Success);
                EXPECT_EQ(r, forward[i + 1]) << "after entry " << i;
            }
            // Which values are equal is the key's business (a zstring ends at its first zero
            // byte, whatever follows): Get Equal says where a value's entries begin, Get Less or
            // Equal where they end, and every other answer must agree with them.
            const size_t first = indexOf(op::GetEqual, values[i]);
            const size_t last = indexOf(op::GetLessOrEqual, values[i]);
            ASSERT_LE(first, i);
            ASSERT_GE(last, i);
            if (first > 0) {
                EXPECT_LT(indexOf(op::GetEqual, values[first - 1]), first);
            }
            if (last + 1 < m) {
                EXPECT_EQ(indexOf(op::GetEqual, values[last + 1]), last + 1);
            }
            EXPECT_EQ(indexOf(op::GetGreaterOrEqual, values[i]), first);
            EXPECT_EQ(indexOf(op::GetGreater, values[i]), last + 1);
            EXPECT_EQ(indexOf(op::GetLess, values[i]), first == 0 ? m : first - 1);
            std::copy(values[i].begin(), values[i].end(), h.key);
            ASSERT_EQ(h.call(op::FindPercentage, data.data(), 4, k), st::Success);
            EXPECT_EQ(btr::le::get32(data.data()),
                m == 1 ? 0u : uint32_t((2 * first * 10000 + m - 1) / (2 * (m - 1))));
        }
        for (uint16_t p : percents) {
            btr::le::put16(data.data(), p);
            const int16_t s = h.call(op::GetByPercentage, data.data(), 65535, k);
            if (m == 0) {
                EXPECT_EQ(s, st::EndOfFile);
                continue;
            }
            ASSERT_EQ(s, st::Success);
            EXPECT_EQ(Bytes(data.begin(), data.begin() + h.lastLength),
                forward[size_t(uint64_t(p) * (m - 1) / 10000)]);
        }
    }
    Bytes any(65535, 0);
    EXPECT_EQ(
        h.call(op::Update, any.data(), btr::le::get16(&stat[0]), -1), st::OperationNotAllowed);
    EXPECT_EQ(h.call(op::Delete, any.data(), 0, -1), st::OperationNotAllowed);
    EXPECT_EQ(h.close(), st::Success);
}

TEST(LegacyBrowsingFixtures, EveryWayToAnEntryAgrees)
{
    REQUIRE_LEGACY_FIXTURES();
    for (const char* name : {"MBBSEMU.DAT", "VARIABLE.DAT", "GALTELA.DAT", "WGSMENU2.DAT",
             "MULTIACS.DAT", "MBMGEPLT.DAT", "WCCACMS2.DAT", "BBSGEN.VIR"}) {
        SCOPED_TRACE(name);
        expectConsistentReads(legacytest::fixturePath(name).string());
    }
}

// The newer formats, compressed records and system data reach their records by other paths (slots
// of their own page layout, records decoded from fragments): every way to an entry must agree on
// them as on the files above.
TEST(LegacyBrowsingFormats, EveryWayToAnEntryAgrees)
{
    struct Format
    {
        const char* name;
        uint16_t version;
        uint16_t pageSize;
        bool compressed;
        bool systemData;
        int ownerMode;
    };
    const Format formats[] = {
        {"v5_compressed", legacytest::Version5, 1024, true, false, -1},
        {"v60_compressed", legacytest::Version60, 512, true, false, -1},
        {"v80", legacytest::Version80, 512, false, false, -1},
        {"v80_compressed_system_data", legacytest::Version80, 1536, true, true, -1},
        {"v90_system_data", legacytest::Version90, 2048, false, true, -1},
        {"v95", legacytest::Version95, 4096, false, false, -1},
        {"v95_compressed", legacytest::Version95, 512, true, false, -1},
        {"v95_owner_plain", legacytest::Version95, 1024, false, false, 1},
    };
    ScratchDir dir;
    for (const Format& f : formats) {
        SCOPED_TRACE(f.name);
        legacytest::LegacyFileSpec spec = browseSpec(f.version, f.pageSize, 700);
        if (f.compressed) {
            spec.definition.fileFlags |= recman::fileflag::Compressed;
            spec.fragmentLimit = 11;
        }
        spec.systemData = f.systemData;
        if (f.ownerMode >= 0) {
            spec.owner.set = true;
            spec.owner.mode = uint8_t(f.ownerMode);
        }
        const std::string path = dir.file(std::string(f.name) + ".DAT");
        legacytest::writeLegacyFile(path, spec);
        expectConsistentReads(path);
    }
}

// In the salvage modes only physical order is read; the keys answer 41.
TEST(LegacyBrowsingSalvage, PhysicalOrderOnly)
{
    ScratchDir dir;
    const std::string path = dir.file("SALVAGE.DAT");
    legacytest::writeLegacyFile(path, browseSpec(legacytest::Version60, 1024, 200));
    Handle h;
    ASSERT_EQ(h.open(path, btr::mode::Salvage), st::Success);
    Bytes r, data(4096);
    ASSERT_EQ(h.read(op::StepLast, r), st::Success);
    ASSERT_EQ(h.read(op::StepPrevious, r), st::Success);
    btr::le::put16(data.data(), 10000);
    ASSERT_EQ(h.call(op::GetByPercentage, data.data(), 4096, -1), st::Success);
    btr::le::put16(data.data(), 10000);
    EXPECT_EQ(h.call(op::GetByPercentage, data.data(), 4096, 0), st::OperationNotAllowed);
    EXPECT_EQ(h.read(op::GetLast, r, 0), st::OperationNotAllowed);
    EXPECT_EQ(h.read(op::GetGreaterOrEqual, r, 1), st::OperationNotAllowed);
    uint8_t p[4];
    ASSERT_EQ(h.call(op::GetPosition, p, 4), st::Success);
    std::copy(p, p + 4, data.begin());
    EXPECT_EQ(h.call(op::GetDirect, data.data(), 4096, -1), st::Success);
    std::copy(p, p + 4, data.begin());
    EXPECT_EQ(h.call(op::GetDirect, data.data(), 4096, 1), st::OperationNotAllowed);
    EXPECT_EQ(h.close(), st::Success);
}

} // namespace
