// compress (.Z) files: header and LZW code stream.
#include "archive/formats/gzip/compress_decoder.h"
#include "fuzz/gzip_tar/codec_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static varnok::CompressDecoder decoder;
    varnok::fuzz::CheckDecoder(
        data, size, [](varnok::ByteSource& s, varnok::ByteSink& k) { return decoder.Decode(s, k); });
    return 0;
}
