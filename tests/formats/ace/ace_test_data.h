// Test data for the ACE tests: text, x86-like code, audio-like and image-like bytes, and a decode helper.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

#include "archive/core/codec.h"
#include "archive/core/stream.h"
#include "archive/formats/ace/ace_decoder.h"

namespace varnok::test::ace {

// Words from a small vocabulary: compresses with many matches.
inline std::vector<uint8_t> Words(size_t n, uint32_t seed) {
    static const char* const kWords[] = {"alpha ", "beta ", "gamma ", "delta\n", "epsilon ", "zeta, ", "eta. ",
                                         "theta ", "iota ", "kappa "};
    std::vector<uint8_t> v;
    uint32_t x = seed * 2654435761u + 1;
    while (v.size() < n) {
        x = x * 1103515245 + 12345;
        for (const char* s = kWords[(x >> 16) % 10]; *s && v.size() < n; ++s)
            v.push_back(static_cast<uint8_t>(*s));
    }
    return v;
}

// Bytes without structure (nothing to match).
inline std::vector<uint8_t> Noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    uint32_t x = seed | 1;
    for (auto& b : v) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return v;
}

// x86-like code: CALL/JMP with targets into a few functions, and filler. No E8 or E9 in the last five bytes.
inline std::vector<uint8_t> X86(size_t n, uint32_t seed) {
    std::vector<uint8_t> v;
    uint32_t x = seed | 1;
    while (v.size() < n) {
        x = x * 1103515245 + 12345;
        const uint32_t k = (x >> 16) % 10;
        if (k < 3) {
            v.push_back(k == 0 ? 0xE9 : 0xE8);
            const uint32_t target = 0x1000 + ((x >> 8) % 64) * 16 - static_cast<uint32_t>(v.size());
            for (int i = 0; i < 4; ++i)
                v.push_back(static_cast<uint8_t>(target >> (8 * i)));
        } else {
            static const uint8_t kFill[] = {0x55, 0x8B, 0xEC, 0x83, 0xC4, 0x10, 0x90, 0x00};
            v.push_back(kFill[(x >> 20) % 8]);
        }
    }
    v.resize(n);
    for (size_t i = n >= 5 ? n - 5 : 0; i < n; ++i)
        if (v[i] == 0xE8 || v[i] == 0xE9) v[i] = 0x90;
    return v;
}

// Interleaved sample bytes of `channels` channels: smooth waves with stretches of silence.
inline std::vector<uint8_t> Audio(size_t n, int channels) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        const size_t frame = i / static_cast<size_t>(channels);
        const int c = static_cast<int>(i % static_cast<size_t>(channels));
        const double s = std::sin(static_cast<double>(frame) * 0.05 * (c + 1)) * 100 + static_cast<double>((frame * 7) % 13);
        v[i] = (frame / 50) % 4 == 0 ? 128 : static_cast<uint8_t>(static_cast<int>(s) + 128);
    }
    return v;
}

// Rows of `width` pixels with `planes` interleaved colour planes.
inline std::vector<uint8_t> Image(size_t width, size_t height, size_t planes) {
    std::vector<uint8_t> v(width * height);
    for (size_t y = 0; y < height; ++y)
        for (size_t x = 0; x < width; ++x)
            v[y * width + x] = static_cast<uint8_t>((x / planes) * 3 + y * 2 + (x % planes) * 40 + ((x * y) % 7));
    return v;
}

struct Decoded {
    DecodeResult result;
    std::vector<uint8_t> data;
};

inline Decoded Decode(varnok::ace::Decoder& d, uint8_t type, const std::vector<uint8_t>& packed, uint64_t unpacked,
                      bool solid = false, uint16_t parameters = 10, const CancelFlag* cancel = nullptr) {
    MemorySource src(packed.data(), packed.size());
    VectorSink sink;
    varnok::ace::FileParams p;
    p.type = type;
    p.parameters = parameters;
    p.packedSize = packed.size();
    p.unpackedSize = unpacked;
    p.solid = solid;
    Decoded r;
    r.result = d.Decode(p, src, sink, cancel);
    r.data = std::move(sink.Data());
    return r;
}

inline std::vector<uint8_t> Concat(const std::vector<std::vector<uint8_t>>& parts) {
    std::vector<uint8_t> all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace varnok::test::ace
