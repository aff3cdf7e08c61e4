// The MIME types varnok.xml installs, applied to files as a file manager meets them: legacy files
// of each family from the synthetic writer, one of our own files, and the files the types must
// not claim (a plain SQLite database, text, zeros). The rules are read from the XML and applied
// here as shared-mime-info applies magic; where update-mime-database and gio are installed, the
// system's own matching is asked too.
#include "LegacyWriter.h"
#include "ScratchDir.h"
#include "TestFiles.h"

#include <QFile>
#include <QXmlStreamReader>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>

using testsupport::ScratchDir;

namespace {

// One <match>: its children must match too (all of one path); siblings are alternatives.
struct Match
{
    std::string type;
    uint64_t value = 0;
    std::string text;
    std::optional<uint64_t> mask;
    size_t from = 0;
    size_t to = 0;
    std::vector<Match> children;
};

struct Magic
{
    std::string mimeType;
    int priority = 50;
    std::vector<Match> matches;
};

uint64_t number(const QString& text)
{
    bool ok = false;
    const uint64_t v = text.toULongLong(&ok, 0);
    EXPECT_TRUE(ok) << text.toStdString();
    return v;
}

Match readMatch(QXmlStreamReader& xml)
{
    Match m;
    const auto attributes = xml.attributes();
    m.type = attributes.value("type").toString().toStdString();
    const QString value = attributes.value("value").toString();
    if (m.type == "string")
        m.text = value.toStdString();
    else
        m.value = number(value);
    if (attributes.hasAttribute("mask"))
        m.mask = number(attributes.value("mask").toString());
    const QStringList offset = attributes.value("offset").toString().split(':');
    m.from = size_t(number(offset[0]));
    m.to = offset.size() > 1 ? size_t(number(offset[1])) : m.from;
    while (xml.readNextStartElement()) {
        EXPECT_EQ(xml.name(), QLatin1String("match"));
        m.children.push_back(readMatch(xml));
    }
    return m;
}

std::vector<Magic> readMagic(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    QXmlStreamReader xml(&file);
    std::vector<Magic> rules;
    std::string mimeType;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("mime-type")) {
            mimeType = xml.attributes().value("type").toString().toStdString();
        } else if (xml.name() == QLatin1String("magic")) {
            Magic magic;
            magic.mimeType = mimeType;
            if (xml.attributes().hasAttribute("priority"))
                magic.priority = int(number(xml.attributes().value("priority").toString()));
            while (xml.readNextStartElement())
                magic.matches.push_back(readMatch(xml));
            rules.push_back(std::move(magic));
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return rules;
}

bool matchesAt(const Match& m, const std::vector<uint8_t>& bytes, size_t at)
{
    const auto byteAt = [&bytes](size_t i) { return uint64_t(bytes[i]); };
    size_t width = 0;
    uint64_t v = 0;
    if (m.type == "string") {
        if (at + m.text.size() > bytes.size())
            return false;
        return std::equal(m.text.begin(), m.text.end(), bytes.begin() + long(at),
            [](char c, uint8_t b) { return uint8_t(c) == b; });
    }
    if (m.type == "byte") {
        width = 1;
    } else if (m.type == "big16" || m.type == "little16") {
        width = 2;
    } else if (m.type == "big32" || m.type == "little32") {
        width = 4;
    } else {
        ADD_FAILURE() << "match type " << m.type << " is not one the test knows";
        return false;
    }
    if (at + width > bytes.size())
        return false;
    const bool little = m.type.rfind("little", 0) == 0;
    for (size_t i = 0; i < width; ++i)
        v |= byteAt(at + i) << (8 * (little ? i : width - 1 - i));
    const uint64_t mask = m.mask.value_or(~uint64_t(0));
    return (v & mask) == (m.value & mask);
}

bool matches(const Match& m, const std::vector<uint8_t>& bytes)
{
    for (size_t at = m.from; at <= m.to; ++at) {
        if (!matchesAt(m, bytes, at))
            continue;
        if (m.children.empty())
            return true;
        for (const Match& child : m.children)
            if (matches(child, bytes))
                return true;
    }
    return false;
}

// The type of the highest-priority rule the file matches; empty when none does.
std::string typeOf(const std::vector<Magic>& rules, const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes(4096);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    bytes.resize(size_t(in.gcount()));
    std::string found;
    int best = -1;
    for (const Magic& magic : rules) {
        for (const Match& m : magic.matches) {
            if (magic.priority > best && matches(m, bytes)) {
                best = magic.priority;
                found = magic.mimeType;
            }
        }
    }
    return found;
}

constexpr uint16_t RecordLength = 20;

void writeLegacy(const std::string& path, uint16_t version, bool owner)
{
    legacytest::LegacyFileSpec spec;
    spec.version = version;
    spec.records = 5;
    spec.rule = [](uint32_t i, std::vector<uint8_t>& r) {
        r.assign(RecordLength, ' ');
        r[0] = uint8_t(i);
    };
    spec.definition.pageSize = 1024;
    spec.definition.recordLength = RecordLength;
    recman::Key key;
    key.segments.push_back({1, 4, recman::keyflag::ExtendedType, 0, 14, 0, 0, 0, 0});
    spec.definition.keys = {key};
    spec.owner.set = owner;
    spec.owner.mode = 1;
    legacytest::writeLegacyFile(path, spec);
}

void writePlainDatabase(const std::string& path, int applicationId)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const std::string sql
        = "PRAGMA application_id = " + std::to_string(applicationId) + "; CREATE TABLE t (a);";
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

struct Sample
{
    const char* name;
    std::string expected;
};

// Every sample file in `dir`, written, with the type it must get.
std::vector<Sample> writeSamples(const ScratchDir& dir)
{
    const std::string legacy = "application/x-btrieve-data";
    const struct
    {
        const char* name;
        uint16_t version;
        bool owner;
    } families[] = {{"V3.DAT", 0x0300, false}, {"V5.DAT", legacytest::Version5, false},
        {"V5OWNED.DAT", legacytest::Version5, true}, {"V60.DAT", legacytest::Version60, false},
        {"V61OWNED.DAT", legacytest::Version61, true}, {"V80.DAT", legacytest::Version80, false},
        {"V90.DAT", legacytest::Version90, false}, {"V95.DAT", legacytest::Version95, false},
        {"V95OWNED.DAT", legacytest::Version95, true}};
    std::vector<Sample> samples;
    for (const auto& f : families) {
        writeLegacy(dir.file(f.name), f.version, f.owner);
        samples.push_back({f.name, legacy});
    }
    testsupport::DefinitionImage d;
    d.recordLength = 10;
    d.addKey({{1, 4, 0}});
    testsupport::createFile(dir.file("OWN.BTR"), d);
    samples.push_back({"OWN.BTR", "application/x-varnok-data"});
    writePlainDatabase(dir.file("plain.db"), 0);
    samples.push_back({"plain.db", ""});
    writePlainDatabase(dir.file("other.db"), 0x12345678);
    samples.push_back({"other.db", ""});
    std::ofstream(dir.file("notes.txt")) << "FC is not a data file, whatever its first bytes.\n";
    samples.push_back({"notes.txt", ""});
    std::ofstream(dir.file("zeros.bin"), std::ios::binary) << std::string(2048, '\0');
    samples.push_back({"zeros.bin", ""});
    std::ofstream(dir.file("empty.dat"), std::ios::binary);
    samples.push_back({"empty.dat", ""});
    return samples;
}

TEST(MimeTypes, EveryFamilyAndOurOwnFilesAreClaimedAndNothingElse)
{
    const std::vector<Magic> rules = readMagic(VARNOK_MIME_XML);
    ASSERT_EQ(rules.size(), 3U);
    ScratchDir dir;
    for (const Sample& s : writeSamples(dir))
        EXPECT_EQ(typeOf(rules, dir.file(s.name)), s.expected) << s.name;
}

TEST(MimeTypes, OurOwnFilesOutrankPlainSqliteDatabases)
{
    int ours = 0;
    for (const Magic& magic : readMagic(VARNOK_MIME_XML))
        if (magic.mimeType == "application/x-varnok-data")
            ours = magic.priority;
    // SQLite's own type matches every database at the default priority.
    EXPECT_GT(ours, 50);
}

std::string run(const std::string& command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe)
        return out;
    std::array<char, 256> chunk {};
    while (std::fgets(chunk.data(), int(chunk.size()), pipe.get()))
        out += chunk.data();
    return out;
}

// The system's own tools, when installed: the database builds from the XML without a warning,
// and gio names each sample's type from it.
TEST(MimeTypes, TheSystemsMimeDatabaseAgrees)
{
    const std::string update = VARNOK_UPDATE_MIME_DATABASE;
    const std::string gio = VARNOK_GIO;
    if (update.empty() || update.find("NOTFOUND") != std::string::npos || gio.empty()
        || gio.find("NOTFOUND") != std::string::npos)
        GTEST_SKIP() << "update-mime-database or gio is not installed";
    ScratchDir dir;
    const std::string share = dir.file("share");
    std::filesystem::create_directories(share + "/mime/packages");
    std::filesystem::copy_file(VARNOK_MIME_XML, share + "/mime/packages/varnok.xml");
    const std::string dirs = "XDG_DATA_HOME=" + share + " XDG_DATA_DIRS=" + share + " ";
    EXPECT_EQ(run(dirs + update + " " + share + "/mime 2>&1"), "");
    ASSERT_TRUE(std::filesystem::exists(share + "/mime/mime.cache"));
    for (const Sample& s : writeSamples(dir)) {
        const std::string answer
            = run(dirs + gio + " info -a standard::content-type " + dir.file(s.name) + " 2>&1");
        if (s.expected.empty())
            EXPECT_EQ(answer.find("data\n"), std::string::npos) << s.name << ": " << answer;
        else
            EXPECT_NE(answer.find("content-type: " + s.expected + "\n"), std::string::npos)
                << s.name << ": " << answer;
    }
}

} // namespace
