// The entry points of the RAR engine library: thin wrappers over a Session, and nothing else leaves it.
#include <new>

#include "engines/unrar/unrar.h"
#include "engines/unrar/unrar_engine.h"

#define VARNOK_EXPORT extern "C" __attribute__((visibility("default")))

using varnok::unrar::Session;

namespace {

Session* AsSession(void* handle) {
    return static_cast<Session*>(handle);
}

}  // namespace

VARNOK_EXPORT void* RAROpenArchive(RAROpenArchiveData* data) {
    try {
        return Session::Open(data);
    } catch (const std::bad_alloc&) {
        if (data) data->OpenResult = RAR_ERR_NO_MEMORY;
    } catch (...) {
        if (data) data->OpenResult = RAR_ERR_BAD_ARCHIVE;
    }
    return nullptr;
}

VARNOK_EXPORT int RARCloseArchive(void* handle) {
    if (!handle) return RAR_ERR_ECLOSE;
    delete AsSession(handle);
    return RAR_OK;
}

VARNOK_EXPORT int RARReadHeader(void* handle, RARHeaderData* header) {
    if (!handle) return RAR_ERR_BAD_ARCHIVE;
    try {
        return AsSession(handle)->ReadHeader(header);
    } catch (const std::bad_alloc&) {
        return RAR_ERR_NO_MEMORY;
    } catch (...) {
        return RAR_ERR_BAD_DATA;
    }
}

VARNOK_EXPORT int RARProcessFile(void* handle, int operation, const char* destPath, const char* destName) {
    if (!handle) return RAR_ERR_BAD_ARCHIVE;
    try {
        return AsSession(handle)->Process(operation, destPath, destName);
    } catch (const std::bad_alloc&) {
        return RAR_ERR_NO_MEMORY;
    } catch (...) {
        return RAR_ERR_BAD_DATA;
    }
}

VARNOK_EXPORT void RARSetChangeVolProc(void* handle, RarChangeVolProc proc) {
    if (handle) AsSession(handle)->SetChangeVolProc(proc);
}

VARNOK_EXPORT void RARSetProcessDataProc(void* handle, RarDataProc proc) {
    if (handle) AsSession(handle)->SetDataProc(proc);
}

VARNOK_EXPORT void RARSetPassword(void* handle, const char* password) {
    if (handle) AsSession(handle)->SetPassword(password);
}

VARNOK_EXPORT uint32_t RARGetErrorText(void* handle, char* buf, uint32_t size) {
    if (!buf || size == 0) return 0;
    buf[0] = '\0';
    if (!handle) return 0;
    const std::string& text = AsSession(handle)->ErrorText();
    const size_t n = text.size() < size ? text.size() : size - 1;
    text.copy(buf, n);
    buf[n] = '\0';
    return static_cast<uint32_t>(n);
}
