// Explode on arbitrary bytes. The first two bytes give the flags (window, trees), the entry size and the
// piece size.
#include "archive/formats/zip/legacy.h"
#include "fuzz/zipmethods/fuzz_common.h"

using namespace varnok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint16_t flags = static_cast<uint16_t>(data[0] & 6);
    const uint64_t entrySize =
        (data[0] >> 3) == 31 ? kUnknownSize : static_cast<uint64_t>(data[0] >> 3) * 2039;
    const size_t piece = 1 + data[1] % 13;
    fuzz::CheckPiecesAgree(data + 2, size - 2, piece,
                           [&](ByteSource& s, ByteSink& k) { return Explode(s, k, flags, entrySize); });
    return 0;
}
