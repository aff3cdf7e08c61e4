// Layout files: what is written reads back the same; a person's edits (names, types, positions,
// overlapping fields, fillers dropped) are taken; a layout that does not fit the file is refused
// with the field and the reason; and invalid values counted per field.
#include "LayoutFile.h"

#include "DefinitionLayout.h"

#include <gtest/gtest.h>

using namespace fields;
namespace exttype = btr::exttype;

namespace {

Field field(const std::string& name, uint32_t offset, uint32_t length, uint8_t type,
    Source source = Source::Inferred)
{
    Field f;
    f.name = name;
    f.offset = offset;
    f.length = length;
    f.type.type = type;
    f.source = source;
    if (source == Source::Inferred)
        f.evidence = "valid in 3 of 3 records";
    return f;
}

Layout sampleLayout()
{
    Layout l;
    l.recordLength = 30;
    l.variableLength = true;
    l.origin = "keys, inferred from 3 records";
    l.fields = {field("key0", 0, 4, exttype::Integer, Source::Key),
        field("text_5", 4, 10, exttype::String), field("price", 16, 8, exttype::Float),
        field("flag", 24, 1, exttype::Integer)};
    l.fields.back().type.signedByte = true;
    l.fields[2].type.decimals = 2;
    completeLayout(l);
    return l;
}

std::string text(const Layout& l)
{
    return layoutJson(l, "A.BTR").dump(2);
}

void expectSameFields(const Layout& a, const Layout& b)
{
    ASSERT_EQ(a.fields.size(), b.fields.size());
    for (size_t i = 0; i < a.fields.size(); ++i) {
        const Field& f = a.fields[i];
        const Field& g = b.fields[i];
        EXPECT_EQ(f.name, g.name);
        EXPECT_EQ(f.offset, g.offset) << f.name;
        EXPECT_EQ(f.length, g.length) << f.name;
        EXPECT_EQ(f.type.type, g.type.type) << f.name;
        EXPECT_EQ(f.type.decimals, g.type.decimals) << f.name;
        EXPECT_EQ(f.type.signedByte, g.type.signedByte) << f.name;
        EXPECT_EQ(f.source, g.source) << f.name;
        EXPECT_EQ(f.evidence, g.evidence) << f.name;
    }
}

TEST(LayoutFile, WhatIsWrittenReadsBackTheSame)
{
    const Layout written = sampleLayout();
    const std::string json = text(written);
    EXPECT_NE(json.find("\"signed\": true"), std::string::npos) << json;
    EXPECT_NE(json.find("\"evidence\": null"), std::string::npos) << json;
    const LayoutRead read = parseLayout(json, 30, true, "layout a.json");
    ASSERT_TRUE(read.ok()) << read.error;
    expectSameFields(written, read.layout);
    EXPECT_EQ(read.layout.origin, "layout a.json");
    EXPECT_EQ(text(read.layout),
        text(written).replace(text(written).find("keys, inferred from 3 "
                                                 "records"),
            29, "layout a.json"));
}

TEST(LayoutFile, EditsAreTakenAndFillersComeBack)
{
    // Renamed and retyped, overlapping, a filler left where it no longer fits, a hex field of
    // the person's own, no source and no decimals.
    const std::string json = R"({"fields": [
        {"name": "Id", "position": 1, "length": 4, "type": "Integer", "source": "key"},
        {"name": "Name", "position": 5, "length": 10, "type": "zstring"},
        {"name": "Initial", "position": 5, "length": 1, "type": "string"},
        {"name": "filler_15", "position": 15, "length": 9, "type": "hex"},
        {"name": "Reserved", "position": 25, "length": 2, "type": "hex"},
        {"name": "Amount", "position": 27, "length": 4, "type": "decimal", "decimals": 2,
         "evidence": "typed in by hand", "color": "red"}],
        "table": "Customers"})";
    const LayoutRead read = parseLayout(json, 30, false, "layout b.json");
    ASSERT_TRUE(read.ok()) << read.error;
    const Layout& l = read.layout;
    EXPECT_EQ(l.table, "Customers");
    std::vector<std::string> names;
    for (const Field& f : l.fields)
        names.push_back(f.name + "@" + std::to_string(f.position()) + "+" + std::to_string(f.length)
            + ":" + typeName(f) + ":" + sourceName(f.source));
    EXPECT_EQ(names,
        (std::vector<std::string> {"Id@1+4:integer:key", "Name@5+10:zstring:layout",
            "Initial@5+1:string:layout", "filler_15@15+10:hex:filler", "Reserved@25+2:hex:filler",
            "Amount@27+4:decimal:layout"}));
    EXPECT_EQ(l.fields.back().type.decimals, 2);
    EXPECT_EQ(l.fields.back().evidence, "typed in by hand");
}

TEST(LayoutFile, ALayoutThatDoesNotFitIsRefusedWithTheFieldAndTheReason)
{
    auto one = [](const std::string& entry) { return "{\"fields\": [" + entry + "]}"; };
    const struct
    {
        std::string text;
        std::string error;
    } cases[] = {
        {"{\"fields\": [\n  {\"name\": \"a\",, }]}",
            "it is not JSON: line 2, column 16: syntax error while parsing object key - "
            "unexpected ','; expected string literal"},
        {"",
            "it is not JSON: line 1, column 1: syntax error while parsing value - unexpected "
            "end of input; expected '[', '{', or a literal"},
        {"[1, 2]",
            "it is not a layout: a layout is a JSON object whose member \"fields\" is the "
            "list of fields, as 'varnok-cli fields --json' writes it"},
        {"{\"fields\": [], \"recordLength\": 31}",
            "it is a layout for records of 31 bytes, and the file's records are 30 bytes long"},
        {one("7"), "the 1st field: it is not a JSON object"},
        {one("{\"position\": 1, \"length\": 1, \"type\": \"string\"}"),
            "the 1st field: it has no name"},
        {one("{\"name\": \"A\", \"position\": 1, \"length\": 4, \"type\": \"integer\"},"
             "{\"name\": \"a\", \"position\": 5, \"length\": 4, \"type\": \"integer\"}"),
            "field a: the name is used by an earlier field (names are compared in any case)"},
        {one("{\"name\": \"x\", \"position\": 1, \"length\": 4, \"type\": \"int\"}"),
            "field x: the type 'int' is unknown (known: the type names of description files, "
            "such as string, integer, float, date, decimal, and hex)"},
        {one("{\"name\": \"x\", \"position\": 1, \"length\": 3, \"type\": \"float\"}"),
            "field x: type float takes 4 or 8 bytes, not 3"},
        {one("{\"name\": \"x\", \"position\": 1, \"length\": 5, \"type\": \"date\"}"),
            "field x: type date takes 4 bytes, not 5"},
        {one("{\"name\": \"x\", \"position\": 0, \"length\": 4, \"type\": \"date\"}"),
            "field x: its position is not a whole number from 1 to 65535"},
        {one("{\"name\": \"x\", \"position\": 1.5, \"length\": 4, \"type\": \"date\"}"),
            "field x: its position is not a whole number from 1 to 65535"},
        {one("{\"name\": \"x\", \"position\": 28, \"length\": 4, \"type\": \"date\"}"),
            "field x: position 28 and length 4 run past the end of the file's 30-byte records"},
        {one("{\"name\": \"x\", \"position\": 1, \"type\": \"string\"}"),
            "field x: it has no length (only the variable part, of type hex, has none)"},
        {one("{\"name\": \"v\", \"position\": 31, \"length\": null, \"type\": \"hex\"}"),
            "field v: it is a variable part, and the file's records have none"},
        {one("{\"name\": \"b\", \"position\": 1, \"length\": 1, \"type\": \"bit\", \"decimals\": "
             "8}"),
            "field b: a bit field's decimals are its bit number, and bit 8 is not in its 8 bits"},
        {one("{\"name\": \"b\", \"position\": 1, \"length\": 1, \"type\": \"integer\", "
             "\"signed\": \"yes\"}"),
            "field b: its signed member is neither true nor false"},
        {one("{\"name\": \"a\\u0001\", \"position\": 1, \"length\": 1, \"type\": \"string\"}"),
            "field a\x01: its name holds a control character"},
    };
    for (const auto& c : cases) {
        const LayoutRead read = parseLayout(c.text, 30, false, "x");
        EXPECT_EQ(read.error, c.error) << c.text;
        EXPECT_TRUE(read.layout.fields.empty()) << c.text;
    }
}

TEST(LayoutFile, TheVariablePartAndFieldsBeyondTheFixedPart)
{
    const std::string json = R"({"fields": [
        {"name": "memo", "position": 11, "length": 20, "type": "string"},
        {"name": "rest", "position": 11, "length": null, "type": "hex"}]})";
    const LayoutRead read = parseLayout(json, 10, true, "x");
    ASSERT_TRUE(read.ok()) << read.error;
    ASSERT_EQ(read.layout.fields.size(), 3U);
    EXPECT_EQ(read.layout.fields[2].name, "rest");
    EXPECT_EQ(read.layout.fields[2].source, Source::VariablePart);
    // A field past the fixed part is read where a record is long enough, and noted.
    ASSERT_EQ(read.layout.notes.size(), 1U);
    EXPECT_NE(read.layout.notes[0].find("Field memo (position 11, length 20) runs past"),
        std::string::npos);
    EXPECT_EQ(parseLayout(R"({"fields": [{"name": "rest", "position": 12, "length": null,
        "type": "hex"}]})",
                  10, true, "x")
                  .error,
        "field rest: the variable part begins at position 11, after the fixed part");
}

TEST(Layout, InvalidValuesAreCountedPerField)
{
    Layout l;
    l.recordLength = 8;
    l.fields = {field("when", 0, 4, exttype::Date), field("n", 4, 4, exttype::Integer)};
    completeLayout(l);
    const uint8_t good[8] = {31, 12, 0xCF, 0x07, 1, 0, 0, 0};
    const uint8_t bad[8] = {31, 13, 0xCF, 0x07, 1, 0, 0, 0};
    TextDecoder decoder;
    std::vector<uint64_t> invalid;
    std::string scratch;
    countInvalid(l, good, 8, decoder, invalid, scratch);
    countInvalid(l, bad, 8, decoder, invalid, scratch);
    countInvalid(l, bad, 3, decoder, invalid, scratch); // cut short: both fields
    EXPECT_EQ(invalid, (std::vector<uint64_t> {2, 1}));
}

} // namespace
