// The commands of varnok-cli, one file each. Every command adds its subcommand and options to the
// program's argument parser and gives back what runs it once the arguments are parsed.
#pragma once

#include "Context.h"

#include <CLI/App.hpp>

#include <string>

#include <functional>
#include <vector>

namespace spec {
struct Description;
}

namespace cli {

struct Command
{
    CLI::App* app = nullptr;
    std::function<void()> run;
};

// Each adds its subcommand to `app`; `ctx` outlives the run.
Command addStatCommand(CLI::App& app, Context& ctx);
Command addDescribeCommand(CLI::App& app, Context& ctx);
Command addCreateCommand(CLI::App& app, Context& ctx);
Command addCloneCommand(CLI::App& app, Context& ctx);
Command addCopyCommand(CLI::App& app, Context& ctx);
Command addSaveCommand(CLI::App& app, Context& ctx);
Command addLoadCommand(CLI::App& app, Context& ctx);
Command addRecoverCommand(CLI::App& app, Context& ctx);
Command addFieldsCommand(CLI::App& app, Context& ctx);
Command addTablesCommand(CLI::App& app, Context& ctx);
Command addExportCommand(CLI::App& app, Context& ctx);
Command addConvertCommand(CLI::App& app, Context& ctx);

// Reads the description file `name` ("-": standard input) and the ACS files its name= elements
// name (relative to its directory) into `description`; `displayName` says how messages name it.
// False with the failure reported.
bool loadDescription(Context& ctx, const std::string& name, spec::Description& description,
    std::string& displayName);

} // namespace cli
