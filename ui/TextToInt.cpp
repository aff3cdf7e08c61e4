#include "TextToInt.h"

#include "Errors.h"

#include <limits>

namespace {

[[noreturn]] void notAnInteger(const QString& text)
{
    throw EConvertError(QStringLiteral("'%1' is not a valid integer value").arg(text));
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

} // namespace

int32_t TextToInt(const QString& text)
{
    if (text.isEmpty())
        return 0;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (i == n)
        notAnInteger(text);

    if (text[i] == QLatin1Char('$')) {
        ++i;
        if (i == n)
            notAnInteger(text);
        uint32_t value = 0;
        int significant = 0;
        for (; i < n; ++i) {
            const int d = hexDigit(text[i]);
            if (d < 0)
                notAnInteger(text);
            if (significant > 0 || d != 0)
                ++significant;
            if (significant > 8)
                notAnInteger(text);
            value = (value << 4) | static_cast<uint32_t>(d);
        }
        return static_cast<int32_t>(value);
    }

    bool negative = false;
    if (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    if (i == n)
        notAnInteger(text);
    // Accumulated as a magnitude: the most negative value has no positive counterpart.
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int32_t>::min())
                                   : std::numeric_limits<int32_t>::max();
    int64_t magnitude = 0;
    for (; i < n; ++i) {
        const char16_t u = text[i].unicode();
        if (u < u'0' || u > u'9')
            notAnInteger(text);
        magnitude = magnitude * 10 + (u - u'0');
        if (magnitude > limit)
            notAnInteger(text);
    }
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}
