// Updates an archive made of the fuzz input: the writer of the family (FUZZ_FAMILY) loads its entries through
// the family's reader and adds one file. Whatever the input, the run must end, and a run that failed must
// leave the archive byte for byte as it was.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "archive/core/compbase.h"
#include "archive/core/format.h"
#include "fuzz/core/fuzz_support.h"
#include "platform/file.h"
#include "platform/tempfile.h"

using namespace varnok;

namespace {

std::vector<uint8_t> Slurp(const std::string& path) {
    platform::File f;
    std::vector<uint8_t> out;
    if (!f.Open(path, platform::File::Mode::Read)) return out;
    out.resize(static_cast<size_t>(f.Size()));
    out.resize(f.ReadAt(0, out.data(), out.size()));
    return out;
}

TArcType Family() {
    const std::string f = FUZZ_FAMILY;
    return f == "zip" ? atZip : f == "tar" ? atTar : atBh;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = platform::CreateTempDir("", "vnkupd");
    static const std::string added = [] {
        std::string p = dir + "/added.txt";
        platform::File f;
        if (f.Open(p, platform::File::Mode::Create)) f.Write("added file contents\n", 20);
        return p;
    }();
    const std::string archive = dir + "/archive.bin";
    {
        platform::File f;
        if (!f.Open(archive, platform::File::Mode::Create)) return 0;
        f.Write(data, size);
    }
    const TArcType t = Family();
    std::unique_ptr<TCompBase> w = FormatOf(t)->writer(t);
    w->SetArchiveFile(archive);
    w->FileSpec = {added};
    w->StoredDirNames = sdNone;
    w->SyncBeforeReplace = false;
    w->OnError = [](TZipCommon&, const std::string&, const std::string&, const std::string&, int) {};
    w->OnReplaceFile = [](TZipCommon&, const std::string&, const std::string&, int64_t, int64_t, uint64_t, uint64_t,
                          uint32_t, uint32_t, bool& replace) { replace = true; };
    w->CompressArchive();
    if (w->Failed()) {
        const std::vector<uint8_t> now = Slurp(archive);
        if (now.size() != size || (size && !std::equal(now.begin(), now.end(), data))) abort();
    }
    unlink(archive.c_str());
    return 0;
}
