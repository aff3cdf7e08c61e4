// export FILE: every record as named, typed values, as CSV, JSON Lines or an SQL script.
#include "Commands.h"
#include "Messages.h"
#include "Output.h"
#include "ReadOptions.h"
#include "TextWriter.h"

#include <fmt/core.h>

#include <cerrno>
#include <memory>

namespace cli {

namespace {

struct ExportOptions
{
    std::string file;
    std::string output = "-";
    std::string format = "csv";
    std::string dialect = "sqlite";
    std::string delimiter = ",";
    bool noHeader = false;
    std::string null;
    RecordOrder order;
    FieldOptions fields;
    std::string owner;
};

bool delimiterOf(const std::string& text, char& delimiter)
{
    if (text == "\\t" || text == "tab") {
        delimiter = '\t';
        return true;
    }
    if (text.size() != 1 || text[0] == '"' || text[0] == '\r' || text[0] == '\n')
        return false;
    delimiter = text[0];
    return true;
}

void runExport(Context& ctx, const ExportOptions& opt)
{
    char delimiter = ',';
    if (!delimiterOf(opt.delimiter, delimiter)) {
        ctx.fail("The delimiter must be one character other than a quote or a line end (or "
                 "'tab'), not '"
            + opt.delimiter + "'.");
        return;
    }
    exporting::Settings settings;
    settings.format = opt.format == "jsonl" ? exporting::Format::JsonLines
        : opt.format == "sql"               ? exporting::Format::Sql
                                            : exporting::Format::Csv;
    settings.dialect
        = opt.dialect == "postgresql" ? exporting::Dialect::Postgresql : exporting::Dialect::Sqlite;
    settings.delimiter = delimiter;
    settings.header = !opt.noHeader;
    settings.null = opt.null;
    fields::TextDecoder decoder;
    if (!encodingDecoder(ctx, opt.fields.encoding, decoder))
        return;
    TWinBtr source;
    if (!openFile(ctx, source, opt.file, opt.owner)
        || !recordsReadable(ctx, source, opt.file, opt.owner))
        return;
    fields::Layout layout;
    if (!fileLayout(ctx, source, opt.file, opt.fields, layout, decoder))
        return;
    std::vector<std::string> notes;
    const std::vector<exporting::KeyIndex> indexes = settings.format == exporting::Format::Sql
        ? exporting::keyIndexes(layout, statBuffer(source), notes)
        : std::vector<exporting::KeyIndex>();
    for (const std::string& n : notes)
        ctx.note(opt.file + ": " + n);
    applyOrder(source, opt.order);
    const auto total = uint64_t(std::max(source.RecordCount(), 0));

    OutputFile output;
    if (!output.open(ctx, opt.output))
        return;
    const std::string target = output.isStandardOutput() ? "standard output" : opt.output;
    exporting::TextWriter exporter(layout, decoder, settings, output.stream());
    exporter.begin(exporting::tableName(layout, opt.file, decoder), indexes);
    bool written = true;
    int writeError = 0;
    int16_t status = btr::status::Success;
    {
        Progress progress(ctx, "export " + opt.file, total);
        status = readEveryRecord(source, [&] {
            written = exporter.record(source.Buffer, source.ReturnedLength);
            if (!written)
                writeError = errno;
            progress.step();
            return written;
        });
    }
    const bool byKey = !source.UseStep;
    source.Close();
    if (!written) {
        ctx.fail(fileFailure("Cannot write", target, writeError));
        return;
    }
    if (status != btr::status::EndOfFile) {
        ctx.fail(cannotRead(opt.file, status) + " " + std::to_string(exporter.rows())
            + " records were exported before; " + target
            + (output.isStandardOutput() ? " holds them." : " is not written."));
        return;
    }
    if (!exporter.end()) {
        ctx.fail(fileFailure("Cannot write", target, errno));
        return;
    }
    if (!output.commit(ctx))
        return;
    // A key leaves out the records whose value of it is null.
    if (byKey && exporter.rows() < total) {
        ctx.note(fmt::format("{}: key {} gave {} of the file's {} records (it leaves out those "
                             "whose key is null); --physical exports them all.",
            opt.file, opt.order.key, exporter.rows(), total));
    }
    if (exporter.invalid() > 0) {
        ctx.note(fmt::format("{}: {} values were not valid for their type; they are written as "
                             "0x and their bytes in hex.",
            opt.file, exporter.invalid()));
    }
}

} // namespace

Command addExportCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<ExportOptions>();
    CLI::App* cmd
        = app.add_subcommand("export", "Write every record as named values: CSV, JSON Lines, SQL");
    cmd->add_option("FILE", opt->file, "The data file")->required();
    cmd->add_option("-o,--output", opt->output, "The file to write; - or none for standard output");
    cmd->add_option("-f,--format", opt->format, "csv (the default), jsonl or sql")
        ->check(CLI::IsMember({"csv", "jsonl", "sql"}));
    cmd->add_option("--dialect", opt->dialect, "The SQL script's dialect: sqlite or postgresql")
        ->check(CLI::IsMember({"sqlite", "postgresql"}));
    cmd->add_option("-d,--delimiter", opt->delimiter, "CSV: the field delimiter (',' by default)");
    cmd->add_flag("--no-header", opt->noHeader, "CSV: no header row of field names");
    cmd->add_option("--null", opt->null, "CSV: the text of a null value (empty by default)");
    addOrderOptions(cmd, opt->order);
    addFieldOptions(cmd, opt->fields);
    addOwnerOption(cmd, opt->owner);
    return {cmd, [&ctx, opt] { runExport(ctx, *opt); }};
}

} // namespace cli
