// Corrections a person makes to a layout by eye: a field defined over bytes they chose, a field's
// type, decimals, position or length changed, a field renamed or removed. Each edit is checked by
// the rules a layout file is read by before anything changes: a refused edit leaves the layout as
// it was and says why, in words to end a message with. After every edit the fillers and the
// variable part are made afresh, as the layout file reader makes them, so the layout always covers
// every byte of the record once and reads back from its JSON as it is.
//
// Fields are addressed by their index in layout.fields, which the edit may move (fields stay
// sorted by position): the result says where the field is afterwards.
//
// And the count a person needs to judge a field: how many records of the whole file hold a value
// that is not valid for its type.
#pragma once

#include "Layout.h"
#include "TextDecoder.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TWinBtr;

namespace fields {

// What a form gives for a field: its name, where it lies (offset 0-based), its type by a layout
// file's type name (or "hex") and its decimals (a bit field's bit number). Wide integers, so that
// whatever was typed is checked rather than cut.
struct FieldForm
{
    std::string name;
    int64_t offset = 0;
    int64_t length = 0;
    std::string type = "string";
    int64_t decimals = 0;
    bool signedByte = false; // a 1-byte integer read as signed
};

struct EditResult
{
    // Why the edit was refused; empty when it was made.
    std::string why;
    // Where the field defined, changed or renamed is now; npos after a removal or a refusal.
    size_t index = npos;

    static constexpr size_t npos = size_t(-1);
    bool ok() const { return why.empty(); }
};

// True for a field the layout makes by itself (a filler named filler_<N>, the variable part): it
// is made afresh after every edit, so it can be changed into a field, but not removed.
bool generatedField(const Field& f);

// The form of field f, as a define or change form shows it.
FieldForm formOf(const Field& f);

// A new field over bytes of the record. Overlapping fields are allowed (a date and its year, as
// dictionaries give them).
EditResult defineField(Layout& layout, const FieldForm& form);
// Field `index` given the form's position, length, type and decimals (the form's name is not
// used: renameField changes it). A filler changed this way becomes a field of its own.
EditResult changeField(Layout& layout, size_t index, const FieldForm& form);
EditResult renameField(Layout& layout, size_t index, const std::string& name);
// Removes field `index`; the bytes no other field covers become a filler again.
EditResult removeField(Layout& layout, size_t index);

// The fillers and the variable part made afresh from the fields a person keeps, and the notes
// (fields past the record's end, unknown types) with them.
void refill(Layout& layout);

// How many records hold a value not valid for a field's type, over the whole file.
struct InvalidCount
{
    uint64_t records = 0; // records read
    uint64_t invalid = 0; // of them, those whose value is not valid (what an export writes as hex)
    // The stop flag was set: the figures are those of the records read until then.
    bool stopped = false;
    // 0, or the status of the read that ended the count before the file's end (a damaged
    // record), and the record manager's reason for it.
    int16_t status = 0;
    std::string reason;

    bool complete() const { return !stopped && status == 0; }
};

// Reads every record of the open `file` in physical order (Step; it moves the file's position,
// so give it a handle of its own) and counts those whose value of f is invalid. Checks `stop`
// before every record.
InvalidCount countInvalid(
    TWinBtr& file, const Field& f, TextDecoder& decoder, const std::atomic<bool>& stop);

// The same for several fields in one reading of the file: invalid[i] for fields[i].
struct InvalidCounts
{
    uint64_t records = 0;
    std::vector<uint64_t> invalid;
    bool stopped = false;
    int16_t status = 0;
    std::string reason;

    bool complete() const { return !stopped && status == 0; }
};
InvalidCounts countInvalid(TWinBtr& file, const std::vector<Field>& fields, TextDecoder& decoder,
    const std::atomic<bool>& stop);

} // namespace fields
