// The cabinet engine behind the FDI entry points of "libvarnok-cabinet.so". The shared object only forwards
// to these; tests and fuzzers link the engine directly.
#pragma once

#include "engines/cabinet/fdi.h"

namespace varnok::cabinet {

HFDI Create(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
            PFNCLOSE pfnclose, PFNSEEK pfnseek, int cpuType, ERF* perf);
int IsCabinet(HFDI hfdi, intptr_t hf, FDICABINETINFO* pfdici);
int Copy(HFDI hfdi, const char* cabinet, const char* path, int flags, PFNFDINOTIFY notify, void* pvUser);
int Destroy(HFDI hfdi);

}  // namespace varnok::cabinet
