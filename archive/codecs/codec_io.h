// Buffered input, bit reading and chunked output shared by the stream decoders (compress, ARC, ZOO).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

// Pulls compressed bytes from a source through a buffer and counts what the decoder takes.
// The cancel flag is polled whenever the buffer is refilled.
class CodecInput {
  public:
    explicit CodecInput(ByteSource& src, const CancelFlag* cancel = nullptr, size_t bufferSize = 64 * 1024);

    // The next byte, or -1 when the input has ended.
    int Byte() { return pos_ < end_ ? buf_[pos_++] : SlowByte(); }
    // Bytes ready in the buffer; refills an empty buffer first. 0 means the input has ended.
    size_t Available() {
        if (pos_ == end_) Refill();
        return end_ - pos_;
    }
    // Reads more input behind what is still buffered; false when nothing more came.
    bool Refill();
    // Bytes ready in the buffer without refilling.
    size_t Buffered() const { return end_ - pos_; }
    const uint8_t* Data() const { return buf_.get() + pos_; }
    // Takes n buffered bytes (n <= Buffered()).
    void Skip(size_t n) { pos_ += n; }
    // Bytes handed to the decoder so far.
    uint64_t Taken() const { return total_ - (end_ - pos_); }
    bool Cancelled() const { return cancelled_; }

  private:
    int SlowByte();

    ByteSource& src_;
    const CancelFlag* cancel_;
    std::unique_ptr<uint8_t[]> buf_;
    size_t size_;
    size_t pos_ = 0;
    size_t end_ = 0;
    uint64_t total_ = 0;
    bool ended_ = false;
    bool cancelled_ = false;
};

// Reads bit fields least significant bit first (the order of compress, ARC, ZOO, PAK and the early ZIP
// methods). The refill is out of line, and it takes and returns the bit buffer by value rather than
// being given the reader: a reader whose address reached a call could no longer live in registers,
// and the decoders' byte stores would send its buffer and count back to memory on every output byte
// (the early ZIP methods ran 8% slower that way than on a reader of their own). SkipBits, used only for
// the LZW code groups, is an ordinary call: the LZW decoder measured the same either way.
class LsbBitReader {
  public:
    explicit LsbBitReader(CodecInput& in) : in_(in) {}

    // Makes at least n (1..32) bits ready; false when the input ends first.
    bool Fill(int n) {
        if (count_ >= n) return true;
        const Bits b = Refilled({bits_, count_}, in_);
        bits_ = b.bits;
        count_ = b.count;
        return count_ >= n;
    }
    // The next n bits (n <= bits ready) without taking them.
    uint32_t Peek(int n) const { return static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1)); }
    void Drop(int n) {
        bits_ >>= n;
        count_ -= n;
    }
    // Reads n (1..32) bits into v; false (and nothing taken) when the input ends first.
    bool Read(int n, uint32_t& v) {
        if (!Fill(n)) return false;
        v = Peek(n);
        Drop(n);
        return true;
    }
    // Passes over n bits, as far as the input reaches.
    void SkipBits(uint64_t n);
    int Ready() const { return count_; }
    // Input bytes consumed by the bits taken so far.
    uint64_t Consumed() const { return in_.Taken() - static_cast<uint64_t>(count_ / 8); }

  private:
    struct Bits {
        uint64_t bits;
        int count;
    };
    // The bit buffer topped up from the input: a whole word while eight bytes are buffered, else byte by
    // byte as far as the input goes.
    static Bits Refilled(Bits b, CodecInput& in);

    CodecInput& in_;
    uint64_t bits_ = 0;
    int count_ = 0;
};

// Collects decoded bytes and hands them to the sink in large chunks. The cancel flag is polled after
// every chunk written. The sink's exceptions pass through.
class CodecOutput {
  public:
    CodecOutput(ByteSink& sink, const CancelFlag* cancel = nullptr, size_t capacity = 64 * 1024);

    void Put(uint8_t b) {
        if (len_ == cap_) Flush();
        buf_[len_++] = b;
    }
    // Room for n (<= Capacity()) contiguous bytes; fill them and then Commit(n).
    uint8_t* Reserve(size_t n) {
        if (cap_ - len_ < n) Flush();
        return buf_.get() + len_;
    }
    void Commit(size_t n) { len_ += n; }
    void Write(const uint8_t* p, size_t n);
    // Writes what is held to the sink and polls the cancel flag.
    void Flush();

    size_t Capacity() const { return cap_; }
    uint64_t Produced() const { return written_ + len_; }
    uint64_t Written() const { return written_; }
    bool Cancelled() const { return cancelled_; }

  private:
    ByteSink& sink_;
    const CancelFlag* cancel_;
    std::unique_ptr<uint8_t[]> buf_;
    size_t cap_;
    size_t len_ = 0;
    uint64_t written_ = 0;
    bool cancelled_ = false;
};

// Ends a decoding run: writes out what is held and reports. A run whose input or output saw the cancel
// flag reports Cancelled with E_UserCanceled (unless it already failed) and writes nothing more.
DecodeResult FinishDecode(DecodeStatus status, int errorCode, const CodecInput& in, CodecOutput& out,
                          uint64_t consumed);

}  // namespace varnok
