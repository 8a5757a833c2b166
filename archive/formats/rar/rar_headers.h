// RAR headers: the block format of RAR 1.5 to 4.x and the RAR 5 format.
//
// Headers encrypted with the archive's password (-hp) are read through a HeaderCrypt the caller keeps for the
// walk: the main header (RAR 4) or the archive encryption header (RAR 5) switches it on, and from then on every
// block is decrypted before it is parsed (RAR 4: an 8-byte salt, then AES-128-CBC with that salt's key; RAR 5:
// a 16-byte IV, then AES-256-CBC with the key of the encryption header). Each block is parsed from memory, so
// the plain and the decrypted path share one parser, and the decrypted length is checked against what the
// file holds before anything is read.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/formats/rar/rar_crypt.h"
#include "platform/file.h"

namespace varnok::rar {

enum class Format { None, Rar4, Rar5 };

// The format of the marker at pos ("Rar!" 1A 07 00 or "Rar!" 1A 07 01 00).
Format DetectFormat(const platform::File& f, uint64_t pos);
inline constexpr size_t kMarker4Size = 7;
inline constexpr size_t kMarker5Size = 8;

enum FileFlags4 : uint16_t {
    f4SplitBefore = 0x0001,
    f4SplitAfter = 0x0002,
    f4Encrypted = 0x0004,
    f4Solid = 0x0010,
    f4DirectoryMask = 0x00E0,
    f4Large = 0x0100,
    f4Unicode = 0x0200,
    f4Salt = 0x0400,
    f4ExtTime = 0x1000,
    f4LongBlock = 0x8000,
};

struct Block {
    uint64_t pos = 0;
    uint8_t type = 0;    // RAR 4 block type (0x73 main, 0x74 file, 0x7A service, 0x7B end); RAR 5 header type
    uint32_t flags = 0;  // header flags
    uint64_t headerSize = 0;
    uint64_t dataSize = 0;
    uint64_t nextPos = 0;
    // File headers.
    bool isFile = false;
    bool isDirectory = false;
    bool encrypted = false;
    bool splitBefore = false;
    bool splitAfter = false;
    bool solid = false;
    std::string name;  // UTF-8 when the archive says so (RAR 5, RAR 4 Unicode names), else raw bytes
    bool nameIsUtf8 = false;
    uint64_t unpackedSize = 0;
    uint8_t hostOs = 0;  // RAR 4: 0 DOS, 2 Win32, 3 Unix; RAR 5: 0 Windows, 1 Unix
    uint32_t crc = 0;
    uint32_t dosTime = 0;
    int64_t unixTime = 0;  // RAR 5, when stored
    uint8_t versionNeeded = 0;
    uint8_t method = 0;  // '0' .. '5'
    uint32_t attributes = 0;
    // Encryption: RAR 4 entries' salt; RAR 5 entries' encryption record (its body after the record type).
    bool hasSalt = false;
    std::array<uint8_t, 8> salt{};
    std::vector<uint8_t> cryptRecord;
    // RAR 5 compression: the format version (0: RAR 5.0) and the dictionary size the entry asks for.
    uint8_t compVersion = 0;
    uint64_t dictionarySize = 0;
    // RAR 5 entries checked by BLAKE2sp instead of CRC-32 (then crc is 0).
    bool hasBlake2 = false;
    std::array<uint8_t, 32> blake2{};
    // Main header.
    bool headersEncrypted = false;  // nothing after this block can be read without the password
    bool multiVolume = false;
    // End of archive: another volume follows.
    bool moreVolumes = false;
};

// The state of a walk over encrypted headers.
struct HeaderCrypt {
    std::string password;
    bool active = false;         // the blocks from here on are encrypted
    bool wrongPassword = false;  // RAR 5: the encryption header's check value refused the password
    bool unsupported = false;    // RAR 5: a cipher or round count this reader does not take
    Rar3KeyCache rar3;
    Rar5Keys rar5;
};

enum class ReadResult { Ok, End, Bad };

// Reads the block at pos (after the marker). RAR 4 headers are checked with their CRC.
// With a HeaderCrypt that holds a password, an archive with encrypted headers is read through (Bad then also
// stands for a wrong password: RAR 4 tells it only by the header's CRC).
ReadResult ReadBlock4(const platform::File& f, uint64_t pos, uint64_t fileSize, Block& b,
                      HeaderCrypt* crypt = nullptr);
ReadResult ReadBlock5(const platform::File& f, uint64_t pos, uint64_t fileSize, Block& b,
                      HeaderCrypt* crypt = nullptr);

// Decodes the Unicode name of a RAR 4 file header ("name\0encoded" form) into UTF-8.
std::string DecodeRar4UnicodeName(const uint8_t* p, size_t n);

}  // namespace varnok::rar
