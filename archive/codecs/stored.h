// Stored (uncompressed) entries: a plain copy of the entry's bytes. This is the one stored copy of the
// method decoders (LZH, ARJ, ZIP, ARC and PAK call it), so that a stored entry ends, runs short and is
// cancelled the same way in every family.
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

// Passed as a size: not known. An unknown packed size reads as far as the source goes; an unknown
// unpacked size copies everything up to the end of the input.
inline constexpr uint64_t kStoredSizeUnknown = UINT64_MAX;

// Copies unpackedSize bytes (never more, and never more than packedSize are read) in large pieces.
// Input ending before unpackedSize bytes gives Truncated with E_UnexpectedEof (never with an unknown
// unpacked size); the cancel flag, polled before every piece, gives Cancelled with E_UserCanceled.
// What was copied before either is written.
DecodeResult CopyStoredEntry(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                             const CancelFlag* cancel = nullptr);

}  // namespace varnok
