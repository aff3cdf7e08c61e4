// What the reader finds in the real files written by the vendor's engine: their definitions,
// their records in page order and their records in the order of every key.
#include "LegacyFile.h"
#include "Fixtures.h"
#include "KeyCodec.h"
#include "KeyOrder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

using namespace recman;
using namespace recman::legacy;
using legacytest::fixturePath;

namespace {

struct SegmentFacts
{
    int key;
    uint16_t position;
    uint16_t length;
    uint16_t flags;
    uint32_t keyValues;
    uint8_t extType;
    uint8_t acsNumber;
};

struct FileFacts
{
    const char* name;
    uint16_t version;
    uint16_t recordLength;
    uint16_t pageSize;
    uint32_t records;
    uint16_t fileFlags;
    size_t keys;
    std::vector<SegmentFacts> segments;
    std::vector<std::string> acsNames;
};

void PrintTo(const FileFacts& facts, std::ostream* os)
{
    *os << facts.name;
}

const FileFacts allFiles[] = {
    {"MBBSEMU.DAT", 0x0400, 74, 512, 4, 0x0000, 4,
        {{0, 3, 32, 0x0101, 1, 11, 0}, {1, 35, 4, 0x0102, 4, 1, 0}, {2, 39, 32, 0x0103, 4, 11, 0},
            {3, 71, 4, 0x0100, 4, 15, 0}},
        {}},
    {"VARIABLE.DAT", 0x0400, 8, 512, 1024, 0x0001, 2,
        {{0, 5, 2, 0x0101, 64, 1, 0}, {1, 7, 2, 0x0100, 1024, 1, 0}}, {}},
    {"GALTELA.DAT", 0x0600, 950, 4096, 73, 0x0000, 3,
        {{0, 1, 16, 0x0130, 73, 11, 0}, {0, 17, 16, 0x0120, 73, 11, 0},
            {1, 1, 16, 0x0121, 2, 11, 0}, {2, 17, 16, 0x0121, 73, 11, 0}},
        {"GALCAPS "}},
    {"WGSMENU2.DAT", 0x0600, 448, 4096, 46, 0x0001, 1, {{0, 1, 17, 0x0122, 46, 11, 0}},
        {"GALCAPS "}},
    {"MULTIACS.DAT", 0x0610, 128, 4096, 0, 0x0001, 3,
        {{0, 3, 16, 0x0521, 0, 11, 0}, {1, 21, 4, 0x0110, 0, 1, 0}, {1, 25, 8, 0x0100, 0, 2, 0},
            {2, 31, 16, 0x0520, 0, 11, 1}},
        {"ALLCAPS", "LOWER"}},
    // A 5.x file with 1 KiB pages: an unsigned 6-byte key, a zstring key with duplicates and an
    // unsigned 2-byte key with duplicates.
    {"MBMGEPLT.DAT", 0x0400, 493, 1024, 22, 0x0000, 3,
        {{0, 1, 6, 0x0104, 22, 14, 0}, {1, 25, 30, 0x0103, 8, 11, 0}, {2, 7, 2, 0x0105, 3, 14, 0}},
        {}},
    // The largest: a 6.0 file of 7639 records of 400 bytes on 881 pages, one autoincrement key.
    {"WCCACMS2.DAT", 0x0600, 400, 4096, 7639, 0x0000, 1, {{0, 1, 2, 0x0100, 7639, 15, 0}}, {}},
};

class FixtureTest : public testing::TestWithParam<FileFacts>
{
protected:
    void SetUp() override
    {
        REQUIRE_LEGACY_FIXTURES();
        int16_t status = -1;
        std::string reason;
        file = LegacyFile::open(fixturePath(GetParam().name), status, reason);
        ASSERT_EQ(status, 0) << reason;
        ASSERT_TRUE(file);
    }

    std::vector<Locator> stepAll()
    {
        std::vector<Locator> found;
        Locator loc = 0;
        int16_t s = file->stepFirst(loc);
        while (s == 0 && found.size() <= GetParam().records) {
            found.push_back(loc);
            s = file->stepNext(loc);
        }
        EXPECT_EQ(s, status::EndOfFile);
        return found;
    }

    std::unique_ptr<LegacyFile> file;
};

TEST_P(FixtureTest, DefinitionMatchesTheFile)
{
    const FileFacts& facts = GetParam();
    const Definition& def = file->definition();
    EXPECT_EQ(file->version(), facts.version);
    EXPECT_EQ(def.recordLength, facts.recordLength);
    EXPECT_EQ(def.pageSize, facts.pageSize);
    EXPECT_EQ(def.numRecords, facts.records);
    EXPECT_EQ(file->recordCount(), facts.records);
    EXPECT_EQ(def.fileFlags, facts.fileFlags);
    ASSERT_EQ(def.keys.size(), facts.keys);
    ASSERT_EQ(size_t(def.segmentCount()), facts.segments.size());
    size_t i = 0;
    for (const Key& key : def.keys) {
        EXPECT_EQ(key.number, int(&key - def.keys.data()));
        for (const Segment& seg : key.segments) {
            const SegmentFacts& want = facts.segments[i++];
            SCOPED_TRACE(testing::Message() << "segment " << i - 1);
            EXPECT_EQ(key.number, want.key);
            EXPECT_EQ(seg.position, want.position);
            EXPECT_EQ(seg.length, want.length);
            EXPECT_EQ(seg.flags, want.flags);
            EXPECT_EQ(seg.numKeyValues, want.keyValues);
            EXPECT_EQ(seg.extType, want.extType);
            EXPECT_EQ(seg.nullValue, 0);
            EXPECT_EQ(seg.acsNumber, want.acsNumber);
        }
        EXPECT_EQ(file->keyValues()[size_t(key.number)], key.segments[0].numKeyValues);
    }
    ASSERT_EQ(def.acsBlocks.size(), facts.acsNames.size());
    for (size_t b = 0; b < facts.acsNames.size(); ++b) {
        const auto& block = def.acsBlocks[b].bytes;
        EXPECT_EQ(block[0], 0xAC);
        std::string name(reinterpret_cast<const char*>(&block[1]), 8);
        EXPECT_EQ(name.substr(0, name.find('\0')), facts.acsNames[b]);
    }
}

TEST_P(FixtureTest, StepReturnsEveryRecordOnceInPageOrder)
{
    std::vector<Locator> found = stepAll();
    EXPECT_EQ(found.size(), GetParam().records);
    EXPECT_TRUE(std::is_sorted(found.begin(), found.end()));
    EXPECT_EQ(std::set<Locator>(found.begin(), found.end()).size(), found.size());
    std::set<uint32_t> positions;
    std::vector<uint8_t> record;
    for (Locator loc : found) {
        ASSERT_EQ(file->readRecord(loc, record), 0);
        if (file->definition().variableLength())
            EXPECT_GE(record.size(), GetParam().recordLength);
        else
            EXPECT_EQ(record.size(), GetParam().recordLength);
        positions.insert(file->position(loc));
    }
    EXPECT_EQ(positions.size(), found.size());
}

// Every key returns each record whose key is not null exactly once, ordered by the key codec,
// equal keys in the order of their duplicate chain (page order in these files); the distinct
// values agree with the count the file keeps.
TEST_P(FixtureTest, EveryKeyReturnsItsRecordsInCodecOrder)
{
    std::vector<Locator> stepped = stepAll();
    const Definition& def = file->definition();
    for (size_t k = 0; k < def.keys.size(); ++k) {
        SCOPED_TRACE(testing::Message() << "key " << k);
        int16_t s = -1;
        const KeyOrder* index = file->keyOrder(int(k), s);
        ASSERT_EQ(s, 0);
        ASSERT_TRUE(index);
        ASSERT_EQ(index->size(), stepped.size()); // no key of these files can be null
        KeyCodec codec(def.keys[k], def.acsBlocks);
        std::vector<uint8_t> record, encoded, previous;
        std::vector<Locator> seen;
        size_t distinct = 0;
        for (size_t i = 0; i < index->size(); ++i) {
            ASSERT_EQ(file->readFixedPart(index->locator(i), record), 0);
            ASSERT_TRUE(codec.encode(record.data(), record.size(), encoded));
            if (i > 0) {
                ASSERT_LE(previous, encoded) << "at " << i;
                if (previous == encoded) {
                    EXPECT_LT(index->locator(i - 1), index->locator(i));
                }
            }
            distinct += i == 0 || previous != encoded;
            previous = encoded;
            seen.push_back(index->locator(i));
        }
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, stepped);
        EXPECT_EQ(distinct, file->keyValues()[k]);
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, FixtureTest, testing::ValuesIn(allFiles),
    [](const testing::TestParamInfo<FileFacts>& param) {
        std::string name = param.param.name;
        return name.substr(0, name.find('.'));
    });

std::unique_ptr<LegacyFile> openFixture(const char* name)
{
    int16_t status = -1;
    std::string reason;
    auto file = LegacyFile::open(fixturePath(name), status, reason);
    EXPECT_EQ(status, 0) << reason;
    return file;
}

// Record i: 0xDEADBEEF, i % 64, i, then the bytes 0, 1, ..., i - 1 (each modulo 256).
std::vector<uint8_t> variableRecord(uint16_t i)
{
    std::vector<uint8_t> r
        = {0xEF, 0xBE, 0xAD, 0xDE, uint8_t(i % 64), 0, uint8_t(i), uint8_t(i >> 8)};
    for (unsigned b = 0; b < i; ++b)
        r.push_back(uint8_t(b));
    return r;
}

TEST(VariableLengthFile, EveryRecordIsReturnedWholeByteForByte)
{
    REQUIRE_LEGACY_FIXTURES();
    auto file = openFixture("VARIABLE.DAT");
    ASSERT_TRUE(file);
    std::vector<uint8_t> record;
    Locator loc = 0;
    uint16_t i = 0;
    for (int16_t s = file->stepFirst(loc); s == 0 && i < 1100; s = file->stepNext(loc), ++i) {
        ASSERT_EQ(file->readRecord(loc, record), 0) << "record " << i;
        ASSERT_EQ(record, variableRecord(i)) << "record " << i;
    }
    EXPECT_EQ(i, 1024);
}

// WGSMENU2.DAT keeps a menu's options in the variable part: at byte 442 of the fixed part the
// number of options n, then n entries of 126 bytes each naming a menu page, then two bytes. Records
// of several fragments must come back with every entry in place.
TEST(VariableLengthFile, SixPointZeroRecordsHoldTheirWholeVariablePart)
{
    REQUIRE_LEGACY_FIXTURES();
    auto file = openFixture("WGSMENU2.DAT");
    ASSERT_TRUE(file);
    std::vector<uint8_t> record;
    Locator loc = 0;
    size_t longest = 0;
    int records = 0;
    for (int16_t s = file->stepFirst(loc); s == 0; s = file->stepNext(loc), ++records) {
        ASSERT_EQ(file->readRecord(loc, record), 0);
        size_t options = record[442] | (record[443] << 8);
        longest = std::max(longest, record.size());
        if (record.size() == 448) {
            EXPECT_EQ(options, 0u);
            continue;
        }
        ASSERT_EQ(record.size(), 448 + 126 * options + 2) << "record " << records;
        for (size_t j = 0; j < options; ++j) {
            // Each entry names its menu page at byte 12: capitals and digits, zero-terminated.
            const char* name = reinterpret_cast<const char*>(&record[448 + 126 * j + 12]);
            std::string text(name, strnlen(name, 10));
            EXPECT_TRUE(!text.empty() && text.size() < 10
                && std::all_of(text.begin(), text.end(),
                    [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }))
                << "record " << records << " entry " << j << ": " << text;
        }
    }
    EXPECT_EQ(records, 46);
    EXPECT_EQ(longest, 2214u); // 14 options, on more than one fragment
}

// The integer keys give an order that can be told from the generating rule alone.
TEST(VariableLengthFile, KeysOrderByTheirIntegers)
{
    REQUIRE_LEGACY_FIXTURES();
    auto file = openFixture("VARIABLE.DAT");
    ASSERT_TRUE(file);
    for (int k = 0; k < 2; ++k) {
        int16_t s = -1;
        const KeyOrder* index = file->keyOrder(k, s);
        ASSERT_TRUE(index);
        std::vector<std::pair<int, int>> expected, got;
        for (int i = 0; i < 1024; ++i)
            expected.push_back({k == 0 ? i % 64 : i, i});
        std::sort(expected.begin(), expected.end());
        std::vector<uint8_t> record;
        for (size_t n = 0; n < index->size(); ++n) {
            ASSERT_EQ(file->readRecord(index->locator(n), record), 0);
            int i = record[6] | (record[7] << 8);
            got.push_back({k == 0 ? i % 64 : i, i});
            ASSERT_EQ(record, variableRecord(uint16_t(i)));
        }
        EXPECT_EQ(got, expected) << "key " << k;
    }
}

// A signed integer key: a negative value comes first although its bytes are the largest.
TEST(FixedLengthFile, SignedIntegerKeyPutsNegativeValuesFirst)
{
    REQUIRE_LEGACY_FIXTURES();
    auto file = openFixture("MBBSEMU.DAT");
    ASSERT_TRUE(file);
    int16_t s = -1;
    const KeyOrder* index = file->keyOrder(1, s);
    ASSERT_TRUE(index);
    std::vector<int32_t> values;
    std::vector<uint8_t> record;
    for (size_t n = 0; n < index->size(); ++n) {
        ASSERT_EQ(file->readRecord(index->locator(n), record), 0);
        int32_t v;
        std::memcpy(&v, &record[34], 4);
        values.push_back(v);
    }
    ASSERT_EQ(values.size(), 4u);
    EXPECT_LT(values[0], 0);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
}

// MBBSEMU.DAT: records in slots 0 to 3 of page 5 (90 bytes each); slot 4 is free.
const uint32_t mbbsemuSlot[5] = {0xA06, 0xA60, 0xABA, 0xB14, 0xB6E};

// Writes a record address or chain link (two 16-bit words, high word first).
void putLink(std::vector<uint8_t>& b, size_t at, uint32_t link)
{
    const uint16_t words[2] = {uint16_t(link >> 16), uint16_t(link)};
    for (int w = 0; w < 2; ++w) {
        b[at + 2 * w] = uint8_t(words[w]);
        b[at + 2 * w + 1] = uint8_t(words[w] >> 8);
    }
}

// Records of equal value come in the order of the file's duplicate chain, which after reused
// slots is not page order; a chain that does not hold together leaves page order.
TEST(KeyOrder, DuplicatesFollowTheirChain)
{
    REQUIRE_LEGACY_FIXTURES();
    // MBBSEMU.DAT: the four records all have key 0 value "Sysop", chained in slot order through
    // the 8 bytes after each record's 74 bytes of data.
    const uint32_t* slot = mbbsemuSlot;
    auto chain = [&](std::vector<uint8_t>& bytes, std::vector<int> order) {
        for (size_t i = 0; i < order.size(); ++i) {
            size_t links = slot[order[i]] + 74;
            putLink(bytes, links, i == 0 ? 0xFFFFFFFF : slot[order[i - 1]]);
            putLink(bytes, links + 4, i + 1 == order.size() ? 0xFFFFFFFF : slot[order[i + 1]]);
        }
    };
    const std::vector<uint8_t> original = legacytest::readAll(fixturePath("MBBSEMU.DAT"));
    struct Case
    {
        std::vector<int> chain;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{0, 1, 2, 3}, {0, 1, 2, 3}}, {{2, 0, 3, 1}, {2, 0, 3, 1}}, {{3, 2, 1, 0}, {3, 2, 1, 0}},
        {{2, 0, 3}, {0, 1, 2, 3}}, // record 1 left out of the chain: page order
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = original;
        chain(bytes, c.chain);
        if (c.chain.size() == 3) {
            // The record left out claims to follow record 0 as well.
            std::copy_n(&bytes[slot[0] + 74], 8, &bytes[slot[1] + 74]);
        }
        legacytest::ScratchDir dir;
        legacytest::writeAll(dir.path("CHAIN.DAT"), bytes);
        int16_t s = -1;
        std::string reason;
        auto file = LegacyFile::open(dir.path("CHAIN.DAT"), s, reason);
        ASSERT_TRUE(file) << reason;
        const KeyOrder* index = file->keyOrder(0, s);
        ASSERT_TRUE(index);
        std::vector<int> got;
        for (size_t i = 0; i < index->size(); ++i)
            got.push_back(int(std::find(slot, slot + 4, file->position(index->locator(i))) - slot));
        EXPECT_EQ(got, c.expected);
    }
}

// Which 5.x slots hold records: those on the chain of deleted records do not, nor do slots of
// zeros after a link in their first four bytes; anything else does.
TEST(FreeSlots, DeletedChainAndFreedSlotsAreTold)
{
    REQUIRE_LEGACY_FIXTURES();
    const uint32_t* slot = mbbsemuSlot;
    struct Case
    {
        const char* what;
        void (*alter)(std::vector<uint8_t>&);
        std::vector<int> records;
    };
    const Case cases[] = {
        {"as written", [](std::vector<uint8_t>&) {}, {0, 1, 2, 3}},
        {"slot 1 deleted, its data left behind",
            [](std::vector<uint8_t>& b) {
                putLink(b, 0x10, mbbsemuSlot[1]);
                putLink(b, mbbsemuSlot[1], 0xFFFFFFFF);
            },
            {0, 2, 3}},
        {"slots 3 and 1 deleted",
            [](std::vector<uint8_t>& b) {
                putLink(b, 0x10, mbbsemuSlot[3]);
                putLink(b, mbbsemuSlot[3], mbbsemuSlot[1]);
                putLink(b, mbbsemuSlot[1], 0xFFFFFFFF);
            },
            {0, 2}},
        {"a chain that loops is not trusted",
            [](std::vector<uint8_t>& b) {
                putLink(b, 0x10, mbbsemuSlot[1]);
                putLink(b, mbbsemuSlot[1], mbbsemuSlot[1]);
            },
            {0, 1, 2, 3}},
        {"record of four bytes of data, zeros after",
            [](std::vector<uint8_t>& b) { putLink(b, mbbsemuSlot[4], 0x01020304); },
            {0, 1, 2, 3, 4}},
        {"freed slot linking to another slot",
            [](std::vector<uint8_t>& b) { putLink(b, mbbsemuSlot[4], mbbsemuSlot[0]); },
            {0, 1, 2, 3}},
    };
    const std::vector<uint8_t> original = legacytest::readAll(fixturePath("MBBSEMU.DAT"));
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = original;
        c.alter(bytes);
        legacytest::ScratchDir dir;
        legacytest::writeAll(dir.path("FREE.DAT"), bytes);
        int16_t s = -1;
        std::string reason;
        auto file = LegacyFile::open(dir.path("FREE.DAT"), s, reason);
        ASSERT_TRUE(file) << reason;
        std::vector<int> found;
        Locator loc = 0;
        for (s = file->stepFirst(loc); s == 0 && found.size() < 6; s = file->stepNext(loc))
            found.push_back(int(std::find(slot, slot + 5, file->position(loc)) - slot));
        EXPECT_EQ(found, c.records) << c.what;
    }
}

TEST(KeyOrder, UnknownKeyAnswersInvalidKeyNumber)
{
    REQUIRE_LEGACY_FIXTURES();
    auto file = openFixture("MBBSEMU.DAT");
    ASSERT_TRUE(file);
    for (int k : {-1, 4, 119}) {
        int16_t s = -1;
        EXPECT_EQ(file->keyOrder(k, s), nullptr);
        EXPECT_EQ(s, status::InvalidKeyNumber);
    }
}

} // namespace
