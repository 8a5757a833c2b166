// A ZIP file of many small stored entries over many folders, with varied sizes, dates, extensions and
// attributes, for the benchmarks of the main window (ZIP64 end records above 65,535 entries).
#pragma once

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "platform/file.h"

namespace varnok::bench {

inline void Put64(std::vector<uint8_t>& out, uint64_t v) {
    uint8_t b[8];
    varnok::PutLe64(b, v);
    out.insert(out.end(), b, b + 8);
}

// A ZIP of n small stored entries over many folders, with varied sizes, dates and extensions (ZIP64 end
// records above 65,535 entries).
inline void BuildZip(const std::string& path, int n) {
    static const char* const kExt[] = {"txt", "c", "h", "png", "html", "md", "json", "bin", "o", "cpp"};
    std::vector<uint8_t> out, central;
    out.reserve(static_cast<size_t>(n) * 140);
    for (int i = 0; i < n; ++i) {
        char name[96];
        const long long k = i;
        snprintf(name, sizeof name, "dir%03lld/sub%02d/File%06lld.%s", (k * 7919) % 997, i % 37,
                 (k * 104729) % 1000003, kExt[i % 10]);
        std::string data(static_cast<size_t>((i * 31) % 211), static_cast<char>('a' + i % 26));
        uint32_t crc = varnok::Crc32(data.data(), data.size());
        uint32_t packed = static_cast<uint32_t>(data.size() - data.size() * (i % 5) / 10);
        uint32_t dos = ((20u + i % 20) << 25) | ((1u + i % 12) << 21) | ((1u + i % 28) << 16) |
                       ((i % 24) << 11) | ((i % 60) << 5);
        uint32_t off = static_cast<uint32_t>(out.size());
        uint16_t nl = static_cast<uint16_t>(strlen(name));
        varnok::AppendLe32(out, 0x04034B50);
        varnok::AppendLe16(out, 10);
        varnok::AppendLe16(out, 0);
        varnok::AppendLe16(out, 0);
        varnok::AppendLe32(out, dos);
        varnok::AppendLe32(out, crc);
        varnok::AppendLe32(out, static_cast<uint32_t>(data.size()));
        varnok::AppendLe32(out, static_cast<uint32_t>(data.size()));
        varnok::AppendLe16(out, nl);
        varnok::AppendLe16(out, 0);
        out.insert(out.end(), name, name + nl);
        out.insert(out.end(), data.begin(), data.end());
        varnok::AppendLe32(central, 0x02014B50);
        varnok::AppendLe16(central, 0x0014);
        varnok::AppendLe16(central, 10);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe32(central, dos);
        varnok::AppendLe32(central, crc);
        varnok::AppendLe32(central, packed);
        varnok::AppendLe32(central, static_cast<uint32_t>(data.size()));
        varnok::AppendLe16(central, nl);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe16(central, 0);
        varnok::AppendLe32(central, i % 3 == 0 ? 0x21u : 0x20u);
        varnok::AppendLe32(central, off);
        central.insert(central.end(), name, name + nl);
    }
    uint64_t cd = out.size();
    out.insert(out.end(), central.begin(), central.end());
    const bool zip64 = n > 0xFFFF;
    if (zip64) {
        uint64_t rec = out.size();
        varnok::AppendLe32(out, 0x06064B50);
        Put64(out, 44);
        varnok::AppendLe16(out, 45);
        varnok::AppendLe16(out, 45);
        varnok::AppendLe32(out, 0);
        varnok::AppendLe32(out, 0);
        for (uint64_t v : {uint64_t(n), uint64_t(n), uint64_t(central.size()), cd})
            Put64(out, v);
        varnok::AppendLe32(out, 0x07064B50);
        varnok::AppendLe32(out, 0);
        Put64(out, rec);
        varnok::AppendLe32(out, 1);
    }
    varnok::AppendLe32(out, 0x06054B50);
    varnok::AppendLe16(out, 0);
    varnok::AppendLe16(out, 0);
    varnok::AppendLe16(out, zip64 ? 0xFFFF : static_cast<uint16_t>(n));
    varnok::AppendLe16(out, zip64 ? 0xFFFF : static_cast<uint16_t>(n));
    varnok::AppendLe32(out, static_cast<uint32_t>(central.size()));
    varnok::AppendLe32(out, zip64 ? 0xFFFFFFFFu : static_cast<uint32_t>(cd));
    varnok::AppendLe16(out, 0);
    varnok::platform::File f;
    f.Open(path, varnok::platform::File::Mode::Create);
    f.Write(out.data(), out.size());
}

}  // namespace varnok::bench
