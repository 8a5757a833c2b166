// TUnArj testing arbitrary input as an ARJ archive (garbled entries with a password offered).
#include "archive/formats/arj/unarj.h"
#include "fuzz/lzh/extract_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnok;
    fuzz::TestAsArchive<TUnArj>(data, size, {atArj, atArjExe});
    return 0;
}
