// Distilled data (PAK method 11): LZSS over an 8 KB window, with a Huffman code sent in front of the data
// for literals and match lengths, and a fixed code for the high bits of match offsets.
//
// Header: the number of tree values (16 bits, 2..628), their width in bits (1..16), then the values
// themselves in the bit stream. The values form pairs (0-branch, 1-branch); the root pair starts at
// count - 2, a value below the count is the start of another pair, and a value v >= count is the leaf
// for symbol v - count. Symbols: 0-255 literals, 256 the end, 257-314 matches of 3-60 bytes.
// A match is followed by a 6-bit offset class in the fixed code and as many low offset bits as the
// output position calls for; the window starts filled with spaces. All bits least significant first.
#include <array>
#include <vector>

#include "archive/core/errors.h"
#include "archive/formats/arc/arc_methods.h"

namespace varnok::arc {

namespace {

constexpr int kMaxTreeValues = 0x274;
constexpr int kEnd = 256;
constexpr int kFirstMatch = 257;
constexpr int kLastMatch = 314;  // a match of 60 bytes
constexpr int kMinMatch = 3;
constexpr uint32_t kWindowSize = 8192;

// The fixed prefix code of the offset classes 0..63: code lengths and codes (first bit in bit 0).
constexpr uint8_t kOffsetLength[64] = {3, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
                                       6, 6, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
                                       7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8};
constexpr uint8_t kOffsetCode[64] = {
    0x00, 0x02, 0x04, 0x0C, 0x01, 0x06, 0x0A, 0x0E, 0x11, 0x16, 0x1A, 0x1E, 0x05, 0x09, 0x0D, 0x15,
    0x19, 0x1D, 0x25, 0x29, 0x2D, 0x35, 0x39, 0x3D, 0x03, 0x07, 0x0B, 0x13, 0x17, 0x1B, 0x23, 0x27,
    0x2B, 0x33, 0x37, 0x3B, 0x43, 0x47, 0x4B, 0x53, 0x57, 0x5B, 0x63, 0x67, 0x6B, 0x73, 0x77, 0x7B,
    0x0F, 0x1F, 0x2F, 0x3F, 0x4F, 0x5F, 0x6F, 0x7F, 0x8F, 0x9F, 0xAF, 0xBF, 0xCF, 0xDF, 0xEF, 0xFF};

struct OffsetLookup {
    uint8_t cls[256];
    uint8_t len[256];
};

// Every 8-bit window of the stream maps to the offset class whose code it begins with (the code is
// complete, so each window has exactly one).
constexpr OffsetLookup MakeOffsetLookup() {
    OffsetLookup t{};
    for (int c = 0; c < 64; ++c) {
        int l = kOffsetLength[c];
        for (int hi = 0; hi < (1 << (8 - l)); ++hi) {
            int w = kOffsetCode[c] | (hi << l);
            t.cls[w] = static_cast<uint8_t>(c);
            t.len[w] = static_cast<uint8_t>(l);
        }
    }
    return t;
}
constexpr OffsetLookup kOffsetLookup = MakeOffsetLookup();

// Low offset bits sent after the class: more as the output grows (the window is in use from 60 bytes
// before the start).
int LowOffsetBits(uint64_t pos) {
    static constexpr uint64_t kFrom[7] = {0xFC4, 0x7C4, 0x3C4, 0x1C4, 0xC4, 0x44, 0x04};
    for (int i = 0; i < 7; ++i)
        if (pos >= kFrom[i]) return 7 - i;
    return 0;
}

}  // namespace

DecodeResult Undistill(CodecInput& in, CodecOutput& out) {
    int lo = in.Byte(), hi = in.Byte(), width = in.Byte();
    if (lo < 0 || hi < 0 || width < 0) return FinishDecode(DecodeStatus::Truncated, 0, in, out, in.Taken());
    const int count = lo | (hi << 8);
    if (count < 2 || count > kMaxTreeValues || width < 1 || width > 16)
        return FinishDecode(DecodeStatus::Corrupt, E_InvalidDecodeTree, in, out, in.Taken());

    LsbBitReader br(in);
    std::vector<uint16_t> tree(static_cast<size_t>(count));
    for (auto& v : tree) {
        uint32_t x;
        if (!br.Read(width, x)) return FinishDecode(DecodeStatus::Truncated, 0, in, out, br.Consumed());
        v = static_cast<uint16_t>(x);
    }

    std::vector<uint8_t> window(kWindowSize, 0x20);
    uint64_t pos = 0;
    DecodeStatus status = DecodeStatus::Ok;
    int error = 0;
    auto put = [&](uint8_t b) {
        window[pos & (kWindowSize - 1)] = b;
        ++pos;
        out.Put(b);
    };

    for (;;) {
        if (out.Cancelled()) break;
        // Walk the tree to a leaf.
        int node = count - 2;
        int sym = -1;
        while (sym < 0) {
            uint32_t bit;
            if (!br.Read(1, bit)) break;
            int v = tree[static_cast<size_t>(node) + bit];
            if (v >= count) {
                sym = v - count;
            } else if (v + 1 < count) {
                node = v;
            } else {
                status = DecodeStatus::Corrupt;
                error = E_InvalidDecodeTree;
                break;
            }
        }
        if (sym < 0) {
            if (status == DecodeStatus::Ok) status = DecodeStatus::Truncated;
            break;
        }
        if (sym < 256) {
            put(static_cast<uint8_t>(sym));
            continue;
        }
        if (sym == kEnd) break;
        if (sym > kLastMatch) {
            status = DecodeStatus::Corrupt;
            error = E_InvalidCode;
            break;
        }
        const int length = sym - kFirstMatch + kMinMatch;

        // Offset: a class from the fixed code, then the low bits.
        br.Fill(8);
        uint32_t w = br.Peek(br.Ready() < 8 ? br.Ready() : 8);
        int cls = kOffsetLookup.cls[w];
        int clen = kOffsetLookup.len[w];
        if (clen > br.Ready()) {
            status = DecodeStatus::Truncated;
            break;
        }
        br.Drop(clen);
        int low = LowOffsetBits(pos);
        uint32_t lowBits = 0;
        if (low && !br.Read(low, lowBits)) {
            status = DecodeStatus::Truncated;
            break;
        }
        const uint32_t offset = (static_cast<uint32_t>(cls) << low) + lowBits + 1;
        for (int i = 0; i < length; ++i)
            put(window[(pos - offset) & (kWindowSize - 1)]);
    }
    return FinishDecode(status, error, in, out, br.Consumed());
}

}  // namespace varnok::arc
