#include "archive/formats/ace/ace_huffman.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace varnok::ace {

size_t WordOrderSource::Read(uint8_t* buf, size_t n) {
    size_t done = 0;
    while (done < n) {
        if (readyPos_ < 4) {
            const size_t k = std::min(n - done, 4 - readyPos_);
            std::memcpy(buf + done, ready_ + readyPos_, k);
            readyPos_ += k;
            done += k;
            continue;
        }
        // Whole groups straight into the caller's buffer, reversed in place.
        const size_t room = (n - done) & ~size_t{3};
        if (room >= 4 && carried_ == 0) {
            size_t got = 0;
            while (got < room) {
                const size_t k = inner_.Read(buf + done + got, room - got);
                if (!k) break;
                got += k;
            }
            const size_t whole = got & ~size_t{3};
            uint8_t* p = buf + done;
            for (size_t i = 0; i < whole; i += 4) {
                std::swap(p[i], p[i + 3]);
                std::swap(p[i + 1], p[i + 2]);
            }
            done += whole;
            carried_ = got - whole;
            std::memcpy(carry_, p + whole, carried_);
            if (got < room) break;  // the input has ended
            continue;
        }
        // A group for the last few bytes the caller wants (or one begun in the last call).
        while (carried_ < 4) {
            const size_t k = inner_.Read(carry_ + carried_, 4 - carried_);
            if (!k) break;
            carried_ += k;
        }
        if (carried_ < 4) break;
        for (int i = 0; i < 4; ++i)
            ready_[i] = carry_[3 - i];
        readyPos_ = 0;
        carried_ = 0;
    }
    return done;
}

namespace {

// The format's quicksort: by width, largest first; symbols move with their widths. Its order among equal
// widths decides the codes, so it is followed step for step (Hoare partition around the last element, pairs
// put in order directly). An element is the width in the high half and the symbol in the low half, so one
// swap moves both; comparisons look at the width only.
inline uint32_t Key(uint32_t e) {
    return e >> 16;
}

void SortRange(uint32_t* a, int left, int right) {
    int zl = left, zr = right;
    const uint32_t pivot = Key(a[right]);
    do {
        while (Key(a[zl]) > pivot)
            ++zl;
        while (Key(a[zr]) < pivot)
            --zr;
        if (zl <= zr) {
            std::swap(a[zl], a[zr]);
            ++zl;
            --zr;
        }
    } while (zl < zr);
    if (left < zr) {
        if (left < zr - 1)
            SortRange(a, left, zr);
        else if (Key(a[left]) < Key(a[zr]))
            std::swap(a[left], a[zr]);
    }
    if (right > zl) {
        if (zl < right - 1)
            SortRange(a, zl, right);
        else if (Key(a[zl]) < Key(a[right]))
            std::swap(a[zl], a[right]);
    }
}

}  // namespace

bool AceHuffman::Build(uint8_t* widths, int n, int maxWidth) {
    if (n < 1 || n > kMaxSymbols || maxWidth < 1 || maxWidth > kMaxWidth) return false;
    maxWidth_ = maxWidth;
    uint32_t sorted[kMaxSymbols];
    for (int i = 0; i < n; ++i)
        sorted[i] = (static_cast<uint32_t>(widths[i]) << 16) | static_cast<uint32_t>(i);
    SortRange(sorted, 0, n - 1);
    int used = 0;
    while (used < n && Key(sorted[used]) != 0)
        ++used;
    if (used < 2) {
        // The table below is still built from the sorted widths as they were.
        widths[sorted[0] & 0xFFFF] = 1;
        if (used == 0) used = 1;
    }
    const uint32_t size = 1u << maxWidth;
    uint32_t c = 0;
    for (int i = used - 1; i >= 0; --i) {
        const uint32_t width = Key(sorted[i]), sym = sorted[i] & 0xFFFF;
        if (width > static_cast<uint32_t>(maxWidth)) return false;
        const uint32_t span = 1u << (maxWidth - width);
        if (c + span > size) return false;
        const uint16_t entry = static_cast<uint16_t>((widths[sym] << 9) | sym);
        std::fill_n(table_ + c, span, entry);
        c += span;
    }
    std::fill(table_ + c, table_ + size, static_cast<uint16_t>(kInvalid));
    return true;
}

void AceHuffman::Codes(uint32_t* codes, uint8_t* widths, int n) const {
    std::fill_n(codes, n, 0u);
    std::fill_n(widths, n, uint8_t{0});
    const uint32_t size = 1u << maxWidth_;
    for (uint32_t i = 0; i < size;) {
        const uint16_t e = table_[i];
        const uint32_t sym = e & 0x1FF;
        const int width = e >> 9;
        if (sym == kInvalid || width == 0) {
            ++i;
            continue;
        }
        if (static_cast<int>(sym) < n && widths[sym] == 0) {
            widths[sym] = static_cast<uint8_t>(width);
            codes[sym] = i >> (maxWidth_ - std::min(width, maxWidth_));
        }
        ++i;
    }
}

MsbBitReader ReadCode(MsbBitReader br, AceHuffman& code, int maxWidth, int numCodes, bool* ok) {
    constexpr int kWidthWidthBits = 3;
    constexpr int kMaxWidthWidth = (1 << kWidthWidthBits) - 1;
    *ok = false;
    int count = static_cast<int>(br.Get(9)) + 1;
    count = std::min(count, numCodes + 1);
    if (count > AceHuffman::kMaxSymbols) return br;
    const uint32_t lower = br.Get(4);
    const uint32_t upper = br.Get(4);

    uint8_t widthWidths[16];
    for (uint32_t i = 0; i <= upper; ++i)
        widthWidths[i] = static_cast<uint8_t>(br.Get(kWidthWidthBits));
    AceHuffman widthCode;
    if (!widthCode.Build(widthWidths, static_cast<int>(upper) + 1, kMaxWidthWidth)) return br;

    uint8_t widths[AceHuffman::kMaxSymbols] = {};
    int have = 0;
    while (have < count) {
        br.Refill();
        const uint32_t s = widthCode.Decode(br);
        if (s == AceHuffman::kInvalid) return br;
        if (s < upper) {
            widths[have++] = static_cast<uint8_t>(s);
        } else {
            const int run = static_cast<int>(br.Get(4)) + 4;
            have = std::min(count, have + run);  // the zeros are there already
        }
        if (br.PastEnd()) return br;
    }
    if (upper) {
        for (int i = 1; i < count; ++i)
            widths[i] = static_cast<uint8_t>((widths[i] + widths[i - 1]) % upper);
    }
    for (int i = 0; i < count; ++i) {
        if (widths[i]) widths[i] = static_cast<uint8_t>(widths[i] + lower);
    }
    *ok = code.Build(widths, count, maxWidth);
    return br;
}

}  // namespace varnok::ace
