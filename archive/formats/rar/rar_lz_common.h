// What the RAR 1.5, 2.0 and 2.9 decoders share: the bit input, the canonical Huffman table and the ring window.
//
// All three read one bit stream, most significant bit first, that may also be read a byte at a time (RAR 2.9's
// PPMd range coder takes whole bytes from the same stream, and the LZ tables that follow start at the next byte).
// So the reader is one small class over CodecInput that can align itself and hand out bytes; past the end of
// the entry's packed data it supplies zero bytes and counts them, so a decoder can tell a truncated stream.
//
// The window is a ring of a fixed size rather than LzOutput's sliding buffer: RAR 2.9's filters name positions
// in the ring (a block start is taken modulo the window), and a solid archive keeps the ring from one entry to
// the next, so the same ring serves every entry of the archive. Its size is the largest dictionary of the
// three formats (4 MiB); the decoders never reach further back than what they have produced.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/codecs/codec_io.h"

namespace varnok::rar {

class RarBits {
  public:
    explicit RarBits(CodecInput& in) : in_(in) {}

    uint32_t Peek(int n) {  // n in 1..32
        if (count_ < n) Fill();
        return static_cast<uint32_t>(bits_ >> (64 - n));
    }
    void Skip(int n) {
        bits_ <<= n;
        count_ -= n;
    }
    uint32_t Get(int n) {
        if (n == 0) return 0;
        const uint32_t v = Peek(n);
        Skip(n);
        return v;
    }
    void Align() { Skip(count_ & 7); }
    // A byte of the stream after Align (the range coder's input).
    uint8_t Byte() { return static_cast<uint8_t>(Get(8)); }
    // Bits of invented input were consumed: the packed data ended before the stream did.
    bool Overrun() const { return zeros_ * 8 > static_cast<uint64_t>(count_); }
    // No real bit is left to read.
    bool Exhausted() {
        if (static_cast<uint64_t>(count_) > zeros_ * 8) return false;
        return in_.Available() == 0;
    }
    // At least n bytes of real input remain from the current position (the byte in progress counted).
    bool HasBytes(size_t n) {
        const int64_t inBuffer = static_cast<int64_t>(count_) - static_cast<int64_t>(zeros_ * 8);
        int64_t bits = inBuffer + static_cast<int64_t>(in_.Buffered()) * 8;
        if (bits < static_cast<int64_t>(n) * 8 && zeros_ == 0) bits += static_cast<int64_t>(in_.Available()) * 8;
        return (bits + 7) / 8 >= static_cast<int64_t>(n);
    }
    uint64_t ConsumedBytes() const {
        const uint64_t taken = in_.Taken();
        const uint64_t held = static_cast<uint64_t>(count_ / 8);
        const uint64_t realHeld = held > zeros_ ? held - zeros_ : 0;
        return taken > realHeld ? taken - realHeld : 0;
    }

  private:
    void Fill() {
        while (count_ <= 56) {
            int c = in_.Byte();
            if (c < 0) {
                c = 0;
                ++zeros_;
            }
            bits_ |= static_cast<uint64_t>(c) << (56 - count_);
            count_ += 8;
        }
    }

    CodecInput& in_;
    uint64_t bits_ = 0;
    int count_ = 0;
    uint64_t zeros_ = 0;
};

// A canonical Huffman code of up to 15-bit lengths (the only kind RAR writes), assigned in order of length and
// then of symbol. Incomplete codes are allowed, as RAR's own tables may be (a table with one used symbol);
// a code outside the set decodes as kInvalid. Over-subscribed lengths are refused when building.
class RarHuffman {
  public:
    static constexpr int kMaxBits = 15;
    static constexpr int kQuickBits = 10;
    static constexpr uint32_t kInvalid = 0xFFFF;

    bool Build(const uint8_t* lengths, int n);
    uint32_t Decode(RarBits& br) const {
        const uint32_t v = br.Peek(kMaxBits);
        const uint32_t e = quick_[v >> (kMaxBits - kQuickBits)];
        if (e & 0xF) {
            br.Skip(static_cast<int>(e & 0xF));
            return e >> 4;
        }
        return Slow(br, v);
    }

  private:
    uint32_t Slow(RarBits& br, uint32_t v) const;

    uint32_t quick_[1u << kQuickBits] = {};
    uint32_t limit_[kMaxBits + 1] = {};  // first code past those of each length (in that length's bits)
    uint32_t first_[kMaxBits + 1] = {};  // first code of each length
    uint16_t offset_[kMaxBits + 1] = {};  // index in sorted_ of each length's first symbol
    uint16_t sorted_[1024] = {};
};

// The ring of the last 4 MiB produced, shared by the entries of a solid archive.
class RarWindow {
  public:
    static constexpr uint32_t kSize = 1u << 22;
    static constexpr uint32_t kMask = kSize - 1;

    RarWindow() : buf_(new uint8_t[kSize]()) {}

    // Forgets the history (its bytes stay, but no match may reach them: see Reaches).
    void Reset() {
        pos = 0;
        filled = 0;
    }
    void Put(uint8_t b) {
        buf_[pos] = b;
        pos = (pos + 1) & kMask;
        ++filled;
    }
    // Whether a match dist bytes back (1-based) reaches only produced bytes.
    bool Reaches(uint32_t dist) const { return dist >= 1 && dist <= kSize && dist <= filled; }
    void Copy(uint32_t dist, uint32_t len) {
        uint32_t src = (pos - dist) & kMask;
        if (src + len <= kSize && pos + len <= kSize && (dist >= len)) {
            std::memmove(buf_.get() + pos, buf_.get() + src, len);
            pos = (pos + len) & kMask;
        } else {
            for (uint32_t i = 0; i < len; ++i) {
                buf_[pos] = buf_[src];
                pos = (pos + 1) & kMask;
                src = (src + 1) & kMask;
            }
        }
        filled += len;
    }
    uint8_t* Data() { return buf_.get(); }

    uint32_t pos = 0;
    uint64_t filled = 0;  // bytes produced since the window was reset

  private:
    std::unique_ptr<uint8_t[]> buf_;
};

// Hands the window's bytes to the sink, never more than the entry's size; counts what was offered.
class RarEntryOutput {
  public:
    RarEntryOutput(ByteSink& sink, uint64_t size, const CancelFlag* cancel) : sink_(sink), size_(size), cancel_(cancel) {}
    void Write(const uint8_t* p, size_t n) {
        if (offered_ < size_) {
            const uint64_t room = size_ - offered_;
            const size_t k = n < room ? n : static_cast<size_t>(room);
            if (k) sink_.Write(p, k);
            written_ += k;
        }
        offered_ += n;
    }
    // Writes the ring's bytes from `from` up to `to` (wrapping).
    void WriteRing(const uint8_t* ring, uint32_t from, uint32_t to) {
        if (from <= to) {
            Write(ring + from, to - from);
        } else {
            Write(ring + from, RarWindow::kSize - from);
            Write(ring, to);
        }
    }
    uint64_t Offered() const { return offered_; }
    uint64_t Written() const { return written_; }
    uint64_t Size() const { return size_; }
    bool Cancelled() const { return IsCancelled(cancel_); }

  private:
    ByteSink& sink_;
    uint64_t size_;
    const CancelFlag* cancel_;
    uint64_t offered_ = 0;
    uint64_t written_ = 0;
};

}  // namespace varnok::rar
