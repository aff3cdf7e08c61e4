#include "ReadOptions.h"

#include "FileLayout.h"

#include <algorithm>

namespace cli {

namespace {

// How varnok-cli's notes tell a user to choose another code page.
constexpr const char* EncodingHint = "--encoding NAME";

} // namespace

void addOrderOptions(CLI::App* cmd, RecordOrder& order)
{
    auto* key = cmd->add_option("-k,--key", order.key, "In the order of key N (key 0 by default)")
                    ->check(CLI::Range(0, 255));
    cmd->add_flag("-p,--physical", order.physical, "In physical order")->excludes(key);
}

void addOwnerOption(CLI::App* cmd, std::string& owner)
{
    cmd->add_option("--owner", owner,
           "The owner name of files whose records are encrypted under one (any name reads them: "
           "it cannot be checked)")
        ->type_name("NAME")
        ->check(CLI::Validator(
            [](std::string& name) {
                return name.empty() || name.size() > btr::OwnerNameSize - 1
                    ? std::string("an owner name has 1 to 8 characters")
                    : std::string();
            },
            "NAME"));
}

void applyOrder(TWinBtr& file, const RecordOrder& order)
{
    if (order.physical)
        file.UseStep = true;
    file.KeyNumber = static_cast<uint8_t>(order.key);
}

void addEncodingOption(CLI::App* cmd, std::string& encoding)
{
    cmd->add_option("--encoding", encoding,
        "The code page of the file's text, any name iconv knows; auto (the default) guesses it "
        "from the text");
}

void addFieldOptions(CLI::App* cmd, FieldOptions& options, bool table, bool encoding)
{
    if (encoding)
        addEncodingOption(cmd, options.encoding);
    auto* dictionary = cmd->add_option("--dictionary", options.dictionary,
        "The directory of the data dictionary (FILE.DDF, FIELD.DDF, INDEX.DDF); the file's own "
        "directory by default");
    CLI::Option* tableOption = nullptr;
    if (table) {
        tableOption = cmd->add_option(
            "--table", options.table, "The dictionary's table to read the file as");
    }
    auto* infer = cmd->add_flag("--infer", options.infer,
        "Also infer the fields a dictionary leaves uncovered from the records (without a "
        "dictionary they are always inferred)");
    auto* keys = cmd->add_flag(
        "--keys-only", options.keysOnly, "Only the keys and fillers: no dictionary, no inference");
    auto* layout = cmd->add_option("--layout", options.layout,
        "A layout file as 'fields --json' writes it, or a directory of them named after the data "
        "files (NAME.json for NAME.DAT)");
    keys->excludes(infer);
    keys->excludes(dictionary);
    layout->excludes(infer);
    layout->excludes(keys);
    if (tableOption) {
        keys->excludes(tableOption);
        // A file read with a layout file is read with that alone.
        layout->excludes(dictionary);
        layout->excludes(tableOption);
    }
}

bool guessesEncoding(const std::string& encoding)
{
    return fields::lowerCase(encoding) == fields::AutoEncoding;
}

bool encodingDecoder(Context& ctx, const std::string& encoding, fields::TextDecoder& decoder)
{
    decoder = fields::TextDecoder(guessesEncoding(encoding) ? fields::DefaultEncoding : encoding);
    if (!decoder.valid()) {
        ctx.fail(decoder.error());
        return false;
    }
    return true;
}

void sayGuess(
    Context& ctx, const std::string& subject, const fields::CodePageGuess& guess, const char* what)
{
    const std::string note = fields::guessNote(subject, guess, EncodingHint, what);
    if (!note.empty())
        ctx.note(note);
}

spec::SpecBuffer statBuffer(const TWinBtr& file)
{
    spec::SpecBuffer image;
    std::copy(std::begin(file.StatBuffer), std::end(file.StatBuffer), image.bytes.begin());
    return image;
}

bool guessEncoding(Context& ctx, const std::string& encoding, TWinBtr& file,
    const std::string& name, const fields::Dictionary* dictionary, const fields::Layout& layout,
    fields::TextDecoder& decoder)
{
    std::vector<std::string> notes;
    const bool changed = fields::guessEncoding(
        encoding, file, name, dictionary, layout, decoder, EncodingHint, notes);
    for (const std::string& n : notes)
        ctx.note(n);
    return changed;
}

std::string layoutFileFor(const std::string& path, const std::string& name)
{
    return fields::layoutFileFor(path, name);
}

bool readLayoutFile(Context& ctx, TWinBtr& file, const std::string& name, const std::string& path,
    fields::Layout& layout)
{
    std::string error;
    if (fields::readLayoutFile(file, name, path, layout, error))
        return true;
    ctx.fail(error);
    return false;
}

bool readRecordSample(
    Context& ctx, TWinBtr& file, const std::string& name, fields::RecordSample& sample)
{
    std::vector<std::string> notes;
    std::string error;
    const bool ok = fields::readRecordSample(file, name, sample, OwnerNameAdvice, notes, error);
    for (const std::string& n : notes)
        ctx.note(n);
    if (!ok)
        ctx.fail(error);
    return ok;
}

bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout, fields::TextDecoder& decoder)
{
    fields::FileLayoutOptions chosen;
    chosen.encoding = options.encoding;
    chosen.dictionary = options.dictionary;
    chosen.table = options.table;
    chosen.layoutFile = options.layout;
    chosen.infer = options.infer;
    chosen.keysOnly = options.keysOnly;
    chosen.encodingHint = EncodingHint;
    chosen.ownerAdvice = OwnerNameAdvice;
    fields::FileLayout found = fields::fileLayout(file, name, chosen);
    for (const std::string& n : found.notes)
        ctx.note(n);
    if (!found.ok) {
        ctx.fail(found.error);
        return false;
    }
    layout = std::move(found.layout);
    decoder = fields::TextDecoder(found.encoding);
    return true;
}

bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout)
{
    fields::TextDecoder decoder;
    return fileLayout(ctx, file, name, options, layout, decoder);
}

} // namespace cli
