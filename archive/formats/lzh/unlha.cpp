#include "archive/formats/lzh/unlha.h"

#include <algorithm>
#include <array>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"
#include "archive/codecs/check_sink.h"
#include "archive/formats/lzh/lzh_methods.h"
#include "platform/codepage.h"

namespace varnok {

namespace {

constexpr int kMaxEntries = 10'000'000;

bool IsLzhType(TArcType t) {
    return t == atLha || t == atLhaExe || t == atLzh || t == atLzhExe;
}

// Archivers on the classic Mac OS (OS id "m") store a file as MacBinary: a 128-byte header, the data fork and
// the resource fork, each padded to 128 bytes. Only the data fork is a file here; a stream that is not such a
// wrapper passes unchanged.
class MacBinarySink final : public ByteSink {
  public:
    MacBinarySink(ByteSink& inner, uint64_t total) : inner_(inner), total_(total) {}
    void Write(const uint8_t* buf, size_t n) override {
        while (n) {
            size_t k = 0;
            switch (state_) {
                case State::Header:
                    k = std::min(n, head_.size() - have_);
                    std::copy(buf, buf + k, head_.begin() + static_cast<ptrdiff_t>(have_));
                    have_ += k;
                    if (have_ == head_.size()) Decide();
                    break;
                case State::Pass:
                    k = n;
                    inner_.Write(buf, k);
                    break;
                case State::Data:
                    k = static_cast<size_t>(std::min<uint64_t>(n, left_));
                    inner_.Write(buf, k);
                    left_ -= k;
                    if (!left_) state_ = State::Drop;
                    break;
                case State::Drop:
                    k = n;
                    break;
            }
            buf += k;
            n -= k;
        }
    }
    // After the last byte: a stream shorter than a header is passed on as it is.
    void Finish() {
        if (state_ == State::Header && have_) inner_.Write(head_.data(), have_);
        state_ = State::Pass;
    }

  private:
    enum class State { Header, Pass, Data, Drop };
    static uint64_t Padded(uint64_t v) { return (v + 127) / 128 * 128; }
    void Decide() {
        const uint8_t* h = head_.data();
        const uint64_t data = Be32(h + 83), rsrc = Be32(h + 87);
        const bool shape = h[0] == 0 && h[1] >= 1 && h[1] <= 63 && h[74] == 0 && h[82] == 0;
        const bool sizes = total_ == 128 + Padded(data) + Padded(rsrc) ||
                           (rsrc && total_ == 128 + Padded(data) + rsrc) || (!rsrc && total_ == 128 + data);
        if (shape && sizes) {
            left_ = data;
            state_ = data ? State::Data : State::Drop;
        } else {
            inner_.Write(head_.data(), head_.size());
            state_ = State::Pass;
        }
    }

    ByteSink& inner_;
    uint64_t total_;
    std::array<uint8_t, 128> head_{};
    size_t have_ = 0;
    uint64_t left_ = 0;
    State state_ = State::Header;
};

}  // namespace

bool TUnLha::AcceptsType(TArcType t) const {
    return IsLzhType(t);
}

std::string TUnLha::EntryNameOf(const lzh::Header& h) const {
    if (h.nameIsUtf16) return h.name;
    return TranslateOemChar ? platform::ToDisplayUtf8(h.name) : h.name;
}

void TUnLha::ProcessArchive() {
    uint64_t pos = StartOffset;
    uint8_t first = 1;
    // A file that starts with a zero byte carries a 128-byte MacBinary header in front of the archive.
    if (ArcFile.ReadAt(pos, &first, 1) == 1 && first == 0 && ArcType() != atLhaExe) pos += 128;

    std::vector<Item> list;
    uint64_t total = 0;
    for (int count = 0; count < kMaxEntries; ++count) {
        if (Cancel()) return;
        Item item;
        lzh::Header& h = item.header;
        auto r = lzh::ReadHeader(ArcFile, pos, ArchiveEnd, h);
        if (r == lzh::ReadResult::End) break;
        if (r == lzh::ReadResult::Bad) {
            // What was found before the damaged header is still extracted.
            ReportError(ArchiveFile(), "at offset " + std::to_string(pos), E_BadFileHeader);
            break;
        }
        item.name = EntryNameOf(h);
        while (!item.name.empty() && item.name.back() == '/')
            item.name.pop_back();
        const bool folder = h.isDirectory() && h.symlinkTarget.empty();
        if (SelectsEntry(item.name, folder)) {
            total += h.unpackedSize;
            list.push_back(std::move(item));
        }
        // Every header moves the walk forward, so a damaged size cannot make it loop.
        if (h.nextPos <= pos) break;
        pos = h.nextPos;
    }
    SetRunTotal(total);
    for (const Item& item : list) {
        if (Cancel()) return;
        ExtractOne(item);
    }
}

void TUnLha::ExtractOne(const Item& item) {
    const lzh::Header& h = item.header;
    UnEntry e;
    e.name = item.name;
    e.packedSize = h.packedSize;
    e.unpackedSize = h.unpackedSize;
    // Level 2 and 3 headers, and the Unix extensions, keep Unix times; levels 0 and 1 a local DOS time.
    e.date = h.level >= 2 || h.unixTime ? ArchiveUnixTime(h.unixTime) : DosToUnixTime(h.dosTime);
    e.attributes = h.attribute ? h.attribute : 0x20;
    if (h.hasUnixMode) e.unixMode = h.unixMode & 07777;
    if (!h.symlinkTarget.empty()) {
        e.isSymlink = true;
        e.linkTarget =
            TranslateOemChar && !h.nameIsUtf16 ? platform::ToDisplayUtf8(h.symlinkTarget) : h.symlinkTarget;
        ExtractEntry(e, CrcKind::Crc16, h.crc, nullptr);
        return;
    }
    if (h.isDirectory()) {
        e.isDirectory = true;
        e.attributes = 0x10;
        ExtractEntry(e, CrcKind::Crc16, h.crc, nullptr);
        return;
    }
    if (!IsSupportedLzhMethod(h.method)) {
        // The whole method id decides; an id no decoder knows fails this entry only.
        BuildOutputName(e.name);
        EntryFailed(e.name, E_UnsupportedMethod, h.method);
        SkipProgress(h.packedSize);
        return;
    }
    FileSource src(ArcFile, h.dataPos);
    LimitedSource data(src, h.packedSize);
    const bool macBinary = h.osId == 'm' && h.unpackedSize >= 128;
    // The check value covers the whole decoded stream, also where only a part of it becomes the file.
    if (macBinary) e.sizeKnown = false;
    ExtractEntry(e, CrcKind::None, 0, [&](ByteSink& sink) {
        MacBinarySink fork(sink, h.unpackedSize);
        CheckSink check(macBinary ? static_cast<ByteSink*>(&fork) : &sink, CrcKind::Crc16);
        DecodeResult r = DecodeLzhMethod(h.method, data, h.packedSize, check, h.unpackedSize, CancelPtr());
        if (macBinary) fork.Finish();
        if (r.Ok() && (check.Size() != h.unpackedSize || !check.Matches(h.crc))) {
            r.status = DecodeStatus::Corrupt;
            r.errorCode = E_CrcCheck;
        }
        return r;
    });
}

}  // namespace varnok
