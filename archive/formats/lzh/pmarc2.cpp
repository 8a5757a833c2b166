#include "archive/formats/lzh/pmarc2.h"

#include <array>
#include <cstring>

#include "archive/codecs/huffman_table.h"
#include "archive/codecs/lz_driver.h"
#include "archive/core/errors.h"

namespace varnok {

namespace {

constexpr size_t kWindow = 8192;
constexpr size_t kMaxCopy = 256;
constexpr int kMaxSymbols = 31;          // the symbol count is a 5-bit field
constexpr uint32_t kLiteralClasses = 8;  // symbols below this are literals
constexpr uint32_t kCopyCodes = 21;      // symbols 8..28
constexpr uint32_t kShortCopies = 15;    // copy codes 0..14 are lengths 2..16 with no extra bits
constexpr uint32_t kRunCode = 20;        // 256 repeats of the last byte

struct Range {
    uint16_t base;
    uint8_t bits;
};
// The place in the recent-byte list of each literal symbol: ranges grow towards the least recent.
constexpr Range kLiteralRanges[kLiteralClasses] = {{0, 3},  {8, 3},  {16, 4},  {32, 5},
                                                   {64, 5}, {96, 5}, {128, 6}, {192, 6}};
// Lengths of copy codes 15..20.
constexpr Range kLongCopies[kCopyCodes - kShortCopies] = {{17, 3}, {25, 3},  {33, 5},
                                                          {65, 6}, {129, 7}, {256, 0}};

// The 256 byte values, the most recently written first. A literal is coded as its place in this
// list; every byte written (literal or copied) moves to the front.
class RecentBytes {
  public:
    RecentBytes() {
        // Before any output: printable ASCII first, then control characters, then the upper half in
        // the order A0-DF, 80-9F, E0-FF.
        const struct {
            int first, last;
        } runs[] = {{0x20, 0x7F}, {0x00, 0x1F}, {0xA0, 0xDF}, {0x80, 0x9F}, {0xE0, 0xFF}};
        size_t n = 0;
        for (auto r : runs)
            for (int v = r.first; v <= r.last; ++v)
                order_[n++] = static_cast<uint8_t>(v);
    }

    uint8_t TakeAt(size_t place) {
        uint8_t b = order_[place];
        ToFront(place);
        return b;
    }
    void Use(uint8_t b) {
        if (order_[0] == b) return;
        const void* at = std::memchr(order_.data() + 1, b, order_.size() - 1);
        ToFront(static_cast<size_t>(static_cast<const uint8_t*>(at) - order_.data()));
    }

  private:
    void ToFront(size_t place) {
        uint8_t b = order_[place];
        std::memmove(order_.data() + 1, order_.data(), place);
        order_[0] = b;
    }
    std::array<uint8_t, 256> order_;
};

// The item code and the distance-width code, with the schedule on which the stream replaces them.
class Pm2Codes {
  public:
    Pm2Codes() { distance.Build(nullptr, 0); }

    HuffmanDecodeTable items{10};
    HuffmanDecodeTable distance{7};

    // Output count at which the next set of codes is read.
    uint64_t NextChange() const { return next_; }

    // Reads the codes due at this point of the output. Returns false for a code that cannot be used.
    bool Change(MsbBitReader& br) {
        bool ok = true;
        switch (stage_) {
            case 0:
                br.GetBit();  // the stream opens with one unused bit
                ok = ReadItems(br) && ReadDistance(br, 5);
                next_ = 1024;
                break;
            case 1:
                ok = ReadDistance(br, 6);
                next_ = 2048;
                break;
            case 2:
                ok = ReadDistance(br, 7);
                next_ = 4096;
                break;
            case 3:
                if (br.GetBit()) ok = ReadItems(br);
                ok = ok && ReadDistance(br, 8);
                next_ = 8192;
                break;
            default:
                if (br.GetBit()) ok = ReadItems(br) && ReadDistance(br, 8);
                next_ += 4096;
                break;
        }
        if (stage_ < 4) ++stage_;
        return ok;
    }

  private:
    // Symbol count (5 bits) and shortest length (3 bits); a shortest length of 0 means the one
    // symbol count-1 coded in no bits. Otherwise a 3-bit width, then each symbol's length in that
    // many bits: 0 for unused, else shortest + value - 1.
    bool ReadItems(MsbBitReader& br) {
        int count = static_cast<int>(br.Get(5));
        uint32_t shortest = br.Get(3);
        // The distance code is only sent when some symbol can use it (the run form cannot).
        needDistance_ = count >= 10 && !(count == 29 && shortest == 0);
        if (shortest == 0) {
            if (count == 0) return false;
            items.SetSingle(static_cast<uint32_t>(count - 1));
            return true;
        }
        int width = static_cast<int>(br.Get(3));
        std::array<uint8_t, kMaxSymbols> lengths{};
        for (int i = 0; i < count; ++i) {
            uint32_t v = br.Get(width);
            lengths[static_cast<size_t>(i)] = static_cast<uint8_t>(v ? shortest + v - 1 : 0);
        }
        return items.Build(lengths.data(), count);
    }

    // `symbols` 3-bit lengths; a single used symbol takes no bits.
    bool ReadDistance(MsbBitReader& br, int symbols) {
        if (!needDistance_) return true;
        std::array<uint8_t, 8> lengths{};
        int used = 0;
        uint32_t last = 0;
        for (int i = 0; i < symbols; ++i) {
            lengths[static_cast<size_t>(i)] = static_cast<uint8_t>(br.Get(3));
            if (lengths[static_cast<size_t>(i)]) {
                ++used;
                last = static_cast<uint32_t>(i);
            }
        }
        if (used == 1) {
            distance.SetSingle(last);
            return true;
        }
        return distance.Build(lengths.data(), symbols);
    }

    int stage_ = 0;
    uint64_t next_ = 0;
    bool needDistance_ = false;
};

}  // namespace

DecodeResult DecodePm2(ByteSource& in, uint64_t packedSize, ByteSink& out, uint64_t unpackedSize,
                       const CancelFlag* cancel) {
    if (unpackedSize == 0) return MakeResult(DecodeStatus::Ok, 0, 0, 0);
    MsbBitInput input(in, packedSize);
    LzOutput w(out, unpackedSize, kWindow, kMaxCopy, 0x20);
    RecentBytes recent;
    Pm2Codes codes;
    uint64_t done = 0;  // bytes decoded so far

    auto step = [&](MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int& error) -> size_t {
        if (done >= codes.NextChange() && !codes.Change(br)) {
            error = E_InvalidDecodeTree;
            return 0;
        }
        br.Refill();
        uint32_t sym = codes.items.Decode(br);
        if (sym < kLiteralClasses) {
            const Range& r = kLiteralRanges[sym];
            buf[pos] = recent.TakeAt(r.base + br.Get(r.bits));
            ++done;
            return 1;
        }
        uint32_t copy = sym - kLiteralClasses;
        if (sym == HuffmanDecodeTable::kInvalid || copy >= kCopyCodes) {
            error = E_BadHuffmanCode;
            return 0;
        }
        size_t len = copy + 2;
        if (copy >= kShortCopies) {
            const Range& r = kLongCopies[copy - kShortCopies];
            len = r.base + br.Get(r.bits);
        }
        size_t dist = 1;
        if (copy == 0) {
            dist = br.Get(6) + 1;
        } else if (copy != kRunCode) {
            uint32_t width = codes.distance.Decode(br);
            if (width == HuffmanDecodeTable::kInvalid) {
                error = E_BadHuffmanCode;
                return 0;
            }
            // Width 0 is 6 plain bits for 0..63; width w > 0 is w + 5 bits above 2^(w + 5).
            dist =
                width ? (size_t{1} << (width + 5)) + br.Get(static_cast<int>(width) + 5) + 1 : br.Get(6) + 1;
        }
        if (len > room) len = room;
        LzCopy(buf, pos, dist, len);
        for (size_t i = 0; i < len; ++i)
            recent.Use(buf[pos + i]);
        done += len;
        return len;
    };
    return DriveLzDecoder(input, w, cancel, step);
}

}  // namespace varnok
