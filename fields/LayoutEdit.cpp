#include "LayoutEdit.h"

#include "CopyRecords.h"
#include "LayoutFile.h"
#include "WinBtr.h"

#include <algorithm>

namespace fields {

namespace {

// The form as a field, or why it cannot be one. The name is checked by the caller, which knows
// which field may already carry it.
std::string fieldOf(const Layout& layout, const FieldForm& form, Field& f)
{
    const std::string typeWhy = typeRefusal(form.type);
    if (!typeWhy.empty())
        return typeWhy;
    const bool hex = lowerCase(form.type) == HexName;
    const uint64_t position = form.offset < 0 ? 0 : uint64_t(form.offset) + 1;
    const uint64_t length = form.length < 0 ? 0 : uint64_t(form.length);
    const std::string extentWhy
        = extentRefusal(position, length, layout.recordLength, layout.variableLength);
    if (!extentWhy.empty())
        return extentWhy;
    f.offset = uint32_t(position - 1);
    f.length = uint32_t(length);
    f.type = ValueType();
    if (hex) {
        f.source = Source::Filler;
    } else {
        typeByName(form.type, f.type.type);
        f.source = Source::LayoutFile;
        const std::string lengthWhy = lengthRefusal(form.type, f.type.type, f.length);
        if (!lengthWhy.empty())
            return lengthWhy;
    }
    const std::string decimalsWhy = decimalsRefusal(f, form.decimals);
    if (!decimalsWhy.empty())
        return decimalsWhy;
    f.type.decimals = uint8_t(form.decimals);
    f.type.signedByte
        = !hex && f.type.type == btr::exttype::Integer && f.length == 1 && form.signedByte;
    f.evidence.clear();
    if (hex && isFillerName(f.name)) {
        return "a hex field named filler_<N> is taken for bytes no field covers and made afresh: "
               "give it another name";
    }
    return {};
}

// Why `name` cannot be given to a field other than `except` (an index, or npos).
std::string nameWhy(const Layout& layout, const std::string& name, size_t except)
{
    const std::string why = nameRefusal(name);
    if (!why.empty())
        return why;
    const std::string folded = foldCase(name);
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        const Field& g = layout.fields[i];
        if (i != except && !generatedField(g) && foldCase(g.name) == folded)
            return "the name is used by another field (names are compared in any case)";
    }
    return {};
}

size_t indexOf(const Layout& layout, const std::string& name)
{
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        if (layout.fields[i].name == name)
            return i;
    }
    return EditResult::npos;
}

EditResult refused(std::string why)
{
    EditResult r;
    r.why = std::move(why);
    return r;
}

// The layout after the edit `edited` (a copy), taken only when it holds.
EditResult commit(Layout& layout, Layout& edited, const std::string& name)
{
    refill(edited);
    layout = std::move(edited);
    EditResult r;
    r.index = name.empty() ? EditResult::npos : indexOf(layout, name);
    return r;
}

} // namespace

bool generatedField(const Field& f)
{
    return f.source == Source::VariablePart || (f.source == Source::Filler && isFillerName(f.name));
}

FieldForm formOf(const Field& f)
{
    FieldForm form;
    form.name = f.name;
    form.offset = f.offset;
    form.length = f.length;
    form.type = typeName(f);
    form.decimals = f.type.decimals;
    form.signedByte = f.type.signedByte;
    return form;
}

EditResult defineField(Layout& layout, const FieldForm& form)
{
    const std::string why = nameWhy(layout, form.name, EditResult::npos);
    if (!why.empty())
        return refused(why);
    Field f;
    f.name = form.name;
    const std::string fieldWhy = fieldOf(layout, form, f);
    if (!fieldWhy.empty())
        return refused(fieldWhy);
    Layout edited = layout;
    edited.fields.push_back(std::move(f));
    return commit(layout, edited, form.name);
}

EditResult changeField(Layout& layout, size_t index, const FieldForm& form)
{
    if (index >= layout.fields.size())
        return refused("there is no such field");
    const Field& old = layout.fields[index];
    if (old.source == Source::VariablePart) {
        return refused("the variable part is whatever follows the fixed part of each record: "
                       "define fields over its bytes instead");
    }
    Field f;
    f.name = old.name;
    const std::string why = fieldOf(layout, form, f);
    if (!why.empty())
        return refused(why);
    // The same bytes read the same way: where the field came from still holds.
    if (f.offset == old.offset && f.length == old.length && typeName(f) == typeName(old)
        && f.type.decimals == old.type.decimals && f.type.signedByte == old.type.signedByte) {
        EditResult r;
        r.index = index;
        return r;
    }
    const std::string name = old.name;
    Layout edited = layout;
    edited.fields[index] = std::move(f);
    return commit(layout, edited, name);
}

EditResult renameField(Layout& layout, size_t index, const std::string& name)
{
    if (index >= layout.fields.size())
        return refused("there is no such field");
    const Field& f = layout.fields[index];
    const std::string why = nameWhy(layout, name, index);
    if (!why.empty())
        return refused(why);
    if (f.hex() && f.source != Source::VariablePart && isFillerName(name)) {
        return refused("a hex field named filler_<N> is taken for bytes no field covers and made "
                       "afresh: give it another name");
    }
    Layout edited = layout;
    edited.fields[index].name = name;
    return commit(layout, edited, name);
}

EditResult removeField(Layout& layout, size_t index)
{
    if (index >= layout.fields.size())
        return refused("there is no such field");
    const Field& f = layout.fields[index];
    if (f.source == Source::VariablePart)
        return refused("the variable part holds whatever follows the fixed part: it stays");
    if (generatedField(f)) {
        return refused("a filler holds the bytes no field covers: it goes when a field covers "
                       "them");
    }
    Layout edited = layout;
    edited.fields.erase(edited.fields.begin() + long(index));
    return commit(layout, edited, {});
}

void refill(Layout& layout)
{
    std::string variableName;
    for (const Field& f : layout.fields) {
        if (f.source == Source::VariablePart)
            variableName = f.name;
    }
    layout.fields.erase(std::remove_if(layout.fields.begin(), layout.fields.end(), generatedField),
        layout.fields.end());
    layout.notes.clear();
    completeLayout(layout);
    // A variable part renamed by the person keeps its name, as a layout file keeps it.
    if (variableName.empty())
        return;
    const bool taken = std::any_of(layout.fields.begin(), layout.fields.end(), [&](const Field& g) {
        return g.source != Source::VariablePart && foldCase(g.name) == foldCase(variableName);
    });
    for (Field& f : layout.fields) {
        if (f.source == Source::VariablePart && !taken)
            f.name = variableName;
    }
}

InvalidCounts countInvalid(TWinBtr& file, const std::vector<Field>& fields, TextDecoder& decoder,
    const std::atomic<bool>& stop)
{
    InvalidCounts counts;
    counts.invalid.assign(fields.size(), 0);
    if (stop.load(std::memory_order_relaxed)) {
        counts.stopped = true;
        return counts;
    }
    const bool useStep = file.UseStep;
    file.UseStep = true;
    std::string scratch;
    const int16_t status = readEveryRecord(file, [&] {
        if (stop.load(std::memory_order_relaxed)) {
            counts.stopped = true;
            return false;
        }
        ++counts.records;
        for (size_t i = 0; i < fields.size(); ++i) {
            scratch.clear();
            if (appendField(fields[i], file.Buffer, file.ReturnedLength, decoder, scratch)
                == Kind::Invalid)
                ++counts.invalid[i];
        }
        return true;
    });
    file.UseStep = useStep;
    if (!counts.stopped && status != btr::status::EndOfFile) {
        counts.status = status;
        counts.reason = file.Reason();
    }
    return counts;
}

InvalidCount countInvalid(
    TWinBtr& file, const Field& f, TextDecoder& decoder, const std::atomic<bool>& stop)
{
    const InvalidCounts counts = countInvalid(file, std::vector<Field> {f}, decoder, stop);
    InvalidCount count;
    count.records = counts.records;
    count.invalid = counts.invalid.front();
    count.stopped = counts.stopped;
    count.status = counts.status;
    count.reason = counts.reason;
    return count;
}

} // namespace fields
