// Decoding an ARJ entry by its method number: 0 stored, 1 to 3 the static-Huffman LZ scheme with a
// 26624-byte dictionary, 4 the "fastest" scheme. Garbled entries are decrypted by a source wrapper
// before the data reaches these decoders.
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

bool IsSupportedArjMethod(int method);

// Decodes one entry; a method outside 0..4 gives Corrupt with E_UnsupportedMethod.
DecodeResult DecodeArjMethod(int method, ByteSource& in, uint64_t packedSize, ByteSink& out,
                             uint64_t unpackedSize, const CancelFlag* cancel = nullptr);

}  // namespace varnok
