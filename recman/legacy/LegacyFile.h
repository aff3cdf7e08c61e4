// Read-only access to data files written by the vendor's engine, in place: versions 3.x to 6.x and
// the newer format of 8.x, 9.0 and 9.5, plain or compressed, with or without an owner name.
//
// One pipeline reads every family, each family's places given by its profile (Profile.h): the page
// source (decrypting a file encrypted under an owner name), the page map (5.x: pages by their own
// number; newer: logical pages through the allocation tables), data pages of slots, the record's
// bytes (plain, a variable-page chain, or a compressed stream decoded after the chain), and the key
// order. The reader never writes: the file is opened read-only (without touching its access time
// where the system allows) and every count, offset and page pointer read from it is checked against
// the page and the file before it is followed. A damaged file answers status 2, a file of a kind or
// with a feature not read answers 30; neither crashes nor hangs.
#pragma once

#include "Definition.h"
#include "PageSource.h"
#include "Profile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace recman::legacy {

// The reader answers with the record manager's statuses.
namespace status = btr::status;

// Where a record lives: the index of its data page in step order, and its slot on the page.
// Locators compare in step order.
using Locator = uint64_t;
constexpr Locator makeLocator(uint32_t dataPage, uint32_t slot)
{
    return (uint64_t(dataPage) << 16) | slot;
}
constexpr uint64_t locatorPage(Locator loc)
{
    return loc >> 16;
}
constexpr uint32_t locatorSlot(Locator loc)
{
    return uint32_t(loc & 0xFFFF);
}

class KeyOrder;

// What a salvage open is asked for.
struct SalvageRequest
{
    // A record whose variable part cannot be read whole is left out instead of given short.
    bool wholeOnly = false;
    // The definition to read the file with when its control records have lost theirs (or their
    // collating sequence); null for none.
    const Definition* given = nullptr;
};

// What a salvage read found; the entry point hands it out in the contract's report layout.
struct SalvageReport
{
    enum Source : uint8_t { None = 0, ControlRecord = 1, Shadow = 2, Caller = 3 };
    uint32_t rescued = 0;
    uint32_t partial = 0;
    uint32_t leftOut = 0;
    uint32_t pagesMissing = 0;
    uint32_t pagesDamaged = 0;
    uint32_t pagesAmbiguous = 0;
    uint32_t staleCopies = 0;
    uint32_t untabled = 0;
    uint32_t countedRecords = UINT32_MAX; // the current control record's count, when it has one
    Source source = None;
    bool acsLost = false;
    bool pageSizeFromPages = false;

    uint32_t pagesSkipped() const { return pagesMissing + pagesDamaged + pagesAmbiguous; }
};

// What a file is and uses, beyond its definition: the format version and the features a user may
// want named (the entry point hands this out in the contract's file-facts layout).
struct FileFacts
{
    Family family = Family::V5;
    uint16_t version = 0; // as version() gives it
    bool ownerName = false;
    uint8_t ownerMode = 0; // the access mode, when an owner name is set
    Cipher cipher = Cipher::None;
    bool compressed = false;
    bool systemData = false;
    bool variableTail = false;
};

class LegacyFile
{
public:
    // Opens `path` read-only and reads its definition. On failure returns null with `status` 12
    // (not found), 30 (not a file this reader handles, or a version or feature it does not read),
    // 2 (damaged) and a one-line `reason` saying why. An encrypted file opens (its key is in the
    // file); whether its records may be given without an owner name is the caller's to decide.
    static std::unique_ptr<LegacyFile> open(
        const std::string& path, int16_t& status, std::string& reason);
    // Opens `path` read-only for salvage: every record that can be read, none that cannot be
    // trusted (Salvage.cpp). Null with status 2 and the reason when nothing can be read, 30 for
    // a kind of file the reader does not read, 12 or 46 when it cannot be opened.
    static std::unique_ptr<LegacyFile> openSalvage(const std::string& path,
        const SalvageRequest& request, int16_t& status, std::string& reason);
    // Whether the file at `path` begins with a control record of any version the vendor's engine
    // writes, read here or not (the first page alone is looked at).
    static bool carriesControlRecord(const std::string& path);
    ~LegacyFile();
    LegacyFile(const LegacyFile&) = delete;
    LegacyFile& operator=(const LegacyFile&) = delete;

    // The definition mapped from the control record and the key specs, as our own files hold it.
    const Definition& definition() const { return def_; }
    // 0x0400-style version: 5.x files give their version byte in the high byte (3, 4 or 5), newer
    // files their version word (0x0600, 0x0610, 0x0800, 0x0950, ...), un-negated.
    uint16_t version() const { return version_; }
    Family family() const { return profile_->family; }
    uint32_t recordCount() const { return def_.numRecords; }
    // Unique-value count of each key as the control record keeps it, in key order (0 where the
    // format keeps none we know of).
    const std::vector<uint32_t>& keyValues() const { return keyValues_; }
    FileFacts facts() const;
    // The records are encrypted under an owner name: a caller gives them only to one who gave a
    // name at Open.
    bool ownerNameRequired() const { return ownerSet_ && format::owner::encrypted(ownerMode_); }
    bool compressed() const { return compressed_; }

    // Physical order. `stepFirst` finds the first record, `stepNext` the one after `loc`,
    // `stepLast` the last and `stepPrevious` the one before `loc`. 0 with the record's locator,
    // 9 at the end, 2 when a page cannot be read.
    int16_t stepFirst(Locator& loc);
    int16_t stepNext(Locator& loc);
    int16_t stepLast(Locator& loc);
    int16_t stepPrevious(Locator& loc);
    // The record whose position (as `position` gives it) is `address`: 0 with its locator, 43
    // when no record is there (not a slot's address, or a free slot), 2 when its page cannot be
    // read.
    int16_t recordAt(uint32_t address, Locator& loc);

    // The whole record at `loc` (fixed part, then the variable part; a compressed record decoded)
    // into `out`.
    int16_t readRecord(Locator loc, std::vector<uint8_t>& out);
    // Salvage: the record at `loc` as it can be rescued: the fixed part always, the variable part
    // when its chain is sound (`whole` false when it is not and only the fixed part is given). A
    // compressed record is whole or nothing: `whole` false and `out` empty when its stream does not
    // decode.
    int16_t readRescued(Locator loc, std::vector<uint8_t>& out, bool& whole);
    bool salvaging() const { return salvaging_; }
    const SalvageReport& salvageReport() const { return report_; }
    bool wholeOnly() const { return wholeOnly_; }

    // Only the fixed part (what keys are built from).
    int16_t readFixedPart(Locator loc, std::vector<uint8_t>& out);

    // The record's address as the file itself gives it (in duplicate chains and free chains):
    // 5.x and 6.x the byte offset of its slot, counted in physical pages in 5.x files and in
    // logical pages in 6.x files; newer files logical page << b | slot.
    uint32_t position(Locator loc) const;

    // The records of `keys()[keyIndex]` in key order, sorted on first use. Null with status 6
    // for a key the file does not have, 2 when the file cannot be read.
    const KeyOrder* keyOrder(int keyIndex, int16_t& status);

private:
    LegacyFile();

    // The file opened read-only, its size known; null with status and reason on failure.
    static std::unique_ptr<LegacyFile> openReadOnly(
        const std::string& path, int16_t& status, std::string& reason);
    void prepareCache();

    // Telling the version (ControlRecord.cpp). What the first bytes of a file say it is: a family
    // read here, a control record of a version or page size not read (with the reason), or none.
    struct Identity
    {
        enum Kind : uint8_t { None, Read, Refused } kind = None;
        Family family = Family::V5;
        uint16_t version = 0; // un-negated
        bool owner = false;   // the version was negated
        uint32_t pageSize = 0;
        std::string reason; // when refused
    };
    static Identity identify(const uint8_t* head);
    void setFamily(Family family);
    // File flags of variants the reader does not read: 30 with the reason, or 0.
    int16_t refuseUnsupported(uint16_t flags, std::string& reason) const;
    int16_t parse(std::string& reason);
    int16_t parseV5(std::string& reason);
    int16_t parseV6(std::string& reason);
    int16_t parseV8(std::string& reason);
    // The definition's fields (version, file flags, lengths, the slot's layout) of a control
    // record of `pageSize_` bytes (newer: of one structure).
    int16_t readHeaderV5(const std::vector<uint8_t>& fcr, std::string& reason);
    int16_t readHeaderV6(const std::vector<uint8_t>& fcr, std::string& reason);
    int16_t readHeaderV8(const std::vector<uint8_t>& fcr, std::string& reason);
    // The owner block: whether a name is set (the version word's sign) and its access mode; 30 for
    // a mode not known, or for encryption where it is not read.
    int16_t readOwner(const std::vector<uint8_t>& fcr, bool negated, std::string& reason);
    // Lays out a slot from the lengths and flags read; 2 when the record does not fit it.
    int16_t layOutSlot(std::string& reason);
    int16_t readKeysV5(
        const std::vector<uint8_t>& fcr, std::vector<uint32_t>& acsPages, std::string& reason);
    int16_t readKeysV6(
        const std::vector<uint8_t>& fcr, std::vector<uint32_t>& acsPages, std::string& reason);
    int16_t readKeysV8(
        const std::vector<uint8_t>& fcr, std::vector<uint32_t>& acsPages, std::string& reason);
    void resetDefinition();
    int16_t readKeySpecs(const uint8_t* fcr, uint32_t fcrSize,
        const std::vector<uint32_t>& firstSpecs, std::vector<uint32_t>& acsPages,
        std::string& reason);
    int16_t loadAcsBlocks(const std::vector<uint32_t>& acsPages, std::string& reason);
    // "version 9.5", "version 6.0", "version 5.x": how reasons name the file's version.
    std::string versionName() const;

    // Encryption (ControlRecord.cpp): which rule makes the pages carry their own numbers.
    PageSource::Key ownerKey(const std::vector<uint8_t>& fcr) const;
    uint64_t plainBytes() const;
    // How many pages of those looked at carry their own numbers under `cipher` (in files with
    // tables: the places of the first `pairs` table pairs).
    struct CipherScore
    {
        uint64_t agree = 0;
        uint64_t looked = 0;
    };
    CipherScore cipherScore(Cipher cipher, const PageSource::Key& key, uint32_t pairs) const;
    int16_t chooseCipher(const std::vector<uint8_t>& fcr, std::string& reason);

    // Where the pages are (PageTable.cpp): the data pages in step order, and in files with
    // allocation tables the logical pages they map.
    // 5.x: every data page, and (compressed) the records on them.
    int16_t findDataPagesV5(uint64_t& used, std::string& reason);
    // Files with tables: the logical pages the tables map, and every (physical << 32 | logical)
    // page they name into `named`.
    int16_t readPageTable(
        const std::vector<uint8_t>& fcr, std::vector<uint64_t>& named, std::string& reason);
    // Checks every page the tables name against its header, counting the records on the data
    // pages.
    int16_t verifyPages(std::vector<uint64_t>& named, uint64_t& used, std::string& reason);
    uint32_t usedSlots(const uint8_t* page) const;
    // Pages read at once when every page of a run is wanted.
    static constexpr uint32_t RunPages = 64;
    void addDataPage(uint32_t physical, uint32_t addressPage);
    // Files with tables: the physical page of a logical page the table gives this type; false for
    // none.
    bool mapLogical(uint32_t logical, uint16_t type, uint32_t& physical) const;
    // The lowest logical page of this type, 0 for none; how many there are.
    uint32_t firstLogicalOfType(uint16_t type, uint32_t* count = nullptr) const;
    // Whether a page header is that of data page `addressPage` (5.x: its own number and the
    // data-page bit; else that logical number and the data type), or of variable page `page`.
    bool namesDataPage(const uint8_t* header, uint32_t addressPage) const;
    bool namesVariablePage(const uint8_t* header, uint32_t page) const;
    // The physical page of a variable-data page a record's pointer names.
    int16_t variablePage(uint32_t page, uint32_t& physical) const;
    // Reads one structure (newer control records and tables: several pages) at `page`.
    bool readStructure(uint64_t page, std::vector<uint8_t>& out) const;

    // Reading pages (LegacyFile.cpp).
    int16_t readPhysical(uint32_t page, std::vector<uint8_t>& buffer);
    const uint8_t* loadPage(uint32_t physicalPage, int16_t& status);
    // Of the two copies at `first` and `first + 1` that begin with `mark`, the current one (the
    // higher usage count): the other is a shadow left from before the last change.
    bool pickCurrent(uint32_t first, const uint8_t (&mark)[2], std::vector<uint8_t>& out);

    // Slots and records (Records.cpp).
    int16_t slotOf(Locator loc, const uint8_t*& slot);
    bool slotInUse(const uint8_t* slot, uint32_t ordinal) const;
    void readFreeChain(uint32_t head);
    int16_t seekUsed(uint32_t dataPage, uint32_t slot, Locator& loc);
    // The last record at or before slot `slot` of data page `dataPage`.
    int16_t seekUsedBackward(uint32_t dataPage, uint32_t slot, Locator& loc);
    // Appends the payloads of the fragment chain `pointer` begins (at most `most` bytes in all).
    int16_t appendChain(const uint8_t* pointer, size_t most, std::vector<uint8_t>& out);
    int16_t appendVariableTail(const uint8_t* pointer, uint32_t stored, std::vector<uint8_t>& out);
    int16_t readCompressed(const uint8_t* pointer, std::vector<uint8_t>& out);
    bool slotOfAddress(uint32_t address, uint32_t& ordinal) const;

    // Salvage (Salvage.cpp).
    int16_t salvage(const SalvageRequest& request, std::string& reason);
    int16_t salvageDefinition(const SalvageRequest& request, std::vector<uint32_t>& acsPages,
        std::vector<uint8_t>& fcr, std::string& reason);
    int16_t salvageTabled(const SalvageRequest& request, Family family, uint32_t pageSize,
        std::vector<uint32_t>& acsPages, std::vector<uint8_t>& fcr, std::string& reason);
    int16_t takeGivenDefinition(const Definition& given, std::string& reason);
    struct PageSizeScore
    {
        int64_t known = 0;
        int64_t unknown = 0;
        int64_t value() const { return known - unknown; }
        // Enough pages that make sense, and far more of them than of the others.
        bool convincing() const { return known >= 2 && known > 2 * unknown; }
    };
    PageSizeScore pageSizeScore(uint32_t pageSize, const Profile& profile) const;
    bool guessLayout(uint32_t preferred);
    int16_t salvageCipher(const std::vector<uint8_t>& fcr, std::string& reason);
    void mapPagesV5(const std::vector<uint8_t>& fcr);
    void mapPagesTabled(const std::vector<uint8_t>& fcr);
    void countRescued();

    // Key order (KeyOrder.cpp).
    void orderDuplicates(KeyOrder& order, const std::vector<uint32_t>& nextOf) const;

    PageSource source_;
    const Profile* profile_;
    TableGeometry tables_;
    uint64_t fileSize_ = 0;
    uint32_t pageSize_ = 0;
    uint32_t filePages_ = 0;
    uint16_t version_ = 0;
    bool ownerSet_ = false;
    uint8_t ownerMode_ = 0;

    // The slot: how a record is told from a free slot, and where its parts lie.
    enum class SlotMark : uint8_t {
        FreeChain, // 5.x: not on the chain of deleted records, and not zeros after a link
        Prefix,    // a 16-bit usage count, 0 when free
        Flag,      // compressed: a byte that is 1 for a record
    };
    SlotMark slotMark_ = SlotMark::FreeChain;
    uint32_t flagAt_ = 0;       // SlotMark::Flag: where the byte is
    uint32_t recordOffset_ = 0; // where the record's data begins in its slot (uncompressed)
    uint32_t pointerAt_ = 0;    // the variable part's pointer, or the compressed stream's
    uint32_t tailLengthAt_ = 0; // variable-tail files: the record's stored length
    uint32_t linksFrom_ = 0;    // duplicate links lie at or after this place in the slot
    bool compressed_ = false;
    bool variableTail_ = false;
    bool systemData_ = false;
    uint32_t addressBits_ = 0; // newer files: record addresses are logical page << this | slot

    uint32_t physicalLength_ = 0; // bytes per record slot
    uint32_t slotsPerPage_ = 0;
    Definition def_;
    std::vector<uint32_t> keyValues_;
    std::vector<uint32_t> dataPages_;    // physical page numbers, in step order
    std::vector<uint32_t> addressPages_; // the page numbers record addresses use, in step order
    std::vector<uint32_t> dataPageOf_;   // address page number -> index in dataPages_
    // Per key: where the record's links to its previous and next duplicate lie in the slot
    // (0 when the key keeps no such chain, or the format's chain is not known).
    std::vector<uint32_t> duplicateLinks_;
    // 5.x: the slots on the file's chain of deleted records, by slot ordinal, when the chain
    // could be followed to its end (empty otherwise).
    std::vector<bool> freeSlots_;
    bool freeChainRead_ = false;
    // Files with tables: per logical page, its physical page << 8 | its type's short code (0 for a
    // free page): 4 bytes a page.
    std::vector<uint32_t> logicalPages_;
    std::vector<std::unique_ptr<KeyOrder>> orders_;
    bool salvaging_ = false;
    bool wholeOnly_ = false;
    SalvageReport report_;
    // Scratch for a record's compressed stream and a variable tail's entries, reused.
    std::vector<uint8_t> stream_;
    std::vector<uint8_t> tailEntries_;

    // A few recently read pages, each page number in its own place (page number modulo the
    // count): a record's data page and the pages of its variable part stay at hand together.
    static constexpr uint32_t CachedPages = 8;
    std::vector<uint8_t> cache_;
    uint32_t cachedPage_[CachedPages] {};
    // Per cached variable page, once looked at: whether its fragment table's offsets ascend with
    // the fragment number (then a fragment ends where the next used entry's begins), -1 not yet.
    int8_t fragmentsAscend_[CachedPages] {};
};

} // namespace recman::legacy
