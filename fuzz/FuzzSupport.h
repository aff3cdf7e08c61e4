// What the fuzz targets share: a scratch file of their own (one per process, so that forked and
// parallel runs never meet), the entry point called with the buffers a caller would pass, and the
// writing of a target's seed corpus.
//
// Every target also answers `TARGET --write-seeds DIR`: it writes its seed inputs into DIR and
// exits, before libFuzzer looks at the arguments. The seeds are made by the synthetic writers of
// the tests, so the corpus follows the formats as the code understands them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fuzz {

using Bytes = std::vector<uint8_t>;

// A file path in a scratch directory of this process's own, on a memory file system where there
// is one: every iteration writes its input there, so the disk is never the bottleneck.
std::filesystem::path scratchPath(const std::string& name);

// Writes `size` bytes at `path`, replacing what is there. Aborts when it cannot: a fuzz run that
// silently tests nothing must not look like a clean run.
void writeFile(const std::filesystem::path& path, const uint8_t* data, size_t size);
Bytes readFile(const std::filesystem::path& path);

// Aborts the run with a message on standard error: the fuzzer records the input that led here.
[[noreturn]] void fail(const std::string& what);

// Called from LLVMFuzzerInitialize: with `--write-seeds DIR` as the first arguments, runs
// `writeSeeds` with a sink that stores each seed as DIR/NAME, and exits.
using SeedSink = std::function<void(const std::string& name, const Bytes& bytes)>;
void seedsRequested(
    int* argc, char*** argv, const std::function<void(const SeedSink&)>& writeSeeds);

// The entry point with the buffers a program would pass: a 128-byte position block, a 256-byte key
// buffer and a data buffer of `data.size()` bytes (the length is capped at 65535, as the 16-bit
// data length can say no more).
struct Call
{
    uint8_t positionBlock[128] = {};
    uint8_t keyBuffer[256] = {};
    Bytes data;
    uint16_t dataLength = 0;

    // The key length passed is 255, the most its 8 bits can say.
    int16_t operator()(uint16_t operation, int keyNumber);
    int16_t open(const std::filesystem::path& path, int8_t mode);
};

// Reads from `first` on with `next` (Step or Get on `key`) until a status other than 0 or 22 (a
// record longer than the buffer still moves the position): how many records, and the status that
// ended the walk. More than `most` records is a finding: a chain that loops.
struct Walk
{
    uint32_t records = 0;
    int16_t end = 0;
};
// With `positions`, each record's position (Get Position) is kept there.
Walk walk(Call& call, uint16_t first, uint16_t next, int key, uint32_t most,
    std::vector<uint32_t>* positions = nullptr);

// The browsing operations over what a walk found, on `key` (-1: physical order): the walk back
// from the last record gives as many records when both walks are whole; every few positions
// walked come back by Get Direct, with a Find Percentage from 0 to 10000; Get By Percentage
// answers at both ends and between; Get Direct, Find Percentage and the Gets by value given
// words and bytes of `input` answer with a status. Anything else is a finding.
void browse(Call& call, int key, const Walk& forward, const std::vector<uint32_t>& positions,
    const uint8_t* input, size_t size, uint32_t most);

} // namespace fuzz
