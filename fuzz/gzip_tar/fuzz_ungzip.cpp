// The gzip/compress extractor over arbitrary bytes (with TARs inside, read from a file or streamed), tested
// and extracted.
#include "fuzz/gzip_tar/extractor_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnok::fuzz::RunExtractor(data, size, ".tgz", {varnok::atGZip});
    return 0;
}
