#include "TextEncoder.h"

#include <cerrno>
#include <iconv.h>

namespace fields {

namespace {

// iconv_open's failure value.
const auto NoConversion = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)

std::string quotedCharacter(std::string_view s)
{
    uint32_t c = 0;
    const size_t length = utf8Sequence(s, c);
    // A control character would vanish in a message box: it is named by its code point instead.
    if (length == 0 || c < 0x20 || (c >= 0x7F && c < 0xA0)) {
        static constexpr char Hex[] = "0123456789ABCDEF";
        std::string name = "U+";
        for (int shift = c > 0xFFFF ? 20 : 12; shift >= 0; shift -= 4)
            name += Hex[(c >> shift) & 0xF];
        return name;
    }
    // Appended, not added up: GCC 12 warns falsely of overlapping copies in "'" + c + "'".
    std::string quoted(1, '\'');
    quoted.append(s.substr(0, length));
    quoted += '\'';
    return quoted;
}

} // namespace

size_t utf8Sequence(std::string_view s, uint32_t& c)
{
    if (s.empty())
        return 0;
    const auto b0 = uint8_t(s[0]);
    if (b0 < 0x80) {
        c = b0;
        return 1;
    }
    size_t length = 0;
    uint32_t least = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        c = b0 & 0x1F;
        least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        c = b0 & 0x0F;
        least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        c = b0 & 0x07;
        least = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < length)
        return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto b = uint8_t(s[i]);
        if ((b & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (b & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
        return 0;
    return length;
}

size_t utf8Length(std::string_view s)
{
    size_t count = 0;
    for (size_t at = 0; at < s.size(); ++count) {
        uint32_t c = 0;
        const size_t length = utf8Sequence(s.substr(at), c);
        if (length == 0)
            return std::string_view::npos;
        at += length;
    }
    return count;
}

TextEncoder::TextEncoder(const std::string& encoding)
    : encoding_(encoding)
{
    const iconv_t cd = ::iconv_open(encoding.c_str(), "UTF-8");
    if (cd == NoConversion) {
        error_ = "Unknown encoding " + encoding + " (iconv has no conversion to it from UTF-8).";
        return;
    }
    cd_ = cd;
    valid_ = true;
}

TextEncoder::~TextEncoder()
{
    if (valid_)
        ::iconv_close(static_cast<iconv_t>(cd_));
}

bool TextEncoder::append(std::string_view text, std::string& out, std::string& why)
{
    size_t ascii = 0;
    while (ascii < text.size() && uint8_t(text[ascii]) < 0x80)
        ++ascii;
    if (ascii == text.size()) {
        out.append(text);
        return true;
    }
    // iconv stops at a bad byte without saying whether the text or the code page is at fault:
    // the text is checked first, so that the message names the right one.
    for (size_t at = ascii; at < text.size();) {
        uint32_t c = 0;
        const size_t length = utf8Sequence(text.substr(at), c);
        if (length == 0) {
            why = "the text is not valid UTF-8 (byte " + std::to_string(at + 1) + ")";
            return false;
        }
        at += length;
    }
    if (!valid_) {
        why = error_;
        return false;
    }
    const size_t before = out.size();
    auto cd = static_cast<iconv_t>(cd_);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // A character of UTF-8 takes at least one byte, and no code page iconv knows needs more than
    // four bytes and a shift sequence for one; the loop grows the room when one does anyway.
    size_t room = text.size() * 2 + 16;
    char* in = const_cast<char*>(text.data());
    size_t inLeft = text.size();
    size_t written = 0;
    for (;;) {
        out.resize(before + room);
        char* to = out.data() + before + written;
        size_t toLeft = room - written;
        size_t result = ::iconv(cd, &in, &inLeft, &to, &toLeft);
        if (result != size_t(-1))
            result = ::iconv(cd, nullptr, nullptr, &to, &toLeft);
        written = room - toLeft;
        if (result != size_t(-1))
            break;
        if (errno != E2BIG) {
            out.resize(before);
            const size_t at = text.size() - inLeft;
            why = quotedCharacter(text.substr(at)) + " cannot be written in " + encoding_;
            return false;
        }
        room *= 2;
    }
    out.resize(before + written);
    return true;
}

} // namespace fields
