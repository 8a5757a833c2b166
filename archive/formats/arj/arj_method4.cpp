#include "archive/formats/arj/arj_method4.h"

#include "archive/core/errors.h"
#include "archive/codecs/lz_output.h"
#include "archive/codecs/msb_bit_reader.h"

namespace varnok {

namespace {

constexpr size_t kHistory = 32768;  // the farthest distance is 2^9+...+2^12 + 2^13 - 1 = 15871
constexpr size_t kMaxMatch = 256;   // 2^0+...+2^6 + 2^7 - 1 + 2

// A value with a unary width prefix: widths from `first` to `last`; each one-bit adds 2^width and
// widens by one; the prefix ends at a zero-bit or at the last width.
inline uint32_t ReadPrefixed(MsbBitReader& br, int first, int last) {
    uint32_t base = 0;
    int width = first;
    while (width < last && br.Peek(1)) {
        br.Skip(1);
        base += 1u << width;
        ++width;
    }
    if (width < last) br.Skip(1);
    return base + (width ? br.Get(width) : 0);
}

}  // namespace

DecodeResult DecodeArjMethod4(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                              const CancelFlag* cancel) {
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitReader br(in, packedSize);
    LzOutput w(out, unpackedSize, kHistory, kMaxMatch, 0);
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
        const size_t limit = w.limit;
        const size_t hardEnd = w.hardEnd;
        while (pos < limit) {
            br.Refill();  // an item takes at most 8 + 7 + 5 + 13 bits
            uint32_t c = ReadPrefixed(br, 0, 7);
            if (c == 0) {
                uint8_t literal = static_cast<uint8_t>(br.Peek(8));
                br.Skip(8);
                if (br.PastEnd()) break;
                buf[pos++] = literal;
                continue;
            }
            size_t len = c + 2;
            size_t dist = ReadPrefixed(br, 9, 13);
            if (br.PastEnd()) break;
            if (len > hardEnd - pos) len = hardEnd - pos;
            LzCopy(buf, pos, dist + 1, len);
            pos += len;
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

}  // namespace varnok
