// Input and output shared by the early ZIP methods (shrink, reduce, implode): a bit reader taking bits least
// significant first, and an output stage that keeps a zero-filled history and writes to the sink in 32 KiB
// pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/core/stream.h"

namespace varnok {

class LegacyBitReader {
  public:
    explicit LegacyBitReader(ByteSource& source) : source_(source), buf_(new uint8_t[kSize]) {}

    // The next n bits (n <= 24) as a number; false when the input ends before n bits were collected.
    bool Get(unsigned n, uint32_t& value) {
        if (bits_ < n && !Refill(n)) return false;
        value = static_cast<uint32_t>(bitbuf_ & ((uint64_t{1} << n) - 1));
        bitbuf_ >>= n;
        bits_ -= n;
        return true;
    }

    // Source bytes read so far that the decoder has taken bits from.
    uint64_t Consumed() const { return totalRead_ - (end_ - pos_) - bits_ / 8; }

  private:
    static constexpr size_t kSize = 32 * 1024;

    bool Refill(unsigned n) {
        while (bits_ <= 56) {
            if (pos_ == end_) {
                if (ended_) break;
                end_ = source_.Read(buf_.get(), kSize);
                pos_ = 0;
                totalRead_ += end_;
                if (end_ == 0) {
                    ended_ = true;
                    break;
                }
            }
            bitbuf_ |= uint64_t{buf_[pos_++]} << bits_;
            bits_ += 8;
        }
        return bits_ >= n;
    }

    ByteSource& source_;
    std::unique_ptr<uint8_t[]> buf_;
    size_t pos_ = 0, end_ = 0;
    uint64_t bitbuf_ = 0;
    unsigned bits_ = 0;
    bool ended_ = false;
    uint64_t totalRead_ = 0;
};

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
