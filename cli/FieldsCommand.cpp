// fields FILE: the field layout a file's records are read as, with the evidence for inferred
// fields and, with --sample N, the first records' values under it.
// tables DIR: the tables a data dictionary names, with their files and record counts, and every
// other file of the directory accounted for.
#include "Commands.h"
#include "CopyRecords.h"
#include "DirectoryFiles.h"
#include "FileSample.h"
#include "LayoutFile.h"
#include "Messages.h"
#include "ReadOptions.h"

#include <fmt/core.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace cli {

namespace {

using Json = nlohmann::ordered_json;

struct FieldsCommandOptions
{
    std::string file;
    FieldOptions fields;
    bool json = false;
    uint32_t sample = 0;
    std::string owner;
};

// How many characters of a value the sample table shows.
constexpr size_t SampleWidth = 24;

struct TablesOptions
{
    std::string directory;
    bool json = false;
    std::string encoding = fields::AutoEncoding;
};

std::string dump(const Json& j)
{
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// The characters of UTF-8 text, as fmt counts them when it pads.
size_t textWidth(const std::string& text)
{
    return size_t(std::count_if(text.begin(), text.end(),
        [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Rows of text in columns as wide as their widest cell, two blanks apart.
std::string columns(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> width;
    for (const auto& row : rows) {
        width.resize(std::max(width.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i)
            width[i] = std::max(width[i], textWidth(row[i]));
    }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? fmt::format("{:<{}}  ", row[i], width[i]) : row[i];
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        text += line + "\n";
    }
    return text;
}

// A value cut to what a table cell shows, on one line.
std::string cell(const std::string& value)
{
    std::string out;
    size_t characters = 0;
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if ((u & 0xC0) != 0x80 && ++characters > SampleWidth) {
            out += "...";
            break;
        }
        out += u < 0x20 ? ' ' : c;
    }
    return out;
}

// The first n records in physical order, each as its fields' values (null for a null value).
bool sampleValues(Context& ctx, TWinBtr& file, const std::string& name,
    const fields::Layout& layout, fields::TextDecoder& decoder, uint32_t n,
    std::vector<std::vector<Json>>& rows)
{
    file.UseStep = true;
    std::string value;
    const int16_t status = readEveryRecord(file, [&] {
        std::vector<Json> row;
        for (const fields::Field& f : layout.fields) {
            value.clear();
            const fields::Kind kind
                = fields::appendField(f, file.Buffer, file.ReturnedLength, decoder, value);
            row.push_back(kind == fields::Kind::Null ? Json() : Json(value));
        }
        rows.push_back(std::move(row));
        return rows.size() < n;
    });
    if (status != btr::status::Success && status != btr::status::EndOfFile) {
        ctx.fail(cannotDo("Cannot read", name, status, file.Reason()));
        return false;
    }
    return true;
}

void runFields(Context& ctx, const FieldsCommandOptions& opt)
{
    TWinBtr file;
    if (!openFile(ctx, file, opt.file, opt.owner))
        return;
    fields::Layout layout;
    fields::TextDecoder decoder;
    bool ok = fileLayout(ctx, file, opt.file, opt.fields, layout, decoder);
    std::vector<std::vector<Json>> sample;
    if (ok && opt.sample > 0)
        ok = sampleValues(ctx, file, opt.file, layout, decoder, opt.sample, sample);
    file.Close();
    if (!ok)
        return;
    const std::string name = fields::validUtf8(opt.file);
    if (opt.json) {
        fields::LayoutJson j = fields::layoutJson(layout, name, decoder.encoding());
        if (opt.sample > 0) {
            Json records = Json::array();
            for (const std::vector<Json>& row : sample) {
                Json record = Json::object();
                for (size_t i = 0; i < row.size(); ++i)
                    record[layout.fields[i].name] = row[i];
                records.push_back(std::move(record));
            }
            j["sample"] = std::move(records);
        }
        fmt::print(ctx.io.out, "{}\n", dump(j));
        return;
    }
    const bool evidence = std::any_of(layout.fields.begin(), layout.fields.end(),
        [](const fields::Field& f) { return !f.evidence.empty(); });
    std::vector<std::vector<std::string>> rows {
        {"name", "position", "length", "type", "decimals", "source"}};
    if (evidence)
        rows[0].push_back("evidence");
    for (const fields::Field& f : layout.fields) {
        rows.push_back({f.name, std::to_string(f.position()),
            f.source == fields::Source::VariablePart ? "rest" : std::to_string(f.length),
            fields::typeName(f), std::to_string(f.type.decimals), fields::sourceName(f.source)});
        if (evidence)
            rows.back().push_back(f.evidence);
    }
    fmt::print(ctx.io.out, "{}: {} bytes{}, text in {}, fields from {}\n{}", name,
        layout.recordLength, layout.variableLength ? " and a variable part" : "",
        decoder.encoding(), layout.origin, columns(rows));
    if (opt.sample == 0)
        return;
    if (sample.empty()) {
        fmt::print(ctx.io.out, "\nThe file holds no records.\n");
        return;
    }
    // The sample turned on its side: a row per field, a column per record.
    std::vector<std::vector<std::string>> values {{"name"}};
    for (size_t r = 0; r < sample.size(); ++r)
        values[0].push_back(std::to_string(r + 1));
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        values.push_back({layout.fields[i].name});
        for (const std::vector<Json>& row : sample)
            values.back().push_back(row[i].is_null() ? "" : cell(row[i].get<std::string>()));
    }
    fmt::print(ctx.io.out, "\nThe first {}:\n{}",
        sample.size() == 1 ? std::string("record") : std::to_string(sample.size()) + " records",
        columns(values));
}

const char* outcomeName(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done:
        return "read";
    case Outcome::Unnamed:
        return "not in the dictionary";
    case Outcome::Damaged:
        return "damaged";
    case Outcome::NotRead:
        return "not read";
    case Outcome::OwnerName:
        return "owner name needed";
    case Outcome::Failed:
        return "failed";
    case Outcome::Missing:
        return "missing";
    case Outcome::NotADataFile:
        return "not a record-manager file";
    case Outcome::Dictionary:
        return "dictionary";
    }
    return "";
}

// A file's record count, or why it could not be opened: its outcome, and a failure reported.
struct FileCount
{
    Outcome outcome = Outcome::Done;
    int32_t records = 0;
    Refusal refusal;
};

FileCount countRecords(Context& ctx, const std::string& path)
{
    FileCount count;
    TWinBtr file;
    if (!openToRead(file, path, count.refusal)) {
        count.outcome = count.refusal.outcome();
        if (isFailure(count.outcome))
            ctx.fail(cannotDo("Cannot open", path, count.refusal.status, count.refusal.reason));
        return count;
    }
    if (file.GetRecordCount(count.records) != btr::status::Success) {
        count.refusal = refusalOf(file);
        count.outcome = count.refusal.outcome();
        ctx.fail(cannotDo(
            "Cannot read the definition of", path, count.refusal.status, count.refusal.reason));
    }
    file.Close();
    return count;
}

void runTables(Context& ctx, const TablesOptions& opt)
{
    fields::TextDecoder names;
    if (!encodingDecoder(ctx, opt.encoding, names))
        return;
    std::vector<std::string> files;
    if (!directoryFiles(ctx, opt.directory, files))
        return;
    const fields::DictionaryRead read = fields::readDictionary(opt.directory);
    if (!read.ok())
        ctx.fail(read.error);
    const fields::Dictionary& d = read.dictionary;
    for (const std::string& p : d.problems)
        ctx.note(p);
    if (read.ok() && guessesEncoding(opt.encoding)) {
        fields::TextSample sample;
        fields::addNames(d, sample);
        const fields::CodePageGuess guess = fields::guessCodePage(sample);
        sayGuess(ctx, opt.directory, guess, "names");
        names = fields::TextDecoder(guess.encoding);
    }

    DirectorySummary summary;
    std::vector<std::string> accounted;
    const auto json = [&ctx](const Json& j) { fmt::print(ctx.io.out, "{}\n", dump(j)); };
    const auto fileJson = [](const std::string& path, Outcome outcome) {
        Json j;
        j["table"] = Json();
        j["file"] = fields::validUtf8(path);
        j["outcome"] = outcomeName(outcome);
        return j;
    };
    std::vector<std::vector<std::string>> rows {{"table", "location", "file", "records"}};
    std::vector<std::string> ownFiles;
    if (read.ok()) {
        for (const char* own : {"FILE.DDF", "FIELD.DDF", "INDEX.DDF"}) {
            const std::filesystem::path path = fields::findInDirectory(opt.directory, own);
            if (path.empty())
                continue;
            ownFiles.push_back(path.string());
            summary.add(Outcome::Dictionary, path.string());
        }
    }
    accounted = ownFiles;
    for (const fields::DictTable& t : d.tables) {
        if (t.dictionaryFile())
            continue;
        const std::string table = names.name(t.name);
        const std::string location = names.name(t.location);
        const fields::Located at = fields::locate(d.directory, t.location, &names);
        FileCount count;
        std::string records = "-";
        if (!at.found()) {
            count.outcome = Outcome::Missing;
            summary.add(Outcome::Missing, "table " + table + ": " + at.error);
        } else {
            accounted.push_back(at.path.string());
            count = countRecords(ctx, at.path.string());
            if (count.outcome == Outcome::Done) {
                records = std::to_string(count.records);
                summary.add(Outcome::Done,
                    fmt::format("{} ({}): {} records", at.path.string(), table, count.records),
                    uint64_t(std::max(count.records, 0)));
            } else {
                records = statusWords(count.refusal.status);
                summary.add(count.outcome,
                    fmt::format("{} ({}): {}", at.path.string(), table, count.refusal.words()));
            }
        }
        if (opt.json) {
            Json j;
            j["table"] = table;
            j["id"] = t.id;
            j["location"] = location;
            j["file"] = at.found() ? Json(fields::validUtf8(at.path.string())) : Json();
            j["present"] = at.found();
            j["problem"] = at.found() ? Json() : Json(at.error);
            j["records"] = count.outcome == Outcome::Done ? Json(count.records) : Json();
            j["outcome"] = outcomeName(count.outcome);
            j["reason"] = at.found() && count.outcome != Outcome::Done ? Json(count.refusal.words())
                                                                       : Json();
            json(j);
        } else {
            rows.push_back({table, location,
                at.found() ? fields::validUtf8(at.path.string()) : "missing: " + at.error,
                records});
        }
    }
    if (opt.json) {
        for (const std::string& path : ownFiles)
            json(fileJson(path, Outcome::Dictionary));
    }
    // The files of the directory no table leads to.
    for (const std::string& path : files) {
        if (std::any_of(accounted.begin(), accounted.end(),
                [&path](const std::string& a) { return sameFile(a, path); }))
            continue;
        const FileCount count = countRecords(ctx, path);
        const Outcome outcome = count.outcome == Outcome::Done ? Outcome::Unnamed : count.outcome;
        if (outcome == Outcome::Unnamed)
            summary.add(outcome, fmt::format("{}: {} records", path, count.records));
        else
            summary.add(outcome, path + ": " + count.refusal.words());
        if (opt.json) {
            Json j = fileJson(path, outcome);
            j["records"] = outcome == Outcome::Unnamed ? Json(count.records) : Json();
            j["reason"] = outcome == Outcome::Unnamed ? Json() : Json(count.refusal.words());
            json(j);
        }
    }
    if (!opt.json) {
        if (read.ok())
            fmt::print(ctx.io.out, "{}\n", columns(rows));
        summary.print(ctx.io.out, "Read");
    }
}

} // namespace

Command addFieldsCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<FieldsCommandOptions>();
    CLI::App* cmd = app.add_subcommand("fields", "Show the fields a file's records are read as");
    cmd->add_option("FILE", opt->file, "The data file")->required();
    addFieldOptions(cmd, opt->fields);
    cmd->add_flag("--json", opt->json,
        "One JSON object, for scripts: kept in a file, edited and given to --layout, it is read "
        "back as it is");
    cmd->add_option("--sample", opt->sample,
           "Also show the first N records' values (physical order) under the layout")
        ->check(CLI::Range(1, 1000));
    addOwnerOption(cmd, opt->owner);
    return {cmd, [&ctx, opt] { runFields(ctx, *opt); }};
}

Command addTablesCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<TablesOptions>();
    CLI::App* cmd = app.add_subcommand(
        "tables", "List the tables a data dictionary names, and every other file of its directory");
    cmd->add_option("DIR", opt->directory, "The directory of FILE.DDF, FIELD.DDF and INDEX.DDF")
        ->required();
    cmd->add_flag("--json", opt->json, "One JSON object a line, for scripts");
    addEncodingOption(cmd, opt->encoding);
    return {cmd, [&ctx, opt] { runTables(ctx, *opt); }};
}

} // namespace cli
