// Texts in the languages the code-page guess knows, for measuring it: in each language a few short
// ones (a name and a place, a product: what one record's text fields hold) and a long one (a
// paragraph, as a file's many records give). They are written apart from the texts the guess
// learns its letter statistics from, about other things, so that they measure it rather than
// repeat it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct LanguageSamples
{
    const char* language;
    std::vector<std::string> shortTexts; // UTF-8
    std::string longText;                // UTF-8
};

const std::vector<LanguageSamples>& codePageSamples();

// The UTF-8 text in `encoding`; false when the code page cannot hold one of its characters.
bool encodeText(const std::string& utf8, const std::string& encoding, std::vector<uint8_t>& out);

} // namespace testsupport
