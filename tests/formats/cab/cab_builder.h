// Small stored cabinets made byte by byte, for names and layouts that no cabinet tool writes (hostile names,
// damaged records) and for seeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace varnok::test {

struct CabMember {
    std::string name;  // stored as given ("\" between folders, any bytes)
    std::string data;
    uint16_t attribs = 0x20;
};

// One stored folder holding every member's data in blocks of at most 32 KiB; no block checksums.
inline std::vector<uint8_t> StoredCabinet(const std::vector<CabMember>& members) {
    auto put16 = [](std::vector<uint8_t>& v, uint32_t x) {
        v.push_back(static_cast<uint8_t>(x));
        v.push_back(static_cast<uint8_t>(x >> 8));
    };
    auto put32 = [&](std::vector<uint8_t>& v, uint32_t x) {
        put16(v, x & 0xFFFF);
        put16(v, x >> 16);
    };
    std::string all;
    std::vector<uint8_t> files;
    for (const auto& m : members) {
        put32(files, static_cast<uint32_t>(m.data.size()));
        put32(files, static_cast<uint32_t>(all.size()));
        put16(files, 0);       // folder 0
        put16(files, 0x5A21);  // 2025-01-01
        put16(files, 0x6000);  // 12:00:00
        put16(files, m.attribs);
        files.insert(files.end(), m.name.begin(), m.name.end());
        files.push_back(0);
        all += m.data;
    }
    std::vector<uint8_t> blocks;
    uint16_t count = 0;
    for (size_t p = 0; p < all.size() || count == 0; p += 32768) {
        size_t n = std::min<size_t>(32768, all.size() - p);
        put32(blocks, 0);
        put16(blocks, static_cast<uint32_t>(n));
        put16(blocks, static_cast<uint32_t>(n));
        blocks.insert(blocks.end(), all.begin() + static_cast<long>(p), all.begin() + static_cast<long>(p + n));
        ++count;
        if (all.empty()) break;
    }
    const uint32_t filesAt = 36 + 8;
    const uint32_t dataAt = filesAt + static_cast<uint32_t>(files.size());
    std::vector<uint8_t> cab = {'M', 'S', 'C', 'F'};
    put32(cab, 0);
    put32(cab, dataAt + static_cast<uint32_t>(blocks.size()));
    put32(cab, 0);
    put32(cab, filesAt);
    put32(cab, 0);
    cab.push_back(3);
    cab.push_back(1);
    put16(cab, 1);
    put16(cab, static_cast<uint32_t>(members.size()));
    put16(cab, 0);
    put16(cab, 0x1234);
    put16(cab, 0);
    put32(cab, dataAt);
    put16(cab, count);
    put16(cab, 0);
    cab.insert(cab.end(), files.begin(), files.end());
    cab.insert(cab.end(), blocks.begin(), blocks.end());
    return cab;
}

}  // namespace varnok::test
