// The two ACE 2.0 block modes that are not LZ77: SOUND (8/16/32-bit audio: per-channel linear prediction with
// adaptive coefficients, the residuals Huffman-coded under three codes per channel, with runs of zeros) and PIC
// (images: each pixel predicted from its neighbours, the predictor chosen per context by past errors, the
// residual sent as a signed Golomb-Rice code whose parameter follows the context's mean error).
//
// Both are plain state machines over the decoder's bit reader: Run produces up to `room` bytes and reports
// why it stopped, so the decoder can interleave them with its window and its output chunks. They keep no
// output of their own beyond one PIC row; what they produce goes into the LZ77 window like any other output,
// since later LZ77 blocks may copy from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/codecs/lz_output.h"
#include "archive/codecs/msb_bit_reader.h"
#include "archive/formats/ace/ace_huffman.h"

namespace varnok::ace {

// Why a model's Run returned.
enum class ModelStop {
    Room,      // the room asked for is filled
    Mode,      // a mode change follows in the stream (the caller reads the mode record)
    Corrupt,   // the data break the format
    PastEnd,   // the reader ran past its input
};

class SoundModel {
  public:
    static constexpr int kFirstMode = 3;  // SOUND_8; then SOUND_16, SOUND_32A, SOUND_32B

    // Starts the model for one of the four sound modes (0..3).
    void Reset(int variant);

    // Produces up to `room` samples; `index` is the sample count since the block began (it picks the channel
    // and is advanced). `limit` is where the block ends without a mode change (index never passes it).
    MsbBitReader Run(MsbBitReader br, LzByte* out, size_t room, uint64_t& index, uint64_t limit, size_t* made,
                     ModelStop* stop);

  private:
    static constexpr int kRunLenCodes = 32;
    static constexpr uint32_t kTypeCode = 256 + kRunLenCodes;
    static constexpr int kNumCodes = 256 + kRunLenCodes + 1;
    static constexpr int kMaxWidth = 10;

    struct Channel {
        int predDifCnt[2] = {};
        int lastPredDifCnt[2] = {};
        int rarDifCnt[4] = {};
        int rarCoeff[4] = {};
        int rarDif[9] = {};
        uint32_t byteCount = 0;
        int lastSample = 0;
        int lastDelta = 0;
        int adaptModelCnt = 0;
        int adaptModelUse = 0;
        int getState = 0;
        uint32_t getCode = 0;

        int PredictedSample() const;
        int Predict() const;
        void Adjust(int sample);
    };

    int variant_ = 0;
    int channels_ = 1;
    Channel channel_[3];
    AceHuffman code_[9];
    uint32_t symbolsLeft_ = 0;
};

class PicModel {
  public:
    // Starts the model; reads the image width and the number of planes that follow the mode record.
    MsbBitReader Reset(MsbBitReader br, bool* ok);

    // Produces up to `room` bytes, row by row; each row is announced by a 1 bit, a 0 bit announces a mode
    // change. A row cut by `room` goes on at the next call.
    MsbBitReader Run(MsbBitReader br, LzByte* out, size_t room, size_t* made, ModelStop* stop);

    // The widest row accepted (a wider one is treated as damage).
    static constexpr uint64_t kMaxRow = uint64_t{1} << 20;

  private:
    struct Context {
        int used = 0;
        int predictor = 0;
        int average = 4;
        int errors[4] = {};
    };
    struct Pixels {
        int a = 0, b = 0, c = 0, d = 0, x = 0;
        int kind = 0;  // 0 plane 0, 1 difference to the plane before, 2 scaled difference
    };

    bool Row(MsbBitReader& br);
    static int Predict(const Pixels& p, int predictor);

    size_t width_ = 0, planes_ = 0;
    std::vector<uint8_t> prev_, row_;  // one row each, plus planes_ zero bytes
    size_t rowPos_ = 0, rowLen_ = 0;   // bytes of row_ handed out / available
    std::vector<Context> models_[2];
};

}  // namespace varnok::ace
