// Layouts: fields from the keys, names, fillers and the variable part, so that every byte of a
// record is in exactly one field unless the given fields overlap; fields past the record's end.
#include "Layout.h"
#include "DefinitionImage.h"
#include "DefinitionLayout.h"

#include <gtest/gtest.h>

using namespace fields;
using testsupport::DefinitionImage;
using testsupport::SegmentEntry;

namespace {

spec::SpecBuffer statOf(const DefinitionImage& d)
{
    spec::SpecBuffer b;
    const testsupport::Bytes bytes = d.bytes();
    std::copy(bytes.begin(), bytes.begin() + spec::BufferSize, b.bytes.begin());
    return b;
}

struct Expected
{
    std::string name;
    uint32_t position;
    uint32_t length;
    std::string type;
    Source source;
};

void expectFields(const Layout& layout, const std::vector<Expected>& expected)
{
    ASSERT_EQ(layout.fields.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Field& f = layout.fields[i];
        EXPECT_EQ(f.name, expected[i].name) << i;
        EXPECT_EQ(f.position(), expected[i].position) << f.name;
        EXPECT_EQ(f.length, expected[i].length) << f.name;
        EXPECT_EQ(typeName(f), expected[i].type) << f.name;
        EXPECT_EQ(int(f.source), int(expected[i].source)) << f.name;
    }
}

TEST(Layout, FromTheKeysWithFillersAndTheVariablePart)
{
    DefinitionImage d;
    d.recordLength = 40;
    d.fileFlags = btr::fileflag::VariableLength;
    d.addKey({SegmentEntry {3, 4, btr::keyflag::ExtendedType, 0, btr::exttype::Integer}});
    d.addKey({SegmentEntry {11, 8, btr::keyflag::ExtendedType, 0, btr::exttype::Float},
        SegmentEntry {19, 6, btr::keyflag::ExtendedType, 0, btr::exttype::Money},
        SegmentEntry {25, 2, btr::keyflag::Binary}});
    // The same bytes and type again: nothing new. An old string key over the same bytes as key
    // 0 is another field, since its type differs.
    d.addKey({SegmentEntry {3, 4, btr::keyflag::ExtendedType, 0, btr::exttype::Integer}});
    d.addKey({SegmentEntry {3, 4, 0}});
    const Layout layout = keyLayout(statOf(d));
    EXPECT_EQ(layout.origin, "keys");
    EXPECT_EQ(layout.recordLength, 40U);
    EXPECT_TRUE(layout.variableLength);
    expectFields(layout,
        {{"filler_1", 1, 2, "hex", Source::Filler}, {"key0", 3, 4, "integer", Source::Key},
            {"key3", 3, 4, "string", Source::Key}, {"filler_7", 7, 4, "hex", Source::Filler},
            {"key1_1", 11, 8, "float", Source::Key}, {"key1_2", 19, 6, "money", Source::Key},
            {"key1_3", 25, 2, "unsignedbinary", Source::Key},
            {"filler_27", 27, 14, "hex", Source::Filler},
            {"variable_part", 41, 0, "hex", Source::VariablePart}});
    EXPECT_EQ(layout.fields[5].type.decimals, 2); // money: two decimals unless told otherwise
    EXPECT_TRUE(layout.notes.empty());
}

TEST(Layout, AFileWithoutKeysIsOneFiller)
{
    DefinitionImage d;
    d.recordLength = 12;
    expectFields(keyLayout(statOf(d)), {{"filler_1", 1, 12, "hex", Source::Filler}});
}

TEST(Layout, GivenFieldsOverlapAreNamedOnceAndNotedWhenTheyRunPastTheEnd)
{
    Layout layout;
    layout.recordLength = 20;
    auto field = [](std::string name, uint32_t offset, uint32_t length, uint8_t type) {
        Field f;
        f.name = std::move(name);
        f.offset = offset;
        f.length = length;
        f.type.type = type;
        f.source = Source::Dictionary;
        return f;
    };
    layout.fields = {field("Phone", 10, 8, btr::exttype::String),
        field("Area", 10, 3, btr::exttype::String), field("Id", 0, 4, btr::exttype::Integer),
        field("ID", 4, 2, btr::exttype::Integer), field("", 6, 2, btr::exttype::Integer),
        field("Tail", 18, 6, btr::exttype::String), field("Odd", 8, 1, 99)};
    completeLayout(layout);
    expectFields(layout,
        {{"Id", 1, 4, "integer", Source::Dictionary}, {"ID_2", 5, 2, "integer", Source::Dictionary},
            {"field_7", 7, 2, "integer", Source::Dictionary},
            {"Odd", 9, 1, "type 99", Source::Dictionary},
            {"filler_10", 10, 1, "hex", Source::Filler},
            {"Phone", 11, 8, "string", Source::Dictionary},
            {"Area", 11, 3, "string", Source::Dictionary},
            {"Tail", 19, 6, "string", Source::Dictionary}});
    ASSERT_EQ(layout.notes.size(), 2U);
    EXPECT_NE(layout.notes[0].find("Odd"), std::string::npos);
    EXPECT_NE(layout.notes[1].find("Tail (position 19, length 6) runs past the record's 20"),
        std::string::npos);

    // A record of 20 bytes: Tail holds 2 of its 6 and is written as those bytes in hex.
    std::vector<uint8_t> record(20, 'a');
    TextDecoder decoder;
    std::string out;
    EXPECT_EQ(int(appendField(layout.fields[7], record.data(), record.size(), decoder, out)),
        int(Kind::Invalid));
    EXPECT_EQ(out, "0x6161");
    out.clear();
    EXPECT_EQ(
        int(appendField(layout.fields[7], record.data(), 10, decoder, out)), int(Kind::Invalid));
    EXPECT_EQ(out, "0x");
}

TEST(Layout, FillersAndTheVariablePartTakeNamesNoFieldHas)
{
    Layout layout;
    layout.recordLength = 8;
    layout.variableLength = true;
    for (const char* name : {"variable_part", "VARIABLE_PART_2", "filler_5"}) {
        Field f;
        f.name = name;
        f.length = 2;
        f.offset = uint32_t(layout.fields.size() * 2);
        f.source = Source::Dictionary;
        layout.fields.push_back(f);
    }
    completeLayout(layout);
    ASSERT_EQ(layout.fields.size(), 5U);
    EXPECT_EQ(layout.fields[3].name, "filler_7");
    EXPECT_EQ(layout.fields[4].name, "variable_part_3");
    layout.fields.clear();
    layout.notes.clear();
    Field f;
    f.name = "filler_1";
    f.offset = 4;
    f.length = 4;
    layout.fields.push_back(f);
    completeLayout(layout);
    EXPECT_EQ(layout.fields[0].name, "filler_1_2");
    EXPECT_EQ(layout.fields[0].offset, 0U);
}

TEST(Layout, EveryByteOfARecordIsInExactlyOneFieldOfAKeyLayout)
{
    DefinitionImage d;
    d.recordLength = 30;
    d.fileFlags = btr::fileflag::VariableLength;
    d.addKey({SegmentEntry {5, 4, btr::keyflag::ExtendedType, 0, btr::exttype::Unsigned}});
    d.addKey({SegmentEntry {20, 2, btr::keyflag::ExtendedType, 0, btr::exttype::Unsigned}});
    const Layout layout = keyLayout(statOf(d));
    std::vector<uint8_t> record(45);
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = uint8_t(i);
    // Each field as hex, in position order, spells the whole record.
    TextDecoder decoder;
    std::string all;
    for (const Field& f : layout.fields) {
        std::string hex;
        const size_t n = f.source == Source::VariablePart ? record.size() - f.offset : f.length;
        appendHex(record.data() + f.offset, n, hex);
        std::string value;
        appendField(f, record.data(), record.size(), decoder, value);
        if (f.hex()) {
            EXPECT_EQ(value, hex) << f.name;
        }
        all += hex;
    }
    std::string expected;
    appendHex(record.data(), record.size(), expected);
    EXPECT_EQ(all, expected);
}

TEST(Layout, ColumnsKeepEveryDigit)
{
    Field f;
    struct Case
    {
        uint8_t type;
        uint32_t length;
        Source source;
        Column column;
    };
    for (const Case& c : {Case {btr::exttype::Integer, 8, Source::Key, Column::Integer},
             Case {btr::exttype::Unsigned, 7, Source::Key, Column::Integer},
             Case {btr::exttype::Unsigned, 8, Source::Key, Column::Exact},
             Case {btr::exttype::Decimal, 5, Source::Key, Column::Exact},
             Case {btr::exttype::Currency, 8, Source::Key, Column::Exact},
             Case {btr::exttype::BFloat, 8, Source::Key, Column::Real},
             Case {btr::exttype::Date, 4, Source::Key, Column::Text},
             Case {btr::exttype::Logical, 1, Source::Key, Column::Integer},
             Case {btr::exttype::String, 4, Source::Filler, Column::Blob},
             Case {99, 4, Source::Dictionary, Column::Blob}}) {
        f.type.type = c.type;
        f.length = c.length;
        f.source = c.source;
        EXPECT_EQ(int(columnOf(f)), int(c.column)) << int(c.type);
    }
}

} // namespace
