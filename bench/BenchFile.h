// What the benchmarks share: the large legacy file they read (written for the run by the tests'
// synthetic writer), a clock and the peak memory figure.
#pragma once

#include "LegacyWriter.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start);
// The process's own peak resident memory, and that of its waited-for children.
double peakRssMiB();
double childrenPeakRssMiB();

// The benchmark file: a 6.0 file of n records on 4096-byte pages, 100-byte records, key 0 an
// 8-byte integer without duplicates in scrambled order, key 1 a 20-byte string of 5000 values with
// linked duplicates.
legacytest::LegacyFileSpec benchFileSpec(uint32_t n);

// A fresh directory under the system's temporary directory, removed with everything in it.
class ScratchDirectory
{
public:
    explicit ScratchDirectory(const char* prefix);
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::filesystem::path& path() const { return dir_; }

private:
    std::filesystem::path dir_;
};

} // namespace bench
