// The -pm2- method of PMarc 2 (CP/M and MSX): LZ77 over an 8 KiB window that starts out as spaces.
// One small canonical code (at most 31 symbols) covers both kinds of item: symbols 0..7 are literals,
// each naming a range of a most-recently-used list of the 256 byte values, with plain bits choosing
// the place in that range; symbols 8..28 are copies of 2..256 bytes. A copy's distance is 6 plain
// bits, or a second small code telling how many plain bits follow. The codes are sent at the start
// of the stream and again when the output reaches 1, 2 and 4 KiB, and may be replaced every 4 KiB
// after that.
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

// Decodes one -pm2- entry: reads at most packedSize bytes, writes at most unpackedSize bytes.
DecodeResult DecodePm2(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel = nullptr);

}  // namespace varnok
