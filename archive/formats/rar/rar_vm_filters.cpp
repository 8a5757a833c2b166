#include "archive/formats/rar/rar_vm_filters.h"

#include <cstdlib>
#include <cstring>

#include "archive/core/crc.h"

namespace varnok::rar {

namespace {

uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
void Store32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// x86 CALL (E8) and, with e9, JMP (E9) targets turned back from absolute into relative addresses.
void UndoE8(uint8_t* data, uint32_t size, uint32_t fileOffset, bool e9) {
    if (size <= 4) return;
    constexpr uint32_t kFileSize = 0x1000000;
    const uint8_t mask = e9 ? 0xFE : 0xFF;
    const uint32_t end = size - 4;
    for (uint32_t i = 0; i < end;) {
        const uint8_t op = data[i++];
        if ((op & mask) != 0xE8) continue;
        const uint32_t offset = i + fileOffset;
        const uint32_t addr = Load32(data + i);
        if (addr < kFileSize)
            Store32(data + i, addr - offset);
        else if ((addr & 0x80000000u) && !((addr + offset) & 0x80000000u))
            Store32(data + i, addr + kFileSize);
        i += 4;
    }
}

// Itanium bundles: the 20-bit branch targets of the slots the template marks, made relative again.
void UndoItanium(uint8_t* data, uint32_t size, uint32_t fileOffset) {
    if (size <= 21) return;
    uint32_t bundle = fileOffset >> 4;
    const uint32_t bundles = (size - 21 + 15) >> 4;
    for (uint32_t b = 0; b < bundles; ++b, data += 16, ++bundle) {
        uint32_t m = (0x334B0000u >> (data[0] & 0x1E)) & 3;
        if (!m) continue;
        for (++m; m <= 4; ++m) {
            uint8_t* p = data + m * 5 - 8;
            if (((p[3] >> m) & 15) != 5) continue;
            constexpr uint32_t kMask = 0xFFFFF;
            uint32_t raw = Load32(p);
            uint32_t v = ((raw >> m) - bundle) & kMask;
            raw = (raw & ~(kMask << m)) | (v << m);
            Store32(p, raw);
        }
    }
}

// Bytes stored channel after channel as differences; the result interleaves them again.
void UndoDelta(uint8_t* mem, uint32_t size, uint32_t channels) {
    uint32_t src = 0;
    uint8_t* out = mem + size;
    for (uint32_t c = 0; c < channels; ++c) {
        uint8_t prev = 0;
        for (uint32_t d = c; d < size; d += channels)
            out[d] = prev = static_cast<uint8_t>(prev - mem[src++]);
    }
}

// 24-bit pixels predicted from their left, upper and upper-left neighbours (Paeth), green added back to
// red and blue.
void UndoRgb(uint8_t* mem, uint32_t size, uint32_t width, uint32_t posR) {
    const uint8_t* src = mem;
    uint8_t* out = mem + size;
    for (uint32_t c = 0; c < 3; ++c) {
        uint8_t prev = 0;
        for (uint32_t i = c; i < size; i += 3) {
            unsigned predicted = prev;
            if (i >= width) {
                const unsigned upperLeft = out[i - width];
                const unsigned upper = out[i - width + 3];
                predicted = prev + upper - upperLeft;
                const int pa = std::abs(static_cast<int>(predicted - prev));
                const int pb = std::abs(static_cast<int>(predicted - upper));
                const int pc = std::abs(static_cast<int>(predicted - upperLeft));
                if (pa <= pb && pa <= pc)
                    predicted = prev;
                else if (pb <= pc)
                    predicted = upper;
                else
                    predicted = upperLeft;
            }
            out[i] = prev = static_cast<uint8_t>(predicted - *src++);
        }
    }
    if (size < 3) return;
    for (uint32_t i = posR; i < size - 2; i += 3) {
        const uint8_t g = out[i + 1];
        out[i] = static_cast<uint8_t>(out[i] + g);
        out[i + 2] = static_cast<uint8_t>(out[i + 2] + g);
    }
}

// Audio samples per channel through an adaptive linear predictor whose three weights follow the smallest
// of seven error sums every 32 samples.
void UndoAudio(uint8_t* mem, uint32_t size, uint32_t channels) {
    const uint8_t* src = mem;
    uint8_t* out = mem + size;
    for (uint32_t c = 0; c < channels; ++c) {
        uint32_t prevByte = 0, prevDelta = 0, dif[7] = {};
        int32_t d1 = 0, d2 = 0, d3 = 0, k1 = 0, k2 = 0, k3 = 0;
        for (uint32_t i = c, n = 0; i < size; i += channels, ++n) {
            d3 = d2;
            d2 = static_cast<int32_t>(prevDelta) - d1;
            d1 = static_cast<int32_t>(prevDelta);
            uint32_t predicted = static_cast<uint32_t>(static_cast<int32_t>(8 * prevByte) + k1 * d1 + k2 * d2 + k3 * d3);
            predicted = (predicted >> 3) & 0xFF;
            const uint32_t cur = *src++;
            predicted -= cur;
            out[i] = static_cast<uint8_t>(predicted);
            prevDelta = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(predicted - prevByte)));
            prevByte = predicted;
            const int32_t d = static_cast<int32_t>(static_cast<int8_t>(cur)) * 8;
            dif[0] += static_cast<uint32_t>(std::abs(d));
            dif[1] += static_cast<uint32_t>(std::abs(d - d1));
            dif[2] += static_cast<uint32_t>(std::abs(d + d1));
            dif[3] += static_cast<uint32_t>(std::abs(d - d2));
            dif[4] += static_cast<uint32_t>(std::abs(d + d2));
            dif[5] += static_cast<uint32_t>(std::abs(d - d3));
            dif[6] += static_cast<uint32_t>(std::abs(d + d3));
            if ((n & 0x1F) == 0) {
                uint32_t minDif = dif[0], best = 0;
                dif[0] = 0;
                for (uint32_t j = 1; j < 7; ++j) {
                    if (dif[j] < minDif) {
                        minDif = dif[j];
                        best = j;
                    }
                    dif[j] = 0;
                }
                switch (best) {
                    case 1: if (k1 >= -16) --k1; break;
                    case 2: if (k1 < 16) ++k1; break;
                    case 3: if (k2 >= -16) --k2; break;
                    case 4: if (k2 < 16) ++k2; break;
                    case 5: if (k3 >= -16) --k3; break;
                    case 6: if (k3 < 16) ++k3; break;
                    default: break;
                }
            }
        }
    }
}

}  // namespace

VmFilter IdentifyVmFilter(const uint8_t* code, size_t size) {
    if (!size) return VmFilter::Unknown;
    uint8_t x = 0;
    for (size_t i = 0; i < size; ++i)
        x ^= code[i];
    if (x) return VmFilter::Unknown;
    struct Known {
        size_t size;
        uint32_t crc;
        VmFilter kind;
    };
    static constexpr Known kKnown[] = {
        {53, 0xad576887, VmFilter::E8},     {57, 0x3cd7e57e, VmFilter::E8E9}, {120, 0x3769893f, VmFilter::Itanium},
        {29, 0x0e06077d, VmFilter::Delta},  {149, 0x1c2c5dc8, VmFilter::Rgb}, {216, 0xbc85e701, VmFilter::Audio},
    };
    const uint32_t crc = Crc32(code, size);
    for (const Known& k : kKnown)
        if (k.size == size && k.crc == crc) return k.kind;
    return VmFilter::Unknown;
}

bool RunVmFilter(VmFilter kind, uint8_t* mem, uint32_t blockSize, const uint32_t r[7], uint32_t fileOffset,
                 uint32_t& outPos, uint32_t& outSize) {
    if (blockSize >= kVmGlobalOffset) return false;
    outPos = 0;
    outSize = blockSize;
    switch (kind) {
        case VmFilter::E8:
        case VmFilter::E8E9:
            UndoE8(mem, blockSize, fileOffset, kind == VmFilter::E8E9);
            return true;
        case VmFilter::Itanium:
            UndoItanium(mem, blockSize, fileOffset);
            return true;
        case VmFilter::Delta:
            if (blockSize >= kVmGlobalOffset / 2 || r[0] == 0 || r[0] > 1024) return false;
            UndoDelta(mem, blockSize, r[0]);
            outPos = blockSize;
            return true;
        case VmFilter::Rgb:
            if (blockSize >= kVmGlobalOffset / 2 || blockSize < 3 || r[0] < 3 || r[0] - 3 > blockSize || r[1] > 2)
                return false;
            UndoRgb(mem, blockSize, r[0], r[1]);
            outPos = blockSize;
            return true;
        case VmFilter::Audio:
            if (blockSize >= kVmGlobalOffset / 2 || r[0] == 0 || r[0] > 128) return false;
            UndoAudio(mem, blockSize, r[0]);
            outPos = blockSize;
            return true;
        case VmFilter::Unknown:
            break;
    }
    return false;
}

}  // namespace varnok::rar
