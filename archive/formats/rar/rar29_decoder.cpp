#include "archive/formats/rar/rar29_decoder.h"

#include <cstring>

#include "archive/core/errors.h"

namespace varnok::rar {

namespace {

constexpr uint8_t kDistBits[60] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,
                                   9,  9,  10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 16, 16, 16, 16,
                                   16, 16, 16, 16, 16, 16, 16, 16, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18, 18};
constexpr uint8_t kShortStarts[8] = {0, 4, 8, 16, 32, 64, 128, 192};
constexpr uint8_t kShortBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};
constexpr unsigned kMaxFilters = 8192;
constexpr uint32_t kMaxVmCode = 0x10000;

struct DistStarts {
    uint32_t v[60];
    constexpr DistStarts() : v() {
        uint32_t s = 0;
        for (int i = 0; i < 60; ++i) {
            v[i] = s;
            s += 1u << kDistBits[i];
        }
    }
};
constexpr DistStarts kDistStart;

// The bit reader of a filter's parameters (held in memory, zeros past its end).
class MemBits {
  public:
    MemBits(const uint8_t* p, uint32_t n) : p_(p), n_(n) {}
    uint32_t Bits(int k) {
        uint32_t v = 0;
        for (int i = 0; i < k; ++i) {
            const uint32_t byte = pos_ / 8;
            const uint32_t bit = byte < n_ ? (p_[byte] >> (7 - pos_ % 8)) & 1 : 0;
            v = (v << 1) | bit;
            ++pos_;
        }
        return v;
    }
    // RAR's variable-length number: two bits choose 4, 8 (or a negative byte), 16 or 32 bits.
    uint32_t Number() {
        switch (Bits(2)) {
            case 0:
                return Bits(4);
            case 1: {
                const uint32_t v = Bits(4);
                if (v == 0) return 0xFFFFFF00u | Bits(8);
                return (v << 4) | Bits(4);
            }
            case 2:
                return Bits(16);
            default:
                return Bits(32);
        }
    }
    bool Past() const { return pos_ > static_cast<uint64_t>(n_) * 8; }

  private:
    const uint8_t* p_;
    uint32_t n_;
    uint64_t pos_ = 0;
};

}  // namespace

Rar29Decoder::Rar29Decoder() : vm_(new uint8_t[kVmMemorySize + 4]()) {}
Rar29Decoder::~Rar29Decoder() = default;

void Rar29Decoder::ResetState() {
    window_.Reset();
    wrPtr_ = 0;
    std::memset(lastLevels_, 0, sizeof lastLevels_);
    for (uint32_t& r : reps_)
        r = 0;
    lastLength_ = 0;
    prevAlign_ = alignCount_ = 0;
    tablesRead_ = tablesOk_ = false;
    lzMode_ = true;
    ppmEsc_ = 2;
    ppmOk_ = false;
    programs_.clear();
    pending_.clear();
    lastFilter_ = 0;
    broken_ = false;
}

bool Rar29Decoder::Fail(int code, const char* why) {
    if (!errorCode_) {
        errorCode_ = code;
        error_ = why;
    }
    return false;
}

DecodeResult Rar29Decoder::Decode(ByteSource& src, ByteSink& sink, uint64_t unpackedSize, bool solid,
                                  const CancelFlag* cancel) {
    CodecInput in(src, cancel);
    RarBits br(in);
    RarEntryOutput out(sink, unpackedSize, cancel);
    br_ = &br;
    out_ = &out;
    errorCode_ = 0;
    error_.clear();
    if (!solid || !started_) ResetState();
    started_ = true;
    entryStart_ = window_.filled;

    bool ok = true;
    if (broken_) {
        ok = Fail(E_CorruptInput, "an earlier entry of the solid stream failed");
    } else if (unpackedSize == 0) {
        // An empty entry stores nothing to decode.
    } else if (!tablesRead_ && !ReadTables()) {
        ok = false;
    }
    uint64_t items = 0;
    while (ok && unpackedSize) {
        if ((++items & 0xFF) == 0 && IsCancelled(cancel)) {
            ok = Fail(E_UserCanceled, "cancelled");
            break;
        }
        Step s;
        if (lzMode_) {
            if (!tablesOk_) {
                ok = Fail(E_BadHuffmanCode, "no code tables for the LZ block");
                break;
            }
            s = DecodeLz();
        } else {
            s = DecodePpm();
        }
        if (s == Step::Fail) ok = false;
        if (s != Step::More) break;
    }
    if (ok && unpackedSize) ok = WriteBuf();
    if (ok && br.Overrun() && out.Written() < unpackedSize) ok = Fail(E_UnexpectedEof, "the packed data end early");
    if (ok && out.Written() < unpackedSize) {
        // Filters still waiting for their block, or data that stopped short.
        ok = Fail(br.Overrun() || br.Exhausted() ? E_UnexpectedEof : E_CorruptInput,
                  "the data end before the entry's size");
    }
    br_ = nullptr;
    out_ = nullptr;
    if (!ok) {
        broken_ = true;
        DecodeStatus st = DecodeStatus::Corrupt;
        if (in.Cancelled() || IsCancelled(cancel)) {
            errorCode_ = E_UserCanceled;
            error_ = "cancelled";
        }
        if (errorCode_ == E_UserCanceled)
            st = DecodeStatus::Cancelled;
        else if (errorCode_ == E_UnexpectedEof || br.Overrun())
            st = DecodeStatus::Truncated;
        if (st == DecodeStatus::Truncated && errorCode_ != E_UnexpectedEof) {
            errorCode_ = E_UnexpectedEof;
            error_ = "the packed data end early";
        }
        return MakeResult(st, errorCode_, out.Written(), br.ConsumedBytes());
    }
    return MakeResult(DecodeStatus::Ok, 0, out.Written(), br.ConsumedBytes());
}

bool Rar29Decoder::ReadTables() {
    RarBits& br = *br_;
    br.Align();
    if (br.Get(1)) {
        lzMode_ = false;
        return InitPpm();
    }
    tablesRead_ = tablesOk_ = false;
    lzMode_ = true;
    prevAlign_ = alignCount_ = 0;
    if (!br.Get(1)) std::memset(lastLevels_, 0, sizeof lastLevels_);
    uint8_t levelLens[20];
    for (int i = 0; i < 20;) {
        const uint32_t len = br.Get(4);
        if (len == 15) {
            uint32_t zeros = br.Get(4);
            if (zeros) {
                for (zeros += 2; zeros && i < 20; --zeros)
                    levelLens[i++] = 0;
                continue;
            }
        }
        levelLens[i++] = static_cast<uint8_t>(len);
    }
    RarHuffman level;
    if (!level.Build(levelLens, 20)) return Fail(E_BadHuffmanCode, "damaged code-length table");
    uint8_t lens[kTablesSize];
    for (int i = 0; i < kTablesSize;) {
        if (br.Overrun()) return Fail(E_UnexpectedEof, "the packed data end in a code table");
        const uint32_t sym = level.Decode(br);
        if (sym < 16) {
            lens[i] = static_cast<uint8_t>((sym + lastLevels_[i]) & 15);
            ++i;
        } else if (sym < 20) {
            uint32_t n = (sym & 1) ? 11 + br.Get(7) : 3 + br.Get(3);
            uint8_t v = 0;
            if (sym < 18) {
                if (i == 0) return Fail(E_BadHuffmanCode, "a code-length repeat with nothing before it");
                v = lens[i - 1];
            }
            for (; n && i < kTablesSize; --n)
                lens[i++] = v;
        } else {
            return Fail(E_BadHuffmanCode, "damaged code-length table");
        }
    }
    if (br.Overrun()) return Fail(E_UnexpectedEof, "the packed data end in a code table");
    tablesRead_ = true;
    if (!main_.Build(lens, kMainSize) || !dist_.Build(lens + kMainSize, kDistSize) ||
        !align_.Build(lens + kMainSize + kDistSize, kAlignSize) ||
        !len_.Build(lens + kMainSize + kDistSize + kAlignSize, kLenSize))
        return Fail(E_BadHuffmanCode, "over-subscribed Huffman code lengths");
    std::memcpy(lastLevels_, lens, sizeof lens);
    tablesOk_ = true;
    return true;
}

bool Rar29Decoder::InitPpm() {
    RarBits& br = *br_;
    const uint32_t flags = br.Get(7);
    const bool reset = flags & 0x20;
    uint32_t maxMb = 0;
    if (reset)
        maxMb = br.Get(8);
    else if (!ppmOk_ || !ppm_.Ready())
        return Fail(E_CorruptInput, "a PPMd block continues a model that was never set up");
    if (flags & 0x40) ppmEsc_ = static_cast<int>(br.Get(8));
    ppm_.StartDecoder(br);
    if (reset) {
        ppmOk_ = false;
        unsigned order = (flags & 0x1F) + 1;
        if (order > 16) order = 16 + (order - 16) * 3;
        if (order == 1) {
            ppm_.Free();
            return Fail(E_CorruptInput, "a PPMd block of order 1");
        }
        if (!ppm_.Restart((maxMb + 1) << 20, order))
            return Fail(E_CorruptInput, "no memory for the PPMd model the data ask for");
        ppmOk_ = true;
    }
    if (br.Overrun()) return Fail(E_UnexpectedEof, "the packed data end in a PPMd block header");
    return true;
}

Rar29Decoder::Step Rar29Decoder::ReadEndOfBlock() {
    RarBits& br = *br_;
    if (!br.Get(1)) {
        tablesRead_ = br.Get(1) == 0;
        return Step::FileEnd;
    }
    tablesRead_ = false;
    return ReadTables() ? Step::More : Step::Fail;
}

void Rar29Decoder::CopyMatch(uint32_t dist0, uint32_t len) { window_.Copy(dist0 + 1, len); }

Rar29Decoder::Step Rar29Decoder::DecodeLz() {
    RarBits& br = *br_;
    uint32_t rep0 = reps_[0], rep1 = reps_[1], rep2 = reps_[2], rep3 = reps_[3];
    uint32_t len = lastLength_;
    Step result = Step::More;
    for (uint32_t n = 0; n < (1u << 16); ++n) {
        if (NeedFlush() && !WriteBuf()) {
            result = Step::Fail;
            break;
        }
        if (br.Overrun()) {
            result = Fail(E_UnexpectedEof, "the packed data end early") ? Step::More : Step::Fail;
            break;
        }
        const bool done = SizeReached();
        if (done && br.Exhausted()) {
            result = Step::FileEnd;
            break;
        }
        uint32_t sym = main_.Decode(br);
        if (done && sym != 256) {
            // Past the entry's size only an end marker may follow.
            result = Step::FileEnd;
            break;
        }
        if (sym < 256) {
            window_.Put(static_cast<uint8_t>(sym));
            continue;
        }
        if (sym == 256) {
            result = ReadEndOfBlock();
            break;
        }
        if (sym == 257) {
            if (!ReadVmCodeLz()) {
                result = Step::Fail;
                break;
            }
            continue;
        }
        if (sym == 258) {
            if (len == 0) {
                result = Fail(E_CorruptInput, "a repeated match before any match") ? Step::More : Step::Fail;
                break;
            }
        } else if (sym < 263) {
            if (sym != 259) {
                uint32_t d;
                if (sym == 260) {
                    d = rep1;
                } else {
                    if (sym == 261) {
                        d = rep2;
                    } else {
                        d = rep3;
                        rep3 = rep2;
                    }
                    rep2 = rep1;
                }
                rep1 = rep0;
                rep0 = d;
            }
            const uint32_t ls = len_.Decode(br);
            if (ls >= kLenSize) {
                result = Fail(E_InvalidCode, "an invalid length code") ? Step::More : Step::Fail;
                break;
            }
            len = 2 + ls;
            if (ls >= 8) {
                const int bits = static_cast<int>(ls >> 2) - 1;
                len = 2 + ((4 + (ls & 3)) << bits) + br.Get(bits);
            }
        } else if (sym < 271) {
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
            sym -= 263;
            rep0 = kShortStarts[sym] + br.Get(kShortBits[sym]);
            len = 2;
        } else if (sym < 299) {
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
            sym -= 271;
            len = 3 + sym;
            if (sym >= 8) {
                const int bits = static_cast<int>(sym >> 2) - 1;
                len = 3 + ((4 + (sym & 3)) << bits) + br.Get(bits);
            }
            const uint32_t ds = dist_.Decode(br);
            if (ds >= kDistSize) {
                result = Fail(E_InvalidCode, "an invalid distance code") ? Step::More : Step::Fail;
                break;
            }
            rep0 = kDistStart.v[ds];
            const int bits = kDistBits[ds];
            if (ds >= 10) {
                if (bits > 4) rep0 += br.Get(bits - 4) << 4;
                if (alignCount_ > 0) {
                    --alignCount_;
                    rep0 += prevAlign_;
                } else {
                    const uint32_t as = align_.Decode(br);
                    if (as < 16) {
                        rep0 += as;
                        prevAlign_ = as;
                    } else if (as == 16) {
                        alignCount_ = 15;
                        rep0 += prevAlign_;
                    } else {
                        result = Fail(E_InvalidCode, "an invalid low-distance code") ? Step::More : Step::Fail;
                        break;
                    }
                }
            } else {
                rep0 += br.Get(bits);
            }
            if (rep0 >= 0x2000 - 1) ++len;
            if (rep0 >= 0x40000 - 1) ++len;
        } else {
            result = Fail(E_InvalidCode, "an invalid symbol") ? Step::More : Step::Fail;
            break;
        }
        if (!window_.Reaches(rep0 + 1) || rep0 + 1 == 0) {
            result = Fail(E_CorruptInput, "a match reaching before the start of the data") ? Step::More : Step::Fail;
            break;
        }
        CopyMatch(rep0, len);
    }
    reps_[0] = rep0;
    reps_[1] = rep1;
    reps_[2] = rep2;
    reps_[3] = rep3;
    lastLength_ = len;
    return result;
}

Rar29Decoder::Step Rar29Decoder::DecodePpm() {
    RarBits& br = *br_;
    for (uint32_t n = 0; n < (1u << 16); ++n) {
        if (NeedFlush() && !WriteBuf()) return Step::Fail;
        if (br.Overrun()) return Fail(E_UnexpectedEof, "the packed data end early") ? Step::More : Step::Fail;
        const bool done = SizeReached();
        if (done && br.Exhausted()) return Step::FileEnd;
        const int c = ppm_.DecodeSymbol(br);
        if (c < 0) {
            ppmOk_ = false;
            return Fail(E_CorruptInput, "damaged PPMd data") ? Step::More : Step::Fail;
        }
        if (c == ppmEsc_) {
            const int next = ppm_.DecodeSymbol(br);
            if (next < 0) {
                ppmOk_ = false;
                return Fail(E_CorruptInput, "damaged PPMd data") ? Step::More : Step::Fail;
            }
            if (next == 0) return ReadTables() ? Step::More : Step::Fail;
            if (next == 2) return Step::FileEnd;
            if (done) return Step::FileEnd;
            if (next == 3) {
                if (!ReadVmCodePpm()) return Step::Fail;
                continue;
            }
            if (next == 4 || next == 5) {
                uint32_t dist = 1, len = 4;
                if (next == 4) {
                    dist = 0;
                    for (int i = 0; i < 3; ++i) {
                        const int b = ppm_.DecodeSymbol(br);
                        if (b < 0) return Fail(E_CorruptInput, "damaged PPMd data") ? Step::More : Step::Fail;
                        dist = (dist << 8) | static_cast<uint32_t>(b);
                    }
                    dist += 2;
                    len += 28;
                }
                const int b = ppm_.DecodeSymbol(br);
                if (b < 0) return Fail(E_CorruptInput, "damaged PPMd data") ? Step::More : Step::Fail;
                len += static_cast<uint32_t>(b);
                if (!window_.Reaches(dist))
                    return Fail(E_CorruptInput, "a match reaching before the start of the data") ? Step::More
                                                                                                  : Step::Fail;
                window_.Copy(dist, len);
                continue;
            }
        } else if (done) {
            return Step::FileEnd;
        }
        window_.Put(static_cast<uint8_t>(c));
    }
    return Step::More;
}

bool Rar29Decoder::ReadVmCodeLz() {
    RarBits& br = *br_;
    const uint32_t first = br.Get(8);
    uint32_t len = (first & 7) + 1;
    if (len == 7)
        len = br.Get(8) + 7;
    else if (len == 8)
        len = br.Get(16);
    vmData_.resize(len);
    for (uint32_t i = 0; i < len; ++i)
        vmData_[i] = static_cast<uint8_t>(br.Get(8));
    if (br.Overrun()) return Fail(E_UnexpectedEof, "the packed data end in a filter");
    return AddVmCode(first, vmData_.data(), len);
}

bool Rar29Decoder::ReadVmCodePpm() {
    const int first = ppm_.DecodeSymbol(*br_);
    if (first < 0) return Fail(E_CorruptInput, "damaged PPMd data");
    uint32_t len = (static_cast<uint32_t>(first) & 7) + 1;
    if (len == 7) {
        const int b = ppm_.DecodeSymbol(*br_);
        if (b < 0) return Fail(E_CorruptInput, "damaged PPMd data");
        len = static_cast<uint32_t>(b) + 7;
    } else if (len == 8) {
        const int b1 = ppm_.DecodeSymbol(*br_);
        const int b2 = b1 < 0 ? -1 : ppm_.DecodeSymbol(*br_);
        if (b2 < 0) return Fail(E_CorruptInput, "damaged PPMd data");
        len = static_cast<uint32_t>(b1) * 256 + static_cast<uint32_t>(b2);
    }
    vmData_.resize(len);
    for (uint32_t i = 0; i < len; ++i) {
        const int b = ppm_.DecodeSymbol(*br_);
        if (b < 0) return Fail(E_CorruptInput, "damaged PPMd data");
        vmData_[i] = static_cast<uint8_t>(b);
    }
    return AddVmCode(static_cast<uint32_t>(first), vmData_.data(), len);
}

bool Rar29Decoder::AddVmCode(uint32_t first, const uint8_t* data, uint32_t size) {
    MemBits in(data, size);
    uint32_t index = lastFilter_;
    if (first & 0x80) {
        index = in.Number();
        if (index == 0) {
            programs_.clear();
            pending_.clear();
        } else {
            --index;
        }
    }
    if (index > programs_.size() || index > kMaxFilters) return Fail(E_CorruptInput, "a filter number out of range");
    lastFilter_ = index;
    const bool isNew = index == programs_.size();
    if (isNew)
        programs_.push_back({});
    else
        ++programs_[index].execCount;
    Program& prog = programs_[index];

    std::erase_if(pending_, [](const Pending& p) { return !p.live; });
    if (pending_.size() >= kMaxFilters) return Fail(E_CorruptInput, "too many filters at once");
    Pending p;
    p.program = index;
    uint32_t blockStart = in.Number();
    if (first & 0x40) blockStart += 258;
    p.blockStart = (blockStart + window_.pos) & RarWindow::kMask;
    if (first & 0x20) prog.blockSize = in.Number();
    p.blockSize = prog.blockSize;
    p.nextWindow = wrPtr_ != window_.pos && ((wrPtr_ - window_.pos) & RarWindow::kMask) <= blockStart;
    p.r[3] = kVmGlobalOffset;
    p.r[4] = p.blockSize;
    p.r[5] = prog.execCount;
    if (first & 0x10) {
        const uint32_t mask = in.Bits(7);
        for (int i = 0; i < 7; ++i)
            if (mask & (1u << i)) p.r[i] = in.Number();
    }
    if (isNew) {
        const uint32_t codeSize = in.Number();
        if (codeSize == 0 || codeSize >= kMaxVmCode) return Fail(E_CorruptInput, "a filter program of a wrong size");
        std::vector<uint8_t> code(codeSize);
        for (uint32_t i = 0; i < codeSize; ++i)
            code[i] = static_cast<uint8_t>(in.Bits(8));
        prog.kind = IdentifyVmFilter(code.data(), codeSize);
        if (prog.kind == VmFilter::Unknown)
            return Fail(E_UnsupportedMethod, "a filter with unknown VM code, which is not run");
    }
    if (first & 8) {
        const uint32_t dataSize = in.Number();
        if (dataSize > 0x2000 - 64) return Fail(E_CorruptInput, "a filter's data too large");
        for (uint32_t i = 0; i < dataSize; ++i)
            in.Bits(8);
    }
    if (in.Past()) return Fail(E_CorruptInput, "a filter record cut short");
    if (prog.kind == VmFilter::Unknown) return Fail(E_UnsupportedMethod, "a filter with unknown VM code, which is not run");
    pending_.push_back(p);
    return true;
}

bool Rar29Decoder::RunPending(size_t index, uint32_t& outPos, uint32_t& outSize) {
    Pending& f = pending_[index];
    f.live = false;
    uint32_t r[7];
    std::memcpy(r, f.r, sizeof r);
    r[6] = static_cast<uint32_t>(out_->Offered());
    const Program& prog = programs_[f.program];
    if (!RunVmFilter(prog.kind, vm_.get(), r[4], r, r[6], outPos, outSize))
        return Fail(E_CorruptInput, "a filter's parameters are out of range");
    return true;
}

bool Rar29Decoder::WriteBuf() {
    const uint8_t* ring = window_.Data();
    uint32_t border = wrPtr_;
    uint32_t writeSize = (window_.pos - border) & RarWindow::kMask;
    for (size_t i = 0; i < pending_.size(); ++i) {
        Pending& f = pending_[i];
        if (!f.live) continue;
        if (f.nextWindow) {
            f.nextWindow = false;
            continue;
        }
        const uint32_t start = f.blockStart;
        const uint32_t size = f.blockSize;
        if (((start - border) & RarWindow::kMask) >= writeSize) continue;
        if (border != start) {
            out_->WriteRing(ring, border, start);
            border = start;
            writeSize = (window_.pos - border) & RarWindow::kMask;
        }
        if (size > writeSize) {
            // The block is not complete yet: wait for more data.
            for (size_t j = i; j < pending_.size(); ++j)
                if (pending_[j].live) pending_[j].nextWindow = false;
            wrPtr_ = border;
            return true;
        }
        if (size >= kVmGlobalOffset || f.r[4] >= kVmGlobalOffset)
            return Fail(E_CorruptInput, "a filter block larger than the filter memory");
        const uint32_t end = (start + size) & RarWindow::kMask;
        if (start + size <= RarWindow::kSize) {
            std::memcpy(vm_.get(), ring + start, size);
        } else {
            const uint32_t tail = RarWindow::kSize - start;
            std::memcpy(vm_.get(), ring + start, tail);
            std::memcpy(vm_.get() + tail, ring, end);
        }
        uint32_t outPos = 0, outSize = 0;
        if (!RunPending(i, outPos, outSize)) return false;
        while (i + 1 < pending_.size()) {
            Pending& next = pending_[i + 1];
            if (!next.live || next.blockStart != start || next.blockSize != outSize || next.nextWindow) break;
            std::memmove(vm_.get(), vm_.get() + outPos, outSize);
            next.r[4] = outSize;
            if (!RunPending(++i, outPos, outSize)) return false;
        }
        out_->Write(vm_.get() + outPos, outSize);
        border = end;
        writeSize = (window_.pos - border) & RarWindow::kMask;
    }
    wrPtr_ = window_.pos;
    out_->WriteRing(ring, border, window_.pos);
    if (out_->Cancelled()) return Fail(E_UserCanceled, "cancelled");
    return true;
}

}  // namespace varnok::rar
