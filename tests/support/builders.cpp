#include "tests/support/builders.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"

namespace varnok::test {

std::vector<uint8_t> BuildZip(const std::vector<ZipItem>& items, const ZipOptions& opt) {
    std::vector<uint8_t> out(opt.prefix.begin(), opt.prefix.end());
    std::vector<uint8_t> central;
    const uint32_t dosTime = (44u << 25) | (1u << 21) | (2u << 16) | (3u << 11) | (4u << 5) | 5u;
    for (const auto& it : items) {
        uint32_t crc = Crc32(it.data.data(), it.data.size());
        uint32_t offset = static_cast<uint32_t>(out.size());
        AppendLe32(out, 0x04034B50);
        AppendLe16(out, 10);
        AppendLe16(out, it.flags);
        AppendLe16(out, 0);
        AppendLe32(out, dosTime);
        AppendLe32(out, crc);
        AppendLe32(out, static_cast<uint32_t>(it.data.size()));
        AppendLe32(out, static_cast<uint32_t>(it.data.size()));
        AppendLe16(out, static_cast<uint16_t>(it.name.size()));
        AppendLe16(out, 0);
        AppendBytes(out, it.name);
        AppendBytes(out, it.data);
        AppendLe32(central, 0x02014B50);
        AppendLe16(central, static_cast<uint16_t>((it.host << 8) | 20));
        AppendLe16(central, 10);
        AppendLe16(central, it.flags);
        AppendLe16(central, 0);
        AppendLe32(central, dosTime);
        AppendLe32(central, crc);
        AppendLe32(central, static_cast<uint32_t>(it.data.size()));
        AppendLe32(central, static_cast<uint32_t>(it.data.size()));
        AppendLe16(central, static_cast<uint16_t>(it.name.size()));
        AppendLe16(central, static_cast<uint16_t>(it.extra.size()));
        AppendLe16(central, static_cast<uint16_t>(it.comment.size()));
        AppendLe16(central, 0);
        AppendLe16(central, 0);
        AppendLe32(central, it.externalAttr);
        AppendLe32(central, offset);
        AppendBytes(central, it.name);
        AppendBytes(central, it.extra);
        AppendBytes(central, it.comment);
    }
    uint32_t cdOffset = static_cast<uint32_t>(out.size());
    if (!opt.omitCentral) out.insert(out.end(), central.begin(), central.end());
    AppendLe32(out, 0x06054B50);
    AppendLe16(out, 0);
    AppendLe16(out, 0);
    AppendLe16(out, static_cast<uint16_t>(items.size()));
    AppendLe16(out, static_cast<uint16_t>(items.size()));
    AppendLe32(out, static_cast<uint32_t>(central.size()));
    AppendLe32(out, cdOffset);
    AppendLe16(out, static_cast<uint16_t>(opt.comment.size()));
    AppendBytes(out, opt.comment);
    AppendBytes(out, opt.trailer);
    return out;
}

std::vector<uint8_t> BuildTar(const std::vector<TarItem>& items) {
    std::vector<uint8_t> out;
    for (const auto& it : items) {
        uint8_t h[512] = {};
        std::memcpy(h, it.name.data(), std::min<size_t>(it.name.size(), 100));
        snprintf(reinterpret_cast<char*>(h + 100), 8, "%07o", it.mode);
        snprintf(reinterpret_cast<char*>(h + 108), 8, "%07o", 1000);
        snprintf(reinterpret_cast<char*>(h + 116), 8, "%07o", 1000);
        snprintf(reinterpret_cast<char*>(h + 124), 12, "%011o", static_cast<unsigned>(it.data.size()));
        snprintf(reinterpret_cast<char*>(h + 136), 12, "%011o", 1600000000u);
        h[156] = static_cast<uint8_t>(it.type);
        std::memcpy(h + 157, it.link.data(), std::min<size_t>(it.link.size(), 100));
        std::memcpy(h + 257,
                    "ustar\0"
                    "00",
                    8);
        std::memset(h + 148, ' ', 8);
        unsigned sum = 0;
        for (uint8_t b : h)
            sum += b;
        snprintf(reinterpret_cast<char*>(h + 148), 8, "%06o", sum);
        h[155] = ' ';
        out.insert(out.end(), h, h + 512);
        out.insert(out.end(), it.data.begin(), it.data.end());
        out.resize((out.size() + 511) / 512 * 512, 0);
    }
    out.resize(out.size() + 1024, 0);
    out.resize((out.size() + 10239) / 10240 * 10240, 0);
    return out;
}

}  // namespace varnok::test
