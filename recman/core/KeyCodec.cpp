#include "KeyCodec.h"

#include <algorithm>
#include <cstring>

namespace recman {

namespace {

// A key never exceeds 255 bytes; a longer segment can only come from a definition Create never
// accepted (a damaged legacy file), and is cut there rather than read beyond a bounded buffer.
constexpr size_t MaxSegmentLength = 255;

// Case-insensitive keys compare a-z as A-Z and every other byte as it is.
constexpr AcsTable makeUpperCaseMap()
{
    AcsTable map {};
    for (size_t i = 0; i < map.size(); ++i)
        map[i] = uint8_t(i >= 'a' && i <= 'z' ? i - ('a' - 'A') : i);
    return map;
}
constexpr AcsTable UpperCaseMap = makeUpperCaseMap();

// Little-endian bytes to most significant first: unsigned numbers then compare as bytes.
size_t reversed(const uint8_t* in, size_t length, uint8_t* out)
{
    for (size_t i = 0; i < length; ++i)
        out[i] = in[length - 1 - i];
    return length;
}

size_t mapped(const uint8_t* in, size_t length, const uint8_t* map, uint8_t* out)
{
    if (map == nullptr) {
        std::memcpy(out, in, length);
        return length;
    }
    for (size_t i = 0; i < length; ++i)
        out[i] = map[in[i]];
    return length;
}

// IEEE 754: positive numbers get the sign bit set, negative ones are inverted, so that the
// unsigned big-endian image orders numerically; negative zero is made positive zero first.
template <typename Bits> size_t ieeeFloat(const uint8_t* in, uint8_t* out)
{
    constexpr size_t length = sizeof(Bits);
    constexpr Bits sign = Bits(1) << (8 * length - 1);
    Bits bits = 0;
    for (size_t i = 0; i < length; ++i)
        bits = Bits(bits | Bits(in[i]) << (8 * i));
    if (bits == sign)
        bits = 0;
    bits = (bits & sign) ? Bits(~bits) : Bits(bits | sign);
    for (size_t i = 0; i < length; ++i)
        out[i] = uint8_t(bits >> (8 * (length - 1 - i)));
    return length;
}

// The older binary floating format: exponent in the last byte (0 = zero), sign in the top bit of
// the byte before it, mantissa below. Output: a sign byte (0 negative, 1 zero or positive), then
// the magnitude exponent first, inverted for negative numbers.
size_t bfloat(const uint8_t* in, size_t length, uint8_t* out)
{
    const uint8_t exponent = in[length - 1];
    if (exponent == 0) {
        out[0] = 1;
        std::memset(out + 1, 0, length);
        return length + 1;
    }
    const bool negative = in[length - 2] & 0x80;
    out[0] = negative ? 0 : 1;
    out[1] = exponent;
    out[2] = in[length - 2] & 0x7F;
    for (size_t i = 3; i <= length; ++i)
        out[i] = in[length - i];
    if (negative)
        for (size_t i = 1; i <= length; ++i)
            out[i] = uint8_t(~out[i]);
    return length + 1;
}

// Packed decimal: two digits a byte, the last half-byte the sign (0xD or 0xB negative). Output:
// a sign byte, then the digit bytes (sign half-byte cleared), inverted for negative numbers.
size_t packedDecimal(const uint8_t* in, size_t length, uint8_t* out)
{
    const uint8_t signNibble = in[length - 1] & 0x0F;
    bool negative = signNibble == 0x0D || signNibble == 0x0B;
    std::memcpy(out + 1, in, length);
    out[length] &= 0xF0;
    if (std::all_of(out + 1, out + 1 + length, [](uint8_t b) { return b == 0; }))
        negative = false; // negative zero is zero
    out[0] = negative ? 0 : 1;
    if (negative)
        for (size_t i = 1; i <= length; ++i)
            out[i] = uint8_t(~out[i]);
    return length + 1;
}

// Digits of a numeric field, right-aligned; leading blanks (and any other non-digit) count as 0.
uint8_t digitValue(uint8_t c)
{
    return (c >= '0' && c <= '9') ? uint8_t(c - '0') : 0;
}

// Output of both numeric kinds: a sign byte, then one byte per digit (9 - digit when negative).
size_t signedDigits(const uint8_t* digits, size_t count, uint8_t last, bool negative, uint8_t* out)
{
    bool zero = last == 0;
    for (size_t i = 0; i < count; ++i) {
        out[1 + i] = digitValue(digits[i]);
        zero = zero && out[1 + i] == 0;
    }
    out[1 + count] = last;
    if (zero)
        negative = false;
    out[0] = negative ? 0 : 1;
    if (negative)
        for (size_t i = 1; i <= count + 1; ++i)
            out[i] = uint8_t(9 - out[i]);
    return count + 2;
}

// Numeric: the last byte carries the sign over its digit ("{", "A"-"I" positive 0-9; "}", "J"-"R"
// negative 0-9; a plain digit positive).
size_t overpunchedNumeric(const uint8_t* in, size_t length, uint8_t* out)
{
    const uint8_t c = in[length - 1];
    uint8_t digit = 0;
    bool negative = false;
    if (c >= '0' && c <= '9') {
        digit = uint8_t(c - '0');
    } else if (c >= 'A' && c <= 'I') {
        digit = uint8_t(c - 'A' + 1);
    } else if (c == '}') {
        negative = true;
    } else if (c >= 'J' && c <= 'R') {
        digit = uint8_t(c - 'J' + 1);
        negative = true;
    }
    return signedDigits(in, length - 1, digit, negative, out);
}

// Sign-separate numeric: digits, then a trailing "+" or "-".
size_t signSeparateNumeric(const uint8_t* in, size_t length, uint8_t* out)
{
    const bool negative = in[length - 1] == '-';
    return signedDigits(in, length - 2, digitValue(in[length - 2]), negative, out);
}

// Strings of their own length: content with 0x00 written as 0x00 0xFF, then 0x00 0x00, so that a
// string sorts before every longer string it begins and the encoding is self-delimiting (the
// segments after it compare only when the strings are equal).
size_t terminated(const uint8_t* in, size_t length, const uint8_t* map, uint8_t* out)
{
    size_t n = 0;
    for (size_t i = 0; i < length; ++i) {
        const uint8_t b = map ? map[in[i]] : in[i];
        out[n++] = b;
        if (b == 0)
            out[n++] = 0xFF;
    }
    out[n++] = 0;
    out[n++] = 0;
    return n;
}

size_t maxEncoded(SegmentType type, size_t length)
{
    switch (type) {
    case SegmentType::BFloat:
    case SegmentType::Decimal:
    case SegmentType::Money:
    case SegmentType::Numeric:
        return length + 1;
    case SegmentType::LString:
    case SegmentType::ZString:
        return 2 * length + 2;
    default:
        return length;
    }
}

} // namespace

KeyCodec::KeyCodec(const Key& key, const std::vector<AcsBlockDef>& acsBlocks)
{
    plans_.reserve(key.segments.size());
    for (const Segment& s : key.segments) {
        Plan plan;
        plan.offset = s.position > 0 ? size_t(s.position - 1) : 0;
        plan.length = std::min<size_t>(s.length, MaxSegmentLength);
        plan.type = s.type();
        plan.descending = s.flags & keyflag::Descending;
        plan.nullValue = s.nullValue;
        if (s.stringLike()) {
            if ((s.flags & keyflag::Acs) && s.acsNumber < acsBlocks.size()) {
                const uint8_t* table = acsBlocks[s.acsNumber].table();
                plan.map = int(maps_.size());
                maps_.emplace_back();
                std::copy(table, table + maps_.back().size(), maps_.back().begin());
            } else if (!(s.flags & keyflag::Acs) && (s.flags & keyflag::CaseInsensitive)) {
                plan.map = int(maps_.size());
                maps_.push_back(UpperCaseMap);
            }
        }
        // Lengths Create refuses for a type are collated as plain bytes rather than guessed at.
        const size_t n = plan.length;
        const bool fits = [&] {
            switch (plan.type) {
            case SegmentType::Float:
                return n == 4 || n == 8;
            case SegmentType::BFloat:
            case SegmentType::SignSeparate:
            case SegmentType::LString:
                return n >= 2;
            case SegmentType::Date:
            case SegmentType::Time:
                return n == 4;
            default:
                return n >= 1;
            }
        }();
        if (!fits)
            plan.type = SegmentType::Unsupported;
        plan.valueOffset = valueLength_;
        valueLength_ += plan.length;
        maxEncodedLength_ += maxEncoded(plan.type, plan.length);
        plans_.push_back(plan);
    }
    nullAll_ = key.nullAll();
    nullAny_ = key.nullAny();
}

size_t KeyCodec::encodeSegment(const Plan& plan, const uint8_t* bytes, uint8_t* out) const
{
    const size_t n = plan.length;
    const uint8_t* map = plan.map < 0 ? nullptr : maps_[size_t(plan.map)].data();
    switch (plan.type) {
    case SegmentType::String:
    case SegmentType::OldString:
        return mapped(bytes, n, map, out);
    case SegmentType::Unsigned:
    case SegmentType::OldBinary:
    case SegmentType::Logical:
    case SegmentType::Date: // day, month, year (16-bit): reversed it reads year, month, day
    case SegmentType::Time: // hundredths, seconds, minutes, hours: reversed it reads hours first
        return reversed(bytes, n, out);
    case SegmentType::Integer:
    case SegmentType::Autoincrement:
        reversed(bytes, n, out);
        out[0] ^= 0x80;
        return n;
    case SegmentType::Float:
        return n == 4 ? ieeeFloat<uint32_t>(bytes, out) : ieeeFloat<uint64_t>(bytes, out);
    case SegmentType::BFloat:
        return bfloat(bytes, n, out);
    case SegmentType::Decimal:
    case SegmentType::Money:
        return packedDecimal(bytes, n, out);
    case SegmentType::Numeric:
        return overpunchedNumeric(bytes, n, out);
    case SegmentType::SignSeparate:
        return signSeparateNumeric(bytes, n, out);
    case SegmentType::LString:
        return terminated(bytes + 1, std::min<size_t>(bytes[0], n - 1), map, out);
    case SegmentType::ZString: {
        const uint8_t* end = static_cast<const uint8_t*>(std::memchr(bytes, 0, n));
        return terminated(bytes, end ? size_t(end - bytes) : n, map, out);
    }
    case SegmentType::Unsupported:
        break;
    }
    return mapped(bytes, n, nullptr, out);
}

namespace {

// The segment's bytes in the record; past the end of a short record they read as zeros.
const uint8_t* segmentBytes(
    const uint8_t* record, size_t recordLength, size_t offset, size_t length, uint8_t* scratch)
{
    if (record != nullptr && offset + length <= recordLength)
        return record + offset;
    std::memset(scratch, 0, length);
    if (record != nullptr && offset < recordLength)
        std::memcpy(scratch, record + offset, recordLength - offset);
    return scratch;
}

} // namespace

// Encodes the segments whose bytes `segment(plan, scratch)` gives; false (and `out` empty) when
// the key is null. Records and key values differ only in where each segment's bytes lie.
template <typename SegmentBytes>
bool KeyCodec::encodeWith(SegmentBytes segment, std::vector<uint8_t>& out) const
{
    uint8_t scratch[MaxSegmentLength];
    bool null = false;
    if ((nullAll_ || nullAny_) && !plans_.empty()) {
        bool all = true;
        bool any = false;
        for (const Plan& plan : plans_) {
            const uint8_t* bytes = segment(plan, scratch);
            const bool isNull = std::all_of(
                bytes, bytes + plan.length, [&plan](uint8_t b) { return b == plan.nullValue; });
            all = all && isNull;
            any = any || isNull;
        }
        null = (nullAll_ && all) || (nullAny_ && any);
    }

    if (out.size() < maxEncodedLength_)
        out.resize(maxEncodedLength_);
    uint8_t* w = out.data();
    size_t n = 0;
    for (const Plan& plan : plans_) {
        const size_t written = encodeSegment(plan, segment(plan, scratch), w + n);
        if (plan.descending)
            for (size_t i = n; i < n + written; ++i)
                w[i] = uint8_t(~w[i]);
        n += written;
    }
    out.resize(n);
    return !null;
}

bool KeyCodec::encode(const uint8_t* record, size_t recordLength, std::vector<uint8_t>& out) const
{
    const bool stored = encodeWith(
        [record, recordLength](const Plan& plan, uint8_t* scratch) {
            return segmentBytes(record, recordLength, plan.offset, plan.length, scratch);
        },
        out);
    if (!stored)
        out.clear();
    return stored;
}

bool KeyCodec::encodeValue(const uint8_t* value, std::vector<uint8_t>& out) const
{
    return encodeWith(
        [value](const Plan& plan, uint8_t*) { return value + plan.valueOffset; }, out);
}

void KeyCodec::extractValue(const uint8_t* record, size_t recordLength, uint8_t* out) const
{
    uint8_t scratch[MaxSegmentLength];
    for (const Plan& plan : plans_) {
        std::memcpy(out, segmentBytes(record, recordLength, plan.offset, plan.length, scratch),
            plan.length);
        out += plan.length;
    }
}

} // namespace recman
