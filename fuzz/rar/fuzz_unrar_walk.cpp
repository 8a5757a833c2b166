// The RAR engine on arbitrary bytes: the header walk and the test of every entry (our decoders, the engine's
// own checks). Any crash, hang or sanitizer report is a finding; failures are expected answers. Most inputs go
// with a fixed password, "password" (that of the encrypted samples used as seeds), so encrypted headers and
// data are decrypted and walked on; inputs of odd size go without one. The RAR 5 key derivation is held to
// 2^16 rounds here: a mutated record of 2^24 costs seconds per entry under the sanitizers.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "archive/formats/rar/rar_crypt.h"
#include "engines/unrar/unrar_engine.h"

namespace {

uint64_t seen = 0;
int CountData(const uint8_t*, uint32_t n) {
    seen += n;
    return 1;
}

}  // namespace

// libarchive 3.6's RAR 5 reader asks malloc for sizes wrapped below zero on some damaged headers and
// handles the null answer (the entry fails); the sanitizer's allocator is told to give that answer instead of
// stopping the run. Our own code's allocations are bounded by the header reader's limits.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    varnok::rar::LimitRar5Kdf(16);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    char name[] = "/tmp/fuzz_unrar_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        unlink(name);
        return 0;
    }
    close(fd);
    RAROpenArchiveData od{};
    od.ArcName = name;
    od.OpenMode = RAR_OM_EXTRACT;
    if (varnok::unrar::Session* s = varnok::unrar::Session::Open(&od)) {
        s->SetDataProc(&CountData);
        s->SetPassword(size % 2 == 0 ? "password" : "");
        RARHeaderData h;
        for (int i = 0; i < 10000 && s->ReadHeader(&h) == RAR_OK; ++i)
            s->Process(i % 3 == 2 ? RAR_SKIP : RAR_TEST, nullptr, nullptr);
        delete s;
    }
    unlink(name);
    return 0;
}
