// Decompressors for the data of ARC and PAK entries, chosen by the entry's method byte.
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/codecs/lzw_decoder.h"

namespace varnok {

// The method byte of an ARC or PAK entry header.
enum ArcMethod : uint8_t {
    arcStoredOld = 1,   // stored, old header without the uncompressed size
    arcStored = 2,      // stored
    arcPacked = 3,      // run-length packing with the marker byte 0x90
    arcSqueezed = 4,    // Huffman coding, then run-length packing
    arcCrunched5 = 5,   // 12-bit LZW with the old hash placement
    arcCrunched6 = 6,   // as 5, over run-length packed data
    arcCrunched7 = 7,   // as 6 with the newer hash placement
    arcCrunched8 = 8,   // dynamic LZW up to 12 bits (compress style) over run-length packed data
    arcSquashed = 9,    // dynamic LZW up to 13 bits
    pakCrushed = 10,    // PAK: LZW up to 13 bits with usage-based reuse of codes, over run-length packing
    pakDistilled = 11,  // PAK: LZSS with a Huffman code for literals and lengths
};

// Whether ArcDecoder decodes entries of this method.
bool ArcMethodSupported(int method);

// Decodes the compressed data of one entry. The source delivers the entry's compressed bytes and then
// ends (the extractor bounds it by the compressed size); the sink receives the entry's original bytes.
//
// Results: Ok when the data ended as the method says (an end code for squeezed, crushed and distilled
// data; the end of input for the others). Truncated when the input ended before an end code. Corrupt
// with an error code when the data broke the method's rules:
//   E_UnsupportedMethod  a method outside 1..11 (nothing is read);
//   E_InvalidDecodeTree  a squeeze tree or distill tree that is malformed or indexes outside itself;
//   E_IncorrectBits      a method-8 width byte other than 12;
//   E_StackOverflow      an old-style crunched string longer than the decode stack;
//   E_InvalidCode        an LZW code for no string in the table, or a crushed/distilled code out of range.
// One instance decodes one entry at a time; its tables are reused from entry to entry.
class ArcDecoder {
  public:
    DecodeResult Decode(int method, ByteSource& src, ByteSink& sink, const CancelFlag* cancel = nullptr);

  private:
    LzwDecoder lzw_;
};

// One-shot form of ArcDecoder::Decode.
DecodeResult DecodeArcEntry(int method, ByteSource& src, ByteSink& sink, const CancelFlag* cancel = nullptr);

}  // namespace varnok
