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
        const std::string& stored = it.method ? it.packed : it.data;
        AppendLe16(out, it.method ? 20 : 10);
        AppendLe16(out, it.flags);
        AppendLe16(out, it.method);
        AppendLe32(out, dosTime);
        AppendLe32(out, crc);
        AppendLe32(out, static_cast<uint32_t>(stored.size()));
        AppendLe32(out, static_cast<uint32_t>(it.data.size()));
        AppendLe16(out, static_cast<uint16_t>(it.name.size()));
        AppendLe16(out, 0);
        AppendBytes(out, it.name);
        AppendBytes(out, stored);
        AppendLe32(central, 0x02014B50);
        AppendLe16(central, static_cast<uint16_t>((it.host << 8) | 20));
        AppendLe16(central, it.method ? 20 : 10);
        AppendLe16(central, it.flags);
        AppendLe16(central, it.method);
        AppendLe32(central, dosTime);
        AppendLe32(central, crc);
        AppendLe32(central, static_cast<uint32_t>(stored.size()));
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

namespace {

const uint32_t kBuilderDosTime = (44u << 25) | (1u << 21) | (2u << 16) | (3u << 11) | (4u << 5) | 5u;

}  // namespace

std::vector<uint8_t> BuildLzh(const std::vector<LzhItem>& items) {
    std::vector<uint8_t> out;
    for (const auto& it : items) {
        const uint16_t crc = static_cast<uint16_t>(UpdateCrc16(0, it.data.data(), it.data.size()));
        std::vector<uint8_t> h;
        if (it.level == 0 || it.level == 1) {
            h.push_back(0);  // size, set below
            h.push_back(0);  // checksum, set below
            AppendBytes(h, it.method);
            AppendLe32(h, static_cast<uint32_t>(it.data.size()));
            AppendLe32(h, static_cast<uint32_t>(it.data.size()));
            AppendLe32(h, kBuilderDosTime);
            h.push_back(0x20);
            h.push_back(static_cast<uint8_t>(it.level));
            h.push_back(static_cast<uint8_t>(it.name.size()));
            AppendBytes(h, it.name);
            AppendLe16(h, crc);
            if (it.level == 1) {
                h.push_back(it.osId);
                AppendLe16(h, 0);  // no extended headers
            }
            h[0] = static_cast<uint8_t>(h.size() - 2);
            uint8_t sum = 0;
            for (size_t i = 2; i < h.size(); ++i)
                sum = static_cast<uint8_t>(sum + h[i]);
            h[1] = sum;
        } else {
            AppendLe16(h, 0);  // total size, set below
            AppendBytes(h, it.method);
            AppendLe32(h, static_cast<uint32_t>(it.data.size()));
            AppendLe32(h, static_cast<uint32_t>(it.data.size()));
            AppendLe32(h, 1700000000u);
            h.push_back(0x20);
            h.push_back(2);
            AppendLe16(h, crc);
            h.push_back(it.osId);
            // The file name extension: size (type, name, next size), type 1, the name; then the end.
            AppendLe16(h, static_cast<uint16_t>(it.name.size() + 3));
            h.push_back(1);
            AppendBytes(h, it.name);
            AppendLe16(h, 0);
            h[0] = static_cast<uint8_t>(h.size() & 0xFF);
            h[1] = static_cast<uint8_t>(h.size() >> 8);
        }
        out.insert(out.end(), h.begin(), h.end());
        AppendBytes(out, it.data);
    }
    out.push_back(0);
    return out;
}

std::vector<uint8_t> BuildArj(const std::vector<ArjItem>& items) {
    std::vector<uint8_t> out;
    auto header = [&](uint8_t hostOs, uint8_t method, uint8_t fileType, uint32_t size, uint32_t crc,
                      const std::string& name) {
        std::vector<uint8_t> b;
        b.push_back(30);  // first header size
        b.push_back(11);  // archiver version
        b.push_back(1);   // minimum version
        b.push_back(hostOs);
        b.push_back(0);  // flags
        b.push_back(method);
        b.push_back(fileType);
        b.push_back(0);
        AppendLe32(b, kBuilderDosTime);
        AppendLe32(b, size);
        AppendLe32(b, size);
        AppendLe32(b, crc);
        AppendLe16(b, 0);
        AppendLe16(b, fileType == 3 ? 0x10 : 0x20);
        AppendLe16(b, 0);
        AppendBytes(b, name);
        b.push_back(0);
        b.push_back(0);  // no comment
        AppendLe16(out, 0xEA60);
        AppendLe16(out, static_cast<uint16_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
        AppendLe32(out, Crc32(b.data(), b.size()));
        AppendLe16(out, 0);  // no extended headers
    };
    header(items.empty() ? 0 : items.front().hostOs, 2, 2, 0, 0, "archive.arj");
    for (const auto& it : items) {
        header(it.hostOs, 0, it.fileType, static_cast<uint32_t>(it.data.size()),
               Crc32(it.data.data(), it.data.size()), it.name);
        AppendBytes(out, it.data);
    }
    AppendLe16(out, 0xEA60);
    AppendLe16(out, 0);
    return out;
}

std::string DeflateZeros(size_t matches) {
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    auto put = [&](uint32_t v, int n) {  // LSB first
        acc |= v << bits;
        bits += n;
        while (bits >= 8) {
            out.push_back(static_cast<char>(acc & 0xFF));
            acc >>= 8;
            bits -= 8;
        }
    };
    auto code = [&](uint32_t c, int n) {  // Huffman codes go most significant bit first
        for (int i = n - 1; i >= 0; --i)
            put((c >> i) & 1, 1);
    };
    put(1, 1);      // last block
    put(1, 2);      // fixed codes
    code(0x30, 8);  // literal 0
    for (size_t i = 0; i < matches; ++i) {
        code(0xC5, 8);  // length 258
        code(0, 5);     // distance 1
    }
    code(0, 7);  // end of block
    put(0, 7);
    return out;
}

}  // namespace varnok::test
