// The entry points of "libvarnok-cabinet.so": the only symbols the library exports.
#include "engines/cabinet/fdi_engine.h"

#define VARNOK_EXPORT extern "C" __attribute__((visibility("default")))

VARNOK_EXPORT HFDI FDICreate(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread,
                             PFNWRITE pfnwrite, PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf) {
    return varnok::cabinet::Create(pfnalloc, pfnfree, pfnopen, pfnread, pfnwrite, pfnclose, pfnseek, cpuType,
                                   perf);
}

VARNOK_EXPORT int FDIIsCabinet(HFDI hfdi, intptr_t hf, FDICABINETINFO* pfdici) {
    return varnok::cabinet::IsCabinet(hfdi, hf, pfdici);
}

VARNOK_EXPORT int FDICopy(HFDI hfdi, char* pszCabinet, char* pszCabPath, int flags, PFNFDINOTIFY pfnfdin,
                          PFNFDIDECRYPT, void* pvUser) {
    return varnok::cabinet::Copy(hfdi, pszCabinet, pszCabPath, flags, pfnfdin, pvUser);
}

VARNOK_EXPORT int FDIDestroy(HFDI hfdi) {
    return varnok::cabinet::Destroy(hfdi);
}
