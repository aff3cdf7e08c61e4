// Files from the synthetic writer, opened by the legacy reader: every record comes back once, in
// step order and in the order of every key, with the bytes the rule gave, in every family and
// variant (compressed, the newer format's sub-layouts, system data, variable tails, owner names
// plain and encrypted); stale copies and freed slots are never read; files of several table pairs
// are read through all of them. Damaged tables and counts answer 2.
#include "LegacyWriter.h"

#include "Compression.h"
#include "KeyOrder.h"
#include "LegacyFile.h"
#include "LittleEndian.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <numeric>
#include <string>

using namespace legacytest;
using recman::legacy::LegacyFile;
using recman::legacy::Locator;
namespace keyflag = recman::keyflag;

namespace {

constexpr uint16_t RecordLength = 24;

// Record i: a unique integer key that orders records apart from their insertion, an 8-byte string
// key of seven values (duplicates), then bytes that follow i; variable-length records add i * 37
// % 700 bytes (none for every fifth), enough to span variable pages at page 512.
uint32_t uniqueKeyOf(uint32_t i)
{
    return i * 7919 % 1000003 + 1;
}

// Records of compressed files also hold runs: a run to the end of the fixed part, or two runs one
// after the other (an empty literal block between them).
void makeRecord(uint32_t i, bool variable, bool runs, std::vector<uint8_t>& record)
{
    record.resize(RecordLength);
    btr::le::put32(record.data(), uniqueKeyOf(i));
    std::string name = "DUP" + std::string(1, char('A' + i % 7)) + "KEY ";
    std::copy(name.begin(), name.end(), record.begin() + 4);
    for (uint32_t j = 12; j < RecordLength; ++j)
        record[j] = uint8_t(i + j);
    if (runs && i % 3 == 0)
        std::fill(record.begin() + 12, record.end(), 'Z');
    if (runs && i % 3 == 1) {
        std::fill(record.begin() + 12, record.begin() + 18, 0);
        std::fill(record.begin() + 18, record.end(), 7);
    }
    if (variable && i % 5 != 0)
        for (uint32_t j = 0; j < i * 37 % 700; ++j)
            record.push_back(runs && j % 100 < 40 ? uint8_t(j / 100) : uint8_t(i * 3 + j));
}

recman::AcsBlockDef acsBlock(const char* name, bool upper)
{
    recman::AcsBlockDef block;
    block.bytes[0] = recman::AcsSignature;
    std::copy_n(name, std::min<size_t>(8, std::strlen(name)), block.bytes.begin() + 1);
    for (int c = 0; c < 256; ++c)
        block.bytes[9 + size_t(c)] = uint8_t(upper && c >= 'a' && c <= 'z' ? c - 32 : c);
    return block;
}

// The fields stand in the order the tables below give them.
struct Shape // NOLINT(clang-analyzer-optin.performance.Padding)
{
    const char* name;
    uint16_t version;
    uint16_t pageSize;
    bool variable;
    uint32_t records;
    uint32_t freeSlotEvery = 0;
    uint32_t staleEvery = 0;
    bool scatter = false;
    uint32_t fragmentLimit = 0;
    CurrentCopy current = CurrentCopy::Alternating;
    int acsCount = 0; // 0, 1, or 2 (key 1 in two segments, one per sequence)
    bool compressed = false;
    bool systemData = false;
    bool variableTail = false;
    int ownerMode = -1; // none
    int rule = 1;
    uint32_t unusedFragmentEvery = 0;
};

LegacyFileSpec specOf(const Shape& shape)
{
    LegacyFileSpec spec;
    spec.version = shape.version;
    spec.records = shape.records;
    spec.freeSlotEvery = shape.freeSlotEvery;
    spec.staleEvery = shape.staleEvery;
    spec.scatter = shape.scatter;
    spec.fragmentLimit = shape.fragmentLimit;
    spec.current = shape.current;
    spec.systemData = shape.systemData;
    spec.variableTail = shape.variableTail;
    spec.tailBlock = 100;
    spec.unusedFragmentEvery = shape.unusedFragmentEvery;
    if (shape.ownerMode >= 0) {
        spec.owner.set = true;
        spec.owner.mode = uint8_t(shape.ownerMode);
        spec.owner.rule = shape.rule;
    }
    const bool variable = shape.variable;
    const bool runs = shape.compressed;
    spec.rule = [variable, runs](
                    uint32_t i, std::vector<uint8_t>& r) { makeRecord(i, variable, runs, r); };
    recman::Definition& def = spec.definition;
    def.pageSize = shape.pageSize;
    def.recordLength = RecordLength;
    def.fileFlags = uint16_t((variable ? recman::fileflag::VariableLength : 0)
        | (shape.compressed ? recman::fileflag::Compressed : 0));
    recman::Key unique;
    unique.segments.push_back({1, 4, keyflag::ExtendedType, shape.records, 1, 0, 0, 0, 0});
    recman::Key names;
    names.number = 1;
    uint16_t nameFlags = keyflag::Duplicates | keyflag::ExtendedType;
    if (shape.acsCount == 0) {
        names.segments.push_back({5, 8, nameFlags, 7, 0, 0, 0, 0, 0});
    } else {
        def.acsBlocks.push_back(acsBlock("UPPER", true));
        nameFlags |= keyflag::Acs;
        uint16_t first = shape.acsCount == 2 ? nameFlags | keyflag::Segmented : nameFlags;
        names.segments.push_back(
            {5, uint16_t(shape.acsCount == 2 ? 4 : 8), first, 7, 0, 0, 0, 0, 0});
        if (shape.acsCount == 2) {
            def.acsBlocks.push_back(acsBlock("PLAIN", false));
            names.segments.push_back({9, 4, nameFlags, 7, 0, 0, 0, 0, 1});
        }
    }
    def.keys = {unique, names};
    return spec;
}

// Record numbers in the order of each key: by the unique integer; by the name, equal names in
// the order they were added.
std::vector<std::vector<uint32_t>> keyOrders(uint32_t records)
{
    std::vector<uint32_t> byUnique(records), byName(records);
    std::iota(byUnique.begin(), byUnique.end(), 0u);
    std::iota(byName.begin(), byName.end(), 0u);
    std::sort(byUnique.begin(), byUnique.end(),
        [](uint32_t a, uint32_t b) { return uniqueKeyOf(a) < uniqueKeyOf(b); });
    std::stable_sort(
        byName.begin(), byName.end(), [](uint32_t a, uint32_t b) { return a % 7 < b % 7; });
    return {byUnique, byName};
}

std::filesystem::path scratchFile(const std::string& name)
{
    return std::filesystem::path(testing::TempDir()) / ("legacy_writer_" + name + ".dat");
}

// Opens the file; when it is read (status 0), checks the definition and every record in step
// order and in the order of every key against the rule.
void expectReads(const std::filesystem::path& path, const LegacyFileSpec& spec, int16_t expected)
{
    int16_t status = -1;
    std::string reason;
    auto file = LegacyFile::open(path.string(), status, reason);
    ASSERT_EQ(status, expected) << reason;
    if (expected != 0)
        return;
    ASSERT_TRUE(file);
    const recman::Definition& def = file->definition();
    EXPECT_EQ(file->version(), spec.version);
    EXPECT_EQ(file->recordCount(), spec.records);
    EXPECT_EQ(def.pageSize, spec.definition.pageSize);
    EXPECT_EQ(def.recordLength, spec.definition.recordLength);
    EXPECT_EQ(def.variableLength(), spec.definition.variableLength());
    ASSERT_EQ(def.keys.size(), spec.definition.keys.size());
    for (size_t k = 0; k < def.keys.size(); ++k) {
        const auto& got = def.keys[k].segments;
        const auto& want = spec.definition.keys[k].segments;
        ASSERT_EQ(got.size(), want.size());
        for (size_t s = 0; s < got.size(); ++s) {
            EXPECT_EQ(got[s].position, want[s].position);
            EXPECT_EQ(got[s].length, want[s].length);
            EXPECT_EQ(got[s].flags, want[s].flags);
            EXPECT_EQ(got[s].extType, want[s].extType);
            EXPECT_EQ(got[s].acsNumber, want[s].acsNumber);
        }
        // The newer format keeps no unique-value count where it is known.
        EXPECT_EQ(file->keyValues()[k], spec.version >= Version80 ? 0 : want.front().numKeyValues);
    }
    ASSERT_EQ(def.acsBlocks.size(), spec.definition.acsBlocks.size());
    for (size_t a = 0; a < def.acsBlocks.size(); ++a)
        EXPECT_EQ(def.acsBlocks[a].bytes, spec.definition.acsBlocks[a].bytes);

    std::vector<uint8_t> got, want;
    Locator loc = 0;
    uint32_t i = 0;
    for (int16_t s = file->stepFirst(loc); s != 9; s = file->stepNext(loc), ++i) {
        ASSERT_EQ(s, 0);
        ASSERT_LT(i, spec.records) << "more records than were written";
        ASSERT_EQ(file->readRecord(loc, got), 0);
        want.clear();
        spec.rule(i, want);
        ASSERT_EQ(got, want) << "record " << i << " in step order";
    }
    EXPECT_EQ(i, spec.records);

    const auto orders = keyOrders(spec.records);
    for (int k = 0; k < 2; ++k) {
        const recman::legacy::KeyOrder* index = file->keyOrder(k, status);
        ASSERT_TRUE(index) << status;
        ASSERT_EQ(index->size(), spec.records);
        for (size_t p = 0; p < index->size(); ++p) {
            ASSERT_EQ(file->readRecord(index->locator(p), got), 0);
            want.clear();
            spec.rule(orders[size_t(k)][p], want);
            ASSERT_EQ(got, want) << "place " << p << " on key " << k;
        }
    }
}

// Files of one table pair.
const Shape singlePair[] = {
    {"v5_512_fixed_freed", Version5, 512, false, 300, 5},
    {"v5_1024_variable_acs", Version5, 1024, true, 200, 4, 0, false, 0, CurrentCopy::Alternating,
        1},
    {"v5_512_variable_fragments", Version5, 512, true, 120, 0, 0, false, 50},
    {"v60_512_fixed_freed_stale", Version60, 512, false, 300, 3, 2},
    {"v60_1024_variable_stale_scattered", Version60, 1024, true, 150, 6, 3, true, 60,
        CurrentCopy::First, 1},
    {"v61_512_variable_two_sequences", Version61, 512, true, 100, 0, 4, false, 0,
        CurrentCopy::Second, 2},
    // Compressed: streams split anywhere (inside a 2-byte count too) over several fragments,
    // with unused fragment-table entries among them.
    {"v5_512_compressed_freed", Version5, 512, false, 300, 5, 0, false, 0, CurrentCopy::Alternating,
        0, true},
    {"v5_1024_compressed_variable_acs_split", Version5, 1024, true, 200, 4, 0, false, 7,
        CurrentCopy::Alternating, 1, true, false, false, -1, 1, 3},
    {"v60_512_compressed_freed_stale_scattered", Version60, 512, false, 300, 3, 2, true, 5,
        CurrentCopy::Alternating, 0, true, false, false, -1, 1, 4},
    {"v61_1024_compressed_two_sequences", Version61, 1024, false, 200, 0, 3, false, 0,
        CurrentCopy::First, 2, true},
    // The newer format: control records and tables of four pages at 512 bytes, two at larger
    // sizes; 8.x, 9.0 and 9.5.
    {"v80_512_fixed_freed_stale", Version80, 512, false, 300, 3, 2},
    {"v80_1024_variable_stale_scattered_acs", Version80, 1024, true, 150, 6, 3, true, 60,
        CurrentCopy::First, 1},
    {"v90_2048_variable_system_data", Version90, 2048, true, 200, 7, 2, false, 0,
        CurrentCopy::Second, 0, false, true},
    {"v95_4096_fixed_system_data_acs", Version95, 4096, false, 300, 4, 3, true, 0,
        CurrentCopy::Alternating, 1, false, true},
    {"v95_512_variable_tail", Version95, 512, true, 120, 5, 2, false, 0, CurrentCopy::Alternating,
        0, false, false, true},
    {"v80_1024_variable_tail_system_data_split", Version80, 1024, true, 100, 0, 3, true, 40,
        CurrentCopy::First, 0, false, true, true, -1, 1, 5},
    {"v80_512_compressed_split", Version80, 512, false, 300, 4, 2, false, 6,
        CurrentCopy::Alternating, 0, true},
    {"v95_1024_compressed_system_data", Version95, 1024, false, 250, 3, 2, true, 0,
        CurrentCopy::Second, 1, true, true, false, -1, 1, 2},
    // Owner names: plain data read as it is, encrypted data decrypted by the rule the pages
    // agree with.
    {"v5_512_owner_plain", Version5, 512, true, 100, 4, 0, false, 0, CurrentCopy::Alternating, 0,
        false, false, false, 0},
    {"v60_1024_owner_others_read", Version60, 1024, false, 200, 3, 2, false, 0,
        CurrentCopy::Alternating, 1, false, false, false, 1},
    {"v95_1024_owner_others_read", Version95, 1024, true, 100, 0, 2, false, 0,
        CurrentCopy::Alternating, 0, false, false, false, 1},
    {"v5_512_encrypted_rule1", Version5, 512, true, 150, 4, 0, false, 0, CurrentCopy::Alternating,
        1, false, false, false, 2, 1},
    {"v5_1024_encrypted_rule2_compressed", Version5, 1024, false, 200, 5, 0, false, 9,
        CurrentCopy::Alternating, 0, true, false, false, 2, 2},
    {"v60_512_encrypted_rule1_variable", Version60, 512, true, 120, 3, 2, true, 0,
        CurrentCopy::Alternating, 1, false, false, false, 3, 1},
    {"v61_1024_encrypted_rule2_compressed", Version61, 1024, false, 200, 0, 3, false, 0,
        CurrentCopy::Second, 2, true, false, false, 2, 2},
};

class SinglePair : public testing::TestWithParam<Shape>
{
};

TEST_P(SinglePair, ReadsEveryRecordOnceInEveryOrder)
{
    const LegacyFileSpec spec = specOf(GetParam());
    const auto path = scratchFile(GetParam().name);
    const WrittenLayout layout = writeLegacyFile(path, spec);
    EXPECT_EQ(layout.freedSlots > 0, spec.freeSlotEvery > 0);
    // One stale copy the shadow table names, one that nothing names.
    EXPECT_EQ(layout.stalePages.size() >= 2, spec.staleEvery > 0);
    // Compressed files keep every record's stream in variable pages.
    EXPECT_EQ(layout.variablePages > 1,
        spec.definition.variableLength()
            || (spec.definition.fileFlags & recman::fileflag::Compressed));
    expectReads(path, spec, 0);
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Writer, SinglePair, testing::ValuesIn(singlePair),
    [](const auto& param) { return std::string(param.param.name); });

// A stale copy carries the header of the page it is an old copy of, so that only the tables tell
// them apart; the shadow table names it in place of the current page.
TEST(LegacyWriter, StaleCopiesLookLikeTheirPages)
{
    const LegacyFileSpec spec = specOf({"stale", Version60, 512, false, 200, 0, 1});
    const auto path = scratchFile("stale");
    const WrittenLayout layout = writeLegacyFile(path, spec);
    std::vector<uint8_t> bytes(std::filesystem::file_size(path));
    FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_TRUE(f);
    ASSERT_EQ(std::fread(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
    const uint8_t* current = &bytes[size_t(layout.currentTable[0]) * 512];
    const uint32_t shadowAt = layout.currentTable[0] == 2 ? 3 : 2;
    const uint8_t* shadow = &bytes[size_t(shadowAt) * 512];
    EXPECT_EQ(btr::le::get32(current + 4), spec.usageCount);
    EXPECT_EQ(btr::le::get32(shadow + 4), spec.usageCount - 1);
    uint32_t named = 0;
    for (uint32_t stale : layout.stalePages) {
        const uint8_t* page = &bytes[size_t(stale) * 512];
        const uint32_t logical = (uint32_t(page[0]) << 16) | (uint32_t(page[3]) << 8) | page[2];
        ASSERT_EQ(page[1], 'D');
        ASSERT_LT(logical, layout.physicalOf.size());
        const uint8_t* live = &bytes[size_t(layout.physicalOf[logical]) * 512];
        EXPECT_TRUE(std::equal(page, page + 4, live));
        const uint8_t* entry = shadow + 8 + 4 * (logical - 1);
        named += ((uint32_t(entry[0]) << 16) | (uint32_t(entry[3]) << 8) | entry[2]) == stale;
    }
    EXPECT_EQ(named, (layout.stalePages.size() + 1) / 2);
    std::filesystem::remove(path);
}

// Files of several table pairs (and one whose single table is full): every record is read,
// through every table, in logical page order.
struct Chain
{
    Shape shape;
    uint32_t pairs;
};

const Chain chains[] = {
    {{"v60_512_two_pairs", Version60, 512, false, 2000, 7, 5}, 2},
    {{"v60_512_three_pairs_scattered", Version60, 512, false, 4000, 0, 4, true}, 3},
    {{"v60_1024_two_pairs_variable", Version60, 1024, true, 900, 5, 3, true, 0, CurrentCopy::First,
         1},
        2},
    {{"v61_1024_three_pairs", Version61, 1024, false, 14000, 9, 0, false, 0, CurrentCopy::Second},
        3},
    // 126 data pages of 14 records: every entry of the one table used.
    {{"v60_512_full_table", Version60, 512, false, 126 * 14}, 1},
    {{"v80_1024_two_pairs", Version80, 1024, false, 14000, 9, 0, true}, 2},
    {{"v90_2048_two_pairs_compressed", Version90, 2048, false, 30000, 0, 7, false, 0,
         CurrentCopy::First, 0, true},
        2},
    {{"v95_512_three_pairs_variable", Version95, 512, true, 700, 5, 3, true, 0, CurrentCopy::Second,
         0, false, true},
        3},
};

class ChainOfTables : public testing::TestWithParam<Chain>
{
};

TEST_P(ChainOfTables, EveryRecordIsReadThroughEveryTable)
{
    const Chain& c = GetParam();
    const LegacyFileSpec spec = specOf(c.shape);
    const auto path = scratchFile(c.shape.name);
    const WrittenLayout layout = writeLegacyFile(path, spec);
    ASSERT_EQ(layout.pairs, c.pairs);
    // Records lie in the pages of every table, not only the first.
    for (uint32_t k = 1; k <= layout.pairs; ++k) {
        const uint32_t begin = (k - 1) * layout.entriesPerTable + 1;
        const uint32_t end
            = std::min<uint32_t>(k * layout.entriesPerTable + 1, uint32_t(layout.typeOf.size()));
        EXPECT_TRUE(std::any_of(layout.typeOf.begin() + std::min(begin, end),
            layout.typeOf.begin() + end, [](uint8_t t) { return t == 'D'; }))
            << "no data page in table " << k;
    }
    if (spec.scatter) {
        // Some page of the first table lies past the second pair.
        bool past = false;
        for (uint32_t l = 1; l <= layout.entriesPerTable && l < layout.physicalOf.size(); ++l)
            past |= layout.physicalOf[l] > layout.pairPage(2);
        EXPECT_TRUE(past);
    }
    expectReads(path, spec, 0);
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(Writer, ChainOfTables, testing::ValuesIn(chains),
    [](const auto& param) { return std::string(param.param.shape.name); });

// Damaged tables and counts, on files of one and of two pairs: every one answers 2 at Open, with
// nothing guessed. Were one to open, it is read through, to run it under the sanitizers.
struct Damaged
{
    const char* name;
    Damage damage;
};

const Damaged damages[] = {
    {"pair_missing", Damage::PairMissing},
    {"wrong_pair_number", Damage::WrongPairNumber},
    {"entry_to_other_type", Damage::EntryToOtherType},
    {"entry_to_other_logical", Damage::EntryToOtherLogical},
    {"table_usage_differs", Damage::TableUsageDiffers},
    {"pair_count_high", Damage::PairCountHigh},
    {"pair_count_low", Damage::PairCountLow},
    {"highest_page_low", Damage::HighestPageLow},
    {"record_count_high", Damage::RecordCountHigh},
};

class DamagedTables : public testing::TestWithParam<Damaged>
{
};

TEST_P(DamagedTables, AnswerIoError)
{
    // 6.x, and the newer format at a page size whose later pairs' places are known.
    struct Sizes
    {
        uint16_t version;
        uint16_t pageSize;
        uint32_t records;
    };
    for (const Sizes& f : {Sizes {Version60, 512, 60}, Sizes {Version60, 512, 250},
             Sizes {Version80, 1024, 60}, Sizes {Version80, 1024, 1500}}) {
        const bool one = f.records == 60;
        const LegacyFileSpec spec = specOf({"damaged", f.version, f.pageSize, true, f.records, 4, 3,
            false, 0, CurrentCopy::Alternating, 1});
        const auto path = scratchFile(
            std::string(GetParam().name) + (one ? "_1_" : "_2_") + std::to_string(f.version));
        const WrittenLayout layout = writeLegacyFile(path, spec);
        ASSERT_EQ(layout.pairs, one ? 1u : 2u);
        damage(path, layout, GetParam().damage);
        int16_t status = -1;
        std::string reason;
        auto file = LegacyFile::open(path.string(), status, reason);
        EXPECT_EQ(status, 2) << (one ? "one pair " : "two pairs ") << f.version << ": " << reason;
        EXPECT_FALSE(reason.empty());
        if (file) {
            std::vector<uint8_t> record;
            Locator loc = 0;
            for (int16_t s = file->stepFirst(loc); s == 0; s = file->stepNext(loc))
                file->readRecord(loc, record);
            for (int k = 0; k < 2; ++k)
                file->keyOrder(k, status);
        }
        std::filesystem::remove(path);
    }
}

INSTANTIATE_TEST_SUITE_P(Writer, DamagedTables, testing::ValuesIn(damages),
    [](const auto& param) { return std::string(param.param.name); });

// The writer's streams decode to their records whatever runs they hold; a stream that does not
// decode whole gives nothing.
TEST(CompressedStream, RecordsComeBackAndBrokenStreamsDoNot)
{
    using Bytes = std::vector<uint8_t>;
    auto runOf = [](size_t n, uint8_t b) { return Bytes(n, b); };
    auto join = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const std::vector<Bytes> records = {
        {1, 2, 3}, runOf(40, 9),                            // a run first: an empty literal
        join({runOf(5, 0), runOf(6, 1), {4}}),              // two runs in a row
        join({{1, 2}, runOf(6000, ' '), {3}, runOf(5, 3)}), // ends with a run
        join({runOf(4, 8), {1}, runOf(4, 8)}),              // runs under 5 stay literal
    };
    for (size_t i = 0; i < records.size(); ++i) {
        const Bytes stream = compressRecord(records[i]);
        Bytes out = {0xAA};
        ASSERT_TRUE(recman::legacy::decompress(stream.data(), stream.size(), 65535, out)) << i;
        EXPECT_EQ(Bytes(out.begin() + 1, out.end()), records[i]) << i;
    }
    EXPECT_EQ(btr::le::get16(compressRecord(records[1]).data()), 0);

    const std::vector<std::pair<const char*, Bytes>> broken = {
        {"count cut off", {5}},
        {"literal past the end", {5, 0, 1, 2}},
        {"run without its byte", {0, 0, 5, 0}},
        {"a byte left over", {1, 0, 'a', 3, 0, 'b', 9}},
        {"longer than the record may be", {0, 0, 0xFF, 0x7F, 'x'}},
    };
    for (const auto& [name, stream] : broken) {
        Bytes out = {0xAA};
        EXPECT_FALSE(recman::legacy::decompress(stream.data(), stream.size(), 100, out)) << name;
        EXPECT_EQ(out, Bytes {0xAA}) << name;
    }
}

TEST(LegacyWriter, RefusesWhatTheFormatCannotHold)
{
    auto base = [] { return specOf({"bad", Version60, 512, false, 10}); };
    std::vector<LegacyFileSpec> bad(5, base());
    bad[0].definition.pageSize = 700;
    bad[1].definition.keys[1].segments[0].position = RecordLength; // runs past the record
    bad[2].version = Version5;
    bad[2].staleEvery = 2; // 5.x files keep no shadows
    bad[3].freeSlotEvery = 1;
    bad[4].rule = [](uint32_t, std::vector<uint8_t>& r) { r.assign(RecordLength + 1, 1); };
    const auto path = scratchFile("bad");
    for (size_t n = 0; n < bad.size(); ++n) {
        std::filesystem::remove(path);
        EXPECT_ANY_THROW(writeLegacyFile(path, bad[n])) << n;
        // Only a rule's record is found wrong once writing has begun.
        EXPECT_EQ(std::filesystem::exists(path), n == 4) << n;
    }
    std::filesystem::remove(path);
}

} // namespace
