// ZOO method 1: LZW with codes of 9 to 13 bits, 256 = clear and 257 = end of data.
#pragma once

#include "archive/core/codec.h"
#include "archive/codecs/lzw_decoder.h"

namespace varnok {

// The code layout of ZOO's LZW: least significant bit first, no code groups, a clear code at the start.
LzwParams ZooLzwParams();

// Decodes the data of a ZOO method-1 entry. The source delivers the entry's compressed bytes. Results:
// Ok at the end code; Truncated when the input ends before it; Corrupt with E_InvalidCode for a code that
// lies beyond the next free one (or a string code right after a clear). A table that fills up without a
// clear keeps decoding with the strings it has. One instance decodes one entry at a time.
class ZooLzwDecoder {
  public:
    DecodeResult Decode(ByteSource& src, ByteSink& sink, const CancelFlag* cancel = nullptr);

  private:
    LzwDecoder lzw_;
};

// One-shot form of ZooLzwDecoder::Decode.
DecodeResult DecodeZooLzw(ByteSource& src, ByteSink& sink, const CancelFlag* cancel = nullptr);

}  // namespace varnok
