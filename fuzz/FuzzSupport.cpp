#include "FuzzSupport.h"

#include "BtrCall.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>
#include <unistd.h>

namespace fuzz {

std::filesystem::path scratchPath(const std::string& name)
{
    static const std::filesystem::path dir = [] {
        std::error_code ec;
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
        std::filesystem::path own = base / ("varnok-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(own, ec);
        if (ec)
            fail("cannot make the scratch directory " + own.string() + ": " + ec.message());
        // The directory goes with the process, however the run ends (libFuzzer exits through
        // exit() after a finding, too).
        static const std::filesystem::path removeAtExit = own;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removeAtExit, ignored);
        });
        return own;
    }();
    return dir / name;
}

void writeFile(const std::filesystem::path& path, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        fail("cannot write " + path.string() + ": " + std::strerror(errno));
    if (size && std::fwrite(data, 1, size, f) != size)
        fail("cannot write " + path.string());
    if (std::fclose(f) != 0)
        fail("cannot close " + path.string());
}

Bytes readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz: %s\n", what.c_str());
    std::abort();
}

void seedsRequested(int* argc, char*** argv, const std::function<void(const SeedSink&)>& writeSeeds)
{
    if (*argc < 3 || std::strcmp((*argv)[1], "--write-seeds") != 0)
        return;
    const std::filesystem::path dir = (*argv)[2];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec)
        fail("cannot make " + dir.string() + ": " + ec.message());
    int written = 0;
    writeSeeds([&](const std::string& name, const Bytes& bytes) {
        writeFile(dir / name, bytes.data(), bytes.size());
        ++written;
    });
    if (written == 0)
        fail("no seeds written");
    std::printf("%d seeds in %s\n", written, dir.c_str());
    std::exit(0);
}

int16_t Call::operator()(uint16_t operation, int keyNumber)
{
    dataLength = static_cast<uint16_t>(std::min<size_t>(data.size(), 65535));
    return BTRCALLID(operation, positionBlock, data.empty() ? nullptr : data.data(), &dataLength,
        keyBuffer, uint8_t(sizeof keyBuffer - 1), static_cast<uint8_t>(keyNumber), nullptr);
}

int16_t Call::open(const std::filesystem::path& path, int8_t mode)
{
    std::memset(keyBuffer, 0, sizeof keyBuffer);
    const std::string name = path.string();
    std::memcpy(keyBuffer, name.c_str(), std::min(name.size(), sizeof keyBuffer - 1));
    return (*this)(btr::op::Open, mode);
}

Walk walk(Call& call, uint16_t first, uint16_t next, int key, uint32_t most)
{
    Walk w;
    w.end = call(first, key);
    while (w.end == btr::status::Success || w.end == btr::status::DataBufferTooShort) {
        if (++w.records > most)
            fail("more records than any walk may give");
        w.end = call(next, key);
    }
    return w;
}

} // namespace fuzz
