// The damage campaign: legacy files damaged in one way each, then read in the record manager's
// salvage mode through BTRCALLID, and what came back held against the undamaged file's records.
// Per kind of damage: records of the undamaged file, records rescued whole, partial (a fixed part
// of the file's), invented (neither), returned twice, and the pages the report says were skipped.
// Synthetic 5.x and 6.x files (stale copies, freed slots, scattered pages, variable chains) and
// every fixture found.
//
//   varnok_damage_campaign [records]     records per synthetic file (default 20000)
#include "BenchFile.h"
#include "BtrCall.h"
#include "DefinitionLayout.h"
#include "LegacyWriter.h"
#include "LittleEndian.h"
#include "NativeFixtures.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

struct Btr
{
    uint8_t pos[btr::PositionBlockSize] {};
    uint8_t key[btr::KeyBufferSize] {};
    Bytes data = Bytes(65535);
    uint16_t length = 0;

    int16_t call(uint16_t op, int keyNumber = 0, uint16_t offered = 65535)
    {
        length = offered;
        return BTRCALLID(op, pos, data.data(), &length, key, 255, uint8_t(keyNumber), nullptr);
    }
    int16_t open(const fs::path& path, int mode, const Bytes& definition = {})
    {
        std::memset(key, 0, sizeof key);
        std::strncpy(reinterpret_cast<char*>(key), path.c_str(), sizeof key - 1);
        std::copy(definition.begin(), definition.end(), data.begin());
        return call(btr::op::Open, mode, uint16_t(definition.size()));
    }
    ~Btr() { call(btr::op::Close, 0, 0); }
};

Bytes readAll(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct Subject
{
    std::string name;
    fs::path path;
    Bytes stat; // the undamaged file's Stat image
    // The undamaged file's records and their fixed parts, as strings of their bytes (GCC 12 at
    // -O3 reports a false -Wstringop-overread on comparing byte vectors).
    std::map<std::string, int> records;
    std::map<std::string, int> fixedParts;
    uint32_t pageSize = 0;
    uint16_t recordLength = 0;
    bool v6 = false;
    size_t count = 0;
};

bool loadSubject(Subject& s)
{
    Btr file;
    if (file.open(s.path, btr::mode::ReadOnly) != 0)
        return false;
    if (file.call(btr::op::Stat, 0, btr::SpecBufferSize) != 0)
        return false;
    s.stat.assign(file.data.begin(), file.data.begin() + file.length);
    s.pageSize = btr::le::get16(s.stat.data() + btr::layout::file::PageSize);
    s.recordLength = btr::le::get16(s.stat.data() + btr::layout::file::RecordLength);
    const Bytes head = readAll(s.path);
    s.v6 = head.size() > 2 && head[0] == 'F' && head[1] == 'C';
    for (int16_t st = file.call(btr::op::StepFirst); st == 0; st = file.call(btr::op::StepNext)) {
        const std::string r(file.data.begin(), file.data.begin() + file.length);
        ++s.fixedParts[r.substr(0, s.recordLength)];
        ++s.records[r];
        ++s.count;
    }
    return true;
}

struct Damage
{
    const char* name;
    bool v5;
    bool needsDefinition;
    void (*apply)(Bytes&, uint32_t pageSize, std::mt19937& gen);
};

const Damage damages[] = {
    {"none", true, false, [](Bytes&, uint32_t, std::mt19937&) {}},
    {"current control record zeroed", false, false,
        [](Bytes& b, uint32_t ps, std::mt19937&) {
            // The current one has the higher usage count at +4.
            const bool second = btr::le::get32(&b[ps + 4]) > btr::le::get32(&b[4]);
            std::fill_n(b.begin() + (second ? ps : 0), ps, 0);
        }},
    {"control records zeroed", true, true,
        [](Bytes& b, uint32_t ps, std::mt19937&) {
            const bool v6 = b[0] == 'F' && b[1] == 'C';
            std::fill_n(b.begin(), std::min<size_t>(b.size(), ps * (v6 ? 2 : 1)), 0);
        }},
    {"page tables zeroed", false, false,
        [](Bytes& b, uint32_t ps, std::mt19937&) {
            const size_t stride = (ps - 8) / 4 + 2;
            for (size_t p = 2; (p + 2) * ps <= b.size(); p += stride)
                std::fill_n(b.begin() + long(p * ps), 2 * ps, 0);
        }},
    {"10% of pages overwritten", true, false,
        [](Bytes& b, uint32_t ps, std::mt19937& gen) {
            const size_t pages = b.size() / ps;
            for (size_t n = 0; n < std::max<size_t>(1, pages / 10); ++n) {
                const size_t p = 4 + gen() % std::max<size_t>(1, pages - 4);
                if (p < pages)
                    for (size_t i = 0; i < ps; ++i)
                        b[p * ps + i] = uint8_t(gen());
            }
        }},
    {"cut at a page boundary (half)", true, false,
        [](Bytes& b, uint32_t ps, std::mt19937&) { b.resize(b.size() / ps / 2 * ps); }},
    {"cut inside a page (half)", true, false,
        [](Bytes& b, uint32_t ps, std::mt19937&) { b.resize(b.size() / ps / 2 * ps + ps / 3); }},
    {"64 random 16-byte bursts", true, false,
        [](Bytes& b, uint32_t, std::mt19937& gen) {
            for (int n = 0; n < 64; ++n) {
                const size_t at = gen() % (b.size() - 16);
                for (size_t i = 0; i < 16; ++i)
                    b[at + i] = uint8_t(gen());
            }
        }},
};

struct Tally
{
    size_t whole = 0, partial = 0, invented = 0, twice = 0;
    uint32_t skipped = 0;
    int16_t status = 0;
};

Tally rescue(const Subject& s, const fs::path& path, bool giveDefinition)
{
    Tally t;
    Btr file;
    t.status = file.open(path, btr::mode::Salvage, giveDefinition ? s.stat : Bytes {});
    if (t.status != 0)
        return t;
    std::map<std::string, int> seen;
    for (int16_t st = file.call(btr::op::StepFirst); st == 0; st = file.call(btr::op::StepNext)) {
        const std::string r(file.data.begin(), file.data.begin() + file.length);
        const auto known = s.records.find(r);
        if (known != s.records.end()) {
            ++t.whole;
            if (++seen[r] > known->second)
                ++t.twice;
        } else if (r.size() == s.recordLength && s.fixedParts.count(r)) {
            ++t.partial;
        } else {
            ++t.invented;
        }
    }
    if (file.call(btr::op::SalvageReport, 0, btr::salvage::ReportSize) == 0) {
        namespace at = btr::salvage::report;
        t.skipped = btr::le::get32(&file.data[at::PagesMissing])
            + btr::le::get32(&file.data[at::PagesDamaged])
            + btr::le::get32(&file.data[at::PagesAmbiguous]);
    }
    return t;
}

void campaign(const Subject& s, const fs::path& scratch)
{
    std::printf("\n%s: %zu records, page %u, %s\n", s.name.c_str(), s.count, s.pageSize,
        s.v6 ? "6.x" : "5.x");
    std::printf("  %-32s %8s %8s %8s %8s %6s %8s %6s\n", "damage", "rescued", "whole", "partial",
        "invented", "twice", "skipped", "s");
    const Bytes original = readAll(s.path);
    for (const Damage& d : damages) {
        if (!s.v6 && !d.v5)
            continue;
        std::mt19937 gen(17);
        Bytes bytes = original;
        d.apply(bytes, s.pageSize, gen);
        const fs::path path = scratch / "DAMAGED.DAT";
        writeAll(path, bytes);
        const auto start = bench::Clock::now();
        Tally t = rescue(s, path, false);
        if (t.status == btr::status::IoError && d.needsDefinition)
            t = rescue(s, path, true);
        const double seconds = bench::secondsSince(start);
        if (t.status != 0) {
            std::printf("  %-32s status %d\n", d.name, t.status);
            continue;
        }
        std::printf("  %-32s %8zu %7.1f%% %8zu %8zu %6zu %8u %6.2f\n", d.name,
            t.whole + t.partial + t.invented,
            s.count ? 100.0 * double(t.whole) / double(s.count) : 100.0, t.partial, t.invented,
            t.twice, t.skipped, seconds);
    }
}

Bytes recordOf(uint32_t i, bool variable)
{
    Bytes r(40);
    btr::le::put32(r.data(), i + 1);
    for (size_t j = 4; j < r.size(); ++j)
        r[j] = uint8_t(i * 13 + j);
    if (variable)
        for (uint32_t j = 0; j < i % 300; ++j)
            r.push_back(uint8_t(i + j));
    return r;
}

legacytest::LegacyFileSpec syntheticSpec(uint16_t version, bool variable, uint32_t records)
{
    legacytest::LegacyFileSpec spec;
    spec.version = version;
    spec.records = records;
    spec.freeSlotEvery = 11;
    const bool v6 = version != legacytest::Version5;
    spec.staleEvery = v6 ? 5 : 0;
    spec.scatter = v6;
    spec.fragmentLimit = variable ? 150 : 0;
    spec.rule = [variable](uint32_t i, Bytes& r) { r = recordOf(i, variable); };
    recman::Definition& def = spec.definition;
    def.pageSize = 1024;
    def.recordLength = 40;
    def.fileFlags = variable ? recman::fileflag::VariableLength : 0;
    recman::Key unique;
    unique.segments.push_back(
        {1, 4, recman::keyflag::ExtendedType, records, btr::exttype::Unsigned, 0, 0, 0, 0});
    def.keys = {unique};
    return spec;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const uint32_t records = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 20000;
        bench::ScratchDirectory scratch("varnok-damage");
        std::printf("Damage campaign: what salvage reading rescues (whole: %% of the undamaged "
                    "file's records; s: seconds)\n");
        struct Synthetic
        {
            const char* name;
            uint16_t version;
            bool variable;
        };
        for (const Synthetic& syn :
            {Synthetic {"synthetic 5.x", legacytest::Version5, false},
                Synthetic {"synthetic 5.x variable", legacytest::Version5, true},
                Synthetic {"synthetic 6.0 (stale copies, scattered)", legacytest::Version60, false},
                Synthetic {"synthetic 6.0 variable", legacytest::Version60, true}}) {
            Subject s;
            s.name = syn.name;
            s.path = scratch.path() / "SYNTHETIC.DAT";
            legacytest::writeLegacyFile(s.path, syntheticSpec(syn.version, syn.variable, records));
            if (!loadSubject(s)) {
                std::printf("%s: cannot be read undamaged\n", syn.name);
                return 1;
            }
            const fs::path copy = scratch.path() / "ORIGINAL.DAT";
            fs::copy_file(s.path, copy, fs::copy_options::overwrite_existing);
            s.path = copy;
            campaign(s, scratch.path());
        }
        if (!testsupport::missingFixtures().empty()) {
            std::printf("\n(no fixtures: %s)\n", testsupport::missingFixtures().c_str());
            return 0;
        }
        for (const char* name : {"GALTELA.DAT", "MBBSEMU.DAT", "MBMGEPLT.DAT", "MULTIACS.DAT",
                 "VARIABLE.DAT", "WCCACMS2.DAT", "WGSMENU2.DAT", "BBSGEN.VIR"}) {
            Subject s;
            s.name = name;
            s.path = testsupport::fixturePath(name);
            if (!fs::exists(s.path) || !loadSubject(s))
                continue;
            campaign(s, scratch.path());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "varnok_damage_campaign: %s\n", e.what());
        return 1;
    }
    return 0;
}
