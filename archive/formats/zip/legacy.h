// The early ZIP methods: shrink (1), reduce (2-5) and implode (6). Each decodes one entry's data from the
// source to the sink and stops at the entry's uncompressed size (kUnknownSize: at the end of the input).
#pragma once

#include <cstdint>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

inline constexpr uint64_t kUnknownSize = UINT64_MAX;

// Method 1: LZW with codes of 9 to 13 bits, widened and partially cleared on the compressor's command.
// Corrupt data: E_BadBlock, or E_StackOverflow for a string longer than the dictionary.
DecodeResult Unshrink(ByteSource& source, ByteSink& sink, uint64_t uncompressedSize,
                      const CancelFlag* cancel = nullptr);

// Methods 2-5: follower sets and the DLE-escaped copy expander; factor = method - 1 (1..4).
DecodeResult Unreduce(ByteSource& source, ByteSink& sink, int factor, uint64_t uncompressedSize,
                      const CancelFlag* cancel = nullptr);

// Method 6: Shannon-Fano coded sliding dictionary. General-purpose flag bit 1 selects the 8 KiB window
// (else 4 KiB), bit 2 the three-tree form with a literal tree (else two trees and raw literals).
// Bad trees: E_AmbiguousTree, or E_BadBlock when the tree data cannot be read.
DecodeResult Explode(ByteSource& source, ByteSink& sink, uint16_t gpFlags, uint64_t uncompressedSize,
                     const CancelFlag* cancel = nullptr);

}  // namespace varnok
