// The deflate compressor on arbitrary input: zlib must decode every stream back to the input, the output
// must not depend on how the source splits its reads, incompressible input must grow only by stored-block
// overhead, and a cancel must leave a complete stream of a prefix.
//
// Control bytes: the first picks the strength (bits 0-1), a cancel halfway (bit 7) and the read piece
// size (bits 2-6); the second, when it is 0xFF, repeats the rest of the input many times with a changing
// byte so that long inputs (several blocks, buffer moves) are reached too.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "archive/codecs/deflate_encoder.h"
#include "fuzz/zipmethods/fuzz_common.h"

using namespace varnok;

namespace {

// Delivers the data `reps` times (pass k with byte k % size XORed by k) in pieces of `piece` bytes and
// raises the flag once `cancelAt` bytes are out.
class RepeatSource final : public ByteSource {
  public:
    RepeatSource(const uint8_t* data, size_t size, size_t reps, size_t piece, CancelFlag* flag,
                 size_t cancelAt)
        : data_(data), size_(size), total_(size * reps), piece_(piece), flag_(flag), cancelAt_(cancelAt) {}
    size_t Read(uint8_t* buf, size_t n) override {
        const size_t k = std::min({n, piece_, total_ - pos_});
        for (size_t i = 0; i < k; ++i, ++pos_) {
            const size_t pass = pos_ / size_, at = pos_ % size_;
            buf[i] = static_cast<uint8_t>(data_[at] ^ (at == pass % size_ ? pass : 0));
        }
        if (flag_ && pos_ >= cancelAt_) flag_->store(true);
        return k;
    }
    std::vector<uint8_t> All() {
        std::vector<uint8_t> v(total_);
        pos_ = 0;
        piece_ = total_ ? total_ : 1;
        flag_ = nullptr;
        Read(v.data(), v.size());
        return v;
    }

  private:
    const uint8_t* data_;
    size_t size_, total_, piece_;
    CancelFlag* flag_;
    size_t cancelAt_;
    size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const TDeflateType type = static_cast<TDeflateType>(data[0] & 3);
    const bool cancel = (data[0] & 0x80) != 0;
    const size_t piece = 1 + ((data[0] >> 2) & 31) * 997;
    // Long enough to move the encoder's buffer (the maximum strength, slow under the sanitizers, less far).
    const size_t longInput = type == dtDeflateX ? size_t{3} << 16 : size_t{5} << 17;
    const size_t reps = data[1] == 0xFF && size > 2 ? std::min<size_t>(2 + longInput / size, 400) : 1;
    data += 2;
    size -= 2;

    static DeflateEncoder encoder;
    encoder.SetType(type);
    CancelFlag flag{false};
    RepeatSource src(data, size, reps, piece, cancel ? &flag : nullptr, size * reps / 2);
    fuzz::KeepSink sink(SIZE_MAX);
    const DecodeResult r = encoder.Encode(src, sink, cancel ? &flag : nullptr);
    const std::vector<uint8_t> input = src.All();
    if (r.produced != sink.data.size()) std::abort();
    if (r.status == DecodeStatus::Cancelled) {
        if (!cancel || r.consumed > input.size()) std::abort();
    } else {
        if (!r.Ok() || r.consumed != input.size()) std::abort();
        if (r.produced > r.consumed + 5 * (r.consumed / 8192 + 1)) std::abort();
        // Whole reads give the same stream.
        static DeflateEncoder whole;
        whole.SetType(type);
        MemorySource all(input);
        fuzz::KeepSink again(SIZE_MAX);
        if (!whole.Encode(all, again).Ok() || again.data != sink.data) std::abort();
    }

    std::vector<uint8_t> back(r.consumed + 1);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) std::abort();
    z.next_in = sink.data.data();
    z.avail_in = static_cast<uInt>(sink.data.size());
    z.next_out = back.data();
    z.avail_out = static_cast<uInt>(back.size());
    const int rc = inflate(&z, Z_FINISH);
    const size_t used = z.total_in, got = z.total_out;
    inflateEnd(&z);
    if (rc != Z_STREAM_END || used != sink.data.size() || got != r.consumed ||
        !std::equal(back.begin(), back.begin() + static_cast<ptrdiff_t>(got), input.begin()))
        std::abort();
    return 0;
}
