// Quantum compressor for cabinet folders: turns a folder's data, handed over one 32 KiB frame at a time,
// into the bytes of one CFDATA block per frame, as libmspack (cabextract), 7-Zip and unar read them.
//
// Why it is built this way:
// - Quantum is an LZ77 coder whose every symbol goes through an adaptive arithmetic coder: seven
//   adaptive frequency models choose between literals (one model per 64-byte range) and three kinds of
//   match (length 3, length 4, longer), and three more models code the matches' offset slots and one their
//   length slots; the offset and length slots' low bits are raw bits inside the same bit stream. The
//   encoder mirrors the decoders' model arithmetic bit for bit (increments of 8, halving above a total of
//   3800, a full re-sort every 50th time), because any difference decodes as garbage.
// - Frames: the models and the window carry over from frame to frame within a folder, while the
//   arithmetic coder starts afresh in every frame. The decoders read 16 bits of code ahead and take the
//   raw bits from behind them, so the encoder records where each raw bit falls among the code bits and
//   interleaves them when the frame is flushed. A frame's data ends with 2 to 9 zero bits up to a byte
//   boundary: 7-Zip insists on exactly that (it reads those bits and wants the block used up), libmspack
//   skips to the next byte and then past any zero bytes to the 0xFF it appends to every block, and unar
//   starts each block afresh and ignores what is left.
// - No match crosses a frame (the readers decode frame by frame) nor, for windows below 32 KiB, a
//   multiple of the window size (libmspack flushes its window there), and none reaches before the
//   folder's first byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "archive/codecs/lzx_encoder.h"  // kCabFrameSize

namespace varnok {

struct QuantumEncoderParams {
    unsigned windowBits = 21;  // 10..21 (2^10 to 2^21 bytes); clamped
    unsigned level = 7;        // 1..7: match search effort; clamped
};

// The CFFOLDER typeCompress value of a Quantum folder: 2 | level << 4 | windowBits << 8.
uint16_t QuantumTypeCompress(unsigned windowBits, unsigned level);

class QuantumEncoder {
  public:
    explicit QuantumEncoder(const QuantumEncoderParams& params = {});
    ~QuantumEncoder();
    QuantumEncoder(const QuantumEncoder&) = delete;
    QuantumEncoder& operator=(const QuantumEncoder&) = delete;

    // Compresses the folder's next frame (1 to 32768 bytes) and appends the bytes of its CFDATA block to
    // `out`. Every frame but a folder's last must be exactly 32768 bytes: an empty or longer frame, or a
    // frame after a shorter one, throws std::invalid_argument and leaves the state unchanged.
    void EncodeFrame(std::span<const uint8_t> frame, std::vector<uint8_t>& out);
    std::vector<uint8_t> EncodeFrame(std::span<const uint8_t> frame);

    // Starts a new folder (window and models cleared).
    void Reset();

    const QuantumEncoderParams& Params() const { return params_; }
    uint16_t TypeCompress() const { return QuantumTypeCompress(params_.windowBits, params_.level); }

    struct State;  // window, match finder, models and coder (defined in the implementation)

  private:
    QuantumEncoderParams params_;
    std::unique_ptr<State> state_;
};

// Compresses a whole folder in memory, one entry per frame (tests, benchmarks).
std::vector<std::vector<uint8_t>> QuantumCompressFolder(std::span<const uint8_t> data,
                                                        const QuantumEncoderParams& params = {});

}  // namespace varnok
