// The RAR 1.5, 2.0 and 2.9-4 decoders on arbitrary bytes: the first byte picks the decoder and the claimed sizes,
// the rest is split into up to three entries decoded as one solid sequence (the later ones continuing the
// state the earlier left, whatever happened to it). A decoder must never write more than it was asked for.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/formats/rar/rar15_decoder.h"
#include "archive/formats/rar/rar20_decoder.h"
#include "archive/formats/rar/rar29_decoder.h"

namespace {

class CountingSink final : public varnok::ByteSink {
  public:
    void Write(const uint8_t*, size_t n) override { total += n; }
    uint64_t total = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t mode = data[0];
    data += 1;
    size -= 1;
    // Kept between inputs, as in an archive: the first entry of each input is not solid and starts afresh.
    static varnok::rar::Rar15Decoder d15;
    static varnok::rar::Rar20Decoder d20;
    static varnok::rar::Rar29Decoder d29;
    const size_t parts = 1 + (mode >> 6) % 3;
    const size_t piece = size / parts;
    for (size_t i = 0; i < parts; ++i) {
        const size_t n = i + 1 == parts ? size - piece * i : piece;
        varnok::MemorySource src(data + piece * i, n);
        CountingSink sink;
        const uint64_t want = static_cast<uint64_t>((mode >> 1) & 31) * 4099 + 1;
        const bool solid = i > 0;
        if (mode & 1)
            d20.Decode(src, sink, want, solid);
        else if (mode & 2)
            d15.Decode(src, sink, want, solid);
        else
            d29.Decode(src, sink, want, solid);
        if (sink.total > want) __builtin_trap();
    }
    return 0;
}
