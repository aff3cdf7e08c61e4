// The sequential-file reader against any bytes. Whatever it reads must be what the writer writes
// back: when the reader takes a whole file, writing its records again and reading that gives the
// same records, and the writer's own output is never refused.
#include "FuzzSupport.h"
#include "Sequential.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct Stream
{
    std::FILE* file = nullptr;
    char* buffer = nullptr;
    size_t size = 0;
    ~Stream()
    {
        if (file)
            std::fclose(file);
        std::free(buffer);
    }
};

std::vector<fuzz::Bytes> readAll(const uint8_t* data, size_t size, bool& whole)
{
    std::vector<fuzz::Bytes> records;
    // fmemopen cannot open an empty buffer for reading; an empty file is read from /dev/null.
    std::FILE* in
        = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : std::fopen("/dev/null", "rb");
    if (!in)
        fuzz::fail("cannot open the input as a stream");
    sequential::Reader reader(in);
    sequential::Reader::Result result;
    while ((result = reader.next()) == sequential::Reader::Record) {
        if (reader.recordNumber() != records.size() + 1)
            fuzz::fail("records are numbered out of turn");
        records.emplace_back(reader.data(), reader.data() + reader.length());
    }
    if (result == sequential::Reader::Malformed && reader.error().empty())
        fuzz::fail("a malformed file without a reason");
    whole = result == sequential::Reader::End;
    std::fclose(in);
    return records;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    fuzz::seedsRequested(argc, argv, [](const fuzz::SeedSink& sink) {
        auto save = [&](const std::string& name, const std::vector<fuzz::Bytes>& records) {
            Stream out;
            out.file = open_memstream(&out.buffer, &out.size);
            sequential::Writer writer(out.file);
            for (const fuzz::Bytes& r : records)
                writer.write(r.data(), uint16_t(r.size()));
            writer.finish();
            std::fflush(out.file);
            sink(name, fuzz::Bytes(out.buffer, out.buffer + out.size));
        };
        save("empty", {});
        save("one", {fuzz::Bytes {'a', 'b', 'c'}});
        // Bytes that end lines and files inside records: a reader must go by the count.
        save("binary",
            {fuzz::Bytes {0x0D, 0x0A, 0x1A, 0x00, ','}, fuzz::Bytes(300, 0x1A), fuzz::Bytes {}});
        std::vector<fuzz::Bytes> many;
        for (int i = 0; i < 40; ++i)
            many.emplace_back(size_t(8 + i), uint8_t(i));
        save("many", many);
        sink("blank-separator", fuzz::Bytes {'3', ' ', 'x', 'y', 'z', 0x0D, 0x0A});
        sink("no-end-mark", fuzz::Bytes {'2', ',', 'o', 'k', 0x0D, 0x0A});
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    bool whole = false;
    const std::vector<fuzz::Bytes> records = readAll(data, size, whole);
    if (!whole)
        return 0;

    Stream out;
    out.file = open_memstream(&out.buffer, &out.size);
    if (!out.file)
        fuzz::fail("cannot open a memory stream");
    sequential::Writer writer(out.file);
    for (const fuzz::Bytes& r : records)
        if (!writer.write(r.data(), uint16_t(r.size())))
            fuzz::fail("the writer refuses a record the reader took");
    if (!writer.finish())
        fuzz::fail("the writer cannot finish");
    std::fflush(out.file);

    bool again = false;
    const std::vector<fuzz::Bytes> reread
        = readAll(reinterpret_cast<const uint8_t*>(out.buffer), out.size, again);
    if (!again || reread != records)
        fuzz::fail("records written back read differently");
    return 0;
}
