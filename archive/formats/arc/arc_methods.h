// The single decoding stages behind ArcDecoder. Each reads compressed data from `in` and writes to
// `out`, and ends with FinishDecode (which flushes `out`).
#pragma once

#include "archive/core/codec.h"
#include "archive/codecs/codec_io.h"

namespace varnok::arc {

// The ARC run-length expansion as a stage in front of another output: a byte 0x90 followed by a count n
// repeats the previous byte n - 1 more times; 0x90 followed by 0 is the byte 0x90 itself.
class RleExpander final : public ByteSink {
  public:
    explicit RleExpander(CodecOutput& out) : out_(out) {}
    void Write(const uint8_t* p, size_t n) override;

  private:
    CodecOutput& out_;
    bool repeat_ = false;
    uint8_t last_ = 0;
};

DecodeResult Unsqueeze(CodecInput& in, CodecOutput& out);
DecodeResult UncrunchOld(CodecInput& in, CodecOutput& out, bool newHash);
DecodeResult Uncrush(CodecInput& in, CodecOutput& out);
DecodeResult Undistill(CodecInput& in, CodecOutput& out);

}  // namespace varnok::arc
