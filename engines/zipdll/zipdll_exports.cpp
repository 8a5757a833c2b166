// The entry points of the add/delete engine library.
#include "engines/zipdll/zipdll.h"
#include "engines/zipdll/zipdll_engine.h"

#ifndef VARNOK_ZIPDLL_VERSION
#define VARNOK_ZIPDLL_VERSION ZIPDLL_VERSION
#endif

extern "C" __attribute__((visibility("default"))) int32_t ZipDllExec(ZipExecRecord* record) {
    return varnok::zipdll::Exec(record, VARNOK_ZIPDLL_VERSION);
}

extern "C" __attribute__((visibility("default"))) int32_t GetZipDllVersion(void) {
    return VARNOK_ZIPDLL_VERSION;
}
