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
#include "SqlText.h"

#include <fmt/core.h>
#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <memory>
#include <set>

namespace cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* SourceTable = "varnok_source";

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

class Statement
{
public:
    ~Statement() { sqlite3_finalize(stmt_); }
    bool prepare(sqlite3* db, const std::string& sql)
    {
        return sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &stmt_, nullptr) == SQLITE_OK;
    }
    sqlite3_stmt* get() const { return stmt_; }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

class Database
{
public:
    ~Database()
    {
        if (db_)
            sqlite3_close_v2(db_);
    }

    bool open(const std::string& name, std::string& error)
    {
        if (sqlite3_open_v2(name.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
            != SQLITE_OK) {
            error = db_ ? sqlite3_errmsg(db_) : "out of memory";
            return false;
        }
        sqlite3_extended_result_codes(db_, 1);
        if (!exec("PRAGMA schema_version", error))
            return false;
        // A database another program marks as its own (Varnok's data files among them) is not
        // written into: tables added there could damage it.
        Statement id;
        if (!id.prepare(db_, "PRAGMA application_id") || sqlite3_step(id.get()) != SQLITE_ROW) {
            error = sqlite3_errmsg(db_);
            return false;
        }
        if (const auto owner = sqlite3_column_int64(id.get(), 0); owner != 0) {
            error = fmt::format("it is another program's database (application id {}), such as "
                                "a Varnok data file; convert writes plain SQLite databases only",
                owner);
            return false;
        }
        return true;
    }

    bool exec(const std::string& sql, std::string& error)
    {
        char* message = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK)
            return true;
        error = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        return false;
    }

    sqlite3* handle() const { return db_; }
    std::string message() const { return sqlite3_errmsg(db_); }

private:
    sqlite3* db_ = nullptr;
};

class Converter
{
public:
    Converter(Context& ctx, Database& db, const ConvertOptions& opt, DirectorySummary& summary)
        : ctx_(ctx)
        , db_(db)
        , opt_(opt)
        , summary_(summary)
    {
        used_.insert(SourceTable);
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
        const std::string table = unique(tableName(layout, job.file, decoder), "table");
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
        Statement query;
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
            name = cutName(wanted, MaxIdentifier - suffix.size()) + suffix;
        }
        return name;
    }

    // The table's rows, indexes and varnok_source row, inside the open transaction.
    bool fill(TWinBtr& file, const std::string& name, const std::string& table,
        const fields::Layout& layout, fields::TextDecoder& decoder, uint64_t& records,
        uint64_t& invalid, std::string& error)
    {
        const spec::SpecBuffer stat = statBuffer(file);
        if (!db_.exec("DROP TABLE IF EXISTS " + quoteIdentifier(table), error)
            || !db_.exec(createTable(table, layout, Dialect::Sqlite), error)) {
            error += ".";
            return false;
        }
        std::string insert = "INSERT INTO " + quoteIdentifier(table) + " VALUES (";
        for (size_t i = 0; i < layout.fields.size(); ++i)
            insert += i ? ", ?" : "?";
        insert += ")";
        Statement statement;
        if (!statement.prepare(db_.handle(), insert)) {
            error = db_.message() + ".";
            return false;
        }
        sqlite3_stmt* stmt = statement.get();
        const size_t count = layout.fields.size();
        std::vector<fields::Column> columns;
        for (const fields::Field& f : layout.fields)
            columns.push_back(fields::columnOf(f));
        std::vector<std::string> values(count);
        bool stepped = true;
        // Physical order: a table's rows have no order, Step order is the cheapest to read, and it
        // gives every record, also those a key with null values leaves out.
        file.UseStep = true;
        const auto total = uint64_t(std::max(file.RecordCount(), 0));
        int16_t status = btr::status::Success;
        {
            Progress progress(ctx_, "convert " + name, total);
            status = readEveryRecord(file, [&] {
                const uint8_t* data = file.Buffer;
                const size_t length = file.ReturnedLength;
                for (size_t i = 0; i < count; ++i)
                    bindField(stmt, int(i + 1), layout.fields[i], columns[i], data, length, decoder,
                        values[i], invalid);
                stepped = sqlite3_step(stmt) == SQLITE_DONE;
                sqlite3_reset(stmt);
                if (!stepped)
                    return false;
                ++records;
                progress.step();
                return true;
            });
        }
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
        for (const KeyIndex& index : keyIndexes(layout, stat, notes)) {
            const std::string named = unique(indexName(table, index.key), "index");
            if (!index.unique) {
                if (!db_.exec(index.create(table, false, named), error))
                    return false;
                continue;
            }
            // Distinct stored bytes can read as the same text (trailing blanks, null keys), so a
            // key without duplicates may still not make a unique index of its values.
            std::string uniqueError;
            if (!db_.exec("SAVEPOINT unique_index", error)
                || (!db_.exec(index.create(table, true, named), uniqueError)
                    && (!db_.exec("ROLLBACK TO unique_index", error)
                        || !db_.exec(index.create(table, false, named), error)))
                || !db_.exec("RELEASE unique_index", error))
                return false;
            if (!uniqueError.empty())
                notes.push_back("Key " + std::to_string(index.key)
                    + " has no duplicates, but its values as text repeat: its index is not "
                      "unique.");
        }
        for (const std::string& n : notes)
            ctx_.note(fmt::format("{}: {}", name, n));

        Statement source;
        if (!source.prepare(db_.handle(),
                std::string("INSERT OR REPLACE INTO ") + SourceTable
                    + " (table_name, file, fields, encoding, definition, records, "
                      "invalid_values) VALUES (?, ?, ?, ?, ?, ?, ?)")) {
            error = db_.message() + ".";
            return false;
        }
        const std::string definition
            = definitionJson(name, stat, decoder)
                  .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        const std::string file8 = fields::validUtf8(name);
        sqlite3_bind_text(source.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(source.get(), 2, file8.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(source.get(), 3, layout.origin.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(source.get(), 4, decoder.encoding().c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(source.get(), 5, definition.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_int64(source.get(), 6, sqlite3_int64(records));
        sqlite3_bind_int64(source.get(), 7, sqlite3_int64(invalid));
        if (sqlite3_step(source.get()) != SQLITE_DONE) {
            error = db_.message() + ".";
            return false;
        }
        return true;
    }

    void bindField(sqlite3_stmt* stmt, int at, const fields::Field& f, fields::Column column,
        const uint8_t* data, size_t length, fields::TextDecoder& decoder, std::string& value,
        uint64_t& invalid)
    {
        // Fillers and the variable part are stored as the bytes they are.
        if (f.hex() && f.offset + size_t(f.length) <= length) {
            const size_t n
                = f.source == fields::Source::VariablePart ? length - f.offset : f.length;
            sqlite3_bind_blob(stmt, at, data + f.offset, int(n), SQLITE_STATIC);
            return;
        }
        value.clear();
        const fields::Kind kind = fields::appendField(f, data, length, decoder, value);
        const char* begin = value.data();
        const char* end = begin + value.size();
        switch (kind) {
        case fields::Kind::Null:
            sqlite3_bind_null(stmt, at);
            return;
        case fields::Kind::Number:
        case fields::Kind::Boolean:
            if (column == fields::Column::Integer) {
                sqlite3_int64 v = 0;
                const auto r = std::from_chars(begin, end, v);
                if (r.ec == std::errc() && r.ptr == end) {
                    sqlite3_bind_int64(stmt, at, v);
                    return;
                }
            } else if (column == fields::Column::Real) {
                double v = 0;
                const auto r = std::from_chars(begin, end, v);
                if (r.ec == std::errc() && r.ptr == end) {
                    sqlite3_bind_double(stmt, at, v);
                    return;
                }
            }
            break;
        case fields::Kind::Invalid:
            ++invalid;
            break;
        case fields::Kind::Text:
        case fields::Kind::Bytes:
            break;
        }
        sqlite3_bind_text(stmt, at, begin, int(value.size()), SQLITE_STATIC);
    }

    Context& ctx_;
    Database& db_;
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
    Database db;
    std::string error;
    if (!db.open(opt.into, error)
        || !db.exec(std::string("CREATE TABLE IF NOT EXISTS ") + SourceTable
                + " (table_name TEXT PRIMARY KEY, file TEXT NOT NULL, fields TEXT NOT NULL, "
                  "encoding TEXT NOT NULL, definition TEXT NOT NULL, records INTEGER NOT NULL, "
                  "invalid_values INTEGER NOT NULL)",
            error)) {
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
