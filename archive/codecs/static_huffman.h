// The static-Huffman LZ decoder of the LHA -lh5- family, shared by LHA (-lh4- ... -lh7-, -lhx-),
// ZOO (method 2), ARJ (methods 1 to 3) and BH (method 1).
//
// The stream is a sequence of blocks. Each block starts with its code count (16 bits), then three
// code-length tables: the code-length code (up to 19 symbols), the literal/length code (510 symbols:
// 256 literals and match lengths 3..256) and the position code (dicBit + 1 symbols). A position
// symbol j stands for distance 0 (j = 0) or 2^(j-1) plus j-1 further bits; the match source is that
// distance plus one byte back from the current output position.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/codecs/msb_bit_reader.h"
#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

struct StaticHuffmanParams {
    int dicBit;           // position codes: NP = dicBit + 1
    int pBit;             // width of the position-code count field
    uint32_t history;     // farthest distance a match may reach back (the dictionary size)
    uint8_t initialFill;  // contents of the history before the first byte
};

// The per-format parameter sets.
inline constexpr StaticHuffmanParams kLh4Params{12, 4, 4096, 0x20};
inline constexpr StaticHuffmanParams kLh5Params{13, 4, 8192, 0x20};
inline constexpr StaticHuffmanParams kLh6Params{15, 5, 32768, 0x20};
inline constexpr StaticHuffmanParams kLh7Params{16, 5, 65536, 0x20};
inline constexpr StaticHuffmanParams kLhxParams{19, 5, 524288, 0x20};
inline constexpr StaticHuffmanParams kZooMethod2Params{13, 4, 8192, 0};
inline constexpr StaticHuffmanParams kBhMethod1Params{13, 4, 8192, 0};
inline constexpr StaticHuffmanParams kArjMethod1to3Params{16, 5, 26624, 0};

class StaticHuffmanDecoder {
  public:
    explicit StaticHuffmanDecoder(const StaticHuffmanParams& params);
    ~StaticHuffmanDecoder();
    StaticHuffmanDecoder(const StaticHuffmanDecoder&) = delete;
    StaticHuffmanDecoder& operator=(const StaticHuffmanDecoder&) = delete;

    // Decodes one entry: reads at most packedSize bytes from `in` and writes exactly unpackedSize
    // bytes to `out` when the stream is sound (never more). Corrupt data gives Corrupt with
    // E_BadHuffmanCode (bad tables), E_BadBlock (a block of zero codes) or E_CorruptInput (a match
    // reaching outside the dictionary); input ending early gives Truncated.
    DecodeResult Decode(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                        const CancelFlag* cancel = nullptr);

  private:
    struct State;
    // A block's start: the reader after its code count and tables, the count, and an error code when
    // they cannot be used.
    struct Block {
        MsbBitReader reader;
        uint32_t count;
        int error;
    };
    static Block StartBlock(MsbBitReader br, State& st, int pBit);
    StaticHuffmanParams params_;
    std::unique_ptr<State> state_;
};

// One-call form.
DecodeResult DecodeStaticHuffman(const StaticHuffmanParams& params, ByteSource& in, uint64_t packedSize,
                                 ByteSink& out, uint64_t unpackedSize, const CancelFlag* cancel = nullptr);

}  // namespace varnok
