// Round trip through the static-Huffman LZ encoder: encode, decode with our decoder, compare.
// The first byte picks the parameter set (bits 0-2), how the source splits its reads (bits 3-4),
// the encoder's mode (bit 5: stop when not smaller) and whether the rest of the input is tiled into
// a larger one (bit 6: up to 200 KB, past the window slides and the block limit, with a counter
// mixed in every 997 bytes so that not all of it is one long match).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <vector>

#include "archive/codecs/static_huffman.h"
#include "archive/codecs/static_huffman_encoder.h"

namespace {

using namespace varnok;

class SplitSource final : public ByteSource {
  public:
    SplitSource(const std::vector<uint8_t>& data, int mode) : data_(data), mode_(mode) {}
    size_t Read(uint8_t* buf, size_t n) override {
        size_t want = n;
        if (mode_ == 1) want = 1 + pos_ % 13;
        if (mode_ == 2) want = 4093;
        const size_t k = std::min({n, want, data_.size() - pos_});
        std::copy_n(data_.data() + pos_, k, buf);
        pos_ += k;
        return k;
    }

  private:
    const std::vector<uint8_t>& data_;
    int mode_;
    size_t pos_ = 0;
};

constexpr StaticHuffmanParams kParams[] = {kLh5Params, kLh6Params,           kLh7Params, kBhMethod1Params,
                                           kLh4Params, kArjMethod1to3Params, kLh5Params, kLh7Params};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t ctl = data[0];
    const StaticHuffmanParams& p = kParams[ctl & 7];
    std::vector<uint8_t> input(data + 1, data + size);
    if ((ctl & 0x40) && !input.empty()) {
        const size_t target = std::min<size_t>(200000, input.size() * 64);
        std::vector<uint8_t> big;
        big.reserve(target);
        for (size_t i = 0; big.size() < target; ++i) {
            uint8_t b = input[i % input.size()];
            if (i % 997 == 0) b = static_cast<uint8_t>(b ^ (i / 997));
            big.push_back(b);
        }
        input.swap(big);
    }
    const auto mode =
        (ctl & 0x20) ? StaticHuffmanEncoder::IfNotSmaller::Stop : StaticHuffmanEncoder::IfNotSmaller::Finish;

    // One encoder per parameter set, reused as a writer reuses it from entry to entry.
    static StaticHuffmanEncoder* encoders[std::size(kParams)] = {};
    if (!encoders[ctl & 7]) encoders[ctl & 7] = new StaticHuffmanEncoder(p);
    StaticHuffmanEncoder& enc = *encoders[ctl & 7];
    SplitSource src(input, (ctl >> 3) & 3);
    VectorSink sink;
    const StaticHuffmanEncodeResult r = enc.Encode(src, sink, mode);
    if (r.produced != sink.Data().size()) std::abort();
    if (r.status == StaticHuffmanEncodeResult::Status::Cancelled) std::abort();
    if (r.status == StaticHuffmanEncodeResult::Status::Stopped) {
        if (mode != StaticHuffmanEncoder::IfNotSmaller::Stop || !r.notSmaller) std::abort();
        return 0;
    }
    if (r.consumed != input.size()) std::abort();
    if (r.notSmaller != (r.produced >= r.consumed)) std::abort();

    // The complete stream decodes to the input, using exactly its bytes.
    MemorySource in(sink.Data());
    VectorSink out;
    const DecodeResult d = DecodeStaticHuffman(p, in, sink.Data().size(), out, input.size());
    if (!d.Ok() || out.Data() != input) std::abort();
    return 0;
}
