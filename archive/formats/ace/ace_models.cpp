#include "archive/formats/ace/ace_models.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace varnok::ace {

namespace {

inline int SignedByte(int v) {
    return static_cast<int8_t>(static_cast<uint8_t>(v & 0xFF));
}

inline int BitLength(uint32_t v) {
    return v ? 32 - __builtin_clz(v) : 0;
}

// Bits a sound residual costs, by its byte value (0 for 0, up to 8 for -128).
constexpr std::array<uint8_t, 256> kSoundQuantizer = [] {
    std::array<uint8_t, 256> q{};
    for (int i = 1; i <= 128; ++i) {
        int bits = 0;
        for (int v = i; v; v >>= 1)
            ++bits;
        q[static_cast<size_t>(i)] = q[static_cast<size_t>(256 - i)] = static_cast<uint8_t>(bits);
    }
    return q;
}();

// Channel of each of four successive samples, per sound mode, and the channels a mode has.
constexpr int kUseChannel[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 0, 2}, {1, 0, 2, 0}};
constexpr int kChannels[4] = {1, 2, 3, 3};

// PIC: the nine-step quantizer of a neighbour difference (-255..255).
inline int PicQuantize(int v) {
    if (v <= -21) return -4;
    if (v <= -7) return -3;
    if (v <= -3) return -2;
    if (v <= -1) return -1;
    if (v == 0) return 0;
    if (v <= 2) return 1;
    if (v <= 6) return 2;
    if (v <= 20) return 3;
    return 4;
}

// PIC: bits of a prediction error, by its byte value.
constexpr std::array<uint8_t, 256> kDifBitWidth = [] {
    std::array<uint8_t, 256> t{};
    auto length = [](int v) {
        int bits = 0;
        for (; v; v >>= 1)
            ++bits;
        return bits;
    };
    for (int i = 0; i < 128; ++i)
        t[static_cast<size_t>(i)] = static_cast<uint8_t>(length(2 * i));
    for (int i = -128; i < 0; ++i)
        t[static_cast<size_t>(i + 256)] = static_cast<uint8_t>(length(-2 * i - 1));
    return t;
}();

constexpr int kPicContexts = 365;
// A Golomb-Rice value above this cannot come from 8-bit pixels (residuals stay within -255..255).
constexpr uint32_t kMaxRiceValue = 1023;

}  // namespace

// ---- SOUND ----

void SoundModel::Reset(int variant) {
    variant_ = std::clamp(variant, 0, 3);
    channels_ = kChannels[variant_];
    for (Channel& c : channel_)
        c = Channel{};
    symbolsLeft_ = 0;
}

int SoundModel::Channel::PredictedSample() const {
    return ((8 * lastSample + rarCoeff[0] * rarDifCnt[0] + rarCoeff[1] * rarDifCnt[1] +
             rarCoeff[2] * rarDifCnt[2] + rarCoeff[3] * rarDifCnt[3]) >>
            3) &
           0xFF;
}

int SoundModel::Channel::Predict() const {
    return predDifCnt[0] > predDifCnt[1] ? lastSample : PredictedSample();
}

void SoundModel::Channel::Adjust(int sample) {
    ++byteCount;
    const int predDif = SignedByte(PredictedSample() - sample) * 8;
    rarDif[0] += std::abs(predDif - rarDifCnt[0]);
    rarDif[1] += std::abs(predDif + rarDifCnt[0]);
    rarDif[2] += std::abs(predDif - rarDifCnt[1]);
    rarDif[3] += std::abs(predDif + rarDifCnt[1]);
    rarDif[4] += std::abs(predDif - rarDifCnt[2]);
    rarDif[5] += std::abs(predDif + rarDifCnt[2]);
    rarDif[6] += std::abs(predDif - rarDifCnt[3]);
    rarDif[7] += std::abs(predDif + rarDifCnt[3]);
    rarDif[8] += std::abs(predDif);

    lastDelta = SignedByte(sample - lastSample);
    predDifCnt[0] += kSoundQuantizer[static_cast<size_t>((predDif >> 3) & 0xFF)];
    predDifCnt[1] += kSoundQuantizer[static_cast<size_t>((lastSample - sample) & 0xFF)];
    lastSample = sample;

    if ((byteCount & 0x1F) == 0) {
        int minDif = 0xFFFF, minPos = 8;
        for (int i = 8; i >= 0; --i) {
            if (rarDif[i] <= minDif) {
                minDif = rarDif[i];
                minPos = i;
            }
            rarDif[i] = 0;
        }
        if (minPos != 8) {
            const int i = minPos >> 1;
            if ((minPos & 1) == 0) {
                if (rarCoeff[i] >= -16) --rarCoeff[i];
            } else {
                if (rarCoeff[i] <= 16) ++rarCoeff[i];
            }
        }
        if ((byteCount & 0xFF) == 0) {
            for (int i = 0; i < 2; ++i) {
                predDifCnt[i] -= lastPredDifCnt[i];
                lastPredDifCnt[i] = predDifCnt[i];
            }
        }
    }
    rarDifCnt[3] = rarDifCnt[2];
    rarDifCnt[2] = rarDifCnt[1];
    rarDifCnt[1] = lastDelta - rarDifCnt[0];
    rarDifCnt[0] = lastDelta;
}

MsbBitReader SoundModel::Run(MsbBitReader br, LzByte* out, size_t room, uint64_t& index, uint64_t limit,
                             size_t* made, ModelStop* stop) {
    size_t n = 0;
    *stop = ModelStop::Room;
    while (n < room && index < limit) {
        const int ch = kUseChannel[variant_][index & 3];
        if (ch >= channels_) {  // cannot happen with the tables above; kept as a guard
            *stop = ModelStop::Corrupt;
            break;
        }
        Channel& c = channel_[ch];
        if (c.getState != 2) {
            if (symbolsLeft_ == 0) {
                for (int m = 0; m < channels_ * 3; ++m) {
                    bool ok = false;
                    br = ReadCode(br, code_[m], kMaxWidth, kNumCodes, &ok);
                    if (!ok) {
                        *stop = br.PastEnd() ? ModelStop::PastEnd : ModelStop::Corrupt;
                        *made = n;
                        return br;
                    }
                }
                symbolsLeft_ = br.Get(15);
            }
            --symbolsLeft_;
            int model = c.getState << 1;
            if (model == 0) model += c.adaptModelUse;
            model += 3 * ch;
            br.Refill();
            const uint32_t code = code_[model].Decode(br);
            if (br.PastEnd()) {
                *stop = ModelStop::PastEnd;
                break;
            }
            if (code == kTypeCode) {
                *stop = ModelStop::Mode;
                break;
            }
            if (code > kTypeCode) {  // kInvalid, or a width given to a symbol past the alphabet
                *stop = ModelStop::Corrupt;
                break;
            }
            c.getCode = code;
        }
        int value = 0;
        if (c.getState == 0) {
            if (c.getCode >= static_cast<uint32_t>(kRunLenCodes)) {
                value = static_cast<int>(c.getCode) - kRunLenCodes;
                c.adaptModelCnt = ((c.adaptModelCnt * 7) >> 3) + value;
                c.adaptModelUse = c.adaptModelCnt > 40 ? 1 : 0;
            } else {
                c.getState = 2;
            }
        } else if (c.getState == 1) {
            value = static_cast<int>(c.getCode);
            c.getState = 0;
        }
        if (c.getState == 2) {
            if (c.getCode == 0)
                c.getState = 1;
            else
                --c.getCode;
            value = 0;
        }
        const int residual = (value & 1) ? 255 - (value >> 1) : value >> 1;
        const int sample = (residual + c.Predict()) & 0xFF;
        out[n++] = static_cast<LzByte>(sample);
        c.Adjust(SignedByte(sample));
        ++index;
    }
    *made = n;
    return br;
}

// ---- PIC ----

namespace {

// A Golomb-Rice code: `bits` low bits, then the high part in unary (1s ended by a 0). False when the value
// grows past what the format can produce.
inline bool ReadRice(MsbBitReader& br, int bits, uint32_t* value) {
    uint32_t v = br.Get(bits);
    while (br.GetBit()) {
        v += 1u << bits;
        if (v > kMaxRiceValue || br.PastEnd()) return false;
    }
    *value = v;
    return true;
}

}  // namespace

MsbBitReader PicModel::Reset(MsbBitReader br, bool* ok) {
    *ok = false;
    uint32_t width = 0, planes = 0;
    // The width's unary part may be long (12 low bits, then steps of 4096).
    width = br.Get(12);
    while (br.GetBit()) {
        width += 1u << 12;
        if (width > kMaxRow || br.PastEnd()) return br;
    }
    planes = br.Get(2);
    while (br.GetBit()) {
        planes += 1u << 2;
        if (planes > kMaxRow || br.PastEnd()) return br;
    }
    if (width == 0 || planes == 0 || uint64_t{width} + planes > kMaxRow) return br;
    width_ = width;
    planes_ = planes;
    prev_.assign(width_ + planes_, 0);
    row_.assign(width_ + planes_, 0);
    rowPos_ = rowLen_ = 0;
    for (auto& m : models_)
        m.assign(kPicContexts, Context{});
    *ok = true;
    return br;
}

int PicModel::Predict(const Pixels& p, int predictor) {
    switch (predictor) {
        case 0:
            return p.a;
        case 1:
            return p.b;
        case 2:
            return (p.a + p.b) >> 1;
        default:
            return (p.a + p.b - p.c) & 0xFF;
    }
}

bool PicModel::Row(MsbBitReader& br) {
    std::swap(prev_, row_);  // prev_ is now the last row; row_ is rewritten below
    std::fill(row_.begin(), row_.end(), uint8_t{0});
    const size_t w = width_, planes = planes_;
    for (size_t plane = 0; plane < planes; ++plane) {
        std::vector<Context>& contexts = models_[plane == 0 ? 0 : 1];
        Pixels p;
        if (plane == 0) {
            p.kind = 0;
        } else {
            p.kind = static_cast<int>(br.Get(2));
            if (p.kind == 3) return false;
            p.a = p.b = p.c = p.x = 128;
        }
        auto setD = [&](int here, int ref) {
            if (p.kind == 0)
                p.d = here;
            else if (p.kind == 1)
                p.d = (128 + here - ref) & 0xFF;
            else
                p.d = (128 + here - ((ref * 11) >> 4)) & 0xFF;
        };
        setD(prev_[plane], plane ? prev_[plane - 1] : 0);
        for (size_t col = plane; col < w; col += planes) {
            p.c = p.a;
            p.a = p.d;
            p.b = p.x;
            setD(prev_[col + planes], prev_[col + planes - 1]);
            const int q = 81 * PicQuantize(p.d - p.a) + 9 * PicQuantize(p.a - p.c) + PicQuantize(p.c - p.b);
            Context& ctx = contexts[static_cast<size_t>(std::abs(q))];

            ++ctx.used;
            const int bits = BitLength(static_cast<uint32_t>(ctx.average / ctx.used));
            uint32_t rice = 0;
            if (!ReadRice(br, bits, &rice)) return false;
            const int eps = (rice & 1) ? -static_cast<int>(rice >> 1) - 1 : static_cast<int>(rice >> 1);
            p.x = (Predict(p, ctx.predictor) + eps) & 0xFF;
            ctx.average += std::abs(eps);
            if (ctx.used == 128) {
                ctx.used >>= 1;
                ctx.average >>= 1;
            }
            int best = 0;
            bool halve = false;
            for (int i = 0; i < 4; ++i) {
                ctx.errors[i] += kDifBitWidth[static_cast<size_t>((p.x - Predict(p, i)) & 0xFF)];
                if (i == 0 || ctx.errors[i] < ctx.errors[best]) best = i;
                halve |= ctx.errors[i] > 0x7F;
            }
            ctx.predictor = best;
            if (halve) {
                for (int& e : ctx.errors)
                    e >>= 1;
            }

            const int left = col ? row_[col - 1] : 0;
            int v;
            if (p.kind == 0)
                v = p.x;
            else if (p.kind == 1)
                v = (p.x + left - 128) & 0xFF;
            else
                v = (p.x + ((left * 11) >> 4) - 128) & 0xFF;
            row_[col] = static_cast<uint8_t>(v);
        }
        if (br.PastEnd()) return true;  // the caller sees the overrun
    }
    return true;
}

MsbBitReader PicModel::Run(MsbBitReader br, LzByte* out, size_t room, size_t* made, ModelStop* stop) {
    size_t n = 0;
    *stop = ModelStop::Room;
    while (n < room) {
        if (rowPos_ < rowLen_) {
            const size_t k = std::min(room - n, rowLen_ - rowPos_);
            std::copy_n(row_.data() + rowPos_, k, out + n);
            rowPos_ += k;
            n += k;
            continue;
        }
        const uint32_t more = br.GetBit();
        if (br.PastEnd()) {
            *stop = ModelStop::PastEnd;
            break;
        }
        if (!more) {
            *stop = ModelStop::Mode;
            break;
        }
        if (!Row(br)) {
            *stop = br.PastEnd() ? ModelStop::PastEnd : ModelStop::Corrupt;
            break;
        }
        if (br.PastEnd()) {
            *stop = ModelStop::PastEnd;
            break;
        }
        rowPos_ = 0;
        rowLen_ = width_;
    }
    *made = n;
    return br;
}

}  // namespace varnok::ace
