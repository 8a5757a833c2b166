// The dynamic LZW decoder of the Unix compress family: compress (.Z) data, ARC methods 8 and 9 and ZOO
// method 1 are all this scheme with different settings.
#pragma once

#include <cstdint>
#include <memory>

#include "archive/core/codec.h"
#include "archive/core/errors.h"
#include "archive/codecs/codec_io.h"

namespace varnok {

// How a code stream is laid out. Codes are read least significant bit first, 9 bits wide at the start;
// the width grows by one whenever the next free code no longer fits, up to maxBits.
struct LzwParams {
    int maxBits = 16;                // widest code, 9..16
    bool clearCode = true;           // code 256 clears the table (compress block mode, ARC, ZOO)
    bool endCode = false;            // code 257 ends the stream (ZOO); requires clearCode
    bool groupAlign = true;          // codes come in groups of eight (as many bytes as the width): a width
                                     // change or a clear skips the rest of the current group
    bool leadingClear = false;       // the stream may start with a clear code (ZOO does); otherwise the first
                                     // code must be a literal
    int errorCode = E_CorruptInput;  // reported for a code the table does not hold
};

// Decodes headerless LZW code streams. The tables (for up to 16-bit codes, about 1.2 MB) belong to the
// instance: allocated by its first run and reused by the next ones. An instance decodes one stream at a
// time.
class LzwDecoder {
  public:
    LzwDecoder();
    ~LzwDecoder();
    LzwDecoder(const LzwDecoder&) = delete;
    LzwDecoder& operator=(const LzwDecoder&) = delete;

    DecodeResult Decode(const LzwParams& params, ByteSource& src, ByteSink& sink,
                        const CancelFlag* cancel = nullptr);
    // The same, on input and output already opened by the caller (after a header, or into a further
    // stage). Holds nothing back in out on return, except after a cancel.
    DecodeResult Decode(const LzwParams& params, CodecInput& in, CodecOutput& out);

    // Strings are stored and written in pieces of this many bytes.
    static constexpr uint32_t kSegment = 16;
    // Output capacity a CodecOutput needs for the longest string of a 16-bit table (plus one piece).
    static constexpr size_t kMinOutputCapacity = 64 * 1024 + kSegment;

  private:
    void Allocate();

    // Each code's string is kept as segments of sixteen bytes: the code's own last (possibly partial)
    // segment, and the code whose string ends just before that segment (its anchor).
    std::unique_ptr<uint8_t[]> segment_;  // kSegment bytes per code
    std::unique_ptr<uint16_t[]> anchor_;
    std::unique_ptr<uint16_t[]> length_;
};

}  // namespace varnok
