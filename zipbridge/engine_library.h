// A ZIP engine library loaded by TZipBridge (zip_extract.cpp loads both kinds): the handle and its two entry
// points. Private to the bridge's sources.
#pragma once

#include <dlfcn.h>

#include <cstdint>
#include <string>

#include "zipbridge/zip_bridge.h"

namespace varnok {

struct TZipBridge::EngineLibrary {
    void* handle = nullptr;
    void* execEntry = nullptr;  // the exec entry point; its type is the library's own
    int32_t (*version)() = nullptr;
    std::string path;
    template <typename F>
    F Exec() const {
        return reinterpret_cast<F>(execEntry);
    }
    ~EngineLibrary() {
        if (handle) dlclose(handle);
    }
};

}  // namespace varnok
