// Layout discovery on bytes: records built from known layouts, their fields inferred and compared
// with the truth, position, length and type; what stays hex; evidence; keys and dictionary
// fields kept; and records that are no layout at all.
#include "Inference.h"

#include "DefinitionLayout.h"
#include "LittleEndian.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <set>

using namespace fields;
namespace exttype = btr::exttype;

namespace {

// A fixed sequence of numbers, the same on every platform.
class Numbers
{
public:
    explicit Numbers(uint64_t seed)
        : state_(seed * 2862933555777941757ULL + 3037000493ULL)
    { }
    uint64_t next()
    {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return state_ >> 33;
    }
    uint64_t below(uint64_t n) { return ((next() << 31) ^ next()) % n; }

private:
    uint64_t state_;
};

const char* const Words[] = {"giant rat", "orc", "kobold chief", "Smith", "Jones & Sons",
    "big drunken brawler", "fat guardsman", "Mueller GmbH", "ACME", "bat", "cave troll", "Lee"};

using Writer = std::function<void(uint8_t* p, uint32_t n, Numbers& rnd)>;

struct Part
{
    uint32_t length;
    Writer write;
};

Writer blankPadded()
{
    return [](uint8_t* p, uint32_t n, Numbers& rnd) {
        std::memset(p, ' ', n);
        if (rnd.below(10) == 0)
            return;
        const char* w = Words[rnd.below(std::size(Words))];
        std::memcpy(p, w, std::min<size_t>(std::strlen(w), n));
    };
}

// A zstring whose buffer keeps the rest of an older, longer value after the NUL.
Writer zstring(bool leftovers)
{
    return [leftovers](uint8_t* p, uint32_t n, Numbers& rnd) {
        std::memset(p, 0, n);
        if (leftovers) {
            const char* older = Words[rnd.below(std::size(Words))];
            std::memcpy(p, older, std::min<size_t>(std::strlen(older), n - 1));
        }
        const char* w = rnd.below(10) == 0 ? "" : Words[rnd.below(std::size(Words))];
        const size_t k = std::min<size_t>(std::strlen(w), n - 1);
        std::memcpy(p, w, k);
        p[k] = 0;
    };
}

// A Pascal string: a length byte, the text, and what an older value left behind it.
Writer lengthPrefixed()
{
    return [](uint8_t* p, uint32_t n, Numbers& rnd) {
        std::memset(p, 0, n);
        const char* older = Words[rnd.below(std::size(Words))];
        std::memcpy(p + 1, older, std::min<size_t>(std::strlen(older), n - 1));
        const char* w = Words[rnd.below(std::size(Words))];
        const size_t k = std::min<size_t>(std::strlen(w), n - 1);
        p[0] = uint8_t(k);
        std::memcpy(p + 1, w, k);
    };
}

Writer integer(int64_t low, int64_t high)
{
    return [low, high](uint8_t* p, uint32_t n, Numbers& rnd) {
        const int64_t v
            = rnd.below(8) == 0 ? 0 : low + int64_t(rnd.below(uint64_t(high - low + 1)));
        btr::le::putN(p, int(n), uint64_t(v));
    };
}

Writer price()
{
    return [](uint8_t* p, uint32_t n, Numbers& rnd) {
        const double v = rnd.below(8) == 0 ? 0.0 : double(rnd.below(1000000)) / 100.0;
        if (n == 8) {
            std::memcpy(p, &v, 8);
        } else {
            const auto f = float(v);
            std::memcpy(p, &f, 4);
        }
    };
}

Writer date()
{
    return [](uint8_t* p, uint32_t, Numbers& rnd) {
        if (rnd.below(8) == 0) {
            std::memset(p, 0, 4);
            return;
        }
        p[0] = uint8_t(1 + rnd.below(28));
        p[1] = uint8_t(1 + rnd.below(12));
        btr::le::put16(p + 2, uint16_t(1960 + rnd.below(60)));
    };
}

Writer packed()
{
    return [](uint8_t* p, uint32_t n, Numbers& rnd) {
        uint64_t v = rnd.below(10000000);
        std::memset(p, 0, n);
        p[n - 1] = uint8_t((v % 10) << 4 | (rnd.below(5) == 0 ? 0xD : 0xC));
        v /= 10;
        for (uint32_t i = n - 1; i-- > 0 && v;) {
            p[i] = uint8_t((v / 10 % 10) << 4 | (v % 10));
            v /= 100;
        }
    };
}

Writer zeroPaddedDigits()
{
    return [](uint8_t* p, uint32_t n, Numbers& rnd) {
        uint64_t v = rnd.below(100000);
        for (uint32_t i = n; i-- > 0; v /= 10)
            p[i] = uint8_t('0' + v % 10);
    };
}

Writer logical()
{
    return [](uint8_t* p, uint32_t, Numbers& rnd) { p[0] = uint8_t(rnd.below(3) == 0); };
}

Writer fixed(uint8_t byte)
{
    return [byte](uint8_t* p, uint32_t n, Numbers&) { std::memset(p, byte, n); };
}

Writer noise()
{
    return [](uint8_t* p, uint32_t n, Numbers& rnd) {
        for (uint32_t i = 0; i < n; ++i)
            p[i] = uint8_t(rnd.next());
    };
}

// Records of the parts one after another: a 4-byte key counting from 1, then the parts.
RecordSample records(const std::vector<Part>& parts, size_t n, uint64_t seed = 1)
{
    uint32_t length = 4;
    for (const Part& p : parts)
        length += p.length;
    RecordSample sample(length);
    Numbers rnd(seed);
    std::vector<uint8_t> r(length);
    for (size_t i = 0; i < n; ++i) {
        btr::le::put32(r.data(), uint32_t(i + 1));
        uint32_t at = 4;
        for (const Part& p : parts) {
            p.write(r.data() + at, p.length, rnd);
            at += p.length;
        }
        sample.add(r.data(), r.size());
    }
    return sample;
}

// The file's keys: key0, a 4-byte integer at 1.
Layout keyedAt1(uint32_t recordLength, bool variable = false)
{
    Layout known;
    known.recordLength = recordLength;
    known.variableLength = variable;
    known.origin = "keys";
    Field key;
    key.name = "key0";
    key.length = 4;
    key.type.type = exttype::Integer;
    known.fields.push_back(key);
    completeLayout(known);
    return known;
}

struct Expected
{
    std::string name;
    uint32_t length;
    std::string type;
};

void expectLayout(const Layout& got, const std::vector<Expected>& expected)
{
    std::string all;
    for (const Field& f : got.fields)
        all += f.name + " " + std::to_string(f.length) + " " + typeName(f) + "\n";
    ASSERT_EQ(got.fields.size(), expected.size()) << all;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(got.fields[i].name, expected[i].name) << all;
        EXPECT_EQ(got.fields[i].length, expected[i].length) << all;
        EXPECT_EQ(typeName(got.fields[i]), expected[i].type) << all;
    }
    // Every byte of the fixed part in exactly one field.
    std::vector<int> cover(got.recordLength, 0);
    for (const Field& f : got.fields) {
        for (uint32_t i = f.offset; i < f.offset + f.length && i < got.recordLength; ++i)
            ++cover[i];
    }
    EXPECT_EQ(std::count(cover.begin(), cover.end(), 1), long(got.recordLength)) << all;
}

struct Case
{
    const char* name;
    std::vector<Part> parts;
    size_t records;
    std::vector<Expected> fields; // after key0
};

class Inferred : public ::testing::TestWithParam<Case>
{
};

TEST_P(Inferred, FieldsAreFoundAtTheirPositionAndLength)
{
    const Case& c = GetParam();
    const RecordSample sample = records(c.parts, c.records);
    TextDecoder decoder;
    const Layout got = inferLayout(keyedAt1(sample.recordLength()), sample, decoder);
    std::vector<Expected> expected {{"key0", 4, "integer"}};
    expected.insert(expected.end(), c.fields.begin(), c.fields.end());
    expectLayout(got, expected);
    for (const Field& f : got.fields) {
        EXPECT_EQ(f.source == Source::Inferred, !f.evidence.empty()) << f.name;
        if (f.source == Source::Inferred) {
            EXPECT_EQ(f.evidence.find("valid in "), 0U) << f.evidence;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, Inferred,
    ::testing::Values(
        Case {"TextThenNumbersSplitAtTheRightByte",
            {{12, blankPadded()}, {2, integer(-300, 300)}, {10, zstring(false)},
                {4, integer(0, 100000)}, {4, date()}},
            200,
            {{"text_5", 12, "string"}, {"int_17", 2, "integer"}, {"text_19", 10, "zstring"},
                {"int_29", 4, "integer"}, {"date_33", 4, "date"}}},
        Case {"AdjacentTextsAndTheirPadding",
            {{20, blankPadded()}, {16, blankPadded()}, {6, fixed(0)}, {8, price()}}, 300,
            {{"text_5", 20, "string"}, {"text_25", 16, "string"}, {"filler_41", 6, "hex"},
                {"float_47", 8, "float"}}},
        Case {"DecimalsNumericsAndLogicals",
            {{5, packed()}, {1, logical()}, {9, zeroPaddedDigits()}, {4, price()},
                {2, integer(0, 9)}},
            500,
            {{"decimal_5", 5, "decimal"}, {"logical_10", 1, "logical"},
                {"numeric_11", 9, "numeric"}, {"float_20", 4, "float"}, {"int_24", 2, "integer"}}},
        // A zstring keeps the rest of an older value after its NUL, a Pascal string behind its
        // text: neither becomes a field of its own.
        Case {"StringsWithAnOlderValueBehindThem",
            {{20, zstring(true)}, {4, integer(1, 50)}, {21, lengthPrefixed()}, {4, date()}}, 400,
            {{"text_5", 20, "zstring"}, {"int_25", 4, "integer"}, {"text_29", 21, "lstring"},
                {"date_50", 4, "date"}}},
        // A 4-byte integer's high bytes that are always zero are its own.
        Case {"SmallIntegersKeepTheirWidth",
            {{4, integer(0, 200)}, {2, integer(0, 60)}, {8, integer(0, 2000000000000LL)}}, 300,
            {{"int_5", 4, "integer"}, {"int_9", 2, "integer"}, {"int_11", 8, "integer"}}},
        // Ten records are enough for text and dates.
        Case {"TenRecords", {{15, blankPadded()}, {4, date()}, {8, price()}}, 10,
            {{"text_5", 15, "string"}, {"date_20", 4, "date"}, {"float_24", 8, "float"}}}),
    [](const ::testing::TestParamInfo<Case>& p) { return std::string(p.param.name); });

TEST(Inference, BytesNoReadingExplainsStayHex)
{
    // A constant run, and noise: neither text, nor dates, nor floats.
    const RecordSample sample = records({{8, fixed(0x5A)}, {16, noise()}}, 300);
    TextDecoder decoder;
    const Layout got = inferLayout(keyedAt1(sample.recordLength()), sample, decoder);
    for (const Field& f : got.fields) {
        if (f.offset < 4)
            continue;
        if (f.offset < 12) {
            EXPECT_EQ(f.source, Source::Filler) << f.name;
            continue;
        }
        EXPECT_TRUE(f.hex() || f.type.type == exttype::Integer || f.type.type == exttype::Unsigned)
            << f.name << " " << typeName(f);
    }
}

TEST(Inference, AReadingInvalidInMoreThanAFewRecordsIsNotProposed)
{
    // Dates, with a month 13 in every n-th record.
    for (const auto& [every, proposed] : {std::pair {200, true}, std::pair {10, false}}) {
        RecordSample sample(8);
        for (int r = 0; r < 1000; ++r) {
            uint8_t b[8] = {};
            btr::le::put32(b, uint32_t(r + 1));
            b[4] = uint8_t(1 + r % 28);
            b[5] = uint8_t(r % every == 0 ? 13 : 1 + r % 12);
            btr::le::put16(b + 6, uint16_t(1990 + r % 30));
            sample.add(b, 8);
        }
        TextDecoder decoder;
        const Layout got = inferLayout(keyedAt1(8), sample, decoder);
        ASSERT_GE(got.fields.size(), 2U);
        EXPECT_EQ(got.fields[1].type.type == exttype::Date, proposed) << every;
        if (proposed) {
            EXPECT_EQ(
                got.fields[1].evidence, "valid in 995 of 1000 records; 1990-01-01 to 2019-12-28")
                << got.fields[1].evidence;
        }
    }
}

TEST(Inference, KnownFieldsAndTheVariablePartStay)
{
    const RecordSample sample = records({{12, blankPadded()}, {4, date()}}, 100);
    Layout known = keyedAt1(sample.recordLength(), true);
    // A dictionary field over the text, named and typed as the dictionary says.
    Field name;
    name.name = "Name";
    name.offset = 4;
    name.length = 12;
    name.type.type = exttype::String;
    name.source = Source::Dictionary;
    known.fields.push_back(name);
    completeLayout(known);
    TextDecoder decoder;
    const Layout got = inferLayout(known, sample, decoder);
    expectLayout(got,
        {{"key0", 4, "integer"}, {"Name", 12, "string"}, {"date_17", 4, "date"},
            {"variable_part", 0, "hex"}});
    EXPECT_EQ(got.fields[1].source, Source::Dictionary);
    EXPECT_EQ(got.origin, "keys, inferred from 100 records");
}

TEST(Inference, EvidenceSaysWhatWasSampled)
{
    RecordSample sample = records({{10, blankPadded()}, {2, integer(-5, 5)}}, 50);
    sample.fileRecords = 5000;
    TextDecoder decoder;
    const Layout got = inferLayout(keyedAt1(sample.recordLength()), sample, decoder);
    ASSERT_EQ(got.fields.size(), 3U);
    EXPECT_EQ(got.origin, "keys, inferred from a sample of 50 of 5000 records");
    EXPECT_NE(got.fields[1].evidence.find(" of 50 sampled records, "), std::string::npos)
        << got.fields[1].evidence;
    EXPECT_NE(got.fields[1].evidence.find(" blank; e.g. \""), std::string::npos)
        << got.fields[1].evidence;
    EXPECT_NE(got.fields[2].evidence.find(" zero; -5 to 5"), std::string::npos)
        << got.fields[2].evidence;
}

TEST(Inference, OneRecordIsReadForWhatItPlainlyHolds)
{
    uint8_t r[24] = {};
    btr::le::put32(r, 7);
    std::memcpy(r + 4, "giant rat", 9);
    btr::le::put16(r + 20, 350);
    RecordSample sample(24);
    sample.add(r, sizeof r);
    TextDecoder decoder;
    const Layout got = inferLayout(keyedAt1(24), sample, decoder);
    ASSERT_GE(got.fields.size(), 3U);
    EXPECT_EQ(got.fields[1].name, "text_5");
    EXPECT_EQ(
        got.fields[1].evidence, "valid in 1 of 1 records; e.g. \"giant rat\"; up to 9 characters");
}

TEST(Inference, NoRecordsNoInference)
{
    const Layout known = keyedAt1(20);
    RecordSample sample(20);
    TextDecoder decoder;
    const Layout got = inferLayout(known, sample, decoder);
    ASSERT_EQ(got.fields.size(), known.fields.size());
    EXPECT_EQ(got.origin, "keys");
}

// Whatever the bytes, inference ends, covers every byte once and names every field once.
TEST(Inference, AnyBytesGiveAWholeLayout)
{
    Numbers rnd(99);
    for (int round = 0; round < 40; ++round) {
        const auto length = uint32_t(1 + rnd.below(300));
        RecordSample sample(length);
        const size_t n = 1 + rnd.below(60);
        std::vector<uint8_t> r(length + 20);
        for (size_t i = 0; i < n; ++i) {
            const size_t kind = rnd.below(4);
            for (uint8_t& b : r)
                b = kind == 0 ? uint8_t(rnd.next()) : kind == 1 ? uint8_t(' ' + rnd.below(95)) : 0;
            // Records shorter and longer than the fixed part.
            sample.add(r.data(), rnd.below(length + 20));
        }
        Layout known;
        known.recordLength = length;
        completeLayout(known);
        TextDecoder decoder;
        const Layout got = inferLayout(known, sample, decoder);
        std::vector<int> cover(length, 0);
        std::set<std::string> names;
        for (const Field& f : got.fields) {
            EXPECT_TRUE(names.insert(f.name).second) << f.name;
            for (uint32_t i = f.offset; i < f.offset + f.length; ++i)
                ++cover.at(i);
        }
        EXPECT_EQ(std::count(cover.begin(), cover.end(), 1), long(length)) << round;
    }
}

TEST(RecordSample, KeepsTheFixedPartAndThinsEvenly)
{
    RecordSample sample(3);
    const uint8_t longer[5] = {1, 2, 3, 4, 5};
    const uint8_t shorter[1] = {9};
    sample.add(longer, 5);
    sample.add(shorter, 1);
    for (uint8_t i = 0; i < 5; ++i)
        sample.add(&i, 1);
    ASSERT_EQ(sample.size(), 7U);
    EXPECT_EQ(std::vector<uint8_t>(sample.record(0), sample.record(0) + 3),
        (std::vector<uint8_t> {1, 2, 3}));
    EXPECT_EQ(std::vector<uint8_t>(sample.record(1), sample.record(1) + 3),
        (std::vector<uint8_t> {9, 0, 0}));
    sample.thin();
    ASSERT_EQ(sample.size(), 4U);
    EXPECT_EQ(sample.record(1)[0], 0); // the third record
    EXPECT_EQ(sample.record(3)[0], 4); // the seventh
}

} // namespace
