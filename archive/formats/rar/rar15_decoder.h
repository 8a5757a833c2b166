// The decoder of RAR 1.5 compression (version needed 15): an LZ coder with no transmitted tables.
//
// Every code is one of a few fixed prefix codes, chosen by running averages of what was decoded lately; the
// value a code gives is not the byte or distance itself but a place in an adaptive list, which moves each
// value towards the front as it is used (counts per value, renumbered when one overflows). A "flags" byte,
// itself coded that way, says for eight items whether each is the expected kind (literal or long match,
// whichever has been winning), the other one, or a short match. Short matches take a place in a list of
// the 256 nearest distances, a repeat of the last match, or one of the last four distances. After a long
// run of literals the coder switches to a mode of literals only, with an escape for short copies and for
// leaving the mode.
//
// The stream has no end marker: an entry ends where its size is reached, and the next entry of a solid
// archive goes on with the same window, lists, averages and distances (only the flag bits in hand, the
// literal mode and the repeat counter start afresh). The history is 64 KiB at most; the shared 4 MiB ring
// holds it.
#pragma once

#include <cstdint>
#include <string>

#include "archive/core/codec.h"
#include "archive/core/stream.h"
#include "archive/formats/rar/rar_lz_common.h"

namespace varnok::rar {

class Rar15Decoder {
  public:
    Rar15Decoder() = default;
    Rar15Decoder(const Rar15Decoder&) = delete;
    Rar15Decoder& operator=(const Rar15Decoder&) = delete;

    // Decodes one entry; solid: it continues the state of the entry decoded before.
    DecodeResult Decode(ByteSource& in, ByteSink& out, uint64_t unpackedSize, bool solid,
                        const CancelFlag* cancel = nullptr);
    const std::string& Error() const { return error_; }

  private:
    // An adaptive list: entry i holds (value << 8 | use count); counts[c] is where the values of count c begin.
    struct PlaceList {
        uint32_t entry[256] = {};
        uint32_t counts[256] = {};
        // The value at place i, which then moves ahead of the others of its count. limit: the count at which
        // the list is renumbered.
        uint32_t Take(uint32_t place, uint32_t limit);
        void Renumber();
    };

    void Reset();
    bool FlagBit(RarBits& br, bool& bit);
    bool Literal(RarBits& br);
    bool LongMatch(RarBits& br);
    bool ShortMatch(RarBits& br);
    bool Copy(uint32_t dist, uint32_t len);
    bool Fail(int code, const char* why);

    RarWindow window_;
    uint64_t end_ = 0;  // window_.filled at which the entry is complete

    PlaceList literals_, distances_, flagBytes_;
    uint32_t nearDist_[256] = {};  // the short-match distance list (plain values, moved one place per use)

    uint32_t flags_ = 0;
    int flagBits_ = 0;
    bool literalMode_ = false;
    uint32_t literalRun_ = 0;   // literals since the last match (saturates past the threshold)
    uint32_t repeatCount_ = 0;  // consecutive repeats of the last match
    bool altShortCode_ = false;

    uint32_t avgLiteral_ = 0, avgShortLen_ = 0, avgLongLen_ = 0, avgLongPlace_ = 0, avgNearMax_ = 0;
    uint32_t maxDist_ = 0;
    uint32_t literalWeight_ = 0, matchWeight_ = 0;

    uint32_t oldDist_[4] = {};
    uint32_t oldDistPtr_ = 0;
    uint32_t lastDist_ = 0, lastLen_ = 0;

    bool started_ = false, broken_ = false;
    int errorCode_ = 0;
    std::string error_;
};

}  // namespace varnok::rar
