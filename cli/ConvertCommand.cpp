// convert (FILE... | DIR) --into DATABASE: one plain SQLite database with a table per data file,
// typed columns, an index per key and a varnok_source table saying where each table came from.
//
// Each table is written in one transaction that also records it in varnok_source: a table the
// command reports done is there whole, and a file that fails leaves the database as it was.
#include "Commands.h"
#include "DefinitionText.h"
#include "DirectoryFiles.h"
#include "FileSample.h"
#include "Messages.h"
#include "ReadOptions.h"
#include "SqliteTable.h"

#include <fmt/core.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

namespace cli {

namespace {

namespace fs = std::filesystem;

struct ConvertOptions
{
    std::vector<std::string> sources;
    std::string into;
    FieldOptions fields;
    std::string owner;
};

// A file to convert: as a dictionary's table, by its keys (a file of a directory that no table of
// its dictionary leads to, or whose dictionary does not read), or, named on the command line, as
// the fields options choose.
struct Job
{
    std::string file;
    // The directory's dictionary: its table for this file, and its names for the code-page guess.
    std::shared_ptr<const fields::Dictionary> dictionary;
    const fields::DictTable* table = nullptr;
    bool keys = false;
    // A file of a directory: accounted for in the summary.
    bool inDirectory = false;
};

class Converter
{
public:
    Converter(
        Context& ctx, exporting::Database& db, const ConvertOptions& opt, DirectorySummary& summary)
        : ctx_(ctx)
        , db_(db)
        , opt_(opt)
        , summary_(summary)
    {
        used_.insert(exporting::SourceTable);
    }

    void convert(const Job& job)
    {
        TWinBtr file;
        Refusal refusal;
        if (!openToRead(file, job.file, refusal, opt_.owner)) {
            refuse(job, refusal, "Cannot open");
            return;
        }
        if (ownerNameMissing(file, opt_.owner)) {
            refuse(job, ownerNameRefusal(), "Cannot read");
            return;
        }
        fields::Layout layout;
        fields::TextDecoder decoder;
        if (!encodingDecoder(ctx_, opt_.fields.encoding, decoder))
            return;
        FieldOptions options = opt_.fields;
        // A directory of layouts need not hold one for every file.
        if (!options.layout.empty() && layoutFileFor(options.layout, job.file).empty())
            options.layout.clear();
        if ((job.table || job.keys) && options.layout.empty()) {
            if (file.Stat() != btr::status::Success) {
                refuse(job, refusalOf(file), "Cannot read the definition of");
                return;
            }
            if (!directoryLayout(job, file, options, layout, decoder)) {
                if (job.inDirectory)
                    summary_.add(Outcome::Failed, job.file + ": its fields could not be chosen");
                return;
            }
        } else if (!fileLayout(ctx_, file, job.file, options, layout, decoder)) {
            if (job.inDirectory)
                summary_.add(Outcome::Failed, job.file + ": its fields could not be chosen");
            return;
        }
        const std::string table = unique(exporting::tableName(layout, job.file, decoder), "table");
        std::string error;
        if (!db_.exec("BEGIN IMMEDIATE", error)) {
            failed(job, "Cannot convert " + job.file + " into " + opt_.into + ": " + error + ".");
            return;
        }
        uint64_t records = 0;
        uint64_t invalid = 0;
        readRefusal_ = {};
        const bool filled = fill(file, job.file, table, layout, decoder, records, invalid, error);
        if (!filled || !db_.exec("COMMIT", error)) {
            std::string ignored;
            db_.exec("ROLLBACK", ignored);
            if (readRefusal_.status != btr::status::Success) {
                refuse(job, readRefusal_, "Cannot read");
                return;
            }
            failed(job,
                "Cannot convert " + job.file + " into " + opt_.into + ": " + error
                    + (filled ? "." : ""));
            return;
        }
        const std::string line = fmt::format("{} -> {}: {} records", job.file, table, records);
        if (job.inDirectory)
            summary_.add(Outcome::Done, line, records);
        else
            fmt::print(ctx_.io.out, "{}\n", fields::validUtf8(line));
        if (invalid > 0) {
            ctx_.note(fmt::format("{}: {} values were not valid for their type; they are stored "
                                  "as 0x and their bytes in hex.",
                job.file, invalid));
        }
    }

private:
    // The layout of a file of a dictionary's directory: the table the dictionary gives it, or for a
    // file it does not name the keys; the bytes they leave uncovered inferred from the records (a
    // table's only with --infer, none with --keys-only). With --encoding auto the inferred text
    // is text for the code-page guess too, and once it has named another code page the names and
    // the evidence are read again in it.
    bool directoryLayout(const Job& job, TWinBtr& file, const FieldOptions& options,
        fields::Layout& layout, fields::TextDecoder& decoder)
    {
        const spec::SpecBuffer stat = statBuffer(file);
        auto known = [&] {
            return job.table && !options.keysOnly
                ? fields::tableLayout(*job.dictionary, *job.table, stat, decoder)
                : fields::keyLayout(stat);
        };
        const bool inferring = !options.keysOnly && (!job.table || options.infer);
        fields::Layout given = known();
        fields::RecordSample sample(given.recordLength);
        if (inferring && !readRecordSample(ctx_, file, job.file, sample))
            return false;
        layout = inferring ? fields::inferLayout(given, sample, decoder) : given;
        if (guessEncoding(
                ctx_, options.encoding, file, job.file, job.dictionary.get(), layout, decoder)) {
            given = known();
            layout = inferring ? fields::inferLayout(given, sample, decoder) : given;
        }
        for (const std::string& n : layout.notes)
            ctx_.note(job.file + ": " + n);
        return true;
    }

    // A file the record manager refused: listed when it is a directory's, reported when it is a
    // failure (a file that is no record-manager file is none in a directory).
    void refuse(const Job& job, const Refusal& refusal, const std::string& what)
    {
        const Outcome outcome = refusal.outcome();
        if (job.inDirectory)
            summary_.add(outcome, job.file + ": " + refusal.words());
        if (!job.inDirectory || isFailure(outcome))
            ctx_.fail(cannotDo(what, job.file, refusal.status, refusal.reason));
    }

    void failed(const Job& job, const std::string& message)
    {
        if (job.inDirectory)
            summary_.add(Outcome::Failed, message);
        ctx_.fail(message);
    }

    // Whether the database holds an object of that name, in any case, of another type than
    // `type` (an index of an earlier run where a table is wanted): a table of the name is replaced,
    // anything else would make the conversion fail.
    bool takenByOther(const std::string& name, const char* type)
    {
        exporting::Statement query;
        if (!query.prepare(db_.handle(),
                "SELECT 1 FROM sqlite_master WHERE name = ? COLLATE NOCASE AND type <> ?"))
            return false;
        sqlite3_bind_text(query.get(), 1, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(query.get(), 2, type, -1, SQLITE_STATIC);
        return sqlite3_step(query.get()) == SQLITE_ROW;
    }

    // A name no table or index of this run has (in any case), and no object of another type in
    // the database: the wanted one, or it with _2, _3...
    std::string unique(const std::string& wanted, const char* type)
    {
        std::string name = wanted;
        for (int n = 2; takenByOther(name, type) || !used_.insert(fields::foldCase(name)).second;
             ++n) {
            std::string suffix = "_";
            suffix.append(std::to_string(n));
            name = exporting::cutName(wanted, exporting::MaxIdentifier - suffix.size()) + suffix;
        }
        return name;
    }

    // The table's rows, indexes and varnok_source row, inside the open transaction.
    bool fill(TWinBtr& file, const std::string& name, const std::string& table,
        const fields::Layout& layout, fields::TextDecoder& decoder, uint64_t& records,
        uint64_t& invalid, std::string& error)
    {
        const spec::SpecBuffer stat = statBuffer(file);
        exporting::TableWriter writer(db_, layout, decoder);
        if (!writer.begin(table, error))
            return false;
        bool stepped = true;
        // Physical order: a table's rows have no order, Step order is the cheapest to read, and it
        // gives every record, also those a key with null values leaves out.
        file.UseStep = true;
        const auto total = uint64_t(std::max(file.RecordCount(), 0));
        int16_t status = btr::status::Success;
        {
            Progress progress(ctx_, "convert " + name, total);
            status = readEveryRecord(file, [&] {
                stepped = writer.record(file.Buffer, file.ReturnedLength);
                if (stepped)
                    progress.step();
                return stepped;
            });
        }
        records = writer.rows();
        invalid = writer.invalid();
        if (!stepped) {
            error = db_.message() + ".";
            return false;
        }
        if (status != btr::status::EndOfFile) {
            readRefusal_ = refusalOf(file);
            error = cannotDo("Cannot read", name, status, readRefusal_.reason);
            return false;
        }
        std::vector<std::string> notes;
        const bool finished = writer.finish(
            stat, name, [this](const std::string& wanted) { return unique(wanted, "index"); },
            notes, error);
        if (!finished)
            return false;
        for (const std::string& n : notes)
            ctx_.note(fmt::format("{}: {}", name, n));
        return true;
    }

    Context& ctx_;
    exporting::Database& db_;
    const ConvertOptions& opt_;
    DirectorySummary& summary_;
    std::set<std::string> used_;
    // Why the records of the file being converted could not be read, when they could not.
    Refusal readRefusal_;
};

// The jobs a directory gives: every table its dictionary names, then every other file in it by
// its keys; the dictionary's own files and the tables whose file is missing go to the summary. A
// dictionary that does not read is reported, and every file is converted by its keys.
void directoryJobs(Context& ctx, const ConvertOptions& opt, const std::string& directory,
    std::vector<Job>& jobs, DirectorySummary& summary)
{
    std::vector<std::string> files;
    if (!directoryFiles(ctx, directory, files))
        return;
    fields::DictionaryRead read = fields::readDictionary(directory);
    std::shared_ptr<const fields::Dictionary> dictionary;
    std::vector<std::string> accounted;
    if (read.present && !read.ok())
        ctx.fail(read.error + " The files are converted by their keys.");
    if (read.ok()) {
        for (const std::string& p : read.dictionary.problems)
            ctx.note(p);
        dictionary = std::make_shared<const fields::Dictionary>(std::move(read.dictionary));
        fields::TextDecoder names;
        encodingDecoder(ctx, opt.fields.encoding, names);
        if (guessesEncoding(opt.fields.encoding)) {
            fields::TextSample sample;
            fields::addNames(*dictionary, sample);
            const fields::CodePageGuess guess = fields::guessCodePage(sample);
            sayGuess(ctx, directory, guess, "names");
            names = fields::TextDecoder(guess.encoding);
        }
        for (const char* own : {"FILE.DDF", "FIELD.DDF", "INDEX.DDF"}) {
            const fs::path path = fields::findInDirectory(directory, own);
            if (!path.empty()) {
                accounted.push_back(path.string());
                summary.add(Outcome::Dictionary, path.string());
            }
        }
        for (const fields::DictTable& t : dictionary->tables) {
            const fields::Located at = fields::locate(dictionary->directory, t.location, &names);
            if (t.dictionaryFile()) {
                if (at.found())
                    accounted.push_back(at.path.string());
                continue;
            }
            if (!at.found()) {
                summary.add(Outcome::Missing, "table " + names.name(t.name) + ": " + at.error);
                continue;
            }
            accounted.push_back(at.path.string());
            jobs.push_back({at.path.string(), dictionary, &t, false, true});
        }
    }
    for (const std::string& file : files) {
        if (std::none_of(accounted.begin(), accounted.end(),
                [&file](const std::string& a) { return sameFile(a, file); }))
            jobs.push_back({file, dictionary, nullptr, true, true});
    }
}

// True when `path` is in `directory` or below it.
bool isInside(const std::string& path, const std::string& directory)
{
    std::error_code ec;
    const fs::path base = fs::weakly_canonical(directory, ec);
    if (ec)
        return false;
    const fs::path target = fs::weakly_canonical(fs::absolute(path, ec), ec);
    if (ec)
        return false;
    const auto mismatch = std::mismatch(base.begin(), base.end(), target.begin(), target.end());
    return mismatch.first == base.end();
}

void runConvert(Context& ctx, const ConvertOptions& opt)
{
    fields::TextDecoder checked;
    if (!encodingDecoder(ctx, opt.fields.encoding, checked))
        return;
    std::vector<Job> jobs;
    DirectorySummary summary;
    bool directories = false;
    for (const std::string& source : opt.sources) {
        std::error_code ec;
        if (!fs::is_directory(source, ec)) {
            jobs.push_back({source, nullptr, nullptr, false, false});
            continue;
        }
        // What convert reads it never writes into.
        if (isInside(opt.into, source)) {
            ctx.fail("The database " + opt.into + " would be in " + source
                + ", which convert reads and never writes into: choose one outside it.");
            return;
        }
        directories = true;
        directoryJobs(ctx, opt, source, jobs, summary);
    }
    exporting::Database db;
    std::string error;
    if (!db.open(opt.into, error) || !db.createSourceTable(error)) {
        ctx.fail("Cannot open the database " + opt.into + ": " + error + ".");
        return;
    }
    Converter converter(ctx, db, opt, summary);
    for (const Job& job : jobs)
        converter.convert(job);
    if (directories)
        summary.print(ctx.io.out, "Converted");
}

} // namespace

Command addConvertCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<ConvertOptions>();
    CLI::App* cmd = app.add_subcommand(
        "convert", "Turn data files, or a directory of them, into one SQLite database");
    cmd->add_option("SOURCE", opt->sources, "Data files, or directories of them")->required();
    cmd->add_option("--into", opt->into, "The SQLite database to write (made when missing)")
        ->required();
    addFieldOptions(cmd, opt->fields, false);
    addOwnerOption(cmd, opt->owner);
    return {cmd, [&ctx, opt] { runConvert(ctx, *opt); }};
}

} // namespace cli
