#include "archive/formats/cab/cab_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/core/engine_library.h"
#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/utils.h"
#include "archive/formats/cab/cab_headers.h"
#include "archive/formats/cab/uncab.h"
#include "platform/tempfile.h"

namespace varnok {

namespace {

// The library's entry points; substitutes stand in while it is missing (create gives no context, the others
// succeed), so no caller needs to ask before calling.
struct Fci {
    FCICreateFunc create = nullptr;
    FCIAddFileFunc add = nullptr;
    FCIFlushCabinetFunc flushCabinet = nullptr;
    FCIFlushFolderFunc flushFolder = nullptr;
    FCIDestroyFunc destroy = nullptr;
    bool loaded = false;
    std::string why;
};

HFCI NoCreate(ERF*, PFNFCIFILEPLACED, PFNFCIALLOC, PFNFCIFREE, PFNFCIOPEN, PFNFCIREAD, PFNFCIWRITE, PFNFCICLOSE,
              PFNFCISEEK, PFNFCIDELETE, PFNFCIGETTEMPFILE, PCCAB, void*) {
    return nullptr;
}
int NoAdd(HFCI, char*, char*, int, PFNFCIGETNEXTCABINET, PFNFCISTATUS, PFNFCIGETOPENINFO, TCOMP) { return 1; }
int NoFlushCabinet(HFCI, int, PFNFCIGETNEXTCABINET, PFNFCISTATUS) { return 1; }
int NoFlushFolder(HFCI, PFNFCIGETNEXTCABINET, PFNFCISTATUS) { return 1; }
int NoDestroy(HFCI) { return 1; }

const Fci& Library() {
    static const Fci fci = [] {
        static EngineLibrary lib("libvarnok-fci.so");
        Fci f;
        f.create = NoCreate;
        f.add = NoAdd;
        f.flushCabinet = NoFlushCabinet;
        f.flushFolder = NoFlushFolder;
        f.destroy = NoDestroy;
        if (!lib.Load()) {
            f.why = lib.Why();
            return f;
        }
        auto create = reinterpret_cast<FCICreateFunc>(lib.Symbol("FCICreate"));
        auto add = reinterpret_cast<FCIAddFileFunc>(lib.Symbol("FCIAddFile"));
        auto flushCabinet = reinterpret_cast<FCIFlushCabinetFunc>(lib.Symbol("FCIFlushCabinet"));
        auto flushFolder = reinterpret_cast<FCIFlushFolderFunc>(lib.Symbol("FCIFlushFolder"));
        auto destroy = reinterpret_cast<FCIDestroyFunc>(lib.Symbol("FCIDestroy"));
        if (!create || !add || !flushCabinet || !flushFolder || !destroy) {
            f.why = lib.Path() + " lacks an FCI entry point";
            return f;
        }
        f = Fci{create, add, flushCabinet, flushFolder, destroy, true, {}};
        return f;
    }();
    return fci;
}

// The family's walk as the base's reader of old entries wants it.
struct OldWalk {
    struct Item {
        ArchiveEntry entry;
    };
    std::unique_ptr<EntryWalk> walk;
    bool Next(Item& it) { return walk->Next(it.entry); }
    int Error() const { return walk->Error(); }
    const std::string& ErrorDetail() const { return walk->ErrorDetail(); }
};

std::string CabinetErrorText(const ERF& erf) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "Cabinet error %d (type %d)", erf.erfOper, erf.erfType);
    std::string s = buf;
    if (erf.erfType > 0) s += ": " + std::string(std::strerror(erf.erfType));
    return s;
}

}  // namespace

struct TMakeCab::Callbacks {
    static TMakeCab& C(void* pv) { return *static_cast<TMakeCab*>(pv); }
    static void* Alloc(unsigned long cb) { return std::malloc(cb); }
    static void Free(void* p) { std::free(p); }

    static intptr_t Add(TMakeCab& c, Handle h) {
        const intptr_t id = c.nextHandle_++;
        c.handles_[id] = std::move(h);
        return id;
    }
    static platform::File* Find(TMakeCab& c, intptr_t hf) {
        auto it = c.handles_.find(hf);
        return it == c.handles_.end() ? nullptr : it->second.file;
    }

    static intptr_t Open(char* name, int oflag, int, int* err, void* pv) {
        TMakeCab& c = C(pv);
        *err = 0;
        const std::string n = name;
        Handle h;
        if (n == c.firstCabinet_ && c.out_) {
            // The first cabinet is the base's temporary archive.
            if ((oflag & FCI_O_TRUNC) && (!c.out_->Truncate(0) || !c.out_->Seek(0))) {
                *err = errno;
                return -1;
            }
            h.file = c.out_;
            return Add(c, std::move(h));
        }
        h.own = std::make_unique<platform::File>();
        bool ok = false;
        if (!c.scratch_.empty() && n.compare(0, c.scratch_.size() + 1, c.scratch_ + "/") == 0) {
            ok = h.own->Open(n, (oflag & FCI_O_CREAT) ? platform::File::Mode::Create
                                                      : (oflag & FCI_O_RDWR) ? platform::File::Mode::ReadWrite
                                                                             : platform::File::Mode::Read,
                             0600);
        } else if (oflag & FCI_O_CREAT) {
            // A later cabinet of the set: written privately beside its name, put in place after the run.
            const std::string temp = platform::CreateTempFile(RemoveSlash(ExtractFilePath(n).empty() ? "./" : ExtractFilePath(n)),
                                                              "." + ExtractFileName(n) + ".", ".tmp", h.own.get());
            ok = !temp.empty();
            if (ok) c.laterCabinets_.push_back({temp, n});
        } else {
            ok = h.own->Open(n, platform::File::Mode::Read);
        }
        if (!ok) {
            *err = errno ? errno : EIO;
            return -1;
        }
        h.file = h.own.get();
        return Add(c, std::move(h));
    }

    static unsigned Read(intptr_t hf, void* p, unsigned cb, int* err, void* pv) {
        TMakeCab& c = C(pv);
        *err = 0;
        platform::File* f = Find(c, hf);
        if (!f) {
            *err = EBADF;
            return static_cast<unsigned>(-1);
        }
        errno = 0;
        const size_t n = f->Read(p, cb);
        if (n == 0 && errno) {
            *err = errno;
            return static_cast<unsigned>(-1);
        }
        if (c.current_ && hf == c.currentHandle_ && c.currentLeft_) {
            const uint64_t took = std::min<uint64_t>(n, c.currentLeft_);
            c.currentLeft_ -= took;
            c.BytesRemaining -= std::min(c.BytesRemaining, took);
            c.Progress(c.current_->size - c.currentLeft_, c.current_->size);
        }
        return static_cast<unsigned>(n);
    }

    static unsigned Write(intptr_t hf, void* p, unsigned cb, int* err, void* pv) {
        TMakeCab& c = C(pv);
        *err = 0;
        platform::File* f = Find(c, hf);
        if (!f || !f->Write(p, cb)) {
            *err = f ? (errno ? errno : EIO) : EBADF;
            return static_cast<unsigned>(-1);
        }
        return cb;
    }

    static int Close(intptr_t hf, int* err, void* pv) {
        TMakeCab& c = C(pv);
        *err = 0;
        auto it = c.handles_.find(hf);
        if (it == c.handles_.end()) {
            *err = EBADF;
            return -1;
        }
        bool ok = true;
        if (it->second.own) ok = it->second.own->Close();
        if (hf == c.currentHandle_) c.currentHandle_ = -1;
        c.handles_.erase(it);
        if (!ok) *err = errno ? errno : EIO;
        return ok ? 0 : -1;
    }

    static long Seek(intptr_t hf, long dist, int type, int* err, void* pv) {
        TMakeCab& c = C(pv);
        *err = 0;
        platform::File* f = Find(c, hf);
        if (!f) {
            *err = EBADF;
            return -1;
        }
        const int64_t base = type == 0 ? 0 : type == 1 ? static_cast<int64_t>(f->Tell()) : static_cast<int64_t>(f->Size());
        const int64_t pos = base + dist;
        if (pos < 0 || !f->Seek(static_cast<uint64_t>(pos))) {
            *err = EINVAL;
            return -1;
        }
        return static_cast<long>(pos);
    }

    static int Delete(char* name, int* err, void* pv) {
        TMakeCab& c = C(pv);
        *err = 0;
        const std::string n = name;
        // The library deletes only its own scratch files.
        if (c.scratch_.empty() || n.compare(0, c.scratch_.size() + 1, c.scratch_ + "/") != 0) {
            *err = EPERM;
            return -1;
        }
        if (unlink(name) != 0) {
            *err = errno;
            return -1;
        }
        return 0;
    }

    static int Temp(char* buf, int size, void* pv) {
        TMakeCab& c = C(pv);
        const std::string n = c.scratch_ + "/fci" + std::to_string(++c.tempCount_) + ".tmp";
        if (c.scratch_.empty() || n.size() + 1 > static_cast<size_t>(size)) return 0;
        std::memcpy(buf, n.c_str(), n.size() + 1);
        return 1;
    }

    static int Placed(PCCAB, char*, long, int, void*) { return 0; }

    static long Status(unsigned, unsigned long, unsigned long, void* pv) {
        TMakeCab& c = C(pv);
        if (c.ProcessMessages) c.ProcessMessages();
        return c.Cancel() ? -1 : 0;
    }

    static int NextCabinet(PCCAB ccab, unsigned long previous, void* pv) {
        TMakeCab& c = C(pv);
        if (!c.OnGetNextCabinet) return 0;
        bool abort = true;
        std::string name;
        c.OnGetNextCabinet(c, *ccab, name, previous, abort);
        if (abort || name.empty()) return 0;
        const std::string file = ExtractFileName(name);
        const std::string dir = ExtractFilePath(name);
        if (file.empty() || file.size() >= sizeof ccab->szCab || dir.size() >= sizeof ccab->szCabPath) return 0;
        std::memcpy(ccab->szCab, file.c_str(), file.size() + 1);
        std::memcpy(ccab->szCabPath, dir.c_str(), dir.size() + 1);
        return 1;
    }

    static intptr_t OpenInfo(char* name, unsigned short* date, unsigned short* time, unsigned short* attribs,
                             int* err, void* pv) {
        TMakeCab& c = C(pv);
        *err = 0;
        if (!c.current_) {
            *err = EINVAL;
            return -1;
        }
        Handle h;
        h.own = std::make_unique<platform::File>();
        struct stat st {};
        if (!h.own->Open(name, platform::File::Mode::Read) || fstat(h.own->Fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
            *err = errno ? errno : EINVAL;
            return -1;
        }
        const uint32_t dos = UnixToDosTime(c.current_->mtime);
        *date = static_cast<unsigned short>(dos >> 16);
        *time = static_cast<unsigned short>(dos);
        *attribs = static_cast<unsigned short>(c.current_->attr & 0x27);
        h.file = h.own.get();
        c.currentHandle_ = Add(c, std::move(h));
        return c.currentHandle_;
    }
};

TMakeCab::TMakeCab() : TCompBase(atCab, ".CAB") { SetCompressMethod(cmMsZip); }

TMakeCab::~TMakeCab() { Cleanup(); }

bool TMakeCab::LibraryLoaded() { return Library().loaded; }

void TMakeCab::SetLzxLevel(int v) { lzxLevel_ = std::clamp(v, 15, 21); }
void TMakeCab::SetQuantumLevel(int v) { quantumLevel_ = std::clamp(v, 1, 7); }
void TMakeCab::SetQuantumMemory(int v) { quantumMemory_ = std::clamp(v, 10, 21); }

TCOMP TMakeCab::TcompValue() const {
    switch (CompressMethod()) {
        case cmStore:
            return tcompTYPE_NONE;
        case cmMsZip:
            return tcompTYPE_MSZIP;
        case cmLzx:
            return static_cast<TCOMP>(lzxLevel_ * 256 + tcompTYPE_LZX);
        case cmQuantum: {
            const int t = QuantumType == ctStore ? 0 : QuantumType == ctMsZip ? 1 : QuantumType == ctLzx ? 3 : 2;
            return static_cast<TCOMP>(quantumMemory_ * 256 + quantumLevel_ * 16 + t);
        }
        default:
            return tcompTYPE_NONE;
    }
}

std::string TMakeCab::MethodText() const {
    switch (CompressMethod()) {
        case cmStore:
            return "Stored";
        case cmMsZip:
            return "MsZIP";
        case cmLzx:
            return "Lzx";
        case cmQuantum:
            return "Quantum";
        default:
            return "";
    }
}

void TMakeCab::Cleanup() {
    if (fci_) Library().destroy(fci_);
    fci_ = nullptr;
    handles_.clear();
    for (const auto& [temp, final] : laterCabinets_)
        unlink(temp.c_str());
    laterCabinets_.clear();
    if (!scratch_.empty()) platform::RemoveTree(scratch_);
    scratch_.clear();
    out_ = nullptr;
    current_ = nullptr;
}

void TMakeCab::CabinetFailed(const std::string& name) {
    CheckCancel();
    const int code = erf_.erfOper == FCIERR_READ_SRC || erf_.erfOper == FCIERR_OPEN_SRC ? E_ReadFile : E_WriteFile;
    RaiseError(name, CabinetErrorText(erf_), code);
}

void TMakeCab::UpdateArchive() {
    if (Switch == swRead) return TCompBase::UpdateArchive();
    if (!LibraryLoaded()) {
        ReportError(ArchiveFile(), Library().why, E_CabinetNotFound);
        SetFailed();
        return;
    }
    if (Switch == swDelete) {
        ReportError(ArchiveFile(), "entries cannot be deleted from a cabinet", E_InvalidArcType);
        SetFailed();
        return;
    }
    Cleanup();
    tempCount_ = 0;
    erf_ = ERF{};
    scratch_ = platform::CreateTempDir(TempDir(), "vnkcab");
    if (scratch_.empty()) RaiseError(TempDir(), platform::LastErrorText(), E_OpenFile);
    scratch_ = RemoveSlash(scratch_);
    ccab_ = CCAB{};
    ccab_.cb = MaxCabinetSize;
    ccab_.cbFolderThresh = FolderThreshold;
    ccab_.fFailOnIncompressible = FailOnIncompressible;
    const std::string file = ExtractFileName(ArchiveFile());
    std::string dir = ExtractFilePath(ArchiveFile());
    if (dir.empty()) dir = "./";
    if (file.size() >= sizeof ccab_.szCab || dir.size() >= sizeof ccab_.szCabPath) {
        Cleanup();
        RaiseError(ArchiveFile(), "the name is too long for a cabinet", E_InvalidFileName);
    }
    std::memcpy(ccab_.szCab, file.c_str(), file.size() + 1);
    std::memcpy(ccab_.szCabPath, dir.c_str(), dir.size() + 1);
    firstCabinet_ = (dir.back() == '/' ? dir : dir + "/") + file;
    using CB = Callbacks;
    fci_ = Library().create(&erf_, CB::Placed, CB::Alloc, CB::Free, CB::Open, CB::Read, CB::Write, CB::Close,
                            CB::Seek, CB::Delete, CB::Temp, &ccab_, this);
    if (!fci_) {
        Cleanup();
        CabinetFailed(ArchiveFile());
    }
    try {
        TCompBase::UpdateArchive();
        if (!Failed())
            for (const auto& [temp, final] : laterCabinets_)
                if (rename(temp.c_str(), final.c_str()) != 0) RaiseError(final, platform::LastErrorText(), E_WriteFile);
        laterCabinets_.clear();
    } catch (...) {
        Cleanup();
        throw;
    }
    Cleanup();
}

void TMakeCab::LoadEntries() {
    OpenOldArchive(atCab, "it is not a cabinet");
    cab::Cabinet head;
    if (!cab::ReadCabinet(ArcFile, 0, ArchiveSize, head))
        RaiseError(ArchiveFile(), "the cabinet's header cannot be read", E_BadFileHeader);
    if (head.flags & (cab::fPrevCabinet | cab::fNextCabinet))
        RaiseError(ArchiveFile(), "the cabinet belongs to a set; a cabinet of a set cannot be updated",
                   E_InvalidArcType);
    OldWalk walk{FormatOf(atCab)->walk(*this)};
    std::vector<OldWalk::Item> items = ReadOldEntries(walk);

    // The old files, extracted into the private folder through the cabinet reader.
    const std::string oldDir = scratch_ + "/old";
    TUnCab reader;
    reader.ShareCancel(CancelPtr());
    reader.SetArchiveFile(ArchiveFile());
    reader.ExtractDir = oldDir;
    reader.UseStoredDirs = true;
    reader.OverwriteMode = omOverwrite;
    reader.ConfirmOverwrites = false;
    reader.FileSpec = {"*.*"};
    std::string firstError;
    reader.OnError = [&](TZipCommon&, const std::string& f, const std::string& msg, const std::string&, int code) {
        if (firstError.empty()) firstError = f + ": " + msg + " (" + std::to_string(code) + ")";
    };
    reader.ExtractArchive();
    CheckCancel();
    for (auto& it : items) {
        const ArchiveEntry& a = it.entry;
        if (a.IsDirectory) continue;
        TCompBaseHeaderObj e;
        e.name = a.EntryName;
        e.diskPath = oldDir + "/" + a.EntryName;
        e.size = a.UnpackedSize;
        e.mtime = a.EntryDate;
        e.attr = a.ExternalAttr & 0x27;
        struct stat st {};
        if (stat(e.diskPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<uint64_t>(st.st_size) != e.size)
            RaiseError(ArchiveFile(),
                       "the old file " + e.name + " could not be carried over" +
                           (firstError.empty() ? std::string() : ": " + firstError),
                       E_ReadFile);
        AddOldEntry(std::move(e));
    }
}

bool TMakeCab::AddToCabinet(platform::File& out, TCompBaseHeaderObj& e) {
    out_ = &out;
    std::string name = e.name;
    std::replace(name.begin(), name.end(), '/', '\\');
    if (name.size() >= CB_MAX_FILENAME) {
        ReportError(e.diskPath, "the name is longer than a cabinet holds (255 bytes)", E_InvalidFileName);
        return false;
    }
    current_ = &e;
    currentLeft_ = e.size;
    std::string src = e.diskPath;
    erf_ = ERF{};
    const bool ok = Library().add(fci_, src.data(), name.data(), 0, Callbacks::NextCabinet, Callbacks::Status,
                                  Callbacks::OpenInfo, TcompValue());
    current_ = nullptr;
    if (!ok) {
        if (erf_.erfOper == FCIERR_OPEN_SRC) {
            // Nothing of the file was taken: it is left out, the run goes on.
            ReportError(e.diskPath, erf_.erfType > 0 ? std::strerror(erf_.erfType) : CabinetErrorText(erf_),
                        E_OpenFile);
            BytesRemaining -= std::min(BytesRemaining, e.size);
            return false;
        }
        CabinetFailed(e.diskPath);
    }
    e.packed = e.size;
    if (OnRead) OnRead(*this, 0, 0);
    return true;
}

bool TMakeCab::CompressFile(platform::File& out, TCompBaseHeaderObj& e) {
    // A cabinet holds files only; folders are carried by the names of the files in them.
    if (e.directory) return false;
    if (!AddToCabinet(out, e)) {
        if (OnEnd) OnEnd(*this, e.diskPath, false);
        return false;
    }
    if (OnEnd) OnEnd(*this, e.diskPath, true);
    return true;
}

void TMakeCab::CopyKept(platform::File& out, TCompBaseHeaderObj& e) {
    // Never dropped: an old file that cannot be written again fails the run, and the cabinet stays.
    if (!AddToCabinet(out, e)) RaiseError(ArchiveFile(), "the old file " + e.name + " could not be carried over", E_ReadFile);
}

void TMakeCab::CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) { CopyKept(out, e); }

void TMakeCab::FinishArchive(platform::File& out) {
    out_ = &out;
    erf_ = ERF{};
    if (!Library().flushCabinet(fci_, 0, Callbacks::NextCabinet, Callbacks::Status)) CabinetFailed(ArchiveFile());
    if (!Library().destroy(fci_)) {
        fci_ = nullptr;
        CabinetFailed(ArchiveFile());
    }
    fci_ = nullptr;
    if (!out.Seek(out.Size())) RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
}

}  // namespace varnok
