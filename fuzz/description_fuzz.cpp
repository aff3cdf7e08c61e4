// The description-file reader against any text, and the writer against any definition image.
// An input beginning with 0xFF is an image for the writer (the rest of it); any other is a
// description for the reader. What the reader takes must describe back to itself: the text
// written for its image reads as the same image, whenever the writer has nothing to warn of.
#include "DefinitionLayout.h"
#include "DefinitionSeeds.h"
#include "Description.h"
#include "FuzzSupport.h"
#include "NativeFixtures.h"

#include <map>

namespace {

constexpr uint8_t ImageMark = 0xFF;

// Any name gives a sequence of its own (so that two names are two sequences), except names that
// begin with '!', which cannot be read.
spec::AcsFile loadAcs(const std::string& name)
{
    spec::AcsFile acs;
    if (!name.empty() && name[0] == '!') {
        acs.error = "cannot be read";
        return acs;
    }
    acs.bytes.assign(btr::layout::AcsBlockSize, 0);
    acs.bytes[0] = btr::layout::AcsSignature;
    for (size_t i = 0; i < name.size() && i < size_t(btr::layout::AcsNameSize); ++i)
        acs.bytes[1 + i] = uint8_t(name[i]);
    for (int c = 0; c < btr::layout::AcsTableSize; ++c)
        acs.bytes[size_t(btr::layout::AcsTableOffset + c)] = uint8_t(c ^ name.size());
    return acs;
}

void describeBack(const std::vector<uint8_t>& image)
{
    const spec::WrittenDescription written = spec::writeDescription(image.data(), image.size());
    if (!written.ok() || !written.warnings.empty())
        return;
    std::map<std::string, std::vector<uint8_t>> files;
    for (const spec::AcsFileOut& f : written.acsFiles)
        files[f.fileName] = f.bytes;
    const spec::Description again = spec::readDescription(written.text, [&](const std::string& n) {
        spec::AcsFile acs;
        auto it = files.find(n);
        if (it == files.end())
            acs.error = "not written";
        else
            acs.bytes = it->second;
        return acs;
    });
    if (!again.ok())
        fuzz::fail("the written description is refused: " + again.error + "\n" + written.text);
    if (again.image != image)
        fuzz::fail("the written description reads as another definition:\n" + written.text);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, [](const fuzz::SeedSink& sink) {
        for (const auto& [name, image] : fuzz::definitionSeeds()) {
            fuzz::Bytes marked {ImageMark};
            marked.insert(marked.end(), image.begin(), image.end());
            sink("image-" + name, marked);
            const spec::WrittenDescription written
                = spec::writeDescription(image.data(), image.size());
            if (written.ok())
                sink("text-" + name, fuzz::Bytes(written.text.begin(), written.text.end()));
        }
        if (testsupport::missingFixtures().empty())
            sink("fixture-VARIABLE.BCR", fuzz::readFile(testsupport::fixturePath("VARIABLE.BCR")));
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 0 && data[0] == ImageMark) {
        const spec::WrittenDescription written = spec::writeDescription(data + 1, size - 1);
        if (written.ok() == written.text.empty())
            fuzz::fail("a description both written and refused");
        return 0;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const spec::Description read = spec::readDescription(text, loadAcs);
    if (!read.ok()) {
        if (!read.image.empty())
            fuzz::fail("a refused description left an image");
        return 0;
    }
    if (read.image.empty() || read.image.size() > size_t(btr::SpecBufferSize))
        fuzz::fail("the image is empty or larger than the definition buffer");
    describeBack(read.image);
    return 0;
}
