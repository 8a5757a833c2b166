// LZX compressor for cabinet folders: turns a folder's data, handed over one 32 KiB frame at a time, into
// the bytes of one CFDATA block per frame, as libmspack, 7-Zip and Windows read them.
//
// Why it is built this way:
// - Frames in, CFDATA blocks out. A cabinet splits a folder into CFDATA blocks of at most 32768
//   uncompressed bytes; cabinet LZX re-aligns its bit stream to 16 bits at every 32 KiB frame, and the
//   readers hand each CFDATA block's bytes to the decoder as one frame (7-Zip checks that a block's input
//   is used up exactly when its frame is complete). So the encoder is fed frame by frame and returns each
//   frame's bytes; the window, the repeated offsets and the previous code lengths (which the next trees are
//   sent as deltas against) carry over from frame to frame within the folder, and Reset starts a new one.
// - No LZX block and no match crosses a frame. Readers differ in what they accept there (libmspack
//   rejects a frame that decodes past its end, 7-Zip a CFDATA block that does); keeping every block inside
//   its frame costs one tree header per frame, which the delta coding against the previous frame's trees
//   keeps small.
// - Each frame goes out as the cheapest of a verbatim block, an aligned-offset block and an uncompressed
//   block, computed exactly from the frame's symbol counts; incompressible frames grow by at most 18
//   bytes (the first frame by 4 more for the stream header).
// - E8 call translation is on by default (translation size 12,000,000, as Windows' own cabinet LZX and
//   the WIM variant use), applied exactly as the decoders undo it: in the first 32768 frames of a folder,
//   for frames longer than 10 bytes, never to an E8 in the last 10 bytes of a frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace varnok {

// Uncompressed bytes of one cabinet frame (one CFDATA block), for LZX and Quantum alike.
inline constexpr size_t kCabFrameSize = 32768;

// Search effort: Fast parses greedily over hash chains; Normal parses each frame near-optimally over
// binary-tree matches (the cabinet writer's choice); Best searches deeper and parses each frame three
// times, each pass priced with the codes of the one before.
enum class LzxEffort { Fast, Normal, Best };

struct LzxEncoderParams {
    unsigned windowBits = 21;               // 15..21 (2^15 to 2^21 bytes); clamped
    LzxEffort effort = LzxEffort::Normal;
    uint32_t translationSize = 12000000;    // E8 translation size written in the stream header; 0 = off
};

// The CFFOLDER typeCompress value of an LZX folder with this window: 3 | bits << 8.
uint16_t LzxTypeCompress(unsigned windowBits);

class LzxEncoder {
  public:
    explicit LzxEncoder(const LzxEncoderParams& params = {});
    ~LzxEncoder();
    LzxEncoder(const LzxEncoder&) = delete;
    LzxEncoder& operator=(const LzxEncoder&) = delete;

    // Compresses the folder's next frame (1 to 32768 bytes) and appends the bytes of its CFDATA block to
    // `out` (the CFDATA's cbUncomp is frame.size()). Every frame but a folder's last must be exactly
    // 32768 bytes: a frame after a shorter one, an empty frame or a longer one throws
    // std::invalid_argument and leaves the state unchanged. An empty folder has no frames at all.
    void EncodeFrame(std::span<const uint8_t> frame, std::vector<uint8_t>& out);
    std::vector<uint8_t> EncodeFrame(std::span<const uint8_t> frame);

    // Starts a new folder (window, repeated offsets and previous trees cleared; the header comes again).
    void Reset();

    const LzxEncoderParams& Params() const { return params_; }
    uint16_t TypeCompress() const { return LzxTypeCompress(params_.windowBits); }

    struct State;  // window, match finder and coder state (defined in the implementation)

  private:
    LzxEncoderParams params_;
    std::unique_ptr<State> state_;
};

// Compresses a whole folder in memory, one entry per frame (tests, benchmarks).
std::vector<std::vector<uint8_t>> LzxCompressFolder(std::span<const uint8_t> data,
                                                    const LzxEncoderParams& params = {});

}  // namespace varnok
