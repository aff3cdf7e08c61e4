// What a data file is, beyond its definition: the format and version it was written in and the
// features it uses, as the record manager's FileFacts operation hands them out (op::FileFacts in
// BtrCall.h), and the words for them.
#pragma once

#include <cstdint>
#include <string>

namespace btr::facts {

// The layout op::FileFacts fills: Size bytes, little-endian; bytes not named here are zero.
constexpr int Size = 16;
constexpr int LayoutVersion = 1;
namespace at {
constexpr int Version = 0;       // 16-bit: LayoutVersion
constexpr int Size = 2;          // 16-bit: facts::Size
constexpr int Family = 4;        // 8-bit: the format family (below)
constexpr int OwnerMode = 5;     // 8-bit: the owner name's access mode (0-3), NoOwner without one
constexpr int FormatVersion = 6; // 16-bit: the version word (5.x: the version byte in the high
                                 // byte; 6.x and newer: the control record's word, un-negated;
                                 // our own: the store's format version)
constexpr int Features = 8;      // 16-bit: the feature bits (below)
constexpr int Cipher = 10;       // 8-bit: which of the two rules decrypts the data (0: none)
} // namespace at

// Format families.
constexpr uint8_t OwnFormat = 0; // Varnok's own: an SQLite database
constexpr uint8_t V5 = 1;        // the vendor's 3.x to 5.x format
constexpr uint8_t V6 = 2;        // 6.x
constexpr uint8_t V8 = 3;        // the newer format: 8.x and 9.0
constexpr uint8_t V95 = 4;       // the newer format: 9.5

constexpr uint8_t NoOwner = 0xFF;

// Feature bits.
constexpr uint16_t Compressed = 0x0001;
constexpr uint16_t OwnerName = 0x0002;
constexpr uint16_t Encrypted = 0x0004;
constexpr uint16_t SystemData = 0x0008;
constexpr uint16_t VariableTail = 0x0010; // variable-tail allocation tables
constexpr uint16_t VariableLength = 0x0020;

// "version 9.5", "version 6.1", "version 8.x", "version 5.x": how messages name a version of the
// vendor's formats (the 3.x to 5.x format by the name users know it by, whatever its version byte
// says); our own files "Varnok's own format 1".
inline std::string versionName(uint8_t family, uint16_t version)
{
    if (family == OwnFormat)
        return "Varnok's own format " + std::to_string(version);
    if (family == V5)
        return "version 5.x";
    const unsigned major = version >> 8;
    const unsigned minor = (version >> 4) & 0xF;
    // 7.x and 8.x files are known by their major version alone.
    if (major == 7 || major == 8)
        return "version " + std::to_string(major) + ".x";
    return "version " + std::to_string(major) + "." + std::to_string(minor);
}

// An owner name's access mode in words.
inline const char* ownerModeText(uint8_t mode)
{
    switch (mode) {
    case 0:
        return "only the owner may read";
    case 1:
        return "others may read";
    case 2:
        return "only the owner may read, data encrypted";
    case 3:
        return "others may read, data encrypted";
    default:
        return "access mode not known";
    }
}

} // namespace btr::facts
