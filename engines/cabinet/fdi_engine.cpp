// The FDI interface on libmspack's cabinet decompressor.
//
// libmspack is driven through its own I/O system structure, filled with functions that forward to the
// caller's FDI callbacks: the cabinets are opened, read and positioned only through the caller's open, read,
// seek and close, libmspack's memory comes from the caller's allocator, and the decoded bytes of a file go to
// the caller's write callback on the handle the caller returned for it (libmspack "opens" a file of a name
// that only this code knows, and that name stands for the handle). Nothing here touches a file by itself.
//
// libmspack decodes a folder once from its start when the files of it are extracted in order, and decodes
// nothing for files that are not asked for, so a copy in which every file is skipped (a listing) reads only
// the headers. What libmspack does not tell through its public records, the folder index of each file as
// stored (whether it continues from or into another cabinet), is read here from the file records, through the
// same callbacks.
//
// Sets: a copy delivers the files that start in its cabinet. When the caller takes a file of a folder that
// goes on in the next cabinet, the next cabinets are asked for (once each, through the next-cabinet
// notification), checked to be the next of the same set, and joined to the chain with libmspack's append, so
// that the file is delivered whole. Files continued from an earlier cabinet are left to that cabinet's copy.
//
// Failures: a file whose data does not decode (damaged block, wrong checksum, the cabinet ends early, a
// cabinet of the set missing) fails alone: its handle is closed through the close callback, never passed on
// as complete, and the ERF record says why. libmspack's decoders cannot be trusted to be in step again after
// a failure inside a folder (a stored folder would go on a block late, silently), so every later file of that
// folder fails with the same reason instead of being decoded from a broken state.
#include "engines/cabinet/fdi_engine.h"

#include <mspack.h>

#include <climits>
#include <cstdarg>
#include <cstring>
#include <deque>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace varnok::cabinet {

namespace {

constexpr uint16_t kFromPrev = 0xFFFD, kToNext = 0xFFFE, kPrevAndNext = 0xFFFF;
// A set followed from one cabinet: more than this many cabinets is a loop or a hostile header.
constexpr int kMaxCabinetsFollowed = 1000;
// Tries at a next cabinet that turns out wrong before the file that needs it fails.
constexpr int kMaxCabinetTries = 16;
constexpr uint32_t kMagic = 0x56464449;  // "VFDI"
constexpr size_t kCfHeader = 36, kCfFile = 16, kMaxName = 256;

// The name libmspack is given for the output of a file; compared by address.
const char kOutputName[] = "<the caller's output handle>";

struct Context {
    mspack_system sys;  // the functions below
    uint32_t magic;
    PFNALLOC alloc;
    PFNFREE free;
    PFNOPEN open;
    PFNREAD read;
    PFNWRITE write;
    PFNCLOSE close;
    PFNSEEK seek;
    ERF* erf;
    bool copying;
    intptr_t output;  // the caller's handle of the file being decoded
    bool writeFailed;
};

// libmspack's file handle.
struct SysFile {
    Context* owner;
    intptr_t hf;
    bool output;
};

// The context of the call in progress on this thread. libmspack hands its decoders a copy of the system
// structure, so the structure's own address cannot lead back to the context.
thread_local Context* tCurrent = nullptr;

class CurrentScope {
  public:
    explicit CurrentScope(Context* c) : saved_(tCurrent) { tCurrent = c; }
    ~CurrentScope() { tCurrent = saved_; }
    CurrentScope(const CurrentScope&) = delete;
    CurrentScope& operator=(const CurrentScope&) = delete;

  private:
    Context* saved_;
};

Context* Of(mspack_system*) {
    return tCurrent;
}

void ClearErf(Context* c) {
    if (c->erf) *c->erf = ERF{0, 0, 0};
}

void SetErf(Context* c, FDIERROR op, int reason) {
    if (c->erf) *c->erf = ERF{op, reason, 1};
}

// ---- libmspack's I/O system on the caller's callbacks ----

// Every block carries its context in front, because libmspack's free has no context of its own.
struct alignas(16) BlockHeader {
    Context* owner;
};

void* SysAlloc(mspack_system* self, size_t bytes) {
    Context* c = Of(self);
    if (!c || bytes > ULONG_MAX - sizeof(BlockHeader)) return nullptr;
    void* p = c->alloc(static_cast<unsigned long>(bytes + sizeof(BlockHeader)));
    if (!p) return nullptr;
    static_cast<BlockHeader*>(p)->owner = c;
    return static_cast<BlockHeader*>(p) + 1;
}

void SysFree(void* p) {
    if (!p) return;
    BlockHeader* h = static_cast<BlockHeader*>(p) - 1;
    h->owner->free(h);
}

void SysCopy(void* src, void* dest, size_t bytes) {
    std::memmove(dest, src, bytes);
}

void SysMessage(mspack_file*, const char*, ...) {
    // libmspack's warnings; the failures they go with come back as results.
}

mspack_file* SysOpen(mspack_system* self, const char* name, int mode) {
    Context* c = Of(self);
    if (!c) return nullptr;
    if (name == kOutputName) {
        auto* f = new (std::nothrow) SysFile{c, c->output, true};
        return reinterpret_cast<mspack_file*>(f);
    }
    // The library only reads cabinets.
    if (mode != MSPACK_SYS_OPEN_READ || !name) return nullptr;
    intptr_t hf = c->open(const_cast<char*>(name), FDI_O_RDONLY | FDI_O_BINARY, 0);
    if (hf == -1) return nullptr;
    auto* f = new (std::nothrow) SysFile{c, hf, false};
    if (!f) c->close(hf);
    return reinterpret_cast<mspack_file*>(f);
}

void SysClose(mspack_file* file) {
    auto* f = reinterpret_cast<SysFile*>(file);
    if (!f) return;
    // The output handle is the caller's: it is finished by a notification or closed on failure, below.
    if (!f->output) f->owner->close(f->hf);
    delete f;
}

int SysRead(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<SysFile*>(file);
    if (!f || f->output || bytes < 0) return -1;
    unsigned got = f->owner->read(f->hf, buffer, static_cast<unsigned>(bytes));
    if (got == static_cast<unsigned>(-1) || got > static_cast<unsigned>(bytes)) return -1;
    return static_cast<int>(got);
}

int SysWrite(mspack_file* file, void* buffer, int bytes) {
    auto* f = reinterpret_cast<SysFile*>(file);
    if (!f || !f->output || bytes < 0) return -1;
    if (bytes == 0) return 0;
    unsigned put = f->owner->write(f->hf, buffer, static_cast<unsigned>(bytes));
    if (put != static_cast<unsigned>(bytes)) {
        f->owner->writeFailed = true;
        return -1;
    }
    return bytes;
}

int SysSeek(mspack_file* file, off_t offset, int mode) {
    auto* f = reinterpret_cast<SysFile*>(file);
    if (!f || f->output || mode < 0 || mode > 2) return -1;
    return f->owner->seek(f->hf, static_cast<long>(offset), mode) == -1 ? -1 : 0;
}

off_t SysTell(mspack_file* file) {
    auto* f = reinterpret_cast<SysFile*>(file);
    if (!f || f->output) return -1;
    return static_cast<off_t>(f->owner->seek(f->hf, 0, 1));
}

Context* Valid(HFDI h) {
    auto* c = static_cast<Context*>(h);
    return c && c->magic == kMagic ? c : nullptr;
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Reads exactly n bytes at pos through the callbacks.
bool ReadAt(Context* c, intptr_t hf, long pos, uint8_t* buf, size_t n) {
    if (c->seek(hf, pos, 0) != pos) return false;
    size_t done = 0;
    while (done < n) {
        unsigned chunk = static_cast<unsigned>(std::min<size_t>(n - done, 1u << 20));
        unsigned got = c->read(hf, buf + done, chunk);
        if (got == 0 || got == static_cast<unsigned>(-1) || got > chunk) return false;
        done += got;
    }
    return true;
}

// The stored folder index of every file of a cabinet, in the order of its file records.
bool ReadFolderIndices(Context* c, const char* name, std::vector<uint16_t>& out) {
    out.clear();
    intptr_t hf = c->open(const_cast<char*>(name), FDI_O_RDONLY | FDI_O_BINARY, 0);
    if (hf == -1) return false;
    bool ok = false;
    uint8_t h[kCfHeader];
    long size = c->seek(hf, 0, 2);
    if (size >= static_cast<long>(kCfHeader) && ReadAt(c, hf, 0, h, kCfHeader) && std::memcmp(h, "MSCF", 4) == 0) {
        const uint32_t filesAt = Le32(h + 16);
        const uint16_t count = Le16(h + 28);
        if (filesAt < static_cast<uint64_t>(size)) {
            // The records are read in one piece: at most a record and a longest name each.
            const size_t want = std::min<uint64_t>(static_cast<uint64_t>(size) - filesAt,
                                                   static_cast<uint64_t>(count) * (kCfFile + kMaxName + 1));
            std::vector<uint8_t> buf(want);
            if (ReadAt(c, hf, static_cast<long>(filesAt), buf.data(), want)) {
                size_t p = 0;
                ok = true;
                for (uint16_t i = 0; i < count; ++i) {
                    if (want - p < kCfFile + 1) {
                        ok = false;
                        break;
                    }
                    out.push_back(Le16(buf.data() + p + 8));
                    p += kCfFile;
                    const void* nul = std::memchr(buf.data() + p, 0, std::min(want - p, kMaxName + 1));
                    if (!nul) {
                        ok = false;
                        break;
                    }
                    p = static_cast<size_t>(static_cast<const uint8_t*>(nul) - buf.data()) + 1;
                }
            }
        }
    }
    c->close(hf);
    return ok;
}

size_t CountFiles(const mscabd_cabinet* cab) {
    size_t n = 0;
    for (const mscabd_file* f = cab->files; f; f = f->next) ++n;
    return n;
}

uint16_t DosDate(const mscabd_file* f) {
    return static_cast<uint16_t>(((f->date_y - 1980) << 9) | (f->date_m << 5) | f->date_d);
}
uint16_t DosTime(const mscabd_file* f) {
    return static_cast<uint16_t>((f->time_h << 11) | (f->time_m << 5) | (f->time_s >> 1));
}

void OpenFailure(Context* c, int mspackError) {
    switch (mspackError) {
        case MSPACK_ERR_OPEN:
            return SetErf(c, FDIERROR_CABINET_NOT_FOUND, FDI_REASON_READ);
        case MSPACK_ERR_SIGNATURE:
            return SetErf(c, FDIERROR_NOT_A_CABINET, FDI_REASON_DATA);
        case MSPACK_ERR_NOMEMORY:
            return SetErf(c, FDIERROR_ALLOC_FAIL, FDI_REASON_MEMORY);
        case MSPACK_ERR_READ:
        case MSPACK_ERR_SEEK:
            return SetErf(c, FDIERROR_CORRUPT_CABINET, FDI_REASON_READ);
        default:
            return SetErf(c, FDIERROR_CORRUPT_CABINET, FDI_REASON_DATA);
    }
}

struct Failure {
    FDIERROR op;
    int reason;
};

// One FDICopy.
class CopyRun {
  public:
    CopyRun(Context* c, PFNFDINOTIFY notify, void* pv) : c_(c), notify_(notify), pv_(pv) {}
    ~CopyRun() {
        if (cabd_) {
            if (first_) cabd_->close(cabd_, first_);
            mspack_destroy_cab_decompressor(cabd_);
        }
    }
    CopyRun(const CopyRun&) = delete;
    CopyRun& operator=(const CopyRun&) = delete;

    bool Run(const char* cabinet, const char* path) {
        path_ = path ? path : "";
        names_.push_back(path_ + cabinet);
        cabd_ = mspack_create_cab_decompressor(&c_->sys);
        if (!cabd_) return Fail(FDIERROR_ALLOC_FAIL, FDI_REASON_MEMORY);
        // Larger input reads than the default 4 KiB: fewer calls through the caller's read.
        cabd_->set_param(cabd_, MSCABD_PARAM_DECOMPBUF, 65536);
        first_ = cabd_->open(cabd_, names_.back().c_str());
        if (!first_) {
            OpenFailure(c_, cabd_->last_error(cabd_));
            return false;
        }
        std::vector<uint16_t> index;
        if (!ReadFolderIndices(c_, names_.back().c_str(), index) || index.size() != CountFiles(first_))
            return Fail(FDIERROR_CORRUPT_CABINET, FDI_REASON_DATA);
        tail_ = first_;

        FDINOTIFICATION n = Base();
        n.psz1 = const_cast<char*>(first_->nextname ? first_->nextname : "");
        n.psz2 = const_cast<char*>(first_->nextinfo ? first_->nextinfo : "");
        n.psz3 = const_cast<char*>(path_.c_str());
        n.iCabinet = first_->set_index;
        if (notify_(fdintCABINET_INFO, &n) == -1) return Fail(FDIERROR_USER_ABORT, FDI_REASON_ABORT);

        // The records as they are now: joining later cabinets adds theirs to libmspack's list.
        std::vector<mscabd_file*> files;
        for (mscabd_file* f = first_->files; f; f = f->next) files.push_back(f);
        std::vector<mscabd_folder*> folders;
        for (mscabd_folder* f = first_->folders; f; f = f->next) folders.push_back(f);
        for (uint16_t i : index) {
            if (i == kFromPrev || i == kPrevAndNext) firstContinued_ = true;
            if (i == kToNext || i == kPrevAndNext) lastContinues_ = true;
        }
        firstFolder_ = folders.empty() ? nullptr : folders.front();
        lastFolder_ = folders.empty() ? nullptr : folders.back();

        for (size_t i = 0; i < files.size(); ++i) {
            mscabd_file* f = files[i];
            const uint16_t stored = index[i];
            n = Base();
            n.psz1 = f->filename;
            if (stored == kFromPrev || stored == kPrevAndNext) {
                n.psz2 = first_->prevname ? first_->prevname : const_cast<char*>("");
                n.psz3 = first_->previnfo ? first_->previnfo : const_cast<char*>("");
                n.iFolder = stored;
                if (notify_(fdintPARTIAL_FILE, &n) == -1) return Fail(FDIERROR_USER_ABORT, FDI_REASON_ABORT);
            } else {
                n.cb = static_cast<long>(f->length);
                n.date = DosDate(f);
                n.time = DosTime(f);
                n.attribs = static_cast<unsigned short>(f->attribs);
                n.iFolder = stored;
                intptr_t hf = notify_(fdintCOPY_FILE, &n);
                if (hf == -1) return Fail(FDIERROR_USER_ABORT, FDI_REASON_ABORT);
                if (hf != 0 && !Deliver(f, hf)) return false;
            }
            if (i + 1 == files.size() || files[i + 1]->folder != f->folder) {
                n = Base();
                for (size_t k = 0; k < folders.size(); ++k)
                    if (folders[k] == f->folder) n.iFolder = static_cast<unsigned short>(k);
                if (notify_(fdintENUMERATE, &n) == -1) return Fail(FDIERROR_USER_ABORT, FDI_REASON_ABORT);
            }
        }
        if (failed_) SetErf(c_, lastFailure_.op, lastFailure_.reason);
        return !failed_;
    }

  private:
    FDINOTIFICATION Base() const {
        FDINOTIFICATION n{};
        n.pv = pv_;
        n.setID = first_ ? first_->set_id : 0;
        n.iCabinet = first_ ? first_->set_index : 0;
        return n;
    }

    bool Fail(FDIERROR op, int reason) {
        SetErf(c_, op, reason);
        return false;
    }

    // The file failed: the caller's handle is closed, never finished.
    void FileFailed(intptr_t hf, Failure why) {
        failed_ = true;
        lastFailure_ = why;
        SetErf(c_, why.op, why.reason);
        c_->close(hf);
    }

    // Decodes one file into the caller's handle. False stops the copy.
    bool Deliver(mscabd_file* f, intptr_t hf) {
        mscabd_folder* folder = f->folder;
        if (auto it = brokenFolders_.find(folder); it != brokenFolders_.end()) {
            FileFailed(hf, it->second);
            return true;
        }
        auto folderFails = [&](Failure why) {
            brokenFolders_[folder] = why;
            FileFailed(hf, why);
            return true;
        };
        if ((folder->comp_type & 0x0F) > MSCAB_COMP_LZX)
            return folderFails({FDIERROR_BAD_COMPR_TYPE, FDI_REASON_METHOD});
        // A folder continued from an earlier cabinet cannot be decoded from here.
        if (folder == firstFolder_ && firstContinued_)
            return folderFails({FDIERROR_CORRUPT_CABINET, FDI_REASON_SET});
        if (folder == lastFolder_ && lastContinues_ && !FollowSet()) return folderFails(setFailure_);

        c_->output = hf;
        c_->writeFailed = false;
        int e = cabd_->extract(cabd_, f, kOutputName);
        c_->output = 0;
        if (e == MSPACK_ERR_OK) {
            FDINOTIFICATION n = Base();
            n.psz1 = f->filename;
            n.hf = hf;
            n.date = DosDate(f);
            n.time = DosTime(f);
            n.attribs = static_cast<unsigned short>(f->attribs);
            n.cb = (f->attribs & FDI_A_EXEC) ? 1 : 0;
            intptr_t r = notify_(fdintCLOSE_FILE_INFO, &n);
            if (r == 0 || r == -1) return Fail(FDIERROR_TARGET_FILE, FDI_REASON_WRITE);
            return true;
        }
        if (c_->writeFailed || e == MSPACK_ERR_WRITE) {
            // The caller could not take the data: the copy stops.
            FileFailed(hf, {FDIERROR_TARGET_FILE, FDI_REASON_WRITE});
            return false;
        }
        switch (e) {
            case MSPACK_ERR_CHECKSUM:
                return folderFails({FDIERROR_CORRUPT_CABINET, FDI_REASON_CHECKSUM});
            case MSPACK_ERR_NOMEMORY:
                return folderFails({FDIERROR_ALLOC_FAIL, FDI_REASON_MEMORY});
            case MSPACK_ERR_READ:
            case MSPACK_ERR_SEEK:
            case MSPACK_ERR_OPEN:
                return folderFails({FDIERROR_CORRUPT_CABINET, FDI_REASON_READ});
            default:
                return folderFails({FDIERROR_CORRUPT_CABINET, FDI_REASON_DATA});
        }
    }

    // Joins the cabinets the last folder goes on into, asking the caller for each. Done once per copy.
    bool FollowSet() {
        if (setDone_) return setFollowed_;
        setDone_ = true;
        setFailure_ = {FDIERROR_CORRUPT_CABINET, FDI_REASON_SET};
        bool continues = true;
        for (int followed = 0; continues; ++followed) {
            if (followed >= kMaxCabinetsFollowed || !tail_->nextname) return false;
            char name[FDI_MAX_CABINET_NAME] = {};
            char disk[FDI_MAX_CABINET_NAME] = {};
            char dir[FDI_MAX_CAB_PATH] = {};
            std::strncpy(name, tail_->nextname, sizeof name - 1);
            if (tail_->nextinfo) std::strncpy(disk, tail_->nextinfo, sizeof disk - 1);
            if (path_.size() >= sizeof dir) {
                setFailure_ = {FDIERROR_CABINET_NOT_FOUND, FDI_REASON_ARGS};
                return false;
            }
            std::memcpy(dir, path_.data(), path_.size());
            FDIERROR why = FDIERROR_NONE;
            mscabd_cabinet* next = nullptr;
            std::vector<uint16_t> index;
            for (int tries = 0; !next; ++tries) {
                if (tries >= kMaxCabinetTries) {
                    setFailure_ = {why, FDI_REASON_SET};
                    return false;
                }
                FDINOTIFICATION n = Base();
                n.psz1 = name;
                n.psz2 = disk;
                n.psz3 = dir;
                n.fdie = why;
                n.iCabinet = static_cast<unsigned short>(tail_->set_index + 1);
                if (notify_(fdintNEXT_CABINET, &n) == -1) {
                    setFailure_ = {FDIERROR_USER_ABORT, FDI_REASON_SET};
                    return false;
                }
                name[sizeof name - 1] = 0;
                dir[sizeof dir - 1] = 0;
                names_.push_back(std::string(dir) + name);
                const char* full = names_.back().c_str();
                next = cabd_->open(cabd_, full);
                if (!next) {
                    why = cabd_->last_error(cabd_) == MSPACK_ERR_OPEN ? FDIERROR_CABINET_NOT_FOUND
                                                                     : FDIERROR_NOT_A_CABINET;
                    continue;
                }
                // The next cabinet of the same set, whose first folder carries on this one.
                if (next->set_id != first_->set_id ||
                    next->set_index != static_cast<unsigned short>(tail_->set_index + 1) ||
                    !ReadFolderIndices(c_, full, index) || index.size() != CountFiles(next) ||
                    cabd_->append(cabd_, tail_, next) != MSPACK_ERR_OK) {
                    cabd_->close(cabd_, next);
                    next = nullptr;
                    why = FDIERROR_WRONG_CABINET;
                }
            }
            path_ = dir;
            continues = false;
            for (uint16_t i : index)
                if (i == kPrevAndNext) continues = true;
            tail_ = next;
        }
        setFollowed_ = true;
        return true;
    }

    Context* c_;
    PFNFDINOTIFY notify_;
    void* pv_;
    mscab_decompressor* cabd_ = nullptr;
    mscabd_cabinet* first_ = nullptr;  // the chain: closing it frees every joined cabinet
    mscabd_cabinet* tail_ = nullptr;
    std::deque<std::string> names_;  // libmspack keeps pointers to the cabinets' names
    std::string path_;
    mscabd_folder* firstFolder_ = nullptr;
    mscabd_folder* lastFolder_ = nullptr;
    bool firstContinued_ = false, lastContinues_ = false;
    bool setDone_ = false, setFollowed_ = false;
    Failure setFailure_{FDIERROR_NONE, 0};
    std::map<mscabd_folder*, Failure> brokenFolders_;
    bool failed_ = false;
    Failure lastFailure_{FDIERROR_NONE, 0};
};

}  // namespace

HFDI Create(PFNALLOC pfnalloc, PFNFREE pfnfree, PFNOPEN pfnopen, PFNREAD pfnread, PFNWRITE pfnwrite,
            PFNCLOSE pfnclose, PFNSEEK pfnseek, int, ERF* perf) {
    if (perf) *perf = ERF{0, 0, 0};
    if (!pfnalloc || !pfnfree || !pfnopen || !pfnread || !pfnwrite || !pfnclose || !pfnseek) {
        if (perf) *perf = ERF{FDIERROR_ALLOC_FAIL, FDI_REASON_ARGS, 1};
        return nullptr;
    }
    void* p = pfnalloc(sizeof(Context));
    if (!p) {
        if (perf) *perf = ERF{FDIERROR_ALLOC_FAIL, FDI_REASON_MEMORY, 1};
        return nullptr;
    }
    Context* c = new (p) Context{};
    c->sys.open = SysOpen;
    c->sys.close = SysClose;
    c->sys.read = SysRead;
    c->sys.write = SysWrite;
    c->sys.seek = SysSeek;
    c->sys.tell = SysTell;
    c->sys.message = SysMessage;
    c->sys.alloc = SysAlloc;
    c->sys.free = SysFree;
    c->sys.copy = SysCopy;
    c->sys.null_ptr = nullptr;
    c->magic = kMagic;
    c->alloc = pfnalloc;
    c->free = pfnfree;
    c->open = pfnopen;
    c->read = pfnread;
    c->write = pfnwrite;
    c->close = pfnclose;
    c->seek = pfnseek;
    c->erf = perf;
    return c;
}

int IsCabinet(HFDI hfdi, intptr_t hf, FDICABINETINFO* info) {
    Context* c = Valid(hfdi);
    if (!c) return 0;
    ClearErf(c);
    uint8_t h[kCfHeader];
    if (!ReadAt(c, hf, 0, h, sizeof h) || std::memcmp(h, "MSCF", 4) != 0) return 0;
    if (h[25] != 1) {
        SetErf(c, FDIERROR_UNKNOWN_CABINET_VERSION, FDI_REASON_DATA);
        return 0;
    }
    if (info) {
        const uint16_t flags = Le16(h + 30);
        info->cbCabinet = static_cast<long>(Le32(h + 8));
        info->cFolders = Le16(h + 26);
        info->cFiles = Le16(h + 28);
        info->setID = Le16(h + 32);
        info->iCabinet = Le16(h + 34);
        info->fReserve = (flags & MSCAB_HDR_RESV) != 0;
        info->hasprev = (flags & MSCAB_HDR_PREVCAB) != 0;
        info->hasnext = (flags & MSCAB_HDR_NEXTCAB) != 0;
    }
    return 1;
}

int Copy(HFDI hfdi, const char* cabinet, const char* path, int, PFNFDINOTIFY notify, void* pvUser) {
    Context* c = Valid(hfdi);
    if (!c) return 0;
    ClearErf(c);
    if (!cabinet || !notify || c->copying) {
        SetErf(c, FDIERROR_CORRUPT_CABINET, FDI_REASON_ARGS);
        return 0;
    }
    c->copying = true;
    CurrentScope scope(c);
    bool ok = false;
    try {
        CopyRun run(c, notify, pvUser);
        ok = run.Run(cabinet, path);
    } catch (const std::bad_alloc&) {
        SetErf(c, FDIERROR_ALLOC_FAIL, FDI_REASON_MEMORY);
    }
    c->copying = false;
    return ok ? 1 : 0;
}

int Destroy(HFDI hfdi) {
    Context* c = Valid(hfdi);
    if (!c || c->copying) return 0;
    c->magic = 0;
    PFNFREE release = c->free;
    c->~Context();
    release(c);
    return 1;
}

}  // namespace varnok::cabinet
