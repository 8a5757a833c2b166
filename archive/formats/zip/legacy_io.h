// The output stage shared by the early ZIP methods (shrink, reduce, implode): it keeps a zero-filled
// history and writes to the sink in 32 KiB pieces. Their input is the codecs' least-significant-bit-first
// reader (LsbBitReader over a CodecInput), the same one the compress, ARC, ZOO and PAK decoders use; the
// methods had a copy of their own that read byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/codecs/codec_io.h"
#include "archive/core/stream.h"

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

}  // namespace varnok
