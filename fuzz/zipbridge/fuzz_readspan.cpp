// ReadSpan's walk over arbitrary volumes: the input is cut into one to four volume files of a numbered set
// (the first byte gives the count, the next ones where to cut), and the set is joined from its last volume
// into a scratch folder: the end record, a central directory running across volumes, the pairing of central
// records with local headers by their place, and the copy that walks every volume up to the directory. Seeds
// are spanned sets the bridge writes itself (volumes concatenated behind the count byte).
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/tempfile.h"
#include "zipbridge/zip_bridge.h"

namespace {

struct Scratch {
    std::string dir = varnok::platform::CreateTempDir({}, "fuzz-readspan-");
    ~Scratch() {
        if (!dir.empty()) varnok::platform::RemoveTree(dir);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static Scratch scratch;
    if (scratch.dir.empty()) return 0;
    const size_t count = 1 + data[0] % 4;
    size_t at = 1;
    std::vector<size_t> cuts;
    for (size_t i = 1; i < count; ++i) {
        // Two bytes per cut: where it falls in what is left.
        size_t c = at + 1 < size ? (static_cast<size_t>(data[at]) << 8 | data[at + 1]) : 0;
        at = std::min(size, at + 2);
        cuts.push_back(c);
    }
    std::vector<std::string> names;
    size_t pos = at;
    for (size_t i = 0; i < count; ++i) {
        size_t left = size - pos;
        size_t n = i + 1 < count ? std::min(left, cuts[i]) : left;
        char name[32];
        snprintf(name, sizeof name, "/set%03zu.zip", i + 1);
        names.push_back(scratch.dir + name);
        FILE* f = fopen(names.back().c_str(), "wb");
        if (!f) return 0;
        if (n) fwrite(data + pos, 1, n, f);
        fclose(f);
        pos += n;
    }
    varnok::TZipBridge b;
    b.Unattended = true;
    std::string out = scratch.dir + "/";
    if (b.ReadSpan(names.back(), out) == 0) unlink(out.c_str());
    for (auto& n : names)
        unlink(n.c_str());
    return 0;
}
