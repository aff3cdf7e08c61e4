#include "Inference.h"

#include "DefinitionLayout.h"
#include "LittleEndian.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

namespace fields {

void RecordSample::add(const uint8_t* p, size_t n)
{
    if (recordLength_ == 0) {
        ++count_;
        return;
    }
    const size_t at = bytes_.size();
    bytes_.resize(at + recordLength_, 0);
    std::memcpy(bytes_.data() + at, p, std::min<size_t>(n, recordLength_));
}

void RecordSample::thin()
{
    if (recordLength_ == 0) {
        count_ = (count_ + 1) / 2;
        return;
    }
    const size_t n = size();
    size_t kept = 0;
    for (size_t i = 0; i < n; i += 2, ++kept) {
        if (kept != i)
            std::memcpy(bytes_.data() + kept * recordLength_, bytes_.data() + i * recordLength_,
                recordLength_);
    }
    bytes_.resize(kept * recordLength_);
}

void RecordSample::clear()
{
    bytes_.clear();
    count_ = 0;
    fileRecords = 0;
}

namespace {

namespace exttype = btr::exttype;

// What every reading is weighed by: bits per record. A field pays for being a field, a run of
// hex for being a run; a hex byte that varies costs all its eight bits, one that never varies
// nothing.
constexpr double FieldOverhead = 1.0;
constexpr double FillerOverhead = 1.0;
constexpr double HexByte = 8.0;
constexpr double LeadingZeroByte = 0.3;
constexpr double LeadingZeroDigit = 0.2;
constexpr double Log2Of10 = 3.321928094887362;
constexpr double Infinite = std::numeric_limits<double>::infinity();

// Share of the non-blank records a reading may find invalid and still be proposed: a few damaged
// or half-written records do not hide a field.
constexpr double InvalidShare = 0.015;

enum class Reading : uint8_t {
    Integer,
    Float,
    BFloat,
    Date,
    Time,
    Timestamp,
    Decimal,
    Numeric,
    NumericSts,
    Logical,
    String,
    ZString,
    LString,
};

// Text, byte by byte, without knowing the code page: printable ASCII and every byte from 0x80 may
// be letters; control bytes are not text. Costs in tenths of bits, so that tables sum exactly.
enum CharClass : uint8_t { Nul, Blank, Letter, Digit, Punct, High, Control };

struct CharTable
{
    uint8_t cls[256];
    uint16_t cost[256]; // as content
    CharTable()
    {
        for (int b = 0; b < 256; ++b) {
            CharClass c;
            uint16_t t;
            if (b == 0) {
                c = Nul;
                t = 30;
            } else if (b == ' ') {
                c = Blank;
                t = 30; // a blank inside text: between words
            } else if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z')) {
                c = Letter;
                t = 46;
            } else if (b >= '0' && b <= '9') {
                c = Digit;
                t = 43;
            } else if (b > ' ' && b < 0x7F) {
                c = Punct;
                t = 60;
            } else if (b >= 0x80) {
                c = High;
                t = 70;
            } else {
                c = Control;
                t = 80;
            }
            cls[b] = c;
            cost[b] = t;
        }
    }
};

const CharTable& chars()
{
    static const CharTable table;
    return table;
}

constexpr uint32_t PadTail = 1;    // a blank or NUL after the text, in tenths
constexpr uint32_t OddPad = 5;     // a NUL that never varies after blank-padded text
constexpr uint32_t Terminator = 5; // what a zstring gains by its NUL that never varies
constexpr uint32_t MidWord = 40;   // a text that begins where a word goes on

bool isPad(uint8_t b)
{
    return b == 0 || b == ' ';
}

// A byte after the end of a zstring or a length-prefixed text that is not NUL: what an older,
// longer value left there is text; a byte that is not text is more likely a field of its own.
uint32_t tailCost(uint8_t b, uint8_t cls)
{
    if (isPad(b))
        return PadTail;
    return cls == Control || cls == High ? 120 : 80;
}

// log2(1 + v) to within a hundredth, without a libm call per value: the exponent of the double,
// and a parabola through its mantissa.
double log2p1(double v)
{
    const double x = v + 1.0;
    uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int exponent = int(bits >> 52) - 1023;
    bits = (bits & 0x000F'FFFF'FFFF'FFFFULL) | (uint64_t(1023) << 52);
    double m;
    std::memcpy(&m, &bits, sizeof m);
    return double(exponent) + (-0.34484843 * m + 2.02466578) * m - 1.67981735;
}

// Significant decimal digits of the shortest text that reads back to v.
template <typename T> int significantDigits(T v)
{
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, v).ptr;
    int first = -1;
    int last = -1;
    int n = 0;
    for (const char* p = text; p != end && *p != 'e'; ++p) {
        if (*p < '0' || *p > '9')
            continue;
        if (*p != '0') {
            if (first < 0)
                first = n;
            last = n;
        }
        ++n;
    }
    return first < 0 ? 1 : last - first + 1;
}

bool isLeapYear(uint32_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

uint32_t monthDays(uint32_t y, uint32_t m)
{
    static constexpr uint8_t Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeapYear(y) ? 29 : Days[m - 1];
}

// Days from 0001-01-01 to y-01-01 (proleptic Gregorian).
uint64_t daysBeforeYear(uint64_t y)
{
    const uint64_t p = y - 1;
    return p * 365 + p / 4 - p / 100 + p / 400;
}

// The sane range of dates: a record-manager file written by an application holds dates of its
// own century or the next, birthdays and founding years a little further back.
constexpr uint32_t FirstYear = 1850;
constexpr uint32_t LastYear = 2150;
constexpr uint64_t TicksPerDay = 864'000'000'000ULL;
const uint64_t FirstTick = daysBeforeYear(1900) * TicksPerDay;
const uint64_t LastTick = daysBeforeYear(2101) * TicksPerDay;

// Floats of a magnitude applications store: amounts, measures, rates.
constexpr double SmallestFloat = 1e-9;
constexpr double LargestFloat = 1e15;

// What a reading adds for being that reading, in bits per record: among readings that explain
// the bytes equally well, the common one wins (a 4-byte integer over 2 bytes and 2 zeros, a
// string over a zstring).
double prior(Reading r, uint32_t length)
{
    switch (r) {
    case Reading::Integer:
        // A uniform value costs some 1.4 bits less than its width: each piece a wide value is cut
        // into would gain that, so each pays it back.
        return length == 1 ? 0.5 : length == 2 ? 0.7 : 0.5;
    case Reading::Float:
        return length == 4 ? 0.5 : 0.3;
    case Reading::BFloat:
        return 1.0;
    case Reading::Date:
        return 0.0;
    case Reading::Time:
        return 2.0;
    case Reading::Timestamp:
        return 1.0;
    case Reading::Decimal:
    case Reading::Numeric:
    case Reading::NumericSts:
        return 0.5;
    case Reading::Logical:
        return length == 1 ? 0.0 : 0.3;
    // One text cut in two at a blank between words would gain the blank's bits: a text pays for
    // being a field of its own.
    case Reading::String:
        return 2.0;
    case Reading::ZString:
        return 2.05;
    case Reading::LString:
        return 2.3;
    }
    return 0.0;
}

// One reading of a run of bytes of fixed length, scored record by record.
struct Candidate
{
    uint32_t start = 0;
    uint32_t length = 0;
    Reading reading = Reading::Integer;
    bool alive = true;
    uint32_t invalid = 0;
    uint32_t blank = 0;
    uint32_t aligned = 0;        // ASCII numbers: records whose number is padded on the left
    uint32_t negative = 0;       // integers: records whose value read as signed is negative
    uint64_t nonZeroBytes = 0;   // binary numbers of two bytes or more: their bytes other than
    uint64_t printableBytes = 0; // zero, how many of those are printable ASCII and how many
    uint64_t letterBytes = 0;    // letters
    double cost = 0;             // integers: read as signed, without the sign
    double unsignedCost = 0;

    uint32_t end() const { return start + length; }
};

bool allZero(const uint8_t* p, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i) {
        if (p[i])
            return false;
    }
    return true;
}

bool plausibleFloat(double a)
{
    return a == 0 || (a >= SmallestFloat && a <= LargestFloat);
}

// Adds one record's value of the candidate.
void evaluate(Candidate& c, const uint8_t* record)
{
    const uint8_t* p = record + c.start;
    const uint32_t n = c.length;
    if (c.reading != Reading::Logical && c.reading != Reading::Date && c.reading != Reading::Time
        && c.reading != Reading::Numeric && c.reading != Reading::NumericSts && n > 1) {
        for (uint32_t i = 0; i < n; ++i) {
            c.nonZeroBytes += p[i] != 0;
            c.printableBytes += p[i] >= ' ' && p[i] < 0x7F;
            c.letterBytes += unsigned((p[i] | 0x20) - 'a') < 26u;
        }
    }
    switch (c.reading) {
    case Reading::Integer: {
        const uint64_t u = btr::le::getN(p, int(n));
        if (u == 0) {
            ++c.blank;
            c.cost += 1;
            c.unsignedCost += 1;
            return;
        }
        c.unsignedCost += log2p1(double(u)) + 1;
        const int shift = 64 - 8 * int(n);
        const int64_t s = shift ? int64_t(u << shift) >> shift : int64_t(u);
        const double magnitude = s < 0 ? -double(s) : double(s);
        c.cost += log2p1(magnitude) + 1;
        c.negative += s < 0;
        return;
    }
    case Reading::Float: {
        if (allZero(p, n)) {
            ++c.blank;
            c.cost += 1;
            return;
        }
        if (n == 4) {
            float v;
            std::memcpy(&v, p, 4);
            if (!std::isfinite(v) || !plausibleFloat(std::fabs(double(v)))) {
                ++c.invalid;
                return;
            }
            c.cost += (v == 0 ? 1 : significantDigits(v)) * Log2Of10 + 5;
        } else {
            double v;
            std::memcpy(&v, p, 8);
            if (!std::isfinite(v) || !plausibleFloat(std::fabs(v))) {
                ++c.invalid;
                return;
            }
            c.cost += (v == 0 ? 1 : significantDigits(v)) * Log2Of10 + 5;
        }
        return;
    }
    case Reading::BFloat: {
        if (allZero(p, n)) {
            ++c.blank;
            c.cost += 1;
            return;
        }
        const int exponent = p[n - 1];
        // A writer of this format writes zero as zero bytes: an exponent of 0 under other bits
        // is not a number it wrote.
        if (exponent == 0) {
            ++c.invalid;
            return;
        }
        const int bits = int(n - 1) * 8 - 1;
        const uint64_t mantissa
            = (btr::le::getN(p, int(n - 1)) & ((uint64_t(1) << bits) - 1)) | (uint64_t(1) << bits);
        const double v = std::ldexp(double(mantissa), exponent - 129 - bits);
        if (!plausibleFloat(v)) {
            ++c.invalid;
            return;
        }
        c.cost += (n == 4 ? significantDigits(float(v)) : significantDigits(v)) * Log2Of10 + 5;
        return;
    }
    case Reading::Date: {
        const uint32_t day = p[0];
        const uint32_t month = p[1];
        const uint32_t year = btr::le::get16(p + 2);
        if (day == 0 && month == 0 && year == 0) {
            ++c.blank;
            c.cost += 1;
            return;
        }
        if (year < FirstYear || year > LastYear || month < 1 || month > 12 || day < 1
            || day > monthDays(year, month)) {
            ++c.invalid;
            return;
        }
        c.cost += 15.5;
        return;
    }
    case Reading::Time:
        if (allZero(p, 4)) {
            ++c.blank;
            c.cost += 1;
            return;
        }
        if (p[0] > 99 || p[1] > 59 || p[2] > 59 || p[3] > 23) {
            ++c.invalid;
            return;
        }
        c.cost += 23;
        return;
    case Reading::Timestamp: {
        const uint64_t ticks = btr::le::getN(p, 8);
        if (ticks == 0) {
            ++c.blank;
            c.cost += 1;
            return;
        }
        if (ticks < FirstTick || ticks >= LastTick) {
            ++c.invalid;
            return;
        }
        c.cost += ticks % 10'000'000 == 0 ? 33 : 56;
        return;
    }
    case Reading::Decimal: {
        if (allZero(p, n)) {
            ++c.blank;
            c.cost += 1;
            return;
        }
        int significant = 0;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t high = p[i] >> 4;
            const uint8_t low = p[i] & 0x0F;
            const bool last = i + 1 == n;
            if (high > 9 || (!last && low > 9) || (last && low < 0xA)) {
                ++c.invalid;
                return;
            }
            if (significant || high)
                ++significant;
            if (!last && (significant || low))
                ++significant;
        }
        c.cost += significant * Log2Of10 + 1;
        return;
    }
    case Reading::Numeric:
    case Reading::NumericSts: {
        uint32_t lead = 0;
        while (lead < n && p[lead] == ' ')
            ++lead;
        if (lead == n || allZero(p, n)) {
            ++c.blank;
            c.cost += 1;
            return;
        }
        const uint8_t last = p[n - 1];
        bool lastOk;
        if (c.reading == Reading::NumericSts)
            lastOk = (last == '+' || last == '-') && lead + 1 < n;
        else
            lastOk = (last >= '0' && last <= '9') || last == '{' || last == '}'
                || (last >= 'A' && last <= 'R');
        if (!lastOk) {
            ++c.invalid;
            return;
        }
        int significant = 0;
        for (uint32_t i = lead; i + 1 < n; ++i) {
            if (p[i] < '0' || p[i] > '9') {
                ++c.invalid;
                return;
            }
            if (significant || p[i] != '0')
                ++significant;
        }
        if (c.reading == Reading::Numeric)
            ++significant;
        if (lead > 0 || p[0] == '0')
            ++c.aligned;
        c.cost += significant * Log2Of10 + 1 + 0.3 * lead;
        return;
    }
    case Reading::Logical:
        if (n == 2 && p[1] != 0) {
            ++c.invalid;
            return;
        }
        if (p[0] > 1) {
            ++c.invalid;
            return;
        }
        if (p[0] == 0)
            ++c.blank;
        c.cost += 1;
        return;
    case Reading::String:
    case Reading::ZString:
    case Reading::LString:
        return;
    }
}

// A run of bytes no known field covers: its columns' statistics, the tables the text readings
// are scored from, and the cheapest cover found.
class Region
{
public:
    Region(uint32_t begin, uint32_t end, uint32_t maxText, size_t records, uint32_t allowed)
        : begin_(begin)
        , size_(end - begin)
        , maxText_(maxText)
        , records_(records)
        , allowed_(allowed)
    { }

    uint32_t begin() const { return begin_; }
    uint32_t end() const { return begin_ + size_; }

    void prepare(const std::vector<uint8_t>& constant, const std::vector<uint8_t>& constantByte)
    {
        constant_.assign(constant.begin() + begin_, constant.begin() + begin_ + size_);
        constantByte_.assign(constantByte.begin() + begin_, constantByte.begin() + begin_ + size_);
        const size_t cells = size_t(size_) * stride();
        padInterior_.assign(cells, 0);
        nonBlank_.assign(cells, 0);
        stringBad_.assign(cells, 0);
        zstringBad_.assign(cells, 0);
        zTail_.assign(cells, 0);
        zCost_.assign(cells, 0);
        nonPadCost_.assign(size_, 0);
        nonPad_.assign(size_, 0);
        alnum_.assign(size_, 0);
        high_.assign(size_, 0);
        nuls_.assign(size_, 0);
        wordGoesOn_.assign(size_, 0);
        lHeads_.assign(size_t(size_) * 257, 0);
        lCost_.assign(size_, 0);
        lBad_.assign(size_, 0);
        lContent_.assign(size_, 0);
        lAlnum_.assign(size_, 0);
        lEnds_.assign(size_, 0);
        work_.resize(size_ + 1);
    }

    // One record's bytes into the text tables.
    void addText(const uint8_t* record)
    {
        const CharTable& t = chars();
        const uint8_t* p = record + begin_;
        const uint32_t far = size_ + maxText_ + 1; // "beyond any window"
        const uint32_t cap = maxText_ + 1;
        uint32_t nextNonPad = far;
        uint32_t bad = far;
        uint32_t firstNul = far;
        uint32_t firstControl = far;
        for (uint32_t i = size_; i-- > 0;) {
            const uint8_t b = p[i];
            const uint8_t cls = t.cls[b];
            uint32_t* row = nullptr;
            const size_t at = size_t(i) * stride();
            const bool pad = isPad(b);
            if (pad) {
                // A blank or NUL is inside the text of a window reaching past the next
                // non-blank byte.
                padInterior_[at + std::min(nextNonPad - i, cap)]++;
                if (b == 0)
                    bad = std::min(bad, nextNonPad);
            } else {
                nextNonPad = i;
                if (cls == Control)
                    bad = i;
            }
            row = &nonBlank_[at];
            row[std::min(nextNonPad - i, cap)]++;
            stringBad_[at + std::min(bad - i, cap)]++;
            if (b == 0)
                firstNul = i;
            if (cls == Control)
                firstControl = i;
            const uint32_t zbad = firstControl < firstNul ? firstControl : far;
            zstringBad_[at + std::min(zbad - i, cap)]++;
        }
        uint32_t lastNul = 0;
        bool seenNul = false;
        for (uint32_t i = 0; i < size_; ++i) {
            const uint8_t b = p[i];
            const uint8_t cls = t.cls[b];
            if (b == 0) {
                ++nuls_[i];
                lastNul = i;
                seenNul = true;
            } else {
                const uint32_t d = seenNul ? std::min(i - lastNul, maxText_ + 1) : maxText_ + 1;
                const size_t at = size_t(i) * stride() + d;
                zTail_[at] += tailCost(b, cls);
                zCost_[at] += t.cost[b];
            }
            if (!isPad(b)) {
                ++nonPad_[i];
                nonPadCost_[i] += t.cost[b];
                if (cls == Letter || cls == Digit) {
                    ++alnum_[i];
                    if (i > 0 && (t.cls[p[i - 1]] == Letter || t.cls[p[i - 1]] == Digit))
                        ++wordGoesOn_[i];
                } else if (cls == High) {
                    ++high_[i];
                }
            }
        }
        addLengthPrefixed(p);
    }

    // Cumulative sums over distances, once every record is in.
    void finishTables()
    {
        const uint32_t w = stride();
        for (uint32_t i = 0; i < size_; ++i) {
            for (auto* table :
                {&padInterior_, &nonBlank_, &stringBad_, &zstringBad_, &zTail_, &zCost_}) {
                uint32_t* row = table->data() + size_t(i) * w;
                for (uint32_t d = 1; d < w; ++d)
                    row[d] += row[d - 1];
            }
        }
    }

    // Starts where a length byte and clean text after it hold in nearly every record.
    void chooseLengthPrefixed()
    {
        for (uint32_t s = 0; s + 1 < size_; ++s) {
            const uint32_t* heads = &lHeads_[size_t(s) * 257];
            const uint32_t blank = heads[0];
            if (blank >= records_ || lBad_[s] + heads[256] > allowed_)
                continue;
            // Text rarely ends in a blank: the byte the length points at is the text's last.
            const uint32_t nonBlank = uint32_t(records_) - blank - heads[256];
            if (lAlnum_[s] * 10 < lContent_[s] * 3 || lEnds_[s] * 10 < nonBlank * 9
                || varyingIn(s, s + 2) == 0)
                continue;
            lStarts_.push_back(s);
        }
        // Inside long text nearly every byte could be a length: such a run is text, and the
        // work of weighing each start stays bounded.
        if (lStarts_.size() > 64)
            lStarts_.clear();
        lTail_.assign(lStarts_.size() * maxText_, 0);
    }

    bool wantsTails() const { return !lStarts_.empty(); }

    // The bytes after each length-prefixed text, per window end: blanks and NULs cheap, anything
    // else all its bits.
    void addTails(const uint8_t* record)
    {
        const uint8_t* p = record + begin_;
        const CharTable& t = chars();
        std::vector<uint32_t>& cost = work_;
        cost[0] = 0;
        for (uint32_t i = 0; i < size_; ++i)
            cost[i + 1] = cost[i] + (constant_[i] ? 0 : tailCost(p[i], t.cls[p[i]]));
        for (size_t k = 0; k < lStarts_.size(); ++k) {
            const uint32_t s = lStarts_[k];
            const uint32_t content = s + 1 + p[s];
            if (content > size_)
                continue;
            const uint32_t last = std::min(size_, s + maxText_);
            uint32_t* row = &lTail_[k * maxText_];
            for (uint32_t e = std::max(content, s + 2); e <= last; ++e)
                row[e - s - 1] += cost[e] - cost[content];
        }
    }

    void prefixSums()
    {
        varying_.assign(size_ + 1, 0);
        nonPadSum_.assign(size_ + 1, 0);
        alnumSum_.assign(size_ + 1, 0);
        highSum_.assign(size_ + 1, 0);
        for (uint32_t i = 0; i < size_; ++i) {
            varying_[i + 1] = varying_[i] + (constant_[i] ? 0 : 1);
            nonPadSum_[i + 1] = nonPadSum_[i] + nonPad_[i];
            alnumSum_[i + 1] = alnumSum_[i] + alnum_[i];
            highSum_[i + 1] = highSum_[i] + high_[i];
        }
    }

    uint32_t varyingIn(uint32_t s, uint32_t e) const
    {
        if (varying_.empty()) {
            uint32_t n = 0;
            for (uint32_t i = s; i < e; ++i)
                n += constant_[i] ? 0 : 1;
            return n;
        }
        return varying_[e] - varying_[s];
    }

    // What a text pays for beginning inside a word that runs on from the byte before it, in
    // tenths: the rest of an older value after a shorter value's NUL only looks like text that
    // begins there. A letter before a text is also a float's or an integer's last byte, so this
    // weighs against other readings rather than forbidding.
    uint64_t midWord(uint32_t s) const { return uint64_t(MidWord) * wordGoesOn_[s]; }

    // A reading holds: it finds valid values, more of them than invalid ones (few as these are).
    static bool evidence(uint32_t nonBlank, uint32_t invalid)
    {
        return nonBlank > invalid && nonBlank - invalid >= invalid;
    }

    // Text looks like text: mostly letters and digits, not mostly bytes from 0x80 up.
    bool textLike(uint32_t s, uint32_t e) const
    {
        const uint64_t nonPad = nonPadSum_[e] - nonPadSum_[s];
        const uint64_t alnum = alnumSum_[e] - alnumSum_[s];
        const uint64_t high = highSum_[e] - highSum_[s];
        return alnum * 10 >= nonPad * 3 && high * 2 <= nonPad;
    }

    struct Choice
    {
        Reading reading = Reading::String;
        uint32_t start = 0; // region-relative
        uint32_t length = 0;
        bool unsignedInt = false;
    };

    // The cheapest cover of the region by fields and hex runs.
    std::vector<Choice> cover(const std::vector<Candidate>& numbers)
    {
        prefixSums();
        const size_t n = records_;
        const double N = double(n);
        // zstring windows, start by start (their cost grows byte by byte from the start).
        std::vector<double> zstring(size_t(size_) * maxText_, Infinite);
        for (uint32_t s = 0; s < size_; ++s)
            zstringWindows(s, zstring.data() + size_t(s) * maxText_);
        // A byte that gives the length of the text after it in nearly every record makes the two
        // one length-prefixed text: the text alone would read an older value's rest as its own.
        std::vector<uint8_t> prefixed(size_ + 1, 0);
        for (size_t k = 0; k < lStarts_.size(); ++k) {
            const uint32_t s = lStarts_[k];
            for (uint32_t e = s + 2; e <= std::min(size_, s + maxText_); ++e) {
                if (lengthPrefixedCost(k, e) < Infinite) {
                    prefixed[s + 1] = 1;
                    break;
                }
            }
        }
        // Numbers by their end.
        std::vector<std::vector<const Candidate*>> byEnd(size_ + 1);
        for (const Candidate& c : numbers) {
            if (c.alive && c.start >= begin_ && c.end() <= end())
                byEnd[c.end() - begin_].push_back(&c);
        }

        struct Step
        {
            double cost = Infinite;
            Choice choice;
            bool fromFiller = false;
        };
        std::vector<double> inField(size_ + 1, Infinite);  // cover of [0, e) ending in a field
        std::vector<double> inFiller(size_ + 1, Infinite); // ... ending in a hex run
        std::vector<Step> field(size_ + 1);
        std::vector<uint8_t> fillerFromFiller(size_ + 1, 0);
        inField[0] = 0;
        auto best = [&](uint32_t at, bool& filler) {
            filler = inFiller[at] < inField[at];
            return std::min(inFiller[at], inField[at]);
        };
        for (uint32_t e = 1; e <= size_; ++e) {
            const double byte = constant_[e - 1] ? 0 : HexByte * N;
            const double stay = inFiller[e - 1] + byte;
            const double open = inField[e - 1] + FillerOverhead * N + byte;
            inFiller[e] = std::min(stay, open);
            fillerFromFiller[e] = stay <= open;

            Step step;
            auto offer = [&](uint32_t s, double cost, Choice c) {
                bool filler = false;
                const double total = best(s, filler) + cost;
                if (total < step.cost) {
                    step.cost = total;
                    step.choice = c;
                    step.fromFiller = filler;
                }
            };
            // Blank-padded strings ending here, longest last: their cost grows byte by byte
            // toward the start.
            uint64_t tenths = 0;
            const uint32_t first = e > maxText_ ? e - maxText_ : 0;
            for (uint32_t s = e; s-- > first;) {
                tenths += columnCost(s, e);
                const uint32_t w = e - s;
                const uint32_t bad = cell(stringBad_, s, w - 1);
                const uint32_t nonBlank = cell(nonBlank_, s, w - 1);
                if (bad > allowed_ || !evidence(nonBlank, bad)
                    || cell(nonBlank_, s, 0) * 2 < nonBlank || prefixed[s] || varyingIn(s, e) == 0
                    || !textLike(s, e))
                    continue;
                const double cost = double(tenths + midWord(s)) / 10
                    + N * (std::log2(w + 1.0) + FieldOverhead + prior(Reading::String, w))
                    + bad * (HexByte * w + 4);
                offer(s, cost, {Reading::String, s, w, false});
            }
            for (uint32_t s = first; s < e; ++s) {
                const double z = zstring[size_t(s) * maxText_ + (e - s - 1)];
                if (z < Infinite && !prefixed[s])
                    offer(s, z, {Reading::ZString, s, e - s, false});
            }
            for (size_t k = 0; k < lStarts_.size(); ++k) {
                const uint32_t s = lStarts_[k];
                if (s >= e || e - s < 2 || e - s > maxText_)
                    continue;
                const double l = lengthPrefixedCost(k, e);
                if (l < Infinite)
                    offer(s, l, {Reading::LString, s, e - s, false});
            }
            for (const Candidate* c : byEnd[e]) {
                if (!evidence(uint32_t(n) - c->blank, c->invalid))
                    continue;
                // The reader takes a packed decimal of zero bytes for no value at all: a field
                // that holds mostly those is not one.
                if (c->reading == Reading::Decimal && c->blank * 2 > n)
                    continue;
                double cost = c->cost;
                bool unsignedInt = false;
                // Signed values each carry a sign once any of them is negative.
                if (c->reading == Reading::Integer && c->negative > 0)
                    cost += N;
                if (c->reading == Reading::Integer && c->unsignedCost < cost) {
                    cost = c->unsignedCost;
                    unsignedInt = true;
                }
                const uint32_t nonBlank = uint32_t(n) - c->blank;
                if ((c->reading == Reading::Numeric || c->reading == Reading::NumericSts)
                    && c->aligned * 2 < nonBlank)
                    continue;
                // Bytes that are mostly letters and other printable ASCII are text that no text
                // reading takes (control bytes inside it): hex, never numbers. A number's high
                // bytes are mostly zero or small.
                if (c->letterBytes * 5 >= c->nonZeroBytes * 2
                    && c->printableBytes * 5 >= c->nonZeroBytes * 3 && c->nonZeroBytes > 0)
                    continue;
                cost += nonBlank * (prior(c->reading, c->length) + FieldOverhead)
                    + c->invalid * (HexByte * c->length + 4);
                // Leading zero digits fit any packed decimal: zero bytes before one are its own
                // only where they are few.
                if (c->reading == Reading::Decimal) {
                    for (uint32_t i = c->start - begin_; i < e && constant_[i]; ++i)
                        cost += LeadingZeroByte * N;
                }
                // Zero digits that never vary are an ASCII number's own: nothing else writes
                // '0's.
                if (c->reading == Reading::Numeric || c->reading == Reading::NumericSts) {
                    for (uint32_t i = c->start - begin_;
                         i < e && constant_[i] && constantByte_[i] == '0'; ++i)
                        cost -= LeadingZeroDigit * N;
                }
                offer(c->start - begin_, cost,
                    {c->reading, c->start - begin_, c->length, unsignedInt});
            }
            inField[e] = step.cost;
            field[e] = step;
        }

        std::vector<Choice> chosen;
        bool filler = inFiller[size_] < inField[size_];
        for (uint32_t e = size_; e > 0;) {
            if (filler) {
                filler = fillerFromFiller[e];
                --e;
                continue;
            }
            const Step& s = field[e];
            chosen.push_back(s.choice);
            filler = s.fromFiller;
            e = s.choice.start;
        }
        std::reverse(chosen.begin(), chosen.end());
        return chosen;
    }

private:
    uint32_t stride() const { return maxText_ + 2; }

    uint32_t cell(const std::vector<uint32_t>& table, uint32_t i, uint32_t d) const
    {
        return table[size_t(i) * stride() + std::min(d, maxText_ + 1)];
    }

    // Column s's cost inside a blank-padded string that ends at e, in tenths of bits.
    uint64_t columnCost(uint32_t s, uint32_t e) const
    {
        // Blanks that never vary pad the text for free; NULs that never vary after blank-padded
        // text are more likely reserved bytes than its padding.
        if (constant_[s])
            return constantByte_[s] == 0 ? uint64_t(OddPad) * records_ : 0;
        const uint32_t pads = uint32_t(records_) - nonPad_[s];
        const uint32_t interior = cell(padInterior_, s, e - s - 1);
        return nonPadCost_[s] + uint64_t(30) * interior + uint64_t(PadTail) * (pads - interior);
    }

    void zstringWindows(uint32_t s, double* out) const
    {
        const double N = double(records_);
        const uint32_t last = std::min(size_, s + maxText_);
        uint64_t tenths = 0;
        // NULs that never vary after the last byte that does: the first is the terminator a C
        // program always leaves (a char[31] holds 30 letters), those after it reserved bytes.
        uint32_t trailingNuls = 0;
        for (uint32_t e = s + 1; e <= last; ++e) {
            const uint32_t i = e - 1;
            const uint32_t k = i - s;
            if (!constant_[i]) {
                // A byte after a NUL at or past the start is the tail; before it, the text.
                const uint64_t contentCost = cell(zCost_, i, maxText_ + 1) - cell(zCost_, i, k);
                tenths += contentCost + cell(zTail_, i, k) + uint64_t(PadTail) * nuls_[i];
                trailingNuls = 0;
            } else if (constantByte_[i] == 0) {
                ++trailingNuls;
            }
            const uint32_t w = e - s;
            const uint32_t bad = cell(zstringBad_, s, w - 1);
            // Blank: nothing but NULs and blanks. A NUL first and bytes after it is an empty
            // text with an older value's rest behind it, or a window that begins inside such
            // rests: either way not text that begins here.
            const uint32_t nonBlank = cell(nonBlank_, s, w - 1);
            if (bad > allowed_ || !evidence(nonBlank, bad))
                continue;
            if (cell(nonBlank_, s, 0) * 2 < nonBlank || varyingIn(s, e) == 0 || !textLike(s, e))
                continue;
            const double terminator = trailingNuls == 0
                ? 0
                : double(trailingNuls - 1) * OddPad / 10 - double(Terminator) / 10;
            out[w - 1] = double(tenths + midWord(s)) / 10
                + N * (std::log2(w + 1.0) + FieldOverhead + prior(Reading::ZString, w) + terminator)
                + bad * (HexByte * w + 4);
        }
    }

    void addLengthPrefixed(const uint8_t* p)
    {
        const CharTable& t = chars();
        // Prefix sums over the region: content cost, and bytes that cannot be inside text.
        std::vector<uint32_t>& cost = work_;
        cost[0] = 0;
        for (uint32_t i = 0; i < size_; ++i)
            cost[i + 1] = cost[i] + t.cost[p[i]];
        unfit_.resize(size_ + 1);
        alnumAt_.resize(size_ + 1);
        unfit_[0] = 0;
        alnumAt_[0] = 0;
        for (uint32_t i = 0; i < size_; ++i) {
            const uint8_t cls = t.cls[p[i]];
            unfit_[i + 1] = unfit_[i] + (cls == Control || cls == Nul ? 1 : 0);
            alnumAt_[i + 1] = alnumAt_[i] + (cls == Letter || cls == Digit ? 1 : 0);
        }
        for (uint32_t s = 0; s + 1 < size_; ++s) {
            const uint32_t n = p[s];
            uint32_t* heads = &lHeads_[size_t(s) * 257];
            if (n == 0) {
                heads[0]++;
                continue;
            }
            const uint32_t end = s + 1 + n;
            if (end > size_ || n + 1 > maxText_) {
                heads[256]++;
                continue;
            }
            heads[n]++;
            if (unfit_[end] - unfit_[s + 1] > 0) {
                ++lBad_[s];
                continue;
            }
            lCost_[s] += cost[end] - cost[s + 1];
            lContent_[s] += n;
            if (!isPad(p[end - 1]))
                ++lEnds_[s];
            lAlnum_[s] += alnumAt_[end] - alnumAt_[s + 1];
        }
    }

    double lengthPrefixedCost(size_t k, uint32_t e) const
    {
        const uint32_t s = lStarts_[k];
        const uint32_t w = e - s;
        const uint32_t* heads = &lHeads_[size_t(s) * 257];
        uint32_t tooLong = heads[256];
        for (uint32_t n = w; n < 256; ++n)
            tooLong += heads[n];
        const uint32_t bad = lBad_[s] + tooLong;
        if (bad > allowed_ || !evidence(uint32_t(records_) - heads[0], bad))
            return Infinite;
        const double N = double(records_);
        return double(lCost_[s] + lTail_[k * maxText_ + (w - 1)]) / 10
            + N * (std::log2(double(w)) + FieldOverhead + prior(Reading::LString, w))
            + bad * (HexByte * w + 4);
    }

    uint32_t begin_;
    uint32_t size_;
    uint32_t maxText_;
    size_t records_;
    uint32_t allowed_;
    std::vector<uint8_t> constant_;
    std::vector<uint8_t> constantByte_; // the byte a constant column holds
    // Per column and distance d (capped at maxText + 1), cumulative once finished:
    std::vector<uint32_t> padInterior_; // pads whose next non-pad byte is d on
    std::vector<uint32_t> nonBlank_;    // records whose first non-pad byte from here is d on
    std::vector<uint32_t> stringBad_;   // records a blank-padded string from here is invalid in
                                        // once it is longer than d
    std::vector<uint32_t> zstringBad_;  // the same for a zstring: a control byte before any NUL
    std::vector<uint32_t> zTail_;       // non-NUL bytes whose last NUL is d bytes back: their
    std::vector<uint32_t> zCost_;       // cost after the text, and as text
    // Per column:
    std::vector<uint32_t> nonPadCost_;
    std::vector<uint32_t> nonPad_;
    std::vector<uint32_t> alnum_;
    std::vector<uint32_t> high_;
    std::vector<uint32_t> nuls_;
    std::vector<uint32_t> wordGoesOn_; // records where a word runs on from the byte before
    std::vector<uint32_t> varying_;
    std::vector<uint64_t> nonPadSum_;
    std::vector<uint64_t> alnumSum_;
    std::vector<uint64_t> highSum_;
    // Length-prefixed text: per start the lengths its first byte gives (256: past the region),
    // and the text after it.
    std::vector<uint32_t> lHeads_;
    std::vector<uint64_t> lCost_;
    std::vector<uint32_t> lBad_;
    std::vector<uint64_t> lContent_;
    std::vector<uint64_t> lAlnum_;
    std::vector<uint32_t> lEnds_;
    std::vector<uint32_t> lStarts_;
    std::vector<uint32_t> lTail_;
    std::vector<uint32_t> work_;
    std::vector<uint32_t> unfit_;
    std::vector<uint32_t> alnumAt_;
};

// Per column: how many records hold each byte value.
class Columns
{
public:
    Columns(const RecordSample& sample)
        : length_(sample.recordLength())
        , counts_(size_t(length_) * 256, 0)
        , records_(sample.size())
    {
        for (size_t r = 0; r < records_; ++r) {
            const uint8_t* p = sample.record(r);
            for (uint32_t i = 0; i < length_; ++i)
                counts_[size_t(i) * 256 + p[i]]++;
        }
        constant_.resize(length_);
        constantByte_.assign(length_, 0);
        for (uint32_t i = 0; i < length_; ++i) {
            const uint32_t* row = &counts_[size_t(i) * 256];
            constantByte_[i] = uint8_t(std::max_element(row, row + 256) - row);
            // One record says nothing about what varies: there only zero bytes count as
            // fixed.
            constant_[i] = records_ == 1
                ? row[0] == 1
                : std::find(row, row + 256, uint32_t(records_)) != row + 256;
        }
    }

    const std::vector<uint8_t>& constant() const { return constant_; }
    // Whether the bytes of column i other than zero are mostly letters and other printable ASCII.
    bool texty(uint32_t i) const
    {
        const size_t nonZero = records_ - counts_[size_t(i) * 256];
        const size_t letters = count(i, [](uint8_t b) { return unsigned((b | 0x20) - 'a') < 26u; });
        const size_t printable = count(i, [](uint8_t b) { return b >= ' ' && b < 0x7F; });
        return nonZero > 0 && letters * 5 >= nonZero * 2 && printable * 5 >= nonZero * 3;
    }
    // The byte most records hold in each column: the one they all hold where it is constant.
    const std::vector<uint8_t>& constantByte() const { return constantByte_; }

    // How many records hold at column i a byte for which pred is true.
    template <typename Pred> size_t count(uint32_t i, Pred pred) const
    {
        const uint32_t* row = &counts_[size_t(i) * 256];
        size_t n = 0;
        for (int b = 0; b < 256; ++b) {
            if (row[b] && pred(uint8_t(b)))
                n += row[b];
        }
        return n;
    }

private:
    uint32_t length_;
    std::vector<uint32_t> counts_;
    size_t records_;
    std::vector<uint8_t> constant_;
    std::vector<uint8_t> constantByte_;
};

// The readings worth scoring over the region: every integer and float width, and the readings
// whose bytes' ranges the columns allow in nearly every record.
void addCandidates(const Columns& columns, uint32_t begin, uint32_t end, size_t records,
    uint32_t allowed, std::vector<Candidate>& out)
{
    const auto& constant = columns.constant();
    auto varies = [&](uint32_t s, uint32_t n) {
        for (uint32_t i = s; i < s + n; ++i) {
            if (!constant[i])
                return true;
        }
        return false;
    };
    auto mostly
        = [&](uint32_t i, auto pred) { return columns.count(i, pred) + allowed >= records; };
    auto add = [&](uint32_t s, uint32_t n, Reading r) {
        if (s + n <= end && varies(s, n))
            out.push_back({s, n, r});
    };
    std::vector<uint8_t> texty(end - begin + 2, 0);
    for (uint32_t s = begin; s < end; ++s)
        texty[s - begin + 1] = columns.texty(s);
    for (uint32_t s = begin; s < end; ++s) {
        // A byte of text among text is no 1-byte number, whatever else could read it.
        const size_t t = s - begin + 1;
        if (!texty[t] || (!texty[t - 1] && !texty[t + 1]))
            add(s, 1, Reading::Integer);
        for (uint32_t n : {2U, 4U})
            add(s, n, Reading::Integer);
        // Eight bytes whose upper four never vary are a 4-byte integer and reserved bytes.
        if (s + 8 <= end && varies(s + 4, 4))
            add(s, 8, Reading::Integer);
        for (uint32_t n : {4U, 8U}) {
            add(s, n, Reading::Float);
            add(s, n, Reading::BFloat);
        }
        if (s + 4 <= end) {
            if (mostly(s, [](uint8_t b) { return b <= 31; })
                && mostly(s + 1, [](uint8_t b) { return b <= 12; })
                && mostly(s + 3, [](uint8_t b) { return b == 0 || b == 7 || b == 8; }))
                add(s, 4, Reading::Date);
            if (mostly(s, [](uint8_t b) { return b <= 99; })
                && mostly(s + 1, [](uint8_t b) { return b <= 59; })
                && mostly(s + 2, [](uint8_t b) { return b <= 59; })
                && mostly(s + 3, [](uint8_t b) { return b <= 23; }))
                add(s, 4, Reading::Time);
        }
        if (s + 8 <= end && mostly(s + 7, [](uint8_t b) { return b == 0 || b == 8 || b == 9; }))
            add(s, 8, Reading::Timestamp);
        if (mostly(s, [](uint8_t b) { return b <= 1; })) {
            add(s, 1, Reading::Logical);
            if (s + 2 <= end && mostly(s + 1, [](uint8_t b) { return b == 0; }))
                add(s, 2, Reading::Logical);
        }
        // Packed decimals ending at s: a sign half-byte last, digits before it.
        if (mostly(s, [](uint8_t b) { return b == 0 || ((b & 0x0F) >= 0xA && (b >> 4) <= 9); })) {
            for (uint32_t n = 1; n <= 16 && n <= s + 1 - begin; ++n) {
                const uint32_t first = s + 1 - n;
                if (n > 1
                    && !mostly(first, [](uint8_t b) { return (b >> 4) <= 9 && (b & 0x0F) <= 9; }))
                    break;
                add(first, n, Reading::Decimal);
            }
        }
        // ASCII numbers ending at s: digits (after blanks) and a digit, overpunched sign or
        // separate sign last.
        auto digitOrPad = [](uint8_t b) { return (b >= '0' && b <= '9') || b == ' ' || b == 0; };
        const bool overpunch = mostly(s, [](uint8_t b) {
            return (b >= '0' && b <= '9') || b == '{' || b == '}' || (b >= 'A' && b <= 'R')
                || b == ' ' || b == 0;
        });
        const bool separate
            = mostly(s, [](uint8_t b) { return b == '+' || b == '-' || b == ' ' || b == 0; });
        if (overpunch || separate) {
            for (uint32_t n = 1; n <= 20 && n <= s + 1 - begin; ++n) {
                const uint32_t first = s + 1 - n;
                if (n > 1 && !mostly(first, digitOrPad))
                    break;
                if (overpunch)
                    add(first, n, Reading::Numeric);
                if (separate && n >= 2)
                    add(first, n, Reading::NumericSts);
            }
        }
    }
}

// How the type of a reading is named and stored.
struct Naming
{
    const char* family;
    uint8_t type;
};

Naming naming(Reading r, uint32_t length, bool unsignedInt)
{
    switch (r) {
    case Reading::Integer:
        return {"int", length > 1 && unsignedInt ? exttype::Unsigned : exttype::Integer};
    case Reading::Float:
        return {"float", exttype::Float};
    case Reading::BFloat:
        return {"float", exttype::BFloat};
    case Reading::Date:
        return {"date", exttype::Date};
    case Reading::Time:
        return {"time", exttype::Time};
    case Reading::Timestamp:
        return {"timestamp", exttype::Timestamp};
    case Reading::Decimal:
        return {"decimal", exttype::Decimal};
    case Reading::Numeric:
        return {"numeric", exttype::Numeric};
    case Reading::NumericSts:
        return {"numeric", exttype::SignSeparate};
    case Reading::Logical:
        return {"logical", exttype::Logical};
    case Reading::String:
        return {"text", exttype::String};
    case Reading::ZString:
        return {"text", exttype::ZString};
    case Reading::LString:
        return {"text", exttype::LString};
    }
    return {"field", exttype::String};
}

// Text for the evidence: valid UTF-8 on one line, cut at 24 characters.
std::string example(const std::string& text)
{
    std::string out;
    size_t characters = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c & 0xC0) != 0x80 && ++characters > 24) {
            out += "...";
            break;
        }
        out += c < 0x20 ? ' ' : char(c);
    }
    return out;
}

// The values a field takes in the sample, in words: how many records hold a valid value (how
// many of them blank or zero) and the range, or a few examples of text.
std::string evidence(
    const Field& f, const RecordSample& sample, TextDecoder& decoder, std::string& scratch)
{
    const size_t n = sample.size();
    size_t valid = 0;
    size_t empty = 0;
    bool numbers = false;
    bool text = false;
    double low = 0;
    double high = 0;
    std::string lowText;
    std::string highText;
    std::vector<std::string> examples;
    size_t longest = 0;
    for (size_t r = 0; r < n; ++r) {
        const uint8_t* p = sample.record(r);
        scratch.clear();
        const Kind kind = appendField(f, p, sample.recordLength(), decoder, scratch);
        if (kind == Kind::Invalid)
            continue;
        ++valid;
        if (kind == Kind::Null || scratch.empty() || allZero(p + f.offset, f.length)) {
            ++empty;
            continue;
        }
        if (kind == Kind::Number || kind == Kind::Boolean) {
            // Whatever the locale: the window's toolkit sets one whose decimal point may be a
            // comma.
            double v = 0;
            std::from_chars(scratch.data(), scratch.data() + scratch.size(), v);
            if (!numbers || v < low) {
                low = v;
                lowText = scratch;
            }
            if (!numbers || v > high) {
                high = v;
                highText = scratch;
            }
            numbers = true;
        } else if (columnOf(f) == Column::Text
            && (f.type.type == exttype::Date || f.type.type == exttype::Time
                || f.type.type == exttype::Timestamp)) {
            if (!numbers || scratch < lowText)
                lowText = scratch;
            if (!numbers || scratch > highText)
                highText = scratch;
            numbers = true;
        } else {
            text = true;
            size_t characters = 0;
            for (char c : scratch)
                characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
            longest = std::max(longest, characters);
            if (examples.size() < 3
                && std::find(examples.begin(), examples.end(), scratch) == examples.end())
                examples.push_back(scratch);
        }
    }
    const bool isText = f.type.type == exttype::String || f.type.type == exttype::ZString
        || f.type.type == exttype::LString;
    const bool isDate = f.type.type == exttype::Date || f.type.type == exttype::Time
        || f.type.type == exttype::Timestamp;
    std::string words = "valid in " + std::to_string(valid) + " of " + std::to_string(n)
        + (sample.fileRecords > n ? " sampled records" : " records");
    if (empty > 0)
        words += ", " + std::to_string(empty) + (isText ? " blank" : isDate ? " empty" : " zero");
    if (numbers)
        words += lowText == highText ? "; " + lowText : "; " + lowText + " to " + highText;
    if (text) {
        words += "; e.g. ";
        for (size_t i = 0; i < examples.size(); ++i)
            words += (i ? ", \"" : "\"") + example(examples[i]) + "\"";
        words += "; up to " + std::to_string(longest) + " characters";
    }
    return words;
}

} // namespace

Layout inferLayout(const Layout& known, const RecordSample& sample, TextDecoder& decoder)
{
    const size_t n = sample.size();
    const uint32_t length = std::min(sample.recordLength(), known.recordLength);
    if (n == 0 || length == 0)
        return known;

    // The bytes no known field covers.
    std::vector<uint8_t> covered(length, 0);
    for (const Field& f : known.fields) {
        if (f.hex())
            continue;
        const uint64_t end = std::min<uint64_t>(f.offset + uint64_t(f.length), length);
        for (uint64_t i = f.offset; i < end; ++i)
            covered[size_t(i)] = 1;
    }
    const auto allowed = uint32_t(double(n) * InvalidShare);
    // Text tables grow with record length times the longest text: long records get shorter
    // text windows rather than unbounded memory.
    const uint32_t maxText
        = std::clamp<uint32_t>(uint32_t((1U << 20) / std::max<uint32_t>(length, 1)), 32, 256);

    Columns columns(sample);
    std::vector<Region> regions;
    std::vector<Candidate> candidates;
    for (uint32_t i = 0; i < length;) {
        if (covered[i]) {
            ++i;
            continue;
        }
        uint32_t end = i;
        while (end < length && !covered[end])
            ++end;
        regions.emplace_back(i, end, maxText, n, allowed);
        addCandidates(columns, i, end, n, allowed, candidates);
        i = end;
    }
    for (Region& r : regions)
        r.prepare(columns.constant(), columns.constantByte());

    // Every reading over every record; a reading that fails too often is dropped at once, so
    // that the work left is the readings that may hold.
    std::vector<Candidate*> alive;
    for (Candidate& c : candidates)
        alive.push_back(&c);
    for (size_t r = 0; r < n; ++r) {
        const uint8_t* p = sample.record(r);
        bool died = false;
        for (Candidate* c : alive) {
            evaluate(*c, p);
            if (c->invalid > allowed) {
                c->alive = false;
                died = true;
            }
        }
        if (died)
            alive.erase(std::remove_if(alive.begin(), alive.end(),
                            [](const Candidate* c) { return !c->alive; }),
                alive.end());
        for (Region& g : regions)
            g.addText(p);
    }
    bool tails = false;
    for (Region& g : regions) {
        g.finishTables();
        g.chooseLengthPrefixed();
        tails = tails || g.wantsTails();
    }
    if (tails) {
        for (size_t r = 0; r < n; ++r) {
            for (Region& g : regions) {
                if (g.wantsTails())
                    g.addTails(sample.record(r));
            }
        }
    }

    Layout layout = known;
    layout.fields.erase(std::remove_if(layout.fields.begin(), layout.fields.end(),
                            [](const Field& f) { return f.source == Source::Filler; }),
        layout.fields.end());
    std::string scratch;
    for (Region& g : regions) {
        for (const Region::Choice& c : g.cover(candidates)) {
            const Naming name = naming(c.reading, c.length, c.unsignedInt);
            Field f;
            f.offset = g.begin() + c.start;
            f.length = c.length;
            f.type.type = name.type;
            f.type.signedByte = c.reading == Reading::Integer && c.length == 1 && !c.unsignedInt;
            f.name = std::string(name.family) + "_" + std::to_string(f.position());
            f.source = Source::Inferred;
            f.evidence = evidence(f, sample, decoder, scratch);
            layout.fields.push_back(std::move(f));
        }
    }
    // The variable part comes back from completeLayout.
    layout.fields.erase(std::remove_if(layout.fields.begin(), layout.fields.end(),
                            [](const Field& f) { return f.source == Source::VariablePart; }),
        layout.fields.end());
    layout.notes.clear();
    const std::string records = sample.fileRecords > n
        ? "a sample of " + std::to_string(n) + " of " + std::to_string(sample.fileRecords)
            + " records"
        : std::to_string(n) + (n == 1 ? " record" : " records");
    layout.origin = known.origin + ", inferred from " + records;
    completeLayout(layout);
    return layout;
}

} // namespace fields
