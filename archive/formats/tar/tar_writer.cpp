#include "archive/formats/tar/tar_writer.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/utils.h"
#include "archive/formats/gzip/gzip_stream.h"
#include "archive/formats/gzip/gzip_writer.h"
#include "archive/formats/tar/tar_headers.h"
#include "archive/formats/tar/tar_walk.h"
#include "platform/tempfile.h"

namespace varnok {

namespace {

constexpr size_t kRecord = 512;
constexpr uint64_t kBlocking = 10240;

// A number in an n-byte field: n-1 octal digits and a NUL, or GNU base-256 when it does not fit.
void PutNumber(uint8_t* p, size_t n, uint64_t v) {
    const uint64_t limit = n - 1 >= 22 ? UINT64_MAX : (uint64_t{1} << (3 * (n - 1)));
    if (v < limit) {
        const std::string s = ToOctal(v, static_cast<int>(n), true);
        std::memcpy(p, s.data(), std::min(n, s.size()));
        return;
    }
    std::memset(p, 0, n);
    p[0] = 0x80;
    for (size_t i = n - 1; i > 0 && v; --i, v >>= 8)
        p[i] = static_cast<uint8_t>(v);
}

void PutText(uint8_t* p, size_t n, const std::string& s) { std::memcpy(p, s.data(), std::min(n, s.size())); }

void SetChecksum(uint8_t* h) {
    std::memset(h + 148, ' ', 8);
    unsigned sum = 0;
    for (size_t i = 0; i < kRecord; ++i)
        sum += h[i];
    PutNumber(h + 148, 8, sum);  // seven octal digits and a NUL
}


}  // namespace

TTar::TTar() : TCompBase(atTar, ".TAR") {
    SetCompressMethod(cmTarred);
    StoreEmptySubDirs = true;
}

void TTar::LoadEntries() {
    const TArcType found = IdentifyFile(ArchiveFile());
    if (found == atGZip && CompressMethod() == cmGzipTar) {
        // A compressed TAR is read from a private, already unlinked, decompressed copy.
        platform::File plain;
        const std::string dir = ExtractFilePath(ArchiveFile());
        const std::string path = platform::CreateTempFile(RemoveSlash(dir.empty() ? "./" : dir), ".varnok-tar.", "", &plain);
        if (path.empty()) RaiseError(dir, platform::LastErrorText(), E_OpenFile);
        unlink(path.c_str());
        if (!OpenArchiveForRead()) RaiseError(ArchiveFile(), platform::LastErrorText(), E_OpenFile);
        FileSource in(ArcFile, 0);
        FileSink sink(plain);
        DecodeResult r;
        try {
            r = DecodeGzip(in, sink, CancelPtr());
        } catch (const ArchiveError& x) {
            RaiseError(path, x.Detail(), x.Code());
        }
        CheckCancel();
        if (r.status != DecodeStatus::Ok)
            RaiseError(ArchiveFile(), "its compressed data cannot be read", r.errorCode ? r.errorCode : E_CorruptInput);
        ArcFile = std::move(plain);
        ArchiveSize = ArcFile.Size();
        StartOffset = 0;
    } else if (found == atTar) {
        if (!OpenArchiveForRead()) RaiseError(ArchiveFile(), platform::LastErrorText(), E_OpenFile);
    } else {
        RaiseError(ArchiveFile(), CompressMethod() == cmGzipTar ? "it is not a gzip-compressed TAR archive"
                                                                : "it is not a TAR archive",
                   E_InvalidArcType);
    }
    tar::Walk walk(*this);
    walk.IncludeUnlisted = true;
    std::vector<std::pair<ArchiveEntry, tar::Entry>> items;
    ArchiveEntry e;
    BeginNames();
    while (walk.Next(e)) {
        CheckCancel();
        SampleTexts(e, names_);
        items.emplace_back(std::move(e), walk.Header());
        e = ArchiveEntry{};
    }
    if (walk.Error()) RaiseError(ArchiveFile(), walk.ErrorDetail(), walk.Error());
    names_.Decide();
    // Each entry keeps every record from the end of the one before it (long names, pax records) to its end.
    uint64_t from = StartOffset;
    for (auto& [a, t] : items) {
        DecodeTexts(a, names_);
        TCompBaseHeaderObj o;
        o.name = a.EntryName;
        o.directory = a.IsDirectory;
        o.size = a.UnpackedSize;
        o.mtime = a.EntryDate;
        o.mode = t.mode;
        o.oldOffset = from;
        o.oldLength = t.nextPos - from;
        o.oldName = t.name;
        from = t.nextPos;
        AddOldEntry(std::move(o));
    }
}

void TTar::WriteLongName(platform::File& out, const std::string& name) {
    {
        // The whole name in a GNU long-name record; the header keeps the first 100 bytes.
        uint8_t l[kRecord] = {};
        PutText(l, 100, "././@LongLink");
        PutNumber(l + 100, 8, 0644);
        PutNumber(l + 108, 8, 0);
        PutNumber(l + 116, 8, 0);
        PutNumber(l + 124, 12, name.size() + 1);
        PutNumber(l + 136, 12, 0);
        l[156] = 'L';
        PutText(l + 257, 8, std::string("ustar  \0", 8));
        PutText(l + 265, 32, "root");
        PutText(l + 297, 32, "root");
        SetChecksum(l);
        Write(out, l, kRecord);
        std::vector<uint8_t> body(name.begin(), name.end());
        body.resize((name.size() + 1 + kRecord - 1) / kRecord * kRecord, 0);
        Write(out, body.data(), body.size());
    }
}

void TTar::WriteHeader(platform::File& out, const TCompBaseHeaderObj& e, const std::string& name, uint64_t size) {
    uint8_t h[kRecord] = {};
    const bool dir = e.directory;
    if (name.size() > 100) WriteLongName(out, name);
    PutText(h, 100, name);
    // The file's own permission bits (a folder needs its x bits to be entered).
    const uint32_t perm = e.mode & 07777;
    PutNumber(h + 100, 8, perm ? perm : (dir ? 0755 : 0644));
    PutNumber(h + 108, 8, UnixUID);
    PutNumber(h + 116, 8, UnixGID);
    PutNumber(h + 124, 12, dir ? 0 : size);
    PutNumber(h + 136, 12, static_cast<uint64_t>(std::max<int64_t>(e.mtime, 0)));
    h[156] = dir ? '5' : '0';
    PutText(h + 257, 8, std::string("ustar  \0", 8));
    PutText(h + 265, 32, UnixUName.substr(0, 32));
    PutText(h + 297, 32, UnixGName.substr(0, 32));
    SetChecksum(h);
    Write(out, h, kRecord);
}

bool TTar::CompressFile(platform::File& out, TCompBaseHeaderObj& e) {
    std::string name = e.name;
    if (e.directory) name.push_back('/');
    platform::File src;
    if (!e.directory && !OpenSource(e, src)) return false;
    WriteHeader(out, e, name, e.size);
    uint64_t done = 0;
    if (!e.directory) {
        std::vector<uint8_t> buf(64 * 1024);
        while (done < e.size) {
            CheckCancel();
            const size_t want = static_cast<size_t>(std::min<uint64_t>(buf.size(), e.size - done));
            const size_t got = src.Read(buf.data(), want);
            if (got == 0) break;
            Write(out, buf.data(), got);
            done += got;
            BytesRemaining -= std::min<uint64_t>(BytesRemaining, got);
            Progress(done, e.size);
        }
        if (done < e.size) {
            ReportError(e.diskPath, platform::LastErrorText() + " (read " + std::to_string(done) + " of " +
                        std::to_string(e.size) + " bytes)", E_ReadFile);
            return false;
        }
        // Bytes the file gained after it was found belong to a later version: the entry holds the size it
        // announced.
        const size_t pad = static_cast<size_t>((kRecord - done % kRecord) % kRecord);
        static const uint8_t zeros[kRecord] = {};
        Write(out, zeros, pad);
    }
    e.packed = done;
    if (OnEnd) OnEnd(*this, e.name, true);
    return true;
}

void TTar::CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) {
    tar::PaxGlobals globals;
    tar::Entry t;
    if (tar::ReadEntry(ArcFile, e.oldOffset, ArchiveSize, globals, t) != tar::ReadResult::Ok)
        RaiseError(ArchiveFile(), "the header of " + e.name + " cannot be read", E_BadFileHeader);
    // The records in front of the header stay, but for those that carry the old name: GNU long names, and
    // the path of pax records.
    uint64_t pos = e.oldOffset;
    while (pos < t.headerPos) {
        uint8_t r[kRecord];
        if (ArcFile.ReadAt(pos, r, kRecord) != kRecord) RaiseError(ArchiveFile(), "", E_ReadFile);
        int64_t size = 0;
        if (!tar::ParseNumber(r + 124, 12, size) || size < 0) RaiseError(ArchiveFile(), e.name, E_BadFileHeader);
        const uint64_t span = kRecord + (static_cast<uint64_t>(size) + kRecord - 1) / kRecord * kRecord;
        if (r[156] == 'x' && size < (1 << 20)) {
            std::string body(static_cast<size_t>(size), '\0');
            if (ArcFile.ReadAt(pos + kRecord, body.data(), body.size()) != body.size())
                RaiseError(ArchiveFile(), "", E_ReadFile);
            std::string kept;
            size_t p = 0;
            while (p < body.size()) {
                const size_t sp = body.find(' ', p);
                if (sp == std::string::npos) break;
                const size_t len = static_cast<size_t>(std::strtoull(body.substr(p, sp - p).c_str(), nullptr, 10));
                // A record shorter than its own length field and key is damaged: the rest is dropped.
                if (len <= sp - p + 1 || p + len > body.size()) break;
                const std::string rec = body.substr(p, len);
                if (rec.compare(sp - p + 1, 5, "path=") != 0) kept += rec;
                p += len;
            }
            if (!kept.empty()) {
                PutNumber(r + 124, 12, kept.size());
                SetChecksum(r);
                Write(out, r, kRecord);
                kept.resize((kept.size() + kRecord - 1) / kRecord * kRecord, '\0');
                Write(out, kept.data(), kept.size());
            }
        } else if (r[156] != 'L') {
            CopyOld(out, pos, span);
        }
        pos += span;
    }
    uint8_t h[kRecord];
    if (ArcFile.ReadAt(t.headerPos, h, kRecord) != kRecord) RaiseError(ArchiveFile(), "", E_ReadFile);
    const std::string name = e.directory ? e.name + "/" : e.name;
    if (name.size() > 100) WriteLongName(out, name);
    std::memset(h, 0, 100);
    PutText(h, 100, name);
    // A POSIX header's name prefix would be put in front of the new name.
    if (std::memcmp(h + 257, "ustar\0", 6) == 0) std::memset(h + 345, 0, 155);
    SetChecksum(h);
    Write(out, h, kRecord);
    CopyOld(out, t.headerPos + kRecord, t.nextPos - t.headerPos - kRecord);
}

void TTar::FinishArchive(platform::File& out) {
    // Two zero records end the archive; the last block is filled up to the blocking factor.
    const uint64_t end = out.Tell() + 2 * kRecord;
    const uint64_t total = (end + kBlocking - 1) / kBlocking * kBlocking;
    std::vector<uint8_t> zeros(static_cast<size_t>(total - out.Tell()), 0);
    Write(out, zeros.data(), zeros.size());
}

std::string TTar::SealOutput(platform::File& out, const std::string& path) {
    if (CompressMethod() != cmGzipTar) return path;
    platform::File gz;
    const std::string dir = ExtractFilePath(path);
    std::string gzPath = platform::CreateTempFile(RemoveSlash(dir.empty() ? "./" : dir), "." + ExtractFileName(ArchiveFile()) + ".",
                                                  ".gz.tmp", &gz);
    if (gzPath.empty()) RaiseError(dir, platform::LastErrorText(), E_OpenFile);
    FileSource in(out, 0);
    FileSink sink(gz);
    GzipMemberInfo info;
    DecodeResult r;
    try {
        r = WriteGzipMember(in, sink, {}, time(nullptr), DeflateType, CancelPtr(), info);
    } catch (const ArchiveError& x) {
        unlink(gzPath.c_str());
        RaiseError(ArchiveFile(), x.Detail(), x.Code());
    }
    if (r.status != DecodeStatus::Ok || !gz.Close()) {
        unlink(gzPath.c_str());
        CheckCancel();
        RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
    }
    return gzPath;
}

}  // namespace varnok
