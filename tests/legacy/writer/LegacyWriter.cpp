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
constexpr uint32_t PageHeaderSize = 6;
// A variable page: the page header, a 4-byte link (none here) and the fragment count.
constexpr uint32_t VariableHeaderSize = 12;
constexpr uint32_t KeySpecSize = 30;
constexpr uint32_t FirstKeySpec = 0x110;
constexpr uint8_t PageData = 'D';
constexpr uint8_t PageVariable = 'V';
constexpr uint8_t PageAcs = 'A';
constexpr uint16_t DataPageBit = 0x8000;
// 5.x fragment table entries: the fragment begins with the pointer to the next one.
constexpr uint16_t FragmentLinked = 0x8000;
// What freed slots and stale copies hold instead of records: a reader that returns such bytes
// read something no table or usage count gives it.
constexpr uint8_t Ghost = 0xEE;
// A fragment is given room for its 4-byte pointer and at least one byte. Fragment numbers are one
// byte; 255 would make the pointer all 0xFF (the end of a chain) on page 0xFFFFFF.
constexpr uint32_t MinFragmentRoom = 5;
constexpr uint32_t MaxFragmentsPerPage = 255;
// Out-of-order placement: the pages of each block of 16 physical places are dealt with stride 7.
constexpr uint32_t ScatterBlock = 16;
constexpr uint32_t ScatterStride = 7;
constexpr uint32_t MaxPageNumber = 0xFFFFFF; // page numbers are three bytes
constexpr uint32_t NoLink = 0xFFFFFFFF;

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

bool isV6(uint16_t version)
{
    return version >= 0x0600;
}

// A page being filled: data pages count their slots, variable pages their fragments.
struct OpenPage
{
    std::vector<uint8_t> bytes;
    uint32_t number = 0; // logical page (6.x) or page number (5.x)
    uint32_t physical = 0;
    uint32_t used = 0; // slots handed out, or fragments placed
    uint32_t freeStart = VariableHeaderSize;
    std::vector<uint16_t> fragments; // fragment table entries, in fragment order
    bool open = false;
};

class Writer
{
public:
    Writer(const std::filesystem::path& path, const LegacyFileSpec& spec)
        : spec_(spec)
        , def_(spec.definition)
        , v6_(isV6(spec.version))
        , pageSize_(def_.pageSize)
        , entries_((pageSize_ - 8) / 4)
        , path_(path)
    { }

    WrittenLayout run();

private:
    void validate();
    uint32_t allocatePhysical();
    void allocate(OpenPage& page, uint8_t type);
    void writePage(uint32_t physical, const uint8_t* bytes)
    {
        file_->write(uint64_t(physical) * pageSize_, bytes, pageSize_);
    }
    // 6.x: logical number and type; 5.x: the page number alone. Then the usage count.
    void putHeader(uint8_t* page, uint32_t number, uint8_t type, uint16_t usage) const
    {
        if (v6_)
            putPageRef(page, number, type);
        else
            putHiLo(page, number);
        put16(page + 4, usage);
    }
    void writeAcsPages();
    void placeRecord(const std::vector<uint8_t>& record);
    uint32_t nextSlot();
    uint8_t* slotAt(uint32_t slot)
    {
        return data_.bytes.data() + PageHeaderSize + slot * slotLength_;
    }
    uint32_t addressOf(uint32_t slot) const
    {
        return data_.number * pageSize_ + PageHeaderSize + slot * slotLength_;
    }
    void flushDataPage();
    void placeVariablePart(const uint8_t* bytes, size_t length, uint8_t* pointer);
    std::pair<uint32_t, uint32_t> nextFragmentPlace();
    void enterVariablePage(uint32_t number);
    void flushVariablePage();
    void writeStaleCopy(std::vector<uint8_t> page, uint32_t logical, uint32_t ghostFrom);
    void linkDuplicates(
        const std::vector<uint8_t>& record, uint8_t* slot, uint32_t address, uint64_t slotOffset);
    void patchLink(uint64_t offset, uint32_t address);
    std::vector<uint8_t> controlRecord(uint32_t usage, uint32_t records) const;
    void writeKeySpecs(uint8_t* fcr) const;
    void writeTables(WrittenLayout& layout);
    uint32_t currentCopyOf(uint32_t pair) const;

    const LegacyFileSpec& spec_;
    const recman::Definition& def_;
    const bool v6_;
    const uint32_t pageSize_;
    const uint32_t entries_; // per allocation table
    const std::filesystem::path path_;
    std::optional<File> file_; // opened once the specification has been checked

    uint32_t recordOffset_ = 0; // the 6.x usage prefix
    uint32_t slotLength_ = 0;
    uint32_t slotsPerPage_ = 0;
    std::vector<uint32_t> duplicateLinks_; // per key: offset of its links in the slot, or 0

    uint32_t nextLogical_ = 1;  // 6.x
    uint32_t nextPlace_ = 0;    // 6.x: places handed out to pages, before scattering
    uint32_t nextPage5_ = 1;    // 5.x
    uint32_t lastPhysical_ = 0; // highest physical page written
    uint32_t pairs_ = 0;        // 6.x: allocation table pairs
    std::vector<uint32_t> physicalOf_ {0};
    std::vector<uint8_t> typeOf_ {0};
    std::map<uint32_t, uint32_t> shadowPhysical_; // logical -> stale copy the shadow table names
    std::vector<uint32_t> stalePages_;
    std::vector<uint32_t> acsPages_; // page of each collating sequence

    OpenPage data_;
    OpenPage variable_;
    std::optional<OpenPage> reservedVariable_;
    uint64_t slotOrdinal_ = 0;
    uint32_t freedSlots_ = 0;
    uint32_t lastFreed_ = NoLink; // 5.x: head of the deleted-record chain
    uint32_t dataPages_ = 0;
    uint32_t variablePages_ = 0;

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
    if (!(v == 0x0300 || v == 0x0400 || v == 0x0500 || (v >= 0x0600 && v < 0x0700)))
        refuse("versions 3.x to 6.x only, 5.x as 0x0300/0x0400/0x0500");
    if (pageSize_ < 512 || pageSize_ > 4096 || pageSize_ % 512 != 0)
        refuse("page size must be 512 to 4096 in steps of 512");
    if (def_.fileFlags & ~uint16_t(0x0003))
        refuse("only the variable-length and blank-truncation file flags can be laid out");
    if (!v6_ && (spec_.staleEvery || spec_.scatter))
        refuse("5.x files have no allocation tables, hence no stale copies or scattered pages");
    if (spec_.usageCount < 1)
        refuse("the usage count must leave room for a lower shadow");
    if (spec_.freeSlotEvery == 1)
        refuse("freeing every slot leaves no room for records");
    if (!spec_.rule && spec_.records > 0)
        refuse("no record rule");
    if (def_.recordLength < 1)
        refuse("record length must be at least 1");
    const size_t acsLimit = spec_.version >= 0x0610 ? 255 : 1;
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
    size_t specsEnd = FirstKeySpec + KeySpecSize * segments + (v6_ ? 2 * def_.keys.size() : 0);
    if (segments > 255 || specsEnd > pageSize_)
        refuse("the key specs do not fit the control record");
}

uint32_t Writer::allocatePhysical()
{
    uint32_t place = nextPlace_++;
    if (spec_.scatter)
        place = place / ScatterBlock * ScatterBlock
            + place % ScatterBlock * ScatterStride % ScatterBlock;
    // Every run of N + 2 pages from page 2 begins with a table pair; pages go to the N after it.
    uint32_t physical = 4 + place / entries_ * (entries_ + 2) + place % entries_;
    if (physical > MaxPageNumber)
        throw std::invalid_argument("more pages than three-byte page numbers reach");
    lastPhysical_ = std::max(lastPhysical_, physical);
    return physical;
}

void Writer::allocate(OpenPage& page, uint8_t type)
{
    page.bytes.assign(pageSize_, 0);
    page.used = 0;
    page.freeStart = VariableHeaderSize;
    page.fragments.clear();
    page.open = true;
    if (v6_) {
        if (nextLogical_ > MaxPageNumber)
            throw std::invalid_argument("more pages than three-byte page numbers reach");
        page.number = nextLogical_++;
        page.physical = allocatePhysical();
    } else {
        page.number = page.physical = nextPage5_++;
        lastPhysical_ = std::max(lastPhysical_, page.physical);
    }
    // Records are addressed by their byte offset, counted in logical pages in 6.x files.
    if ((uint64_t(page.number) + 1) * pageSize_ > UINT32_MAX)
        throw std::invalid_argument("more pages than 32-bit record addresses reach");
    physicalOf_.push_back(page.physical);
    typeOf_.push_back(type);
}

// The collating sequences come first: in 5.x files the one sequence is page 1, in 6.x files each
// has a logical page of type "A" from 1 on. Usage count 0, the 265-byte block at +6.
void Writer::writeAcsPages()
{
    for (const auto& block : def_.acsBlocks) {
        OpenPage page;
        allocate(page, PageAcs);
        putHeader(page.bytes.data(), page.number, PageAcs, 0);
        std::copy(block.bytes.begin(), block.bytes.end(), page.bytes.begin() + PageHeaderSize);
        writePage(page.physical, page.bytes.data());
        acsPages_.push_back(page.number);
    }
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
        uint8_t* bytes = slotAt(slot);
        if (v6_) {
            std::fill(bytes + recordOffset_, bytes + slotLength_, Ghost); // usage count stays 0
        } else {
            // Deleted records chain from the control record, the last deleted first.
            putHiLo(bytes, lastFreed_);
            lastFreed_ = addressOf(slot);
        }
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
    if (v6_)
        put16(bytes, 1);
    std::copy_n(record.begin(), def_.recordLength, bytes + recordOffset_);
    if (def_.variableLength())
        placeVariablePart(record.data() + def_.recordLength, record.size() - def_.recordLength,
            bytes + recordOffset_ + def_.recordLength);
    linkDuplicates(record, bytes, addressOf(slot),
        uint64_t(data_.physical) * pageSize_ + PageHeaderSize + slot * slotLength_);
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
// has room, else on a new page, taken now so that a pointer to it can be written first.
std::pair<uint32_t, uint32_t> Writer::nextFragmentPlace()
{
    if (variable_.open && variable_.used < MaxFragmentsPerPage
        && variable_.freeStart + MinFragmentRoom + 2 * (variable_.used + 2) <= pageSize_)
        return {variable_.number, variable_.used};
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
    std::fill_n(pointer, 4, 0xFF);
    if (length == 0)
        return;
    auto [page, fragment] = nextFragmentPlace();
    for (size_t done = 0;;) {
        putScattered(pointer, page);
        pointer[3] = uint8_t(fragment);
        enterVariablePage(page);
        // Room for this fragment once its table entry and the free-space entry are counted.
        const size_t room = pageSize_ - 2 * (variable_.used + 2) - variable_.freeStart;
        const size_t remaining = length - done;
        const size_t limit = spec_.fragmentLimit ? spec_.fragmentLimit : room;
        size_t linkBytes = 4;
        size_t payload = std::min({remaining, room - 4, limit});
        if (!v6_ && remaining <= std::min(room, limit)) {
            linkBytes = 0; // 5.x: the last fragment carries no pointer
            payload = remaining;
        }
        uint8_t* at = variable_.bytes.data() + variable_.freeStart;
        std::copy_n(bytes + done, payload, at + linkBytes);
        variable_.fragments.push_back(
            uint16_t(variable_.freeStart | (!v6_ && linkBytes ? FragmentLinked : 0)));
        variable_.freeStart += uint32_t(linkBytes + payload);
        ++variable_.used;
        done += payload;
        if (done == length) {
            if (linkBytes)
                std::fill_n(at, 4, 0xFF);
            return;
        }
        pointer = at;
        std::tie(page, fragment) = nextFragmentPlace();
    }
}

void Writer::flushVariablePage()
{
    uint8_t* bytes = variable_.bytes.data();
    putHeader(bytes, variable_.number, PageVariable, 2);
    put32(bytes + 6, NoLink);
    put16(bytes + 10, uint16_t(variable_.used));
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
// its records (or fragments, from VariableHeaderSize to `ghostFrom`) overwritten. Every other one
// is what the shadow table still names.
void Writer::writeStaleCopy(std::vector<uint8_t> page, uint32_t logical, uint32_t ghostFrom)
{
    if (ghostFrom) {
        put16(page.data() + 4, 1);
        std::fill(page.begin() + VariableHeaderSize, page.begin() + ghostFrom, Ghost);
    } else {
        put16(page.data() + 4, DataPageBit | 1);
        for (uint32_t s = 0; s < slotsPerPage_; ++s) {
            uint8_t* slot = page.data() + PageHeaderSize + s * slotLength_;
            if (get16(slot) != 0)
                std::fill(slot + recordOffset_, slot + slotLength_, Ghost);
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
// none). Records whose key is null are in no chain.
void Writer::linkDuplicates(
    const std::vector<uint8_t>& record, uint8_t* slot, uint32_t address, uint64_t slotOffset)
{
    std::vector<uint8_t> value;
    for (size_t k = 0; k < def_.keys.size(); ++k) {
        const uint32_t links = duplicateLinks_[k];
        if (!links)
            continue;
        std::fill_n(slot + links, 8, 0xFF);
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

void Writer::writeKeySpecs(uint8_t* fcr) const
{
    uint32_t offset = FirstKeySpec;
    const uint32_t table = FirstKeySpec + KeySpecSize * uint32_t(def_.segmentCount());
    for (size_t k = 0; k < def_.keys.size(); ++k) {
        const Key& key = def_.keys[k];
        if (v6_)
            put16(fcr + table + 2 * k, uint16_t(offset));
        const uint32_t total = uint32_t(key.totalLength());
        const uint32_t entry = total + 8 + (key.duplicates() ? 4 : 0);
        const uint32_t most = (pageSize_ - 12) / entry;
        for (size_t s = 0; s < key.segments.size(); ++s, offset += KeySpecSize) {
            const Segment& seg = key.segments[s];
            uint8_t* spec = fcr + offset;
            putHiLo(spec + 0x00, NoLink); // no index pages are written
            putHiLo(spec + 0x04, key.segments.front().numKeyValues);
            put16(spec + 0x08, seg.flags);
            put16(spec + 0x0A, uint16_t(total));
            put16(spec + 0x0C, uint16_t(entry));
            put16(spec + 0x0E, uint16_t(most));
            put16(spec + 0x10, uint16_t(most / 2));
            put16(spec + 0x12, uint16_t(s == 0 ? duplicateLinks_[k] : 0));
            // 6.x positions count the 2-byte usage prefix; 5.x positions are 0-based.
            put16(spec + 0x14, uint16_t(v6_ ? seg.position + 1 : seg.position - 1));
            put16(spec + 0x16, seg.length);
            if (v6_ && (seg.flags & keyflag::Acs))
                putScattered(spec + 0x19, acsPages_[seg.acsNumber]);
            spec[0x1C] = seg.extType;
            spec[0x1D] = seg.nullValue;
        }
    }
}

std::vector<uint8_t> Writer::controlRecord(uint32_t usage, uint32_t records) const
{
    std::vector<uint8_t> fcr(pageSize_, 0);
    uint8_t* p = fcr.data();
    if (v6_) {
        p[0] = 'F';
        p[1] = 'C';
        put32(p + 0x04, usage);
    } else {
        put16(p + 0x04, uint16_t(usage));
        p[0x07] = uint8_t(spec_.version >> 8);
    }
    put16(p + 0x08, uint16_t(pageSize_));
    putHiLo(p + 0x10, v6_ ? NoLink : lastFreed_);
    put16(p + 0x14, uint16_t(def_.keys.size()));
    put16(p + 0x16, def_.recordLength);
    put16(p + 0x18, uint16_t(slotLength_));
    putHiLo(p + 0x1A, records);
    if (def_.variableLength())
        p[0x38] = (def_.fileFlags & 0x0002) ? 0xFD : 0xFF;
    put16(p + 0x106, def_.fileFlags);
    if (v6_) {
        putHiLo(p + 0x26, nextLogical_); // the highest logical page + 1
        if (!def_.acsBlocks.empty())
            std::copy_n(def_.acsBlocks[0].name(), 8, p + 0x3C);
        put16(p + 0x4A, spec_.version);
        put16(p + 0x50, uint16_t(pairs_)); // table pairs (0x4C holds something else)
        put32(p + 0x52, 0);                // no free logical pages
        p[0x76] = uint8_t(def_.keys.size());
        p[0x77] = uint8_t(def_.segmentCount());
        put16(p + 0x78, uint16_t(FirstKeySpec + KeySpecSize * uint32_t(def_.segmentCount())));
    } else {
        putHiLo(p + 0x26, lastPhysical_ + 1); // pages in the file
    }
    writeKeySpecs(p);
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
    std::vector<uint8_t> current(pageSize_), shadow(pageSize_);
    for (uint32_t k = 1; k <= layout.pairs; ++k) {
        const uint32_t first = layout.pairPage(k);
        std::fill(current.begin(), current.end(), 0);
        for (uint32_t e = 1; e <= entries_; ++e) {
            const uint32_t logical = (k - 1) * entries_ + e;
            uint8_t* entry = current.data() + 8 + 4 * (e - 1);
            if (logical <= usedLogical)
                putPageRef(entry, physicalOf_[logical], typeOf_[logical]);
            else
                putPageRef(entry, first + 1 + e, 0); // unused: type 0 over the page it would get
        }
        shadow = current;
        for (auto [logical, stale] : shadowPhysical_)
            if ((logical - 1) / entries_ + 1 == k)
                putPageRef(
                    shadow.data() + 8 + 4 * ((logical - 1) % entries_), stale, typeOf_[logical]);
        for (auto* page : {&current, &shadow}) {
            (*page)[0] = 'P';
            (*page)[1] = 'P';
            put16(page->data() + 2, uint16_t(k));
        }
        put32(current.data() + 4, spec_.usageCount);
        put32(shadow.data() + 4, spec_.usageCount - 1);
        const uint32_t at = first + currentCopyOf(k);
        writePage(at, current.data());
        writePage(at == first ? first + 1 : first, shadow.data());
        layout.currentTable.push_back(at);
    }
}

WrittenLayout Writer::run()
{
    validate();
    lastPhysical_ = v6_ ? 1 : 0; // the control records
    recordOffset_ = v6_ ? 2 : 0;
    slotLength_ = recordOffset_ + def_.recordLength + (def_.variableLength() ? 4 : 0);
    for (const Key& key : def_.keys) {
        duplicateLinks_.push_back(key.linkedDuplicates() ? slotLength_ : 0);
        slotLength_ += key.linkedDuplicates() ? 8 : 0;
    }
    if (slotLength_ > pageSize_ - PageHeaderSize)
        throw std::invalid_argument("a record slot does not fit a page");
    slotsPerPage_ = (pageSize_ - PageHeaderSize) / slotLength_;
    lastOfValue_.resize(def_.keys.size());
    file_.emplace(path_, O_WRONLY | O_CREAT | O_TRUNC);

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
    layout.entriesPerTable = v6_ ? entries_ : 0;
    layout.physicalLength = slotLength_;
    layout.slotsPerPage = slotsPerPage_;
    if (v6_) {
        writeTables(layout);
        lastPhysical_ = std::max(lastPhysical_, layout.pairPage(layout.pairs) + 1);
        const uint32_t current = currentCopyOf(0);
        layout.currentFcr = current;
        writePage(current, controlRecord(spec_.usageCount, spec_.records).data());
        // The shadow is the control record before the last change: one record more then.
        uint32_t shadowRecords = spec_.records + (spec_.staleEvery ? 1 : 0);
        writePage(1 - current, controlRecord(spec_.usageCount - 1, shadowRecords).data());
    } else {
        writePage(0, controlRecord(spec_.usageCount, spec_.records).data());
    }
    layout.physicalPages = lastPhysical_ + 1;
    file_->resize(uint64_t(layout.physicalPages) * pageSize_);
    layout.physicalOf = physicalOf_;
    layout.typeOf = typeOf_;
    layout.stalePages = stalePages_;
    layout.freedSlots = freedSlots_;
    layout.dataPages = dataPages_;
    layout.variablePages = variablePages_;
    return layout;
}

} // namespace

WrittenLayout writeLegacyFile(const std::filesystem::path& path, const LegacyFileSpec& spec)
{
    Writer writer(path, spec);
    return writer.run();
}

void damage(const std::filesystem::path& path, const WrittenLayout& layout, Damage what)
{
    if (!isV6(layout.version))
        throw std::invalid_argument("only 6.x files have tables to damage");
    File file(path, O_RDWR);
    const uint32_t size = layout.pageSize;
    std::vector<uint8_t> page(size);
    auto load = [&](uint32_t physical) { file.read(uint64_t(physical) * size, page.data(), size); };
    auto store
        = [&](uint32_t physical) { file.write(uint64_t(physical) * size, page.data(), size); };
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
        putPageRef(page.data() + 8 + 4 * ((logical - 1) % n), target, PageData);
        store(table);
    };

    switch (what) {
    case Damage::PairMissing:
        std::fill(page.begin(), page.end(), 0);
        store(layout.pairPage(k));
        store(layout.pairPage(k) + 1);
        return;
    case Damage::WrongPairNumber:
        load(table);
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
        put32(page.data() + 4, get32(page.data() + 4) + 1);
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
    if (what == Damage::PairCountHigh || what == Damage::PairCountLow)
        put16(fcr + 0x50, uint16_t(get16(fcr + 0x50) + (what == Damage::PairCountHigh ? 1 : -1)));
    else if (what == Damage::HighestPageLow)
        putHiLo(fcr + 0x26, getHiLo(fcr + 0x26) - 1);
    else
        putHiLo(fcr + 0x1A, getHiLo(fcr + 0x1A) + 1);
    store(layout.currentFcr);
}

} // namespace legacytest
