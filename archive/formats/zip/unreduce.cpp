// Reduce (ZIP methods 2-5). Two stages: a probabilistic stage turns the bit stream into bytes using, for
// every byte value, a set of up to 32 likely followers; an expander then turns DLE (144) sequences into
// copies from the last 4 KiB of output (the history reads zeros before the start).
#include <algorithm>
#include <cstring>

#include "archive/core/errors.h"
#include "archive/formats/zip/legacy.h"
#include "archive/formats/zip/legacy_io.h"

namespace varnok {

namespace {

constexpr uint8_t kDle = 144;
constexpr unsigned kMaxFollowers = 32;

// Bits of an index into a follower set of n bytes (n >= 1).
unsigned IndexBits(unsigned n) {
    unsigned bits = 1;
    while ((1u << bits) < n)
        ++bits;
    return bits;
}

}  // namespace

DecodeResult Unreduce(ByteSource& source, ByteSink& sink, int factor, uint64_t uncompressedSize,
                      const CancelFlag* cancel) {
    CodecInput input(source);  // not given the cancel flag: a cancel must not look like the end of the data
    LsbBitReader in(input);
    HistoryOutput out(sink, uncompressedSize, cancel);
    LegacyRun run(in, out, uncompressedSize);
    if (factor < 1 || factor > 4) return run.Fail(E_UnsupportedMethod);
    if (uncompressedSize == 0) return run.End();
    if (out.Cancelled()) return run.Cancelled();

    // Follower sets, stored from byte value 255 down to 0.
    uint8_t setSize[256];
    uint8_t followers[256][kMaxFollowers];
    for (int v = 255; v >= 0; --v) {
        uint32_t n;
        if (!in.Read(6, n)) return run.Truncated();
        if (n > kMaxFollowers)
            return run.Fail(E_BadBlock);  // outside the format: a set holds at most 32 bytes
        setSize[v] = static_cast<uint8_t>(n);
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t b;
            if (!in.Read(8, b)) return run.Truncated();
            followers[v][i] = static_cast<uint8_t>(b);
        }
    }

    const unsigned lengthBits = 8 - static_cast<unsigned>(factor);
    const unsigned lengthMask = (1u << lengthBits) - 1;  // 0x7F, 0x3F, 0x1F, 0x0F
    enum { kNormal, kAfterDle, kMoreLength, kDistance } state = kNormal;
    unsigned last = 0, v = 0, length = 0;
    while (!out.Full()) {
        if (out.Cancelled()) return run.Cancelled();
        // Probabilistic stage: the next byte.
        uint32_t c;
        const unsigned n = setSize[last];
        bool ok;
        if (n == 0) {
            ok = in.Read(8, c);
        } else {
            uint32_t literal;
            ok = in.Read(1, literal);
            if (ok) {
                if (literal) {
                    ok = in.Read(8, c);
                } else {
                    uint32_t index;
                    ok = in.Read(IndexBits(n), index);
                    if (ok && index >= n) return run.Fail(E_BadBlock);  // an index past the set's end
                    if (ok) c = followers[last][index];
                }
            }
        }
        if (!ok) break;
        last = c;

        // Expander.
        switch (state) {
            case kNormal:
                if (c == kDle)
                    state = kAfterDle;
                else
                    out.Put(static_cast<uint8_t>(c));
                break;
            case kAfterDle:
                if (c == 0) {
                    out.Put(kDle);
                    state = kNormal;
                } else {
                    v = c;
                    length = c & lengthMask;
                    state = length == lengthMask ? kMoreLength : kDistance;
                }
                break;
            case kMoreLength:
                length += c;
                state = kDistance;
                break;
            case kDistance: {
                const size_t distance = ((v >> lengthBits) << 8) + c + 1;
                out.Copy(distance, static_cast<size_t>(std::min<uint64_t>(length + 3, out.Room())));
                state = kNormal;
                break;
            }
        }
    }
    return run.End();
}

}  // namespace varnok
