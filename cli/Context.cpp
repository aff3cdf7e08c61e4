#include "Context.h"

#include "LittleEndian.h"
#include "Messages.h"
#include "TextDecoder.h"

#include <fmt/core.h>

#include <cstring>

namespace cli {

namespace {

constexpr auto RedrawInterval = std::chrono::milliseconds(200);

} // namespace

// Messages name files whose names need not be UTF-8 (a DOS program's, copied as they were); what
// Varnok writes is.
void Context::fail(const std::string& message)
{
    failed_ = true;
    fmt::print(io.err, "varnok-cli: {}\n", fields::validUtf8(message));
}

void Context::note(const std::string& message)
{
    fmt::print(io.err, "varnok-cli: {}\n", fields::validUtf8(message));
}

bool openFile(Context& ctx, TWinBtr& file, const std::string& name, const std::string& owner)
{
    if (file.Open(name.c_str(), owner.c_str(), btr::mode::Normal) == btr::status::Success)
        return true;
    const int16_t status = file.GetStatus();
    const std::string reason = file.Reason();
    // An Open whose Stat failed leaves the file open; it is of no use to the command.
    if (file.IsOpen)
        file.Close();
    ctx.fail(cannotDo("Cannot open", name, status, reason));
    return false;
}

bool ownerNameMissing(TWinBtr& file, const std::string& owner)
{
    uint8_t facts[btr::facts::Size];
    return owner.empty() && file.GetFileFacts(facts) == btr::status::Success
        && (btr::le::get16(facts + btr::facts::at::Features) & btr::facts::Encrypted);
}

bool recordsReadable(Context& ctx, TWinBtr& file, const std::string& name, const std::string& owner)
{
    if (!ownerNameMissing(file, owner))
        return true;
    ctx.fail(cannotRead(name, btr::status::OwnerNameRequired));
    return false;
}

std::string cannotRead(const std::string& name, int16_t status)
{
    if (status == btr::status::OwnerNameRequired)
        return cannotDo("Cannot read", name, status, OwnerNameAdvice);
    return cannotDo("Cannot read", name, status);
}

std::string copyFailure(
    const CopyOutcome& outcome, const std::string& source, const std::string& destination)
{
    if (outcome.stop == CopyOutcome::Read)
        return cannotRead(source, outcome.status) + " " + recordsCopied(outcome, destination);
    return copyStopped(copyStopWhat(outcome), destination, outcome.status, outcome, destination);
}

int16_t createFile(
    TWinBtr& file, const std::string& name, const uint8_t* image, uint16_t length, bool replace)
{
    if (name.empty() || name.size() >= sizeof file.KeyBuffer) {
        file.Status = btr::status::InvalidFileName;
        return file.Status;
    }
    file.ClearKey(sizeof file.KeyBuffer);
    std::memcpy(file.KeyBuffer, name.c_str(), name.size() + 1);
    file.KeyNumber = static_cast<uint8_t>(replace ? btr::create::Replace : btr::create::NoReplace);
    // Create reads the definition; the record manager does not write into it.
    return file.CallWith(btr::op::Create, const_cast<uint8_t*>(image), length);
}

bool statImage(Context& ctx, const std::string& name, uint8_t (&image)[btr::SpecBufferSize])
{
    TWinBtr file;
    if (!openFile(ctx, file, name))
        return false;
    if (file.StatTo(image) != btr::status::Success) {
        ctx.fail(cannotDo("Cannot read the definition of", name, file.GetStatus()));
        file.Close();
        return false;
    }
    file.Close();
    return true;
}

Progress::Progress(const Context& ctx, std::string label, uint64_t total)
    : err_(ctx.io.err)
    , enabled_(ctx.showProgress())
    , label_(std::move(label))
    , total_(total)
    , start_(std::chrono::steady_clock::now())
    // The first count is drawn as soon as it is looked at; later ones a few times a second.
    , drawn_(start_ - RedrawInterval)
{ }

Progress::~Progress()
{
    finish();
}

void Progress::draw()
{
    const auto now = std::chrono::steady_clock::now();
    if (now - drawn_ < RedrawInterval)
        return;
    drawn_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const auto rate = static_cast<uint64_t>(seconds > 0 ? double(done_) / seconds : 0);
    if (total_ > 0) {
        fmt::print(err_, "\r{}: {} of {} records ({}%), {} records/s\x1b[K", label_, done_, total_,
            done_ * 100 / total_, rate);
    } else {
        fmt::print(err_, "\r{}: {} records, {} records/s\x1b[K", label_, done_, rate);
    }
    std::fflush(err_);
    shown_ = true;
}

void Progress::finish()
{
    if (shown_) {
        fmt::print(err_, "\r\x1b[K");
        std::fflush(err_);
        shown_ = false;
    }
}

} // namespace cli
