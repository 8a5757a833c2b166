#include "archive/core/engine_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <vector>

namespace varnok {

namespace {

std::mutex& FolderLock() {
    static std::mutex m;
    return m;
}

std::string& ChosenFolder() {
    static std::string folder;
    return folder;
}

bool IsRegularFile(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

EngineLibrary::EngineLibrary(std::string fileName) : fileName_(std::move(fileName)) {}

EngineLibrary::~EngineLibrary() {
    if (handle_) dlclose(handle_);
}

std::string EngineLibrary::ProgramFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string p(buf, static_cast<size_t>(n));
    size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? std::string() : p.substr(0, slash == 0 ? 1 : slash);
}

bool EngineLibrary::SetFolder(const std::string& folder) {
    if (!folder.empty() && folder[0] != '/') return false;
    std::lock_guard<std::mutex> lock(FolderLock());
    ChosenFolder() = folder;
    return true;
}

bool EngineLibrary::Load() {
    if (tried_) return handle_ != nullptr;
    tried_ = true;
    std::vector<std::string> candidates;
    {
        std::lock_guard<std::mutex> lock(FolderLock());
        if (!ChosenFolder().empty()) {
            const std::string& f = ChosenFolder();
            candidates.push_back(f == "/" ? "/" + fileName_ : f + "/" + fileName_);
        }
    }
    if (candidates.empty()) {
        std::string prog = ProgramFolder();
        if (!prog.empty()) {
            candidates.push_back(prog + "/" + fileName_);
            candidates.push_back(prog + "/../lib/varnok/" + fileName_);
        }
    }
    why_ = fileName_ + " is not in the program's folders";
    for (const std::string& c : candidates) {
        // A path with a "/" is loaded from that place only: the loader does not search for it.
        if (!IsRegularFile(c)) continue;
        handle_ = dlopen(c.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_) {
            char real[PATH_MAX];
            path_ = realpath(c.c_str(), real) ? real : c;
            why_.clear();
            return true;
        }
        const char* e = dlerror();
        why_ = e ? e : c + " does not load";
    }
    return false;
}

void* EngineLibrary::Symbol(const char* name) const {
    return handle_ ? dlsym(handle_, name) : nullptr;
}

}  // namespace varnok
