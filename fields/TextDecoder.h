// Text in a file's code page turned into UTF-8. Nothing in a data file says which code page its
// text is in (DOS programs wrote CP437 or CP850, Windows programs CP1252), so the user names it
// with any name iconv knows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fields {

constexpr const char* DefaultEncoding = "CP437";

class TextDecoder
{
public:
    explicit TextDecoder(const std::string& encoding = DefaultEncoding);
    ~TextDecoder();
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    // False when iconv knows no such code page (error() says so).
    bool valid() const { return valid_; }
    const std::string& error() const { return error_; }
    const std::string& encoding() const { return encoding_; }

    // Appends the n bytes converted to UTF-8; false, with `out` as it was, when they are not
    // valid text in the code page. Text that is all ASCII is copied as it is.
    bool append(const uint8_t* p, size_t n, std::string& out);

private:
    std::string encoding_;
    std::string error_;
    void* cd_ = nullptr; // iconv_t
    bool valid_ = false;
};

// Appends UTF-16LE text as UTF-8; false (out as it was) for an odd length or an unpaired
// surrogate.
bool appendUtf16(const uint8_t* p, size_t n, std::string& out);

} // namespace fields
