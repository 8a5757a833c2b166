// The deflate compressor. Hazards: a stream some decoder rejects or decodes differently (our Inflater and
// zlib must both give the input back, at every strength); the edges of the format: empty input, one byte,
// runs longer than the longest match, a match exactly a window back and one a byte too far, more symbols
// than one block holds, inputs larger than the encoder's buffer; incompressible data growing beyond the
// stored-block overhead; output that depends on how the source splits its reads; a cancel that leaves a
// broken stream; the ZIP speed flag bits of each strength.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "archive/codecs/deflate_encoder.h"
#include "archive/codecs/inflate.h"
#include "archive/core/errors.h"

namespace varnok {
namespace {

constexpr TDeflateType kAll[] = {dtDeflateS, dtDeflateF, dtDeflateN, dtDeflateX};

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

// Text-like data: words from a small vocabulary with numbers, compressible but not trivially.
std::vector<uint8_t> Text(size_t n, uint64_t seed) {
    static const char* const kWords[] = {"archive", "entry ", "deflate", "window", " the ", "of ",
                                         "block",   "match",  "\n",      "length", "data",  ", "};
    std::vector<uint8_t> v;
    const std::vector<uint8_t> r = Random(n, seed);
    for (size_t i = 0; v.size() < n; ++i) {
        const std::string w = kWords[r[i % n] % 12];
        v.insert(v.end(), w.begin(), w.end());
        if (r[(i * 7) % n] < 20) v.push_back(static_cast<uint8_t>('0' + r[(i * 3) % n] % 10));
    }
    v.resize(n);
    return v;
}

std::vector<uint8_t> InflateOurs(const std::vector<uint8_t>& comp, DecodeResult* result = nullptr) {
    MemorySource src(comp);
    VectorSink sink;
    Inflater inflater;
    const DecodeResult r = inflater.Decode(src, sink);
    EXPECT_TRUE(r.Ok()) << "error " << r.errorCode;
    EXPECT_EQ(r.consumed, comp.size());
    if (result) *result = r;
    return std::move(sink.Data());
}

std::vector<uint8_t> InflateZlib(const std::vector<uint8_t>& comp, size_t expected) {
    std::vector<uint8_t> out(expected + 1);
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    z.next_in = const_cast<Bytef*>(comp.data());
    z.avail_in = static_cast<uInt>(comp.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(z.total_in, comp.size());
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Compresses at every strength and checks that both decoders give the input back.
void RoundTrip(const std::vector<uint8_t>& data, const std::string& what) {
    for (TDeflateType t : kAll) {
        SCOPED_TRACE(what + " strength " + std::to_string(static_cast<int>(t)));
        const std::vector<uint8_t> comp = DeflateBuffer(data, t);
        EXPECT_TRUE(InflateOurs(comp) == data);
        EXPECT_TRUE(InflateZlib(comp, data.size()) == data);
    }
}

TEST(DeflateEncoder, EdgesOfTheFormatRoundTripThroughBothDecoders) {
    RoundTrip({}, "empty");
    RoundTrip({'x'}, "one byte");
    RoundTrip({'a', 'b', 'a', 'b'}, "four bytes");
    RoundTrip(std::vector<uint8_t>(100000, 'z'), "run of 100000");
    RoundTrip(std::vector<uint8_t>(259, 0), "run of 259");
    std::vector<uint8_t> runs;
    for (int i = 0; i < 300; ++i)
        runs.insert(runs.end(), static_cast<size_t>(200 + i), static_cast<uint8_t>(i));
    RoundTrip(runs, "runs of varied lengths");
    std::vector<uint8_t> period3;
    for (int i = 0; i < 5000; ++i)
        period3.push_back(static_cast<uint8_t>("abc"[i % 3]));
    RoundTrip(period3, "period 3");
    RoundTrip(Random(300000, 1), "random");
    std::vector<uint8_t> allBytes;
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 256; ++i)
            allBytes.push_back(static_cast<uint8_t>(i));
    RoundTrip(allBytes, "every byte value");
}

TEST(DeflateEncoder, EmptyInputIsOneEmptyFinalBlock) {
    for (TDeflateType t : kAll) {
        const std::vector<uint8_t> comp = DeflateBuffer({}, t);
        EXPECT_EQ(comp, (std::vector<uint8_t>{0x03, 0x00}));
    }
}

TEST(DeflateEncoder, MatchesReachExactlyOneWindowBackAndNoFurther) {
    // Random data repeated at a period of exactly 32768: the second copy is one long run of matches at the
    // largest distance deflate allows.
    std::vector<uint8_t> exact = Random(32768, 2);
    exact.insert(exact.end(), exact.begin(), exact.end());
    RoundTrip(exact, "period 32768");
    for (TDeflateType t : {dtDeflateF, dtDeflateN, dtDeflateX})
        EXPECT_LT(DeflateBuffer(exact, t).size(), 34000u) << static_cast<int>(t);

    // One byte further the copy is out of reach: it must not be used, and it cannot help.
    std::vector<uint8_t> beyond = Random(32769, 3);
    beyond.insert(beyond.end(), beyond.begin(), beyond.end());
    RoundTrip(beyond, "period 32769");
    for (TDeflateType t : kAll)
        EXPECT_GT(DeflateBuffer(beyond, t).size(), 65000u) << static_cast<int>(t);
}

TEST(DeflateEncoder, LargeInputsSpanManyBlocksAndBufferSlides) {
    // Alternating kinds of data (text, random, runs, structured) of several MiB: many blocks of every
    // form, several moves of the encoder's buffer, matches across block boundaries.
    std::vector<uint8_t> data;
    for (uint64_t part = 0; data.size() < (6u << 20); ++part) {
        std::vector<uint8_t> piece;
        switch (part % 4) {
            case 0:
                piece = Text(400000 + part * 1000, part + 10);
                break;
            case 1:
                piece = Random(70000 + part * 100, part + 20);
                break;
            case 2:
                piece.assign(50000, static_cast<uint8_t>(part));
                break;
            default:
                for (uint32_t i = 0; i < 60000; ++i)
                    piece.push_back(static_cast<uint8_t>((i * i) >> (part % 7)));
                break;
        }
        data.insert(data.end(), piece.begin(), piece.end());
    }
    RoundTrip(data, "mixed 6 MiB");
}

TEST(DeflateEncoder, IncompressibleDataGrowsOnlyByStoredBlockOverhead) {
    // The writer's whole-entry stored rule compares produced with consumed; the stream itself must never
    // grow by more than a stored block's header per 8 KiB (the shortest block the splitter makes).
    const std::vector<uint8_t> data = Random(1 << 20, 4);
    for (TDeflateType t : kAll) {
        MemorySource src(data);
        VectorSink sink;
        DeflateEncoder encoder(t);
        const DecodeResult r = encoder.Encode(src, sink);
        ASSERT_TRUE(r.Ok());
        EXPECT_EQ(r.consumed, data.size());
        EXPECT_EQ(r.produced, sink.Data().size());
        EXPECT_GE(r.produced, r.consumed);  // not smaller: the writer stores this entry
        EXPECT_LE(r.produced, r.consumed + 5 * (data.size() / 8192 + 1));
        EXPECT_TRUE(InflateOurs(sink.Data()) == data);
    }
    // Text compresses at every strength, the strongest most.
    const std::vector<uint8_t> text = Text(1 << 20, 5);
    size_t sizes[4];
    for (TDeflateType t : kAll) {
        sizes[t] = DeflateBuffer(text, t).size();
        EXPECT_LT(sizes[t], text.size() / 2) << static_cast<int>(t);
    }
    EXPECT_LT(sizes[dtDeflateX], sizes[dtDeflateS]);
    EXPECT_LE(sizes[dtDeflateX], sizes[dtDeflateN]);
}

// Hands out the data in pieces of a few bytes and raises a cancel flag once `cancelAt` bytes are out.
class TrickleSource final : public ByteSource {
  public:
    TrickleSource(const std::vector<uint8_t>& data, CancelFlag* flag = nullptr, size_t cancelAt = SIZE_MAX)
        : data_(data), flag_(flag), cancelAt_(cancelAt) {}
    size_t Read(uint8_t* buf, size_t n) override {
        const size_t k = std::min({n, 1 + pos_ % 7, data_.size() - pos_});
        std::copy_n(data_.begin() + static_cast<ptrdiff_t>(pos_), k, buf);
        pos_ += k;
        if (flag_ && pos_ >= cancelAt_) flag_->store(true);
        return k;
    }

  private:
    const std::vector<uint8_t>& data_;
    CancelFlag* flag_;
    size_t cancelAt_;
    size_t pos_ = 0;
};

TEST(DeflateEncoder, OutputDoesNotDependOnHowTheSourceSplitsItsReads) {
    std::vector<uint8_t> data = Text(700000, 6);
    const std::vector<uint8_t> noise = Random(90000, 7);
    data.insert(data.begin() + 300000, noise.begin(), noise.end());
    for (TDeflateType t : kAll) {
        TrickleSource src(data);
        VectorSink sink;
        DeflateEncoder encoder(t);
        ASSERT_TRUE(encoder.Encode(src, sink).Ok());
        EXPECT_TRUE(sink.Data() == DeflateBuffer(data, t)) << static_cast<int>(t);
    }
}

TEST(DeflateEncoder, CancelClosesTheStreamAfterAPrefix) {
    const std::vector<uint8_t> data = Text(2 << 20, 8);
    for (TDeflateType t : kAll) {
        CancelFlag flag{false};
        TrickleSource src(data, &flag, 600000);
        VectorSink sink;
        DeflateEncoder encoder(t);
        const DecodeResult r = encoder.Encode(src, sink, &flag);
        EXPECT_EQ(r.status, DecodeStatus::Cancelled);
        EXPECT_EQ(r.errorCode, E_UserCanceled);
        EXPECT_LT(r.consumed, data.size());
        const std::vector<uint8_t> prefix(data.begin(), data.begin() + static_cast<ptrdiff_t>(r.consumed));
        EXPECT_TRUE(InflateZlib(sink.Data(), data.size()) == prefix) << static_cast<int>(t);
    }
}

TEST(DeflateEncoder, EncoderIsReusableAcrossStreams) {
    // State left from a long stream (hash chains, block statistics) must not leak into the next one.
    DeflateEncoder encoder(dtDeflateX);
    const std::vector<uint8_t> first = Text(500000, 9), second = Text(3000, 9);
    for (const auto* d : {&first, &second, &first}) {
        MemorySource src(*d);
        VectorSink sink;
        ASSERT_TRUE(encoder.Encode(src, sink).Ok());
        EXPECT_TRUE(sink.Data() == DeflateBuffer(*d, dtDeflateX));
        EXPECT_TRUE(InflateZlib(sink.Data(), d->size()) == *d);
    }
}

TEST(DeflateEncoder, ZipSpeedFlagBitsPerStrength) {
    EXPECT_EQ(DeflateFlagBits(dtDeflateS), 6);
    EXPECT_EQ(DeflateFlagBits(dtDeflateF), 4);
    EXPECT_EQ(DeflateFlagBits(dtDeflateN), 0);
    EXPECT_EQ(DeflateFlagBits(dtDeflateX), 2);
}

}  // namespace
}  // namespace varnok
