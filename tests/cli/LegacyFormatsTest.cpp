// The command line on files of every format family the record manager reads: stat names the
// version and the features, and a file whose records are encrypted under an owner name is read
// by every command given --owner, and refused by each, before it writes anything, without it.
#include "CliRun.h"
#include "LegacyWriter.h"
#include "LittleEndian.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

using namespace clitest;
using nlohmann::json;

namespace {

constexpr uint16_t RecordLength = 24;

legacytest::LegacyFileSpec specOf(uint16_t version, uint16_t flags, int ownerMode, int rule = 1)
{
    legacytest::LegacyFileSpec spec;
    spec.version = version;
    spec.records = 40;
    spec.rule = [](uint32_t i, std::vector<uint8_t>& r) {
        r.assign(RecordLength, ' ');
        btr::le::put32(r.data(), i + 1);
        const std::string name = "NAME" + std::to_string(i);
        std::copy(name.begin(), name.end(), r.begin() + 4);
    };
    spec.definition.pageSize = 1024;
    spec.definition.recordLength = RecordLength;
    spec.definition.fileFlags = flags;
    recman::Key key;
    key.segments.push_back({1, 4, recman::keyflag::ExtendedType, 40, 14, 0, 0, 0, 0});
    spec.definition.keys = {key};
    if (ownerMode >= 0) {
        spec.owner.set = true;
        spec.owner.mode = uint8_t(ownerMode);
        spec.owner.rule = rule;
    }
    return spec;
}

struct Named
{
    const char* what;
    uint16_t version;
    uint16_t flags;
    int ownerMode;
    int rule;
    bool systemData;
    const char* format;   // the "Format" line's value
    const char* features; // the "Features" line's value
    const char* family;   // the JSON family
};

TEST(LegacyStat, NamesTheVersionAndTheFeatures)
{
    const Named files[] = {
        {"9.5 compressed", legacytest::Version95, 0x0008, -1, 1, true,
            "version 9.5 (written by the vendor's engine)", "compressed, system data", "9.5"},
        {"8.x plain", legacytest::Version80, 0x0001, 1, 1, false,
            "version 8.x (written by the vendor's engine)",
            "owner name (others may read), variable-length", "8.x-9.0"},
        {"6.1 encrypted", legacytest::Version61, 0, 2, 2, false,
            "version 6.1 (written by the vendor's engine)",
            "owner name (only the owner may read, data encrypted), encrypted (rule 2)", "6.x"},
        {"5.x compressed", legacytest::Version5, 0x0008, -1, 1, false,
            "version 5.x (written by the vendor's engine)", "compressed", "5.x"},
    };
    ScratchDir dir;
    for (const Named& n : files) {
        SCOPED_TRACE(n.what);
        legacytest::LegacyFileSpec spec = specOf(n.version, n.flags, n.ownerMode, n.rule);
        spec.systemData = n.systemData;
        const std::string path = dir.file("F.DAT");
        legacytest::writeLegacyFile(path, spec);
        CliResult r = runCli({"stat", path});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(
            r.out.find(path + "\n  Format               " + n.format + "\n"), std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("\n  Features             " + std::string(n.features) + "\n"),
            std::string::npos)
            << r.out;
        r = runCli({"stat", "--json", path});
        ASSERT_EQ(r.status, 0) << r.err;
        const json j = json::parse(r.out)["format"];
        EXPECT_EQ(j["family"], n.family);
        EXPECT_EQ(j["owner"].is_null(), n.ownerMode < 0);
        if (n.ownerMode >= 0) {
            EXPECT_EQ(j["owner"]["access_mode"], n.ownerMode);
        }
        EXPECT_EQ(j["encryption_rule"].is_null(), n.ownerMode < 2);
    }
    createFile(dir.file("OWN.BTR"), twoKeyDefinition());
    const CliResult own = runCli({"stat", dir.file("OWN.BTR")});
    EXPECT_NE(own.out.find("  Format               Varnok's own format 2 (an SQLite database)\n"
                           "  Features             none\n"),
        std::string::npos)
        << own.out;
}

// Every command that reads records: refused without --owner, before it writes anything, with the
// message that says how; read whole with it (any name).
TEST(OwnerName, EveryCommandThatReadsRecordsTakesIt)
{
    ScratchDir dir;
    const std::string source = dir.file("LOCKED.DAT");
    legacytest::writeLegacyFile(source, specOf(legacytest::Version5, 0, 2, 1));
    const std::string refusal = "varnok-cli: Cannot read " + source
        + ": owner name required (status 51): its records are encrypted under an owner name; "
          "give it with --owner NAME.";
    struct Command
    {
        std::vector<std::string> args;
        std::string output; // a file the command makes, when it makes one
    };
    const std::vector<Command> commands = {
        {{"copy", source, dir.file("COPY.BTR")}, dir.file("COPY.BTR")},
        {{"save", source, dir.file("SAVED.SEQ")}, dir.file("SAVED.SEQ")},
        {{"export", source, "-o", dir.file("OUT.CSV")}, dir.file("OUT.CSV")},
        {{"convert", source, "--into", dir.file("OUT.SQLITE")}, ""},
        {{"recover", source, dir.file("RECOVERED.BTR")}, dir.file("RECOVERED.BTR")},
    };
    for (const Command& c : commands) {
        SCOPED_TRACE(c.args[0]);
        CliResult r = runCli(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(refusal), std::string::npos) << r.err;
        if (!c.output.empty()) {
            EXPECT_FALSE(std::filesystem::exists(c.output)) << c.output;
        }
        std::vector<std::string> withOwner = c.args;
        withOwner.insert(withOwner.begin() + 1, {"--owner", "ANYONE"});
        r = runCli(withOwner);
        EXPECT_EQ(r.status, 0) << r.err;
    }
    EXPECT_EQ(readRecords(dir.file("COPY.BTR")).size(), 40u);
    EXPECT_EQ(readRecords(dir.file("RECOVERED.BTR")).size(), 40u);
    // Its definition needs no name.
    EXPECT_EQ(runCli({"stat", source}).status, 0);
    // Its fields are then its keys, and the user is told how to have the others inferred.
    const CliResult keysOnly = runCli({"fields", source});
    EXPECT_EQ(keysOnly.status, 0) << keysOnly.err;
    EXPECT_NE(keysOnly.err.find("--owner"), std::string::npos) << keysOnly.err;

    // A name longer than an owner name can be is a usage error.
    const CliResult tooLong = runCli({"copy", "--owner", "NINECHARS", source, dir.file("X.BTR")});
    EXPECT_EQ(tooLong.status, 2);
    EXPECT_NE(tooLong.err.find("1 to 8 characters"), std::string::npos) << tooLong.err;
}

// A plain file with an owner name (mode 1: others may read) needs none.
TEST(OwnerName, PlainDataNeedsNone)
{
    ScratchDir dir;
    const std::string source = dir.file("PLAIN.DAT");
    legacytest::writeLegacyFile(source, specOf(legacytest::Version60, 0, 1));
    const CliResult r = runCli({"copy", source, dir.file("COPY.BTR")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readRecords(dir.file("COPY.BTR")).size(), 40u);
}

// A compressed file whose variable page is overwritten: the records whose streams lay there are
// left out and counted, the others rescued whole.
TEST(LegacyRecover, CompressedStreamsThatDoNotDecodeAreLeftOut)
{
    ScratchDir dir;
    const std::string source = dir.file("PACKED.DAT");
    legacytest::LegacyFileSpec spec = specOf(legacytest::Version60, 0x0008, -1);
    spec.records = 400;
    const legacytest::WrittenLayout layout = legacytest::writeLegacyFile(source, spec);
    uint32_t page = 0;
    for (size_t logical = 1; logical < layout.typeOf.size() && page == 0; ++logical)
        if (layout.typeOf[logical] == 'V')
            page = layout.physicalOf[logical];
    ASSERT_NE(page, 0u);
    std::string bytes = fileText(source);
    std::fill_n(bytes.begin() + long(page) * layout.pageSize + 16, layout.pageSize - 32, 'Z');
    writeText(source, bytes);
    const CliResult r = runCli({"recover", source, dir.file("RESCUED.BTR")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(
        r.err.find("records left out (their compressed stream does not decode)"), std::string::npos)
        << r.err;
    const size_t rescued = readRecords(dir.file("RESCUED.BTR")).size();
    EXPECT_GT(rescued, 0u);
    EXPECT_LT(rescued, 400u);
}

} // namespace
