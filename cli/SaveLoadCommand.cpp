// save FILE [OUTPUT]: every record into a sequential file, in the order of a key or physically.
// load FILE [INPUT]: every record of a sequential file inserted into an existing data file.
#include "Commands.h"
#include "Messages.h"
#include "Output.h"
#include "ReadOptions.h"
#include "Sequential.h"

#include <fmt/core.h>

#include <cerrno>
#include <memory>

namespace cli {

namespace {

struct SaveOptions
{
    std::string file;
    std::string output = "-";
    RecordOrder order;
    std::string owner;
};

struct LoadOptions
{
    std::string file;
    std::string input = "-";
    bool keepGoing = false;
};

void runSave(Context& ctx, const SaveOptions& opt)
{
    TWinBtr source;
    if (!openFile(ctx, source, opt.file, opt.owner)
        || !recordsReadable(ctx, source, opt.file, opt.owner))
        return;
    applyOrder(source, opt.order);
    const auto total = uint64_t(std::max(source.RecordCount(), 0));

    OutputFile output;
    if (!output.open(ctx, opt.output))
        return;
    sequential::Writer writer(output.stream());
    sequential::SaveOutcome outcome;
    {
        Progress progress(ctx, "save " + opt.file, total);
        outcome = sequential::saveRecords(source, writer, [&progress] { progress.step(); });
    }
    source.Close();
    const std::string target = output.isStandardOutput() ? "standard output" : opt.output;
    switch (outcome.stop) {
    case sequential::SaveOutcome::Read:
        ctx.fail(cannotRead(opt.file, outcome.status) + " " + std::to_string(outcome.saved)
            + " records were read before; " + target
            + (output.isStandardOutput() ? " holds them, without the end mark."
                                         : " is not written."));
        return;
    case sequential::SaveOutcome::Write:
        ctx.fail(fileFailure("Cannot write", target, outcome.writeError));
        return;
    case sequential::SaveOutcome::Complete:
        break;
    }
    output.commit(ctx);
}

void runLoad(Context& ctx, const LoadOptions& opt)
{
    InputFile input;
    if (!input.open(ctx, opt.input))
        return;
    const std::string inputName = opt.input == "-" ? "standard input" : opt.input;
    TWinBtr destination;
    if (!openFile(ctx, destination, opt.file))
        return;

    sequential::Reader reader(input.stream());
    sequential::LoadOutcome outcome;
    {
        Progress progress(ctx, "load " + opt.file, 0);
        outcome = sequential::loadRecords(
            reader, destination, opt.keepGoing, [&progress] { progress.step(); },
            [&](uint64_t number, uint64_t offset, int16_t status) {
                ctx.note(fmt::format("{} refused record {} at byte {} of {}: {}.", opt.file, number,
                    offset, inputName, statusWords(status)));
            });
    }
    CopyOutcome& copy = outcome.copy;
    closeDestination(destination, opt.file.c_str(), copy);
    switch (copy.stop) {
    case CopyOutcome::Read:
        ctx.fail("Cannot load " + inputName + ": " + outcome.error + ". "
            + recordsCopied(copy, opt.file));
        return;
    case CopyOutcome::Insert:
        ctx.fail(fmt::format("Cannot insert into {}: {}; record {} at byte {} of {}. {}", opt.file,
            statusWords(copy.status), outcome.recordNumber, outcome.recordOffset, inputName,
            recordsCopied(copy, opt.file)));
        return;
    case CopyOutcome::Close:
        ctx.fail(copyStopped("Cannot close", opt.file, copy.status, copy, opt.file));
        return;
    case CopyOutcome::Complete:
        break;
    }
    if (outcome.refused > 0) {
        ctx.fail(fmt::format("{} records of {} were refused by {}; {} records loaded.",
            outcome.refused, inputName, opt.file, copy.inserted));
    }
}

} // namespace

Command addSaveCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<SaveOptions>();
    CLI::App* cmd = app.add_subcommand("save", "Write every record to a sequential file");
    cmd->add_option("FILE", opt->file, "The data file")->required();
    cmd->add_option("OUTPUT", opt->output, "The sequential file; - or none for standard output");
    addOrderOptions(cmd, opt->order);
    addOwnerOption(cmd, opt->owner);
    return {cmd, [&ctx, opt] { runSave(ctx, *opt); }};
}

Command addLoadCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<LoadOptions>();
    CLI::App* cmd = app.add_subcommand("load", "Insert every record of a sequential file");
    cmd->add_option("FILE", opt->file, "The data file (it must exist)")->required();
    cmd->add_option("INPUT", opt->input, "The sequential file; - or none for standard input");
    cmd->add_flag("--keep-going", opt->keepGoing,
        "Count and report the records the file refuses (a duplicate key, a wrong length) and go "
        "on");
    return {cmd, [&ctx, opt] { runLoad(ctx, *opt); }};
}

} // namespace cli
