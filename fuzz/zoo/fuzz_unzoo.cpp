// The ZOO extractor over arbitrary bytes, tested and extracted.
#include "fuzz/gzip_tar/extractor_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnok::fuzz::RunExtractor(data, size, ".zoo", {varnok::atZoo});
    return 0;
}
