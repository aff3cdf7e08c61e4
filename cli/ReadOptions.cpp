#include "ReadOptions.h"

#include "FileSample.h"
#include "LayoutFile.h"
#include "Messages.h"
#include "Output.h"
#include "Sample.h"

#include <fmt/core.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* LayoutExtension = ".json";
// A layout names at most a few thousand fields: a larger file is not one.
constexpr size_t MaxLayoutFile = size_t(16) << 20;

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

std::string layoutFileFor(const std::string& path, const std::string& name)
{
    std::error_code ec;
    if (!fs::is_directory(path, ec))
        return path;
    const fs::path found
        = fields::findInDirectory(path, fs::path(name).stem().string() + LayoutExtension);
    return found.empty() ? std::string() : found.string();
}

bool readLayoutFile(Context& ctx, TWinBtr& file, const std::string& name, const std::string& path,
    fields::Layout& layout)
{
    InputFile input;
    if (!input.open(ctx, path))
        return false;
    std::string text;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, input.stream())) > 0;) {
        text.append(chunk, n);
        if (text.size() > MaxLayoutFile) {
            ctx.fail("Cannot use the layout " + path + " for " + name + ": it is larger than "
                + std::to_string(MaxLayoutFile >> 20) + " MiB, which no layout is.");
            return false;
        }
    }
    if (std::ferror(input.stream())) {
        ctx.fail(fileFailure("Cannot read the layout", path, errno));
        return false;
    }
    fields::Layout shape;
    fields::setRecordShape(shape, statBuffer(file));
    fields::LayoutRead read
        = fields::parseLayout(text, shape.recordLength, shape.variableLength, "layout " + path);
    if (!read.ok()) {
        ctx.fail("Cannot use the layout " + path + " for " + name + ": " + read.error + ".");
        return false;
    }
    layout = std::move(read.layout);
    return true;
}

bool readRecordSample(
    Context& ctx, TWinBtr& file, const std::string& name, fields::RecordSample& sample)
{
    const int16_t status = fields::readSample(file, uint64_t(std::max(file.RecordCount(), 0)),
        fields::sampleLimit(sample.recordLength()), sample);
    if (status == btr::status::Success)
        return true;
    // The definition of an encrypted file is plain: its keys still make a layout.
    if (sample.empty() && status == btr::status::OwnerNameRequired) {
        ctx.note(cannotDo("Cannot read", name, status, OwnerNameAdvice)
            + " The fields are its keys alone.");
        return true;
    }
    const std::string failure = cannotDo("Cannot read", name, status, file.Reason());
    if (sample.empty()) {
        ctx.fail(failure);
        return false;
    }
    ctx.note(fmt::format(
        "{} The fields are inferred from the {} records read before.", failure, sample.size()));
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
    if (!options.layout.empty() || options.keysOnly) {
        if (options.keysOnly) {
            layout = fields::keyLayout(stat);
        } else {
            const std::string path = layoutFileFor(options.layout, name);
            if (path.empty()) {
                ctx.fail("No layout for " + name + " in " + options.layout + " (no "
                    + fs::path(name).stem().string() + LayoutExtension + ").");
                return false;
            }
            if (!readLayoutFile(ctx, file, name, path, layout))
                return false;
        }
        guessEncoding(ctx, options.encoding, file, name, nullptr, layout, decoder);
    } else {
        fields::LayoutChoice choice
            = fields::chooseLayout(name, stat, options.dictionary, options.table, decoder);
        for (const std::string& n : choice.notes)
            ctx.note(n);
        if (!choice.ok()) {
            ctx.fail(choice.error);
            return false;
        }
        // The text fields inference finds are text for the code-page guess too; once it has
        // named another code page, the dictionary's names and the evidence's examples are read
        // again in it.
        const bool inferring = !choice.table || options.infer;
        fields::RecordSample sample(choice.layout.recordLength);
        if (inferring && !readRecordSample(ctx, file, name, sample))
            return false;
        layout = inferring ? fields::inferLayout(choice.layout, sample, decoder) : choice.layout;
        if (guessEncoding(
                ctx, options.encoding, file, name, choice.dictionary.get(), layout, decoder)) {
            if (choice.table)
                choice.layout
                    = fields::tableLayout(*choice.dictionary, *choice.table, stat, decoder);
            layout
                = inferring ? fields::inferLayout(choice.layout, sample, decoder) : choice.layout;
        }
    }
    for (const std::string& n : layout.notes)
        ctx.note(fmt::format("{}: {}", name, n));
    return true;
}

bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout)
{
    fields::TextDecoder decoder;
    return fileLayout(ctx, file, name, options, layout, decoder);
}

} // namespace cli
