#include "FileLayout.h"

#include "FileSample.h"
#include "LayoutFile.h"
#include "Messages.h"
#include "WinBtr.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <system_error>

namespace fields {

namespace {

namespace fs = std::filesystem;

constexpr const char* LayoutExtension = ".json";

std::string fileFailure(const std::string& what, const std::string& name, int error)
{
    return what + " " + name + ": " + std::generic_category().message(error) + ".";
}

struct FileCloser
{
    void operator()(std::FILE* f) const { std::fclose(f); }
};

spec::SpecBuffer statImage(const TWinBtr& file)
{
    spec::SpecBuffer image;
    std::copy(std::begin(file.StatBuffer), std::end(file.StatBuffer), image.bytes.begin());
    return image;
}

bool guesses(const std::string& encoding)
{
    return lowerCase(encoding) == AutoEncoding;
}

} // namespace

std::string guessNote(const std::string& subject, const CodePageGuess& guess,
    const std::string& encodingHint, const char* what)
{
    using Basis = CodePageGuess::Basis;
    if (guess.basis == Basis::PlainAscii)
        return {};
    const std::string read = what;
    const std::string from = read == "names" ? "names" : "names and text";
    if (guess.basis == Basis::NoFit)
        return subject + ": " + read + " read as " + guess.encoding + ": no code page reads the "
            + std::to_string(guess.outsideAscii) + " bytes outside ASCII of its " + from
            + " as the letters of a language (choose one with " + encodingHint + ")";
    return subject + ": " + read + " read as " + guess.encoding + " (guessed from "
        + std::to_string(guess.bytes) + " bytes of " + from + ", "
        + std::to_string(guess.outsideAscii) + " of them outside ASCII; choose another with "
        + encodingHint + ")";
}

bool guessEncoding(const std::string& encoding, TWinBtr& file, const std::string& name,
    const Dictionary* dictionary, const Layout& layout, TextDecoder& decoder,
    const std::string& encodingHint, std::vector<std::string>& notes)
{
    if (!guesses(encoding))
        return false;
    TextSample sample;
    if (dictionary)
        addNames(*dictionary, sample);
    sampleRecords(file, layout, sample);
    const CodePageGuess guess = guessCodePage(sample);
    std::string note = guessNote(name, guess, encodingHint);
    if (!note.empty())
        notes.push_back(std::move(note));
    if (guess.encoding == decoder.encoding())
        return false;
    decoder = TextDecoder(guess.encoding);
    return true;
}

std::string layoutFileFor(const std::string& path, const std::string& name)
{
    std::error_code ec;
    if (!fs::is_directory(path, ec))
        return path;
    const fs::path found = findInDirectory(path, fs::path(name).stem().string() + LayoutExtension);
    return found.empty() ? std::string() : found.string();
}

bool readLayoutFile(TWinBtr& file, const std::string& name, const std::string& path, Layout& layout,
    std::string& error)
{
    std::unique_ptr<std::FILE, FileCloser> input(std::fopen(path.c_str(), "rb"));
    if (!input) {
        error = fileFailure("Cannot open", path, errno);
        return false;
    }
    struct stat info = {};
    if (::fstat(::fileno(input.get()), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = fileFailure("Cannot open", path, EISDIR);
        return false;
    }
    std::string text;
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, input.get())) > 0;) {
        text.append(chunk, n);
        if (text.size() > MaxLayoutFile) {
            error = "Cannot use the layout " + path + " for " + name + ": it is larger than "
                + std::to_string(MaxLayoutFile >> 20) + " MiB, which no layout is.";
            return false;
        }
    }
    if (std::ferror(input.get())) {
        error = fileFailure("Cannot read the layout", path, errno);
        return false;
    }
    Layout shape;
    setRecordShape(shape, statImage(file));
    LayoutRead read = parseLayout(text, shape.recordLength, shape.variableLength, "layout " + path);
    if (!read.ok()) {
        error = "Cannot use the layout " + path + " for " + name + ": " + read.error + ".";
        return false;
    }
    layout = std::move(read.layout);
    return true;
}

bool readRecordSample(TWinBtr& file, const std::string& name, RecordSample& sample,
    const std::string& ownerAdvice, std::vector<std::string>& notes, std::string& error,
    bool spread)
{
    const uint64_t counted = uint64_t(std::max(file.RecordCount(), 0));
    const uint32_t limit = sampleLimit(sample.recordLength());
    const int16_t status = spread ? readSpreadSample(file, counted, limit, sample)
                                  : readSample(file, counted, limit, sample);
    if (status == btr::status::Success)
        return true;
    // The definition of an encrypted file is plain: its keys still make a layout.
    if (sample.empty() && status == btr::status::OwnerNameRequired) {
        notes.push_back(
            cannotDo("Cannot read", name, status, ownerAdvice) + " The fields are its keys alone.");
        return true;
    }
    const std::string failure = cannotDo("Cannot read", name, status, file.Reason());
    if (sample.empty()) {
        error = failure;
        return false;
    }
    notes.push_back(failure + " The fields are inferred from the " + std::to_string(sample.size())
        + " records read before.");
    return true;
}

FileLayout fileLayout(TWinBtr& file, const std::string& name, const FileLayoutOptions& options)
{
    FileLayout out;
    TextDecoder decoder(guesses(options.encoding) ? DefaultEncoding : options.encoding);
    if (!decoder.valid()) {
        out.error = decoder.error();
        return out;
    }
    if (file.Stat() != btr::status::Success) {
        out.error = cannotDo("Cannot read the definition of", name, file.GetStatus());
        return out;
    }
    const spec::SpecBuffer stat = statImage(file);
    Layout& layout = out.layout;
    if (!options.layoutFile.empty() || options.keysOnly) {
        if (options.keysOnly) {
            layout = keyLayout(stat);
        } else {
            const std::string path = layoutFileFor(options.layoutFile, name);
            if (path.empty()) {
                out.error = "No layout for " + name + " in " + options.layoutFile + " (no "
                    + fs::path(name).stem().string() + LayoutExtension + ").";
                return out;
            }
            if (!readLayoutFile(file, name, path, layout, out.error))
                return out;
        }
        guessEncoding(options.encoding, file, name, nullptr, layout, decoder, options.encodingHint,
            out.notes);
    } else {
        LayoutChoice choice = chooseLayout(name, stat, options.dictionary, options.table, decoder);
        out.notes.insert(out.notes.end(), choice.notes.begin(), choice.notes.end());
        if (!choice.ok()) {
            out.error = choice.error;
            return out;
        }
        // The text fields inference finds are text for the code-page guess too; once it has
        // named another code page, the dictionary's names and the evidence's examples are read
        // again in it.
        const bool inferring = !choice.table || options.infer;
        RecordSample sample(choice.layout.recordLength);
        if (inferring
            && !readRecordSample(file, name, sample, options.ownerAdvice, out.notes, out.error,
                options.spreadSample))
            return out;
        layout = inferring ? inferLayout(choice.layout, sample, decoder) : choice.layout;
        if (guessEncoding(options.encoding, file, name, choice.dictionary.get(), layout, decoder,
                options.encodingHint, out.notes)) {
            if (choice.table)
                choice.layout = tableLayout(*choice.dictionary, *choice.table, stat, decoder);
            layout = inferring ? inferLayout(choice.layout, sample, decoder) : choice.layout;
        }
    }
    for (const std::string& n : layout.notes)
        out.notes.push_back(name + ": " + n);
    out.encoding = decoder.encoding();
    out.ok = true;
    return out;
}

} // namespace fields
