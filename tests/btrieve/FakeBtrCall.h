// A recording stand-in for the record manager's entry point, linked into unit tests.
//
// Every call is recorded (operation, data pointer, offered length, key number, key length, client
// id and the first bytes of the key buffer). Answers come from a script: each scripted reply gives
// the status, the bytes to copy into the data buffer and the length to return. Unscripted calls
// answer status 0 and leave the buffers alone.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace fake {

struct Call
{
    uint16_t op = 0;
    void* data = nullptr;
    uint16_t offeredLength = 0;
    uint8_t keyLength = 0;
    uint8_t keyNumber = 0;
    std::vector<uint8_t> clientId; // 16 bytes
    std::string key; // the key buffer up to its first zero byte (the file name for Open/Create)
    std::vector<uint8_t> dataIn; // the bytes offered (at most 2048 of them)
};

struct Reply
{
    int16_t status = 0;
    std::vector<uint8_t> data; // copied into the data buffer (never beyond the offered length)
    int returnedLength = -1;   // -1: data.size(), or the offered length when data is empty
};

void reset();
void script(const Reply& reply);
void scriptStatus(int16_t status);
const std::vector<Call>& calls();

} // namespace fake
