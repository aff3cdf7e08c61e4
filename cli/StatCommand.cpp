// stat FILE...: each file's whole definition, as text or as JSON (one object a line).
#include "Commands.h"
#include "DefinitionText.h"

#include <fmt/core.h>

#include <memory>

namespace cli {

namespace {

struct StatOptions
{
    std::vector<std::string> files;
    bool json = false;
};

void runStat(Context& ctx, const StatOptions& opt)
{
    bool first = true;
    for (const std::string& name : opt.files) {
        spec::SpecBuffer image;
        uint8_t bytes[btr::SpecBufferSize] = {};
        if (!statImage(ctx, name, bytes))
            continue;
        std::copy(std::begin(bytes), std::end(bytes), image.bytes.begin());
        if (opt.json) {
            fmt::print(ctx.io.out, "{}\n",
                definitionJson(name, image)
                    .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
        } else {
            fmt::print(ctx.io.out, "{}{}", first ? "" : "\n", definitionText(name, image));
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
    return {cmd, [&ctx, opt] { runStat(ctx, *opt); }};
}

} // namespace cli
