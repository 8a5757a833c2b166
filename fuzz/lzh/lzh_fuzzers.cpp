// libFuzzer targets for the LZH-family decoders. The first bytes of the input choose the entry's
// uncompressed size; the rest is the compressed stream. Each target checks that the output never
// exceeds the entry's size and that the reported counts agree with what was written and read.
// One source builds every target; FUZZ_DECODER selects the decoder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "archive/formats/arj/arj_method4.h"
#include "archive/formats/lzh/larc.h"
#include "archive/formats/lzh/lh1.h"
#include "archive/formats/lzh/lharc2.h"
#include "archive/formats/lzh/pmarc2.h"
#include "archive/codecs/static_huffman.h"

namespace {

struct CheckedSink : varnok::ByteSink {
    uint64_t size = 0;
    uint64_t limit = 0;
    void Write(const uint8_t*, size_t n) override {
        size += n;
        if (size > limit) std::abort();
    }
};

varnok::DecodeResult Run(varnok::ByteSource& in, uint64_t packed, varnok::ByteSink& out, uint64_t unpacked) {
    using namespace varnok;
#if FUZZ_DECODER == 1
    return DecodeStaticHuffman(kLh5Params, in, packed, out, unpacked);
#elif FUZZ_DECODER == 2
    return DecodeStaticHuffman(kLh6Params, in, packed, out, unpacked);
#elif FUZZ_DECODER == 3
    return DecodeStaticHuffman(kLh7Params, in, packed, out, unpacked);
#elif FUZZ_DECODER == 4
    return DecodeStaticHuffman(kArjMethod1to3Params, in, packed, out, unpacked);
#elif FUZZ_DECODER == 5
    return DecodeLh1(in, packed, out, unpacked);
#elif FUZZ_DECODER == 6
    return DecodeLzs(in, packed, out, unpacked);
#elif FUZZ_DECODER == 7
    return DecodeLz5(in, packed, out, unpacked);
#elif FUZZ_DECODER == 8
    return DecodeArjMethod4(in, packed, out, unpacked);
#elif FUZZ_DECODER == 9
    return DecodeLh2(in, packed, out, unpacked);
#elif FUZZ_DECODER == 10
    return DecodeLh3(in, packed, out, unpacked);
#elif FUZZ_DECODER == 11
    return DecodeStaticHuffman(kLh4Params, in, packed, out, unpacked);
#elif FUZZ_DECODER == 12
    return DecodeStaticHuffman(kLhxParams, in, packed, out, unpacked);
#elif FUZZ_DECODER == 13
    return DecodePm2(in, packed, out, unpacked);
#else
#error "FUZZ_DECODER not set"
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    // Up to 1 MiB of output: bounded so that a run stays fast.
    uint64_t unpacked = uint64_t{data[0]} | uint64_t{data[1]} << 8 | uint64_t{data[2] & 0x0Fu} << 16;
    data += 3;
    size -= 3;
    varnok::MemorySource src(data, size);
    CheckedSink sink;
    sink.limit = unpacked;
    auto r = Run(src, size, sink, unpacked);
    if (r.produced != sink.size || r.consumed > size) std::abort();
    if (r.Ok() && sink.size != unpacked) std::abort();
    return 0;
}
