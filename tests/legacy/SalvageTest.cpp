// Salvage reading of damaged legacy files: synthetic 5.x, 6.x and newer files, plain and
// compressed (stale copies, freed slots, scattered pages, several table pairs, variable chains)
// damaged in one way each, then read for salvage. Nothing is invented, nothing comes twice, nothing
// stale comes back, and every record on an undamaged page is rescued; the report counts what was
// skipped. The fixtures recover whole.
#include "ByteVector.h"
#include "EntryCalls.h"
#include "Fixtures.h"
#include "LegacyFile.h"
#include "LittleEndian.h"
#include "writer/LegacyWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace legacytest;
using recman::legacy::LegacyFile;
using recman::legacy::Locator;
using recman::legacy::SalvageReport;
using recman::legacy::SalvageRequest;
namespace keyflag = recman::keyflag;

namespace {

using Record = std::vector<uint8_t>;
// Records as an unordered bag, compared element by element (see BytesLess).
using Records = std::multiset<Record, testsupport::BytesLess>;
constexpr uint16_t RecordLength = 20;

// Record i: a unique number, then bytes that follow i; variable-length records add i * 13 % 500
// bytes, enough for chains over several variable pages at page 512.
void makeRecord(uint32_t i, bool variable, Record& record)
{
    record.assign(RecordLength, 0);
    btr::le::put32(record.data(), i + 1);
    for (uint32_t j = 4; j < RecordLength; ++j)
        record[j] = uint8_t(i * 7 + j);
    if (variable)
        for (uint32_t j = 0; j < i * 13 % 500; ++j)
            record.push_back(uint8_t(i + j * 3));
}

LegacyFileSpec specOf(uint16_t version, bool variable, uint32_t records, bool compressed = false)
{
    LegacyFileSpec spec;
    spec.version = version;
    spec.records = records;
    spec.freeSlotEvery = 9;
    const bool tabled = version != Version5;
    spec.staleEvery = tabled ? 3 : 0;
    spec.scatter = tabled;
    spec.fragmentLimit = variable ? 200 : compressed ? 9 : 0;
    spec.rule = [variable](uint32_t i, Record& r) { makeRecord(i, variable, r); };
    recman::Definition& def = spec.definition;
    def.pageSize = 512;
    def.recordLength = RecordLength;
    def.fileFlags = uint16_t((variable ? recman::fileflag::VariableLength : 0)
        | (compressed ? recman::fileflag::Compressed : 0));
    recman::Key unique;
    unique.segments.push_back({1, 4, keyflag::ExtendedType, records, 14, 0, 0, 0, 0});
    recman::Key byte;
    byte.number = 1;
    byte.segments.push_back({5, 2, keyflag::Duplicates | keyflag::ExtendedType, 0, 14, 0, 0, 0, 0});
    def.keys = {unique, byte};
    return spec;
}

// The logical (5.x: physical) page a record's position names.
uint32_t pageOfPosition(uint32_t position, const WrittenLayout& layout)
{
    if (layout.version < Version80)
        return position / layout.pageSize;
    uint32_t bits = 4;
    while ((1u << bits) < layout.slotsPerPage)
        ++bits;
    return position >> bits;
}

// The undamaged file as the strict reader gives it: every record, and the physical pages it lies
// on (its data page, then every variable page of its chain as far as the layout tells).
struct Truth
{
    std::vector<Record> records;
    std::vector<uint32_t> dataPage; // physical
    recman::Definition definition;
};

Truth truthOf(const std::filesystem::path& path, const WrittenLayout& layout)
{
    Truth truth;
    int16_t status = 0;
    std::string reason;
    auto file = LegacyFile::open(path, status, reason);
    EXPECT_EQ(status, 0) << reason;
    if (!file)
        return truth;
    truth.definition = file->definition();
    Locator loc = 0;
    for (int16_t s = file->stepFirst(loc); s == 0; s = file->stepNext(loc)) {
        Record r;
        EXPECT_EQ(file->readRecord(loc, r), 0);
        truth.records.push_back(r);
        const uint32_t page = pageOfPosition(file->position(loc), layout);
        truth.dataPage.push_back(layout.version == Version5 ? page : layout.physicalOf[page]);
    }
    return truth;
}

struct Rescue
{
    int16_t status = -1;
    std::string reason;
    std::vector<Record> records;
    std::vector<bool> whole;
    SalvageReport report;
};

Rescue rescue(const std::filesystem::path& path, const SalvageRequest& request = {})
{
    Rescue out;
    auto file = LegacyFile::openSalvage(path, request, out.status, out.reason);
    if (!file)
        return out;
    out.report = file->salvageReport();
    Locator loc = 0;
    for (int16_t s = file->stepFirst(loc); s == 0; s = file->stepNext(loc)) {
        Record r;
        bool whole = true;
        EXPECT_EQ(file->readRescued(loc, r, whole), 0);
        // A compressed record is whole or not given at all.
        if (!whole && (request.wholeOnly || file->compressed()))
            continue;
        out.records.push_back(r);
        out.whole.push_back(whole);
    }
    return out;
}

void rewrite(const std::filesystem::path& path, uint64_t offset, const std::vector<uint8_t>& bytes)
{
    auto all = readAll(path);
    ASSERT_LE(offset + bytes.size(), all.size());
    std::copy(bytes.begin(), bytes.end(), all.begin() + long(offset));
    writeAll(path, all);
}

std::vector<uint8_t> randomBytes(size_t n, uint32_t seed)
{
    std::mt19937 gen(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes)
        b = uint8_t(gen());
    return bytes;
}

// Cuts the file after `pages` whole pages and `bytes` of the next; the pages from there on are
// lost.
std::set<uint32_t> cutTo(
    const std::filesystem::path& path, const WrittenLayout& layout, uint32_t pages, size_t bytes)
{
    auto all = readAll(path);
    all.resize(size_t(pages) * layout.pageSize + bytes);
    writeAll(path, all);
    std::set<uint32_t> lost;
    for (uint32_t p = pages; p < layout.physicalPages; ++p)
        lost.insert(p);
    return lost;
}

// The physical pages of the data pages that hold records, in order.
std::vector<uint32_t> dataPagesOf(const Truth& truth)
{
    std::set<uint32_t> pages(truth.dataPage.begin(), truth.dataPage.end());
    return {pages.begin(), pages.end()};
}

struct Damage
{
    const char* name;
    bool v5;
    bool tabled; // 6.x and newer
    // Alters the file; returns the physical pages whose records may be lost.
    std::set<uint32_t> (*apply)(const std::filesystem::path&, const WrittenLayout&, const Truth&);
    bool needsDefinition = false; // both control records lost
    bool skipsPages = false;      // the report must count skipped pages
    // No current table is left: copies of a variable page that the writer gives equal usage
    // counts are told apart by nothing, and are not read.
    bool tablesLost = false;
};

const std::set<uint32_t> None {};

const Damage damages[] = {
    {"Undamaged", true, true, [](auto&, auto&, auto&) { return None; }},
    {"CurrentControlRecordZeroed", false, true,
        [](auto& path, auto& layout, auto&) {
            rewrite(path, uint64_t(layout.currentFcr) * layout.pageSize,
                std::vector<uint8_t>(size_t(layout.unit) * layout.pageSize, 0));
            return None;
        }},
    {"ControlRecordsZeroed", true, true,
        [](auto& path, auto& layout, auto&) {
            rewrite(
                path, 0, std::vector<uint8_t>(size_t(layout.controlPages()) * layout.pageSize, 0));
            return None;
        },
        true},
    {"AllocationTablesZeroed", false, true,
        [](auto& path, auto& layout, auto&) {
            for (uint32_t k = 1; k <= layout.pairs; ++k)
                rewrite(path, uint64_t(layout.pairPage(k)) * layout.pageSize,
                    std::vector<uint8_t>(size_t(2 * layout.unit) * layout.pageSize, 0));
            return None;
        },
        false, false, true},
    {"CurrentTableCopyZeroed", false, true,
        [](auto& path, auto& layout, auto&) {
            rewrite(path, uint64_t(layout.currentTable[0]) * layout.pageSize,
                std::vector<uint8_t>(size_t(layout.unit) * layout.pageSize, 0));
            return None;
        },
        false, false, true},
    {"DataPagesOverwritten", true, true,
        [](auto& path, auto& layout, auto& truth) {
            auto pages = dataPagesOf(truth);
            std::set<uint32_t> lost;
            for (size_t i = 1; i < pages.size(); i += 4) {
                rewrite(path, uint64_t(pages[i]) * layout.pageSize,
                    randomBytes(layout.pageSize, uint32_t(i)));
                lost.insert(pages[i]);
            }
            return lost;
        },
        false, true},
    {"HeadersRandom", true, true,
        [](auto& path, auto& layout, auto& truth) {
            auto pages = dataPagesOf(truth);
            std::set<uint32_t> lost;
            for (size_t i = 0; i < pages.size(); i += 3) {
                rewrite(path, uint64_t(pages[i]) * layout.pageSize, randomBytes(6, uint32_t(i)));
                lost.insert(pages[i]);
            }
            return lost;
        },
        false, true},
    {"CutAtPageBoundary", true, true,
        [](auto& path, auto& layout, auto&) {
            return cutTo(path, layout, layout.physicalPages * 2 / 3, 0);
        },
        false, true},
    {"CutInsidePage", true, true,
        [](auto& path, auto& layout, auto&) {
            return cutTo(path, layout, layout.physicalPages / 2, 100);
        },
        false, true},
};

struct Case
{
    Damage damage;
    uint16_t version;
    bool variable;
    bool compressed;
};

std::string nameOf(const Case& c)
{
    // Appended piece by piece, past GCC 12's false overlap warning in optimised builds.
    std::string name = c.damage.name;
    name.append("_");
    name.append(std::to_string(c.version >> 8));
    name.append(std::to_string((c.version >> 4) & 0xF));
    name.append(c.variable ? "_variable" : "");
    name.append(c.compressed ? "_compressed" : "");
    return name;
}

void PrintTo(const Case& c, std::ostream* os)
{
    *os << nameOf(c);
}

// Every damage on every family, plain, variable-length and compressed. Without both control
// records a newer file is not read: its two sub-layouts cannot be told apart by the pages alone.
std::vector<Case> cases()
{
    std::vector<Case> all;
    for (const Damage& d : damages)
        for (uint16_t version : {Version5, Version60, Version80, Version95})
            for (int form = 0; form < 3; ++form)
                if ((version == Version5 ? d.v5 : d.tabled)
                    && !(d.needsDefinition && version >= Version80))
                    all.push_back({d, version, form == 1, form == 2});
    return all;
}

class Salvage : public ::testing::TestWithParam<Case>
{
};

// Every record on a page the damage left alone comes back, every record that comes back was in
// the file (a partial one by its fixed part), and none comes twice.
TEST_P(Salvage, RescuesWhatTheDamageLeft)
{
    const Case& c = GetParam();
    ScratchDir dir;
    const auto path = dir.path("FILE.DAT");
    const auto layout = writeLegacyFile(path, specOf(c.version, c.variable, 700, c.compressed));
    const Truth truth = truthOf(path, layout);
    ASSERT_EQ(truth.records.size(), 700u);
    const std::set<uint32_t> lost = c.damage.apply(path, layout, truth);

    SalvageRequest request;
    if (c.damage.needsDefinition) {
        Rescue without = rescue(path);
        EXPECT_EQ(without.status, 2) << "nothing may be read without a definition";
        EXPECT_NE(without.reason.find("definition"), std::string::npos) << without.reason;
        request.given = &truth.definition;
    }
    const Rescue got = rescue(path, request);
    ASSERT_EQ(got.status, 0) << got.reason;

    std::map<Record, int, testsupport::BytesLess> expected;
    for (const Record& r : truth.records)
        ++expected[r];
    std::map<Record, int, testsupport::BytesLess> fixedParts;
    for (const Record& r : truth.records)
        ++fixedParts[Record(r.begin(), r.begin() + RecordLength)];
    std::map<Record, int, testsupport::BytesLess> seen;
    for (size_t i = 0; i < got.records.size(); ++i) {
        const Record& r = got.records[i];
        const Record fixed(r.begin(), r.begin() + std::min<size_t>(r.size(), RecordLength));
        if (got.whole[i]) {
            ASSERT_TRUE(expected.count(r)) << "record " << i << " was never in the file";
        } else {
            ASSERT_TRUE(fixedParts.count(fixed)) << "partial record " << i << " was never there";
        }
        ASSERT_EQ(++seen[fixed], 1) << "record " << i << " came twice";
    }
    // A compressed record whose stream lay on a lost page is left out, never given in part.
    const bool streamsLost = c.compressed && !lost.empty();
    size_t onSoundPages = 0;
    for (size_t i = 0; i < truth.records.size(); ++i) {
        if (lost.count(truth.dataPage[i]))
            continue;
        ++onSoundPages;
        const Record fixed(truth.records[i].begin(), truth.records[i].begin() + RecordLength);
        EXPECT_TRUE(streamsLost || seen.count(fixed))
            << "record " << i << " on sound page " << truth.dataPage[i] << " was not rescued";
    }
    if (c.compressed) {
        EXPECT_EQ(got.report.partial, 0u);
        EXPECT_GE(got.records.size() + got.report.leftOut, onSoundPages);
    }
    const bool ties = c.damage.tablesLost && (c.variable || c.compressed);
    if (lost.empty()) {
        EXPECT_EQ(got.records.size(), truth.records.size());
        EXPECT_EQ(got.report.rescued, truth.records.size());
        if (!ties) {
            EXPECT_EQ(got.report.partial, 0u);
        }
    }
    if (!c.compressed) {
        EXPECT_GE(got.records.size(), onSoundPages);
    }
    EXPECT_EQ(got.report.rescued, got.records.size());
    if (c.damage.skipsPages) {
        EXPECT_GT(got.report.pagesSkipped(), 0u);
    } else if (!ties) {
        EXPECT_EQ(got.report.pagesSkipped(), 0u);
    }
    if (c.damage.needsDefinition) {
        EXPECT_EQ(got.report.source, SalvageReport::Caller);
    } else if (std::string(c.damage.name) == "CurrentControlRecordZeroed") {
        // The copy left is the shadow: the tables were written after it.
        EXPECT_EQ(got.report.source, SalvageReport::Shadow);
        EXPECT_EQ(got.report.countedRecords, UINT32_MAX) << "the shadow's counts are not used";
    } else {
        EXPECT_EQ(got.report.source, SalvageReport::ControlRecord);
    }
}

INSTANTIATE_TEST_SUITE_P(Damaged, Salvage, ::testing::ValuesIn(cases()),
    [](const ::testing::TestParamInfo<Case>& param) { return nameOf(param.param); });

// An undamaged 6.x file with stale copies of its pages gives exactly its records, once each:
// a plain physical scan would return the stale copies too.
TEST(SalvageStale, UndamagedFileGivesItsCountWithStaleCopiesPassedOver)
{
    ScratchDir dir;
    const auto path = dir.path("STALE.DAT");
    const auto layout = writeLegacyFile(path, specOf(Version60, true, 700));
    ASSERT_FALSE(layout.stalePages.empty());
    const Rescue got = rescue(path);
    ASSERT_EQ(got.status, 0) << got.reason;
    EXPECT_EQ(got.report.rescued, 700u);
    EXPECT_EQ(got.report.staleCopies, layout.stalePages.size());
    EXPECT_EQ(got.report.untabled, 0u);
    EXPECT_EQ(got.report.countedRecords, 700u);
    EXPECT_EQ(got.report.source, SalvageReport::ControlRecord);
}

// A 6.0 file of 583 pages of 1536 bytes with two table pairs (pages 2-3 and 386-387), cut after
// its page 349 so that the second pair is lost: pages the second table names but that lie before
// the cut (the engine reused freed pages) still hold records, and the control record counts
// their logical pages. Every record on a whole page before the cut comes back, in both forms.
TEST(SalvageCut, SecondPairLostPagesBeforeTheCutStillRead)
{
    ScratchDir dir;
    const auto path = dir.path("CUT.DAT");
    LegacyFileSpec spec;
    spec.version = Version60;
    spec.records = 1154;
    spec.rule = [](uint32_t i, Record& r) {
        r.assign(700, uint8_t(i));
        btr::le::put32(r.data(), i + 1);
    };
    spec.definition.pageSize = 1536;
    spec.definition.recordLength = 700;
    recman::Key key;
    key.segments.push_back({1, 4, keyflag::ExtendedType, 1154, 14, 0, 0, 0, 0});
    spec.definition.keys = {key};
    WrittenLayout layout = writeLegacyFile(path, spec);
    ASSERT_EQ(layout.physicalPages, 583u);
    ASSERT_EQ(layout.pairs, 2u);
    ASSERT_EQ(layout.pairPage(2), 386u);
    // Logical pages 383 and 384 (the second table's) trade places with 10 and 11.
    swapPages(path, layout, 383, 10);
    swapPages(path, layout, 384, 11);
    ASSERT_LT(layout.physicalOf[383], 350u);
    const Truth truth = truthOf(path, layout);
    ASSERT_EQ(truth.records.size(), 1154u);
    cutTo(path, layout, 350, 0);
    Records expected;
    for (size_t i = 0; i < truth.records.size(); ++i)
        if (truth.dataPage[i] < 350)
            expected.insert(truth.records[i]);
    ASSERT_EQ(expected.size(), 692u);
    for (bool wholeOnly : {false, true}) {
        SalvageRequest request;
        request.wholeOnly = wholeOnly;
        const Rescue got = rescue(path, request);
        ASSERT_EQ(got.status, 0) << got.reason;
        EXPECT_EQ(got.records.size(), expected.size());
        EXPECT_TRUE(Records(got.records.begin(), got.records.end()) == expected);
        EXPECT_EQ(got.report.countedRecords, 1154u);
    }
}

// Without any table, the copies' usage counts decide; the pages no sound table names are
// counted.
TEST(SalvageStale, TablesLostTakeTheMostRecentCopies)
{
    ScratchDir dir;
    const auto path = dir.path("NOTABLE.DAT");
    const auto layout = writeLegacyFile(path, specOf(Version60, false, 700));
    for (uint32_t k = 1; k <= layout.pairs; ++k)
        rewrite(path, uint64_t(layout.pairPage(k)) * layout.pageSize,
            std::vector<uint8_t>(2 * layout.pageSize, 0));
    const Rescue got = rescue(path);
    ASSERT_EQ(got.status, 0) << got.reason;
    EXPECT_EQ(got.report.rescued, 700u);
    EXPECT_EQ(got.report.untabled, layout.dataPages);
}

// A variable page lost: the records whose chain runs through it keep their fixed part and are
// counted partial, or are left out whole-only.
TEST(SalvageVariable, BrokenChainGivesPartialRecordsOrNoneWholeOnly)
{
    for (uint16_t version : {Version5, Version60}) {
        ScratchDir dir;
        const auto path = dir.path("VAR.DAT");
        const auto layout = writeLegacyFile(path, specOf(version, true, 700));
        const Truth truth = truthOf(path, layout);
        uint32_t variablePage = 0;
        for (size_t logical = 1; logical < layout.typeOf.size() && !variablePage; ++logical)
            if (layout.typeOf[logical] == 'V')
                variablePage = layout.physicalOf[logical];
        ASSERT_NE(variablePage, 0u);
        rewrite(path, uint64_t(variablePage) * layout.pageSize,
            std::vector<uint8_t>(layout.pageSize, 0x5A));

        const Rescue got = rescue(path);
        ASSERT_EQ(got.status, 0) << got.reason;
        EXPECT_EQ(got.records.size(), 700u);
        EXPECT_GT(got.report.partial, 0u);
        size_t partial = 0;
        for (size_t i = 0; i < got.records.size(); ++i) {
            if (got.whole[i])
                continue;
            ++partial;
            EXPECT_EQ(got.records[i].size(), RecordLength);
        }
        EXPECT_EQ(partial, got.report.partial);

        SalvageRequest wholeOnly;
        wholeOnly.wholeOnly = true;
        const Rescue strict = rescue(path, wholeOnly);
        ASSERT_EQ(strict.status, 0);
        EXPECT_EQ(strict.report.leftOut, got.report.partial);
        EXPECT_EQ(strict.report.rescued + strict.report.leftOut, 700u);
        EXPECT_EQ(strict.records.size(), strict.report.rescued);
    }
}

// Copies of one logical page with the same usage count and different bytes: neither is taken.
TEST(SalvageStale, EquallyRecentCopiesThatDifferAreAmbiguous)
{
    ScratchDir dir;
    const auto path = dir.path("TIE.DAT");
    const auto layout = writeLegacyFile(path, specOf(Version60, false, 700));
    ASSERT_FALSE(layout.stalePages.empty());
    const Truth truth = truthOf(path, layout);
    for (uint32_t k = 1; k <= layout.pairs; ++k)
        rewrite(path, uint64_t(layout.pairPage(k)) * layout.pageSize,
            std::vector<uint8_t>(2 * layout.pageSize, 0));
    // The first stale data copy claims the current copy's usage count.
    auto all = readAll(path);
    uint32_t stale = 0;
    for (uint32_t p : layout.stalePages)
        if (all[size_t(p) * layout.pageSize + 1] == 'D') {
            stale = p;
            break;
        }
    ASSERT_NE(stale, 0u);
    all[size_t(stale) * layout.pageSize + 5] = 0x80;
    all[size_t(stale) * layout.pageSize + 4] = 2;
    writeAll(path, all);
    const Rescue got = rescue(path);
    ASSERT_EQ(got.status, 0) << got.reason;
    EXPECT_EQ(got.report.pagesAmbiguous, 2u);
    EXPECT_LT(got.report.rescued, 700u);
    const std::set<Record, testsupport::BytesLess> real(truth.records.begin(), truth.records.end());
    for (const Record& r : got.records)
        EXPECT_TRUE(real.count(r)) << "a stale record came back";
}

// Bytes that are no legacy file at all, or a page size no page agrees with: 2, nothing invented.
TEST(SalvageRefusal, NothingReadableAnswersTwo)
{
    ScratchDir dir;
    const auto path = dir.path("NOISE.DAT");
    writeAll(path, randomBytes(8192, 7));
    EXPECT_EQ(rescue(path).status, 2);
    int16_t status = 0;
    std::string reason;
    auto fixture = LegacyFile::open(fixturePath("MBBSEMU.DAT"), status, reason);
    if (!fixture)
        GTEST_SKIP() << "fixture missing";
    SalvageRequest request;
    request.given = &fixture->definition();
    EXPECT_EQ(rescue(path, request).status, 2);
    writeAll(path, std::vector<uint8_t>(100, 0));
    EXPECT_EQ(rescue(path).status, 2);
}

// A control record that gives the wrong page size: the pages tell the right one.
TEST(SalvagePageSize, ThePagesCorrectAWrongPageSize)
{
    const auto path = fixturePath("VARIABLE.DAT");
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "fixture missing";
    ScratchDir dir;
    auto bytes = readAll(path);
    ASSERT_EQ(btr::le::get16(&bytes[0x08]), 512);
    btr::le::put16(&bytes[0x08], 1024);
    writeAll(dir.path("WRONG.DAT"), bytes);
    const Rescue got = rescue(dir.path("WRONG.DAT"));
    ASSERT_EQ(got.status, 0) << got.reason;
    EXPECT_TRUE(got.report.pageSizeFromPages);
    EXPECT_EQ(got.report.rescued, 1024u);
    EXPECT_EQ(got.report.partial, 0u);
    EXPECT_EQ(got.report.countedRecords, UINT32_MAX)
        << "a control record that is wrong counts nothing";
}

// Every fixture gives through salvage exactly the records the reader gives.
class SalvageFixture : public ::testing::TestWithParam<const char*>
{
};

TEST_P(SalvageFixture, UndamagedFixtureGivesExactlyItsRecords)
{
    const auto path = fixturePath(GetParam());
    if (!std::filesystem::exists(path))
        GTEST_SKIP() << "fixture missing";
    int16_t status = 0;
    std::string reason;
    auto file = LegacyFile::open(path, status, reason);
    ASSERT_TRUE(file) << reason;
    Records expected;
    Locator loc = 0;
    for (int16_t s = file->stepFirst(loc); s == 0; s = file->stepNext(loc)) {
        Record r;
        ASSERT_EQ(file->readRecord(loc, r), 0);
        expected.insert(r);
    }
    const Rescue got = rescue(path);
    ASSERT_EQ(got.status, 0) << got.reason;
    EXPECT_EQ(Records(got.records.begin(), got.records.end()), expected);
    EXPECT_EQ(got.report.partial, 0u);
    EXPECT_EQ(got.report.pagesSkipped(), 0u);
    EXPECT_FALSE(got.report.acsLost);
    EXPECT_EQ(got.report.source, SalvageReport::ControlRecord);

    // With both control records gone, the fixture's own definition reads it again.
    ScratchDir dir;
    const auto copy = dir.path(GetParam());
    auto bytes = readAll(path);
    const size_t fcrBytes
        = file->version() >= 0x0600 ? 2 * file->definition().pageSize : file->definition().pageSize;
    std::fill(bytes.begin(), bytes.begin() + long(fcrBytes), 0);
    writeAll(copy, bytes);
    SalvageRequest request;
    request.given = &file->definition();
    const Rescue again = rescue(copy, request);
    ASSERT_EQ(again.status, 0) << again.reason;
    EXPECT_EQ(again.report.source, SalvageReport::Caller);
    EXPECT_EQ(again.report.pageSizeFromPages, true);
    EXPECT_EQ(Records(again.records.begin(), again.records.end()), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, SalvageFixture,
    ::testing::Values("GALTELA.DAT", "MBBSEMU.DAT", "MBMGEPLT.DAT", "MULTIACS.DAT", "VARIABLE.DAT",
        "WCCACMS2.DAT", "WGSMENU2.DAT", "BBSGEN.VIR"),
    [](const ::testing::TestParamInfo<const char*>& param) {
        std::string name = param.param;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

// Through the entry point: the salvage mode, the report, the definition in the Open data buffer,
// and what is refused.
TEST(SalvageEntry, ModeReportAndRefusals)
{
    ScratchDir dir;
    const auto path = dir.path("ENTRY.DAT");
    const auto layout = writeLegacyFile(path, specOf(Version60, false, 300));
    Btr normal;
    ASSERT_EQ(normal.open(path), 0);
    const auto image = normal.stat();
    {
        Btr other;
        EXPECT_EQ(other.open(path, btr::mode::Salvage), btr::status::IncompatibleMode);
    }
    EXPECT_EQ(normal.call(btr::op::SalvageReport, 0, btr::salvage::ReportSize), 41);
    normal.call(btr::op::Close);

    rewrite(path, 0, std::vector<uint8_t>(2 * layout.pageSize, 0));
    Btr salvage;
    EXPECT_EQ(salvage.open(path, btr::mode::Salvage), 2);
    // The definition in the data buffer.
    std::memset(salvage.key, 0, sizeof salvage.key);
    std::strncpy(reinterpret_cast<char*>(salvage.key), path.c_str(), sizeof salvage.key - 1);
    std::copy(image.begin(), image.end(), salvage.data.begin());
    ASSERT_EQ(salvage.call(btr::op::Open, btr::mode::Salvage, uint16_t(image.size())), 0);
    EXPECT_EQ(btr::le::get32(salvage.stat().data() + btr::layout::file::NumRecords), 300u);
    size_t stepped = 0;
    for (int16_t s = salvage.call(btr::op::StepFirst); s == 0; s = salvage.call(btr::op::StepNext))
        ++stepped;
    EXPECT_EQ(stepped, 300u);
    EXPECT_EQ(salvage.call(btr::op::GetFirst, 0), 41);
    EXPECT_EQ(salvage.call(btr::op::Insert, -1, RecordLength), 41);
    ASSERT_EQ(salvage.call(btr::op::SalvageReport, 0, btr::salvage::ReportSize), 0);
    namespace at = btr::salvage::report;
    const uint8_t* r = salvage.data.data();
    EXPECT_EQ(salvage.length, btr::salvage::ReportSize);
    EXPECT_EQ(btr::le::get16(r + at::Version), btr::salvage::LayoutVersion);
    EXPECT_EQ(btr::le::get32(r + at::Rescued), 300u);
    EXPECT_EQ(r[at::Source], btr::salvage::FromCaller);
    EXPECT_EQ(btr::le::get32(r + at::CountedRecords), 0xFFFFFFFFu);
    EXPECT_EQ(btr::le::get16(r + at::PageSize), 512);
    EXPECT_EQ(salvage.call(btr::op::SalvageReport, 0, 10), 22);
    {
        // Open in another mode while it is held for salvage: 88.
        Btr again;
        EXPECT_EQ(again.open(path, btr::mode::ReadOnly), btr::status::IncompatibleMode);
        EXPECT_EQ(again.open(path, btr::mode::SalvageWholeOnly), btr::status::IncompatibleMode);
    }

    // Our own files are never opened for salvage.
    const auto own = dir.path("OWN.DAT");
    Btr creator;
    ASSERT_EQ(creator.create(own, image, 0), 0);
    Btr store;
    EXPECT_EQ(store.open(own, btr::mode::Salvage), 41);
}

} // namespace
