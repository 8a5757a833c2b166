// One stored copy and one answer to a cancel across the families. Hazards: a family whose stored entries
// run short, end or stop differently from the others (ZIP's and ARC's copies of their own used to
// report a cancel without a code); a stored copy that reads past the entry's packed size into the next
// header; an entry of unknown size taken for a short one; a decoder whose cancel comes back as
// Cancelled with no code, or with what was decoded before the cancel thrown away.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/codecs/inflate.h"
#include "archive/codecs/stored.h"
#include "archive/core/errors.h"
#include "archive/formats/arc/arc_codecs.h"
#include "archive/formats/arj/arj_methods.h"
#include "archive/formats/gzip/compress_decoder.h"
#include "archive/formats/gzip/gzip_stream.h"
#include "archive/formats/lzh/lzh_methods.h"
#include "archive/formats/zip/zip_method.h"
#include "archive/formats/zoo/zoo_lzw.h"

namespace varnok {
namespace {

struct KeepSink final : ByteSink {
    std::vector<uint8_t> data;
    CancelFlag* raiseAfterFirstWrite = nullptr;
    void Write(const uint8_t* b, size_t n) override {
        data.insert(data.end(), b, b + n);
        if (raiseAfterFirstWrite) raiseAfterFirstWrite->store(true);
    }
};

std::vector<uint8_t> Bytes(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<uint8_t>(i * 7 + i / 251);
    return v;
}

TEST(StoredCopy, NeverReadsPastThePackedSize) {
    const auto data = Bytes(1000);
    MemorySource src(data.data(), data.size());
    KeepSink sink;
    auto r = CopyStoredEntry(src, 600, sink, 600);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(r.produced, 600u);
    EXPECT_EQ(r.consumed, 600u);
    EXPECT_EQ(src.Position(), 600u);  // the next header is still unread
    EXPECT_EQ(sink.data, std::vector<uint8_t>(data.begin(), data.begin() + 600));
}

TEST(StoredCopy, ShortInputIsTruncatedAndKeepsWhatCame) {
    const auto data = Bytes(300);
    MemorySource src(data.data(), data.size());
    KeepSink sink;
    auto r = CopyStoredEntry(src, 500, sink, 500);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
    EXPECT_EQ(r.errorCode, E_UnexpectedEof);
    EXPECT_EQ(r.produced, 300u);
    EXPECT_EQ(sink.data, data);
}

TEST(StoredCopy, UnknownSizeCopiesToTheEndOfTheInput) {
    const auto data = Bytes(200000);  // several pieces
    MemorySource src(data.data(), data.size());
    KeepSink sink;
    auto r = CopyStoredEntry(src, kStoredSizeUnknown, sink, kStoredSizeUnknown);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(r.produced, data.size());
    EXPECT_EQ(sink.data, data);
}

TEST(StoredCopy, CancelBetweenPiecesKeepsTheWrittenPieceAndSaysUserCanceled) {
    const auto data = Bytes(1 << 20);
    MemorySource src(data.data(), data.size());
    CancelFlag cancel{false};
    KeepSink sink;
    sink.raiseAfterFirstWrite = &cancel;
    auto r = CopyStoredEntry(src, data.size(), sink, data.size(), &cancel);
    EXPECT_EQ(r.status, DecodeStatus::Cancelled);
    EXPECT_EQ(r.errorCode, E_UserCanceled);
    ASSERT_GT(r.produced, 0u);
    EXPECT_LT(r.produced, data.size());
    EXPECT_EQ(r.produced, sink.data.size());
}

TEST(StoredCopy, EveryFamilysStoredMethodCopiesAlike) {
    const auto data = Bytes(70000);
    auto check = [&](const std::string& what, auto decode) {
        MemorySource src(data.data(), data.size());
        KeepSink sink;
        DecodeResult r = decode(src, sink);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << what;
        EXPECT_EQ(r.produced, data.size()) << what;
        EXPECT_EQ(sink.data, data) << what;
    };
    const uint64_t n = data.size();
    check("-lh0-", [&](ByteSource& s, ByteSink& o) { return DecodeLzhMethod("-lh0-", s, n, o, n); });
    check("ARJ 0", [&](ByteSource& s, ByteSink& o) { return DecodeArjMethod(0, s, n, o, n); });
    check("ZIP 0", [&](ByteSource& s, ByteSink& o) { return DecodeZipMethodData(zmStored, 0, n, s, o); });
    check("ZIP 0, size unknown",
          [&](ByteSource& s, ByteSink& o) { return DecodeZipMethodData(zmStored, 0, kUnknownSize, s, o); });
    check("ARC 2", [&](ByteSource& s, ByteSink& o) { return DecodeArcEntry(arcStored, s, o); });

    // Short input: the same Truncated from every family that knows the size.
    auto shortOf = [&](auto decode) {
        MemorySource src(data.data(), 1000);
        KeepSink sink;
        return decode(src, sink);
    };
    for (const DecodeResult& r :
         {shortOf([&](ByteSource&s, ByteSink&o) { return DecodeLzhMethod("-lz4-", s, n, o, n); }),
          shortOf([&](ByteSource&s, ByteSink&o) { return DecodeArjMethod(0, s, n, o, n); }),
          shortOf([&](ByteSource&s, ByteSink&o) { return DecodeZipMethodData(zmStored, 0, n, s, o); })}) {
        EXPECT_EQ(r.status, DecodeStatus::Truncated);
        EXPECT_EQ(r.errorCode, E_UnexpectedEof);
        EXPECT_EQ(r.produced, 1000u);
    }
}

TEST(CancelAnswer, EveryMethodDecoderSaysCancelledWithUserCanceled) {
    // Input that each decoder would at least start on; the flag is up before the first byte.
    std::vector<uint8_t> junk = Bytes(4096);
    std::vector<uint8_t> gz = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
    gz.insert(gz.end(), junk.begin(), junk.end());
    std::vector<uint8_t> z = {0x1F, 0x9D, 0x90};
    z.insert(z.end(), junk.begin(), junk.end());

    struct Case {
        std::string what;
        const std::vector<uint8_t>* in;
        std::function<DecodeResult(ByteSource&, ByteSink&, const CancelFlag*)> decode;
    };
    constexpr uint64_t n = 100000;
    std::vector<Case> cases;
    for (const char* id : {"-lh0-", "-lh1-", "-lh2-", "-lh3-", "-lh5-", "-lh7-", "-lzs-", "-lz5-", "-pm2-"})
        cases.push_back({id, &junk, [id](ByteSource& s, ByteSink& o, const CancelFlag* c) {
                             return DecodeLzhMethod(id, s, 4096, o, n, c);
                         }});
    for (int m = 0; m <= 4; ++m)
        cases.push_back(
            {"ARJ " + std::to_string(m), &junk, [m](ByteSource& s, ByteSink& o, const CancelFlag* c) {
                 return DecodeArjMethod(m, s, 4096, o, n, c);
             }});
    for (uint16_t m : {zmStored, zmShrunk, zmReduced1, zmReduced4, zmImploded, zmDeflated, zmDeflate64})
        cases.push_back(
            {"ZIP " + std::to_string(m), &junk, [m](ByteSource& s, ByteSink& o, const CancelFlag* c) {
                 return DecodeZipMethodData(m, 0, n, s, o, c);
             }});
    for (int m = arcStoredOld; m <= pakDistilled; ++m)
        cases.push_back(
            {"ARC " + std::to_string(m), &junk,
             [m](ByteSource& s, ByteSink& o, const CancelFlag* c) { return DecodeArcEntry(m, s, o, c); }});
    cases.push_back({"ZOO LZW", &junk,
                     [](ByteSource& s, ByteSink& o, const CancelFlag* c) { return DecodeZooLzw(s, o, c); }});
    cases.push_back({"compress", &z, [](ByteSource& s, ByteSink& o, const CancelFlag* c) {
                         return DecodeCompress(s, o, c);
                     }});
    cases.push_back(
        {"gzip", &gz, [](ByteSource& s, ByteSink& o, const CancelFlag* c) { return DecodeGzip(s, o, c); }});
    cases.push_back({"inflate", &junk, [](ByteSource& s, ByteSink& o, const CancelFlag* c) {
                         Inflater inf;
                         return inf.Decode(s, o, c);
                     }});

    CancelFlag cancel{true};
    for (const Case& k : cases) {
        MemorySource src(k.in->data(), k.in->size());
        KeepSink sink;
        const DecodeResult r = k.decode(src, sink, &cancel);
        EXPECT_EQ(r.status, DecodeStatus::Cancelled) << k.what;
        EXPECT_EQ(r.errorCode, E_UserCanceled) << k.what;
        EXPECT_EQ(r.produced, sink.data.size()) << k.what;
    }
}

}  // namespace
}  // namespace varnok
