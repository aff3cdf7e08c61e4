// Helpers for tests that drive the record manager through BTRCALLID only: definition images,
// calls with the usual buffers, and a scratch directory per test.
#pragma once

#include "BtrCall.h"
#include "DefinitionImage.h"
#include "LittleEndian.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace entrytest {

namespace op = btr::op;
namespace st = btr::status;

struct Seg
{
    uint16_t position = 1;
    uint16_t length = 4;
    uint16_t flags = 0; // 0x10 (another segment follows) is added by the builder
    int type = -1;      // extended type; -1 for none (flag 0x100 left clear)
    uint8_t nullValue = 0;
    uint8_t acs = 0;
    uint8_t manualKeyNumber = 0;
};

struct Spec
{
    uint16_t recordLength = 100;
    uint16_t pageSize = 4096;
    uint16_t fileFlags = 0;
    std::vector<std::vector<Seg>> keys;
    std::vector<std::vector<uint8_t>> acsTables; // 256 bytes each
};

using btr::le::get32;

// The Create image of `spec`, padded to `size` bytes (1920 as the program sends it).
inline std::vector<uint8_t> image(const Spec& spec, size_t size = btr::SpecBufferSize)
{
    testsupport::DefinitionImage d;
    d.recordLength = spec.recordLength;
    d.pageSize = spec.pageSize;
    d.fileFlags = spec.fileFlags;
    d.length = size;
    for (const auto& key : spec.keys) {
        std::vector<testsupport::SegmentEntry> segments;
        for (const Seg& s : key) {
            testsupport::SegmentEntry e;
            e.position = s.position;
            e.length = s.length;
            e.flags = s.type >= 0 ? uint16_t(s.flags | testsupport::ExtendedTypeKey) : s.flags;
            e.extType = static_cast<uint8_t>(s.type >= 0 ? s.type : 0);
            e.nullValue = s.nullValue;
            e.manualKeyNumber = s.manualKeyNumber;
            e.acsNumber = s.acs;
            segments.push_back(e);
        }
        d.addKey(segments);
    }
    for (const auto& table : spec.acsTables)
        d.blocks.push_back(testsupport::acsBlock("TESTACS", table));
    return d.bytes();
}

// One position block and the buffers of the usual calls.
struct Handle
{
    uint8_t pos[btr::PositionBlockSize] = {};
    uint8_t key[btr::KeyBufferSize] = {};
    uint8_t clientId[btr::ClientIdSize] = {};
    uint16_t lastLength = 0;

    int16_t call(
        uint16_t op, void* data, uint16_t length, int keyNumber = 0, uint8_t keyLength = 255)
    {
        lastLength = length;
        return BTRCALLID(
            op, pos, data, &lastLength, key, keyLength, static_cast<uint8_t>(keyNumber), clientId);
    }

    int16_t open(const std::string& path, int mode = 0)
    {
        std::vector<char> name(path.begin(), path.end());
        name.resize(256, 0);
        uint16_t len = 0;
        return BTRCALLID(
            op::Open, pos, nullptr, &len, name.data(), 255, static_cast<uint8_t>(mode), clientId);
    }

    int16_t close()
    {
        uint8_t scratch[4] = {};
        return call(op::Close, scratch, 4);
    }

    int16_t insert(std::vector<uint8_t>& record, int keyNumber = 0)
    {
        return call(op::Insert, record.data(), static_cast<uint16_t>(record.size()), keyNumber);
    }

    // Get/Step into `record` (resized to the returned length on 0).
    int16_t read(
        uint16_t op, std::vector<uint8_t>& record, int keyNumber = 0, uint16_t offer = 4096)
    {
        record.assign(offer, 0);
        int16_t s = call(op, record.data(), offer, keyNumber);
        if (s == st::Success)
            record.resize(lastLength);
        return s;
    }

    std::vector<uint8_t> stat(int16_t& status)
    {
        std::vector<uint8_t> b(btr::SpecBufferSize, 0);
        status = call(op::Stat, b.data(), static_cast<uint16_t>(b.size()));
        b.resize(status == st::Success ? lastLength : b.size());
        return b;
    }

    uint32_t recordCount()
    {
        int16_t s;
        auto b = stat(s);
        return s == st::Success ? get32(&b[6]) : 0xffffffff;
    }
};

inline int16_t create(const std::string& path, std::vector<uint8_t> img, int keyNumber = 0)
{
    std::vector<char> name(path.begin(), path.end());
    name.resize(256, 0);
    uint8_t pos[btr::PositionBlockSize] = {};
    uint16_t len = static_cast<uint16_t>(img.size());
    return BTRCALLID(op::Create, pos, img.data(), &len, name.data(), 255,
        static_cast<uint8_t>(keyNumber), nullptr);
}

inline std::vector<uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh directory for one test, removed afterwards.
using testsupport::ScratchDir;

// A record of the two-key layout most tests use: key 0 = 8-byte integer at 1 (unique),
// key 1 = 20-byte string at 9 (duplicates); the rest filled with `fill`.
inline Spec twoKeySpec()
{
    Spec s;
    s.recordLength = 100;
    s.keys = {{Seg {1, 8, 0, 1}}, {Seg {9, 20, 0x0001, 0}}};
    return s;
}

// prefix followed by n in decimal ("NAME7"). Built by appending: GCC 12 at -O3 reports a false
// -Wrestrict on a literal + std::to_string inlined into a lambda.
inline std::string numbered(const char* prefix, long n)
{
    std::string s(prefix);
    s.append(std::to_string(n));
    return s;
}

inline std::vector<uint8_t> twoKeyRecord(int64_t id, const std::string& name, uint8_t fill = 0)
{
    std::vector<uint8_t> r(100, fill);
    auto v = static_cast<uint64_t>(id);
    for (int i = 0; i < 8; ++i, v >>= 8)
        r[i] = static_cast<uint8_t>(v);
    std::memset(&r[8], ' ', 20);
    std::memcpy(&r[8], name.data(), std::min<size_t>(name.size(), 20));
    return r;
}

inline int64_t idOf(const std::vector<uint8_t>& r)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | r[i];
    return static_cast<int64_t>(v);
}

} // namespace entrytest
