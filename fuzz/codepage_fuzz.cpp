// The code-page guess and the decoding of names and text against any bytes. The input is a run of
// values separated by 0x1E (a name when it follows 0x1D): the guess must name a candidate and say
// why by what the sample holds, and whatever the bytes, every name read in the chosen code page
// (and in each candidate) is printable UTF-8, a value is UTF-8 or refused whole, and folding case
// keeps UTF-8 and is done once for all.
#include "CodePage.h"
#include "CodePageTexts.h"
#include "FuzzSupport.h"
#include "TextDecoder.h"

#include <algorithm>
#include <array>
#include <memory>

namespace {

constexpr uint8_t ValueEnd = 0x1E;
constexpr uint8_t NameMark = 0x1D;

std::vector<std::unique_ptr<fields::TextDecoder>>& decoders()
{
    static std::vector<std::unique_ptr<fields::TextDecoder>> all = [] {
        std::vector<std::unique_ptr<fields::TextDecoder>> made;
        for (const std::string& page : fields::guessedCodePages())
            made.push_back(std::make_unique<fields::TextDecoder>(page));
        made.push_back(std::make_unique<fields::TextDecoder>("UTF-8"));
        return made;
    }();
    return all;
}

void expectUtf8(const std::string& text, const char* what)
{
    if (!fields::isUtf8(text.data(), text.size()))
        fuzz::fail(std::string(what) + " is not UTF-8");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, [](const fuzz::SeedSink& sink) {
        for (const std::string& page : fields::guessedCodePages()) {
            for (const testsupport::LanguageSamples& l : testsupport::codePageSamples()) {
                fuzz::Bytes input {NameMark};
                std::vector<uint8_t> bytes;
                if (!testsupport::encodeText(l.shortTexts[0], page, bytes))
                    continue;
                input.insert(input.end(), bytes.begin(), bytes.end());
                input.push_back(ValueEnd);
                if (testsupport::encodeText(l.longText, page, bytes))
                    input.insert(input.end(), bytes.begin(), bytes.end());
                sink(page + "-" + l.language, input);
            }
        }
        sink("ascii", {'S', 'm', 'i', 't', 'h', ValueEnd, 'L', 'o', 'n', 'd', 'o', 'n'});
        sink("empty", {});
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fields::TextSample sample;
    std::vector<std::pair<size_t, size_t>> values;
    for (size_t at = 0; at <= size;) {
        const bool name = at < size && data[at] == NameMark;
        const size_t start = at + (name ? 1 : 0);
        const uint8_t* end = std::find(data + start, data + size, ValueEnd);
        const auto length = size_t(end - (data + start));
        if (name)
            sample.addName(data + start, length);
        else
            sample.addText(data + start, length);
        values.emplace_back(start, length);
        at = start + length + 1;
    }
    const fields::CodePageGuess guess = fields::guessCodePage(sample);
    const auto& pages = fields::guessedCodePages();
    if (std::find(pages.begin(), pages.end(), guess.encoding) == pages.end())
        fuzz::fail("the guess is no candidate: " + guess.encoding);
    const bool outside = std::any_of(sample.words().begin(), sample.words().end(),
        [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    if ((guess.basis == fields::CodePageGuess::Basis::PlainAscii) == outside)
        fuzz::fail("plain ASCII said of words outside ASCII, or the other way round");
    if (guess.basis != fields::CodePageGuess::Basis::Text && guess.encoding != "CP437")
        fuzz::fail("no fit, yet not CP437");
    if (sample.words().size() > fields::TextSample::Capacity)
        fuzz::fail("the sample holds more than its capacity");

    for (const auto& decoder : decoders()) {
        for (const auto& [start, length] : values) {
            std::string name;
            decoder->appendName(data + start, length, name);
            expectUtf8(name, "a name");
            const std::string folded = fields::foldCase(name);
            expectUtf8(folded, "a folded name");
            if (fields::foldCase(folded) != folded)
                fuzz::fail("folding case twice changes a name");
            std::string value = "x";
            if (decoder->append(data + start, length, value))
                expectUtf8(value, "a value");
            else if (value != "x")
                fuzz::fail("a refused value left text behind");
        }
    }
    expectUtf8(fields::validUtf8(std::string(reinterpret_cast<const char*>(data), size)),
        "validUtf8's text");
    return 0;
}
