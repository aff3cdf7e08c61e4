// The code-page guess: texts in every language it knows, short and long, written in every
// candidate code page that holds their letters, must read back as they were written; plain ASCII
// and binary bytes keep CP437; the sample keeps only what the guess reads. And the decoder's own
// rules for names: printable UTF-8 whatever the bytes, and letters compared in any case.
#include "CodePage.h"
#include "CodePageTexts.h"
#include "TextDecoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>

using namespace fields;
using testsupport::codePageSamples;
using testsupport::encodeText;

namespace {

std::string guessed(const std::vector<uint8_t>& bytes)
{
    TextSample sample;
    sample.addText(bytes.data(), bytes.size());
    return guessCodePage(sample).encoding;
}

// The text the bytes read as in `encoding`.
std::string readAs(const std::vector<uint8_t>& bytes, const std::string& encoding)
{
    TextDecoder decoder(encoding);
    std::string out;
    decoder.append(bytes.data(), bytes.size(), out);
    return out;
}

// The text in capitals (DOS programs kept much of their text so): each letter that is the small
// letter of a capital lowerLetter knows.
std::string capitals(const std::string& text)
{
    static const std::map<uint32_t, uint32_t> capitalOf = [] {
        std::map<uint32_t, uint32_t> m;
        for (uint32_t c = 0x41; c < 0x530; ++c) {
            if (lowerLetter(c) != c && c != 0x130)
                m.emplace(lowerLetter(c), c);
        }
        return m;
    }();
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
        uint32_t c = length == 1 ? b : b & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        const auto found = capitalOf.find(c);
        appendCodePoint(found == capitalOf.end() ? c : found->second, out);
        i += length;
    }
    return out;
}

struct Tally
{
    int right = 0;
    int total = 0;
};

// Every sample text in every candidate code page that holds it: how many read back right, by code
// page and length. A guess is right when the text reads back as written, whichever of the code
// pages that read it so was chosen (German reads the same in CP437 and CP850).
TEST(CodePage, TextsInEveryCodePageReadBackAsWritten)
{
    std::map<std::string, std::pair<Tally, Tally>> tallies; // short, long
    std::string misses;
    for (const std::string& page : guessedCodePages()) {
        for (const testsupport::LanguageSamples& l : codePageSamples()) {
            std::vector<std::pair<std::string, bool>> texts;
            for (const std::string& s : l.shortTexts) {
                texts.emplace_back(s, false);
                texts.emplace_back(capitals(s), false);
            }
            texts.emplace_back(l.longText, true);
            for (const auto& [text, isLong] : texts) {
                std::vector<uint8_t> bytes;
                if (!encodeText(text, page, bytes))
                    continue;
                const std::string guess = guessed(bytes);
                Tally& t = isLong ? tallies[page].second : tallies[page].first;
                ++t.total;
                if (readAs(bytes, guess) == text)
                    ++t.right;
                else
                    misses += "  " + page + " " + l.language + (isLong ? " long" : " short")
                        + ": read as " + guess + ": " + readAs(bytes, guess).substr(0, 60) + "\n";
            }
        }
    }
    std::string table = "code page  short right/all  long right/all\n";
    for (const std::string& page : guessedCodePages()) {
        const auto& [s, l] = tallies[page];
        char line[128];
        std::snprintf(line, sizeof line, "%-9s  %5d/%-9d  %4d/%d\n", page.c_str(), s.right, s.total,
            l.right, l.total);
        table += line;
    }
    std::printf("%s%s", table.c_str(), misses.c_str());
    for (const std::string& page : guessedCodePages()) {
        const auto& [s, l] = tallies[page];
        EXPECT_EQ(l.right, l.total) << page;
        EXPECT_GE(s.right * 10, s.total * 9) << page; // nine in ten short texts at least
        EXPECT_GT(s.total, 0) << page;
    }
}

} // namespace

namespace {

std::vector<uint8_t> bytesOf(const std::string& s)
{
    return std::vector<uint8_t>(s.begin(), s.end());
}

TEST(CodePage, AsciiBinaryAndTiesKeepCp437)
{
    struct Case
    {
        const char* what;
        std::vector<std::string> values;
        CodePageGuess::Basis basis;
        std::string encoding;
    };
    std::mt19937 random(7);
    std::string noise;
    for (int i = 0; i < 2000; ++i)
        noise += char(0x80 + random() % 128);
    for (const Case& c : std::vector<Case> {
             {"nothing", {}, CodePageGuess::Basis::PlainAscii, "CP437"},
             {"ASCII", {"Smith", "12 High Street"}, CodePageGuess::Basis::PlainAscii, "CP437"},
             // Control bytes make a value binary, not text; what follows a NUL is not the value.
             {"binary", {"\x81\x02\xE4\xA0", std::string("OK\0\xE4\xA0\xAD", 6)},
                 CodePageGuess::Basis::PlainAscii, "CP437"},
             {"noise", {noise}, CodePageGuess::Basis::NoFit, "CP437"},
             // M\x81ller reads the same in CP437 and CP850: the first candidate.
             {"tie",
                 {"M\x81ller",
                     "B\x84"
                     "cker"},
                 CodePageGuess::Basis::Text, "CP437"},
             {"CP866", {"\x88\xA2\xA0\xAD\xAE\xA2", "\x8F\xA5\xE2\xE0"}, CodePageGuess::Basis::Text,
                 "CP866"},
         }) {
        TextSample sample;
        for (const std::string& v : c.values) {
            const std::vector<uint8_t> b = bytesOf(v);
            sample.addText(b.data(), b.size());
        }
        const CodePageGuess guess = guessCodePage(sample);
        EXPECT_EQ(int(guess.basis), int(c.basis)) << c.what;
        EXPECT_EQ(guess.encoding, c.encoding) << c.what;
    }
}

TEST(CodePage, TheSampleKeepsWordsOutsideAsciiUpToItsCapacity)
{
    TextSample sample;
    sample.addName("Kunde");
    const std::vector<uint8_t> text = bytesOf("Herr M\x81ller, Stra\xE1"
                                              "e 5");
    sample.addText(text.data(), text.size());
    const std::vector<uint8_t> binary = bytesOf("\x01\x84");
    sample.addText(binary.data(), binary.size());
    EXPECT_EQ(sample.words(),
        "M\x81ller Stra\xE1"
        "e ");
    EXPECT_EQ(sample.bytes(), 5U + 21U);
    EXPECT_EQ(sample.outsideAscii(), 2U);
    const std::vector<uint8_t> word(100, 0xE4);
    while (!sample.full())
        sample.addText(word.data(), word.size());
    EXPECT_LE(sample.words().size(), TextSample::Capacity);
    const size_t bytes = sample.bytes();
    sample.addText(word.data(), word.size());
    EXPECT_EQ(sample.bytes(), bytes);
}

// Each candidate code page read through the decoder's table gives what iconv gives byte by byte.
TEST(TextDecoder, TablesReadAsIconvDoes)
{
    for (const std::string& page : guessedCodePages()) {
        TextDecoder decoder(page);
        ASSERT_TRUE(decoder.valid()) << page;
        std::array<uint32_t, 256> table {};
        ASSERT_TRUE(singleByteTable(page, table)) << page;
        for (int b = 0; b < 256; ++b) {
            const uint8_t byte = uint8_t(b);
            std::string got;
            const bool ok = decoder.append(&byte, 1, got);
            std::string wanted;
            if (table[size_t(b)] != NoCharacter)
                appendCodePoint(table[size_t(b)], wanted);
            EXPECT_EQ(ok, table[size_t(b)] != NoCharacter) << page << " " << b;
            EXPECT_EQ(got, wanted) << page << " " << b;
        }
    }
    std::array<uint32_t, 256> table {};
    for (const char* notSingle : {"UTF-8", "UTF-16LE", "SHIFT_JIS", "NO-SUCH-CODE-PAGE"})
        EXPECT_FALSE(singleByteTable(notSingle, table)) << notSingle;
    // A multi-byte encoding goes through iconv, whole or not at all.
    TextDecoder utf8("UTF-8");
    std::string out = "x";
    EXPECT_TRUE(utf8.append(reinterpret_cast<const uint8_t*>("\xC3\xA9"), 2, out));
    EXPECT_FALSE(utf8.append(reinterpret_cast<const uint8_t*>("\xC3"), 1, out));
    // iconv takes a sequence past U+10FFFF as UTF-8 and passes it on: refused all the same.
    EXPECT_FALSE(utf8.append(reinterpret_cast<const uint8_t*>("\xF7\xAD\xAA\xA0"), 4, out));
    EXPECT_EQ(out, "x\xC3\xA9");
}

TEST(TextDecoder, NamesArePrintableUtf8WhateverTheBytes)
{
    struct Case
    {
        const char* encoding;
        std::string bytes;
        std::string name;
    };
    for (const Case& c : std::vector<Case> {
             {"CP866", "\x8F\xAE\xAB\xA5", "\xD0\x9F\xD0\xBE\xD0\xBB\xD0\xB5"}, // Поле
             {"CP1252",
                 "A\x81"
                 "B",
                 "A\xEF\xBF\xBD"
                 "B"}, // no character
             {"CP437",
                 "\x01"
                 "A\x7F",
                 "\xEF\xBF\xBD"
                 "A\xEF\xBF\xBD"}, // controls
             {"UTF-8", "\xC3\xA9\xC3", "\xC3\xA9\xEF\xBF\xBD"},
             {"UTF-8", "a\tb",
                 "a\xEF\xBF\xBD"
                 "b"},
             {"ISO-8859-1",
                 "\x85"
                 "x",
                 "\xEF\xBF\xBD"
                 "x"},                                  // a C1 control
             {"NO-SUCH-CODE-PAGE", "Ab\xE4", "Ab\xE4"}, // passed on as it is, then made UTF-8
         }) {
        TextDecoder decoder(c.encoding);
        const std::string name = decoder.name(c.bytes);
        if (decoder.valid()) {
            EXPECT_EQ(name, c.name) << c.encoding;
        }
        EXPECT_TRUE(isUtf8(name.data(), name.size())) << c.encoding;
    }
}

TEST(TextDecoder, LettersCompareInAnyCaseAndFileNamesBecomeUtf8)
{
    struct Case
    {
        std::string text;
        std::string folded;
    };
    for (const Case& c : std::vector<Case> {
             {"Name", "name"},
             {"\xC3\x84\xC3\x96\xC3\x9C\xC3\x9F", "\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F"}, // ÄÖÜß
             {"\xD0\x9F\xD0\x9E\xD0\x9B\xD0\x95\xD0\x81",
                 "\xD0\xBF\xD0\xBE\xD0\xBB\xD0\xB5\xD1\x91"},
             {"\xC5\x81\xC3\x93\xC5\xB9", "\xC5\x82\xC3\xB3\xC5\xBA"}, // ŁÓŹ
             {"\xC4\x8C\xC5\x98\xC5\xBD", "\xC4\x8D\xC5\x99\xC5\xBE"}, // ČŘŽ
             {"\xC4\xBD\xC5\x87\xC5\xB8", "\xC4\xBE\xC5\x88\xC3\xBF"}, // ĽŇŸ
             {"\xCE\xA3\xCE\xA9", "\xCF\x83\xCF\x89"},                 // ΣΩ
             {"\xD0\x8E\xD2\x90", "\xD1\x9E\xD2\x91"},                 // ЎҐ
             {"\xC3\x97\xE2\x95\x90", "\xC3\x97\xE2\x95\x90"},         // × ═ stay
             {"A\xFF"
              "B",
                 "a\xFF"
                 "b"}, // not UTF-8: kept
         })
        EXPECT_EQ(foldCase(c.text), c.folded) << c.text;
    EXPECT_TRUE(isUtf8("caf\xC3\xA9", 5));
    for (const char* bad : {"\xC3", "\xC0\x80", "\xED\xA0\x80", "\xF5\x80\x80\x80", "\x80"})
        EXPECT_FALSE(isUtf8(bad, std::strlen(bad))) << bad;
    EXPECT_EQ(validUtf8("\x8F\xAE\xAB.DAT"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD.DAT");
    EXPECT_EQ(validUtf8("caf\xC3\xA9"), "caf\xC3\xA9");
}

} // namespace
