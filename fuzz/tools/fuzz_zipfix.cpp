// ZIP repair over arbitrary bytes. Whatever the input, a non-empty output must be a ZIP archive our lister
// walks to its end without a damaged header, listing every entry the repair kept, and every entry the repair
// says it verified must pass our extractor's test.
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "archive/core/lister.h"
#include "archive/formats/zip/unzip.h"
#include "archive/tools/zipfix.h"
#include "fuzz/core/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnok::TZipFix fix;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    std::ostringstream out;
    if (!fix.Repair(&in, &out)) std::abort();  // nothing stops it but the cancel flag
    const std::string repaired = out.str();
    if (repaired.empty()) {
        if (!fix.Entries().empty()) std::abort();
        return 0;
    }
    varnok::fuzz::InputFile file(reinterpret_cast<const uint8_t*>(repaired.data()), repaired.size(), ".zip");

    varnok::TArcLister lister;
    lister.SetArchiveFile(file.Path());
    if (!varnok::IsZipType(lister.ArcType())) std::abort();
    size_t listed = 0;
    lister.ShowEmptyDirs = true;
    lister.OnRead = [](varnok::TZipCommon&, uint64_t, int) {};
    lister.OnReadFile = [&listed](varnok::TZipCommon&, const std::string&) { ++listed; };
    if (!lister.ReadArchive() || lister.WalkError() != 0) std::abort();
    if (listed != fix.Entries().size()) {
        fprintf(stderr, "listed %zu of %zu entries\n", listed, fix.Entries().size());
        std::abort();
    }

    bool allVerified = true;
    for (const auto& e : fix.Entries())
        allVerified = allVerified && e.Verdict == varnok::fvVerified;
    if (allVerified) {
        varnok::TUnZip x;
        x.SetArchiveFile(file.Path());
        x.FileSpec = {"*.*"};
        int failed = 0;
        x.OnEnd = [&failed](varnok::TZipCommon&, const std::string&, bool pass) { failed += !pass; };
        try {
            x.TestArchive();
        } catch (const varnok::ArchiveError&) {
            std::abort();
        }
        if (failed || x.FailedEntries()) std::abort();
    }
    return 0;
}
