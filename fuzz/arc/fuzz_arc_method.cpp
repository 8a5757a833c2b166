// The data of one ARC/PAK entry for the method fixed at build time (FUZZ_ARC_METHOD).
#include "archive/formats/arc/arc_codecs.h"
#include "fuzz/gzip_tar/codec_fuzz_support.h"

#ifndef FUZZ_ARC_METHOD
#error "FUZZ_ARC_METHOD must name the method"
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static varnok::ArcDecoder decoder;
    varnok::fuzz::CheckDecoder(data, size, [](varnok::ByteSource& s, varnok::ByteSink& k) {
        return decoder.Decode(FUZZ_ARC_METHOD, s, k);
    });
    return 0;
}
