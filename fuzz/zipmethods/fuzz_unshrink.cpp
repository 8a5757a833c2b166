// Unshrink on arbitrary bytes. The first two bytes give the entry size (scaled) and the read piece size.
#include "archive/formats/zip/legacy.h"
#include "fuzz/zipmethods/fuzz_common.h"

using namespace varnok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint64_t entrySize = data[0] == 255 ? kUnknownSize : uint64_t{data[0]} * 997;
    const size_t piece = 1 + data[1] % 13;
    fuzz::CheckPiecesAgree(data + 2, size - 2, piece,
                           [&](ByteSource& s, ByteSink& k) { return Unshrink(s, k, entrySize); });
    return 0;
}
