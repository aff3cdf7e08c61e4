// export FILE: every record as named, typed values, as CSV, JSON Lines or an SQL script.
#include "Commands.h"
#include "Messages.h"
#include "Output.h"
#include "ReadOptions.h"
#include "SqlText.h"

#include <fmt/core.h>

#include <cerrno>
#include <memory>

namespace cli {

namespace {

// INSERTs of an SQL script are committed every so many rows, so that a long script neither holds
// one huge transaction nor pays a commit per row.
constexpr uint64_t RowsPerTransaction = 10000;

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

enum class Format { Csv, Jsonl, Sql };

void appendCsv(const std::string& value, char delimiter, std::string& line)
{
    bool quote = false;
    for (char c : value) {
        if (c == delimiter || c == '"' || c == '\n' || c == '\r') {
            quote = true;
            break;
        }
    }
    if (!quote) {
        line += value;
        return;
    }
    line += '"';
    for (char c : value) {
        if (c == '"')
            line += '"';
        line += c;
    }
    line += '"';
}

void appendJsonString(const std::string& value, std::string& line)
{
    static constexpr char Hex[] = "0123456789abcdef";
    line += '"';
    for (char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            line += "\\\"";
            break;
        case '\\':
            line += "\\\\";
            break;
        case '\n':
            line += "\\n";
            break;
        case '\r':
            line += "\\r";
            break;
        case '\t':
            line += "\\t";
            break;
        default:
            if (c < 0x20) {
                line += "\\u00";
                line += Hex[c >> 4];
                line += Hex[c & 0x0F];
            } else {
                line += ch;
            }
        }
    }
    line += '"';
}

void appendSqlString(const std::string& value, std::string& line)
{
    line += '\'';
    for (char c : value) {
        if (c == '\'')
            line += '\'';
        line += c;
    }
    line += '\'';
}

// One value of an SQL script for a column of the given type.
void appendSqlValue(fields::Kind kind, fields::Column column, Dialect dialect,
    const std::string& value, std::string& line)
{
    using fields::Kind;
    switch (kind) {
    case Kind::Null:
        line += "NULL";
        return;
    case Kind::Bytes:
        if (dialect == Dialect::Sqlite) {
            line += "X'";
            line += value;
            line += '\'';
        } else {
            line += "'\\x";
            line += value;
            line += '\'';
        }
        return;
    case Kind::Invalid:
        // SQLite keeps the hex text in any column; PostgreSQL refuses text in a number column,
        // so there the value is null and its bytes stay beside it in a comment.
        if (dialect == Dialect::PostgreSql && column != fields::Column::Text) {
            line += "NULL /* ";
            line += value;
            line += " */";
        } else {
            appendSqlString(value, line);
        }
        return;
    case Kind::Number:
    case Kind::Boolean:
        if (column == fields::Column::Exact && dialect == Dialect::Sqlite)
            appendSqlString(value, line);
        else
            line += value;
        return;
    case Kind::Text:
        appendSqlString(value, line);
        return;
    }
}

class Exporter
{
public:
    Exporter(const ExportOptions& opt, const fields::Layout& layout, fields::TextDecoder& decoder,
        std::FILE* out, Format format, Dialect dialect, char delimiter)
        : opt_(opt)
        , layout_(layout)
        , decoder_(decoder)
        , out_(out)
        , format_(format)
        , dialect_(dialect)
        , delimiter_(delimiter)
    {
        for (const char c : {delimiter, '"', '\r', '\n'})
            quoted_[static_cast<unsigned char>(c)] = true;
        for (const fields::Field& f : layout.fields) {
            columns_.push_back(fields::columnOf(f));
            std::string key;
            appendJsonString(f.name, key);
            jsonKeys_.push_back(key + ":");
        }
    }

    void begin(const std::string& table, const std::vector<KeyIndex>& indexes)
    {
        table_ = table;
        indexes_ = indexes;
        line_.clear();
        if (format_ == Format::Csv && !opt_.noHeader) {
            for (size_t i = 0; i < layout_.fields.size(); ++i) {
                if (i)
                    line_ += delimiter_;
                appendCsv(layout_.fields[i].name, delimiter_, line_);
            }
            line_ += "\r\n";
        } else if (format_ == Format::Sql) {
            line_ += createTable(table, layout_, dialect_) + ";\nBEGIN;\n";
            insert_ = "INSERT INTO " + quoteIdentifier(table) + " VALUES (";
        }
        write();
    }

    bool record(const uint8_t* data, size_t length)
    {
        line_.clear();
        if (format_ == Format::Csv)
            return csvRecord(data, length);
        if (format_ == Format::Sql) {
            if (rows_ > 0 && rows_ % RowsPerTransaction == 0)
                line_ += "COMMIT;\nBEGIN;\n";
            line_ += insert_;
        } else if (format_ == Format::Jsonl) {
            line_ += '{';
        }
        const size_t count = layout_.fields.size();
        for (size_t i = 0; i < count; ++i) {
            value_.clear();
            const fields::Kind kind
                = fields::appendField(layout_.fields[i], data, length, decoder_, value_);
            if (kind == fields::Kind::Invalid)
                ++invalid_;
            switch (format_) {
            case Format::Csv:
                break;
            case Format::Jsonl:
                if (i)
                    line_ += ',';
                line_ += jsonKeys_[i];
                if (kind == fields::Kind::Null)
                    line_ += "null";
                else if (kind == fields::Kind::Number)
                    line_ += value_;
                else if (kind == fields::Kind::Boolean)
                    line_ += value_ == "1" ? "true" : "false";
                else
                    appendJsonString(value_, line_);
                break;
            case Format::Sql:
                if (i)
                    line_ += ", ";
                appendSqlValue(kind, columns_[i], dialect_, value_, line_);
                break;
            }
        }
        switch (format_) {
        case Format::Csv:
            line_ += "\r\n";
            break;
        case Format::Jsonl:
            line_ += "}\n";
            break;
        case Format::Sql:
            line_ += ");\n";
            break;
        }
        ++rows_;
        return write();
    }

    bool end()
    {
        line_.clear();
        if (format_ == Format::Sql) {
            line_ += "COMMIT;\n";
            for (const KeyIndex& index : indexes_)
                line_ += index.create(table_, index.unique) + ";\n";
        }
        return write();
    }

    // A CSV line, each value appended straight to it and quoted afterwards in the few cases that
    // need it: the hot loop of an export copies nothing twice.
    bool csvRecord(const uint8_t* data, size_t length)
    {
        const size_t count = layout_.fields.size();
        for (size_t i = 0; i < count; ++i) {
            if (i)
                line_ += delimiter_;
            const size_t start = line_.size();
            const fields::Kind kind
                = fields::appendField(layout_.fields[i], data, length, decoder_, line_);
            if (kind == fields::Kind::Invalid)
                ++invalid_;
            if (kind == fields::Kind::Null) {
                line_ += opt_.null;
                continue;
            }
            const char* p = line_.data() + start;
            const char* end = line_.data() + line_.size();
            while (p != end && !quoted_[static_cast<unsigned char>(*p)])
                ++p;
            if (p != end) {
                value_.assign(line_, start);
                line_.resize(start);
                appendCsv(value_, delimiter_, line_);
            }
        }
        line_ += "\r\n";
        ++rows_;
        return write();
    }

    uint64_t rows() const { return rows_; }
    uint64_t invalid() const { return invalid_; }

private:
    bool write() { return std::fwrite(line_.data(), 1, line_.size(), out_) == line_.size(); }

    const ExportOptions& opt_;
    const fields::Layout& layout_;
    fields::TextDecoder& decoder_;
    std::FILE* out_;
    Format format_;
    Dialect dialect_;
    char delimiter_;
    bool quoted_[256] = {}; // the bytes that make a CSV value need quotes
    std::vector<fields::Column> columns_;
    std::vector<std::string> jsonKeys_;
    std::vector<KeyIndex> indexes_;
    std::string table_;
    std::string insert_;
    std::string line_;
    std::string value_;
    uint64_t rows_ = 0;
    uint64_t invalid_ = 0;
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
    const Format format = opt.format == "jsonl" ? Format::Jsonl
        : opt.format == "sql"                   ? Format::Sql
                                                : Format::Csv;
    const Dialect dialect = opt.dialect == "postgresql" ? Dialect::PostgreSql : Dialect::Sqlite;
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
    const std::vector<KeyIndex> indexes = format == Format::Sql
        ? keyIndexes(layout, statBuffer(source), notes)
        : std::vector<KeyIndex>();
    for (const std::string& n : notes)
        ctx.note(opt.file + ": " + n);
    applyOrder(source, opt.order);
    const auto total = uint64_t(std::max(source.RecordCount(), 0));

    OutputFile output;
    if (!output.open(ctx, opt.output))
        return;
    const std::string target = output.isStandardOutput() ? "standard output" : opt.output;
    Exporter exporter(opt, layout, decoder, output.stream(), format, dialect, delimiter);
    exporter.begin(tableName(layout, opt.file, decoder), indexes);
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
