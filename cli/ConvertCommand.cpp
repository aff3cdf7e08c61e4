// convert (FILE... | DIR) --into DATABASE: one plain SQLite database with a table per data file,
// typed columns, an index per key and a varnok_source table saying where each table came from.
//
// Each table is written in one transaction that also records it in varnok_source: a table the
// command reports done is there whole, and a file that fails leaves the database as it was.
#include "Commands.h"
#include "DefinitionText.h"
#include "Messages.h"
#include "ReadOptions.h"
#include "SqlText.h"

#include <fmt/core.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
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

// A file to convert; with a dictionary table when a directory's dictionary names it.
struct Job
{
    std::string file;
    std::shared_ptr<const fields::Dictionary> dictionary;
    const fields::DictTable* table = nullptr;
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
    Converter(Context& ctx, Database& db, const ConvertOptions& opt, fields::TextDecoder& decoder)
        : ctx_(ctx)
        , db_(db)
        , opt_(opt)
        , decoder_(decoder)
    {
        used_.insert(SourceTable);
    }

    void convert(const Job& job)
    {
        TWinBtr file;
        if (!openFile(ctx_, file, job.file, opt_.owner)
            || !recordsReadable(ctx_, file, job.file, opt_.owner))
            return;
        fields::Layout layout;
        if (job.table) {
            if (file.Stat() != btr::status::Success) {
                ctx_.fail(cannotDo("Cannot read the definition of", job.file, file.GetStatus()));
                return;
            }
            layout = fields::tableLayout(*job.dictionary, *job.table, statBuffer(file));
            for (const std::string& n : layout.notes)
                ctx_.note(job.file + ": " + n);
        } else if (!fileLayout(ctx_, file, job.file, opt_.fields, layout)) {
            return;
        }
        const std::string table = uniqueName(tableName(layout, job.file));
        std::string error;
        if (!db_.exec("BEGIN IMMEDIATE", error)) {
            ctx_.fail("Cannot convert " + job.file + " into " + opt_.into + ": " + error + ".");
            return;
        }
        uint64_t records = 0;
        uint64_t invalid = 0;
        if (!fill(file, job.file, table, layout, records, invalid, error)) {
            std::string ignored;
            db_.exec("ROLLBACK", ignored);
            ctx_.fail("Cannot convert " + job.file + " into " + opt_.into + ": " + error);
            return;
        }
        if (!db_.exec("COMMIT", error)) {
            std::string ignored;
            db_.exec("ROLLBACK", ignored);
            ctx_.fail("Cannot convert " + job.file + " into " + opt_.into + ": " + error + ".");
            return;
        }
        fmt::print(ctx_.io.out, "{} -> {}: {} records\n", job.file, table, records);
        if (invalid > 0) {
            ctx_.note(fmt::format("{}: {} values were not valid for their type; they are stored "
                                  "as 0x and their bytes in hex.",
                job.file, invalid));
        }
    }

private:
    std::string uniqueName(const std::string& wanted)
    {
        std::string name = wanted;
        for (int n = 2; !used_.insert(fields::lowerCase(name)).second; ++n)
            name = wanted + "_" + std::to_string(n);
        return name;
    }

    // The table's rows, indexes and varnok_source row, inside the open transaction.
    bool fill(TWinBtr& file, const std::string& name, const std::string& table,
        const fields::Layout& layout, uint64_t& records, uint64_t& invalid, std::string& error)
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
                    bindField(stmt, int(i + 1), layout.fields[i], columns[i], data, length,
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
            error = cannotRead(name, status);
            return false;
        }
        std::vector<std::string> notes;
        for (const KeyIndex& index : keyIndexes(layout, stat, notes)) {
            if (!index.unique) {
                if (!db_.exec(index.create(table, false), error))
                    return false;
                continue;
            }
            // Distinct stored bytes can read as the same text (trailing blanks, null keys), so a
            // key without duplicates may still not make a unique index of its values.
            std::string uniqueError;
            if (!db_.exec("SAVEPOINT unique_index", error)
                || (!db_.exec(index.create(table, true), uniqueError)
                    && (!db_.exec("ROLLBACK TO unique_index", error)
                        || !db_.exec(index.create(table, false), error)))
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
            = definitionJson(name, stat)
                  .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
        sqlite3_bind_text(source.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(source.get(), 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(source.get(), 3, layout.origin.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(source.get(), 4, decoder_.encoding().c_str(), -1, SQLITE_TRANSIENT);
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
        const uint8_t* data, size_t length, std::string& value, uint64_t& invalid)
    {
        // Fillers and the variable part are stored as the bytes they are.
        if (f.hex() && f.offset + size_t(f.length) <= length) {
            const size_t n
                = f.source == fields::Source::VariablePart ? length - f.offset : f.length;
            sqlite3_bind_blob(stmt, at, data + f.offset, int(n), SQLITE_STATIC);
            return;
        }
        value.clear();
        const fields::Kind kind = fields::appendField(f, data, length, decoder_, value);
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
    fields::TextDecoder& decoder_;
    std::set<std::string> used_;
};

// The jobs a directory gives: every table its dictionary names, or without a dictionary every
// file in it that is a data file.
bool directoryJobs(Context& ctx, const std::string& directory, std::vector<Job>& jobs)
{
    fields::DictionaryRead read = fields::readDictionary(directory);
    if (read.present) {
        if (!read.ok()) {
            ctx.fail(read.error);
            return false;
        }
        for (const std::string& p : read.dictionary.problems)
            ctx.note(p);
        auto dictionary = std::make_shared<const fields::Dictionary>(std::move(read.dictionary));
        for (const fields::DictTable& t : dictionary->tables) {
            if (t.dictionaryFile())
                continue;
            const fields::Located at = fields::locate(dictionary->directory, t.location);
            if (!at.found()) {
                ctx.fail("Cannot convert table " + t.name + ": " + at.error + ".");
                continue;
            }
            jobs.push_back({at.path.string(), dictionary, &t});
        }
        return true;
    }
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError))
            names.push_back(it->path().string());
    }
    if (ec) {
        ctx.fail("Cannot read the directory " + directory + ": " + ec.message() + ".");
        return false;
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        TWinBtr file;
        if (file.Open(name.c_str(), "", btr::mode::ReadOnly) != btr::status::Success) {
            const int16_t status = file.GetStatus();
            if (file.IsOpen)
                file.Close();
            ctx.note(name + " is passed over: " + statusWords(status) + ".");
            continue;
        }
        file.Close();
        jobs.push_back({name, nullptr, nullptr});
    }
    return true;
}

void runConvert(Context& ctx, const ConvertOptions& opt)
{
    fields::TextDecoder decoder(opt.fields.encoding);
    if (!decoder.valid()) {
        ctx.fail(decoder.error());
        return;
    }
    std::vector<Job> jobs;
    for (const std::string& source : opt.sources) {
        std::error_code ec;
        if (fs::is_directory(source, ec))
            directoryJobs(ctx, source, jobs);
        else
            jobs.push_back({source, nullptr, nullptr});
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
    Converter converter(ctx, db, opt, decoder);
    for (const Job& job : jobs)
        converter.convert(job);
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
