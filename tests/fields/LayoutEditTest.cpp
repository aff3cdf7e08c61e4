// Layout edits: each one made when it holds and refused with its reason (the layout untouched)
// when it does not; the fillers made afresh after every edit as a layout file's reader makes them;
// what the editor saves reads back the same; and the invalid values of a field counted over every
// record of a file of our own and of a legacy file, stopping when asked.
#include "LayoutEdit.h"

#include "DefinitionImage.h"
#include "LayoutFile.h"
#include "LegacyWriter.h"
#include "LittleEndian.h"
#include "ScratchDir.h"
#include "TestFiles.h"
#include "WinBtr.h"

#include <gtest/gtest.h>

using namespace fields;
using testsupport::Bytes;
using testsupport::DefinitionImage;
using testsupport::ScratchDir;
using testsupport::SegmentEntry;
namespace exttype = btr::exttype;

namespace {

// 24-byte records with a variable part: an id, a name, then bytes no field covers.
Layout baseLayout(bool variableLength = false)
{
    Layout l;
    l.recordLength = 24;
    l.variableLength = variableLength;
    l.origin = "keys";
    Field id;
    id.name = "id";
    id.offset = 0;
    id.length = 4;
    id.type.type = exttype::Integer;
    id.source = Source::Key;
    Field name;
    name.name = "name";
    name.offset = 4;
    name.length = 10;
    name.type.type = exttype::String;
    name.source = Source::Inferred;
    name.evidence = "text in 3 of 3 records";
    l.fields = {id, name};
    completeLayout(l);
    return l;
}

FieldForm form(const std::string& name, int64_t offset, int64_t length, const std::string& type,
    int64_t decimals = 0)
{
    FieldForm f;
    f.name = name;
    f.offset = offset;
    f.length = length;
    f.type = type;
    f.decimals = decimals;
    return f;
}

// The layout as its file says it: names, positions, lengths, types, sources, in order.
std::string shape(const Layout& l)
{
    std::string s;
    for (const Field& f : l.fields) {
        s += f.name + "@" + std::to_string(f.position()) + "+" + std::to_string(f.length) + ":"
            + typeName(f) + (f.type.decimals ? "." + std::to_string(f.type.decimals) : "") + "("
            + sourceName(f.source) + ") ";
    }
    return s;
}

size_t indexOf(const Layout& l, const std::string& name)
{
    for (size_t i = 0; i < l.fields.size(); ++i) {
        if (l.fields[i].name == name)
            return i;
    }
    ADD_FAILURE() << "no field " << name << " in " << shape(l);
    return 0;
}

TEST(LayoutEdit, EditsThatHoldAreMadeAndTheFillersFollow)
{
    struct Case
    {
        const char* what;
        bool variableLength;
        std::function<EditResult(Layout&)> edit;
        const char* shape;  // the layout afterwards
        const char* edited; // the field the result points at; empty: none
    };
    const Case cases[] = {
        {"an integer in the bytes after the name", false,
            [](Layout& l) { return defineField(l, form("amount", 14, 4, "integer")); },
            "id@1+4:integer(key) name@5+10:string(inferred) amount@15+4:integer(layout) "
            "filler_19@19+6:hex(filler) ",
            "amount"},
        {"a field in the middle of a filler splits it in two", false,
            [](Layout& l) { return defineField(l, form("flag", 16, 1, "logical")); },
            "id@1+4:integer(key) name@5+10:string(inferred) filler_15@15+2:hex(filler) "
            "flag@17+1:logical(layout) filler_18@18+7:hex(filler) ",
            "flag"},
        {"overlapping fields: the name's first letters", false,
            [](Layout& l) { return defineField(l, form("initial", 4, 1, "string")); },
            "id@1+4:integer(key) name@5+10:string(inferred) initial@5+1:string(layout) "
            "filler_15@15+10:hex(filler) ",
            "initial"},
        {"money with its decimals, a type name in any case", false,
            [](Layout& l) { return defineField(l, form("price", 14, 5, "MONEY", 2)); },
            "id@1+4:integer(key) name@5+10:string(inferred) price@15+5:money.2(layout) "
            "filler_20@20+5:hex(filler) ",
            "price"},
        {"a bit field's bit number", false,
            [](Layout& l) { return defineField(l, form("paid", 23, 1, "bit", 7)); },
            "id@1+4:integer(key) name@5+10:string(inferred) filler_15@15+9:hex(filler) "
            "paid@24+1:bit.7(layout) ",
            "paid"},
        {"named hex bytes are kept under their name", false,
            [](Layout& l) { return defineField(l, form("reserved", 14, 10, "hex")); },
            "id@1+4:integer(key) name@5+10:string(inferred) reserved@15+10:hex(filler) ",
            "reserved"},
        {"a field past the fixed part of a variable-length record", true,
            [](Layout& l) { return defineField(l, form("memo", 24, 40, "string")); },
            "id@1+4:integer(key) name@5+10:string(inferred) filler_15@15+10:hex(filler) "
            "memo@25+40:string(layout) variable_part@25+0:hex(variable) ",
            "memo"},
        {"a type changed: the field is the person's now", false,
            [](Layout& l) { return changeField(l, 1, form("", 4, 8, "zstring")); },
            "id@1+4:integer(key) name@5+8:zstring(layout) filler_13@13+12:hex(filler) ", "name"},
        {"moved over the id's bytes", false,
            [](Layout& l) { return changeField(l, 1, form("", 0, 10, "string")); },
            "id@1+4:integer(key) name@1+10:string(layout) filler_11@11+14:hex(filler) ", "name"},
        {"the same form again changes nothing, not even the source", false,
            [](Layout& l) { return changeField(l, 1, formOf(l.fields[1])); },
            "id@1+4:integer(key) name@5+10:string(inferred) filler_15@15+10:hex(filler) ", "name"},
        {"a filler changed into a field", false,
            [](Layout& l) { return changeField(l, 2, form("", 14, 2, "integer")); },
            "id@1+4:integer(key) name@5+10:string(inferred) filler_15@15+2:integer(layout) "
            "filler_17@17+8:hex(filler) ",
            "filler_15"},
        {"renamed, in another case", false, [](Layout& l) { return renameField(l, 1, "Name"); },
            "id@1+4:integer(key) Name@5+10:string(inferred) filler_15@15+10:hex(filler) ", "Name"},
        {"a filler renamed is kept as named hex", false,
            [](Layout& l) { return renameField(l, 2, "spare"); },
            "id@1+4:integer(key) name@5+10:string(inferred) spare@15+10:hex(filler) ", "spare"},
        {"the variable part renamed", true, [](Layout& l) { return renameField(l, 3, "notes"); },
            "id@1+4:integer(key) name@5+10:string(inferred) filler_15@15+10:hex(filler) "
            "notes@25+0:hex(variable) ",
            "notes"},
        {"removed: its bytes join the filler after them", false,
            [](Layout& l) { return removeField(l, 1); },
            "id@1+4:integer(key) filler_5@5+20:hex(filler) ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Layout l = baseLayout(c.variableLength);
        const EditResult r = c.edit(l);
        ASSERT_TRUE(r.ok()) << r.why;
        EXPECT_EQ(shape(l), c.shape);
        if (*c.edited) {
            ASSERT_LT(r.index, l.fields.size());
            EXPECT_EQ(l.fields[r.index].name, c.edited);
        } else {
            EXPECT_EQ(r.index, EditResult::npos);
        }
        // What the editor saves, a layout file's reader takes as it is.
        const LayoutRead back = parseLayout(
            layoutJson(l, "F.BTR").dump(), l.recordLength, l.variableLength, "layout file");
        ASSERT_TRUE(back.ok()) << back.error;
        EXPECT_EQ(shape(back.layout), c.shape);
    }
}

TEST(LayoutEdit, EditsThatDoNotHoldAreRefusedWithTheReasonAndChangeNothing)
{
    struct Case
    {
        const char* what;
        bool variableLength;
        std::function<EditResult(Layout&)> edit;
        const char* why;
    };
    const Case cases[] = {
        {"no name", false, [](Layout& l) { return defineField(l, form("", 14, 4, "integer")); },
            "it has no name"},
        {"a name used before, in another case", false,
            [](Layout& l) { return defineField(l, form("NAME", 14, 4, "integer")); },
            "the name is used by another field (names are compared in any case)"},
        {"a control character in the name", false,
            [](Layout& l) { return defineField(l, form("a\tb", 14, 4, "integer")); },
            "its name holds a control character"},
        {"a name too long", false,
            [](Layout& l) { return defineField(l, form(std::string(256, 'n'), 14, 4, "integer")); },
            "its name is longer than 255 bytes"},
        {"an unknown type", false,
            [](Layout& l) { return defineField(l, form("x", 14, 4, "varchar")); },
            "the type 'varchar' is unknown"},
        {"a length the type does not take", false,
            [](Layout& l) { return defineField(l, form("x", 14, 3, "integer")); },
            "type integer takes 1, 2, 4 or 8 bytes, not 3"},
        {"past the record's end", false,
            [](Layout& l) { return defineField(l, form("x", 20, 8, "float")); },
            "position 21 and length 8 run past the end of the file's 24-byte records"},
        {"a negative offset", false,
            [](Layout& l) { return defineField(l, form("x", -1, 4, "integer")); },
            "its position is not a whole number from 1 to 65535"},
        {"no bytes", false, [](Layout& l) { return defineField(l, form("x", 14, 0, "string")); },
            "its length is not a whole number from 1 to 65535"},
        {"past the longest record even with a variable part", true,
            [](Layout& l) { return defineField(l, form("x", 65535, 1, "string")); },
            "its position is not a whole number from 1 to 65535"},
        {"decimals out of range", false,
            [](Layout& l) { return defineField(l, form("x", 14, 5, "decimal", 256)); },
            "its decimals are not a whole number from 0 to 255"},
        {"negative decimals", false,
            [](Layout& l) { return defineField(l, form("x", 14, 5, "decimal", -2)); },
            "its decimals are not a whole number from 0 to 255"},
        {"a bit outside its byte", false,
            [](Layout& l) { return defineField(l, form("x", 14, 1, "bit", 8)); },
            "bit 8 is not in its 8 bits"},
        {"hex named as a filler", false,
            [](Layout& l) { return defineField(l, form("filler_15", 14, 2, "hex")); },
            "a hex field named filler_<N> is taken for bytes no field covers"},
        {"changed to a length its type does not take", false,
            [](Layout& l) { return changeField(l, 0, form("", 0, 6, "integer")); },
            "type integer takes 1, 2, 4 or 8 bytes, not 6"},
        {"changed past the end", false,
            [](Layout& l) { return changeField(l, 1, form("", 20, 10, "string")); },
            "run past the end of the file's 24-byte records"},
        {"the variable part changed", true,
            [](Layout& l) { return changeField(l, 3, form("", 24, 4, "integer")); },
            "define fields over its bytes instead"},
        {"renamed to another field's name", false,
            [](Layout& l) { return renameField(l, 1, "ID"); }, "the name is used by another field"},
        {"renamed to nothing", false, [](Layout& l) { return renameField(l, 0, ""); },
            "it has no name"},
        {"a filler renamed as another filler", false,
            [](Layout& l) { return renameField(l, 2, "filler_1"); },
            "a hex field named filler_<N>"},
        {"a filler removed", false, [](Layout& l) { return removeField(l, 2); },
            "a filler holds the bytes no field covers"},
        {"the variable part removed", true, [](Layout& l) { return removeField(l, 3); },
            "the variable part holds whatever follows the fixed part"},
        {"no such field", false, [](Layout& l) { return removeField(l, 9); },
            "there is no such field"},
        {"no such field to change", false,
            [](Layout& l) { return changeField(l, 9, form("", 0, 4, "integer")); },
            "there is no such field"},
        {"no such field to rename", false, [](Layout& l) { return renameField(l, 9, "x"); },
            "there is no such field"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Layout l = baseLayout(c.variableLength);
        const Layout before = l;
        const EditResult r = c.edit(l);
        EXPECT_FALSE(r.ok());
        EXPECT_NE(r.why.find(c.why), std::string::npos) << r.why;
        EXPECT_EQ(r.index, EditResult::npos);
        EXPECT_EQ(layoutJson(l, "F.BTR"), layoutJson(before, "F.BTR"));
    }
}

TEST(LayoutEdit, NamesCompareInAnyCaseBeyondAscii)
{
    Layout l = baseLayout();
    ASSERT_TRUE(defineField(l, form("größe", 14, 2, "integer")).ok());
    const Layout before = l;
    const EditResult r = defineField(l, form("GRÖßE", 16, 2, "integer"));
    EXPECT_EQ(r.why, "the name is used by another field (names are compared in any case)");
    EXPECT_EQ(layoutJson(l, "F.BTR"), layoutJson(before, "F.BTR"));
}

TEST(LayoutEdit, TheNotesFollowTheFields)
{
    Layout l = baseLayout(true);
    EXPECT_TRUE(l.notes.empty());
    ASSERT_TRUE(defineField(l, form("memo", 20, 40, "string")).ok());
    ASSERT_EQ(l.notes.size(), 1U);
    EXPECT_NE(l.notes[0].find("Field memo (position 21, length 40) runs past"), std::string::npos);
    ASSERT_TRUE(removeField(l, indexOf(l, "memo")).ok());
    EXPECT_TRUE(l.notes.empty());
}

// A file of our own: 12-byte records, an id and a date whose month is 13 in every fifth record.
std::string datedFile(const ScratchDir& dir, uint32_t records)
{
    DefinitionImage d;
    d.recordLength = 12;
    d.pageSize = 1024;
    d.addKey({SegmentEntry {1, 4, testsupport::ExtendedTypeKey, 0, exttype::Integer}});
    const std::string path = dir.file("DATED.BTR");
    testsupport::createFile(path, d);
    std::vector<Bytes> rows;
    for (uint32_t i = 0; i < records; ++i) {
        Bytes r(12, 0);
        btr::le::put32(r.data(), i);
        r[4] = 1 + i % 28;
        r[5] = i % 5 == 0 ? 13 : 1 + i % 12;
        btr::le::put16(r.data() + 6, 1990);
        rows.push_back(r);
    }
    testsupport::insertRecords(path, rows);
    return path;
}

Field fieldOf(const std::string& name, uint32_t offset, uint32_t length, uint8_t type)
{
    Field f;
    f.name = name;
    f.offset = offset;
    f.length = length;
    f.type.type = type;
    f.source = Source::LayoutFile;
    return f;
}

TEST(CountInvalid, EveryRecordOfAFileOfOurOwn)
{
    ScratchDir dir;
    const std::string path = datedFile(dir, 103);
    TWinBtr file;
    ASSERT_EQ(file.Open(path.c_str(), "", btr::mode::ReadOnly), 0);
    file.KeyNumber = 0;
    TextDecoder decoder;
    std::atomic<bool> stop {false};
    const InvalidCount dates
        = countInvalid(file, fieldOf("born", 4, 4, exttype::Date), decoder, stop);
    EXPECT_TRUE(dates.complete());
    EXPECT_EQ(dates.records, 103U);
    EXPECT_EQ(dates.invalid, 21U); // records 0, 5, ..., 100
    // Several fields in one reading; a field past the record's end is invalid in every record.
    const InvalidCounts several = countInvalid(file,
        {fieldOf("id", 0, 4, exttype::Integer), fieldOf("born", 4, 4, exttype::Date),
            fieldOf("tail", 10, 4, exttype::Integer)},
        decoder, stop);
    EXPECT_TRUE(several.complete());
    EXPECT_EQ(several.invalid, (std::vector<uint64_t> {0, 21, 103}));
    // The handle is left in the order it was given.
    EXPECT_FALSE(file.UseStep);
    EXPECT_EQ(file.KeyNumber, 0);
}

TEST(CountInvalid, StopsWhenAsked)
{
    ScratchDir dir;
    const std::string path = datedFile(dir, 20);
    TWinBtr file;
    ASSERT_EQ(file.Open(path.c_str(), "", btr::mode::ReadOnly), 0);
    TextDecoder decoder;
    const std::atomic<bool> stop {true};
    const InvalidCount c = countInvalid(file, fieldOf("born", 4, 4, exttype::Date), decoder, stop);
    EXPECT_TRUE(c.stopped);
    EXPECT_FALSE(c.complete());
    EXPECT_EQ(c.records, 0U);
    EXPECT_EQ(c.status, 0);
}

TEST(CountInvalid, EveryRecordOfALegacyFile)
{
    // Packed decimals, 3 bytes: a half-byte above 9 in every seventh record.
    constexpr uint16_t Length = 16;
    legacytest::LegacyFileSpec spec;
    spec.version = legacytest::Version60;
    spec.records = 300;
    spec.freeSlotEvery = 9;
    spec.rule = [](uint32_t i, std::vector<uint8_t>& r) {
        r.assign(Length, ' ');
        btr::le::put32(r.data(), i + 1);
        r[4] = 0x12;
        r[5] = i % 7 == 3 ? 0xA4 : 0x34;
        r[6] = 0x5C;
    };
    spec.definition.pageSize = 1024;
    spec.definition.recordLength = Length;
    recman::Key key;
    key.segments.push_back({1, 4, recman::keyflag::ExtendedType, 300, 14, 0, 0, 0, 0});
    spec.definition.keys = {key};
    ScratchDir dir;
    const std::string path = dir.file("PRICES.DAT");
    legacytest::writeLegacyFile(path, spec);
    TWinBtr file;
    ASSERT_EQ(file.Open(path.c_str(), "", btr::mode::ReadOnly), 0);
    TextDecoder decoder;
    std::atomic<bool> stop {false};
    Field price = fieldOf("price", 4, 3, exttype::Decimal);
    price.type.decimals = 2;
    const InvalidCount c = countInvalid(file, price, decoder, stop);
    EXPECT_TRUE(c.complete()) << c.status << " " << c.reason;
    EXPECT_EQ(c.records, 300U);
    EXPECT_EQ(c.invalid, 43U); // 3, 10, ..., 297
}

} // namespace
