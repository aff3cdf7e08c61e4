#include "LegacySeeds.h"

#include "LegacyWriter.h"
#include "LittleEndian.h"
#include "NativeFixtures.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace fuzz {

namespace {

using legacytest::CurrentCopy;
namespace keyflag = recman::keyflag;

constexpr uint16_t RecordLength = 20;

struct Shape
{
    const char* name;
    uint16_t version;
    uint16_t pageSize;
    bool variable;
    uint32_t records;
    uint32_t freeSlotEvery;
    uint32_t staleEvery;
    bool scatter;
    bool acs;
    bool compressed = false;
    bool systemData = false;
    bool variableTail = false;
    int ownerMode = -1; // none
    int rule = 1;
};

// Small enough that a mutation reaches every structure; the 512-byte pages of the 6.x shapes with
// 300 records need two table pairs, as do the 9.5 shape's 3000.
const Shape shapes[] = {
    {"v5-fixed", legacytest::Version5, 512, false, 40, 0, 0, false, false},
    {"v5-variable-acs", legacytest::Version5, 512, true, 30, 4, 0, false, true},
    {"v60-fixed", legacytest::Version60, 512, false, 40, 0, 0, false, false},
    {"v60-stale-freed", legacytest::Version60, 512, false, 60, 5, 2, false, false},
    {"v60-variable", legacytest::Version60, 512, true, 30, 0, 3, false, false},
    {"v60-two-pairs", legacytest::Version60, 512, false, 300, 0, 0, true, false},
    {"v61-acs", legacytest::Version61, 1024, false, 50, 0, 2, false, true},
    {"v5-compressed", legacytest::Version5, 512, false, 40, 4, 0, false, false, true},
    {"v5-compressed-variable", legacytest::Version5, 1024, true, 30, 0, 0, false, true, true},
    {"v60-compressed-stale", legacytest::Version60, 512, false, 50, 3, 2, true, false, true},
    {"v80-fixed", legacytest::Version80, 512, false, 40, 5, 2, false, false},
    {"v80-variable-acs", legacytest::Version80, 1024, true, 30, 0, 3, true, true},
    {"v90-system-data", legacytest::Version90, 2048, false, 60, 4, 0, false, false, false, true},
    {"v95-fixed", legacytest::Version95, 1024, false, 40, 0, 2, false, false},
    {"v95-variable-tail", legacytest::Version95, 512, true, 25, 0, 0, false, false, false, false,
        true},
    {"v95-compressed-system-data", legacytest::Version95, 1024, false, 50, 3, 2, false, true, true,
        true},
    {"v95-two-pairs", legacytest::Version95, 512, false, 3000, 0, 0, true, false},
    {"v5-owner-plain", legacytest::Version5, 512, false, 30, 0, 0, false, false, false, false,
        false, 0},
    {"v5-encrypted-rule1", legacytest::Version5, 512, true, 30, 4, 0, false, true, false, false,
        false, 2, 1},
    {"v5-encrypted-rule2-compressed", legacytest::Version5, 1024, false, 40, 0, 0, false, false,
        true, false, false, 2, 2},
    {"v60-encrypted-rule2", legacytest::Version60, 1024, false, 40, 3, 2, false, false, false,
        false, false, 3, 2},
    {"v95-owner-plain", legacytest::Version95, 512, false, 30, 0, 0, false, false, false, false,
        false, 1},
};

recman::AcsBlockDef upperCase()
{
    recman::AcsBlockDef block;
    block.bytes[0] = recman::AcsSignature;
    std::memcpy(block.bytes.data() + 1, "UPPER", 5);
    for (int c = 0; c < 256; ++c)
        block.bytes[9 + size_t(c)] = uint8_t(c >= 'a' && c <= 'z' ? c - 32 : c);
    return block;
}

legacytest::LegacyFileSpec specOf(const Shape& shape)
{
    legacytest::LegacyFileSpec spec;
    spec.version = shape.version;
    spec.records = shape.records;
    spec.freeSlotEvery = shape.freeSlotEvery;
    spec.staleEvery = shape.staleEvery;
    spec.scatter = shape.scatter;
    spec.current = CurrentCopy::Alternating;
    spec.systemData = shape.systemData;
    spec.variableTail = shape.variableTail;
    spec.tailBlock = 60;
    spec.fragmentLimit = shape.compressed ? 9 : 0;
    spec.unusedFragmentEvery = shape.compressed ? 4 : 0;
    if (shape.ownerMode >= 0) {
        spec.owner.set = true;
        spec.owner.mode = uint8_t(shape.ownerMode);
        spec.owner.rule = shape.rule;
    }
    const bool variable = shape.variable;
    spec.rule = [variable](uint32_t i, std::vector<uint8_t>& record) {
        record.assign(RecordLength, 0);
        btr::le::put32(record.data(), i * 7919 + 1);
        for (uint32_t j = 0; j < 8; ++j)
            record[4 + j] = uint8_t('a' + (i + j) % 5);
        for (uint32_t j = 12; j < RecordLength; ++j)
            record[j] = uint8_t(i * j);
        if (variable)
            for (uint32_t j = 0; j < i * 29 % 300; ++j)
                record.push_back(uint8_t(i + j));
    };
    recman::Definition& def = spec.definition;
    def.pageSize = shape.pageSize;
    def.recordLength = RecordLength;
    def.fileFlags = uint16_t((variable ? recman::fileflag::VariableLength : 0)
        | (shape.compressed ? recman::fileflag::Compressed : 0));
    recman::Key unique;
    unique.segments.push_back({1, 4, keyflag::ExtendedType, shape.records, 1, 0, 0, 0, 0});
    recman::Key names;
    names.number = 1;
    uint16_t flags = keyflag::Duplicates | keyflag::ExtendedType;
    if (shape.acs) {
        def.acsBlocks.push_back(upperCase());
        flags |= keyflag::Acs;
    }
    names.segments.push_back({5, 8, flags, 5, 0, 0, 0, 0, 0});
    def.keys = {unique, names};
    return spec;
}

} // namespace

void writeLegacySeeds(const SeedSink& sink)
{
    for (const Shape& shape : shapes) {
        const auto path = scratchPath(std::string(shape.name) + ".dat");
        legacytest::writeLegacyFile(path, specOf(shape));
        sink(shape.name, readFile(path));
    }
    // The real files, where this build was told of them: they hold what no writer of ours
    // thought of. Only the smaller ones, so that a mutation is cheap.
    if (!testsupport::missingFixtures().empty())
        return;
    for (const char* name : {"MBBSEMU.DAT", "BBSGEN.VIR", "MBMGEPLT.DAT", "MULTIACS.DAT",
             "WGSMENU2.DAT", "GALTELA.DAT"}) {
        Bytes bytes = readFile(testsupport::fixturePath(name));
        if (!bytes.empty())
            sink(std::string("fixture-") + name, bytes);
    }
}

} // namespace fuzz
