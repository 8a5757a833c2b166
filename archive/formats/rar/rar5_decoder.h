// The RAR 5 decoder: LZ77 over a window as large as the entry's dictionary, its four canonical Huffman tables
// (literals and lengths, distances, low distance bits, repeated lengths) sent in the blocks that change them,
// and the filters (DELTA, E8, E8E9, ARM) that the encoder places over stretches of the output.
//
// Built for a stream of entries rather than one buffer: an entry's packed bytes come from a ByteSource (its
// parts over several volumes and any decryption are the source's business), the output goes to a ByteSink
// as it is made, and in a solid archive the window, the tables and the last distances go on from one entry
// to the next.
//
// The window is circular and addressed by absolute positions of the solid stream; it starts small and
// doubles while the stream is shorter than the dictionary, so a hostile dictionary size costs nothing until
// that much output has really been made, and never more than kMaxDictionary. Output leaves the window up to
// the first filter not yet complete; a filter's stretch (at most 4 MiB) is filtered in a buffer of its own
// when its last byte has been decoded. Every distance is checked against what the stream has produced, every
// block against the packed size, and a truncated stream is told from a damaged one.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "archive/core/stream.h"

namespace varnok::rar {

class Rar5Decoder {
  public:
    static constexpr uint64_t kMaxDictionary = uint64_t{1} << 30;

    enum class Status { Ok, Damaged, Truncated, Unsupported };
    struct Result {
        Status status = Status::Ok;
        std::string why;
    };

    Rar5Decoder();
    ~Rar5Decoder();
    Rar5Decoder(const Rar5Decoder&) = delete;
    Rar5Decoder& operator=(const Rar5Decoder&) = delete;

    // Decodes one entry: packedSize bytes from `packed`, exactly unpackedSize bytes to `out`. solid: the entry
    // goes on from the state the previous entry left (refused when that entry failed or none was decoded).
    // version: the compression format of the header (0 is RAR 5.0; later ones are refused). The sink's
    // exceptions pass through (the state is then unusable for a solid successor).
    Result Decode(ByteSource& packed, uint64_t packedSize, uint64_t unpackedSize, uint64_t dictionarySize,
                  bool solid, ByteSink& out, unsigned version = 0);

    // A Huffman decoding table of the RAR kind: codes of at most 15 bits, canonical, an incomplete code
    // tolerated (codes outside it decode to the first symbol, as the format's own decoder does).
    struct Table {
        static constexpr int kQuick = 10;
        uint32_t limit[17] = {};  // left-aligned 16-bit upper bounds per code length
        uint32_t first[17] = {};  // index in `symbols` of the first code of each length
        std::vector<uint16_t> symbols;
        std::array<uint16_t, 1 << kQuick> quickSymbol{};
        std::array<uint8_t, 1 << kQuick> quickLength{};
        void Build(const uint8_t* lengths, size_t n);
    };

  private:
    struct Filter {
        uint64_t start;
        uint32_t length;
        uint8_t type;
        uint8_t channels;
    };
    class Run;
    friend class Run;

    void Reset();
    bool Grow(uint64_t need);
    // Hands finished output to the sink: up to `upTo` (at most total_), through the complete filters.
    bool Flush(ByteSink& out, uint64_t upTo, std::string& why);
    void Emit(ByteSink& out, uint64_t from, uint64_t to);
    bool ApplyFilter(const Filter& f, std::vector<uint8_t>& data);

    std::vector<uint8_t> window_;
    uint64_t mask_ = 0;
    uint64_t maxWindow_ = 0;
    uint64_t total_ = 0;    // absolute position of the next byte in the solid stream
    uint64_t written_ = 0;  // output handed to the sink up to here
    uint64_t fileStart_ = 0, fileEnd_ = 0;
    std::deque<Filter> filters_;
    std::vector<uint8_t> filterBuf_;
    Table main_, dist_, lowDist_, rep_;
    bool tablesRead_ = false;
    uint64_t oldDist_[4] = {};
    uint32_t lastLength_ = 0;
    bool ready_ = false;  // the state may be continued by a solid entry
};

}  // namespace varnok::rar
