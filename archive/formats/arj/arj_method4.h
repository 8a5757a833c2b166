// ARJ method 4 ("fastest"): LZ77 without Huffman coding. Each item starts with a length value
// coded as a unary width prefix (0..7 one-bits, ended by a zero unless the width is 7) followed by
// that many bits, added to the sum of the powers of two passed: 0 means a literal byte (8 bits)
// follows, n > 0 a match of n + 2 bytes whose distance is coded the same way with widths 9..13.
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

DecodeResult DecodeArjMethod4(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                              const CancelFlag* cancel = nullptr);

}  // namespace varnok
