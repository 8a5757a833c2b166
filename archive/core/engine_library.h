// The engine libraries the extractors load at run time ("libvarnok-unrar.so", "libvarnok-unace.so",
// "libvarnok-cabinet.so"), found only in the program's own folders.
//
// Why only there: a library is code that runs with the user's rights, so it is never looked up by a bare name
// (the loader's search path), in the current folder, or beside the archive being read, where whoever made the
// archive may have put one. The places are the running program's folder, then its ../lib/varnok (the
// installed layout), or one absolute folder chosen by the program itself (tests point it at the build tree).
//
// Each library is loaded once per process, on first use, and stays loaded; a library that is missing or lacks
// an entry point is remembered as missing, and the callers put their substitutes in its place.
#pragma once

#include <string>

namespace varnok {

class EngineLibrary {
  public:
    // fileName: the library's file name, without a folder ("libvarnok-unrar.so").
    explicit EngineLibrary(std::string fileName);
    ~EngineLibrary();
    EngineLibrary(const EngineLibrary&) = delete;
    EngineLibrary& operator=(const EngineLibrary&) = delete;

    // Loads the library (once; later calls answer at once). False when it is not in the program's folders or
    // does not load; Why() then tells which.
    bool Load();
    bool Loaded() const { return handle_ != nullptr; }
    // The address of an entry point of a loaded library, nullptr when it has none.
    void* Symbol(const char* name) const;
    // Puts the entry point `name` into slot (a function pointer of its type); false, leaving the slot as it was,
    // when the library has none.
    template <class F>
    bool Bind(const char* name, F& slot) const {
        void* p = Symbol(name);
        if (!p) return false;
        slot = reinterpret_cast<F>(p);
        return true;
    }
    // Where the library was loaded from, or why it was not.
    const std::string& Path() const { return path_; }
    const std::string& Why() const { return why_; }

    // The folder the program runs from (of /proc/self/exe); empty when unknown.
    static std::string ProgramFolder();
    // An absolute folder to take the engine libraries from instead of the program's folders; empty restores
    // the default. A relative folder is refused (false). Libraries already loaded stay as they are.
    static bool SetFolder(const std::string& folder);

  private:
    std::string fileName_;
    void* handle_ = nullptr;
    bool tried_ = false;
    std::string path_, why_;
};

}  // namespace varnok
