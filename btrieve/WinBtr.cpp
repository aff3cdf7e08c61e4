#include "WinBtr.h"

#include "DefinitionLayout.h"
#include "LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// The three header fields the object reads from its cached Stat result.
constexpr int RecordLengthOffset = btr::layout::file::RecordLength;
constexpr int NumIndexesOffset = btr::layout::file::NumIndexes;
constexpr int NumRecordsOffset = btr::layout::file::NumRecords;

// The key length sent on every call: the key buffer is 256 bytes, the field holds 255.
constexpr uint8_t KeyBufferLength = 255;
constexpr uint8_t MaxKeyLength = 127;

} // namespace

TWinBtr::TWinBtr(const void* clientId)
{
    if (clientId)
        std::memcpy(ClientId, clientId, sizeof ClientId);
}

TWinBtr::~TWinBtr()
{
    if (IsOpen)
        Close();
    FreeBuffer();
}

int16_t TWinBtr::callManager(
    uint16_t op, void* data, uint16_t* length, void* key, uint8_t keyNumber)
{
    return BTRCALLID(op, PositionBlock, data, length, key, KeyBufferLength, keyNumber, ClientId);
}

void TWinBtr::clearStat()
{
    std::memset(StatBuffer, 0, sizeof StatBuffer);
}

void TWinBtr::AllocBuffer(uint16_t size)
{
    Status = btr::status::Success;
    if (size == BufferSize)
        return;
    FreeBuffer();
    if (size == 0)
        return;
    auto* buffer = new (std::nothrow) uint8_t[size]();
    if (!buffer) {
        BufferSize = 0;
        DataLength = 0;
        Status = btr::status::DataBufferTooShort;
        return;
    }
    Buffer = buffer;
    BufferSize = size;
    DataLength = size;
    DataPtr = Buffer;
}

void TWinBtr::FreeBuffer()
{
    if (Buffer) {
        delete[] Buffer;
        Status = btr::status::Success;
    }
    Buffer = nullptr;
    DataPtr = nullptr;
    BufferSize = 0;
}

void TWinBtr::SetDataPtr(void* p)
{
    if (p)
        DataPtr = p;
}

uint16_t TWinBtr::TakeDataLength()
{
    const uint16_t length = DataLength;
    DataLength = BufferSize;
    return length;
}

void TWinBtr::ClearKey(uint16_t n)
{
    if (n >= 1 && n <= sizeof KeyBuffer)
        std::memset(KeyBuffer, 0, n);
}

int16_t TWinBtr::GetStatus()
{
    if (Status == btr::status::DataBufferTooShort && AcceptShortBuffer)
        Status = btr::status::Success;
    return Status;
}

int16_t TWinBtr::Call(uint16_t op)
{
    const bool locked = LockBias != 0;
    if (locked) {
        op = static_cast<uint16_t>(op + LockBias);
        LockBias = 0;
    }
    uint16_t length = TakeDataLength();
    LastOp = op;
    Status = callManager(op, DataPtr, &length, KeyBuffer, KeyNumber);
    ReturnedLength = length;
    // A short read leaves the rest of the record buffer zero, so a record shorter than the
    // buffer never carries bytes of the record read before it. Only the object's own buffer
    // is filled this way: the size of a buffer handed in by SetDataPtr is not known here.
    if (Ok() && length < BufferSize && DataPtr == Buffer && Buffer)
        std::memset(Buffer + length, 0, BufferSize - length);
    DataPtr = Buffer;
    const int16_t result = Status;
    if (locked && Ok())
        RecordPosition = GetPosition();
    return result;
}

int16_t TWinBtr::CallWith(uint16_t op, void* data, int length)
{
    uint16_t copy = static_cast<uint16_t>(length);
    Status = callManager(op, data, &copy, KeyBuffer, KeyNumber);
    LastOp = op;
    return GetStatus();
}

int16_t TWinBtr::CallByKey(uint16_t op, const void* key, uint8_t keyLength, uint8_t keyNumber)
{
    if (!key) {
        Status = btr::status::InvalidKeyPath; // no key, so no key path to follow
        return Status;
    }
    // KeyLength is a signed byte: a key of more than 127 bytes cannot be described, so it is
    // refused before anything is copied into the key buffer.
    if (keyLength > MaxKeyLength) {
        Status = btr::status::KeyBufferTooShort;
        return Status;
    }
    KeyNumber = keyNumber;
    KeyLength = static_cast<int8_t>(keyLength);
    std::memcpy(KeyBuffer, key, keyLength);
    Call(op);
    return Status;
}

int16_t TWinBtr::Open(const char* fileName, const char* owner, uint8_t mode)
{
    // Neither text may be null; an absent one is taken as empty rather than crashing.
    if (!owner)
        owner = "";
    size_t ownerLength = std::strlen(owner);
    if (ownerLength != 0)
        ++ownerLength;
    return OpenWith(fileName, owner, static_cast<uint16_t>(ownerLength), mode);
}

int16_t TWinBtr::OpenWith(const char* fileName, const void* data, uint16_t length, uint8_t mode)
{
    if (IsOpen)
        Close();
    if (!fileName)
        fileName = "";
    const size_t nameLength = std::strlen(fileName);
    KeyLength = static_cast<int8_t>(static_cast<uint8_t>(nameLength));
    // Open reads its data buffer (the owner name, or a definition); it never writes into it.
    Status = callManager(
        btr::op::Open, const_cast<void*>(data), &length, const_cast<char*>(fileName), mode);
    if (!Ok())
        return Status;
    IsOpen = true;
    KeyNumber = DefaultKeyNumber;
    uint16_t recordLength = 0;
    if (GetRecordLength(recordLength) != btr::status::Success)
        return Status;
    AllocBuffer(recordLength);
    IsOpen = Ok();
    UseStep = IndexCount() == 0;
    return Status;
}

int16_t TWinBtr::Close()
{
    if (!IsOpen) {
        Status = btr::status::FileNotOpen;
        return Status;
    }
    uint8_t scratch[4] = {};
    CallWith(btr::op::Close, scratch, sizeof scratch);
    if (Ok()) {
        IsOpen = false;
        FreeBuffer();
        clearStat();
    }
    return Status;
}

int16_t TWinBtr::GetFirst()
{
    return Call(UseStep ? btr::op::StepFirst : btr::op::GetFirst);
}

int16_t TWinBtr::GetNext()
{
    return Call(UseStep ? btr::op::StepNext : btr::op::GetNext);
}

int16_t TWinBtr::GetLast()
{
    return Call(UseStep ? btr::op::StepLast : btr::op::GetLast);
}

int16_t TWinBtr::GetPrevious()
{
    return Call(UseStep ? btr::op::StepPrevious : btr::op::GetPrevious);
}

int16_t TWinBtr::StepFirst()
{
    return Call(btr::op::StepFirst);
}

int16_t TWinBtr::StepNext()
{
    return Call(btr::op::StepNext);
}

int16_t TWinBtr::StepLast()
{
    return Call(btr::op::StepLast);
}

int16_t TWinBtr::StepPrevious()
{
    return Call(btr::op::StepPrevious);
}

int16_t TWinBtr::getByValue(uint16_t op, const void* key, uint16_t length)
{
    if (!key) {
        Status = btr::status::InvalidKeyPath; // no key, so no key path to follow
        return Status;
    }
    if (length > KeyBufferLength) {
        Status = btr::status::KeyBufferTooShort;
        return Status;
    }
    std::memcpy(KeyBuffer, key, length);
    return Call(op);
}

int16_t TWinBtr::GetEqual()
{
    return Call(btr::op::GetEqual);
}

int16_t TWinBtr::GetEqual(const void* key, uint16_t length)
{
    return getByValue(btr::op::GetEqual, key, length);
}

int16_t TWinBtr::GetGreater()
{
    return Call(btr::op::GetGreater);
}

int16_t TWinBtr::GetGreater(const void* key, uint16_t length)
{
    return getByValue(btr::op::GetGreater, key, length);
}

int16_t TWinBtr::GetGreaterOrEqual()
{
    return Call(btr::op::GetGreaterOrEqual);
}

int16_t TWinBtr::GetGreaterOrEqual(const void* key, uint16_t length)
{
    return getByValue(btr::op::GetGreaterOrEqual, key, length);
}

int16_t TWinBtr::GetLess()
{
    return Call(btr::op::GetLess);
}

int16_t TWinBtr::GetLess(const void* key, uint16_t length)
{
    return getByValue(btr::op::GetLess, key, length);
}

int16_t TWinBtr::GetLessOrEqual()
{
    return Call(btr::op::GetLessOrEqual);
}

int16_t TWinBtr::GetLessOrEqual(const void* key, uint16_t length)
{
    return getByValue(btr::op::GetLessOrEqual, key, length);
}

int16_t TWinBtr::GetKey(uint16_t getOp)
{
    // The record manager neither reads nor writes the data buffer: the record there stays.
    uint16_t length = TakeDataLength();
    const auto op = static_cast<uint16_t>(getOp + btr::op::KeyOnly);
    LastOp = op;
    Status = callManager(op, DataPtr, &length, KeyBuffer, KeyNumber);
    ReturnedLength = 0;
    DataPtr = Buffer;
    return Status;
}

int16_t TWinBtr::callWithArgument(uint16_t op, uint32_t argument, int width, uint8_t keyNumber)
{
    if (!DataPtr || DataLength < 4) {
        Status = btr::status::DataBufferTooShort;
        DataPtr = Buffer;
        return Status;
    }
    btr::le::putN(static_cast<uint8_t*>(DataPtr), width, argument);
    const uint8_t kept = KeyNumber;
    KeyNumber = keyNumber;
    Call(op);
    KeyNumber = kept;
    return Status;
}

int16_t TWinBtr::GetDirect(int32_t position)
{
    return callWithArgument(btr::op::GetDirect, static_cast<uint32_t>(position), 4, orderKey());
}

int16_t TWinBtr::GetByPercentage(uint16_t percent)
{
    return callWithArgument(btr::op::GetByPercentage, percent, 2, orderKey());
}

int16_t TWinBtr::smallCall(uint16_t op, uint8_t (&data)[4], uint8_t keyNumber)
{
    uint16_t length = sizeof data;
    LastOp = op;
    Status = callManager(op, data, &length, KeyBuffer, keyNumber);
    DataPtr = Buffer;
    return Status;
}

int16_t TWinBtr::FindPercentage(uint16_t& percent)
{
    percent = 0;
    if (UseStep) {
        const int32_t position = GetPosition();
        return Ok() ? FindPercentage(position, percent) : Status;
    }
    uint8_t data[4] = {};
    if (smallCall(btr::op::FindPercentage, data, KeyNumber) == btr::status::Success)
        percent = static_cast<uint16_t>(btr::le::get32(data));
    return Status;
}

int16_t TWinBtr::FindPercentage(int32_t position, uint16_t& percent)
{
    percent = 0;
    uint8_t data[4] = {};
    btr::le::put32(data, static_cast<uint32_t>(position));
    if (smallCall(btr::op::FindPercentage, data, static_cast<uint8_t>(btr::NoKey))
        == btr::status::Success)
        percent = static_cast<uint16_t>(btr::le::get32(data));
    return Status;
}

int16_t TWinBtr::Insert()
{
    return Call(btr::op::Insert);
}

int16_t TWinBtr::Update()
{
    return Call(btr::op::Update);
}

int16_t TWinBtr::Delete()
{
    return Call(btr::op::Delete);
}

int16_t TWinBtr::BeginTransaction()
{
    uint8_t none[4] = {};
    return smallCall(btr::op::BeginTransaction, none, 0);
}

int16_t TWinBtr::EndTransaction()
{
    uint8_t none[4] = {};
    return smallCall(btr::op::EndTransaction, none, 0);
}

int16_t TWinBtr::AbortTransaction()
{
    uint8_t none[4] = {};
    return smallCall(btr::op::AbortTransaction, none, 0);
}

int32_t TWinBtr::GetPosition()
{
    uint8_t position[4] = {};
    CallWith(btr::op::GetPosition, position, sizeof position);
    const int32_t result = Ok() ? static_cast<int32_t>(btr::le::get32(position)) : 0;
    DataPtr = Buffer;
    return result;
}

int16_t TWinBtr::Stat()
{
    CallWith(btr::op::Stat, StatBuffer, sizeof StatBuffer);
    // A definition longer than 1920 bytes still fills the buffer with its first 1920 bytes.
    if (Status == btr::status::DataBufferTooShort)
        Status = btr::status::Success;
    if (!Ok())
        clearStat();
    return Status;
}

int16_t TWinBtr::StatTo(void* dest)
{
    Stat();
    std::memcpy(dest, StatBuffer, sizeof StatBuffer);
    return Status;
}

int16_t TWinBtr::GetRecordLength(uint16_t& length)
{
    if (!IsOpen) {
        length = 0;
        return Status;
    }
    if (btr::le::get16(StatBuffer + RecordLengthOffset) == 0)
        Stat();
    length = btr::le::get16(StatBuffer + RecordLengthOffset);
    return Status;
}

int16_t TWinBtr::GetRecordCount(int32_t& count)
{
    count = 0;
    if (IsOpen) {
        Stat();
        if (Ok())
            count = static_cast<int32_t>(btr::le::get32(StatBuffer + NumRecordsOffset));
    }
    return Status;
}

int16_t TWinBtr::GetIndexCount(uint16_t& count)
{
    count = 0;
    if (IsOpen) {
        Stat();
        count = btr::le::get16(StatBuffer + NumIndexesOffset);
    }
    return Status;
}

int32_t TWinBtr::RecordCount()
{
    int32_t count = 0;
    return GetRecordCount(count) == btr::status::Success ? count : 0;
}

uint16_t TWinBtr::IndexCount()
{
    uint16_t count = 0;
    return GetIndexCount(count) == btr::status::Success ? count : 0;
}

int16_t TWinBtr::GetFileFacts(uint8_t (&facts)[btr::facts::Size])
{
    CallWith(btr::op::FileFacts, facts, sizeof facts);
    if (!Ok())
        std::memset(facts, 0, sizeof facts);
    DataPtr = Buffer;
    return Status;
}

std::string TWinBtr::Reason(uint8_t* kind)
{
    char text[1024];
    uint16_t length = sizeof text;
    uint8_t key[btr::KeyBufferSize] = {};
    const int16_t s = callManager(btr::op::Reason, text, &length, key, 0);
    if (kind)
        *kind = s == btr::status::Success || s == btr::status::DataBufferTooShort
            ? key[0]
            : btr::reason::None;
    if (s != btr::status::Success && s != btr::status::DataBufferTooShort)
        return {};
    return std::string(text, std::min<size_t>(length, sizeof text));
}
