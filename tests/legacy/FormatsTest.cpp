// Every format family and feature through BTRCALLID alone, as the program and the checks on real
// files see them: Stat counts exactly the records Step gives, Get on every key gives exactly the
// records whose key is not null, the file facts name the version and the features, and a store
// created from the Stat image takes every record. Owner names: plain files read without one,
// encrypted ones answer 51 until one is given. What is not read is refused with a reason that
// names the version and the feature.
#include "EntryCalls.h"
#include "FileFacts.h"
#include "Fixtures.h"
#include "LittleEndian.h"
#include "Profile.h"
#include "writer/LegacyWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>

using namespace legacytest;
using btr::le::get16;
using btr::le::get32;
namespace keyflag = recman::keyflag;
namespace op = btr::op;
namespace st = btr::status;
namespace fx = btr::facts;

namespace {

using Record = std::vector<uint8_t>;
constexpr uint16_t RecordLength = 28;

// Record i: a unique number, a name of eleven values, a number that is null (zero) for every
// fourth record, then bytes that run for some records; variable parts of up to 400 bytes.
void makeRecord(uint32_t i, bool variable, Record& r)
{
    r.assign(RecordLength, 0);
    btr::le::put32(r.data(), i * 7919 % 100003 + 1);
    const std::string name = "NAME" + std::to_string(i % 11) + "   ";
    std::copy_n(name.begin(), 8, r.begin() + 4);
    btr::le::put32(r.data() + 12, i % 4 == 0 ? 0 : i);
    for (uint32_t j = 16; j < RecordLength; ++j)
        r[j] = i % 2 ? uint8_t('=') : uint8_t(i + j);
    if (variable)
        for (uint32_t j = 0; j < i * 13 % 400; ++j)
            r.push_back(j % 50 < 20 ? uint8_t(j / 50) : uint8_t(i ^ j));
}

bool keyTwoNull(uint32_t i)
{
    return i % 4 == 0;
}

struct Variant
{
    const char* name;
    uint16_t version;
    uint16_t pageSize;
    bool variable = false;
    bool compressed = false;
    bool systemData = false;
    bool variableTail = false;
    int ownerMode = -1;
    int rule = 1;
    uint32_t records = 400;
};

void PrintTo(const Variant& v, std::ostream* os)
{
    *os << v.name;
}

LegacyFileSpec specOf(const Variant& v)
{
    LegacyFileSpec spec;
    spec.version = v.version;
    spec.records = v.records;
    spec.freeSlotEvery = 6;
    spec.staleEvery = v.version == Version5 ? 0 : 3;
    spec.scatter = v.version != Version5;
    spec.fragmentLimit = v.compressed ? 11 : 0;
    spec.unusedFragmentEvery = 5;
    spec.systemData = v.systemData;
    spec.variableTail = v.variableTail;
    if (v.ownerMode >= 0) {
        spec.owner.set = true;
        spec.owner.mode = uint8_t(v.ownerMode);
        spec.owner.rule = v.rule;
    }
    const bool variable = v.variable;
    spec.rule = [variable](uint32_t i, Record& r) { makeRecord(i, variable, r); };
    recman::Definition& def = spec.definition;
    def.pageSize = v.pageSize;
    def.recordLength = RecordLength;
    def.fileFlags = uint16_t((v.variable ? recman::fileflag::VariableLength : 0)
        | (v.compressed ? recman::fileflag::Compressed : 0));
    recman::Key unique, names, nullable;
    unique.segments.push_back({1, 4, keyflag::ExtendedType, v.records, 14, 0, 0, 0, 0});
    names.segments.push_back(
        {5, 8, keyflag::Duplicates | keyflag::ExtendedType, 11, 0, 0, 0, 0, 0});
    nullable.segments.push_back(
        {13, 4, keyflag::Duplicates | keyflag::NullAll | keyflag::ExtendedType, 0, 1, 0, 0, 0, 0});
    names.number = 1;
    nullable.number = 2;
    def.keys = {unique, names, nullable};
    return spec;
}

std::vector<uint8_t> factsOf(Btr& file)
{
    EXPECT_EQ(file.call(op::FileFacts, 0, fx::Size), 0);
    return {file.data.begin(), file.data.begin() + fx::Size};
}

const Variant variants[] = {
    {"v5_compressed", Version5, 1024, false, true},
    {"v5_compressed_variable", Version5, 512, true, true},
    {"v60_compressed", Version60, 512, false, true},
    {"v61_compressed", Version61, 2048, false, true},
    {"v80_fixed", Version80, 512},
    {"v80_variable", Version80, 1024, true},
    {"v90_variable_system_data", Version90, 2048, true, false, true},
    {"v95_fixed", Version95, 4096},
    {"v95_variable_tail", Version95, 1024, true, false, false, true},
    {"v80_compressed_system_data", Version80, 1536, false, true, true},
    {"v95_compressed", Version95, 512, false, true},
    {"v5_encrypted_rule1", Version5, 512, true, false, false, false, 2, 1},
    {"v5_compressed_encrypted_rule2", Version5, 1024, false, true, false, false, 2, 2},
    {"v60_encrypted_rule2", Version60, 1024, true, false, false, false, 3, 2},
    {"v95_owner_plain", Version95, 1024, true, false, false, false, 1},
};

class EveryVariant : public testing::TestWithParam<Variant>
{
};

TEST_P(EveryVariant, GivesExactlyItsRecordsThroughTheEntryPoint)
{
    const Variant& v = GetParam();
    const LegacyFileSpec spec = specOf(v);
    ScratchDir dir;
    const auto path = dir.path("FILE.DAT");
    writeLegacyFile(path, spec);
    std::vector<Record> want(v.records);
    for (uint32_t i = 0; i < v.records; ++i)
        spec.rule(i, want[i]);
    const bool encrypted = v.ownerMode >= 2;

    Btr file;
    ASSERT_EQ(file.open(path), 0);
    const std::vector<uint8_t> image = file.stat();
    EXPECT_EQ(get32(&image[btr::layout::file::NumRecords]), v.records);
    EXPECT_EQ(get16(&image[btr::layout::file::RecordLength]), RecordLength);

    // The facts: family, version and features.
    const std::vector<uint8_t> facts = factsOf(file);
    EXPECT_EQ(get16(&facts[fx::at::Version]), fx::LayoutVersion);
    EXPECT_EQ(facts[fx::at::Family],
        v.version == Version5        ? fx::V5
            : v.version < Version80  ? fx::V6
            : v.version == Version95 ? fx::V95
                                     : fx::V8);
    EXPECT_EQ(get16(&facts[fx::at::FormatVersion]), v.version);
    const uint16_t features = get16(&facts[fx::at::Features]);
    EXPECT_EQ(bool(features & fx::Compressed), v.compressed);
    EXPECT_EQ(bool(features & fx::SystemData), v.systemData);
    EXPECT_EQ(bool(features & fx::VariableTail), v.variableTail);
    EXPECT_EQ(bool(features & fx::VariableLength), v.variable);
    EXPECT_EQ(bool(features & fx::OwnerName), v.ownerMode >= 0);
    EXPECT_EQ(bool(features & fx::Encrypted), encrypted);
    EXPECT_EQ(facts[fx::at::OwnerMode], v.ownerMode >= 0 ? v.ownerMode : fx::NoOwner);
    EXPECT_EQ(facts[fx::at::Cipher], encrypted ? v.rule : 0);

    if (encrypted) {
        // Without the owner name: every record read answers 51 and says why.
        EXPECT_EQ(file.call(op::StepFirst), st::OwnerNameRequired);
        EXPECT_EQ(file.call(op::GetFirst, 1), st::OwnerNameRequired);
        ASSERT_EQ(file.call(op::Reason, 0, 1024), 0);
        EXPECT_EQ(file.key[0], btr::reason::OwnerName);
        EXPECT_NE(std::string(file.data.begin(), file.data.begin() + file.length)
                      .find("encrypted under an owner name"),
            std::string::npos);
        EXPECT_EQ(file.call(op::GetPosition, 0, 4), st::InvalidPositioning);
        // Any name will do: Varnok cannot check one.
        std::memset(file.key, 0, sizeof file.key);
        std::strncpy(reinterpret_cast<char*>(file.key), path.c_str(), sizeof file.key - 1);
        std::memcpy(file.data.data(), "ANYONE", 7);
        ASSERT_EQ(file.call(op::Open, 0, 7), 0);
    }

    std::vector<Record> stepped;
    for (int16_t s = file.call(op::StepFirst); s == 0; s = file.call(op::StepNext)) {
        stepped.push_back(file.record());
        ASSERT_LE(stepped.size(), v.records);
    }
    EXPECT_EQ(stepped, want) << "step order is the order the records were written";

    // Every key: exactly the records whose key is not null, in key order.
    for (int k = 0; k < 3; ++k) {
        const std::vector<Record> got = alongKey(file, k);
        std::vector<uint32_t> order;
        for (uint32_t i = 0; i < v.records; ++i)
            if (k != 2 || !keyTwoNull(i))
                order.push_back(i);
        // Unsigned, string and signed integer keys; equal values in the order they were added.
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            const uint8_t* x = want[a].data();
            const uint8_t* y = want[b].data();
            if (k == 0)
                return get32(x) < get32(y);
            if (k == 1)
                return std::memcmp(x + 4, y + 4, 8) < 0;
            return int32_t(get32(x + 12)) < int32_t(get32(y + 12));
        });
        ASSERT_EQ(got.size(), order.size()) << "key " << k;
        for (size_t p = 0; p < got.size(); ++p)
            ASSERT_EQ(got[p], want[order[p]]) << "key " << k << " place " << p;
    }
    ASSERT_EQ(file.call(op::StepFirst), 0);
    EXPECT_EQ(file.call(op::GetPosition, 0, 4), 0);

    // A store made from the Stat image takes every record, as Copy does it.
    Btr creator;
    const auto copy = dir.path("COPY.BTR");
    ASSERT_EQ(creator.create(copy, image, 0), 0);
    Btr to;
    ASSERT_EQ(to.open(copy), 0);
    for (const Record& r : want) {
        std::copy(r.begin(), r.end(), to.data.begin());
        ASSERT_EQ(to.call(op::Insert, -1, uint16_t(r.size())), 0);
    }
    EXPECT_EQ(get32(&to.stat()[btr::layout::file::NumRecords]), v.records);
    EXPECT_EQ(factsOf(to)[fx::at::Family], fx::OwnFormat);
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryVariant, testing::ValuesIn(variants),
    [](const auto& param) { return std::string(param.param.name); });

// A handle opened with the owner name reads; another on the same file without one does not.
TEST(OwnerName, EachHandleGivesItsOwn)
{
    ScratchDir dir;
    const auto path = dir.path("OWNED.DAT");
    writeLegacyFile(path, specOf({"owned", Version60, 512, false, false, false, false, 2, 1, 50}));
    Btr with, without;
    std::strncpy(reinterpret_cast<char*>(with.key), path.c_str(), sizeof with.key - 1);
    std::memcpy(with.data.data(), "OWNER", 6);
    ASSERT_EQ(with.call(op::Open, 0, 6), 0);
    ASSERT_EQ(without.open(path), 0);
    EXPECT_EQ(with.call(op::StepFirst), 0);
    EXPECT_EQ(without.call(op::StepFirst), st::OwnerNameRequired);
    EXPECT_EQ(with.call(op::StepNext), 0);

    // A salvage open takes the name after a definition, or alone.
    Btr salvage;
    std::strncpy(reinterpret_cast<char*>(salvage.key), path.c_str(), sizeof salvage.key - 1);
    with.call(op::Close);
    without.call(op::Close);
    ASSERT_EQ(salvage.call(op::Open, btr::mode::Salvage, 0), 0);
    EXPECT_EQ(salvage.call(op::StepFirst), st::OwnerNameRequired);
    salvage.call(op::Close);
    std::memcpy(salvage.data.data(), "OWNER", 6);
    ASSERT_EQ(salvage.call(op::Open, btr::mode::Salvage, 6), 0);
    EXPECT_EQ(salvage.call(op::StepFirst), 0);
}

// Compressed records longer than a page: their streams span several variable pages, and a store
// created from the file's Stat takes them (the record need not fit a page).
TEST(CompressedRecords, LongerThanAPage)
{
    for (uint16_t version : {Version5, Version60, Version95}) {
        SCOPED_TRACE(version);
        LegacyFileSpec spec;
        spec.version = version;
        spec.records = 60;
        spec.rule = [](uint32_t i, Record& r) {
            r.assign(2000, uint8_t(i));
            btr::le::put32(r.data(), i + 1);
            for (uint32_t j = 0; j < 700; ++j)
                r[100 + j] = uint8_t(i * j);
        };
        spec.definition.pageSize = 512;
        spec.definition.recordLength = 2000;
        spec.definition.fileFlags = recman::fileflag::Compressed;
        recman::Key key;
        key.segments.push_back({1, 4, keyflag::ExtendedType, 60, 14, 0, 0, 0, 0});
        spec.definition.keys = {key};
        ScratchDir dir;
        const auto path = dir.path("LONG.DAT");
        writeLegacyFile(path, spec);
        Btr file;
        ASSERT_EQ(file.open(path), 0);
        const std::vector<uint8_t> image = file.stat();
        uint32_t i = 0;
        Record want;
        for (int16_t s = file.call(op::GetFirst, 0); s == 0; s = file.call(op::GetNext, 0), ++i) {
            spec.rule(i, want);
            ASSERT_EQ(file.record(), want) << i;
        }
        EXPECT_EQ(i, 60u);
        Btr creator;
        EXPECT_EQ(creator.create(dir.path("COPY.BTR"), image, 0), 0);
    }
}

// Entries per allocation table as the format notes count them in real files, and where the
// first pair lies; the writer lays tables out by its own reckoning, which must agree.
TEST(TableGeometry, EntriesPerTableAsRealFilesHaveThem)
{
    using recman::legacy::Family;
    struct Case
    {
        Family family;
        uint16_t version;
        uint32_t pageSize;
        uint32_t entries;
        uint32_t firstPair;
    };
    const Case cases[] = {
        {Family::V6, Version60, 512, 126, 2},
        {Family::V6, Version60, 4096, 1022, 2},
        {Family::V8, Version80, 512, 312, 16},
        {Family::V8, Version80, 1024, 316, 8},
        {Family::V8, Version90, 2048, 636, 8},
        {Family::V8, Version80, 4096, 1276, 8},
        {Family::V95, Version95, 4096, 956, 8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pageSize);
        const auto g
            = recman::legacy::tableGeometry(recman::legacy::profileOf(c.family), c.pageSize);
        EXPECT_EQ(g.perTable, c.entries);
        EXPECT_EQ(g.pairPage(1), c.firstPair);
        Variant v {"geometry", c.version, uint16_t(c.pageSize)};
        v.records = 10;
        ScratchDir dir;
        const WrittenLayout layout = writeLegacyFile(dir.path("G.DAT"), specOf(v));
        EXPECT_EQ(layout.entriesPerTable, c.entries);
        EXPECT_EQ(layout.pairPage(1), c.firstPair);
    }
}

// What the newer format holds that is not read, and its damage: a status and a reason that says
// which version and which feature, of the kind a program sorts by.
struct Refusal
{
    const char* name;
    Variant variant;
    void (*alter)(LegacyFileSpec&, std::vector<uint8_t>&, const WrittenLayout&);
    int16_t status;
    const char* reasonHas;
};

void PrintTo(const Refusal& r, std::ostream* os)
{
    *os << r.name;
}

void put16At(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    btr::le::put16(&b[at], v);
}

// Both control records of a newer file, as the writer left them.
template <typename Change>
void bothControlRecords(std::vector<uint8_t>& b, const WrittenLayout& l, Change c)
{
    for (uint32_t page : {0u, l.unit})
        c(b, size_t(page) * l.pageSize);
}

const Refusal refusals[] = {
    {"PageSize8192", {"", Version95, 4096},
        [](auto&, auto& b, auto& l) {
            bothControlRecords(
                b, l, [](auto& bytes, size_t at) { put16At(bytes, at + 0x2A, 8192); });
        },
        st::NotADataFile, "page size 8192 of the 8.x-9.5 format"},
    {"Version91", {"", Version90, 1024},
        [](auto&, auto& b, auto& l) {
            bothControlRecords(
                b, l, [](auto& bytes, size_t at) { put16At(bytes, at + 0x4A, 0x0910); });
        },
        st::NotADataFile, "version 9.1"},
    {"EncryptedNewer", {"", Version80, 1024, false, false, false, false, 2}, nullptr,
        st::NotADataFile, "encrypted data in a version 8.x file"},
    {"KeyOnlyNewer", {"", Version95, 1024},
        [](auto&, auto& b, auto& l) {
            bothControlRecords(b, l, [](auto& bytes, size_t at) { bytes[at + 0x190] |= 0x10; });
        },
        st::NotADataFile, "key-only file of version 9.5"},
    {"CompressedWithVariableTail", {"", Version95, 1024, true, true},
        [](auto&, auto& b, auto& l) {
            bothControlRecords(b, l, [](auto& bytes, size_t at) { bytes[at + 0x191] |= 0x08; });
        },
        st::NotADataFile, "compressed records with variable-tail allocation tables"},
    {"KeyOnTheSystemData", {"", Version80, 1024, false, false, true},
        [](auto&, auto& b, auto& l) {
            // Key 0's first segment at the slot's offset 2: the system data.
            bothControlRecords(b, l, [](auto& bytes, size_t at) {
                const size_t spec = btr::le::get16(&bytes[at + 0x200]);
                put16At(bytes, at + spec + 0x14, 2);
            });
        },
        st::NotADataFile, "system data"},
    // A second pair not where the format's spacing puts it: damage where that spacing is known
    // (8.x at 1024 bytes), a layout not read where it is not (9.5).
    {"SecondPairElsewhere95", {"", Version95, 512, true, false, false, false, -1, 1, 700},
        [](auto&, auto& b, auto& l) {
            std::fill_n(b.begin() + long(l.pairPage(2)) * l.pageSize, 2 * l.unit * l.pageSize, 0);
        },
        st::NotADataFile, "pair 2 of this version 9.5 file"},
    {"SecondPairLost80", {"", Version80, 1024, true, false, false, false, -1, 1, 1500},
        [](auto&, auto& b, auto& l) {
            std::fill_n(b.begin() + long(l.pairPage(2)) * l.pageSize, 2 * l.unit * l.pageSize, 0);
        },
        st::IoError, "allocation table 2"},
    {"RecordCountNewer", {"", Version90, 2048},
        [](auto&, auto& b, auto& l) {
            btr::le::put32(&b[size_t(l.currentFcr) * l.pageSize + 0x1C], 401);
        },
        st::IoError, "control record counts 401"},
};

class NewerRefusal : public testing::TestWithParam<Refusal>
{
};

TEST_P(NewerRefusal, AnswersAStatusAndSaysWhy)
{
    const Refusal& r = GetParam();
    LegacyFileSpec spec = specOf(r.variant);
    ScratchDir dir;
    const auto path = dir.path("FILE.DAT");
    const WrittenLayout layout = writeLegacyFile(path, spec);
    if (r.alter) {
        std::vector<uint8_t> bytes = readAll(path);
        r.alter(spec, bytes, layout);
        writeAll(path, bytes);
    }
    Btr file;
    EXPECT_EQ(file.open(path), r.status);
    ASSERT_EQ(file.call(op::Reason, 0, 1024), 0);
    const std::string reason(file.data.begin(), file.data.begin() + file.length);
    EXPECT_NE(reason.find(r.reasonHas), std::string::npos) << reason;
    EXPECT_EQ(file.key[0], r.status == st::IoError ? btr::reason::Damaged : btr::reason::NotRead);
}

INSTANTIATE_TEST_SUITE_P(Formats, NewerRefusal, testing::ValuesIn(refusals),
    [](const auto& param) { return std::string(param.param.name); });

} // namespace
