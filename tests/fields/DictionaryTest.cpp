// Dictionaries: their records parsed from bytes (damaged ones too), a table's layout, locations
// resolved below the dictionary's directory, and the three files read through the record manager.
#include "Dictionary.h"
#include "DictionaryRecords.h"
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

} // namespace
