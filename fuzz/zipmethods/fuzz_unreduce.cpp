// Unreduce on arbitrary bytes. The first two bytes give the factor, the entry size and the piece size.
#include "archive/formats/zip/legacy.h"
#include "fuzz/zipmethods/fuzz_common.h"

using namespace varnok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int factor = 1 + (data[0] & 3);
    const uint64_t entrySize =
        (data[0] >> 2) == 63 ? kUnknownSize : static_cast<uint64_t>(data[0] >> 2) * 1531;
    const size_t piece = 1 + data[1] % 13;
    fuzz::CheckPiecesAgree(data + 2, size - 2, piece,
                           [&](ByteSource& s, ByteSink& k) { return Unreduce(s, k, factor, entrySize); });
    return 0;
}
