#include "Export.h"

#include "CopyRecords.h"
#include "Messages.h"
#include "SqliteTable.h"
#include "TextWriter.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace exporting {

namespace {

constexpr size_t StreamBuffer = 1 << 20;

// Permissions a file created the ordinary way would get.
mode_t creationMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

spec::SpecBuffer statImage(const TWinBtr& file)
{
    spec::SpecBuffer image;
    std::copy(std::begin(file.StatBuffer), std::end(file.StatBuffer), image.bytes.begin());
    return image;
}

// The export's file under a name of its own beside the destination (same directory, so the same
// file system, and the rename that completes it is atomic). Removed again unless kept.
class TemporaryFile
{
public:
    ~TemporaryFile()
    {
        if (stream_)
            std::fclose(stream_);
        if (!name_.empty())
            ::unlink(name_.c_str());
    }

    // Creates it and, for `stream`, opens it for writing; errno says why not.
    bool create(const std::string& destination, bool stream)
    {
        std::string pattern = destination + ".partial-XXXXXX";
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0)
            return false;
        name_ = pattern;
        ::fchmod(fd, creationMode());
        if (!stream)
            return ::close(fd) == 0;
        stream_ = ::fdopen(fd, "wb");
        if (!stream_) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return false;
        }
        std::setvbuf(stream_, nullptr, _IOFBF, StreamBuffer);
        return true;
    }

    const std::string& name() const { return name_; }
    std::FILE* stream() const { return stream_; }

    // Makes what was written durable and gives it the destination's name; errno says why not.
    bool keepAs(const std::string& destination)
    {
        if (stream_) {
            std::FILE* stream = stream_;
            stream_ = nullptr;
            int error = 0;
            if (std::fflush(stream) != 0 || ::fsync(::fileno(stream)) != 0)
                error = errno;
            if (std::fclose(stream) != 0 && error == 0)
                error = errno;
            if (error != 0) {
                errno = error;
                return false;
            }
        } else {
            const int fd = ::open(name_.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return false;
            const bool synced = ::fsync(fd) == 0;
            const int error = errno;
            ::close(fd);
            if (!synced) {
                errno = error;
                return false;
            }
        }
        if (::rename(name_.c_str(), destination.c_str()) != 0)
            return false;
        name_.clear();
        return true;
    }

private:
    std::string name_;
    std::FILE* stream_ = nullptr;
};

// Counts the records written and asks the caller, every ProgressEvery records, whether to go on.
class Pacer
{
public:
    Pacer(const ProgressFn& progress, uint64_t total)
        : progress_(progress)
        , total_(total)
    { }

    // False when the caller cancels.
    bool step()
    {
        ++done_;
        if (!progress_ || done_ % ProgressEvery != 0)
            return true;
        return progress_(done_, total_);
    }
    bool last() { return !progress_ || progress_(done_, total_); }

private:
    const ProgressFn& progress_;
    uint64_t total_;
    uint64_t done_ = 0;
};

Result failure(std::string error, uint64_t records = 0)
{
    Result r;
    r.error = std::move(error);
    r.records = records;
    return r;
}

Result cancelled(uint64_t records)
{
    Result r;
    r.cancelled = true;
    r.records = records;
    r.error = "The export was cancelled; nothing was written.";
    return r;
}

// The read that stopped an export before the end.
std::string readFailure(TWinBtr& file, const std::string& sourceName, int16_t status,
    uint64_t records, const std::string& path)
{
    return cannotDo("Cannot read", sourceName, status, file.Reason()) + " "
        + std::to_string(records) + " records were exported before; " + path + " is not written.";
}

Result exportText(TWinBtr& file, const std::string& sourceName, const fields::Layout& layout,
    fields::TextDecoder& decoder, const Order& order, const Settings& settings,
    const std::string& path, const ProgressFn& progress)
{
    if (settings.format == Format::Csv
        && (settings.delimiter == '"' || settings.delimiter == '\r' || settings.delimiter == '\n'
            || settings.delimiter == '\0'))
        return failure("The delimiter must be one character other than a quote or a line end.");
    std::vector<std::string> notes;
    const std::vector<KeyIndex> indexes = settings.format == Format::Sql
        ? keyIndexes(layout, statImage(file), notes)
        : std::vector<KeyIndex>();
    const std::string table
        = settings.table.empty() ? tableName(layout, sourceName, decoder) : settings.table;

    TemporaryFile output;
    if (!output.create(path, true))
        return failure(fileFailure("Cannot create", path, errno));
    TextWriter writer(layout, decoder, settings, output.stream());
    if (!writer.begin(table, indexes))
        return failure(fileFailure("Cannot write", path, errno));
    applyOrder(file, order);
    Pacer pacer(progress, uint64_t(std::max(file.RecordCount(), 0)));
    int writeError = 0;
    bool stopped = false;
    const int16_t status = readEveryRecord(
        file,
        [&] {
            if (!writer.record(file.Buffer, file.ReturnedLength)) {
                writeError = errno;
                return false;
            }
            stopped = !pacer.step();
            return !stopped;
        },
        order.descending);
    if (writeError != 0)
        return failure(fileFailure("Cannot write", path, writeError), writer.rows());
    if (stopped)
        return cancelled(writer.rows());
    if (status != btr::status::EndOfFile)
        return failure(readFailure(file, sourceName, status, writer.rows(), path), writer.rows());
    if (!pacer.last())
        return cancelled(writer.rows());
    if (!writer.end() || !output.keepAs(path))
        return failure(fileFailure("Cannot write", path, errno), writer.rows());
    Result r;
    r.ok = true;
    r.records = writer.rows();
    r.invalidValues = writer.invalid();
    return r;
}

Result exportDatabase(TWinBtr& file, const std::string& sourceName, const fields::Layout& layout,
    fields::TextDecoder& decoder, const Order& order, const Settings& settings,
    const std::string& path, const ProgressFn& progress)
{
    TemporaryFile output;
    if (!output.create(path, false))
        return failure(fileFailure("Cannot create", path, errno));
    const auto databaseFailure = [&path](const std::string& error, uint64_t records = 0) {
        return failure("Cannot export into the database " + path + ": " + error
                + (error.empty() || error.back() == '.' ? "" : "."),
            records);
    };
    Database db;
    std::string error;
    // The database is new and private until the rename: it needs no journal, and it is made
    // durable once, whole, before it gets its name.
    if (!db.open(output.name(), error)
        || !db.exec("PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF", error)
        || !db.createSourceTable(error) || !db.exec("BEGIN", error))
        return databaseFailure(error);
    const std::string table
        = settings.table.empty() ? tableName(layout, sourceName, decoder) : settings.table;
    TableWriter writer(db, layout, decoder);
    if (!writer.begin(table, error))
        return databaseFailure(error);
    applyOrder(file, order);
    Pacer pacer(progress, uint64_t(std::max(file.RecordCount(), 0)));
    bool refused = false;
    bool stopped = false;
    const int16_t status = readEveryRecord(
        file,
        [&] {
            if (!writer.record(file.Buffer, file.ReturnedLength)) {
                refused = true;
                return false;
            }
            stopped = !pacer.step();
            return !stopped;
        },
        order.descending);
    if (refused)
        return databaseFailure(db.message(), writer.rows());
    if (stopped)
        return cancelled(writer.rows());
    if (status != btr::status::EndOfFile)
        return failure(readFailure(file, sourceName, status, writer.rows(), path), writer.rows());
    if (!pacer.last())
        return cancelled(writer.rows());
    std::vector<std::string> notes;
    if (!writer.finish(statImage(file), sourceName, {}, notes, error) || !db.exec("COMMIT", error)
        || !db.close(error))
        return databaseFailure(error, writer.rows());
    if (!output.keepAs(path))
        return failure(fileFailure("Cannot write", path, errno), writer.rows());
    Result r;
    r.ok = true;
    r.records = writer.rows();
    r.invalidValues = writer.invalid();
    return r;
}

} // namespace

void applyOrder(TWinBtr& file, const Order& order)
{
    if (order.key < 0 || file.IndexCount() == 0) {
        file.UseStep = true;
        return;
    }
    file.UseStep = false;
    file.KeyNumber = static_cast<uint8_t>(order.key);
}

Result exportFile(TWinBtr& file, const std::string& sourceName, const fields::Layout& layout,
    fields::TextDecoder& decoder, const Order& order, const Settings& settings,
    const std::string& path, const ProgressFn& progress)
{
    if (path.empty())
        return failure("No file to export " + sourceName + " into was given.");
    if (order.key > 255)
        return failure(cannotDo("Cannot read", sourceName, btr::status::InvalidKeyNumber));
    // The definition as it is now: the key indexes and varnok_source are made from it.
    if (file.Stat() != btr::status::Success)
        return failure(cannotDo("Cannot read", sourceName, file.GetStatus(), file.Reason()));
    if (settings.format == Format::Sqlite)
        return exportDatabase(file, sourceName, layout, decoder, order, settings, path, progress);
    return exportText(file, sourceName, layout, decoder, order, settings, path, progress);
}

} // namespace exporting
