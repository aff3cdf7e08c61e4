// BTRCALLID: the record manager's one entry point.
//
// Checks the arguments, finds the open file from the caller's position block and hands the
// operation to the file. Position blocks hold a magic value, this process's instance number, a
// handle index and the handle's generation, never a pointer: a zeroed, closed, stale or forged
// block simply names no handle and answers 3.
#include "BtrCall.h"
#include "DataFile.h"
#include "LegacyDataFile.h"
#include "LittleEndian.h"
#include "Posix.h"
#include "Reason.h"
#include "Store.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <mutex>

namespace {

using namespace recman;
namespace st = btr::status;

constexpr uint32_t BlockMagic = 0x4b6e7256; // "VrnK" in the block's first bytes
constexpr int MaxFiles = 64;
constexpr int MaxHandles = 256;

struct OpenFile
{
    // Held from before the file is opened until after it is closed: other processes see through
    // its lock that the file is open here, and it is never closed while SQLite has the file open.
    posix::OpenFileLock lock;
    std::unique_ptr<DataFile> file; // destroyed first
    uint64_t device = 0;
    uint64_t inode = 0;
    int handles = 0;
    bool exclusive = false;
    int8_t salvageMode = 0;               // the salvage mode it was opened in, 0 for none
    std::array<int16_t, 256> keyIndex {}; // key number -> index in Definition::keys, or -1

    void reset()
    {
        file.reset(); // commits what is pending and closes SQLite's descriptors
        lock.close();
        device = inode = 0;
        handles = 0;
        exclusive = false;
        salvageMode = 0;
    }
};

struct Handle
{
    uint64_t generation = 0; // 0: free
    int file = -1;
    bool readOnly = false; // opened in read-only mode
    bool exclusive = false;
    bool ownerGiven = false; // an owner name came with Open
    std::unique_ptr<Cursor> cursor;
};

// What the position block holds.
struct BlockImage
{
    uint32_t magic;
    uint32_t instance;
    uint32_t index;
    uint32_t spare;
    uint64_t generation;
};
static_assert(sizeof(BlockImage) <= btr::PositionBlockSize);

class Manager
{
public:
    Manager()
    {
        // Blocks left over from another process never match this one's handles.
        auto seed
            = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        seed ^= static_cast<uint64_t>(posix::processId()) << 32;
        instance_ = static_cast<uint32_t>(seed ^ (seed >> 29));
        nextGeneration_ = (seed & 0xffffffff) + 1;
    }

    // At process exit: handles go first (their cursors belong to the files), then the files,
    // which commit what is still pending.
    ~Manager()
    {
        for (Handle& h : handles_) {
            if (h.generation != 0 && h.cursor)
                files_[h.file].file->releaseCursor(*h.cursor);
            h = Handle {};
        }
        for (OpenFile& f : files_)
            f.reset();
    }
    Manager(const Manager&) = delete;
    Manager& operator=(const Manager&) = delete;

    std::mutex mutex;

    int16_t call(uint16_t op, void* posBlock, void* data, uint16_t* dataLength, void* keyBuffer,
        uint8_t keyLength, uint8_t keyNumber, const uint8_t* clientId);

private:
    // A client's open transaction: the files it has written to since Begin.
    struct Transaction
    {
        std::array<uint8_t, btr::ClientIdSize> client {};
        uint64_t id = 0;
        std::vector<int> files;
    };
    void commitDueBundles();
    Handle* handleOf(const void* posBlock);
    int16_t open(void* posBlock, const void* data, const uint16_t* dataLength, void* keyBuffer,
        uint8_t keyLength, uint8_t keyNumber);
    int16_t salvageReport(Handle& h, void* data, uint16_t* dataLength);
    int16_t facts(Handle& h, void* data, uint16_t* dataLength);
    static int16_t reason(void* data, uint16_t* dataLength, void* keyBuffer, uint8_t keyLength);
    int16_t close(Handle& h, void* posBlock);
    int16_t create(
        void* data, uint16_t* dataLength, void* keyBuffer, uint8_t keyLength, uint8_t keyNumber);
    int16_t insert(Handle& h, void* data, uint16_t* dataLength, void* keyBuffer, uint8_t keyLength,
        uint8_t keyNumber, const uint8_t* client);
    int16_t update(Handle& h, void* data, uint16_t* dataLength, void* keyBuffer, uint8_t keyLength,
        uint8_t keyNumber, const uint8_t* client);
    int16_t remove(Handle& h, uint8_t keyNumber, const uint8_t* client);
    // The key a write positions on: -1 for the key number -1 or a file without keys; 6 or 21 when
    // the key number or the key buffer will not do.
    int16_t writeKey(const OpenFile& f, const void* keyBuffer, uint8_t keyLength, uint8_t keyNumber,
        int& keyIndex) const;
    // A write of `client` to file `file` may go ahead: inside the client's transaction (the file
    // joins it on its first write), or outside any; 85 while another client's transaction holds
    // the file.
    int16_t enterWrite(int file, const uint8_t* client);
    // 51 with its reason for a record read of an encrypted file opened without an owner name.
    static int16_t ownerCheck(const OpenFile& f, const Handle& h);
    int16_t read(uint16_t op, bool keyOnly, Handle& h, void* data, uint16_t* dataLength,
        void* keyBuffer, uint8_t keyLength, uint8_t keyNumber);
    int16_t getDirect(Handle& h, void* data, uint16_t* dataLength, void* keyBuffer,
        uint8_t keyLength, uint8_t keyNumber);
    int16_t percentage(uint16_t op, Handle& h, void* data, uint16_t* dataLength, void* keyBuffer,
        uint8_t keyLength, uint8_t keyNumber);
    // The key of a Get: 6 for a key number the file does not define, 1 without a key buffer, 21
    // when the key buffer is shorter than the key's value.
    int16_t readKey(const OpenFile& f, const void* keyBuffer, uint8_t keyLength, uint8_t keyNumber,
        int& keyIndex) const;
    Transaction* transactionOf(const uint8_t* client);
    int16_t beginTransaction(const uint8_t* client);
    int16_t endTransaction(const uint8_t* client, bool commit);
    // Closes a file no handle has open any more, unless a transaction still holds it: then it
    // goes when the transaction ends.
    void closeIfUnused(int file);
    int16_t stat(Handle& h, void* data, uint16_t* dataLength, void* keyBuffer, uint8_t keyLength);
    int16_t position(Handle& h, void* data, uint16_t* dataLength);
    int fileOf(uint64_t device, uint64_t inode) const;

    std::array<OpenFile, MaxFiles> files_;
    std::array<Handle, MaxHandles> handles_;
    std::vector<Transaction> transactions_; // the open ones, at most one per client
    uint64_t nextTransaction_ = 1;
    int usedFiles_ = 0; // files_[usedFiles_...] are all free
    uint32_t instance_ = 0;
    uint64_t nextGeneration_ = 1;
};

// The file name in a key buffer: NUL-terminated within the bytes offered, not empty.
int16_t fileName(const void* keyBuffer, uint8_t keyLength, std::string& name)
{
    if (!keyBuffer)
        return st::InvalidOperation;
    auto text = static_cast<const char*>(keyBuffer);
    auto end = static_cast<const char*>(std::memchr(text, '\0', keyLength));
    if (end == nullptr || end == text)
        return st::InvalidFileName;
    name.assign(text, end);
    return st::Success;
}

int16_t statusOfFailure(int error)
{
    switch (posix::classify(error)) {
    case posix::Failure::AccessDenied:
    case posix::Failure::NotPermitted:
        return st::AccessDenied;
    case posix::Failure::NameTooLong:
        return st::InvalidFileName;
    default:
        return st::FileNotFound;
    }
}

void Manager::commitDueBundles()
{
    auto now = std::chrono::steady_clock::time_point {};
    for (int i = 0; i < usedFiles_; ++i) {
        OpenFile& f = files_[i];
        if (!f.file || !f.file->writesPending())
            continue;
        if (now == std::chrono::steady_clock::time_point {})
            now = std::chrono::steady_clock::now();
        f.file->commitIfDue(now);
    }
}

Handle* Manager::handleOf(const void* posBlock)
{
    if (!posBlock)
        return nullptr;
    BlockImage b;
    std::memcpy(&b, posBlock, sizeof b);
    if (b.magic != BlockMagic || b.instance != instance_ || b.index >= handles_.size()
        || b.generation == 0)
        return nullptr;
    Handle& h = handles_[b.index];
    return h.generation == b.generation ? &h : nullptr;
}

int Manager::fileOf(uint64_t device, uint64_t inode) const
{
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].file && files_[i].device == device && files_[i].inode == inode)
            return static_cast<int>(i);
    }
    return -1;
}

int16_t Manager::call(uint16_t op, void* posBlock, void* data, uint16_t* dataLength,
    void* keyBuffer, uint8_t keyLength, uint8_t keyNumber, const uint8_t* clientId)
{
    if (op == btr::op::Reason)
        return reason(data, dataLength, keyBuffer, keyLength);
    forgetReason();
    commitDueBundles();
    // Get Key: any Get from Get Equal to Get Last with the key-only bias.
    const bool keyOnly
        = op >= btr::op::GetEqual + btr::op::KeyOnly && op <= btr::op::GetLast + btr::op::KeyOnly;
    if (keyOnly)
        op = static_cast<uint16_t>(op - btr::op::KeyOnly);
    switch (op) {
    case btr::op::Open:
        return open(posBlock, data, dataLength, keyBuffer, keyLength, keyNumber);
    case btr::op::Create:
        return create(data, dataLength, keyBuffer, keyLength, keyNumber);
    case btr::op::BeginTransaction:
    case btr::op::BeginConcurrentTransaction:
        return beginTransaction(clientId);
    case btr::op::EndTransaction:
    case btr::op::AbortTransaction:
        return endTransaction(clientId, op == btr::op::EndTransaction);
    case btr::op::Close:
    case btr::op::Insert:
    case btr::op::Update:
    case btr::op::Delete:
    case btr::op::GetEqual:
    case btr::op::GetNext:
    case btr::op::GetPrevious:
    case btr::op::GetGreater:
    case btr::op::GetGreaterOrEqual:
    case btr::op::GetLess:
    case btr::op::GetLessOrEqual:
    case btr::op::GetFirst:
    case btr::op::GetLast:
    case btr::op::Stat:
    case btr::op::GetPosition:
    case btr::op::GetDirect:
    case btr::op::StepNext:
    case btr::op::StepFirst:
    case btr::op::StepLast:
    case btr::op::StepPrevious:
    case btr::op::GetByPercentage:
    case btr::op::FindPercentage:
    case btr::op::SalvageReport:
    case btr::op::FileFacts:
        break;
    default:
        return st::InvalidOperation;
    }
    if (!posBlock)
        return st::InvalidOperation;
    Handle* h = handleOf(posBlock);
    if (!h)
        return st::FileNotOpen;
    switch (op) {
    case btr::op::Close:
        return close(*h, posBlock);
    case btr::op::Insert:
        return insert(*h, data, dataLength, keyBuffer, keyLength, keyNumber, clientId);
    case btr::op::Update:
        return update(*h, data, dataLength, keyBuffer, keyLength, keyNumber, clientId);
    case btr::op::Delete:
        return remove(*h, keyNumber, clientId);
    case btr::op::Stat:
        return stat(*h, data, dataLength, keyBuffer, keyLength);
    case btr::op::GetPosition:
        return position(*h, data, dataLength);
    case btr::op::GetDirect:
        return getDirect(*h, data, dataLength, keyBuffer, keyLength, keyNumber);
    case btr::op::GetByPercentage:
    case btr::op::FindPercentage:
        return percentage(op, *h, data, dataLength, keyBuffer, keyLength, keyNumber);
    case btr::op::SalvageReport:
        return salvageReport(*h, data, dataLength);
    case btr::op::FileFacts:
        return facts(*h, data, dataLength);
    default:
        return read(op, keyOnly, *h, data, dataLength, keyBuffer, keyLength, keyNumber);
    }
}

int16_t Manager::open(void* posBlock, const void* data, const uint16_t* dataLength, void* keyBuffer,
    uint8_t keyLength, uint8_t keyNumber)
{
    if (!posBlock)
        return st::InvalidOperation;
    std::string name;
    if (int16_t s = fileName(keyBuffer, keyLength, name))
        return s;
    const auto mode = static_cast<int8_t>(keyNumber);
    const bool salvage = mode == btr::mode::Salvage || mode == btr::mode::SalvageWholeOnly;
    if ((mode > btr::mode::Normal || mode < btr::mode::Exclusive) && !salvage)
        return st::InvalidOperation;
    // The data buffer carries the owner name; in a salvage mode it may carry instead the
    // definition to read a file with whose control records have lost theirs, as a definition
    // image, and the owner name after it.
    const auto* bytes = static_cast<const uint8_t*>(data);
    const uint16_t length = data && dataLength ? *dataLength : 0;
    Definition given;
    const bool haveGiven = salvage && length > btr::OwnerNameSize;
    size_t ownerAt = 0;
    if (haveGiven) {
        if (int16_t s = parseCreate(bytes, length, given))
            return s;
        ownerAt = size_t(given.imageSize());
    }
    const bool ownerGiven = ownerAt < length && bytes[ownerAt] != 0;

    // A block that still names an open handle is reused: that handle is closed first, so it
    // cannot be lost with its pending writes.
    if (Handle* old = handleOf(posBlock)) {
        if (int16_t s = close(*old, posBlock); s == st::FileInUse && handleOf(posBlock))
            return s;
    }

    int slot = -1;
    for (size_t i = 0; i < handles_.size() && slot < 0; ++i) {
        if (handles_[i].generation == 0)
            slot = static_cast<int>(i);
    }
    if (slot < 0)
        return st::HandleTableFull;

    posix::FileInfo info;
    if (int error = posix::fileInfo(name, info))
        return statusOfFailure(error);
    if (!info.regular)
        return st::FileNotFound;

    // A file this process has open is never opened (and closed) again here: closing any
    // descriptor of it would drop SQLite's locks on it.
    int fi = fileOf(info.device, info.inode);
    if (fi >= 0) {
        if (files_[fi].exclusive || mode == btr::mode::Exclusive
            || files_[fi].salvageMode != (salvage ? mode : 0))
            return st::IncompatibleMode;
    } else {
        for (size_t i = 0; i < files_.size() && fi < 0; ++i) {
            if (!files_[i].file)
                fi = static_cast<int>(i);
        }
        if (fi < 0)
            return st::FileTableFull;
        if (!posix::mayRead(name))
            return st::AccessDenied;
        OpenFile& f = files_[fi];
        if (int error = f.lock.open(name))
            return statusOfFailure(error);
        // What was opened is what counts: the name may have changed hands since it was looked at.
        if (f.lock.info(info) != 0 || !info.regular) {
            f.lock.close();
            return st::FileNotFound;
        }
        if (!f.lock.tryLock(mode == btr::mode::Exclusive)) {
            f.lock.close();
            return st::IncompatibleMode;
        }
        int16_t status = st::Success;
        std::unique_ptr<DataFile> file;
        int version = 0;
        if (isStoreFile(name, &version)) {
            // Salvage reads what the vendor's engine left; our own files are never damaged so.
            if (salvage) {
                f.lock.close();
                return st::OperationNotAllowed;
            }
            // A file of an earlier format is brought up to date by an open that may write and
            // has the file alone, and is held so while that happens.
            const bool writable = posix::mayWrite(name);
            const bool alone = writable && mode != btr::mode::ReadOnly
                && version < currentStoreVersion()
                && (mode == btr::mode::Exclusive || f.lock.tryLock(true));
            file = openStore(name, writable, alone, f.lock, status);
            if (alone && mode != btr::mode::Exclusive)
                f.lock.tryLock(false);
        } else if (salvage) {
            file = openLegacySalvage(
                name, mode == btr::mode::SalvageWholeOnly, haveGiven ? &given : nullptr, status);
        } else {
            file = openLegacyFile(name, status);
        }
        if (!file) {
            f.lock.close();
            return status != st::Success ? status : st::NotADataFile;
        }
        f.file = std::move(file);
        usedFiles_ = std::max(usedFiles_, fi + 1);
        f.device = info.device;
        f.inode = info.inode;
        f.handles = 0;
        f.exclusive = false;
        f.salvageMode = salvage ? mode : 0;
        f.keyIndex.fill(-1);
        const Definition& def = f.file->definition();
        for (size_t k = 0; k < def.keys.size(); ++k) {
            if (def.keys[k].number >= 0 && def.keys[k].number < 256)
                f.keyIndex[def.keys[k].number] = static_cast<int16_t>(k);
        }
    }

    OpenFile& f = files_[fi];
    Handle& h = handles_[slot];
    h.cursor = f.file->newCursor();
    h.file = fi;
    h.readOnly = mode == btr::mode::ReadOnly || salvage;
    h.exclusive = mode == btr::mode::Exclusive;
    h.ownerGiven = ownerGiven;
    h.generation = nextGeneration_++;
    ++f.handles;
    f.exclusive = f.exclusive || h.exclusive;

    BlockImage b {BlockMagic, instance_, static_cast<uint32_t>(slot), 0, h.generation};
    std::memset(posBlock, 0, btr::PositionBlockSize);
    std::memcpy(posBlock, &b, sizeof b);
    return st::Success;
}

int16_t Manager::close(Handle& h, void* posBlock)
{
    OpenFile& f = files_[h.file];
    int16_t s = f.file->commit();
    if (s == st::FileInUse && f.file->writesPending())
        return s; // nothing is dropped: the handle stays open and Close may be tried again
    f.file->releaseCursor(*h.cursor);
    h.cursor.reset();
    if (h.exclusive)
        f.exclusive = false;
    h = Handle {};
    --f.handles;
    closeIfUnused(static_cast<int>(&f - files_.data()));
    std::memset(posBlock, 0, sizeof(BlockImage));
    return s;
}

void Manager::closeIfUnused(int file)
{
    OpenFile& f = files_[file];
    if (!f.file || f.handles > 0 || f.file->transactionOwner() != 0)
        return;
    f.reset(); // commits what is pending
    while (usedFiles_ > 0 && !files_[usedFiles_ - 1].file)
        --usedFiles_;
}

int16_t Manager::create(
    void* data, uint16_t* dataLength, void* keyBuffer, uint8_t keyLength, uint8_t keyNumber)
{
    if (!data || !dataLength)
        return st::InvalidOperation;
    std::string name;
    if (int16_t s = fileName(keyBuffer, keyLength, name))
        return s;
    const auto how = static_cast<int8_t>(keyNumber);
    if (how != btr::create::Replace && how != btr::create::NoReplace)
        return st::InvalidOperation;
    Definition def;
    const auto image = static_cast<const uint8_t*>(data);
    if (int16_t s = parseCreate(image, *dataLength, def))
        return s;
    posix::FileInfo info;
    // Held through the replacement: no process can open the old file meanwhile.
    posix::OpenFileLock replaced;
    if (posix::fileInfo(name, info) == 0) {
        if (how == btr::create::NoReplace)
            return st::FileAlreadyExists;
        if (!info.regular)
            return st::CreateIoError;
        // Open here: looking inside would mean opening and closing it, which drops SQLite's locks.
        if (fileOf(info.device, info.inode) >= 0)
            return st::FileInUse;
        if (replaced.open(name) != 0 || replaced.info(info) != 0 || !info.regular)
            return st::CreateIoError;
        if (!replaced.tryLock(true))
            return st::FileInUse; // another process has it open
        // A file written by the vendor's engine is only ever read here: replacing it would lose
        // the user's data.
        if (isLegacyFile(name))
            return st::OperationNotAllowed;
    }
    return createStore(
        name, def, image, static_cast<size_t>(def.imageSize()), how == btr::create::Replace);
}

int16_t Manager::writeKey(const OpenFile& f, const void* keyBuffer, uint8_t keyLength,
    uint8_t keyNumber, int& keyIndex) const
{
    const Definition& def = f.file->definition();
    keyIndex = -1;
    // A file without keys has no key to position on: the key number is not looked at.
    if (def.keys.empty() || static_cast<int8_t>(keyNumber) == btr::NoKey)
        return st::Success;
    keyIndex = f.keyIndex[keyNumber];
    if (keyIndex < 0)
        return st::InvalidKeyNumber;
    if (!keyBuffer)
        return st::InvalidOperation;
    if (keyLength < def.keys[keyIndex].totalLength())
        return st::KeyBufferTooShort;
    return st::Success;
}

int16_t Manager::enterWrite(int file, const uint8_t* client)
{
    DataFile& f = *files_[file].file;
    const uint64_t owner = f.transactionOwner();
    Transaction* t = transactionOf(client);
    if (!t)
        return owner == 0 ? st::Success : st::FileInUse;
    if (owner == t->id)
        return st::Success;
    if (owner != 0)
        return st::FileInUse;
    if (int16_t s = f.joinTransaction(t->id))
        return s;
    t->files.push_back(file);
    return st::Success;
}

int16_t Manager::insert(Handle& h, void* data, uint16_t* dataLength, void* keyBuffer,
    uint8_t keyLength, uint8_t keyNumber, const uint8_t* client)
{
    OpenFile& f = files_[h.file];
    if (f.file->readOnly())
        return st::OperationNotAllowed;
    if (h.readOnly)
        return st::AccessDenied;
    if (!data || !dataLength)
        return st::InvalidOperation;
    const Definition& def = f.file->definition();
    const uint16_t length = *dataLength;
    if (length < def.recordLength || (!def.variableLength() && length != def.recordLength))
        return st::DataBufferTooShort;
    int keyIndex = -1;
    if (int16_t s = writeKey(f, keyBuffer, keyLength, keyNumber, keyIndex))
        return s;
    if (int16_t s = enterWrite(h.file, client))
        return s;
    return f.file->insert(
        *h.cursor, static_cast<uint8_t*>(data), length, keyIndex, static_cast<uint8_t*>(keyBuffer));
}

int16_t Manager::update(Handle& h, void* data, uint16_t* dataLength, void* keyBuffer,
    uint8_t keyLength, uint8_t keyNumber, const uint8_t* client)
{
    OpenFile& f = files_[h.file];
    if (f.file->readOnly())
        return st::OperationNotAllowed;
    if (h.readOnly)
        return st::AccessDenied;
    if (!data || !dataLength)
        return st::InvalidOperation;
    int keyIndex = -1;
    if (int16_t s = writeKey(f, keyBuffer, keyLength, keyNumber, keyIndex))
        return s;
    if (!h.cursor->hasCurrent)
        return st::InvalidPositioning;
    const Definition& def = f.file->definition();
    const uint16_t length = *dataLength;
    if (length < def.recordLength || (!def.variableLength() && length != def.recordLength))
        return st::DataBufferTooShort;
    if (int16_t s = enterWrite(h.file, client))
        return s;
    return f.file->update(*h.cursor, static_cast<const uint8_t*>(data), length, keyIndex,
        static_cast<uint8_t*>(keyBuffer));
}

int16_t Manager::remove(Handle& h, uint8_t keyNumber, const uint8_t* client)
{
    OpenFile& f = files_[h.file];
    if (f.file->readOnly())
        return st::OperationNotAllowed;
    if (h.readOnly)
        return st::AccessDenied;
    // Delete returns no key value: only the key number is looked at.
    static const uint8_t anyKeyBuffer[1] = {};
    int keyIndex = -1;
    if (int16_t s = writeKey(f, anyKeyBuffer, UINT8_MAX, keyNumber, keyIndex))
        return s;
    if (!h.cursor->hasCurrent)
        return st::InvalidPositioning;
    if (int16_t s = enterWrite(h.file, client))
        return s;
    return f.file->remove(*h.cursor, keyIndex);
}

Manager::Transaction* Manager::transactionOf(const uint8_t* client)
{
    for (Transaction& t : transactions_) {
        if (std::memcmp(t.client.data(), client, t.client.size()) == 0)
            return &t;
    }
    return nullptr;
}

int16_t Manager::beginTransaction(const uint8_t* client)
{
    if (transactionOf(client))
        return st::TransactionActive;
    if (transactions_.size() >= MaxHandles)
        return st::HandleTableFull;
    Transaction t;
    std::memcpy(t.client.data(), client, t.client.size());
    t.id = nextTransaction_++;
    transactions_.push_back(std::move(t));
    return st::Success;
}

int16_t Manager::endTransaction(const uint8_t* client, bool commit)
{
    Transaction* t = transactionOf(client);
    if (!t)
        return st::NoTransaction;
    int16_t status = st::Success;
    for (int file : t->files) {
        OpenFile& f = files_[file];
        if (!f.file || f.file->transactionOwner() != t->id)
            continue;
        const int16_t s = f.file->endTransaction(commit);
        if (status == st::Success)
            status = s;
    }
    const std::vector<int> files = std::move(t->files);
    transactions_.erase(transactions_.begin() + (t - transactions_.data()));
    for (int file : files)
        closeIfUnused(file);
    return status;
}

int16_t Manager::readKey(const OpenFile& f, const void* keyBuffer, uint8_t keyLength,
    uint8_t keyNumber, int& keyIndex) const
{
    keyIndex = f.keyIndex[keyNumber];
    if (keyIndex < 0)
        return st::InvalidKeyNumber;
    if (!keyBuffer)
        return st::InvalidOperation;
    if (keyLength < f.file->definition().keys[keyIndex].totalLength())
        return st::KeyBufferTooShort;
    return st::Success;
}

// The data length a read answers: the record's length; on 22 the length offered stays (as much as
// fits was copied); a Get Key returns no data.
void returnedLength(int16_t s, const ReadTarget& t, uint16_t* dataLength)
{
    if (t.keyOnly) {
        if (s == st::Success)
            *dataLength = 0;
    } else if (s == st::Success) {
        *dataLength = t.length;
    } else if (s == st::InvalidKeyPath) {
        *dataLength = std::min(t.length, t.capacity);
    }
}

int16_t Manager::ownerCheck(const OpenFile& f, const Handle& h)
{
    // Varnok cannot check an owner name against the file: whoever gives one may read it.
    if (f.file->ownerNameRequired() && !h.ownerGiven) {
        explain(btr::reason::OwnerName, "its records are encrypted under an owner name");
        return st::OwnerNameRequired;
    }
    return st::Success;
}

int16_t Manager::read(uint16_t op, bool keyOnly, Handle& h, void* data, uint16_t* dataLength,
    void* keyBuffer, uint8_t keyLength, uint8_t keyNumber)
{
    OpenFile& f = files_[h.file];
    DataFile& file = *f.file;
    Cursor& c = *h.cursor;
    if (!dataLength || (!data && !keyOnly))
        return st::InvalidOperation;
    if (int16_t s = ownerCheck(f, h))
        return s;
    ReadTarget t;
    t.data = keyOnly ? nullptr : static_cast<uint8_t*>(data);
    t.capacity = keyOnly ? 0 : *dataLength;
    t.keyOnly = keyOnly;
    int16_t s = st::Success;
    if (op == btr::op::StepFirst || op == btr::op::StepLast || op == btr::op::StepNext
        || op == btr::op::StepPrevious) {
        if (file.definition().keyOnly())
            return st::OperationNotAllowed;
        if (op == btr::op::StepFirst)
            s = file.stepFirst(c, t);
        else if (op == btr::op::StepLast)
            s = file.stepLast(c, t);
        else if (!c.hasPhysical)
            return st::InvalidPositioning;
        else
            s = op == btr::op::StepNext ? file.stepNext(c, t) : file.stepPrevious(c, t);
        returnedLength(s, t, dataLength);
        return s;
    }

    int keyIndex = -1;
    if ((s = readKey(f, keyBuffer, keyLength, keyNumber, keyIndex)))
        return s;
    t.keyValue = static_cast<uint8_t*>(keyBuffer);
    const auto* value = static_cast<const uint8_t*>(keyBuffer);
    switch (op) {
    case btr::op::GetFirst:
        s = file.getFirst(c, keyIndex, t);
        break;
    case btr::op::GetLast:
        s = file.getLast(c, keyIndex, t);
        break;
    case btr::op::GetNext:
    case btr::op::GetPrevious:
        if (c.keyIndex < 0)
            return st::InvalidPositioning;
        if (c.keyIndex != keyIndex)
            return st::DifferentKeyNumber;
        s = op == btr::op::GetNext ? file.getNext(c, t) : file.getPrevious(c, t);
        break;
    case btr::op::GetEqual:
        s = file.getByValue(c, keyIndex, Match::Equal, value, t);
        break;
    case btr::op::GetGreater:
        s = file.getByValue(c, keyIndex, Match::Greater, value, t);
        break;
    case btr::op::GetGreaterOrEqual:
        s = file.getByValue(c, keyIndex, Match::GreaterOrEqual, value, t);
        break;
    case btr::op::GetLess:
        s = file.getByValue(c, keyIndex, Match::Less, value, t);
        break;
    default:
        s = file.getByValue(c, keyIndex, Match::LessOrEqual, value, t);
        break;
    }
    returnedLength(s, t, dataLength);
    return s;
}

int16_t Manager::getDirect(Handle& h, void* data, uint16_t* dataLength, void* keyBuffer,
    uint8_t keyLength, uint8_t keyNumber)
{
    OpenFile& f = files_[h.file];
    if (!data || !dataLength)
        return st::InvalidOperation;
    if (int16_t s = ownerCheck(f, h))
        return s;
    if (*dataLength < 4)
        return st::DataBufferTooShort;
    int keyIndex = -1;
    if (static_cast<int8_t>(keyNumber) != btr::NoKey) {
        if (int16_t s = readKey(f, keyBuffer, keyLength, keyNumber, keyIndex))
            return s;
    }
    ReadTarget t;
    t.data = static_cast<uint8_t*>(data);
    t.capacity = *dataLength;
    t.keyValue = keyIndex >= 0 ? static_cast<uint8_t*>(keyBuffer) : nullptr;
    const int16_t s = f.file->getDirect(*h.cursor, btr::le::get32(data), keyIndex, t);
    returnedLength(s, t, dataLength);
    return s;
}

int16_t Manager::percentage(uint16_t op, Handle& h, void* data, uint16_t* dataLength,
    void* keyBuffer, uint8_t keyLength, uint8_t keyNumber)
{
    OpenFile& f = files_[h.file];
    if (!data || !dataLength)
        return st::InvalidOperation;
    if (*dataLength < 4)
        return st::DataBufferTooShort;
    int keyIndex = -1;
    if (static_cast<int8_t>(keyNumber) != btr::NoKey) {
        if (int16_t s = readKey(f, keyBuffer, keyLength, keyNumber, keyIndex))
            return s;
    } else if (f.file->definition().keyOnly()) {
        return st::OperationNotAllowed; // no physical order to count in
    }
    if (int16_t s = ownerCheck(f, h))
        return s;
    if (op == btr::op::FindPercentage) {
        uint32_t percent = 0;
        const int16_t s = f.file->findPercentage(
            keyIndex, static_cast<const uint8_t*>(keyBuffer), btr::le::get32(data), percent);
        if (s == st::Success) {
            btr::le::put32(data, percent);
            *dataLength = 4;
        }
        return s;
    }
    const uint16_t percent = btr::le::get16(data);
    if (percent > btr::WholePercentage)
        return st::InvalidOperation;
    ReadTarget t;
    t.data = static_cast<uint8_t*>(data);
    t.capacity = *dataLength;
    t.keyValue = keyIndex >= 0 ? static_cast<uint8_t*>(keyBuffer) : nullptr;
    const int16_t s = f.file->getByPercentage(*h.cursor, keyIndex, percent, t);
    returnedLength(s, t, dataLength);
    return s;
}

int16_t Manager::stat(
    Handle& h, void* data, uint16_t* dataLength, void* keyBuffer, uint8_t keyLength)
{
    if (!data || !dataLength || !keyBuffer)
        return st::InvalidOperation;
    DataFile& file = *files_[h.file].file;
    LiveFigures live;
    if (int16_t s = file.liveFigures(live))
        return s;
    live.keyValues.resize(file.definition().keys.size());
    const std::vector<uint8_t> image
        = file.definition().statImage(live.records, live.keyValues, live.unusedPages);
    const size_t n = std::min<size_t>(image.size(), *dataLength);
    std::memcpy(data, image.data(), n);
    if (keyLength > 0)
        static_cast<uint8_t*>(keyBuffer)[0] = 0;
    *dataLength = static_cast<uint16_t>(std::min<size_t>(image.size(), 0xffff));
    return image.size() > n ? st::DataBufferTooShort : st::Success;
}

int16_t Manager::salvageReport(Handle& h, void* data, uint16_t* dataLength)
{
    if (!data || !dataLength)
        return st::InvalidOperation;
    std::vector<uint8_t> report;
    if (int16_t s = files_[h.file].file->salvageReport(report))
        return s;
    const size_t n = std::min<size_t>(report.size(), *dataLength);
    std::memcpy(data, report.data(), n);
    *dataLength = static_cast<uint16_t>(report.size());
    return report.size() > n ? st::DataBufferTooShort : st::Success;
}

int16_t Manager::facts(Handle& h, void* data, uint16_t* dataLength)
{
    namespace at = btr::facts::at;
    if (!data || !dataLength)
        return st::InvalidOperation;
    const FormatFacts f = files_[h.file].file->formatFacts();
    uint8_t image[btr::facts::Size] = {};
    btr::le::put16(image + at::Version, btr::facts::LayoutVersion);
    btr::le::put16(image + at::Size, btr::facts::Size);
    image[at::Family] = f.family;
    image[at::OwnerMode] = f.ownerMode;
    btr::le::put16(image + at::FormatVersion, f.version);
    btr::le::put16(image + at::Features, f.features);
    image[at::Cipher] = f.cipher;
    const size_t n = std::min<size_t>(sizeof image, *dataLength);
    std::memcpy(data, image, n);
    *dataLength = btr::facts::Size;
    return n < sizeof image ? st::DataBufferTooShort : st::Success;
}

int16_t Manager::reason(void* data, uint16_t* dataLength, void* keyBuffer, uint8_t keyLength)
{
    if (!data || !dataLength)
        return st::InvalidOperation;
    if (keyBuffer && keyLength > 0)
        static_cast<uint8_t*>(keyBuffer)[0] = lastReasonKind();
    const std::string& text = lastReason();
    const size_t n = std::min<size_t>(text.size(), *dataLength);
    std::memcpy(data, text.data(), n);
    *dataLength = static_cast<uint16_t>(std::min<size_t>(text.size(), 0xffff));
    return text.size() > n ? st::DataBufferTooShort : st::Success;
}

int16_t Manager::position(Handle& h, void* data, uint16_t* dataLength)
{
    if (!data || !dataLength)
        return st::InvalidOperation;
    if (*dataLength < 4)
        return st::DataBufferTooShort;
    uint32_t pos = 0;
    if (int16_t s = files_[h.file].file->getPosition(*h.cursor, pos))
        return s;
    btr::le::put32(data, pos);
    *dataLength = 4;
    return st::Success;
}

Manager& manager()
{
    static Manager m;
    return m;
}

} // namespace

extern "C" int16_t VARNOK_BTR_CALL BTRCALLID(uint16_t op, void* posBlock, void* data,
    uint16_t* dataLength, void* keyBuffer, uint8_t keyLength, uint8_t keyNumber, void* clientId)
{
    // Transactions belong to the client: a null id is the all-zero one.
    static const uint8_t noClient[btr::ClientIdSize] = {};
    const auto* client = clientId ? static_cast<const uint8_t*>(clientId) : noClient;
    Manager& m = manager();
    std::lock_guard lock(m.mutex);
    try {
        return m.call(op, posBlock, data, dataLength, keyBuffer, keyLength, keyNumber, client);
    } catch (...) {
        // Nothing may unwind through the C entry point; the only exception possible here is a
        // failure to obtain memory.
        return st::IoError;
    }
}
