// Identification of arbitrary bytes, plain and with a program header in front.
#include <cstring>
#include <vector>

#include "archive/core/lister.h"
#include "fuzz/core/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        varnok::fuzz::InputFile in(data, size);
        varnok::TArcLister c;
        c.SetArchiveFile(in.Path());
    }
    if (size >= 2) {
        std::vector<uint8_t> exe(data, data + size);
        exe[0] = 'M';
        exe[1] = 'Z';
        varnok::fuzz::InputFile in(exe.data(), exe.size(), ".exe");
        varnok::TArcLister c;
        c.SetArchiveFile(in.Path());
    }
    return 0;
}
