#include "SpecBuffer.h"

#include "LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace spec {

const std::array<FlagBit, 12> FileFlagBits {{
    {0, fileflag::VarLen, "ChVarLen", "VarLen"},
    {1, fileflag::BlankTrunc, "ChBlankTranc", "BlankTranc"},
    {2, fileflag::PreAlloc, "ChPreAlloc", "PreAlloc"},
    {3, fileflag::DataCompress, "ChDataCompres", "DataCompres"},
    {4, fileflag::KeyOnly, "ChKeyOnly", "KeyOnly"},
    {5, fileflag::IndexBalance, "ChIndexBalan", "IndexBalan"},
    {6, fileflag::Free10, "Ch10Free", "10Free"},
    {7, fileflag::Free20, "Ch20Free", "20Free"},
    {8, fileflag::DuplPointers, "ChDuplPoint", "DuplPoint"},
    {9, fileflag::Reserved, "ChReserv", "Reserv"},
    {10, fileflag::KeyNumbersGiven, "ChKeyNumSpec", "KeyNumSpec"},
    {11, fileflag::UseVats, "ChUseVATs", "UseVATs"},
}};

const std::array<FlagBit, 11> KeyFlagBits {{
    {0, keyflag::Duplicates, "ChDuplicates", "Duplicates"},
    {1, keyflag::Modifiable, "ChModifiable", "Modifiable"},
    {2, keyflag::Binary, "ChBinary", "Binary"},
    {3, keyflag::NullAllSegments, "ChNullKey_AllSeg", "NullKeyAllSeg"},
    {4, keyflag::Segmented, "ChSegmented", "Segmented"},
    {5, keyflag::Acs, "ChACS", "ACS"},
    {6, keyflag::Descending, "ChDescending", "Descending"},
    {7, keyflag::RepeatDuplicates, "ChRepeatDupl", "RepeatDupl"},
    {8, keyflag::ExtendedType, "ChExtType", "ExtType"},
    {9, keyflag::NullAnySegment, "ChNullKey_AnySeg", "NullKeyAnySeg"},
    {10, keyflag::CaseInsensitive, "ChCaseInsens", "CaseInsens"},
}};

const std::array<ExtType, 15> ExtTypes {{
    {exttype::String, 0, "String"},
    {exttype::Integer, 1, "Integer"},
    {exttype::Float, 2, "Float"},
    {exttype::Date, 3, "Date"},
    {exttype::Time, 4, "Time"},
    {exttype::Decimal, 5, "Decimal"},
    {exttype::Money, 6, "Money"},
    {exttype::Logical, 7, "Logical"},
    {exttype::Numeric, 8, "Numeric"},
    {exttype::BFloat, 9, "BFloat"},
    {exttype::LString, 10, "LString"},
    {exttype::ZString, 11, "ZString"},
    {exttype::Unsigned, 12, "Unsigned"},
    {exttype::Autoincrement, 13, "Autoincrement"},
    {exttype::SignSeparate, 14, "SignSeparate"},
}};

int comboIndexForCode(int code)
{
    for (const ExtType& t : ExtTypes) {
        if (t.code == code)
            return t.comboIndex;
    }
    return -1;
}

int codeForComboIndex(int index)
{
    if (index < 0 || index >= static_cast<int>(ExtTypes.size()))
        return -1;
    return ExtTypes[static_cast<size_t>(index)].code;
}

int32_t readField(const uint8_t* base, const Field& field)
{
    const uint8_t* p = base + field.offset;
    switch (field.width) {
    case Width::Unsigned8:
        return p[0];
    case Width::Signed16:
        return static_cast<int16_t>(btr::le::get16(p));
    case Width::Signed32:
        return static_cast<int32_t>(btr::le::get32(p));
    }
    return 0;
}

void writeField(uint8_t* base, const Field& field, int32_t value)
{
    uint8_t* p = base + field.offset;
    const auto bits = static_cast<uint32_t>(value);
    switch (field.width) {
    case Width::Unsigned8:
        p[0] = static_cast<uint8_t>(bits);
        break;
    case Width::Signed16:
        btr::le::put16(p, static_cast<uint16_t>(bits));
        break;
    case Width::Signed32:
        btr::le::put32(p, bits);
        break;
    }
}

int countKeys(const int16_t* keyFlags, int entryCount)
{
    int keys = 0;
    for (int i = 0; i < entryCount; ++i) {
        if ((static_cast<uint16_t>(keyFlags[i]) & keyflag::Segmented) == 0)
            ++keys;
    }
    return keys;
}

int32_t SpecBuffer::segmentField(int k, const Field& f) const
{
    if (k < 0 || k >= MaxEntries)
        return 0;
    return readField(data() + segmentOffset(k), f);
}

void SpecBuffer::setSegmentField(int k, const Field& f, int32_t v)
{
    if (k < 0 || k >= MaxEntries)
        return;
    writeField(data() + segmentOffset(k), f, v);
}

FileSpec SpecBuffer::fileSpec() const
{
    FileSpec s;
    s.RecordLength = static_cast<int16_t>(headerField(file::RecordLength));
    s.PageSize = static_cast<int16_t>(headerField(file::PageSize));
    s.NumIndexes = static_cast<int16_t>(headerField(file::NumIndexes));
    s.NumRecords = headerField(file::NumRecords);
    s.FileFlags = static_cast<int16_t>(headerField(file::FileFlags));
    s.DuplicatePointers = static_cast<uint8_t>(headerField(file::DuplicatePointers));
    s.Reserved = static_cast<uint8_t>(headerField(file::Reserved));
    s.UnusedPages = static_cast<int16_t>(headerField(file::UnusedPages));
    return s;
}

void SpecBuffer::setFileSpec(const FileSpec& s)
{
    setHeaderField(file::RecordLength, s.RecordLength);
    setHeaderField(file::PageSize, s.PageSize);
    setHeaderField(file::NumIndexes, s.NumIndexes);
    setHeaderField(file::NumRecords, s.NumRecords);
    setHeaderField(file::FileFlags, s.FileFlags);
    setHeaderField(file::DuplicatePointers, s.DuplicatePointers);
    setHeaderField(file::Reserved, s.Reserved);
    setHeaderField(file::UnusedPages, s.UnusedPages);
}

KeySegmentSpec SpecBuffer::segment(int k) const
{
    KeySegmentSpec s;
    s.Position = static_cast<int16_t>(segmentField(k, segment::Position));
    s.Length = static_cast<int16_t>(segmentField(k, segment::Length));
    s.KeyFlags = static_cast<int16_t>(segmentField(k, segment::KeyFlags));
    s.NumKeyValues = segmentField(k, segment::NumKeyValues);
    s.ExtendedType = static_cast<uint8_t>(segmentField(k, segment::ExtendedType));
    s.NullValue = static_cast<uint8_t>(segmentField(k, segment::NullValue));
    s.Reserved = static_cast<int16_t>(segmentField(k, segment::Reserved));
    s.ManualKeyNumber = static_cast<uint8_t>(segmentField(k, segment::ManualKeyNumber));
    s.AcsNumber = static_cast<uint8_t>(segmentField(k, segment::AcsNumber));
    return s;
}

void SpecBuffer::setSegment(int k, const KeySegmentSpec& s)
{
    setSegmentField(k, segment::Position, s.Position);
    setSegmentField(k, segment::Length, s.Length);
    setSegmentField(k, segment::KeyFlags, s.KeyFlags);
    setSegmentField(k, segment::NumKeyValues, s.NumKeyValues);
    setSegmentField(k, segment::ExtendedType, s.ExtendedType);
    setSegmentField(k, segment::NullValue, s.NullValue);
    setSegmentField(k, segment::Reserved, s.Reserved);
    setSegmentField(k, segment::ManualKeyNumber, s.ManualKeyNumber);
    setSegmentField(k, segment::AcsNumber, s.AcsNumber);
}

std::string acsNameFromBytes(const uint8_t* nameBytes)
{
    const auto* begin = reinterpret_cast<const char*>(nameBytes);
    const auto* end = std::find(begin, begin + AcsNameSize, '\0');
    return std::string(begin, end);
}

std::optional<AcsBlock> SpecBuffer::acs(int entryCount, int n) const
{
    if (!acsFits(entryCount, n))
        return std::nullopt;
    const uint8_t* p = data() + acsOffset(entryCount, n);
    AcsBlock block;
    block.Signature = p[0];
    block.Name = acsNameFromBytes(p + btr::layout::AcsNameOffset);
    std::memcpy(block.Table.data(), p + btr::layout::AcsTableOffset, AcsTableSize);
    return block;
}

bool SpecBuffer::setAcs(int entryCount, const AcsBlock& block, int n)
{
    if (!acsFits(entryCount, n))
        return false;
    uint8_t* p = data() + acsOffset(entryCount, n);
    p[0] = block.Signature;
    uint8_t* name = p + btr::layout::AcsNameOffset;
    std::memset(name, 0, AcsNameSize);
    // A name of exactly 8 characters fills the field and has no terminating zero.
    std::copy_n(block.Name.begin(), std::min<size_t>(block.Name.size(), AcsNameSize), name);
    std::memcpy(p + btr::layout::AcsTableOffset, block.Table.data(), AcsTableSize);
    return true;
}

Layout SpecBuffer::readLayout() const
{
    Layout layout;
    const int numIndexes = headerField(file::NumIndexes);
    int key = 0;
    while (key < numIndexes && layout.entryCount < MaxEntries) {
        const auto flags
            = static_cast<uint16_t>(segmentField(layout.entryCount, segment::KeyFlags));
        layout.keyOfEntry[static_cast<size_t>(layout.entryCount)] = key;
        if (flags & keyflag::Acs) {
            layout.hasAcs = true;
            const int number = segmentField(layout.entryCount, segment::AcsNumber);
            layout.acsBlockCount = std::max(layout.acsBlockCount, number + 1);
        }
        if ((flags & keyflag::Segmented) == 0)
            ++key;
        ++layout.entryCount;
    }
    return layout;
}

} // namespace spec
