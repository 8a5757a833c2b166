// The cabinet LZX compressor. Hazards: frames some reader rejects or decodes differently (every cabinet is
// read back by libmspack and, when installed, cabextract and 7-Zip); the frame edges (empty folder,
// one byte, 32767/32768/32769 bytes, a folder of many frames with matches reaching far back); incompressible
// frames and the uncompressed block's alignment, repeated-offset header and odd-length padding, also between
// compressed frames whose trees are sent as deltas; E8 call translation, including E8 bytes in a frame's
// last ten bytes; every window size; frames fed in the wrong sizes; for the near-optimal parse, matches
// straddling a frame end, repeated offsets carried along the parse, offsets at the window's edge and the
// frame-end positions whose insertion into the match finder waits for the next frame.
#include "archive/codecs/lzx_encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "archive/codecs/deflate_encoder.h"
#include "tests/support/cab_builder.h"
#include "tests/support/cab_peers.h"

namespace varnok {
namespace {

using test::BuildOneFileCabinet;
using test::ExpectPeersReadBack;

// unar 1.10 is left out: it stops on some valid frames ("Attempted to read more data than was
// available") that libmspack, cabextract and 7-Zip all decode.
const std::vector<std::string> kPeers = {"cabextract", "7z"};

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

std::vector<std::vector<uint8_t>> CompressAndCheck(const std::vector<uint8_t>& data, const LzxEncoderParams& p,
                                                   const std::string& label) {
    auto frames = LzxCompressFolder(data, p);
    EXPECT_EQ(frames.size(), (data.size() + kCabFrameSize - 1) / kCabFrameSize) << label;
    const auto cab = BuildOneFileCabinet(LzxTypeCompress(p.windowBits), frames, static_cast<uint32_t>(data.size()));
    ExpectPeersReadBack(cab, data, kPeers, label);
    return frames;
}

// The block type of a frame that does not start the folder (3 bits at the top of its first word).
unsigned FirstBlockType(const std::vector<uint8_t>& frame) { return frame[1] >> 5; }

TEST(LzxEncoderEdges, EmptyFolderHasNoFramesAndExtractsEmpty) {
    EXPECT_TRUE(LzxCompressFolder({}).empty());
    CompressAndCheck({}, {}, "empty");
}

TEST(LzxEncoderEdges, OneByteAndTinyFrames) {
    CompressAndCheck({'A'}, {}, "one byte");
    CompressAndCheck({0xE8}, {}, "one E8 byte");
    CompressAndCheck({'a', 'b', 'a', 'b', 'a', 'b', 'a'}, {}, "seven bytes");
}

TEST(LzxEncoderEdges, FrameBoundarySizes) {
    for (size_t n : {size_t{32767}, size_t{32768}, size_t{32769}, size_t{65535}, size_t{65536}})
        CompressAndCheck(Text(n, n), {}, "text of " + std::to_string(n) + " bytes");
}

TEST(LzxEncoderEdges, RunsLongerThanTheLongestMatchAcrossFrames) {
    std::vector<uint8_t> data(100000, 'z');
    for (size_t i = 0; i < data.size(); i += 997) data[i] = 'y';
    const auto frames = CompressAndCheck(data, {}, "runs");
    EXPECT_LT(TotalSize(frames), 2000u);
}

TEST(LzxEncoderFolders, ManyFramesWithMatchesFarBack) {
    // A 96 KiB random piece repeated: its copies are only found through a window larger than 64 KiB.
    const auto piece = Random(96 * 1024, 7);
    std::vector<uint8_t> data;
    for (int i = 0; i < 4; ++i) data.insert(data.end(), piece.begin(), piece.end());
    const auto text = Text(200000, 3);
    data.insert(data.end(), text.begin(), text.end());
    const auto frames = CompressAndCheck(data, {.windowBits = 21}, "window 21");
    EXPECT_LT(TotalSize(frames), piece.size() + 120000) << "the repeats were not found";
    CompressAndCheck(data, {.windowBits = 16}, "window 16");
}

TEST(LzxEncoderFolders, EveryWindowSizeAndEffort) {
    auto data = Text(70000, 11);
    const auto noise = Random(20000, 5);
    data.insert(data.end(), noise.begin(), noise.end());
    data.insert(data.end(), data.begin(), data.begin() + 40000);  // 90 KB back: beyond the small windows
    for (unsigned bits = 15; bits <= 21; ++bits)
        CompressAndCheck(data, {.windowBits = bits}, "window " + std::to_string(bits));
    for (LzxEffort e : {LzxEffort::Fast, LzxEffort::Normal, LzxEffort::Best})
        CompressAndCheck(data, {.windowBits = 17, .effort = e}, "effort " + std::to_string(static_cast<int>(e)));
}

TEST(LzxEncoderFolders, TextBeatsMsZipByTenPercent) {
    // The same text as 32 KiB independent deflate blocks (what an MSZIP folder holds) against LZX at 2^21.
    // Like real documents, the text repeats paragraphs far apart (a pool of 300 paragraphs of 400 bytes).
    const auto pool = Text(300 * 400, 21);
    const auto pick = Random(1000, 4);
    std::vector<uint8_t> data;
    for (size_t i = 0; data.size() < 400000; ++i) {
        const size_t at = 400 * ((pick[i % 1000] * 7 + i) % 300);
        data.insert(data.end(), pool.begin() + static_cast<ptrdiff_t>(at), pool.begin() + static_cast<ptrdiff_t>(at + 400));
    }
    const auto frames = CompressAndCheck(data, {.windowBits = 21}, "text");
    size_t mszip = 0;
    for (size_t at = 0; at < data.size(); at += kCabFrameSize)
        mszip += DeflateBuffer(std::span(data).subspan(at, std::min(kCabFrameSize, data.size() - at))).size() + 2;
    EXPECT_LT(TotalSize(frames) * 10, mszip * 9) << TotalSize(frames) << " vs MSZIP " << mszip;
}

const LzxEffort kEfforts[] = {LzxEffort::Fast, LzxEffort::Normal, LzxEffort::Best};

std::string EffortName(LzxEffort e) { return std::to_string(static_cast<int>(e)); }

TEST(LzxEncoderMatches, RepeatsStraddlingAFrameEndAreCutThere) {
    // A random piece whose copies run across the first frame ends: every match must stop at the end of
    // its frame and the next frame must pick the copy up again.
    const auto piece = Random(3000, 31);
    std::vector<uint8_t> data = piece;
    const auto filler = Random(32768 - 3000 - 1500, 32);
    data.insert(data.end(), filler.begin(), filler.end());
    while (data.size() < 3 * 32768 + 2000) data.insert(data.end(), piece.begin(), piece.end());
    for (LzxEffort e : kEfforts) {
        const auto frames = CompressAndCheck(data, {.windowBits = 16, .effort = e}, "effort " + EffortName(e));
        EXPECT_LT(TotalSize(frames), 3000u + filler.size() + 3000) << "effort " << EffortName(e);
    }
}

TEST(LzxEncoderMatches, RepeatedOffsetsAlternateAlongTheParse) {
    // Records of two interleaved templates with short random fields: the cheapest parse keeps switching
    // between the last three offsets, so any slip in the offsets a parse path carries decodes wrongly.
    const auto fields = Random(40000, 41);
    const std::string a = "<entry name=\"", b = "\" size=\"", c = "\"/>\n";
    std::vector<uint8_t> data;
    for (size_t i = 0; data.size() < 150000; ++i) {
        data.insert(data.end(), a.begin(), a.end());
        for (size_t k = 0; k < 1u + fields[i % 40000] % 4; ++k)
            data.push_back(static_cast<uint8_t>('a' + fields[(i * 3 + k) % 40000] % 3));
        data.insert(data.end(), b.begin(), b.end());
        data.push_back(static_cast<uint8_t>('0' + fields[(i * 5) % 40000] % 4));
        data.insert(data.end(), c.begin(), c.end());
        if (fields[(i * 7) % 40000] < 30) data.push_back('\n');
    }
    for (LzxEffort e : kEfforts)
        for (unsigned bits : {15u, 21u})
            CompressAndCheck(data, {.windowBits = bits, .effort = e}, "effort " + EffortName(e) + " window " + std::to_string(bits));
}

TEST(LzxEncoderMatches, LongestMatchesAtTheWindowEdge) {
    // A 2000-byte piece repeated 2^15 - 4 bytes back in a 2^15 window, which every reader follows: the copy
    // compresses to a few long matches. One byte farther is the farthest the format allows, and 7-Zip
    // decodes a match there wrongly (libmspack does not): the copy must still read back everywhere.
    const auto piece = Random(2000, 51);
    for (uint32_t offset : {32764u, 32765u}) {
        std::vector<uint8_t> data = piece;
        const auto filler = Random(offset - piece.size(), 52);
        data.insert(data.end(), filler.begin(), filler.end());
        data.insert(data.end(), piece.begin(), piece.end());
        for (LzxEffort e : kEfforts) {
            const auto frames =
                CompressAndCheck(data, {.windowBits = 15, .effort = e}, "offset " + std::to_string(offset));
            if (offset == 32764u) {
                EXPECT_LT(TotalSize(frames), data.size() - 1800) << "effort " << EffortName(e);
            }
        }
    }
}

TEST(LzxEncoderMatches, BytesAtAFrameEndAreFoundFromLaterFrames) {
    // A random piece in the last 200 bytes of the first frame of text (the positions whose insertion into
    // the match finder waits for the next frame), copied into the third frame: the copy must cost far
    // less than fresh random bytes there.
    const auto piece = Random(200, 61);
    auto copied = Text(3 * 32768, 62);
    std::copy(piece.begin(), piece.end(), copied.begin() + 32768 - 200);
    auto fresh = copied;
    const auto other = Random(200, 63);
    std::copy(piece.begin(), piece.end(), copied.begin() + 2 * 32768 + 5000);
    std::copy(other.begin(), other.end(), fresh.begin() + 2 * 32768 + 5000);
    for (LzxEffort e : {LzxEffort::Normal, LzxEffort::Best}) {
        const auto withCopy = CompressAndCheck(copied, {.effort = e}, "copied, effort " + EffortName(e));
        const auto withoutCopy = CompressAndCheck(fresh, {.effort = e}, "fresh, effort " + EffortName(e));
        EXPECT_LT(TotalSize(withCopy) + 150, TotalSize(withoutCopy)) << "effort " << EffortName(e);
    }
}

TEST(LzxEncoderUncompressed, IncompressibleFramesStayWithinTheBlockOverhead) {
    const auto data = Random(3 * 32768 + 333, 99);  // odd last frame: padding byte
    const auto frames = CompressAndCheck(data, {}, "random");
    for (size_t i = 0; i < frames.size(); ++i) {
        const size_t raw = std::min(kCabFrameSize, data.size() - i * kCabFrameSize);
        EXPECT_LE(frames[i].size(), raw + 18 + (i == 0 ? 4 : 0)) << "frame " << i;
    }
    EXPECT_EQ(FirstBlockType(frames[1]), 3u);
}

TEST(LzxEncoderUncompressed, CompressedFramesAroundUncompressedOnesKeepOffsetsAndTrees) {
    // Text, then noise (uncompressed frames, whose header re-sends the repeated offsets), then the same
    // text again: the last frames reuse offsets and send trees as deltas against the frames before the noise.
    const auto text = Text(3 * 32768, 5);
    const auto noise = Random(2 * 32768 + 1000, 6);
    std::vector<uint8_t> data = text;
    data.insert(data.end(), noise.begin(), noise.end());
    data.insert(data.end(), text.begin(), text.end());
    for (unsigned bits : {15u, 21u}) {
        const auto frames = CompressAndCheck(data, {.windowBits = bits}, "mixed " + std::to_string(bits));
        EXPECT_EQ(FirstBlockType(frames[3]), 3u);
        EXPECT_NE(FirstBlockType(frames.back()), 3u);
    }
    // The first frame's uncompressed block after the one-bit stream header (no translation size).
    CompressAndCheck(noise, {.translationSize = 0}, "noise without translation");
}

TEST(LzxEncoderUncompressed, LongNoiseAfterTextDoesNotLeaveTheChainsBehindTheWindow) {
    // A long stretch the parser passes over leaves the hash chains far behind, while the window moves on
    // and drops the bytes they would start from.
    std::vector<uint8_t> data = Text(700000, 11);
    const auto noise = Random(300000, 12);
    data.insert(data.end(), noise.begin(), noise.end());
    const auto tail = Text(40000, 11);
    data.insert(data.end(), tail.begin(), tail.end());
    CompressAndCheck(data, {.windowBits = 17}, "text, noise, text at window 17");
}

TEST(LzxEncoderE8, CallTranslationRoundTripsAndPays) {
    const auto code = X86(5 * 32768 + 77, 13);
    const auto on = CompressAndCheck(code, {}, "x86 translated");
    const auto off = CompressAndCheck(code, {.translationSize = 0}, "x86 untranslated");
    EXPECT_LT(TotalSize(on), TotalSize(off)) << "translation gave the repeated call targets nothing";
    CompressAndCheck(code, {.windowBits = 15, .translationSize = 4096}, "small translation size");
}

TEST(LzxEncoderE8, E8BytesInTheLastTenBytesOfAFrameAreLeftAlone) {
    auto data = X86(3 * 32768, 17);
    for (size_t f = 1; f <= 3; ++f)
        for (size_t k = 1; k <= 12; ++k) data[f * 32768 - k] = (k % 3 == 0) ? 0xE8 : static_cast<uint8_t>(k);
    data.insert(data.end(), {0xE8, 1, 0, 0, 0, 0xE8, 0xE8, 0, 0, 0, 0});  // short last frame of 11 bytes
    CompressAndCheck(data, {}, "E8 at frame ends");
    CompressAndCheck(std::vector<uint8_t>(10, 0xE8), {}, "ten E8 bytes");
    CompressAndCheck(std::vector<uint8_t>(32768 * 2, 0xE8), {}, "all E8");
}

TEST(LzxEncoderApi, FramesOfTheWrongSizeAreRefused) {
    LzxEncoder enc;
    const auto data = Text(40000, 1);
    EXPECT_THROW(enc.EncodeFrame(std::span<const uint8_t>()), std::invalid_argument);
    EXPECT_THROW(enc.EncodeFrame(data), std::invalid_argument);
    enc.EncodeFrame(std::span(data).first(1000));
    EXPECT_THROW(enc.EncodeFrame(std::span(data).first(1000)), std::invalid_argument);
}

TEST(LzxEncoderApi, ResetStartsAFolderAgainAndOutputIsDeterministic) {
    const auto data = Text(70000, 8);
    const auto first = LzxCompressFolder(data);
    LzxEncoder enc;
    enc.EncodeFrame(std::span(data).first(32768));
    enc.Reset();
    std::vector<std::vector<uint8_t>> again;
    for (size_t at = 0; at < data.size(); at += kCabFrameSize)
        again.push_back(enc.EncodeFrame(std::span(data).subspan(at, std::min(kCabFrameSize, data.size() - at))));
    EXPECT_EQ(first, again);
    EXPECT_EQ(LzxTypeCompress(21), 0x1503);
    EXPECT_EQ(LzxTypeCompress(15), 0x0F03);
    EXPECT_EQ(LzxEncoder({.windowBits = 30}).TypeCompress(), 0x1503);
}

}  // namespace
}  // namespace varnok
