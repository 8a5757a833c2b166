// The LArc methods that LHA readers also meet:
// -lzs- : LZSS over a 2 KiB ring buffer; a flag bit 1 is followed by a literal byte, a flag bit 0 by
//         an 11-bit ring position and a 4-bit length (2..17); bits are read most significant first.
// -lz5- : LZSS over a 4 KiB ring buffer; each flag byte (least significant bit first) announces
//         eight items, 1 a literal byte and 0 a two-byte match: a 12-bit ring position and a 4-bit
//         length (3..18). The ring starts with a fixed pattern that matches may refer to.
// Matches name an absolute position in the ring buffer, not a distance.
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

DecodeResult DecodeLzs(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel = nullptr);
DecodeResult DecodeLz5(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel = nullptr);

}  // namespace varnok
