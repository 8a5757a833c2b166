// Inflate: the decompressor of raw deflate streams (RFC 1951) and of Deflate64, the 64 KiB-window variant
// (ZIP method 9). One object decodes one stream per Decode call and can be reused for any number of streams
// (entries, GZIP members); its buffers are kept between calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "archive/core/codec.h"
#include "archive/core/stream.h"

namespace varnok {

class Inflater {
  public:
    enum class Format {
        Deflate,    // RFC 1951: 32 KiB window, length code 285 = 258, distance codes 0-29
        Deflate64,  // 64 KiB window, length code 285 = 3 + 16 extra bits, distance codes 30 and 31 (14 extra
                    // bits)
    };

    explicit Inflater(Format format = Format::Deflate);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    Format GetFormat() const { return format_; }
    void SetFormat(Format format) { format_ = format; }

    // Decodes one whole stream: blocks until the final block has ended, the data break the format (Corrupt),
    // the source ends first (Truncated) or the cancel flag is seen (polled between blocks and between output
    // chunks). Everything decoded is written to the sink before returning, also on failure. `consumed` counts
    // the source bytes that belong to the stream (up to and including the byte holding its last bit).
    // Error codes: E_BadBlock (block type 3, stored length not matching its complement), E_BadHuffmanCode
    // (over-subscribed code lengths), E_IncompleteCodeSet (incomplete code lengths, no end-of-block code),
    // E_BadLengths (a code-length repeat with nothing to repeat or running past the declared codes),
    // E_InvalidCode (a code without meaning: lengths 286-287, distances 30-31 in Deflate), E_CorruptInput (a
    // distance reaching before the start of the output), E_UnexpectedEof (Truncated).
    DecodeResult Decode(ByteSource& source, ByteSink& sink, const CancelFlag* cancel = nullptr);

    // The bytes Decode took from the source beyond the end of the stream (a GZIP trailer, a ZIP data
    // descriptor, the next member...). Valid until the next Decode or Release.
    std::span<const uint8_t> Unconsumed() const;

    // Frees the buffers (about 1.1 MiB); the next Decode allocates them again.
    void Release();

    struct Tables;  // decoding tables (defined in the implementation)

  private:
    enum class Step { Continue, EndOfBlock, Corrupt, Truncated, Cancelled };

    bool FillInput();
    void TopUpInput(size_t want);
    bool NeedBits(unsigned n);
    uint32_t TakeBits(unsigned n);
    void AlignToByte();
    bool FlushOutput(bool slide);
    Step Fail(int code);
    Step ReadDynamicTables();
    Step StoredBlock();
    Step HuffmanBlock(const Tables& t);
    Step FastLoop(const Tables& t);
    Step SlowSymbol(const Tables& t);
    Step DecodeSlow(const uint32_t* table, unsigned rootBits, uint32_t* entry);
    Step EmitMatch(size_t length, size_t distance);
    Step CopyPending();
    const Tables& FixedTables();
    size_t OutSpace() const { return static_cast<size_t>(outLimit_ - out_); }

    Format format_;
    int error_ = 0;  // error code of the last Corrupt step

    // Input: a buffer refilled from the source; bits are taken least significant first.
    std::unique_ptr<uint8_t[]> inBuf_;
    const uint8_t* in_ = nullptr;
    const uint8_t* inEnd_ = nullptr;
    ByteSource* source_ = nullptr;
    bool sourceEnded_ = false;
    uint64_t totalRead_ = 0;
    uint64_t bitbuf_ = 0;
    unsigned bitsleft_ = 0;
    std::span<const uint8_t> unconsumed_;

    // Output: history window followed by the staging area; written to the sink in large chunks.
    std::unique_ptr<uint8_t[]> outBuf_;
    uint8_t* out_ = nullptr;
    uint8_t* flushed_ = nullptr;
    uint8_t* outLimit_ = nullptr;
    ByteSink* sink_ = nullptr;
    uint64_t produced_ = 0;
    size_t window_ = 0;
    // A match longer than the room left (Deflate64 lengths reach 65538) is finished after a flush.
    size_t pendingLength_ = 0;
    size_t pendingDistance_ = 0;

    const CancelFlag* cancel_ = nullptr;
    std::unique_ptr<Tables> dynamic_;
    std::unique_ptr<Tables> fixed_;
    Format fixedFormat_ = Format::Deflate;  // the format fixed_ was built for
};

}  // namespace varnok
