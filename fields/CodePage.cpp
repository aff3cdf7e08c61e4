#include "CodePage.h"

#include "LanguageTexts.h"
#include "TextEncoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

namespace fields {

namespace {

// What a byte reads as in a code page.
enum class Kind : uint8_t {
    Letter,
    Punctuation, // quotes, dashes, currency and other signs text holds now and then
    Graphic,     // box drawing, blocks, mathematical signs: never inside a name or a word
    Control,     // a control character, or a byte that is no character of the code page
};

// The weights of the score, as natural logarithms of how likely each thing is.
constexpr double PunctuationCost = -6.0;
// Signs do not stand between letters (but an apostrophe) nor touch one (but quotes).
constexpr double InsideWordCost = -10.0;
constexpr double AttachedCost = -3.0;
constexpr double GraphicCost = -11.0;
// A graphic after a graphic: a line of a box costs little more than its first piece.
constexpr double GraphicRunCost = -3.0;
constexpr double ControlCost = -15.0;
constexpr double CapitalAfterSmallCost = -5.0;
constexpr double RepeatedLetterCost = -4.0;
// A letter the language does not use, on average over its family's letters; one its family uses
// often is up to ForeignLetterMost times likelier, one no language of the family uses
// ForeignLetterLeast times as likely.
constexpr double ForeignLetter = 1e-4;
constexpr double ForeignLetterMost = 5.0;
constexpr double ForeignLetterLeast = 0.05;
// How much the letter-pair counts lean on the single-letter counts where they are few.
constexpr double Smoothing = 5.0;
// Below this score a byte of the words, on average, even the best candidate does not read them as
// text: real text scores about -2 to -4, a rare word alone down to -7; random bytes outside ASCII
// -6.5 in three, -8 in twenty, -9 in a thousand. A short sample is given the benefit of the doubt.
constexpr double NoFitPerByte = -7.0;
constexpr double NoFitPerByteShort = -8.5;
constexpr size_t ShortSample = 50;

struct ByteClass
{
    Kind kind = Kind::Control;
    bool capital = false;
    bool ascii = false;
    bool quote = false;      // a quotation mark or an apostrophe
    bool apostrophe = false; // a typographic apostrophe
    uint16_t letter = 0;     // the small letter's index among all letters, for a letter
};

struct Language
{
    Script script = Script::Western;
    // Symbols: 0 the edge of a word, 1 to K the language's letters, K + 1 any other letter.
    size_t size = 0;
    std::vector<uint16_t> symbolOf; // by letter index
    std::vector<float> cost;        // log P(next | previous), at previous * size + next
    // A letter the language does not use is likelier when its family's other languages use it
    // often: the log of that factor, by letter index.
    std::vector<float> foreignWeight;
};

struct CodePageModel
{
    Script script = Script::Western;
    std::array<ByteClass, 256> bytes;
};

struct Model
{
    std::vector<uint32_t> letters; // every small letter, sorted: a letter's index
    std::vector<Language> languages;
    std::vector<CodePageModel> codePages;

    uint16_t indexOf(uint32_t letter) const
    {
        return uint16_t(std::lower_bound(letters.begin(), letters.end(), letter) - letters.begin());
    }
};

bool isLetter(uint32_t c)
{
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (c >= 0xC0 && c <= 0x24F)
        return c != 0xD7 && c != 0xF7;
    return (c >= 0x386 && c <= 0x3FF) || (c >= 0x400 && c <= 0x52F);
}

Kind kindOf(uint32_t c)
{
    if (c == NoCharacter || c < 0x20 || (c >= 0x7F && c < 0xA0))
        return Kind::Control;
    if (isLetter(c))
        return Kind::Letter;
    // Mathematical operators, technical signs, box drawing, blocks and geometric shapes.
    if ((c >= 0x2200 && c < 0x2400) || (c >= 0x2500 && c < 0x2600))
        return Kind::Graphic;
    return Kind::Punctuation;
}

// The characters of UTF-8 text (valid, as the texts are).
std::vector<uint32_t> characters(const char* text)
{
    std::vector<uint32_t> out;
    const std::string_view s(text);
    for (size_t i = 0; i < s.size();) {
        uint32_t c = 0;
        const size_t length = utf8Sequence(s.substr(i), c);
        out.push_back(length == 0 ? uint32_t(0xFFFD) : c);
        i += length == 0 ? 1 : length;
    }
    return out;
}

Language train(const LanguageText& text, const Model& model, const std::vector<double>& family)
{
    Language language;
    language.script = text.script;
    const std::vector<uint32_t> chars = characters(text.text);
    std::map<uint32_t, size_t> seen;
    for (uint32_t c : chars) {
        if (isLetter(c))
            seen.emplace(lowerLetter(c), 0);
    }
    size_t next = 1;
    for (auto& [letter, symbol] : seen)
        symbol = next++;
    const size_t foreign = next;
    language.size = next + 1;
    language.symbolOf.assign(model.letters.size(), uint16_t(foreign));
    for (const auto& [letter, symbol] : seen)
        language.symbolOf[model.indexOf(letter)] = uint16_t(symbol);
    double familyTotal = 0;
    size_t familyLetters = 0;
    for (double count : family) {
        familyTotal += count;
        familyLetters += count > 0 ? 1 : 0;
    }
    const double mean = familyLetters > 0 ? familyTotal / double(familyLetters) : 1;
    language.foreignWeight.resize(family.size());
    for (size_t i = 0; i < family.size(); ++i)
        language.foreignWeight[i] = float(
            std::log(std::clamp((family[i] + 1) / mean, ForeignLetterLeast, ForeignLetterMost)));

    const size_t n = language.size;
    std::vector<double> pairs(n * n, 0.0);
    std::vector<double> after(n, 0.0); // how often each symbol follows another
    size_t previous = 0;
    for (uint32_t c : chars) {
        size_t symbol = 0;
        if (isLetter(c))
            symbol = seen[lowerLetter(c)];
        if (symbol == 0 && previous == 0)
            continue;
        pairs[previous * n + symbol] += 1;
        after[symbol] += 1;
        previous = symbol;
    }
    if (previous != 0) {
        pairs[previous * n] += 1;
        after[0] += 1;
    }
    double total = 0;
    for (size_t s = 0; s < foreign; ++s)
        total += after[s] + 0.5;
    std::vector<double> single(n, 0.0);
    for (size_t s = 0; s < foreign; ++s)
        single[s] = (after[s] + 0.5) / total;

    language.cost.assign(n * n, 0.0F);
    for (size_t p = 0; p < n; ++p) {
        double from = 0;
        for (size_t s = 0; s < foreign; ++s)
            from += pairs[p * n + s];
        for (size_t s = 0; s < n; ++s) {
            double probability = ForeignLetter;
            if (s != foreign) {
                probability = (1 - ForeignLetter)
                    * (p == foreign
                            ? single[s]
                            : (pairs[p * n + s] + Smoothing * single[s]) / (from + Smoothing));
            }
            language.cost[p * n + s] = float(std::log(probability));
        }
    }
    return language;
}

Script scriptOf(const std::string& codePage)
{
    if (codePage == "CP852" || codePage == "CP1250")
        return Script::Central;
    if (codePage == "CP866" || codePage == "CP1251" || codePage == "KOI8-R")
        return Script::Cyrillic;
    return Script::Western;
}

Model buildModel()
{
    Model model;
    std::vector<std::array<uint32_t, 256>> tables;
    for (const std::string& name : guessedCodePages()) {
        std::array<uint32_t, 256> table {};
        // iconv on this system knows every candidate; one it did not know would read as all
        // control characters and never win.
        if (!singleByteTable(name, table))
            table.fill(NoCharacter);
        tables.push_back(table);
    }
    for (const auto& table : tables) {
        for (uint32_t c : table) {
            if (c != NoCharacter && isLetter(c))
                model.letters.push_back(lowerLetter(c));
        }
    }
    for (const LanguageText& text : languageTexts()) {
        for (uint32_t c : characters(text.text)) {
            if (isLetter(c))
                model.letters.push_back(lowerLetter(c));
        }
    }
    std::sort(model.letters.begin(), model.letters.end());
    model.letters.erase(
        std::unique(model.letters.begin(), model.letters.end()), model.letters.end());

    // How often each letter occurs in each family's texts.
    std::map<Script, std::vector<double>> families;
    for (const LanguageText& text : languageTexts()) {
        std::vector<double>& counts = families[text.script];
        counts.resize(model.letters.size(), 0.0);
        for (uint32_t c : characters(text.text)) {
            if (isLetter(c))
                counts[model.indexOf(lowerLetter(c))] += 1;
        }
    }
    for (const LanguageText& text : languageTexts())
        model.languages.push_back(train(text, model, families[text.script]));

    for (size_t i = 0; i < tables.size(); ++i) {
        CodePageModel page;
        page.script = scriptOf(guessedCodePages()[i]);
        for (size_t b = 0; b < 256; ++b) {
            const uint32_t c = tables[i][b];
            ByteClass& cls = page.bytes[b];
            cls.kind = kindOf(c);
            cls.ascii = b < 0x80;
            if (cls.kind == Kind::Letter) {
                cls.capital = isCapital(c);
                cls.letter = model.indexOf(lowerLetter(c));
            }
            cls.apostrophe = c == 0x2019 || c == 0x02BC;
            cls.quote = cls.apostrophe || c == 0xAB || c == 0xBB || (c >= 0x2018 && c <= 0x201F)
                || c == 0x2039 || c == 0x203A;
        }
        model.codePages.push_back(page);
    }
    return model;
}

const Model& model()
{
    static const Model built = buildModel();
    return built;
}

// What the words cost in a code page whatever the language: signs, capitals, repeated letters.
double shapeScore(const CodePageModel& page, const std::string& words)
{
    double score = 0;
    const auto* w = reinterpret_cast<const unsigned char*>(words.data());
    const size_t n = words.size();
    const auto letterAt
        = [&](size_t i) { return i < n && w[i] != ' ' && page.bytes[w[i]].kind == Kind::Letter; };
    int run = 0;
    for (size_t i = 0; i < n; ++i) {
        if (w[i] == ' ')
            continue;
        const ByteClass& cls = page.bytes[w[i]];
        const bool letterBefore = i > 0 && letterAt(i - 1);
        if (cls.kind == Kind::Letter) {
            const ByteClass& before = page.bytes[w[i - (letterBefore ? 1 : 0)]];
            if (letterBefore && !before.capital && cls.capital && !(before.ascii && cls.ascii))
                score += CapitalAfterSmallCost;
            run = letterBefore && w[i] == w[i - 1] ? run + 1 : 1;
            if (run >= 3)
                score += RepeatedLetterCost;
            continue;
        }
        const bool letterAfter = letterAt(i + 1);
        switch (cls.kind) {
        case Kind::Punctuation:
            score += PunctuationCost;
            if (letterBefore && letterAfter && !cls.apostrophe)
                score += InsideWordCost;
            else if ((letterBefore || letterAfter) && !cls.quote)
                score += AttachedCost;
            break;
        case Kind::Graphic:
            score += i > 0 && w[i - 1] != ' ' && page.bytes[w[i - 1]].kind == Kind::Graphic
                ? GraphicRunCost
                : GraphicCost;
            if (letterBefore && letterAfter)
                score += InsideWordCost;
            else if (letterBefore || letterAfter)
                score += AttachedCost;
            break;
        default:
            score += ControlCost;
            break;
        }
    }
    return score;
}

// How likely the letters of the words are in a language, read in a code page.
double languageScore(const CodePageModel& page, const Language& language, const std::string& words)
{
    std::array<int16_t, 256> symbol {};
    std::array<float, 256> weight {};
    const size_t foreign = language.size - 1;
    for (size_t b = 0; b < 256; ++b) {
        const ByteClass& cls = page.bytes[b];
        symbol[b] = cls.kind == Kind::Letter ? int16_t(language.symbolOf[cls.letter]) : -1;
        if (symbol[b] == int16_t(foreign))
            weight[b] = language.foreignWeight[cls.letter];
    }
    symbol[' '] = -1;
    const float* cost = language.cost.data();
    const size_t n = language.size;
    double score = 0;
    size_t previous = 0;
    for (const char ch : words) {
        const auto b = static_cast<unsigned char>(ch);
        const int16_t s = symbol[b];
        if (s < 0) {
            if (previous != 0)
                score += cost[previous * n];
            previous = 0;
            continue;
        }
        score += cost[previous * n + size_t(s)] + weight[b];
        previous = size_t(s);
    }
    if (previous != 0)
        score += cost[previous * n];
    return score;
}

bool wordByte(uint8_t b)
{
    return b >= 0x80 || (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z');
}

} // namespace

const std::vector<std::string>& guessedCodePages()
{
    static const std::vector<std::string> pages {
        "CP437", "CP850", "CP852", "CP866", "CP1250", "CP1251", "CP1252", "KOI8-R"};
    return pages;
}

void TextSample::add(const uint8_t* p, size_t n)
{
    if (full())
        return;
    for (size_t i = 0; i < n; ++i) {
        if (p[i] == 0) {
            n = i;
            break;
        }
        if (p[i] < 0x20 && p[i] != '\t' && p[i] != '\r' && p[i] != '\n')
            return;
    }
    bytes_ += n;
    for (size_t i = 0; i < n;) {
        if (!wordByte(p[i])) {
            ++i;
            continue;
        }
        const size_t start = i;
        bool outside = false;
        for (; i < n && wordByte(p[i]); ++i) {
            if (p[i] >= 0x80) {
                outside = true;
                ++outsideAscii_;
            }
        }
        if (!outside)
            continue;
        if (words_.size() + (i - start) + 1 > Capacity) {
            // Nothing more fits: the sample is complete.
            full_ = true;
            return;
        }
        words_.append(reinterpret_cast<const char*>(p + start), i - start);
        words_ += ' ';
    }
}

CodePageGuess guessCodePage(const TextSample& sample)
{
    CodePageGuess guess;
    guess.bytes = sample.bytes();
    guess.outsideAscii = sample.outsideAscii();
    const std::string& words = sample.words();
    if (words.empty())
        return guess;
    const Model& m = model();
    size_t best = 0;
    for (size_t i = 0; i < m.codePages.size(); ++i) {
        const CodePageModel& page = m.codePages[i];
        double language = -INFINITY;
        for (const Language& l : m.languages) {
            if (l.script == page.script)
                language = std::max(language, languageScore(page, l, words));
        }
        guess.scores.push_back(shapeScore(page, words) + language);
        if (guess.scores[i] > guess.scores[best])
            best = i;
    }
    const auto letters = double(words.size() - size_t(std::count(words.begin(), words.end(), ' ')));
    if (guess.scores[best] / letters < (letters < ShortSample ? NoFitPerByteShort : NoFitPerByte)) {
        guess.basis = CodePageGuess::Basis::NoFit;
        return guess;
    }
    guess.basis = CodePageGuess::Basis::Text;
    guess.encoding = guessedCodePages()[best];
    return guess;
}

} // namespace fields
