// Creating a store: the schema for a definition, built under a temporary name in the target's
// directory and put in place in one step; and recognising a store from its first bytes.
#include "Store.h"

#include "BtrCall.h"
#include "Posix.h"
#include "Schema.h"
#include "Sqlite.h"

#include <cstring>

namespace recman {

namespace {

using namespace store;

int16_t createStatus(int rc)
{
    return primaryCode(rc) == SQLITE_FULL ? st::DiskFull : st::CreateIoError;
}

int16_t buildStore(
    const std::string& path, const Definition& def, const uint8_t* image, size_t imageLength)
{
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close_v2(db);
        return createStatus(rc);
    }
    // Nobody sees the file under its temporary name, and a failed build is thrown away whole, so
    // it is built in one transaction with neither a journal nor syncs of its own; the finished
    // file is made durable once, before it takes its name.
    std::string sql = "PRAGMA journal_mode = OFF;"
                      "PRAGMA synchronous = OFF;"
                      "BEGIN;"
                      "PRAGMA application_id = "
        + std::to_string(ApplicationId)
        + ";"
          "PRAGMA user_version = "
        + std::to_string(FormatVersion)
        + ";"
          "CREATE TABLE definition(image BLOB NOT NULL);"
          "CREATE TABLE counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);"
          "INSERT INTO counters VALUES('"
        + RecordsCounter + "', 0);" + "INSERT INTO counters VALUES('" + PositionsCounter + "', 0);";
    std::string cols;
    std::string indexes;
    for (size_t i = 0; i < def.keys.size(); ++i) {
        const Key& k = def.keys[i];
        const std::string c = keyColumn(i);
        cols += ", " + c + " BLOB";
        sql += "INSERT INTO counters VALUES('" + c + ValuesSuffix + "', 0);";
        if (isAutoincrement(k))
            sql += "INSERT INTO counters VALUES('" + c + HighestSuffix + "', 0);";
        // Equal values stay in the order they were taken: by sequence number.
        indexes.append(k.duplicates() ? "CREATE INDEX records_" : "CREATE UNIQUE INDEX records_")
            .append(c)
            .append(" ON records(")
            .append(c);
        if (k.duplicates())
            indexes.append(", ").append(sequenceColumn(i));
        indexes.append(")");
        if (k.nullAll() || k.nullAny())
            indexes.append(" WHERE ").append(c).append(" IS NOT NULL");
        indexes.append(";");
    }
    for (size_t i = 0; i < def.keys.size(); ++i) {
        if (def.keys[i].duplicates())
            cols += ", " + sequenceColumn(i) + " INTEGER";
    }
    sql += "CREATE TABLE records(pos INTEGER PRIMARY KEY, data BLOB NOT NULL" + cols + ");";
    sql += indexes;
    rc = exec(db, sql.c_str());
    if (rc == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        rc = sqlite3_prepare_v2(db, "INSERT INTO definition(image) VALUES(?1)", -1, &s, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_bind_blob(s, 1, image, static_cast<int>(imageLength), SQLITE_STATIC);
            rc = sqlite3_step(s);
            rc = rc == SQLITE_DONE ? SQLITE_OK : rc;
        }
        sqlite3_finalize(s);
    }
    if (rc == SQLITE_OK)
        rc = exec(db, "COMMIT");
    int16_t status = rc == SQLITE_OK ? st::Success : createStatus(rc);
    if (sqlite3_close(db) != SQLITE_OK && status == st::Success)
        status = st::CreateIoError;
    if (status == st::Success) {
        if (const int error = posix::syncFile(path))
            status = posix::classify(error) == posix::Failure::NoSpace ? st::DiskFull
                                                                       : st::CreateIoError;
    }
    return status;
}

// SQLite's file header: the text it begins with, and two of its big-endian words.
constexpr char SqliteHeaderText[16] = "SQLite format 3";
constexpr size_t SqliteHeaderSize = 100;
constexpr size_t UserVersionOffset = 60;
constexpr size_t ApplicationIdOffset = 68;

uint32_t bigEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

} // namespace

int currentStoreVersion()
{
    return FormatVersion;
}

bool isStoreFile(const std::string& path, int* formatVersion)
{
    posix::ReadOnlyFile file;
    uint8_t header[SqliteHeaderSize];
    if (file.open(path) != 0 || !file.readAt(0, header, sizeof header)
        || std::memcmp(header, SqliteHeaderText, sizeof SqliteHeaderText) != 0
        || bigEndian32(header + ApplicationIdOffset) != static_cast<uint32_t>(ApplicationId))
        return false;
    const uint32_t version = bigEndian32(header + UserVersionOffset);
    if (formatVersion)
        *formatVersion = int(version);
    return version >= uint32_t(FirstFormatVersion) && version <= uint32_t(FormatVersion);
}

namespace store {

int16_t upgradeStore(sqlite3* db, const Definition& def, int& version)
{
    if (version >= FormatVersion)
        return st::Success;
    // One transaction: the file is either of the new version whole or of the old one.
    std::string sql = "BEGIN IMMEDIATE;";
    for (size_t i = 0; i < def.keys.size(); ++i) {
        const Key& k = def.keys[i];
        if (!k.duplicates())
            continue;
        const std::string c = keyColumn(i), s = sequenceColumn(i);
        // Equal values were in position order: their sequence numbers are their positions.
        sql += "ALTER TABLE records ADD COLUMN " + s + " INTEGER;";
        sql += "UPDATE records SET " + s + " = pos;";
        sql += "DROP INDEX records_" + c + ";";
        sql += "CREATE INDEX records_" + c + " ON records(" + c + ", " + s + ")";
        if (k.nullAll() || k.nullAny())
            sql += " WHERE " + c + " IS NOT NULL";
        sql += ";";
    }
    sql.append("PRAGMA user_version = ").append(std::to_string(FormatVersion)).append(";COMMIT;");
    if (int rc = exec(db, sql.c_str()); rc != SQLITE_OK) {
        exec(db, "ROLLBACK");
        return statusOf(rc, db);
    }
    version = FormatVersion;
    return st::Success;
}

} // namespace store

int16_t createStore(const std::string& path, const Definition& definition, const uint8_t* image,
    size_t imageLength, bool replace)
{
    posix::FileInfo existing;
    if (posix::fileInfo(path, existing) == 0) {
        if (!replace)
            return st::FileAlreadyExists;
        if (!existing.regular)
            return st::CreateIoError;
    }
    const std::string dir = posix::directoryOf(path);
    std::string temp;
    if (int error = posix::createTemporary(dir, ".varnok-create-", temp))
        return posix::classify(error) == posix::Failure::NoSpace ? st::DiskFull : st::CreateIoError;

    int16_t status = buildStore(temp, definition, image, imageLength);
    bool renamed = false;
    if (status == st::Success) {
        if (replace) {
            const int error = posix::renameOver(temp, path);
            renamed = error == 0;
            if (!renamed)
                status = posix::classify(error) == posix::Failure::NoSpace ? st::DiskFull
                                                                           : st::CreateIoError;
        } else if (const int error = posix::linkNew(temp, path)) {
            status = posix::classify(error) == posix::Failure::AlreadyExists ? st::FileAlreadyExists
                                                                             : st::CreateIoError;
        }
    }
    if (!renamed)
        posix::removeFile(temp);
    posix::removeFile(temp + "-journal");
    if (status == st::Success)
        posix::syncDirectory(dir);
    return status;
}

} // namespace recman
