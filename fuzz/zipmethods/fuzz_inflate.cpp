// Inflate on arbitrary bytes: no crash, identical results whole and in pieces, and the same output as zlib
// wherever zlib accepts the stream.
#include <zlib.h>

#include "archive/codecs/inflate.h"
#include "fuzz/zipmethods/fuzz_common.h"

using namespace varnok;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t piece = 1 + data[0] % 17;
    ++data;
    --size;
    static Inflater inflater(Inflater::Format::Deflate);
    fuzz::CheckPiecesAgree(data, size, piece,
                           [&](ByteSource& s, ByteSink& k) { return inflater.Decode(s, k); });

    // zlib as the reference: a stream it decodes completely must decode the same here.
    static std::vector<uint8_t> ref(1 << 20);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return 0;
    z.next_in = const_cast<Bytef*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = ref.data();
    z.avail_out = static_cast<uInt>(ref.size());
    const int rc = inflate(&z, Z_FINISH);
    const size_t refSize = z.total_out, refUsed = z.total_in;
    inflateEnd(&z);
    if (rc != Z_STREAM_END) return 0;
    fuzz::PieceSource src(data, size, size);
    fuzz::KeepSink sink(1 << 20);
    const DecodeResult r = inflater.Decode(src, sink);
    if (!r.Ok() || r.produced != refSize || r.consumed != refUsed ||
        !std::equal(ref.begin(), ref.begin() + static_cast<ptrdiff_t>(refSize), sink.data.begin()))
        std::abort();
    return 0;
}
