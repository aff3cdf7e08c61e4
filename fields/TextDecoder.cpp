#include "TextDecoder.h"

#include "LittleEndian.h"

#include <cerrno>
#include <iconv.h>

namespace fields {

namespace {

// iconv_open's failure value.
const auto NoConversion = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)

void appendCodePoint(uint32_t c, std::string& out)
{
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

} // namespace

TextDecoder::TextDecoder(const std::string& encoding)
    : encoding_(encoding)
{
    const iconv_t cd = ::iconv_open("UTF-8", encoding.c_str());
    if (cd == NoConversion) {
        error_ = "Unknown encoding " + encoding + " (iconv has no conversion from it to UTF-8).";
        return;
    }
    cd_ = cd;
    valid_ = true;
}

TextDecoder::~TextDecoder()
{
    if (valid_)
        ::iconv_close(static_cast<iconv_t>(cd_));
}

bool TextDecoder::append(const uint8_t* p, size_t n, std::string& out)
{
    size_t i = 0;
    while (i < n && p[i] < 0x80)
        ++i;
    if (i == n) {
        out.append(reinterpret_cast<const char*>(p), n);
        return true;
    }
    if (!valid_)
        return false;
    const size_t before = out.size();
    auto cd = static_cast<iconv_t>(cd_);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // A byte of a single-byte code page becomes at most 4 bytes of UTF-8; multi-byte code pages
    // need less per byte. The loop grows the room when a conversion asks for more anyway.
    size_t room = n * 4 + 8;
    char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
    size_t inLeft = n;
    size_t written = 0;
    for (;;) {
        out.resize(before + room);
        char* to = out.data() + before + written;
        size_t toLeft = room - written;
        const size_t result = ::iconv(cd, &in, &inLeft, &to, &toLeft);
        written = room - toLeft;
        if (result != size_t(-1)) {
            char* endTo = to;
            size_t endLeft = toLeft;
            if (::iconv(cd, nullptr, nullptr, &endTo, &endLeft) == size_t(-1)) {
                out.resize(before);
                return false;
            }
            written = room - endLeft;
            break;
        }
        if (errno != E2BIG) {
            out.resize(before);
            return false;
        }
        room *= 2;
    }
    out.resize(before + written);
    return true;
}

bool appendUtf16(const uint8_t* p, size_t n, std::string& out)
{
    if (n % 2 != 0)
        return false;
    const size_t before = out.size();
    for (size_t i = 0; i < n; i += 2) {
        uint32_t c = btr::le::get16(p + i);
        if (c >= 0xD800 && c < 0xDC00) {
            const uint32_t low = i + 3 < n ? btr::le::get16(p + i + 2) : 0;
            if (low < 0xDC00 || low >= 0xE000) {
                out.resize(before);
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c < 0xE000) {
            out.resize(before);
            return false;
        }
        appendCodePoint(c, out);
    }
    return true;
}

} // namespace fields
