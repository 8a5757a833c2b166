#include "archive/formats/gzip/gzip_stream.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/core/errors.h"

namespace varnok {

namespace {

enum : uint8_t { kFlagHeaderCrc = 0x02, kFlagExtra = 0x04, kFlagName = 0x08, kFlagComment = 0x10 };
enum : uint8_t { kFlagEncrypted = 0x20, kFlagsReserved = 0xC0 };

// A buffered source that can take back bytes read too far: they are read again first.
class PushbackSource final : public ByteSource {
  public:
    explicit PushbackSource(ByteSource& inner) : inner_(inner), buf_(kChunk) {}

    size_t Read(uint8_t* out, size_t n) override {
        if (pos_ == end_ && !Fill()) return 0;
        size_t k = std::min(n, end_ - pos_);
        std::memcpy(out, buf_.data() + pos_, k);
        pos_ += k;
        taken_ += k;
        return k;
    }
    // The next byte, or -1 at the end of the input.
    int Byte() {
        if (pos_ == end_ && !Fill()) return -1;
        ++taken_;
        return buf_[pos_++];
    }
    bool Exact(uint8_t* out, size_t n) {
        size_t done = 0;
        while (done < n) {
            size_t got = Read(out + done, n - done);
            if (got == 0) return false;
            done += got;
        }
        return true;
    }
    bool AtEnd() { return pos_ == end_ && !Fill(); }
    // Gives back bytes that were read last; they come again before anything else.
    void PushBack(std::span<const uint8_t> bytes) {
        if (bytes.empty()) return;
        if (bytes.size() <= pos_) {
            pos_ -= bytes.size();
            std::memcpy(buf_.data() + pos_, bytes.data(), bytes.size());
        } else {
            std::vector<uint8_t> merged(bytes.begin(), bytes.end());
            merged.insert(merged.end(), buf_.begin() + static_cast<std::ptrdiff_t>(pos_),
                          buf_.begin() + static_cast<std::ptrdiff_t>(end_));
            buf_ = std::move(merged);
            if (buf_.size() < kChunk) buf_.resize(kChunk);
            end_ = bytes.size() + (end_ - pos_);
            pos_ = 0;
        }
        taken_ -= std::min<uint64_t>(taken_, bytes.size());
    }
    uint64_t Taken() const { return taken_; }

  private:
    static constexpr size_t kChunk = 64 * 1024;
    bool Fill() {
        if (buf_.size() > kChunk) buf_.resize(kChunk);
        pos_ = 0;
        end_ = inner_.Read(buf_.data(), buf_.size());
        return end_ > 0;
    }

    ByteSource& inner_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0, end_ = 0;
    uint64_t taken_ = 0;
};

// Passes a member's data on and keeps its CRC-32 and size.
class MemberSink final : public ByteSink {
  public:
    explicit MemberSink(ByteSink& out) : out_(out) {}
    void Write(const uint8_t* buf, size_t n) override {
        crc_ = UpdateCrc32(crc_, buf, n);
        size_ += n;
        out_.Write(buf, n);
    }
    uint32_t Crc() const { return ~crc_; }
    uint64_t Size() const { return size_; }

  private:
    ByteSink& out_;
    uint32_t crc_ = 0xFFFFFFFF;
    uint64_t size_ = 0;
};

}  // namespace

DecodeResult GzipDecoder::Decode(ByteSource& src, ByteSink& sink, const CancelFlag* cancel) {
    members_ = 0;
    PushbackSource in(src);
    uint64_t produced = 0;
    auto result = [&](DecodeStatus s, int code) { return MakeResult(s, code, produced, in.Taken()); };
    for (;;) {
        uint8_t h[10];
        if (members_ == 0) {
            if (!in.Exact(h, 2) || h[0] != 0x1F || (h[1] != 0x8B && h[1] != 0x9E))
                return result(DecodeStatus::Corrupt, E_HeaderId);
        } else {
            // After a member: the end, zero padding, or another member. Other bytes are not ours to read.
            int b = in.Byte();
            while (b == 0)
                b = in.Byte();
            if (b != 0x1F) return result(DecodeStatus::Ok, 0);
            if (in.Byte() != 0x8B) return result(DecodeStatus::Ok, 0);
            h[0] = 0x1F;
            h[1] = 0x8B;
        }
        if (!in.Exact(h + 2, 8)) return result(DecodeStatus::Truncated, E_UnexpectedEof);
        if (h[2] != 8) return result(DecodeStatus::Corrupt, E_UnsupportedMethod);
        const uint8_t flags = h[3];
        if (flags & kFlagEncrypted) return result(DecodeStatus::Corrupt, E_PasswordProtected);
        if (flags & kFlagsReserved) return result(DecodeStatus::Corrupt, E_UnknownFlags);
        uint32_t headerCrc = UpdateCrc32(0xFFFFFFFF, h, sizeof h);
        auto take = [&](uint8_t* p, size_t n) {
            if (!in.Exact(p, n)) return false;
            headerCrc = UpdateCrc32(headerCrc, p, n);
            return true;
        };
        if (flags & kFlagExtra) {
            uint8_t x[2];
            if (!take(x, 2)) return result(DecodeStatus::Truncated, E_UnexpectedEof);
            std::vector<uint8_t> extra(Le16(x));
            if (!take(extra.data(), extra.size())) return result(DecodeStatus::Truncated, E_UnexpectedEof);
        }
        for (uint8_t field : {kFlagName, kFlagComment}) {
            if (!(flags & field)) continue;
            uint8_t c;
            do {
                if (!take(&c, 1)) return result(DecodeStatus::Truncated, E_UnexpectedEof);
            } while (c != 0);
        }
        if (flags & kFlagHeaderCrc) {
            uint8_t c[2];
            if (!in.Exact(c, 2)) return result(DecodeStatus::Truncated, E_UnexpectedEof);
            if (Le16(c) != (~headerCrc & 0xFFFF)) return result(DecodeStatus::Corrupt, E_HeaderCrc);
        }
        if (members_ == 0 && in.AtEnd()) {
            // A header alone: nothing was stored.
            members_ = 1;
            return result(DecodeStatus::Ok, 0);
        }
        MemberSink member(sink);
        DecodeResult r = inflater_.Decode(in, member, cancel);
        in.PushBack(inflater_.Unconsumed());
        produced += member.Size();
        if (!r.Ok()) return result(r.status, r.errorCode);
        uint8_t t[8];
        if (!in.Exact(t, 8)) return result(DecodeStatus::Truncated, E_UnexpectedEof);
        if (Le32(t) != member.Crc() || Le32(t + 4) != static_cast<uint32_t>(member.Size()))
            return result(DecodeStatus::Corrupt, E_CrcCheck);
        ++members_;
        if (IsCancelled(cancel)) return result(DecodeStatus::Cancelled, E_UserCanceled);
    }
}

DecodeResult DecodeGzip(ByteSource& src, ByteSink& sink, const CancelFlag* cancel) {
    GzipDecoder d;
    return d.Decode(src, sink, cancel);
}

}  // namespace varnok
