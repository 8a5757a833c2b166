#include "archive/formats/rar/unrar.h"

#include <cstring>
#include <vector>

#include "archive/core/engine_library.h"
#include "archive/core/format.h"
#include "engines/unrar/unrar.h"

namespace varnok {

const FormatRecord& RarFormat();

namespace {

// The library's entry points, looked up once; without the library each one is a substitute that fails the
// way the library would (opening: cannot open; headers: bad header; processing: bad archive).
struct UnrarSlot {
    bool loaded = false;
    std::string why;
    RAROpenArchiveFunc open = [](RAROpenArchiveData* d) -> void* {
        if (d) d->OpenResult = RAR_ERR_EOPEN;
        return nullptr;
    };
    RARCloseArchiveFunc close = [](void*) { return RAR_ERR_ECLOSE; };
    RARReadHeaderFunc readHeader = [](void*, RARHeaderData*) { return RAR_ERR_BAD_DATA; };
    RARProcessFileFunc process = [](void*, int, const char*, const char*) { return RAR_ERR_BAD_ARCHIVE; };
    RARSetChangeVolProcFunc setChangeVolProc = [](void*, RarChangeVolProc) {};
    RARSetProcessDataProcFunc setDataProc = [](void*, RarDataProc) {};
    RARSetPasswordFunc setPassword = [](void*, const char*) {};
    RARGetErrorTextFunc errorText = [](void*, char* buf, uint32_t size) -> uint32_t {
        if (buf && size) buf[0] = '\0';
        return 0;
    };
};

const UnrarSlot& Slot() {
    static const UnrarSlot slot = [] {
        static EngineLibrary lib("libvarnok-unrar.so");
        UnrarSlot s;
        if (!lib.Load()) {
            s.why = lib.Why();
            return s;
        }
        UnrarSlot found;
        const bool all = lib.Bind("RAROpenArchive", found.open) && lib.Bind("RARCloseArchive", found.close) &&
                         lib.Bind("RARReadHeader", found.readHeader) &&
                         lib.Bind("RARProcessFile", found.process) &&
                         lib.Bind("RARSetChangeVolProc", found.setChangeVolProc) &&
                         lib.Bind("RARSetProcessDataProc", found.setDataProc) &&
                         lib.Bind("RARSetPassword", found.setPassword);
        if (!all) {
            s.why = lib.Path() + " lacks an entry point of the RAR library";
            return s;
        }
        lib.Bind("RARGetErrorText", found.errorText);  // optional: the reasons are then the codes' texts
        found.loaded = true;
        return found;
    }();
    return slot;
}

// The component whose run the library's callbacks belong to (one RAR run at a time per thread).
thread_local TUnRar* current = nullptr;

class CurrentRun {
  public:
    explicit CurrentRun(TUnRar* c) : previous_(current) { current = c; }
    ~CurrentRun() { current = previous_; }

  private:
    TUnRar* previous_;
};

}  // namespace

TUnRar::TUnRar() : engine_(*this) {}
TUnRar::~TUnRar() = default;

bool TUnRar::LibraryAvailable(std::string* why) {
    const UnrarSlot& s = Slot();
    if (why) *why = s.why;
    return s.loaded;
}

int TUnRar::DataThunk(const uint8_t* data, uint32_t size) {
    return current ? current->engine_.Data(data, size) : 0;
}

int TUnRar::VolumeThunk(char* name, int mode) {
    return current && name ? current->Volume(name, mode) : 0;
}

int TUnRar::Volume(char* name, int mode) {
    (void)mode;
    if (volumeFailure_) return 0;
    try {
        return ConfirmVolume(name, RAR_NAME_SIZE) ? 1 : 0;
    } catch (...) {
        volumeFailure_ = std::current_exception();
        return 0;
    }
}

void TUnRar::RethrowVolumeFailure() {
    if (!volumeFailure_) return;
    std::exception_ptr p = volumeFailure_;
    volumeFailure_ = nullptr;
    std::rethrow_exception(p);
}

void* TUnRar::OpenLibrary(int& result) {
    const UnrarSlot& lib = Slot();
    const std::string name = ArchiveFile();
    RAROpenArchiveData od{};
    od.ArcName = name.c_str();
    od.OpenMode = RAR_OM_EXTRACT;
    void* h = lib.open(&od);
    result = static_cast<int>(od.OpenResult);
    if (!h) return nullptr;
    lib.setDataProc(h, &TUnRar::DataThunk);
    lib.setChangeVolProc(h, &TUnRar::VolumeThunk);
    if (!Password.empty()) lib.setPassword(h, Password.c_str());
    return h;
}

bool TUnRar::Rewind() {
    const UnrarSlot& lib = Slot();
    if (handle_) lib.close(handle_);
    int result = 0;
    handle_ = OpenLibrary(result);
    if (!handle_) return false;
    RARHeaderData hd;
    for (uint64_t i = 0; i < headersRead_; ++i) {
        if (lib.readHeader(handle_, &hd) != RAR_OK) return false;
        if (i + 1 < headersRead_ && lib.process(handle_, RAR_SKIP, nullptr, nullptr) != RAR_OK) return false;
    }
    return true;
}

void TUnRar::ProcessArchive() {
    std::string why;
    if (!LibraryAvailable(&why)) RaiseError(ArchiveFile(), why, E_UnrarNotFound);
    const UnrarSlot& lib = Slot();
    CurrentRun run(this);
    volumeFailure_ = nullptr;
    // Pre-scan: every entry of the set through the family's walk.
    std::vector<ArchiveEntry> all;
    size_t selected = 0;
    if (!PreScan(RarFormat(), all, selected)) return;
    if (selected == 0) return;

    if (ArchiveFile().size() >= RAR_NAME_SIZE) RaiseError(ArchiveFile(), "the name is too long", E_OpenFile);
    int result = 0;
    handle_ = OpenLibrary(result);
    if (!handle_) {
        const int id = RarResultError(result);
        RaiseError(ArchiveFile(), "", id ? id : E_OpenFile);
    }
    struct Closer {
        TUnRar& u;
        ~Closer() {
            if (u.handle_) Slot().close(u.handle_);
            u.handle_ = nullptr;
        }
    } closer{*this};

    auto reason = [&] {
        char buf[1024];
        lib.errorText(handle_, buf, sizeof buf);
        return std::string(buf);
    };
    EngineExtract::Library calls;
    calls.process = [&](int op) {
        const int rc = lib.process(handle_, op, nullptr, nullptr);
        RethrowVolumeFailure();
        return rc;
    };
    calls.setPassword = [&](const std::string& pw) { lib.setPassword(handle_, pw.c_str()); };
    calls.rewind = [&] { return Rewind(); };
    calls.reason = reason;
    calls.translate = RarResultError;
    calls.passwordCode = RAR_ERR_PASSWORD;
    calls.emptyNeedsNoPassword = true;  // RAR 1.5 to 4 files of no bytes
    calls.userCode = RAR_ERR_USER;

    headersRead_ = 0;
    size_t handled = 0;
    RARHeaderData hd;
    while (!Cancel() && handled < selected) {
        const int rc = lib.readHeader(handle_, &hd);
        RethrowVolumeFailure();
        if (rc == RAR_ERR_END_ARCHIVE) break;
        if (rc != RAR_OK) {
            const int id = RarResultError(rc);
            RunFailed(id ? id : E_BadFileHeader, reason());
            break;
        }
        if (headersRead_ >= all.size()) break;  // the walk ended here (and said why)
        const ArchiveEntry& e = all[headersRead_++];
        if (std::strncmp(hd.FileName, e.RawName.c_str(), sizeof hd.FileName) != 0) {
            RunFailed(E_BadFileHeader,
                      "the library's entries differ from the archive's headers at " + std::string(hd.FileName));
            break;
        }
        if (SelectsEntry(e.EntryName, e.IsDirectory)) ++handled;
        // RAR 5 files checked by a hash other than CRC-32 store none: the library's verdict decides.
        const CrcKind kind =
            hd.UnpVer >= 50 && hd.FileCRC == 0 && e.UnpackedSize > 0 ? CrcKind::None : CrcKind::Crc32;
        if (engine_.Entry(e, kind, calls) == EngineExtract::Step::EndRun) break;
    }
}

}  // namespace varnok
