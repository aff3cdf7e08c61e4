#include "FuzzSupport.h"

#include "BtrCall.h"
#include "LittleEndian.h"

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

Walk walk(Call& call, uint16_t first, uint16_t next, int key, uint32_t most,
    std::vector<uint32_t>* positions)
{
    Walk w;
    w.end = call(first, key);
    while (w.end == btr::status::Success || w.end == btr::status::DataBufferTooShort) {
        if (++w.records > most)
            fail("more records than any walk may give");
        if (positions) {
            if (call(btr::op::GetPosition, 0) != btr::status::Success)
                fail("no position for a record just read");
            positions->push_back(btr::le::get32(call.data.data()));
        }
        w.end = call(next, key);
    }
    return w;
}

namespace {

bool answered(int16_t s)
{
    return s == btr::status::Success || s == btr::status::DataBufferTooShort
        || s == btr::status::IoError;
}

} // namespace

void browse(Call& call, int key, const Walk& forward, const std::vector<uint32_t>& positions,
    const uint8_t* input, size_t size, uint32_t most)
{
    namespace op = btr::op;
    namespace st = btr::status;
    const bool physical = key < 0;
    const Walk back = walk(call, physical ? op::StepLast : op::GetLast,
        physical ? op::StepPrevious : op::GetPrevious, physical ? 0 : key, most);
    if (forward.end == st::EndOfFile && back.end == st::EndOfFile
        && back.records != forward.records)
        fail("key " + std::to_string(key) + " gives " + std::to_string(forward.records)
            + " records forwards, " + std::to_string(back.records) + " backwards");
    const size_t every = 1 + positions.size() / 32;
    for (size_t i = 0; i < positions.size(); i += every) {
        btr::le::put32(call.data.data(), positions[i]);
        const int16_t s = call(op::GetDirect, key);
        if (!answered(s))
            fail("Get Direct of a position walked answered " + std::to_string(s));
        if (s == st::IoError)
            continue;
        btr::le::put32(call.data.data(), positions[i]);
        const int16_t f = call(op::FindPercentage, key);
        if (f == st::Success && btr::le::get32(call.data.data()) > btr::WholePercentage)
            fail("Find Percentage beyond 100 %");
        if (f != st::Success && f != st::IoError)
            fail("Find Percentage of a record just read answered " + std::to_string(f));
    }
    for (uint16_t percent : {uint16_t(0), uint16_t(5000), btr::WholePercentage}) {
        btr::le::put16(call.data.data(), percent);
        const int16_t s = call(op::GetByPercentage, key);
        if (!answered(s) && !(s == st::EndOfFile && forward.records == 0))
            fail("Get By Percentage answered " + std::to_string(s));
    }
    // Whatever the input says: positions anywhere, key values of any bytes.
    for (size_t at = 0; at + 4 <= size && at < 64; at += 4) {
        std::memcpy(call.data.data(), input + at, 4);
        call(op::GetDirect, key);
        std::memcpy(call.data.data(), input + at, 4);
        call(op::FindPercentage, key);
    }
    if (!physical) {
        for (uint16_t get : {op::GetEqual, op::GetGreater, op::GetLessOrEqual}) {
            std::memset(call.keyBuffer, 0, sizeof call.keyBuffer);
            std::memcpy(call.keyBuffer, input, std::min(size, sizeof call.keyBuffer - 1));
            call(get, key);
            call(uint16_t(get + op::KeyOnly), key);
        }
    }
}

} // namespace fuzz
