#include "archive/formats/ace/unace.h"

#include <cstring>
#include <vector>

#include "archive/core/engine_library.h"
#include "archive/core/format.h"
#include "engines/unace/unace.h"

namespace varnok {

const FormatRecord& AceFormat();

namespace {

typedef void* (*AceOpenFunc)(ACEOpenArchiveData*);
typedef int (*AceCloseFunc)(void*);
typedef int (*AceReadHeaderFunc)(void*, ACEHeaderData*);
typedef int (*AceProcessFunc)(void*, int, const char*);
typedef int (*AceSetPasswordFunc)(void*, const char*);

// The library's entry points, looked up once; without the library each one is a substitute that fails the
// way the library would (opening: cannot open; headers: CRC; processing: no more files).
struct UnaceSlot {
    bool loaded = false;
    std::string why;
    AceOpenFunc open = [](ACEOpenArchiveData* d) -> void* {
        if (d) d->OpenResult = ACE_ERR_OPEN;
        return nullptr;
    };
    AceCloseFunc close = [](void*) { return ACE_ERR_HANDLE; };
    AceReadHeaderFunc readHeader = [](void*, ACEHeaderData*) { return ACE_ERR_CRC; };
    AceProcessFunc process = [](void*, int, const char*) { return ACE_ERR_END; };
    AceSetPasswordFunc setPassword = [](void*, const char*) { return ACE_ERR_HANDLE; };
};

const UnaceSlot& Slot() {
    static const UnaceSlot slot = [] {
        static EngineLibrary lib("libvarnok-unace.so");
        UnaceSlot s;
        if (!lib.Load()) {
            s.why = lib.Why();
            return s;
        }
        UnaceSlot found;
        if (!(lib.Bind("ACEOpenArchive", found.open) && lib.Bind("ACECloseArchive", found.close) &&
              lib.Bind("ACEReadHeader", found.readHeader) && lib.Bind("ACEProcessFile", found.process) &&
              lib.Bind("ACESetPassword", found.setPassword))) {
            s.why = lib.Path() + " lacks an entry point of the ACE library";
            return s;
        }
        found.loaded = true;
        return found;
    }();
    return slot;
}

// The ACE library has no text for its failures: the reason is the code's own.
std::string AceReason(int code) {
    switch (code) {
        case ACE_ERR_MEM: return "out of memory";
        case ACE_ERR_OPEN: return "a file does not open";
        case ACE_ERR_READ: return "a read error, or the archive ends early";
        case ACE_ERR_WRITE: return "a write error";
        case ACE_ERR_CRC: return "the data fail their check";
        case ACE_ERR_NOPASSW: return "no password, or a wrong one";
        case ACE_ERR_METHOD: return "a method or version this library does not decode";
        case ACE_ERR_USER: return "stopped";
        default: return "the library failed with code " + std::to_string(code);
    }
}

}  // namespace

TUnAce::TUnAce() : engine_(*this) {}
TUnAce::~TUnAce() = default;

bool TUnAce::LibraryAvailable(std::string* why) {
    const UnaceSlot& s = Slot();
    if (why) *why = s.why;
    return s.loaded;
}

int TUnAce::DataThunk(void* caller, const uint8_t* data, uint32_t size) {
    return caller ? static_cast<TUnAce*>(caller)->engine_.Data(data, size) : 0;
}

int TUnAce::VolumeThunk(void* caller, char* name, int mode) {
    (void)mode;
    auto* self = static_cast<TUnAce*>(caller);
    if (!self || !name || self->volumeFailure_) return 0;
    try {
        return self->ConfirmVolume(name, ACE_NAME_SIZE) ? 1 : 0;
    } catch (...) {
        self->volumeFailure_ = std::current_exception();
        return 0;
    }
}

void TUnAce::RethrowVolumeFailure() {
    if (!volumeFailure_) return;
    std::exception_ptr p = volumeFailure_;
    volumeFailure_ = nullptr;
    std::rethrow_exception(p);
}

void* TUnAce::OpenLibrary(int& result) {
    ACEOpenArchiveData od{};
    od.ArcName = name_.c_str();
    od.OpenMode = ACE_OPEN_EXTRACT;
    od.DataProc = &TUnAce::DataThunk;
    od.ChangeVolProc = &TUnAce::VolumeThunk;
    od.Caller = this;
    void* h = Slot().open(&od);
    result = od.OpenResult;
    if (h && !Password.empty()) Slot().setPassword(h, Password.c_str());
    return h;
}

bool TUnAce::Rewind() {
    const UnaceSlot& lib = Slot();
    if (handle_) lib.close(handle_);
    int result = 0;
    handle_ = OpenLibrary(result);
    if (!handle_) return false;
    ACEHeaderData hd;
    for (uint64_t i = 0; i < headersRead_; ++i) {
        if (lib.readHeader(handle_, &hd) != ACE_OK) return false;
        if (i + 1 < headersRead_ && lib.process(handle_, ACE_SKIP, nullptr) != ACE_OK) return false;
    }
    return true;
}

void TUnAce::ProcessArchive() {
    std::string why;
    if (!LibraryAvailable(&why)) RaiseError(ArchiveFile(), why, E_AceNotFound);
    const UnaceSlot& lib = Slot();
    volumeFailure_ = nullptr;
    std::vector<ArchiveEntry> all;
    size_t selected = 0;
    if (!PreScan(AceFormat(), all, selected) || selected == 0) return;

    name_ = ArchiveFile();
    int result = 0;
    handle_ = OpenLibrary(result);
    if (!handle_) {
        const int id = AceResultError(result);
        RaiseError(ArchiveFile(), AceReason(result), id ? id : E_OpenFile);
    }
    struct Closer {
        TUnAce& u;
        ~Closer() {
            if (u.handle_) Slot().close(u.handle_);
            u.handle_ = nullptr;
        }
    } closer{*this};

    int last = 0;
    EngineExtract::Library calls;
    calls.process = [&](int op) {
        last = lib.process(handle_, op, nullptr);
        RethrowVolumeFailure();
        return last;
    };
    calls.setPassword = [&](const std::string& pw) { lib.setPassword(handle_, pw.c_str()); };
    calls.rewind = [&] { return Rewind(); };
    calls.reason = [&] { return AceReason(last); };
    calls.translate = AceResultError;
    calls.passwordCode = ACE_ERR_NOPASSW;
    calls.userCode = ACE_ERR_USER;

    headersRead_ = 0;
    size_t handled = 0;
    ACEHeaderData hd;
    while (!Cancel() && handled < selected) {
        const int rc = lib.readHeader(handle_, &hd);
        RethrowVolumeFailure();
        if (rc == ACE_ERR_END) break;
        if (rc != ACE_OK) {
            const int id = AceResultError(rc);
            RunFailed(id ? id : E_BadFileHeader, AceReason(rc));
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
        if (engine_.Entry(e, CrcKind::Crc32, calls) == EngineExtract::Step::EndRun) break;
    }
}

}  // namespace varnok
