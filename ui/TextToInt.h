// The one conversion from window text to number, and the bit of a check box.
#pragma once

#include <QString>

#include <cstdint>

// Empty text gives 0. Any other text must be a 32-bit integer: optional leading spaces, then an
// optional sign and decimal digits, or "$" and up to 8 significant hexadecimal digits (read as
// two's complement), with nothing after the digits. Anything else raises EConvertError with the
// message "'<text>' is not a valid integer value".
int32_t TextToInt(const QString& text);

// 1 for a checked box, 0 otherwise.
inline int BoolToBit(bool state)
{
    return state ? 1 : 0;
}
