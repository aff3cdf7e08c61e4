// Calls through BTRCALLID as the program makes them, for tests that see legacy files only through
// the record manager's entry point.
#pragma once

#include "BtrCall.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

namespace legacytest {

// One open file: its position block and buffers, as the program's file object keeps them.
struct Btr
{
    uint8_t pos[btr::PositionBlockSize] {};
    uint8_t key[btr::KeyBufferSize] {};
    std::vector<uint8_t> data = std::vector<uint8_t>(65535);
    uint16_t length = 0;
    uint8_t client[btr::ClientIdSize] {};

    int16_t call(uint16_t operation, int keyNumber = 0, uint16_t offered = 65535)
    {
        length = offered;
        return BTRCALLID(
            operation, pos, data.data(), &length, key, 255, uint8_t(keyNumber), client);
    }
    int16_t open(const std::filesystem::path& path, int mode = 0)
    {
        std::memset(key, 0, sizeof key);
        std::strncpy(reinterpret_cast<char*>(key), path.c_str(), sizeof key - 1);
        return call(btr::op::Open, mode, 0);
    }
    int16_t create(const std::filesystem::path& path, const std::vector<uint8_t>& image, int how)
    {
        std::memset(key, 0, sizeof key);
        std::strncpy(reinterpret_cast<char*>(key), path.c_str(), sizeof key - 1);
        std::copy(image.begin(), image.end(), data.begin());
        return call(btr::op::Create, how, uint16_t(image.size()));
    }
    std::vector<uint8_t> record() const { return {data.begin(), data.begin() + length}; }
    std::vector<uint8_t> stat()
    {
        EXPECT_EQ(call(btr::op::Stat, 0, btr::SpecBufferSize), 0);
        return {data.begin(), data.begin() + length};
    }
    ~Btr()
    {
        uint16_t none = 0;
        BTRCALLID(btr::op::Close, pos, data.data(), &none, key, 255, 0, client);
    }
};

// Every record along key `k`, in the order Get First / Get Next return them, and the key
// values the key buffer showed.
inline std::vector<std::vector<uint8_t>> alongKey(
    Btr& file, int k, std::vector<std::vector<uint8_t>>* values = nullptr, size_t valueLength = 0)
{
    std::vector<std::vector<uint8_t>> records;
    for (int16_t s = file.call(btr::op::GetFirst, k); s == 0; s = file.call(btr::op::GetNext, k)) {
        records.push_back(file.record());
        if (values)
            values->emplace_back(file.key, file.key + valueLength);
    }
    return records;
}

} // namespace legacytest
