// clone SOURCE DESTINATION: an empty file with SOURCE's definition.
// copy SOURCE DESTINATION, copy SOURCE... DIRECTORY: every record of each source into its
// destination, created first from the source's definition when it does not exist.
#include "Commands.h"
#include "CopyRecords.h"
#include "Messages.h"
#include "ReadOptions.h"

#include <filesystem>
#include <map>
#include <memory>
#include <system_error>

namespace cli {

namespace {

namespace fs = std::filesystem;

struct CloneOptions
{
    std::string source;
    std::string destination;
    bool replace = false;
};

struct CopyOptions
{
    std::vector<std::string> paths;
    std::string owner;
};

// Creates `destination` from the definition of `source`; false with the failure reported.
bool cloneFile(
    Context& ctx, const std::string& source, const std::string& destination, bool replace)
{
    uint8_t image[btr::SpecBufferSize] = {};
    if (!statImage(ctx, source, image))
        return false;
    TWinBtr file;
    if (createFile(file, destination, image, sizeof image, replace) != btr::status::Success) {
        ctx.fail(cannotDo("Cannot create", destination, file.GetStatus()));
        return false;
    }
    return true;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return fs::equivalent(a, b, ec);
}

bool exists(const std::string& name)
{
    std::error_code ec;
    return fs::exists(fs::symlink_status(name, ec));
}

// The window's Copy, with the destination created first when it is not there (and not before the
// source's records are known to be readable).
void copyFile(Context& ctx, const std::string& source, const std::string& destination,
    const std::string& owner)
{
    if (sameFile(source, destination)) {
        ctx.fail("Cannot copy " + source + " into itself (" + destination + ").");
        return;
    }
    TWinBtr from;
    TWinBtr to;
    if (!openFile(ctx, from, source, owner) || !recordsReadable(ctx, from, source, owner))
        return;
    if (!exists(destination) && !cloneFile(ctx, source, destination, false))
        return;
    if (!openFile(ctx, to, destination))
        return;
    CopyOutcome outcome;
    {
        Progress progress(ctx, "copy " + source, uint64_t(std::max(from.RecordCount(), 0)));
        outcome = copyRecords(from, to, [&progress] { progress.step(); });
    }
    from.Close();
    closeDestination(to, destination.c_str(), outcome);
    if (outcome.failed())
        ctx.fail(copyFailure(outcome, source, destination));
}

bool isDirectory(const std::string& name)
{
    std::error_code ec;
    return fs::is_directory(name, ec);
}

void runCopy(Context& ctx, const CopyOptions& opt)
{
    const std::string& target = opt.paths.back();
    const bool intoDirectory = isDirectory(target) || target.ends_with('/');
    if (!intoDirectory) {
        copyFile(ctx, opt.paths.front(), target, opt.owner);
        return;
    }
    if (!isDirectory(target)) {
        ctx.fail("Cannot copy into " + target + ": no such directory.");
        return;
    }
    // Two sources of one name (A/X.DAT, B/X.DAT) would land in one file: the second is refused
    // rather than mixed into the first's copy.
    std::map<std::string, std::string> copiedFrom;
    for (size_t i = 0; i + 1 < opt.paths.size(); ++i) {
        const std::string& source = opt.paths[i];
        const fs::path name = fs::path(source).filename();
        if (name.empty() || isDirectory(source)) {
            ctx.fail("Cannot copy " + source + ": it is a directory, not a data file.");
            continue;
        }
        const std::string destination = (fs::path(target) / name).string();
        if (const auto earlier = copiedFrom.find(destination); earlier != copiedFrom.end()) {
            ctx.fail("Cannot copy " + source + " into " + destination + ": " + earlier->second
                + " was copied there already.");
            continue;
        }
        copiedFrom[destination] = source;
        copyFile(ctx, source, destination, opt.owner);
    }
}

} // namespace

Command addCloneCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<CloneOptions>();
    CLI::App* cmd = app.add_subcommand("clone", "Create an empty file with another's definition");
    cmd->add_option("SOURCE", opt->source, "The file whose definition is taken")->required();
    cmd->add_option("DESTINATION", opt->destination, "The file to create")->required();
    cmd->add_flag("--replace", opt->replace, "Replace DESTINATION when it exists");
    return {cmd, [&ctx, opt] { cloneFile(ctx, opt->source, opt->destination, opt->replace); }};
}

Command addCopyCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<CopyOptions>();
    CLI::App* cmd = app.add_subcommand("copy", "Copy every record into another file");
    cmd->footer("DESTINATION is created from SOURCE's definition when it does not exist and added "
                "to when it does. With a DIRECTORY (an existing one, or a name ending in /), each "
                "SOURCE is copied into it under its own name.");
    cmd->add_option("FILE", opt->paths, "SOURCE DESTINATION, or SOURCE... DIRECTORY")
        ->required()
        ->expected(2, -1);
    addOwnerOption(cmd, opt->owner);
    cmd->callback([opt] {
        if (opt->paths.size() > 2 && !isDirectory(opt->paths.back()))
            throw CLI::ValidationError("copy", "several sources need a directory as destination");
    });
    return {cmd, [&ctx, opt] { runCopy(ctx, *opt); }};
}

} // namespace cli
