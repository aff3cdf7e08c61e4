// Every legacy file's definition is one the vendor's engine created, so Create takes its Stat
// image unchanged; copying every record into the file so created keeps every record and the
// order of every key.
#include "ByteVector.h"
#include "EntryCalls.h"
#include "Fixtures.h"
#include "KeyCodec.h"
#include "LittleEndian.h"
#include "writer/LegacyWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

using legacytest::alongKey;
using legacytest::Btr;
using legacytest::fixturePath;
using legacytest::ScratchDir;
using testsupport::hex;

namespace {

namespace op = btr::op;
using Bytes = std::vector<uint8_t>;

struct FixtureCase
{
    const char* name;
    uint32_t records;
};

void PrintTo(const FixtureCase& c, std::ostream* os)
{
    *os << c.name;
}

class CreateFromStat : public testing::TestWithParam<FixtureCase>
{
};

// Two sequences of records, compared one by one; a mismatch is reported at its first place only.
void expectSameSequence(const std::vector<Bytes>& actual, const std::vector<Bytes>& expected)
{
    EXPECT_EQ(actual.size(), expected.size());
    const size_t n = std::min(actual.size(), expected.size());
    for (size_t i = 0; i < n; ++i) {
        if (actual[i] != expected[i]) {
            ADD_FAILURE() << "first difference at record " << i << ":\n  " << hex(actual[i])
                          << "\ninstead of\n  " << hex(expected[i]);
            return;
        }
    }
}

// The records along a key of the copy are expected in the source's order of that key, except
// that records of equal key come in the order the copy inserted them. Equal is the record
// manager's equal (a zstring ends at its first zero, a collating sequence maps bytes), so it is
// told by the key codec rather than by the raw bytes.
std::vector<Bytes> expectedAlongKey(const std::vector<Bytes>& sourceRecords,
    const recman::KeyCodec& codec,
    const std::map<Bytes, size_t, testsupport::BytesLess>& insertedAt)
{
    std::vector<Bytes> keys(sourceRecords.size());
    for (size_t i = 0; i < sourceRecords.size(); ++i)
        EXPECT_TRUE(codec.encode(sourceRecords[i].data(), sourceRecords[i].size(), keys[i]));
    std::vector<Bytes> expected = sourceRecords;
    for (size_t begin = 0, end = 0; begin < expected.size(); begin = end) {
        for (end = begin + 1; end < expected.size() && keys[end] == keys[begin]; ++end) { }
        std::stable_sort(expected.begin() + long(begin), expected.begin() + long(end),
            [&insertedAt](
                const Bytes& a, const Bytes& b) { return insertedAt.at(a) < insertedAt.at(b); });
    }
    return expected;
}

// The key buffer after each Get holds the value of the record it returned.
void expectValuesOfTheirRecords(const std::vector<Bytes>& records, const std::vector<Bytes>& values,
    const recman::KeyCodec& codec)
{
    ASSERT_EQ(values.size(), records.size());
    Bytes value(codec.valueLength());
    for (size_t i = 0; i < records.size(); ++i) {
        codec.extractValue(records[i].data(), records[i].size(), value.data());
        if (values[i] != value) {
            ADD_FAILURE() << "record " << i << " came with key " << hex(values[i]);
            return;
        }
    }
}

// Opens the legacy file at `path`, creates a file from its Stat image unchanged, copies every
// record in, and compares both files record by record in step order and along every key.
void expectCreateAndCopy(const std::filesystem::path& path, uint32_t records)
{
    ScratchDir dir;
    Btr source;
    ASSERT_EQ(source.open(path), 0);
    const Bytes image = source.stat();
    ASSERT_EQ(btr::le::get32(&image[6]), records);
    Btr dest;
    ASSERT_EQ(dest.create(dir.path("COPY.DAT"), image, btr::create::NoReplace), 0);
    ASSERT_EQ(dest.open(dir.path("COPY.DAT")), 0);

    // The program's copy: in the order of key 0, or physical order for a file without keys.
    const int keys = btr::le::get16(&image[4]);
    const uint16_t first = keys > 0 ? op::GetFirst : op::StepFirst;
    const uint16_t next = keys > 0 ? op::GetNext : op::StepNext;
    std::vector<Bytes> copied;
    std::map<Bytes, size_t, testsupport::BytesLess>
        insertedAt; // identical records are interchangeable
    for (int16_t s = source.call(first, 0); s == 0; s = source.call(next, 0)) {
        std::copy_n(source.data.begin(), source.length, dest.data.begin());
        ASSERT_EQ(dest.call(op::Insert, 0, source.length), 0) << "record " << copied.size();
        copied.push_back(source.record());
        insertedAt.emplace(copied.back(), copied.size() - 1);
    }
    EXPECT_EQ(copied.size(), records);

    const Bytes copiedImage = dest.stat();
    ASSERT_EQ(copiedImage.size(), image.size());
    // Everything but the unused pages, a figure of each file's own storage.
    EXPECT_TRUE(std::equal(image.begin(), image.begin() + 14, copiedImage.begin()));
    EXPECT_TRUE(std::equal(image.begin() + 16, image.end(), copiedImage.begin() + 16));

    std::vector<Bytes> stepped;
    for (int16_t s = dest.call(op::StepFirst); s == 0; s = dest.call(op::StepNext))
        stepped.push_back(dest.record());
    expectSameSequence(stepped, copied);

    recman::Definition def;
    ASSERT_EQ(recman::parseCreate(image.data(), uint16_t(image.size()), def), 0);
    ASSERT_EQ(def.keys.size(), size_t(keys));
    for (int k = 0; k < keys; ++k) {
        SCOPED_TRACE(testing::Message() << "key " << k);
        const recman::KeyCodec codec(def.keys[size_t(k)], def.acsBlocks);
        std::vector<Bytes> sourceValues, destValues;
        const auto fromSource = alongKey(source, k, &sourceValues, codec.valueLength());
        const auto fromDest = alongKey(dest, k, &destValues, codec.valueLength());
        expectValuesOfTheirRecords(fromSource, sourceValues, codec);
        expectValuesOfTheirRecords(fromDest, destValues, codec);
        expectSameSequence(fromDest, expectedAlongKey(fromSource, codec, insertedAt));
        if (k == 0)
            expectSameSequence(fromSource, copied);
    }
}

TEST_P(CreateFromStat, AcceptsTheImageAndTheCopyKeepsEveryRecordAndOrder)
{
    REQUIRE_LEGACY_FIXTURES();
    expectCreateAndCopy(fixturePath(GetParam().name), GetParam().records);
}

// Files of several page allocation tables, with stale shadow pages and freed slots, copy whole
// through the entry point just as the real files do.
TEST(CreateFromStatWritten, FilesOfSeveralTablesCopyWhole)
{
    struct Shape
    {
        uint16_t pageSize;
        bool variable;
        uint32_t records;
        bool collated;
    };
    const Shape shapes[] = {{512, false, 3000, true}, {1024, true, 2500, false}};
    ScratchDir dir;
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(testing::Message() << "page " << shape.pageSize);
        legacytest::LegacyFileSpec spec;
        spec.records = shape.records;
        spec.freeSlotEvery = 7;
        spec.staleEvery = 3;
        spec.scatter = true;
        const bool variable = shape.variable;
        spec.rule = [variable](uint32_t i, Bytes& record) {
            record.assign(16, uint8_t(i));
            btr::le::put32(record.data(), i * 7919 % 1000003);
            const char name[] = {char('a' + i % 5), char('A' + i % 3), 'X', 0};
            std::copy(name, name + 4, record.begin() + 4);
            if (variable)
                record.resize(16 + i % 900, uint8_t(i * 3));
        };
        recman::Definition& def = spec.definition;
        def.pageSize = shape.pageSize;
        def.recordLength = 16;
        def.fileFlags = variable ? recman::fileflag::VariableLength : 0;
        recman::Key unique;
        unique.segments.push_back(
            {1, 4, recman::keyflag::ExtendedType, shape.records, 1, 0, 0, 0, 0});
        recman::Key names;
        names.number = 1;
        uint16_t flags = recman::keyflag::ExtendedType | recman::keyflag::Duplicates;
        if (shape.collated) {
            // Case-blind through a collating sequence: the copy must collate alike.
            flags |= recman::keyflag::Acs;
            recman::AcsBlockDef block;
            block.bytes[0] = recman::AcsSignature;
            std::copy_n("UPPER", 5, block.bytes.begin() + 1);
            for (int c = 0; c < 256; ++c)
                block.bytes[9 + size_t(c)] = uint8_t(c >= 'a' && c <= 'z' ? c - 32 : c);
            def.acsBlocks.push_back(block);
        }
        names.segments.push_back({5, 4, flags, 15, 11, 0, 0, 0, 0});
        def.keys = {unique, names};
        const auto path = dir.path("WRITTEN.DAT");
        const legacytest::WrittenLayout layout = legacytest::writeLegacyFile(path, spec);
        ASSERT_GE(layout.pairs, 2u);
        expectCreateAndCopy(path, shape.records);
    }
}

const FixtureCase fixtures[]
    = {{"MBBSEMU.DAT", 4}, {"VARIABLE.DAT", 1024}, {"GALTELA.DAT", 73}, {"WGSMENU2.DAT", 46},
        {"MULTIACS.DAT", 0}, {"MBMGEPLT.DAT", 22}, {"WCCACMS2.DAT", 7639}, {"BBSGEN.VIR", 0}};

// A data file added to the fixtures is one more definition Create must take: every file there
// that opens is in the table above.
TEST(CreateFromStatFixtures, EveryDataFileIsListed)
{
    REQUIRE_LEGACY_FIXTURES();
    for (const auto& entry : std::filesystem::directory_iterator(fixturePath(""))) {
        const std::string name = entry.path().filename().string();
        Btr file;
        if (file.open(entry.path()) != 0)
            continue;
        EXPECT_TRUE(std::any_of(std::begin(fixtures), std::end(fixtures),
            [&name](const FixtureCase& c) { return name == c.name; }))
            << name;
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, CreateFromStat, testing::ValuesIn(fixtures),
    [](const testing::TestParamInfo<FixtureCase>& param) {
        std::string name = param.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

} // namespace
