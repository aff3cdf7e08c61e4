// stat FILE...: each file's whole definition, as text or as JSON (one object a line).
#include "Commands.h"
#include "DefinitionText.h"
#include "FileSample.h"
#include "Messages.h"
#include "ReadOptions.h"

#include <fmt/core.h>

#include <memory>

namespace cli {

namespace {

struct StatOptions
{
    std::vector<std::string> files;
    bool json = false;
    std::string owner;
    std::string encoding = fields::AutoEncoding;
};

// The code page of the collating sequences' names: --encoding's, or with auto the one guessed from
// the names and the text of the keys over the first records, when a name holds a byte outside
// ASCII (ASCII reads the same in every one).
fields::TextDecoder namesDecoder(Context& ctx, TWinBtr& file, const std::string& name,
    const spec::SpecBuffer& image, const std::string& encoding)
{
    fields::TextDecoder decoder(guessesEncoding(encoding) ? fields::DefaultEncoding : encoding);
    if (!guessesEncoding(encoding))
        return decoder;
    fields::TextSample sample;
    for (const spec::AcsBlock& block : exporting::acsBlocks(image, image.readLayout()))
        sample.addName(block.Name);
    if (sample.outsideAscii() == 0)
        return decoder;
    fields::sampleRecords(file, fields::keyLayout(image), sample);
    const fields::CodePageGuess guess = fields::guessCodePage(sample);
    sayGuess(ctx, name, guess);
    return fields::TextDecoder(guess.encoding);
}

void runStat(Context& ctx, const StatOptions& opt)
{
    fields::TextDecoder checked;
    if (!encodingDecoder(ctx, opt.encoding, checked))
        return;
    bool first = true;
    for (const std::string& name : opt.files) {
        TWinBtr file;
        if (!openFile(ctx, file, name, opt.owner))
            continue;
        spec::SpecBuffer image;
        uint8_t bytes[btr::SpecBufferSize] = {};
        if (file.StatTo(bytes) != btr::status::Success) {
            ctx.fail(cannotDo("Cannot read the definition of", name, file.GetStatus()));
            file.Close();
            continue;
        }
        std::copy(std::begin(bytes), std::end(bytes), image.bytes.begin());
        // The format and its features, when the record manager can say them.
        uint8_t facts[btr::facts::Size];
        const bool known = file.GetFileFacts(facts) == btr::status::Success;
        fields::TextDecoder names = namesDecoder(ctx, file, name, image, opt.encoding);
        file.Close();
        if (opt.json) {
            nlohmann::ordered_json j = exporting::definitionJson(name, image, names);
            j["format"] = known ? exporting::formatJson(facts) : nlohmann::ordered_json();
            fmt::print(ctx.io.out, "{}\n",
                j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace));
        } else {
            std::string text = exporting::definitionText(name, image, names);
            if (known)
                text.insert(text.find('\n') + 1, exporting::formatText(facts));
            fmt::print(ctx.io.out, "{}{}", first ? "" : "\n", text);
        }
        first = false;
    }
}

} // namespace

Command addStatCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<StatOptions>();
    CLI::App* cmd = app.add_subcommand("stat", "Show each file's whole definition");
    cmd->add_option("FILE", opt->files, "Data files")->required();
    cmd->add_flag("--json", opt->json, "One JSON object a line, for scripts");
    addOwnerOption(cmd, opt->owner);
    addEncodingOption(cmd, opt->encoding);
    return {cmd, [&ctx, opt] { runStat(ctx, *opt); }};
}

} // namespace cli
