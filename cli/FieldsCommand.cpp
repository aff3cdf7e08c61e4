// fields FILE: the field layout a file's records are read as, with the evidence for inferred
// fields and, with --sample N, the first records' values under it.
// tables DIR: the tables a data dictionary names, with their files and record counts.
#include "Commands.h"
#include "CopyRecords.h"
#include "LayoutFile.h"
#include "Messages.h"
#include "ReadOptions.h"

#include <fmt/core.h>
#include <nlohmann/json.hpp>

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
};

// How many characters of a value the sample table shows.
constexpr size_t SampleWidth = 24;

struct TablesOptions
{
    std::string directory;
    bool json = false;
};

std::string dump(const Json& j)
{
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Rows of text in columns as wide as their widest cell, two blanks apart.
std::string columns(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> width;
    for (const auto& row : rows) {
        width.resize(std::max(width.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i)
            width[i] = std::max(width[i], row[i].size());
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
    fields::TextDecoder decoder(opt.fields.encoding);
    if (!decoder.valid()) {
        ctx.fail(decoder.error());
        return;
    }
    TWinBtr file;
    if (!openFile(ctx, file, opt.file))
        return;
    fields::Layout layout;
    bool ok = fileLayout(ctx, file, opt.file, opt.fields, layout);
    std::vector<std::vector<Json>> sample;
    if (ok && opt.sample > 0)
        ok = sampleValues(ctx, file, opt.file, layout, decoder, opt.sample, sample);
    file.Close();
    if (!ok)
        return;
    if (opt.json) {
        fields::LayoutJson j = fields::layoutJson(layout, opt.file);
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
    fmt::print(ctx.io.out, "{}: {} bytes{}, fields from {}\n{}", opt.file, layout.recordLength,
        layout.variableLength ? " and a variable part" : "", layout.origin, columns(rows));
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

void runTables(Context& ctx, const TablesOptions& opt)
{
    const fields::DictionaryRead read = fields::readDictionary(opt.directory);
    if (!read.ok()) {
        ctx.fail(read.error);
        return;
    }
    const fields::Dictionary& d = read.dictionary;
    for (const std::string& p : d.problems)
        ctx.note(p);
    std::vector<std::vector<std::string>> rows {{"table", "location", "file", "records"}};
    for (const fields::DictTable& t : d.tables) {
        if (t.dictionaryFile())
            continue;
        const fields::Located at = fields::locate(d.directory, t.location);
        std::string records = "-";
        Json count;
        if (at.found()) {
            TWinBtr file;
            if (file.Open(at.path.c_str(), "", btr::mode::ReadOnly) == btr::status::Success) {
                int32_t n = 0;
                if (file.GetRecordCount(n) == btr::status::Success) {
                    records = std::to_string(n);
                    count = n;
                }
                file.Close();
            } else {
                records = statusWords(file.GetStatus());
                if (file.IsOpen)
                    file.Close();
            }
        }
        if (opt.json) {
            Json j;
            j["table"] = t.name;
            j["id"] = t.id;
            j["location"] = t.location;
            j["file"] = at.found() ? Json(at.path.string()) : Json();
            j["present"] = at.found();
            j["problem"] = at.found() ? Json() : Json(at.error);
            j["records"] = count;
            fmt::print(ctx.io.out, "{}\n", dump(j));
        } else {
            rows.push_back({t.name, t.location,
                at.found() ? at.path.string() : "missing: " + at.error, records});
        }
    }
    if (!opt.json)
        fmt::print(ctx.io.out, "{}", columns(rows));
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
    return {cmd, [&ctx, opt] { runFields(ctx, *opt); }};
}

Command addTablesCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<TablesOptions>();
    CLI::App* cmd = app.add_subcommand("tables", "List the tables a data dictionary names");
    cmd->add_option("DIR", opt->directory, "The directory of FILE.DDF, FIELD.DDF and INDEX.DDF")
        ->required();
    cmd->add_flag("--json", opt->json, "One JSON object a line, for scripts");
    return {cmd, [&ctx, opt] { runTables(ctx, *opt); }};
}

} // namespace cli
