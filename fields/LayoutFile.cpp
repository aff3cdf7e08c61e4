#include "LayoutFile.h"

#include "Description.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace fields {

namespace {

namespace exttype = btr::exttype;
using Json = LayoutJson;

constexpr size_t MaxFields = 100000;

// Where in the text a byte offset is, as people count: lines and columns from 1.
std::string lineAndColumn(std::string_view text, size_t offset)
{
    offset = std::min(offset, text.size());
    size_t line = 1;
    size_t column = 1;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

// The reason in a parse error's message, without the library's prefix and without the bytes it
// quotes (which need not be text).
std::string parseReason(const std::string& what)
{
    std::string reason = what;
    const size_t column = reason.find(", column ");
    if (column != std::string::npos) {
        const size_t colon = reason.find(": ", column);
        if (colon != std::string::npos)
            reason = reason.substr(colon + 2);
    }
    const size_t lastRead = reason.find("; last read");
    if (lastRead != std::string::npos)
        reason.resize(lastRead);
    for (char& c : reason) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F)
            c = '?';
    }
    return reason;
}

std::string ordinal(size_t n)
{
    const size_t tens = n % 100;
    const char* suffix = (tens >= 11 && tens <= 13) ? "th"
        : n % 10 == 1                               ? "st"
        : n % 10 == 2                               ? "nd"
        : n % 10 == 3                               ? "rd"
                                                    : "th";
    return std::to_string(n) + suffix;
}

bool wholeNumber(const Json& j, uint64_t low, uint64_t high, uint64_t& value)
{
    if (j.is_number_unsigned()) {
        value = j.get<uint64_t>();
    } else if (j.is_number_integer()) {
        if (j.get<int64_t>() < 0)
            return false;
        value = uint64_t(j.get<int64_t>());
    } else {
        return false;
    }
    return value >= low && value <= high;
}

Source sourceByName(const std::string& name)
{
    for (Source s : {Source::Dictionary, Source::Key, Source::Inferred, Source::LayoutFile}) {
        if (name == sourceName(s))
            return s;
    }
    return Source::LayoutFile;
}

// The lengths a type takes, in words for a refusal; empty when `length` is one of them.
std::string lengthsOf(uint8_t type, uint32_t length)
{
    auto either = [&](std::initializer_list<uint32_t> allowed, const char* words) {
        return std::find(allowed.begin(), allowed.end(), length) == allowed.end() ? words : "";
    };
    auto range = [&](uint32_t low, uint32_t high, const char* words) {
        return length < low || length > high ? words : "";
    };
    switch (type) {
    case exttype::Integer:
        return either({1, 2, 4, 8}, "1, 2, 4 or 8 bytes");
    case exttype::Autoincrement:
        return either({2, 4, 8}, "2, 4 or 8 bytes");
    case exttype::Float:
    case exttype::BFloat:
        return either({4, 8}, "4 or 8 bytes");
    case exttype::Date:
    case exttype::Time:
        return either({4}, "4 bytes");
    case exttype::Timestamp:
    case exttype::Currency:
        return either({8}, "8 bytes");
    case exttype::Guid:
        return either({16}, "16 bytes");
    case exttype::Logical:
        return either({1, 2}, "1 or 2 bytes");
    case exttype::Decimal:
    case exttype::Money:
        return range(1, 32, "1 to 32 bytes");
    case exttype::Numeric:
        return range(1, 64, "1 to 64 bytes");
    case exttype::SignSeparate:
        return range(2, 64, "2 to 64 bytes");
    case exttype::Unsigned:
    case exttype::Bit:
    case exttype::LString:
        return range(1, 256, "1 to 256 bytes");
    case exttype::LVar:
        return range(2, 65535, "at least 2 bytes");
    case exttype::WString:
    case exttype::WZString:
        return length % 2 != 0 ? "an even number of bytes" : "";
    default:
        return "";
    }
}

} // namespace

bool isFillerName(const std::string& name)
{
    constexpr std::string_view Prefix = "filler_";
    if (name.size() <= Prefix.size() || lowerCase(name.substr(0, Prefix.size())) != Prefix)
        return false;
    return std::all_of(name.begin() + long(Prefix.size()), name.end(),
        [](char c) { return c >= '0' && c <= '9'; });
}

bool typeByName(const std::string& name, uint8_t& code)
{
    const std::string wanted = lowerCase(name);
    for (int c = 0; c < 256; ++c) {
        const char* n = spec::typeName(uint8_t(c));
        if (n && wanted == n) {
            code = uint8_t(c);
            return true;
        }
    }
    return false;
}

std::vector<std::string> typeNames()
{
    std::vector<std::string> names;
    for (int c = 0; c < 256; ++c) {
        if (const char* n = spec::typeName(uint8_t(c)))
            names.emplace_back(n);
    }
    names.emplace_back(HexName);
    return names;
}

std::string typeRefusal(const std::string& type)
{
    uint8_t code = 0;
    if (lowerCase(type) == HexName || typeByName(type, code))
        return {};
    return "the type '" + parseReason(type)
        + "' is unknown (known: the type names of description files, such as string, integer, "
          "float, date, decimal, and hex)";
}

std::string nameRefusal(const std::string& name)
{
    if (name.empty())
        return "it has no name";
    if (name.size() > MaxName)
        return "its name is longer than " + std::to_string(MaxName) + " bytes";
    if (std::any_of(
            name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
        return "its name holds a control character";
    return {};
}

std::string lengthRefusal(const std::string& type, uint8_t code, uint32_t length)
{
    const std::string lengths = lengthsOf(code, length);
    if (lengths.empty())
        return {};
    return "type " + type + " takes " + lengths + ", not " + std::to_string(length);
}

std::string extentRefusal(
    uint64_t position, uint64_t length, uint32_t recordLength, bool variableLength)
{
    if (position < 1 || position > MaxPosition)
        return "its position is not a whole number from 1 to " + std::to_string(MaxPosition);
    if (length < 1 || length > 65535)
        return "its length is not a whole number from 1 to 65535";
    if (position - 1 + length > recordLength && !variableLength) {
        return "position " + std::to_string(position) + " and length " + std::to_string(length)
            + " run past the end of the file's " + std::to_string(recordLength) + "-byte records";
    }
    return {};
}

std::string decimalsRefusal(const Field& f, int64_t decimals)
{
    if (decimals < 0 || decimals > 255)
        return "its decimals are not a whole number from 0 to 255";
    if (!f.hex() && f.type.type == exttype::Bit && uint64_t(decimals) >= 8 * uint64_t(f.length)) {
        return "a bit field's decimals are its bit number, and bit " + std::to_string(decimals)
            + " is not in its " + std::to_string(uint64_t(f.length) * 8) + " bits";
    }
    return {};
}

LayoutJson layoutJson(const Layout& layout, const std::string& file, const std::string& encoding)
{
    Json j;
    j["file"] = file;
    j["origin"] = layout.origin;
    if (!encoding.empty())
        j["encoding"] = encoding;
    j["table"] = layout.table.empty() ? Json() : Json(layout.table);
    j["recordLength"] = layout.recordLength;
    j["variableLength"] = layout.variableLength;
    Json list = Json::array();
    for (const Field& f : layout.fields) {
        Json e;
        e["name"] = f.name;
        e["position"] = f.position();
        e["length"] = f.source == Source::VariablePart ? Json() : Json(f.length);
        e["type"] = typeName(f);
        e["decimals"] = f.type.decimals;
        if (!f.hex() && f.type.type == exttype::Integer && f.length == 1 && f.type.signedByte)
            e["signed"] = true;
        e["source"] = sourceName(f.source);
        e["evidence"] = f.evidence.empty() ? Json() : Json(f.evidence);
        list.push_back(std::move(e));
    }
    j["fields"] = std::move(list);
    return j;
}

LayoutRead parseLayout(
    std::string_view text, uint32_t recordLength, bool variableLength, const std::string& origin)
{
    LayoutRead read;
    Json j;
    try {
        j = Json::parse(text.begin(), text.end());
    } catch (const Json::parse_error& e) {
        read.error = "it is not JSON: " + lineAndColumn(text, e.byte > 0 ? e.byte - 1 : 0) + ": "
            + parseReason(e.what());
        return read;
    }
    if (!j.is_object() || !j.contains("fields") || !j["fields"].is_array()) {
        read.error = "it is not a layout: a layout is a JSON object whose member \"fields\" is the "
                     "list of fields, as 'varnok-cli fields --json' writes it";
        return read;
    }
    if (j.contains("recordLength") && !j["recordLength"].is_null()) {
        uint64_t length = 0;
        if (!wholeNumber(j["recordLength"], 0, UINT32_MAX, length)) {
            read.error = "its recordLength is not a whole number";
            return read;
        }
        if (length != recordLength) {
            read.error = "it is a layout for records of " + std::to_string(length)
                + " bytes, and the file's records are " + std::to_string(recordLength)
                + " bytes long";
            return read;
        }
    }
    const Json& list = j["fields"];
    if (list.size() > MaxFields) {
        read.error = "it has " + std::to_string(list.size()) + " fields, more than the "
            + std::to_string(MaxFields) + " a layout may have";
        return read;
    }
    Layout& layout = read.layout;
    layout.recordLength = recordLength;
    layout.variableLength = variableLength;
    layout.origin = origin;
    if (j.contains("table") && j["table"].is_string())
        layout.table = j["table"].get<std::string>();
    std::set<std::string> names;
    std::string variableName;
    size_t number = 0;
    for (const Json& e : list) {
        ++number;
        std::string which = "the " + ordinal(number) + " field";
        auto refuse = [&](const std::string& why) {
            read.error = which + ": " + why;
            read.layout = Layout();
            return read;
        };
        if (!e.is_object())
            return refuse("it is not a JSON object");
        if (!e.contains("name") || !e["name"].is_string() || e["name"].get<std::string>().empty())
            return refuse("it has no name");
        Field f;
        f.name = e["name"].get<std::string>();
        which = "field " + f.name;
        if (const std::string why = nameRefusal(f.name); !why.empty())
            return refuse(why);
        if (!names.insert(lowerCase(f.name)).second)
            return refuse("the name is used by an earlier field (names are compared in any case)");
        if (!e.contains("type") || !e["type"].is_string())
            return refuse("it has no type");
        const std::string type = e["type"].get<std::string>();
        const bool hex = lowerCase(type) == HexName;
        if (!hex && !typeByName(type, f.type.type))
            return refuse(typeRefusal(type));
        uint64_t position = 0;
        if (!e.contains("position") || !wholeNumber(e["position"], 1, MaxPosition, position))
            return refuse(
                "its position is not a whole number from 1 to " + std::to_string(MaxPosition));
        f.offset = uint32_t(position - 1);
        const Json length = e.contains("length") ? e["length"] : Json();
        if (length.is_null()) {
            if (!hex)
                return refuse("it has no length (only the variable part, of type hex, has none)");
            if (!variableLength)
                return refuse("it is a variable part, and the file's records have none");
            if (position != uint64_t(recordLength) + 1)
                return refuse("the variable part begins at position "
                    + std::to_string(uint64_t(recordLength) + 1) + ", after the fixed part");
            if (!variableName.empty())
                return refuse("the layout has a variable part already");
            variableName = f.name;
            continue;
        }
        uint64_t bytes = 0;
        if (!wholeNumber(length, 1, 65535, bytes))
            return refuse("its length is not a whole number from 1 to 65535");
        f.length = uint32_t(bytes);
        if (!hex) {
            if (const std::string why = lengthRefusal(type, f.type.type, f.length); !why.empty())
                return refuse(why);
        } else {
            f.source = Source::Filler;
        }
        if (const std::string why = extentRefusal(position, f.length, recordLength, variableLength);
            !why.empty())
            return refuse(why);
        if (e.contains("decimals") && !e["decimals"].is_null()) {
            uint64_t decimals = 0;
            if (!wholeNumber(e["decimals"], 0, 255, decimals))
                return refuse(decimalsRefusal(f, -1));
            f.type.decimals = uint8_t(decimals);
        }
        if (const std::string why = decimalsRefusal(f, f.type.decimals); !why.empty())
            return refuse(why);
        if (e.contains("signed") && !e["signed"].is_null()) {
            if (!e["signed"].is_boolean())
                return refuse("its signed member is neither true nor false");
            f.type.signedByte = e["signed"].get<bool>();
        }
        if (hex) {
            // Fillers come back from the bytes no field covers.
            if (isFillerName(f.name)) {
                names.erase(lowerCase(f.name));
                continue;
            }
            f.source = Source::Filler;
        } else {
            f.source = e.contains("source") && e["source"].is_string()
                ? sourceByName(e["source"].get<std::string>())
                : Source::LayoutFile;
        }
        if (e.contains("evidence") && e["evidence"].is_string())
            f.evidence = e["evidence"].get<std::string>();
        layout.fields.push_back(std::move(f));
    }
    completeLayout(layout);
    if (!variableName.empty()) {
        for (Field& f : layout.fields) {
            if (f.source == Source::VariablePart && lowerCase(variableName) != lowerCase(f.name)) {
                const bool taken = std::any_of(layout.fields.begin(), layout.fields.end(),
                    [&](const Field& g) { return lowerCase(g.name) == lowerCase(variableName); });
                if (!taken)
                    f.name = variableName;
            }
        }
    }
    return read;
}

} // namespace fields
