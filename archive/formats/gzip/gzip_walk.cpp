#include "archive/formats/gzip/gzip_walk.h"

#include <algorithm>

#include "archive/codecs/byte_pipe.h"
#include "archive/core/bytes.h"
#include "archive/core/component.h"
#include "archive/core/utils.h"
#include "archive/formats/gzip/compress_decoder.h"
#include "archive/formats/gzip/gzip_stream.h"
#include "archive/formats/tar/tar_walk.h"
#include "archive/formats/tar/tar_walker.h"
#include "platform/datetime.h"
#include "platform/fileattr.h"

namespace varnok::gzip {

namespace {

// Streams are decoded to be measured only up to this compressed size; larger ones keep what their headers
// say (gzip) or their own size (compress).
constexpr uint64_t kMeasureLimit = uint64_t{256} << 20;

// Keeps the first block of the decoded data and then stops the decoder.
class HeadSink final : public ByteSink {
  public:
    struct Full {};
    void Write(const uint8_t* buf, size_t n) override {
        size_t k = std::min(n, tar::kBlock - head.size());
        head.insert(head.end(), buf, buf + k);
        if (head.size() == tar::kBlock) throw Full{};
    }
    std::vector<uint8_t> head;
};

}  // namespace

DecodeResult DecodeFile(const platform::File& f, uint64_t fileSize, bool isGzip, ByteSink& sink,
                        const CancelFlag* cancel) {
    FileSource file(f, 0);
    LimitedSource data(file, fileSize);
    if (isGzip) return GzipDecoder().Decode(data, sink, cancel);
    return CompressDecoder().Decode(data, sink, cancel);
}

bool StartsWithTar(const platform::File& f, uint64_t fileSize, bool isGzip) {
    HeadSink head;
    try {
        DecodeFile(f, fileSize, isGzip, head);
    } catch (const HeadSink::Full&) {
    }
    if (head.head.size() < tar::kBlock) return false;
    bool zero = std::all_of(head.head.begin(), head.head.end(), [](uint8_t b) { return b == 0; });
    return !zero && tar::HeaderChecksumOk(head.head.data());
}

std::optional<uint64_t> MeasureDecodedSize(const platform::File& f, uint64_t fileSize, bool isGzip) {
    if (fileSize > kMeasureLimit) return std::nullopt;
    CountingSink count;
    DecodeResult r = DecodeFile(f, fileSize, isGzip, count);
    // A compress stream has no end mark: what decodes before damage is its size.
    if (isGzip ? !r.Ok() : (!r.Ok() && count.Count() == 0)) return std::nullopt;
    return count.Count();
}

ArchiveEntry EntryOf(const Header& hdr, const platform::File& f, uint64_t fileSize,
                     const std::string& archivePath) {
    Header h = hdr;
    ArchiveEntry e;
    std::string name = h.name;
    if (h.isGzip() && fileSize >= 16) {
        uint8_t t[8];
        f.ReadAt(fileSize - 8, t, 8);
        // Some writers append the name after the data: 1F 8B 00 00, its length, then the name before them.
        if (Le32(t) == 35615) {
            uint64_t len = Le32(t + 4);
            if (len > 0 && len < 4096 && len + 16 <= fileSize) {
                std::string n(static_cast<size_t>(len), '\0');
                if (f.ReadAt(fileSize - len - 8, n.data(), n.size()) == n.size())
                    name = FieldString(reinterpret_cast<const uint8_t*>(n.data()), n.size());
                uint8_t c[4];
                if (f.ReadAt(fileSize - len - 16, c, 4) == 4) h.trailerCrc = Le32(c);
            }
        }
    }
    if (name.empty()) {
        // No stored name: the archive's own, which is system text already.
        e.RawName = NameFromArchive(archivePath);
        e.Origin = NameOrigin::Utf8;
    } else {
        e.RawName = name;
        e.Origin = NameOrigin::Unix;
    }
    e.BackslashSeparates = false;
    e.RawComment = h.comment;
    e.EntryDate = h.isGzip() ? ArchiveUnixTime(h.mtime) : platform::FileMTime(archivePath);
    if (h.isGzip()) {
        e.PackedSize = (h.flags & fExtra) ? fileSize - h.extraLength - 8 : fileSize - 10;
        if (fileSize < 18) e.PackedSize = fileSize;
        e.UnpackedSize = h.trailerSize;
        e.EntryCrc = h.trailerCrc;
    } else {
        e.PackedSize = fileSize;
        e.CrcBits = 0;
        e.UnpackedSize = fileSize;
    }
    // The trailer holds the size of the last member only, and compress stores none.
    e.SizeKnown = false;
    e.Encrypted = h.flags & fEncrypted;
    e.MethodCode = h.method;
    if (h.method == 0)
        e.MethodText = "Stored";
    else if (h.method == 8)
        e.MethodText = "Deflate";
    else if (h.method == 144 || h.magic == 0x9D1F)
        e.MethodText = "LzwMAGIC";
    else if (h.magic == 0x1E1F)
        e.MethodText = "PackMAGIC";
    else if (h.magic == 0xA01F)
        e.MethodText = "LzhMAGIC";
    else
        e.MethodText = "Unsupported";
    e.ExternalAttr = platform::AttributesOf(archivePath) & 0x3F;
    e.VolumeName = archivePath;
    e.WholeFile = true;
    return e;
}

Walk::Walk(TZipCommon& c) : c_(c) {}
Walk::~Walk() = default;

bool Walk::Next(ArchiveEntry& e) {
    if (done_) return false;
    if (!started_) {
        started_ = true;
        Header h;
        if (!ReadHeader(c_.ArcFile, c_.ArchiveSize, h)) {
            done_ = true;
            return Fail(E_BadFileHeader, 0);
        }
        const bool decodable = h.isGzip() || h.isCompress();
        if (c_.OpenTarInside && decodable && StartsWithTar(c_.ArcFile, c_.ArchiveSize, h.isGzip())) {
            // A compressed TAR: its entries, read from the decoded stream as it is decoded.
            const bool isGzip = h.isGzip();
            const platform::File& f = c_.ArcFile;
            const uint64_t size = c_.ArchiveSize;
            const CancelFlag* cancel = c_.CancelPtr();
            piped_ = std::make_unique<PipedDecoding>(
                [&f, size, isGzip, cancel](ByteSink& sink) { return DecodeFile(f, size, isGzip, sink, cancel); });
            input_ = std::make_unique<StreamTarInput>(*piped_);
            tar_ = std::make_unique<tar::Walk>(*input_, 0, UINT64_MAX, c_.ArchiveFile());
        } else {
            done_ = true;
            e = EntryOf(h, c_.ArcFile, c_.ArchiveSize, c_.ArchiveFile());
            if (decodable)
                if (auto n = MeasureDecodedSize(c_.ArcFile, c_.ArchiveSize, h.isGzip())) e.UnpackedSize = *n;
            return true;
        }
    }
    if (tar_->Next(e)) return true;
    done_ = true;
    if (tar_->Error()) return Fail(tar_->Error(), tar_->ErrorOffset(), tar_->ErrorDetail());
    // The TAR ended; the stream's own check comes at its end.
    DecodeResult r = piped_->Finish();
    if (!r.Ok() && r.status != DecodeStatus::Cancelled)
        return Fail(r.errorCode ? r.errorCode : E_CorruptInput, 0, "the compressed data is damaged");
    return false;
}

}  // namespace varnok::gzip
