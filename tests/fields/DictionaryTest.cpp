// Dictionaries: their records parsed from bytes (damaged ones too), a table's layout with names in
// the dictionary's code page, locations resolved below the dictionary's directory, the three files
// read through the record manager, and what the code-page guess samples of a file.
#include "Dictionary.h"
#include "DictionaryRecords.h"
#include "FileSample.h"
#include "ScratchDir.h"
#include "TestFiles.h"
#include "WinBtr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

using namespace fields;
using testsupport::Bytes;
using testsupport::DefinitionImage;
using testsupport::fieldRecord;
using testsupport::indexRecord;
using testsupport::ScratchDir;
using testsupport::SegmentEntry;
using testsupport::tableRecord;
namespace fs = std::filesystem;

namespace {

void createWith(
    const std::string& path, const DefinitionImage& d, const std::vector<Bytes>& records)
{
    testsupport::createFile(path, d);
    testsupport::insertRecords(path, records);
}

void touch(const fs::path& path)
{
    std::ofstream(path) << "x";
}

spec::SpecBuffer statOf(const DefinitionImage& d)
{
    spec::SpecBuffer b;
    const Bytes bytes = d.bytes();
    std::copy(bytes.begin(), bytes.begin() + spec::BufferSize, b.bytes.begin());
    return b;
}

DefinitionImage customerDefinition()
{
    DefinitionImage d;
    d.recordLength = 30;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, btr::keyflag::ExtendedType, 0, btr::exttype::Integer}});
    return d;
}

TEST(Dictionary, ParsesTablesFieldsAndIndexesAndLeavesOutShortRecords)
{
    const Dictionary d
        = parseDictionary({tableRecord(1, "X$File", "FILE.DDF", 0x10),
                              tableRecord(7, "Customer", "DATA\\CUST.BTR"), Bytes(40, 0)},
            {fieldRecord(3, 7, "Id", btr::exttype::Integer, 0, 4),
                fieldRecord(4, 7, "Balance", btr::exttype::Money, 4, 6, 2, 0x04), Bytes(31, 0)},
            {indexRecord(7, 3, 0, 0, 0x02), Bytes(9, 0)});
    ASSERT_EQ(d.tables.size(), 2U);
    EXPECT_TRUE(d.tables[0].dictionaryFile());
    EXPECT_EQ(d.tables[1].id, 7);
    EXPECT_EQ(d.tables[1].name, "Customer");
    EXPECT_EQ(d.tables[1].location, "DATA\\CUST.BTR");
    EXPECT_EQ(d.table("CUSTOMER"), &d.tables[1]);
    EXPECT_EQ(d.table("nobody"), nullptr);
    ASSERT_EQ(d.fields.size(), 2U);
    EXPECT_EQ(d.fields[1].name, "Balance");
    EXPECT_EQ(d.fields[1].dataType, btr::exttype::Money);
    EXPECT_EQ(d.fields[1].offset, 4);
    EXPECT_EQ(d.fields[1].size, 6);
    EXPECT_EQ(d.fields[1].decimals, 2);
    EXPECT_EQ(d.fields[1].flags, 0x04);
    ASSERT_EQ(d.indexes.size(), 1U);
    EXPECT_EQ(d.indexes[0].field, 3);
    EXPECT_EQ(d.indexes[0].flags, 0x02);
    ASSERT_EQ(d.problems.size(), 3U);
    EXPECT_EQ(d.problems[0],
        "FILE.DDF record 3 is 40 bytes, shorter than the 87 its layout needs: left out.");
    EXPECT_NE(d.problems[1].find("FIELD.DDF record 3 is 31 bytes"), std::string::npos);
    EXPECT_NE(d.problems[2].find("INDEX.DDF record 2 is 9 bytes"), std::string::npos);
}

TEST(Dictionary, NamesAreTrimmedAtBlanksAndNuls)
{
    Bytes t = tableRecord(2, "Parts", "PARTS.DAT");
    t[2 + 5] = 0; // a NUL after the name, garbage after that
    t[2 + 6] = 'Z';
    const Dictionary d = parseDictionary({t}, {}, {});
    ASSERT_EQ(d.tables.size(), 1U);
    EXPECT_EQ(d.tables[0].name, "Parts");
    EXPECT_EQ(d.tables[0].location, "PARTS.DAT");
}

TEST(Dictionary, ATablesLayoutLeavesOutConstraintAndIndexNames)
{
    const Dictionary d = parseDictionary({tableRecord(7, "Customer", "CUST.BTR")},
        {fieldRecord(1, 7, "Id", btr::exttype::Integer, 0, 4),
            fieldRecord(2, 7, "Small", btr::exttype::Integer, 4, 1, 0, 0x08),
            fieldRecord(3, 7, "PK_Customer", 255, 0, 0), fieldRecord(4, 7, "CHK", 227, 0, 0),
            fieldRecord(5, 8, "Other", btr::exttype::String, 0, 30),
            fieldRecord(6, 7, "Name", btr::exttype::String, 10, 20)},
        {});
    TextDecoder names;
    const Layout layout = tableLayout(d, d.tables[0], statOf(customerDefinition()), names);
    EXPECT_EQ(layout.table, "Customer");
    ASSERT_EQ(layout.fields.size(), 4U);
    EXPECT_EQ(layout.fields[0].name, "Id");
    EXPECT_EQ(layout.fields[1].name, "Small");
    EXPECT_TRUE(layout.fields[1].type.signedByte);
    EXPECT_EQ(layout.fields[2].name, "filler_6");
    EXPECT_EQ(layout.fields[2].length, 5U);
    EXPECT_EQ(layout.fields[3].name, "Name");
}

TEST(Dictionary, LocationsResolveCaseInsensitivelyBelowTheDirectoryOnly)
{
    ScratchDir dir;
    fs::create_directories(dir.path("Data/Sub"));
    touch(dir.path("Data/Sub/Cust.Btr"));
    touch(dir.path("TOP.DAT"));
    fs::create_directory_symlink("/", dir.path("Root"));

    struct Case
    {
        std::string location;
        std::string found; // relative to the directory; empty when refused
        std::string error;
    };
    for (const Case& c : {Case {"DATA\\SUB\\CUST.BTR", "Data/Sub/Cust.Btr", ""},
             Case {"data/sub/cust.btr", "Data/Sub/Cust.Btr", ""},
             Case {".\\DATA\\..\\top.dat", "TOP.DAT", ""},
             Case {"..\\OTHER.DAT", "", "points outside the dictionary's directory"},
             Case {"DATA\\..\\..\\X", "", "points outside the dictionary's directory"},
             Case {"C:\\DATA\\CUST.BTR", "", "points outside the dictionary's directory"},
             Case {"\\DATA\\CUST.BTR", "", "points outside the dictionary's directory"},
             Case {"ROOT\\etc\\passwd", "", "points outside the dictionary's directory"},
             Case {"DATA\\NONE.BTR", "", "points nowhere: no NONE.BTR in"},
             Case {"DATA\\SUB", "", "is a directory"}, Case {"", "", "empty"}}) {
        const Located at = locate(dir.path(), c.location);
        if (c.found.empty()) {
            EXPECT_FALSE(at.found()) << c.location;
            EXPECT_NE(at.error.find(c.error), std::string::npos) << c.location << ": " << at.error;
        } else {
            EXPECT_TRUE(at.found()) << c.location << ": " << at.error;
            EXPECT_EQ(at.path, dir.path(c.found)) << c.location;
        }
    }
}

struct DictionaryDir
{
    ScratchDir dir;
    DictionaryDir(const std::vector<Bytes>& tables, const std::vector<Bytes>& fieldRecords)
    {
        createWith(dir.file("FILE.DDF"), testsupport::fileDdfDefinition(), tables);
        createWith(dir.file("field.ddf"), testsupport::fieldDdfDefinition(), fieldRecords);
        createWith(dir.file("Index.Ddf"), testsupport::indexDdfDefinition(), {});
        createWith(dir.file("cust.btr"), customerDefinition(), {});
    }
};

TEST(Dictionary, ReadThroughTheRecordManagerAndMatchedByLocation)
{
    DictionaryDir d({tableRecord(1, "X$File", "FILE.DDF", 0x10),
                        tableRecord(7, "Customer", "CUST.BTR"), tableRecord(8, "Gone", "GONE.BTR")},
        {fieldRecord(1, 7, "Id", btr::exttype::Integer, 0, 4),
            fieldRecord(2, 8, "Other", btr::exttype::Integer, 0, 4)});
    const DictionaryRead read = readDictionary(d.dir.path());
    ASSERT_TRUE(read.ok()) << read.error;
    EXPECT_EQ(read.dictionary.tables.size(), 3U);
    EXPECT_EQ(read.dictionary.fields.size(), 2U);

    const spec::SpecBuffer stat = statOf(customerDefinition());
    TextDecoder names;
    LayoutChoice choice = chooseLayout(d.dir.file("cust.btr"), stat, "", "", names);
    ASSERT_TRUE(choice.ok()) << choice.error;
    EXPECT_EQ(choice.layout.table, "Customer");
    EXPECT_EQ(choice.layout.fields[0].name, "Id");

    // Another table by name, whatever its location says.
    choice = chooseLayout(d.dir.file("cust.btr"), stat, d.dir.path(), "gone", names);
    ASSERT_TRUE(choice.ok()) << choice.error;
    EXPECT_EQ(choice.layout.table, "Gone");

    choice = chooseLayout(d.dir.file("cust.btr"), stat, "", "NoSuchTable", names);
    EXPECT_EQ(choice.error, "The dictionary in " + d.dir.path() + " has no table NoSuchTable.");

    // A file the dictionary does not name: its keys, unless the dictionary was asked for.
    createWith(d.dir.file("OTHER.BTR"), customerDefinition(), {});
    choice = chooseLayout(d.dir.file("OTHER.BTR"), stat, "", "", names);
    ASSERT_TRUE(choice.ok());
    EXPECT_EQ(choice.layout.origin, "keys");
    choice = chooseLayout(d.dir.file("OTHER.BTR"), stat, d.dir.path(), "", names);
    EXPECT_NE(choice.error.find("No table of the dictionary"), std::string::npos);
}

TEST(Dictionary, MissingNewerOrDamagedDictionariesAreSaidSo)
{
    ScratchDir none;
    DictionaryRead read = readDictionary(none.path());
    EXPECT_FALSE(read.present);
    EXPECT_EQ(read.error, "No dictionary in " + none.path() + " (no FILE.DDF).");

    ScratchDir newer;
    touch(newer.path("PVFILE.DDF"));
    read = readDictionary(newer.path());
    EXPECT_FALSE(read.present);
    EXPECT_NE(read.error.find("newer files (PVFILE.DDF and others)"), std::string::npos);

    ScratchDir damaged;
    std::ofstream(damaged.path("FILE.DDF")) << "this is no data file at all";
    createWith(damaged.file("FIELD.DDF"), testsupport::fieldDdfDefinition(), {});
    read = readDictionary(damaged.path());
    EXPECT_TRUE(read.present);
    EXPECT_NE(read.error.find("Cannot read the dictionary file"), std::string::npos) << read.error;
    EXPECT_NE(read.error.find("(status 30)"), std::string::npos) << read.error;

    // Beside a file, a damaged dictionary is noted and the keys are used.
    TextDecoder names;
    createWith(damaged.file("cust.btr"), customerDefinition(), {});
    const LayoutChoice choice
        = chooseLayout(damaged.file("cust.btr"), statOf(customerDefinition()), "", "", names);
    ASSERT_TRUE(choice.ok());
    EXPECT_EQ(choice.layout.origin, "keys");
    ASSERT_EQ(choice.notes.size(), 1U);

    ScratchDir noFields;
    createWith(noFields.file("FILE.DDF"), testsupport::fileDdfDefinition(), {});
    read = readDictionary(noFields.path());
    EXPECT_EQ(read.error, "The dictionary in " + noFields.path() + " has no FIELD.DDF.");
}

// Клиенты, Имя, имя, Дог in CP866.
const std::string Clients = "\x8A\xAB\xA8\xA5\xAD\xE2\xEB";
const std::string NameUpper = "\x88\xAC\xEF";
const std::string NameLower = "\xA8\xAC\xEF";
const std::string Contract = "\x84\xAE\xA3";

TEST(Dictionary, NamesAreReadInTheCodePageAndComparedInAnyCase)
{
    const Dictionary d = parseDictionary({tableRecord(7, Clients, Contract + ".DAT")},
        {fieldRecord(1, 7, NameUpper, btr::exttype::String, 0, 10),
            fieldRecord(2, 7, NameLower, btr::exttype::String, 10, 10),
            fieldRecord(3, 7, "\x01\xFF", btr::exttype::Integer, 20, 4)},
        {});
    DefinitionImage image;
    image.recordLength = 24;
    image.pageSize = 1024;
    TextDecoder cp866("CP866");
    const Layout layout = tableLayout(d, d.tables[0], statOf(image), cp866);
    EXPECT_EQ(layout.table, "\xD0\x9A\xD0\xBB\xD0\xB8\xD0\xB5\xD0\xBD\xD1\x82\xD1\x8B");
    EXPECT_NE(layout.origin.find(", table " + layout.table), std::string::npos);
    ASSERT_EQ(layout.fields.size(), 3U);
    EXPECT_EQ(layout.fields[0].name, "\xD0\x98\xD0\xBC\xD1\x8F");   // Имя
    EXPECT_EQ(layout.fields[1].name, "\xD0\xB8\xD0\xBC\xD1\x8F_2"); // имя, once more
    EXPECT_EQ(layout.fields[2].name, "\xEF\xBF\xBD\xC2\xA0");       // a control, NBSP
    // By a name in UTF-8, in any case, in the code page given or in any the guess knows.
    const std::string upper = "\xD0\x9A\xD0\x9B\xD0\x98\xD0\x95\xD0\x9D\xD0\xA2\xD0\xAB";
    EXPECT_EQ(d.table(upper, &cp866), &d.tables[0]);
    EXPECT_EQ(d.table(upper), &d.tables[0]);
    EXPECT_EQ(d.table("\xD0\x9A\xD0\xBB"), nullptr);
}

TEST(Dictionary, ALocationInACodePageFindsItsFileUnderEitherName)
{
    ScratchDir dir;
    TextDecoder cp866("CP866");
    // Copied as the DOS program wrote it: the same bytes.
    touch(dir.path(Contract + ".DAT"));
    Located at = locate(dir.path(), Contract + ".dat", &cp866);
    ASSERT_TRUE(at.found()) << at.error;
    EXPECT_EQ(at.path, dir.path(Contract + ".DAT"));
    fs::remove(dir.path(Contract + ".DAT"));
    // Renamed into UTF-8 on its way (Дог.DAT), found whichever code page reads it so.
    touch(dir.path("\xD0\x94\xD0\xBE\xD0\xB3.DAT"));
    for (TextDecoder* names : {&cp866, static_cast<TextDecoder*>(nullptr)}) {
        at = locate(dir.path(), Contract + ".DAT", names);
        ASSERT_TRUE(at.found()) << at.error;
        EXPECT_EQ(at.path, dir.path("\xD0\x94\xD0\xBE\xD0\xB3.DAT"));
    }
    // Not there: the message quotes the location in UTF-8.
    at = locate(dir.path(), NameUpper + ".DAT", &cp866);
    EXPECT_FALSE(at.found());
    EXPECT_NE(at.error.find("'\xD0\x98\xD0\xBC\xD1\x8F.DAT' points nowhere"), std::string::npos)
        << at.error;
    EXPECT_TRUE(isUtf8(locate(dir.path(), NameUpper, nullptr).error.data(),
        locate(dir.path(), NameUpper, nullptr).error.size()));
}

TEST(FileSample, TheFirstRecordsTextFieldsAndTheDictionarysNames)
{
    ScratchDir dir;
    DefinitionImage d;
    d.recordLength = 12;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {9, 4, btr::keyflag::ExtendedType, 0, btr::exttype::Integer}});
    std::vector<Bytes> records;
    for (uint32_t i = 0; i < 10; ++i) {
        Bytes r(12, ' ');
        r[0] = uint8_t(0x80 + i); // one byte outside ASCII in each record's text
        r[1] = 'a';
        testsupport::put32(r, 8, 10 - i);
        records.push_back(r);
    }
    createWith(dir.file("T.BTR"), d, records);
    Layout layout;
    layout.recordLength = 12;
    Field text;
    text.name = "Text";
    text.length = 8;
    text.type.type = btr::exttype::String;
    layout.fields.push_back(text);
    Field number;
    number.name = "Number";
    number.offset = 8;
    number.length = 4;
    number.type.type = btr::exttype::Integer;
    layout.fields.push_back(number);

    TWinBtr file;
    ASSERT_EQ(file.Open(dir.file("T.BTR").c_str(), "", 0), 0);
    file.KeyNumber = 0;
    TextSample sample;
    sampleRecords(file, layout, sample, 3);
    EXPECT_EQ(sample.bytes(), 3U * 2); // "\x80a": trailing blanks are not the text's
    EXPECT_EQ(sample.outsideAscii(), 3U);
    EXPECT_EQ(sample.words(),
        "\x80"
        "a \x81"
        "a \x82"
        "a ");
    // The file reads on from its start in the order it was set to: key 0, the number.
    EXPECT_FALSE(file.UseStep);
    ASSERT_EQ(file.GetFirst(), 0);
    EXPECT_EQ(file.Buffer[0], 0x89);
    file.Close();

    TextSample names;
    addNames(parseDictionary({tableRecord(7, Clients, "C.DAT")},
                 {fieldRecord(1, 7, NameUpper, 0, 0, 4), fieldRecord(2, 7, "PK", 255, 0, 0)}, {}),
        names);
    EXPECT_EQ(names.words(), Clients + " " + NameUpper + " ");
    EXPECT_EQ(names.bytes(), Clients.size() + 5 + NameUpper.size() + 2);
}

} // namespace
