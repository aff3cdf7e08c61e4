#include "LegacyWriter.h"

#include "ByteVector.h"
#include "LittleEndian.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace legacytest {

namespace {

using btr::le::get16;
using btr::le::get32;
using btr::le::put16;
using btr::le::put32;
using recman::Key;
using recman::Segment;
namespace keyflag = recman::keyflag;

// The writer spells the format out from the format notes on its own, apart from the reader, so that
// a misreading in one is not copied into the other.
constexpr uint32_t FirstKeySpec = 0x110;
constexpr uint8_t PageData = 'D';
constexpr uint8_t PageVariable = 'V';
constexpr uint8_t PageAcs = 'A';
constexpr uint16_t DataPageBit = 0x8000;
// 5.x fragment table entries: the fragment begins with the pointer to the next one.
constexpr uint16_t FragmentLinked = 0x8000;
constexpr uint16_t UnusedFragment = 0xFFFF;
// What freed slots and stale copies hold instead of records: a reader that returns such bytes
// read something no table or usage count gives it.
constexpr uint8_t Ghost = 0xEE;
// A fragment is given room for its pointer and at least one byte. Fragment numbers are one byte
// in the older formats; 255 would make the pointer all 0xFF (the end of a chain) on page 0xFFFFFF.
constexpr uint32_t MaxFragmentsPerPage = 255;
// Out-of-order placement: the pages of each block of 16 physical places are dealt with stride 7.
constexpr uint32_t ScatterBlock = 16;
constexpr uint32_t ScatterStride = 7;
constexpr uint32_t MaxPageNumber = 0xFFFFFF; // page numbers are three bytes in the older formats
constexpr uint32_t NoLink = 0xFFFFFFFF;
constexpr uint32_t MinRun = 5; // runs shorter than this stay in literal blocks
// The newer format's key table and specs: past every field of the control record's first 512
// bytes (so, at 512-byte pages, on the structure's second page).
constexpr uint32_t NewerKeyTable = 0x200;
constexpr uint16_t NewerSystemData = 0x0200;
constexpr uint16_t NewerVariableTail = 0x0800;
constexpr uint32_t UnusedEntry = 0xFFFFFFFE;

enum class Family { V5, V6, V8, V95 };

Family familyOf(uint16_t version)
{
    if (version < 0x0600)
        return Family::V5;
    if (version < 0x0800)
        return Family::V6;
    return version == Version95 ? Family::V95 : Family::V8;
}

bool newer(Family f)
{
    return f == Family::V8 || f == Family::V95;
}

// Where each family keeps what every family has.
struct Sizes
{
    uint32_t dataHeader;     // slots begin here
    uint32_t variableHeader; // fragments begin here
    uint32_t fragmentCount;  // 16-bit, on a variable page
    uint32_t pointerSize;    // a pointer to a fragment
    uint32_t specSize;       // a key segment spec
    uint32_t stamp;          // 32-bit usage count of control records and tables
    uint32_t pageUsage;      // a page's usage count
    uint32_t tableEntries;   // where a table's entries begin
    uint32_t entrySize;
    uint32_t acsBlock; // a collating-sequence page's block
};

Sizes sizesOf(Family f)
{
    switch (f) {
    case Family::V5:
        return {6, 12, 10, 4, 30, 0, 4, 0, 0, 6};
    case Family::V6:
        return {6, 12, 10, 4, 30, 4, 4, 8, 4, 6};
    case Family::V8:
        return {8, 16, 0x0E, 6, 36, 6, 6, 0x14, 6, 8};
    case Family::V95:
        break;
    }
    return {10, 18, 0x10, 6, 36, 8, 8, 0x10, 8, 8};
}

// Two 16-bit words, high word first.
void putHiLo(uint8_t* p, uint32_t v)
{
    put16(p, uint16_t(v >> 16));
    put16(p + 2, uint16_t(v));
}

uint32_t getHiLo(const uint8_t* p)
{
    return (uint32_t(get16(p)) << 16) | get16(p + 2);
}

// 6.x page headers and allocation table entries: [high][type][low][middle].
void putPageRef(uint8_t* p, uint32_t page, uint8_t type)
{
    p[0] = uint8_t(page >> 16);
    p[1] = type;
    p[2] = uint8_t(page);
    p[3] = uint8_t(page >> 8);
}

// Pointers to variable parts and collating-sequence pages in key specs: [high][low][middle].
void putScattered(uint8_t* p, uint32_t page)
{
    p[0] = uint8_t(page >> 16);
    p[1] = uint8_t(page);
    p[2] = uint8_t(page >> 8);
}

class File
{
public:
    File(const std::filesystem::path& path, int flags)
    {
        fd_ = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
        if (fd_ < 0)
            fail("cannot open " + path.string());
    }
    ~File() { ::close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    void write(uint64_t offset, const uint8_t* bytes, size_t length)
    {
        transfer(::pwrite, offset, bytes, length, "cannot write");
    }
    void read(uint64_t offset, uint8_t* bytes, size_t length)
    {
        transfer(::pread, offset, bytes, length, "cannot read");
    }
    void resize(uint64_t size)
    {
        if (::ftruncate(fd_, off_t(size)) != 0)
            fail("cannot size");
    }

private:
    // pread or pwrite until the whole range is done.
    template <typename Io, typename Byte>
    void transfer(Io io, uint64_t offset, Byte* bytes, size_t length, const char* what)
    {
        while (length > 0) {
            ssize_t done = io(fd_, bytes, length, off_t(offset));
            if (done < 0 && errno == EINTR)
                continue;
            if (done <= 0)
                fail(what);
            bytes += done;
            offset += uint64_t(done);
            length -= size_t(done);
        }
    }
    [[noreturn]] static void fail(const std::string& what)
    {
        throw std::runtime_error(what + ": " + std::strerror(errno));
    }
    int fd_ = -1;
};

// A page being filled: data pages count their slots, variable pages their fragments.
struct OpenPage
{
    std::vector<uint8_t> bytes;
    uint32_t number = 0; // logical page (6.x and newer) or page number (5.x)
    uint32_t physical = 0;
    uint32_t used = 0; // slots handed out, or fragment-table entries taken
    uint32_t freeStart = 0;
    std::vector<uint16_t> fragments; // fragment table entries, in fragment order
    bool open = false;
};

class Writer
{
public:
    Writer(const std::filesystem::path& path, const LegacyFileSpec& spec)
        : spec_(spec)
        , def_(spec.definition)
        , family_(familyOf(spec.version))
        , tabled_(family_ != Family::V5)
        , sizes_(sizesOf(family_))
        , pageSize_(def_.pageSize)
        , compressed_(def_.fileFlags & recman::fileflag::Compressed)
        , path_(path)
    {
        if (newer(family_)) {
            unit_ = std::max<uint32_t>(2, 2048 / std::max<uint32_t>(pageSize_, 1));
            entries_ = unit_ * pageSize_ * 15 / (16 * sizes_.entrySize) - 2 * unit_;
            firstPair_ = 4 * unit_;
        } else {
            entries_ = (pageSize_ - 8) / 4;
        }
    }

    WrittenLayout run();

private:
    void validate();
    uint32_t pairPage(uint32_t k) const { return firstPair_ + (k - 1) * (entries_ + 2 * unit_); }
    uint32_t allocatePhysical();
    void allocate(OpenPage& page, uint8_t type);
    void writePage(uint32_t physical, const uint8_t* bytes, uint32_t pages = 1)
    {
        file_->write(uint64_t(physical) * pageSize_, bytes, size_t(pages) * pageSize_);
    }
    // The page's own number (5.x), or its logical number and type; then the usage count (of a
    // data page, 16 bits with the data-page bit).
    void putHeader(uint8_t* page, uint32_t number, uint8_t type, uint32_t usage) const;
    // A pointer to a fragment, or the end of a chain.
    void putPointer(uint8_t* at, uint32_t page, uint32_t fragment) const;
    void putEnd(uint8_t* at) const;
    void writeAcsPages();
    void placeRecord(const std::vector<uint8_t>& record);
    uint32_t nextSlot();
    void freeSlot(uint8_t* bytes, uint32_t slot);
    uint8_t* slotAt(uint32_t slot)
    {
        return data_.bytes.data() + sizes_.dataHeader + slot * slotLength_;
    }
    // A record's address: 5.x and 6.x the slot's byte offset (6.x counted in logical pages), newer
    // logical page << b | slot.
    uint32_t addressOf(uint32_t slot) const
    {
        if (newer(family_))
            return data_.number << addressBits_ | slot;
        return data_.number * pageSize_ + sizes_.dataHeader + slot * slotLength_;
    }
    void flushDataPage();
    void placeVariablePart(const uint8_t* bytes, size_t length, uint8_t* pointer);
    void placeVariableTail(const uint8_t* bytes, size_t length, uint8_t* pointer);
    std::pair<uint32_t, uint32_t> nextFragmentPlace();
    void enterVariablePage(uint32_t number);
    void flushVariablePage();
    void writeStaleCopy(std::vector<uint8_t> page, uint32_t logical, uint32_t ghostFrom);
    void linkDuplicates(
        const std::vector<uint8_t>& record, uint8_t* slot, uint32_t address, uint64_t slotOffset);
    void patchLink(uint64_t offset, uint32_t address);
    std::vector<uint8_t> controlRecord(uint32_t usage, uint32_t records) const;
    void putOwner(uint8_t* fcr) const;
    void writeKeySpecs(uint8_t* fcr, uint32_t first) const;
    void writeTables(WrittenLayout& layout);
    uint32_t currentCopyOf(uint32_t pair) const;
    void encrypt(const WrittenLayout& layout);

    const LegacyFileSpec& spec_;
    const recman::Definition& def_;
    const Family family_;
    const bool tabled_;
    const Sizes sizes_;
    const uint32_t pageSize_;
    const bool compressed_;
    const std::filesystem::path path_;
    uint32_t unit_ = 1;        // pages per control record or table
    uint32_t entries_ = 0;     // per allocation table
    uint32_t firstPair_ = 2;   // physical page of pair 1
    std::optional<File> file_; // opened once the specification has been checked

    // The slot: where its parts lie.
    uint32_t recordOffset_ = 0; // the record (uncompressed)
    uint32_t pointerAt_ = 0;    // the variable part's or the stream's pointer
    uint32_t flagAt_ = 0;       // compressed: the in-use byte
    uint32_t systemAt_ = 0;     // the system data
    uint32_t freeLinkAt_ = 0;   // where a free slot links the next one
    uint32_t slotLength_ = 0;
    uint32_t slotsPerPage_ = 0;
    uint32_t addressBits_ = 4;             // newer format
    std::vector<uint32_t> duplicateLinks_; // per key: offset of its links in the slot, or 0

    uint32_t nextLogical_ = 1;  // files with tables
    uint32_t nextPlace_ = 0;    // places handed out to pages, before scattering
    uint32_t nextPage5_ = 1;    // 5.x
    uint32_t lastPhysical_ = 0; // highest physical page written
    uint32_t pairs_ = 0;        // allocation table pairs
    std::vector<uint32_t> physicalOf_ {0};
    std::vector<uint8_t> typeOf_ {0};
    std::map<uint32_t, uint32_t> shadowPhysical_; // logical -> stale copy the shadow table names
    std::vector<uint32_t> stalePages_;
    std::vector<uint32_t> acsPages_; // page of each collating sequence

    OpenPage data_;
    OpenPage variable_;
    std::optional<OpenPage> reservedVariable_;
    uint64_t slotOrdinal_ = 0;
    uint64_t fragmentOrdinal_ = 0;
    uint32_t freedSlots_ = 0;
    uint32_t lastFreed_ = NoLink; // head of the deleted-record chain
    uint32_t dataPages_ = 0;
    uint32_t variablePages_ = 0;
    std::vector<uint8_t> stream_, tail_;

    // Linked duplicates: per key, the last record of each value (its address and where its link
    // to the next one lies in the file).
    struct LastOfValue
    {
        uint32_t address;
        uint64_t nextLinkAt;
    };
    std::vector<std::map<std::vector<uint8_t>, LastOfValue, testsupport::BytesLess>> lastOfValue_;
};

void Writer::validate()
{
    auto refuse = [](const std::string& why) { throw std::invalid_argument(why); };
    const uint16_t v = spec_.version;
    if (!(v == 0x0300 || v == 0x0400 || v == 0x0500 || (v >= 0x0600 && v < 0x0700)
            || (v >= Version80 && v <= Version90) || v == Version95))
        refuse("versions 3.x to 6.x, 8.x, 9.0 and 9.5 only, 5.x as 0x0300/0x0400/0x0500");
    if (pageSize_ < 512 || pageSize_ > 4096 || pageSize_ % 512 != 0)
        refuse("page size must be 512 to 4096 in steps of 512");
    if (def_.fileFlags & ~uint16_t(0x000B))
        refuse("only the variable-length, blank-truncation and compressed file flags can be laid "
               "out");
    if (!tabled_ && (spec_.staleEvery || spec_.scatter))
        refuse("5.x files have no allocation tables, hence no stale copies or scattered pages");
    if (!newer(family_) && (spec_.systemData || spec_.variableTail))
        refuse("system data and variable-tail tables are of the newer format");
    if (spec_.variableTail && (!def_.variableLength() || compressed_ || spec_.tailBlock == 0))
        refuse("variable-tail tables need uncompressed variable-length records");
    if (spec_.owner.set && (spec_.owner.mode > 3 || spec_.owner.rule < 1 || spec_.owner.rule > 2))
        refuse("an owner name's mode is 0 to 3, its rule 1 or 2");
    if (spec_.usageCount < 1)
        refuse("the usage count must leave room for a lower shadow");
    if (spec_.freeSlotEvery == 1)
        refuse("freeing every slot leaves no room for records");
    if (!spec_.rule && spec_.records > 0)
        refuse("no record rule");
    if (def_.recordLength < 1)
        refuse("record length must be at least 1");
    const size_t acsLimit = spec_.version == Version61 ? 255 : 1;
    if (def_.acsBlocks.size() > acsLimit)
        refuse("this version keeps one collating sequence");
    for (const auto& block : def_.acsBlocks)
        if (block.signature() != recman::AcsSignature)
            refuse("a collating sequence must begin with 0xAC");
    size_t segments = 0;
    for (const Key& key : def_.keys) {
        if (key.segments.empty())
            refuse("a key without segments");
        if (key.totalLength() > 255)
            refuse("a key longer than 255 bytes");
        for (size_t s = 0; s < key.segments.size(); ++s) {
            const Segment& seg = key.segments[s];
            bool last = s + 1 == key.segments.size();
            if (bool(seg.flags & keyflag::Segmented) == last)
                refuse("Segmented must be set on every segment of a key but its last");
            if (seg.position < 1 || seg.length < 1
                || seg.position + seg.length - 1 > def_.recordLength)
                refuse("a segment lies outside the record");
            if ((seg.flags & keyflag::Acs) && seg.acsNumber >= def_.acsBlocks.size())
                refuse("a segment names a collating sequence the file does not have");
        }
        segments += key.segments.size();
    }
    const size_t tableSize = tabled_ ? 2 * def_.keys.size() : 0;
    const size_t specsEnd = newer(family_) ? NewerKeyTable + tableSize + sizes_.specSize * segments
                                           : FirstKeySpec + sizes_.specSize * segments + tableSize;
    if (segments > 255 || specsEnd > size_t(unit_) * pageSize_)
        refuse("the key specs do not fit the control record");
}

void Writer::putHeader(uint8_t* page, uint32_t number, uint8_t type, uint32_t usage) const
{
    switch (family_) {
    case Family::V5:
        putHiLo(page, number);
        put16(page + 4, uint16_t(usage));
        return;
    case Family::V6:
        putPageRef(page, number, type);
        put16(page + 4, uint16_t(usage));
        return;
    case Family::V8:
    case Family::V95:
        break;
    }
    put32(page, number);
    put16(page + 4, type);
    // A data page's header ends with a 16-bit usage count; other pages keep 32 bits.
    if (type == PageData)
        put16(page + sizes_.pageUsage, uint16_t(usage));
    else
        put32(page + sizes_.pageUsage, usage);
}

void Writer::putPointer(uint8_t* at, uint32_t page, uint32_t fragment) const
{
    if (newer(family_)) {
        put32(at, page);
        put16(at + 4, uint16_t(fragment));
    } else {
        putScattered(at, page);
        at[3] = uint8_t(fragment);
    }
}

void Writer::putEnd(uint8_t* at) const
{
    std::fill_n(at, sizes_.pointerSize, 0xFF);
}

uint32_t Writer::allocatePhysical()
{
    uint32_t place = nextPlace_++;
    if (spec_.scatter)
        place = place / ScatterBlock * ScatterBlock
            + place % ScatterBlock * ScatterStride % ScatterBlock;
    // Every run of N + 2U pages from the first pair begins with a table pair; pages go to the N
    // after it.
    uint32_t physical
        = firstPair_ + 2 * unit_ + place / entries_ * (entries_ + 2 * unit_) + place % entries_;
    if (physical > MaxPageNumber)
        throw std::invalid_argument("more pages than three-byte page numbers reach");
    lastPhysical_ = std::max(lastPhysical_, physical);
    return physical;
}

void Writer::allocate(OpenPage& page, uint8_t type)
{
    page.bytes.assign(pageSize_, 0);
    page.used = 0;
    page.freeStart = sizes_.variableHeader;
    page.fragments.clear();
    page.open = true;
    if (tabled_) {
        if (nextLogical_ > MaxPageNumber)
            throw std::invalid_argument("more pages than three-byte page numbers reach");
        page.number = nextLogical_++;
        page.physical = allocatePhysical();
    } else {
        page.number = page.physical = nextPage5_++;
        lastPhysical_ = std::max(lastPhysical_, page.physical);
    }
    // Records are addressed by their byte offset, counted in logical pages in 6.x files.
    if (!newer(family_) && (uint64_t(page.number) + 1) * pageSize_ > UINT32_MAX)
        throw std::invalid_argument("more pages than 32-bit record addresses reach");
    physicalOf_.push_back(page.physical);
    typeOf_.push_back(type);
}

// The collating sequences come first: in 5.x files the one sequence is page 1, in 6.x and newer
// files each has a logical page of type "A" from 1 on. Usage count 0, the 265-byte block after
// the header.
void Writer::writeAcsPages()
{
    for (const auto& block : def_.acsBlocks) {
        OpenPage page;
        allocate(page, PageAcs);
        putHeader(page.bytes.data(), page.number, PageAcs, 0);
        std::copy(block.bytes.begin(), block.bytes.end(), page.bytes.begin() + sizes_.acsBlock);
        writePage(page.physical, page.bytes.data());
        acsPages_.push_back(page.number);
    }
}

// A freed slot holds no record: its usage count (or in-use byte) 0, the link to the next freed
// slot where the family keeps the chain, and bytes that must not be read.
void Writer::freeSlot(uint8_t* bytes, uint32_t slot)
{
    std::fill(bytes, bytes + slotLength_, Ghost);
    if (compressed_)
        bytes[flagAt_] = 0;
    else if (tabled_)
        put16(bytes, 0);
    // Deleted records chain from the control record, the last deleted first (6.x keeps no head).
    if (family_ == Family::V6) {
        if (compressed_)
            putHiLo(bytes, NoLink);
        return;
    }
    if (newer(family_))
        put32(bytes + freeLinkAt_, lastFreed_);
    else
        putHiLo(bytes + freeLinkAt_, lastFreed_);
    if (family_ == Family::V5 && !compressed_)
        std::fill(bytes + 4, bytes + slotLength_, 0); // zeros after the link
    lastFreed_ = addressOf(slot);
}

// The next slot a record goes in, past the slots left freed; opens data pages as they fill.
uint32_t Writer::nextSlot()
{
    for (;;) {
        if (!data_.open || data_.used == slotsPerPage_) {
            if (data_.open)
                flushDataPage();
            allocate(data_, PageData);
        }
        uint32_t slot = data_.used++;
        uint64_t ordinal = slotOrdinal_++;
        if (spec_.freeSlotEvery == 0 || ordinal % spec_.freeSlotEvery != spec_.freeSlotEvery - 1)
            return slot;
        freeSlot(slotAt(slot), slot);
        ++freedSlots_;
    }
}

void Writer::placeRecord(const std::vector<uint8_t>& record)
{
    if (record.size() < def_.recordLength
        || (!def_.variableLength() && record.size() != def_.recordLength) || record.size() > 65535)
        throw std::invalid_argument("the rule gave a record of the wrong length");
    uint32_t slot = nextSlot();
    uint8_t* bytes = slotAt(slot);
    std::fill(bytes, bytes + slotLength_, 0);
    if (spec_.systemData) {
        // The engine's own bytes: a number that differs from record to record.
        put32(bytes + systemAt_, uint32_t(slotOrdinal_ * 2654435761u));
        put32(bytes + systemAt_ + 4, uint32_t(slotOrdinal_));
    }
    if (compressed_) {
        bytes[flagAt_] = 1;
        stream_ = compressRecord(record);
        placeVariablePart(stream_.data(), stream_.size(), bytes + pointerAt_);
    } else {
        if (tabled_)
            put16(bytes, 1);
        std::copy_n(record.begin(), def_.recordLength, bytes + recordOffset_);
        const uint8_t* variable = record.data() + def_.recordLength;
        const size_t length = record.size() - def_.recordLength;
        if (spec_.variableTail)
            placeVariableTail(variable, length, bytes + pointerAt_);
        else if (def_.variableLength())
            placeVariablePart(variable, length, bytes + pointerAt_);
    }
    linkDuplicates(record, bytes, addressOf(slot),
        uint64_t(data_.physical) * pageSize_ + sizes_.dataHeader + slot * slotLength_);
}

void Writer::flushDataPage()
{
    uint8_t* bytes = data_.bytes.data();
    putHeader(bytes, data_.number, PageData, DataPageBit | 2);
    writePage(data_.physical, bytes);
    if (spec_.staleEvery && dataPages_ % spec_.staleEvery == 0)
        writeStaleCopy(data_.bytes, data_.number, 0);
    ++dataPages_;
    data_.open = false;
}

// Where the next fragment goes (page number, fragment number): on the open variable page while it
// has room, else on a new page, taken now so that a pointer to it can be written first. Now and
// then an entry of the page's table is left unused.
std::pair<uint32_t, uint32_t> Writer::nextFragmentPlace()
{
    const uint32_t minRoom = sizes_.pointerSize + 1;
    auto fits = [&](uint32_t extra) {
        return variable_.open && variable_.used + extra < MaxFragmentsPerPage
            && variable_.freeStart + minRoom + 2 * (variable_.used + extra + 2) <= pageSize_;
    };
    if (fits(0)) {
        if (spec_.unusedFragmentEvery && ++fragmentOrdinal_ % spec_.unusedFragmentEvery == 0
            && fits(1)) {
            variable_.fragments.push_back(UnusedFragment);
            ++variable_.used;
        }
        return {variable_.number, variable_.used};
    }
    if (!reservedVariable_) {
        reservedVariable_.emplace();
        allocate(*reservedVariable_, PageVariable);
    }
    return {reservedVariable_->number, 0};
}

void Writer::enterVariablePage(uint32_t number)
{
    if (variable_.open && variable_.number == number)
        return;
    if (variable_.open)
        flushVariablePage();
    variable_ = std::move(*reservedVariable_);
    reservedVariable_.reset();
}

void Writer::placeVariablePart(const uint8_t* bytes, size_t length, uint8_t* pointer)
{
    putEnd(pointer);
    if (length == 0)
        return;
    const size_t linkSize = sizes_.pointerSize;
    auto [page, fragment] = nextFragmentPlace();
    for (size_t done = 0;;) {
        putPointer(pointer, page, fragment);
        enterVariablePage(page);
        // Room for this fragment once its table entry and the free-space entry are counted.
        const size_t room = pageSize_ - 2 * (variable_.used + 2) - variable_.freeStart;
        const size_t remaining = length - done;
        const size_t limit = spec_.fragmentLimit ? spec_.fragmentLimit : room;
        size_t linkBytes = linkSize;
        size_t payload = std::min({remaining, room - linkSize, limit});
        if (family_ == Family::V5 && remaining <= std::min(room, limit)) {
            linkBytes = 0; // 5.x: the last fragment carries no pointer
            payload = remaining;
        }
        uint8_t* at = variable_.bytes.data() + variable_.freeStart;
        std::copy_n(bytes + done, payload, at + linkBytes);
        variable_.fragments.push_back(uint16_t(
            variable_.freeStart | (family_ == Family::V5 && linkBytes ? FragmentLinked : 0)));
        variable_.freeStart += uint32_t(linkBytes + payload);
        ++variable_.used;
        done += payload;
        if (done == length) {
            if (linkBytes)
                putEnd(at);
            return;
        }
        pointer = at;
        std::tie(page, fragment) = nextFragmentPlace();
    }
}

// A variable tail: the variable part in chains of at most tailBlock bytes, each listed by an entry
// [page][fragment][length] in a chain of its own, which the slot points to; the slot keeps the
// variable part's length.
void Writer::placeVariableTail(const uint8_t* bytes, size_t length, uint8_t* pointer)
{
    constexpr size_t EntrySize = 10;
    tail_.assign((length + spec_.tailBlock - 1) / spec_.tailBlock * EntrySize, 0);
    for (size_t done = 0, entry = 0; done < length; done += spec_.tailBlock, entry += EntrySize) {
        const size_t piece = std::min<size_t>(spec_.tailBlock, length - done);
        placeVariablePart(bytes + done, piece, tail_.data() + entry);
        put32(tail_.data() + entry + 6, uint32_t(piece));
    }
    const std::vector<uint8_t> entries = tail_;
    placeVariablePart(entries.data(), entries.size(), pointer);
    put32(pointer + sizes_.pointerSize, uint32_t(length));
}

void Writer::flushVariablePage()
{
    uint8_t* bytes = variable_.bytes.data();
    putHeader(bytes, variable_.number, PageVariable, 2);
    // Before the fragment count: a 4-byte link to another page (none here).
    put32(bytes + sizes_.fragmentCount - 4, NoLink);
    put16(bytes + sizes_.fragmentCount, uint16_t(variable_.used));
    // The fragment table grows backward from the end; after the last fragment's entry comes the
    // start of the free space, which ends the last fragment.
    for (size_t n = 0; n < variable_.fragments.size(); ++n)
        put16(bytes + pageSize_ - 2 - 2 * n, variable_.fragments[n]);
    put16(bytes + pageSize_ - 2 - 2 * variable_.used, uint16_t(variable_.freeStart));
    writePage(variable_.physical, bytes);
    if (spec_.staleEvery && variablePages_ % spec_.staleEvery == 0)
        writeStaleCopy(variable_.bytes, variable_.number, variable_.freeStart);
    ++variablePages_;
    variable_.open = false;
}

// An older copy of a page: the same header with a lower usage count (as in every real file seen),
// its records (or fragments, from the variable header to `ghostFrom`) overwritten. Every other one
// is what the shadow table still names.
void Writer::writeStaleCopy(std::vector<uint8_t> page, uint32_t logical, uint32_t ghostFrom)
{
    if (ghostFrom) {
        putHeader(page.data(), logical, PageVariable, 1);
        std::fill(page.begin() + sizes_.variableHeader, page.begin() + ghostFrom, Ghost);
    } else {
        putHeader(page.data(), logical, PageData, DataPageBit | 1);
        for (uint32_t s = 0; s < slotsPerPage_; ++s) {
            uint8_t* slot = page.data() + sizes_.dataHeader + s * slotLength_;
            const bool used = compressed_ ? slot[flagAt_] == 1 : get16(slot) != 0;
            if (!used)
                continue;
            const uint32_t from = compressed_ ? 0 : recordOffset_;
            std::fill(slot + from, slot + slotLength_, Ghost);
            if (compressed_)
                slot[flagAt_] = 1;
        }
    }
    uint32_t physical = allocatePhysical();
    writePage(physical, page.data());
    if (stalePages_.size() % 2 == 0)
        shadowPhysical_[logical] = physical;
    stalePages_.push_back(physical);
}

// Records of equal value on a key with linked duplicates form a chain in the order they were
// added: 8 bytes in the slot, the previous and the next record's address (hi/lo, all 0xFF for
// none). Records whose key is null are in no chain. The newer format's pointers are left at
// "none": their layout is not known.
void Writer::linkDuplicates(
    const std::vector<uint8_t>& record, uint8_t* slot, uint32_t address, uint64_t slotOffset)
{
    std::vector<uint8_t> value;
    for (size_t k = 0; k < def_.keys.size(); ++k) {
        const uint32_t links = duplicateLinks_[k];
        if (!links)
            continue;
        std::fill_n(slot + links, 8, 0xFF);
        if (newer(family_))
            continue;
        const Key& key = def_.keys[k];
        value.clear();
        bool anyNull = false, allNull = true;
        for (const Segment& seg : key.segments) {
            auto begin = record.begin() + seg.position - 1;
            bool null = std::all_of(
                begin, begin + seg.length, [&](uint8_t b) { return b == seg.nullValue; });
            anyNull |= null;
            allNull &= null;
            value.insert(value.end(), begin, begin + seg.length);
        }
        if ((key.nullAll() && allNull) || (key.nullAny() && anyNull))
            continue;
        auto [last, fresh] = lastOfValue_[k].try_emplace(value, LastOfValue {address, 0});
        if (!fresh) {
            putHiLo(slot + links, last->second.address);
            patchLink(last->second.nextLinkAt, address);
            last->second.address = address;
        }
        last->second.nextLinkAt = slotOffset + links + 4;
    }
}

void Writer::patchLink(uint64_t offset, uint32_t address)
{
    uint64_t pageStart = uint64_t(data_.physical) * pageSize_;
    if (data_.open && offset >= pageStart && offset < pageStart + pageSize_) {
        putHiLo(data_.bytes.data() + (offset - pageStart), address);
        return;
    }
    uint8_t link[4];
    putHiLo(link, address);
    file_->write(offset, link, sizeof link);
}

void Writer::writeKeySpecs(uint8_t* fcr, uint32_t first) const
{
    uint32_t offset = first;
    const uint32_t table = newer(family_)
        ? NewerKeyTable
        : FirstKeySpec + sizes_.specSize * uint32_t(def_.segmentCount());
    // Positions: 5.x and compressed files 0-based in the record, 6.x counting the slot's usage
    // prefix, newer files 0-based in the slot.
    const uint32_t base = compressed_ ? 0 : recordOffset_;
    for (size_t k = 0; k < def_.keys.size(); ++k) {
        const Key& key = def_.keys[k];
        if (tabled_)
            put16(fcr + table + 2 * k, uint16_t(offset));
        const uint32_t total = uint32_t(key.totalLength());
        const uint32_t entry = total + 8 + (key.duplicates() ? 4 : 0);
        const uint32_t most = (pageSize_ - 12) / entry;
        for (size_t s = 0; s < key.segments.size(); ++s, offset += sizes_.specSize) {
            const Segment& seg = key.segments[s];
            uint8_t* spec = fcr + offset;
            putHiLo(spec + 0x00, NoLink); // no index pages are written
            if (!newer(family_))
                putHiLo(spec + 0x04, key.segments.front().numKeyValues);
            put16(spec + 0x08, seg.flags);
            put16(spec + 0x0A, uint16_t(total));
            put16(spec + 0x0C, uint16_t(entry));
            put16(spec + 0x0E, uint16_t(most));
            put16(spec + 0x10, uint16_t(most / 2));
            put16(spec + 0x12, uint16_t(s == 0 ? duplicateLinks_[k] : 0));
            put16(spec + 0x14, uint16_t(base + seg.position - 1));
            put16(spec + 0x16, seg.length);
            if (family_ == Family::V6 && (seg.flags & keyflag::Acs))
                putScattered(spec + 0x19, acsPages_[seg.acsNumber]);
            spec[0x1C] = seg.extType;
            spec[0x1D] = seg.nullValue;
        }
    }
}

void Writer::putOwner(uint8_t* fcr) const
{
    if (!spec_.owner.set)
        return;
    std::copy(spec_.owner.block.begin(), spec_.owner.block.end(), fcr + 0x2E);
    fcr[0x37] = spec_.owner.mode;
}

std::vector<uint8_t> Writer::controlRecord(uint32_t usage, uint32_t records) const
{
    std::vector<uint8_t> fcr(size_t(unit_) * pageSize_, 0);
    uint8_t* p = fcr.data();
    // The version is stored negated when an owner name is set.
    const uint16_t version = spec_.owner.set ? uint16_t(0 - spec_.version) : spec_.version;
    if (newer(family_)) {
        p[0] = 'F';
        p[1] = 'C';
        put16(p + 4, 'C');
        put32(p + sizes_.stamp, usage);
        put16(p + 0x14, uint16_t(def_.keys.size()));
        put16(p + 0x16, compressed_ ? 0 : def_.recordLength);
        put16(p + 0x18, uint16_t(slotLength_));
        put32(p + 0x1C, records);
        putHiLo(p + 0x26, nextLogical_); // the highest logical page + 1
        put16(p + 0x2A, uint16_t(pageSize_));
        if (!def_.acsBlocks.empty())
            std::copy_n(def_.acsBlocks[0].name(), 8, p + 0x3C);
        put16(p + 0x4A, version);
        put16(p + 0x4C, uint16_t(pairs_));
        uint32_t links = 0;
        for (uint32_t l : duplicateLinks_)
            links = links ? links : l;
        put16(p + 0x72, uint16_t(links));
        put16(p + 0x76, uint16_t(def_.keys.size()));
        put16(p + 0x78, uint16_t(def_.segmentCount()));
        put16(p + 0x7A, uint16_t(NewerKeyTable));
        put32(p + 0xA0, lastFreed_);
        uint16_t flags = def_.fileFlags;
        if (spec_.systemData)
            flags |= NewerSystemData;
        if (spec_.variableTail)
            flags |= NewerVariableTail;
        put16(p + 0x190, flags);
        put16(p + 0x192, compressed_ ? def_.recordLength : 0);
        putOwner(p);
        writeKeySpecs(p, NewerKeyTable + 2 * uint32_t(def_.keys.size()));
        return fcr;
    }
    if (tabled_) {
        p[0] = 'F';
        p[1] = 'C';
        put32(p + 0x04, usage);
    } else {
        put16(p + 0x04, uint16_t(usage));
        p[0x07] = uint8_t(version >> 8);
    }
    put16(p + 0x08, uint16_t(pageSize_));
    putHiLo(p + 0x10, tabled_ ? NoLink : lastFreed_);
    put16(p + 0x14, uint16_t(def_.keys.size()));
    put16(p + 0x16, compressed_ ? 0 : def_.recordLength);
    put16(p + 0x18, uint16_t(slotLength_));
    putHiLo(p + 0x1A, records);
    if (def_.variableLength())
        p[0x38] = (def_.fileFlags & 0x0002) ? 0xFD : 0xFF;
    put16(p + 0x106, def_.fileFlags);
    if (compressed_)
        put16(p + 0x10E, def_.recordLength);
    if (tabled_) {
        putHiLo(p + 0x26, nextLogical_); // the highest logical page + 1
        if (!def_.acsBlocks.empty())
            std::copy_n(def_.acsBlocks[0].name(), 8, p + 0x3C);
        put16(p + 0x4A, version);
        put16(p + 0x50, uint16_t(pairs_)); // table pairs (0x4C holds something else)
        put32(p + 0x52, 0);                // no free logical pages
        p[0x76] = uint8_t(def_.keys.size());
        p[0x77] = uint8_t(def_.segmentCount());
        put16(p + 0x78, uint16_t(FirstKeySpec + sizes_.specSize * uint32_t(def_.segmentCount())));
    } else {
        putHiLo(p + 0x26, lastPhysical_ + 1); // pages in the file
    }
    putOwner(p);
    writeKeySpecs(p, FirstKeySpec);
    return fcr;
}

uint32_t Writer::currentCopyOf(uint32_t pair) const
{
    switch (spec_.current) {
    case CurrentCopy::First:
        return 0;
    case CurrentCopy::Second:
        return 1;
    case CurrentCopy::Alternating:
        break;
    }
    return pair == 0 ? 1 : pair % 2;
}

void Writer::writeTables(WrittenLayout& layout)
{
    const uint32_t usedLogical = nextLogical_ - 1;
    pairs_ = layout.pairs = std::max<uint32_t>(1, (usedLogical + entries_ - 1) / entries_);
    const size_t bytes = size_t(unit_) * pageSize_;
    std::vector<uint8_t> current(bytes), shadow(bytes);
    auto putEntry
        = [this](std::vector<uint8_t>& table, uint32_t e, uint32_t physical, uint8_t type) {
              uint8_t* entry = table.data() + sizes_.tableEntries + sizes_.entrySize * (e - 1);
              if (!newer(family_)) {
                  putPageRef(entry, physical, type);
                  return;
              }
              put32(entry, type ? physical : UnusedEntry);
              put16(entry + 4, type);
          };
    for (uint32_t k = 1; k <= layout.pairs; ++k) {
        const uint32_t first = pairPage(k);
        std::fill(current.begin(), current.end(), 0);
        for (uint32_t e = 1; e <= entries_; ++e) {
            const uint32_t logical = (k - 1) * entries_ + e;
            if (logical <= usedLogical)
                putEntry(current, e, physicalOf_[logical], typeOf_[logical]);
            else
                putEntry(current, e, first + 1 + e, 0); // unused: type 0 over the page it would get
        }
        shadow = current;
        for (auto [logical, stale] : shadowPhysical_)
            if ((logical - 1) / entries_ + 1 == k)
                putEntry(shadow, (logical - 1) % entries_ + 1, stale, typeOf_[logical]);
        for (auto* page : {&current, &shadow}) {
            uint8_t* p = page->data();
            if (newer(family_)) {
                put32(p, k | uint32_t('P') << 24);
                put16(p + 4, 'P');
            } else {
                p[0] = 'P';
                p[1] = 'P';
                put16(p + 2, uint16_t(k));
            }
        }
        put32(current.data() + sizes_.stamp, spec_.usageCount);
        put32(shadow.data() + sizes_.stamp, spec_.usageCount - 1);
        const uint32_t at = first + currentCopyOf(k) * unit_;
        writePage(at, current.data(), unit_);
        writePage(at == first ? first + unit_ : first, shadow.data(), unit_);
        layout.currentTable.push_back(at);
    }
}

// Encrypted data: every byte past the control records XORed with a byte of the owner block's
// first 8, chosen by the byte's file offset (rule 1) or by its place in its page (rule 2).
void Writer::encrypt(const WrittenLayout& layout)
{
    const auto& key = spec_.owner.block;
    std::vector<uint8_t> page(pageSize_);
    for (uint32_t p = layout.controlPages(); p < layout.physicalPages; ++p) {
        const uint64_t at = uint64_t(p) * pageSize_;
        file_->read(at, page.data(), pageSize_);
        for (uint32_t o = 0; o < pageSize_; ++o)
            page[o]
                ^= spec_.owner.rule == 1 ? key[(at + o) % 8] : key[2 * ((o / 256) % 4) + (o % 2)];
        file_->write(at, page.data(), pageSize_);
    }
}

WrittenLayout Writer::run()
{
    validate();
    lastPhysical_ = tabled_ ? 2 * unit_ - 1 : 0; // the control records
    const bool variable = def_.variableLength();
    const uint32_t system = spec_.systemData ? 8 : 0;
    if (compressed_) {
        // The pointer to the stream, the in-use byte, and what the family keeps after it.
        pointerAt_ = 0;
        flagAt_ = sizes_.pointerSize;
        freeLinkAt_ = 0;
        systemAt_ = sizes_.pointerSize + 3;
        slotLength_ = family_ == Family::V5 ? 5 : family_ == Family::V6 ? 7 : 9 + system;
    } else {
        recordOffset_ = tabled_ ? 2 + system : 0;
        systemAt_ = 2;
        freeLinkAt_ = newer(family_) ? 2 : 0;
        pointerAt_ = recordOffset_ + def_.recordLength;
        slotLength_
            = pointerAt_ + (variable ? sizes_.pointerSize : 0) + (spec_.variableTail ? 4 : 0);
    }
    for (const Key& key : def_.keys) {
        duplicateLinks_.push_back(key.linkedDuplicates() ? slotLength_ : 0);
        slotLength_ += key.linkedDuplicates() ? 8 : 0;
    }
    if (slotLength_ > pageSize_ - sizes_.dataHeader)
        throw std::invalid_argument("a record slot does not fit a page");
    slotsPerPage_ = (pageSize_ - sizes_.dataHeader) / slotLength_;
    while ((uint32_t(1) << addressBits_) < slotsPerPage_)
        ++addressBits_;
    lastOfValue_.resize(def_.keys.size());
    file_.emplace(path_, O_RDWR | O_CREAT | O_TRUNC);

    writeAcsPages();
    std::vector<uint8_t> record;
    for (uint32_t i = 0; i < spec_.records; ++i) {
        record.clear();
        spec_.rule(i, record);
        placeRecord(record);
    }
    if (data_.open)
        flushDataPage();
    if (variable_.open)
        flushVariablePage();

    WrittenLayout layout;
    layout.version = spec_.version;
    layout.pageSize = pageSize_;
    layout.unit = unit_;
    layout.firstPair = firstPair_;
    layout.entriesPerTable = tabled_ ? entries_ : 0;
    layout.physicalLength = slotLength_;
    layout.slotsPerPage = slotsPerPage_;
    if (tabled_) {
        writeTables(layout);
        lastPhysical_ = std::max(lastPhysical_, layout.pairPage(layout.pairs) + 2 * unit_ - 1);
        const uint32_t current = currentCopyOf(0);
        layout.currentFcr = current * unit_;
        writePage(layout.currentFcr, controlRecord(spec_.usageCount, spec_.records).data(), unit_);
        // The shadow is the control record before the last change: one record more then.
        uint32_t shadowRecords = spec_.records + (spec_.staleEvery ? 1 : 0);
        writePage((1 - current) * unit_, controlRecord(spec_.usageCount - 1, shadowRecords).data(),
            unit_);
    } else {
        writePage(0, controlRecord(spec_.usageCount, spec_.records).data());
    }
    layout.physicalPages = lastPhysical_ + 1;
    file_->resize(uint64_t(layout.physicalPages) * pageSize_);
    if (spec_.owner.set && spec_.owner.mode >= 2 && !newer(family_)) {
        layout.plainBytes = uint64_t(layout.controlPages()) * pageSize_;
        encrypt(layout);
    }
    layout.physicalOf = physicalOf_;
    layout.typeOf = typeOf_;
    layout.stalePages = stalePages_;
    layout.freedSlots = freedSlots_;
    layout.dataPages = dataPages_;
    layout.variablePages = variablePages_;
    return layout;
}

} // namespace

std::vector<uint8_t> compressRecord(const std::vector<uint8_t>& record)
{
    std::vector<uint8_t> out;
    auto block = [&out](size_t n) {
        out.push_back(uint8_t(n));
        out.push_back(uint8_t(n >> 8));
    };
    size_t literalFrom = 0;
    size_t i = 0;
    while (i < record.size()) {
        size_t j = i;
        while (j < record.size() && record[j] == record[i])
            ++j;
        if (j - i >= MinRun) {
            // The literal bytes before the run (none when a run follows a run), then the run.
            block(i - literalFrom);
            out.insert(out.end(), record.begin() + long(literalFrom), record.begin() + long(i));
            block(j - i);
            out.push_back(record[i]);
            literalFrom = j;
        }
        i = j;
    }
    if (literalFrom < record.size() || out.empty()) {
        block(record.size() - literalFrom);
        out.insert(out.end(), record.begin() + long(literalFrom), record.end());
    }
    return out;
}

WrittenLayout writeLegacyFile(const std::filesystem::path& path, const LegacyFileSpec& spec)
{
    Writer writer(path, spec);
    return writer.run();
}

namespace {

// What the damage and swap helpers need to know of a written file's tables.
struct TableBytes
{
    bool newer;
    uint32_t entries; // where entries begin
    uint32_t entrySize;
    uint32_t stamp;
};

TableBytes tableBytesOf(const WrittenLayout& layout)
{
    const Sizes s = sizesOf(familyOf(layout.version));
    return {newer(familyOf(layout.version)), s.tableEntries, s.entrySize, s.stamp};
}

void putEntry(const TableBytes& t, uint8_t* table, uint32_t e, uint32_t physical, uint8_t type)
{
    uint8_t* entry = table + t.entries + t.entrySize * (e - 1);
    if (t.newer) {
        put32(entry, physical);
        put16(entry + 4, type);
    } else {
        putPageRef(entry, physical, type);
    }
}

} // namespace

void damage(const std::filesystem::path& path, const WrittenLayout& layout, Damage what)
{
    if (familyOf(layout.version) == Family::V5)
        throw std::invalid_argument("only files with tables have tables to damage");
    File file(path, O_RDWR);
    const TableBytes t = tableBytesOf(layout);
    const uint32_t size = layout.pageSize;
    const uint32_t unit = layout.unit;
    std::vector<uint8_t> page(size_t(size) * unit);
    auto load = [&](uint32_t physical) {
        file.read(uint64_t(physical) * size, page.data(), page.size());
    };
    auto store = [&](uint32_t physical) {
        file.write(uint64_t(physical) * size, page.data(), page.size());
    };
    const uint32_t k = layout.pairs;
    const uint32_t table = layout.currentTable[k - 1];
    const uint32_t n = layout.entriesPerTable;

    // The first data page the last pair maps, and another page to point its entry at.
    auto firstDataOfLastPair = [&]() {
        for (uint32_t l = (k - 1) * n + 1; l <= k * n && l < layout.typeOf.size(); ++l)
            if (layout.typeOf[l] == PageData)
                return l;
        throw std::invalid_argument("the last pair maps no data page");
    };
    auto redirect = [&](bool sameType) {
        const uint32_t logical = firstDataOfLastPair();
        uint32_t target = sameType ? 0 : layout.currentTable[0]; // a table page, if nothing else
        for (uint32_t l = 1; l < layout.typeOf.size(); ++l) {
            if (l != logical && (layout.typeOf[l] == PageData) == sameType && layout.typeOf[l]) {
                target = layout.physicalOf[l];
                break;
            }
        }
        if (target == 0)
            throw std::invalid_argument("no second data page to point at");
        load(table);
        putEntry(t, page.data(), (logical - 1) % n + 1, target, PageData);
        store(table);
    };

    switch (what) {
    case Damage::PairMissing:
        std::fill(page.begin(), page.end(), 0);
        store(layout.pairPage(k));
        store(layout.pairPage(k) + unit);
        return;
    case Damage::WrongPairNumber:
        load(table);
        if (t.newer)
            put32(page.data(), (get32(page.data()) & 0xFF000000) | (k + 1));
        else
            put16(page.data() + 2, uint16_t(k + 1));
        store(table);
        return;
    case Damage::EntryToOtherType:
        redirect(false);
        return;
    case Damage::EntryToOtherLogical:
        redirect(true);
        return;
    case Damage::TableUsageDiffers:
        load(table);
        put32(page.data() + t.stamp, get32(page.data() + t.stamp) + 1);
        store(table);
        return;
    case Damage::PairCountHigh:
    case Damage::PairCountLow:
    case Damage::HighestPageLow:
    case Damage::RecordCountHigh:
        break;
    }
    load(layout.currentFcr);
    uint8_t* fcr = page.data();
    const uint32_t pairsAt = t.newer ? 0x4C : 0x50;
    if (what == Damage::PairCountHigh || what == Damage::PairCountLow)
        put16(fcr + pairsAt,
            uint16_t(get16(fcr + pairsAt) + (what == Damage::PairCountHigh ? 1 : -1)));
    else if (what == Damage::HighestPageLow)
        putHiLo(fcr + 0x26, getHiLo(fcr + 0x26) - 1);
    else if (t.newer)
        put32(fcr + 0x1C, get32(fcr + 0x1C) + 1);
    else
        putHiLo(fcr + 0x1A, getHiLo(fcr + 0x1A) + 1);
    store(layout.currentFcr);
}

void swapPages(
    const std::filesystem::path& path, WrittenLayout& layout, uint32_t logicalA, uint32_t logicalB)
{
    if (familyOf(layout.version) == Family::V5)
        throw std::invalid_argument("only files with tables map logical pages");
    if (logicalA >= layout.physicalOf.size() || logicalB >= layout.physicalOf.size()
        || !layout.typeOf[logicalA] || !layout.typeOf[logicalB])
        throw std::invalid_argument("no such logical page");
    File file(path, O_RDWR);
    const TableBytes t = tableBytesOf(layout);
    const uint32_t size = layout.pageSize;
    uint32_t& a = layout.physicalOf[logicalA];
    uint32_t& b = layout.physicalOf[logicalB];
    std::vector<uint8_t> one(size), two(size);
    file.read(uint64_t(a) * size, one.data(), size);
    file.read(uint64_t(b) * size, two.data(), size);
    file.write(uint64_t(a) * size, two.data(), size);
    file.write(uint64_t(b) * size, one.data(), size);
    std::swap(a, b);
    const uint32_t n = layout.entriesPerTable;
    std::vector<uint8_t> table(size_t(size) * layout.unit);
    for (uint32_t logical : {logicalA, logicalB}) {
        const uint32_t k = (logical - 1) / n + 1;
        for (uint32_t copy : {layout.pairPage(k), layout.pairPage(k) + layout.unit}) {
            file.read(uint64_t(copy) * size, table.data(), table.size());
            putEntry(t, table.data(), (logical - 1) % n + 1, layout.physicalOf[logical],
                layout.typeOf[logical]);
            file.write(uint64_t(copy) * size, table.data(), table.size());
        }
    }
}

} // namespace legacytest
