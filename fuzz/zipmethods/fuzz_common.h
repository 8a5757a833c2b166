// Shared pieces of the ZIP method fuzzers: a source that hands out data in pieces of a chosen size, and a
// sink that keeps a bounded copy of what it is given.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok::fuzz {

class PieceSource final : public ByteSource {
  public:
    PieceSource(const uint8_t* data, size_t size, size_t piece) : data_(data), size_(size), piece_(piece) {}
    size_t Read(uint8_t* buf, size_t n) override {
        const size_t k = std::min({n, piece_, size_ - pos_});
        if (k) std::memcpy(buf, data_ + pos_, k);
        pos_ += k;
        return k;
    }

  private:
    const uint8_t* data_;
    size_t size_, piece_, pos_ = 0;
};

// Keeps the first `keep` bytes and counts the rest.
class KeepSink final : public ByteSink {
  public:
    explicit KeepSink(size_t keep) : keep_(keep) {}
    void Write(const uint8_t* buf, size_t n) override {
        const size_t k = std::min(n, keep_ - std::min(keep_, data.size()));
        data.insert(data.end(), buf, buf + k);
        total += n;
    }
    std::vector<uint8_t> data;
    uint64_t total = 0;

  private:
    size_t keep_;
};

// The same input decoded whole and in small pieces must give the same result.
template <class Decode>
void CheckPiecesAgree(const uint8_t* data, size_t size, size_t piece, Decode decode) {
    PieceSource whole(data, size, size ? size : 1);
    PieceSource pieces(data, size, piece);
    KeepSink a(1 << 20), b(1 << 20);
    const DecodeResult ra = decode(whole, a);
    const DecodeResult rb = decode(pieces, b);
    if (ra.status != rb.status || ra.errorCode != rb.errorCode || ra.produced != rb.produced ||
        ra.consumed != rb.consumed || a.total != ra.produced || a.data != b.data || ra.consumed > size)
        std::abort();
}

}  // namespace varnok::fuzz
