// Text in each language whose letters the code pages of such files hold, for the code-page guess's
// letter statistics (CodePage.cpp): which letters a language uses and which follow which. The
// texts are the kind users keep in these files (names, addresses, goods, contracts, accounts),
// written for this purpose in UTF-8; they are statistics, not a dictionary: a word missing here
// costs nothing.
#pragma once

#include <cstdint>
#include <vector>

namespace fields {

// The code pages a language was written in, by family.
enum class Script : uint8_t {
    Western,  // CP437, CP850, CP1252
    Central,  // CP852, CP1250
    Cyrillic, // CP866, CP1251, KOI8-R
};

struct LanguageText
{
    const char* name;
    Script script;
    const char* text; // UTF-8
};

const std::vector<LanguageText>& languageTexts();

} // namespace fields
