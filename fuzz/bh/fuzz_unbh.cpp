// TUnBh testing arbitrary input as a BH archive (encrypted entries with a password offered).
#include "archive/formats/bh/unbh.h"
#include "fuzz/lzh/extract_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnok;
    fuzz::TestAsArchive<TUnBh>(data, size, {atBh, atBhExe});
    return 0;
}
