#include "archive/formats/lzh/lh1.h"

#include "archive/codecs/huffman_table.h"
#include "archive/codecs/lz_driver.h"
#include "archive/core/errors.h"
#include "archive/formats/lzh/adaptive_huffman.h"

namespace varnok {

namespace {

constexpr int kSymbols = 314;  // 256 literals + lengths 3..60
constexpr size_t kWindow = 4096;
constexpr size_t kMaxMatch = 60;

// The fixed code of the upper 6 position bits: 1 code of 3 bits, 3 of 4, 8 of 5, 12 of 6, 24 of 7
// and 16 of 8 bits, assigned in symbol order.
void BuildPositionTable(HuffmanDecodeTable& t) {
    uint8_t len[64];
    int i = 0;
    const struct { int count, bits; } groups[] = {{1, 3}, {3, 4}, {8, 5}, {12, 6}, {24, 7}, {16, 8}};
    for (auto g : groups)
        for (int k = 0; k < g.count; ++k)
            len[i++] = static_cast<uint8_t>(g.bits);
    t.Build(len, 64);
}

}  // namespace

DecodeResult DecodeLh1(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel) {
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitInput input(in, packedSize);
    // The window starts out as spaces; the first byte lands after 4036 of them, so a match may
    // reach back over the whole window from the start.
    LzOutput w(out, unpackedSize, kWindow, kMaxMatch, 0x20);
    AdaptiveHuffman code(kSymbols);
    HuffmanDecodeTable posTable(8);
    BuildPositionTable(posTable);

    auto step = [&](MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int&) -> size_t {
        int c = code.Decode(br);
        if (c < 256) {
            buf[pos] = static_cast<LzByte>(c);
            return 1;
        }
        size_t len = static_cast<size_t>(c - 253);
        br.Refill();
        uint32_t upper = posTable.Decode(br);
        size_t dist = (upper << 6) | br.Get(6);
        if (len > room) len = room;
        LzCopy(buf, pos, dist + 1, len);
        return len;
    };
    return DriveLzDecoder(input, w, cancel, step);
}

}  // namespace varnok
