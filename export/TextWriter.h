// The text formats of an export: CSV (RFC 4180, CRLF line ends), JSON Lines (one object per
// record, numbers and booleans as JSON values) and an SQL script (CREATE TABLE, INSERTs committed
// in batches, the key indexes last) for SQLite or PostgreSQL.
//
// The writer reuses its line and value buffers from record to record: nothing is allocated per
// record once the longest line has been seen.
#pragma once

#include "Export.h"
#include "SqlText.h"

#include <cstdio>
#include <string>
#include <vector>

namespace exporting {

class TextWriter
{
public:
    // Writes to `out`, which the caller opens and closes; `settings.format` is one of the text
    // formats.
    TextWriter(const fields::Layout& layout, fields::TextDecoder& decoder, const Settings& settings,
        std::FILE* out);

    // The CSV header or the script's CREATE TABLE and first BEGIN; `indexes` are created by end().
    bool begin(const std::string& table, const std::vector<KeyIndex>& indexes);
    // One record of `length` bytes. False when the stream refused the line (errno says why).
    bool record(const uint8_t* data, size_t length);
    // The script's last COMMIT and its indexes; nothing for CSV and JSON Lines.
    bool end();

    uint64_t rows() const { return rows_; }
    uint64_t invalid() const { return invalid_; }

private:
    bool csvRecord(const uint8_t* data, size_t length);
    bool write();

    const fields::Layout& layout_;
    fields::TextDecoder& decoder_;
    const Settings settings_;
    std::FILE* out_;
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

// A value as a CSV field: quoted, with quotes doubled, when it holds the delimiter, a quote or a
// line end.
void appendCsv(const std::string& value, char delimiter, std::string& line);
// A JSON string, with the characters JSON requires escaped.
void appendJsonString(const std::string& value, std::string& line);

} // namespace exporting
