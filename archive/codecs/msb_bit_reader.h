// Most-significant-bit-first bit input over a ByteSource, as used by the LZH family (LHA, ARJ, ZOO, BH).
// The reader never takes more than the stream's compressed size from the source. Past the end of the
// data it supplies zero bits and keeps count of how many it had to invent, so a decoder can tell a
// truncated stream from a complete one.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/core/stream.h"

namespace varnok {

class MsbBitReader {
  public:
    // Bits that Peek may ask for after a Refill (a Refill guarantees more than this many).
    static constexpr int kGuaranteedBits = 56;

    MsbBitReader(ByteSource& source, uint64_t packedSize, size_t bufferSize = 64 * 1024)
        : source_(source), left_(packedSize), buf_(bufferSize + 8) {}

    MsbBitReader(const MsbBitReader&) = delete;
    MsbBitReader& operator=(const MsbBitReader&) = delete;

    // Tops the bit buffer up to more than kGuaranteedBits bits.
    inline void Refill() {
        if (count_ > kGuaranteedBits) return;
        if (end_ - pos_ >= 8) {
            uint64_t v = LoadBe64(buf_.data() + pos_);
            bits_ |= v >> count_;
            int bytes = (63 - count_) >> 3;
            pos_ += static_cast<size_t>(bytes);
            fed_ += static_cast<uint64_t>(bytes);
            count_ += bytes * 8;
            return;
        }
        RefillSlow();
    }

    // The next n bits (1..32) without consuming them; a Refill must have made them available.
    inline uint32_t Peek(int n) const { return static_cast<uint32_t>(bits_ >> (64 - n)); }
    inline void Skip(int n) {
        bits_ <<= n;
        count_ -= n;
    }
    // Reads n bits (0..32), refilling as needed.
    inline uint32_t Get(int n) {
        if (n == 0) return 0;
        if (count_ < n) Refill();
        uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
    inline uint32_t GetBit() { return Get(1); }
    // Bits that may be consumed without a Refill.
    int Available() const { return count_; }

    // Bits handed out to the decoder so far.
    uint64_t ConsumedBits() const { return (fed_ + zeros_) * 8 - static_cast<uint64_t>(count_); }
    // Bytes of real input consumed (rounded up), never more than were read.
    uint64_t ConsumedBytes() const {
        uint64_t b = (ConsumedBits() + 7) / 8;
        return b < fed_ ? b : fed_;
    }
    // Whether the decoder has consumed bits beyond the end of the real input.
    bool Overrun() const { return zeros_ && ConsumedBits() > fed_ * 8; }
    // Cheap test for decoding loops: true once invented zero bits are in the buffer and at least
    // one of them has been consumed.
    inline bool PastEnd() const { return zeros_ && Overrun(); }

  private:
    static inline uint64_t LoadBe64(const uint8_t* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return __builtin_bswap64(v);
    }

    void RefillSlow() {
        if (end_ - pos_ < 8 && !eof_) Fill();
        while (count_ <= kGuaranteedBits) {
            uint64_t byte = 0;
            if (pos_ < end_) {
                byte = buf_[pos_++];
                ++fed_;
            } else {
                ++zeros_;
            }
            bits_ |= byte << (56 - count_);
            count_ += 8;
        }
    }

    // Moves the unread tail to the front and reads more input behind it.
    void Fill() {
        size_t tail = end_ - pos_;
        if (tail) std::memmove(buf_.data(), buf_.data() + pos_, tail);
        pos_ = 0;
        end_ = tail;
        size_t room = buf_.size() - 8 - end_;
        while (room && left_) {
            size_t want = room < left_ ? room : static_cast<size_t>(left_);
            size_t got = source_.Read(buf_.data() + end_, want);
            if (!got) {
                left_ = 0;
                break;
            }
            end_ += got;
            room -= got;
            left_ -= got;
        }
        if (!left_) eof_ = true;
    }

    ByteSource& source_;
    uint64_t left_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0, end_ = 0;
    bool eof_ = false;
    uint64_t bits_ = 0;
    int count_ = 0;
    uint64_t fed_ = 0;    // real bytes moved into the bit buffer
    uint64_t zeros_ = 0;  // invented zero bytes past the end
};

}  // namespace varnok
