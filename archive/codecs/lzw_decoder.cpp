#include "archive/codecs/lzw_decoder.h"

#include <cstring>

namespace varnok {

namespace {

constexpr uint32_t kTableSize = 1u << 16;
constexpr uint32_t kClear = 256;
constexpr uint32_t kEnd = 257;

// The next free code above which the width grows past n. At the top width every code of the table fits.
// The 9-bit start (and restart after a clear) always has the limit 511, even when 9 bits is the widest
// width: the compress programs then go on to 10-bit codes once the 9-bit table is full, and files made
// with -b9 are laid out that way.
inline uint32_t WidthLimit(int n, int maxBits) {
    return n >= maxBits ? (1u << maxBits) : (1u << n) - 1;
}
constexpr uint32_t kStartLimit = 511;

}  // namespace

LzwDecoder::LzwDecoder() = default;

void LzwDecoder::Allocate() {
    // Only the single-byte strings need contents up front; every other entry is written when entered.
    segment_.reset(new uint8_t[kSegment * kTableSize]);
    anchor_.reset(new uint16_t[kTableSize]);
    length_.reset(new uint16_t[kTableSize]);
    for (uint32_t c = 0; c < 256; ++c) {
        std::memset(segment_.get() + kSegment * c, 0, kSegment);
        segment_[kSegment * c] = static_cast<uint8_t>(c);
        anchor_[c] = 0;
        length_[c] = 1;
    }
}

LzwDecoder::~LzwDecoder() = default;

DecodeResult LzwDecoder::Decode(const LzwParams& params, ByteSource& src, ByteSink& sink,
                                const CancelFlag* cancel) {
    CodecInput in(src, cancel);
    CodecOutput out(sink, cancel, 2 * kMinOutputCapacity);
    return Decode(params, in, out);
}

DecodeResult LzwDecoder::Decode(const LzwParams& p, CodecInput& in, CodecOutput& out) {
    LsbBitReader br(in);
    if (p.maxBits < 9 || p.maxBits > 16 || (p.endCode && !p.clearCode) || out.Capacity() < kMinOutputCapacity)
        return FinishDecode(DecodeStatus::Corrupt, E_IncorrectBits, in, out, 0);
    if (!segment_) Allocate();

    const uint32_t tableEnd = 1u << p.maxBits;  // codes below this can be entered
    const uint32_t firstFree = 256 + (p.clearCode ? 1 : 0) + (p.endCode ? 1 : 0);
    uint8_t* const segment = segment_.get();
    uint16_t* const anchor = anchor_.get();
    uint16_t* const length = length_.get();

    // Writes the string of code c at dst, sixteen bytes per step from its last segment back to its first.
    // Only the last segment can be partial, so the one store that runs past the string (by up to 15
    // bytes) comes first and is not overwritten. The step count comes from the length alone.
    auto WriteString = [&](uint32_t c, uint8_t* dst) {
        uint32_t k = (static_cast<uint32_t>(length[c]) - 1) / kSegment;
        uint8_t* at = dst + kSegment * k;
        for (;;) {
            std::memcpy(at, segment + kSegment * c, kSegment);
            if (k == 0) break;
            c = anchor[c];
            --k;
            at -= kSegment;
        }
    };

    int n = 9;
    uint32_t limit = kStartLimit;
    uint32_t freeCode = firstFree;
    int32_t prev = -1;     // previous code; -1 at the start and after a clear
    uint8_t first = 0;     // first byte of the previous code's string
    uint32_t inGroup = 0;  // codes read at the current width since the last group boundary
    bool started = false;
    DecodeStatus status = DecodeStatus::Ok;
    int error = 0;

    // Skips the rest of the current group of eight codes at width n.
    auto alignGroup = [&] {
        uint32_t r = inGroup & 7;
        if (p.groupAlign && r) br.SkipBits(static_cast<uint64_t>(8 - r) * static_cast<uint64_t>(n));
        inGroup = 0;
    };

    for (;;) {
        if (freeCode > limit) {
            alignGroup();
            ++n;
            limit = WidthLimit(n, p.maxBits);
        }
        if (!br.Fill(n)) {
            if (p.endCode) status = DecodeStatus::Truncated;
            break;
        }
        if (out.Cancelled()) break;
        uint32_t code = br.Peek(n);
        br.Drop(n);
        ++inGroup;

        if (code == kClear && p.clearCode) {
            if (!started && !p.leadingClear) {
                status = DecodeStatus::Corrupt;
                error = p.errorCode;
                break;
            }
            started = true;
            alignGroup();
            n = 9;
            limit = kStartLimit;
            freeCode = firstFree;
            prev = -1;
            continue;
        }
        if (code == kEnd && p.endCode) break;
        started = true;

        if (prev < 0) {
            // The first code after the start or a clear stands for itself and adds no string.
            if (code >= 256) {
                status = DecodeStatus::Corrupt;
                error = p.errorCode;
                break;
            }
            out.Put(static_cast<uint8_t>(code));
            prev = static_cast<int32_t>(code);
            first = static_cast<uint8_t>(code);
            continue;
        }

        uint32_t len;
        uint8_t* dst;
        if (code < freeCode) {
            len = length[code];
            dst = out.Reserve(len + kSegment);
            WriteString(code, dst);
        } else if (code == freeCode) {
            // The string being defined by this very code: the previous string plus its own first byte.
            len = static_cast<uint32_t>(length[prev]) + 1;
            dst = out.Reserve(len + kSegment);
            WriteString(static_cast<uint32_t>(prev), dst);
            dst[len - 1] = first;
        } else {
            // A code beyond the next free one cannot have been written by an encoder.
            status = DecodeStatus::Corrupt;
            error = p.errorCode;
            break;
        }
        first = dst[0];
        out.Commit(len);

        if (freeCode < tableEnd) {
            // The new string is the previous one plus this one's first byte: it extends the previous
            // string's last segment, or starts a new segment when that one is full.
            const uint32_t plen = length[prev];
            const uint32_t used = plen % kSegment;
            uint8_t* seg = segment + kSegment * freeCode;
            if (used == 0) {
                anchor[freeCode] = static_cast<uint16_t>(prev);
                std::memset(seg, 0, kSegment);
            } else {
                anchor[freeCode] = anchor[prev];
                std::memcpy(seg, segment + kSegment * static_cast<uint32_t>(prev), kSegment);
            }
            seg[used] = first;
            length[freeCode] = static_cast<uint16_t>(plen + 1);
            ++freeCode;
        }
        prev = static_cast<int32_t>(code);
    }
    return FinishDecode(status, error, in, out, br.Consumed());
}

}  // namespace varnok
