// The static-Huffman LZ encoder of the LHA -lh5- family: writes the streams that StaticHuffmanDecoder
// (static_huffman.h) and the family's other readers decode, for -lh5-, -lh6-, -lh7- and BH method 1
// ("Fuse"), from the same StaticHuffmanParams the decoder takes.
//
// Why it is built this way:
// - Streaming with bounded memory. An archive writer hands over files of any size, so the encoder
//   pulls its input through a ByteSource in pieces and keeps only a window (the dictionary, one
//   piece of new input and the look-ahead of one longest match), its hash chains and one block of
//   symbols; the work area is allocated once per object (about 1 MiB for -lh7-) and reused.
// - One block of symbols at a time. The format sends a code count and three code tables before each
//   block's symbols, so a block's symbols are kept until the block is full (the 16-bit count caps a
//   block at 65535 symbols), its codes are built from the block's own frequencies, and it is written.
// - "Not smaller" is decided by the encoder. A writer that stores an entry whose compressed form does
//   not pay wants to know as early as possible, not after compressing a whole video file. After each
//   block the encoder compares what it has output with the input those blocks stand for, and in
//   IfNotSmaller::Stop mode it stops at the first block where the output has caught up, reporting
//   notSmaller; the caller then writes the entry again as stored. The final comparison (all the
//   output against all the input) is exact in both modes.
// - Matches never reach before the first byte of the input. The decoders disagree on what the
//   history holds there (spaces for LHA, zeros for BH and ZOO, nothing defined for some peers), so a
//   stream that used it would decode differently from reader to reader. Without such matches the
//   history's initial contents do not matter: the -lh5- and BH Fuse parameters give identical output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "archive/codecs/static_huffman.h"
#include "archive/core/stream.h"

namespace varnok {

struct StaticHuffmanEncodeResult {
    enum class Status {
        Ok,         // the whole input was coded and the stream is complete
        Stopped,    // IfNotSmaller::Stop and the output caught up with the input: given up early
        Cancelled,  // the cancel flag was seen; the sink holds an unfinished stream
    };
    Status status = Status::Ok;
    // The output is at least as large as the input it codes: store the entry instead. Set when
    // stopped early, and at the end of a complete stream when produced >= consumed (an empty input
    // too: it gives an empty stream).
    bool notSmaller = false;
    uint64_t consumed = 0;  // input bytes read from the source
    uint64_t produced = 0;  // bytes written to the sink

    bool Ok() const { return status == Status::Ok; }
};

class StaticHuffmanEncoder {
  public:
    enum class IfNotSmaller {
        Stop,    // give up after the first block whose output brings the total up to the input's size
        Finish,  // always write the complete stream; notSmaller is decided at the end
    };

    // Throws std::invalid_argument for parameters that no decoder could follow: a history of more
    // than 2^dicBit bytes, or a position-code count field (pBit) too narrow for dicBit + 1 codes.
    explicit StaticHuffmanEncoder(const StaticHuffmanParams& params);
    ~StaticHuffmanEncoder();
    StaticHuffmanEncoder(const StaticHuffmanEncoder&) = delete;
    StaticHuffmanEncoder& operator=(const StaticHuffmanEncoder&) = delete;

    const StaticHuffmanParams& Params() const { return params_; }

    // Codes everything the source delivers (until Read returns 0) into one stream written to the
    // sink. The stream's unpacked size is `consumed`, which the caller records in its header (the
    // format has no end marker). An empty input writes nothing. The output depends only on the
    // input and the parameters, not on how the source splits its reads.
    //
    // The cancel flag is polled once per piece of input (64 KiB, or the dictionary if larger).
    // Exceptions of the sink (write failures) pass through.
    StaticHuffmanEncodeResult Encode(ByteSource& source, ByteSink& sink,
                                     IfNotSmaller ifNotSmaller = IfNotSmaller::Stop,
                                     const CancelFlag* cancel = nullptr);

    // Frees the work area; the next Encode allocates it again.
    void Release();

    struct State;  // work area (defined in the implementation)

  private:
    StaticHuffmanParams params_;
    std::unique_ptr<State> state_;
};

// Codes a whole buffer in memory, always to the complete stream (IfNotSmaller::Finish); `result`,
// when given, receives the counts and the notSmaller verdict.
std::vector<uint8_t> EncodeStaticHuffman(const StaticHuffmanParams& params, std::span<const uint8_t> data,
                                         StaticHuffmanEncodeResult* result = nullptr);

// The code lengths the encoder gives n <= 510 symbols of the given frequencies: Huffman code lengths
// limited to 16 bits, forming a complete code when two or more symbols are used. Returns the number
// of symbols used (frequency above 0); with fewer than two every length is 0. Exposed for tests.
int LimitedHuffmanLengths(const uint32_t* freq, int n, uint8_t* len);

}  // namespace varnok
