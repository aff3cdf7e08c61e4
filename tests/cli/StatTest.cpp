// stat: the definition as text and as JSON, checked against what the record manager's Stat
// reports, for files of our own and for every legacy fixture.
#include "CliRun.h"
#include "DefinitionLayout.h"
#include "RequireFixtures.h"
#include "SpecBuffer.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace clitest;
using nlohmann::json;

namespace {

DefinitionImage acsDefinition()
{
    DefinitionImage d = twoKeyDefinition();
    d.fileFlags = btr::fileflag::VariableLength | btr::fileflag::Free20;
    d.addKey({SegmentEntry {30, 10, 0x0120 | 0x0001, 0, btr::exttype::String},
        SegmentEntry {40, 2, 0x0101, 0, btr::exttype::Unsigned}});
    Bytes table(256);
    for (int i = 0; i < 256; ++i)
        table[size_t(i)] = uint8_t(std::toupper(i));
    d.blocks.push_back(testsupport::acsBlock("UPPER", table));
    return d;
}

TEST(Stat, TextShowsEveryFactWithFlagsAndTypesByName)
{
    ScratchDir dir;
    const std::string f = dir.file("A.BTR");
    createFile(f, acsDefinition());
    insertRecords(f, {twoKeyRecord(1, "ONE"), twoKeyRecord(2, "TWO")});
    const CliResult r = runCli({"stat", f});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const char* fact : {"Record length        50\n", "Page size            1024\n",
             "Records              2\n", "Keys                 3\n", "Segments             4\n",
             "File flags           0x0081 VarLen 20Free\n", "Collating sequences  UPPER\n"})
        EXPECT_NE(r.out.find(fact), std::string::npos) << fact << "\n" << r.out;
    // Key 2's two segments: the first by the collating sequence, the second an unsigned number.
    EXPECT_NE(r.out.find("  2   1       30     10  String                 1  0x00  UPPER     "
                         "0x0131 Duplicates Segmented ACS ExtType"),
        std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("  2   2       40      2  Unsigned"), std::string::npos) << r.out;
}

TEST(Stat, SeveralFilesOneMissing)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), twoKeyDefinition());
    createFile(dir.file("B.BTR"), twoKeyDefinition());
    const CliResult r
        = runCli({"stat", dir.file("A.BTR"), dir.file("NONE.BTR"), dir.file("B.BTR")});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
        "varnok-cli: Cannot open " + dir.file("NONE.BTR") + ": file not found (status 12).\n");
    EXPECT_NE(r.out.find(dir.file("A.BTR") + "\n"), std::string::npos);
    EXPECT_NE(r.out.find(dir.file("B.BTR") + "\n"), std::string::npos);
}

TEST(Stat, ADirectoryOrAFileOfAnotherKindIsRefused)
{
    ScratchDir dir;
    writeText(dir.file("NOTES.TXT"), "not a data file at all, but long enough to be looked at....");
    const CliResult r = runCli({"stat", dir.path(), dir.file("NOTES.TXT")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find("Cannot open " + dir.path() + ": file not found (status 12)"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Cannot open " + dir.file("NOTES.TXT") + ": not a data file (status 30)"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
}

// Every number of the JSON object against the Stat image's own bytes.
void expectJsonAgreesWithStat(const std::string& path)
{
    const CliResult r = runCli({"stat", "--json", path});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    spec::SpecBuffer b;
    const Bytes stat = statOf(path);
    std::copy(stat.begin(), stat.end(), b.bytes.begin());
    const auto u16 = [&b](int at) { return btr::le::get16(b.data() + at); };
    namespace f = btr::layout::file;
    EXPECT_EQ(j["record_length"], u16(f::RecordLength));
    EXPECT_EQ(j["page_size"], u16(f::PageSize));
    EXPECT_EQ(j["records"], btr::le::get32(b.data() + f::NumRecords));
    EXPECT_EQ(j["keys_count"], u16(f::NumIndexes));
    EXPECT_EQ(j["file_flags"], u16(f::FileFlags));
    const spec::Layout layout = b.readLayout();
    int entry = 0;
    ASSERT_EQ(j["keys"].size(), size_t(u16(f::NumIndexes)));
    for (const json& key : j["keys"]) {
        for (const json& seg : key["segments"]) {
            const spec::KeySegmentSpec s = b.segment(entry);
            EXPECT_EQ(key["key"], layout.keyOfEntry[size_t(entry)]);
            EXPECT_EQ(seg["position"], uint16_t(s.Position));
            EXPECT_EQ(seg["length"], uint16_t(s.Length));
            EXPECT_EQ(seg["key_flags"], uint16_t(s.KeyFlags));
            EXPECT_EQ(seg["extended_type"], s.ExtendedType);
            EXPECT_EQ(seg["null_value"], s.NullValue);
            EXPECT_EQ(seg["values"], uint32_t(s.NumKeyValues));
            EXPECT_EQ(seg["acs_number"], s.AcsNumber);
            ++entry;
        }
    }
    EXPECT_EQ(entry, layout.entryCount);
    if (layout.hasAcs) {
        ASSERT_GE(j["collating_sequences"].size(), 1U);
        EXPECT_EQ(j["collating_sequences"][0]["name"], b.acs(layout.entryCount)->Name);
    } else {
        EXPECT_TRUE(j["collating_sequences"].empty());
    }
}

TEST(Stat, JsonAgreesWithTheRecordManagerForOurFile)
{
    ScratchDir dir;
    createFile(dir.file("A.BTR"), acsDefinition());
    insertRecords(dir.file("A.BTR"), {twoKeyRecord(7, "SEVEN")});
    expectJsonAgreesWithStat(dir.file("A.BTR"));
}

class StatFixture : public testing::TestWithParam<const char*>
{
};

TEST_P(StatFixture, JsonAgreesWithTheRecordManager)
{
    REQUIRE_LEGACY_FIXTURES();
    expectJsonAgreesWithStat(testsupport::fixturePath(GetParam()).string());
}

INSTANTIATE_TEST_SUITE_P(EveryFixture, StatFixture, testing::ValuesIn(LegacyFixtures),
    [](const auto& param) { return fixtureTestName(param.param); });

TEST(Stat, JsonNamesEverySequenceOfAFileWithSeveral)
{
    REQUIRE_LEGACY_FIXTURES();
    const CliResult r = runCli({"stat", "--json", testsupport::fixturePath("MULTIACS.DAT")});
    ASSERT_EQ(r.status, 0) << r.err;
    const json j = json::parse(r.out);
    ASSERT_EQ(j["collating_sequences"].size(), 2U);
    EXPECT_EQ(
        j["keys"][0]["segments"][0]["collating_sequence"], j["collating_sequences"][0]["name"]);
    EXPECT_EQ(
        j["keys"][2]["segments"][0]["collating_sequence"], j["collating_sequences"][1]["name"]);
    EXPECT_NE(j["collating_sequences"][0]["name"], j["collating_sequences"][1]["name"]);
    EXPECT_EQ(j["collating_sequences"][1]["table"].get<std::string>().size(), 512U);
}

} // namespace
