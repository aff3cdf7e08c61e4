#include "Values.h"

#include "DefinitionLayout.h"
#include "LittleEndian.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace fields {

namespace exttype = btr::exttype;

namespace {

constexpr char HexDigits[] = "0123456789abcdef";

void appendNumber(uint64_t v, std::string& out)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, end);
}

void appendSigned(int64_t v, std::string& out)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, end);
}

// n digits of v, zero-padded.
void appendPadded(uint32_t v, int n, std::string& out)
{
    char digits[12];
    for (int i = n - 1; i >= 0; --i, v /= 10)
        digits[i] = char('0' + v % 10);
    out.append(digits, size_t(n));
}

template <typename T> Kind appendFloat(T v, const uint8_t* p, size_t n, std::string& out)
{
    if (!std::isfinite(v))
        return appendInvalid(p, n, out);
    char digits[64];
    const auto end = std::to_chars(digits, digits + sizeof digits, v).ptr;
    out.append(digits, end);
    return Kind::Number;
}

// Bytes up to the last one that is neither blank nor NUL.
size_t trimmedLength(const uint8_t* p, size_t n)
{
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == 0))
        --n;
    return n;
}

// A run of decimal digits (no sign, no point) written with `decimals` of them after the point:
// leading zeros of the whole part dropped but one, the fraction kept as it is.
void appendScaled(const char* digits, size_t count, bool negative, int decimals, std::string& out)
{
    size_t skip = 0;
    while (skip < count && digits[skip] == '0')
        ++skip;
    if (negative)
        out += '-';
    const size_t whole = count > size_t(decimals) ? count - size_t(decimals) : 0;
    if (skip >= whole)
        out += '0';
    else
        out.append(digits + skip, whole - skip);
    if (decimals > 0) {
        out += '.';
        for (size_t i = count; i < size_t(decimals); ++i)
            out += '0';
        out.append(digits + whole, count - whole);
    }
}

bool isLeap(uint32_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

uint32_t daysInMonth(uint32_t y, uint32_t m)
{
    static constexpr uint8_t Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : Days[m - 1];
}

Kind packedDecimal(const ValueType& t, const uint8_t* p, size_t n, std::string& out)
{
    if (n == 0 || n > 32)
        return appendInvalid(p, n, out);
    char digits[64];
    size_t count = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t high = p[i] >> 4;
        const uint8_t low = p[i] & 0x0F;
        if (high > 9)
            return appendInvalid(p, n, out);
        digits[count++] = char('0' + high);
        if (i + 1 < n) {
            if (low > 9)
                return appendInvalid(p, n, out);
            digits[count++] = char('0' + low);
        }
    }
    const uint8_t sign = p[n - 1] & 0x0F;
    if (sign < 0xA)
        return appendInvalid(p, n, out);
    appendScaled(digits, count, sign == 0xB || sign == 0xD, t.decimals, out);
    return Kind::Number;
}

// ASCII digits, right-aligned after leading blanks; the sign either in the last byte's
// overpunch (numeric) or as a trailing '+' or '-' (numeric with a separate sign).
Kind asciiNumeric(const ValueType& t, const uint8_t* p, size_t n, std::string& out)
{
    if (n == 0 || n > 64)
        return appendInvalid(p, n, out);
    size_t start = 0;
    while (start < n && p[start] == ' ')
        ++start;
    if (start == n)
        return Kind::Null;
    char digits[64];
    size_t count = 0;
    bool negative = false;
    const size_t last = n - 1;
    for (size_t i = start; i < last; ++i) {
        if (p[i] < '0' || p[i] > '9')
            return appendInvalid(p, n, out);
        digits[count++] = char(p[i]);
    }
    const uint8_t c = p[last];
    if (t.type == exttype::SignSeparate) {
        if (c != '+' && c != '-')
            return appendInvalid(p, n, out);
        if (count == 0)
            return appendInvalid(p, n, out);
        negative = c == '-';
    } else if (c >= '0' && c <= '9') {
        digits[count++] = char(c);
    } else if (c == '{' || (c >= 'A' && c <= 'I')) {
        digits[count++] = c == '{' ? '0' : char('1' + (c - 'A'));
    } else if (c == '}' || (c >= 'J' && c <= 'R')) {
        digits[count++] = c == '}' ? '0' : char('1' + (c - 'J'));
        negative = true;
    } else {
        return appendInvalid(p, n, out);
    }
    appendScaled(digits, count, negative, t.decimals, out);
    return Kind::Number;
}

// The older binary floating format: the last byte the exponent (0: zero), the top bit of the
// byte before it the sign, the other bits the mantissa after an implied leading 1.
Kind bfloat(const uint8_t* p, size_t n, std::string& out)
{
    if (n != 4 && n != 8)
        return appendInvalid(p, n, out);
    const int exponent = p[n - 1];
    if (exponent == 0) {
        out += '0';
        return Kind::Number;
    }
    const bool negative = p[n - 2] & 0x80;
    const int mantissaBits = int(n - 1) * 8 - 1;
    uint64_t mantissa = btr::le::getN(p, int(n - 1)) & ((uint64_t(1) << mantissaBits) - 1);
    mantissa |= uint64_t(1) << mantissaBits;
    const int scale = exponent - 129 - mantissaBits;
    if (n == 4) {
        const float v = std::ldexp(float(mantissa), scale);
        return appendFloat(negative ? -v : v, p, n, out);
    }
    const long double v = std::ldexp(static_cast<long double>(mantissa), scale);
    return appendFloat(negative ? -v : v, p, n, out);
}

// An unsigned little-endian number of any length, by repeated division of its bytes by 10.
void appendWideUnsigned(const uint8_t* p, size_t n, std::string& out)
{
    if (n <= 8) {
        appendNumber(btr::le::getN(p, int(n)), out);
        return;
    }
    uint8_t work[256];
    std::memcpy(work, p, n);
    char digits[640];
    size_t count = 0;
    size_t top = n;
    while (top > 0 && work[top - 1] == 0)
        --top;
    do {
        uint32_t rest = 0;
        for (size_t i = top; i-- > 0;) {
            const uint32_t v = (rest << 8) | work[i];
            work[i] = uint8_t(v / 10);
            rest = v % 10;
        }
        digits[count++] = char('0' + rest);
        while (top > 0 && work[top - 1] == 0)
            --top;
    } while (top > 0);
    while (count > 0)
        out += digits[--count];
}

// Days since 0001-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(int64_t days, int64_t& y, uint32_t& m, uint32_t& d)
{
    // Shifted to the era-based algorithm's epoch of 0000-03-01.
    const int64_t z = days + 306;
    const int64_t era = z / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = uint32_t(doy - (153 * mp + 2) / 5 + 1);
    m = uint32_t(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

Kind timestamp(const uint8_t* p, size_t n, std::string& out)
{
    if (n != 8)
        return appendInvalid(p, n, out);
    constexpr uint64_t TicksPerSecond = 10'000'000;
    constexpr uint64_t TicksPerDay = TicksPerSecond * 86400;
    const uint64_t ticks = btr::le::getN(p, 8);
    int64_t y = 0;
    uint32_t m = 0;
    uint32_t d = 0;
    civilFromDays(int64_t(ticks / TicksPerDay), y, m, d);
    if (y > 9999)
        return appendInvalid(p, n, out);
    const uint64_t inDay = ticks % TicksPerDay;
    const auto seconds = uint32_t(inDay / TicksPerSecond);
    appendPadded(uint32_t(y), 4, out);
    out += '-';
    appendPadded(m, 2, out);
    out += '-';
    appendPadded(d, 2, out);
    out += 'T';
    appendPadded(seconds / 3600, 2, out);
    out += ':';
    appendPadded(seconds / 60 % 60, 2, out);
    out += ':';
    appendPadded(seconds % 60, 2, out);
    out += '.';
    appendPadded(uint32_t(inDay % TicksPerSecond), 7, out);
    return Kind::Text;
}

Kind guid(const uint8_t* p, size_t n, std::string& out)
{
    if (n != 16)
        return appendInvalid(p, n, out);
    static constexpr int Order[]
        = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
    for (int i : Order) {
        if (i < 0)
            out += '-';
        else
            appendHex(p + i, 1, out);
    }
    return Kind::Text;
}

Kind wideText(const uint8_t* p, size_t n, bool toNul, std::string& out)
{
    if (n % 2 != 0)
        return appendInvalid(p, n, out);
    size_t length = n;
    if (toNul) {
        for (size_t i = 0; i + 1 < n; i += 2) {
            if (btr::le::get16(p + i) == 0) {
                length = i;
                break;
            }
        }
    }
    while (length >= 2) {
        const uint16_t c = btr::le::get16(p + length - 2);
        if (c != ' ' && c != 0)
            break;
        length -= 2;
    }
    if (!appendUtf16(p, length, out))
        return appendInvalid(p, n, out);
    return Kind::Text;
}

} // namespace

void appendHex(const uint8_t* p, size_t n, std::string& out)
{
    const size_t at = out.size();
    out.resize(at + 2 * n);
    char* to = out.data() + at;
    for (size_t i = 0; i < n; ++i) {
        *to++ = HexDigits[p[i] >> 4];
        *to++ = HexDigits[p[i] & 0x0F];
    }
}

Kind appendInvalid(const uint8_t* p, size_t n, std::string& out)
{
    out += "0x";
    appendHex(p, n, out);
    return Kind::Invalid;
}

bool holdsCodePageText(const ValueType& t)
{
    switch (t.type) {
    case exttype::String:
    case exttype::Note:
    case exttype::ZString:
    case exttype::LString:
    case exttype::LVar:
        return true;
    default:
        return false;
    }
}

bool codePageText(
    const ValueType& t, const uint8_t* p, size_t n, const uint8_t*& text, size_t& length)
{
    text = p;
    length = n;
    switch (t.type) {
    case exttype::String:
    case exttype::Note:
        break;
    case exttype::ZString:
        if (const void* nul = n > 0 ? std::memchr(p, 0, n) : nullptr)
            length = size_t(static_cast<const uint8_t*>(nul) - p);
        break;
    case exttype::LString:
        if (n == 0 || p[0] > n - 1)
            return false;
        text = p + 1;
        length = p[0];
        break;
    case exttype::LVar:
        if (n < 2 || btr::le::get16(p) > n - 2)
            return false;
        text = p + 2;
        length = btr::le::get16(p);
        break;
    default:
        return false;
    }
    length = trimmedLength(text, length);
    return true;
}

Kind appendValue(
    const ValueType& t, const uint8_t* p, size_t n, TextDecoder& decoder, std::string& out)
{
    switch (t.type) {
    case exttype::String:
    case exttype::Note:
    case exttype::ZString:
    case exttype::LString:
    case exttype::LVar: {
        const uint8_t* text = nullptr;
        size_t length = 0;
        if (!codePageText(t, p, n, text, length) || !decoder.append(text, length, out))
            return appendInvalid(p, n, out);
        return Kind::Text;
    }
    case exttype::WString:
        return wideText(p, n, false, out);
    case exttype::WZString:
        return wideText(p, n, true, out);
    case exttype::Integer:
        switch (n) {
        case 1:
            if (t.signedByte)
                appendSigned(int8_t(p[0]), out);
            else
                appendNumber(p[0], out);
            return Kind::Number;
        case 2:
            appendSigned(int16_t(btr::le::get16(p)), out);
            return Kind::Number;
        case 4:
            appendSigned(int32_t(btr::le::get32(p)), out);
            return Kind::Number;
        case 8:
            appendSigned(int64_t(btr::le::getN(p, 8)), out);
            return Kind::Number;
        default:
            return appendInvalid(p, n, out);
        }
    case exttype::Autoincrement:
        if (n != 2 && n != 4 && n != 8)
            return appendInvalid(p, n, out);
        appendSigned(n == 2 ? int16_t(btr::le::get16(p))
                : n == 4    ? int32_t(btr::le::get32(p))
                            : int64_t(btr::le::getN(p, 8)),
            out);
        return Kind::Number;
    case exttype::Unsigned:
        if (n == 0 || n > 256)
            return appendInvalid(p, n, out);
        appendWideUnsigned(p, n, out);
        return Kind::Number;
    case exttype::Float:
        if (n == 4) {
            float v;
            std::memcpy(&v, p, 4);
            return appendFloat(v, p, n, out);
        }
        if (n == 8) {
            double v;
            std::memcpy(&v, p, 8);
            return appendFloat(v, p, n, out);
        }
        return appendInvalid(p, n, out);
    case exttype::BFloat:
        return bfloat(p, n, out);
    case exttype::Date: {
        if (n != 4)
            return appendInvalid(p, n, out);
        const uint32_t day = p[0];
        const uint32_t month = p[1];
        const uint32_t year = btr::le::get16(p + 2);
        if (day == 0 && month == 0 && year == 0)
            return Kind::Null;
        if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1
            || day > daysInMonth(year, month))
            return appendInvalid(p, n, out);
        appendPadded(year, 4, out);
        out += '-';
        appendPadded(month, 2, out);
        out += '-';
        appendPadded(day, 2, out);
        return Kind::Text;
    }
    case exttype::Time: {
        if (n != 4 || p[0] > 99 || p[1] > 59 || p[2] > 59 || p[3] > 23)
            return appendInvalid(p, n, out);
        appendPadded(p[3], 2, out);
        out += ':';
        appendPadded(p[2], 2, out);
        out += ':';
        appendPadded(p[1], 2, out);
        out += '.';
        appendPadded(p[0], 2, out);
        return Kind::Text;
    }
    case exttype::Timestamp:
        return timestamp(p, n, out);
    case exttype::Decimal:
    case exttype::Money:
        return packedDecimal(t, p, n, out);
    case exttype::Numeric:
    case exttype::SignSeparate:
        return asciiNumeric(t, p, n, out);
    case exttype::Currency: {
        if (n != 8)
            return appendInvalid(p, n, out);
        const auto v = int64_t(btr::le::getN(p, 8));
        // The magnitude as unsigned, so that the most negative value has one too.
        const uint64_t magnitude = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
        appendScaled(digits, size_t(end - digits), v < 0, 4, out);
        return Kind::Number;
    }
    case exttype::Logical:
        if (n != 1 && n != 2)
            return appendInvalid(p, n, out);
        out += (n == 1 ? p[0] : btr::le::get16(p)) != 0 ? '1' : '0';
        return Kind::Boolean;
    case exttype::Bit:
        if (size_t(t.decimals) >= 8 * n)
            return appendInvalid(p, n, out);
        out += (p[t.decimals / 8] >> (t.decimals % 8)) & 1 ? '1' : '0';
        return Kind::Boolean;
    case exttype::Guid:
        return guid(p, n, out);
    default:
        appendHex(p, n, out);
        return Kind::Bytes;
    }
}

} // namespace fields
