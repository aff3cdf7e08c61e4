#include "Encode.h"

#include "DefinitionLayout.h"
#include "LittleEndian.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace fields {

namespace exttype = btr::exttype;

namespace {

constexpr std::string_view Blanks = " \t\r\n";
// How much of a user's text a message repeats.
constexpr size_t ShownCharacters = 40;

std::string_view trimmed(std::string_view s)
{
    const size_t first = s.find_first_not_of(Blanks);
    if (first == std::string_view::npos)
        return {};
    return s.substr(first, s.find_last_not_of(Blanks) - first + 1);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool allHex(std::string_view s)
{
    for (char c : s)
        if (hexValue(c) < 0)
            return false;
    return true;
}

// s holds 2n hex digits.
void fromHex(std::string_view s, uint8_t* to)
{
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        *to++ = uint8_t(hexValue(s[i]) << 4 | hexValue(s[i + 1]));
}

bool startsWith0x(std::string_view s)
{
    return s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
}

// The user's text as a message repeats it: valid UTF-8 whatever was typed (a byte that is not
// UTF-8 and a control character become U+FFFD), cut after a few words.
std::string shown(std::string_view s)
{
    std::string out;
    size_t characters = 0;
    for (size_t at = 0; at < s.size(); ++characters) {
        if (characters == ShownCharacters) {
            out += "\xE2\x80\xA6"; // …
            break;
        }
        uint32_t c = 0;
        const size_t length = utf8Sequence(s.substr(at), c);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            out += "\xEF\xBF\xBD";
            at += length == 0 ? 1 : length;
            continue;
        }
        out.append(s.substr(at, length));
        at += length;
    }
    return out;
}

// Built by appending: GCC 12 warns falsely of overlapping copies in "'" + text + "'".
std::string quoted(std::string_view s)
{
    std::string out(1, '\'');
    out += shown(s);
    out += '\'';
    return out;
}

std::string counted(size_t n, const char* one, const char* many)
{
    return std::to_string(n) + ' ' + (n == 1 ? one : many);
}

// "a 4-byte integer", "an 8-byte float", "an 11-byte string".
std::string sized(size_t n, std::string_view type)
{
    const std::string number = std::to_string(n);
    const bool vowel = number[0] == '8' || n == 11 || n == 18;
    return std::string(vowel ? "an " : "a ") + number + "-byte " + std::string(type);
}

// A field whose length is none its type has: its value can still be given as bytes.
bool wrongLength(std::string_view type, const char* lengths, size_t n, std::string& why)
{
    why = std::string(type) + " takes " + lengths + ", this field has "
        + counted(n, "byte", "bytes") + " (its bytes can be given as 0x and "
        + counted(2 * n, "hex digit", "hex digits") + ")";
    return false;
}

bool noEmptyValue(std::string_view type, std::string& why)
{
    why = "no value given: " + std::string(type) + " has no empty value";
    return false;
}

// ---- numbers -------------------------------------------------------------------------------

// A number as typed: [+|-]digits[.digits].
struct Number
{
    bool negative = false;
    std::string_view whole;    // leading zeros dropped: empty for zero
    std::string_view fraction; // as typed
};

bool notANumber(std::string_view s, std::string& why)
{
    why = quoted(s) + " is not a number";
    // Much of Europe writes a decimal comma, and the users of these files are all over it.
    if (s.find(',') != std::string_view::npos)
        why += " (the decimal point is '.')";
    return false;
}

bool parseNumber(std::string_view s, Number& v, std::string& why)
{
    std::string_view rest = s;
    if (!rest.empty() && (rest[0] == '+' || rest[0] == '-')) {
        v.negative = rest[0] == '-';
        rest.remove_prefix(1);
    }
    size_t i = 0;
    while (i < rest.size() && isDigit(rest[i]))
        ++i;
    v.whole = rest.substr(0, i);
    if (i < rest.size() && rest[i] == '.') {
        size_t j = i + 1;
        while (j < rest.size() && isDigit(rest[j]))
            ++j;
        v.fraction = rest.substr(i + 1, j - i - 1);
        i = j;
    }
    if (i != rest.size() || (v.whole.empty() && v.fraction.empty()))
        return notANumber(s, why);
    while (!v.whole.empty() && v.whole[0] == '0')
        v.whole.remove_prefix(1);
    return true;
}

bool allZeros(std::string_view digits)
{
    return digits.find_first_not_of('0') == std::string_view::npos;
}

// false when the digits are more than 64 bits hold.
bool toUnsigned(std::string_view digits, uint64_t& v)
{
    v = 0;
    for (char c : digits) {
        const auto d = uint64_t(c - '0');
        if (v > (std::numeric_limits<uint64_t>::max() - d) / 10)
            return false;
        v = v * 10 + d;
    }
    return true;
}

template <typename T> std::string numberText(T v)
{
    char digits[64];
    return std::string(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
}

// `digits` (a run of decimal digits) with `scale` of them after the point, leading zeros of the
// whole part dropped but one: "-1234.50".
std::string scaledText(std::string_view digits, bool negative, int scale)
{
    const auto decimals = size_t(scale);
    std::string padded(decimals + 1 > digits.size() ? decimals + 1 - digits.size() : 0, '0');
    padded.append(digits);
    std::string_view whole(padded.data(), padded.size() - decimals);
    while (whole.size() > 1 && whole[0] == '0')
        whole.remove_prefix(1);
    std::string out = negative ? "-" : "";
    out.append(whole);
    if (decimals > 0)
        out.append(".").append(padded, padded.size() - decimals, decimals);
    return out;
}

// The value times 10^scale as exactly `count` digits, zero-padded on the left. Refused when it
// has decimals past the scale other than zeros, or more digits than `count`; `type` names the
// field for the message.
bool scaledDigits(const Number& v, std::string_view s, int scale, size_t count,
    const std::string& type, std::string& digits, std::string& why)
{
    const auto decimals = size_t(scale);
    if (v.fraction.size() > decimals && !allZeros(v.fraction.substr(decimals))) {
        why = counted(v.fraction.size(), "decimal", "decimals") + " given, the field has "
            + (decimals == 0 ? std::string("none") : std::to_string(decimals));
        return false;
    }
    std::string all(v.whole);
    all.append(v.fraction.substr(0, std::min(decimals, v.fraction.size())));
    all.append(decimals - std::min(decimals, v.fraction.size()), '0');
    const size_t first = std::min(all.find_first_not_of('0'), all.size());
    if (all.size() - first > count) {
        why = shown(s) + " does not fit " + type + " (largest "
            + scaledText(std::string(count, '9'), false, scale) + ")";
        return false;
    }
    digits.assign(count - (all.size() - first), '0');
    digits.append(all, first);
    return true;
}

// "a 3-byte decimal with 2 decimals", "a 6-byte numeric with trailing sign and 2 decimals".
std::string withDecimals(size_t n, std::string_view type, int scale)
{
    if (scale == 0)
        return sized(n, type);
    const bool with = type.find(" with ") != std::string_view::npos;
    return sized(n, type) + (with ? " and " : " with ")
        + counted(size_t(scale), "decimal", "decimals");
}

// Integer, autoincrement and unsigned binary: little-endian whole numbers.
bool encodeWhole(const ValueType& t, std::string_view s, uint8_t* w, size_t n, std::string& why)
{
    const std::string_view name = t.type == exttype::Integer ? "integer"
        : t.type == exttype::Autoincrement                   ? "autoincrement"
                                                             : "unsigned binary";
    if (t.type == exttype::Integer && n != 1 && n != 2 && n != 4 && n != 8)
        return wrongLength("an integer", "1, 2, 4 or 8 bytes", n, why);
    if (t.type == exttype::Autoincrement && n != 2 && n != 4 && n != 8)
        return wrongLength("an autoincrement", "2, 4 or 8 bytes", n, why);
    if (t.type == exttype::Unsigned && (n == 0 || n > 256))
        return wrongLength("an unsigned binary", "1 to 256 bytes", n, why);
    if (s.empty())
        return noEmptyValue("a number", why);
    Number v;
    if (!parseNumber(s, v, why))
        return false;
    if (!allZeros(v.fraction)) {
        why = shown(s) + " is not a whole number";
        return false;
    }
    const bool isSigned
        = t.type != exttype::Unsigned && !(t.type == exttype::Integer && n == 1 && !t.signedByte);
    if (n > 8) {
        // Wider than any machine number: the digits multiplied into the bytes one at a time.
        std::vector<uint8_t> bytes(n, 0);
        bool fits = !v.negative || v.whole.empty();
        for (size_t i = 0; fits && i < v.whole.size(); ++i) {
            uint32_t carry = uint32_t(v.whole[i] - '0');
            for (uint8_t& b : bytes) {
                const uint32_t x = uint32_t(b) * 10 + carry;
                b = uint8_t(x);
                carry = x >> 8;
            }
            fits = carry == 0;
        }
        if (!fits) {
            why = shown(s) + " does not fit " + sized(n, name) + " (0 to 2^" + std::to_string(8 * n)
                + " - 1)";
            return false;
        }
        std::memcpy(w, bytes.data(), n);
        return true;
    }
    const unsigned bits = unsigned(8 * n);
    const uint64_t most = isSigned ? (uint64_t(1) << (bits - 1)) - 1
        : bits == 64               ? std::numeric_limits<uint64_t>::max()
                                   : (uint64_t(1) << bits) - 1;
    const uint64_t mostNegative = isSigned ? uint64_t(1) << (bits - 1) : 0;
    uint64_t magnitude = 0;
    if (!toUnsigned(v.whole, magnitude) || magnitude > (v.negative ? mostNegative : most)) {
        why = shown(s) + " does not fit " + sized(n, name) + " ("
            + (isSigned ? "-" + numberText(mostNegative) : std::string("0")) + " to "
            + numberText(most) + ")";
        return false;
    }
    btr::le::putN(w, int(n), v.negative ? 0 - magnitude : magnitude);
    return true;
}

// ---- floating numbers ------------------------------------------------------------------------

// The range a floating type holds, as a message names it.
struct Bounds
{
    std::string type;     // "a 4-byte float"
    std::string largest;  // "3.4028235e+38"
    std::string smallest; // the least magnitude above zero
};

bool outOfRange(std::string_view s, bool tiny, const Bounds& b, std::string& why)
{
    why = tiny ? shown(s) + " is too small for " + b.type + " (smallest " + b.smallest + ")"
               : shown(s) + " does not fit " + b.type + " (largest " + b.largest + ")";
    return false;
}

// Parses a decimal floating number into T. Refuses what from_chars would take but a person does
// not mean as a number here (inf, nan, a second sign) and what T cannot hold.
template <typename T>
bool parseFloating(std::string_view s, T& v, const Bounds& b, std::string& why)
{
    if (s.empty())
        return noEmptyValue("a number", why);
    std::string_view digits = s;
    if (digits[0] == '+')
        digits.remove_prefix(1);
    const size_t first = !digits.empty() && digits[0] == '-' && s[0] != '+' ? 1 : 0;
    if (digits.size() <= first || !(isDigit(digits[first]) || digits[first] == '.'))
        return notANumber(s, why);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
    if (end != digits.data() + digits.size() || ec == std::errc::invalid_argument)
        return notANumber(s, why);
    if (ec == std::errc::result_out_of_range) {
        // Too large or too small: a long double, with its far wider range, tells which; past even
        // its range, the exponent's sign does.
        long double wide = 0;
        const auto [wideEnd, wideEc]
            = std::from_chars(digits.data(), digits.data() + digits.size(), wide);
        const size_t e = digits.find_first_of("eE");
        const bool tiny = wideEc == std::errc()
            ? std::fabs(wide) < 1
            : e != std::string_view::npos && e + 1 < digits.size() && digits[e + 1] == '-';
        return outOfRange(s, tiny, b, why);
    }
    return true;
}

template <typename T> Bounds floatBounds(size_t n)
{
    return {sized(n, "float"), numberText(std::numeric_limits<T>::max()),
        numberText(std::numeric_limits<T>::denorm_min())};
}

bool encodeFloat(std::string_view s, uint8_t* w, size_t n, std::string& why)
{
    if (n == 4) {
        float v = 0;
        if (!parseFloating(s, v, floatBounds<float>(n), why))
            return false;
        std::memcpy(w, &v, 4);
        return true;
    }
    if (n == 8) {
        double v = 0;
        if (!parseFloating(s, v, floatBounds<double>(n), why))
            return false;
        std::memcpy(w, &v, 8);
        return true;
    }
    return wrongLength("a float", "4 or 8 bytes", n, why);
}

// The older binary floating format (see Values.h): the last byte the exponent E, 0 for zero, the
// top bit of the byte before it the sign, the bits below an implied leading 1 the mantissa: value
// = 1.m x 2^(E-129). A 4-byte value is read as a float and so parsed as one; an 8-byte one has 56
// bits of mantissa, more than a double, and is parsed into a long double that holds them all.
bool encodeBFloat(std::string_view s, uint8_t* w, size_t n, std::string& why)
{
    if (n != 4 && n != 8)
        return wrongLength("a bfloat", "4 or 8 bytes", n, why);
    const int mantissaBits = int(n - 1) * 8 - 1;
    // The bounds as appendValue writes them: 2^-128, and every mantissa bit under the top
    // exponent.
    const long double largest = std::ldexp(2.0L - std::ldexp(1.0L, -mantissaBits), 126);
    const long double smallest = std::ldexp(1.0L, -128);
    const Bounds b {sized(n, "bfloat"), n == 4 ? numberText(float(largest)) : numberText(largest),
        n == 4 ? numberText(float(smallest)) : numberText(smallest)};
    long double v = 0;
    if (n == 4) {
        float f = 0;
        if (!parseFloating(s, f, b, why))
            return false;
        v = f;
    } else if (!parseFloating(s, v, b, why)) {
        return false;
    }
    std::memset(w, 0, n);
    if (v == 0)
        return true;
    int e = 0;
    const long double fraction = std::frexp(std::fabs(v), &e);
    // Rounded to the nearest mantissa the bytes hold (exact for a 4-byte value, which came from a
    // float); a mantissa rounded up to the next power of two moves the exponent.
    auto mantissa = uint64_t(std::rint(std::ldexp(fraction, mantissaBits + 1)));
    if (mantissa >> (mantissaBits + 1)) {
        mantissa >>= 1;
        ++e;
    }
    const int exponent = e + 128;
    if (exponent < 1 || exponent > 255)
        return outOfRange(s, exponent < 1, b, why);
    btr::le::putN(w, int(n - 1), mantissa & ((uint64_t(1) << mantissaBits) - 1));
    if (v < 0)
        w[n - 2] |= 0x80;
    w[n - 1] = uint8_t(exponent);
    return true;
}

// ---- exact decimal types ---------------------------------------------------------------------

// Packed decimal (and money): two digits a byte, the last half-byte the sign.
bool encodePacked(const ValueType& t, std::string_view s, const uint8_t* old, uint8_t* w, size_t n,
    std::string& why)
{
    const std::string_view name = t.type == exttype::Money ? "money field" : "decimal";
    if (n == 0 || n > 32)
        return wrongLength(
            t.type == exttype::Money ? "money" : "a decimal", "1 to 32 bytes", n, why);
    if (s.empty())
        return noEmptyValue(t.type == exttype::Money ? "money" : "a decimal", why);
    Number v;
    std::string digits;
    if (!parseNumber(s, v, why)
        || !scaledDigits(
            v, s, t.decimals, 2 * n - 1, withDecimals(n, name, t.decimals), digits, why))
        return false;
    for (size_t i = 0; i < n; ++i) {
        const auto high = uint8_t(digits[2 * i] - '0');
        const auto low = uint8_t(i + 1 < n ? digits[2 * i + 1] - '0' : 0);
        w[i] = uint8_t(high << 4 | low);
    }
    const uint8_t oldSign = old[n - 1] & 0x0F;
    const bool positiveSign = oldSign == 0xA || oldSign == 0xC || oldSign == 0xE || oldSign == 0xF;
    w[n - 1] |= v.negative ? 0x0D : positiveSign ? oldSign : 0x0F;
    return true;
}

// ASCII digits right-aligned, padded with blanks or zeros as the bytes replaced were. Numeric
// carries the sign in its last digit (overpunched, or a plain digit when positive), numeric with a
// separate sign in a trailing '+' or '-'. An empty text is the null value, all blanks.
bool encodeAscii(const ValueType& t, std::string_view s, const uint8_t* old, uint8_t* w, size_t n,
    std::string& why)
{
    const bool separate = t.type == exttype::SignSeparate;
    const std::string_view name = separate ? "numeric with trailing sign" : "numeric";
    if (n == 0 || n > 64)
        return wrongLength(
            separate ? "a numeric with trailing sign" : "a numeric", "1 to 64 bytes", n, why);
    if (s.empty()) {
        std::memset(w, ' ', n);
        return true;
    }
    const size_t count = separate ? n - 1 : n;
    if (count == 0) {
        why = "a 1-byte numeric with trailing sign has room for the sign only: it can only be "
              "empty";
        return false;
    }
    Number v;
    std::string digits;
    if (!parseNumber(s, v, why)
        || !scaledDigits(v, s, t.decimals, count, withDecimals(n, name, t.decimals), digits, why))
        return false;
    if (old[0] == ' ') {
        // The whole part's leading zeros become blanks; "0.00" keeps its one zero before the point.
        const size_t keep = std::min(count, size_t(t.decimals) + 1);
        for (size_t i = 0; i + keep < count && digits[i] == '0'; ++i)
            digits[i] = ' ';
    }
    std::memcpy(w, digits.data(), count);
    if (separate) {
        w[n - 1] = v.negative ? '-' : '+';
        return true;
    }
    const uint8_t last = old[n - 1];
    const bool overpunched = last == '{' || last == '}' || (last >= 'A' && last <= 'R');
    const int digit = w[n - 1] - '0';
    if (v.negative)
        w[n - 1] = digit == 0 ? '}' : uint8_t('J' + digit - 1);
    else if (overpunched)
        w[n - 1] = digit == 0 ? '{' : uint8_t('A' + digit - 1);
    return true;
}

// A signed 64-bit count of ten-thousandths.
bool encodeCurrency(std::string_view s, uint8_t* w, size_t n, std::string& why)
{
    if (n != 8)
        return wrongLength("currency", "8 bytes", n, why);
    if (s.empty())
        return noEmptyValue("currency", why);
    Number v;
    if (!parseNumber(s, v, why))
        return false;
    const auto beyond = [&] {
        why = shown(s) + " does not fit currency (-922337203685477.5808 to 922337203685477.5807)";
        return false;
    };
    // Fifteen digits before the point and four after are as many as 64 bits hold.
    std::string digits;
    if (v.whole.size() > 15)
        return beyond();
    if (!scaledDigits(v, s, 4, 19, "currency", digits, why))
        return false;
    uint64_t magnitude = 0;
    const uint64_t most = uint64_t(std::numeric_limits<int64_t>::max());
    if (!toUnsigned(digits, magnitude) || magnitude > (v.negative ? most + 1 : most))
        return beyond();
    btr::le::putN(w, 8, v.negative ? 0 - magnitude : magnitude);
    return true;
}

// ---- dates and times -------------------------------------------------------------------------

bool isLeap(uint32_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

uint32_t daysInMonth(uint32_t y, uint32_t m)
{
    static constexpr uint8_t Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : Days[m - 1];
}

// Reads 1 to `most` digits at `at` into v.
bool digitsAt(std::string_view s, size_t& at, size_t most, uint32_t& v)
{
    const size_t start = at;
    v = 0;
    while (at < s.size() && isDigit(s[at]) && at - start < most)
        v = v * 10 + uint32_t(s[at++] - '0');
    return at > start;
}

struct Date
{
    uint32_t year = 0, month = 0, day = 0;
};

// YYYY-MM-DD at the start of s; `at` moves past it. The null date 0000-00-00 passes as zeros.
bool parseDate(std::string_view s, size_t& at, Date& d, std::string& why)
{
    if (!digitsAt(s, at, 4, d.year) || at >= s.size() || s[at++] != '-'
        || !digitsAt(s, at, 2, d.month) || at >= s.size() || s[at++] != '-'
        || !digitsAt(s, at, 2, d.day)) {
        why = quoted(s) + " is not a date (dates are written YYYY-MM-DD)";
        return false;
    }
    if (d.year == 0 && d.month == 0 && d.day == 0)
        return true;
    static constexpr const char* Months[] = {"January", "February", "March", "April", "May", "June",
        "July", "August", "September", "October", "November", "December"};
    if (d.month < 1 || d.month > 12)
        why = std::to_string(d.month) + " is not a month";
    else if (d.year < 1)
        why = "0 is not a year (years run from 1 to 9999)";
    else if (d.day < 1 || d.day > 31)
        why = std::to_string(d.day) + " is not a day of a month";
    else if (d.day > daysInMonth(d.year, d.month))
        why = std::string(Months[d.month - 1]) + ' ' + std::to_string(d.year) + " has no day "
            + std::to_string(d.day);
    else
        return true;
    return false;
}

struct Time
{
    uint32_t hours = 0, minutes = 0, seconds = 0;
    uint32_t fraction = 0; // in units of 10^-decimals of a second
};

// HH:MM[:SS[.f...]] at `at`, with up to `decimals` digits of a second.
bool parseTime(std::string_view s, size_t& at, size_t decimals, Time& t, std::string& why)
{
    const auto bad = [&] {
        why = quoted(s) + " is not a time (times are written HH:MM:SS"
            + (decimals == 2 ? ".hh)" : ".fffffff)");
        return false;
    };
    if (!digitsAt(s, at, 2, t.hours) || at >= s.size() || s[at++] != ':'
        || !digitsAt(s, at, 2, t.minutes))
        return bad();
    if (at < s.size() && s[at] == ':') {
        ++at;
        if (!digitsAt(s, at, 2, t.seconds))
            return bad();
        if (at < s.size() && s[at] == '.') {
            const size_t start = ++at;
            while (at < s.size() && isDigit(s[at]))
                ++at;
            std::string_view given = s.substr(start, at - start);
            if (given.empty())
                return bad();
            if (given.size() > decimals && !allZeros(given.substr(decimals))) {
                why = counted(given.size(), "decimal", "decimals") + " of a second given, "
                    + (decimals == 2 ? "a time holds hundredths"
                                     : "a timestamp holds seven (100 nanoseconds)");
                return false;
            }
            given = given.substr(0, std::min(given.size(), decimals));
            for (size_t i = 0; i < decimals; ++i)
                t.fraction = t.fraction * 10 + (i < given.size() ? uint32_t(given[i] - '0') : 0);
        }
    }
    if (t.hours > 23)
        why = std::to_string(t.hours) + " is not an hour (0 to 23)";
    else if (t.minutes > 59)
        why = std::to_string(t.minutes) + " is not a minute (0 to 59)";
    else if (t.seconds > 59)
        why = std::to_string(t.seconds) + " is not a second (0 to 59)";
    else
        return true;
    return false;
}

bool encodeDate(std::string_view s, uint8_t* w, size_t n, std::string& why)
{
    if (n != 4)
        return wrongLength("a date", "4 bytes", n, why);
    Date d;
    size_t at = 0;
    if (!s.empty() && !parseDate(s, at, d, why))
        return false;
    if (at != s.size()) {
        why = quoted(s) + " is not a date (dates are written YYYY-MM-DD)";
        return false;
    }
    w[0] = uint8_t(d.day);
    w[1] = uint8_t(d.month);
    btr::le::put16(w + 2, uint16_t(d.year));
    return true;
}

bool encodeTime(std::string_view s, uint8_t* w, size_t n, std::string& why)
{
    if (n != 4)
        return wrongLength("a time", "4 bytes", n, why);
    if (s.empty())
        return noEmptyValue("a time", why);
    Time t;
    size_t at = 0;
    if (!parseTime(s, at, 2, t, why))
        return false;
    if (at != s.size()) {
        why = quoted(s) + " is not a time (times are written HH:MM:SS.hh)";
        return false;
    }
    w[0] = uint8_t(t.fraction);
    w[1] = uint8_t(t.seconds);
    w[2] = uint8_t(t.minutes);
    w[3] = uint8_t(t.hours);
    return true;
}

// Days from 0001-01-01 to a civil date (proleptic Gregorian), by the era-based algorithm whose
// epoch is 0000-03-01.
int64_t daysFromCivil(uint32_t year, uint32_t month, uint32_t day)
{
    const int64_t y = int64_t(year) - (month <= 2 ? 1 : 0);
    const int64_t era = y / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = month > 2 ? month - 3 : month + 9;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 306;
}

bool encodeTimestamp(std::string_view s, uint8_t* w, size_t n, std::string& why)
{
    if (n != 8)
        return wrongLength("a timestamp", "8 bytes", n, why);
    if (s.empty())
        return noEmptyValue("a timestamp", why);
    Date d;
    Time t;
    size_t at = 0;
    if (!parseDate(s, at, d, why))
        return false;
    if (d.year == 0) {
        why = "0 is not a year (years run from 1 to 9999)";
        return false;
    }
    if (at < s.size() && (s[at] == 'T' || s[at] == 't' || s[at] == ' ')) {
        ++at;
        if (!parseTime(s, at, 7, t, why))
            return false;
    }
    if (at != s.size()) {
        why = quoted(s)
            + " is not a timestamp (timestamps are written YYYY-MM-DDTHH:MM:SS.fffffff)";
        return false;
    }
    constexpr uint64_t TicksPerSecond = 10'000'000;
    const uint64_t seconds = uint64_t(daysFromCivil(d.year, d.month, d.day)) * 86400
        + t.hours * 3600 + t.minutes * 60 + t.seconds;
    btr::le::putN(w, 8, seconds * TicksPerSecond + t.fraction);
    return true;
}

// ---- the rest --------------------------------------------------------------------------------

bool lowerEquals(std::string_view s, std::string_view word)
{
    if (s.size() != word.size())
        return false;
    for (size_t i = 0; i < s.size(); ++i)
        if ((s[i] >= 'A' && s[i] <= 'Z' ? char(s[i] + 32) : s[i]) != word[i])
            return false;
    return true;
}

bool parseTruth(std::string_view s, std::string_view type, bool& truth, std::string& why)
{
    if (s.empty())
        return noEmptyValue(type, why);
    if (s == "1" || lowerEquals(s, "true") || lowerEquals(s, "yes"))
        truth = true;
    else if (s == "0" || lowerEquals(s, "false") || lowerEquals(s, "no"))
        truth = false;
    else {
        why = quoted(s) + " is neither 0 nor 1 (nor true, false, yes, no)";
        return false;
    }
    return true;
}

bool encodeGuid(std::string_view s, uint8_t* w, size_t n, std::string& why)
{
    if (n != 16)
        return wrongLength("a GUID", "16 bytes", n, why);
    if (s.empty())
        return noEmptyValue("a GUID", why);
    std::string_view body = s;
    if (body.size() >= 2 && body.front() == '{' && body.back() == '}')
        body = body.substr(1, body.size() - 2);
    std::string hex;
    if (body.size() == 36) {
        for (size_t i = 0; i < body.size(); ++i) {
            if (i == 8 || i == 13 || i == 18 || i == 23) {
                if (body[i] != '-')
                    break;
            } else {
                hex += body[i];
            }
        }
    } else if (body.size() == 32) {
        hex = body;
    }
    if (hex.size() != 32 || !allHex(hex)) {
        why = quoted(s) + " is not a GUID (GUIDs are written as 8-4-4-4-12 hex digits)";
        return false;
    }
    // The first three groups are stored little-endian.
    static constexpr int Order[] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    for (size_t i = 0; i < 16; ++i)
        fromHex(std::string_view(hex).substr(2 * i, 2), w + Order[i]);
    return true;
}

// ---- text ------------------------------------------------------------------------------------

// The type's name after its article: "a zstring", "an lstring".
std::string withArticle(std::string_view type)
{
    return (type == "lstring" || type == "lvar" ? "an " : "a ") + std::string(type);
}

// "a zstring of 10 bytes holds at most 9 characters; this text has 12", in `units` of the stored
// form when a character may take more than one.
bool tooLong(std::string_view type, size_t n, size_t most, size_t characters, size_t stored,
    const std::string& units, std::string& why)
{
    why = withArticle(type) + " of " + counted(n, "byte", "bytes") + " holds at most ";
    if (characters == stored)
        why += counted(most, "character", "characters") + "; this text has "
            + std::to_string(characters);
    else
        why += std::to_string(most) + ' ' + units + "; this text takes " + std::to_string(stored);
    return false;
}

bool encodeText(const ValueType& t, std::string_view text, const uint8_t* old, uint8_t* w, size_t n,
    TextEncoder& encoder, std::string& why)
{
    const std::string_view name = t.type == exttype::ZString ? "zstring"
        : t.type == exttype::LString                         ? "lstring"
        : t.type == exttype::LVar                            ? "lvar"
        : t.type == exttype::Note                            ? "note"
                                                             : "string";
    // The header a length-prefixed string keeps before its text, the room after it.
    const size_t header = t.type == exttype::LString ? 1 : t.type == exttype::LVar ? 2 : 0;
    if (n < header) {
        why = withArticle(name) + " of " + counted(n, "byte", "bytes")
            + " has no room for its length";
        return false;
    }
    // A text that reads as hex is the characters typed: appendValue shows a text the code page
    // cannot read as the hex of the whole field, which encodeValue has already taken as bytes.
    std::string bytes;
    if (!encoder.append(text, bytes, why))
        return false;
    size_t most = n - header;
    if (t.type == exttype::LString)
        most = std::min<size_t>(most, 255);
    if (t.type == exttype::LVar)
        most = std::min<size_t>(most, 65535);
    if (t.type == exttype::ZString) {
        if (text.find('\0') != std::string_view::npos) {
            why = "a zstring ends at its first NUL: it cannot hold U+0000";
            return false;
        }
        if (n > 0 && std::memchr(old, 0, n) != nullptr)
            most = n - 1;
    }
    if (bytes.size() > most)
        return tooLong(name, n, most, utf8Length(text), bytes.size(),
            "bytes of text in " + encoder.encoding(), why);
    const bool blankPadded = n > 0
        && (t.type == exttype::String || t.type == exttype::Note ? old[n - 1] != 0
                                                                 : old[n - 1] == ' ');
    std::memset(w, blankPadded ? ' ' : 0, n);
    if (t.type == exttype::ZString && bytes.size() < n)
        w[bytes.size()] = 0;
    if (t.type == exttype::LString)
        w[0] = uint8_t(bytes.size());
    if (t.type == exttype::LVar)
        btr::le::put16(w, uint16_t(bytes.size()));
    std::memcpy(w + header, bytes.data(), bytes.size());
    return true;
}

// UTF-8 to UTF-16 code units; false for text that is not UTF-8.
bool toUtf16(std::string_view text, std::vector<uint16_t>& units, size_t& characters)
{
    characters = 0;
    for (size_t at = 0; at < text.size(); ++characters) {
        uint32_t c = 0;
        const size_t length = utf8Sequence(text.substr(at), c);
        if (length == 0)
            return false;
        at += length;
        if (c >= 0x10000) {
            units.push_back(uint16_t(0xD800 + ((c - 0x10000) >> 10)));
            units.push_back(uint16_t(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            units.push_back(uint16_t(c));
        }
    }
    return true;
}

bool encodeWide(const ValueType& t, std::string_view text, const uint8_t* old, uint8_t* w, size_t n,
    std::string& why)
{
    const bool toNul = t.type == exttype::WZString;
    if (n % 2 != 0)
        return wrongLength(toNul ? "a wzstring" : "a wstring", "an even number of bytes", n, why);
    std::vector<uint16_t> units;
    size_t characters = 0;
    if (!toUtf16(text, units, characters)) {
        why = "the text is not valid UTF-8";
        return false;
    }
    size_t most = n / 2;
    bool oldHasNul = false;
    for (size_t i = 0; i + 1 < n && !oldHasNul; i += 2)
        oldHasNul = btr::le::get16(old + i) == 0;
    if (toNul) {
        if (std::find(units.begin(), units.end(), uint16_t(0)) != units.end()) {
            why = "a wzstring ends at its first NUL: it cannot hold U+0000";
            return false;
        }
        if (oldHasNul)
            most = n / 2 - 1;
    }
    if (units.size() > most)
        return tooLong(
            toNul ? "wzstring" : "wstring", n, most, characters, units.size(), "UTF-16 units", why);
    const bool blankPadded = n > 0 && btr::le::get16(old + n - 2) == ' ';
    const bool padBlanks = toNul ? blankPadded : !(n > 0 && btr::le::get16(old + n - 2) == 0);
    for (size_t i = 0; i < n / 2; ++i)
        btr::le::put16(w + 2 * i, i < units.size() ? units[i] : padBlanks ? ' ' : 0);
    if (toNul && units.size() < n / 2)
        btr::le::put16(w + 2 * units.size(), 0);
    return true;
}

bool isTextType(uint8_t type)
{
    switch (type) {
    case exttype::String:
    case exttype::Note:
    case exttype::ZString:
    case exttype::LString:
    case exttype::LVar:
    case exttype::WString:
    case exttype::WZString:
        return true;
    default:
        return false;
    }
}

// Everything but the raw bytes: `text` as typed for the text types, trimmed for the others.
bool encodeTyped(const ValueType& t, std::string_view text, const uint8_t* old, uint8_t* w,
    size_t n, TextEncoder& encoder, std::string& why)
{
    const std::string_view s = trimmed(text);
    switch (t.type) {
    case exttype::String:
    case exttype::Note:
    case exttype::ZString:
    case exttype::LString:
    case exttype::LVar:
        return encodeText(t, text, old, w, n, encoder, why);
    case exttype::WString:
    case exttype::WZString:
        return encodeWide(t, text, old, w, n, why);
    case exttype::Integer:
    case exttype::Autoincrement:
    case exttype::Unsigned:
        return encodeWhole(t, s, w, n, why);
    case exttype::Float:
        return encodeFloat(s, w, n, why);
    case exttype::BFloat:
        return encodeBFloat(s, w, n, why);
    case exttype::Date:
        return encodeDate(s, w, n, why);
    case exttype::Time:
        return encodeTime(s, w, n, why);
    case exttype::Timestamp:
        return encodeTimestamp(s, w, n, why);
    case exttype::Decimal:
    case exttype::Money:
        return encodePacked(t, s, old, w, n, why);
    case exttype::Numeric:
    case exttype::SignSeparate:
        return encodeAscii(t, s, old, w, n, why);
    case exttype::Currency:
        return encodeCurrency(s, w, n, why);
    case exttype::Logical: {
        if (n != 1 && n != 2)
            return wrongLength("a logical", "1 or 2 bytes", n, why);
        bool truth = false;
        if (!parseTruth(s, "a logical", truth, why))
            return false;
        const bool wasTrue = (n == 1 ? old[0] : btr::le::get16(old)) != 0;
        // Programs spell true as 1, 0xFF or -1: a true stays as its program wrote it.
        if (!(truth && wasTrue))
            btr::le::putN(w, int(n), truth ? 1 : 0);
        return true;
    }
    case exttype::Bit: {
        if (size_t(t.decimals) >= 8 * n) {
            why = "bit " + std::to_string(t.decimals) + " is past the field's "
                + counted(n, "byte", "bytes");
            return false;
        }
        bool truth = false;
        if (!parseTruth(s, "a bit", truth, why))
            return false;
        const auto mask = uint8_t(1u << (t.decimals % 8));
        uint8_t& b = w[t.decimals / 8];
        b = truth ? uint8_t(b | mask) : uint8_t(b & ~mask);
        return true;
    }
    case exttype::Guid:
        return encodeGuid(s, w, n, why);
    default:
        return encodeHex(s, w, n, why);
    }
}

} // namespace

bool encodeHex(std::string_view text, uint8_t* p, size_t n, std::string& why)
{
    std::string_view s = trimmed(text);
    if (startsWith0x(s))
        s.remove_prefix(2);
    if (!allHex(s)) {
        why = quoted(text) + " is not hex digits";
        return false;
    }
    if (s.size() != 2 * n) {
        why = counted(s.size(), "hex digit", "hex digits") + " given, the field's "
            + (n == 1 ? "1 byte takes 2"
                      : std::to_string(n) + " bytes take " + std::to_string(2 * n));
        return false;
    }
    fromHex(s, p);
    return true;
}

bool encodeValue(const ValueType& t, std::string_view text, uint8_t* p, size_t n,
    TextEncoder& encoder, std::string& why)
{
    const std::string_view s = trimmed(text);
    if (startsWith0x(s) && allHex(s.substr(2))) {
        if (s.size() - 2 == 2 * n) {
            fromHex(s.substr(2), p);
            return true;
        }
        // A text that only looks like bytes is a text type's value like any other.
        if (!isTextType(t.type))
            return encodeHex(s, p, n, why);
    }
    // Into a copy, so that a refusal half-way leaves the caller's bytes as they were.
    // One byte more than the field, so that even an empty field has an address to write at.
    std::vector<uint8_t> work(n + 1);
    if (n > 0)
        std::memcpy(work.data(), p, n);
    if (!encodeTyped(t, text, p, work.data(), n, encoder, why))
        return false;
    if (n > 0)
        std::memcpy(p, work.data(), n);
    return true;
}

bool encodeField(const Field& f, std::string_view text, uint8_t* record, size_t length,
    TextEncoder& encoder, std::string& why)
{
    if (f.source == Source::VariablePart)
        return encodeHex(text, record + std::min<size_t>(f.offset, length),
            length > f.offset ? length - f.offset : 0, why);
    if (f.offset + size_t(f.length) > length) {
        why = "the record ends before field " + f.name + " does (it has "
            + counted(length, "byte", "bytes") + ", the field runs to byte "
            + std::to_string(f.offset + size_t(f.length)) + ")";
        return false;
    }
    if (f.source == Source::Filler)
        return encodeHex(text, record + f.offset, f.length, why);
    return encodeValue(f.type, text, record + f.offset, f.length, encoder, why);
}

} // namespace fields
