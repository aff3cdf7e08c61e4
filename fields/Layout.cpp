#include "Layout.h"

#include "Description.h"
#include "LittleEndian.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace fields {

namespace {

// prefix and n, built by appending: GCC 12 at -O3 reports a false -Wrestrict on a literal +
// std::to_string.
std::string numbered(std::string prefix, uint64_t n)
{
    prefix.append(std::to_string(n));
    return prefix;
}

} // namespace

std::string lowerCase(std::string s)
{
    for (char& c : s)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

const char* sourceName(Source s)
{
    switch (s) {
    case Source::Dictionary:
        return "dictionary";
    case Source::Key:
        return "key";
    case Source::Filler:
        return "filler";
    case Source::VariablePart:
        return "variable";
    }
    return "";
}

std::string typeName(const Field& f)
{
    if (f.hex())
        return "hex";
    if (const char* name = spec::typeName(f.type.type))
        return name;
    return numbered("type ", f.type.type);
}

Column columnOf(const Field& f)
{
    if (f.hex())
        return Column::Blob;
    namespace exttype = btr::exttype;
    switch (f.type.type) {
    case exttype::Integer:
    case exttype::Autoincrement:
    case exttype::Logical:
    case exttype::Bit:
        return Column::Integer;
    case exttype::Unsigned:
        return f.length < 8 ? Column::Integer : Column::Exact;
    case exttype::Float:
    case exttype::BFloat:
        return Column::Real;
    case exttype::Decimal:
    case exttype::Money:
    case exttype::Numeric:
    case exttype::SignSeparate:
    case exttype::Currency:
        return Column::Exact;
    case exttype::String:
    case exttype::Note:
    case exttype::LString:
    case exttype::ZString:
    case exttype::LVar:
    case exttype::WString:
    case exttype::WZString:
    case exttype::Date:
    case exttype::Time:
    case exttype::Timestamp:
    case exttype::Guid:
        return Column::Text;
    default:
        return Column::Blob;
    }
}

void setRecordShape(Layout& layout, const spec::SpecBuffer& stat)
{
    layout.recordLength = btr::le::get16(stat.data() + btr::layout::file::RecordLength);
    layout.variableLength = btr::le::get16(stat.data() + btr::layout::file::FileFlags)
        & btr::fileflag::VariableLength;
}

Layout keyLayout(const spec::SpecBuffer& stat)
{
    Layout layout;
    layout.origin = "keys";
    setRecordShape(layout, stat);
    const spec::Layout keys = stat.readLayout();
    int segmentOfKey = 0;
    for (int k = 0; k < keys.entryCount; ++k) {
        const spec::KeySegmentSpec s = stat.segment(k);
        const int key = keys.keyOfEntry[size_t(k)];
        const bool first = k == 0 || keys.keyOfEntry[size_t(k - 1)] != key;
        segmentOfKey = first ? 1 : segmentOfKey + 1;
        const bool alone = !(s.KeyFlags & btr::keyflag::Segmented) && first;
        Field f;
        f.name = numbered("key", uint64_t(key));
        if (!alone)
            f.name += numbered("_", uint64_t(segmentOfKey));
        f.offset = uint32_t(std::max<int>(s.Position, 1) - 1);
        f.length = uint16_t(s.Length);
        f.source = Source::Key;
        if (s.KeyFlags & btr::keyflag::ExtendedType)
            f.type.type = s.ExtendedType;
        else
            f.type.type = (s.KeyFlags & btr::keyflag::Binary) ? btr::exttype::Unsigned
                                                              : btr::exttype::String;
        if (f.type.type == btr::exttype::Money)
            f.type.decimals = 2;
        const bool repeated
            = std::any_of(layout.fields.begin(), layout.fields.end(), [&f](const Field& g) {
                  return g.offset == f.offset && g.length == f.length && g.type.type == f.type.type;
              });
        if (!repeated)
            layout.fields.push_back(std::move(f));
    }
    completeLayout(layout);
    return layout;
}

void completeLayout(Layout& layout)
{
    std::stable_sort(layout.fields.begin(), layout.fields.end(),
        [](const Field& a, const Field& b) { return a.offset < b.offset; });
    std::set<std::string> used;
    for (Field& f : layout.fields) {
        if (f.name.empty())
            f.name = numbered("field_", f.position());
        std::string name = f.name;
        for (int n = 2; !used.insert(foldCase(name)).second; ++n)
            name = f.name + numbered("_", uint64_t(n));
        f.name = name;
        if (f.offset + uint64_t(f.length) > layout.recordLength) {
            layout.notes.push_back(std::string("Field ") + f.name
                + numbered(" (position ", f.position()) + numbered(", length ", f.length)
                + ") runs past the record's " + std::to_string(layout.recordLength)
                + " bytes: where a record is shorter, its bytes are written as hex.");
        }
        if (!f.hex() && !spec::typeName(f.type.type)) {
            layout.notes.push_back(std::string("Field ") + f.name
                + numbered(" has type ", f.type.type)
                + ", which Varnok does not know: its bytes are written as hex.");
        }
    }
    // Fillers for every run of the fixed part no field covers.
    std::vector<bool> covered(layout.recordLength, false);
    for (const Field& f : layout.fields) {
        const uint64_t end = std::min<uint64_t>(f.offset + uint64_t(f.length), layout.recordLength);
        for (uint64_t i = f.offset; i < end; ++i)
            covered[size_t(i)] = true;
    }
    std::vector<Field> fillers;
    for (uint32_t i = 0; i < layout.recordLength;) {
        if (covered[i]) {
            ++i;
            continue;
        }
        uint32_t end = i;
        while (end < layout.recordLength && !covered[end])
            ++end;
        Field f;
        f.name = numbered("filler_", i + 1);
        f.offset = i;
        f.length = end - i;
        f.source = Source::Filler;
        fillers.push_back(std::move(f));
        i = end;
    }
    for (Field& f : fillers) {
        std::string name = f.name;
        for (int n = 2; !used.insert(foldCase(name)).second; ++n)
            name = f.name + numbered("_", uint64_t(n));
        f.name = name;
        layout.fields.push_back(std::move(f));
    }
    std::stable_sort(layout.fields.begin(), layout.fields.end(),
        [](const Field& a, const Field& b) { return a.offset < b.offset; });
    if (layout.variableLength) {
        Field f;
        f.name = "variable_part";
        for (int n = 2; !used.insert(foldCase(f.name)).second; ++n)
            f.name = numbered("variable_part_", uint64_t(n));
        f.offset = layout.recordLength;
        f.length = 0;
        f.source = Source::VariablePart;
        layout.fields.push_back(std::move(f));
    }
}

Kind appendField(
    const Field& f, const uint8_t* record, size_t length, TextDecoder& decoder, std::string& out)
{
    if (f.source == Source::VariablePart) {
        if (length > f.offset)
            appendHex(record + f.offset, length - f.offset, out);
        return Kind::Bytes;
    }
    if (f.offset + size_t(f.length) > length) {
        const size_t present = length > f.offset ? length - f.offset : 0;
        return appendInvalid(record + std::min<size_t>(f.offset, length), present, out);
    }
    if (f.source == Source::Filler) {
        appendHex(record + f.offset, f.length, out);
        return Kind::Bytes;
    }
    return appendValue(f.type, record + f.offset, f.length, decoder, out);
}

} // namespace fields
