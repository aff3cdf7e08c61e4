// stat FILE...: each file's whole definition, as text or as JSON (one object a line).
#include "Commands.h"
#include "DefinitionText.h"
#include "Messages.h"
#include "ReadOptions.h"

#include <fmt/core.h>

#include <memory>

namespace cli {

namespace {

struct StatOptions
{
    std::vector<std::string> files;
    bool json = false;
    std::string owner;
};

void runStat(Context& ctx, const StatOptions& opt)
{
    bool first = true;
    for (const std::string& name : opt.files) {
        TWinBtr file;
        if (!openFile(ctx, file, name, opt.owner))
            continue;
        spec::SpecBuffer image;
        if (file.StatTo(image.data()) != btr::status::Success) {
            ctx.fail(cannotDo("Cannot read the definition of", name, file.GetStatus()));
            continue;
        }
        // The format and its features, when the record manager can say them.
        uint8_t facts[btr::facts::Size];
        const bool known = file.GetFileFacts(facts) == btr::status::Success;
        file.Close();
        if (opt.json) {
            nlohmann::ordered_json j = definitionJson(name, image);
            j["format"] = known ? formatJson(facts) : nlohmann::ordered_json();
            fmt::print(ctx.io.out, "{}\n",
                j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
        } else {
            std::string text = definitionText(name, image);
            if (known)
                text.insert(text.find('\n') + 1, formatText(facts));
            fmt::print(ctx.io.out, "{}{}", first ? "" : "\n", text);
        }
        first = false;
    }
}

} // namespace

Command addStatCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<StatOptions>();
    CLI::App* cmd = app.add_subcommand("stat", "Show each file's whole definition");
    cmd->add_option("FILE", opt->files, "Data files")->required();
    cmd->add_flag("--json", opt->json, "One JSON object a line, for scripts");
    addOwnerOption(cmd, opt->owner);
    return {cmd, [&ctx, opt] { runStat(ctx, *opt); }};
}

} // namespace cli
