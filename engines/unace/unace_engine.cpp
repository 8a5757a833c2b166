#include "engines/unace/unace_engine.h"

#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/formats/ace/ace_comment.h"
#include "archive/formats/ace/ace_crypt.h"
#include "archive/formats/ace/ace_decoder.h"
#include "archive/formats/ace/ace_headers.h"
#include "platform/file.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok::unace {

namespace {

constexpr uint64_t kMaxSfxSearch = uint64_t{1} << 20;  // a main header this far into a program is still found
constexpr size_t kMaxPassword = 1024;
constexpr uint32_t kDirectoryAttr = 0x10;

// The process's file creation mask, read without changing it (umask() would, for every thread).
mode_t CurrentUmask() {
    static const mode_t mask = [] {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
        }
        return static_cast<mode_t>(022);
    }();
    return mask;
}

void CopyText(char* dst, size_t size, const std::string& s) {
    const size_t n = std::min(s.size(), size - 1);
    std::memcpy(dst, s.data(), n);
    dst[n] = '\0';
}

int WriteErrorCode(int err) {
    return err == ENOSPC || err == EDQUOT ? ACE_ERR_FULL : ACE_ERR_WRITE;
}

}  // namespace

std::string NextVolumeName(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    const bool hasExt = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExt ? path.substr(0, dot) : path;
    const std::string ext = hasExt ? path.substr(dot + 1) : std::string();
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    int next = 0;
    bool upper = !ext.empty() && ext[0] >= 'A' && ext[0] <= 'Z';
    if (ext.size() == 3 && digit(ext[1]) && digit(ext[2])) {
        const int low = (ext[1] - '0') * 10 + (ext[2] - '0');
        if (ext[0] == 'c' || ext[0] == 'C')
            next = low + 1;
        else if (digit(ext[0]))
            next = (ext[0] - '0') * 100 + low + 1;
    }
    if (next > 999) return {};
    char buf[8];
    if (next < 100)
        std::snprintf(buf, sizeof buf, ".%c%02d", upper ? 'C' : 'c', next);
    else
        std::snprintf(buf, sizeof buf, ".%03d", next);
    return stem + buf;
}

class Engine {
  public:
    explicit Engine(const ACEOpenArchiveData& d)
        : dataProc_(d.DataProc), volProc_(d.ChangeVolProc), caller_(d.Caller) {}

    int OpenFirst(ACEOpenArchiveData& d);
    int ReadHeader(ACEHeaderData* h);
    int ProcessFile(int operation, const char* destName);
    void SetPassword(std::string pw) { password_ = std::move(pw); }

  private:
    struct Volume {
        std::string name;
        platform::File file;
        uint64_t size = 0;
        ace::Block main;
    };
    // One part of the current file: its header (in the volume now open) and how much of its data is left.
    struct Part {
        ace::Block header;
        uint64_t at = 0, left = 0;
    };

    class PartSource;
    class Output;

    int OpenVolume(const std::string& name, Volume& v, bool first);
    int NextVolume();
    int NextPart();
    int SkipRest();
    int Decode(int operation, const char* destName);

    AceDataProc dataProc_;
    AceChangeVolProc volProc_;
    void* caller_;
    std::string password_;

    Volume vol_;
    bool solidArchive_ = false;
    uint64_t next_ = 0;  // the next header in vol_

    bool pending_ = false;  // a header was read and its file not yet processed
    ace::Block file_;       // the file's first header
    std::string fileVolume_;
    Part part_;             // the part being read (in vol_)
    bool partsDone_ = true; // every part of the file has been passed

    ace::Decoder decoder_;
};

// ---- Volumes ----

int Engine::OpenVolume(const std::string& name, Volume& v, bool first) {
    v = Volume{};
    v.name = name;
    if (!v.file.Open(name, platform::File::Mode::Read)) return ACE_ERR_OPEN;
    v.size = v.file.Size();
    // The main header at the start, or (a self-extracting program) "**ACE**" further in; later volumes start
    // with it.
    ace::Block b;
    bool marker = false;
    auto tryAt = [&](uint64_t at) {
        if (ace::ReadBlock(v.file, at, v.size, b) != ace::ReadResult::Ok || b.type != ace::kTypeMain) return false;
        marker = true;
        return b.crcOk;
    };
    if (tryAt(0)) {
        v.main = b;
        return ACE_OK;
    }
    if (first) {
        std::vector<uint8_t> buf(static_cast<size_t>(std::min(v.size, kMaxSfxSearch)));
        const size_t got = v.file.ReadAt(0, buf.data(), buf.size());
        for (size_t i = 8; i + 7 <= got; ++i) {
            if (buf[i] == '*' && std::memcmp(&buf[i], "**ACE**", 7) == 0 && tryAt(i - 7)) {
                v.main = b;
                return ACE_OK;
            }
        }
    }
    return marker ? ACE_ERR_CRC : ACE_ERR_OPEN;
}

int Engine::OpenFirst(ACEOpenArchiveData& d) {
    int r = OpenVolume(d.ArcName, vol_, true);
    if (r != ACE_OK) return r;
    solidArchive_ = vol_.main.flags & ace::fSolid;
    next_ = vol_.main.nextPos;
    if (d.CmtBuf && d.CmtBufSize) {
        std::string text;
        if (!vol_.main.comment.empty()) ace::DecodeComment(vol_.main.comment, text, d.CmtBufSize - 1);
        std::memcpy(d.CmtBuf, text.data(), text.size());
        d.CmtBuf[text.size()] = '\0';
        d.CmtSize = static_cast<uint32_t>(text.size());
    }
    return ACE_OK;
}

// Goes on to the next volume of the set: the caller confirms (or changes) the name first and is told after.
int Engine::NextVolume() {
    if (!volProc_) return ACE_ERR_READ;
    std::string proposed = NextVolumeName(vol_.name);
    if (proposed.empty()) return ACE_ERR_READ;
    if (!platform::PathExists(proposed)) {
        // The other case of the extension letter, when that one is there.
        std::string other = proposed;
        char& c = other[other.size() - 3];
        if (c == 'c' || c == 'C') {
            c = c == 'c' ? 'C' : 'c';
            if (platform::PathExists(other)) proposed = other;
        }
    }
    if (proposed.size() >= ACE_NAME_SIZE) return ACE_ERR_READ;
    char name[ACE_NAME_SIZE] = {};
    std::memcpy(name, proposed.data(), proposed.size());
    if (!volProc_(caller_, name, ACE_VOL_ASK)) return ACE_ERR_READ;
    name[ACE_NAME_SIZE - 1] = '\0';
    Volume v;
    if (OpenVolume(name, v, false) != ACE_OK) return ACE_ERR_READ;
    // The volume after this one, of the same set.
    if (!(v.main.flags & ace::fMainMultiVolume) || v.main.volumeNumber != ((vol_.main.volumeNumber + 1) & 0xFF))
        return ACE_ERR_READ;
    vol_ = std::move(v);
    next_ = vol_.main.nextPos;
    std::memcpy(name, vol_.name.data(), std::min(vol_.name.size(), size_t{ACE_NAME_SIZE - 1}));
    volProc_(caller_, name, ACE_VOL_NOTIFY);
    return ACE_OK;
}

// The file's next part, at the start of the next volume.
int Engine::NextPart() {
    int r = NextVolume();
    if (r != ACE_OK) return r;
    ace::Block b;
    if (ace::ReadBlock(vol_.file, next_, vol_.size, b) != ace::ReadResult::Ok || !b.crcOk ||
        !b.IsFile() || !(b.flags & ace::fSplitBefore) || b.name != file_.name)
        return ACE_ERR_READ;
    part_.header = b;
    part_.at = b.nextPos - b.addSize;
    part_.left = b.addSize;
    next_ = b.nextPos;
    return ACE_OK;
}

// Passes the rest of the current file's parts without reading them.
int Engine::SkipRest() {
    while (!partsDone_) {
        if (!(part_.header.flags & ace::fSplitAfter)) {
            partsDone_ = true;
            break;
        }
        const int r = NextPart();
        if (r != ACE_OK) {
            partsDone_ = true;
            return r;
        }
    }
    return ACE_OK;
}

// ---- Headers ----

int Engine::ReadHeader(ACEHeaderData* h) {
    if (pending_) {
        const int r = ProcessFile(ACE_SKIP, nullptr);
        if (r == ACE_ERR_READ) return r;  // the set cannot be followed past that file
    }
    for (;;) {
        ace::Block b;
        const ace::ReadResult r = ace::ReadBlock(vol_.file, next_, vol_.size, b);
        if (r == ace::ReadResult::End) {
            // A set may also break between files: go on when the next volume is there.
            if ((vol_.main.flags & ace::fMainMultiVolume) && volProc_) {
                const std::string n = NextVolumeName(vol_.name);
                std::string other = n;
                if (!other.empty() && (other[other.size() - 3] == 'c' || other[other.size() - 3] == 'C'))
                    other[other.size() - 3] ^= 0x20;
                if (!n.empty() && (platform::PathExists(n) || platform::PathExists(other))) {
                    if (NextVolume() == ACE_OK) continue;
                }
            }
            return ACE_ERR_END;
        }
        if (r == ace::ReadResult::Bad || !b.crcOk || b.nextPos <= next_) return ACE_ERR_CRC;
        next_ = b.nextPos;
        if (!b.IsFile()) continue;
        if (b.flags & ace::fSplitBefore) continue;  // the end of a file begun in a volume not opened

        file_ = b;
        fileVolume_ = vol_.name;
        part_.header = b;
        part_.at = b.nextPos - b.addSize;
        part_.left = b.addSize;
        partsDone_ = false;
        pending_ = true;

        std::memset(h, 0, sizeof *h);
        CopyText(h->ArcName, sizeof h->ArcName, vol_.name);
        CopyText(h->FileName, sizeof h->FileName, b.name);
        h->Flags = b.flags;
        h->PackSize = b.addSize;
        h->UnpSize = b.unpackedSize;
        h->FileCRC = b.crc;
        h->FileTime = b.dosTime;
        h->FileAttr = b.attributes;
        h->HostOS = vol_.main.hostOs;
        h->Method = b.compressionType;
        h->Quality = b.quality;
        h->DictionaryBits = static_cast<uint32_t>(ace::DictionaryBits(b.parameters));
        return ACE_OK;
    }
}

// ---- Processing ----

// The file's packed bytes, part after part across the volumes.
class Engine::PartSource final : public ByteSource {
  public:
    explicit PartSource(Engine& e) : e_(e) {}
    size_t Read(uint8_t* buf, size_t n) override {
        while (e_.part_.left == 0) {
            if (error_ || !(e_.part_.header.flags & ace::fSplitAfter)) {
                e_.partsDone_ = e_.partsDone_ || !error_;
                return 0;
            }
            const int r = e_.NextPart();
            if (r != ACE_OK) {
                error_ = r;
                e_.partsDone_ = true;
                return 0;
            }
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n, e_.part_.left));
        const size_t got = e_.vol_.file.ReadAt(e_.part_.at, buf, want);
        if (got < want) {
            // The volume is shorter than its header says.
            error_ = ACE_ERR_READ;
            e_.part_.left = 0;
        } else {
            e_.part_.at += got;
            e_.part_.left -= got;
        }
        return got;
    }
    int Error() const { return error_; }
    // The CRC of the whole file: the one in its last part's header.
    uint32_t Crc() const { return e_.part_.header.crc; }

  private:
    Engine& e_;
    int error_ = 0;
};

// What the decoder produces: counted in the CRC, handed to the data callback (unless skipping) and written to the
// destination's temporary file, which is created with the first byte.
class Engine::Output final : public ByteSink {
  public:
    Output(Engine& e, int operation, const char* dest, CancelFlag& cancel)
        : e_(e), operation_(operation), dest_(dest ? dest : ""), cancel_(cancel) {}
    ~Output() override { Abort(); }

    void Write(const uint8_t* buf, size_t n) override {
        if (stopped_) return;
        crc_ = UpdateCrc32(crc_, buf, n);
        if (operation_ == ACE_EXTRACT) {
            if (!Create()) throw ArchiveError(E_OpenFile, dest_);
            if (!file_.Write(buf, n)) {
                error_ = WriteErrorCode(errno);
                throw ArchiveError(E_WriteFile, dest_);
            }
        }
        if (operation_ != ACE_SKIP && e_.dataProc_ && !e_.dataProc_(e_.caller_, buf, static_cast<uint32_t>(n))) {
            stopped_ = true;
            cancel_.store(true);
        }
    }
    // Puts the finished file in place; an error code on failure.
    int Commit() {
        if (operation_ != ACE_EXTRACT) return ACE_OK;
        if (!Create()) return error_;
        if (fchmod(file_.Fd(), 0666 & ~CurrentUmask()) != 0 || !file_.Close()) {
            const int r = WriteErrorCode(errno);
            Abort();
            return r;
        }
        if (std::rename(temp_.c_str(), dest_.c_str()) != 0) {
            Abort();
            return ACE_ERR_OPEN;
        }
        temp_.clear();
        return ACE_OK;
    }
    void Abort() {
        if (temp_.empty()) return;
        file_.Close();
        unlink(temp_.c_str());
        temp_.clear();
    }
    uint32_t Crc() const { return crc_; }
    bool Stopped() const { return stopped_; }
    int Error() const { return error_; }

  private:
    bool Create() {
        if (!temp_.empty()) return true;
        if (created_) return false;
        created_ = true;
        const size_t slash = dest_.rfind('/');
        const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : dest_.substr(0, slash);
        temp_ = platform::CreateTempFile(dir, ".vnkace", "", &file_);
        if (temp_.empty()) {
            error_ = ACE_ERR_OPEN;
            return false;
        }
        return true;
    }

    Engine& e_;
    int operation_;
    std::string dest_, temp_;
    CancelFlag& cancel_;
    platform::File file_;
    uint32_t crc_ = 0xFFFFFFFFu;  // ACE stores the CRC without the final complement
    bool created_ = false, stopped_ = false;
    int error_ = 0;
};

int Engine::Decode(int operation, const char* destName) {
    const bool encrypted = file_.flags & ace::fPassword;
    CancelFlag cancel{false};
    PartSource parts(*this);
    Output out(*this, operation, destName, cancel);
    ace::FileParams params;
    params.type = file_.compressionType;
    params.parameters = file_.parameters;
    // The parts end the data; a file in one part says how much there is.
    params.packedSize = (file_.flags & ace::fSplitAfter) ? UINT64_MAX : file_.addSize;
    params.unpackedSize = file_.unpackedSize;
    params.solid = file_.flags & ace::fSolid;

    DecodeResult res;
    bool ragged = false;
    try {
        if (encrypted) {
            ace::DecryptingSource plain(parts, password_);
            res = decoder_.Decode(params, plain, out, &cancel);
            ragged = plain.Ragged();
        } else {
            res = decoder_.Decode(params, parts, out, &cancel);
        }
    } catch (const ArchiveError&) {
        decoder_.Release();
        const int r = out.Error() ? out.Error() : ACE_ERR_WRITE;
        SkipRest();
        return r;
    }

    // Past the file's last part (the decoder may be done before it has read all of it): its header holds the
    // CRC of the whole file.
    const int rest = SkipRest();
    int r = ACE_OK;
    if (parts.Error())
        r = parts.Error();
    else if (out.Stopped() || res.status == DecodeStatus::Cancelled)
        r = ACE_ERR_USER;
    else if (ragged)
        r = ACE_ERR_CRC;
    else if (!res.Ok() || rest != ACE_OK || out.Crc() != parts.Crc())
        r = rest != ACE_OK ? rest : encrypted ? ACE_ERR_NOPASSW : ACE_ERR_CRC;
    if (r == ACE_OK) r = out.Commit();
    return r;
}

int Engine::ProcessFile(int operation, const char* destName) {
    if (!pending_) return ACE_ERR_CLINE;
    if (operation != ACE_SKIP && operation != ACE_TEST && operation != ACE_EXTRACT) return ACE_ERR_CLINE;
    if (operation == ACE_EXTRACT && (!destName || !*destName)) return ACE_ERR_CLINE;
    pending_ = false;

    const bool directory = file_.attributes & kDirectoryAttr;
    if (directory) {
        int r = SkipRest();
        if (r == ACE_OK && operation == ACE_EXTRACT && mkdir(destName, 0777) != 0 &&
            !(errno == EEXIST && platform::DirectoryExists(destName)))
            r = ACE_ERR_OPEN;
        return r;
    }
    // A skipped file is decoded only where later files depend on it.
    if (operation == ACE_SKIP && !solidArchive_) return SkipRest();
    if (!ace::Decoder::Supported(file_.compressionType)) {
        decoder_.Release();
        SkipRest();
        return ACE_ERR_METHOD;
    }
    if ((file_.flags & ace::fPassword) && password_.empty()) {
        decoder_.Release();
        SkipRest();
        return ACE_ERR_NOPASSW;
    }
    return Decode(operation, destName);
}

// ---- Handles ----

namespace {

std::mutex& Mutex() {
    static std::mutex m;
    return m;
}
std::set<Engine*>& Live() {
    static std::set<Engine*> s;
    return s;
}
bool IsLive(void* h) {
    std::lock_guard<std::mutex> lock(Mutex());
    return Live().count(static_cast<Engine*>(h)) != 0;
}

}  // namespace

Engine* Open(ACEOpenArchiveData* d) noexcept {
    if (!d) return nullptr;
    d->OpenResult = ACE_OK;
    d->CmtSize = 0;
    if (!d->ArcName || !*d->ArcName || (d->OpenMode != ACE_OPEN_LIST && d->OpenMode != ACE_OPEN_EXTRACT)) {
        d->OpenResult = ACE_ERR_CLINE;
        return nullptr;
    }
    try {
        auto e = std::make_unique<Engine>(*d);
        const int r = e->OpenFirst(*d);
        if (r != ACE_OK) {
            d->OpenResult = r;
            return nullptr;
        }
        std::lock_guard<std::mutex> lock(Mutex());
        Live().insert(e.get());
        return e.release();
    } catch (const std::bad_alloc&) {
        d->OpenResult = ACE_ERR_MEM;
    } catch (...) {
        d->OpenResult = ACE_ERR_OTHER;
    }
    return nullptr;
}

int Close(void* handle) noexcept {
    Engine* e = static_cast<Engine*>(handle);
    {
        std::lock_guard<std::mutex> lock(Mutex());
        if (!Live().erase(e)) return ACE_ERR_HANDLE;
    }
    delete e;
    return ACE_OK;
}

int ReadHeader(void* handle, ACEHeaderData* header) noexcept {
    if (!IsLive(handle)) return ACE_ERR_HANDLE;
    if (!header) return ACE_ERR_CLINE;
    try {
        return static_cast<Engine*>(handle)->ReadHeader(header);
    } catch (const std::bad_alloc&) {
        return ACE_ERR_MEM;
    } catch (...) {
        return ACE_ERR_OTHER;
    }
}

int ProcessFile(void* handle, int operation, const char* destName) noexcept {
    if (!IsLive(handle)) return ACE_ERR_HANDLE;
    try {
        return static_cast<Engine*>(handle)->ProcessFile(operation, destName);
    } catch (const std::bad_alloc&) {
        return ACE_ERR_MEM;
    } catch (...) {
        return ACE_ERR_OTHER;
    }
}

int SetPassword(void* handle, const char* password) noexcept {
    if (!IsLive(handle)) return ACE_ERR_HANDLE;
    try {
        std::string pw = password ? std::string(password, strnlen(password, kMaxPassword + 1)) : std::string();
        if (pw.size() > kMaxPassword) return ACE_ERR_CLINE;
        static_cast<Engine*>(handle)->SetPassword(std::move(pw));
        return ACE_OK;
    } catch (...) {
        return ACE_ERR_MEM;
    }
}

}  // namespace varnok::unace
