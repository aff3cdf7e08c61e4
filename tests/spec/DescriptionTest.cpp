#include "Description.h"

#include "DefinitionImage.h"
#include "RequireFixtures.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <numeric>
#include <sstream>

using namespace spec;
using testsupport::acsBlock;
using testsupport::Bytes;
using testsupport::DefinitionImage;
using testsupport::SegmentEntry;

namespace {

constexpr uint16_t Ext = 0x100; // extended type key flag

// A collating table: letters from `from` map to the letters from `to`, shifted by `shift`.
Bytes table(int shift, char from = 'a', char to = 'A')
{
    Bytes t(256);
    std::iota(t.begin(), t.end(), 0);
    for (int c = 0; c < 26; ++c)
        t[size_t(from) + size_t(c)] = uint8_t(to + c + shift);
    return t;
}

const Bytes upper = table(0);
const Bytes lower = table(0, 'A', 'a');

SegmentEntry seg(uint16_t position, uint16_t length, uint16_t flags, uint8_t type, uint8_t acs = 0)
{
    SegmentEntry s;
    s.position = position;
    s.length = length;
    s.flags = flags;
    s.extType = type;
    s.acsNumber = acs;
    return s;
}

// A Stat image as the record manager answers it: exactly the bytes the definition takes, with
// live figures that a description does not carry.
DefinitionImage statOf(uint16_t record, uint16_t page, uint16_t flags)
{
    DefinitionImage d;
    d.recordLength = record;
    d.pageSize = page;
    d.fileFlags = flags;
    d.numRecords = 1234;
    d.unusedPages = 5;
    return d;
}

// The image as Stat answers it: exactly the bytes the definition takes.
Bytes statBytes(DefinitionImage d)
{
    d.length = 16 + 16 * d.segments.size() + 265 * d.blocks.size();
    return d.bytes();
}

std::string lines(const std::vector<std::string>& texts)
{
    std::string all;
    for (const std::string& t : texts)
        all += t + "\n";
    return all;
}

DefinitionImage& counted(DefinitionImage& d)
{
    for (SegmentEntry& s : d.segments)
        s.numKeyValues = 77;
    return d;
}

struct Fixture
{
    const char* file;
    DefinitionImage def;
};

// The definitions the record manager reports for the real files among the legacy fixtures.
std::vector<Fixture> fixtureDefinitions()
{
    std::vector<Fixture> all;
    DefinitionImage d = statOf(950, 4096, 0x0);
    d.addKey({seg(1, 16, 0x130, 11), seg(17, 16, 0x120, 11)});
    d.addKey({seg(1, 16, 0x121, 11)});
    d.addKey({seg(17, 16, 0x121, 11)});
    d.blocks = {acsBlock("GALCAPS ", upper)};
    all.push_back({"GALTELA.DAT", counted(d)});

    d = statOf(74, 512, 0);
    d.addKey({seg(3, 32, 0x101, 11)});
    d.addKey({seg(35, 4, 0x102, 1)});
    d.addKey({seg(39, 32, 0x103, 11)});
    d.addKey({seg(71, 4, 0x100, 15)});
    all.push_back({"MBBSEMU.DAT", counted(d)});

    d = statOf(493, 1024, 0);
    d.addKey({seg(1, 6, 0x104, 14)});
    d.addKey({seg(25, 30, 0x103, 11)});
    d.addKey({seg(7, 2, 0x105, 14)});
    all.push_back({"MBMGEPLT.DAT", counted(d)});

    d = statOf(128, 4096, 0x1);
    d.addKey({seg(3, 16, 0x521, 11, 0)});
    d.addKey({seg(21, 4, 0x110, 1), seg(25, 8, 0x100, 2)});
    d.addKey({seg(31, 16, 0x520, 11, 1)});
    d.blocks = {acsBlock("ALLCAPS", upper), acsBlock("LOWER", lower)};
    all.push_back({"MULTIACS.DAT", counted(d)});

    d = statOf(8, 512, 0x1);
    d.addKey({seg(5, 2, 0x101, 1)});
    d.addKey({seg(7, 2, 0x100, 1)});
    all.push_back({"VARIABLE.DAT", counted(d)});

    d = statOf(400, 4096, 0);
    d.addKey({seg(1, 2, 0x100, 15)});
    all.push_back({"WCCACMS2.DAT", counted(d)});

    d = statOf(448, 4096, 0x1);
    d.addKey({seg(1, 17, 0x122, 11)});
    d.blocks = {acsBlock("GALCAPS ", upper)};
    all.push_back({"WGSMENU2.DAT", counted(d)});

    d = statOf(55, 1024, 0x1);
    d.addKey({seg(1, 30, 0x133, 11), seg(31, 25, 0x123, 11)});
    d.addKey({seg(31, 25, 0x123, 11)});
    d.blocks = {acsBlock("ALLCAPS ", upper)};
    all.push_back({"BBSGEN.VIR", counted(d)});
    return all;
}

// The image without the live figures: record count, unused pages, key value counts.
Bytes withoutLiveFigures(Bytes image, int segments)
{
    if (image.size() < 16)
        return image;
    testsupport::put32(image, 6, 0);
    testsupport::put16(image, 14, 0);
    for (int s = 0; s < segments; ++s)
        testsupport::put32(image, 16 + 16 * size_t(s) + 6, 0);
    return image;
}

AcsLoader loaderOf(const std::vector<AcsFileOut>& files)
{
    return [files](const std::string& name) {
        for (const AcsFileOut& f : files) {
            if (f.fileName == name)
                return AcsFile {f.bytes, {}};
        }
        return AcsFile {{}, "no such file"};
    };
}

AcsLoader loaderOf(const std::map<std::string, Bytes>& files, int* calls = nullptr)
{
    return [files, calls](const std::string& name) {
        if (calls)
            ++*calls;
        const auto it = files.find(name);
        if (it == files.end())
            return AcsFile {{}, "no such file"};
        return AcsFile {it->second, {}};
    };
}

const AcsLoader noFiles = loaderOf(std::map<std::string, Bytes> {});

// A Create image from a description the test expects to read.
Bytes imageOf(const std::string& text, const AcsLoader& loader = noFiles)
{
    const Description d = readDescription(text, loader);
    EXPECT_TRUE(d.ok()) << d.error << "\n" << text;
    return d.image;
}

const std::string Head = "record=100 key=1 page=4096\n";

uint16_t flagsOf(const Bytes& image, int entry)
{
    return testsupport::get16(image, 16 + 16 * size_t(entry) + 4);
}

uint8_t typeOf(const Bytes& image, int entry)
{
    return image.at(16 + 16 * size_t(entry) + 10);
}

TEST(Description, FixtureDefinitionsComeBackFromTheirDescriptions)
{
    for (Fixture& f : fixtureDefinitions()) {
        const Bytes exact = statBytes(f.def);
        f.def.length = btr::SpecBufferSize;
        // As Stat answers it, and in the window's whole buffer.
        for (const Bytes& stat : {exact, f.def.bytes()}) {
            const WrittenDescription w = writeDescription(stat.data(), stat.size());
            ASSERT_TRUE(w.ok()) << f.file << ": " << w.error;
            EXPECT_TRUE(w.warnings.empty()) << f.file << ": " << lines(w.warnings);
            EXPECT_EQ(w.acsFiles.size(), f.def.blocks.size()) << f.file;

            const Description d = readDescription(w.text, loaderOf(w.acsFiles));
            ASSERT_TRUE(d.ok()) << f.file << ": " << d.error << "\n" << w.text;
            const int segments = int(f.def.segments.size());
            EXPECT_EQ(testsupport::hex(withoutLiveFigures(d.image, segments)),
                testsupport::hex(withoutLiveFigures(exact, segments)))
                << f.file << "\n"
                << w.text;
            EXPECT_FALSE(d.replace);
        }
    }
}

TEST(Description, WrittenTextSpellsEveryElementInLowerCase)
{
    const std::vector<Fixture> all = fixtureDefinitions();
    const Bytes galtela = statBytes(all[0].def);
    const WrittenDescription w = writeDescription(galtela.data(), galtela.size());
    ASSERT_TRUE(w.ok());
    EXPECT_NE(w.text.find("/*"), std::string::npos);
    EXPECT_NE(w.text.find("record=950 variable=n truncate=n compress=n key=3 page=4096 "
                          "allocation=0\nreplace=n dupkey=0 data=y vats=n balance=n\n"),
        std::string::npos)
        << w.text;
    EXPECT_NE(w.text.find("position=1 length=16 duplicates=n modifiable=n type=zstring "
                          "descending=n\nalternate=y caseinsensitive=n repeatdup=n null=n "
                          "value=00 segment=y\n"),
        std::string::npos)
        << w.text;
    // Every key with a collating sequence names its file after its last segment.
    size_t names = 0;
    for (size_t at = w.text.find("segment=n\nname=GALCAPS.ACS\n"); at != std::string::npos;
         at = w.text.find("segment=n\nname=GALCAPS.ACS\n", at + 1))
        ++names;
    EXPECT_EQ(names, 3u);
    ASSERT_EQ(w.acsFiles.size(), 1u);
    EXPECT_EQ(w.acsFiles[0].fileName, "GALCAPS.ACS");
    EXPECT_EQ(w.acsFiles[0].bytes, acsBlock("GALCAPS ", upper));

    const Bytes mbmgeplt = statBytes(all[2].def);
    const WrittenDescription u = writeDescription(mbmgeplt.data(), mbmgeplt.size());
    EXPECT_NE(u.text.find("position=1 length=6 duplicates=n modifiable=n type=unsignedbinary"),
        std::string::npos);
    EXPECT_EQ(u.text.find("\nname="), std::string::npos);
}

TEST(Description, RealDescriptionFileReadsAsItsDataFile)
{
    REQUIRE_LEGACY_FIXTURES();
    std::ifstream in(testsupport::fixturePath("VARIABLE.BCR"), std::ios::binary);
    ASSERT_TRUE(in);
    std::stringstream text;
    text << in.rdbuf();
    const Description d = readDescription(text.str(), noFiles);
    ASSERT_TRUE(d.ok()) << d.error;

    DefinitionImage expected;
    expected.recordLength = 8;
    expected.pageSize = 512;
    expected.fileFlags = 0x1;
    expected.addKey({seg(5, 2, 0x101, 1)});
    expected.addKey({seg(7, 2, 0x100, 1)});
    EXPECT_EQ(testsupport::hex(d.image), testsupport::hex(statBytes(expected)));
    const ElementSite* type = d.site("type", 1, 1);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->value, "int");
    EXPECT_EQ(type->line, 4);
    ASSERT_NE(d.site("null", 0, 1), nullptr);
}

TEST(Description, ElementsSetTheirBits)
{
    struct Case
    {
        std::string text; // inserted after the file's own elements or in its one segment
        int headerOffset; // or -1: the key flags
        uint16_t expected;
        bool inSegment;
    };
    const Case cases[] = {
        {"variable=y", 10, 0x0001, false},
        {"truncate=Y", 10, 0x0002, false},
        {"compress=y", 10, 0x0008, false},
        {"allocation=7", 10, 0x0004, false},
        {"allocation=7", 14, 7, false},
        {"allocation=0", 10, 0x0000, false},
        {"dupkey=3", 10, 0x0100, false},
        {"dupkey=3", 12, 3, false},
        {"data=n", 10, 0x0010, false},
        {"data=y", 10, 0x0000, false},
        {"fthreshold=10", 10, 0x0040, false},
        {"fthreshold=20", 10, 0x0080, false},
        {"fthreshold=30", 10, 0x00C0, false},
        {"vats=y", 10, 0x0800, false},
        {"balance=y", 10, 0x0020, false},
        {"duplicates=y", -1, 0x0001, true},
        {"modifiable=y", -1, 0x0002, true},
        {"descending=y", -1, 0x0040, true},
        {"caseinsensitive=y", -1, 0x0400, true},
        {"repeatdup=y", -1, 0x0080, true},
        {"nullkey=allsegs", -1, 0x0008, true},
        {"nullkey=ANYSEG", -1, 0x0200, true},
        {"null=y", -1, 0x0008, true},
        {"null=n", -1, 0x0000, true},
        {"duplicates=n modifiable=n descending=n", -1, 0x0000, true},
    };
    for (const Case& c : cases) {
        const bool beforeKey = c.text.rfind("variable", 0) == 0 || c.text.rfind("truncate", 0) == 0
            || c.text.rfind("compress", 0) == 0;
        const std::string text = c.inSegment ? Head + "position=1 length=2 " + c.text
            : beforeKey ? "record=100 " + c.text + " key=1 page=4096 position=1 length=2"
                        : "record=100 key=1 page=4096 " + c.text + " position=1 length=2";
        const Bytes image = imageOf(text);
        ASSERT_EQ(image.size(), 32u) << c.text;
        const uint16_t got = c.headerOffset == 12 ? image[12]
            : c.headerOffset >= 0 ? testsupport::get16(image, size_t(c.headerOffset))
                                  : flagsOf(image, 0);
        EXPECT_EQ(got, c.expected) << c.text;
    }
    EXPECT_TRUE(readDescription(Head + "replace=y position=1 length=2", noFiles).replace);
    EXPECT_FALSE(readDescription(Head + "replace=n position=1 length=2", noFiles).replace);
}

TEST(Description, TypesByNameAbbreviationAndAlias)
{
    struct Case
    {
        const char* written;
        uint8_t code;
    };
    const Case cases[] = {{"string", 0}, {"str", 0}, {"int", 1}, {"INTEGER", 1}, {"Float", 2},
        {"date", 3}, {"time", 4}, {"tim", 4}, {"dec", 5}, {"money", 6}, {"log", 7}, {"numeric", 8},
        {"num", 8}, {"bfloat", 9}, {"lstring", 10}, {"zst", 11}, {"note", 12}, {"lvar", 13},
        {"unsignedbinary", 14}, {"uns", 14}, {"unsigned", 14}, {"autoincrement", 15}, {"aut", 15},
        {"bit", 16}, {"numericsts", 17}, {"signseparate", 17}, {"currency", 19}, {"timestamp", 20},
        {"wstring", 25}, {"wzstring", 26}, {"wzs", 26}, {"guid", 27}, {"GUI", 27}};
    for (const Case& c : cases) {
        const Bytes image = imageOf(Head + "position=1 length=2 type=" + c.written);
        ASSERT_EQ(image.size(), 32u) << c.written;
        EXPECT_EQ(typeOf(image, 0), c.code) << c.written;
        // Unsigned binary keeps the old binary flag beside its type, as real files do.
        const uint16_t expected = c.code == 14 ? 0x104 : 0x100;
        EXPECT_EQ(flagsOf(image, 0), expected) << c.written;
    }
    // Without type= the segment is an old-style string key.
    const Bytes plain = imageOf(Head + "position=1 length=2");
    EXPECT_EQ(flagsOf(plain, 0), 0);
    for (const char* wrong : {"in", "integ", "integers", "nu", "unsignedb", ""})
        EXPECT_FALSE(readDescription(Head + "position=1 length=2 type=" + wrong, noFiles).ok());
}

TEST(Description, CommentsCaseAndLineEnds)
{
    const std::string text = "/* a description\r\n   over two lines */RECORD=100 Key=1\tPAGE=4096"
                             "\r\n\r\nPosition=1/*x*/LENGTH=2 Duplicates=Y type=INT "
                             "VALUE=Ff SEGMENT=N\r\n\x1A";
    const Description d = readDescription(text, noFiles);
    ASSERT_TRUE(d.ok()) << d.error;
    EXPECT_EQ(flagsOf(d.image, 0), 0x101);
    EXPECT_EQ(d.image[16 + 11], 0xFF);
    ASSERT_NE(d.site("position", 0, 1), nullptr);
    EXPECT_EQ(d.site("position", 0, 1)->line, 4);
    EXPECT_EQ(d.site("record")->line, 2);

    const std::string segment = Head + "position=1 length=2 ";
    for (const auto& [value, byte] : std::vector<std::pair<std::string, uint8_t>> {
             {"value=20", 0x20}, {"value=0x7f", 0x7F}, {"value=a", 0x0A}}) {
        const Bytes image = imageOf(segment + value);
        EXPECT_EQ(image.at(16 + 11), byte) << value;
    }
}

TEST(Description, ErrorsNameTheLineAndElement)
{
    struct Case
    {
        std::string text;
        std::string error;
    };
    const std::string seg1 = "position=1 length=2";
    const Case cases[] = {
        {"record=100 key=1 page=4096\n\n\nposition=1 lenght=2", "line 4: unknown element 'lenght'"},
        {Head + "position=1\n\n\n\n\nlength=x", "line 7: 'length' needs a number, not 'x'"},
        {Head + "position=1 length=", "line 2: 'length' needs a number"},
        {Head + "position=1 length=2\x01", "line 2: 'length' needs a number, not '2\\x01'"},
        {"key=1 record=100 page=4096 " + seg1,
            "line 1: 'record' is out of order: it belongs before 'key' (line 1)"},
        {"record=100\nrecord=100 key=1 page=4096",
            "line 2: 'record' given twice (first on line 1)"},
        {"record=100 page=4096\n" + seg1, "line 2: the file elements lack 'key'"},
        {"record=100 key=0", "line 1: the file elements lack 'page'"},
        {Head + "position=1 type=int length=2",
            "line 2: 'length' is out of order in key 0 segment 1: it belongs before 'type' "
            "(line 2)"},
        {Head + "position=1 length=2 null=y nullkey=anyseg",
            "line 2: 'nullkey' given twice in key 0 segment 1 (first as 'null' on line 2)"},
        {Head + seg1 + "\nvariable=y",
            "line 3: 'variable' is a file element: it belongs before the first segment"},
        {Head + "length=2",
            "line 2: 'length' outside a segment: every segment begins with "
            "'position'"},
        {Head + seg1 + " segment=n length=2",
            "line 2: 'length' outside a segment: every segment begins with 'position'"},
        {Head + seg1 + "\n" + seg1, "line 3: this segment begins key 1, but key=1 (line 1)"},
        {"record=100 key=2 page=4096\n" + seg1, "line 1: key=2, but the segments describe 1 key"},
        {"record=100 key=2 page=4096", "line 1: key=2, but the segments describe 0 keys"},
        {Head + seg1 + "\nsegment=y", "line 3: segment=y, but no segment follows"},
        {"record=100 key=200 page=4096", "line 1: 'key' must be 0 to 119, not 200"},
        {"record=70000 key=0 page=4096", "line 1: 'record' must be 0 to 65535, not 70000"},
        {"record=100 key=0 page=4096 dupkey=256", "line 1: 'dupkey' must be 0 to 255, not 256"},
        {"record=100 key=0 page=4096 fthreshold=15",
            "line 1: 'fthreshold' must be 10, 20 or 30, not '15'"},
        {"record=100 variable=yes", "line 1: 'variable' needs y or n, not 'yes'"},
        {Head + seg1 + " type=foo", "line 2: unknown type 'foo'"},
        {Head + seg1 + " nullkey=some", "line 2: 'nullkey' needs allsegs or anyseg, not 'some'"},
        {Head + seg1 + " value=123",
            "line 2: 'value' needs one byte in hexadecimal (as 20 or 0x20), not '123'"},
        {Head + seg1 + " value=zz",
            "line 2: 'value' needs one byte in hexadecimal (as 20 or 0x20), not 'zz'"},
        {"record", "line 1: 'record' is not keyword=value"},
        {"=5", "line 1: '=5' is not keyword=value"},
        {"", "the description holds no elements"},
        {"/* only a comment */", "the description holds no elements"},
        {"record=100 /* key=1\n\n page=4096", "line 1: comment '/*' is not closed"},
        {"/*\n\n*/ record=x", "line 3: 'record' needs a number, not 'x'"},
        {Head + "position=1 length=2\nalternate=y",
            "line 3: key 0 uses a collating sequence (alternate=y), but no 'name' follows it"},
        {Head + seg1 + "\nname=A.ACS",
            "line 3: 'name' follows no key that uses a collating sequence (alternate=y)"},
        {"record=100 key=1 page=4096 name=A.ACS",
            "line 1: 'name' before the first segment: it belongs after the last segment of a "
            "key"},
        {Head + seg1 + " alternate=y segment=y name=A.ACS " + seg1,
            "line 2: 'name' follows segment=y (line 2): it belongs after the last segment of a "
            "key"},
        {Head + seg1 + " alternate=y name=MISSING.ACS",
            "line 2: cannot read the collating sequence 'MISSING.ACS': no such file"},
        {Head + seg1 + " alternate=y name=SHORT.ACS",
            "line 2: 'SHORT.ACS' is not an ACS file: 10 bytes, not 265"},
        {Head + seg1 + " alternate=y name=UNSIGNED.ACS",
            "line 2: 'UNSIGNED.ACS' is not an ACS file: it begins with 0x00, not 0xAC"},
        {"record=100 key=1 page=4096 \xff\xfe=1", "line 1: unknown element '\\xff\\xfe'"},
    };
    const AcsLoader loader = loaderOf(std::map<std::string, Bytes> {
        {"SHORT.ACS", Bytes(10, 0xAC)}, {"UNSIGNED.ACS", acsBlock("X", table(0), 0x00)}});
    for (const Case& c : cases) {
        const Description d = readDescription(c.text, loader);
        EXPECT_EQ(d.error, c.error) << c.text;
        EXPECT_TRUE(d.image.empty());
    }
}

std::string segments(int keys, const std::string& extra)
{
    std::string text;
    for (int k = 0; k < keys; ++k)
        text += "position=" + std::to_string(k + 1) + " length=1 " + extra + "\n";
    return text;
}

TEST(Description, CollatingSequencesAfterEachKeyOrOnceAtTheEnd)
{
    int calls = 0;
    const AcsLoader loader = loaderOf(
        std::map<std::string, Bytes> {{"A.ACS", acsBlock("UPPER", table(0))},
            {"B.ACS", acsBlock("LOWER", lower)}, {"SAME.ACS", acsBlock("UPPER", table(0))}},
        &calls);
    const std::string head = "record=100 key=3 page=4096\n";
    const std::string alt = "position=1 length=4 alternate=y\n";
    const std::string plain = "position=5 length=4\n";

    // After each key: the sequences are numbered as keys first use them.
    const Description each
        = readDescription(head + alt + "name=B.ACS\n" + plain + alt + "name=A.ACS\n", loader);
    ASSERT_TRUE(each.ok()) << each.error;
    ASSERT_EQ(each.image.size(), size_t(16 + 3 * 16 + 2 * 265));
    EXPECT_EQ(each.image[16 + 15], 0);
    EXPECT_EQ(each.image[48 + 15], 1);
    EXPECT_EQ(
        Bytes(each.image.begin() + 64, each.image.begin() + 64 + 265), acsBlock("LOWER", lower));
    EXPECT_EQ(Bytes(each.image.begin() + 64 + 265, each.image.end()), acsBlock("UPPER", table(0)));
    ASSERT_NE(each.site("name", 2), nullptr);
    EXPECT_EQ(each.site("name", 2)->line, 6);
    EXPECT_EQ(each.site("name", 1), nullptr);

    // Once at the end, for every key before it.
    const Description once = readDescription(head + alt + plain + alt + "name=A.ACS", loader);
    ASSERT_TRUE(once.ok()) << once.error;
    ASSERT_EQ(once.image.size(), size_t(16 + 3 * 16 + 265));
    EXPECT_EQ(once.image[16 + 15], 0);
    EXPECT_EQ(flagsOf(once.image, 2), 0x20);
    EXPECT_EQ(once.site("name", 0)->line, once.site("name", 2)->line);

    // The same bytes under another name, and a name given twice, are one sequence read once.
    calls = 0;
    const Description same = readDescription("record=100 key=3 page=4096\n" + alt + "name=A.ACS\n"
            + alt + "name=SAME.ACS\n" + alt + "name=A.ACS",
        loader);
    ASSERT_TRUE(same.ok()) << same.error;
    EXPECT_EQ(same.image.size(), size_t(16 + 3 * 16 + 265));
    EXPECT_EQ(calls, 2);
}

TEST(Description, DefinitionHolds119SegmentsOr102WithASequence)
{
    const AcsLoader loader = loaderOf(std::map<std::string, Bytes> {
        {"A.ACS", acsBlock("A", table(0))}, {"B.ACS", acsBlock("B", table(1))}});
    const auto head
        = [](int keys) { return "record=200 key=" + std::to_string(keys) + " page=4096\n"; };
    EXPECT_EQ(imageOf(head(119) + segments(119, "")).size(), 1920u);
    EXPECT_EQ(readDescription(head(119) + segments(120, ""), loader).error,
        "line 121: one segment more than the 1920-byte definition holds (at most 119 segments)");

    const std::string alt = "alternate=y";
    EXPECT_EQ(imageOf(head(102) + segments(102, alt) + "name=A.ACS", loader).size(),
        size_t(16 + 102 * 16 + 265));
    EXPECT_EQ(readDescription(head(103) + segments(103, alt) + "name=A.ACS", loader).error,
        "line 105: the collating sequence 'A.ACS' does not fit the 1920-byte definition beside "
        "103 segments (at most 102 segments with one collating sequence)");
    // A sequence named early leaves room for fewer segments after it.
    EXPECT_EQ(
        readDescription(
            head(103) + "position=1 length=1 alternate=y name=A.ACS\n" + segments(102, ""), loader)
            .error,
        "line 104: one segment more than the 1920-byte definition holds (at most 102 segments "
        "with one collating sequence)");
    EXPECT_EQ(readDescription(head(86) + "position=1 length=1 alternate=y name=A.ACS\n"
                      + "position=1 length=1 alternate=y name=B.ACS\n" + segments(84, ""),
                  loader)
                  .error,
        "line 87: one segment more than the 1920-byte definition holds (at most 85 segments "
        "with 2 collating sequences)");
}

TEST(Description, WriterWarnsOfWhatNoElementCarries)
{
    struct Case
    {
        const char* what;
        DefinitionImage def;
        std::string warning;
    };
    const auto one = [](SegmentEntry s, uint16_t fileFlags = 0) {
        DefinitionImage d = statOf(100, 4096, fileFlags);
        d.addKey({s});
        return d;
    };
    SegmentEntry reserved = seg(1, 2, Ext, 1);
    reserved.reserved = 0x1234;
    SegmentEntry manual = seg(1, 2, Ext, 1);
    manual.manualKeyNumber = 5;
    DefinitionImage header = one(seg(1, 2, Ext, 1));
    header.reserved = 0x12;
    DefinitionImage pointers = one(seg(1, 2, Ext, 1), 0x100);
    DefinitionImage unusedPreallocation = one(seg(1, 2, Ext, 1), 0x4);
    unusedPreallocation.unusedPages = 0;
    // Blocks beyond the highest number a segment uses are not part of the definition; one
    // below it that no segment uses is.
    DefinitionImage spareBlock = one(seg(1, 2, Ext | 0x20, 0, 1));
    spareBlock.blocks = {acsBlock("*/SPARE", table(1)), acsBlock("USED", table(0))};
    DefinitionImage swapped = statOf(100, 4096, 0);
    swapped.addKey({seg(1, 2, Ext | 0x20, 0, 1)});
    swapped.addKey({seg(3, 2, Ext | 0x20, 0, 0)});
    swapped.blocks = {acsBlock("FIRST", table(0)), acsBlock("SECOND", table(1))};
    DefinitionImage mixed = statOf(100, 4096, 0);
    mixed.addKey({seg(1, 2, Ext | 0x20, 0, 0), seg(3, 2, Ext | 0x20, 0, 1)});
    mixed.blocks = {acsBlock("FIRST", table(0)), acsBlock("SECOND", table(1))};

    const Case cases[] = {
        {"key flag bit 11", one(seg(1, 2, Ext | 0x800, 1)),
            "key 0 segment 1: key flag bits 0x0800 are carried by no element"},
        {"file flag 0x200", one(seg(1, 2, Ext, 1), 0x200),
            "file flag 0x0200 (reserved) is carried by no element"},
        {"file flag 0x400", one(seg(1, 2, Ext, 1), 0x400),
            "file flag 0x0400 (key numbers given) is carried by no element: the keys will be "
            "numbered 0 to 0 in order"},
        {"file flag bits 12-15", one(seg(1, 2, Ext, 1), 0x9000),
            "file flag bits 0x9000 are carried by no element"},
        {"header reserved byte", header,
            "the header's reserved byte (0x12) is carried by no element"},
        {"segment reserved", one(reserved),
            "key 0 segment 1: the reserved field (0x1234) is carried by no element"},
        {"manual key number", one(manual),
            "key 0 segment 1: the key number 5 it gives is carried by no element"},
        {"binary beside integer", one(seg(1, 2, Ext | 0x4, 1)),
            "key 0 segment 1: the binary flag (0x0004) beside type 1 is carried by no element"},
        {"unsigned binary without the binary flag", one(seg(1, 2, Ext, 14)),
            "key 0 segment 1: an unsigned binary key without the binary flag (0x0004) will be "
            "created with it, as type=unsignedbinary always is"},
        {"old-style binary", one(seg(1, 2, 0x4, 0)),
            "key 0 segment 1: an old-style binary key (no extended type) will be created as "
            "type=unsignedbinary, which orders the same"},
        {"old-style string", one(seg(1, 2, 0, 0)),
            "key 0 segment 1: an old-style string key (no extended type) will be created as "
            "type=string, which orders the same"},
        {"unnamed type", one(seg(1, 2, Ext, 200)),
            "key 0 segment 1: extended type 200 has no type name: it will be created as "
            "type=string"},
        {"both null flags", one(seg(1, 2, Ext | 0x208, 1)),
            "key 0 segment 1: both null flags (0x0008 and 0x0200): nullkey=allsegs keeps only "
            "the first"},
        {"sequence number without the flag", one(seg(1, 2, Ext, 1, 3)),
            "key 0 segment 1: collating sequence number 3 without the collating-sequence flag "
            "is carried by no element"},
        {"duplicate pointers flag", pointers,
            "file flag 0x0100 (duplicate pointers) without reserved pointers: dupkey=0 will "
            "clear it"},
        {"preallocation", unusedPreallocation,
            "file flag 0x0004 (preallocation) with no unused pages left: allocation=0 will "
            "clear it"},
        {"unused block", spareBlock,
            "collating sequence 0 (*/SPARE) will not be kept: no key uses it as its sequence"},
        {"renumbered blocks", swapped,
            "collating sequence 1 (SECOND) will be sequence 0: a description numbers distinct "
            "sequences in the order keys first use them"},
        {"segments of one key with two blocks", mixed,
            "key 0 segment 2 uses collating sequence 1, but a description gives each key one: "
            "it will use FIRST.ACS, that of the key's first segment with alternate=y"},
    };
    for (const Case& c : cases) {
        const Bytes image = statBytes(c.def);
        const WrittenDescription w = writeDescription(image.data(), image.size());
        ASSERT_TRUE(w.ok()) << c.what << ": " << w.error;
        EXPECT_NE(std::find(w.warnings.begin(), w.warnings.end(), c.warning), w.warnings.end())
            << c.what << "; warnings:\n"
            << lines(w.warnings);
        // What it could write reads back, its comment holding every warning.
        const Description d = readDescription(w.text, loaderOf(w.acsFiles));
        EXPECT_TRUE(d.ok()) << c.what << ": " << d.error << "\n" << w.text;
    }
}

TEST(Description, WriterRefusesDefinitionsItCannotRead)
{
    struct Case
    {
        const char* what;
        Bytes image;
        std::string error;
    };
    DefinitionImage twoKeys = statOf(100, 4096, 0);
    twoKeys.addKey({seg(1, 2, Ext, 1)});
    twoKeys.addKey({seg(3, 2, Ext, 1)});
    Bytes cut = statBytes(twoKeys);
    cut.resize(40);
    DefinitionImage negative = statOf(100, 4096, 0);
    negative.numIndexes = -1;
    DefinitionImage endless = statOf(100, 4096, 0);
    endless.numIndexes = 1;
    endless.segments.assign(119, seg(1, 2, 0x10, 0));
    endless.length = 1920;
    DefinitionImage missingBlock = statOf(100, 4096, 0);
    missingBlock.addKey({seg(1, 2, Ext | 0x20, 0, 1)});
    missingBlock.blocks = {acsBlock("ONLY", table(0))};
    DefinitionImage damaged = statOf(100, 4096, 0);
    damaged.addKey({seg(1, 2, Ext | 0x20, 0, 0)});
    damaged.blocks = {acsBlock("BAD", table(0), 0x55)};

    const Case cases[] = {
        {"shorter than a header", Bytes(15, 0),
            "the definition is 15 bytes, shorter than its 16-byte header"},
        {"negative key count", statBytes(negative),
            "the definition says it has -1 keys; a definition holds 0 to 119"},
        {"cut short", cut,
            "the definition is cut short: its 40 bytes do not hold the 2 segment entries of its "
            "2 keys"},
        {"a key that never ends", statBytes(endless),
            "the segment entries end before key 0 is complete: the 119 entries of a definition "
            "hold fewer than its 1 keys"},
        {"a block beyond the image", statBytes(missingBlock),
            "key 0 segment 1 uses collating sequence 1, which the definition's 297 bytes do not "
            "hold"},
        {"a damaged block", statBytes(damaged),
            "collating sequence 0 (used by key 0 segment 1) is damaged: it begins with 0x55, "
            "not 0xAC"},
    };
    for (const Case& c : cases) {
        const WrittenDescription w = writeDescription(c.image.data(), c.image.size());
        EXPECT_EQ(w.error, c.error) << c.what;
        EXPECT_TRUE(w.text.empty());
    }
    EXPECT_FALSE(writeDescription(nullptr, 100).ok());
}

TEST(Description, SequenceFileNamesAreSafeAndDistinct)
{
    DefinitionImage d = statOf(100, 4096, 0);
    // Six blocks are as many as fit the buffer beside their six segments.
    const char* names[] = {"SAME", "same", "../x", ".HID", "", "-OPT"};
    for (int k = 0; k < 6; ++k) {
        d.addKey({seg(uint16_t(1 + k), 1, Ext | 0x20, 0, uint8_t(k))});
        d.blocks.push_back(acsBlock(names[k], table(k)));
    }
    const Bytes image = statBytes(d);
    const WrittenDescription w = writeDescription(image.data(), image.size());
    ASSERT_TRUE(w.ok()) << w.error;
    std::vector<std::string> files;
    for (const AcsFileOut& f : w.acsFiles)
        files.push_back(f.fileName);
    EXPECT_EQ(files,
        (std::vector<std::string> {
            "SAME.ACS", "same_2.ACS", "___x.ACS", "_HID.ACS", "ACS.ACS", "_OPT.ACS"}));
    const Description back = readDescription(w.text, loaderOf(w.acsFiles));
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(withoutLiveFigures(back.image, 6), withoutLiveFigures(image, 6));
}

// A record manager of a few rules, enough to see where a refusal is found.
int16_t fakeCreate(const Bytes& image, int* calls)
{
    ++*calls;
    using testsupport::get16;
    const uint16_t record = get16(image, 0);
    const uint16_t page = get16(image, 2);
    const int keys = int16_t(get16(image, 4));
    const uint16_t fileFlags = get16(image, 10);
    if (page < 512 || page > 4096 || page % 512 != 0)
        return btr::status::PageSizeError;
    if ((fileFlags & 0x10) && keys != 1)
        return btr::status::InconsistentKeyFlags;
    struct Entry
    {
        uint16_t position, length, flags;
        uint8_t type;
    };
    std::vector<std::vector<Entry>> byKey;
    size_t at = 16;
    for (int k = 0; k < keys; ++k) {
        byKey.emplace_back();
        for (;;) {
            Entry e {
                get16(image, at), get16(image, at + 2), get16(image, at + 4), image.at(at + 10)};
            byKey.back().push_back(e);
            at += 16;
            if (!(e.flags & 0x10))
                break;
        }
    }
    for (const auto& key : byKey)
        for (const Entry& e : key)
            if (e.position < 1 || e.position + e.length - 1 > record)
                return btr::status::InvalidKeyPosition;
    for (const auto& key : byKey)
        for (const Entry& e : key)
            if ((e.flags & 0x01) != (key.front().flags & 0x01))
                return btr::status::InconsistentKeyFlags;
    for (const auto& key : byKey)
        for (const Entry& e : key)
            if ((e.flags & Ext) && e.type == 15 && (key.size() > 1 || (e.flags & 0x01)))
                return btr::status::AutoincrementError;
    return btr::status::Success;
}

TEST(Description, RefusalNamesTheElements)
{
    struct Case
    {
        std::string text;
        int16_t status;
        int key;
        int segment;
        std::string message;
    };
    const std::string keys3 = "record=50 key=3 page=4096\n";
    const std::string ok = "position=1 length=4\n";
    const Case cases[] = {
        {keys3 + ok + ok + ok, 0, -1, 0, ""},
        {"record=50 key=1 page=1000\n" + ok, 24, -1, 0,
            "line 1: page size error (status 24) in the file elements: page=1000 (line 1)"},
        {keys3 + ok + ok + "/* third */\n" + "position=40\nlength=20\n", 27, 2, 1,
            "line 5: invalid key position (status 27) at key 2 segment 1: position=40 (line 5), "
            "length=20 (line 6), record=50 (line 1)"},
        {keys3 + ok + "position=1 length=2 segment=y\nposition=45 length=10\n" + ok, 27, 1, 2,
            "line 4: invalid key position (status 27) at key 1 segment 2: position=45 "
            "length=10 (line 4), record=50 (line 1)"},
        {keys3 + ok + ok
                + "position=1 length=2 duplicates=y segment=y\n"
                  "position=3 length=2 duplicates=n\n",
            45, 2, 2,
            "line 4: inconsistent key flags (status 45) at key 2 segment 2: duplicates=y "
            "(line 4), duplicates=n (line 5)"},
        {keys3 + ok
                + "position=1 length=2 type=autoincrement segment=y\n"
                  "position=3 length=2 type=integer\n"
                + ok,
            55, 1, 2,
            "line 3: autoincrement error (status 55) at key 1 segment 2: type=autoincrement "
            "segment=y (line 3)"},
        {"record=50 key=2 page=4096 data=n\n" + ok + ok, 45, -1, 0,
            "line 1: inconsistent key flags (status 45) in the file elements: key=2 data=n "
            "(line 1)"},
    };
    for (const Case& c : cases) {
        const Description d = readDescription(c.text, noFiles);
        ASSERT_TRUE(d.ok()) << d.error;
        int calls = 0;
        const Refusal r
            = locateRefusal(d, [&calls](const Bytes& image) { return fakeCreate(image, &calls); });
        EXPECT_EQ(r.status, c.status) << c.text;
        EXPECT_EQ(r.key, c.key) << c.text;
        EXPECT_EQ(r.segment, c.segment) << c.text;
        EXPECT_EQ(r.message, c.message) << c.text;
        if (c.status == 0) {
            EXPECT_EQ(calls, 1);
        }
    }
}

} // namespace
