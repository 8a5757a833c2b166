// The entry points of the extract engine library.
#include "engines/unzdll/unzdll.h"
#include "engines/unzdll/unzdll_engine.h"

#ifndef VARNOK_UNZDLL_VERSION
#define VARNOK_UNZDLL_VERSION UNZDLL_VERSION
#endif

extern "C" __attribute__((visibility("default"))) int32_t UnzDllExec(UnzExecRecord* record) {
    return varnok::unzdll::Exec(record, VARNOK_UNZDLL_VERSION);
}

extern "C" __attribute__((visibility("default"))) int32_t GetUnzDllVersion(void) {
    return VARNOK_UNZDLL_VERSION;
}
