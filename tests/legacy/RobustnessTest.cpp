// Files the reader must refuse, damaged files it must survive, and files it must leave untouched.
#include "ByteVector.h"
#include "EntryCalls.h"
#include "Fixtures.h"
#include "KeyOrder.h"
#include "LegacyFile.h"
#include "LittleEndian.h"
#include "writer/LegacyWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace recman;
using namespace recman::legacy;
using legacytest::fixturePath;
using legacytest::readAll;
using legacytest::ScratchDir;
using legacytest::writeAll;
using testsupport::put16;

namespace {

struct Refusal
{
    const char* name;
    const char* fixture; // null: the bytes come from `make` alone
    void (*alter)(std::vector<uint8_t>&);
    int16_t status;
    const char* reasonHas;
};

void PrintTo(const Refusal& r, std::ostream* os)
{
    *os << r.name;
}

// GALTELA.DAT's current control record is page 1 (4096 bytes in).
constexpr size_t GaltelaFcr = 4096;

const Refusal refusals[] = {
    // An owner name whose access mode no engine gives, and encrypted data no rule decrypts (the
    // file is plain, its owner block random).
    {"OwnerModeUnknown5", "MBBSEMU.DAT",
        [](auto& b) {
            b[7] = 0xFC;
            b[0x37] = 7;
        },
        30, "access mode 7"},
    {"EncryptedUnderNeitherRule5", "MBBSEMU.DAT",
        [](auto& b) {
            b[7] = 0xFC;
            const uint8_t block[9] = {0x13, 0x57, 0x9B, 0xDF, 0x24, 0x68, 0xAC, 0xE0, 0};
            std::copy(std::begin(block), std::end(block), b.begin() + 0x2E);
            b[0x37] = 2;
        },
        30, "neither"},
    {"VariableTail5", "MBBSEMU.DAT", [](auto& b) { b[0x107] |= 0x08; }, 30, "variable-tail"},
    {"OwnerModeUnknown6", "GALTELA.DAT",
        [](auto& b) {
            put16(b, GaltelaFcr + 0x4A, 0xFA00);
            b[GaltelaFcr + 0x37] = 4;
        },
        30, "access mode 4"},
    {"VariableTail6", "GALTELA.DAT", [](auto& b) { b[GaltelaFcr + 0x107] |= 0x08; }, 30,
        "variable-tail"},
    {"KeyOnly5", "MBBSEMU.DAT", [](auto& b) { b[0x106] |= 0x10; }, 30, "key-only"},
    {"KeyOnly6", "GALTELA.DAT", [](auto& b) { b[GaltelaFcr + 0x106] |= 0x10; }, 30, "key-only"},
    {"Version7", "GALTELA.DAT", [](auto& b) { put16(b, GaltelaFcr + 0x4A, 0x0700); }, 30,
        "version 7.x"},
    {"Version7WithOwner", "GALTELA.DAT", [](auto& b) { put16(b, GaltelaFcr + 0x4A, 0xF900); }, 30,
        "version 7.x"},
    // A version of the newer format in a control record of the 6.x layout: no control record.
    {"Version9In6xLayout", "GALTELA.DAT", [](auto& b) { put16(b, GaltelaFcr + 0x4A, 0x0900); }, 30,
        "no control record of any version"},
    // The control record's count of table pairs (0x50), of logical pages (0x26) and its usage
    // count must agree with the one table pair GALTELA.DAT holds.
    {"NoAllocationTable", "GALTELA.DAT", [](auto& b) { put16(b, GaltelaFcr + 0x50, 0); }, 2,
        "allocation table"},
    {"TwoAllocationTablesCounted", "GALTELA.DAT", [](auto& b) { put16(b, GaltelaFcr + 0x50, 2); },
        2, "allocation table"},
    {"MorePagesThanTheTablesCover", "GALTELA.DAT",
        [](auto& b) {
            put16(b, GaltelaFcr + 0x26, 0);
            put16(b, GaltelaFcr + 0x28, 1024);
        },
        2, "allocation table"},
    {"FewerPagesThanTheTablesUse", "GALTELA.DAT", [](auto& b) { put16(b, GaltelaFcr + 0x28, 20); },
        2, "count"},
    {"TableNewerThanTheControlRecord", "GALTELA.DAT", [](auto& b) { b[3 * 4096 + 4] = 3; }, 2,
        "newer"},
    {"ShadowTableNotMarked", "GALTELA.DAT", [](auto& b) { b[2 * 4096 + 2] = 7; }, 2,
        "allocation table 1"},
    // The current allocation table (page 3) sends logical data page 5 beyond the file's end, or
    // to the page of logical page 6.
    {"DataPageOutsideTheFile", "GALTELA.DAT", [](auto& b) { b[3 * 4096 + 8 + 4 * 4 + 2] = 200; }, 2,
        "logical page 5"},
    {"EntryNamesAnotherLogicalPage", "GALTELA.DAT",
        [](auto& b) { std::copy_n(&b[3 * 4096 + 8 + 4 * 9], 4, &b[3 * 4096 + 8 + 4 * 4]); }, 2,
        "logical page 5"},
    {"RecordCountDisagrees", "GALTELA.DAT", [](auto& b) { b[GaltelaFcr + 0x1D] ^= 1; }, 2,
        "records"},
    {"Version5ByteOutOfRange", "MBBSEMU.DAT", [](auto& b) { b[7] = 6; }, 30,
        "no control record of any version"},
    {"MorePagesThanTheFile", "MBBSEMU.DAT", [](auto& b) { b[0x29] = 0x01; }, 2, "more pages"},
    {"AcsPageMissing", "MBBSEMU.DAT", [](auto& b) { b[0x118] |= 0x20; }, 2, "collating"},
    {"KeyOutsideRecord", "MBBSEMU.DAT", [](auto& b) { put16(b, 0x124, 80); }, 2, "outside"},
    {"Text", nullptr,
        [](auto& b) {
            std::string text(2048, 'x');
            b.assign(text.begin(), text.end());
        },
        30, ""},
    {"Zeros", nullptr, [](auto& b) { b.assign(8192, 0); }, 30, ""},
    {"Short", nullptr, [](auto& b) { b.assign(100, 0); }, 30, "short"},
    {"Empty", nullptr, [](auto& b) { b.clear(); }, 30, "short"},
    {"OurOwnStore", nullptr,
        [](auto& b) {
            std::string head = "SQLite format 3";
            b.assign(4096, 0);
            std::copy(head.begin(), head.end(), b.begin());
            b[16] = 0x10;
        },
        30, ""},
};

class RefusalTest : public testing::TestWithParam<Refusal>
{
};

TEST_P(RefusalTest, AnswersAStatusAndSaysWhy)
{
    const Refusal& r = GetParam();
    std::vector<uint8_t> bytes;
    if (r.fixture) {
        REQUIRE_LEGACY_FIXTURES();
        bytes = readAll(fixturePath(r.fixture));
    }
    r.alter(bytes);
    ScratchDir dir;
    writeAll(dir.path("FILE.DAT"), bytes);
    int16_t status = -1;
    std::string reason;
    EXPECT_EQ(LegacyFile::open(dir.path("FILE.DAT"), status, reason), nullptr);
    EXPECT_EQ(status, r.status);
    EXPECT_NE(reason.find(r.reasonHas), std::string::npos) << reason;

    // Through the entry point the same status, and the same words from its Reason operation;
    // the next call forgets them.
    legacytest::Btr file;
    EXPECT_EQ(file.open(dir.path("FILE.DAT")), r.status);
    ASSERT_EQ(file.call(btr::op::Reason, 0, 1024), 0);
    EXPECT_EQ(std::string(file.data.begin(), file.data.begin() + file.length), reason);
    // What kind of refusal: damage, a file of the vendor's engine not read, or no such file.
    const bool controlRecord = LegacyFile::carriesControlRecord(dir.path("FILE.DAT"));
    EXPECT_EQ(file.key[0],
        r.status == btr::status::IoError ? btr::reason::Damaged
            : controlRecord              ? btr::reason::NotRead
                                         : btr::reason::NotADataFile);
    if (!reason.empty()) {
        EXPECT_EQ(file.call(btr::op::Reason, 0, 1), btr::status::DataBufferTooShort);
        EXPECT_EQ(file.length, reason.size());
    }
    EXPECT_EQ(file.call(btr::op::Stat), btr::status::FileNotOpen);
    ASSERT_EQ(file.call(btr::op::Reason, 0, 1024), 0);
    EXPECT_EQ(file.length, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, RefusalTest, testing::ValuesIn(refusals),
    [](const testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

TEST(Open, MissingFileOrDirectoryAnswersFileNotFound)
{
    ScratchDir dir;
    int16_t status = -1;
    std::string reason;
    EXPECT_EQ(LegacyFile::open(dir.path("NONE.DAT"), status, reason), nullptr);
    EXPECT_EQ(status, 12);
    EXPECT_EQ(LegacyFile::open(dir.path(""), status, reason), nullptr);
    EXPECT_EQ(status, 12);
}

// A fragment whose link leads back to itself must end in status 2, not in an endless walk.
TEST(Damage, VariablePartChainThatLoopsIsBounded)
{
    REQUIRE_LEGACY_FIXTURES();
    std::vector<uint8_t> bytes = readAll(fixturePath("VARIABLE.DAT"));
    // Page 1109 fragment 0 continues on page 1108; make it continue on itself.
    size_t fragment = 1109 * 512 + 12;
    ASSERT_EQ(bytes[fragment + 1], 0x54);
    bytes[fragment + 1] = 0x55;
    ScratchDir dir;
    writeAll(dir.path("LOOP.DAT"), bytes);
    int16_t status = -1;
    std::string reason;
    auto file = LegacyFile::open(dir.path("LOOP.DAT"), status, reason);
    ASSERT_TRUE(file) << reason;
    std::vector<uint8_t> record;
    int damaged = 0;
    Locator loc = 0;
    for (int16_t s = file->stepFirst(loc); s == 0; s = file->stepNext(loc))
        damaged += file->readRecord(loc, record) == status::IoError;
    EXPECT_GE(damaged, 1);
}

// Slots of four bytes or less: nothing is left of a record once the free-slot link is set
// aside, and reading must still stay inside each slot.
TEST(Damage, TinyRecordSlotsAreReadInsideTheirBounds)
{
    REQUIRE_LEGACY_FIXTURES();
    std::vector<uint8_t> bytes = readAll(fixturePath("MBBSEMU.DAT"));
    put16(bytes, 0x14, 0); // no keys
    put16(bytes, 0x16, 2); // record length
    put16(bytes, 0x18, 3); // physical length
    ScratchDir dir;
    writeAll(dir.path("TINY.DAT"), bytes);
    int16_t status = -1;
    std::string reason;
    auto file = LegacyFile::open(dir.path("TINY.DAT"), status, reason);
    ASSERT_TRUE(file) << reason;
    std::vector<uint8_t> record;
    Locator loc = 0;
    size_t records = 0;
    for (int16_t s = file->stepFirst(loc); s == 0; s = file->stepNext(loc), ++records) {
        ASSERT_EQ(file->readRecord(loc, record), 0);
        EXPECT_EQ(record.size(), 2u);
    }
    EXPECT_GT(records, 0u);
    EXPECT_LE(records, (512u - 6) / 3);
}

// Reads all a file offers: every record whole in page order, and every key's index with the
// fixed part of each record it leads to. Returns the first status other than success and end of
// file, or 0.
int16_t readEverything(const std::filesystem::path& path, int16_t& openStatus)
{
    std::string reason;
    auto file = LegacyFile::open(path, openStatus, reason);
    if (!file)
        return 0;
    std::vector<uint8_t> record;
    Locator loc = 0;
    int16_t s = file->stepFirst(loc);
    for (; s == status::Success; s = file->stepNext(loc))
        if ((s = file->readRecord(loc, record)) != status::Success)
            return s;
    if (s != status::EndOfFile)
        return s;
    for (size_t k = 0; k < file->definition().keys.size(); ++k) {
        const KeyOrder* index = file->keyOrder(int(k), s);
        if (!index)
            return s;
        for (size_t i = 0; i < index->size(); ++i)
            if ((s = file->readFixedPart(index->locator(i), record)) != status::Success)
                return s;
    }
    return 0;
}

class MutationTest : public testing::TestWithParam<const char*>
{
};

// Truncated at many lengths, or with one byte changed at many places (in the key specs, in the
// control records and allocation tables, anywhere, and at pages' ends where the fragment tables
// lie), every file opens to a clean status or reads to a clean end.
// The name of the file the writer lays out for the mutation test: 6.x, page 512, three pairs of
// page allocation tables, variable-length records over many fragments, stale pages, freed slots.
constexpr const char* SeveralTables = "SEVERAL_TABLES";

// The file's bytes, and the first page of its last table pair (0 for a real file: its one pair
// lies among the first four pages).
std::vector<uint8_t> mutationSource(
    const std::string& name, const ScratchDir& dir, size_t& lastPair)
{
    lastPair = 0;
    if (name != SeveralTables)
        return readAll(fixturePath(name));
    legacytest::LegacyFileSpec spec;
    spec.records = 1500;
    spec.freeSlotEvery = 5;
    spec.staleEvery = 4;
    spec.scatter = true;
    spec.fragmentLimit = 40;
    spec.rule = [](uint32_t i, std::vector<uint8_t>& record) {
        record.assign(12 + i % 150, uint8_t(i));
        btr::le::put32(record.data(), i * 7919);
        record[4] = uint8_t('A' + i % 4);
    };
    recman::Definition& def = spec.definition;
    def.pageSize = 512;
    def.recordLength = 12;
    def.fileFlags = recman::fileflag::VariableLength;
    recman::Key unique, letters;
    unique.segments.push_back({1, 4, recman::keyflag::ExtendedType, spec.records, 14, 0, 0, 0, 0});
    letters.number = 1;
    letters.segments.push_back({5, 1,
        uint16_t(recman::keyflag::ExtendedType | recman::keyflag::Duplicates), 4, 0, 0, 0, 0, 0});
    def.keys = {unique, letters};
    const legacytest::WrittenLayout layout = legacytest::writeLegacyFile(dir.path("W.DAT"), spec);
    lastPair = layout.pairPage(layout.pairs);
    return readAll(dir.path("W.DAT"));
}

TEST_P(MutationTest, DamagedFileEndsCleanly)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    size_t lastPair = 0;
    const std::vector<uint8_t> original = mutationSource(GetParam(), dir, lastPair);
    ASSERT_GE(original.size(), 2048u);
    const auto path = dir.path("MUTANT.DAT");
    writeAll(path, original);
    {
        // Undamaged, the file reads through.
        int16_t openStatus = -1;
        ASSERT_EQ(readEverything(path, openStatus), 0);
        ASSERT_EQ(openStatus, 0);
    }
    int fd = ::open(path.c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    // Another seed in VARNOK_MUTATION_SEED explores other changes.
    const char* seed = std::getenv("VARNOK_MUTATION_SEED");
    std::mt19937 rng(seed ? uint32_t(std::strtoul(seed, nullptr, 10)) : 20261207u);
    auto check = [&](const std::string& what) {
        int16_t openStatus = -1;
        int16_t readStatus = readEverything(path, openStatus);
        EXPECT_TRUE(openStatus == 0 || openStatus == 2 || openStatus == 30)
            << what << ": open " << openStatus;
        EXPECT_TRUE(readStatus == 0 || readStatus == 2) << what << ": read " << readStatus;
    };

    const size_t size = original.size();
    const size_t pageSize = original[8] | (original[9] << 8);
    std::vector<size_t> lengths = {0, 1, 511, 512, 513, pageSize - 1, pageSize, pageSize + 1,
        2 * pageSize, 3 * pageSize, 4 * pageSize + 7, size - 1, size - pageSize};
    for (int i = 0; i < 40; ++i)
        lengths.push_back(std::uniform_int_distribution<size_t>(0, size - 1)(rng));
    for (size_t length : lengths) {
        if (length > size)
            continue;
        ASSERT_EQ(::ftruncate(fd, off_t(length)), 0);
        check("truncated at " + std::to_string(length));
    }
    ASSERT_EQ(::pwrite(fd, original.data(), size, 0), ssize_t(size));

    // The larger files take longer to read through; fewer changes keep the run short.
    const int changes = size > 512 * 1024 ? 120 : 300;
    const size_t headerBytes = std::min(size, 4 * pageSize);
    for (int i = 0; i < changes; ++i) {
        size_t at;
        auto any = [&](size_t from, size_t to) {
            return std::uniform_int_distribution<size_t>(from, to - 1)(rng);
        };
        if (i % 4 == 0) {
            // The file's definition: the key specs and, in 6.x files, the table pointing to them
            // (in either copy of the control record).
            size_t fcr = original[0] == 'F' && i % 8 == 0 ? pageSize : 0;
            at = fcr + (i % 3 == 0 ? any(0xF00, 0xF20) : any(0, 0x200));
        } else if (i % 4 == 1) {
            // The control records and the tables: the first pair, or the last of several.
            at = lastPair != 0 && i % 8 == 5 ? lastPair * pageSize + any(0, 2 * pageSize)
                                             : any(0, headerBytes);
        } else if (i % 4 == 2) {
            at = any(0, size);
        } else {
            at = (any(0, size / pageSize) + 1) * pageSize - 1 - any(0, 64); // fragment tables
        }
        at = std::min(at, size - 1);
        uint8_t value = i % 5 == 0 ? 0xFF
            : i % 5 == 1           ? 0x00
                                   : uint8_t(original[at] ^ (1 + rng() % 255));
        ASSERT_EQ(::pwrite(fd, &value, 1, off_t(at)), 1);
        check("byte " + std::to_string(at) + " set to " + std::to_string(value));
        ASSERT_EQ(::pwrite(fd, &original[at], 1, off_t(at)), 1);
    }
    ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, MutationTest,
    testing::Values("MBBSEMU.DAT", "VARIABLE.DAT", "GALTELA.DAT", "WGSMENU2.DAT", "MULTIACS.DAT",
        "MBMGEPLT.DAT", "WCCACMS2.DAT", SeveralTables),
    [](const testing::TestParamInfo<const char*>& param) {
        std::string name = param.param;
        return name.substr(0, name.find('.'));
    });

// Reading leaves the file as it was: same bytes, same modification and access times.
TEST(ReadOnly, ReadingChangesNothingInTheFile)
{
    REQUIRE_LEGACY_FIXTURES();
    ScratchDir dir;
    const auto path = dir.path("GALTELA.DAT");
    const std::vector<uint8_t> original = readAll(fixturePath("GALTELA.DAT"));
    writeAll(path, original);
    struct timespec past[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
    int16_t openStatus = -1;
    EXPECT_EQ(readEverything(path, openStatus), 0);
    EXPECT_EQ(openStatus, 0);
    struct stat after
    {
    };
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_atim.tv_sec, 1000000000);
    EXPECT_EQ(after.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(readAll(path), original);
}

} // namespace
