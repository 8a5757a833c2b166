#include "archive/formats/rar/rar_lz_common.h"

namespace varnok::rar {

bool RarHuffman::Build(const uint8_t* lengths, int n) {
    if (n <= 0 || n > 1024) return false;
    uint32_t count[kMaxBits + 1] = {};
    for (int i = 0; i < n; ++i) {
        if (lengths[i] > kMaxBits) return false;
        ++count[lengths[i]];
    }
    count[0] = 0;
    int64_t left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
        left = left * 2 - count[len];
        if (left < 0) return false;  // over-subscribed
    }
    uint32_t code = 0;
    uint32_t index = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
        code = (code + count[len - 1]) << 1;
        first_[len] = code;
        limit_[len] = code + count[len];
        offset_[len] = static_cast<uint16_t>(index);
        index += count[len];
    }
    uint32_t next[kMaxBits + 1];
    for (int len = 1; len <= kMaxBits; ++len)
        next[len] = offset_[len];
    for (int i = 0; i < n; ++i)
        if (lengths[i]) sorted_[next[lengths[i]]++] = static_cast<uint16_t>(i);
    std::memset(quick_, 0, sizeof quick_);
    for (int len = 1; len <= kQuickBits; ++len) {
        for (uint32_t k = 0; k < count[len]; ++k) {
            const uint32_t c = first_[len] + k;
            const uint32_t sym = sorted_[offset_[len] + k];
            const uint32_t shift = kQuickBits - len;
            const uint32_t base = c << shift;
            for (uint32_t j = 0; j < (1u << shift); ++j)
                quick_[base + j] = (sym << 4) | static_cast<uint32_t>(len);
        }
    }
    return true;
}

uint32_t RarHuffman::Slow(RarBits& br, uint32_t v) const {
    for (int len = kQuickBits + 1; len <= kMaxBits; ++len) {
        const uint32_t c = v >> (kMaxBits - len);
        if (c < limit_[len]) {
            if (c < first_[len]) return kInvalid;
            br.Skip(len);
            return sorted_[offset_[len] + (c - first_[len])];
        }
    }
    return kInvalid;
}

}  // namespace varnok::rar
