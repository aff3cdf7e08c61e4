// Layout discovery, quality and speed:
//
//   1. Records of every value type in known layouts (a key, then fields of one type among others
//      of every type, adjacent text and numbers, blank and zero values, reserved zero bytes),
//      10 to 100 000 records each. The layout is hidden, inferred from the records (a large file
//      through the same even sample readSample takes) and compared with the truth, printing per
//      type the share of its fields found exactly (position, length, type family) and the share
//      of its bytes read as another family; and how many bytes of text were read as numbers.
//      Aims: 95 % exact at 1 000 records and more, 70 % at 10.
//   2. varnok-cli fields on the large legacy benchmark file (N records, default 1000000) and on
//      one of N / 10 records: the whole run (open, sample, infer), and its peak memory, which
//      must stay flat in N; then the sample and the inference timed apart in this process.
//
//   varnok_infer_bench [--quality-only | --speed-only] [--layouts K] [--show TYPE] [N]
#include "BenchFile.h"
#include "BtrCall.h"
#include "DefinitionLayout.h"
#include "Inference.h"
#include "LittleEndian.h"
#include "Sample.h"
#include "WinBtr.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tuple>
#include <vector>

extern char** environ;

namespace {

using bench::Clock;
using bench::secondsSince;
namespace exttype = btr::exttype;

enum class Kind {
    Text,
    ZText,
    LText,
    Int1,
    Int2,
    Int4,
    Int8,
    Float4,
    Float8,
    BFloat4,
    BFloat8,
    Date,
    Time,
    Timestamp,
    Decimal,
    Numeric,
    Logical,
};

constexpr Kind Kinds[] = {Kind::Text, Kind::ZText, Kind::LText, Kind::Int1, Kind::Int2, Kind::Int4,
    Kind::Int8, Kind::Float4, Kind::Float8, Kind::BFloat4, Kind::BFloat8, Kind::Date, Kind::Time,
    Kind::Timestamp, Kind::Decimal, Kind::Numeric, Kind::Logical};

const char* kindName(Kind k)
{
    switch (k) {
    case Kind::Text:
        return "string";
    case Kind::ZText:
        return "zstring";
    case Kind::LText:
        return "lstring";
    case Kind::Int1:
        return "integer 1";
    case Kind::Int2:
        return "integer 2";
    case Kind::Int4:
        return "integer 4";
    case Kind::Int8:
        return "integer 8";
    case Kind::Float4:
        return "float 4";
    case Kind::Float8:
        return "float 8";
    case Kind::BFloat4:
        return "bfloat 4";
    case Kind::BFloat8:
        return "bfloat 8";
    case Kind::Date:
        return "date";
    case Kind::Time:
        return "time";
    case Kind::Timestamp:
        return "timestamp";
    case Kind::Decimal:
        return "decimal";
    case Kind::Numeric:
        return "numeric";
    case Kind::Logical:
        return "logical";
    }
    return "";
}

// Families: what must be told apart.
enum class Family { Text, Integer, Float, Decimal, Numeric, Date, Time, Timestamp, Logical, Hex };

Family familyOf(Kind k)
{
    switch (k) {
    case Kind::Text:
    case Kind::ZText:
    case Kind::LText:
        return Family::Text;
    case Kind::Int1:
    case Kind::Int2:
    case Kind::Int4:
    case Kind::Int8:
        return Family::Integer;
    case Kind::Float4:
    case Kind::Float8:
    case Kind::BFloat4:
    case Kind::BFloat8:
        return Family::Float;
    case Kind::Date:
        return Family::Date;
    case Kind::Time:
        return Family::Time;
    case Kind::Timestamp:
        return Family::Timestamp;
    case Kind::Decimal:
        return Family::Decimal;
    case Kind::Numeric:
        return Family::Numeric;
    case Kind::Logical:
        return Family::Logical;
    }
    return Family::Hex;
}

Family familyOf(const fields::Field& f)
{
    if (f.hex())
        return Family::Hex;
    switch (f.type.type) {
    case exttype::String:
    case exttype::ZString:
    case exttype::LString:
        return Family::Text;
    case exttype::Integer:
    case exttype::Unsigned:
    case exttype::Autoincrement:
        return Family::Integer;
    case exttype::Float:
    case exttype::BFloat:
        return Family::Float;
    case exttype::Date:
        return Family::Date;
    case exttype::Time:
        return Family::Time;
    case exttype::Timestamp:
        return Family::Timestamp;
    case exttype::Decimal:
    case exttype::Money:
        return Family::Decimal;
    case exttype::Numeric:
    case exttype::SignSeparate:
        return Family::Numeric;
    case exttype::Logical:
        return Family::Logical;
    default:
        return Family::Hex;
    }
}

bool isNumber(Family f)
{
    return f == Family::Integer || f == Family::Float || f == Family::Decimal
        || f == Family::Numeric;
}

struct TrueField
{
    Kind kind;
    uint32_t offset;
    uint32_t length;
    bool garbageTail = false; // zstring, lstring: bytes of an older, longer value after the text
};

using Rng = std::mt19937_64;

uint64_t uniform(Rng& rng, uint64_t low, uint64_t high)
{
    return std::uniform_int_distribution<uint64_t>(low, high)(rng);
}

bool chance(Rng& rng, double p)
{
    return std::uniform_real_distribution<double>(0, 1)(rng) < p;
}

// Words that look like the names, places and things records hold.
std::string word(Rng& rng, uint32_t maxLength)
{
    static const char* Syllables[] = {"an", "ber", "ca", "del", "en", "fi", "gar", "ho", "in", "jo",
        "ka", "lin", "mar", "no", "or", "pe", "qui", "ro", "sa", "ton", "ul", "ve", "wil", "xa",
        "yo", "ze", "st", "ma", "ri", "el"};
    std::string w;
    const uint64_t syllables = uniform(rng, 1, 4);
    for (uint64_t i = 0; i < syllables; ++i)
        w += Syllables[uniform(rng, 0, std::size(Syllables) - 1)];
    w[0] = char(std::toupper(static_cast<unsigned char>(w[0])));
    if (w.size() > maxLength)
        w.resize(maxLength);
    return w;
}

std::string phrase(Rng& rng, uint32_t maxLength)
{
    std::string p = word(rng, maxLength);
    while (chance(rng, 0.4) && p.size() + 2 < maxLength) {
        p += chance(rng, 0.1) ? "-" : " ";
        p += word(rng, maxLength - uint32_t(p.size()));
        if (chance(rng, 0.1) && p.size() + 4 < maxLength) {
            p += ' ';
            p += std::to_string(uniform(rng, 1, 999));
        }
    }
    if (p.size() > maxLength)
        p.resize(maxLength);
    return p;
}

void put(std::vector<uint8_t>& r, uint32_t at, uint64_t v, uint32_t n)
{
    for (uint32_t i = 0; i < n; ++i)
        r[at + i] = uint8_t(v >> (8 * i));
}

// The older binary floating format of v, in n bytes.
void putBFloat(std::vector<uint8_t>& r, uint32_t at, double v, uint32_t n)
{
    std::fill(r.begin() + at, r.begin() + at + n, 0);
    if (v == 0)
        return;
    int e = 0;
    const double m = std::frexp(std::fabs(v), &e); // [0.5, 1)
    const int bits = int(n - 1) * 8 - 1;
    const auto mantissa = uint64_t(std::ldexp(m * 2 - 1, bits));
    put(r, at, mantissa, n - 1);
    if (v < 0)
        r[at + n - 2] |= 0x80;
    r[at + n - 1] = uint8_t(e - 1 + 129);
}

uint64_t daysBeforeYear(uint64_t y)
{
    const uint64_t p = y - 1;
    return p * 365 + p / 4 - p / 100 + p / 400;
}

// A price-like amount: cents, mostly small.
double amount(Rng& rng)
{
    const double magnitude = std::pow(10.0, double(uniform(rng, 0, 5)));
    return double(uniform(rng, 1, uint64_t(magnitude * 100))) / 100.0;
}

void writeValue(const TrueField& f, Rng& rng, std::vector<uint8_t>& r)
{
    const uint32_t at = f.offset;
    const uint32_t n = f.length;
    const bool empty = chance(rng, 0.15);
    switch (f.kind) {
    case Kind::Text: {
        std::fill(r.begin() + at, r.begin() + at + n, ' ');
        if (!empty) {
            const std::string s = phrase(rng, n);
            std::memcpy(r.data() + at, s.data(), s.size());
        }
        return;
    }
    case Kind::ZText: {
        // A program that reuses its buffer without clearing it leaves an older, longer value's
        // rest after the NUL.
        std::fill(r.begin() + at, r.begin() + at + n, 0);
        if (f.garbageTail && chance(rng, 0.6)) {
            const std::string older = phrase(rng, n - 1);
            std::memcpy(r.data() + at, older.data(), older.size());
        }
        const std::string s = empty ? std::string() : phrase(rng, n - 1);
        std::memcpy(r.data() + at, s.data(), s.size());
        r[at + s.size()] = 0;
        return;
    }
    case Kind::LText: {
        std::fill(r.begin() + at, r.begin() + at + n, 0);
        if (f.garbageTail && chance(rng, 0.6)) {
            const std::string older = phrase(rng, n - 1);
            std::memcpy(r.data() + at + 1, older.data(), older.size());
        }
        const std::string s = empty ? std::string() : phrase(rng, n - 1);
        r[at] = uint8_t(s.size());
        std::memcpy(r.data() + at + 1, s.data(), s.size());
        return;
    }
    case Kind::Int1:
        r[at] = empty ? 0 : uint8_t(uniform(rng, 0, chance(rng, 0.5) ? 10 : 200));
        return;
    case Kind::Int2: {
        const int64_t v = empty ? 0
            : chance(rng, 0.2)  ? int64_t(uniform(rng, 0, 200)) - 100
                                : int64_t(uniform(rng, 0, chance(rng, 0.5) ? 1000 : 30000));
        put(r, at, uint64_t(v), 2);
        return;
    }
    case Kind::Int4: {
        const int64_t v = empty ? 0
            : chance(rng, 0.1)
            ? -int64_t(uniform(rng, 1, 100000))
            : int64_t(uniform(rng, 0, uint64_t(std::pow(10.0, double(uniform(rng, 2, 7))))));
        put(r, at, uint64_t(v), 4);
        return;
    }
    case Kind::Int8: {
        const int64_t v = empty ? 0 : int64_t(uniform(rng, 0, uint64_t(1e12)));
        put(r, at, uint64_t(v), 8);
        return;
    }
    case Kind::Float4: {
        const float v = empty ? 0.0f : float(double(uniform(rng, 1, 100000)) / 10.0);
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        put(r, at, bits, 4);
        return;
    }
    case Kind::Float8: {
        const double v = empty ? 0.0 : (chance(rng, 0.1) ? -1 : 1) * amount(rng);
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        put(r, at, bits, 8);
        return;
    }
    case Kind::BFloat4:
    case Kind::BFloat8:
        putBFloat(r, at, empty ? 0.0 : amount(rng), n);
        return;
    case Kind::Date:
        if (empty) {
            put(r, at, 0, 4);
        } else {
            r[at] = uint8_t(uniform(rng, 1, 28));
            r[at + 1] = uint8_t(uniform(rng, 1, 12));
            put(r, at + 2, uniform(rng, 1950, 2030), 2);
        }
        return;
    case Kind::Time:
        if (empty) {
            put(r, at, 0, 4);
        } else {
            r[at] = uint8_t(uniform(rng, 0, 99));
            r[at + 1] = uint8_t(uniform(rng, 0, 59));
            r[at + 2] = uint8_t(uniform(rng, 0, 59));
            r[at + 3] = uint8_t(uniform(rng, 0, 23));
        }
        return;
    case Kind::Timestamp: {
        const uint64_t first = daysBeforeYear(1990) * 86400;
        const uint64_t last = daysBeforeYear(2030) * 86400;
        const uint64_t ticks = empty ? 0
                                     : uniform(rng, first, last) * 10'000'000
                + (chance(rng, 0.3) ? uniform(rng, 0, 999) * 10'000 : 0);
        put(r, at, ticks, 8);
        return;
    }
    case Kind::Decimal: {
        std::fill(r.begin() + at, r.begin() + at + n, 0);
        if (empty && chance(rng, 0.5))
            return;
        const uint32_t digits = 2 * n - 1;
        const uint32_t used = empty ? 1 : uint32_t(uniform(rng, 1, std::min<uint32_t>(digits, 9)));
        std::vector<uint8_t> d(digits, 0);
        for (uint32_t i = digits - used; i < digits; ++i)
            d[i] = empty ? 0 : uint8_t(uniform(rng, 0, 9));
        const uint8_t sign = chance(rng, 0.2) ? 0xD : 0xC;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t high = d[2 * i];
            const uint8_t low = i + 1 < n ? d[2 * i + 1] : sign;
            r[at + i] = uint8_t(high << 4 | low);
        }
        return;
    }
    case Kind::Numeric: {
        const uint32_t used = uint32_t(uniform(rng, 1, std::min<uint32_t>(n, 7)));
        std::string text(n, '0');
        for (uint32_t i = n - used; i < n; ++i)
            text[i] = empty ? '0' : char('0' + uniform(rng, 0, 9));
        if (chance(rng, 0.2)) {
            const char last = text[n - 1];
            text[n - 1] = last == '0' ? '}' : char('J' + (last - '1'));
        }
        std::memcpy(r.data() + at, text.data(), n);
        return;
    }
    case Kind::Logical:
        r[at] = chance(rng, 0.4) ? 1 : 0;
        return;
    }
}

uint32_t lengthOf(Kind k, Rng& rng)
{
    switch (k) {
    case Kind::Text:
    case Kind::ZText:
    case Kind::LText:
        return uint32_t(uniform(rng, 4, 40));
    case Kind::Int1:
    case Kind::Logical:
        return 1;
    case Kind::Int2:
        return 2;
    case Kind::Int4:
    case Kind::Float4:
    case Kind::BFloat4:
    case Kind::Date:
    case Kind::Time:
        return 4;
    case Kind::Int8:
    case Kind::Float8:
    case Kind::BFloat8:
    case Kind::Timestamp:
        return 8;
    case Kind::Decimal:
        return uint32_t(uniform(rng, 3, 8));
    case Kind::Numeric:
        return uint32_t(uniform(rng, 5, 12));
    }
    return 1;
}

struct TrueLayout
{
    uint32_t recordLength = 0;
    std::vector<TrueField> fields; // the key (4-byte integer at 0) first
};

// A key, then ten fields: three of the kind under test, the others of any kind, now and then a
// few reserved zero bytes between two of them.
TrueLayout makeLayout(Kind tested, Rng& rng)
{
    TrueLayout t;
    t.fields.push_back({Kind::Int4, 0, 4});
    uint32_t at = 4;
    std::vector<Kind> kinds {tested, tested, tested};
    while (kinds.size() < 10)
        kinds.push_back(Kinds[uniform(rng, 0, std::size(Kinds) - 1)]);
    std::shuffle(kinds.begin(), kinds.end(), rng);
    for (Kind k : kinds) {
        if (chance(rng, 0.15))
            at += uint32_t(uniform(rng, 1, 6));
        TrueField f {k, at, lengthOf(k, rng)};
        f.garbageTail = (k == Kind::ZText || k == Kind::LText) && chance(rng, 0.3);
        t.fields.push_back(f);
        at += f.length;
    }
    t.recordLength = at + (chance(rng, 0.3) ? uint32_t(uniform(rng, 1, 10)) : 0);
    return t;
}

fields::Layout keyOnly(const TrueLayout& t)
{
    fields::Layout known;
    known.recordLength = t.recordLength;
    known.origin = "keys";
    fields::Field key;
    key.name = "key0";
    key.offset = 0;
    key.length = 4;
    key.type.type = exttype::Integer;
    key.source = fields::Source::Key;
    known.fields.push_back(key);
    fields::completeLayout(known);
    return known;
}

struct Score
{
    uint64_t fields = 0;
    uint64_t exact = 0;
    uint64_t bytes = 0;
    uint64_t misread = 0; // read as another family (not hex)
    uint64_t hex = 0;     // left as hex
    uint64_t textAsNumber = 0;
};

struct Options
{
    int layouts = 6;
    std::string show; // print the layouts of this kind that were not found exactly
};

void scoreLayout(const TrueLayout& t, const fields::Layout& got, Kind tested, Score& s,
    const Options& opt, uint64_t n)
{
    std::vector<Family> read(t.recordLength, Family::Hex);
    for (const fields::Field& f : got.fields) {
        if (f.source == fields::Source::VariablePart)
            continue;
        for (uint32_t i = f.offset; i < f.offset + f.length && i < t.recordLength; ++i)
            read[i] = familyOf(f);
    }
    bool wrong = false;
    for (size_t k = 1; k < t.fields.size(); ++k) {
        const TrueField& f = t.fields[k];
        const Family family = familyOf(f.kind);
        if (f.kind == tested) {
            ++s.fields;
            const bool exact
                = std::any_of(got.fields.begin(), got.fields.end(), [&](const fields::Field& g) {
                      return g.offset == f.offset && g.length == f.length && familyOf(g) == family;
                  });
            s.exact += exact;
            wrong = wrong || !exact;
            for (uint32_t i = f.offset; i < f.offset + f.length; ++i) {
                ++s.bytes;
                if (read[i] == Family::Hex)
                    ++s.hex;
                else if (read[i] != family)
                    ++s.misread;
            }
        }
        if (family == Family::Text) {
            for (uint32_t i = f.offset; i < f.offset + f.length; ++i)
                s.textAsNumber += isNumber(read[i]);
        }
    }
    if (wrong && opt.show == kindName(tested)) {
        std::printf("--- %s, %llu records: truth\n", kindName(tested), (unsigned long long)n);
        for (const TrueField& f : t.fields)
            std::printf("  %-10s %4u %3u%s\n", kindName(f.kind), f.offset + 1, f.length,
                f.garbageTail ? " (garbage tail)" : "");
        std::printf("    inferred\n");
        for (const fields::Field& f : got.fields)
            std::printf("  %-14s %4u %3u  %s\n", f.name.c_str(), f.position(), f.length,
                f.evidence.c_str());
    }
}

void quality(const Options& opt)
{
    const uint64_t sizes[] = {10, 100, 1000, 10000, 100000};
    std::map<Kind, std::map<uint64_t, Score>> scores;
    fields::TextDecoder decoder;
    double seconds = 0;
    for (Kind kind : Kinds) {
        for (uint64_t n : sizes) {
            for (int l = 0; l < opt.layouts; ++l) {
                Rng rng(uint64_t(kind) * 1000003 + n * 7919 + uint64_t(l));
                const TrueLayout t = makeLayout(kind, rng);
                // A large file is sampled as readSample does, one record of every k (here the
                // first of each k: these records have no period for it to fall into).
                const uint32_t limit = fields::sampleLimit(t.recordLength);
                const uint64_t stride = (n + limit - 1) / limit;
                fields::RecordSample sample(t.recordLength);
                sample.fileRecords = n;
                std::vector<uint8_t> record(t.recordLength);
                for (uint64_t r = 0; r < n; ++r) {
                    std::fill(record.begin(), record.end(), 0);
                    put(record, 0, r + 1, 4);
                    for (size_t k = 1; k < t.fields.size(); ++k)
                        writeValue(t.fields[k], rng, record);
                    if (r % stride == 0)
                        sample.add(record.data(), record.size());
                }
                const auto start = Clock::now();
                const fields::Layout got = fields::inferLayout(keyOnly(t), sample, decoder);
                seconds += secondsSince(start);
                scoreLayout(t, got, kind, scores[kind][n], opt, n);
            }
        }
    }
    std::printf("Inference quality: %d layouts per type and size, each a 4-byte key and ten "
                "fields, three of the type\n",
        opt.layouts);
    std::printf("(exact: fields found at their position and length as their family; misread: "
                "bytes read as another family; hex: bytes left as hex)\n\n");
    std::printf("%-11s", "type");
    for (uint64_t n : sizes)
        std::printf(" | %6llu: exact misread   hex", (unsigned long long)n);
    std::printf("\n");
    std::map<uint64_t, Score> total;
    for (Kind kind : Kinds) {
        std::printf("%-11s", kindName(kind));
        for (uint64_t n : sizes) {
            const Score& s = scores[kind][n];
            std::printf(" |        %4.0f%%  %5.1f%% %4.1f%%",
                100.0 * double(s.exact) / double(s.fields),
                100.0 * double(s.misread) / double(s.bytes),
                100.0 * double(s.hex) / double(s.bytes));
            Score& a = total[n];
            a.fields += s.fields;
            a.exact += s.exact;
            a.bytes += s.bytes;
            a.misread += s.misread;
            a.hex += s.hex;
            a.textAsNumber += s.textAsNumber;
        }
        std::printf("\n");
    }
    std::printf("%-11s", "all");
    for (uint64_t n : sizes) {
        const Score& s = total[n];
        std::printf(" |        %4.0f%%  %5.1f%% %4.1f%%",
            100.0 * double(s.exact) / double(s.fields), 100.0 * double(s.misread) / double(s.bytes),
            100.0 * double(s.hex) / double(s.bytes));
    }
    std::printf("\n%-11s", "text as num");
    for (uint64_t n : sizes)
        std::printf(" | %27llu B", (unsigned long long)total[n].textAsNumber);
    std::printf("\n\ninference time over all these layouts: %.2f s\n\n", seconds);
}

struct Run
{
    double seconds = -1;
    double peakMiB = 0;
};

Run runFields(const std::string& file)
{
    std::vector<char*> argv {const_cast<char*>(VARNOK_CLI), const_cast<char*>("--quiet"),
        const_cast<char*>("fields"), const_cast<char*>(file.c_str()), nullptr};
    Run run;
    const auto start = Clock::now();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, VARNOK_CLI, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        std::perror("posix_spawn");
        return run;
    }
    int status = 0;
    rusage usage {};
    wait4(child, &status, 0, &usage);
    const double seconds = secondsSince(start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "varnok-cli failed (%d)\n", status);
        return run;
    }
    run.seconds = seconds;
    run.peakMiB = double(usage.ru_maxrss) / 1024.0;
    return run;
}

// A shop's records, 100 bytes: key 0 the id (4-byte integer), a blank-padded name of 24, a city
// as a zstring of 16, a date, a price (double), a quantity (2-byte integer), a balance (packed, 6
// bytes), a logical, a code (ASCII numeric of 8) and a note of 27 (mostly blank).
legacytest::LegacyFileSpec mixedFileSpec(uint32_t n)
{
    legacytest::LegacyFileSpec spec;
    spec.version = legacytest::Version60;
    spec.records = n;
    spec.rule = [](uint32_t i, std::vector<uint8_t>& r) {
        static const char* const Names[] = {"Smith", "Jones & Sons", "Mueller GmbH", "Lee",
            "Garcia Trading", "Okafor", "Nguyen Bros", ""};
        static const char* const Cities[] = {"Leeds", "Lyon", "Graz", "Porto", "Bergen"};
        r.assign(100, 0);
        put(r, 0, i + 1, 4);
        std::fill(r.begin() + 4, r.begin() + 28, ' ');
        const char* name = Names[i % 8];
        std::memcpy(r.data() + 4, name, std::strlen(name));
        const char* city = Cities[i / 3 % 5];
        std::memcpy(r.data() + 28, city, std::strlen(city));
        r[44] = uint8_t(1 + i % 28);
        r[45] = uint8_t(1 + i / 7 % 12);
        put(r, 46, 1970 + i / 11 % 50, 2);
        const double price = double(i % 100000) / 100.0;
        uint64_t bits;
        std::memcpy(&bits, &price, 8);
        put(r, 48, bits, 8);
        put(r, 56, i * 7 % 5000, 2);
        uint64_t balance = uint64_t(i) * 131 % 10000000;
        r[63] = uint8_t((balance % 10) << 4 | (i % 5 ? 0xC : 0xD));
        balance /= 10;
        for (int b = 62; b >= 58; --b, balance /= 100)
            r[size_t(b)] = uint8_t((balance / 10 % 10) << 4 | (balance % 10));
        r[64] = uint8_t(i % 3 == 0);
        uint64_t code = uint64_t(i) * 7919 % 100000;
        for (int b = 72; b >= 65; --b, code /= 10)
            r[size_t(b)] = uint8_t('0' + code % 10);
        std::fill(r.begin() + 73, r.end(), ' ');
        if (i % 10 == 0)
            std::memcpy(r.data() + 73, "call before delivery", 20);
    };
    recman::Definition& def = spec.definition;
    def.pageSize = 4096;
    def.recordLength = 100;
    recman::Key ids;
    ids.segments.push_back({1, 4, recman::keyflag::ExtendedType, n, 1, 0, 0, 0, 0});
    def.keys = {ids};
    return spec;
}

void speed(uint32_t n)
{
    bench::ScratchDirectory dir("varnok-infer-bench");
    const std::string small = (dir.path() / "SMALL.DAT").string();
    const std::string large = (dir.path() / "LARGE.DAT").string();
    const std::string mixedSmall = (dir.path() / "MIXED_SMALL.DAT").string();
    const std::string mixed = (dir.path() / "MIXED.DAT").string();
    legacytest::writeLegacyFile(small, bench::benchFileSpec(n / 10));
    legacytest::writeLegacyFile(large, bench::benchFileSpec(n));
    legacytest::writeLegacyFile(mixedSmall, mixedFileSpec(n / 10));
    legacytest::writeLegacyFile(mixed, mixedFileSpec(n));
    std::printf("varnok-cli fields (open, sample, infer, print), the faster of two runs:\n");
    for (const auto& [label, name, count] :
        {std::tuple {"benchmark file", small, n / 10}, std::tuple {"benchmark file", large, n},
            std::tuple {"mixed shop file", mixedSmall, n / 10},
            std::tuple {"mixed shop file", mixed, n}}) {
        Run best;
        for (int i = 0; i < 2; ++i) {
            const Run r = runFields(name);
            if (best.seconds < 0 || (r.seconds >= 0 && r.seconds < best.seconds))
                best = r;
        }
        std::printf("  %-15s %9u records: %.3f s, peak memory %.1f MiB\n", label, count,
            best.seconds, best.peakMiB);
    }

    TWinBtr file;
    if (file.Open(mixed.c_str(), "", btr::mode::ReadOnly) != btr::status::Success
        || file.Stat() != btr::status::Success) {
        std::fprintf(stderr, "cannot open %s: status %d\n", mixed.c_str(), file.Status);
        return;
    }
    const uint32_t length = btr::le::get16(file.StatBuffer + btr::layout::file::RecordLength);
    fields::RecordSample sample(length);
    auto start = Clock::now();
    const int16_t status = fields::readSample(
        file, uint64_t(std::max(file.RecordCount(), 0)), fields::sampleLimit(length), sample);
    const double sampling = secondsSince(start);
    file.Close();
    if (status != btr::status::Success) {
        std::fprintf(stderr, "sampling failed: status %d\n", status);
        return;
    }
    TrueLayout truth;
    truth.recordLength = 100;
    truth.fields = {{Kind::Int4, 0, 4}, {Kind::Text, 4, 24}, {Kind::ZText, 28, 16},
        {Kind::Date, 44, 4}, {Kind::Float8, 48, 8}, {Kind::Int2, 56, 2}, {Kind::Decimal, 58, 6},
        {Kind::Logical, 64, 1}, {Kind::Numeric, 65, 8}, {Kind::Text, 73, 27}};
    fields::TextDecoder decoder;
    start = Clock::now();
    const fields::Layout got = fields::inferLayout(keyOnly(truth), sample, decoder);
    const double inference = secondsSince(start);
    size_t exact = 0;
    for (size_t k = 1; k < truth.fields.size(); ++k) {
        const TrueField& f = truth.fields[k];
        exact += std::any_of(got.fields.begin(), got.fields.end(), [&](const fields::Field& g) {
            return g.offset == f.offset && g.length == f.length && familyOf(g) == familyOf(f.kind);
        });
    }
    for (const fields::Field& g : got.fields) {
        const bool right
            = std::any_of(truth.fields.begin(), truth.fields.end(), [&](const TrueField& f) {
                  return g.offset == f.offset && g.length == f.length
                      && (familyOf(g) == familyOf(f.kind) || g.source == fields::Source::Key);
              });
        if (!right)
            std::printf("    not in the truth: %s at %u, %u bytes: %s\n", g.name.c_str(),
                g.position(), g.length, g.evidence.c_str());
    }
    std::printf("  mixed shop file, in this process: reading the sample of %zu of %llu records "
                "%.3f s, inference %.3f s; %zu of %zu fields found exactly\n",
        sample.size(), (unsigned long long)sample.fileRecords, sampling, inference, exact,
        truth.fields.size() - 1);
}

} // namespace

int main(int argc, char** argv)
{
    Options opt;
    bool qualityOnly = false;
    bool speedOnly = false;
    uint32_t n = 1000000;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--quality-only")
            qualityOnly = true;
        else if (a == "--speed-only")
            speedOnly = true;
        else if (a == "--layouts" && i + 1 < argc)
            opt.layouts = std::max(1, std::atoi(argv[++i]));
        else if (a == "--show" && i + 1 < argc)
            opt.show = argv[++i];
        else
            n = uint32_t(std::max(10, std::atoi(argv[i])));
    }
    if (!speedOnly)
        quality(opt);
    if (!qualityOnly)
        speed(n);
    return 0;
}
