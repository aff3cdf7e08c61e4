// The export writers over any record under any layout. The input is a byte choosing the code page
// and the CSV delimiter, the number of fields, four bytes per field (type, offset, length,
// decimals), then the record's bytes.
//
// Whatever the bytes, every format must come out whole: valid UTF-8; a JSON Lines line that JSON
// reads, with one member per field; a CSV line that splits back into one value per field; and an
// SQL script for SQLite that SQLite runs, leaving exactly one row.
#include "DefinitionLayout.h"
#include "FuzzSupport.h"
#include "TextWriter.h"

#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

namespace exttype = btr::exttype;

constexpr std::array<uint8_t, 24> Types = {exttype::String, exttype::Integer, exttype::Float,
    exttype::Date, exttype::Time, exttype::Decimal, exttype::Money, exttype::Logical,
    exttype::Numeric, exttype::BFloat, exttype::LString, exttype::ZString, exttype::Note,
    exttype::LVar, exttype::Unsigned, exttype::Autoincrement, exttype::Bit, exttype::SignSeparate,
    exttype::Currency, exttype::Timestamp, exttype::WString, exttype::WZString, exttype::Guid, 99};
constexpr std::array<const char*, 4> CodePages = {"CP437", "CP866", "CP1252", "UTF-8"};
constexpr std::array<char, 4> Delimiters = {',', ';', '\t', '|'};
constexpr size_t MaxFields = 12;
constexpr size_t FieldBytes = 4;

fields::TextDecoder& decoder(size_t i)
{
    static std::array<std::unique_ptr<fields::TextDecoder>, CodePages.size()> decoders;
    if (!decoders[i]) {
        decoders[i] = std::make_unique<fields::TextDecoder>(CodePages[i]);
        if (!decoders[i]->valid())
            fuzz::fail(std::string("iconv does not know ") + CodePages[i]);
    }
    return *decoders[i];
}

// What the writer wrote for one record in `format`.
std::string written(const fields::Layout& layout, fields::TextDecoder& text,
    exporting::Settings settings, exporting::Format format, const uint8_t* record, size_t length)
{
    settings.format = format;
    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&buffer, &size);
    if (!out)
        fuzz::fail("open_memstream failed");
    {
        exporting::TextWriter writer(layout, text, settings, out);
        if (!writer.begin("t", {}) || !writer.record(record, length) || !writer.end())
            fuzz::fail("a memory stream refused a line");
    }
    std::fclose(out);
    std::string result(buffer, size);
    std::free(buffer);
    if (!fields::isUtf8(result.data(), result.size()))
        fuzz::fail("an export is not valid UTF-8");
    return result;
}

// The values of one CSV line (without its CRLF), as a reader splits them.
size_t csvValues(const std::string& line, char delimiter)
{
    size_t values = 1;
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"' && i + 1 < line.size() && line[i + 1] == '"')
                ++i;
            else if (c == '"')
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == delimiter) {
            ++values;
        } else if (c == '\r' || c == '\n') {
            fuzz::fail("a line end outside quotes in a CSV value");
        }
    }
    if (quoted)
        fuzz::fail("a CSV quote is left open");
    return values;
}

fuzz::Bytes input(uint8_t settings, const std::vector<std::array<uint8_t, 4>>& fieldsOf,
    const fuzz::Bytes& record)
{
    fuzz::Bytes bytes = {settings, uint8_t(fieldsOf.size())};
    for (const auto& f : fieldsOf)
        bytes.insert(bytes.end(), f.begin(), f.end());
    bytes.insert(bytes.end(), record.begin(), record.end());
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, [](const fuzz::SeedSink& sink) {
        const fuzz::Bytes person = {'M', 0x81, 'l', 'l', 'e', 'r', ' ', ' ', 0x2A, 0, 0, 0, 9, 3,
            0xD1, 0x07, 0x39, 0x30, 0, 0, 0, 0x01};
        // string, integer, date, money, logical
        sink("person",
            input(0, {{0, 0, 8, 0}, {1, 8, 4, 0}, {3, 12, 4, 0}, {6, 16, 4, 2}, {7, 20, 2, 0}},
                person));
        const fuzz::Bytes quoting = {'a', ',', 'b', '"', '\n', 'c', ';', '\t', 0, 0};
        sink("quoting", input(1, {{0, 0, 5, 0}, {11, 5, 5, 0}}, quoting));
        const fuzz::Bytes invalid = {0xFF, 0xFF, 0xFF, 0xFF, 0x13, 0x61, 0, 0, 0, 0, 0, 0};
        sink("invalid", input(2, {{3, 0, 4, 0}, {4, 4, 4, 0}, {5, 8, 4, 9}}, invalid));
        fuzz::Bytes variable = {3, 'a', 'b', 'c', 1, 2, 3, 4, 5, 6, 7};
        sink("lstring-variable", input(3, {{10, 0, 4, 0}}, variable));
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t count = std::min<size_t>(data[1], MaxFields);
    const size_t header = 2 + count * FieldBytes;
    if (size < header)
        return 0;
    const uint8_t* record = data + header;
    const size_t length = size - header;

    fields::Layout layout;
    layout.recordLength = uint32_t(length);
    layout.variableLength = (data[0] & 0x80) != 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* f = data + 2 + i * FieldBytes;
        fields::Field field;
        field.name = "f" + std::to_string(i);
        field.type = {Types[f[0] % Types.size()], f[3], (f[0] & 0x80) != 0};
        field.offset = f[1];
        field.length = f[2];
        layout.fields.push_back(field);
    }
    fields::completeLayout(layout);
    const size_t columns = layout.fields.size();

    fields::TextDecoder& text = decoder(data[0] % CodePages.size());
    exporting::Settings settings;
    settings.delimiter = Delimiters[(data[0] >> 2) % Delimiters.size()];
    settings.null = "\\N";

    const std::string jsonl
        = written(layout, text, settings, exporting::Format::JsonLines, record, length);
    const nlohmann::json object = nlohmann::json::parse(jsonl, nullptr, false);
    if (object.is_discarded() || !object.is_object())
        fuzz::fail("a JSON Lines line is not a JSON object: " + jsonl);
    if (object.size() != columns)
        fuzz::fail("a JSON Lines object lacks a field: " + jsonl);

    const std::string csv = written(layout, text, settings, exporting::Format::Csv, record, length);
    const size_t headerEnd = csv.find("\r\n");
    if (headerEnd == std::string::npos || csv.size() < headerEnd + 4
        || csv.compare(csv.size() - 2, 2, "\r\n") != 0)
        fuzz::fail("a CSV export is not a header and a line");
    const std::string line = csv.substr(headerEnd + 2, csv.size() - headerEnd - 4);
    if (columns > 0 && csvValues(line, settings.delimiter) != columns)
        fuzz::fail("a CSV line does not split into its fields: " + line);

    const std::string sql = written(layout, text, settings, exporting::Format::Sql, record, length);
    if (columns > 0) {
        sqlite3* db = nullptr;
        if (sqlite3_open(":memory:", &db) != SQLITE_OK)
            fuzz::fail("SQLite cannot open a memory database");
        char* message = nullptr;
        const bool ran = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK;
        const std::string why = message ? message : "";
        sqlite3_free(message);
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, "SELECT count(*) FROM t", -1, &stmt, nullptr);
        const bool oneRow
            = stmt && sqlite3_step(stmt) == SQLITE_ROW && sqlite3_column_int(stmt, 0) == 1;
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        if (!ran)
            fuzz::fail("SQLite refuses an export's script: " + why + "\n" + sql);
        if (!oneRow)
            fuzz::fail("an export's script does not leave its one row");
    }
    exporting::Settings postgresql = settings;
    postgresql.dialect = exporting::Dialect::Postgresql;
    written(layout, text, postgresql, exporting::Format::Sql, record, length);
    return 0;
}
