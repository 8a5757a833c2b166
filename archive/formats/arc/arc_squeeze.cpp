// Squeezed data (ARC method 4): a Huffman decoding tree followed by the coded bytes.
//
// The tree is a node count (signed 16 bits, 0..256) and that many nodes of two signed 16-bit children.
// A child >= 0 is another node; a child < 0 is the leaf for the value -(child + 1), where 256 marks the
// end of the data. Codes are read least significant bit first, starting at node 0.
#include <array>

#include "archive/core/bytes.h"
#include "archive/core/errors.h"
#include "archive/formats/arc/arc_methods.h"

namespace varnok::arc {

namespace {

constexpr int kMaxNodes = 256;
constexpr int kEndOfData = 256;

bool ReadLe16(CodecInput& in, int16_t& v) {
    int lo = in.Byte();
    if (lo < 0) return false;
    int hi = in.Byte();
    if (hi < 0) return false;
    v = static_cast<int16_t>(static_cast<uint16_t>(lo | (hi << 8)));
    return true;
}

}  // namespace

DecodeResult Unsqueeze(CodecInput& in, CodecOutput& out) {
    int16_t count;
    if (!ReadLe16(in, count)) return FinishDecode(DecodeStatus::Truncated, 0, in, out, in.Taken());
    if (count < 0 || count > kMaxNodes)
        return FinishDecode(DecodeStatus::Corrupt, E_InvalidDecodeTree, in, out, in.Taken());
    // An empty tree holds only the end of the data.
    if (count == 0) return FinishDecode(DecodeStatus::Ok, 0, in, out, in.Taken());

    std::array<std::array<int16_t, 2>, kMaxNodes> node;
    for (int i = 0; i < count; ++i) {
        if (!ReadLe16(in, node[i][0]) || !ReadLe16(in, node[i][1]))
            return FinishDecode(DecodeStatus::Truncated, 0, in, out, in.Taken());
    }

    LsbBitReader br(in);
    DecodeStatus status = DecodeStatus::Ok;
    int error = 0;
    for (;;) {
        if (out.Cancelled() || in.Cancelled()) break;
        int n = 0;
        int value = -1;
        while (value < 0) {
            uint32_t bit;
            if (!br.Read(1, bit)) {
                status = DecodeStatus::Truncated;
                break;
            }
            int child = node[n][bit];
            if (child >= 0) {
                if (child >= count) {
                    status = DecodeStatus::Corrupt;
                    error = E_InvalidDecodeTree;
                    break;
                }
                n = child;
            } else {
                value = -(child + 1);
            }
        }
        if (value < 0) break;
        if (value > kEndOfData) {
            status = DecodeStatus::Corrupt;
            error = E_InvalidDecodeTree;
            break;
        }
        if (value == kEndOfData) break;
        out.Put(static_cast<uint8_t>(value));
    }
    return FinishDecode(status, error, in, out, br.Consumed());
}

}  // namespace varnok::arc
