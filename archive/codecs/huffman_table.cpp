#include "archive/codecs/huffman_table.h"

#include <algorithm>

namespace varnok {

void HuffmanDecodeTable::SetSingle(uint32_t symbol) {
    std::fill(root_.begin(), root_.end(), Entry(symbol, 0));
    sub_.clear();
}

bool HuffmanDecodeTable::Build(const uint8_t* lengths, int n) {
    std::array<uint32_t, kMaxBits + 1> count{};
    for (int i = 0; i < n; ++i) {
        if (lengths[i] > kMaxBits) return false;
        ++count[lengths[i]];
    }
    uint32_t kraft = 0;
    for (int len = 1; len <= kMaxBits; ++len)
        kraft += count[len] << (kMaxBits - len);
    sub_.clear();
    if (kraft == 0) {
        std::fill(root_.begin(), root_.end(), Entry(kInvalid, 0));
        return true;
    }
    if (kraft != (1u << kMaxBits)) return false;

    // First code of each length, left-aligned to 16 bits.
    std::array<uint32_t, kMaxBits + 2> next{};
    uint32_t code = 0;
    for (int len = 1; len <= kMaxBits; ++len) {
        next[len] = code;
        code += count[len] << (kMaxBits - len);
    }

    const int subBits = kMaxBits - rootBits_;
    subMask_ = (1u << subBits) - 1;
    const uint32_t unset = 0xFFFFFFFFu;
    std::fill(root_.begin(), root_.end(), unset);
    for (int s = 0; s < n; ++s) {
        int len = lengths[s];
        if (!len) continue;
        uint32_t c = next[len];  // left-aligned code
        next[len] += 1u << (kMaxBits - len);
        if (len <= rootBits_) {
            uint32_t first = c >> subBits;
            uint32_t span = 1u << (rootBits_ - len);
            std::fill(root_.begin() + first, root_.begin() + first + span,
                      Entry(static_cast<uint32_t>(s), len));
        } else {
            uint32_t prefix = c >> subBits;
            uint32_t& r = root_[prefix];
            if (r == unset) {
                r = (static_cast<uint32_t>(sub_.size()) << 16) | kSubFlag;
                sub_.resize(sub_.size() + (size_t{1} << subBits), Entry(kInvalid, 0));
            }
            uint32_t base = r >> 16;
            uint32_t first = c & subMask_;
            uint32_t span = 1u << (kMaxBits - len);
            std::fill(sub_.begin() + base + first, sub_.begin() + base + first + span,
                      Entry(static_cast<uint32_t>(s), len));
        }
    }
    return true;
}

}  // namespace varnok
