// Stored (uncompressed) entries: a plain copy of the entry's bytes.
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

// Copies unpackedSize bytes (never more, and never more than packedSize are read) in large pieces.
// Input ending before unpackedSize bytes gives Truncated.
DecodeResult CopyStoredEntry(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                             const CancelFlag* cancel = nullptr);

}  // namespace varnok
