#include "ReadOptions.h"

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

void addFieldOptions(CLI::App* cmd, FieldOptions& options, bool table, bool encoding)
{
    if (encoding) {
        cmd->add_option("--encoding", options.encoding,
            "The code page of the file's text, any name iconv knows (CP437 by default)");
    }
    cmd->add_option("--dictionary", options.dictionary,
        "The directory of the data dictionary (FILE.DDF, FIELD.DDF, INDEX.DDF); the file's own "
        "directory by default");
    if (table)
        cmd->add_option("--table", options.table, "The dictionary's table to read the file as");
}

spec::SpecBuffer statBuffer(const TWinBtr& file)
{
    spec::SpecBuffer image;
    std::copy(std::begin(file.StatBuffer), std::end(file.StatBuffer), image.bytes.begin());
    return image;
}

bool fileLayout(Context& ctx, TWinBtr& file, const std::string& name, const FieldOptions& options,
    fields::Layout& layout)
{
    if (file.Stat() != btr::status::Success) {
        ctx.fail(cannotDo("Cannot read the definition of", name, file.GetStatus()));
        return false;
    }
    fields::LayoutChoice choice
        = fields::chooseLayout(name, statBuffer(file), options.dictionary, options.table);
    for (const std::string& n : choice.notes)
        ctx.note(n);
    if (!choice.ok()) {
        ctx.fail(choice.error);
        return false;
    }
    for (const std::string& n : choice.layout.notes)
        ctx.note(fmt::format("{}: {}", name, n));
    layout = std::move(choice.layout);
    return true;
}

} // namespace cli
