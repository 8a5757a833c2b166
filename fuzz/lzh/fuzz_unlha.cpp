// TUnLha testing arbitrary input as an LZH archive.
#include "archive/formats/lzh/unlha.h"
#include "fuzz/lzh/extract_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnok;
    fuzz::TestAsArchive<TUnLha>(data, size, {atLha, atLhaExe, atLzh, atLzhExe});
    return 0;
}
