// The RAR 5 decoder on arbitrary bytes. The first byte picks the dictionary, how many entries follow (1 to 3)
// and whether the decoder goes on from the previous input; each entry is a 6-byte head (its unpacked size and
// the length of its packed bytes, 3 bytes each) and those bytes. The entries are decoded as one solid sequence,
// the later ones continuing whatever state the earlier left, failed or not. The decoder must never hand out
// more than an entry's size, and an entry it calls good must have handed out exactly that much.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "archive/formats/rar/rar5_decoder.h"

namespace {

class CountingSink final : public varnok::ByteSink {
  public:
    void Write(const uint8_t*, size_t n) override { total += n; }
    uint64_t total = 0;
};

uint32_t Le24(const uint8_t* p) {
    return p[0] | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    static varnok::rar::Rar5Decoder kept;
    varnok::rar::Rar5Decoder fresh;
    varnok::rar::Rar5Decoder& dec = (mode & 0x80) ? kept : fresh;
    const size_t parts = 1 + (mode & 3) % 3;
    // Dictionaries from 128 KiB to past the decoder's cap (those are refused).
    const uint64_t dictionary = uint64_t{1} << (17 + ((mode >> 2) & 15));
    for (size_t i = 0; i < parts && size >= 6; ++i) {
        const uint64_t want = Le24(data) & 0xFFFFF;  // at most 1 MiB of output per entry
        const size_t n = std::min<size_t>(Le24(data + 3), size - 6);
        varnok::MemorySource src(data + 6, n);
        data += 6 + n;
        size -= 6 + n;
        CountingSink sink;
        // The packed size claimed is at times larger than the bytes there (a source that ends early).
        const uint64_t packedSize = (mode & 0x40) ? n + 100 : n;
        const bool solid = i > 0 || (mode & 0x20);
        const auto r = dec.Decode(src, packedSize, want, dictionary, solid, sink);
        if (sink.total > want) __builtin_trap();
        if (r.status == varnok::rar::Rar5Decoder::Status::Ok && sink.total != want) __builtin_trap();
    }
    return 0;
}
