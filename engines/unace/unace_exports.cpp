// The entry points of "libvarnok-unace.so" (the only symbols the library exports).
#include "engines/unace/unace.h"
#include "engines/unace/unace_engine.h"

#define VARNOK_EXPORT extern "C" __attribute__((visibility("default")))

VARNOK_EXPORT void* ACEOpenArchive(ACEOpenArchiveData* data) {
    return varnok::unace::Open(data);
}

VARNOK_EXPORT int ACECloseArchive(void* handle) {
    return varnok::unace::Close(handle);
}

VARNOK_EXPORT int ACEReadHeader(void* handle, ACEHeaderData* header) {
    return varnok::unace::ReadHeader(handle, header);
}

VARNOK_EXPORT int ACEProcessFile(void* handle, int operation, const char* destName) {
    return varnok::unace::ProcessFile(handle, operation, destName);
}

VARNOK_EXPORT int ACESetPassword(void* handle, const char* password) {
    return varnok::unace::SetPassword(handle, password);
}
