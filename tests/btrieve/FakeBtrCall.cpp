#include "FakeBtrCall.h"

#include "BtrCall.h"

#include <algorithm>
#include <cstring>

namespace fake {
namespace {
std::vector<Call> recorded;
std::deque<Reply> replies;
} // namespace

void reset()
{
    recorded.clear();
    replies.clear();
}

void script(const Reply& reply)
{
    replies.push_back(reply);
}

void scriptStatus(int16_t status)
{
    replies.push_back(Reply {status, {}, -1});
}

const std::vector<Call>& calls()
{
    return recorded;
}

} // namespace fake

extern "C" int16_t BTRCALLID(uint16_t op, void* posBlock, void* data, uint16_t* dataLength,
    void* keyBuffer, uint8_t keyLength, uint8_t keyNumber, void* clientId)
{
    (void)posBlock;
    fake::Call call;
    call.op = op;
    call.data = data;
    call.offeredLength = dataLength ? *dataLength : 0;
    call.keyLength = keyLength;
    call.keyNumber = keyNumber;
    if (clientId) {
        const auto* id = static_cast<const uint8_t*>(clientId);
        call.clientId.assign(id, id + 16);
    }
    if (keyBuffer)
        call.key = std::string(
            static_cast<const char*>(keyBuffer), strnlen(static_cast<const char*>(keyBuffer), 256));
    if (data) {
        const auto* d = static_cast<const uint8_t*>(data);
        call.dataIn.assign(d, d + std::min<int>(call.offeredLength, 2048));
    }
    fake::recorded.push_back(call);

    if (fake::replies.empty())
        return 0;
    fake::Reply reply = fake::replies.front();
    fake::replies.pop_front();
    const size_t copy = std::min<size_t>(reply.data.size(), call.offeredLength);
    if (data && copy)
        std::memcpy(data, reply.data.data(), copy);
    if (dataLength && reply.returnedLength >= 0)
        *dataLength = static_cast<uint16_t>(reply.returnedLength);
    else if (dataLength && !reply.data.empty())
        *dataLength = static_cast<uint16_t>(reply.data.size());
    return reply.status;
}
