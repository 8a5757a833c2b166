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

bool LsbBitReader::FillSlow(int n) {
    if (in_.Buffered() < 8) in_.Refill();
    if (in_.Buffered() >= 8) {
        TakeWord();
        return true;
    }
    while (count_ <= 56) {
        int b = in_.Byte();
        if (b < 0) break;
        bits_ |= static_cast<uint64_t>(b) << count_;
        count_ += 8;
    }
    return count_ >= n;
}

void LsbBitReader::SkipBits(uint64_t n) {
    while (n > 0) {
        if (count_ == 0 && !FillSlow(1)) return;
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
