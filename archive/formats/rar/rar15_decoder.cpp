#include "archive/formats/rar/rar15_decoder.h"

#include <cstring>
#include <iterator>

#include "archive/core/errors.h"

namespace varnok::rar {

namespace {

// The fixed codes, as runs of (code length, symbols of that length) in symbol order; every one is complete.
struct Run {
    uint8_t bits;
    uint16_t count;
};
constexpr Run kPlace0[] = {{4, 8}, {5, 8}, {6, 8}, {7, 9}, {12, 224}};
constexpr Run kPlace1[] = {{5, 4}, {6, 40}, {7, 16}, {8, 16}, {9, 4}, {11, 47}, {12, 130}};
constexpr Run kPlace2[] = {{5, 2}, {6, 5}, {7, 46}, {8, 64}, {9, 116}, {10, 24}};
constexpr Run kPlace3[] = {{6, 2}, {7, 14}, {8, 202}, {9, 33}, {10, 6}};
constexpr Run kPlace4[] = {{8, 255}, {9, 2}};
constexpr Run kLength1[] = {{2, 2}, {3, 1}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {12, 224}};
constexpr Run kLength2[] = {{3, 5}, {4, 2}, {5, 2}, {6, 4}, {7, 5}, {8, 4}, {9, 4}, {10, 8}, {11, 2}, {12, 220}};

// The short-match selector codes (at most 8 bits): symbol s is the top len[s] bits of prefix[s]. Two sets,
// chosen by the short-length average; in each, one symbol's length is toggled by a code in the stream.
constexpr uint8_t kShortLenA[15] = {1, 3, 4, 4, 5, 6, 7, 8, 8, 4, 4, 5, 6, 6, 4};
constexpr uint8_t kShortPrefixA[15] = {0x00, 0xa0, 0xd0, 0xe0, 0xf0, 0xf8, 0xfc, 0xfe,
                                       0xff, 0xc0, 0x80, 0x90, 0x98, 0x9c, 0xb0};
constexpr int kShortToggledA = 1;
constexpr uint8_t kShortLenB[15] = {2, 3, 3, 3, 4, 4, 5, 6, 6, 4, 4, 5, 6, 6, 4};
constexpr uint8_t kShortPrefixB[15] = {0x00, 0x40, 0x60, 0xa0, 0xd0, 0xe0, 0xf0, 0xf8,
                                       0xfc, 0xc0, 0x80, 0x90, 0x98, 0x9c, 0xb0};
constexpr int kShortToggledB = 3;

struct Codes {
    RarHuffman place[5];
    RarHuffman length1, length2;
    // [set * 2 + toggled][next 8 bits] = bits << 4 | symbol
    uint8_t shortCode[4][256] = {};

    Codes() {
        Build(place[0], kPlace0, std::size(kPlace0));
        Build(place[1], kPlace1, std::size(kPlace1));
        Build(place[2], kPlace2, std::size(kPlace2));
        Build(place[3], kPlace3, std::size(kPlace3));
        Build(place[4], kPlace4, std::size(kPlace4));
        Build(length1, kLength1, std::size(kLength1));
        Build(length2, kLength2, std::size(kLength2));
        for (int set = 0; set < 2; ++set) {
            for (int toggled = 0; toggled < 2; ++toggled) {
                uint8_t len[15];
                std::memcpy(len, set ? kShortLenB : kShortLenA, sizeof len);
                const uint8_t* prefix = set ? kShortPrefixB : kShortPrefixA;
                len[set ? kShortToggledB : kShortToggledA] = static_cast<uint8_t>(3 + toggled);
                for (int v = 0; v < 256; ++v) {
                    // The first symbol whose code the bits start with (a shorter code hides a longer one).
                    for (int s = 0; s < 15; ++s) {
                        const uint32_t mask = (0xFF00u >> len[s]) & 0xFF;
                        if (((static_cast<uint32_t>(v) ^ prefix[s]) & mask) == 0) {
                            shortCode[set * 2 + toggled][v] = static_cast<uint8_t>(len[s] << 4 | s);
                            break;
                        }
                    }
                }
            }
        }
    }

    static void Build(RarHuffman& h, const Run* runs, size_t n) {
        uint8_t lens[257];
        int k = 0;
        for (size_t i = 0; i < n; ++i)
            for (int j = 0; j < runs[i].count; ++j)
                lens[k++] = runs[i].bits;
        h.Build(lens, k);
    }
};

const Codes& TheCodes() {
    static const Codes codes;
    return codes;
}

}  // namespace

uint32_t Rar15Decoder::PlaceList::Take(uint32_t place, uint32_t limit) {
    place &= 0xFF;
    uint32_t v = entry[place];
    if ((v & 0xFF) >= limit) {
        Renumber();
        v = entry[place];
    }
    const uint32_t to = counts[v & 0xFF]++ & 0xFF;
    entry[place] = entry[to];
    entry[to] = v + 1;
    return (v >> 8) & 0xFF;
}

void Rar15Decoder::PlaceList::Renumber() {
    // Counts start again from the order the values have reached: eight groups of 32, counts 7 down to 0.
    for (uint32_t i = 0; i < 256; ++i)
        entry[i] = (entry[i] & ~0xFFu) | (7 - i / 32);
    std::memset(counts, 0, sizeof counts);
    for (uint32_t c = 0; c < 7; ++c)
        counts[c] = (7 - c) * 32;
}

void Rar15Decoder::Reset() {
    window_.Reset();
    for (uint32_t i = 0; i < 256; ++i) {
        literals_.entry[i] = i << 8;
        distances_.entry[i] = i << 8;
        flagBytes_.entry[i] = ((0x100 - i) & 0xFF) << 8;
        nearDist_[i] = i;
    }
    std::memset(literals_.counts, 0, sizeof literals_.counts);
    std::memset(flagBytes_.counts, 0, sizeof flagBytes_.counts);
    distances_.Renumber();
    literalRun_ = 0;
    altShortCode_ = false;
    avgLiteral_ = 0x3500;
    avgShortLen_ = avgLongLen_ = avgLongPlace_ = avgNearMax_ = 0;
    maxDist_ = 0x2001;
    literalWeight_ = matchWeight_ = 0x80;
    std::memset(oldDist_, 0, sizeof oldDist_);
    oldDistPtr_ = 0;
    lastDist_ = lastLen_ = 0;
    broken_ = false;
}

bool Rar15Decoder::Fail(int code, const char* why) {
    if (!errorCode_) {
        errorCode_ = code;
        error_ = why;
    }
    return false;
}

bool Rar15Decoder::Copy(uint32_t dist, uint32_t len) {
    if (len == 0) return true;
    if (!window_.Reaches(dist)) return Fail(E_CorruptInput, "a match reaching before the start of the data");
    const uint64_t left = end_ - window_.filled;
    if (len > left) len = static_cast<uint32_t>(left);  // a match never runs into the next entry
    window_.Copy(dist, len);
    return true;
}

bool Rar15Decoder::FlagBit(RarBits& br, bool& bit) {
    if (flagBits_ == 0) {
        const uint32_t place = TheCodes().place[2].Decode(br);
        if (place >= 256) return Fail(E_InvalidCode, "an invalid flags code");
        flags_ = flagBytes_.Take(place, 0xFF);
        flagBits_ = 8;
    }
    --flagBits_;
    bit = (flags_ >> flagBits_) & 1;
    return true;
}

bool Rar15Decoder::Literal(RarBits& br) {
    const Codes& c = TheCodes();
    const int table = avgLiteral_ < 0xE00 ? 0 : avgLiteral_ < 0x3600 ? 1 : avgLiteral_ < 0x5E00 ? 2 : avgLiteral_ < 0x7600 ? 3 : 4;
    uint32_t place = c.place[table].Decode(br);
    if (place > 256) return Fail(E_InvalidCode, "an invalid literal code");
    if (literalMode_) {
        if (place == 0) {
            // The escape: leave the mode, or a short copy from up to 8 KiB back.
            if (br.Get(1)) {
                literalMode_ = false;
                literalRun_ = 0;
                return true;
            }
            const uint32_t len = br.Get(1) ? 4 : 3;
            const uint32_t high = c.place[2].Decode(br);
            if (high > 256) return Fail(E_InvalidCode, "an invalid distance code");
            return Copy(high << 5 | br.Get(5), len);
        }
        --place;
    } else {
        place &= 0xFF;
        if (literalRun_ >= 16) {
            if (flagBits_ == 0) literalMode_ = true;
        } else {
            ++literalRun_;
        }
    }
    avgLiteral_ += place;
    avgLiteral_ -= avgLiteral_ >> 8;
    literalWeight_ += 16;
    if (literalWeight_ > 0xFF) {
        literalWeight_ = 0x90;
        matchWeight_ >>= 1;
    }
    window_.Put(static_cast<uint8_t>(literals_.Take(place, 0xA1)));
    return true;
}

bool Rar15Decoder::LongMatch(RarBits& br) {
    const Codes& c = TheCodes();
    literalRun_ = 0;
    matchWeight_ += 16;
    if (matchWeight_ > 0xFF) {
        matchWeight_ = 0x90;
        literalWeight_ >>= 1;
    }
    uint32_t raw;
    if (avgLongLen_ >= 122) {
        raw = c.length2.Decode(br);
    } else if (avgLongLen_ >= 64) {
        raw = c.length1.Decode(br);
    } else {
        // Unary: up to eight zeros and a one; eight zeros are followed by the length in 8 bits.
        raw = 0;
        while (raw < 8 && br.Get(1) == 0)
            ++raw;
        if (raw == 8) raw = br.Get(8);
    }
    if (raw >= 256) return Fail(E_InvalidCode, "an invalid length code");
    const int table = avgLongPlace_ < 0x700 ? 0 : avgLongPlace_ < 0x2900 ? 1 : 2;
    const uint32_t place = c.place[table].Decode(br);
    if (place > 256) return Fail(E_InvalidCode, "an invalid distance code");
    avgLongPlace_ += place;
    avgLongPlace_ -= avgLongPlace_ >> 8;
    const uint32_t dist = distances_.Take(place, 0xFF) << 7 | br.Get(7);

    uint32_t len = raw + 3;
    if (dist >= maxDist_) ++len;
    if (dist <= 256) len += 8;
    const uint32_t oldNearMax = avgNearMax_, oldLongLen = avgLongLen_;
    if (raw == 0 && dist <= maxDist_) {
        ++avgNearMax_;
        avgNearMax_ -= avgNearMax_ >> 8;
    } else if (raw != 1 && raw != 4 && avgNearMax_ > 0) {
        --avgNearMax_;
    }
    maxDist_ = oldNearMax > 0xB0 || (avgLiteral_ >= 0x2A00 && oldLongLen < 0x40) ? 0x7F00 : 0x2001;
    avgLongLen_ += raw;
    avgLongLen_ -= avgLongLen_ >> 5;

    oldDist_[oldDistPtr_++ & 3] = dist;
    lastDist_ = dist;
    lastLen_ = len;
    return Copy(dist, len);
}

bool Rar15Decoder::ShortMatch(RarBits& br) {
    const Codes& c = TheCodes();
    literalRun_ = 0;
    if (repeatCount_ == 2) {
        if (br.Get(1)) return Copy(lastDist_, lastLen_);
        repeatCount_ = 0;
    }
    const int set = avgShortLen_ < 37 ? 0 : 1;
    const uint8_t code = c.shortCode[set * 2 + (altShortCode_ ? 1 : 0)][br.Peek(8)];
    br.Skip(code >> 4);
    const uint32_t sel = code & 0xF;

    if (sel < 9) {
        // A distance from the list of the nearest 256, which moves it one place ahead.
        repeatCount_ = 0;
        avgShortLen_ += sel;
        avgShortLen_ -= avgShortLen_ >> 4;
        const uint32_t place = c.place[2].Decode(br);
        if (place > 256) return Fail(E_InvalidCode, "an invalid distance code");
        const uint32_t p = place & 0xFF;
        const uint32_t d = nearDist_[p];
        if (p) {
            nearDist_[p] = nearDist_[p - 1];
            nearDist_[p - 1] = d;
        }
        const uint32_t dist = d + 1, len = sel + 2;
        oldDist_[oldDistPtr_++ & 3] = dist;
        lastDist_ = dist;
        lastLen_ = len;
        return Copy(dist, len);
    }
    if (sel == 9) {
        ++repeatCount_;
        return Copy(lastDist_, lastLen_);
    }
    if (sel < 14) {
        // One of the last four distances with a coded length; one length value toggles the selector code.
        repeatCount_ = 0;
        const uint32_t dist = oldDist_[(oldDistPtr_ - (sel - 9)) & 3];
        const uint32_t l = c.length1.Decode(br);
        if (l >= 256) return Fail(E_InvalidCode, "an invalid length code");
        uint32_t len = l + 2;
        if (len == 0x101 && sel == 10) {
            altShortCode_ = !altShortCode_;
            return true;
        }
        if (dist > 256) ++len;
        if (dist >= maxDist_) ++len;
        oldDist_[oldDistPtr_++ & 3] = dist;
        lastDist_ = dist;
        lastLen_ = len;
        return Copy(dist, len);
    }
    // A far match: 32 to 64 KiB back.
    repeatCount_ = 0;
    const uint32_t l = c.length2.Decode(br);
    if (l >= 256) return Fail(E_InvalidCode, "an invalid length code");
    const uint32_t len = l + 5;
    const uint32_t dist = br.Get(15) + 0x8000;
    lastDist_ = dist;
    lastLen_ = len;
    return Copy(dist, len);
}

DecodeResult Rar15Decoder::Decode(ByteSource& src, ByteSink& sink, uint64_t unpackedSize, bool solid,
                                  const CancelFlag* cancel) {
    CodecInput in(src, cancel);
    RarBits br(in);
    RarEntryOutput out(sink, unpackedSize, cancel);
    errorCode_ = 0;
    error_.clear();
    if (!solid || !started_) Reset();
    started_ = true;
    flagBits_ = 0;
    literalMode_ = false;
    repeatCount_ = 0;
    end_ = window_.filled + unpackedSize;
    uint32_t wr = window_.pos;
    bool ok = true;
    if (broken_) ok = Fail(E_CorruptInput, "an earlier entry of the solid stream failed");
    uint64_t items = 0;
    auto flush = [&] {
        out.WriteRing(window_.Data(), wr, window_.pos);
        wr = window_.pos;
    };
    while (ok && window_.filled < end_) {
        if ((++items & 0x3FFF) == 0) {
            flush();
            if (IsCancelled(cancel)) {
                ok = Fail(E_UserCanceled, "cancelled");
                break;
            }
        }
        if (((window_.pos - wr) & RarWindow::kMask) > RarWindow::kSize - 4096) flush();
        if (br.Overrun()) {
            ok = Fail(E_UnexpectedEof, "the packed data end early");
            break;
        }
        if (literalMode_) {
            ok = Literal(br);
            continue;
        }
        // The flags say: the kind expected now, else the other kind, else a short match.
        const bool expectMatch = matchWeight_ > literalWeight_;
        bool bit = false;
        if (!FlagBit(br, bit)) {
            ok = false;
            break;
        }
        if (bit) {
            ok = expectMatch ? LongMatch(br) : Literal(br);
            continue;
        }
        if (!FlagBit(br, bit)) {
            ok = false;
            break;
        }
        if (bit)
            ok = expectMatch ? Literal(br) : LongMatch(br);
        else
            ok = ShortMatch(br);
    }
    if (ok && br.Overrun()) ok = Fail(E_UnexpectedEof, "the packed data end early");
    if (ok) flush();
    if (ok && out.Written() < unpackedSize) ok = Fail(E_UnexpectedEof, "the packed data end early");
    if (!ok) {
        broken_ = true;
        flush();
        if (in.Cancelled() || IsCancelled(cancel)) {
            errorCode_ = E_UserCanceled;
            error_ = "cancelled";
        } else if (br.Overrun()) {
            // Whatever the invented bits decoded to, the cause is the end of the data.
            errorCode_ = E_UnexpectedEof;
            error_ = "the packed data end early";
        }
        const DecodeStatus st = errorCode_ == E_UserCanceled    ? DecodeStatus::Cancelled
                                : errorCode_ == E_UnexpectedEof ? DecodeStatus::Truncated
                                                                : DecodeStatus::Corrupt;
        return MakeResult(st, errorCode_, out.Written(), br.ConsumedBytes());
    }
    return MakeResult(DecodeStatus::Ok, 0, out.Written(), br.ConsumedBytes());
}

}  // namespace varnok::rar
