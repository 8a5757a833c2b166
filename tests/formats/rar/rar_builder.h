// Small RAR 1.5-4 archives made in the tests: stored files with names of our choosing (also hostile ones)
// and data whose CRC may be made wrong on purpose.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/core/crc.h"

namespace varnok::test {

struct RarFile {
    std::string name;  // as stored ("\" between folders)
    std::string data;
    bool badCrc = false;
};

inline void PutLe(std::vector<uint8_t>& v, uint64_t x, int n) {
    for (int i = 0; i < n; ++i)
        v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}

inline std::vector<uint8_t> MakeRar4(const std::vector<RarFile>& files) {
    std::vector<uint8_t> a = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    auto block = [&](std::vector<uint8_t> h) {
        const uint32_t crc = Crc32(h.data() + 2, h.size() - 2);
        h[0] = static_cast<uint8_t>(crc);
        h[1] = static_cast<uint8_t>(crc >> 8);
        a.insert(a.end(), h.begin(), h.end());
    };
    std::vector<uint8_t> main = {0, 0, 0x73};
    PutLe(main, 0, 2);
    PutLe(main, 13, 2);
    PutLe(main, 0, 6);
    block(main);
    for (const RarFile& f : files) {
        std::vector<uint8_t> h = {0, 0, 0x74};
        PutLe(h, 0x8000, 2);
        PutLe(h, 32 + f.name.size(), 2);
        PutLe(h, f.data.size(), 4);
        PutLe(h, f.data.size(), 4);
        h.push_back(2);  // Windows
        PutLe(h, Crc32(f.data.data(), f.data.size()) ^ (f.badCrc ? 1u : 0u), 4);
        PutLe(h, 0x5A8E0000u, 4);  // 2025-04-14
        h.push_back(29);
        h.push_back(0x30);  // stored
        PutLe(h, f.name.size(), 2);
        PutLe(h, 0x20, 4);
        h.insert(h.end(), f.name.begin(), f.name.end());
        block(h);
        a.insert(a.end(), f.data.begin(), f.data.end());
    }
    std::vector<uint8_t> end = {0, 0, 0x7B};
    PutLe(end, 0x4000, 2);
    PutLe(end, 7, 2);
    block(end);
    return a;
}

}  // namespace varnok::test
