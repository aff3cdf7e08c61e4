#include "Description.h"

#include "BtrCall.h"
#include "LittleEndian.h"
#include "SpecBuffer.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <optional>

namespace spec {

namespace {

using Block = std::array<uint8_t, AcsBlockSize>;

// ---------------------------------------------------------------------------------------------
// Vocabulary

enum class Element : uint8_t {
    // File elements, in their order.
    Record,
    Variable,
    Truncate,
    Compress,
    Key,
    Page,
    Allocation,
    Replace,
    DupKey,
    Data,
    FThreshold,
    Vats,
    Balance,
    // Segment elements, in their order (null is the older spelling of nullkey).
    Position,
    Length,
    Duplicates,
    Modifiable,
    Type,
    Descending,
    Alternate,
    CaseInsensitive,
    RepeatDup,
    NullKey,
    Null,
    Value,
    Segment,
    // After the last segment of a key, or once at the end.
    Name,
};

struct ElementInfo
{
    const char* keyword;
    Element element;
    int rank; // place in the order of the file elements, or of a segment's elements
};

constexpr int FileElementCount = 13;
constexpr int SegmentElementCount = 12;

constexpr std::array<ElementInfo, 27> Elements {{
    {"record", Element::Record, 0},
    {"variable", Element::Variable, 1},
    {"truncate", Element::Truncate, 2},
    {"compress", Element::Compress, 3},
    {"key", Element::Key, 4},
    {"page", Element::Page, 5},
    {"allocation", Element::Allocation, 6},
    {"replace", Element::Replace, 7},
    {"dupkey", Element::DupKey, 8},
    {"data", Element::Data, 9},
    {"fthreshold", Element::FThreshold, 10},
    {"vats", Element::Vats, 11},
    {"balance", Element::Balance, 12},
    {"position", Element::Position, 0},
    {"length", Element::Length, 1},
    {"duplicates", Element::Duplicates, 2},
    {"modifiable", Element::Modifiable, 3},
    {"type", Element::Type, 4},
    {"descending", Element::Descending, 5},
    {"alternate", Element::Alternate, 6},
    {"caseinsensitive", Element::CaseInsensitive, 7},
    {"repeatdup", Element::RepeatDup, 8},
    {"nullkey", Element::NullKey, 9},
    {"null", Element::Null, 9},
    {"value", Element::Value, 10},
    {"segment", Element::Segment, 11},
    {"name", Element::Name, 0},
}};

const char* keyword(Element e)
{
    return Elements[static_cast<size_t>(e)].keyword;
}

bool isFileElement(Element e)
{
    return e <= Element::Balance;
}

const ElementInfo* findElement(std::string_view lowerKeyword)
{
    for (const ElementInfo& info : Elements) {
        if (lowerKeyword == info.keyword)
            return &info;
    }
    return nullptr;
}

struct TypeName
{
    uint8_t code;
    const char* name; // as written: the type's name without blanks, lower case
};

// In code order, so that a three-letter abbreviation two names share ("num", "tim") finds the
// older, shorter type first.
constexpr std::array<TypeName, 23> TypeNames {{
    {exttype::String, "string"},
    {exttype::Integer, "integer"},
    {exttype::Float, "float"},
    {exttype::Date, "date"},
    {exttype::Time, "time"},
    {exttype::Decimal, "decimal"},
    {exttype::Money, "money"},
    {exttype::Logical, "logical"},
    {exttype::Numeric, "numeric"},
    {exttype::BFloat, "bfloat"},
    {exttype::LString, "lstring"},
    {exttype::ZString, "zstring"},
    {exttype::Note, "note"},
    {exttype::LVar, "lvar"},
    {exttype::Unsigned, "unsignedbinary"},
    {exttype::Autoincrement, "autoincrement"},
    {exttype::Bit, "bit"},
    {exttype::SignSeparate, "numericsts"},
    {exttype::Currency, "currency"},
    {exttype::Timestamp, "timestamp"},
    {exttype::WString, "wstring"},
    {exttype::WZString, "wzstring"},
    {exttype::Guid, "guid"},
}};

constexpr std::array<TypeName, 2> TypeAliases {{
    {exttype::Unsigned, "unsigned"},
    {exttype::SignSeparate, "signseparate"},
}};

std::optional<uint8_t> typeCode(std::string_view lowerName)
{
    for (const TypeName& t : TypeNames) {
        if (lowerName == t.name)
            return t.code;
    }
    for (const TypeName& t : TypeAliases) {
        if (lowerName == t.name)
            return t.code;
    }
    if (lowerName.size() == 3) {
        for (const TypeName& t : TypeNames) {
            if (std::string_view(t.name).substr(0, 3) == lowerName)
                return t.code;
        }
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------------------------
// Text

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// A piece of the text as a message may show it: printable ASCII, at most 40 characters.
std::string shown(std::string_view s)
{
    constexpr size_t Longest = 40;
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (i == Longest) {
            out += "...";
            break;
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        }
    }
    return out;
}

// Messages are built by appending: GCC 12 at -O3 reports a false -Wrestrict on a literal plus a
// string it has inlined.
std::string quoted(std::string_view s)
{
    std::string text(1, '\'');
    text.append(shown(s)).append(1, '\'');
    return text;
}

std::string lineText(int line)
{
    std::string text("line ");
    text.append(std::to_string(line));
    return text;
}

std::string at(int line)
{
    return lineText(line) + ": ";
}

std::string hex(unsigned value, int digits)
{
    char text[12];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

std::string keySegment(int key, int segment)
{
    return "key " + std::to_string(key) + " segment " + std::to_string(segment);
}

// The most segment entries that leave room for `blocks` collating sequences in the buffer.
int segmentsBeside(int blocks)
{
    return std::max(0, (BufferSize - FileSpecSize - AcsBlockSize * blocks) / SegmentSize);
}

std::string capacity(int blocks)
{
    if (blocks == 0)
        return "at most " + std::to_string(segmentsBeside(0)) + " segments";
    return "at most " + std::to_string(segmentsBeside(blocks)) + " segments with "
        + (blocks == 1 ? std::string("one collating sequence")
                       : std::to_string(blocks) + " collating sequences");
}

bool isBlank(char c)
{
    // Ctrl-Z ends many DOS text files; it separates like a blank.
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == '\x1A';
}

struct Token
{
    std::string_view text;
    int line;
};

bool opensComment(std::string_view text, size_t i)
{
    return text[i] == '/' && i + 1 < text.size() && text[i + 1] == '*';
}

// Splits the text into blank-separated words outside comments; a comment also ends a word.
std::string tokenize(std::string_view text, std::vector<Token>& tokens)
{
    int line = 1;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '\n') {
            ++line;
            ++i;
        } else if (isBlank(text[i])) {
            ++i;
        } else if (opensComment(text, i)) {
            const size_t end = text.find("*/", i + 2);
            if (end == std::string_view::npos)
                return at(line) + "comment '/*' is not closed";
            line += static_cast<int>(std::count(text.begin() + static_cast<ptrdiff_t>(i),
                text.begin() + static_cast<ptrdiff_t>(end), '\n'));
            i = end + 2;
        } else {
            const size_t start = i;
            while (i < text.size() && !isBlank(text[i]) && !opensComment(text, i))
                ++i;
            tokens.push_back({text.substr(start, i - start), line});
        }
    }
    return {};
}

std::optional<bool> yesNo(std::string_view v)
{
    if (v == "y" || v == "Y")
        return true;
    if (v == "n" || v == "N")
        return false;
    return std::nullopt;
}

// Decimal digits only; a number too large for any element comes back as one larger than all.
std::optional<uint32_t> decimal(std::string_view v)
{
    constexpr uint32_t BeyondAll = 100000000;
    if (v.empty())
        return std::nullopt;
    uint32_t n = 0;
    for (char c : v) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = std::min(BeyondAll, n * 10 + static_cast<uint32_t>(c - '0'));
    }
    return n;
}

// One byte in hexadecimal: one or two digits, with or without 0x.
std::optional<uint8_t> hexByte(std::string_view v)
{
    if (v.size() > 2 && v[0] == '0' && (v[1] == 'x' || v[1] == 'X'))
        v.remove_prefix(2);
    if (v.empty() || v.size() > 2)
        return std::nullopt;
    unsigned n = 0;
    for (char c : v) {
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        n = n * 16 + digit;
    }
    return static_cast<uint8_t>(n);
}

// ---------------------------------------------------------------------------------------------
// Reading

struct Given
{
    int line = 0; // 0: not given
    const char* keyword = nullptr;
};

struct SegmentDraft
{
    uint16_t position = 0;
    uint16_t length = 0;
    uint16_t flags = 0;
    uint8_t type = 0;
    uint8_t nullValue = 0;
    int key = 0;
    int number = 0; // 1-based within the key
    std::array<Given, SegmentElementCount> given {};
};

struct KeyDraft
{
    int alternateLine = 0; // where a segment first said alternate=y; 0: none did
    int block = -1;        // the collating sequence its name= gave
};

class Reader
{
public:
    explicit Reader(const AcsLoader& loadAcs)
        : loadAcs_(loadAcs)
    { }

    Description read(std::string_view text);

private:
    enum class Phase { File, InSegment, BetweenSegments };

    bool fail(std::string message)
    {
        error_ = std::move(message);
        return false;
    }

    bool element(const Token& token);
    bool fileElement(const ElementInfo& info, std::string_view value, int line);
    bool beginSegment(std::string_view value, int line);
    bool segmentElement(const ElementInfo& info, std::string_view value, int line);
    bool name(std::string_view value, int line);
    bool finish(int lastLine);
    bool requireFileElements(const std::string& where);
    // Notes an element in its place among those already given; false when it repeats one or
    // comes after one that it belongs before.
    template <size_t N>
    bool place(
        std::array<Given, N>& given, const ElementInfo& info, int line, const std::string& where);
    int lineOf(Element fileElement) const
    {
        return fileGiven_[static_cast<size_t>(Elements[static_cast<size_t>(fileElement)].rank)]
            .line;
    }
    bool number(
        const ElementInfo& info, std::string_view value, int line, uint32_t highest, uint32_t& out);
    // A number that fills a field of the definition: up to the largest the field holds.
    template <typename Field>
    bool number(const ElementInfo& info, std::string_view value, int line, Field& out)
    {
        uint32_t n = 0;
        if (!number(info, value, line, std::numeric_limits<Field>::max(), n))
            return false;
        out = static_cast<Field>(n);
        return true;
    }
    bool flag(
        const ElementInfo& info, std::string_view value, int line, uint16_t bit, uint16_t& flags);
    void endSegment(bool anotherFollows, int line);
    int loadBlock(std::string_view name, int line);
    std::vector<uint8_t> image() const;

    const AcsLoader& loadAcs_;
    std::string error_;
    std::vector<ElementSite> sites_;

    Phase phase_ = Phase::File;
    std::array<Given, FileElementCount> fileGiven_ {};
    uint16_t recordLength_ = 0;
    uint16_t pageSize_ = 0;
    uint32_t declaredKeys_ = 0;
    uint16_t fileFlags_ = 0;
    uint8_t duplicatePointers_ = 0;
    uint16_t unusedPages_ = 0;
    bool replace_ = false;

    std::vector<SegmentDraft> segments_;
    std::vector<KeyDraft> keys_;
    int continuedOnLine_ = 0;     // the segment=y that the next segment must continue; 0: none
    size_t keysAwaitingName_ = 0; // keys before this one have had their chance at a name=

    std::vector<Block> blocks_;
    std::map<std::string, int, std::less<>> blockOfName_;
};

Description Reader::read(std::string_view text)
{
    Description result;
    std::vector<Token> tokens;
    error_ = tokenize(text, tokens);
    bool ok = error_.empty();
    if (ok && tokens.empty())
        ok = fail("the description holds no elements");
    for (size_t i = 0; ok && i < tokens.size(); ++i)
        ok = element(tokens[i]);
    if (ok)
        ok = finish(tokens.back().line);
    if (!ok) {
        result.error = error_;
        return result;
    }
    result.image = image();
    result.replace = replace_;
    result.sites = std::move(sites_);
    return result;
}

bool Reader::element(const Token& token)
{
    const size_t equals = token.text.find('=');
    if (equals == std::string_view::npos || equals == 0)
        return fail(at(token.line) + quoted(token.text) + " is not keyword=value");
    const std::string_view written = token.text.substr(0, equals);
    const std::string_view value = token.text.substr(equals + 1);
    const ElementInfo* info = findElement(lower(written));
    if (info == nullptr)
        return fail(at(token.line) + "unknown element " + quoted(written));
    if (isFileElement(info->element))
        return fileElement(*info, value, token.line);
    if (info->element == Element::Position)
        return beginSegment(value, token.line);
    if (info->element == Element::Name)
        return name(value, token.line);
    return segmentElement(*info, value, token.line);
}

template <size_t N>
bool Reader::place(
    std::array<Given, N>& given, const ElementInfo& info, int line, const std::string& where)
{
    const auto rank = static_cast<size_t>(info.rank);
    const Given& before = given[rank];
    if (before.line != 0) {
        const std::string as = std::strcmp(before.keyword, info.keyword) != 0
            ? std::string(" as '") + before.keyword + "'"
            : std::string();
        return fail(at(line) + "'" + info.keyword + "' given twice" + where + " (first" + as
            + " on " + lineText(before.line) + ")");
    }
    for (size_t later = rank + 1; later < N; ++later) {
        if (given[later].line != 0) {
            return fail(at(line) + "'" + info.keyword + "' is out of order" + where
                + ": it belongs before '" + given[later].keyword + "' ("
                + lineText(given[later].line) + ")");
        }
    }
    given[rank] = {line, info.keyword};
    return true;
}

bool Reader::number(
    const ElementInfo& info, std::string_view value, int line, uint32_t highest, uint32_t& out)
{
    const std::optional<uint32_t> n = decimal(value);
    if (!n) {
        if (value.empty())
            return fail(at(line) + "'" + info.keyword + "' needs a number");
        return fail(at(line) + "'" + info.keyword + "' needs a number, not " + quoted(value));
    }
    if (*n > highest) {
        return fail(at(line) + "'" + info.keyword + "' must be 0 to " + std::to_string(highest)
            + ", not " + shown(value));
    }
    out = *n;
    return true;
}

bool Reader::flag(
    const ElementInfo& info, std::string_view value, int line, uint16_t bit, uint16_t& flags)
{
    const std::optional<bool> yes = yesNo(value);
    if (!yes)
        return fail(at(line) + "'" + info.keyword + "' needs y or n, not " + quoted(value));
    if (*yes)
        flags |= bit;
    return true;
}

bool Reader::fileElement(const ElementInfo& info, std::string_view value, int line)
{
    if (phase_ != Phase::File) {
        return fail(at(line) + "'" + info.keyword
            + "' is a file element: it belongs before the first segment");
    }
    if (!place(fileGiven_, info, line, ""))
        return false;
    sites_.push_back({info.keyword, std::string(value), line, -1, 0});

    uint16_t yes = 0;
    switch (info.element) {
    case Element::Record:
        return number(info, value, line, recordLength_);
    case Element::Variable:
        return flag(info, value, line, fileflag::VarLen, fileFlags_);
    case Element::Truncate:
        return flag(info, value, line, fileflag::BlankTrunc, fileFlags_);
    case Element::Compress:
        return flag(info, value, line, fileflag::DataCompress, fileFlags_);
    case Element::Key:
        return number(info, value, line, MaxEntries, declaredKeys_);
    case Element::Page:
        return number(info, value, line, pageSize_);
    case Element::Allocation:
        // The pages to preallocate travel in the field Stat later uses for the unused pages.
        if (!number(info, value, line, unusedPages_))
            return false;
        if (unusedPages_ > 0)
            fileFlags_ |= fileflag::PreAlloc;
        return true;
    case Element::Replace:
        if (!flag(info, value, line, 1, yes))
            return false;
        replace_ = yes != 0;
        return true;
    case Element::DupKey:
        if (!number(info, value, line, duplicatePointers_))
            return false;
        if (duplicatePointers_ > 0)
            fileFlags_ |= fileflag::DuplPointers;
        return true;
    case Element::Data:
        if (!flag(info, value, line, 1, yes))
            return false;
        if (!yes)
            fileFlags_ |= fileflag::KeyOnly;
        return true;
    case Element::FThreshold:
        if (value == "10")
            fileFlags_ |= fileflag::Free10;
        else if (value == "20")
            fileFlags_ |= fileflag::Free20;
        else if (value == "30")
            fileFlags_ |= fileflag::Free10 | fileflag::Free20;
        else
            return fail(at(line) + "'fthreshold' must be 10, 20 or 30, not " + quoted(value));
        return true;
    case Element::Vats:
        return flag(info, value, line, fileflag::UseVats, fileFlags_);
    case Element::Balance:
        return flag(info, value, line, fileflag::IndexBalance, fileFlags_);
    default:
        return true;
    }
}

bool Reader::requireFileElements(const std::string& where)
{
    for (Element e : {Element::Record, Element::Key, Element::Page}) {
        const ElementInfo& info = Elements[static_cast<size_t>(e)];
        if (fileGiven_[static_cast<size_t>(info.rank)].line == 0)
            return fail(where + "the file elements lack '" + info.keyword + "'");
    }
    return true;
}

void Reader::endSegment(bool anotherFollows, int line)
{
    if (anotherFollows)
        segments_.back().flags |= keyflag::Segmented;
    continuedOnLine_ = anotherFollows ? line : 0;
    phase_ = Phase::BetweenSegments;
}

bool Reader::beginSegment(std::string_view value, int line)
{
    if (phase_ == Phase::File && !requireFileElements(at(line)))
        return false;
    if (phase_ == Phase::InSegment)
        endSegment(false, line);

    const int count = static_cast<int>(segments_.size());
    const int blocks = static_cast<int>(blocks_.size());
    if (count >= segmentsBeside(blocks)) {
        return fail(at(line) + "one segment more than the 1920-byte definition holds ("
            + capacity(blocks) + ")");
    }
    if (continuedOnLine_ == 0) {
        if (keys_.size() >= declaredKeys_) {
            return fail(at(line) + "this segment begins key " + std::to_string(keys_.size())
                + ", but key=" + std::to_string(declaredKeys_) + " ("
                + lineText(lineOf(Element::Key)) + ")");
        }
        keys_.emplace_back();
    }
    SegmentDraft segment;
    segment.key = static_cast<int>(keys_.size()) - 1;
    segment.number = segments_.empty() || segments_.back().key != segment.key
        ? 1
        : segments_.back().number + 1;
    segments_.push_back(segment);
    phase_ = Phase::InSegment;
    continuedOnLine_ = 0;

    const ElementInfo& info = Elements[static_cast<size_t>(Element::Position)];
    SegmentDraft& s = segments_.back();
    if (!place(s.given, info, line, ""))
        return false;
    sites_.push_back({info.keyword, std::string(value), line, s.key, s.number});
    return number(info, value, line, s.position);
}

bool Reader::segmentElement(const ElementInfo& info, std::string_view value, int line)
{
    if (phase_ != Phase::InSegment) {
        return fail(at(line) + "'" + info.keyword
            + "' outside a segment: every segment begins with 'position'");
    }
    SegmentDraft& s = segments_.back();
    if (!place(s.given, info, line, " in " + keySegment(s.key, s.number)))
        return false;
    sites_.push_back({info.keyword, std::string(value), line, s.key, s.number});

    switch (info.element) {
    case Element::Length:
        return number(info, value, line, s.length);
    case Element::Duplicates:
        return flag(info, value, line, keyflag::Duplicates, s.flags);
    case Element::Modifiable:
        return flag(info, value, line, keyflag::Modifiable, s.flags);
    case Element::Type: {
        const std::optional<uint8_t> code = typeCode(lower(value));
        if (!code)
            return fail(at(line) + "unknown type " + quoted(value));
        s.type = *code;
        s.flags |= keyflag::ExtendedType;
        // Real files written by the vendor's engine carry the old binary flag beside the
        // unsigned binary type (flags 0x104, type 14) and on no other type: setting it here
        // lets such a file's definition come back from its description unchanged.
        if (*code == exttype::Unsigned)
            s.flags |= keyflag::Binary;
        return true;
    }
    case Element::Descending:
        return flag(info, value, line, keyflag::Descending, s.flags);
    case Element::Alternate:
        if (!flag(info, value, line, keyflag::Acs, s.flags))
            return false;
        if ((s.flags & keyflag::Acs) && keys_.back().alternateLine == 0)
            keys_.back().alternateLine = line;
        return true;
    case Element::CaseInsensitive:
        return flag(info, value, line, keyflag::CaseInsensitive, s.flags);
    case Element::RepeatDup:
        return flag(info, value, line, keyflag::RepeatDuplicates, s.flags);
    case Element::NullKey: {
        const std::string v = lower(value);
        if (v == "allsegs")
            s.flags |= keyflag::NullAllSegments;
        else if (v == "anyseg")
            s.flags |= keyflag::NullAnySegment;
        else
            return fail(at(line) + "'nullkey' needs allsegs or anyseg, not " + quoted(value));
        return true;
    }
    case Element::Null:
        return flag(info, value, line, keyflag::NullAllSegments, s.flags);
    case Element::Value: {
        const std::optional<uint8_t> byte = hexByte(value);
        if (!byte) {
            return fail(at(line) + "'value' needs one byte in hexadecimal (as 20 or 0x20), not "
                + quoted(value));
        }
        s.nullValue = *byte;
        return true;
    }
    case Element::Segment: {
        const std::optional<bool> yes = yesNo(value);
        if (!yes)
            return fail(at(line) + "'segment' needs y or n, not " + quoted(value));
        endSegment(*yes, line);
        return true;
    }
    default:
        return true;
    }
}

int Reader::loadBlock(std::string_view name, int line)
{
    if (const auto known = blockOfName_.find(name); known != blockOfName_.end())
        return known->second;
    const std::string fileName(name);
    AcsFile file;
    if (loadAcs_)
        file = loadAcs_(fileName);
    else
        file.error = "no collating sequence can be read here";
    if (!file.error.empty()) {
        fail(at(line) + "cannot read the collating sequence " + quoted(name) + ": " + file.error);
        return -1;
    }
    if (file.bytes.size() != AcsBlockSize) {
        fail(at(line) + quoted(name) + " is not an ACS file: " + std::to_string(file.bytes.size())
            + " bytes, not " + std::to_string(AcsBlockSize));
        return -1;
    }
    if (file.bytes[0] != AcsSignature) {
        fail(at(line) + quoted(name) + " is not an ACS file: it begins with "
            + hex(file.bytes[0], 2) + ", not " + hex(AcsSignature, 2));
        return -1;
    }
    Block block;
    std::copy(file.bytes.begin(), file.bytes.end(), block.begin());
    auto same = std::find(blocks_.begin(), blocks_.end(), block);
    int index = static_cast<int>(same - blocks_.begin());
    if (same == blocks_.end()) {
        const int count = static_cast<int>(blocks_.size()) + 1;
        if (static_cast<int>(segments_.size()) > segmentsBeside(count)) {
            fail(at(line) + "the collating sequence " + quoted(name)
                + " does not fit the 1920-byte definition beside "
                + std::to_string(segments_.size()) + " segments (" + capacity(count) + ")");
            return -1;
        }
        blocks_.push_back(block);
    }
    blockOfName_.emplace(fileName, index);
    return index;
}

bool Reader::name(std::string_view value, int line)
{
    if (phase_ == Phase::File) {
        return fail(at(line)
            + "'name' before the first segment: it belongs after the last segment of a key");
    }
    if (phase_ == Phase::InSegment)
        endSegment(false, line);
    if (continuedOnLine_ != 0) {
        return fail(at(line) + "'name' follows segment=y (" + lineText(continuedOnLine_)
            + "): it belongs after the last segment of a key");
    }
    std::vector<int> takers;
    for (size_t k = keysAwaitingName_; k < keys_.size(); ++k) {
        if (keys_[k].alternateLine != 0)
            takers.push_back(static_cast<int>(k));
    }
    keysAwaitingName_ = keys_.size();
    if (takers.empty())
        return fail(
            at(line) + "'name' follows no key that uses a collating sequence (alternate=y)");
    if (value.empty())
        return fail(at(line) + "'name' needs the name of an ACS file");
    const int block = loadBlock(value, line);
    if (block < 0)
        return false;
    for (int k : takers) {
        keys_[static_cast<size_t>(k)].block = block;
        sites_.push_back({"name", std::string(value), line, k, 0});
    }
    return true;
}

bool Reader::finish(int lastLine)
{
    if (phase_ == Phase::File && !requireFileElements(at(lastLine)))
        return false;
    if (phase_ == Phase::InSegment)
        endSegment(false, lastLine);
    if (continuedOnLine_ != 0)
        return fail(at(continuedOnLine_) + "segment=y, but no segment follows");
    if (keys_.size() != declaredKeys_) {
        return fail(at(lineOf(Element::Key)) + "key=" + std::to_string(declaredKeys_)
            + ", but the segments describe " + std::to_string(keys_.size())
            + (keys_.size() == 1 ? " key" : " keys"));
    }
    for (size_t k = 0; k < keys_.size(); ++k) {
        if (keys_[k].alternateLine != 0 && keys_[k].block < 0) {
            return fail(at(keys_[k].alternateLine) + "key " + std::to_string(k)
                + " uses a collating sequence (alternate=y), but no 'name' follows it");
        }
    }
    return true;
}

std::vector<uint8_t> Reader::image() const
{
    SpecBuffer b;
    b.setHeaderField(file::RecordLength, recordLength_);
    b.setHeaderField(file::PageSize, pageSize_);
    b.setHeaderField(file::NumIndexes, static_cast<int32_t>(keys_.size()));
    b.setHeaderField(file::FileFlags, fileFlags_);
    b.setHeaderField(file::DuplicatePointers, duplicatePointers_);
    b.setHeaderField(file::UnusedPages, unusedPages_);
    const int count = static_cast<int>(segments_.size());
    for (int i = 0; i < count; ++i) {
        const SegmentDraft& s = segments_[static_cast<size_t>(i)];
        b.setSegmentField(i, segment::Position, s.position);
        b.setSegmentField(i, segment::Length, s.length);
        b.setSegmentField(i, segment::KeyFlags, s.flags);
        b.setSegmentField(i, segment::ExtendedType, s.type);
        b.setSegmentField(i, segment::NullValue, s.nullValue);
        if (s.flags & keyflag::Acs)
            b.setSegmentField(i, segment::AcsNumber, keys_[static_cast<size_t>(s.key)].block);
    }
    const int blocks = static_cast<int>(blocks_.size());
    for (int n = 0; n < blocks; ++n) {
        // Reading refused whatever would not fit, so every block does.
        if (SpecBuffer::acsFits(count, n)) {
            std::copy(blocks_[static_cast<size_t>(n)].begin(),
                blocks_[static_cast<size_t>(n)].end(), b.data() + SpecBuffer::acsOffset(count, n));
        }
    }
    const auto end = b.bytes.begin() + SpecBuffer::acsOffset(count, blocks);
    return std::vector<uint8_t>(b.bytes.begin(), end);
}

// ---------------------------------------------------------------------------------------------
// Writing

// A file name for a collating sequence: its own name where that is safe, made unique among the
// names already given (case-insensitively, since such files live on DOS shares too).
std::string acsFileName(std::string_view sequenceName, const std::vector<AcsFileOut>& taken)
{
    // Names are often blank-padded to their 8 bytes ("GALCAPS ").
    while (!sequenceName.empty() && sequenceName.back() == ' ')
        sequenceName.remove_suffix(1);
    std::string stem;
    for (char c : sequenceName) {
        const bool safe = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
            || c == '_' || (c == '-' && !stem.empty());
        stem += safe ? c : '_';
    }
    if (stem.empty())
        stem = "ACS";
    const auto used = [&taken](const std::string& candidate) {
        return std::any_of(taken.begin(), taken.end(),
            [&candidate](const AcsFileOut& f) { return lower(f.fileName) == lower(candidate); });
    };
    std::string candidate = stem + ".ACS";
    for (int n = 2; used(candidate); ++n)
        candidate = stem + "_" + std::to_string(n) + ".ACS";
    return candidate;
}

// A comment's text may not close the comment early.
std::string commentSafe(std::string text)
{
    for (size_t at = text.find("*/"); at != std::string::npos; at = text.find("*/", at))
        text.replace(at, 2, "* /");
    return text;
}

struct SegmentView
{
    KeySegmentSpec spec;
    uint16_t flags;
    int key;
    int number; // 1-based within the key
};

class Writer
{
public:
    WrittenDescription write(const uint8_t* statImage, size_t length);

private:
    bool readImage(const uint8_t* statImage, size_t length);
    void planSequences();
    void fileWarnings();
    void segmentWarnings(const SegmentView& s);
    void writeFileElements(std::string& text) const;
    void writeSegment(std::string& text, const SegmentView& s, bool lastOfKey) const;

    void warn(std::string text) { out_.warnings.push_back(std::move(text)); }

    WrittenDescription out_;
    SpecBuffer b_;
    Layout layout_;
    std::vector<SegmentView> segments_;
    int keyCount_ = 0;
    std::vector<int> fileOfKey_; // the ACS file a key's name= gives, or -1
};

bool Writer::readImage(const uint8_t* statImage, size_t length)
{
    if (statImage == nullptr || length < static_cast<size_t>(FileSpecSize)) {
        out_.error = "the definition is " + std::to_string(statImage ? length : 0)
            + " bytes, shorter than its " + std::to_string(FileSpecSize) + "-byte header";
        return false;
    }
    const size_t held = std::min(length, static_cast<size_t>(BufferSize));
    std::copy(statImage, statImage + held, b_.bytes.begin());
    keyCount_ = b_.headerField(file::NumIndexes);
    if (keyCount_ < 0 || keyCount_ > MaxEntries) {
        out_.error = "the definition says it has " + std::to_string(keyCount_)
            + " keys; a definition holds 0 to " + std::to_string(MaxEntries);
        return false;
    }
    layout_ = b_.readLayout();
    int complete = 0;
    for (int i = 0; i < layout_.entryCount; ++i) {
        if (!(b_.segmentField(i, segment::KeyFlags) & keyflag::Segmented))
            ++complete;
    }
    if (complete < keyCount_) {
        out_.error = "the segment entries end before key " + std::to_string(complete)
            + " is complete: the " + std::to_string(MaxEntries)
            + " entries of a definition hold fewer than its " + std::to_string(keyCount_) + " keys";
        return false;
    }
    if (static_cast<size_t>(SpecBuffer::segmentOffset(layout_.entryCount)) > held) {
        out_.error = "the definition is cut short: its " + std::to_string(length)
            + " bytes do not hold the " + std::to_string(layout_.entryCount)
            + " segment entries of its " + std::to_string(keyCount_) + " keys";
        return false;
    }
    for (int i = 0; i < layout_.entryCount; ++i) {
        const int key = layout_.keyOfEntry[static_cast<size_t>(i)];
        const int number
            = segments_.empty() || segments_.back().key != key ? 1 : segments_.back().number + 1;
        const KeySegmentSpec spec = b_.segment(i);
        segments_.push_back({spec, static_cast<uint16_t>(spec.KeyFlags), key, number});
    }
    for (const SegmentView& s : segments_) {
        if (!(s.flags & keyflag::Acs))
            continue;
        const int n = s.spec.AcsNumber;
        const size_t end = static_cast<size_t>(SpecBuffer::acsOffset(layout_.entryCount, n))
            + static_cast<size_t>(AcsBlockSize);
        if (end > held) {
            out_.error = keySegment(s.key, s.number) + " uses collating sequence "
                + std::to_string(n) + ", which the definition's " + std::to_string(held)
                + " bytes do not hold";
            return false;
        }
        const uint8_t signature = b_.bytes[static_cast<size_t>(end) - AcsBlockSize];
        if (signature != AcsSignature) {
            out_.error = "collating sequence " + std::to_string(n) + " (used by "
                + keySegment(s.key, s.number) + ") is damaged: it begins with " + hex(signature, 2)
                + ", not " + hex(AcsSignature, 2);
            return false;
        }
    }
    return true;
}

// Sequences go to files in the order in which keys first use them, one file per distinct block,
// which is how reading the description numbers them again.
void Writer::planSequences()
{
    const auto blockAt
        = [this](int n) { return b_.data() + SpecBuffer::acsOffset(layout_.entryCount, n); };
    const auto fileWith = [this](const uint8_t* block) {
        for (size_t f = 0; f < out_.acsFiles.size(); ++f) {
            if (std::equal(block, block + AcsBlockSize, out_.acsFiles[f].bytes.begin()))
                return static_cast<int>(f);
        }
        return -1;
    };
    fileOfKey_.assign(static_cast<size_t>(keyCount_), -1);
    for (const SegmentView& s : segments_) {
        if (!(s.flags & keyflag::Acs) || fileOfKey_[static_cast<size_t>(s.key)] >= 0)
            continue;
        const uint8_t* block = blockAt(s.spec.AcsNumber);
        int f = fileWith(block);
        if (f < 0) {
            f = static_cast<int>(out_.acsFiles.size());
            const std::string name = acsNameFromBytes(block + btr::layout::AcsNameOffset);
            out_.acsFiles.push_back({acsFileName(name, out_.acsFiles),
                std::vector<uint8_t>(block, block + AcsBlockSize)});
        }
        fileOfKey_[static_cast<size_t>(s.key)] = f;
    }
    for (const SegmentView& s : segments_) {
        const int f = fileOfKey_[static_cast<size_t>(s.key)];
        if ((s.flags & keyflag::Acs) && fileWith(blockAt(s.spec.AcsNumber)) != f) {
            warn(keySegment(s.key, s.number) + " uses collating sequence "
                + std::to_string(s.spec.AcsNumber)
                + ", but a description gives each key one: it will use "
                + out_.acsFiles[static_cast<size_t>(f)].fileName
                + ", that of the key's first segment with alternate=y");
        }
    }
    for (int n = 0; n < layout_.acsBlockCount; ++n) {
        const uint8_t* block = blockAt(n);
        const int f = fileWith(block);
        const std::string sequence = "collating sequence " + std::to_string(n) + " ("
            + shown(acsNameFromBytes(block + btr::layout::AcsNameOffset)) + ")";
        if (f < 0)
            warn(sequence + " will not be kept: no key uses it as its sequence");
        else if (f != n)
            warn(sequence + " will be sequence " + std::to_string(f)
                + ": a description numbers distinct sequences in the order keys first use them");
    }
}

// The flag bits that have a name; the others no element carries.
template <size_t N> uint16_t namedBits(const std::array<FlagBit, N>& bits)
{
    uint16_t all = 0;
    for (const FlagBit& b : bits)
        all |= b.value;
    return all;
}

void Writer::fileWarnings()
{
    const FileSpec header = b_.fileSpec();
    const auto flags = static_cast<uint16_t>(header.FileFlags);
    if (flags & fileflag::Reserved)
        warn("file flag " + hex(fileflag::Reserved, 4) + " (reserved) is carried by no element");
    if (flags & fileflag::KeyNumbersGiven) {
        warn("file flag " + hex(fileflag::KeyNumbersGiven, 4)
            + " (key numbers given) is carried by no element: the keys will be numbered 0 to "
            + std::to_string(std::max(0, keyCount_ - 1)) + " in order");
    }
    const uint16_t highBits = flags & ~namedBits(FileFlagBits);
    if (highBits)
        warn("file flag bits " + hex(highBits, 4) + " are carried by no element");
    if (header.Reserved != 0)
        warn("the header's reserved byte (" + hex(header.Reserved, 2)
            + ") is carried by no element");
    if ((flags & fileflag::DuplPointers) && header.DuplicatePointers == 0) {
        warn("file flag " + hex(fileflag::DuplPointers, 4)
            + " (duplicate pointers) without reserved pointers: dupkey=0 will clear it");
    }
    if (!(flags & fileflag::DuplPointers) && header.DuplicatePointers != 0) {
        warn(std::to_string(header.DuplicatePointers)
            + " reserved duplicate pointers without file flag " + hex(fileflag::DuplPointers, 4)
            + ": dupkey= will set the flag");
    }
    if ((flags & fileflag::PreAlloc) && header.UnusedPages == 0) {
        warn("file flag " + hex(fileflag::PreAlloc, 4)
            + " (preallocation) with no unused pages left: allocation=0 will clear it");
    }
}

void Writer::segmentWarnings(const SegmentView& s)
{
    const std::string where = keySegment(s.key, s.number) + ": ";
    const uint16_t highBits = s.flags & ~namedBits(KeyFlagBits);
    if (highBits)
        warn(where + "key flag bits " + hex(highBits, 4) + " are carried by no element");
    const bool extended = s.flags & keyflag::ExtendedType;
    const bool binary = s.flags & keyflag::Binary;
    if (extended && binary && s.spec.ExtendedType != exttype::Unsigned) {
        warn(where + "the binary flag (" + hex(keyflag::Binary, 4) + ") beside type "
            + std::to_string(s.spec.ExtendedType) + " is carried by no element");
    }
    if (extended && !binary && s.spec.ExtendedType == exttype::Unsigned) {
        warn(where + "an unsigned binary key without the binary flag (" + hex(keyflag::Binary, 4)
            + ") will be created with it, as type=unsignedbinary always is");
    }
    if (extended && typeName(s.spec.ExtendedType) == nullptr) {
        warn(where + "extended type " + std::to_string(s.spec.ExtendedType)
            + " has no type name: it will be created as type=string");
    }
    if (!extended && binary) {
        warn(where
            + "an old-style binary key (no extended type) will be created as "
              "type=unsignedbinary, which orders the same");
    }
    if (!extended && !binary) {
        warn(where
            + "an old-style string key (no extended type) will be created as type=string, "
              "which orders the same");
    }
    if ((s.flags & keyflag::NullAllSegments) && (s.flags & keyflag::NullAnySegment)) {
        warn(where + "both null flags (" + hex(keyflag::NullAllSegments, 4) + " and "
            + hex(keyflag::NullAnySegment, 4) + "): nullkey=allsegs keeps only the first");
    }
    if (s.spec.Reserved != 0) {
        warn(where + "the reserved field (" + hex(static_cast<uint16_t>(s.spec.Reserved), 4)
            + ") is carried by no element");
    }
    if (s.spec.ManualKeyNumber != 0) {
        warn(where + "the key number " + std::to_string(s.spec.ManualKeyNumber)
            + " it gives is carried by no element");
    }
    if (!(s.flags & keyflag::Acs) && s.spec.AcsNumber != 0) {
        warn(where + "collating sequence number " + std::to_string(s.spec.AcsNumber)
            + " without the collating-sequence flag is carried by no element");
    }
}

std::string yn(bool yes)
{
    return yes ? "y" : "n";
}

void put(std::string& text, Element e, const std::string& value, bool lineEnd = false)
{
    text += keyword(e);
    text += '=';
    text += value;
    text += lineEnd ? '\n' : ' ';
}

void Writer::writeFileElements(std::string& text) const
{
    const FileSpec h = b_.fileSpec();
    const auto flags = static_cast<uint16_t>(h.FileFlags);
    const bool preallocated = flags & fileflag::PreAlloc;
    put(text, Element::Record, std::to_string(static_cast<uint16_t>(h.RecordLength)));
    put(text, Element::Variable, yn(flags & fileflag::VarLen));
    put(text, Element::Truncate, yn(flags & fileflag::BlankTrunc));
    put(text, Element::Compress, yn(flags & fileflag::DataCompress));
    put(text, Element::Key, std::to_string(keyCount_));
    put(text, Element::Page, std::to_string(static_cast<uint16_t>(h.PageSize)));
    put(text, Element::Allocation,
        std::to_string(preallocated ? static_cast<uint16_t>(h.UnusedPages) : 0), true);
    put(text, Element::Replace, "n");
    put(text, Element::DupKey, std::to_string(h.DuplicatePointers));
    put(text, Element::Data, yn(!(flags & fileflag::KeyOnly)));
    const uint16_t threshold = flags & (fileflag::Free10 | fileflag::Free20);
    if (threshold == fileflag::Free10)
        put(text, Element::FThreshold, "10");
    else if (threshold == fileflag::Free20)
        put(text, Element::FThreshold, "20");
    else if (threshold != 0)
        put(text, Element::FThreshold, "30");
    put(text, Element::Vats, yn(flags & fileflag::UseVats));
    put(text, Element::Balance, yn(flags & fileflag::IndexBalance), true);
}

void Writer::writeSegment(std::string& text, const SegmentView& s, bool lastOfKey) const
{
    const uint16_t f = s.flags;
    const char* type = "string";
    if (!(f & keyflag::ExtendedType) && (f & keyflag::Binary))
        type = typeName(exttype::Unsigned);
    else if ((f & keyflag::ExtendedType) && typeName(s.spec.ExtendedType) != nullptr)
        type = typeName(s.spec.ExtendedType);
    char nullValue[3];
    std::snprintf(nullValue, sizeof nullValue, "%02x", s.spec.NullValue);

    text += "/* " + keySegment(s.key, s.number) + " */\n";
    put(text, Element::Position, std::to_string(static_cast<uint16_t>(s.spec.Position)));
    put(text, Element::Length, std::to_string(static_cast<uint16_t>(s.spec.Length)));
    put(text, Element::Duplicates, yn(f & keyflag::Duplicates));
    put(text, Element::Modifiable, yn(f & keyflag::Modifiable));
    put(text, Element::Type, type);
    put(text, Element::Descending, yn(f & keyflag::Descending), true);
    put(text, Element::Alternate, yn(f & keyflag::Acs));
    put(text, Element::CaseInsensitive, yn(f & keyflag::CaseInsensitive));
    put(text, Element::RepeatDup, yn(f & keyflag::RepeatDuplicates));
    if (f & keyflag::NullAllSegments)
        put(text, Element::NullKey, "allsegs");
    else if (f & keyflag::NullAnySegment)
        put(text, Element::NullKey, "anyseg");
    else
        put(text, Element::Null, "n");
    put(text, Element::Value, nullValue);
    put(text, Element::Segment, yn(!lastOfKey), true);
    if (lastOfKey) {
        const int file = fileOfKey_[static_cast<size_t>(s.key)];
        if (file >= 0)
            put(text, Element::Name, out_.acsFiles[static_cast<size_t>(file)].fileName, true);
    }
}

WrittenDescription Writer::write(const uint8_t* statImage, size_t length)
{
    if (!readImage(statImage, length))
        return std::move(out_);
    fileWarnings();
    for (const SegmentView& s : segments_)
        segmentWarnings(s);
    planSequences();

    std::string text = "/* A data file's definition as the maintenance utility's CREATE reads it,"
                       " written by Varnok.\n   The collating sequences are in the ACS files"
                       " that name= gives. */\n";
    if (!out_.warnings.empty()) {
        text += "/* What a create from this description will not give back:\n";
        for (const std::string& w : out_.warnings)
            text += "   - " + commentSafe(w) + "\n";
        text += "*/\n";
    }
    writeFileElements(text);
    for (size_t i = 0; i < segments_.size(); ++i) {
        const bool last = i + 1 == segments_.size() || segments_[i + 1].key != segments_[i].key;
        text += '\n';
        writeSegment(text, segments_[i], last);
    }
    out_.text = std::move(text);
    return std::move(out_);
}

// ---------------------------------------------------------------------------------------------
// Naming a refusal

struct KeyExtent
{
    int first = 0; // index of its first segment entry
    int count = 0;
};

class RefusalSearch
{
public:
    RefusalSearch(const Description& d, const CreateAttempt& tryCreate)
        : d_(d)
        , tryCreate_(tryCreate)
    { }

    Refusal run();

private:
    std::vector<uint8_t> prefix(int keys, int cut) const;
    void name(Refusal& r) const;
    void add(Refusal& r, std::string_view keyword, int key = -1, int segment = 0) const;
    uint16_t flagsOf(int key, int segment) const;

    const Description& d_;
    const CreateAttempt& tryCreate_;
    SpecBuffer b_;
    std::vector<KeyExtent> keys_;
    size_t blocksAt_ = 0;
};

std::vector<uint8_t> RefusalSearch::prefix(int keys, int cut) const
{
    const int entries = keys == 0 ? 0
        : cut == 0                ? keys_[size_t(keys - 1)].first + keys_[size_t(keys - 1)].count
                                  : keys_[size_t(keys - 1)].first + cut;
    const auto end = static_cast<size_t>(SpecBuffer::segmentOffset(entries));
    std::vector<uint8_t> image(d_.image.begin(), d_.image.begin() + static_cast<ptrdiff_t>(end));
    image.insert(image.end(), d_.image.begin() + static_cast<ptrdiff_t>(blocksAt_), d_.image.end());
    btr::le::put16(image.data() + file::NumIndexes.offset, static_cast<uint16_t>(keys));
    if (cut != 0) {
        uint8_t* flags
            = image.data() + SpecBuffer::segmentOffset(entries - 1) + segment::KeyFlags.offset;
        btr::le::put16(flags, btr::le::get16(flags) & ~keyflag::Segmented);
    }
    return image;
}

uint16_t RefusalSearch::flagsOf(int key, int segment) const
{
    return static_cast<uint16_t>(
        b_.segmentField(keys_[size_t(key)].first + segment - 1, segment::KeyFlags));
}

void RefusalSearch::add(Refusal& r, std::string_view keyword, int key, int segment) const
{
    if (const ElementSite* site = d_.site(keyword, key, segment)) {
        const bool known
            = std::any_of(r.elements.begin(), r.elements.end(), [site](const ElementSite& e) {
                  return e.keyword == site->keyword && e.key == site->key
                      && e.segment == site->segment;
              });
        if (!known)
            r.elements.push_back(*site);
    }
}

Refusal RefusalSearch::run()
{
    Refusal r;
    if (!tryCreate_)
        return r;
    r.status = tryCreate_(d_.image);
    if (r.status == btr::status::Success)
        return r;

    const bool readable = d_.image.size() >= static_cast<size_t>(FileSpecSize)
        && d_.image.size() <= static_cast<size_t>(BufferSize);
    if (readable) {
        std::copy(d_.image.begin(), d_.image.end(), b_.bytes.begin());
        const Layout layout = b_.readLayout();
        blocksAt_ = static_cast<size_t>(SpecBuffer::segmentOffset(layout.entryCount));
        for (int i = 0; i < layout.entryCount; ++i) {
            const int key = layout.keyOfEntry[static_cast<size_t>(i)];
            if (static_cast<size_t>(key) == keys_.size())
                keys_.push_back({i, 0});
            ++keys_.back().count;
        }
        if (blocksAt_ > d_.image.size())
            keys_.clear();
    }

    const int keyCount = static_cast<int>(keys_.size());
    const auto flags = static_cast<uint16_t>(b_.headerField(file::FileFlags));
    const bool keyOnly = flags & fileflag::KeyOnly;
    const bool variable = flags & fileflag::VarLen;
    // A key-only file has exactly one key and a fixed length: that is a matter of the file
    // elements, and definitions with fewer keys than it has say nothing about its keys.
    const bool fileShape = keyOnly && (keyCount != 1 || variable);
    if (readable && !(fileShape && r.status == btr::status::InconsistentKeyFlags)) {
        for (int k = keyOnly ? 1 : 0; k <= keyCount; ++k) {
            if (k == keyCount || tryCreate_(prefix(k, 0)) == r.status) {
                r.key = k - 1;
                break;
            }
        }
        if (r.key >= 0) {
            const int segments = keys_[size_t(r.key)].count;
            for (int s = 1; s <= segments; ++s) {
                if (s == segments || tryCreate_(prefix(r.key + 1, s)) == r.status) {
                    r.segment = s;
                    break;
                }
            }
        }
    }
    name(r);
    return r;
}

void RefusalSearch::name(Refusal& r) const
{
    using namespace btr::status;
    const int k = r.key;
    const int s = r.segment;
    if (k < 0) {
        switch (r.status) {
        case PageSizeError:
            add(r, "page");
            break;
        case InvalidRecordLength:
            add(r, "record");
            add(r, "page");
            add(r, "variable");
            break;
        case NumberOfKeys:
            add(r, "key");
            add(r, "page");
            break;
        case InconsistentKeyFlags:
            add(r, "key");
            add(r, "variable");
            add(r, "data");
            break;
        default:
            break;
        }
    } else if (s > 0) {
        switch (r.status) {
        case InvalidKeyPosition:
            add(r, "position", k, s);
            add(r, "length", k, s);
            add(r, "record");
            break;
        case KeyTypeError:
            add(r, "type", k, s);
            break;
        case InvalidKeyLength:
            add(r, "length", k, s);
            add(r, "type", k, s);
            break;
        case InconsistentKeyFlags: {
            // Either this segment disagrees with the key's first on a flag that all segments
            // of a key share, or its type takes no collating sequence or case folding.
            const uint16_t differ = flagsOf(k, s) ^ flagsOf(k, 1);
            const std::pair<uint16_t, const char*> keyWide[] = {
                {keyflag::Duplicates, "duplicates"},
                {keyflag::Modifiable, "modifiable"},
                {keyflag::RepeatDuplicates, "repeatdup"},
                {keyflag::NullAllSegments | keyflag::NullAnySegment, "nullkey"},
                {keyflag::NullAllSegments | keyflag::NullAnySegment, "null"},
            };
            for (const auto& [bits, keyword] : keyWide) {
                if (differ & bits) {
                    add(r, keyword, k, 1);
                    add(r, keyword, k, s);
                }
            }
            if (r.elements.empty()) {
                add(r, "alternate", k, s);
                add(r, "caseinsensitive", k, s);
                add(r, "type", k, s);
            }
            break;
        }
        case AutoincrementError:
            // An autoincrement key has one segment and no duplicates: name the autoincrement
            // type, and what joins another segment to it or allows duplicates.
            for (int j = 1; j <= s; ++j) {
                const int entry = keys_[size_t(k)].first + j - 1;
                if ((flagsOf(k, j) & keyflag::ExtendedType)
                    && b_.segmentField(entry, segment::ExtendedType) == exttype::Autoincrement)
                    add(r, "type", k, j);
            }
            if (s > 1)
                add(r, "segment", k, s - 1);
            if (flagsOf(k, s) & keyflag::Duplicates)
                add(r, "duplicates", k, s);
            break;
        case InvalidCollatingSequence:
            add(r, "alternate", k, s);
            add(r, "name", k);
            break;
        case InvalidRecordLength:
            add(r, "duplicates", k, s);
            add(r, "repeatdup", k, s);
            add(r, "record");
            add(r, "page");
            break;
        case NumberOfKeys:
            add(r, "position", k, s);
            add(r, "page");
            break;
        default:
            break;
        }
        if (r.elements.empty())
            add(r, "position", k, s);
    }

    std::string where;
    if (k < 0)
        where = r.elements.empty() ? std::string() : " in the file elements";
    else if (s > 0)
        where = " at " + keySegment(k, s);
    else
        where = " at key " + std::to_string(k);
    std::string text = std::string(btr::statusText(r.status)) + " (status "
        + std::to_string(r.status) + ")" + where;
    if (!r.elements.empty()) {
        text = at(r.elements.front().line) + text + ":";
        for (size_t i = 0; i < r.elements.size(); ++i) {
            const ElementSite& e = r.elements[i];
            text += (i > 0 && r.elements[i - 1].line != e.line) ? ", " : " ";
            text += e.keyword + "=" + shown(e.value);
            if (i + 1 == r.elements.size() || r.elements[i + 1].line != e.line)
                text += " (" + lineText(e.line) + ")";
        }
    }
    r.message = text;
}

} // namespace

const char* typeName(uint8_t code)
{
    for (const TypeName& t : TypeNames) {
        if (t.code == code)
            return t.name;
    }
    return nullptr;
}

const ElementSite* Description::site(std::string_view keyword, int key, int segment) const
{
    for (const ElementSite& s : sites) {
        if (s.keyword == keyword && s.key == key && s.segment == segment)
            return &s;
    }
    return nullptr;
}

Description readDescription(std::string_view text, const AcsLoader& loadAcs)
{
    return Reader(loadAcs).read(text);
}

WrittenDescription writeDescription(const uint8_t* statImage, size_t length)
{
    return Writer().write(statImage, length);
}

Refusal locateRefusal(const Description& description, const CreateAttempt& tryCreate)
{
    return RefusalSearch(description, tryCreate).run();
}

} // namespace spec
