// The layout in force for an open file, chosen without printing anything: what the caller is to
// tell comes back as notes in its own words, a failure as the error, the file untouched.
#include "FileLayout.h"

#include "DefinitionImage.h"
#include "ScratchDir.h"
#include "TestFiles.h"
#include "WinBtr.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace fields;
using testsupport::Bytes;
using testsupport::DefinitionImage;
using testsupport::ScratchDir;
using testsupport::SegmentEntry;

namespace {

// 200 records: a 4-byte id (key 0), 12 letters of text in CP866 (Cyrillic, key 1), 4 zero
// bytes.
std::string makeFile(const ScratchDir& dir)
{
    DefinitionImage d;
    d.recordLength = 20;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, testsupport::ExtendedTypeKey, 0, btr::exttype::Integer}});
    d.addKey(
        {SegmentEntry {5, 12, uint16_t(testsupport::ExtendedTypeKey | btr::keyflag::Duplicates), 0,
            btr::exttype::String}});
    const std::string path = dir.file("PEOPLE.BTR");
    testsupport::createFile(path, d);
    // "Иванов Петр " and "Смирнова Анна" in CP866.
    const Bytes names[] = {{0x88, 0xA2, 0xA0, 0xAD, 0xAE, 0xA2, 0x20, 0x8F, 0xA5, 0xE2, 0xE0, 0x20},
        {0x91, 0xAC, 0xA8, 0xE0, 0xAD, 0xAE, 0xA2, 0xA0, 0x20, 0x80, 0xAD, 0xAD}};
    std::vector<Bytes> records;
    for (uint32_t i = 0; i < 200; ++i) {
        Bytes r(20, 0);
        r[0] = uint8_t(i);
        r[1] = uint8_t(i >> 8);
        std::copy(names[i % 2].begin(), names[i % 2].end(), r.begin() + 4);
        records.push_back(r);
    }
    testsupport::insertRecords(path, records);
    return path;
}

struct Case
{
    const char* what;
    FileLayoutOptions options;
    bool ok;
    const char* origin; // the start of layout.origin, or of the error
    const char* encoding;
};

TEST(FileLayout, ChoosesAsTheCommandLineDoesAndSaysWhatInTheCallersWords)
{
    ScratchDir dir;
    const std::string path = makeFile(dir);
    std::ofstream(dir.file("PEOPLE.json")) << "[1, 2";
    FileLayoutOptions keys;
    keys.keysOnly = true;
    keys.encoding = "CP1251";
    FileLayoutOptions guessed;
    guessed.keysOnly = true;
    guessed.encodingHint = "the box below";
    FileLayoutOptions badEncoding;
    badEncoding.encoding = "NO-SUCH-CODE-PAGE";
    FileLayoutOptions missing;
    missing.layoutFile = dir.file("NOWHERE.json");
    FileLayoutOptions broken;
    broken.layoutFile = dir.path();
    const Case cases[] = {
        {"keys only, a code page given", keys, true, "keys", "CP1251"},
        {"the code page guessed from the text", guessed, true, "keys", "CP866"},
        {"inferred", FileLayoutOptions {}, true, "keys, inferred from 200 records", "CP866"},
        {"a code page iconv does not know", badEncoding, false, "", ""},
        {"a layout file that is not there", missing, false, "Cannot open", ""},
        {"a directory whose layout does not parse", broken, false, "Cannot use the layout", ""},
    };
    for (const Case& c : cases) {
        TWinBtr file;
        ASSERT_EQ(file.Open(path.c_str(), "", 0), btr::status::Success);
        const FileLayout found = fileLayout(file, "PEOPLE.BTR", c.options);
        EXPECT_EQ(found.ok, c.ok) << c.what << ": " << found.error;
        if (c.ok) {
            EXPECT_EQ(found.layout.origin.rfind(c.origin, 0), 0u)
                << c.what << ": " << found.layout.origin;
            EXPECT_EQ(found.encoding, c.encoding) << c.what;
        } else {
            EXPECT_FALSE(found.error.empty()) << c.what;
            EXPECT_EQ(found.error.rfind(c.origin, 0), 0u) << c.what << ": " << found.error;
        }
    }
    // The guess is told with the caller's hint.
    TWinBtr file;
    ASSERT_EQ(file.Open(path.c_str(), "", 0), btr::status::Success);
    const FileLayout found = fileLayout(file, "PEOPLE.BTR", guessed);
    ASSERT_FALSE(found.notes.empty());
    EXPECT_NE(found.notes.front().find("read as CP866"), std::string::npos) << found.notes.front();
    EXPECT_NE(found.notes.front().find("choose another with the box below"), std::string::npos);
}

} // namespace
