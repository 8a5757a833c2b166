// Encoder round trip: the input (after its first byte) is encoded as UUE, XXE or Base64 MIME text, in one
// file or in volumes of a size picked from the first byte, with or without the table, and decoded again by
// our decoder; anything but the same bytes under the same name, or any error on either side, is a crash.
//
// The encoder must accept every byte string (nothing in the data can make its text invalid), so an error it
// reports is a finding too; the volume sizes stay above what one volume's headers and a line need.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/formats/uue/uudecode.h"
#include "archive/formats/uue/uue_writer.h"
#include "fuzz/core/fuzz_support.h"
#include "platform/file.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace {

std::vector<uint8_t> Slurp(const std::string& path) {
    std::vector<uint8_t> out;
    varnok::platform::File f;
    if (!f.Open(path, varnok::platform::File::Mode::Read)) return out;
    out.resize(static_cast<size_t>(f.Size()));
    out.resize(f.ReadAt(0, out.data(), out.size()));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace varnok;
    if (size == 0) return 0;
    const uint8_t pick = data[0];
    static const TCompressMethod kMethods[] = {cmUUEncode, cmXXEncode, cmBase64};
    static const char* const kExts[] = {".uue", ".xxe", ".mim"};
    const int m = pick % 3;
    fuzz::InputFile in(data + 1, size - 1, ".bin");
    if (in.Path().empty()) return 0;
    static const std::string dir = platform::CreateTempDir("", "vnkuuenc");
    const std::string text = dir + "/t" + kExts[m];
    const std::string decoded = dir + "/out";

    TUUEncode w;
    w.SetCompressMethod(kMethods[m]);
    w.SetArchiveFile(in.Path());
    w.SetOutFilename(text);
    // Volumes of 600 bytes and up, or one file.
    if (pick & 0x04) w.VolumeSize = 600 + static_cast<uint64_t>(pick >> 3) * 61;
    w.WriteTableToFile = (pick & 0x80) != 0 && kMethods[m] != cmBase64;
    w.OnError = [](TZipCommon&, const std::string&, const std::string&, const std::string&, int) { abort(); };
    if (w.CompressArchive() != 1 || w.Failed()) abort();

    platform::ForceDirectories(decoded);
    TUUDecode x;
    x.SetArchiveFile(text);
    x.FileSpec = {"*.*"};
    x.ExtractDir = decoded;
    x.ConfirmOverwrites = false;
    x.OnError = [](TZipCommon&, const std::string&, const std::string&, const std::string&, int) { abort(); };
    if (x.ExtractArchive() != 1 || x.FailedEntries() != 0) abort();
    const std::string name = in.Path().substr(in.Path().rfind('/') + 1);
    if (Slurp(decoded + "/" + name) != std::vector<uint8_t>(data + 1, data + size)) abort();

    for (int i = 0;; ++i) {
        const std::string v = TUUEncode::VolumeFileName(text, i);
        if (unlink(v.c_str()) != 0) break;
    }
    platform::RemoveTree(decoded);
    return 0;
}
