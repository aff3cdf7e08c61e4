// The value encoder against any bytes and any text. The input is a type (its first byte chooses
// one of the types fields read, or one Varnok does not know), a scale or bit number, a byte whose
// bits say signed or not and which code page, the length of a field to type into, then a payload.
//
// The payload as a stored value: when appendValue gives it a text, that text written back over
// the bytes must be taken and read back the same; a value not valid for its type, shown as the hex
// of the whole field, must come back byte for byte. The payload as typed text: written into a field
// of the given length, it is either refused with the bytes untouched and a reason in valid UTF-8,
// or written, and then what was written reads back as a text that itself goes round.
#include "DefinitionLayout.h"
#include "Encode.h"
#include "FuzzSupport.h"

#include <array>
#include <memory>

namespace {

namespace exttype = btr::exttype;

constexpr uint8_t Unknown = 99;
constexpr std::array<uint8_t, 24> Types
    = {exttype::String, exttype::Integer, exttype::Float, exttype::Date, exttype::Time,
        exttype::Decimal, exttype::Money, exttype::Logical, exttype::Numeric, exttype::BFloat,
        exttype::LString, exttype::ZString, exttype::Note, exttype::LVar, exttype::Unsigned,
        exttype::Autoincrement, exttype::Bit, exttype::SignSeparate, exttype::Currency,
        exttype::Timestamp, exttype::WString, exttype::WZString, exttype::Guid, Unknown};
constexpr std::array<const char*, 5> CodePages = {"CP437", "CP850", "CP866", "CP1252", "UTF-8"};
constexpr size_t Header = 4;

struct CodePage
{
    std::unique_ptr<fields::TextDecoder> decoder;
    std::unique_ptr<fields::TextEncoder> encoder;
};

CodePage& codePage(size_t i)
{
    static std::array<CodePage, CodePages.size()> pages;
    CodePage& p = pages[i];
    if (!p.decoder) {
        p.decoder = std::make_unique<fields::TextDecoder>(CodePages[i]);
        p.encoder = std::make_unique<fields::TextEncoder>(CodePages[i]);
        if (!p.decoder->valid() || !p.encoder->valid())
            fuzz::fail(std::string("iconv does not know ") + CodePages[i]);
    }
    return p;
}

std::string hexOf(const uint8_t* p, size_t n)
{
    std::string out;
    fields::appendHex(p, n, out);
    return out;
}

// Writes `text` over `bytes`, which must be taken, and reads it back.
std::string roundTrip(const fields::ValueType& t, const std::string& text, fuzz::Bytes& bytes,
    CodePage& page, const char* what)
{
    std::string why;
    if (!fields::encodeValue(t, text, bytes.data(), bytes.size(), *page.encoder, why))
        fuzz::fail(std::string(what) + ": type " + std::to_string(t.type) + " refuses its own text "
            + hexOf(reinterpret_cast<const uint8_t*>(text.data()), text.size()) + ": " + why);
    std::string again;
    fields::appendValue(t, bytes.data(), bytes.size(), *page.decoder, again);
    if (again != text)
        fuzz::fail(std::string(what) + ": type " + std::to_string(t.type) + " wrote '" + text
            + "' and reads back '" + again + "'");
    return again;
}

fuzz::Bytes input(
    uint8_t type, uint8_t decimals, uint8_t flags, uint8_t length, const fuzz::Bytes& payload)
{
    size_t index = 0;
    while (Types[index] != type)
        ++index;
    fuzz::Bytes in {uint8_t(index), decimals, flags, length};
    in.insert(in.end(), payload.begin(), payload.end());
    return in;
}

fuzz::Bytes text(const std::string& s)
{
    return fuzz::Bytes(s.begin(), s.end());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, [](const fuzz::SeedSink& sink) {
        // Values made by the encoder itself, so that the seeds are the type's own bytes.
        struct Seed
        {
            uint8_t type;
            size_t length;
            const char* value;
            uint8_t decimals = 0;
        };
        const Seed seeds[] = {{exttype::String, 8, "Caf\xC3\xA9"}, {exttype::Integer, 2, "-32768"},
            {exttype::Integer, 8, "9223372036854775807"}, {exttype::Float, 8, "0.1"},
            {exttype::Float, 4, "-3.5e-40"}, {exttype::Date, 4, "2000-02-29"},
            {exttype::Time, 4, "23:59:59.99"}, {exttype::Decimal, 5, "-1234.50", 2},
            {exttype::Money, 4, "12.34", 2}, {exttype::Logical, 2, "1"},
            {exttype::Numeric, 6, "-12.5", 1}, {exttype::BFloat, 8, "1.0000000000000000278"},
            {exttype::BFloat, 4, "2.938736e-39"}, {exttype::LString, 6, "abc"},
            {exttype::ZString, 6, "abc"}, {exttype::LVar, 6, "ab"},
            {exttype::Unsigned, 10, "1208925819614629174706175"},
            {exttype::Autoincrement, 4, "70000"}, {exttype::Bit, 2, "1", 9},
            {exttype::SignSeparate, 6, "-0.01", 2}, {exttype::Currency, 8, "-0.0015"},
            {exttype::Timestamp, 8, "9999-12-31T23:59:59.9999999"},
            {exttype::WString, 6, "\xD0\x96"}, {exttype::WZString, 6, "\xF0\x9F\x98\x80"},
            {exttype::Guid, 16, "00112233-4455-6677-8899-aabbccddeeff"}, {Unknown, 3, "abcdef"}};
        fields::TextEncoder encoder;
        int i = 0;
        for (const Seed& s : seeds) {
            fuzz::Bytes bytes(s.length, 0);
            std::string why;
            if (!fields::encodeValue(
                    {s.type, s.decimals}, s.value, bytes.data(), bytes.size(), encoder, why))
                fuzz::fail(std::string("a seed is refused: ") + s.value + ": " + why);
            sink("value-" + std::to_string(i++),
                input(s.type, s.decimals, 0, uint8_t(s.length), bytes));
        }
        // Texts a person types, into fields of their type.
        sink("date-text", input(exttype::Date, 0, 0, 4, text(" 2024-2-9 ")));
        sink("decimal-text", input(exttype::Decimal, 2, 0, 4, text("+12")));
        sink("raw-text", input(exttype::Time, 0, 0, 4, text("0x00000018")));
        sink("cp866-text", input(exttype::String, 0, 2 << 1, 8, text("\xD0\x96\xD1\x8F")));
        sink("timestamp-text", input(exttype::Timestamp, 0, 0, 8, text("2000-01-01 01:01:01.5")));
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < Header)
        return 0;
    const fields::ValueType t {Types[data[0] % Types.size()], data[1], (data[2] & 1) != 0};
    CodePage& page = codePage((data[2] >> 1) % CodePages.size());
    const size_t fieldLength = data[3];
    const uint8_t* payload = data + Header;
    const size_t n = size - Header;

    // The payload as stored bytes.
    std::string text;
    const fields::Kind kind = fields::appendValue(t, payload, n, *page.decoder, text);
    // glibc's conversion from UTF-8 passes code points past U+10FFFF through (F4 92 92 92), so
    // with UTF-8 as the code page the decoder can write such text; the encoder takes only real
    // UTF-8, as the window gives it, and that text is the decoder's to refuse.
    if (fields::utf8Length(text) == std::string::npos)
        return 0;
    fuzz::Bytes bytes(payload, payload + n);
    roundTrip(t, text, bytes, page, "stored bytes");
    // The hex of a whole field is its bytes (a string type's text shown as hex is only part).
    if (kind == fields::Kind::Invalid && text.size() == 2 + 2 * n
        && hexOf(bytes.data(), n) != hexOf(payload, n))
        fuzz::fail("an invalid value's hex wrote other bytes");

    // The payload as typed text.
    const std::string typed(reinterpret_cast<const char*>(payload), n);
    fuzz::Bytes field(fieldLength, 0x5A);
    std::string why;
    if (!fields::encodeValue(t, typed, field.data(), field.size(), *page.encoder, why)) {
        if (field != fuzz::Bytes(fieldLength, 0x5A))
            fuzz::fail("a refused text changed the bytes");
        if (why.empty() || fields::utf8Length(why) == std::string::npos)
            fuzz::fail("a refusal without a reason in UTF-8: '" + why + "'");
        return 0;
    }
    std::string written;
    if (fields::appendValue(t, field.data(), field.size(), *page.decoder, written)
            == fields::Kind::Invalid
        && typed.find("0x") == std::string::npos && typed.find("0X") == std::string::npos)
        fuzz::fail("type " + std::to_string(t.type) + " took '" + typed
            + "' and wrote bytes not valid for it: " + written);
    roundTrip(t, written, field, page, "typed text");
    return 0;
}
