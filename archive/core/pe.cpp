#include "archive/core/pe.h"

#include <algorithm>
#include <vector>

#include "archive/core/bytes.h"

namespace varnok {
namespace {

struct Section {
    uint32_t va, vsize, raw, rawSize;
};

struct PeInfo {
    std::vector<Section> sections;
    uint32_t resRva = 0, resSize = 0;
};

bool ReadPe(const platform::File& f, uint64_t size, PeInfo& pe) {
    uint8_t dos[64];
    if (size < 64 || f.ReadAt(0, dos, 64) != 64 || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint32_t lfanew = Le32(dos + 0x3C);
    if (lfanew < 64 || lfanew > size - 24 || lfanew > (1u << 24)) return false;
    uint8_t coff[24];
    if (f.ReadAt(lfanew, coff, 24) != 24 || coff[0] != 'P' || coff[1] != 'E' || coff[2] || coff[3])
        return false;
    uint16_t nsec = Le16(coff + 6);
    uint16_t optSize = Le16(coff + 20);
    if (nsec == 0 || nsec > 96 || optSize > 4096) return false;
    std::vector<uint8_t> opt(optSize);
    if (f.ReadAt(lfanew + 24, opt.data(), optSize) != optSize || optSize < 2) return false;
    uint16_t magic = Le16(opt.data());
    size_t dirOff = magic == 0x20B ? 112 : 96;
    if (optSize >= dirOff + 3 * 8) {
        pe.resRva = Le32(&opt[dirOff + 16]);
        pe.resSize = Le32(&opt[dirOff + 20]);
    }
    std::vector<uint8_t> sec(static_cast<size_t>(nsec) * 40);
    if (f.ReadAt(lfanew + 24 + optSize, sec.data(), sec.size()) != sec.size()) return false;
    for (uint16_t i = 0; i < nsec; ++i) {
        const uint8_t* s = &sec[i * 40u];
        pe.sections.push_back({Le32(s + 12), Le32(s + 8), Le32(s + 20), Le32(s + 16)});
    }
    return true;
}

bool RvaToOffset(const PeInfo& pe, uint32_t rva, uint64_t& off) {
    for (const auto& s : pe.sections) {
        uint32_t span = std::max(s.vsize, s.rawSize);
        if (rva >= s.va && rva - s.va < span && rva - s.va < s.rawSize) {
            off = static_cast<uint64_t>(s.raw) + (rva - s.va);
            return true;
        }
    }
    return false;
}

// Finds the entry with the given id in a resource directory (or the first entry when id < 0).
bool DirEntry(const platform::File& f, uint64_t dirOff, int id, uint32_t& target) {
    uint8_t hdr[16];
    if (f.ReadAt(dirOff, hdr, 16) != 16) return false;
    uint32_t count = static_cast<uint32_t>(Le16(hdr + 12)) + Le16(hdr + 14);
    if (count > 4096) return false;
    std::vector<uint8_t> ents(count * 8u);
    if (f.ReadAt(dirOff + 16, ents.data(), ents.size()) != ents.size()) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t name = Le32(&ents[i * 8u]), off = Le32(&ents[i * 8u + 4]);
        if (id < 0 || (!(name & 0x80000000u) && name == static_cast<uint32_t>(id))) {
            target = off;
            return true;
        }
    }
    return false;
}

}  // namespace

std::string ReadPeStringResource(const platform::File& f, uint64_t fileSize, int id) {
    PeInfo pe;
    if (id < 0 || !ReadPe(f, fileSize, pe) || pe.resRva == 0) return {};
    uint64_t root;
    if (!RvaToOffset(pe, pe.resRva, root)) return {};
    uint32_t t;
    // Type 6 (string table) / block (id / 16 + 1) / first language / data entry.
    if (!DirEntry(f, root, 6, t) || !(t & 0x80000000u)) return {};
    uint32_t b;
    if (!DirEntry(f, root + (t & 0x7FFFFFFFu), id / 16 + 1, b) || !(b & 0x80000000u)) return {};
    uint32_t l;
    if (!DirEntry(f, root + (b & 0x7FFFFFFFu), -1, l) || (l & 0x80000000u)) return {};
    uint8_t data[16];
    if (f.ReadAt(root + l, data, 16) != 16) return {};
    uint32_t rva = Le32(data), size = Le32(data + 4);
    uint64_t off;
    if (size > 65536 || !RvaToOffset(pe, rva, off)) return {};
    std::vector<uint8_t> blk(size);
    if (f.ReadAt(off, blk.data(), size) != size) return {};
    // Sixteen strings, each a 16-bit length and that many UTF-16 units.
    size_t pos = 0;
    for (int i = 0; i < 16; ++i) {
        if (pos + 2 > blk.size()) return {};
        uint16_t len = Le16(&blk[pos]);
        pos += 2;
        if (pos + 2u * len > blk.size()) return {};
        if (i == id % 16) {
            std::string out;
            for (uint16_t k = 0; k < len; ++k) {
                uint16_t u = Le16(&blk[pos + 2u * k]);
                if (u < 0x80)
                    out += static_cast<char>(u);
                else
                    out += '?';
            }
            return out;
        }
        pos += 2u * len;
    }
    return {};
}

uint64_t PeOverlayOffset(const platform::File& f, uint64_t fileSize) {
    PeInfo pe;
    if (!ReadPe(f, fileSize, pe)) return 0;
    uint64_t end = 0;
    for (const auto& s : pe.sections)
        if (s.rawSize) end = std::max<uint64_t>(end, static_cast<uint64_t>(s.raw) + s.rawSize);
    return end < fileSize ? end : 0;
}

}  // namespace varnok
