// The ACE engine's walk over an arbitrary archive file: open (with a comment buffer), every header in turn,
// each file tested (with a password set, so encrypted files decode too), the first one extracted into a scratch
// folder, every third skipped. Checked: the header texts come back terminated, the walk ends, and a failed
// extraction leaves nothing in the folder.
#include <dirent.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "engines/unace/unace.h"
#include "engines/unace/unace_engine.h"
#include "fuzz/core/fuzz_support.h"
#include "platform/tempfile.h"

namespace {

int Data(void*, const uint8_t*, uint32_t n) {
    return n < (1u << 30);
}

int Volume(void*, char*, int) {
    return 0;  // a set ends at the volume given
}

size_t Entries(const std::string& dir) {
    size_t n = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) ++n;
        closedir(d);
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string scratch = varnok::platform::CreateTempDir("", "vnkacewalk");
    varnok::fuzz::InputFile in(data, size, ".ace");
    if (in.Path().empty()) return 0;
    char comment[300];
    ACEOpenArchiveData d{};
    d.ArcName = in.Path().c_str();
    d.OpenMode = ACE_OPEN_EXTRACT;
    d.CmtBuf = comment;
    d.CmtBufSize = sizeof comment;
    d.DataProc = &Data;
    d.ChangeVolProc = &Volume;
    void* h = varnok::unace::Open(&d);
    if (!h) return 0;
    if (d.CmtSize >= sizeof comment || comment[d.CmtSize] != '\0') __builtin_trap();
    varnok::unace::SetPassword(h, "test");
    ACEHeaderData hd;
    const std::string out = scratch + "/out";
    for (int i = 0; i < 1000 && varnok::unace::ReadHeader(h, &hd) == ACE_OK; ++i) {
        if (strnlen(hd.FileName, sizeof hd.FileName) >= sizeof hd.FileName) __builtin_trap();
        if (strnlen(hd.ArcName, sizeof hd.ArcName) >= sizeof hd.ArcName) __builtin_trap();
        if (i == 0 && !(hd.FileAttr & 0x10)) {
            const int r = varnok::unace::ProcessFile(h, ACE_EXTRACT, out.c_str());
            if ((r != ACE_OK) != (Entries(scratch) == 0)) __builtin_trap();
            unlink(out.c_str());
        } else if (i % 3 != 2) {
            varnok::unace::ProcessFile(h, ACE_TEST, nullptr);
        }
    }
    varnok::unace::Close(h);
    return 0;
}
