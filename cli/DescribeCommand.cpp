// describe FILE [OUTPUT]: the definition as a description file, each collating sequence in an ACS
// file beside it.
// create FILE DESCRIPTION: an empty file from a description; a description the record manager
// refuses is answered with the elements that set what it refuses.
#include "Commands.h"
#include "Description.h"
#include "Messages.h"
#include "Output.h"

#include <fmt/core.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <system_error>

namespace cli {

namespace {

namespace fs = std::filesystem;

// Bigger than any ACS file by far: a name that leads to a large file is not read whole.
constexpr std::uintmax_t LongestAcsFile = 4096;

struct DescribeOptions
{
    std::string file;
    std::string output = "-";
    bool replace = false;
};

struct CreateOptions
{
    std::string file;
    std::string description;
    bool replace = false;
};

// The directory a description's name= elements are relative to: its own, or the current one for
// standard input and output.
fs::path baseDirectory(const std::string& description)
{
    if (description.empty() || description == "-")
        return ".";
    const fs::path parent = fs::path(description).parent_path();
    return parent.empty() ? fs::path(".") : parent;
}

bool readWhole(const fs::path& path, std::vector<uint8_t>& bytes, std::uintmax_t limit, int& error)
{
    std::error_code ec;
    const std::uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = ec.value();
        return false;
    }
    if (size > limit) {
        error = EFBIG;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    error = in.bad() ? EIO : 0;
    return error == 0;
}

// Writes one ACS file beside the description. A file of that name holding other bytes is
// replaced only when asked: it may be a sequence of the user's own.
bool writeAcsFile(
    Context& ctx, const fs::path& path, const std::vector<uint8_t>& bytes, bool replace)
{
    std::vector<uint8_t> existing;
    int error = 0;
    if (readWhole(path, existing, LongestAcsFile, error) && existing == bytes)
        return true;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(path, ec)) && !replace) {
        ctx.fail("Cannot write " + path.string()
            + ": a file of that name is there and holds something else (--replace replaces it).");
        return false;
    }
    OutputFile out;
    if (!out.open(ctx, path.string()))
        return false;
    if (std::fwrite(bytes.data(), 1, bytes.size(), out.stream()) != bytes.size()) {
        ctx.fail(fileFailure("Cannot write", path.string(), errno));
        return false;
    }
    return out.commit(ctx);
}

void runDescribe(Context& ctx, const DescribeOptions& opt)
{
    uint8_t image[btr::SpecBufferSize] = {};
    if (!statImage(ctx, opt.file, image))
        return;
    const spec::WrittenDescription written = spec::writeDescription(image, sizeof image);
    if (!written.ok()) {
        ctx.fail("Cannot describe " + opt.file + ": " + written.error + ".");
        return;
    }
    for (const std::string& warning : written.warnings)
        ctx.note(opt.file + ": " + warning);

    const fs::path base = baseDirectory(opt.output);
    for (const spec::AcsFileOut& acs : written.acsFiles) {
        if (!writeAcsFile(ctx, base / acs.fileName, acs.bytes, opt.replace))
            return;
    }
    OutputFile out;
    if (!out.open(ctx, opt.output))
        return;
    if (std::fwrite(written.text.data(), 1, written.text.size(), out.stream())
        != written.text.size()) {
        ctx.fail(fileFailure("Cannot write", opt.output, errno));
        return;
    }
    out.commit(ctx);
}

// The statuses with which Create refuses a definition itself, rather than the file system or
// another process: for these the elements behind the refusal are looked for.
bool refusesTheDefinition(int16_t status)
{
    namespace st = btr::status;
    switch (status) {
    case st::InvalidKeyNumber:
    case st::DataBufferTooShort:
    case st::PageSizeError:
    case st::NumberOfKeys:
    case st::InvalidKeyPosition:
    case st::InvalidRecordLength:
    case st::InvalidKeyLength:
    case st::InconsistentKeyFlags:
    case st::InvalidCollatingSequence:
    case st::KeyTypeError:
    case st::AutoincrementError:
        return true;
    default:
        return false;
    }
}

// Create of candidate definitions, each into a file of its own in a scratch directory that goes
// when the search is over.
class TrialCreates
{
public:
    TrialCreates()
    {
        std::string pattern = (fs::temp_directory_path() / "varnok-create-XXXXXX").string();
        if (::mkdtemp(pattern.data()))
            dir_ = pattern;
    }
    ~TrialCreates()
    {
        std::error_code ignored;
        if (!dir_.empty())
            fs::remove_all(dir_, ignored);
    }
    TrialCreates(const TrialCreates&) = delete;
    TrialCreates& operator=(const TrialCreates&) = delete;

    bool ready() const { return !dir_.empty(); }
    int16_t operator()(const std::vector<uint8_t>& image)
    {
        TWinBtr file;
        std::string leaf("T"); // appended: GCC 12 at -O3 reports a false -Wrestrict on "T" + ...
        leaf.append(std::to_string(++count_));
        const std::string name = (dir_ / leaf).string();
        return createFile(file, name, image.data(), uint16_t(image.size()), true);
    }

private:
    fs::path dir_;
    int count_ = 0;
};

void runCreate(Context& ctx, const CreateOptions& opt)
{
    spec::Description description;
    std::string descriptionName;
    if (!loadDescription(ctx, opt.description, description, descriptionName))
        return;

    TWinBtr file;
    const int16_t status = createFile(file, opt.file, description.image.data(),
        uint16_t(description.image.size()), opt.replace || description.replace);
    if (status == btr::status::Success)
        return;
    if (refusesTheDefinition(status)) {
        TrialCreates trials;
        if (trials.ready()) {
            const spec::Refusal refusal = spec::locateRefusal(description,
                [&trials](const std::vector<uint8_t>& image) { return trials(image); });
            if (refusal.status == status) {
                ctx.fail("Cannot create " + opt.file + " from " + descriptionName + ": "
                    + refusal.message + ".");
                return;
            }
        }
    }
    ctx.fail(cannotDo("Cannot create", opt.file, status));
}

} // namespace

bool loadDescription(
    Context& ctx, const std::string& name, spec::Description& description, std::string& displayName)
{
    InputFile input;
    if (!input.open(ctx, name))
        return false;
    std::string text;
    char chunk[1 << 14];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, input.stream())) > 0;)
        text.append(chunk, n);
    displayName = name == "-" ? std::string("standard input") : name;
    if (std::ferror(input.stream())) {
        ctx.fail(fileFailure("Cannot read", displayName, errno));
        return false;
    }
    const fs::path base = baseDirectory(name);
    description = spec::readDescription(text, [&base](const std::string& acsName) {
        spec::AcsFile acs;
        int error = 0;
        if (!readWhole(base / acsName, acs.bytes, LongestAcsFile, error))
            acs.error = (base / acsName).string() + ": " + std::generic_category().message(error);
        return acs;
    });
    if (!description.ok()) {
        ctx.fail("Cannot read " + displayName + ": " + description.error + ".");
        return false;
    }
    return true;
}

Command addDescribeCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<DescribeOptions>();
    CLI::App* cmd = app.add_subcommand("describe", "Write a file's definition as a description");
    cmd->add_option("FILE", opt->file, "The data file")->required();
    cmd->add_option("OUTPUT", opt->output, "The description file; - or none for standard output");
    cmd->add_flag("--replace", opt->replace,
        "Replace an ACS file of the same name that holds another collating sequence");
    cmd->footer("Each collating sequence goes into an ACS file beside OUTPUT (in the current "
                "directory for standard output), named in the description's name= element.");
    return {cmd, [&ctx, opt] { runDescribe(ctx, *opt); }};
}

Command addCreateCommand(CLI::App& app, Context& ctx)
{
    auto opt = std::make_shared<CreateOptions>();
    CLI::App* cmd = app.add_subcommand("create", "Create an empty file from a description");
    cmd->add_option("FILE", opt->file, "The data file to create")->required();
    cmd->add_option("DESCRIPTION", opt->description, "The description file; - for standard input")
        ->required();
    cmd->add_flag("--replace", opt->replace, "Replace FILE when it exists (as replace=y does)");
    cmd->footer("ACS files named by name= are read relative to the description's directory (the "
                "current directory for standard input).");
    return {cmd, [&ctx, opt] { runCreate(ctx, *opt); }};
}

} // namespace cli
