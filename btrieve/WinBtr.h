// TWinBtr: one data file as seen through the record manager.
//
// The object owns the file's position block, a key buffer, a record buffer sized to the file's
// record length and a cached copy of the file's definition (the last Stat result). Every
// operation keeps the record manager's status in Status and returns it; nothing throws.
#pragma once

#include "BtrCall.h"
#include "FileFacts.h"

#include <cstdint>
#include <string>

class TWinBtr
{
public:
    static constexpr uint8_t DefaultKeyNumber = 0;

    // Create: clientId points to 16 bytes, or is null for an all-zero client id.
    explicit TWinBtr(const void* clientId = nullptr);
    // Destroy: closes an open file (whatever the outcome), then releases the record buffer.
    virtual ~TWinBtr();

    TWinBtr(const TWinBtr&) = delete;
    TWinBtr& operator=(const TWinBtr&) = delete;

    void AllocBuffer(uint16_t size);
    void FreeBuffer();
    void SetDataPtr(void* p);
    uint16_t TakeDataLength();
    void ClearKey(uint16_t n);
    void ClearLockBias() { LockBias = 0; }
    int16_t GetStatus();
    bool Ok() { return GetStatus() == btr::status::Success; }

    int16_t Call(uint16_t op);
    int16_t CallWith(uint16_t op, void* data, int length);
    // Places a key of 0 to 127 bytes in KeyBuffer and makes one data call with it.
    virtual int16_t CallByKey(uint16_t op, const void* key, uint8_t keyLength, uint8_t keyNumber);

    int16_t Open(const char* fileName, const char* owner, uint8_t mode);
    // Open with `length` bytes of `data` in the data buffer (Open calls it with the owner name;
    // a salvage open with a definition image).
    int16_t OpenWith(const char* fileName, const void* data, uint16_t length, uint8_t mode);
    int16_t Close();
    // Reads. Keyed reads use KeyNumber and return the entry's key value in KeyBuffer; with UseStep
    // (a file without keys) GetFirst, GetNext, GetLast and GetPrevious step in physical order. The
    // record comes into the data buffer (Buffer, or what SetDataPtr chose for this one call).
    int16_t GetFirst();
    int16_t GetNext();
    int16_t GetLast();
    int16_t GetPrevious();
    int16_t StepFirst();
    int16_t StepNext();
    int16_t StepLast();
    int16_t StepPrevious();
    // Gets by key value: the whole key value, in the record's own bytes, is the one in KeyBuffer,
    // or `key` (`length` bytes, at most 255) placed there first: 44 without a key, 21 when it is
    // longer. GetEqual leaves KeyBuffer as it was given; the others return the found value there.
    int16_t GetEqual();
    int16_t GetEqual(const void* key, uint16_t length);
    int16_t GetGreater();
    int16_t GetGreater(const void* key, uint16_t length);
    int16_t GetGreaterOrEqual();
    int16_t GetGreaterOrEqual(const void* key, uint16_t length);
    int16_t GetLess();
    int16_t GetLess(const void* key, uint16_t length);
    int16_t GetLessOrEqual();
    int16_t GetLessOrEqual(const void* key, uint16_t length);
    // The Get Key form of any Get from Get Equal to Get Last (`getOp`): only the key value comes
    // back, in KeyBuffer; the data buffer is left as it is.
    int16_t GetKey(uint16_t getOp);
    // The record at `position` (as GetPosition gives it), positioned on KeyNumber at that very
    // entry; with UseStep, or KeyNumber btr::NoKey, on no key.
    int16_t GetDirect(int32_t position);
    // The record `percent` hundredths of a percent into KeyNumber's order (physical order with
    // UseStep or btr::NoKey), 0 to btr::WholePercentage.
    int16_t GetByPercentage(uint16_t percent);
    // Where the first entry of the key value in KeyBuffer lies in KeyNumber's order, in
    // hundredths of a percent; with UseStep, the current record in physical order.
    int16_t FindPercentage(uint16_t& percent);
    // Where the record at `position` lies in physical order.
    int16_t FindPercentage(int32_t position, uint16_t& percent);
    int16_t Insert();
    // Replaces the current record by the data buffer's DataLength bytes (the record length unless
    // set, as for Insert), on KeyNumber; Delete removes the current record.
    int16_t Update();
    int16_t Delete();
    // Transactions of this object's client id, across every file it has open.
    int16_t BeginTransaction();
    int16_t EndTransaction();
    int16_t AbortTransaction();
    int32_t GetPosition();
    int16_t Stat();
    int16_t StatTo(void* dest);
    int16_t GetRecordLength(uint16_t& length);
    int16_t GetRecordCount(int32_t& count);
    int16_t GetIndexCount(uint16_t& count);
    int32_t RecordCount();
    uint16_t IndexCount();
    // Why the record manager answered the last call as it did, in its words ("compressed records
    // of version 9.5 ..."); empty when it gave no reason, or when the record manager linked is
    // one that has no such operation. Leaves Status and every buffer as they were. `kind`, when
    // given, receives what kind of reason it is (btr::reason: not a record-manager file, a version
    // or feature not read, damaged, owner name needed), btr::reason::None when there is none.
    std::string Reason(uint8_t* kind = nullptr);
    // What the open file is beyond its definition: its format and version, the features it uses
    // and its owner name's access mode, in the layout of FileFacts.h. Zeros when the call fails
    // (a record manager that has no such operation answers 1). Leaves the record buffer as it
    // was.
    int16_t GetFileFacts(uint8_t (&facts)[btr::facts::Size]);

    // The object's state, public so that a command can fill the key buffer, choose the key
    // number, point the next data call at another buffer or read the record between calls, as
    // Create and Copy do.
    int16_t Status = 0;
    uint16_t LastOp = 0;
    // Size of Buffer. Kept unsigned so that a buffer of 32768 bytes or more (a long
    // variable-length record) still reads as its real size.
    uint16_t BufferSize = 0;
    uint16_t DataLength = 0;
    int8_t KeyLength = 0;
    uint8_t* Buffer = nullptr;
    void* DataPtr = nullptr;
    bool IsOpen = false;
    uint8_t KeyBuffer[btr::KeyBufferSize] = {};
    uint8_t PositionBlock[btr::PositionBlockSize] = {};
    uint8_t StatBuffer[btr::SpecBufferSize] = {};
    uint8_t KeyNumber = DefaultKeyNumber;
    uint16_t LockBias = 0;
    int32_t RecordPosition = 0;
    bool UseStep = false;
    bool AcceptShortBuffer = false;
    uint8_t ClientId[btr::ClientIdSize] = {};
    // Data length the record manager returned on the last data call (the length of the record
    // a Get read); 0 before the first one.
    uint16_t ReturnedLength = 0;

private:
    int16_t callManager(uint16_t op, void* data, uint16_t* length, void* key, uint8_t keyNumber);
    // A Get by key value: `key` placed in KeyBuffer first.
    int16_t getByValue(uint16_t op, const void* key, uint16_t length);
    // A data call whose first data bytes carry an argument (a position, a percentage).
    int16_t callWithArgument(uint16_t op, uint32_t argument, int width, uint8_t keyNumber);
    // A call that returns 4 bytes of its own (Find Percentage, the transactions) and leaves the
    // record buffer alone.
    int16_t smallCall(uint16_t op, uint8_t (&data)[4], uint8_t keyNumber);
    uint8_t orderKey() const { return UseStep ? static_cast<uint8_t>(btr::NoKey) : KeyNumber; }
    void clearStat();
};
