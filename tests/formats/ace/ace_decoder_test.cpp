// The ACE decoder on streams from the test writer: every method and block mode round trip (the writer's models
// were checked against acefile), solid chains, and the hazards of hostile input: broken codes, matches reaching
// outside the history or the file, blocks that do not fit, truncation anywhere, lying sizes, cancelling and a
// failing sink.
#include <gtest/gtest.h>

#include <stdexcept>

#include "archive/core/errors.h"
#include "archive/formats/ace/ace_decoder.h"
#include "archive/formats/ace/ace_huffman.h"
#include "tests/formats/ace/ace_test_data.h"
#include "tests/formats/ace/ace_test_writer.h"

namespace varnok::test::ace {
namespace {

using varnok::ace::Decoder;

std::vector<uint8_t> Data(const std::vector<Segment>& segs) {
    std::vector<uint8_t> all;
    for (const Segment& s : segs)
        all.insert(all.end(), s.data.begin(), s.data.end());
    return all;
}

Segment Seg(int mode, std::vector<uint8_t> data) {
    Segment s;
    s.mode.mode = mode;
    s.data = std::move(data);
    return s;
}

// A file that switches through every mode, EXE blocks back to back with an instruction cut by the switch.
std::vector<Segment> AllModes() {
    std::vector<Segment> s;
    s.push_back(Seg(0, Words(3000, 1)));
    Segment exe = Seg(2, X86(4001, 2));
    exe.mode.exeMode = 1;
    s.push_back(exe);
    Segment delta = Seg(1, Audio(6000, 2));
    delta.mode.deltaDist = 4;
    delta.mode.deltaLen = 2000;
    s.push_back(delta);
    Segment exe16 = Seg(2, X86(2003, 3));
    exe16.data.back() = 0xE8;  // its operand is in the next block
    s.push_back(exe16);
    Segment exe32 = Seg(2, X86(2001, 4));
    exe32.mode.exeMode = 1;
    exe32.data[exe32.data.size() - 4] = 0xE9;  // where the scan stops at the block's end
    s.push_back(exe32);
    s.push_back(Seg(3, Audio(4000, 1)));
    Segment pic = Seg(7, Image(120, 12, 3));
    pic.mode.picWidth = 120;
    pic.mode.picPlanes = 3;
    pic.picKinds = {1, 2};
    s.push_back(pic);
    s.push_back(Seg(0, Words(1500, 5)));
    return s;
}

TEST(AceRoundTrip, StoredLz77AndBlockedFilesComeBackWhole) {
    Decoder d;
    const auto text = Words(70000, 1);
    auto r = Decode(d, varnok::ace::kStored, text, text.size());
    ASSERT_TRUE(r.result.Ok());
    EXPECT_EQ(r.data, text);

    r = Decode(d, varnok::ace::kLz77, PackLz77(text), text.size());
    ASSERT_TRUE(r.result.Ok()) << r.result.errorCode;
    EXPECT_EQ(r.data, text);

    const auto segs = AllModes();
    const auto all = Data(segs);
    r = Decode(d, varnok::ace::kBlocked, PackBlocked(segs), all.size());
    ASSERT_TRUE(r.result.Ok()) << r.result.errorCode;
    EXPECT_EQ(r.data, all);
}

TEST(AceRoundTrip, EverySoundVariantAndPicShape) {
    Decoder d;
    for (int mode = 3; mode <= 6; ++mode) {
        std::vector<Segment> segs = {Seg(0, Words(100, 2)), Seg(mode, Audio(8000, mode == 3 ? 1 : mode == 4 ? 2 : 3))};
        const auto all = Data(segs);
        const auto r = Decode(d, varnok::ace::kBlocked, PackBlocked(segs), all.size());
        ASSERT_TRUE(r.result.Ok()) << "sound mode " << mode << ": " << r.result.errorCode;
        EXPECT_EQ(r.data, all) << "sound mode " << mode;
    }
    // One plane, and the file ending inside a row.
    Segment pic = Seg(7, Image(77, 9, 1));
    pic.data.resize(pic.data.size() - 30);
    pic.mode.picWidth = 77;
    pic.mode.picPlanes = 1;
    std::vector<Segment> segs = {Seg(0, Words(10, 3)), pic};
    const auto all = Data(segs);
    const auto r = Decode(d, varnok::ace::kBlocked, PackBlocked(segs), all.size());
    ASSERT_TRUE(r.result.Ok()) << r.result.errorCode;
    EXPECT_EQ(r.data, all);
}

TEST(AceRoundTrip, ExeTranslationReachesTheLastWholeInstruction) {
    // The E8 four bytes before the end has its whole operand and is translated; the decoder must not stop early.
    auto code = X86(600, 9);
    code[600 - 6] = 0xE8;
    for (int i = 1; i <= 4; ++i)
        code[600 - 6 + i] = static_cast<uint8_t>(0x10 * i);
    Segment exe = Seg(2, code);
    exe.mode.exeMode = 1;
    std::vector<Segment> segs = {Seg(0, Words(50, 1)), exe};
    const auto all = Data(segs);
    Decoder d;
    const auto r = Decode(d, varnok::ace::kBlocked, PackBlocked(segs), all.size());
    ASSERT_TRUE(r.result.Ok());
    EXPECT_EQ(r.data, all);
}

TEST(AceRoundTrip, EmptyFileDecodesToNothing) {
    Decoder d;
    for (uint8_t type : {varnok::ace::kStored, varnok::ace::kLz77, varnok::ace::kBlocked}) {
        const auto r = Decode(d, type, {}, 0);
        EXPECT_TRUE(r.result.Ok());
        EXPECT_TRUE(r.data.empty());
    }
}

// ---- Solid chains ----

TEST(AceSolid, LaterFilesCopyFromEarlierOnesIncludingStoredOnes) {
    // The third file begins with the stored second one's noise, which only a copy from there can make small.
    const std::vector<std::vector<uint8_t>> files = {Words(20000, 1), Noise(3000, 9),
                                                     Concat({Noise(3000, 9), Words(5000, 2)}), Words(10000, 1)};
    const std::vector<uint8_t> types = {1, 0, 2, 1};
    const auto packed = PackSolidChain(files, types);
    EXPECT_LT(packed[2].size(), 3000u);
    Decoder d;
    for (size_t i = 0; i < files.size(); ++i) {
        const auto r = Decode(d, types[i], packed[i], files[i].size(), i > 0);
        ASSERT_TRUE(r.result.Ok()) << "file " << i << ": " << r.result.errorCode;
        EXPECT_EQ(r.data, files[i]) << "file " << i;
    }
    Decoder alone;
    EXPECT_EQ(Decode(alone, 2, packed[2], files[2].size()).result.status, DecodeStatus::Corrupt);
}

TEST(AceSolid, FileOutsideTheChainCannotReachIntoTheFileBefore) {
    const std::vector<std::vector<uint8_t>> files = {Words(20000, 4), Words(20000, 4)};
    const auto packed = PackSolidChain(files, {1, 1});
    Decoder d;
    ASSERT_TRUE(Decode(d, 1, packed[0], files[0].size()).result.Ok());
    // Not solid: the history is empty, and the first copy across the file boundary is damage.
    const auto r = Decode(d, 1, packed[1], files[1].size(), false);
    EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.result.errorCode, E_CorruptInput);
    EXPECT_LT(r.data.size(), files[1].size());
}

TEST(AceSolid, FailedFileBreaksTheChainInsteadOfFeedingGarbageOn) {
    const std::vector<std::vector<uint8_t>> files = {Words(20000, 5), Words(20000, 5)};
    const auto packed = PackSolidChain(files, {1, 1});
    Decoder d;
    auto cut = packed[0];
    cut.resize(cut.size() / 2);
    EXPECT_EQ(Decode(d, 1, cut, files[0].size()).result.status, DecodeStatus::Truncated);
    const auto r = Decode(d, 1, packed[1], files[1].size(), true);
    EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
}

// ---- Hostile input ----

TEST(AceHostile, OversubscribedOrTooWideCodesAreRejected) {
    Decoder d;
    {
        BitWriter w;
        Code c;
        c.widths = {1, 1, 1};  // three codes of one bit
        c.Write(w);
        w.Put(0, 32);
        const auto r = Decode(d, 1, w.Finish(), 100);
        EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
        EXPECT_EQ(r.result.errorCode, E_BadHuffmanCode);
    }
    {
        // Widths 16: a lower bound of 15 on top of a delta of 1.
        BitWriter w;
        w.Put(1, 9);   // two widths
        w.Put(15, 4);  // lower
        w.Put(2, 4);   // delta modulus
        uint8_t ww[3] = {1, 2, 2};
        for (uint8_t x : ww)
            w.Put(x, 3);
        varnok::ace::AceHuffman h;
        ASSERT_TRUE(h.Build(ww, 3, 7));
        uint32_t codes[3];
        uint8_t widths[3];
        h.Codes(codes, widths, 3);
        w.Put(codes[1], widths[1]);
        w.Put(codes[0], widths[0]);
        w.Put(0, 32);
        const auto r = Decode(d, 1, w.Finish(), 100);
        EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
        EXPECT_EQ(r.result.errorCode, E_BadHuffmanCode);
    }
}

TEST(AceHostile, CodesFollowTheFormatsOrderNotTheCanonicalOne) {
    // Widths 2, 2, 1: the one-bit code goes to symbol 2; of the two-bit codes the quicksort's order gives symbol 1
    // the smaller one (a canonical code would give it to symbol 0).
    uint8_t widths[3] = {2, 2, 1};
    varnok::ace::AceHuffman h;
    ASSERT_TRUE(h.Build(widths, 3, 11));
    uint32_t codes[3];
    uint8_t got[3];
    h.Codes(codes, got, 3);
    EXPECT_EQ(codes[2], 0u);
    EXPECT_EQ(codes[1], 2u);
    EXPECT_EQ(codes[0], 3u);
}

TEST(AceHostile, MatchBeforeTheStartOfTheHistoryIsDamage) {
    BitWriter w;
    PutSymbols(w, {{260, 0, 0, 0}});  // distance 1, nothing written yet
    Decoder d;
    const auto r = Decode(d, 1, w.Finish(), 10);
    EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.result.errorCode, E_CorruptInput);
    EXPECT_TRUE(r.data.empty());
}

TEST(AceHostile, MatchRunningPastTheUnpackedSizeIsDamageAndNothingPastItIsWritten) {
    BitWriter w;
    PutSymbols(w, {{'a'}, {'b'}, {261, 0, 0, 200}});  // "ab", then 202 bytes from 2 back
    Decoder d;
    const auto packed = w.Finish();
    auto r = Decode(d, 1, packed, 100);
    EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
    EXPECT_LE(r.data.size(), 100u);
    r = Decode(d, 1, packed, 204);
    EXPECT_TRUE(r.result.Ok());
    EXPECT_EQ(r.data.size(), 204u);
}

TEST(AceHostile, SymbolsWithoutMeaningAreInvalid) {
    Decoder d;
    {
        BitWriter w;
        PutSymbols(w, {{'a'}, {284}});  // one past the mode change
        const auto r = Decode(d, 2, w.Finish(), 10);
        EXPECT_EQ(r.result.errorCode, E_InvalidCode);
    }
    {
        // A mode change in an ACE 1.0 stream.
        BitWriter w;
        ModeChange m;
        PutSymbols(w, {{'a'}}, &m);
        const auto r = Decode(d, 1, w.Finish(), 10);
        EXPECT_EQ(r.result.errorCode, E_InvalidCode);
    }
    {
        BitWriter w;
        ModeChange m;
        m.mode = 9;
        PutSymbols(w, {{'a'}}, &m);
        const auto r = Decode(d, 2, w.Finish(), 10);
        EXPECT_EQ(r.result.errorCode, E_InvalidCode);
    }
}

TEST(AceHostile, BlocksThatCannotFitTheFileAreDamage) {
    Decoder d;
    auto expectCorrupt = [&](const std::vector<Segment>& segs, uint64_t unpacked, const char* what) {
        const auto r = Decode(d, 2, PackBlocked(segs), unpacked);
        EXPECT_EQ(r.result.status, DecodeStatus::Corrupt) << what;
        EXPECT_LE(r.data.size(), unpacked) << what;
    };
    // A delta block longer than the rest of the file.
    Segment delta = Seg(1, Audio(4000, 2));
    delta.mode.deltaDist = 2;
    delta.mode.deltaLen = 4000;
    expectCorrupt({Seg(0, Words(10, 1)), delta}, 10 + 1000, "delta block past the end");
    // Planes that do not divide the block.
    delta.mode.deltaDist = 3;
    delta.mode.deltaLen = 10;
    delta.data.resize(10);
    expectCorrupt({Seg(0, Words(10, 1)), delta}, 20, "delta 10 / 3");
    delta.mode.deltaDist = 0;
    expectCorrupt({Seg(0, Words(10, 1)), delta}, 20, "delta distance 0");
    // A sound block at the file's end whose length is not a multiple of four never ends by itself.
    expectCorrupt({Seg(0, Words(10, 1)), Seg(3, Audio(10, 1))}, 20, "sound tail");
    // An image without width.
    Segment pic = Seg(7, Image(4, 2, 1));
    pic.mode.picWidth = 0;
    pic.mode.picPlanes = 1;
    {
        BitWriter w;
        PutSymbols(w, {{'a'}}, &pic.mode);
        const auto r = Decode(d, 2, w.Finish(), 20);
        EXPECT_EQ(r.result.status, DecodeStatus::Corrupt);
    }
}

TEST(AceHostile, TruncationAnywhereStopsCleanlyWithAPrefixOfTheFile) {
    const auto segs = AllModes();
    const auto all = Data(segs);
    const auto packed = PackBlocked(segs);
    Decoder d;
    for (size_t cut = 0; cut < packed.size(); cut += 1 + cut / 13) {
        const std::vector<uint8_t> part(packed.begin(), packed.begin() + static_cast<ptrdiff_t>(cut));
        const auto r = Decode(d, 2, part, all.size());
        ASSERT_FALSE(r.result.Ok()) << "cut at " << cut;
        ASSERT_LE(r.data.size(), all.size());
        ASSERT_TRUE(std::equal(r.data.begin(), r.data.end(), all.begin())) << "cut at " << cut;
    }
}

TEST(AceHostile, FlippedBitsNeverWriteMoreThanTheUnpackedSize) {
    const auto segs = AllModes();
    const auto all = Data(segs);
    const auto packed = PackBlocked(segs);
    Decoder d;
    uint32_t x = 12345;
    for (int round = 0; round < 300; ++round) {
        auto bad = packed;
        for (int k = 0; k < 3; ++k) {
            x = x * 1103515245 + 12345;
            bad[(x >> 8) % bad.size()] ^= static_cast<uint8_t>(1u << ((x >> 4) % 8));
        }
        const auto r = Decode(d, 2, bad, all.size());
        ASSERT_LE(r.data.size(), all.size());
        if (r.result.Ok()) {
            ASSERT_EQ(r.data.size(), all.size());
        }
    }
}

TEST(AceHostile, HugeUnpackedSizeWithASmallStreamEndsAtTheInput) {
    const auto text = Words(5000, 3);
    Decoder d;
    const auto r = Decode(d, 1, PackLz77(text), 0xFFFFFFFFull);
    EXPECT_EQ(r.result.status, DecodeStatus::Truncated);
    EXPECT_EQ(r.result.errorCode, E_UnexpectedEof);
    ASSERT_GE(r.data.size(), text.size());
    EXPECT_TRUE(std::equal(text.begin(), text.end(), r.data.begin()));
    EXPECT_LT(r.data.size(), text.size() + 64 * 1024);
}

TEST(AceHostile, DictionarySizeIsClampedToTheFormats) {
    EXPECT_EQ(varnok::ace::DictionaryBits(0), 10);
    EXPECT_EQ(varnok::ace::DictionaryBits(10), 20);
    EXPECT_EQ(varnok::ace::DictionaryBits(12), 22);
    EXPECT_EQ(varnok::ace::DictionaryBits(15), 22);
    EXPECT_EQ(varnok::ace::DictionaryBits(0xFFFF), 22);
    // A file asking for 2^25 decodes with the format's largest window.
    const auto text = Words(20000, 8);
    Decoder d;
    const auto r = Decode(d, 1, PackLz77(text), text.size(), false, 0xFFFF);
    ASSERT_TRUE(r.result.Ok());
    EXPECT_EQ(r.data, text);
}

TEST(AceHostile, UnknownCompressionTypeIsUnsupported) {
    Decoder d;
    const auto r = Decode(d, 3, {1, 2, 3, 4}, 4);
    EXPECT_EQ(r.result.errorCode, E_UnsupportedMethod);
    EXPECT_FALSE(Decoder::Supported(255));
}

// ---- Stopping ----

class CancelAfterFirstWrite final : public ByteSink {
  public:
    explicit CancelAfterFirstWrite(CancelFlag& f) : flag_(f) {}
    void Write(const uint8_t*, size_t n) override {
        written += n;
        flag_.store(true);
    }
    size_t written = 0;

  private:
    CancelFlag& flag_;
};

TEST(AceStop, CancelFlagStopsWithinAChunk) {
    // A 1 KiB dictionary: the window is written out every 128 KiB.
    const auto text = Words(600'000, 6);
    LzOptions o;
    o.dictBits = 10;
    const auto packed = PackLz77(text, o);
    CancelFlag flag{false};
    CancelAfterFirstWrite sink(flag);
    MemorySource src(packed.data(), packed.size());
    varnok::ace::FileParams p;
    p.type = 1;
    p.parameters = 0;
    p.packedSize = packed.size();
    p.unpackedSize = text.size();
    Decoder d;
    const auto r = d.Decode(p, src, sink, &flag);
    EXPECT_EQ(r.status, DecodeStatus::Cancelled);
    EXPECT_EQ(r.errorCode, E_UserCanceled);
    EXPECT_LT(sink.written, text.size() / 2);
}

class ThrowingSink final : public ByteSink {
  public:
    void Write(const uint8_t*, size_t) override { throw std::runtime_error("disk full"); }
};

TEST(AceStop, FailingSinkLeavesTheDecoderUsableAndTheChainBroken) {
    const std::vector<std::vector<uint8_t>> files = {Words(300000, 2), Words(30000, 2)};
    const auto packed = PackSolidChain(files, {1, 1});
    Decoder d;
    {
        MemorySource src(packed[0].data(), packed[0].size());
        ThrowingSink sink;
        varnok::ace::FileParams p;
        p.type = 1;
        p.parameters = 10;
        p.packedSize = packed[0].size();
        p.unpackedSize = files[0].size();
        EXPECT_THROW(d.Decode(p, src, sink), std::runtime_error);
    }
    EXPECT_EQ(Decode(d, 1, packed[1], files[1].size(), true).result.status, DecodeStatus::Corrupt);
    const auto again = Decode(d, 1, packed[0], files[0].size());
    ASSERT_TRUE(again.result.Ok());
    EXPECT_EQ(again.data, files[0]);
}

}  // namespace
}  // namespace varnok::test::ace
