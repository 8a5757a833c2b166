#include "archive/formats/rar/rar20_decoder.h"

#include <cstdlib>
#include <cstring>

#include "archive/core/errors.h"

namespace varnok::rar {

namespace {

constexpr uint32_t kDistStart[48] = {0,      1,      2,      3,      4,      6,      8,      12,     16,     24,
                                     32,     48,     64,     96,     128,    192,    256,    384,    512,    768,
                                     1024,   1536,   2048,   3072,   4096,   6144,   8192,   12288,  16384,  24576,
                                     32768,  49152,  65536,  98304,  131072, 196608, 262144, 327680, 393216, 458752,
                                     524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
constexpr uint8_t kDistBits[48] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
                                   11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
constexpr uint8_t kShortStarts[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

uint32_t SlotLength(RarBits& br, uint32_t slot) {
    if (slot < 8) return slot;
    const int bits = static_cast<int>(slot >> 2) - 1;
    return ((4 | (slot & 3)) << bits) + br.Get(bits);
}

}  // namespace

void Rar20Decoder::Reset() {
    window_.Reset();
    std::memset(lastLevels_, 0, sizeof lastLevels_);
    for (uint32_t& r : reps_)
        r = 0;
    repPtr_ = 0;
    lastLength_ = 0;
    audioMode_ = false;
    channels_ = 1;
    curChannel_ = 0;
    channelDelta_ = 0;
    for (Channel& c : audio_state_)
        c = Channel{};
    tablesOk_ = false;
    broken_ = false;
}

bool Rar20Decoder::Fail(int code, const char* why) {
    if (!errorCode_) {
        errorCode_ = code;
        error_ = why;
    }
    return false;
}

bool Rar20Decoder::ReadTables(RarBits& br) {
    tablesOk_ = false;
    audioMode_ = br.Get(1);
    if (!br.Get(1)) std::memset(lastLevels_, 0, sizeof lastLevels_);
    int count = kMainSize + kDistSize + kLenSize;
    if (audioMode_) {
        channels_ = static_cast<int>(br.Get(2)) + 1;
        if (curChannel_ >= channels_) curChannel_ = 0;
        count = channels_ * kAudioSize;
    }
    uint8_t levelLens[19];
    for (uint8_t& l : levelLens)
        l = static_cast<uint8_t>(br.Get(4));
    RarHuffman level;
    if (!level.Build(levelLens, 19)) return Fail(E_BadHuffmanCode, "damaged code-length table");
    uint8_t lens[kTablesSize];
    for (int i = 0; i < count;) {
        if (br.Overrun()) return Fail(E_UnexpectedEof, "the packed data end in a code table");
        const uint32_t sym = level.Decode(br);
        if (sym < 16) {
            lens[i] = static_cast<uint8_t>((sym + lastLevels_[i]) & 15);
            ++i;
        } else if (sym == 16) {
            if (i == 0) return Fail(E_BadHuffmanCode, "a code-length repeat with nothing before it");
            const uint8_t v = lens[i - 1];
            for (uint32_t n = br.Get(2) + 3; n && i < count; --n)
                lens[i++] = v;
        } else if (sym < 19) {
            for (uint32_t n = sym == 17 ? br.Get(3) + 3 : br.Get(7) + 11; n && i < count; --n)
                lens[i++] = 0;
        } else {
            return Fail(E_BadHuffmanCode, "damaged code-length table");
        }
    }
    if (br.Overrun()) return Fail(E_UnexpectedEof, "the packed data end in a code table");
    if (audioMode_) {
        for (int c = 0; c < channels_; ++c)
            if (!audio_[c].Build(lens + c * kAudioSize, kAudioSize))
                return Fail(E_BadHuffmanCode, "over-subscribed Huffman code lengths");
    } else if (!main_.Build(lens, kMainSize) || !dist_.Build(lens + kMainSize, kDistSize) ||
               !len_.Build(lens + kMainSize + kDistSize, kLenSize)) {
        return Fail(E_BadHuffmanCode, "over-subscribed Huffman code lengths");
    }
    std::memcpy(lastLevels_, lens, static_cast<size_t>(count));
    tablesOk_ = true;
    return true;
}

uint8_t Rar20Decoder::DecodeAudio(int delta) {
    Channel& v = audio_state_[curChannel_];
    v.d4 = v.d3;
    v.d3 = v.d2;
    v.d2 = v.lastDelta - v.d1;
    v.d1 = v.lastDelta;
    const int predicted =
        (8 * v.lastChar + v.k[0] * v.d1 + v.k[1] * v.d2 + v.k[2] * v.d3 + v.k[3] * v.d4 + v.k[4] * channelDelta_) >> 3;
    const uint8_t real = static_cast<uint8_t>(predicted - delta);
    const int d = static_cast<int>(static_cast<int8_t>(delta)) * 8;
    const int against[5] = {v.d1, v.d2, v.d3, v.d4, channelDelta_};
    v.dif[0] += static_cast<uint32_t>(std::abs(d));
    for (int i = 0; i < 5; ++i) {
        v.dif[1 + 2 * i] += static_cast<uint32_t>(std::abs(d - against[i]));
        v.dif[2 + 2 * i] += static_cast<uint32_t>(std::abs(d + against[i]));
    }
    channelDelta_ = v.lastDelta = static_cast<int8_t>(real - v.lastChar);
    v.lastChar = real;
    if ((++v.byteCount & 0x1F) == 0) {
        uint32_t minDif = v.dif[0], best = 0;
        v.dif[0] = 0;
        for (uint32_t i = 1; i < 11; ++i) {
            if (v.dif[i] < minDif) {
                minDif = v.dif[i];
                best = i;
            }
            v.dif[i] = 0;
        }
        if (best) {
            int& k = v.k[(best - 1) / 2];
            if (best & 1) {
                if (k >= -16) --k;
            } else if (k < 16) {
                ++k;
            }
        }
    }
    return real;
}

DecodeResult Rar20Decoder::Decode(ByteSource& src, ByteSink& sink, uint64_t unpackedSize, bool solid,
                                  const CancelFlag* cancel) {
    CodecInput in(src, cancel);
    RarBits br(in);
    RarEntryOutput out(sink, unpackedSize, cancel);
    errorCode_ = 0;
    error_.clear();
    if (!solid || !started_) Reset();
    started_ = true;
    const uint64_t start = window_.filled;
    uint32_t wr = window_.pos;
    bool ok = true;
    if (broken_) ok = Fail(E_CorruptInput, "an earlier entry of the solid stream failed");
    if (ok && unpackedSize && !solid && !ReadTables(br)) ok = false;
    if (ok && unpackedSize && !tablesOk_) ok = Fail(E_BadHuffmanCode, "no code tables");
    uint64_t items = 0;
    auto flush = [&] {
        out.WriteRing(window_.Data(), wr, window_.pos);
        wr = window_.pos;
    };
    while (ok && window_.filled - start < unpackedSize) {
        if ((++items & 0xFFFF) == 0) {
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
        if (audioMode_) {
            const uint32_t sym = audio_[curChannel_].Decode(br);
            if (sym == 256) {
                ok = ReadTables(br);
                continue;
            }
            if (sym > 256) {
                ok = Fail(E_InvalidCode, "an invalid audio code");
                break;
            }
            window_.Put(DecodeAudio(static_cast<int>(sym)));
            if (++curChannel_ == channels_) curChannel_ = 0;
            continue;
        }
        uint32_t sym = main_.Decode(br);
        if (sym < 256) {
            window_.Put(static_cast<uint8_t>(sym));
            continue;
        }
        uint32_t len, dist;  // dist: distance - 1
        if (sym >= 270) {
            if (sym >= static_cast<uint32_t>(kMainSize)) {
                ok = Fail(E_InvalidCode, "an invalid symbol");
                break;
            }
            len = SlotLength(br, sym - 270) + 3;
            const uint32_t ds = dist_.Decode(br);
            if (ds >= static_cast<uint32_t>(kDistSize)) {
                ok = Fail(E_InvalidCode, "an invalid distance code");
                break;
            }
            dist = kDistStart[ds] + br.Get(kDistBits[ds]);
            if (dist >= 0x2000 - 1) len += dist >= 0x40000 - 1 ? 2 : 1;
        } else if (sym == 256) {
            len = lastLength_;
            if (len == 0) {
                ok = Fail(E_CorruptInput, "a repeated match before any match");
                break;
            }
            dist = reps_[(repPtr_ + 3) & 3];
        } else if (sym < 261) {
            dist = reps_[(repPtr_ - (sym - 257 + 1)) & 3];
            const uint32_t ls = len_.Decode(br);
            if (ls >= static_cast<uint32_t>(kLenSize)) {
                ok = Fail(E_InvalidCode, "an invalid length code");
                break;
            }
            len = SlotLength(br, ls) + 2;
            if (dist >= 0x101 - 1) {
                ++len;
                if (dist >= 0x2000 - 1) len += dist >= 0x40000 - 1 ? 2 : 1;
            }
        } else if (sym < 269) {
            sym -= 261;
            dist = kShortStarts[sym] + br.Get(kShortBits[sym]);
            len = 2;
        } else {
            ok = ReadTables(br);
            continue;
        }
        reps_[repPtr_++ & 3] = dist;
        lastLength_ = len;
        if (!window_.Reaches(dist + 1)) {
            ok = Fail(E_CorruptInput, "a match reaching before the start of the data");
            break;
        }
        window_.Copy(dist + 1, len);
    }
    if (ok) {
        flush();
        // New tables for the next entry may follow this one's last code.
        const bool more = !br.Overrun() && !br.Exhausted() && br.HasBytes(5);
        if (more && tablesOk_) {
            const uint32_t sym = audioMode_ ? audio_[curChannel_].Decode(br) : main_.Decode(br);
            if (!br.Overrun() && sym == (audioMode_ ? 256u : 269u) && !ReadTables(br)) ok = false;
        }
    }
    if (ok && out.Written() < unpackedSize) ok = Fail(E_UnexpectedEof, "the packed data end early");
    if (!ok) {
        broken_ = true;
        flush();
        if (in.Cancelled() || IsCancelled(cancel)) {
            errorCode_ = E_UserCanceled;
            error_ = "cancelled";
        }
        const DecodeStatus st = errorCode_ == E_UserCanceled  ? DecodeStatus::Cancelled
                                : errorCode_ == E_UnexpectedEof ? DecodeStatus::Truncated
                                                                : DecodeStatus::Corrupt;
        return MakeResult(st, errorCode_, out.Written(), br.ConsumedBytes());
    }
    return MakeResult(DecodeStatus::Ok, 0, out.Written(), br.ConsumedBytes());
}

}  // namespace varnok::rar
