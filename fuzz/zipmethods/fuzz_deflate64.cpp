// Deflate64 on arbitrary bytes: no crash, identical results whole and in pieces.
#include "archive/codecs/inflate.h"
#include "fuzz/zipmethods/fuzz_common.h"

using namespace varnok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + data[0] % 17;
    static Inflater inflater(Inflater::Format::Deflate64);
    fuzz::CheckPiecesAgree(data + 1, size - 1, piece,
                           [&](ByteSource& s, ByteSink& k) { return inflater.Decode(s, k); });
    return 0;
}
