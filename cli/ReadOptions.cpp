#include "ReadOptions.h"

#include "Inference.h"
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

void applyOrder(TWinBtr& file, const RecordOrder& order)
{
    if (order.physical)
        file.UseStep = true;
    file.KeyNumber = static_cast<uint8_t>(order.key);
}

void addFieldOptions(CLI::App* cmd, FieldOptions& options, bool table, bool encoding)
{
    if (encoding) {
        cmd->add_option("--encoding", options.encoding,
            "The code page of the file's text, any name iconv knows (CP437 by default)");
    }
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

spec::SpecBuffer statBuffer(const TWinBtr& file)
{
    spec::SpecBuffer image;
    std::copy(std::begin(file.StatBuffer), std::end(file.StatBuffer), image.bytes.begin());
    return image;
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

bool inferFields(Context& ctx, TWinBtr& file, const std::string& name, const std::string& encoding,
    fields::Layout& layout)
{
    // The code page only turns the evidence's examples into UTF-8; an unknown one is the
    // command's to report.
    fields::TextDecoder named(encoding);
    fields::TextDecoder fallback;
    fields::TextDecoder& decoder = named.valid() ? named : fallback;
    fields::RecordSample sample(layout.recordLength);
    const int16_t status = fields::readSample(file, uint64_t(std::max(file.RecordCount(), 0)),
        fields::sampleLimit(layout.recordLength), sample);
    if (status != btr::status::Success) {
        const std::string failure = cannotDo("Cannot read", name, status, file.Reason());
        if (sample.empty()) {
            ctx.fail(failure);
            return false;
        }
        ctx.note(fmt::format(
            "{} The fields are inferred from the {} records read before.", failure, sample.size()));
    }
    layout = fields::inferLayout(layout, sample, decoder);
    return true;
}

bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout)
{
    if (file.Stat() != btr::status::Success) {
        ctx.fail(cannotDo("Cannot read the definition of", name, file.GetStatus()));
        return false;
    }
    if (!options.layout.empty()) {
        const std::string path = layoutFileFor(options.layout, name);
        if (path.empty()) {
            ctx.fail("No layout for " + name + " in " + options.layout + " (no "
                + fs::path(name).stem().string() + LayoutExtension + ").");
            return false;
        }
        if (!readLayoutFile(ctx, file, name, path, layout))
            return false;
    } else if (options.keysOnly) {
        layout = fields::keyLayout(statBuffer(file));
    } else {
        fields::LayoutChoice choice
            = fields::chooseLayout(name, statBuffer(file), options.dictionary, options.table);
        for (const std::string& n : choice.notes)
            ctx.note(n);
        if (!choice.ok()) {
            ctx.fail(choice.error);
            return false;
        }
        layout = std::move(choice.layout);
        const bool fromDictionary = !layout.table.empty();
        if ((!fromDictionary || options.infer)
            && !inferFields(ctx, file, name, options.encoding, layout))
            return false;
    }
    for (const std::string& n : layout.notes)
        ctx.note(fmt::format("{}: {}", name, n));
    return true;
}

} // namespace cli
