// The UUE/XXE/Base64/MIME decoder over arbitrary text, tested and extracted.
#include "fuzz/gzip_tar/extractor_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnok::fuzz::RunExtractor(data, size, ".uue", {varnok::atUue});
    return 0;
}
