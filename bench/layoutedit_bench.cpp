// The layout editor's work, timed:
//
//   1. the count of a field's invalid values over every record of the large legacy benchmark file
//      (N records, default 1000000), against plain Step reading of the same records, each twice,
//      alternately, the faster of each with their ratio; then the whole layout in one reading;
//   2. one edit (a field defined, the fillers made afresh, the edit undone by putting the old
//      layout back) on a layout of many fields, the time a person waits for the table;
//   3. the process's peak memory (flat in N: the count holds one record at a time).
//
//   varnok_layoutedit_bench [N]
#include "BenchFile.h"
#include "CopyRecords.h"
#include "LayoutEdit.h"
#include "WinBtr.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using bench::Clock;
using bench::secondsSince;

fields::Field field(const char* name, uint32_t offset, uint32_t length, uint8_t type)
{
    fields::Field f;
    f.name = name;
    f.offset = offset;
    f.length = length;
    f.type.type = type;
    f.source = fields::Source::LayoutFile;
    return f;
}

double stepEveryRecord(const std::string& name, uint64_t& records)
{
    const auto start = Clock::now();
    TWinBtr file;
    if (file.Open(name.c_str(), "", uint8_t(btr::mode::ReadOnly)) != 0) {
        std::fprintf(stderr, "cannot open %s: status %d\n", name.c_str(), file.Status);
        std::exit(1);
    }
    file.UseStep = true;
    records = 0;
    readEveryRecord(file, [&] {
        ++records;
        return true;
    });
    file.Close();
    return secondsSince(start);
}

double countFields(
    const std::string& name, const std::vector<fields::Field>& wanted, fields::InvalidCounts& out)
{
    const auto start = Clock::now();
    TWinBtr file;
    if (file.Open(name.c_str(), "", uint8_t(btr::mode::ReadOnly)) != 0) {
        std::fprintf(stderr, "cannot open %s: status %d\n", name.c_str(), file.Status);
        std::exit(1);
    }
    fields::TextDecoder decoder;
    const std::atomic<bool> stop {false};
    out = fields::countInvalid(file, wanted, decoder, stop);
    file.Close();
    return secondsSince(start);
}

} // namespace

int main(int argc, char** argv)
{
    const uint32_t n = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 1000000;
    bench::ScratchDirectory dir("varnok-layoutedit-bench");
    const std::string name = (dir.path() / "BIG.DAT").string();
    std::printf("writing a 6.0 file of %u records...\n", n);
    legacytest::writeLegacyFile(name, bench::benchFileSpec(n));

    // Bytes 29 to 32 hold 'x': as a date, a month of 120 in every record.
    const std::vector<fields::Field> one {field("when", 28, 4, btr::exttype::Date)};
    std::vector<fields::Field> all {field("id", 0, 8, btr::exttype::Integer),
        field("name", 8, 20, btr::exttype::String), one.front(),
        field("rest", 32, 68, btr::exttype::String)};
    double step = 1e9;
    double count = 1e9;
    uint64_t records = 0;
    fields::InvalidCounts counts;
    for (int round = 0; round < 2; ++round) {
        step = std::min(step, stepEveryRecord(name, records));
        count = std::min(count, countFields(name, one, counts));
    }
    std::printf("Step through every record:        %8.3f s (%llu records)\n", step,
        static_cast<unsigned long long>(records));
    std::printf("count one field's invalid values: %8.3f s (%llu invalid), ratio %.2f\n", count,
        static_cast<unsigned long long>(counts.invalid.front()), count / step);
    const double whole = countFields(name, all, counts);
    std::printf("count 4 fields in one reading:    %8.3f s, ratio %.2f\n", whole, whole / step);

    // A wide record read as many small fields, as an inferred layout of a long record can be.
    fields::Layout layout;
    layout.recordLength = 4000;
    for (uint32_t i = 0; i < 1000; ++i)
        layout.fields.push_back(field("", i * 4, 2, btr::exttype::Integer));
    fields::completeLayout(layout);
    constexpr int Edits = 200;
    const auto start = Clock::now();
    for (int e = 0; e < Edits; ++e) {
        fields::Layout edited = layout;
        fields::FieldForm f;
        f.name = "edit_" + std::to_string(e);
        f.offset = 2 + 4 * e;
        f.length = 2;
        f.type = "integer";
        if (!fields::defineField(edited, f).ok())
            std::exit(1);
    }
    std::printf("one edit on a layout of %zu fields: %8.3f ms\n", layout.fields.size(),
        secondsSince(start) * 1000.0 / Edits);
    std::printf("peak memory:                      %8.1f MiB\n", bench::peakRssMiB());
    return 0;
}
