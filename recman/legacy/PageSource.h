// The bytes of a legacy file as the reader sees them: read in place, read-only, and decrypted when
// its data is encrypted under an owner name. Every stage above reads through here, so that an
// encrypted file is read as a plain one.
#pragma once

#include "Posix.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace recman::legacy {

// How an encrypted file's bytes are XORed with the 8 key bytes of its owner block (the byte at
// file offset x, past the plain control records).
enum class Cipher : uint8_t {
    None = 0,
    Rule1 = 1, // key[x mod 8]
    Rule2 = 2, // with o = x mod page size: key[2 * ((o div 256) mod 4) + (o mod 2)]
};

class PageSource
{
public:
    using Key = std::array<uint8_t, 8>;

    // 0 or the failure's code.
    int open(const std::string& path) { return file_.open(path); }
    int info(posix::FileInfo& out) const { return file_.info(out); }

    // Decrypts from here on: every byte from `plainEnd` on, by `cipher`.
    void decryptWith(Cipher cipher, const Key& key, uint64_t plainEnd, uint32_t pageSize)
    {
        cipher_ = cipher;
        key_ = key;
        plainEnd_ = plainEnd;
        pageSize_ = pageSize;
    }
    Cipher cipher() const { return cipher_; }

    // Exactly `length` bytes at `offset`, decrypted; false on an error or past the end of the file.
    bool readAt(uint64_t offset, void* out, size_t length) const
    {
        if (!file_.readAt(offset, out, length))
            return false;
        if (cipher_ != Cipher::None)
            decrypt(
                cipher_, key_, plainEnd_, pageSize_, offset, static_cast<uint8_t*>(out), length);
        return true;
    }

    // The same transformation on bytes read from `offset` (XOR undoes itself).
    static void decrypt(Cipher cipher, const Key& key, uint64_t plainEnd, uint32_t pageSize,
        uint64_t offset, uint8_t* bytes, size_t length);

private:
    posix::ReadOnlyFile file_;
    Cipher cipher_ = Cipher::None;
    Key key_ {};
    uint64_t plainEnd_ = 0;
    uint32_t pageSize_ = 0;
};

} // namespace recman::legacy
