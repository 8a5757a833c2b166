// The frame shared by the early ZIP methods (shrink, reduce, implode): an output stage that keeps a
// zero-filled history and writes to the sink in 32 KiB pieces, and LegacyRun, which holds the input and
// that output for one entry and ends the run the same way for all three (flush, sizes, and which
// status a short, damaged or cancelled entry gets). Their input is the codecs'
// least-significant-bit-first reader (LsbBitReader over a CodecInput), the one the compress, ARC, ZOO
// and PAK decoders use; the methods had a copy of their own that read byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/codecs/codec_io.h"
#include "archive/core/codec.h"
#include "archive/core/errors.h"
#include "archive/core/stream.h"
#include "archive/formats/zip/legacy.h"

namespace varnok {

// Output with a 64 KiB history: references before the start of the output read zeros, as the early methods
// define. Writes to the sink whenever 32 KiB have collected, and on Flush.
class HistoryOutput {
  public:
    HistoryOutput(ByteSink& sink, uint64_t limit, const CancelFlag* cancel)
        : sink_(sink),
          limit_(limit),
          cancel_(cancel),
          buf_(new uint8_t[kSize]()),
          cancelled_(IsCancelled(cancel)) {}

    uint64_t Count() const { return count_; }
    bool Full() const { return count_ >= limit_; }
    uint64_t Room() const { return limit_ - count_; }
    bool Cancelled() const { return cancelled_; }

    void Put(uint8_t b) {
        buf_[count_ & kMask] = b;
        if ((++count_ & (kHalf - 1)) == 0) WriteHalf();
    }

    // Copies `length` bytes from `distance` back (distance 1..32768).
    void Copy(size_t distance, size_t length) {
        while (length--)
            Put(buf_[(count_ - distance) & kMask]);
    }

    void Flush() {
        if (count_ > written_) {
            sink_.Write(buf_.get() + (written_ & kMask), static_cast<size_t>(count_ - written_));
            written_ = count_;
        }
    }

  private:
    static constexpr size_t kSize = 64 * 1024;
    static constexpr size_t kMask = kSize - 1;
    static constexpr size_t kHalf = kSize / 2;

    void WriteHalf() {
        sink_.Write(buf_.get() + ((count_ - kHalf) & kMask), kHalf);
        written_ = count_;
        if (IsCancelled(cancel_)) cancelled_ = true;
    }

    ByteSink& sink_;
    uint64_t limit_;
    const CancelFlag* cancel_;
    std::unique_ptr<uint8_t[]> buf_;
    uint64_t count_ = 0;
    uint64_t written_ = 0;
    bool cancelled_;
};

// How one entry's run ends. It refers to the run's reader and output rather than holding them: they
// stay locals of the decoder, whose address no out-of-line call sees, so that the reader's bit
// buffer lives in registers.
class LegacyRun {
  public:
    LegacyRun(LsbBitReader& in, HistoryOutput& out, uint64_t size) : in_(in), out_(out), size_(size) {}

    // Writes what is pending and reports what was produced and consumed.
    DecodeResult Finish(DecodeStatus status, int error) {
        out_.Flush();
        return MakeResult(status, error, out_.Count(), in_.Consumed());
    }
    DecodeResult Fail(int error) { return Finish(DecodeStatus::Corrupt, error); }
    DecodeResult Truncated() { return Finish(DecodeStatus::Truncated, E_UnexpectedEof); }
    DecodeResult Cancelled() { return Finish(DecodeStatus::Cancelled, E_UserCanceled); }
    // The data ended or the entry is complete: Truncated when a known size was not reached.
    DecodeResult End() {
        return size_ != kUnknownSize && !out_.Full() ? Truncated() : Finish(DecodeStatus::Ok, 0);
    }

  private:
    LsbBitReader& in_;
    HistoryOutput& out_;
    uint64_t size_;
};

}  // namespace varnok
