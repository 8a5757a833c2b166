#include "archive/formats/lzh/lzh_writer.h"

#include <algorithm>
#include <functional>

#include "archive/codecs/static_huffman_encoder.h"
#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/core/format.h"
#include "archive/core/utils.h"
#include "archive/formats/lzh/lzh_walk.h"

namespace varnok {

namespace {

constexpr size_t kLevel0MaxName = 255 - 22;
constexpr uint64_t kMax32 = 0xFFFFFFFFu;

// Passes a file on, computing its CRC-16 and counting the bytes.
class Crc16Source final : public ByteSource {
  public:
    Crc16Source(platform::File& f, std::function<void(uint64_t)> progress) : f_(f), progress_(std::move(progress)) {}
    size_t Read(uint8_t* buf, size_t n) override {
        const size_t got = f_.Read(buf, n);
        crc_ = UpdateCrc16(crc_, buf, got);
        done_ += got;
        progress_(done_);
        return got;
    }
    uint16_t Crc() const { return crc_; }
    uint64_t Done() const { return done_; }

  private:
    platform::File& f_;
    std::function<void(uint64_t)> progress_;
    uint16_t crc_ = 0;
    uint64_t done_ = 0;
};

class OutSink final : public ByteSink {
  public:
    explicit OutSink(std::function<void(const uint8_t*, size_t)> write) : write_(std::move(write)) {}
    void Write(const uint8_t* buf, size_t n) override {
        write_(buf, n);
        written_ += n;
    }
    uint64_t Written() const { return written_; }

  private:
    std::function<void(const uint8_t*, size_t)> write_;
    uint64_t written_ = 0;
};

struct Fields {
    std::string method;  // "-lh5-"
    uint64_t packed = 0, unpacked = 0;
    int64_t mtime = 0;
    uint8_t attr = 0x20;
    uint32_t mode = 0;
    uint16_t crc = 0;
};

// A level-0 header: size byte, checksum, fixed fields, the name and the CRC.
std::vector<uint8_t> Level0(const std::string& name, const Fields& f) {
    std::vector<uint8_t> h = {static_cast<uint8_t>(22 + name.size()), 0};
    h.insert(h.end(), f.method.begin(), f.method.end());
    AppendLe32(h, static_cast<uint32_t>(f.packed));
    AppendLe32(h, static_cast<uint32_t>(f.unpacked));
    AppendLe32(h, UnixToDosTime(f.mtime));
    h.push_back(f.attr);
    h.push_back(0);  // level
    h.push_back(static_cast<uint8_t>(name.size()));
    h.insert(h.end(), name.begin(), name.end());
    AppendLe16(h, f.crc);
    uint8_t sum = 0;
    for (size_t i = 2; i < h.size(); ++i)
        sum = static_cast<uint8_t>(sum + h[i]);
    h[1] = sum;
    return h;
}

// A level-2 header: the fixed part, then extended fields (header CRC, file name, folder name with 0xFF
// separators, Unix mode), each announced by the size field in front of it; the whole header's size first.
std::vector<uint8_t> Level2(const std::string& name, const Fields& f) {
    std::vector<uint8_t> h;
    AppendLe16(h, 0);  // header size, set below
    h.insert(h.end(), f.method.begin(), f.method.end());
    AppendLe32(h, static_cast<uint32_t>(f.packed));
    AppendLe32(h, static_cast<uint32_t>(f.unpacked));
    AppendLe32(h, static_cast<uint32_t>(std::clamp<int64_t>(f.mtime, 0, UINT32_MAX)));
    h.push_back(0x20);
    h.push_back(2);  // level
    AppendLe16(h, f.crc);
    h.push_back('U');
    std::string file = name, dir;
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos) {
        dir = name.substr(0, slash + 1);
        file = name.substr(slash + 1);
        std::replace(dir.begin(), dir.end(), '/', '\xFF');
    }
    size_t crcAt = 0;
    auto ext = [&](uint8_t type, const std::string& data) {
        AppendLe16(h, static_cast<uint16_t>(3 + data.size()));
        h.push_back(type);
        if (type == 0) crcAt = h.size();
        h.insert(h.end(), data.begin(), data.end());
    };
    ext(0x00, std::string(2, '\0'));
    ext(0x01, file);
    if (!dir.empty()) ext(0x02, dir);
    if (f.mode) ext(0x50, std::string{static_cast<char>(f.mode & 0xFF), static_cast<char>((f.mode >> 8) & 0xFF)});
    AppendLe16(h, 0);  // no further field
    PutLe16(&h[0], static_cast<uint16_t>(h.size()));
    const uint16_t hcrc = UpdateCrc16(0, h.data(), h.size());
    PutLe16(&h[crcAt], hcrc);
    return h;
}

// Level 0 for short ASCII names with a lower-case letter, which every LHA reader takes as they are. A name
// beyond what level 0 holds, one with characters beyond ASCII, or one in capitals only gets a level-2 header
// from a Unix host: readers take its UTF-8 bytes as what they are (as LHa for UNIX writes them), where level 0
// would leave them guessing a DOS code page, and they show DOS names in capitals in lower case.
std::vector<uint8_t> HeaderFor(const std::string& name, const Fields& f) {
    bool ascii = true, lower = false, upper = false;
    for (char c : name) {
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        lower = lower || (c >= 'a' && c <= 'z');
        upper = upper || (c >= 'A' && c <= 'Z');
    }
    const bool keepsAsIs = ascii && (lower || !upper);
    return keepsAsIs && name.size() <= kLevel0MaxName ? Level0(name, f) : Level2(name, f);
}

}  // namespace

TLha::TLha() : TCompBase(atLha, ".LHA") { SetCompressMethod(cmFrozen6); }

void TLha::LoadEntries() {
    OpenOldArchive(atLha, "it is not an LZH archive");
    lzh::Walk walk(*this);
    std::vector<lzh::Item> items = ReadOldEntries(walk);
    for (auto& it : items) {
        TCompBaseHeaderObj e;
        e.name = it.entry.EntryName;
        e.directory = it.entry.IsDirectory;
        e.size = it.entry.UnpackedSize;
        e.mtime = it.entry.EntryDate;
        e.attr = it.header.attribute;
        e.oldOffset = it.header.pos;
        e.oldLength = it.header.nextPos - it.header.pos;
        e.oldName = it.header.name;
        AddOldEntry(std::move(e));
    }
}

bool TLha::CompressFile(platform::File& out, TCompBaseHeaderObj& e) {
    const std::string name = e.directory ? e.name + "/" : e.name;
    if (name.size() > 60000) {
        ReportError(e.diskPath, "the name is longer than an LZH header can hold", E_InvalidFileName);
        return false;
    }
    if (e.size >= kMax32) {
        ReportError(e.diskPath, "an LZH entry holds less than 4 GiB", E_FileSizeExceedsOs);
        return false;
    }
    Fields f;
    f.mtime = e.mtime;
    f.attr = static_cast<uint8_t>(e.directory ? 0x20 : (e.attr & 0x27) | 0x20);
    f.mode = e.mode & 0xFFFF;
    const uint64_t start = out.Tell();
    if (e.directory) {
        f.method = "-lhd-";
        const std::vector<uint8_t> h = HeaderFor(name, f);
        Write(out, h.data(), h.size());
        if (OnEnd) OnEnd(*this, e.name, true);
        return true;
    }
    platform::File src;
    if (!OpenSource(e, src)) return false;
    f.method = "-lh0-";
    std::vector<uint8_t> h = HeaderFor(name, f);
    Write(out, h.data(), h.size());
    const uint64_t dataStart = out.Tell();
    const auto write = [&](const uint8_t* p, size_t n) { Write(out, p, n); };
    const auto progress = [&](uint64_t done) {
        Progress(done, e.size);
        CheckCancel();
    };
    bool coded = false;
    if (e.size > 0 && CompressMethod() != cmStore && !AlreadyCompressed(e.diskPath)) {
        Crc16Source in(src, progress);
        OutSink sink(write);
        StaticHuffmanEncoder encoder(CompressMethod() == cmFrozen5 ? kLh5Params : kLh6Params);
        const StaticHuffmanEncodeResult r =
            encoder.Encode(in, sink, StaticHuffmanEncoder::IfNotSmaller::Stop, CancelPtr());
        CheckCancel();
        if (r.Ok() && !r.notSmaller) {
            if (ShortRead(e, in.Done())) return false;
            coded = true;
            f.method = CompressMethod() == cmFrozen5 ? "-lh5-" : "-lh6-";
            f.packed = sink.Written();
            f.unpacked = in.Done();
            f.crc = in.Crc();
        } else {
            // It does not pay: the entry is stored, from the start of its data.
            if (!out.Truncate(dataStart) || !out.Seek(dataStart) || !src.Seek(0))
                RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
        }
    }
    if (!coded) {
        Crc16Source in(src, progress);
        OutSink sink(write);
        uint8_t buf[64 * 1024];
        while (size_t got = in.Read(buf, sizeof buf))
            sink.Write(buf, got);
        if (ShortRead(e, in.Done())) return false;
        f.packed = sink.Written();
        f.unpacked = in.Done();
        f.crc = in.Crc();
    }
    if (f.packed >= kMax32 || f.unpacked >= kMax32) {
        ReportError(e.diskPath, "the file grew past 4 GiB while it was added", E_FileSizeDifferent);
        return false;
    }
    BytesRemaining -= std::min(BytesRemaining, f.unpacked);
    const std::vector<uint8_t> final = HeaderFor(name, f);
    if (final.size() != h.size()) RaiseError(ArchiveFile(), "the header changed its size", E_WriteFile);
    WriteAt(out, start, final.data(), final.size());
    if (!out.Seek(out.Size())) RaiseError(ArchiveFile(), platform::LastErrorText(), E_WriteFile);
    e.packed = f.packed;
    e.crc = f.crc;
    if (OnEnd) OnEnd(*this, e.name, true);
    return true;
}

void TLha::CopyRenamed(platform::File& out, TCompBaseHeaderObj& e) {
    // A new header with the old one's fields and the new name; the packed data follows unchanged.
    lzh::Header h;
    if (lzh::ReadHeader(ArcFile, e.oldOffset, ArchiveSize, h) != lzh::ReadResult::Ok)
        RaiseError(ArchiveFile(), "the header of " + e.name + " cannot be read", E_BadFileHeader);
    Fields f;
    f.method = h.method;
    f.packed = h.packedSize;
    f.unpacked = e.size;
    f.mtime = e.mtime;
    f.attr = h.attribute;
    f.crc = h.crc;
    const std::vector<uint8_t> header = HeaderFor(e.directory ? e.name + "/" : e.name, f);
    Write(out, header.data(), header.size());
    CopyOld(out, h.dataPos, h.packedSize);
}

void TLha::FinishArchive(platform::File& out) {
    const uint8_t end = 0;
    Write(out, &end, 1);
}

}  // namespace varnok
