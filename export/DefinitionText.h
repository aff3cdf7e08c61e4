// A data file's definition as `stat` shows it: readable text, and a JSON object for scripts.
#pragma once

#include "FileFacts.h"
#include "SpecBuffer.h"
#include "TextDecoder.h"

#include <nlohmann/json.hpp>

#include <string>

namespace exporting {

// The definition in a Stat image, as lines of text headed by the file's name; the collating
// sequences' names read in `names`' code page.
std::string definitionText(
    const std::string& name, const spec::SpecBuffer& image, fields::TextDecoder& names);

// The same facts as one JSON object (the man page lists its members).
nlohmann::ordered_json definitionJson(
    const std::string& name, const spec::SpecBuffer& image, fields::TextDecoder& names);

// What the record manager's file facts say, as `stat` shows them: the lines "Format" and
// "Features" (with their two leading blanks), and a JSON object.
std::string formatText(const uint8_t (&facts)[btr::facts::Size]);
nlohmann::ordered_json formatJson(const uint8_t (&facts)[btr::facts::Size]);

// The collating-sequence blocks a definition holds, in block order (block n is the one a
// segment's AcsNumber n selects), as far as they lie inside the image.
std::vector<spec::AcsBlock> acsBlocks(const spec::SpecBuffer& image, const spec::Layout& layout);

} // namespace exporting
