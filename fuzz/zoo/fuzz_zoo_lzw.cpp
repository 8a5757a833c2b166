// ZOO method-1 (LZW) entry data.
#include "archive/formats/zoo/zoo_lzw.h"
#include "fuzz/gzip_tar/codec_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static varnok::ZooLzwDecoder decoder;
    varnok::fuzz::CheckDecoder(
        data, size, [](varnok::ByteSource& s, varnok::ByteSink& k) { return decoder.Decode(s, k); });
    return 0;
}
