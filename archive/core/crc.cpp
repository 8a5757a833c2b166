// CRC-32 and CRC-16/ARC.
//
// Both are reflected CRCs, so one scheme serves both. Short inputs, and machines without a carry-less
// multiply, go through tables sliced by eight (eight look-ups per eight bytes). Long inputs on x86-64
// go through carry-less multiplication: the data is seen as a polynomial over GF(2) whose value mod P
// is all the CRC depends on, and four 128-bit accumulators are folded forward 64 bytes at a time
// (each accumulator A becomes A * x^512 mod P plus the next block, by two multiplications with
// constants). At the end the accumulators fold into one 128-bit value that is congruent to the whole
// input, and the table loop runs over its 16 bytes and the last few input bytes. That last step
// replaces the Barrett reduction of the usual scheme: it costs a few dozen cycles per call, which the
// extractors' 128 KiB writes do not notice, and keeps one reduction for both widths.
//
// The folding constants are computed here from the polynomials (x^n mod P), not written out, so both
// widths use the same few lines and a wrong exponent cannot hide in a hex literal. The extraction
// benchmarks showed the sliced tables at a quarter of an ARJ or LZH test run; the folded form makes
// the check a few per cent of it.
#include "archive/core/crc.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VARNOK_CRC_CLMUL 1
#endif

namespace varnok {
namespace {

struct Tables {
    uint32_t crc32[8][256];
    uint16_t crc16[256];
    uint16_t crc16x[8][256];  // crc16x[k][i]: CRC-16 of byte i followed by k zero bytes
    Tables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            crc32[0][i] = c;
            uint16_t h = static_cast<uint16_t>(i);
            for (int k = 0; k < 8; ++k)
                h = (h & 1) ? static_cast<uint16_t>(0xA001u ^ (h >> 1)) : h >> 1;
            crc16[i] = h;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int t = 1; t < 8; ++t)
                crc32[t][i] = crc32[0][crc32[t - 1][i] & 0xFF] ^ (crc32[t - 1][i] >> 8);
        for (uint32_t i = 0; i < 256; ++i)
            crc16x[0][i] = crc16[i];
        for (int k = 1; k < 8; ++k)
            for (uint32_t i = 0; i < 256; ++i)
                crc16x[k][i] =
                    static_cast<uint16_t>(crc16[crc16x[k - 1][i] & 0xFF] ^ (crc16x[k - 1][i] >> 8));
    }
};

const Tables& T() {
    static const Tables t;
    return t;
}

uint32_t SlicedCrc32(uint32_t crc, const uint8_t* p, size_t len) {
    const auto& t = T().crc32;
    while (len >= 8) {
        uint32_t lo, hi;
        std::memcpy(&lo, p, 4);
        std::memcpy(&hi, p + 4, 4);
        if constexpr (std::endian::native == std::endian::big) {
            lo = __builtin_bswap32(lo);
            hi = __builtin_bswap32(hi);
        }
        lo ^= crc;
        crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
              t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        p += 8;
        len -= 8;
    }
    while (len--)
        crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t SlicedCrc16(uint32_t crc, const uint8_t* p, size_t len) {
    const auto& t = T().crc16x;
    // A full-width register keeps the loop free of partial-register merges.
    while (len >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
        w ^= crc;
        crc = static_cast<uint32_t>(t[7][w & 0xFF]) ^ t[6][(w >> 8) & 0xFF] ^ t[5][(w >> 16) & 0xFF] ^
              t[4][(w >> 24) & 0xFF] ^ t[3][(w >> 32) & 0xFF] ^ t[2][(w >> 40) & 0xFF] ^
              t[1][(w >> 48) & 0xFF] ^ t[0][w >> 56];
        p += 8;
        len -= 8;
    }
    while (len--)
        crc = t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

#ifdef VARNOK_CRC_CLMUL

// x^n mod P for a CRC polynomial of degree `width` given in normal order without its top term, laid
// out as the folding code needs it: the 64-bit reflected form, where the coefficient of x^d is bit
// 63 - d.
constexpr uint64_t ReflectedXPowMod(unsigned n, uint64_t poly, unsigned width) {
    const uint64_t top = uint64_t{1} << (width - 1);
    const uint64_t mask = (top << 1) - 1;
    uint64_t r = 1;
    for (unsigned i = 0; i < n; ++i)
        r = ((r & top) ? (r << 1) ^ poly : r << 1) & mask;
    uint64_t out = 0;
    for (unsigned d = 0; d < width; ++d)
        if (r & (uint64_t{1} << d)) out |= uint64_t{1} << (63 - d);
    return out;
}

// Multiplying two 64-bit reflected polynomials carry-lessly gives their product as a 128-bit
// reflected value times x (the product has degree 126 at most; the lowest bit of the register is
// x^127). Folding an accumulator A = H * x^64 + L forward by n bits needs H * x^(n+64) + L * x^n, so
// the constants are x^(n+63) and x^(n-1) mod P.
struct FoldConstants {
    uint64_t by512[2];
    uint64_t by128[2];
};

constexpr FoldConstants MakeFoldConstants(uint64_t poly, unsigned width) {
    return {{ReflectedXPowMod(512 + 63, poly, width), ReflectedXPowMod(512 - 1, poly, width)},
            {ReflectedXPowMod(128 + 63, poly, width), ReflectedXPowMod(128 - 1, poly, width)}};
}

constexpr FoldConstants kCrc32Fold = MakeFoldConstants(0x04C11DB7u, 32);
constexpr FoldConstants kCrc16Fold = MakeFoldConstants(0x8005u, 16);

// Inputs shorter than this take the table loop: the folded form pays a fixed cost at its end.
constexpr size_t kFoldMinimum = 256;

[[gnu::target("pclmul,sse4.1")]] inline __m128i Fold(__m128i acc, __m128i k, __m128i next) {
    const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x00);  // the lower qword holds the higher terms
    const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(hi, lo), next);
}

// The CRC register after p (len >= kFoldMinimum): the whole 16-byte blocks folded, then the table
// loop `finish` over the folded remainder and the last len % 16 bytes.
template <class Finish>
[[gnu::target("pclmul,sse4.1")]] uint32_t FoldedCrc(uint32_t crc, const uint8_t* p, size_t len,
                                                    const FoldConstants& fc, Finish finish) {
    auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
    // The register, seen as the first bits of the message, is added to the first block.
    __m128i a0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i a1 = load(p + 16), a2 = load(p + 32), a3 = load(p + 48);
    p += 64;
    len -= 64;
    const __m128i k512 =
        _mm_set_epi64x(static_cast<long long>(fc.by512[1]), static_cast<long long>(fc.by512[0]));
    while (len >= 64) {
        a0 = Fold(a0, k512, load(p));
        a1 = Fold(a1, k512, load(p + 16));
        a2 = Fold(a2, k512, load(p + 32));
        a3 = Fold(a3, k512, load(p + 48));
        p += 64;
        len -= 64;
    }
    const __m128i k128 =
        _mm_set_epi64x(static_cast<long long>(fc.by128[1]), static_cast<long long>(fc.by128[0]));
    __m128i a = Fold(a0, k128, a1);
    a = Fold(a, k128, a2);
    a = Fold(a, k128, a3);
    while (len >= 16) {
        a = Fold(a, k128, load(p));
        p += 16;
        len -= 16;
    }
    // `a` is congruent to everything folded so far, placed as its last 16 bytes: the CRC of those
    // 16 bytes from a zero register is the CRC of all of it.
    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), a);
    return finish(finish(0, rest, 16), p, len);
}

bool CpuHasClmul() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has;
}

#endif  // VARNOK_CRC_CLMUL

}  // namespace

const uint32_t* Crc32Table() {
    return T().crc32[0];
}
const uint16_t* Crc16Table() {
    return T().crc16;
}

uint32_t UpdateCrc32(uint32_t crc, const void* data, size_t len) {
    auto p = static_cast<const uint8_t*>(data);
#ifdef VARNOK_CRC_CLMUL
    if (len >= kFoldMinimum && CpuHasClmul()) return FoldedCrc(crc, p, len, kCrc32Fold, SlicedCrc32);
#endif
    return SlicedCrc32(crc, p, len);
}

uint16_t UpdateCrc16(uint16_t crc, const void* data, size_t len) {
    auto p = static_cast<const uint8_t*>(data);
#ifdef VARNOK_CRC_CLMUL
    if (len >= kFoldMinimum && CpuHasClmul())
        return static_cast<uint16_t>(FoldedCrc(crc, p, len, kCrc16Fold, SlicedCrc16));
#endif
    return static_cast<uint16_t>(SlicedCrc16(crc, p, len));
}

namespace {

// The CRC of n zero bytes appended is a linear map of the CRC before them: the one-byte step x -> table[x &
// 0xFF] ^ (x >> 8) applied n times. Held as a matrix over GF(2) (column i is the image of bit i) and raised
// to the n-th power by squaring, it costs O(log n) whatever n is: a hole of a terabyte is as cheap as one of
// a byte.
struct Gf2Map {
    uint32_t col[32] = {};
    uint32_t Apply(uint32_t v) const {
        uint32_t r = 0;
        for (int i = 0; v; ++i, v >>= 1)
            if (v & 1) r ^= col[i];
        return r;
    }
    Gf2Map Then(const Gf2Map& next) const {  // next after this
        Gf2Map m;
        for (int i = 0; i < 32; ++i)
            m.col[i] = next.Apply(col[i]);
        return m;
    }
};

template <class Step>
uint32_t AfterZeros(uint32_t crc, uint64_t n, int bits, Step step) {
    Gf2Map power;  // the step applied 1, 2, 4, ... times
    for (int i = 0; i < bits; ++i)
        power.col[i] = step(uint32_t{1} << i);
    while (n) {
        if (n & 1) crc = power.Apply(crc);
        n >>= 1;
        if (n) power = power.Then(power);
    }
    return crc;
}

}  // namespace

uint32_t UpdateCrc32Zeros(uint32_t crc, uint64_t n) {
    const uint32_t* t = Crc32Table();
    return AfterZeros(crc, n, 32, [t](uint32_t x) { return t[x & 0xFF] ^ (x >> 8); });
}

uint16_t UpdateCrc16Zeros(uint16_t crc, uint64_t n) {
    const uint16_t* t = Crc16Table();
    return static_cast<uint16_t>(
        AfterZeros(crc, n, 16, [t](uint32_t x) { return static_cast<uint32_t>(t[x & 0xFF] ^ (x >> 8)); }));
}

}  // namespace varnok
