// The ZIP extractor over arbitrary bytes: tested (decoded without writing) and extracted into a private
// folder, with a password so that encrypted entries are decoded too.
#include <string>

#include "archive/core/lister.h"
#include "archive/formats/zip/unzip.h"
#include "fuzz/core/fuzz_support.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnok::fuzz::InputFile in(data, size, ".zip");
    static std::string out = varnok::platform::CreateTempDir("", "vnkfuzzout");
    for (bool test : {true, false}) {
        varnok::TUnZip x;
        x.SetArchiveFile(in.Path());
        if (!varnok::IsZipType(x.ArcType())) return 0;
        x.FileSpec = {"*.*"};
        x.Passwords = {"x"};
        x.ExtractDir = out;
        x.ConfirmOverwrites = false;
        x.OnCorruptZipHeader = [](varnok::TZipCommon&, uint8_t, bool& cancel) { cancel = false; };
        try {
            if (test)
                x.TestArchive();
            else
                x.ExtractArchive();
        } catch (const varnok::ArchiveError&) {
        }
    }
    varnok::platform::RemoveTree(out);
    varnok::platform::ForceDirectories(out);
    return 0;
}
