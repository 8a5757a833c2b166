#include "archive/formats/arj/arj_method4.h"

#include <bit>

#include "archive/codecs/lz_driver.h"

namespace varnok {

namespace {

constexpr size_t kHistory = 32768;  // the farthest distance is 2^9+...+2^12 + 2^13 - 1 = 15871
constexpr size_t kMaxMatch = 256;   // 2^0+...+2^6 + 2^7 - 1 + 2

// A value with a unary width prefix: widths from `first` to `last`; each one-bit adds 2^width and
// widens by one; the prefix ends at a zero-bit or at the last width. The run of one-bits is counted in
// one step rather than a bit at a time (the prefix is at most 7 bits, inside the refilled buffer).
inline uint32_t ReadPrefixed(MsbBitReader& br, int first, int last) {
    const int most = last - first;
    int ones = std::countl_one(br.Peek(most) << (32 - most));
    if (ones > most) ones = most;
    const int width = first + ones;
    br.Skip(ones < most ? ones + 1 : ones);
    const uint32_t base = (1u << width) - (1u << first);
    return base + (width ? br.Get(width) : 0);
}

}  // namespace

DecodeResult DecodeArjMethod4(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                              const CancelFlag* cancel) {
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitInput input(in, packedSize);
    LzOutput w(out, unpackedSize, kHistory, kMaxMatch, 0);
    auto step = [&](MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int&) -> size_t {
        br.Refill();  // an item takes at most 8 + 7 + 5 + 13 bits
        uint32_t c = ReadPrefixed(br, 0, 7);
        if (c == 0) {
            buf[pos] = static_cast<LzByte>(br.Peek(8));
            br.Skip(8);
            return 1;
        }
        size_t len = c + 2;
        size_t dist = ReadPrefixed(br, 9, 13);
        if (len > room) len = room;
        LzCopy(buf, pos, dist + 1, len);
        return len;
    };
    return DriveLzDecoder(input, w, cancel, step);
}

}  // namespace varnok
