#include "tests/formats/ace/ace_test_writer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <stdexcept>

#include "archive/core/bytes.h"
#include "archive/core/crc.h"
#include "archive/formats/ace/ace_crypt.h"
#include "archive/formats/ace/ace_huffman.h"

namespace varnok::test::ace {

// ---- Bits and codes ----

void BitWriter::Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        word_ = (word_ << 1) | ((value >> i) & 1);
        ++bits_;
        if (++used_ == 32) {
            for (int k = 0; k < 4; ++k)
                out_.push_back(static_cast<uint8_t>(word_ >> (8 * k)));
            word_ = 0;
            used_ = 0;
        }
    }
}

std::vector<uint8_t> BitWriter::Finish() {
    if (used_) Put(0, 32 - used_);
    return std::move(out_);
}

namespace {

// Huffman code lengths for the counts, none above `limit` (counts are flattened until they fit).
std::vector<uint8_t> Lengths(std::vector<uint32_t> counts, int limit) {
    const size_t n = counts.size();
    std::vector<uint8_t> len(n, 0);
    for (;;) {
        struct Node {
            uint64_t weight;
            int index;
        };
        auto cmp = [](const Node& a, const Node& b) { return a.weight > b.weight; };
        std::priority_queue<Node, std::vector<Node>, decltype(cmp)> heap(cmp);
        std::vector<int> parent;
        for (size_t i = 0; i < n; ++i) {
            if (counts[i]) {
                heap.push({counts[i], static_cast<int>(parent.size())});
                parent.push_back(-1);
            }
        }
        std::vector<size_t> leafOf;
        for (size_t i = 0; i < n; ++i)
            if (counts[i]) leafOf.push_back(i);
        if (leafOf.empty()) return len;
        if (leafOf.size() == 1) {
            len[leafOf[0]] = 1;
            return len;
        }
        while (heap.size() > 1) {
            Node a = heap.top();
            heap.pop();
            Node b = heap.top();
            heap.pop();
            const int p = static_cast<int>(parent.size());
            parent.push_back(-1);
            parent[static_cast<size_t>(a.index)] = p;
            parent[static_cast<size_t>(b.index)] = p;
            heap.push({a.weight + b.weight, p});
        }
        int maxLen = 0;
        for (size_t k = 0; k < leafOf.size(); ++k) {
            int d = 0;
            for (int x = static_cast<int>(k); parent[static_cast<size_t>(x)] != -1; x = parent[static_cast<size_t>(x)])
                ++d;
            len[leafOf[k]] = static_cast<uint8_t>(d);
            maxLen = std::max(maxLen, d);
        }
        if (maxLen <= limit) return len;
        for (auto& c : counts)
            if (c) c = (c + 1) / 2;
    }
}

}  // namespace

Code Code::FromCounts(const std::vector<uint32_t>& counts, int maxWidth) {
    Code c;
    c.maxWidth = maxWidth;
    c.widths = Lengths(counts, maxWidth);
    c.codes.assign(counts.size(), 0);
    // The decoder's table gives each width its codes in the format's order, which depends on how many widths
    // are sent (the trailing zeros are not).
    std::vector<uint8_t> w = c.widths;
    while (w.size() > 1 && w.back() == 0)
        w.pop_back();
    if (w.empty()) w.push_back(0);
    varnok::ace::AceHuffman h;
    if (!h.Build(w.data(), static_cast<int>(w.size()), maxWidth)) throw std::logic_error("bad test code");
    std::vector<uint8_t> got(w.size());
    std::vector<uint32_t> codes(w.size());
    h.Codes(codes.data(), got.data(), static_cast<int>(w.size()));
    for (size_t i = 0; i < w.size(); ++i)
        if (c.widths[i]) c.codes[i] = codes[i];
    return c;
}

void Code::Write(BitWriter& w) const {
    constexpr uint32_t kUpper = 12;  // the delta modulus: above every width
    size_t count = widths.size();
    while (count > 1 && widths[count - 1] == 0)
        --count;
    if (count == 0) count = 1;
    w.Put(static_cast<uint32_t>(count - 1), 9);
    w.Put(0, 4);  // lower: widths are sent as they are
    w.Put(kUpper, 4);
    // The width code: 4 bits for each delta 0..11, none for the run symbol.
    uint8_t ww[kUpper + 1];
    for (uint32_t i = 0; i <= kUpper; ++i) {
        ww[i] = i < kUpper ? 4 : 0;
        w.Put(ww[i], 3);
    }
    varnok::ace::AceHuffman h;
    h.Build(ww, kUpper + 1, 7);
    uint32_t wcodes[kUpper + 1];
    uint8_t wwidths[kUpper + 1];
    h.Codes(wcodes, wwidths, kUpper + 1);
    uint8_t prev = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t cur = i < widths.size() ? widths[i] : 0;
        const uint32_t s = i == 0 ? cur : (cur + kUpper - prev) % kUpper;
        w.Put(wcodes[s], wwidths[s]);
        prev = cur;
    }
}

namespace {

void PutRice(BitWriter& w, uint32_t value, int bits) {
    if (bits) w.Put(value & ((1u << bits) - 1), bits);
    for (uint32_t q = value >> bits; q; --q)
        w.PutBit(true);
    w.PutBit(false);
}

int BitLength(uint32_t v) {
    int n = 0;
    for (; v; v >>= 1)
        ++n;
    return n;
}

void PutModeRecord(BitWriter& w, const ModeChange& m, int currentMode) {
    w.Put(static_cast<uint32_t>(m.mode), 8);
    if (m.mode == 1) {
        w.Put(static_cast<uint32_t>(m.deltaDist), 8);
        w.Put(m.deltaLen, 17);
    } else if (m.mode == 2) {
        w.Put(static_cast<uint32_t>(m.exeMode), 8);
    }
    if (m.mode == 7 && currentMode != 7) {
        PutRice(w, m.picWidth, 12);
        PutRice(w, m.picPlanes, 2);
    }
}

// ---- LZ77 ----

constexpr uint32_t kTypeCode = 283;

struct LzSymbol {
    uint16_t main = 0;
    int8_t extraBits = 0;
    uint32_t extra = 0;
    int16_t len = -1;  // length code, -1 for none
};

// The matcher over the window bytes of a chain (history grows as segments are encoded).
class Matcher {
  public:
    explicit Matcher(const LzOptions& o) : o_(o), head_(1 << 16, -1) {}

    std::vector<uint8_t> history;

    void Append(const uint8_t* p, size_t n) { history.insert(history.end(), p, p + n); }
    // Makes history[from, to) findable by later matches (bytes that entered the window without being coded).
    void Index(size_t from, size_t to) {
        prev_.resize(history.size(), -1);
        for (size_t p = from; p < to; ++p)
            Insert(p);
    }
    void NewFile() { std::fill(std::begin(rep_), std::end(rep_), 0u); }
    // Restarts the chain (a file that does not continue the one before).
    void Reset() {
        base_ = history.size();
        NewFile();
    }

    // Symbols for history[from, to); matches never reach past `to` nor before the chain's start.
    void Encode(size_t from, size_t to, std::vector<LzSymbol>& out) {
        const size_t dict = size_t{1} << o_.dictBits;
        prev_.resize(history.size(), -1);
        size_t p = from;
        while (p < to) {
            const size_t left = to - p;
            size_t bestLen = 0, bestDist = 0;
            int bestRep = -1;
            if (o_.matches && left >= 2) {
                for (int k = 0; k < 4; ++k) {
                    const size_t d = size_t{rep_[k]} + 1;
                    if (d > p - base_) continue;
                    const size_t maxLen = std::min<size_t>(left, (k > 1 ? 3 : 2) + 255);
                    size_t l = 0;
                    while (l < maxLen && history[p + l] == history[p - d + l])
                        ++l;
                    if (l >= static_cast<size_t>(k > 1 ? 3 : 2) && l > bestLen) {
                        bestLen = l;
                        bestRep = k;
                    }
                }
                if (left >= 3) {
                    int32_t cand = head_[Hash(p)];
                    for (int tries = 0; cand >= 0 && tries < 48; ++tries, cand = prev_[static_cast<size_t>(cand)]) {
                        const size_t c = static_cast<size_t>(cand);
                        if (c < base_) break;
                        const size_t d = p - c;
                        if (d > dict) break;
                        const size_t base = (d - 1) <= 255 ? 2 : (d - 1) <= 8191 ? 3 : 4;
                        const size_t maxLen = std::min<size_t>(left, base + 255);
                        size_t l = 0;
                        while (l < maxLen && history[p + l] == history[c + l])
                            ++l;
                        if (l >= base && l > bestLen + 1) {
                            bestLen = l;
                            bestDist = d;
                            bestRep = -1;
                        }
                    }
                }
            }
            if (bestLen == 0) {
                out.push_back({history[p], 0, 0, -1});
                Insert(p);
                ++p;
                continue;
            }
            LzSymbol s;
            if (bestRep >= 0) {
                const uint32_t d = rep_[bestRep];
                for (int k = bestRep; k > 0; --k)
                    rep_[k] = rep_[k - 1];
                rep_[0] = d;
                s.main = static_cast<uint16_t>(256 + bestRep);
                s.len = static_cast<int16_t>(bestLen - (bestRep > 1 ? 3 : 2));
            } else {
                const uint32_t d = static_cast<uint32_t>(bestDist - 1);
                rep_[3] = rep_[2];
                rep_[2] = rep_[1];
                rep_[1] = rep_[0];
                rep_[0] = d;
                const int bits = BitLength(d);
                s.main = static_cast<uint16_t>(260 + bits);
                if (bits >= 2) {
                    s.extraBits = static_cast<int8_t>(bits - 1);
                    s.extra = d - (1u << (bits - 1));
                }
                s.len = static_cast<int16_t>(bestLen - (d <= 255 ? 2 : d <= 8191 ? 3 : 4));
            }
            out.push_back(s);
            for (size_t k = 0; k < bestLen; ++k)
                Insert(p + k);
            p += bestLen;
        }
    }

  private:
    uint32_t Hash(size_t p) const {
        return ((history[p] << 8) ^ (history[p + 1] << 4) ^ history[p + 2] ^ (history[p + 1] * 2654435761u >> 20)) &
               0xFFFF;
    }
    void Insert(size_t p) {
        if (p + 2 >= history.size()) return;
        const uint32_t h = Hash(p);
        prev_[p] = head_[h];
        head_[h] = static_cast<int32_t>(p);
    }

    LzOptions o_;
    size_t base_ = 0;
    uint32_t rep_[4] = {};
    std::vector<int32_t> head_, prev_;
};

// Writes LZ77 symbols in blocks; the last symbol of the last block may be the mode change (`mode`).
void WriteLzSymbols(BitWriter& w, const std::vector<LzSymbol>& syms, const ModeChange* mode, int currentMode,
                    const LzOptions& o) {
    std::vector<LzSymbol> all = syms;
    if (mode) all.push_back({static_cast<uint16_t>(kTypeCode), 0, 0, -1});
    size_t at = 0;
    while (at < all.size()) {
        const size_t n = std::min<size_t>(all.size() - at, o.blockSymbols);
        std::vector<uint32_t> mainCounts(285, 0), lenCounts(256, 0);  // 284: a symbol past the alphabet (damage)
        for (size_t i = at; i < at + n; ++i) {
            ++mainCounts[all[i].main];
            if (all[i].len >= 0) ++lenCounts[static_cast<size_t>(all[i].len)];
        }
        const Code main = Code::FromCounts(mainCounts, 11);
        const Code len = Code::FromCounts(lenCounts, 11);
        main.Write(w);
        len.Write(w);
        w.Put(static_cast<uint32_t>(n), 15);
        for (size_t i = at; i < at + n; ++i) {
            const LzSymbol& s = all[i];
            main.Put(w, s.main);
            if (s.main == kTypeCode) {
                PutModeRecord(w, *mode, currentMode);
                continue;
            }
            if (s.extraBits) w.Put(s.extra, s.extraBits);
            if (s.len >= 0) len.Put(w, static_cast<uint32_t>(s.len));
        }
        at += n;
    }
}

// ---- SOUND ----

constexpr int kUseChannel[4][4] = {{0, 0, 0, 0}, {0, 1, 0, 1}, {0, 1, 0, 2}, {1, 0, 2, 0}};
constexpr int kChannels[4] = {1, 2, 3, 3};

int Signed8(int v) {
    return static_cast<int8_t>(static_cast<uint8_t>(v & 0xFF));
}

int SoundQuant(int v) {
    v &= 0xFF;
    if (v == 0) return 0;
    const int m = v <= 128 ? v : 256 - v;
    return BitLength(static_cast<uint32_t>(m));
}

struct SoundChannel {
    int predDifCnt[2] = {}, lastPredDifCnt[2] = {}, difCnt[4] = {}, coeff[4] = {}, dif[9] = {};
    uint32_t count = 0;
    int last = 0, lastDelta = 0;
    int state = 0;  // as the decoder sees it: 0 coded, 1 after a run, 2 inside a run
    int runLeft = 0;

    int Predicted() const {
        return ((8 * last + coeff[0] * difCnt[0] + coeff[1] * difCnt[1] + coeff[2] * difCnt[2] + coeff[3] * difCnt[3]) >>
                3) &
               0xFF;
    }
    int Predict() const { return predDifCnt[0] > predDifCnt[1] ? last : Predicted(); }
    void Adjust(int s) {
        ++count;
        const int pd = Signed8(Predicted() - s) * 8;
        for (int k = 0; k < 4; ++k) {
            dif[2 * k] += std::abs(pd - difCnt[k]);
            dif[2 * k + 1] += std::abs(pd + difCnt[k]);
        }
        dif[8] += std::abs(pd);
        lastDelta = Signed8(s - last);
        predDifCnt[0] += SoundQuant(pd >> 3);
        predDifCnt[1] += SoundQuant(last - s);
        last = s;
        if ((count & 0x1F) == 0) {
            int best = 0xFFFF, at = 8;
            for (int i = 8; i >= 0; --i) {
                if (dif[i] <= best) {
                    best = dif[i];
                    at = i;
                }
                dif[i] = 0;
            }
            if (at != 8) {
                const int i = at >> 1;
                if ((at & 1) == 0) {
                    if (coeff[i] >= -16) --coeff[i];
                } else if (coeff[i] <= 16) {
                    ++coeff[i];
                }
            }
            if ((count & 0xFF) == 0) {
                for (int i = 0; i < 2; ++i) {
                    predDifCnt[i] -= lastPredDifCnt[i];
                    lastPredDifCnt[i] = predDifCnt[i];
                }
            }
        }
        difCnt[3] = difCnt[2];
        difCnt[2] = difCnt[1];
        difCnt[1] = lastDelta - difCnt[0];
        difCnt[0] = lastDelta;
    }
};

int SoundValue(int sample, int predicted) {
    const int r = (sample - predicted) & 0xFF;
    return r < 128 ? 2 * r : 2 * (255 - r) + 1;
}

void WriteSound(BitWriter& w, int variant, const std::vector<uint8_t>& data, const ModeChange* mode, int currentMode) {
    constexpr uint32_t kSoundType = 288;
    SoundChannel ch[3];
    std::vector<uint32_t> syms;
    for (size_t i = 0; i < data.size(); ++i) {
        const int c = kUseChannel[variant][i & 3];
        SoundChannel& s = ch[c];
        const int v = SoundValue(data[i], s.Predict());
        if (s.state == 2) {
            if (v != 0) throw std::logic_error("sound run planned wrongly");
            if (--s.runLeft == 0) s.state = 1;
        } else if (s.state == 1) {
            syms.push_back(static_cast<uint32_t>(v));
            s.state = 0;
        } else if (v == 0) {
            // A run: this and the channel's next samples while they stay 0 (at most 32).
            SoundChannel look = s;
            look.Adjust(Signed8(data[i]));
            int z = 1;
            for (size_t j = i + 1; j < data.size() && z < 32; ++j) {
                if (kUseChannel[variant][j & 3] != c) continue;
                if (SoundValue(data[j], look.Predict()) != 0) break;
                look.Adjust(Signed8(data[j]));
                ++z;
            }
            syms.push_back(static_cast<uint32_t>(z - 1));
            if (z == 1) {
                s.state = 1;
            } else {
                s.state = 2;
                s.runLeft = z - 1;
            }
        } else {
            syms.push_back(static_cast<uint32_t>(v + 32));
        }
        s.Adjust(Signed8(data[i]));
    }
    if (mode) {
        const int c = kUseChannel[variant][data.size() & 3];
        if (ch[c].state == 2) throw std::logic_error("sound segment ends inside a run");
        syms.push_back(kSoundType);
    }
    const int models = kChannels[variant] * 3;
    size_t at = 0;
    while (at < syms.size()) {
        const size_t n = std::min<size_t>(syms.size() - at, 32767);
        std::vector<uint32_t> counts(289, 0);
        for (size_t i = at; i < at + n; ++i)
            ++counts[syms[i]];
        const Code code = Code::FromCounts(counts, 10);
        for (int m = 0; m < models; ++m)
            code.Write(w);
        w.Put(static_cast<uint32_t>(n), 15);
        for (size_t i = at; i < at + n; ++i) {
            code.Put(w, syms[i]);
            if (syms[i] == kSoundType) PutModeRecord(w, *mode, currentMode);
        }
        at += n;
    }
}

// ---- PIC ----

int PicQuant(int v) {
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

int DifBits(int v) {
    v &= 0xFF;
    const int s = v < 128 ? v : v - 256;
    return BitLength(static_cast<uint32_t>(s >= 0 ? 2 * s : -2 * s - 1));
}

struct PicContext {
    int used = 0, predictor = 0, average = 4, errors[4] = {};
};

void WritePic(BitWriter& w, uint32_t width, uint32_t planes, const std::vector<int>& kinds,
              const std::vector<uint8_t>& data, const ModeChange* mode, int currentMode) {
    std::vector<PicContext> ctx[2] = {std::vector<PicContext>(365), std::vector<PicContext>(365)};
    std::vector<int> prev(width + planes, 0), row(width + planes, 0);
    const size_t rows = (data.size() + width - 1) / width;
    for (size_t r = 0; r < rows; ++r) {
        w.PutBit(true);
        std::fill(row.begin(), row.end(), 0);
        for (size_t i = 0; i < width; ++i) {
            const size_t at = r * width + i;
            row[i] = at < data.size() ? data[at] : 0;
        }
        for (uint32_t plane = 0; plane < planes; ++plane) {
            int kind = 0;
            int a = 0, b = 0, c = 0, d = 0, x = 0;
            if (plane) {
                kind = kinds.empty() ? 1 : kinds[(plane - 1) % kinds.size()];
                w.Put(static_cast<uint32_t>(kind), 2);
                a = b = c = x = 128;
            }
            auto setD = [&](int here, int ref) {
                d = kind == 0 ? here : kind == 1 ? (128 + here - ref) & 0xFF : (128 + here - ((ref * 11) >> 4)) & 0xFF;
            };
            setD(prev[plane], plane ? prev[plane - 1] : 0);
            auto predict = [&](int p) {
                return p == 0 ? a : p == 1 ? b : p == 2 ? (a + b) >> 1 : (a + b - c) & 0xFF;
            };
            for (uint32_t col = plane; col < width; col += planes) {
                c = a;
                a = d;
                b = x;
                setD(prev[col + planes], prev[col + planes - 1]);
                const int q = 81 * PicQuant(d - a) + 9 * PicQuant(a - c) + PicQuant(c - b);
                PicContext& cx = ctx[plane ? 1 : 0][static_cast<size_t>(std::abs(q))];
                const int left = col ? row[col - 1] : 0;
                const int target = kind == 0   ? row[col]
                                   : kind == 1 ? (row[col] - left + 128) & 0xFF
                                               : (row[col] - ((left * 11) >> 4) + 128) & 0xFF;
                ++cx.used;
                const int bits = BitLength(static_cast<uint32_t>(cx.average / cx.used));
                const int eps = ((target - predict(cx.predictor) + 128) & 0xFF) - 128;
                PutRice(w, eps >= 0 ? static_cast<uint32_t>(2 * eps) : static_cast<uint32_t>(-2 * eps - 1), bits);
                x = target;
                cx.average += std::abs(eps);
                if (cx.used == 128) {
                    cx.used >>= 1;
                    cx.average >>= 1;
                }
                int best = 0;
                bool halve = false;
                for (int k = 0; k < 4; ++k) {
                    cx.errors[k] += DifBits(x - predict(k));
                    if (k == 0 || cx.errors[k] < cx.errors[best]) best = k;
                    halve |= cx.errors[k] > 0x7F;
                }
                cx.predictor = best;
                if (halve)
                    for (int& e : cx.errors)
                        e >>= 1;
            }
        }
        std::swap(prev, row);
    }
    if (mode) {
        w.PutBit(false);
        PutModeRecord(w, *mode, currentMode);
    }
}

// ---- Blocked streams ----

// The window bytes of each segment (what LZ77 codes, or what SOUND and PIC put in the window): EXE targets made
// absolute, DELTA blocks split into planes and differenced.
std::vector<uint8_t> WindowBytes(const std::vector<Segment>& segs) {
    std::vector<uint8_t> outBytes;
    for (const Segment& s : segs)
        outBytes.insert(outBytes.end(), s.data.begin(), s.data.end());
    std::vector<uint8_t> lz = outBytes;
    size_t start = 0;
    bool carry = false;
    size_t carryAt = 0;
    uint8_t deltaLast = 0;
    for (size_t k = 0; k < segs.size(); ++k) {
        const Segment& s = segs[k];
        const size_t end = start + s.data.size();
        if (s.mode.mode == 2) {
            size_t i = carry ? carryAt : start;
            carry = false;
            while (i + 4 < end) {
                const uint8_t op = outBytes[i];
                const uint32_t at = static_cast<uint32_t>(i);
                if (op == 0xE8 && s.mode.exeMode != 0) {
                    uint32_t v = Le32(&lz[i + 1]) + at;
                    PutLe32(&lz[i + 1], v);
                    i += 5;
                } else if (op == 0xE8 || op == 0xE9) {
                    const uint32_t v = (Le16(&lz[i + 1]) + at) & 0xFFFF;
                    PutLe16(&lz[i + 1], static_cast<uint16_t>(v));
                    i += 3;
                } else {
                    ++i;
                }
            }
            const bool nextExe = k + 1 < segs.size() && segs[k + 1].mode.mode == 2;
            if (nextExe && i < end) {
                for (size_t j = i + 1; j < end; ++j) {
                    if (outBytes[j] == 0xE8 || outBytes[j] == 0xE9) {
                        carry = true;
                        carryAt = j;
                        break;
                    }
                }
            }
        } else if (s.mode.mode == 1) {
            const size_t len = s.mode.deltaLen, planes = static_cast<size_t>(s.mode.deltaDist);
            const size_t plane = planes ? len / planes : 0;
            if (len == 0 || s.data.size() % len) throw std::logic_error("delta segment not in whole blocks");
            if (plane == 0 || len % plane) {  // a shape the decoder must refuse: sent as it is
                start = end;
                continue;
            }
            for (size_t b = start; b < end; b += len) {
                std::vector<uint8_t> blk(len);
                for (size_t at = 0; at < plane; ++at)
                    for (size_t j = 0; j < planes; ++j)
                        blk[j * plane + at] = outBytes[b + at * planes + j];
                for (size_t i = 0; i < len; ++i) {
                    lz[b + i] = static_cast<uint8_t>(blk[i] - deltaLast);
                    deltaLast = blk[i];
                }
            }
        }
        start = end;
    }
    return lz;
}

void PackBlockedInto(BitWriter& w, Matcher& m, const std::vector<Segment>& segs, const LzOptions& o) {
    if (segs.empty() || segs[0].mode.mode != 0) throw std::logic_error("a blocked stream starts in LZ77 mode");
    const std::vector<uint8_t> lz = WindowBytes(segs);
    m.NewFile();
    const size_t fileStart = m.history.size();
    m.Append(lz.data(), lz.size());
    size_t start = 0;
    int current = 0;
    for (size_t k = 0; k < segs.size(); ++k) {
        const Segment& s = segs[k];
        const ModeChange* next = k + 1 < segs.size() ? &segs[k + 1].mode : nullptr;
        const size_t from = fileStart + start, to = from + s.data.size();
        const int mode = s.mode.mode;
        if (mode == 0 || mode == 2) {
            std::vector<LzSymbol> syms;
            m.Encode(from, to, syms);
            WriteLzSymbols(w, syms, next, current, o);
        } else if (mode == 1) {
            std::vector<LzSymbol> syms;
            for (size_t b = from; b < to; b += s.mode.deltaLen)
                m.Encode(b, b + s.mode.deltaLen, syms);
            WriteLzSymbols(w, syms, next, current, o);
        } else if (mode >= 3 && mode <= 6) {
            WriteSound(w, mode - 3, s.data, next, current);
        } else {
            WritePic(w, s.mode.picWidth, s.mode.picPlanes, s.picKinds, s.data, next, current);
        }
        current = next ? next->mode : current;
        start += s.data.size();
    }
}

}  // namespace

void PutSymbols(BitWriter& w, const std::vector<RawSymbol>& symbols, const ModeChange* mode) {
    std::vector<LzSymbol> syms;
    for (const RawSymbol& r : symbols) {
        if (r.main == kTypeCode) break;
        syms.push_back({r.main, static_cast<int8_t>(r.extraBits), r.extra, static_cast<int16_t>(r.len)});
    }
    LzOptions o;
    o.blockSymbols = 32767;
    WriteLzSymbols(w, syms, mode, 0, o);
}

std::vector<uint8_t> PackLz77(const std::vector<uint8_t>& data, const LzOptions& o) {
    Matcher m(o);
    m.Append(data.data(), data.size());
    std::vector<LzSymbol> syms;
    m.Encode(0, data.size(), syms);
    BitWriter w;
    if (!syms.empty()) WriteLzSymbols(w, syms, nullptr, 0, o);
    return w.Finish();
}

std::vector<uint8_t> PackBlocked(const std::vector<Segment>& segments, const LzOptions& o) {
    Matcher m(o);
    BitWriter w;
    PackBlockedInto(w, m, segments, o);
    return w.Finish();
}

std::vector<std::vector<uint8_t>> PackSolidChain(const std::vector<std::vector<uint8_t>>& files,
                                                 const std::vector<uint8_t>& types, const LzOptions& o) {
    Matcher m(o);
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = 0; i < files.size(); ++i) {
        const auto& f = files[i];
        const uint8_t type = i < types.size() ? types[i] : 1;
        BitWriter w;
        if (type == 0) {
            const size_t from = m.history.size();
            m.Append(f.data(), f.size());
            m.Index(from, m.history.size());
            out.push_back(f);
            continue;
        }
        if (type == 2) {
            std::vector<Segment> segs(1);
            if (o.exe) {
                segs.emplace_back();
                segs[1].mode.mode = 2;
                segs[1].mode.exeMode = 1;
                segs[1].data = f;
            } else {
                segs[0].data = f;
            }
            PackBlockedInto(w, m, segs, o);
        } else {
            m.NewFile();
            const size_t from = m.history.size();
            m.Append(f.data(), f.size());
            std::vector<LzSymbol> syms;
            m.Encode(from, from + f.size(), syms);
            if (!syms.empty()) WriteLzSymbols(w, syms, nullptr, 0, o);
        }
        out.push_back(w.Finish());
    }
    return out;
}

std::vector<uint8_t> PackComment(const std::string& text) {
    BitWriter w;
    w.Put(static_cast<uint32_t>(text.size()), 15);
    std::vector<uint32_t> counts(284, 0);
    for (unsigned char c : text)
        ++counts[c];
    const Code code = Code::FromCounts(counts, 11);
    code.Write(w);
    for (unsigned char c : text)
        code.Put(w, c);
    return w.Finish();
}

std::vector<uint8_t> Encrypt(std::vector<uint8_t> packed, const std::string& password) {
    packed.resize((packed.size() + 7) & ~size_t{7}, 0);
    varnok::ace::Blowfish bf(password);
    uint32_t lastL = 0, lastR = 0;
    for (size_t i = 0; i < packed.size(); i += 8) {
        uint32_t l = Le32(&packed[i]) ^ lastL, r = Le32(&packed[i + 4]) ^ lastR;
        bf.EncryptBlock(l, r);
        PutLe32(&packed[i], l);
        PutLe32(&packed[i + 4], r);
        lastL = l;
        lastR = r;
    }
    return packed;
}

uint32_t AceCrc(const std::vector<uint8_t>& data) {
    return UpdateCrc32(0xFFFFFFFFu, data.data(), data.size());
}

FileEntry MakeEntry(const std::string& name, const std::vector<uint8_t>& data, uint8_t type,
                    const std::vector<uint8_t>& packed, uint16_t parameters) {
    FileEntry e;
    e.name = name;
    e.packed = packed;
    e.unpackedSize = static_cast<uint32_t>(data.size());
    e.crc = AceCrc(data);
    e.type = type;
    e.parameters = parameters;
    return e;
}

// ---- Archives ----

std::vector<uint8_t> SealHeader(std::vector<uint8_t> body) {
    std::vector<uint8_t> h(4);
    PutLe16(&h[0], static_cast<uint16_t>(UpdateCrc32(0xFFFFFFFFu, body.data(), body.size()) & 0xFFFF));
    PutLe16(&h[2], static_cast<uint16_t>(body.size()));
    h.insert(h.end(), body.begin(), body.end());
    return h;
}

namespace {

std::vector<uint8_t> MainHeader(const ArchiveOptions& o, uint16_t flags, uint8_t volume) {
    std::vector<uint8_t> b;
    b.push_back(0);
    if (!o.advert.empty()) flags |= 0x1000;
    if (!o.comment.empty()) flags |= 0x0002;
    AppendLe16(b, flags);
    for (char c : std::string("**ACE**"))
        b.push_back(static_cast<uint8_t>(c));
    b.push_back(o.versionExtract);
    b.push_back(o.versionMadeBy);
    b.push_back(o.hostOs);
    b.push_back(volume);
    AppendLe32(b, 0x5B8B7648);
    for (int i = 0; i < 8; ++i)
        b.push_back(0);
    if (!o.advert.empty() || o.advertLengthAlways) {
        b.push_back(static_cast<uint8_t>(o.advert.size()));
        b.insert(b.end(), o.advert.begin(), o.advert.end());
    }
    if (!o.comment.empty()) {
        AppendLe16(b, static_cast<uint16_t>(o.comment.size()));
        b.insert(b.end(), o.comment.begin(), o.comment.end());
    }
    return SealHeader(b);
}

std::vector<uint8_t> FileHeader(const FileEntry& f, uint16_t flags, uint32_t partSize, uint32_t crc) {
    std::vector<uint8_t> b;
    b.push_back(f.wide ? 3 : 1);
    flags |= 0x0001 | f.flags | (f.wide ? 0x0004 : 0);
    if (!f.comment.empty()) flags |= 0x0002;
    AppendLe16(b, flags);
    if (f.wide) {
        AppendLe64(b, partSize);
        AppendLe64(b, f.unpackedSize);
    } else {
        AppendLe32(b, partSize);
        AppendLe32(b, f.unpackedSize);
    }
    AppendLe32(b, f.dosTime);
    AppendLe32(b, f.attributes);
    AppendLe32(b, crc);
    b.push_back(f.type);
    b.push_back(f.quality);
    AppendLe16(b, f.parameters);
    AppendLe16(b, 0);
    AppendLe16(b, static_cast<uint16_t>(f.name.size()));
    b.insert(b.end(), f.name.begin(), f.name.end());
    if (!f.comment.empty()) {
        AppendLe16(b, static_cast<uint16_t>(f.comment.size()));
        b.insert(b.end(), f.comment.begin(), f.comment.end());
    }
    return SealHeader(b);
}

}  // namespace

std::vector<std::vector<uint8_t>> BuildArchive(const std::vector<FileEntry>& files, const ArchiveOptions& o) {
    std::vector<std::vector<uint8_t>> vols;
    const bool multi = o.volumeData != 0;
    const uint16_t mainFlags = static_cast<uint16_t>(o.mainFlags | (multi ? 0x0800 : 0));
    uint8_t volume = 0;
    vols.push_back(MainHeader(o, mainFlags, volume));
    uint64_t used = 0;
    for (const FileEntry& f : files) {
        size_t at = 0;
        bool first = true;
        do {
            size_t part = f.packed.size() - at;
            bool more = false;
            if (multi && used + part > o.volumeData && f.packed.size() > 0) {
                part = static_cast<size_t>(o.volumeData > used ? o.volumeData - used : 0);
                if (part == 0 && first && at == 0) {
                    // Nothing fits: begin the file in the next volume.
                    vols.push_back(MainHeader(o, mainFlags, ++volume));
                    used = 0;
                    continue;
                }
                more = at + part < f.packed.size();
            }
            uint16_t flags = 0;
            if (!first) flags |= 0x1000;
            if (more) flags |= 0x2000;
            const uint32_t crc = more && o.partCrc ? o.partCrc : f.crc;
            auto h = FileHeader(f, flags, static_cast<uint32_t>(part), crc);
            vols.back().insert(vols.back().end(), h.begin(), h.end());
            vols.back().insert(vols.back().end(), f.packed.begin() + static_cast<ptrdiff_t>(at),
                               f.packed.begin() + static_cast<ptrdiff_t>(at + part));
            used += part;
            at += part;
            first = false;
            if (more) {
                vols.push_back(MainHeader(o, mainFlags, ++volume));
                used = 0;
            }
        } while (at < f.packed.size());
    }
    return vols;
}

}  // namespace varnok::test::ace
