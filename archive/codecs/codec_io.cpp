#include "archive/codecs/codec_io.h"

#include <algorithm>

#include "archive/core/errors.h"

namespace varnok {

CodecInput::CodecInput(ByteSource& src, const CancelFlag* cancel, size_t bufferSize)
    : src_(src), cancel_(cancel), buf_(new uint8_t[bufferSize]), size_(bufferSize) {}

bool CodecInput::Refill() {
    if (IsCancelled(cancel_)) cancelled_ = true;
    if (ended_ || cancelled_) return false;
    size_t keep = end_ - pos_;
    if (keep && pos_) std::memmove(buf_.get(), buf_.get() + pos_, keep);
    pos_ = 0;
    end_ = keep;
    if (end_ == size_) return false;
    size_t got = src_.Read(buf_.get() + end_, size_ - end_);
    if (got == 0) {
        ended_ = true;
        return false;
    }
    end_ += got;
    total_ += got;
    return true;
}

int CodecInput::SlowByte() {
    if (!Refill()) return -1;
    return buf_[pos_++];
}

LsbBitReader::Bits LsbBitReader::Refilled(Bits b, CodecInput& in) {
    if (in.Buffered() < 8) in.Refill();
    if (in.Buffered() >= 8) {
        // Take as many whole bytes as fit into the 64-bit buffer in one load.
        uint64_t w;
        std::memcpy(&w, in.Data(), 8);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        int take = (64 - b.count) >> 3;
        b.bits |= w << b.count;
        b.count += take * 8;
        if (b.count < 64) b.bits &= (uint64_t{1} << b.count) - 1;
        in.Skip(static_cast<size_t>(take));
        return b;
    }
    while (b.count <= 56) {
        int c = in.Byte();
        if (c < 0) break;
        b.bits |= static_cast<uint64_t>(c) << b.count;
        b.count += 8;
    }
    return b;
}

void LsbBitReader::SkipBits(uint64_t n) {
    while (n > 0) {
        if (count_ == 0 && !Fill(1)) return;
        int k = static_cast<int>(std::min<uint64_t>(n, static_cast<uint64_t>(count_)));
        if (k >= 64) {
            bits_ = 0;
            count_ -= k;
        } else {
            Drop(k);
        }
        n -= static_cast<uint64_t>(k);
    }
}

CodecOutput::CodecOutput(ByteSink& sink, const CancelFlag* cancel, size_t capacity)
    : sink_(sink), cancel_(cancel), buf_(new uint8_t[capacity]), cap_(capacity) {}

void CodecOutput::Write(const uint8_t* p, size_t n) {
    while (n > 0) {
        if (len_ == cap_) Flush();
        size_t k = std::min(n, cap_ - len_);
        std::memcpy(buf_.get() + len_, p, k);
        len_ += k;
        p += k;
        n -= k;
    }
}

void CodecOutput::Flush() {
    if (len_) {
        sink_.Write(buf_.get(), len_);
        written_ += len_;
        len_ = 0;
    }
    if (IsCancelled(cancel_)) cancelled_ = true;
}

DecodeResult FinishDecode(DecodeStatus status, int errorCode, const CodecInput& in, CodecOutput& out,
                          uint64_t consumed) {
    if ((in.Cancelled() || out.Cancelled()) && status != DecodeStatus::Corrupt)
        status = DecodeStatus::Cancelled;
    if (status != DecodeStatus::Cancelled) out.Flush();
    if (status == DecodeStatus::Ok) errorCode = 0;
    if (status == DecodeStatus::Cancelled) errorCode = E_UserCanceled;
    return MakeResult(status, errorCode, out.Written(), consumed);
}

}  // namespace varnok
