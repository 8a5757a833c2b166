// The decoder of RAR 2.0 compression (version needed 20 and 26): LZ with three Huffman tables, and the
// multimedia mode, in which up to four interleaved channels are coded as prediction errors of an adaptive
// linear predictor, one table per channel.
//
// A RAR 2.0 stream has no end marker: an entry ends where its size is reached, and a solid archive's next
// entry goes on with the same tables, window, distances and predictor state. Only one thing is read past an
// entry's end: when enough packed bytes remain, a "new tables" code followed by the tables the next entry
// starts with (RAR writes them there), which is why the decoder looks one code ahead at the end of an entry.
#pragma once

#include <cstdint>
#include <string>

#include "archive/core/codec.h"
#include "archive/core/stream.h"
#include "archive/formats/rar/rar_lz_common.h"

namespace varnok::rar {

class Rar20Decoder {
  public:
    Rar20Decoder() = default;
    Rar20Decoder(const Rar20Decoder&) = delete;
    Rar20Decoder& operator=(const Rar20Decoder&) = delete;

    // Decodes one entry; solid: it continues the state of the entry decoded before.
    DecodeResult Decode(ByteSource& in, ByteSink& out, uint64_t unpackedSize, bool solid,
                        const CancelFlag* cancel = nullptr);
    const std::string& Error() const { return error_; }

  private:
    struct Channel {
        int k[5] = {};
        int d1 = 0, d2 = 0, d3 = 0, d4 = 0;
        int lastDelta = 0;
        uint32_t dif[11] = {};
        uint32_t byteCount = 0;
        int lastChar = 0;
    };

    void Reset();
    bool ReadTables(RarBits& br);
    uint8_t DecodeAudio(int delta);
    bool Fail(int code, const char* why);

    static constexpr int kMainSize = 298, kDistSize = 48, kLenSize = 28, kAudioSize = 257;
    static constexpr int kTablesSize = kAudioSize * 4;

    RarWindow window_;
    RarHuffman main_, dist_, len_, audio_[4];
    uint8_t lastLevels_[kTablesSize] = {};
    uint32_t reps_[4] = {};
    uint32_t repPtr_ = 0;
    uint32_t lastLength_ = 0;
    bool audioMode_ = false;
    int channels_ = 1, curChannel_ = 0, channelDelta_ = 0;
    Channel audio_state_[4];
    bool tablesOk_ = false;
    bool started_ = false, broken_ = false;
    int errorCode_ = 0;
    std::string error_;
};

}  // namespace varnok::rar
