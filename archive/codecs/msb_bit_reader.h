// Most-significant-bit-first bit input over a ByteSource, as used by the LZH family (LHA, ARJ, ZOO, BH).
// The reader never takes more than the stream's compressed size from the source. Past the end of the
// data it supplies zero bits and keeps count of how many it had to invent, so a decoder can tell a
// truncated stream from a complete one.
//
// Two parts. MsbBitInput owns the source side: the buffer and what has been read into it. MsbBitReader is
// the bit buffer over it, a small copyable value. The split is for speed: a decoding loop works on its
// own MsbBitReader whose address is never taken, so the compiler keeps the bit buffer, the count and the
// read position in registers for the whole loop. Everything that leaves the inlined path (the slow
// refill, a code table read once per block) takes the reader by value and hands the advanced reader
// back, so that no pointer to the loop's reader escapes; one that did would send those fields back to
// memory after every byte the loop writes.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/core/stream.h"

namespace varnok {

class MsbBitInput {
  public:
    MsbBitInput(ByteSource& source, uint64_t packedSize, size_t bufferSize = 64 * 1024)
        : source_(source), left_(packedSize), buf_(bufferSize + 8) {}

    MsbBitInput(const MsbBitInput&) = delete;
    MsbBitInput& operator=(const MsbBitInput&) = delete;

  private:
    friend class MsbBitReader;

    // Moves the unread tail [pos, end) to the front and reads more input behind it; returns the new end
    // (the tail now starts at 0).
    size_t Fill(size_t pos, size_t end) {
        size_t tail = end - pos;
        if (tail) std::memmove(buf_.data(), buf_.data() + pos, tail);
        before_ += pos;
        end = tail;
        size_t room = buf_.size() - 8 - end;
        while (room && left_) {
            size_t want = room < left_ ? room : static_cast<size_t>(left_);
            size_t got = source_.Read(buf_.data() + end, want);
            if (!got) {
                left_ = 0;
                break;
            }
            end += got;
            room -= got;
            left_ -= got;
        }
        if (!left_) eof_ = true;
        return end;
    }

    ByteSource& source_;
    uint64_t left_;
    std::vector<uint8_t> buf_;  // never resized: readers keep a pointer to its data
    bool eof_ = false;
    uint64_t before_ = 0;  // bytes moved into bit buffers before the current buffer load
};

class MsbBitReader {
  public:
    // Bits that Peek may ask for after a Refill (a Refill guarantees more than this many).
    static constexpr int kGuaranteedBits = 56;

    explicit MsbBitReader(MsbBitInput& input) : in_(&input), data_(input.buf_.data()) {}

    // Tops the bit buffer up to more than kGuaranteedBits bits. Always inlined: the decoders call it once
    // per item at several places, and left to itself the compiler makes it a call (a fifth of the time
    // of a -lh5- or ARJ run went into that call and its return).
    [[gnu::always_inline]] inline void Refill() {
        if (count_ > kGuaranteedBits) return;
        if (end_ - pos_ >= 8) {
            // Whole bytes up to 56..63 bits; count_ + 8 * ((63 - count_) / 8) is count_ | 56 here.
            bits_ |= LoadBe64(data_ + pos_) >> count_;
            pos_ += static_cast<size_t>((63 - count_) >> 3);
            count_ |= 56;
            return;
        }
        *this = Refilled(*this);
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
    // Follows a code tree a bit at a time (the adaptive codes): from `node`, while inner(node), node =
    // next(node, bit). Refills once per kGuaranteedBits bits rather than once per bit.
    template <class Inner, class Next>
    [[gnu::always_inline]] inline int WalkTree(int node, Inner inner, Next next) {
        Refill();
        int used = 0;
        while (inner(node)) {
            if (used == kGuaranteedBits) {
                Refill();
                used = 0;
            }
            node = next(node, static_cast<int>(Peek(1)));
            Skip(1);
            ++used;
        }
        return node;
    }
    // Bits that may be consumed without a Refill.
    int Available() const { return count_; }

    // Bits handed out to the decoder so far.
    uint64_t ConsumedBits() const { return (Fed() + zeros_) * 8 - static_cast<uint64_t>(count_); }
    // Bytes of real input consumed (rounded up), never more than were read.
    uint64_t ConsumedBytes() const {
        uint64_t b = (ConsumedBits() + 7) / 8;
        return b < Fed() ? b : Fed();
    }
    // Whether the decoder has consumed bits beyond the end of the real input.
    bool Overrun() const { return zeros_ && ConsumedBits() > Fed() * 8; }
    // Cheap test for decoding loops: true once invented zero bits are in the buffer and at least
    // one of them has been consumed.
    inline bool PastEnd() const { return zeros_ && Overrun(); }

  private:
    // Real bytes moved into the bit buffer: those of earlier buffer loads and those taken from this one.
    uint64_t Fed() const { return in_->before_ + pos_; }

    static inline uint64_t LoadBe64(const uint8_t* p) {
        uint64_t v;
        std::memcpy(&v, p, 8);
        return __builtin_bswap64(v);
    }

    // Near the end of the buffer: more input, then bytes one at a time, then invented zeros.
    [[gnu::noinline]] static MsbBitReader Refilled(MsbBitReader r) {
        if (r.end_ - r.pos_ < 8 && !r.in_->eof_) {
            r.end_ = r.in_->Fill(r.pos_, r.end_);
            r.pos_ = 0;
        }
        while (r.count_ <= kGuaranteedBits) {
            uint64_t byte = 0;
            if (r.pos_ < r.end_)
                byte = r.data_[r.pos_++];
            else
                ++r.zeros_;
            r.bits_ |= byte << (56 - r.count_);
            r.count_ += 8;
        }
        return r;
    }

    MsbBitInput* in_;
    const uint8_t* data_;
    size_t pos_ = 0, end_ = 0;
    uint64_t bits_ = 0;
    int count_ = 0;
    uint64_t zeros_ = 0;  // invented zero bytes past the end
};

}  // namespace varnok
