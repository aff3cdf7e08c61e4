// UTF-8 text, as a user types it, turned into a file's code page: the inverse of TextDecoder, for
// writing a value back into a record. The code page is any name iconv knows; a character the code
// page has no byte for is refused and named, never replaced by a look-alike or a question mark,
// since a record rewritten with a guessed letter loses what the user meant.
#pragma once

#include "TextDecoder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fields {

class TextEncoder
{
public:
    explicit TextEncoder(const std::string& encoding = DefaultEncoding);
    ~TextEncoder();
    TextEncoder(const TextEncoder&) = delete;
    TextEncoder& operator=(const TextEncoder&) = delete;

    // False when iconv knows no such code page (error() says so).
    bool valid() const { return valid_; }
    const std::string& error() const { return error_; }
    const std::string& encoding() const { return encoding_; }

    // Appends the text in the code page. False, with `out` as it was and `why` saying which
    // character and why ("'Ж' cannot be written in CP437"), when the text is not valid UTF-8 or a
    // character has no place in the code page. Text that is all ASCII is copied as it is, as
    // TextDecoder reads it.
    bool append(std::string_view text, std::string& out, std::string& why);

private:
    std::string encoding_;
    std::string error_;
    void* cd_ = nullptr; // iconv_t
    bool valid_ = false;
};

// The length of the well-formed UTF-8 sequence at the start of s (1 to 4), or 0 when it is not one
// (a stray continuation byte, an overlong form, a surrogate, a code point above U+10FFFF, a cut
// sequence). `c` is its code point.
size_t utf8Sequence(std::string_view s, uint32_t& c);

// How many characters the UTF-8 text holds; npos when it is not valid UTF-8.
size_t utf8Length(std::string_view s);

} // namespace fields
