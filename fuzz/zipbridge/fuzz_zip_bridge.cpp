// The ZIP bridge's directory reader over arbitrary bytes: the end record, the central directory, the names
// (their code page decided from all of them), the comment; every entry's fields are read, and the comment is
// read back as the window shows it.
#include <string>

#include "fuzz/core/fuzz_support.h"
#include "zipbridge/zip_bridge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnok::fuzz::InputFile in(data, size, ".zip");
    for (varnok::CodePageOpts cp : {varnok::cpAuto, varnok::cpOEM, varnok::cpNone}) {
        varnok::TZipBridge b;
        b.Unattended = true;
        b.UseDirOnlyEntries = true;
        b.CodePage = cp;
        b.SetZipFileName(in.Path());
        uint64_t sum = 0;
        for (const auto& e : b.Entries())
            sum += e.FileName.size() + e.FileComment.size() + e.CompressedSize + e.RelOffLocalHdr + e.Flag();
        sum += b.ZipComment().size() + b.SFXOffset();
        if (sum == 0xFFFFFFFFFFFFull) return 1;  // keeps the reads from being optimised away
    }
    return 0;
}
