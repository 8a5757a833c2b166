#include "archive/formats/gzip/gzip_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/core/utils.h"
#include "platform/fileattr.h"
#include "platform/tempfile.h"

namespace varnok {

namespace {

// Counts and checks what it passes on.
class CrcSource final : public ByteSource {
  public:
    explicit CrcSource(ByteSource& in) : in_(in) {}
    size_t Read(uint8_t* buf, size_t n) override {
        const size_t got = in_.Read(buf, n);
        crc_ = UpdateCrc32(crc_, buf, got);
        size_ += got;
        return got;
    }
    uint32_t Crc() const { return crc_ ^ 0xFFFFFFFFu; }
    uint64_t Size() const { return size_; }

  private:
    ByteSource& in_;
    uint32_t crc_ = 0xFFFFFFFFu;
    uint64_t size_ = 0;
};

class SizeSink final : public ByteSink {
  public:
    explicit SizeSink(ByteSink& out) : out_(out) {}
    void Write(const uint8_t* buf, size_t n) override {
        out_.Write(buf, n);
        written_ += n;
    }
    uint64_t Written() const { return written_; }

  private:
    ByteSink& out_;
    uint64_t written_ = 0;
};


}  // namespace

DecodeResult WriteGzipMember(ByteSource& src, ByteSink& sink, const std::string& name, int64_t mtime,
                             TDeflateType level, const CancelFlag* cancel, GzipMemberInfo& info) {
    std::vector<uint8_t> head = {0x1F, 0x8B, 8, static_cast<uint8_t>(name.empty() ? 0 : 8)};
    AppendLe32(head, static_cast<uint32_t>(std::clamp<int64_t>(mtime, 0, UINT32_MAX)));
    head.push_back(level == dtDeflateX ? 2 : level == dtDeflateS ? 4 : 0);  // XFL: slowest / fastest
    head.push_back(3);                                                      // OS: Unix
    if (!name.empty()) {
        head.insert(head.end(), name.begin(), name.end());
        head.push_back(0);
    }
    SizeSink out(sink);
    out.Write(head.data(), head.size());
    CrcSource in(src);
    DeflateEncoder encoder(level);
    DecodeResult r = encoder.Encode(in, out, cancel);
    if (r.status != DecodeStatus::Ok) return r;
    std::vector<uint8_t> tail;
    AppendLe32(tail, in.Crc());
    AppendLe32(tail, static_cast<uint32_t>(in.Size()));
    out.Write(tail.data(), tail.size());
    info.crc = in.Crc();
    info.size = in.Size();
    info.packed = out.Written();
    return r;
}

TGZip::TGZip() : TCompBase(atGZip, ".GZ") { SetCompressMethod(cmDeflate); }

void TGZip::UpdateArchive() {
    if (Switch == swDelete) {
        ReportError(ArchiveFile(), "", E_InvalidArcType);
        SetFailed();
        return;
    }
    if (Switch == swRead || FileSpec.empty()) return;
    if (OnActivate) OnActivate(*this);
    FindFiles();
    for (auto& e : EntryList()) {
        CheckCancel();
        if (e.directory || e.action != acNew) continue;
        if (!BeginFile(e)) continue;
        if (CompressOne(e)) {
            e.added = true;
            CountAdded();
        } else {
            e.action = acDrop;
        }
    }
    if (Switch == swMove) MoveCleanup();
}

bool TGZip::CompressOne(TCompBaseHeaderObj& e) {
    std::string dir = ExtractFilePath(ArchiveFile());
    const std::string outName = dir + ExtractFileName(e.diskPath) + DefaultExt();
    struct stat st {};
    if (stat(outName.c_str(), &st) == 0) {
        if (!OnFileExists) {
            ReportMissingEvent("OnFileExists");
            RaiseError(outName, "", E_EventNotAssigned);
        }
        TOverwriteMode mode = OverwriteMode;
        OnFileExists(*this, outName, st.st_mtime, mode);
        if (mode == omSkip) {
            if (OnEnd) OnEnd(*this, e.name, true);
            return false;
        }
        if (!(st.st_mode & S_IWUSR)) {
            bool write = false;
            if (OnNonWriteableArchive) OnNonWriteableArchive(*this, outName, write);
            if (!write) {
                ReportError(outName, "the file is read-only", E_FileReadOnly);
                SetFailed();
                return false;
            }
        }
    }
    platform::File src;
    if (!OpenSource(e, src)) {
        SetFailed();
        return false;
    }
    platform::File out;
    struct Guard {
        std::string path;
        ~Guard() {
            if (!path.empty()) unlink(path.c_str());
        }
    } guard;
    guard.path = platform::CreateTempFile(RemoveSlash(dir.empty() ? "./" : dir), "." + ExtractFileName(outName) + ".",
                                          ".tmp", &out);
    if (guard.path.empty()) RaiseError(outName, platform::LastErrorText(), E_OpenFile);
    FileSource in(src, 0);
    FileSink sink(out);
    GzipMemberInfo info;
    DecodeResult r;
    try {
        // The stored name is the file's own name: the folder it came from means nothing to gunzip.
        r = WriteGzipMember(in, sink, StoredDirNames == sdNone ? ExtractFileName(e.diskPath) : ExtractFileName(e.name),
                            e.mtime, DeflateType, CancelPtr(), info);
    } catch (const ArchiveError& x) {
        RaiseError(outName, x.Detail(), x.Code());
    }
    CheckCancel();
    if (r.status != DecodeStatus::Ok || info.size < e.size) {
        ReportError(e.diskPath, platform::LastErrorText(), E_ReadFile);
        SetFailed();
        return false;
    }
    if (fchmod(out.Fd(), e.mode & 0777) != 0 || (SyncBeforeReplace && !out.Sync()) || !out.Close())
        RaiseError(outName, platform::LastErrorText(), E_WriteFile);
    if (DateAttribute == daFileDate) platform::SetFileTime(guard.path, e.mtime);
    if (rename(guard.path.c_str(), outName.c_str()) != 0) RaiseError(outName, platform::LastErrorText(), E_WriteFile);
    guard.path.clear();
    e.packed = info.packed;
    e.crc = info.crc;
    BytesRemaining -= std::min(BytesRemaining, e.size);
    Progress(e.size, e.size);
    if (OnEnd) OnEnd(*this, e.name, true);
    return true;
}

bool TGZip::CompressFile(platform::File&, TCompBaseHeaderObj& e) { return CompressOne(e); }

}  // namespace varnok
