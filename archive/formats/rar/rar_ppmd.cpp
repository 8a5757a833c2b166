#include "archive/formats/rar/rar_ppmd.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "archive/formats/rar/rar_lz_common.h"

namespace varnok::rar {

namespace {

constexpr unsigned kMaxFreq = 124;
constexpr uint32_t kUnitSize = 12;
constexpr unsigned kNumIndexes = 38;
constexpr unsigned kIntBits = 7;
constexpr unsigned kPeriodBits = 7;
constexpr uint32_t kBinScale = 1u << (kIntBits + kPeriodBits);
constexpr uint32_t kTop = 1u << 24;
constexpr uint32_t kBot = 1u << 15;
constexpr unsigned kMaxOrder = 64;

constexpr uint8_t kExpEscape[16] = {25, 14, 9, 7, 5, 5, 4, 4, 4, 3, 3, 3, 2, 2, 2, 2};
constexpr uint16_t kInitBinEsc[8] = {0x3CDD, 0x1F3F, 0x59BF, 0x48F3, 0x64A1, 0x5ABC, 0x6632, 0x6051};

inline unsigned HiBits3(unsigned sym) { return ((sym + 0xC0) >> 5) & 8; }
inline unsigned HiBits4(unsigned sym) { return ((sym + 0xC0) >> 4) & 16; }
inline uint32_t Mean(uint32_t summ) { return (summ + (1u << (kPeriodBits - 2))) >> kPeriodBits; }

}  // namespace

struct [[gnu::may_alias]] RarPpmd::State {
    uint8_t symbol;
    uint8_t freq;
    uint16_t succLo;
    uint16_t succHi;
    uint32_t Successor() const { return succLo | static_cast<uint32_t>(succHi) << 16; }
    void SetSuccessor(uint32_t v) {
        succLo = static_cast<uint16_t>(v);
        succHi = static_cast<uint16_t>(v >> 16);
    }
};

struct [[gnu::may_alias]] RarPpmd::Context {
    uint16_t numStats;
    uint16_t summFreq;
    uint32_t stats;
    uint32_t suffix;
};

// A free block during gluing: one unit, its first half-word zero (a used unit's never is).
struct [[gnu::may_alias]] GlueNode {
    uint16_t stamp;
    uint16_t nu;
    uint32_t next;
    uint32_t prev;
};



RarPpmd::RarPpmd() {
    unsigned k = 0;
    for (unsigned i = 0; i < kNumIndexes; ++i) {
        unsigned step = i >= 12 ? 4 : (i >> 2) + 1;
        do {
            unitsToIndex_[k++] = static_cast<uint8_t>(i);
        } while (--step);
        indexToUnits_[i] = static_cast<uint8_t>(k);
    }
    ns2bsIndex_[0] = 0;
    ns2bsIndex_[1] = 2;
    std::memset(ns2bsIndex_ + 2, 4, 9);
    std::memset(ns2bsIndex_ + 11, 6, 256 - 11);
    unsigned i = 0;
    for (; i < 3; ++i)
        ns2Index_[i] = static_cast<uint8_t>(i);
    for (unsigned m = i, step = 1; i < 256; ++i) {
        ns2Index_[i] = static_cast<uint8_t>(m);
        if (--step == 0) step = ++m - 2;
    }
}

RarPpmd::~RarPpmd() = default;

void RarPpmd::Free() {
    block_.reset();
    base_ = nullptr;
    size_ = 0;
}

bool RarPpmd::Restart(uint32_t bytes, unsigned maxOrder) {
    if (!base_ || size_ != bytes) {
        Free();
        alignOffset_ = (4 - bytes) & 3;
        block_.reset(new (std::nothrow) uint8_t[alignOffset_ + bytes]);
        if (!block_) return false;
        base_ = block_.get();
        size_ = bytes;
    }
    maxOrder_ = std::min(maxOrder, kMaxOrder);
    RestartModel();
    return true;
}

RarPpmd::State* RarPpmd::Stats(const Context* c) const { return reinterpret_cast<State*>(base_ + c->stats); }
RarPpmd::State* RarPpmd::OneState(Context* c) { return reinterpret_cast<State*>(&c->summFreq); }

// ---- The allocator ----

void RarPpmd::InsertNode(void* node, unsigned index) {
    std::memcpy(node, &freeList_[index], 4);
    freeList_[index] = Ref(node);
}

void* RarPpmd::RemoveNode(unsigned index) {
    uint8_t* node = Ptr(freeList_[index]);
    std::memcpy(&freeList_[index], node, 4);
    return node;
}

void RarPpmd::SplitBlock(void* ptr, unsigned oldIndex, unsigned newIndex) {
    const unsigned nu = indexToUnits_[oldIndex] - indexToUnits_[newIndex];
    uint8_t* p = static_cast<uint8_t*>(ptr) + indexToUnits_[newIndex] * kUnitSize;
    unsigned i = unitsToIndex_[nu - 1];
    if (indexToUnits_[i] != nu) {
        const unsigned k = indexToUnits_[--i];
        InsertNode(p + k * kUnitSize, nu - k - 1);
    }
    InsertNode(p, i);
}

void RarPpmd::GlueFreeBlocks() {
    glueCount_ = 255;
    if (loUnit_ != hiUnit_) reinterpret_cast<GlueNode*>(loUnit_)->stamp = 1;
    // Every free block into one list, stamped as free and sized.
    uint32_t head = 0;
    for (unsigned i = 0; i < kNumIndexes; ++i) {
        const uint16_t nu = indexToUnits_[i];
        uint32_t next = freeList_[i];
        freeList_[i] = 0;
        while (next) {
            GlueNode* node = reinterpret_cast<GlueNode*>(Ptr(next));
            const uint32_t here = next;
            std::memcpy(&next, node, 4);
            node->stamp = 0;
            node->nu = nu;
            node->next = head;
            head = here;
        }
    }
    // Neighbours merged into the block before them.
    uint32_t* prev = &head;
    for (uint32_t n = head; n;) {
        GlueNode* node = reinterpret_cast<GlueNode*>(Ptr(n));
        uint32_t nu = node->nu;
        n = node->next;
        if (nu == 0) {
            *prev = n;
            continue;
        }
        prev = &node->next;
        for (;;) {
            GlueNode* node2 = reinterpret_cast<GlueNode*>(reinterpret_cast<uint8_t*>(node) + nu * kUnitSize);
            nu += node2->nu;
            if (node2->stamp != 0 || nu >= 0x10000) break;
            node->nu = static_cast<uint16_t>(nu);
            node2->nu = 0;
        }
    }
    // Back into the size classes.
    for (uint32_t n = head; n;) {
        GlueNode* node = reinterpret_cast<GlueNode*>(Ptr(n));
        uint32_t nu = node->nu;
        n = node->next;
        if (nu == 0) continue;
        uint8_t* p = reinterpret_cast<uint8_t*>(node);
        for (; nu > 128; nu -= 128, p += 128 * kUnitSize)
            InsertNode(p, kNumIndexes - 1);
        unsigned i = unitsToIndex_[nu - 1];
        if (indexToUnits_[i] != nu) {
            const unsigned k = indexToUnits_[--i];
            InsertNode(p + k * kUnitSize, nu - k - 1);
        }
        InsertNode(p, i);
    }
}

void* RarPpmd::AllocUnitsRare(unsigned index) {
    if (glueCount_ == 0) {
        GlueFreeBlocks();
        if (freeList_[index]) return RemoveNode(index);
    }
    unsigned i = index;
    do {
        if (++i == kNumIndexes) {
            const uint32_t numBytes = indexToUnits_[index] * kUnitSize;
            --glueCount_;
            if (static_cast<uint32_t>(unitsStart_ - text_) > numBytes) {
                unitsStart_ -= numBytes;
                return unitsStart_;
            }
            return nullptr;
        }
    } while (!freeList_[i]);
    void* block = RemoveNode(i);
    SplitBlock(block, i, index);
    return block;
}

void* RarPpmd::AllocUnits(unsigned index) {
    if (freeList_[index]) return RemoveNode(index);
    const uint32_t numBytes = indexToUnits_[index] * kUnitSize;
    if (static_cast<uint32_t>(hiUnit_ - loUnit_) >= numBytes) {
        void* p = loUnit_;
        loUnit_ += numBytes;
        return p;
    }
    return AllocUnitsRare(index);
}

RarPpmd::Context* RarPpmd::AllocContext() {
    if (hiUnit_ != loUnit_) {
        hiUnit_ -= kUnitSize;
        return reinterpret_cast<Context*>(hiUnit_);
    }
    if (freeList_[0]) return static_cast<Context*>(RemoveNode(0));
    return static_cast<Context*>(AllocUnitsRare(0));
}

// ---- The model ----

void RarPpmd::RestartModel() {
    std::memset(freeList_, 0, sizeof freeList_);
    text_ = base_ + alignOffset_;
    hiUnit_ = text_ + size_;
    loUnit_ = unitsStart_ = hiUnit_ - size_ / 8 / kUnitSize * 7 * kUnitSize;
    glueCount_ = 0;
    orderFall_ = maxOrder_;
    runLength_ = initRl_ = -static_cast<int32_t>(maxOrder_ < 12 ? maxOrder_ : 12) - 1;
    prevSuccess_ = 0;

    hiUnit_ -= kUnitSize;
    Context* mc = reinterpret_cast<Context*>(hiUnit_);
    State* s = reinterpret_cast<State*>(loUnit_);
    loUnit_ += 128 * kUnitSize;
    maxContext_ = minContext_ = mc;
    foundState_ = s;
    mc->numStats = 256;
    mc->summFreq = 257;
    mc->stats = Ref(s);
    mc->suffix = 0;
    for (unsigned i = 0; i < 256; ++i, ++s) {
        s->symbol = static_cast<uint8_t>(i);
        s->freq = 1;
        s->SetSuccessor(0);
    }
    for (unsigned i = 0; i < 128; ++i)
        for (unsigned k = 0; k < 8; ++k) {
            const uint16_t val = static_cast<uint16_t>(kBinScale - kInitBinEsc[k] / (i + 2));
            for (unsigned m = 0; m < 64; m += 8)
                binSumm_[i][k + m] = val;
        }
    for (unsigned i = 0; i < 25; ++i)
        for (unsigned k = 0; k < 16; ++k) {
            see_[i][k].summ = static_cast<uint16_t>((5 * i + 10) << (kPeriodBits - 4));
            see_[i][k].shift = kPeriodBits - 4;
            see_[i][k].count = 4;
        }
    dummySee_.summ = 0;
    dummySee_.shift = kPeriodBits;
    dummySee_.count = 64;
}

RarPpmd::Context* RarPpmd::CreateSuccessors() {
    Context* c = minContext_;
    uint32_t upBranch = foundState_->Successor();
    State* ps[kMaxOrder];
    unsigned numPs = 0;
    if (orderFall_ != 0) ps[numPs++] = foundState_;
    while (c->suffix) {
        c = Ctx(c->suffix);
        State* s;
        if (c->numStats != 1) {
            const uint8_t sym = foundState_->symbol;
            for (s = Stats(c); s->symbol != sym; ++s) {
            }
        } else {
            s = OneState(c);
        }
        const uint32_t successor = s->Successor();
        if (successor != upBranch) {
            c = Ctx(successor);
            if (numPs == 0) return c;
            break;
        }
        if (numPs >= kMaxOrder) return nullptr;
        ps[numPs++] = s;
    }
    const uint8_t newSym = *Ptr(upBranch);
    ++upBranch;
    uint8_t newFreq;
    if (c->numStats == 1) {
        newFreq = OneState(c)->freq;
    } else {
        State* s;
        for (s = Stats(c); s->symbol != newSym; ++s) {
        }
        const uint32_t cf = static_cast<uint32_t>(s->freq) - 1;
        const uint32_t s0 = static_cast<uint32_t>(c->summFreq) - c->numStats - cf;
        newFreq = static_cast<uint8_t>(1 + ((2 * cf <= s0) ? (5 * cf > s0) : (2 * cf + s0 - 1) / (2 * s0) + 1));
    }
    do {
        Context* c1 = AllocContext();
        if (!c1) return nullptr;
        c1->numStats = 1;
        State* one = OneState(c1);
        one->symbol = newSym;
        one->freq = newFreq;
        one->SetSuccessor(upBranch);
        c1->suffix = Ref(c);
        ps[--numPs]->SetSuccessor(Ref(c1));
        c = c1;
    } while (numPs != 0);
    return c;
}

void RarPpmd::UpdateModel() {
    if (foundState_->freq < kMaxFreq / 4 && minContext_->suffix) {
        Context* c = Ctx(minContext_->suffix);
        if (c->numStats == 1) {
            State* s = OneState(c);
            if (s->freq < 32) ++s->freq;
        } else {
            State* s = Stats(c);
            const uint8_t sym = foundState_->symbol;
            if (s->symbol != sym) {
                do {
                    ++s;
                } while (s->symbol != sym);
                if (s[0].freq >= s[-1].freq) {
                    std::swap(s[0], s[-1]);
                    --s;
                }
            }
            if (s->freq < kMaxFreq - 9) {
                s->freq = static_cast<uint8_t>(s->freq + 2);
                c->summFreq = static_cast<uint16_t>(c->summFreq + 2);
            }
        }
    }
    if (orderFall_ == 0) {
        minContext_ = maxContext_ = CreateSuccessors();
        if (!minContext_) {
            RestartModel();
            return;
        }
        foundState_->SetSuccessor(Ref(minContext_));
        return;
    }
    *text_++ = foundState_->symbol;
    if (text_ >= unitsStart_) {
        RestartModel();
        return;
    }
    uint32_t maxSuccessor = Ref(text_);
    uint32_t minSuccessor = foundState_->Successor();
    if (minSuccessor) {
        if (minSuccessor <= maxSuccessor) {
            Context* cs = CreateSuccessors();
            if (!cs) {
                RestartModel();
                return;
            }
            minSuccessor = Ref(cs);
        }
        if (--orderFall_ == 0) {
            maxSuccessor = minSuccessor;
            if (maxContext_ != minContext_) --text_;
        }
    } else {
        foundState_->SetSuccessor(maxSuccessor);
        minSuccessor = Ref(minContext_);
    }
    Context* mc = minContext_;
    Context* c = maxContext_;
    maxContext_ = minContext_ = Ctx(minSuccessor);
    if (c == mc) return;
    const unsigned ns = mc->numStats;
    const unsigned s0 = mc->summFreq - ns - (static_cast<unsigned>(foundState_->freq) - 1);
    do {
        const unsigned ns1 = c->numStats;
        uint32_t sum;
        if (ns1 != 1) {
            if ((ns1 & 1) == 0) {
                const unsigned oldNu = ns1 >> 1;
                const unsigned i = unitsToIndex_[oldNu - 1];
                if (i != unitsToIndex_[oldNu]) {
                    void* ptr = AllocUnits(i + 1);
                    if (!ptr) {
                        RestartModel();
                        return;
                    }
                    void* old = Stats(c);
                    std::memcpy(ptr, old, oldNu * kUnitSize);
                    InsertNode(old, i);
                    c->stats = Ref(ptr);
                }
            }
            sum = c->summFreq;
            sum += static_cast<uint32_t>((2 * ns1 < ns) + 2 * ((4 * ns1 <= ns) & (sum <= 8 * ns1)));
        } else {
            State* s = static_cast<State*>(AllocUnits(0));
            if (!s) {
                RestartModel();
                return;
            }
            *s = *OneState(c);
            c->stats = Ref(s);
            unsigned freq = s->freq;
            freq = freq < kMaxFreq / 4 - 1 ? freq << 1 : kMaxFreq - 4;
            s->freq = static_cast<uint8_t>(freq);
            sum = static_cast<uint32_t>(freq + initEsc_ + (ns > 3));
        }
        State* s = Stats(c) + ns1;
        uint32_t cf = 2 * (sum + 6) * static_cast<uint32_t>(foundState_->freq);
        const uint32_t sf = static_cast<uint32_t>(s0) + sum;
        s->symbol = foundState_->symbol;
        c->numStats = static_cast<uint16_t>(ns1 + 1);
        s->SetSuccessor(maxSuccessor);
        if (cf < 6 * sf) {
            cf = 1 + (cf > sf) + (cf >= 4 * sf);
            sum += 3;
        } else {
            cf = 4 + (cf >= 9 * sf) + (cf >= 12 * sf) + (cf >= 15 * sf);
            sum += cf;
        }
        c->summFreq = static_cast<uint16_t>(sum);
        s->freq = static_cast<uint8_t>(cf);
        c = Ctx(c->suffix);
    } while (c != mc);
}

void RarPpmd::Rescale() {
    State* stats = Stats(minContext_);
    State* s = foundState_;
    if (s != stats) {
        const State tmp = *s;
        for (; s != stats; --s)
            s[0] = s[-1];
        *s = tmp;
    }
    unsigned sumFreq = s->freq;
    unsigned escFreq = minContext_->summFreq - sumFreq;
    const unsigned adder = orderFall_ != 0;
    sumFreq = (sumFreq + 4 + adder) >> 1;
    unsigned i = static_cast<unsigned>(minContext_->numStats) - 1;
    s->freq = static_cast<uint8_t>(sumFreq);
    do {
        unsigned freq = (++s)->freq;
        escFreq -= freq;
        freq = (freq + adder) >> 1;
        sumFreq += freq;
        s->freq = static_cast<uint8_t>(freq);
        if (freq > s[-1].freq) {
            const State tmp = *s;
            State* s1 = s;
            do {
                s1[0] = s1[-1];
            } while (--s1 != stats && freq > s1[-1].freq);
            *s1 = tmp;
        }
    } while (--i);
    if (s->freq == 0) {
        i = 0;
        do {
            ++i;
        } while ((--s)->freq == 0);
        escFreq += i;
        Context* mc = minContext_;
        const unsigned numStats = mc->numStats;
        const unsigned numStatsNew = numStats - i;
        mc->numStats = static_cast<uint16_t>(numStatsNew);
        const unsigned n0 = (numStats + 1) >> 1;
        if (numStatsNew == 1) {
            unsigned freq = stats->freq;
            do {
                escFreq >>= 1;
                freq = (freq + 1) >> 1;
            } while (escFreq > 1);
            State* one = OneState(mc);
            *one = *stats;
            one->freq = static_cast<uint8_t>(freq);
            foundState_ = one;
            InsertNode(stats, unitsToIndex_[n0 - 1]);
            return;
        }
        const unsigned n1 = (numStatsNew + 1) >> 1;
        if (n0 != n1) {
            const unsigned i0 = unitsToIndex_[n0 - 1];
            const unsigned i1 = unitsToIndex_[n1 - 1];
            if (i0 != i1) {
                if (freeList_[i1]) {
                    void* ptr = RemoveNode(i1);
                    minContext_->stats = Ref(ptr);
                    std::memcpy(ptr, stats, n1 * kUnitSize);
                    InsertNode(stats, i0);
                } else {
                    SplitBlock(stats, i0, i1);
                }
            }
        }
    }
    minContext_->summFreq = static_cast<uint16_t>(sumFreq + escFreq - (escFreq >> 1));
    foundState_ = Stats(minContext_);
}

RarPpmd::See* RarPpmd::MakeEscFreq(unsigned numMasked, uint32_t& escFreq) {
    const Context* mc = minContext_;
    const unsigned numStats = mc->numStats;
    if (numStats == 256) {
        escFreq = 1;
        return &dummySee_;
    }
    const unsigned nonMasked = numStats - numMasked;
    See* see = see_[ns2Index_[nonMasked - 1]] +
               (nonMasked < static_cast<unsigned>(Ctx(mc->suffix)->numStats) - numStats) +
               2 * static_cast<unsigned>(mc->summFreq < 11 * numStats) + 4 * static_cast<unsigned>(numMasked > nonMasked) +
               hiBitsFlag_;
    const unsigned summ = see->summ;
    const unsigned r = summ >> see->shift;
    see->summ = static_cast<uint16_t>(summ - r);
    escFreq = r + (r == 0);
    return see;
}

void RarPpmd::NextContext() {
    const uint32_t succ = foundState_->Successor();
    if (orderFall_ == 0 && succ > Ref(text_))
        maxContext_ = minContext_ = Ctx(succ);
    else
        UpdateModel();
}

void RarPpmd::Update1() {
    State* s = foundState_;
    s->freq = static_cast<uint8_t>(s->freq + 4);
    minContext_->summFreq = static_cast<uint16_t>(minContext_->summFreq + 4);
    if (s[0].freq > s[-1].freq) {
        std::swap(s[0], s[-1]);
        foundState_ = --s;
        if (s->freq > kMaxFreq) Rescale();
    }
    NextContext();
}

void RarPpmd::Update1First() {
    State* s = foundState_;
    Context* mc = minContext_;
    prevSuccess_ = 2 * static_cast<unsigned>(s->freq) > mc->summFreq;
    runLength_ += static_cast<int32_t>(prevSuccess_);
    mc->summFreq = static_cast<uint16_t>(mc->summFreq + 4);
    const unsigned freq = s->freq + 4u;
    s->freq = static_cast<uint8_t>(freq);
    if (freq > kMaxFreq) Rescale();
    NextContext();
}

void RarPpmd::Update2() {
    State* s = foundState_;
    const unsigned freq = s->freq + 4u;
    runLength_ = initRl_;
    minContext_->summFreq = static_cast<uint16_t>(minContext_->summFreq + 4);
    s->freq = static_cast<uint8_t>(freq);
    if (freq > kMaxFreq) Rescale();
    UpdateModel();
}

// ---- The range coder ----

void RarPpmd::StartDecoder(RarBits& br) {
    code_ = 0;
    broken_ = false;
    range_ = 0xFFFFFFFFu;
    low_ = 0;
    for (int i = 0; i < 4; ++i)
        code_ = (code_ << 8) | br.Byte();
}

void RarPpmd::Decode(uint32_t start, uint32_t size) {
    start *= range_;
    low_ += start;
    code_ -= start;
    range_ *= size;
}

void RarPpmd::Normalize(RarBits& br) {
    for (int n = 0; n < 8; ++n) {
        if ((low_ ^ (low_ + range_)) >= kTop) {
            if (range_ >= kBot) break;
            range_ = (0 - low_) & (kBot - 1);
        }
        code_ = (code_ << 8) | br.Byte();
        range_ <<= 8;
        low_ <<= 8;
    }
    // A range of zero never widens again: only damaged data get here.
    if (range_ == 0 || (low_ ^ (low_ + range_)) < kTop) broken_ = true;
}

int RarPpmd::DecodeSymbol(RarBits& br) {
    uint8_t mask[256];
    if (broken_) return -2;
    if (minContext_->numStats != 1) {
        State* s = Stats(minContext_);
        const uint32_t summFreq = minContext_->summFreq;
        if (summFreq > range_ || summFreq == 0) return -2;
        range_ /= summFreq;
        uint32_t count = code_ / range_;
        uint32_t hiCnt = s->freq;
        if (count < hiCnt) {
            Decode(0, s->freq);
            Normalize(br);
            foundState_ = s;
            const uint8_t sym = s->symbol;
            Update1First();
            return sym;
        }
        prevSuccess_ = 0;
        unsigned i = static_cast<unsigned>(minContext_->numStats) - 1;
        do {
            ++s;
            if (count < hiCnt + s->freq) {
                Decode(hiCnt, s->freq);
                Normalize(br);
                foundState_ = s;
                const uint8_t sym = s->symbol;
                Update1();
                return sym;
            }
            hiCnt += s->freq;
        } while (--i);
        if (count >= summFreq) return -2;
        hiBitsFlag_ = HiBits3(foundState_->symbol);
        Decode(hiCnt, summFreq - hiCnt);
        Normalize(br);
        std::memset(mask, 0xFF, sizeof mask);
        State* st = Stats(minContext_);
        for (unsigned k = 0; k < minContext_->numStats; ++k)
            mask[st[k].symbol] = 0;
    } else {
        State* s = OneState(minContext_);
        const uint32_t suffixStats = Ctx(minContext_->suffix)->numStats;
        uint16_t* prob = &binSumm_[s->freq - 1][prevSuccess_ + (static_cast<uint32_t>(runLength_ >> 26) & 0x20) +
                                                ns2bsIndex_[suffixStats - 1] + HiBits4(s->symbol) +
                                                (hiBitsFlag_ = HiBits3(foundState_->symbol))];
        uint32_t pr = *prob;
        const uint32_t size0 = (range_ >> 14) * pr;
        pr -= Mean(pr);
        if (code_ < size0) {
            *prob = static_cast<uint16_t>(pr + (1u << kIntBits));
            range_ = size0;
            Normalize(br);
            foundState_ = s;
            const uint8_t sym = s->symbol;
            prevSuccess_ = 1;
            ++runLength_;
            s->freq = static_cast<uint8_t>(s->freq + (s->freq < 128));
            NextContext();
            return sym;
        }
        *prob = static_cast<uint16_t>(pr);
        initEsc_ = kExpEscape[pr >> 10];
        low_ += size0;
        code_ -= size0;
        range_ = (range_ & ~(kBinScale - 1)) - size0;
        Normalize(br);
        std::memset(mask, 0xFF, sizeof mask);
        mask[s->symbol] = 0;
        prevSuccess_ = 0;
    }
    for (int guard = 0; guard < 512; ++guard) {
        Context* mc = minContext_;
        const unsigned numMasked = mc->numStats;
        do {
            ++orderFall_;
            if (!mc->suffix) return -1;
            mc = Ctx(mc->suffix);
        } while (mc->numStats == numMasked);
        minContext_ = mc;
        State* st = Stats(mc);
        const unsigned n = mc->numStats;
        uint32_t hiCnt = 0;
        for (unsigned k = 0; k < n; ++k)
            hiCnt += st[k].freq & mask[st[k].symbol];
        uint32_t freqSum;
        See* see = MakeEscFreq(numMasked, freqSum);
        freqSum += hiCnt;
        if (freqSum > range_ || freqSum == 0) return -2;
        range_ /= freqSum;
        const uint32_t count = code_ / range_;
        if (count < hiCnt) {
            uint32_t cum = 0;
            State* s = st;
            for (;; ++s) {
                const uint32_t f = s->freq & mask[s->symbol];
                if (count < cum + f) break;
                cum += f;
            }
            Decode(cum, s->freq);
            Normalize(br);
            if (see->shift < kPeriodBits && --see->count == 0) {
                see->summ = static_cast<uint16_t>(see->summ << 1);
                see->count = static_cast<uint8_t>(3 << see->shift++);
            }
            foundState_ = s;
            const uint8_t sym = s->symbol;
            Update2();
            return sym;
        }
        if (count >= freqSum) return -2;
        Decode(hiCnt, freqSum - hiCnt);
        Normalize(br);
        see->summ = static_cast<uint16_t>(see->summ + freqSum);
        for (unsigned k = 0; k < n; ++k)
            mask[st[k].symbol] = 0;
    }
    return -2;
}

}  // namespace varnok::rar
