// The cabinet Quantum compressor. Hazards: a coder that drifts from the decoders' model arithmetic (the
// adaptive models rescale every few hundred symbols and re-sort every 50th time, so long inputs are
// needed to reach that code); the per-frame flush (libmspack, 7-Zip and unar each expect something
// different at a frame's end, and every cabinet here is read back by libmspack and, when installed,
// cabextract, 7-Zip and unar); the frame edges; raw offset and length bits interleaved with the code bits;
// matches near a small window's wrap; every window size 10..21 and every level 1..7; frames fed in the
// wrong sizes.
#include "archive/codecs/quantum_encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/cab_builder.h"
#include "tests/support/cab_peers.h"

namespace varnok {
namespace {

using test::BuildOneFileCabinet;
using test::ExpectPeersReadBack;

const std::vector<std::string> kPeers = {"cabextract", "7z", "unar"};
// unar 1.10 keeps only a window-sized history: below 32 KiB windows it returns wrong bytes for whole frames.
const std::vector<std::string> kSmallWindowPeers = {"cabextract", "7z"};

std::vector<uint8_t> Random(size_t n, uint64_t seed) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed ^= seed << 13;
        seed ^= seed >> 7;
        seed ^= seed << 17;
        b = static_cast<uint8_t>(seed >> 24);
    }
    return v;
}

// Text-like data: words of a small vocabulary with numbers.
std::vector<uint8_t> Text(size_t n, uint64_t seed) {
    static const char* const kWords[] = {"cabinet", "folder ", "frame", "window", " the ", "of ", "block",
                                         "match",   "\n",      "length", "data",  ", ",   "offset", "tree "};
    std::vector<uint8_t> v;
    const std::vector<uint8_t> r = Random(n + 16, seed);
    for (size_t i = 0; v.size() < n; ++i) {
        const std::string w = kWords[r[i % n] % 14];
        v.insert(v.end(), w.begin(), w.end());
        if (r[(i * 7) % n] < 20) v.push_back(static_cast<uint8_t>('0' + r[(i * 3) % n] % 10));
    }
    v.resize(n);
    return v;
}

// Code-like data: random "instructions" with many E8 calls to a few dozen targets, so that the calls'
// relative operands differ everywhere while their absolute targets repeat.
std::vector<uint8_t> X86(size_t n, uint64_t seed) {
    const std::vector<uint8_t> r = Random(n, seed);
    std::vector<uint8_t> v;
    for (size_t i = 0; v.size() < n; ++i) {
        if (r[i % n] < 60) {
            const int32_t target = static_cast<int32_t>(4096 * (r[(i * 5) % n] % 40));
            const int32_t rel = target - static_cast<int32_t>(v.size());
            v.push_back(0xE8);
            for (int k = 0; k < 32; k += 8) v.push_back(static_cast<uint8_t>(static_cast<uint32_t>(rel) >> k));
        } else {
            static const uint8_t kOps[] = {0x55, 0x89, 0xE5, 0x8B, 0x45, 0x08, 0x83, 0xC4, 0x10, 0x5D, 0xC3};
            v.push_back(kOps[r[(i * 3) % n] % 11]);
        }
    }
    v.resize(n);
    return v;
}

size_t TotalSize(const std::vector<std::vector<uint8_t>>& frames) {
    size_t n = 0;
    for (const auto& f : frames) n += f.size();
    return n;
}

std::vector<std::vector<uint8_t>> CompressAndCheck(const std::vector<uint8_t>& data, const QuantumEncoderParams& p,
                                                   const std::string& label) {
    auto frames = QuantumCompressFolder(data, p);
    EXPECT_EQ(frames.size(), (data.size() + kCabFrameSize - 1) / kCabFrameSize) << label;
    const auto cab = BuildOneFileCabinet(QuantumTypeCompress(p.windowBits, p.level), frames,
                                         static_cast<uint32_t>(data.size()));
    ExpectPeersReadBack(cab, data, p.windowBits >= 15 ? kPeers : kSmallWindowPeers, label);
    return frames;
}

TEST(QuantumEncoderEdges, EmptyFolderAndOneByte) {
    EXPECT_TRUE(QuantumCompressFolder({}).empty());
    CompressAndCheck({}, {}, "empty");
    CompressAndCheck({'Q'}, {}, "one byte");
    CompressAndCheck({0xFF}, {}, "one 0xFF byte");  // the byte libmspack looks for after a frame
    CompressAndCheck({'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 'c'}, {}, "nine bytes");
}

TEST(QuantumEncoderEdges, FrameBoundarySizes) {
    for (size_t n : {size_t{32767}, size_t{32768}, size_t{32769}, size_t{65536}})
        CompressAndCheck(Text(n, n), {}, "text of " + std::to_string(n) + " bytes");
}

TEST(QuantumEncoderFolders, LongTextReachesTheModelResorts) {
    // About 400,000 selector symbols: the selector model is re-sorted many times, the others several.
    auto data = Text(600000, 2);
    const auto frames = CompressAndCheck(data, {}, "long text");
    EXPECT_LT(TotalSize(frames) * 3, data.size()) << "text should compress at least 3:1";
}

TEST(QuantumEncoderFolders, AllFrameEndsFlushedTheSameWayForEveryFrame) {
    // Many short frames of very different content: each frame restarts the coder while the models go on.
    std::vector<uint8_t> data;
    for (int i = 0; i < 6; ++i) {
        const auto part = i % 2 ? Random(32768, i) : X86(32768, i);
        data.insert(data.end(), part.begin(), part.end());
    }
    data.push_back(0xFF);
    CompressAndCheck(data, {.windowBits = 16, .level = 4}, "alternating frames");
}

TEST(QuantumEncoderFolders, RunsAndFarRepeats) {
    std::vector<uint8_t> data(70000, 'r');
    const auto piece = Random(50000, 3);
    data.insert(data.end(), piece.begin(), piece.end());
    data.insert(data.end(), piece.begin(), piece.end());  // 50,000 back: only the long-match model reaches
    const auto frames = CompressAndCheck(data, {.windowBits = 17}, "runs and repeats");
    EXPECT_LT(TotalSize(frames), 60000u) << "the repeated piece was not found";
}

TEST(QuantumEncoderFolders, EveryWindowSize) {
    auto data = Text(40000, 9);
    const auto noise = Random(3000, 1);
    data.insert(data.end(), noise.begin(), noise.end());
    data.insert(data.end(), data.begin() + 100, data.begin() + 9000);
    for (unsigned bits = 10; bits <= 21; ++bits)
        CompressAndCheck(data, {.windowBits = bits, .level = 5}, "window " + std::to_string(bits));
}

TEST(QuantumEncoderFolders, EveryLevel) {
    const auto data = X86(70000, 4);
    size_t first = 0, last = 0;
    for (unsigned level = 1; level <= 7; ++level) {
        const auto frames = CompressAndCheck(data, {.windowBits = 18, .level = level}, "level " + std::to_string(level));
        (level == 1 ? first : last) = TotalSize(frames);
    }
    EXPECT_LE(last, first) << "level 7 should not lose to level 1";
}

TEST(QuantumEncoderFolders, IncompressibleDataGrowsLittle) {
    const auto data = Random(3 * 32768 + 5, 77);
    const auto frames = CompressAndCheck(data, {}, "random");
    EXPECT_LT(TotalSize(frames), data.size() + data.size() / 50);
}

TEST(QuantumEncoderApi, FramesOfTheWrongSizeAreRefused) {
    QuantumEncoder enc;
    const auto data = Text(40000, 1);
    EXPECT_THROW(enc.EncodeFrame(std::span<const uint8_t>()), std::invalid_argument);
    EXPECT_THROW(enc.EncodeFrame(data), std::invalid_argument);
    enc.EncodeFrame(std::span(data).first(100));
    EXPECT_THROW(enc.EncodeFrame(std::span(data).first(100)), std::invalid_argument);
}

TEST(QuantumEncoderApi, ResetStartsAFolderAgainAndTypeCompressValues) {
    const auto data = Text(50000, 8);
    const auto first = QuantumCompressFolder(data, {.windowBits = 16, .level = 3});
    QuantumEncoder enc({.windowBits = 16, .level = 3});
    enc.EncodeFrame(std::span(data).first(32768));
    enc.Reset();
    std::vector<std::vector<uint8_t>> again;
    for (size_t at = 0; at < data.size(); at += kCabFrameSize)
        again.push_back(enc.EncodeFrame(std::span(data).subspan(at, std::min(kCabFrameSize, data.size() - at))));
    EXPECT_EQ(first, again);
    EXPECT_EQ(QuantumTypeCompress(21, 7), 0x1572);
    EXPECT_EQ(QuantumTypeCompress(10, 1), 0x0A12);
    EXPECT_EQ(QuantumEncoder({.windowBits = 5, .level = 0}).TypeCompress(), 0x0A12);
}

}  // namespace
}  // namespace varnok
