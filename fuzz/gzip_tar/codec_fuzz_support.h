// Shared by the stream decoder fuzz targets: decode the input twice, once in one piece and once in small
// reads, and require the same result and output (the decoders must not depend on how input arrives).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archive/core/codec.h"
#include "archive/core/crc.h"
#include "archive/core/stream.h"

namespace varnok::fuzz {

// Counts the output and checksums its first megabyte (amplifying inputs can produce far more, and the
// count already tells two runs apart) without keeping it.
class DigestSink final : public ByteSink {
  public:
    void Write(const uint8_t* buf, size_t n) override {
        if (count < kChecked)
            crc = UpdateCrc32(crc, buf, static_cast<size_t>(std::min<uint64_t>(n, kChecked - count)));
        count += n;
    }
    static constexpr uint64_t kChecked = 1u << 20;
    uint32_t crc = 0xFFFFFFFFu;
    uint64_t count = 0;
};

class PieceSource final : public ByteSource {
  public:
    PieceSource(const uint8_t* data, size_t size, size_t step) : data_(data), size_(size), step_(step) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t k = std::min({n, step_, size_ - pos_});
        if (k) std::memcpy(buf, data_ + pos_, k);
        pos_ += k;
        return k;
    }

  private:
    const uint8_t* data_;
    size_t size_, step_, pos_ = 0;
};

// Runs decode(source, sink) over the input both ways and traps on any disagreement or on a result that
// contradicts itself.
template <class Decode>
void CheckDecoder(const uint8_t* data, size_t size, Decode decode) {
    MemorySource whole(data, size);
    DigestSink a;
    DecodeResult ra = decode(whole, a);
    PieceSource pieces(data, size, 1 + size % 13);
    DigestSink b;
    DecodeResult rb = decode(pieces, b);
    if (ra.produced != a.count || rb.produced != b.count) abort();
    if (ra.consumed > size || rb.consumed > size) abort();
    if (ra.status != rb.status || ra.errorCode != rb.errorCode || a.count != b.count || a.crc != b.crc)
        abort();
    if (ra.consumed != rb.consumed) abort();
    if (ra.status == DecodeStatus::Ok && ra.errorCode != 0) abort();
    if (ra.status == DecodeStatus::Corrupt && ra.errorCode == 0) abort();
}

}  // namespace varnok::fuzz
