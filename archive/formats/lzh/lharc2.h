// The two methods of LHarc 2 that later LHA versions dropped but still read:
// -lh2- : LZ77 over an 8 KiB window; literals and lengths (286 symbols, the last one followed by 8
//         more bits) use an adaptive Huffman code, and the upper 7 bits of each position use a
//         second adaptive code whose alphabet grows by one symbol per 64 bytes of output.
// -lh3- : the same LZ77 with static Huffman codes sent per block: 286 literal/length lengths of
//         4 bits each (after a presence bit), and 128 position lengths of 4 bits or a built-in set.
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

DecodeResult DecodeLh2(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel = nullptr);
DecodeResult DecodeLh3(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel = nullptr);

}  // namespace varnok
