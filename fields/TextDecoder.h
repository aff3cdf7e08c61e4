// Text in a file's code page turned into UTF-8. Nothing in a data file says which code page its
// text is in (DOS programs wrote CP437, CP850, CP852 or CP866, Windows programs CP1250, CP1251 or
// CP1252): the user names it with any name iconv knows, or Varnok guesses it (CodePage.h).
//
// A code page of one byte a character (all those such files were written in) is read through a
// table of its 256 characters that iconv fills once, so a million values cost no iconv call each;
// any other encoding iconv knows goes through iconv value by value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace fields {

constexpr const char* DefaultEncoding = "CP437";
// What --encoding takes for "guess it from the file's text".
constexpr const char* AutoEncoding = "auto";

// No character: the byte is not valid on its own in the code page.
constexpr uint32_t NoCharacter = 0xFFFFFFFF;

// The character of each byte of a code page of one byte a character, as iconv reads each byte;
// false when iconv does not know the encoding or it is not such a code page (UTF-8, UTF-16, a
// code page of several bytes a character, a stateful one).
bool singleByteTable(const std::string& encoding, std::array<uint32_t, 256>& table);

class TextDecoder
{
public:
    explicit TextDecoder(const std::string& encoding = DefaultEncoding);
    ~TextDecoder();
    TextDecoder(TextDecoder&& other) noexcept;
    TextDecoder& operator=(TextDecoder&& other) noexcept;
    TextDecoder(const TextDecoder&) = delete;
    TextDecoder& operator=(const TextDecoder&) = delete;

    // False when iconv knows no such code page (error() says so).
    bool valid() const { return valid_; }
    const std::string& error() const { return error_; }
    const std::string& encoding() const { return encoding_; }

    // Appends the n bytes converted to UTF-8; false, with `out` as it was, when they are not
    // valid text in the code page. Text that is all ASCII is copied as it is.
    bool append(const uint8_t* p, size_t n, std::string& out);

    // A name from a file (a table, a field, a location, a collating sequence) in UTF-8 that is
    // always printable: a byte that is no character of the code page, and a control character,
    // become U+FFFD.
    void appendName(const uint8_t* p, size_t n, std::string& out);
    std::string name(const std::string& raw);

private:
    void close();
    bool appendByIconv(const uint8_t* p, size_t n, std::string& out);

    std::string encoding_;
    std::string error_;
    void* cd_ = nullptr; // iconv_t
    bool valid_ = false;
    // Single-byte code pages: each byte's character, its UTF-8 (up to 3 bytes for these code
    // pages' characters, 4 for any) and that UTF-8's length, 0 for a byte that is no character.
    bool table_ = false;
    std::array<uint32_t, 256> characters_ {};
    std::array<std::array<char, 4>, 256> utf8_ {};
    std::array<uint8_t, 256> utf8Length_ {};
};

// Appends UTF-16LE text as UTF-8; false (out as it was) for an odd length or an unpaired
// surrogate.
bool appendUtf16(const uint8_t* p, size_t n, std::string& out);

// Appends one character as UTF-8.
void appendCodePoint(uint32_t c, std::string& out);

// The small letter of a capital of the Latin, Greek and Cyrillic letters the code pages hold (and
// of ASCII); any other character as it is. Names compare case-insensitively by it.
uint32_t lowerLetter(uint32_t c);
// True for a capital that lowerLetter changes.
inline bool isCapital(uint32_t c)
{
    return lowerLetter(c) != c;
}

// UTF-8 text with every letter lowerLetter knows in small letters; bytes that are no UTF-8 are
// kept as they are.
std::string foldCase(const std::string& text);

// True when the n bytes are valid UTF-8.
bool isUtf8(const char* p, size_t n);
// The text with every byte that is not part of valid UTF-8 replaced by U+FFFD: what Varnok prints
// of a file name that is not UTF-8.
std::string validUtf8(const std::string& text);

} // namespace fields
