#include "DefinitionSeeds.h"

#include "DefinitionImage.h"
#include "DefinitionLayout.h"

namespace fuzz {

namespace {

using testsupport::DefinitionImage;
using testsupport::SegmentEntry;
namespace keyflag = btr::keyflag;
namespace fileflag = btr::fileflag;
namespace exttype = btr::exttype;

constexpr uint16_t Ext = keyflag::ExtendedType;

SegmentEntry segment(uint16_t position, uint16_t length, uint16_t flags, uint8_t type)
{
    SegmentEntry s;
    s.position = position;
    s.length = length;
    s.flags = flags;
    s.extType = type;
    return s;
}

Bytes upperCaseTable()
{
    Bytes table(256);
    for (int c = 0; c < 256; ++c)
        table[size_t(c)] = uint8_t(c >= 'a' && c <= 'z' ? c - 32 : c);
    return table;
}

} // namespace

std::vector<std::pair<std::string, Bytes>> definitionSeeds()
{
    std::vector<std::pair<std::string, Bytes>> seeds;
    auto add = [&](const std::string& name, const DefinitionImage& image) {
        DefinitionImage cut = image;
        // The image as far as its definition goes, as a program passes it.
        cut.length = btr::layout::HeaderSize + btr::layout::SegmentSize * cut.segments.size()
            + btr::layout::AcsBlockSize * cut.blocks.size();
        seeds.emplace_back(name, cut.bytes());
    };

    DefinitionImage integer;
    integer.recordLength = 40;
    integer.pageSize = 512;
    integer.addKey({segment(1, 4, Ext, exttype::Integer)});
    add("integer-key", integer);

    DefinitionImage strings;
    strings.recordLength = 80;
    strings.pageSize = 1024;
    strings.addKey(
        {segment(1, 10, keyflag::Modifiable, 0), segment(11, 6, keyflag::Duplicates, 0)});
    strings.addKey({segment(20, 12, Ext | keyflag::Duplicates, exttype::ZString)});
    strings.addKey(
        {segment(40, 8, Ext | keyflag::Descending | keyflag::CaseInsensitive, exttype::String)});
    add("string-keys", strings);

    DefinitionImage acs;
    acs.recordLength = 64;
    acs.pageSize = 2048;
    acs.addKey({segment(1, 20, Ext | keyflag::Acs | keyflag::Duplicates, exttype::String)});
    acs.blocks.push_back(testsupport::acsBlock("UPPER", upperCaseTable()));
    add("collating-sequence", acs);

    DefinitionImage variable;
    variable.recordLength = 30;
    variable.pageSize = 4096;
    variable.fileFlags = fileflag::VariableLength | fileflag::BlankTruncation;
    variable.addKey({segment(1, 4, Ext, exttype::Autoincrement)});
    variable.addKey({segment(5, 8, Ext | keyflag::Duplicates, exttype::Float)});
    add("variable-autoincrement", variable);

    DefinitionImage nulls;
    nulls.recordLength = 50;
    nulls.pageSize = 512;
    SegmentEntry first = segment(1, 10, Ext | keyflag::NullAll | keyflag::Duplicates, 0);
    first.nullValue = ' ';
    SegmentEntry second
        = segment(11, 4, Ext | keyflag::NullAll | keyflag::Duplicates, exttype::Unsigned);
    nulls.addKey({first, second});
    nulls.addKey({segment(
        20, 6, Ext | keyflag::Duplicates | keyflag::RepeatingDuplicates, exttype::Decimal)});
    add("null-keys", nulls);

    DefinitionImage types;
    types.recordLength = 120;
    types.pageSize = 4096;
    const std::pair<uint8_t, uint16_t> typed[] = {{exttype::Date, 4}, {exttype::Time, 4},
        {exttype::Money, 8}, {exttype::Logical, 2}, {exttype::Numeric, 6}, {exttype::BFloat, 8},
        {exttype::LString, 10}, {exttype::SignSeparate, 5}};
    uint16_t at = 1;
    for (const auto& [type, length] : typed) {
        types.addKey({segment(at, length, Ext | keyflag::Duplicates, type)});
        at = uint16_t(at + length);
    }
    add("every-key-type", types);

    DefinitionImage noKeys;
    noKeys.recordLength = 100;
    noKeys.pageSize = 1024;
    add("no-keys", noKeys);
    return seeds;
}

} // namespace fuzz
