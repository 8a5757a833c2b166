// The ARC/PAK extractor over arbitrary bytes, tested and extracted.
#include "fuzz/gzip_tar/extractor_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnok::fuzz::RunExtractor(data, size, ".arc",
                               {varnok::atArc, varnok::atArcExe, varnok::atPak, varnok::atPakExe});
    return 0;
}
