// Whole gzip files in memory: every member and trailer, checked against what the sink received.
#include "archive/formats/gzip/gzip_stream.h"
#include "fuzz/gzip_tar/codec_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static varnok::GzipDecoder decoder;
    varnok::fuzz::CheckDecoder(
        data, size, [](varnok::ByteSource& s, varnok::ByteSink& k) { return decoder.Decode(s, k); });
    return 0;
}
