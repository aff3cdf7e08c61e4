#include "ReadOptions.h"

#include "FileSample.h"
#include "Messages.h"

#include <fmt/core.h>

#include <algorithm>

namespace cli {

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
    cmd->add_option("--dictionary", options.dictionary,
        "The directory of the data dictionary (FILE.DDF, FIELD.DDF, INDEX.DDF); the file's own "
        "directory by default");
    if (table)
        cmd->add_option("--table", options.table, "The dictionary's table to read the file as");
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
    using Basis = fields::CodePageGuess::Basis;
    if (guess.basis == Basis::PlainAscii)
        return;
    const std::string from = what == std::string("names") ? "names" : "names and text";
    if (guess.basis == Basis::NoFit) {
        ctx.note(fmt::format("{}: {} read as {}: no code page reads the {} bytes outside ASCII of "
                             "its {} as the letters of a language (choose one with --encoding "
                             "NAME)",
            subject, what, guess.encoding, guess.outsideAscii, from));
        return;
    }
    ctx.note(fmt::format("{}: {} read as {} (guessed from {} bytes of {}, {} of them outside "
                         "ASCII; choose another with --encoding NAME)",
        subject, what, guess.encoding, guess.bytes, from, guess.outsideAscii));
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
    if (!guessesEncoding(encoding))
        return false;
    fields::TextSample sample;
    if (dictionary)
        fields::addNames(*dictionary, sample);
    fields::sampleRecords(file, layout, sample);
    const fields::CodePageGuess guess = fields::guessCodePage(sample);
    sayGuess(ctx, name, guess);
    if (guess.encoding == decoder.encoding())
        return false;
    decoder = fields::TextDecoder(guess.encoding);
    return true;
}

bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout, fields::TextDecoder& decoder)
{
    if (!encodingDecoder(ctx, options.encoding, decoder))
        return false;
    if (file.Stat() != btr::status::Success) {
        ctx.fail(cannotDo("Cannot read the definition of", name, file.GetStatus()));
        return false;
    }
    const spec::SpecBuffer stat = statBuffer(file);
    fields::LayoutChoice choice
        = fields::chooseLayout(name, stat, options.dictionary, options.table, decoder);
    for (const std::string& n : choice.notes)
        ctx.note(n);
    if (!choice.ok()) {
        ctx.fail(choice.error);
        return false;
    }
    if (guessEncoding(
            ctx, options.encoding, file, name, choice.dictionary.get(), choice.layout, decoder)
        && choice.table)
        choice.layout = fields::tableLayout(*choice.dictionary, *choice.table, stat, decoder);
    for (const std::string& n : choice.layout.notes)
        ctx.note(fmt::format("{}: {}", name, n));
    layout = std::move(choice.layout);
    return true;
}

bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout)
{
    fields::TextDecoder decoder;
    return fileLayout(ctx, file, name, options, layout, decoder);
}

} // namespace cli
