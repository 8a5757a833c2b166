// Deflate compressor: turns a byte stream into a raw deflate stream (RFC 1951, no zlib or GZIP wrapper) for
// the ZIP, BH and GZIP writers. Four strengths trade speed for size; every strength produces a valid stream
// for every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

// Strength of the compressor: super-fast, fast, normal, maximum.
enum TDeflateType { dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX };

// The speed bits a ZIP (or BH) writer ORs into a deflated entry's general-purpose flags: bits 1 and 2 (6) for
// super-fast, bit 2 (4) for fast, none for normal, bit 1 (2) for maximum. Bit 0, the encryption bit, is never
// part of the result.
uint16_t DeflateFlagBits(TDeflateType type);

class DeflateEncoder {
  public:
    explicit DeflateEncoder(TDeflateType type = dtDeflateN);
    ~DeflateEncoder();
    DeflateEncoder(const DeflateEncoder&) = delete;
    DeflateEncoder& operator=(const DeflateEncoder&) = delete;

    TDeflateType Type() const { return type_; }
    void SetType(TDeflateType type) { type_ = type; }

    // Compresses everything the source delivers (until Read returns 0) into one complete stream written to
    // the sink. Memory stays bounded (3 to 4.5 MiB, kept between calls) whatever the input's size.
    //
    // The stream always ends with a final block: an empty input gives the two bytes of one empty fixed-code
    // block (03 00), which GZIP needs. A writer that wants no data at all for an empty file (a ZIP entry)
    // does not call Encode for it and stores the entry instead.
    //
    // The result: `consumed` = input bytes the stream holds (all that was read, unless cancelled),
    // `produced` = compressed bytes written. A writer that stores an entry whole when compression does not
    // pay compares the two afterwards (produced >= consumed) and writes the entry again as stored. Blocks
    // that would not get smaller go out as stored blocks inside the stream, so produced never exceeds
    // consumed by more than 5 bytes per 8 KiB plus 5. The output depends only on the input and the
    // strength, not on how the source splits its reads.
    //
    // The cancel flag is polled between pieces of input (at least every 256 KiB): when it is seen the
    // stream is closed with a final block after what has been compressed so far, so the output is always a
    // complete deflate stream of a prefix of the input, and the status is Cancelled (E_UserCanceled).
    // Exceptions of the sink (write failures) pass through.
    DecodeResult Encode(ByteSource& source, ByteSink& sink, const CancelFlag* cancel = nullptr);

    // Frees the work area; the next Encode allocates it again.
    void Release();

    struct State;  // work area (defined in the implementation)

  private:
    TDeflateType type_;
    std::unique_ptr<State> state_;
};

// Compresses a whole buffer in memory (tests and small callers).
std::vector<uint8_t> DeflateBuffer(std::span<const uint8_t> data, TDeflateType type = dtDeflateN);

}  // namespace varnok
