#include "Sequential.h"

#include "DefinitionLayout.h"
#include "LittleEndian.h"

#include <cerrno>
#include <charconv>

namespace sequential {

namespace {

constexpr uint8_t Comma = ',';
constexpr uint8_t Blank = ' ';
constexpr uint8_t CarriageReturn = 0x0D;
constexpr uint8_t LineFeed = 0x0A;
// 65535 has five digits; a longer run of digits is no length a record can have.
constexpr int MaxLengthDigits = 5;
constexpr size_t ReadChunk = 1 << 16;

int32_t heldRecords(TWinBtr& file)
{
    int32_t count = 0;
    return file.GetRecordCount(count) == btr::status::Success ? count : -1;
}

} // namespace

Writer::Writer(std::FILE* out)
    : out_(out)
{ }

bool Writer::write(const uint8_t* data, uint16_t length)
{
    char head[MaxLengthDigits + 1];
    const auto [end, ec] = std::to_chars(head, head + MaxLengthDigits, length);
    (void)ec; // five digits always hold a 16-bit length
    *end = ',';
    const auto headLength = static_cast<size_t>(end + 1 - head);
    static constexpr char lineEnd[2] = {'\r', '\n'};
    if (std::fwrite(head, 1, headLength, out_) != headLength
        || (length != 0 && std::fwrite(data, 1, length, out_) != length)
        || std::fwrite(lineEnd, 1, sizeof lineEnd, out_) != sizeof lineEnd)
        return false;
    ++records_;
    return true;
}

bool Writer::finish()
{
    return std::fputc(EndOfFileMark, out_) != EOF && std::fflush(out_) == 0;
}

Reader::Reader(std::FILE* in)
    : in_(in)
    , buffer_(ReadChunk)
    , record_(LongestRecord)
{ }

// The next byte of the stream, or EOF (at its end, or when the stream fails: ferror tells).
int Reader::get()
{
    if (bufferAt_ == bufferEnd_) {
        bufferAt_ = 0;
        bufferEnd_ = std::fread(buffer_.data(), 1, buffer_.size(), in_);
        if (bufferEnd_ == 0)
            return EOF;
    }
    ++consumed_;
    return buffer_[bufferAt_++];
}

Reader::Result Reader::fail(Result result, const std::string& what)
{
    error_
        = "record " + std::to_string(number_) + " at byte " + std::to_string(offset_) + ": " + what;
    return result;
}

Reader::Result Reader::next()
{
    ++number_;
    offset_ = consumed_;
    length_ = 0;
    const auto ended = [this](const std::string& what) {
        return std::ferror(in_) ? fail(ReadFailed, std::string("cannot read: ") + what)
                                : fail(Malformed, what);
    };

    int c = get();
    if (c == EOF || c == EndOfFileMark) {
        if (std::ferror(in_))
            return fail(ReadFailed, "cannot read the file");
        --number_;
        return End;
    }
    uint32_t length = 0;
    int digits = 0;
    while (c >= '0' && c <= '9') {
        if (++digits > MaxLengthDigits)
            return fail(Malformed, "the record's length has more than 5 digits");
        length = length * 10 + uint32_t(c - '0');
        c = get();
    }
    if (digits == 0)
        return ended(c == EOF ? "the file ends where a record's length should begin"
                              : "a record's length should begin here, in decimal digits");
    if (length > LongestRecord)
        return fail(Malformed,
            "the record's length " + std::to_string(length) + " is more than 65535 bytes");
    if (c != Comma && c != Blank)
        return ended(c == EOF ? "the file ends after the record's length"
                              : "a comma should follow the record's length");

    for (uint32_t i = 0; i < length; ++i) {
        c = get();
        if (c == EOF) {
            return ended("the file ends after " + std::to_string(i) + " of the record's "
                + std::to_string(length) + " bytes");
        }
        record_[i] = static_cast<uint8_t>(c);
    }
    c = get();
    if (c == CarriageReturn)
        c = get();
    if (c != LineFeed)
        return ended("CR LF should follow the record's " + std::to_string(length) + " bytes");
    length_ = static_cast<uint16_t>(length);
    return Record;
}

SaveOutcome saveRecords(TWinBtr& source, Writer& out, const std::function<void()>& saved)
{
    SaveOutcome outcome;
    const int16_t status = readEveryRecord(source, [&] {
        if (!out.write(source.Buffer, source.ReturnedLength)) {
            outcome.stop = SaveOutcome::Write;
            outcome.writeError = errno;
            return false;
        }
        ++outcome.saved;
        if (saved)
            saved();
        return true;
    });
    if (outcome.stop == SaveOutcome::Write)
        return outcome;
    if (status != btr::status::EndOfFile) {
        outcome.stop = SaveOutcome::Read;
        outcome.status = status;
        return outcome;
    }
    if (!out.finish()) {
        outcome.stop = SaveOutcome::Write;
        outcome.writeError = errno;
    }
    return outcome;
}

LoadOutcome loadRecords(Reader& in, TWinBtr& destination, bool keepGoing,
    const std::function<void()>& inserted, const RefusedRecord& refused)
{
    LoadOutcome outcome;
    CopyOutcome& copy = outcome.copy;
    copy.heldBefore = heldRecords(destination);
    for (;;) {
        const Reader::Result result = in.next();
        if (result == Reader::End)
            break;
        if (result != Reader::Record) {
            copy.stop = CopyOutcome::Read;
            copy.status = btr::status::IoError;
            outcome.error = in.error();
            break;
        }
        destination.SetDataPtr(in.data());
        destination.DataLength = in.length();
        if (destination.Insert() == btr::status::Success) {
            ++copy.inserted;
            if (inserted)
                inserted();
            continue;
        }
        const int16_t status = destination.GetStatus();
        if (!keepGoing || !refusesTheRecord(status)) {
            copy.stop = CopyOutcome::Insert;
            copy.status = status;
            outcome.recordNumber = in.recordNumber();
            outcome.recordOffset = in.recordOffset();
            break;
        }
        ++outcome.refused;
        if (refused)
            refused(in.recordNumber(), in.recordOffset(), status);
    }
    if (copy.failed())
        copy.heldAfter = heldRecords(destination);
    return outcome;
}

} // namespace sequential
