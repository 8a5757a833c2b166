// A stand-in add/delete library for the bridge's tests: it keeps a copy of everything the record handed to it
// (LastZipCall) and adds nothing, so a test can see each property arrive in its field.
#include <string>
#include <vector>

#include "engines/zipdll/zipdll.h"
#include "tests/zipbridge/recorded_zip_call.h"

namespace {
RecordedZipCall g_call;
std::string Text(const char* p) { return p ? std::string(p) : std::string("<null>"); }
}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t ZipDllExec(ZipExecRecord* r) {
    RecordedZipCall c;
    c.rec = *r;
    c.archive = Text(r->ZipFileName);
    c.password = Text(r->Password);
    c.suffixes = Text(r->SuffixList);
    c.comment = Text(r->ArchComment);
    c.tempDir = Text(r->TempDir);
    for (int32_t i = 0; i < r->ArgCount; ++i) {
        c.specs.push_back(Text(r->FileData[i].FileSpec));
        c.passwords.push_back(Text(r->FileData[i].Password));
        c.roots.push_back(Text(r->FileData[i].RootDir));
        c.encrypt.push_back(r->FileData[i].Encrypt);
        c.recurse.push_back(r->FileData[i].Recurse);
    }
    for (int32_t i = 0; i < r->ExclCount; ++i)
        c.exclusions.push_back(Text(r->ExclSpecs[i]));
    c.calls = g_call.calls + 1;
    g_call = c;
    return 0;
}

extern "C" __attribute__((visibility("default"))) int32_t GetZipDllVersion(void) { return 160; }

extern "C" __attribute__((visibility("default"))) const RecordedZipCall* LastZipCall(void) { return &g_call; }
