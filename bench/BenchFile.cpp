#include "BenchFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <sys/resource.h>
#include <system_error>

namespace bench {

namespace {

constexpr uint16_t RecordLength = 100;
constexpr uint32_t Names = 5000;

} // namespace

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double peakRssMiB()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double childrenPeakRssMiB()
{
    rusage usage {};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// Record i: its id (i * a prime, modulo n: every id once, out of insertion order), a customer
// name of 5000, filler.
legacytest::LegacyFileSpec benchFileSpec(uint32_t n)
{
    legacytest::LegacyFileSpec spec;
    spec.version = legacytest::Version60;
    spec.records = n;
    spec.rule = [n](uint32_t i, std::vector<uint8_t>& record) {
        record.assign(RecordLength, 'x');
        const uint64_t id = uint64_t(i) * 2147483647u % n;
        for (int b = 0; b < 8; ++b)
            record[size_t(b)] = uint8_t(id >> (8 * b));
        char name[21];
        std::snprintf(name, sizeof name, "CUSTOMER %011llu",
            static_cast<unsigned long long>(id * 7919 % Names));
        std::memcpy(record.data() + 8, name, 20);
    };
    recman::Definition& def = spec.definition;
    def.pageSize = 4096;
    def.recordLength = RecordLength;
    recman::Key ids;
    ids.segments.push_back({1, 8, recman::keyflag::ExtendedType, n, 1, 0, 0, 0, 0});
    recman::Key names;
    names.number = 1;
    names.segments.push_back(
        {9, 20, uint16_t(recman::keyflag::ExtendedType | recman::keyflag::Duplicates), Names, 0, 0,
            0, 0, 0});
    def.keys = {ids, names};
    return spec;
}

ScratchDirectory::ScratchDirectory(const char* prefix)
{
    std::string pattern
        = (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a scratch directory");
    dir_ = pattern;
}

ScratchDirectory::~ScratchDirectory()
{
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

} // namespace bench
