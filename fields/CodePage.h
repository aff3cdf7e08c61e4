// Which code page a file's text is in, guessed from its bytes. Nothing in a data file says it, and
// the same bytes read as different letters in each code page such files were written in (CP437,
// CP850, CP852 and CP866 under DOS, CP1250, CP1251 and CP1252 under Windows, KOI8-R), so the guess
// reads the names and text of a file in every one of them and keeps the one whose letters look
// most like a language written in it:
//   - a byte that reads as box drawing, a mathematical sign or a control character in the middle
//     of a word costs much, punctuation costs less, a letter nothing by itself;
//   - letters are scored by how often each follows the one before in the languages of that code
//     page's family (LanguageTexts.cpp), a letter no such language uses costing much;
//   - a capital after a small letter inside a word, and a letter three times in a row, cost too.
// Only words that hold a byte outside ASCII count: ASCII reads the same in every candidate. Text
// of ASCII only keeps CP437; when no candidate reads the bytes as text of any language (binary
// data in a text field) CP437 is kept too. A tie goes to the earlier candidate, so text that reads
// the same in several code pages gets the DOS one.
//
// Everything here is a pure function of the bytes given: the caller samples a file's names and
// records (Layout.h's sampleText) and says what was chosen.
#pragma once

#include "TextDecoder.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fields {

// The code pages the guess chooses among, in the order that decides a tie.
const std::vector<std::string>& guessedCodePages();

// The bytes of names and text values the guess reads: the words (runs of ASCII letters and bytes
// outside ASCII) that hold a byte outside ASCII, up to Capacity bytes of them.
class TextSample
{
public:
    static constexpr size_t Capacity = 64 * 1024;

    // A name from a file: a table's, a field's, an index's, a location, a collating sequence's.
    void addName(const uint8_t* p, size_t n) { add(p, n); }
    void addName(const std::string& raw)
    {
        add(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
    }
    // The bytes of a text value (a string field's, trimmed). Bytes after a NUL are not the
    // value's; a value with other control bytes (but tab, CR, LF) is not text and is left out.
    void addText(const uint8_t* p, size_t n) { add(p, n); }

    bool full() const { return full_; }
    // Bytes of names and text taken, and how many of them are outside ASCII.
    size_t bytes() const { return bytes_; }
    size_t outsideAscii() const { return outsideAscii_; }
    // The words kept, each followed by a blank.
    const std::string& words() const { return words_; }

private:
    void add(const uint8_t* p, size_t n);

    std::string words_;
    bool full_ = false;
    size_t bytes_ = 0;
    size_t outsideAscii_ = 0;
};

struct CodePageGuess
{
    enum class Basis : uint8_t {
        PlainAscii, // no byte outside ASCII: CP437
        Text,       // the candidate that reads the words best
        NoFit,      // bytes outside ASCII that no candidate reads as text: CP437
    };
    std::string encoding = DefaultEncoding;
    Basis basis = Basis::PlainAscii;
    size_t bytes = 0;        // the sample's
    size_t outsideAscii = 0; // the sample's
    // Each candidate's score in guessedCodePages() order (empty for plain ASCII): the log of how
    // likely the words are read in it; higher is better.
    std::vector<double> scores;
};

CodePageGuess guessCodePage(const TextSample& sample);

} // namespace fields
