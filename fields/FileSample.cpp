#include "FileSample.h"

#include "CopyRecords.h"
#include "WinBtr.h"

namespace fields {

void addNames(const Dictionary& dictionary, TextSample& sample)
{
    for (const DictTable& t : dictionary.tables) {
        sample.addName(t.name);
        sample.addName(t.location);
    }
    for (const DictField& f : dictionary.fields)
        sample.addName(f.name);
}

void sampleRecords(TWinBtr& file, const Layout& layout, TextSample& sample, uint32_t records)
{
    std::vector<const Field*> text;
    for (const Field& f : layout.fields) {
        if (!f.hex() && holdsCodePageText(f.type))
            text.push_back(&f);
    }
    if (text.empty() || records == 0)
        return;
    const bool useStep = file.UseStep;
    file.UseStep = true;
    uint32_t read = 0;
    readEveryRecord(file, [&] {
        const uint8_t* data = file.Buffer;
        const size_t length = file.ReturnedLength;
        for (const Field* f : text) {
            if (f->offset + size_t(f->length) > length)
                continue;
            const uint8_t* bytes = nullptr;
            size_t n = 0;
            if (codePageText(f->type, data + f->offset, f->length, bytes, n))
                sample.addText(bytes, n);
        }
        return ++read < records && !sample.full();
    });
    file.UseStep = useStep;
}

} // namespace fields
