// The layout-file reader against any text, and inference against any records. The input's first
// byte chooses: 'L' a layout file (then the record length, 16 bits, a byte whose low bit says
// variable-length, and the text), 'I' records to infer from (then the record length, 16 bits, and
// the records, each that long but the last), 'E' edits a person makes in the layout editor (then
// the record length, 16 bits, a byte whose low bit says variable-length, and 8 bytes an edit). A
// layout read must cover every byte of the fixed part, name each field once in any case, and
// write back to itself; a refused one leaves nothing. An inferred layout must cover every byte of
// the fixed part exactly once and write back to itself as well. After every edit taken the layout
// holds the same, and an edit refused leaves it exactly as it was.
#include "FuzzSupport.h"
#include "Inference.h"
#include "LayoutEdit.h"
#include "LayoutFile.h"
#include "LittleEndian.h"

#include <set>

namespace {

constexpr uint8_t LayoutMark = 'L';
constexpr uint8_t RecordsMark = 'I';
constexpr uint8_t EditsMark = 'E';
constexpr size_t EditSize = 8;
constexpr size_t MostEdits = 200;
constexpr uint32_t MostRecordLength = 4096;
constexpr size_t MostRecords = 2000;

fuzz::Bytes header(uint8_t mark, uint16_t recordLength, uint8_t variable = 0)
{
    fuzz::Bytes b {mark, 0, 0};
    btr::le::put16(b.data() + 1, recordLength);
    if (mark == LayoutMark || mark == EditsMark)
        b.push_back(variable);
    return b;
}

std::string describe(const fields::Field& f)
{
    return f.name + "@" + std::to_string(f.offset) + "+" + std::to_string(f.length) + ":"
        + std::to_string(f.type.type) + "/" + std::to_string(f.type.decimals) + "/"
        + std::to_string(f.type.signedByte) + "/" + fields::sourceName(f.source) + "/" + f.evidence;
}

void checkLayout(const fields::Layout& layout, bool exactlyOnce)
{
    std::vector<int> cover(layout.recordLength, 0);
    std::set<std::string> names;
    for (const fields::Field& f : layout.fields) {
        if (!names.insert(fields::lowerCase(f.name)).second)
            fuzz::fail("a name used twice: " + f.name);
        for (uint64_t i = f.offset; i < uint64_t(f.offset) + f.length && i < layout.recordLength;
             ++i)
            ++cover[size_t(i)];
    }
    for (uint32_t i = 0; i < layout.recordLength; ++i) {
        if (cover[i] == 0 || (exactlyOnce && cover[i] != 1))
            fuzz::fail(
                "byte " + std::to_string(i) + " covered " + std::to_string(cover[i]) + " times");
    }
    // What is written reads back as the same layout.
    const std::string text = fields::layoutJson(layout, "F").dump();
    const fields::LayoutRead again
        = fields::parseLayout(text, layout.recordLength, layout.variableLength, "again");
    if (!again.ok())
        fuzz::fail("a written layout is refused: " + again.error + "\n" + text);
    if (again.layout.fields.size() != layout.fields.size())
        fuzz::fail("a written layout reads back with other fields:\n" + text);
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        if (describe(again.layout.fields[i]) != describe(layout.fields[i]))
            fuzz::fail("field " + describe(layout.fields[i]) + " reads back as "
                + describe(again.layout.fields[i]));
    }
}

// One edit from 8 bytes: what (define, change, rename, remove), which field, where, how long,
// which type, what decimals and which name.
void applyEdit(fields::Layout& layout, const uint8_t* e, const std::vector<std::string>& types)
{
    static const char* const Names[]
        = {"a", "A", "b", "filler_1", "variable_part", "", "größe", "GRÖßE", "x\ty", "id"};
    const size_t index = layout.fields.empty() ? 0 : e[1] % (layout.fields.size() + 1);
    fields::FieldForm form;
    form.offset = int64_t(e[2]) - 2;
    form.length = int64_t(e[3]) - 1;
    form.type = types[e[4] % types.size()];
    form.decimals = int64_t(e[5] & 0x1F) - 1;
    form.signedByte = e[5] & 0x80;
    form.name = Names[e[6] % std::size(Names)];
    if (e[7] & 1)
        form.offset += 250; // past a short record's end
    const std::string before = fields::layoutJson(layout, "F").dump();
    fields::EditResult r;
    switch (e[0] % 4) {
    case 0:
        r = fields::defineField(layout, form);
        break;
    case 1:
        r = fields::changeField(layout, index, form);
        break;
    case 2:
        r = fields::renameField(layout, index, form.name);
        break;
    default:
        r = fields::removeField(layout, index);
        break;
    }
    if (!r.ok()) {
        if (fields::layoutJson(layout, "F").dump() != before)
            fuzz::fail("a refused edit changed the layout: " + r.why);
        return;
    }
    if (r.index != fields::EditResult::npos && r.index >= layout.fields.size())
        fuzz::fail("an edit points past the fields");
    checkLayout(layout, false);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, [](const fuzz::SeedSink& sink) {
        auto text = [&](const std::string& name, uint16_t length, uint8_t variable,
                        const std::string& json) {
            fuzz::Bytes b = header(LayoutMark, length, variable);
            b.insert(b.end(), json.begin(), json.end());
            sink(name, b);
        };
        text("edited", 40, 0,
            R"({"file": "A.BTR", "recordLength": 40, "fields": [
            {"name": "Id", "position": 1, "length": 4, "type": "integer", "source": "key"},
            {"name": "Name", "position": 5, "length": 16, "type": "zstring"},
            {"name": "Initial", "position": 5, "length": 1, "type": "string"},
            {"name": "filler_21", "position": 21, "length": 4, "type": "hex"},
            {"name": "Price", "position": 25, "length": 6, "type": "decimal", "decimals": 2},
            {"name": "Flag", "position": 31, "length": 1, "type": "bit", "decimals": 7},
            {"name": "Small", "position": 32, "length": 1, "type": "integer", "signed": true},
            {"name": "When", "position": 33, "length": 8, "type": "timestamp",
             "evidence": "valid in 3 of 3 records"}]})");
        text("variable", 10, 1,
            R"({"fields": [{"name": "memo", "position": 11, "length": 30, "type": "note"},
            {"name": "rest", "position": 11, "length": null, "type": "hex"}]})");
        fuzz::Bytes edits = header(EditsMark, 24, 1);
        const uint8_t script[][EditSize] = {{0, 0, 6, 5, 1, 1, 0, 0}, {0, 0, 2, 5, 4, 1, 1, 0},
            {1, 1, 12, 9, 0, 3, 2, 0}, {2, 2, 0, 0, 0, 0, 4, 0}, {3, 1, 0, 0, 0, 0, 0, 0},
            {0, 0, 20, 17, 14, 9, 6, 0}, {0, 0, 20, 2, 14, 9, 7, 0}, {3, 9, 0, 0, 0, 0, 0, 0}};
        for (const auto& e : script)
            edits.insert(edits.end(), e, e + EditSize);
        sink("edits", edits);
        text("refused", 8, 0,
            R"({"fields": [{"name": "a", "position": 7, "length": 4, "type": "float"}]})");
        // Inferred layouts of records of every kind, as text, and the records themselves.
        fuzz::Bytes records = header(RecordsMark, 24);
        fields::RecordSample sample(24);
        for (uint32_t r = 0; r < 40; ++r) {
            uint8_t rec[24] = {};
            btr::le::put32(rec, r + 1);
            const std::string name = r % 3 ? "Smith" : "Jones & Co";
            std::copy(name.begin(), name.end(), rec + 4);
            rec[16] = uint8_t(1 + r % 28);
            rec[17] = uint8_t(1 + r % 12);
            btr::le::put16(rec + 18, uint16_t(1980 + r));
            btr::le::put32(rec + 20, r * 1000);
            records.insert(records.end(), rec, rec + sizeof rec);
            sample.add(rec, sizeof rec);
        }
        sink("records", records);
        fields::Layout known;
        known.recordLength = 24;
        fields::completeLayout(known);
        fields::TextDecoder decoder;
        text("inferred", 24, 0,
            fields::layoutJson(fields::inferLayout(known, sample, decoder), "A.BTR").dump(1));
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3)
        return 0;
    const uint32_t recordLength = btr::le::get16(data + 1) % (MostRecordLength + 1);
    if (data[0] == RecordsMark) {
        fields::RecordSample sample(recordLength);
        const size_t step = std::max<size_t>(recordLength, 1);
        for (size_t at = 3; at < size && sample.size() < MostRecords; at += step)
            sample.add(data + at, std::min(step, size - at));
        fields::Layout known;
        known.recordLength = recordLength;
        fields::completeLayout(known);
        fields::TextDecoder decoder;
        const fields::Layout inferred = fields::inferLayout(known, sample, decoder);
        checkLayout(inferred, true);
        return 0;
    }
    if (data[0] == EditsMark && size >= 4) {
        fields::Layout layout;
        layout.recordLength = recordLength % 512;
        layout.variableLength = data[3] & 1;
        fields::completeLayout(layout);
        const std::vector<std::string> types = fields::typeNames();
        for (size_t at = 4, n = 0; at + EditSize <= size && n < MostEdits; at += EditSize, ++n)
            applyEdit(layout, data + at, types);
        return 0;
    }
    if (data[0] != LayoutMark || size < 4)
        return 0;
    const bool variable = data[3] & 1;
    const std::string_view text(reinterpret_cast<const char*>(data + 4), size - 4);
    const fields::LayoutRead read = fields::parseLayout(text, recordLength, variable, "fuzz");
    if (!read.ok()) {
        if (!read.layout.fields.empty())
            fuzz::fail("a refused layout left fields");
        return 0;
    }
    checkLayout(read.layout, false);
    return 0;
}
