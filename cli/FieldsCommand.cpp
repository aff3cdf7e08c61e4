// fields FILE: the field layout a file's records are read as.
// tables DIR: the tables a data dictionary names, with their files and record counts.
#include "Commands.h"
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
    std::string owner;
};

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
        text += line + "\n";
    }
    return text;
}

void runFields(Context& ctx, const FieldsCommandOptions& opt)
{
    TWinBtr file;
    if (!openFile(ctx, file, opt.file, opt.owner))
        return;
    fields::Layout layout;
    const bool ok = fileLayout(ctx, file, opt.file, opt.fields, layout);
    file.Close();
    if (!ok)
        return;
    if (opt.json) {
        Json j;
        j["file"] = opt.file;
        j["origin"] = layout.origin;
        j["table"] = layout.table.empty() ? Json() : Json(layout.table);
        j["recordLength"] = layout.recordLength;
        j["variableLength"] = layout.variableLength;
        Json list = Json::array();
        for (const fields::Field& f : layout.fields) {
            Json e;
            e["name"] = f.name;
            e["position"] = f.position();
            e["length"] = f.source == fields::Source::VariablePart ? Json() : Json(f.length);
            e["type"] = fields::typeName(f);
            e["decimals"] = f.type.decimals;
            e["source"] = fields::sourceName(f.source);
            list.push_back(std::move(e));
        }
        j["fields"] = std::move(list);
        fmt::print(ctx.io.out, "{}\n", dump(j));
        return;
    }
    std::vector<std::vector<std::string>> rows {
        {"name", "position", "length", "type", "decimals", "source"}};
    for (const fields::Field& f : layout.fields) {
        rows.push_back({f.name, std::to_string(f.position()),
            f.source == fields::Source::VariablePart ? "rest" : std::to_string(f.length),
            fields::typeName(f), std::to_string(f.type.decimals), fields::sourceName(f.source)});
    }
    fmt::print(ctx.io.out, "{}: {} bytes{}, fields from {}\n{}", opt.file, layout.recordLength,
        layout.variableLength ? " and a variable part" : "", layout.origin, columns(rows));
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
    addFieldOptions(cmd, opt->fields, true, false);
    cmd->add_flag("--json", opt->json, "One JSON object, for scripts");
    addOwnerOption(cmd, opt->owner);
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
