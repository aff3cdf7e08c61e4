#include "Dictionary.h"

#include "CodePage.h"
#include "LittleEndian.h"
#include "Messages.h"
#include "WinBtr.h"

#include <algorithm>
#include <cctype>
#include <system_error>

namespace fields {

namespace fs = std::filesystem;

namespace {

// A blank-padded name: the bytes up to the last that is neither blank nor NUL, cut at the first
// NUL inside.
std::string paddedName(const uint8_t* p, size_t n)
{
    size_t length = 0;
    while (length < n && p[length] != 0)
        ++length;
    while (length > 0 && p[length - 1] == ' ')
        --length;
    return std::string(reinterpret_cast<const char*>(p), length);
}

std::string shortRecord(const char* file, size_t number, size_t length, int wanted)
{
    return std::string(file) + " record " + std::to_string(number) + " is " + std::to_string(length)
        + " bytes, shorter than the " + std::to_string(wanted) + " its layout needs: left out.";
}

} // namespace

namespace {

bool plainAscii(const std::string& s)
{
    return std::all_of(
        s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The location in UTF-8 for a message.
std::string quotedLocation(const std::string& location, TextDecoder* names)
{
    // Appended: GCC 12 at -O3 reports a false -Wrestrict on a literal + std::string.
    std::string quoted(1, '\'');
    quoted += names ? names->name(location) : validUtf8(location);
    quoted += '\'';
    return quoted;
}

} // namespace

const DictTable* Dictionary::table(const std::string& name, TextDecoder* names) const
{
    const std::string wanted = lowerCase(name);
    for (const DictTable& t : tables) {
        if (lowerCase(t.name) == wanted)
            return &t;
    }
    if (plainAscii(name))
        return nullptr;
    const std::string folded = foldCase(name);
    const auto find = [&](TextDecoder& decoder) -> const DictTable* {
        for (const DictTable& t : tables) {
            if (foldCase(decoder.name(t.name)) == folded)
                return &t;
        }
        return nullptr;
    };
    if (names) {
        if (const DictTable* t = find(*names))
            return t;
    }
    for (const std::string& page : guessedCodePages()) {
        TextDecoder decoder(page);
        if (const DictTable* t = find(decoder))
            return t;
    }
    return nullptr;
}

Dictionary parseDictionary(
    const RecordList& fileDdf, const RecordList& fieldDdf, const RecordList& indexDdf)
{
    Dictionary d;
    for (size_t i = 0; i < fileDdf.size(); ++i) {
        const std::vector<uint8_t>& r = fileDdf[i];
        // The reserved bytes at the end are not needed: a record that stops after the flags
        // still names its table.
        if (r.size() < size_t(ddf::file::Flags) + 1) {
            d.problems.push_back(shortRecord("FILE.DDF", i + 1, r.size(), ddf::file::Flags + 1));
            continue;
        }
        DictTable t;
        t.id = btr::le::get16(r.data() + ddf::file::Id);
        t.name = paddedName(r.data() + ddf::file::Name, ddf::file::NameSize);
        t.location = paddedName(r.data() + ddf::file::Location, ddf::file::LocationSize);
        t.flags = r[ddf::file::Flags];
        d.tables.push_back(std::move(t));
    }
    for (size_t i = 0; i < fieldDdf.size(); ++i) {
        const std::vector<uint8_t>& r = fieldDdf[i];
        if (r.size() < size_t(ddf::field::RecordSize)) {
            d.problems.push_back(shortRecord("FIELD.DDF", i + 1, r.size(), ddf::field::RecordSize));
            continue;
        }
        DictField f;
        f.id = btr::le::get16(r.data() + ddf::field::Id);
        f.file = btr::le::get16(r.data() + ddf::field::File);
        f.name = paddedName(r.data() + ddf::field::Name, ddf::field::NameSize);
        f.dataType = r[ddf::field::DataType];
        f.offset = btr::le::get16(r.data() + ddf::field::Offset);
        f.size = btr::le::get16(r.data() + ddf::field::Size);
        f.decimals = r[ddf::field::Decimals];
        f.flags = btr::le::get16(r.data() + ddf::field::Flags);
        d.fields.push_back(std::move(f));
    }
    for (size_t i = 0; i < indexDdf.size(); ++i) {
        const std::vector<uint8_t>& r = indexDdf[i];
        if (r.size() < size_t(ddf::index::RecordSize)) {
            d.problems.push_back(shortRecord("INDEX.DDF", i + 1, r.size(), ddf::index::RecordSize));
            continue;
        }
        DictIndex x;
        x.file = btr::le::get16(r.data() + ddf::index::File);
        x.field = btr::le::get16(r.data() + ddf::index::Field);
        x.number = btr::le::get16(r.data() + ddf::index::Number);
        x.part = btr::le::get16(r.data() + ddf::index::Part);
        x.flags = btr::le::get16(r.data() + ddf::index::Flags);
        d.indexes.push_back(x);
    }
    return d;
}

Layout tableLayout(const Dictionary& dictionary, const DictTable& t, const spec::SpecBuffer& stat,
    TextDecoder& names)
{
    Layout layout;
    setRecordShape(layout, stat);
    layout.table = names.name(t.name);
    layout.origin
        = "dictionary " + validUtf8(dictionary.directory.string()) + ", table " + layout.table;
    for (const DictField& d : dictionary.fields) {
        if (d.file != t.id || !d.isField())
            continue;
        Field f;
        f.name = names.name(d.name);
        f.offset = d.offset;
        f.length = d.size;
        f.type.type = d.dataType;
        f.type.decimals = d.decimals;
        f.type.signedByte = d.flags & ddf::field::SignedByte;
        f.source = Source::Dictionary;
        layout.fields.push_back(std::move(f));
    }
    completeLayout(layout);
    return layout;
}

fs::path findInDirectory(const fs::path& directory, const std::string& name)
{
    std::error_code ec;
    if (fs::exists(directory / name, ec))
        return directory / name;
    const std::string wanted = foldCase(name);
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (foldCase(entry) == wanted)
            return it->path();
    }
    return {};
}

Located locate(const fs::path& directory, const std::string& location, TextDecoder* names)
{
    Located result;
    std::string path = location;
    std::replace(path.begin(), path.end(), '\\', '/');
    const std::string quoted = quotedLocation(location, names);
    const std::string where = validUtf8(directory.string());
    if (path.empty()) {
        result.error = "its location is empty";
        return result;
    }
    if (path[0] == '/' || (path.size() >= 2 && path[1] == ':')) {
        result.error
            = "its location " + quoted + " points outside the dictionary's directory " + where;
        return result;
    }
    std::vector<std::string> parts;
    size_t at = 0;
    while (at <= path.size()) {
        const size_t slash = std::min(path.find('/', at), path.size());
        const std::string part = path.substr(at, slash - at);
        at = slash + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (parts.empty()) {
                result.error = "its location " + quoted
                    + " points outside the dictionary's directory " + where;
                return result;
            }
            parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    if (parts.empty()) {
        result.error = "its location " + quoted + " names no file";
        return result;
    }
    fs::path current = directory;
    for (const std::string& part : parts) {
        fs::path next = findInDirectory(current, part);
        // A name of a DOS program's code page whose file was renamed into UTF-8 on its way here:
        // read in `names`' code page, or in any the guess knows (a location is looked for before
        // the code page is guessed).
        if (next.empty() && !plainAscii(part)) {
            if (names)
                next = findInDirectory(current, names->name(part));
            for (size_t i = 0; next.empty() && i < guessedCodePages().size(); ++i) {
                TextDecoder decoder(guessedCodePages()[i]);
                next = findInDirectory(current, decoder.name(part));
            }
        }
        if (next.empty()) {
            result.error = "its location ";
            result.error += quoted;
            result.error += " points nowhere: no ";
            result.error += names ? names->name(part) : validUtf8(part);
            result.error += " in ";
            result.error += validUtf8(current.string());
            return result;
        }
        current = std::move(next);
    }
    // A link below the directory may still lead out of it.
    std::error_code ec;
    const fs::path real = fs::weakly_canonical(current, ec);
    const fs::path base = fs::weakly_canonical(directory, ec);
    const auto mismatch = std::mismatch(base.begin(), base.end(), real.begin(), real.end());
    if (!ec && mismatch.first != base.end()) {
        result.error
            = "its location " + quoted + " points outside the dictionary's directory " + where;
        return result;
    }
    std::error_code typeError;
    if (fs::is_directory(current, typeError)) {
        result.error = "its location " + quoted + " is a directory";
        return result;
    }
    result.path = current;
    return result;
}

int16_t readAllRecords(const std::string& name, RecordList& records)
{
    TWinBtr file;
    if (file.Open(name.c_str(), "", btr::mode::ReadOnly) != btr::status::Success) {
        const int16_t status = file.GetStatus();
        if (file.IsOpen)
            file.Close();
        return status;
    }
    file.AllocBuffer(65535);
    file.UseStep = true;
    for (file.GetFirst(); file.Ok(); file.GetNext())
        records.emplace_back(file.Buffer, file.Buffer + file.ReturnedLength);
    const int16_t status = file.GetStatus();
    file.Close();
    return status == btr::status::EndOfFile ? btr::status::Success : status;
}

DictionaryRead readDictionary(const fs::path& directory)
{
    DictionaryRead read;
    read.dictionary.directory = directory;
    const fs::path fileDdf = findInDirectory(directory, "FILE.DDF");
    if (fileDdf.empty()) {
        read.present = false;
        if (!findInDirectory(directory, "PVFILE.DDF").empty())
            read.error = "The dictionary in " + directory.string()
                + " is in the newer files (PVFILE.DDF and others), whose layout is not public; "
                  "Varnok reads FILE.DDF, FIELD.DDF and INDEX.DDF.";
        else
            read.error = "No dictionary in " + directory.string() + " (no FILE.DDF).";
        return read;
    }
    RecordList records[3];
    const char* names[3] = {"FILE.DDF", "FIELD.DDF", "INDEX.DDF"};
    for (int i = 0; i < 3; ++i) {
        const fs::path path = i == 0 ? fileDdf : findInDirectory(directory, names[i]);
        if (path.empty()) {
            // A dictionary without indexes still names its tables and fields.
            if (i == 2)
                continue;
            read.error = "The dictionary in " + directory.string() + " has no " + names[i] + ".";
            return read;
        }
        const int16_t status = readAllRecords(path.string(), records[i]);
        if (status != btr::status::Success) {
            read.error = cannotDo("Cannot read the dictionary file", path.string(), status);
            return read;
        }
    }
    read.dictionary = parseDictionary(records[0], records[1], records[2]);
    read.dictionary.directory = directory;
    return read;
}

LayoutChoice chooseLayout(const std::string& name, const spec::SpecBuffer& stat,
    const std::string& dictionaryDir, const std::string& table, TextDecoder& names)
{
    LayoutChoice choice;
    const bool asked = !dictionaryDir.empty() || !table.empty();
    fs::path directory = dictionaryDir;
    if (directory.empty()) {
        directory = fs::path(name).parent_path();
        if (directory.empty())
            directory = ".";
    }
    DictionaryRead read = readDictionary(directory);
    if (!read.ok()) {
        if (asked)
            choice.error = read.error;
        else if (read.present)
            choice.notes.push_back(read.error + " The fields come from the keys.");
        if (!asked)
            choice.layout = keyLayout(stat);
        return choice;
    }
    auto dictionary = std::make_shared<const Dictionary>(std::move(read.dictionary));
    const Dictionary& d = *dictionary;
    choice.dictionary = dictionary;
    for (const std::string& p : d.problems)
        choice.notes.push_back(p);
    const DictTable* found = nullptr;
    if (!table.empty()) {
        found = d.table(table, &names);
        if (!found) {
            choice.error = "The dictionary in " + validUtf8(directory.string()) + " has no table "
                + validUtf8(table) + ".";
            return choice;
        }
    } else {
        std::error_code ec;
        for (const DictTable& t : d.tables) {
            if (t.dictionaryFile())
                continue;
            const Located at = locate(directory, t.location, &names);
            if (at.found() && fs::equivalent(at.path, name, ec)) {
                found = &t;
                break;
            }
        }
        if (!found) {
            if (asked) {
                choice.error = "No table of the dictionary in " + validUtf8(directory.string())
                    + " is located at " + validUtf8(name) + " (name one with --table).";
                return choice;
            }
            choice.layout = keyLayout(stat);
            return choice;
        }
    }
    choice.table = found;
    choice.layout = tableLayout(d, *found, stat, names);
    return choice;
}

} // namespace fields
