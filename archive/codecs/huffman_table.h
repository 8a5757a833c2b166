// Canonical Huffman decoding tables for the MSB-first LZH-family streams (codes of at most 16 bits).
// Codes are assigned in order of length, then of symbol, the most significant bit first. A root
// table indexed by the first rootBits bits resolves short codes at once; longer codes go through a
// second-level table indexed by the remaining bits up to 16.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "archive/codecs/msb_bit_reader.h"

namespace varnok {

class HuffmanDecodeTable {
  public:
    static constexpr int kMaxBits = 16;
    // Returned by Decode for a code that is not in the table (an empty table).
    static constexpr uint32_t kInvalid = 0xFFFF;

    explicit HuffmanDecodeTable(int rootBits) : rootBits_(rootBits), root_(size_t{1} << rootBits) {
        sub_.reserve(64);
    }

    // Builds the table from code lengths (0..16). Accepts a complete prefix code, or a set of all
    // zero lengths (an empty table whose every lookup yields kInvalid). Returns false otherwise:
    // an over-subscribed or incomplete code, or a length above 16.
    bool Build(const uint8_t* lengths, int n);
    // Every lookup yields `symbol` without consuming a bit (the format's single-code form).
    void SetSingle(uint32_t symbol);

    // Decodes one symbol; at least 16 bits must be available in the reader.
    inline uint32_t Decode(MsbBitReader& br) const {
        uint32_t e = root_[br.Peek(rootBits_)];
        if (e & kSubFlag) {
            uint32_t idx = (e >> 16) + (br.Peek(kMaxBits) & subMask_);
            e = sub_[idx];
        }
        br.Skip(static_cast<int>(e & 0xFF));
        return e >> 16;
    }

  private:
    static constexpr uint32_t kSubFlag = 0x100;
    static uint32_t Entry(uint32_t symbol, int length) {
        return (symbol << 16) | static_cast<uint32_t>(length);
    }

    int rootBits_;
    uint32_t subMask_ = 0;
    std::vector<uint32_t> root_;
    std::vector<uint32_t> sub_;
};

}  // namespace varnok
