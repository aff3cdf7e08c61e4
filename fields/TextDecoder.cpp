#include "TextDecoder.h"

#include "LittleEndian.h"
#include "TextEncoder.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <utility>

namespace fields {

namespace {

// iconv_open's failure value.
const auto NoConversion = reinterpret_cast<iconv_t>(-1); // NOLINT(performance-no-int-to-ptr)

constexpr uint32_t Replacement = 0xFFFD;

bool isControl(uint32_t c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// Converts as much of [in, in + inLeft) as iconv takes, appending it to out. 0 when everything
// was converted; otherwise iconv's errno (EILSEQ, EINVAL), with `in` at the byte that stopped it
// and the text before it appended.
int convertSome(iconv_t cd, char*& in, size_t& inLeft, std::string& out)
{
    // A byte of a single-byte code page becomes at most 4 bytes of UTF-8; multi-byte code pages
    // need less per byte. The loop grows the room when a conversion asks for more anyway.
    size_t room = inLeft * 4 + 8;
    const size_t before = out.size();
    size_t written = 0;
    for (;;) {
        out.resize(before + room);
        char* to = out.data() + before + written;
        size_t toLeft = room - written;
        const size_t result = ::iconv(cd, &in, &inLeft, &to, &toLeft);
        written = room - toLeft;
        if (result != size_t(-1)) {
            // The end of the input: a stateful encoding may still have a shift to write.
            if (::iconv(cd, nullptr, nullptr, &to, &toLeft) == size_t(-1)) {
                out.resize(before + written);
                return errno == E2BIG ? EINVAL : errno;
            }
            written = room - toLeft;
            break;
        }
        if (errno != E2BIG) {
            const int error = errno;
            out.resize(before + written);
            return error;
        }
        room *= 2;
    }
    out.resize(before + written);
    return 0;
}

} // namespace

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

bool singleByteTable(const std::string& encoding, std::array<uint32_t, 256>& table)
{
    const iconv_t cd = ::iconv_open("UTF-32LE", encoding.c_str());
    if (cd == NoConversion)
        return false;
    bool single = true;
    std::string valid;
    for (int b = 0; b < 256 && single; ++b) {
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char byte = char(b);
        char* in = &byte;
        size_t inLeft = 1;
        std::string out;
        const int error = convertSome(cd, in, inLeft, out);
        if (error == EILSEQ) {
            table[size_t(b)] = NoCharacter;
            continue;
        }
        // Not one character for one byte: the start of a longer sequence, a shift, or nothing.
        if (error != 0 || out.size() != 4) {
            single = false;
            break;
        }
        table[size_t(b)] = btr::le::get32(reinterpret_cast<const uint8_t*>(out.data()));
        valid += byte;
    }
    // Read together, the bytes must give what they give one by one: no state between them.
    if (single) {
        ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = valid.data();
        size_t inLeft = valid.size();
        std::string out;
        single = convertSome(cd, in, inLeft, out) == 0 && out.size() == 4 * valid.size();
        for (size_t i = 0; single && i < valid.size(); ++i) {
            single = btr::le::get32(reinterpret_cast<const uint8_t*>(out.data() + 4 * i))
                == table[static_cast<unsigned char>(valid[i])];
        }
    }
    ::iconv_close(cd);
    return single;
}

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
    std::array<uint32_t, 256> table {};
    if (!singleByteTable(encoding, table))
        return;
    table_ = true;
    characters_ = table;
    for (size_t b = 0; b < 256; ++b) {
        if (table[b] == NoCharacter)
            continue;
        std::string utf8;
        appendCodePoint(table[b], utf8);
        std::memcpy(utf8_[b].data(), utf8.data(), utf8.size());
        utf8Length_[b] = uint8_t(utf8.size());
    }
}

TextDecoder::~TextDecoder()
{
    close();
}

TextDecoder::TextDecoder(TextDecoder&& other) noexcept
    : encoding_(std::move(other.encoding_))
    , error_(std::move(other.error_))
    , cd_(std::exchange(other.cd_, nullptr))
    , valid_(std::exchange(other.valid_, false))
    , table_(std::exchange(other.table_, false))
    , characters_(other.characters_)
    , utf8_(other.utf8_)
    , utf8Length_(other.utf8Length_)
{ }

TextDecoder& TextDecoder::operator=(TextDecoder&& other) noexcept
{
    if (this != &other) {
        close();
        encoding_ = std::move(other.encoding_);
        error_ = std::move(other.error_);
        cd_ = std::exchange(other.cd_, nullptr);
        valid_ = std::exchange(other.valid_, false);
        table_ = std::exchange(other.table_, false);
        characters_ = other.characters_;
        utf8_ = other.utf8_;
        utf8Length_ = other.utf8Length_;
    }
    return *this;
}

void TextDecoder::close()
{
    if (cd_)
        ::iconv_close(static_cast<iconv_t>(cd_));
    cd_ = nullptr;
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
    if (!table_)
        return appendByIconv(p, n, out);
    const size_t before = out.size();
    out.append(reinterpret_cast<const char*>(p), i);
    out.resize(before + i + 4 * (n - i));
    char* to = out.data() + before + i;
    for (; i < n; ++i) {
        const size_t length = utf8Length_[p[i]];
        if (length == 0) {
            out.resize(before);
            return false;
        }
        std::memcpy(to, utf8_[p[i]].data(), 4);
        to += length;
    }
    out.resize(size_t(to - out.data()));
    return true;
}

bool TextDecoder::appendByIconv(const uint8_t* p, size_t n, std::string& out)
{
    const size_t before = out.size();
    auto cd = static_cast<iconv_t>(cd_);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
    size_t inLeft = n;
    // iconv's own UTF-8 takes the old sequences of up to six bytes and passes them on: what comes
    // out must be UTF-8 as it is now.
    if (convertSome(cd, in, inLeft, out) != 0
        || !isUtf8(out.data() + before, out.size() - before)) {
        out.resize(before);
        return false;
    }
    return true;
}

void TextDecoder::appendName(const uint8_t* p, size_t n, std::string& out)
{
    if (table_) {
        for (size_t i = 0; i < n; ++i) {
            const size_t length = utf8Length_[p[i]];
            if (length == 0 || isControl(characters_[p[i]]))
                appendCodePoint(Replacement, out);
            else
                out.append(utf8_[p[i]].data(), length);
        }
        return;
    }
    std::string text;
    if (valid_) {
        auto cd = static_cast<iconv_t>(cd_);
        char* in = const_cast<char*>(reinterpret_cast<const char*>(p));
        size_t inLeft = n;
        while (inLeft > 0) {
            ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
            if (convertSome(cd, in, inLeft, text) == 0)
                break;
            appendCodePoint(Replacement, text);
            ++in;
            --inLeft;
        }
    } else {
        text.assign(reinterpret_cast<const char*>(p), n);
    }
    // Whatever came out, only printable UTF-8 goes on.
    const std::string_view s(text);
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        const size_t length = utf8Sequence(s.substr(i), c);
        if (length == 0 || isControl(c)) {
            appendCodePoint(Replacement, out);
            i += length == 0 ? 1 : length;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
}

std::string TextDecoder::name(const std::string& raw)
{
    std::string out;
    appendName(reinterpret_cast<const uint8_t*>(raw.data()), raw.size(), out);
    return out;
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

uint32_t lowerLetter(uint32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
    // Latin-1: the capitals from À to Þ but the multiplication sign.
    if (c >= 0xC0 && c <= 0xDE)
        return c == 0xD7 ? c : c + 0x20;
    // Latin Extended-A: pairs, capital first, in two runs that start on an even and two that
    // start on an odd character; İ and Ÿ on their own.
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x130)
            return 'i';
        if (c == 0x178)
            return 0xFF;
        if ((c <= 0x137) || (c >= 0x14A && c <= 0x177))
            return c % 2 == 0 ? c + 1 : c;
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return c % 2 == 1 ? c + 1 : c;
        return c;
    }
    // Greek capitals with and without accents.
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)
        return c + 0x20;
    if (c == 0x386)
        return 0x3AC;
    if (c >= 0x388 && c <= 0x38A)
        return c + 0x25;
    if (c == 0x38C)
        return 0x3CC;
    if (c == 0x38E || c == 0x38F)
        return c + 0x3F;
    // Cyrillic: Ѐ to Џ, А to Я, then pairs, capital first.
    if (c >= 0x400 && c <= 0x40F)
        return c + 0x50;
    if (c >= 0x410 && c <= 0x42F)
        return c + 0x20;
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F))
        return c % 2 == 0 ? c + 1 : c;
    if (c == 0x4C0)
        return 0x4CF;
    if (c >= 0x4C1 && c <= 0x4CE)
        return c % 2 == 1 ? c + 1 : c;
    return c;
}

std::string foldCase(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    const std::string_view s(text);
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        const size_t length = utf8Sequence(s.substr(i), c);
        if (length == 0) {
            out += text[i++];
            continue;
        }
        appendCodePoint(lowerLetter(c), out);
        i += length;
    }
    return out;
}

bool isUtf8(const char* p, size_t n)
{
    return utf8Length(std::string_view(p, n)) != std::string_view::npos;
}

std::string validUtf8(const std::string& text)
{
    if (isUtf8(text.data(), text.size()))
        return text;
    std::string out;
    const std::string_view s(text);
    for (size_t i = 0; i < text.size();) {
        uint32_t c = 0;
        const size_t length = utf8Sequence(s.substr(i), c);
        if (length == 0) {
            appendCodePoint(Replacement, out);
            ++i;
        } else {
            out.append(text, i, length);
            i += length;
        }
    }
    return out;
}

} // namespace fields
