// The extract engine's entry point in test mode over arbitrary bytes written to a file. The first byte picks
// the options: folder names, update or freshen, a pattern or an exact name, how the password questions are
// answered.
#include <cstring>
#include <string>
#include <vector>

#include "engines/unzdll/unzdll.h"
#include "engines/unzdll/unzdll_engine.h"
#include "fuzz/core/fuzz_support.h"

namespace {

struct State {
    int calls = 0;
    uint8_t mode = 0;
};

int32_t Callback(ZipCallbackRecord* r) {
    auto* s = static_cast<State*>(r->Caller);
    ++s->calls;
    // The text area must always come back terminated.
    if (strnlen(r->Text, sizeof r->Text) >= sizeof r->Text) __builtin_trap();
    switch (r->ActionCode) {
        case zacPassword:
            if (s->mode & 0x10) {
                std::strcpy(r->Text, (s->mode & 0x20) ? "secret" : "x");
                r->ErrorCode = 1;
            } else {
                r->ErrorCode = 0;
            }
            break;
        case zacCrcError:
            r->ErrorCode = (s->mode >> 6) & 1;
            break;
        case zacDisk:
            r->ErrorCode = 1;
            break;
        default:
            break;
    }
    // Now and then stop the run from the callback.
    return (s->mode & 0x80) && s->calls > 40 ? -1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    State state;
    state.mode = data[0];
    varnok::fuzz::InputFile in(data + 1, size - 1, ".zip");
    if (in.Path().empty()) return 0;
    std::string spec = (state.mode & 0x04) ? "\\a.txt" : "*.*";
    UnzFileData file;
    std::memset(&file, 0, sizeof file);
    file.FileSpec = spec.c_str();
    UnzExecRecord rec;
    std::memset(&rec, 0, sizeof rec);
    rec.Caller = &state;
    rec.Version = 160;
    rec.Callback = &Callback;
    rec.Test = -1;
    rec.AlwaysTrue = -1;
    rec.Verbose = (state.mode & 0x01) ? -1 : 0;
    rec.Directories = (state.mode & 0x02) ? -1 : 0;
    rec.Update = (state.mode & 0x08) ? -1 : 0;
    rec.ArgCount = 1;
    rec.FileData = &file;
    rec.ZipFileName = in.Path().c_str();
    rec.PasswordReqCount = 2;
    rec.Seven = 7;
    varnok::unzdll::Exec(&rec, 160);
    return 0;
}
