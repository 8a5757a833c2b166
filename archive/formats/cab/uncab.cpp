// TUnCab's run: the library slot, the callbacks the library calls (they find the running component through
// a module-wide reference, since FDI's file callbacks carry no context), the hand-over channel between the
// library's thread and the run's, and the per-file sequence on the extraction base.
#include "archive/formats/cab/uncab.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "archive/core/engine_library.h"
#include "archive/core/utils.h"
#include "archive/core/volumes.h"
#include "platform/fileattr.h"

namespace varnok {

namespace {

// The handle FDI gets for the output of the file being extracted (the base's sink behind it).
constexpr intptr_t kOutputHandle = 1;
// A set of more cabinets than this is a loop, whatever the headers say.
constexpr int kMaxCabinets = 1000;

// ---- The library slot: loaded once; substitutes that fail when it is missing ----

HFDI SubstituteCreate(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE, PFNSEEK, int, ERF* perf) {
    if (perf) *perf = ERF{FDIERROR_ALLOC_FAIL, 0, 1};
    return nullptr;
}
int SubstituteIsCabinet(HFDI, intptr_t, FDICABINETINFO*) {
    return 1;
}
int SubstituteCopy(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*) {
    return 1;
}
int SubstituteDestroy(HFDI) {
    return 1;
}

struct CabinetLibrary {
    EngineLibrary lib{"libvarnok-cabinet.so"};
    bool loaded = false;
    FDICreateFunc create = SubstituteCreate;
    FDIIsCabinetFunc isCabinet = SubstituteIsCabinet;
    FDICopyFunc copy = SubstituteCopy;
    FDIDestroyFunc destroy = SubstituteDestroy;

    CabinetLibrary() {
        if (!lib.Load()) return;
        auto c = reinterpret_cast<FDICreateFunc>(lib.Symbol("FDICreate"));
        auto i = reinterpret_cast<FDIIsCabinetFunc>(lib.Symbol("FDIIsCabinet"));
        auto p = reinterpret_cast<FDICopyFunc>(lib.Symbol("FDICopy"));
        auto d = reinterpret_cast<FDIDestroyFunc>(lib.Symbol("FDIDestroy"));
        if (!c || !i || !p || !d) return;
        create = c;
        isCabinet = i;
        copy = p;
        destroy = d;
        loaded = true;
    }
};

const CabinetLibrary& Library() {
    static const CabinetLibrary library;
    return library;
}

// The library's file callbacks carry no context: they find the running component here. One run at a time.
std::mutex& RunLock() {
    static std::mutex m;
    return m;
}
TUnCab* gCurrent = nullptr;

std::string ReasonText(const ERF& e) {
    switch (e.erfType) {
        case FDI_REASON_READ:
            return "the cabinet could not be read or ends early";
        case FDI_REASON_CHECKSUM:
            return "a data block's checksum does not match";
        case FDI_REASON_DATA:
            return "the compressed data or the cabinet's records are damaged";
        case FDI_REASON_SET:
            return "it needs a cabinet of the set that is missing or was not given";
        case FDI_REASON_METHOD:
            return "unknown compression method";
        case FDI_REASON_WRITE:
            return "the output did not take the data";
        case FDI_REASON_MEMORY:
            return "out of memory";
        case FDI_REASON_ABORT:
            return "stopped";
        default:
            break;
    }
    switch (e.erfOper) {
        case FDIERROR_CABINET_NOT_FOUND:
            return "the cabinet was not found";
        case FDIERROR_NOT_A_CABINET:
            return "the file is not a cabinet";
        case FDIERROR_UNKNOWN_CABINET_VERSION:
            return "unknown cabinet version";
        case FDIERROR_WRONG_CABINET:
            return "the cabinet does not belong with this set";
        default:
            return "the cabinet is damaged";
    }
}

std::string FailureText(const ERF& e) {
    return ECabinetError(e.erfOper, e.erfType).what() + std::string(": ") + ReasonText(e);
}

int CodeOf(int oper) {
    switch (oper) {
        case FDIERROR_CABINET_NOT_FOUND:
            return E_OpenFile;
        case FDIERROR_ALLOC_FAIL:
            return E_OutOfMemory;
        case FDIERROR_BAD_COMPR_TYPE:
            return E_UnsupportedMethod;
        case FDIERROR_TARGET_FILE:
            return E_WriteFile;
        case FDIERROR_WRONG_CABINET:
            return E_CabWrongSet;
        case FDIERROR_USER_ABORT:
            return E_UserCanceled;
        default:
            return E_BadFileHeader;
    }
}

// A failure of the run as a whole, reported like a walk ended by a damaged header.
class RunFailure final : public EntryWalk {
  public:
    RunFailure(int code, std::string detail) { Fail(code, 0, std::move(detail)); }
    bool Next(ArchiveEntry&) override { return false; }
};

// Puts the volume numbering back after a run that went through a set.
class VolumeGuard {
  public:
    explicit VolumeGuard(TZipCommon& c) : c_(c), number_(c.VolumeNumber), volume_(c.CurrentVolume) {}
    ~VolumeGuard() {
        c_.VolumeNumber = number_;
        c_.CurrentVolume = volume_;
    }
    VolumeGuard(const VolumeGuard&) = delete;
    VolumeGuard& operator=(const VolumeGuard&) = delete;

  private:
    TZipCommon& c_;
    int number_;
    std::string volume_;
};

struct Message {
    enum Kind { None, CopyFile, Data, Close, Failed, NextCabinet, Done } kind = None;
    std::string name;
    uint32_t size = 0;
    uint16_t date = 0, time = 0, attribs = 0;
    const uint8_t* data = nullptr;
    unsigned count = 0;
    char* psz1 = nullptr;
    char* psz3 = nullptr;
    int fdie = 0;
    ERF erf{};
};

}  // namespace

// One message at a time from the library's thread to the run's, each waiting for its answer. After Abort
// (the run's thread is leaving) every message is answered at once with its refusal, so the library winds its
// copy down without anyone listening.
class TUnCab::Channel {
  public:
    // The library's thread: hands a message over and waits for the answer.
    intptr_t Post(Message m, intptr_t refusal) {
        std::unique_lock<std::mutex> l(m_);
        if (aborted_) return refusal;
        msg_ = std::move(m);
        hasMsg_ = true;
        cv_.notify_all();
        cv_.wait(l, [&] { return hasReply_ || aborted_; });
        if (!hasReply_) return refusal;
        hasReply_ = false;
        return reply_;
    }
    void Finish() {
        std::lock_guard<std::mutex> l(m_);
        done_ = true;
        cv_.notify_all();
    }
    // The run's thread: the next message; Done (again and again) once the copy has ended.
    Message Receive() {
        std::unique_lock<std::mutex> l(m_);
        cv_.wait(l, [&] { return hasMsg_ || done_; });
        if (!hasMsg_) return Message{Message::Done};
        hasMsg_ = false;
        return std::move(msg_);
    }
    void Reply(intptr_t r) {
        std::lock_guard<std::mutex> l(m_);
        reply_ = r;
        hasReply_ = true;
        cv_.notify_all();
    }
    void Abort() {
        std::lock_guard<std::mutex> l(m_);
        aborted_ = true;
        cv_.notify_all();
    }

  private:
    std::mutex m_;
    std::condition_variable cv_;
    Message msg_;
    bool hasMsg_ = false, hasReply_ = false, aborted_ = false, done_ = false;
    intptr_t reply_ = 0;
};

// The callbacks handed to the library. In a listing pass they run on the run's thread; in an extraction
// pass on the library's thread, where they only touch the file handler and the channel.
struct CabCallbacks {
    static void* Alloc(unsigned long n) { return std::malloc(n ? n : 1); }
    static void Free(void* p) { std::free(p); }
    static intptr_t Open(char* name, int flags, int mode) {
        int result = 0;
        return gCurrent->handler_.Open(name ? name : "", flags, mode, result);
    }
    static unsigned Read(intptr_t h, void* buf, unsigned n) {
        int result = 0;
        return gCurrent->handler_.Read(h, buf, n, result);
    }
    static unsigned Write(intptr_t h, void* buf, unsigned n) {
        TUnCab* x = gCurrent;
        if (h == kOutputHandle) {
            // A listing pass writes nothing, even if the library should call here.
            if (x->listing_ || !x->channel_) return n;
            Message m;
            m.kind = Message::Data;
            m.data = static_cast<const uint8_t*>(buf);
            m.count = n;
            return static_cast<unsigned>(x->channel_->Post(std::move(m), -1));
        }
        int result = 0;
        return x->handler_.Write(h, buf, n, result);
    }
    static int Close(intptr_t h) {
        TUnCab* x = gCurrent;
        if (h == kOutputHandle) {
            // The library gives the output back unfinished: the file failed.
            if (x->listing_ || !x->channel_) return 0;
            Message m;
            m.kind = Message::Failed;
            m.erf = x->erf_;
            x->channel_->Post(std::move(m), 0);
            return 0;
        }
        int result = 0;
        return x->handler_.Close(h, result);
    }
    static long Seek(intptr_t h, long distance, int origin) {
        int result = 0;
        return gCurrent->handler_.Seek(h, distance, origin, result);
    }
    static intptr_t Notify(FDINOTIFICATIONTYPE type, FDINOTIFICATION* n) {
        auto* x = static_cast<TUnCab*>(n->pv);
        switch (type) {
            case fdintCABINET_INFO:
                if (x->captureNext_) {
                    x->captureNext_ = false;
                    x->next_ = {n->psz1 ? n->psz1 : "", n->psz2 ? n->psz2 : "", n->psz3 ? n->psz3 : "",
                                n->setID, n->iCabinet};
                }
                return 0;
            case fdintCOPY_FILE: {
                if (x->listing_) {
                    x->listed_.push_back({n->psz1 ? n->psz1 : "", static_cast<uint32_t>(n->cb), n->date,
                                          n->time, n->attribs});
                    return 0;
                }
                Message m;
                m.kind = Message::CopyFile;
                m.name = n->psz1 ? n->psz1 : "";
                m.size = static_cast<uint32_t>(n->cb);
                m.date = n->date;
                m.time = n->time;
                m.attribs = n->attribs;
                return x->channel_->Post(std::move(m), -1);
            }
            case fdintCLOSE_FILE_INFO: {
                if (x->listing_) return 1;
                Message m;
                m.kind = Message::Close;
                return x->channel_->Post(std::move(m), 0);
            }
            case fdintNEXT_CABINET: {
                if (x->listing_) return -1;
                Message m;
                m.kind = Message::NextCabinet;
                m.psz1 = n->psz1;
                m.psz3 = n->psz3;
                m.fdie = n->fdie;
                return x->channel_->Post(std::move(m), -1);
            }
            default:  // partial files belong to an earlier cabinet's pass; folder ends need nothing
                return 0;
        }
    }
};

// ---------------------------------------------------------------------------------------------------------

ECabinetError::ECabinetError(int oper, int type)
    : std::runtime_error("Cabinet error " + std::to_string(oper) + " (type " + std::to_string(type) + ")"),
      oper_(oper),
      type_(type) {}

// ---- The file handler ----

intptr_t TStreamCabinetFileHandler::Open(const std::string& name, int flags, int mode, int& result) {
    int access = flags & 3;
    int o = (access == 0 ? O_RDONLY : access == 1 ? O_WRONLY : O_RDWR) | O_CLOEXEC;
    if (flags & FDI_O_CREAT) {
        o |= O_CREAT;
        if (flags & FDI_O_EXCL) o |= O_EXCL;
    }
    if (flags & FDI_O_TRUNC) o |= O_TRUNC;
    if (flags & FDI_O_APPEND) o |= O_APPEND;
    // Cabinet names come from the cabinets themselves: only a regular file is taken. Opening without blocking
    // keeps a FIFO in the name's place from stopping the run, and the type is checked on what was opened.
    int fd = ::open(name.c_str(), o | O_NONBLOCK, mode ? static_cast<mode_t>(mode) & 0777 : 0644);
    if (fd < 0) {
        result = errno;
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        result = EINVAL;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto f = std::make_unique<platform::File>();
    f->Adopt(fd, name);
    intptr_t h = next_++;
    streams_[h] = std::move(f);
    result = 0;
    return h;
}

unsigned TStreamCabinetFileHandler::Read(intptr_t handle, void* buffer, unsigned count, int& result) {
    auto it = streams_.find(handle);
    if (it == streams_.end()) {
        result = -1;
        return 0;
    }
    errno = 0;
    size_t got = it->second->Read(buffer, count);
    result = got < count ? errno : 0;
    return static_cast<unsigned>(got);
}

unsigned TStreamCabinetFileHandler::Write(intptr_t handle, const void* buffer, unsigned count, int& result) {
    auto it = streams_.find(handle);
    if (it == streams_.end()) {
        result = -1;
        return 0;
    }
    if (!it->second->Write(buffer, count)) {
        result = errno;
        return 0;
    }
    result = 0;
    return count;
}

int TStreamCabinetFileHandler::Close(intptr_t handle, int& result) {
    auto it = streams_.find(handle);
    if (it == streams_.end()) {
        result = -1;
        return -1;
    }
    bool ok = it->second->Close();
    result = ok ? 0 : errno;
    streams_.erase(it);
    return ok ? 0 : -1;
}

long TStreamCabinetFileHandler::Seek(intptr_t handle, long distance, int origin, int& result) {
    auto it = streams_.find(handle);
    if (it == streams_.end() || origin < 0 || origin > 2) {
        result = -1;
        return 0;
    }
    off_t r = lseek(it->second->Fd(), distance, origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END);
    result = r < 0 ? errno : 0;
    return r < 0 ? -1 : static_cast<long>(r);
}

int TStreamCabinetFileHandler::Delete(const std::string& name, int& result) {
    if (unlink(name.c_str()) != 0) {
        result = errno;
        return -1;
    }
    result = 0;
    return 0;
}

// ---- TUnCab ----

TUnCab::TUnCab() = default;

TUnCab::~TUnCab() {
    if (fdi_) Library().destroy(fdi_);
}

bool TUnCab::LibraryLoaded() {
    return Library().loaded;
}

bool TUnCab::AcceptsType(TArcType t) const {
    if (t != atCab) return false;
    // Said here, before the run makes the destination folder: without the library a run touches nothing.
    if (!LibraryLoaded())
        const_cast<TUnCab*>(this)->RaiseError(ArchiveFile(), Library().lib.Why(), E_CabinetNotFound);
    return true;
}

ArchiveEntry TUnCab::EntryOf(const std::string& raw, uint32_t size, uint16_t date, uint16_t time,
                             uint16_t attribs) const {
    ArchiveEntry e;
    e.RawName = raw;
    e.Origin = (attribs & FDI_A_NAME_IS_UTF) ? NameOrigin::Utf8 : NameOrigin::Dos;
    e.EntryDate = DosToUnixTime((static_cast<uint32_t>(date) << 16) | time);
    e.UnpackedSize = size;
    // No packed size per file: the run's byte limit, not the ratio, bounds what a file may grow to.
    e.PackedSize = size;
    e.CrcBits = 0;
    e.InternalAttr = attribs;
    e.ExternalAttr = attribs & 0x3F;
    e.IsDirectory = (attribs & 0x10) && size == 0;
    e.IsVolumeLabel = (attribs & 0x08) != 0;
    DecodeTexts(e, Names());
    return e;
}

bool TUnCab::Copy(const std::string& cabinet) {
    std::string name = ExtractFileName(cabinet), dir = ExtractFilePath(cabinet);
    return Library().copy(fdi_, name.data(), dir.data(), 0, CabCallbacks::Notify, nullptr, this) != 0;
}

void TUnCab::CabinetFailed(const std::string& cabinet, const ECabinetError& e) {
    ERF erf{e.Oper(), e.Type(), 1};
    CurrentVolume = cabinet;
    WalkFailed(RunFailure(CodeOf(e.Oper()), FailureText(erf)));
}

void TUnCab::ListingPass(const std::string& cabinet, bool decideNames) {
    listing_ = true;
    captureNext_ = false;
    listed_.clear();
    bool ok = Copy(cabinet);
    listing_ = false;
    if (!ok && erf_.fError) throw ECabinetError(erf_.erfOper, erf_.erfType);
    if (decideNames) {
        BeginNames();
        for (const Listed& l : listed_) {
            ArchiveEntry raw;
            raw.RawName = l.name;
            raw.Origin = (l.attribs & FDI_A_NAME_IS_UTF) ? NameOrigin::Utf8 : NameOrigin::Dos;
            SampleTexts(raw, names_);
        }
        names_.Decide();
    }
    uint64_t total = 0;
    for (const Listed& l : listed_)
        if (Selects(EntryOf(l.name, l.size, l.date, l.time, l.attribs))) total += l.size;
    SetRunTotal(total);
}

void TUnCab::ExtractionPass(const std::string& cabinet) {
    listing_ = false;
    captureNext_ = true;
    next_ = {};
    fileFailed_ = false;
    Channel channel;
    channel_ = &channel;
    int ok = 0;
    std::string name = ExtractFileName(cabinet), dir = ExtractFilePath(cabinet);
    std::thread library([&] {
        ok = Library().copy(fdi_, name.data(), dir.data(), 0, CabCallbacks::Notify, nullptr, this);
        channel.Finish();
    });
    // However the pass ends, the library's copy is wound down and its thread joined before the channel goes.
    struct Join {
        TUnCab& x;
        Channel& ch;
        std::thread& t;
        ~Join() {
            ch.Abort();
            t.join();
            x.channel_ = nullptr;
        }
    } join{*this, channel, library};
    for (;;) {
        Message m = channel.Receive();
        if (m.kind == Message::Done) break;
        if (m.kind == Message::CopyFile)
            CopyFile(m.name, m.size, m.date, m.time, m.attribs);
        else if (m.kind == Message::NextCabinet)
            channel.Reply(NextCabinet(m.psz1, m.psz3, m.fdie));
        else
            channel.Reply(m.kind == Message::Data ? -1 : 0);
    }
    // A failure that no file's report explains (the cabinet itself) is the run's.
    const bool explained = fileFailed_ && erf_.erfOper == lastFileFailure_.erfOper &&
                           erf_.erfType == lastFileFailure_.erfType;
    if (!ok && erf_.fError && !explained && !Cancel()) throw ECabinetError(erf_.erfOper, erf_.erfType);
}

void TUnCab::CopyFile(const std::string& raw, uint32_t size, uint16_t date, uint16_t time, uint16_t attribs) {
    Channel& ch = *channel_;
    bool replied = false;
    auto reply = [&](intptr_t r) {
        if (!replied) {
            replied = true;
            ch.Reply(r);
        }
    };
    ArchiveEntry e = EntryOf(raw, size, date, time, attribs);
    if (Cancel() || !Selects(e)) {
        reply(0);
        return;
    }
    bool opened = false;
    auto decode = [&](ByteSink& sink) -> DecodeResult {
        opened = !Testing();
        reply(kOutputHandle);
        for (;;) {
            Message d = ch.Receive();
            switch (d.kind) {
                case Message::Data:
                    try {
                        sink.Write(d.data, d.count);
                    } catch (...) {
                        ch.Reply(-1);
                        throw;
                    }
                    ch.Reply(d.count);
                    break;
                case Message::Close:
                    ch.Reply(1);
                    return MakeResult(DecodeStatus::Ok, 0, OutputCount(), 0);
                case Message::Failed:
                    fileFailed_ = true;
                    lastFileFailure_ = d.erf;
                    ch.Reply(0);
                    throw ArchiveError(E_CorruptInput, EntryName(), FailureText(d.erf));
                case Message::NextCabinet:
                    ch.Reply(NextCabinet(d.psz1, d.psz3, d.fdie));
                    break;
                case Message::Done:
                    return MakeResult(DecodeStatus::Truncated, E_CorruptInput, OutputCount(), 0);
                default:
                    ch.Reply(0);
                    break;
            }
        }
    };
    EntryResult r;
    try {
        r = ExtractEntry(e, CrcKind::None, 0, decode);
    } catch (const RunCancelled&) {
        // A stopped file is not left half written.
        if (opened && !OutputName().empty()) unlink(OutputName().c_str());
        throw;
    }
    reply(0);  // not taken: skipped, or refused before its output was made
    if (r == EntryResult::Failed && opened && !OutputName().empty()) {
        // Nothing of a file whose data failed is left behind.
        unlink(OutputName().c_str());
    }
}

intptr_t TUnCab::NextCabinet(char* name, char* dir, int fdie) {
    if (!name || !dir) return -1;
    const std::string stored(name, strnlen(name, FDI_MAX_CABINET_NAME));
    const std::string key = UpperAscii(stored);
    std::string proposed = std::string(dir, strnlen(dir, FDI_MAX_CAB_PATH)) + stored;
    if (fdie != FDIERROR_NONE) {
        // The cabinet given is not the next of the set, or went away: said once, and not asked again.
        ERF why{fdie, 0, 1};
        ReportError(proposed, ReasonText(why), fdie == FDIERROR_WRONG_CABINET ? E_CabWrongSet : E_OpenFile);
        refused_.insert(key);
        return -1;
    }
    if (Cancel() || refused_.count(key)) return -1;
    if (auto it = confirmed_.find(key); it != confirmed_.end()) {
        proposed = it->second;
    } else {
        // Cabinets made on DOS name the next one in capitals.
        if (std::string found = FindFileIgnoringCase(proposed); !found.empty()) proposed = found;
        if (!RequestVolume(proposed, VolumeNumber + 1)) {
            refused_.insert(key);
            return -1;
        }
    }
    const std::string file = ExtractFileName(proposed), folder = ExtractFilePath(proposed);
    if (file.empty() || file.size() >= FDI_MAX_CABINET_NAME || folder.size() >= FDI_MAX_CAB_PATH) {
        ReportError(proposed, "the name is too long for the cabinet library", E_InvalidFileName);
        refused_.insert(key);
        return -1;
    }
    std::memcpy(name, file.c_str(), file.size() + 1);
    std::memcpy(dir, folder.c_str(), folder.size() + 1);
    confirmed_[key] = proposed;
    return 0;
}

void TUnCab::ProcessArchive() {
    std::lock_guard<std::mutex> lock(RunLock());
    struct Current {
        explicit Current(TUnCab* x) { gCurrent = x; }
        ~Current() { gCurrent = nullptr; }
    } current(this);
    VolumeGuard restore(*this);
    const std::string archive = ArchiveFile();
    if (!platform::FileExists(archive)) return;
    confirmed_.clear();
    refused_.clear();
    CurrentVolume = archive;
    std::string cabinet = archive;
    try {
        if (!fdi_) {
            fdi_ = Library().create(CabCallbacks::Alloc, CabCallbacks::Free, CabCallbacks::Open,
                                    CabCallbacks::Read, CabCallbacks::Write, CabCallbacks::Close,
                                    CabCallbacks::Seek, static_cast<int>(CpuType) - 1, &erf_);
            if (!fdi_) throw ECabinetError(erf_.erfOper, erf_.erfType);
        }
        int result = 0;
        intptr_t hf = handler_.Open(archive, FDI_O_RDONLY | FDI_O_BINARY, 0, result);
        if (hf == -1) RaiseError(archive, std::strerror(result), E_OpenFile);
        FDICABINETINFO info{};
        const bool isCabinet = Library().isCabinet(fdi_, hf, &info) != 0;
        if (handler_.Close(hf, result) != 0) RaiseError(archive, "", E_CloseFile);
        if (!isCabinet) throw ECabinetError(erf_.fError ? erf_.erfOper : FDIERROR_NOT_A_CABINET, erf_.erfType);

        for (int n = 0; n < kMaxCabinets; ++n) {
            ListingPass(cabinet, n == 0);
            ExtractionPass(cabinet);
            if (Cancel() || next_.NextCabinet.empty()) break;
            // The next cabinet: as confirmed when a file continued into it, else asked for now.
            const std::string key = UpperAscii(next_.NextCabinet);
            if (refused_.count(key)) break;
            std::string path;
            if (auto it = confirmed_.find(key); it != confirmed_.end()) {
                path = it->second;
            } else {
                path = ExtractFilePath(cabinet) + next_.NextCabinet;
                if (std::string found = FindFileIgnoringCase(path); !found.empty()) path = found;
                if (!RequestVolume(path, VolumeNumber + 1)) break;
                confirmed_[key] = path;
            }
            cabinet = path;
            CurrentVolume = path;
        }
    } catch (const ECabinetError& e) {
        CabinetFailed(cabinet, e);
    }
}

}  // namespace varnok
