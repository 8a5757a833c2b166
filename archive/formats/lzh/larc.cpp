#include "archive/formats/lzh/larc.h"

#include "archive/core/errors.h"
#include "archive/codecs/lz_output.h"
#include "archive/codecs/msb_bit_reader.h"

namespace varnok {

namespace {

// Common driver: `step` decodes one item into the window (returning the bytes it produced, clamped
// to the room given) and keeps the ring position in step with the output.
template <class Step>
DecodeResult RunLarc(MsbBitReader& br, LzOutput& w, const CancelFlag* cancel, Step step) {
    DecodeStatus status = DecodeStatus::Ok;
    int error = 0;
    do {
        if (IsCancelled(cancel)) {
            status = DecodeStatus::Cancelled;
            error = E_UserCanceled;
            break;
        }
        uint8_t* buf = w.Data();
        size_t pos = w.pos;
        while (pos < w.limit) {
            size_t n = step(br, buf, pos, w.hardEnd - pos);
            if (br.PastEnd()) break;  // the item was made of invented bits: drop it
            pos += n;
        }
        w.pos = pos;
        if (br.Overrun()) {
            status = DecodeStatus::Truncated;
            error = E_UnexpectedEof;
            break;
        }
    } while (w.Advance());
    w.Settle();
    w.Flush();
    return MakeResult(status, error, w.Produced(), br.ConsumedBytes());
}

}  // namespace

DecodeResult DecodeLzs(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel) {
    constexpr uint32_t kRing = 2048;
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitReader br(in, packedSize);
    LzOutput w(out, unpackedSize, kRing, 17, 0x20);
    uint32_t r = kRing - 17;  // ring position of the next output byte
    return RunLarc(br, w, cancel, [&](MsbBitReader& b, uint8_t* buf, size_t pos, size_t room) -> size_t {
        b.Refill();
        if (b.Peek(1)) {
            b.Skip(1);
            buf[pos] = static_cast<uint8_t>(b.Peek(8));
            b.Skip(8);
            r = (r + 1) & (kRing - 1);
            return 1;
        }
        b.Skip(1);
        uint32_t p = b.Peek(11);
        b.Skip(11);
        size_t len = b.Peek(4) + 2;
        b.Skip(4);
        size_t dist = ((r - p - 1) & (kRing - 1)) + 1;
        if (len > room) len = room;
        LzCopy(buf, pos, dist, len);
        r = (r + static_cast<uint32_t>(len)) & (kRing - 1);
        return len;
    });
}

DecodeResult DecodeLz5(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel) {
    constexpr uint32_t kRing = 4096;
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitReader br(in, packedSize);
    LzOutput w(out, unpackedSize, kRing, 18, 0);
    // The preset ring: each byte value 13 times, the values ascending, then descending, then 128
    // zeros, then spaces up to the first output position (4078).
    uint8_t ring[kRing];
    size_t k = 0;
    for (int v = 0; v < 256; ++v)
        for (int n = 0; n < 13; ++n)
            ring[k++] = static_cast<uint8_t>(v);
    for (int v = 0; v < 256; ++v)
        ring[k++] = static_cast<uint8_t>(v);
    for (int v = 255; v >= 0; --v)
        ring[k++] = static_cast<uint8_t>(v);
    for (int n = 0; n < 128; ++n)
        ring[k++] = 0;
    while (k < kRing - 18)
        ring[k++] = 0x20;
    while (k < kRing)
        ring[k++] = 0;
    // The window's history ends just before the first output byte, which goes to ring position
    // 4078: history byte i is ring position 4078 + i (modulo the ring size).
    uint8_t* h = w.HistoryStart();
    for (uint32_t i = 0; i < kRing; ++i)
        h[i] = ring[(i + kRing - 18) & (kRing - 1)];
    uint32_t r = kRing - 18;
    unsigned flags = 0;
    int flagCount = 0;
    return RunLarc(br, w, cancel, [&](MsbBitReader& b, uint8_t* buf, size_t pos, size_t room) -> size_t {
        b.Refill();
        if (flagCount == 0) {
            flags = b.Peek(8);
            b.Skip(8);
            flagCount = 8;
        }
        bool literal = flags & 1;
        flags >>= 1;
        --flagCount;
        if (literal) {
            buf[pos] = static_cast<uint8_t>(b.Peek(8));
            b.Skip(8);
            r = (r + 1) & (kRing - 1);
            return 1;
        }
        uint32_t lo = b.Peek(8);
        b.Skip(8);
        uint32_t hi = b.Peek(8);
        b.Skip(8);
        uint32_t p = lo | ((hi & 0xF0) << 4);
        size_t len = (hi & 0x0F) + 3;
        size_t dist = ((r - p - 1) & (kRing - 1)) + 1;
        if (len > room) len = room;
        LzCopy(buf, pos, dist, len);
        r = (r + static_cast<uint32_t>(len)) & (kRing - 1);
        return len;
    });
}

}  // namespace varnok
