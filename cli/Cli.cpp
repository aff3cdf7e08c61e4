#include "Cli.h"

#include "Commands.h"
#include "Context.h"

#include <CLI/CLI.hpp>
#include <fmt/core.h>

#include <exception>
#include <sstream>

#ifndef VARNOK_VERSION
#define VARNOK_VERSION "0"
#endif

namespace cli {

namespace {

void printStream(std::FILE* to, const std::ostringstream& text)
{
    const std::string s = text.str();
    std::fwrite(s.data(), 1, s.size(), to);
}

} // namespace

int run(int argc, const char* const* argv, const Io& io)
{
    Context ctx(io);
    CLI::App app(
        "Shows, creates, copies, saves, loads, exports and rescues Btrieve data files, our "
        "own and those written by the vendor's engine (read in place, never written).",
        "varnok-cli");
    app.set_version_flag("--version", "varnok-cli " VARNOK_VERSION);
    app.require_subcommand(1);
    app.fallthrough();
    app.add_flag("-q,--quiet", ctx.quiet, "No progress on standard error");
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("varnok-cli: ") + e.what()
            + "\nRun 'varnok-cli --help' for the commands and their options.\n";
    });
    app.footer(
        "Run 'varnok-cli COMMAND --help' for a command's options; 'man varnok-cli' for more.");

    const std::vector<Command> commands {
        addStatCommand(app, ctx),
        addDescribeCommand(app, ctx),
        addCreateCommand(app, ctx),
        addCloneCommand(app, ctx),
        addCopyCommand(app, ctx),
        addSaveCommand(app, ctx),
        addLoadCommand(app, ctx),
        addRecoverCommand(app, ctx),
        addFieldsCommand(app, ctx),
        addTablesCommand(app, ctx),
        addExportCommand(app, ctx),
        addConvertCommand(app, ctx),
    };

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // A word that names no command is taken by the parser for a stray argument; say what it
        // is instead of only that a command is missing.
        if (app.get_subcommands().empty() && e.get_exit_code() != 0) {
            for (int i = 1; i < argc; ++i) {
                if (argv[i][0] != '-') {
                    fmt::print(io.err,
                        "varnok-cli: '{}' is not a command\nRun 'varnok-cli --help' for the "
                        "commands and their options.\n",
                        argv[i]);
                    return ExitUsage;
                }
            }
        }
        std::ostringstream out;
        std::ostringstream err;
        const int code = app.exit(e, out, err);
        printStream(io.out, out);
        printStream(io.err, err);
        return code == 0 ? ExitSuccess : ExitUsage;
    }

    try {
        for (const Command& command : commands) {
            if (command.app->parsed())
                command.run();
        }
    } catch (const std::exception& e) {
        ctx.fail(e.what());
    }
    std::fflush(io.out);
    if (std::ferror(io.out)) {
        ctx.fail("Cannot write the results to standard output.");
    }
    return ctx.failed() ? ExitFailure : ExitSuccess;
}

} // namespace cli
