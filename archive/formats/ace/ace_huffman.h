// ACE's Huffman codes and the bit order they are read in.
//
// The packed data is a sequence of 32-bit little-endian words read from the most significant bit down.
// WordOrderSource turns each word around so that the project's most-significant-bit-first reader
// (msb_bit_reader.h) reads the stream as it is, with its fast refill.
//
// A code is sent as its symbols' widths (delta-coded under a small code of its own, with runs of zeros), and
// the codes are not canonical: they are handed out from the shortest width up, and among equal widths in the
// order a particular quicksort leaves the symbols (it is not stable, and its order is part of the format). The
// shared canonical table (huffman_table.h) therefore does not fit; the codes here are short enough (at most
// 11 bits) for one direct table indexed by the next maxWidth bits, each entry holding the symbol and the bits
// it takes. Entries that no code reaches decode as kInvalid.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/codecs/msb_bit_reader.h"
#include "archive/core/stream.h"

namespace varnok::ace {

// Delivers another source's bytes with every 4-byte group reversed. A group cut short at the end of the data
// cannot be put in order and is dropped (the decoder then sees the stream end there).
class WordOrderSource final : public ByteSource {
  public:
    explicit WordOrderSource(ByteSource& inner) : inner_(inner) {}
    size_t Read(uint8_t* buf, size_t n) override;

  private:
    ByteSource& inner_;
    uint8_t carry_[4] = {};
    size_t carried_ = 0;
    uint8_t ready_[4] = {};
    size_t readyPos_ = 4;  // ready_[readyPos_, 4) is a reversed group not yet handed out
};

class AceHuffman {
  public:
    static constexpr int kMaxWidth = 11;
    static constexpr uint32_t kInvalid = 0x1FF;

    // Builds the code from the widths of n symbols (n <= kMaxSymbols). Follows the format's rules: with fewer
    // than two used symbols the first in sorted order gets width 1 (widths is changed accordingly). False for
    // a width above maxWidth or widths that need more codes than maxWidth bits give.
    bool Build(uint8_t* widths, int n, int maxWidth);

    // Decodes one symbol; the reader must hold at least maxWidth bits (after a Refill).
    [[gnu::always_inline]] inline uint32_t Decode(MsbBitReader& br) const {
        const uint16_t e = table_[br.Peek(maxWidth_)];
        br.Skip(e >> 9);
        return e & 0x1FF;
    }
    int MaxWidth() const { return maxWidth_; }
    // The code each symbol was given (for writers): codes[s] holds widths[s] bits; widths[s] is 0 for a symbol
    // without a code. n symbols are reported.
    void Codes(uint32_t* codes, uint8_t* widths, int n) const;

    static constexpr int kMaxSymbols = 512;

  private:
    int maxWidth_ = 1;
    uint16_t table_[1 << kMaxWidth] = {};
};

// Reads one code as the format sends it: the number of widths (9 bits, at most numCodes + 1 of them), the
// smallest width and the delta modulus (4 bits each), the width code's own widths (3 bits each), then the
// widths. Returns the advanced reader; *ok is false on a broken code (the stream is corrupt). A reader that ran
// past its input yields garbage and ok may still be true: the caller checks PastEnd.
MsbBitReader ReadCode(MsbBitReader br, AceHuffman& code, int maxWidth, int numCodes, bool* ok);

}  // namespace varnok::ace
