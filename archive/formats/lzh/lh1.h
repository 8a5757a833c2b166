// The -lh1- decoder of LHarc 1.x (the LZHUF scheme): LZ77 over a 4 KiB window whose literals and
// match lengths (3..60) share one adaptive Huffman code of 314 symbols, and whose match positions
// carry a fixed code for their upper 6 bits followed by 6 plain bits.
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

// Decodes one -lh1- entry: reads at most packedSize bytes, writes at most unpackedSize bytes.
DecodeResult DecodeLh1(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel = nullptr);

}  // namespace varnok
