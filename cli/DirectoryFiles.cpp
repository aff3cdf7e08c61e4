#include "DirectoryFiles.h"

#include "Messages.h"
#include "TextDecoder.h"

#include <fmt/core.h>

#include <algorithm>
#include <filesystem>

namespace cli {

namespace fs = std::filesystem;

bool isFailure(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Damaged:
    case Outcome::NotRead:
    case Outcome::OwnerName:
    case Outcome::Failed:
        return true;
    default:
        return false;
    }
}

Outcome Refusal::outcome() const
{
    switch (kind) {
    case btr::reason::NotADataFile:
        return Outcome::NotADataFile;
    case btr::reason::NotRead:
        return Outcome::NotRead;
    case btr::reason::Damaged:
        return Outcome::Damaged;
    case btr::reason::OwnerName:
        return Outcome::OwnerName;
    case btr::reason::Other:
        return Outcome::Failed;
    default:
        break;
    }
    // A record manager that gives no reasons: what its status says.
    switch (status) {
    case btr::status::NotADataFile:
        return Outcome::NotADataFile;
    case btr::status::IoError:
        return Outcome::Damaged;
    case btr::status::OwnerNameRequired:
        return Outcome::OwnerName;
    default:
        return Outcome::Failed;
    }
}

std::string Refusal::words() const
{
    std::string text = statusWords(status);
    if (!reason.empty())
        text += ": " + reason;
    return text;
}

Refusal refusalOf(TWinBtr& file)
{
    Refusal refusal;
    refusal.status = file.GetStatus();
    refusal.reason = file.Reason(&refusal.kind);
    if (refusal.status == btr::status::OwnerNameRequired)
        refusal.reason = OwnerNameAdvice;
    return refusal;
}

Refusal ownerNameRefusal()
{
    return Refusal {btr::status::OwnerNameRequired, OwnerNameAdvice, btr::reason::OwnerName};
}

bool openToRead(TWinBtr& file, const std::string& name, Refusal& refusal, const std::string& owner)
{
    if (file.Open(name.c_str(), owner.c_str(), btr::mode::ReadOnly) == btr::status::Success)
        return true;
    refusal = refusalOf(file);
    // An Open whose Stat failed leaves the file open; it is of no use.
    if (file.IsOpen)
        file.Close();
    return false;
}

bool directoryFiles(Context& ctx, const std::string& directory, std::vector<std::string>& files)
{
    std::error_code ec;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_regular_file(typeError))
            files.push_back(it->path().string());
    }
    if (ec) {
        ctx.fail("Cannot read the directory " + directory + ": " + ec.message() + ".");
        return false;
    }
    std::sort(files.begin(), files.end());
    return true;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

void DirectorySummary::add(Outcome outcome, std::string line, uint64_t records)
{
    lines_.emplace_back(outcome, fields::validUtf8(line));
    if (outcome == Outcome::Done)
        records_ += records;
}

void DirectorySummary::print(std::FILE* out, const char* done) const
{
    static constexpr Outcome Order[]
        = {Outcome::Done, Outcome::Unnamed, Outcome::Damaged, Outcome::NotRead, Outcome::OwnerName,
            Outcome::Failed, Outcome::Missing, Outcome::NotADataFile, Outcome::Dictionary};
    for (const Outcome outcome : Order) {
        const auto count = size_t(std::count_if(lines_.begin(), lines_.end(),
            [outcome](const auto& line) { return line.first == outcome; }));
        // What was done is said even when nothing was.
        if (count == 0 && outcome != Outcome::Done)
            continue;
        const std::string files = fmt::format("{} file{}", count, count == 1 ? "" : "s");
        switch (outcome) {
        case Outcome::Done:
            fmt::print(out, "{}: {}, {} records\n", done, files, records_);
            break;
        case Outcome::Unnamed:
            fmt::print(out, "Record-manager files the dictionary does not name: {}\n", files);
            break;
        case Outcome::Damaged:
            fmt::print(out, "Damaged (varnok-cli recover may rescue their records): {}\n", files);
            break;
        case Outcome::NotRead:
            fmt::print(out, "Not read (a version or feature Varnok does not read): {}\n", files);
            break;
        case Outcome::OwnerName:
            fmt::print(
                out, "Encrypted without an owner name (give it with --owner NAME): {}\n", files);
            break;
        case Outcome::Failed:
            fmt::print(out, "Failed: {}\n", files);
            break;
        case Outcome::Missing:
            fmt::print(
                out, "Tables whose file is missing: {} table{}\n", count, count == 1 ? "" : "s");
            break;
        case Outcome::NotADataFile:
            fmt::print(out, "Not record-manager files: {}\n", files);
            break;
        case Outcome::Dictionary:
            fmt::print(out, "The data dictionary: {}\n", files);
            break;
        }
        for (const auto& [o, line] : lines_) {
            if (o == outcome)
                fmt::print(out, "  {}\n", line);
        }
    }
}

} // namespace cli
