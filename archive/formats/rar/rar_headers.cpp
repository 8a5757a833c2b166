#include "archive/formats/rar/rar_headers.h"

#include <cstring>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"

namespace varnok::rar {
namespace {

constexpr uint64_t kMaxHeader = 2 * 1024 * 1024;

void AppendUtf8(std::string& s, uint32_t cp) {
    if (cp < 0x80)
        s += static_cast<char>(cp);
    else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | (cp >> 6));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
        s += static_cast<char>(0xE0 | (cp >> 12));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (cp >> 18));
        s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Reads a RAR 5 variable-length integer.
bool Vint(const uint8_t* p, size_t n, size_t& i, uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        if (i >= n) return false;
        uint8_t c = p[i++];
        v |= static_cast<uint64_t>(c & 0x7F) << shift;
        if (!(c & 0x80)) return true;
    }
    return false;
}

}  // namespace

Format DetectFormat(const platform::File& f, uint64_t pos) {
    uint8_t m[8];
    size_t got = f.ReadAt(pos, m, 8);
    if (got >= 7 && std::memcmp(m, "Rar!\x1A\x07\x00", 7) == 0) return Format::Rar4;
    if (got >= 8 && std::memcmp(m, "Rar!\x1A\x07\x01\x00", 8) == 0) return Format::Rar5;
    return Format::None;
}

std::string DecodeRar4UnicodeName(const uint8_t* name, size_t n) {
    size_t zero = 0;
    while (zero < n && name[zero])
        ++zero;
    if (zero >= n) {
        // Only the UTF-8 form (used by some writers when every character is representable).
        return std::string(reinterpret_cast<const char*>(name), n);
    }
    const uint8_t* enc = name + zero + 1;
    size_t encSize = n - zero - 1;
    std::u32string out;
    size_t ep = 0;
    if (encSize == 0) return std::string(reinterpret_cast<const char*>(name), zero);
    uint8_t highByte = enc[ep++];
    uint8_t flags = 0;
    int flagBits = 0;
    size_t dp = 0;
    while (ep < encSize && out.size() < 4096) {
        if (flagBits == 0) {
            flags = enc[ep++];
            flagBits = 8;
        }
        switch (flags >> 6) {
            case 0:
                if (ep >= encSize) break;
                out += static_cast<char32_t>(enc[ep++]);
                ++dp;
                break;
            case 1:
                if (ep >= encSize) break;
                out += static_cast<char32_t>(enc[ep++] + (highByte << 8));
                ++dp;
                break;
            case 2:
                if (ep + 1 >= encSize) {
                    ep = encSize;
                    break;
                }
                out += static_cast<char32_t>(enc[ep] + (enc[ep + 1] << 8));
                ep += 2;
                ++dp;
                break;
            case 3: {
                if (ep >= encSize) break;
                uint8_t len = enc[ep++];
                if (len & 0x80) {
                    if (ep >= encSize) break;
                    uint8_t correction = enc[ep++];
                    for (int k = (len & 0x7F) + 2; k > 0 && dp < zero; --k, ++dp)
                        out += static_cast<char32_t>(((name[dp] + correction) & 0xFF) + (highByte << 8));
                } else {
                    for (int k = len + 2; k > 0 && dp < zero; --k, ++dp)
                        out += static_cast<char32_t>(name[dp]);
                }
                break;
            }
        }
        flags = static_cast<uint8_t>(flags << 2);
        flagBits -= 2;
    }
    std::string s;
    for (char32_t c : out)
        AppendUtf8(s, c);
    return s;
}

namespace {

// The encrypted form's padding: whole AES blocks.
uint64_t Round16(uint64_t n) {
    return (n + 15) & ~uint64_t{15};
}

// Reads n encrypted bytes at pos into out, decrypting with d (whose chain goes on from earlier blocks).
bool ReadDecrypted(const platform::File& f, uint64_t pos, size_t n, uint8_t* out, crypto::AesCbcDecryptor& d) {
    if (f.ReadAt(pos, out, n) != n) return false;
    d.Decrypt(out, n);
    return true;
}

ReadResult Parse4(const std::vector<uint8_t>& hdr, uint64_t pos, uint64_t physical, Block& b, HeaderCrypt* crypt) {
    const bool encrypted = crypt && crypt->active;
    b.type = hdr[2];
    b.flags = Le16(&hdr[3]);
    b.headerSize = physical;
    const uint16_t crc = Le16(hdr.data());
    if (encrypted && (Crc32(&hdr[2], hdr.size() - 2) & 0xFFFF) != crc) {
        // Decrypted with a wrong key, a header fails its check (the format has no other password check).
        crypt->wrongPassword = true;
        return ReadResult::Bad;
    }
    if (b.type == 0x7B) {
        b.nextPos = pos + physical;
        b.moreVolumes = b.flags & 0x0001;
        return ReadResult::End;
    }
    if ((b.flags & f4LongBlock) || b.type == 0x74 || b.type == 0x7A) {
        if (hdr.size() < 11) return ReadResult::Bad;
        b.dataSize = Le32(&hdr[7]);
    }
    if (b.type == 0x73) {
        // The CRC covers the archive header and, in some versions, its two reserved fields only.
        b.headersEncrypted = b.flags & 0x0080;
        b.multiVolume = b.flags & 0x0001;
        if (b.headersEncrypted && crypt && !crypt->password.empty()) crypt->active = true;
    } else if (b.type == 0x74) {
        if (hdr.size() < 32) return ReadResult::Bad;
        b.isFile = true;
        b.unpackedSize = Le32(&hdr[11]);
        b.hostOs = hdr[15];
        b.crc = Le32(&hdr[16]);
        b.dosTime = Le32(&hdr[20]);
        b.versionNeeded = hdr[24];
        b.method = hdr[25];
        uint16_t nameSize = Le16(&hdr[26]);
        b.attributes = Le32(&hdr[28]);
        size_t p = 32;
        if (b.flags & f4Large) {
            if (hdr.size() < 40) return ReadResult::Bad;
            b.dataSize |= static_cast<uint64_t>(Le32(&hdr[32])) << 32;
            b.unpackedSize |= static_cast<uint64_t>(Le32(&hdr[36])) << 32;
            p = 40;
        }
        if (p + nameSize > hdr.size()) return ReadResult::Bad;
        // The check covers the whole header, or (old versions with a file comment inside) the part up to the
        // name's end.
        if ((Crc32(&hdr[2], hdr.size() - 2) & 0xFFFF) != crc &&
            (Crc32(&hdr[2], p + nameSize - 2) & 0xFFFF) != crc)
            return ReadResult::Bad;
        if (b.flags & f4Unicode) {
            b.name = DecodeRar4UnicodeName(&hdr[p], nameSize);
            b.nameIsUtf8 = true;
        } else {
            b.name.assign(reinterpret_cast<const char*>(&hdr[p]), nameSize);
        }
        if ((b.flags & f4Salt) && p + nameSize + 8 <= hdr.size()) {
            b.hasSalt = true;
            std::memcpy(b.salt.data(), &hdr[p + nameSize], 8);
        }
        b.splitBefore = b.flags & f4SplitBefore;
        b.splitAfter = b.flags & f4SplitAfter;
        b.encrypted = b.flags & f4Encrypted;
        b.solid = b.flags & f4Solid;
        b.isDirectory = (b.flags & f4DirectoryMask) == f4DirectoryMask;
        if (b.hostOs == 3 && (b.attributes & 0170000) == 0040000) b.isDirectory = true;
    }
    b.nextPos = pos + physical + b.dataSize;
    return ReadResult::Ok;
}

ReadResult Parse5(const std::vector<uint8_t>& hdr, size_t i, uint64_t pos, uint64_t physical, Block& b,
                  HeaderCrypt* crypt) {
    if (Crc32(&hdr[4], hdr.size() - 4) != Le32(hdr.data())) return ReadResult::Bad;
    const uint8_t* p = hdr.data();
    size_t n = hdr.size();
    uint64_t type, flags, extraSize = 0, dataSize = 0;
    if (!Vint(p, n, i, type) || !Vint(p, n, i, flags)) return ReadResult::Bad;
    if ((flags & 1) && !Vint(p, n, i, extraSize)) return ReadResult::Bad;
    if ((flags & 2) && !Vint(p, n, i, dataSize)) return ReadResult::Bad;
    b.type = static_cast<uint8_t>(type);
    b.flags = static_cast<uint32_t>(flags);
    b.headerSize = physical;
    b.dataSize = dataSize;
    b.nextPos = pos + physical + dataSize;
    if (b.nextPos < pos) return ReadResult::Bad;
    if (extraSize > n - i) return ReadResult::Bad;
    size_t extraStart = n - static_cast<size_t>(extraSize);
    if (type == 5) {
        uint64_t endFlags;
        if (Vint(p, extraStart, i, endFlags)) b.moreVolumes = endFlags & 1;
        return ReadResult::End;
    }
    if (type == 4) {
        b.headersEncrypted = true;
        if (crypt && !crypt->password.empty()) {
            Rar5Crypt c;
            if (!ParseRar5Crypt(p + i, extraStart - i, false, c)) return ReadResult::Bad;
            switch (DeriveRar5Keys(crypt->password, c, crypt->rar5)) {
                case Rar5KdfResult::Ok: crypt->active = true; break;
                case Rar5KdfResult::WrongPassword: crypt->wrongPassword = true; break;
                case Rar5KdfResult::Unsupported: crypt->unsupported = true; break;
            }
        }
        return ReadResult::Ok;
    }
    if (type == 1) {
        uint64_t archFlags;
        if (Vint(p, n, i, archFlags)) b.multiVolume = archFlags & 1;
        return ReadResult::Ok;
    }
    if (type != 2 && type != 3) return ReadResult::Ok;
    uint64_t fileFlags, unpacked, attrs, compInfo, hostOs, nameLen;
    if (!Vint(p, n, i, fileFlags) || !Vint(p, n, i, unpacked) || !Vint(p, n, i, attrs))
        return ReadResult::Bad;
    if (fileFlags & 2) {
        if (i + 4 > n) return ReadResult::Bad;
        b.unixTime = Le32(p + i);
        i += 4;
    }
    if (fileFlags & 4) {
        if (i + 4 > n) return ReadResult::Bad;
        b.crc = Le32(p + i);
        i += 4;
    }
    if (!Vint(p, n, i, compInfo) || !Vint(p, n, i, hostOs) || !Vint(p, n, i, nameLen)) return ReadResult::Bad;
    if (nameLen > extraStart || i + nameLen > extraStart) return ReadResult::Bad;
    b.name.assign(reinterpret_cast<const char*>(p + i), static_cast<size_t>(nameLen));
    b.nameIsUtf8 = true;
    b.isFile = type == 2;
    b.isDirectory = fileFlags & 1;
    b.unpackedSize = unpacked;
    b.attributes = static_cast<uint32_t>(attrs);
    b.hostOs = static_cast<uint8_t>(hostOs);
    b.method = static_cast<uint8_t>('0' + ((compInfo >> 7) & 7));
    b.versionNeeded = static_cast<uint8_t>(compInfo & 0x3F);
    b.compVersion = static_cast<uint8_t>(compInfo & 0x3F);
    b.solid = compInfo & 0x40;
    {
        const unsigned shift = static_cast<unsigned>((compInfo >> 10) & (b.compVersion == 0 ? 0x0F : 0x1F));
        const uint64_t base = uint64_t{128 * 1024} << shift;
        const uint64_t fraction = b.compVersion == 0 ? 0 : (compInfo >> 15) & 0x1F;
        b.dictionarySize = base + base / 32 * fraction;
    }
    b.splitBefore = flags & 0x08;
    b.splitAfter = flags & 0x10;
    // Extra area records: size, type, data. Type 1 is encryption, 2 the file hash, 3 file time.
    size_t e = extraStart;
    while (e < n) {
        uint64_t recSize, recType;
        size_t start = e;
        if (!Vint(p, n, e, recSize) || recSize == 0 || recSize > n - e) break;
        size_t recEnd = e + static_cast<size_t>(recSize);
        if (!Vint(p, recEnd, e, recType)) break;
        if (recType == 1) {
            b.encrypted = true;
            b.cryptRecord.assign(p + e, p + recEnd);
        }
        if (recType == 2) {
            uint64_t hashType;
            if (Vint(p, recEnd, e, hashType) && hashType == 0 && e + 32 <= recEnd) {
                b.hasBlake2 = true;
                std::memcpy(b.blake2.data(), p + e, 32);
            }
        }
        if (recType == 3) {
            uint64_t tflags;
            if (Vint(p, recEnd, e, tflags) && (tflags & 2)) {
                if (tflags & 1) {
                    if (e + 4 <= recEnd) b.unixTime = Le32(p + e);
                } else if (e + 8 <= recEnd) {
                    int64_t ft = static_cast<int64_t>(Le64(p + e));
                    b.unixTime = ft / 10000000 - 11644473600LL;
                }
            }
        }
        e = recEnd;
        if (e <= start) break;
    }
    return ReadResult::Ok;
}

}  // namespace

ReadResult ReadBlock4(const platform::File& f, uint64_t pos, uint64_t fileSize, Block& b, HeaderCrypt* crypt) {
    b = Block{};
    b.pos = pos;
    if (pos >= fileSize) return ReadResult::End;
    std::vector<uint8_t> hdr;
    uint64_t physical;
    if (crypt && crypt->active) {
        // An 8-byte salt, then the header in whole AES blocks.
        uint8_t salt[8], first[16];
        if (fileSize - pos < 8 + 16 || f.ReadAt(pos, salt, 8) != 8) return ReadResult::Bad;
        const Rar3Key& k = crypt->rar3.Get(crypt->password, salt);
        crypto::AesCbcDecryptor d;
        d.Init(k.key.data(), 16, k.iv.data());
        if (!ReadDecrypted(f, pos + 8, 16, first, d)) return ReadResult::Bad;
        const uint16_t size = Le16(first + 5);
        if (size < 7) {
            crypt->wrongPassword = true;
            return ReadResult::Bad;
        }
        const uint64_t enc = Round16(size);
        if (enc > fileSize - pos - 8) {
            crypt->wrongPassword = true;
            return ReadResult::Bad;
        }
        hdr.resize(static_cast<size_t>(enc));
        std::memcpy(hdr.data(), first, 16);
        if (enc > 16 && !ReadDecrypted(f, pos + 24, static_cast<size_t>(enc - 16), hdr.data() + 16, d))
            return ReadResult::Bad;
        hdr.resize(size);
        physical = 8 + enc;
    } else {
        uint8_t h[7];
        if (pos + 7 > fileSize || f.ReadAt(pos, h, 7) != 7) return ReadResult::Bad;
        const uint16_t size = Le16(h + 5);
        if (size < 7) return ReadResult::Bad;
        hdr.resize(size);
        if (pos + size > fileSize || f.ReadAt(pos, hdr.data(), hdr.size()) != hdr.size()) return ReadResult::Bad;
        physical = size;
    }
    return Parse4(hdr, pos, physical, b, crypt);
}

ReadResult ReadBlock5(const platform::File& f, uint64_t pos, uint64_t fileSize, Block& b, HeaderCrypt* crypt) {
    b = Block{};
    b.pos = pos;
    if (pos >= fileSize) return ReadResult::End;
    std::vector<uint8_t> hdr;
    uint64_t physical;
    size_t i = 4;
    if (crypt && crypt->active) {
        // A 16-byte IV, then the header (CRC, size, fields) in whole AES blocks.
        uint8_t iv[16], first[16];
        if (fileSize - pos < 32 || f.ReadAt(pos, iv, 16) != 16) return ReadResult::Bad;
        crypto::AesCbcDecryptor d;
        d.Init(crypt->rar5.key.data(), 32, iv);
        if (!ReadDecrypted(f, pos + 16, 16, first, d)) return ReadResult::Bad;
        uint64_t hsize;
        if (!Vint(first, 16, i, hsize) || hsize == 0 || hsize > kMaxHeader) return ReadResult::Bad;
        const uint64_t total = i + hsize;
        const uint64_t enc = Round16(total);
        // The decrypted length must fit in what the file holds.
        if (enc > fileSize - pos - 16) return ReadResult::Bad;
        hdr.resize(static_cast<size_t>(enc));
        std::memcpy(hdr.data(), first, 16);
        if (enc > 16 && !ReadDecrypted(f, pos + 32, static_cast<size_t>(enc - 16), hdr.data() + 16, d))
            return ReadResult::Bad;
        hdr.resize(static_cast<size_t>(total));
        physical = 16 + enc;
    } else {
        uint8_t head[16];
        size_t got = f.ReadAt(pos, head, sizeof head);
        if (got < 6) return ReadResult::Bad;
        uint64_t hsize;
        if (!Vint(head, got, i, hsize) || hsize == 0 || hsize > kMaxHeader) return ReadResult::Bad;
        const uint64_t total = i + hsize;
        if (pos + total > fileSize) return ReadResult::Bad;
        hdr.resize(static_cast<size_t>(total));
        if (f.ReadAt(pos, hdr.data(), hdr.size()) != hdr.size()) return ReadResult::Bad;
        physical = total;
    }
    return Parse5(hdr, i, pos, physical, b, crypt);
}

}  // namespace varnok::rar
