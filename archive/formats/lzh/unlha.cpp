#include "archive/formats/lzh/unlha.h"

#include <algorithm>
#include <array>

#include "archive/core/bytes.h"
#include "archive/core/utils.h"
#include "archive/codecs/check_sink.h"
#include "archive/formats/lzh/lzh_methods.h"

namespace varnok {

namespace {

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

void TUnLha::ProcessArchive() {
    lzh::Walk walk(*this);
    for (const lzh::Item& item : Collect(walk)) {
        if (Cancel()) return;
        ExtractOne(item);
    }
}

void TUnLha::ExtractOne(const lzh::Item& item) {
    const lzh::Header& h = item.header;
    const ArchiveEntry& e = item.entry;
    if (e.IsSymlink || e.IsDirectory) {
        ExtractEntry(e, CrcKind::None, 0, nullptr);
        return;
    }
    if (!IsSupportedLzhMethod(h.method)) {
        // The whole method id decides; an id no decoder knows fails this entry only.
        BuildOutputName(e.EntryName);
        EntryFailed(e.EntryName, E_UnsupportedMethod, h.method);
        SkipProgress(h.packedSize);
        return;
    }
    FileSource src(ArcFile, h.dataPos);
    LimitedSource data(src, h.packedSize);
    const bool macBinary = h.osId == 'm' && h.unpackedSize >= 128;
    // The check value covers the whole decoded stream, also where only a part of it becomes the file.
    ArchiveEntry out = e;
    if (macBinary) out.SizeKnown = false;
    ExtractEntry(out, CrcKind::None, 0, [&](ByteSink& sink) {
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
