#include "archive/formats/lzh/larc.h"

#include "archive/codecs/lz_driver.h"

namespace varnok {

DecodeResult DecodeLzs(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel) {
    constexpr uint32_t kRing = 2048;
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitInput input(in, packedSize);
    LzOutput w(out, unpackedSize, kRing, 17, 0x20);
    uint32_t r = kRing - 17;  // ring position of the next output byte
    auto step = [&](MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int&) -> size_t {
        br.Refill();
        if (br.Peek(1)) {
            br.Skip(1);
            buf[pos] = static_cast<LzByte>(br.Peek(8));
            br.Skip(8);
            r = (r + 1) & (kRing - 1);
            return 1;
        }
        br.Skip(1);
        uint32_t p = br.Peek(11);
        br.Skip(11);
        size_t len = br.Peek(4) + 2;
        br.Skip(4);
        size_t dist = ((r - p - 1) & (kRing - 1)) + 1;
        if (len > room) len = room;
        LzCopy(buf, pos, dist, len);
        r = (r + static_cast<uint32_t>(len)) & (kRing - 1);
        return len;
    };
    return DriveLzDecoder(input, w, cancel, step);
}

DecodeResult DecodeLz5(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel) {
    constexpr uint32_t kRing = 4096;
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitInput input(in, packedSize);
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
    LzByte* h = w.HistoryStart();
    for (uint32_t i = 0; i < kRing; ++i)
        h[i] = static_cast<LzByte>(ring[(i + kRing - 18) & (kRing - 1)]);
    uint32_t r = kRing - 18;
    unsigned flags = 0;
    int flagCount = 0;
    auto step = [&](MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int&) -> size_t {
        br.Refill();
        if (flagCount == 0) {
            flags = br.Peek(8);
            br.Skip(8);
            flagCount = 8;
        }
        bool literal = flags & 1;
        flags >>= 1;
        --flagCount;
        if (literal) {
            buf[pos] = static_cast<LzByte>(br.Peek(8));
            br.Skip(8);
            r = (r + 1) & (kRing - 1);
            return 1;
        }
        uint32_t lo = br.Peek(8);
        br.Skip(8);
        uint32_t hi = br.Peek(8);
        br.Skip(8);
        uint32_t p = lo | ((hi & 0xF0) << 4);
        size_t len = (hi & 0x0F) + 3;
        size_t dist = ((r - p - 1) & (kRing - 1)) + 1;
        if (len > room) len = room;
        LzCopy(buf, pos, dist, len);
        r = (r + static_cast<uint32_t>(len)) & (kRing - 1);
        return len;
    };
    return DriveLzDecoder(input, w, cancel, step);
}

}  // namespace varnok
