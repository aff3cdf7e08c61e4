#include "DefinitionText.h"

#include "LittleEndian.h"

#include <fmt/core.h>

#include <algorithm>

namespace exporting {

namespace {

namespace lay = btr::layout;

uint16_t u16(const spec::SpecBuffer& b, int offset)
{
    return btr::le::get16(b.data() + offset);
}

uint32_t u32(const spec::SpecBuffer& b, int offset)
{
    return btr::le::get32(b.data() + offset);
}

// The names of the bits set in `flags`, as the window's check boxes caption them; a bit without a
// box by its value.
template <size_t N>
std::vector<std::string> flagNames(uint16_t flags, const std::array<spec::FlagBit, N>& bits)
{
    std::vector<std::string> names;
    for (int bit = 0; bit < 16; ++bit) {
        const auto value = static_cast<uint16_t>(1U << bit);
        if (!(flags & value))
            continue;
        const auto known = std::find_if(
            bits.begin(), bits.end(), [value](const spec::FlagBit& b) { return b.value == value; });
        names.push_back(known != bits.end() ? known->caption : fmt::format("0x{:04X}", value));
    }
    return names;
}

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& w : words)
        text += (text.empty() ? "" : " ") + w;
    return text;
}

// A segment's type: its extended type by the window's name for it, or, without the extended-type
// flag, the old binary or string type.
std::string typeName(uint16_t keyFlags, uint8_t extType)
{
    if (!(keyFlags & btr::keyflag::ExtendedType))
        return (keyFlags & btr::keyflag::Binary) ? "Binary" : "String";
    const int item = spec::comboIndexForCode(extType);
    if (item >= 0)
        return spec::ExtTypes[size_t(item)].text;
    return fmt::format("type {}", extType);
}

struct SegmentFacts
{
    int key = 0;
    int segment = 0; // from 1 within its key
    uint16_t position = 0;
    uint16_t length = 0;
    uint16_t flags = 0;
    uint32_t values = 0;
    uint8_t extType = 0;
    uint8_t nullValue = 0;
    uint16_t reserved = 0;
    uint8_t manualKeyNumber = 0;
    uint8_t acsNumber = 0;
};

std::vector<SegmentFacts> segments(const spec::SpecBuffer& b, const spec::Layout& layout)
{
    std::vector<SegmentFacts> out;
    int previousKey = -1;
    int segment = 0;
    for (int k = 0; k < layout.entryCount; ++k) {
        const int at = spec::SpecBuffer::segmentOffset(k);
        SegmentFacts s;
        s.key = layout.keyOfEntry[size_t(k)];
        segment = s.key == previousKey ? segment + 1 : 1;
        previousKey = s.key;
        s.segment = segment;
        s.position = u16(b, at + lay::segment::Position);
        s.length = u16(b, at + lay::segment::Length);
        s.flags = u16(b, at + lay::segment::KeyFlags);
        s.values = u32(b, at + lay::segment::NumKeyValues);
        s.extType = b.bytes[size_t(at + lay::segment::ExtendedType)];
        s.nullValue = b.bytes[size_t(at + lay::segment::NullValue)];
        s.reserved = u16(b, at + lay::segment::Reserved);
        s.manualKeyNumber = b.bytes[size_t(at + lay::segment::ManualKeyNumber)];
        s.acsNumber = b.bytes[size_t(at + lay::segment::AcsNumber)];
        out.push_back(s);
    }
    return out;
}

std::string acsNameOf(
    const SegmentFacts& s, const std::vector<spec::AcsBlock>& blocks, fields::TextDecoder& names)
{
    if (!(s.flags & btr::keyflag::Acs))
        return {};
    if (s.acsNumber < blocks.size())
        return names.name(blocks[s.acsNumber].Name);
    return fmt::format("#{} (missing)", s.acsNumber);
}

std::string hex(const uint8_t* p, size_t n)
{
    std::string text;
    text.reserve(2 * n);
    for (size_t i = 0; i < n; ++i)
        text += fmt::format("{:02x}", p[i]);
    return text;
}

struct FormatFacts
{
    uint8_t family = 0;
    uint16_t version = 0;
    uint16_t features = 0;
    uint8_t ownerMode = btr::facts::NoOwner;
    uint8_t cipher = 0;
};

FormatFacts readFacts(const uint8_t (&facts)[btr::facts::Size])
{
    namespace at = btr::facts::at;
    return {facts[at::Family], btr::le::get16(facts + at::FormatVersion),
        btr::le::get16(facts + at::Features), facts[at::OwnerMode], facts[at::Cipher]};
}

// The features a file uses, by name, in the order the facts' bits give them.
std::vector<std::string> featureNames(const FormatFacts& f)
{
    namespace fx = btr::facts;
    std::vector<std::string> names;
    if (f.features & fx::Compressed)
        names.push_back("compressed");
    if (f.features & fx::OwnerName)
        names.push_back("owner name");
    if (f.features & fx::Encrypted)
        names.push_back("encrypted");
    if (f.features & fx::SystemData)
        names.push_back("system data");
    if (f.features & fx::VariableTail)
        names.push_back("variable-tail tables");
    if (f.features & fx::VariableLength)
        names.push_back("variable-length");
    return names;
}

const char* familyKey(uint8_t family)
{
    switch (family) {
    case btr::facts::OwnFormat:
        return "varnok";
    case btr::facts::V5:
        return "5.x";
    case btr::facts::V6:
        return "6.x";
    case btr::facts::V8:
        return "8.x-9.0";
    case btr::facts::V95:
        return "9.5";
    default:
        return "unknown";
    }
}

} // namespace

std::string formatText(const uint8_t (&facts)[btr::facts::Size])
{
    const FormatFacts f = readFacts(facts);
    std::string format = btr::facts::versionName(f.family, f.version);
    format += f.family == btr::facts::OwnFormat ? " (an SQLite database)"
                                                : " (written by the vendor's engine)";
    std::string features;
    for (const std::string& name : featureNames(f)) {
        features += (features.empty() ? "" : ", ") + name;
        if (name == "owner name")
            features += std::string(" (") + btr::facts::ownerModeText(f.ownerMode) + ")";
        if (name == "encrypted" && f.cipher != 0)
            features += fmt::format(" (rule {})", f.cipher);
    }
    return fmt::format("  {:<21}{}\n  {:<21}{}\n", "Format", format, "Features",
        features.empty() ? "none" : features);
}

nlohmann::ordered_json formatJson(const uint8_t (&facts)[btr::facts::Size])
{
    using json = nlohmann::ordered_json;
    const FormatFacts f = readFacts(facts);
    json j;
    j["family"] = familyKey(f.family);
    j["version"] = btr::facts::versionName(f.family, f.version);
    j["version_word"] = f.version;
    j["features"] = featureNames(f);
    if (f.features & btr::facts::OwnerName) {
        j["owner"]
            = {{"access_mode", f.ownerMode}, {"access", btr::facts::ownerModeText(f.ownerMode)}};
    } else {
        j["owner"] = json();
    }
    j["encryption_rule"] = f.cipher != 0 ? json(f.cipher) : json();
    return j;
}

std::vector<spec::AcsBlock> acsBlocks(const spec::SpecBuffer& image, const spec::Layout& layout)
{
    std::vector<spec::AcsBlock> blocks;
    for (int n = 0; n < layout.acsBlockCount; ++n) {
        std::optional<spec::AcsBlock> block = image.acs(layout.entryCount, n);
        if (!block)
            break;
        blocks.push_back(std::move(*block));
    }
    return blocks;
}

std::string definitionText(
    const std::string& name, const spec::SpecBuffer& b, fields::TextDecoder& names)
{
    const spec::Layout layout = b.readLayout();
    const std::vector<spec::AcsBlock> blocks = acsBlocks(b, layout);
    const uint16_t fileFlags = u16(b, lay::file::FileFlags);
    std::string text = fields::validUtf8(name) + "\n";
    const auto line = [&text](const char* label, const std::string& value) {
        text += fmt::format("  {:<21}{}\n", label, value);
    };
    line("Record length", std::to_string(u16(b, lay::file::RecordLength)));
    line("Page size", std::to_string(u16(b, lay::file::PageSize)));
    line("Records", std::to_string(u32(b, lay::file::NumRecords)));
    line("Keys", std::to_string(u16(b, lay::file::NumIndexes)));
    line("Segments", std::to_string(layout.entryCount));
    line("Unused pages", std::to_string(u16(b, lay::file::UnusedPages)));
    const std::string fileFlagText = joined(flagNames(fileFlags, spec::FileFlagBits));
    line("File flags",
        fmt::format("0x{:04X}{}{}", fileFlags, fileFlagText.empty() ? "" : " ", fileFlagText));
    line("Duplicate pointers", std::to_string(b.bytes[lay::file::DuplicatePointers]));
    line("Reserved", std::to_string(b.bytes[lay::file::Reserved]));
    std::string sequences;
    for (const spec::AcsBlock& block : blocks)
        sequences += (sequences.empty() ? "" : ", ") + names.name(block.Name);
    line("Collating sequences", sequences.empty() ? "none" : sequences);

    const std::vector<SegmentFacts> all = segments(b, layout);
    if (all.empty())
        return text;
    text += fmt::format("  {:>3} {:>3} {:>8} {:>6}  {:<14}{:>10}  {:<4}  {:<8}  {}\n", "Key", "Seg",
        "Position", "Length", "Type", "Values", "Null", "ACS", "Flags");
    for (const SegmentFacts& s : all) {
        const std::string flagText = joined(flagNames(s.flags, spec::KeyFlagBits));
        std::string extra;
        if (fileFlags & btr::fileflag::KeyNumbersGiven)
            extra += fmt::format(" (key number {})", s.manualKeyNumber);
        if (s.reserved != 0)
            extra += fmt::format(" (reserved {})", s.reserved);
        text += fmt::format(
            "  {:>3} {:>3} {:>8} {:>6}  {:<14}{:>10}  0x{:02X}  {:<8}  0x{:04X} {}{}\n", s.key,
            s.segment, s.position, s.length, typeName(s.flags, s.extType), s.values, s.nullValue,
            acsNameOf(s, blocks, names), s.flags, flagText, extra);
    }
    return text;
}

nlohmann::ordered_json definitionJson(
    const std::string& name, const spec::SpecBuffer& b, fields::TextDecoder& names)
{
    using json = nlohmann::ordered_json;
    const spec::Layout layout = b.readLayout();
    const std::vector<spec::AcsBlock> blocks = acsBlocks(b, layout);
    const uint16_t fileFlags = u16(b, lay::file::FileFlags);
    json j;
    j["file"] = fields::validUtf8(name);
    j["record_length"] = u16(b, lay::file::RecordLength);
    j["page_size"] = u16(b, lay::file::PageSize);
    j["records"] = u32(b, lay::file::NumRecords);
    j["keys_count"] = u16(b, lay::file::NumIndexes);
    j["unused_pages"] = u16(b, lay::file::UnusedPages);
    j["file_flags"] = fileFlags;
    j["file_flag_names"] = flagNames(fileFlags, spec::FileFlagBits);
    j["duplicate_pointers"] = b.bytes[lay::file::DuplicatePointers];
    j["reserved"] = b.bytes[lay::file::Reserved];

    json keys = json::array();
    for (const SegmentFacts& s : segments(b, layout)) {
        if (s.segment == 1) {
            json key;
            key["key"] = s.key;
            if (fileFlags & btr::fileflag::KeyNumbersGiven)
                key["key_number"] = s.manualKeyNumber;
            else
                key["key_number"] = s.key;
            key["values"] = s.values;
            key["segments"] = json::array();
            keys.push_back(std::move(key));
        }
        json seg;
        seg["position"] = s.position;
        seg["length"] = s.length;
        seg["key_flags"] = s.flags;
        seg["key_flag_names"] = flagNames(s.flags, spec::KeyFlagBits);
        seg["extended_type"] = s.extType;
        seg["type"] = typeName(s.flags, s.extType);
        seg["null_value"] = s.nullValue;
        seg["values"] = s.values;
        seg["reserved"] = s.reserved;
        seg["manual_key_number"] = s.manualKeyNumber;
        seg["acs_number"] = s.acsNumber;
        if (s.flags & btr::keyflag::Acs)
            seg["collating_sequence"] = acsNameOf(s, blocks, names);
        keys.back()["segments"].push_back(std::move(seg));
    }
    j["keys"] = std::move(keys);

    json sequences = json::array();
    for (size_t n = 0; n < blocks.size(); ++n) {
        json seq;
        seq["number"] = n;
        seq["name"] = names.name(blocks[n].Name);
        seq["signature"] = blocks[n].Signature;
        seq["table"] = hex(blocks[n].Table.data(), blocks[n].Table.size());
        sequences.push_back(std::move(seq));
    }
    j["collating_sequences"] = std::move(sequences);
    return j;
}

} // namespace exporting
