// Quantum compressor for cabinet folders.
//
// The window buffer and the hash-chain match finder work as in the LZX compressor (absolute positions,
// one link per window position, the buffer slid by one move when full). Parsing is lazy for levels 3 and
// up and greedy below; the level sets the chain depth (4 at level 1 up to 256 at level 7). Matches are
// weighed with a fixed estimate of their cost in bits, since an adaptive arithmetic coder has no fixed
// code lengths to read it from; a length-3 match must lie within the length-3 model's offsets (4 KiB
// for large windows) and a length-4 one within the length-4 model's (256 KiB).
//
// The arithmetic coder is the classic 16-bit low/high coder with underflow counting that the decoders'
// renormalisation loop implies; every shift of low and high is one code bit in the stream. Code bits
// are collected apart from the raw bits and the two are merged when the frame is flushed: the first 16
// code bits first, then, in coding order, each symbol's code bits followed by its raw bits.
#include "archive/codecs/quantum_encoder.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace varnok {

namespace {

constexpr uint32_t kNone = UINT32_MAX;
constexpr unsigned kMaxMatch = 259;

constexpr uint8_t kLengthBase[27] = {0,  1,  2,  3,  4,  5,  6,  8,   10,  12,  14,  18,  22, 26,
                                     30, 38, 46, 54, 62, 78, 94, 110, 126, 158, 190, 222, 254};
constexpr uint8_t kLengthExtra[27] = {0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};

unsigned OffsetSlot(uint32_t v) {  // v = offset - 1
    if (v < 4) return v;
    const unsigned hb = 31 - static_cast<unsigned>(std::countl_zero(v));
    return 2 * hb + ((v >> (hb - 1)) & 1);
}
unsigned SlotExtra(unsigned slot) { return slot < 4 ? 0 : slot / 2 - 1; }
uint32_t SlotBase(unsigned slot) {
    if (slot < 4) return slot;
    const unsigned e = SlotExtra(slot);
    return (2u | (slot & 1)) << e;
}
// The largest offset the first `slots` offset slots reach.
uint32_t MaxOffset(unsigned slots) { return SlotBase(slots - 1) + (1u << SlotExtra(slots - 1)); }

unsigned LengthSlot(unsigned l) {  // l = length - 5
    unsigned s = 26;
    while (kLengthBase[s] > l) --s;
    return s;
}

struct Model {
    unsigned entries = 0;
    int shiftsLeft = 4;
    uint16_t cum[65] = {};
    uint16_t sym[65] = {};

    void Init(unsigned n, unsigned start) {
        entries = n;
        shiftsLeft = 4;
        for (unsigned i = 0; i <= n; ++i) {
            sym[i] = static_cast<uint16_t>(start + i);
            cum[i] = static_cast<uint16_t>(n - i);
        }
    }

    void Update(unsigned index) {
        for (unsigned k = 0; k <= index; ++k) cum[k] += 8;
        if (cum[0] <= 3800) return;
        if (--shiftsLeft) {
            for (int i = static_cast<int>(entries) - 1; i >= 0; --i) {
                cum[i] >>= 1;
                if (cum[i] <= cum[i + 1]) cum[i] = static_cast<uint16_t>(cum[i + 1] + 1);
            }
            return;
        }
        shiftsLeft = 50;
        for (unsigned i = 0; i < entries; ++i) cum[i] = static_cast<uint16_t>((cum[i] - cum[i + 1] + 1) >> 1);
        for (unsigned i = 0; i + 1 < entries; ++i)
            for (unsigned j = i + 1; j < entries; ++j)
                if (cum[i] < cum[j]) {
                    std::swap(cum[i], cum[j]);
                    std::swap(sym[i], sym[j]);
                }
        for (int i = static_cast<int>(entries) - 1; i >= 0; --i) cum[i] = static_cast<uint16_t>(cum[i] + cum[i + 1]);
    }
};

struct Effort {
    unsigned chain;
    unsigned nice;
    bool lazy;
};

Effort EffortOf(unsigned level) {
    static constexpr Effort kLevels[7] = {{4, 16, false},  {8, 32, false},  {16, 48, true},  {32, 64, true},
                                          {64, 128, true}, {128, 259, true}, {256, 259, true}};
    return kLevels[level - 1];
}

}  // namespace

struct QuantumEncoder::State {
    unsigned windowBits;
    uint32_t window;
    uint32_t windowMask;
    uint32_t wrap;  // matches do not cross multiples of this (the frame, or a smaller window)
    Effort effort;
    uint32_t max3, max4, maxLong;

    std::vector<uint8_t> buf;
    uint32_t base = 0, total = 0, inserted = 0;
    bool ended = false;
    size_t slack;
    static constexpr unsigned kHashBits = 16;
    std::vector<uint32_t> head, link;

    Model selector, literal[4], offset4, offset5, offset6, length6;

    // Coder state of the current frame.
    uint32_t low = 0, high = 0xFFFF;
    unsigned pending = 0;
    std::vector<uint8_t> codeBits;
    struct Event {
        uint32_t value;
        uint16_t count;  // code bits (raw == false) or raw bits
        bool raw;
    };
    std::vector<Event> events;

    explicit State(const QuantumEncoderParams& p)
        : windowBits(p.windowBits),
          window(1u << p.windowBits),
          windowMask((1u << p.windowBits) - 1),
          wrap(std::min<uint32_t>(1u << p.windowBits, kCabFrameSize)),
          effort(EffortOf(p.level)),
          slack(std::max<size_t>(size_t{1} << p.windowBits, size_t{1} << 18)),
          head(size_t{1} << kHashBits, kNone),
          link(size_t{1} << p.windowBits, kNone) {
        const unsigned slots = 2 * windowBits;
        max3 = std::min(MaxOffset(std::min(slots, 24u)), window);
        max4 = std::min(MaxOffset(std::min(slots, 36u)), window);
        maxLong = std::min(MaxOffset(slots), window);
        selector.Init(7, 0);
        for (unsigned i = 0; i < 4; ++i) literal[i].Init(64, 64 * i);
        offset4.Init(std::min(slots, 24u), 0);
        offset5.Init(std::min(slots, 36u), 0);
        offset6.Init(slots, 0);
        length6.Init(27, 0);
        buf.reserve(window + slack);
    }

    const uint8_t* At(uint32_t pos) const { return buf.data() + (pos - base); }

    uint32_t Hash(uint32_t pos) const {
        const uint8_t* p = At(pos);
        const uint32_t v = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
        return (v * 2654435761u) >> (32 - kHashBits);
    }

    void InsertUpTo(uint32_t limit) {
        limit = std::min(limit, total >= 2 ? total - 2 : 0);
        for (; inserted < limit; ++inserted) {
            const uint32_t h = Hash(inserted);
            link[inserted & windowMask] = head[h];
            head[h] = inserted;
        }
    }

    void AddFrame(std::span<const uint8_t> frame) {
        if (buf.size() + frame.size() > window + slack) {
            const size_t drop = buf.size() - window;
            buf.erase(buf.begin(), buf.begin() + static_cast<ptrdiff_t>(drop));
            base += static_cast<uint32_t>(drop);
        }
        buf.insert(buf.end(), frame.begin(), frame.end());
        total += static_cast<uint32_t>(frame.size());
    }

    // ---- arithmetic coder ----

    void Bit(unsigned b) {
        codeBits.push_back(static_cast<uint8_t>(b));
        for (; pending; --pending) codeBits.push_back(static_cast<uint8_t>(b ^ 1));
    }

    void CodeSlot() {
        if (!events.empty() && !events.back().raw && events.back().count < UINT16_MAX)
            ++events.back().count;
        else
            events.push_back({0, 1, false});
    }

    void Raw(uint32_t value, unsigned bits) {
        if (bits) events.push_back({value, static_cast<uint16_t>(bits), true});
    }

    void Encode(Model& m, unsigned value) {
        unsigned j = 0;
        while (m.sym[j] != value) ++j;
        const uint32_t range = high - low + 1;
        const uint32_t totalFreq = m.cum[0];
        const uint32_t newHigh = low + (m.cum[j] * range) / totalFreq - 1;
        const uint32_t newLow = low + (m.cum[j + 1] * range) / totalFreq;
        high = newHigh;
        low = newLow;
        m.Update(j);
        for (;;) {
            if ((low ^ high) & 0x8000) {
                if (!((low & 0x4000) && !(high & 0x4000))) break;
                ++pending;
                low &= 0x3FFF;
                high |= 0x4000;
            } else {
                Bit(low >> 15);
            }
            low = (low << 1) & 0xFFFF;
            high = ((high << 1) | 1) & 0xFFFF;
            CodeSlot();
        }
    }

    void Flush(std::vector<uint8_t>& out) {
        ++pending;
        Bit(low < 0x4000 ? 0 : 1);
        size_t next = 0;
        uint32_t acc = 0;
        unsigned n = 0;
        size_t written = 0;
        auto put = [&](uint32_t bit) {
            acc = (acc << 1) | bit;
            ++written;
            if (++n == 8) {
                out.push_back(static_cast<uint8_t>(acc));
                acc = 0;
                n = 0;
            }
        };
        auto code = [&]() -> uint32_t { return next < codeBits.size() ? codeBits[next++] : 0; };
        for (int i = 0; i < 16; ++i) put(code());
        for (const Event& e : events) {
            if (e.raw)
                for (int b = e.count - 1; b >= 0; --b) put((e.value >> b) & 1);
            else
                for (unsigned k = 0; k < e.count; ++k) put(code());
        }
        for (unsigned tail = 2 + ((14 - written % 8) & 7); tail; --tail) put(0);
        codeBits.clear();
        events.clear();
        low = 0;
        high = 0xFFFF;
        pending = 0;
    }

    // ---- symbols ----

    void Literal(uint8_t b) {
        Encode(selector, b >> 6);
        Encode(literal[b >> 6], b);
    }

    void Match(unsigned length, uint32_t offset) {
        const uint32_t v = offset - 1;
        const unsigned slot = OffsetSlot(v);
        if (length == 3) {
            Encode(selector, 4);
            Encode(offset4, slot);
        } else if (length == 4) {
            Encode(selector, 5);
            Encode(offset5, slot);
        } else {
            const unsigned l = length - 5;
            const unsigned ls = LengthSlot(l);
            Encode(selector, 6);
            Encode(length6, ls);
            Raw(l - kLengthBase[ls], kLengthExtra[ls]);
            Encode(offset6, slot);
        }
        Raw(v - SlotBase(slot), SlotExtra(slot));
    }

    // ---- parsing ----

    struct Choice {
        int gain = 0;
        unsigned length = 0;
        uint32_t offset = 0;
    };

    static int Cost(unsigned length, uint32_t offset) {
        const unsigned slot = OffsetSlot(offset - 1);
        int c = 5 + static_cast<int>(SlotExtra(slot));
        if (length >= 5) c += 4 + kLengthExtra[LengthSlot(length - 5)];
        return c;
    }

    bool Allowed(unsigned length, uint32_t offset) const {
        return length >= 5 ? offset <= maxLong : length == 4 ? offset <= max4 : offset <= max3;
    }

    Choice Best(uint32_t pos, unsigned limit) {
        Choice best;
        if (limit < 3) return best;
        InsertUpTo(pos);
        const uint8_t* cur = At(pos);
        unsigned bestLen = 2;
        uint32_t cand = head[Hash(pos)];
        for (unsigned depth = effort.chain; depth && cand != kNone; --depth) {
            const uint32_t off = pos - cand;
            if (off > maxLong || cand < base) break;
            const uint8_t* c = At(cand);
            if (c[bestLen] == cur[bestLen] && c[0] == cur[0] && c[1] == cur[1]) {
                unsigned n = 2;
                while (n < limit && c[n] == cur[n]) ++n;
                if (n > bestLen && Allowed(n, off)) {
                    const int gain = 6 * static_cast<int>(n) - Cost(n, off);
                    if (gain > best.gain) best = {gain, n, off};
                    bestLen = n;
                    if (n >= limit || n >= effort.nice) break;
                }
            }
            cand = link[cand & windowMask];
        }
        return best;
    }

    void EncodeFrame(std::span<const uint8_t> frame, std::vector<uint8_t>& out) {
        const uint32_t start = total;
        AddFrame(frame);
        const uint32_t end = total;
        uint32_t pos = start;
        while (pos < end) {
            const uint32_t stop = std::min(end, (pos / wrap + 1) * wrap);
            Choice c = Best(pos, std::min<uint32_t>(kMaxMatch, stop - pos));
            if (c.length && effort.lazy && c.length < effort.nice && pos + 1 < stop) {
                const Choice next = Best(pos + 1, std::min<uint32_t>(kMaxMatch, stop - pos - 1));
                if (next.gain > c.gain + 2) c = {};
            }
            if (!c.length) {
                Literal(*At(pos));
                ++pos;
                continue;
            }
            Match(c.length, c.offset);
            pos += c.length;
        }
        Flush(out);
        if (frame.size() < kCabFrameSize) ended = true;
    }
};

uint16_t QuantumTypeCompress(unsigned windowBits, unsigned level) {
    windowBits = std::clamp(windowBits, 10u, 21u);
    level = std::clamp(level, 1u, 7u);
    return static_cast<uint16_t>(2 | level << 4 | windowBits << 8);
}

QuantumEncoder::QuantumEncoder(const QuantumEncoderParams& params) : params_(params) {
    params_.windowBits = std::clamp(params_.windowBits, 10u, 21u);
    params_.level = std::clamp(params_.level, 1u, 7u);
}

QuantumEncoder::~QuantumEncoder() = default;

void QuantumEncoder::Reset() { state_.reset(); }

void QuantumEncoder::EncodeFrame(std::span<const uint8_t> frame, std::vector<uint8_t>& out) {
    if (frame.empty() || frame.size() > kCabFrameSize) throw std::invalid_argument("Quantum frame size out of range");
    if (state_ && state_->ended) throw std::invalid_argument("Quantum frame after a folder's last (short) frame");
    if (!state_) state_ = std::make_unique<State>(params_);
    state_->EncodeFrame(frame, out);
}

std::vector<uint8_t> QuantumEncoder::EncodeFrame(std::span<const uint8_t> frame) {
    std::vector<uint8_t> out;
    EncodeFrame(frame, out);
    return out;
}

std::vector<std::vector<uint8_t>> QuantumCompressFolder(std::span<const uint8_t> data,
                                                        const QuantumEncoderParams& params) {
    QuantumEncoder enc(params);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; at < data.size(); at += kCabFrameSize)
        frames.push_back(enc.EncodeFrame(data.subspan(at, std::min(kCabFrameSize, data.size() - at))));
    return frames;
}

}  // namespace varnok
