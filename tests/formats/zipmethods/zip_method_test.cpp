// The method dispatcher: stored data, unsupported methods, and one decoder object over many entries.
#include <gtest/gtest.h>

#include <thread>

#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/formats/zip/zip_method.h"
#include "tests/formats/zipmethods/test_util.h"

namespace varnok {
namespace {

TEST(ZipMethod, StoredCopiesExactlyTheEntrySize) {
    const std::vector<uint8_t> data = test::RandomData(200000, 1);
    std::vector<uint8_t> withNext = data;
    withNext.insert(withNext.end(), {'P', 'K', 3, 4});
    test::TrickleSource src(withNext, 7000);
    VectorSink sink;
    const DecodeResult r = DecodeZipMethodData(zmStored, 0, data.size(), src, sink);
    ASSERT_TRUE(r.Ok());
    EXPECT_EQ(r.produced, data.size());
    EXPECT_EQ(r.consumed, data.size());
    EXPECT_TRUE(sink.Data() == data);
    EXPECT_EQ(src.Position(), data.size());  // nothing of the next header was read

    // Zero bytes: nothing written, nothing read.
    MemorySource none(withNext);
    VectorSink empty;
    EXPECT_TRUE(DecodeZipMethodData(zmStored, 0, 0, none, empty).Ok());
    EXPECT_TRUE(empty.Data().empty());
    EXPECT_EQ(none.Position(), 0u);
}

TEST(ZipMethod, StoredShortOfItsSizeAndOfUnknownSize) {
    const std::vector<uint8_t> data = test::TextData(5000, 2);
    MemorySource src(data);
    VectorSink sink;
    DecodeResult r = DecodeZipMethodData(zmStored, 0, 6000, src, sink);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
    EXPECT_EQ(r.errorCode, E_UnexpectedEof);
    EXPECT_EQ(r.produced, 5000u);
    MemorySource all(data);
    VectorSink rest;
    r = DecodeZipMethodData(zmStored, 0, kUnknownSize, all, rest);
    ASSERT_TRUE(r.Ok());
    EXPECT_TRUE(rest.Data() == data);
}

TEST(ZipMethod, UnsupportedMethodsWriteAndReadNothing) {
    const std::vector<uint8_t> data = test::TextData(1000, 3);
    for (uint16_t method : {7, 10, 12, 14, 18, 19, 93, 95, 96, 97, 98, 99, 0xFFFF}) {
        EXPECT_FALSE(IsZipMethodSupported(method));
        MemorySource src(data);
        VectorSink sink;
        const DecodeResult r = DecodeZipMethodData(method, 0, data.size(), src, sink);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt) << method;
        EXPECT_EQ(r.errorCode, E_UnsupportedMethod);
        EXPECT_EQ(ErrorText(r.errorCode), "Unsupported compression method");
        EXPECT_TRUE(sink.Data().empty());
        EXPECT_EQ(src.Position(), 0u);
    }
    for (uint16_t method : {0, 1, 2, 3, 4, 5, 6, 8, 9})
        EXPECT_TRUE(IsZipMethodSupported(method));
}

TEST(ZipMethod, OneDecoderForEntriesOfEveryKind) {
    // Deflated entries followed by data descriptors, between entries of other methods.
    ZipMethodDecoder decoder;
    for (int i = 0; i < 8; ++i) {
        const std::vector<uint8_t> data = test::MixedData(30000 + i * 1000, 10 + i);
        VectorSink sink;
        if (i % 2 == 0) {
            std::vector<uint8_t> comp = test::ZlibDeflate(data, 6);
            const size_t size = comp.size();
            const uint8_t descriptor[] = {'P', 'K', 7, 8, 1, 2, 3, 4};
            comp.insert(comp.end(), descriptor, descriptor + sizeof descriptor);
            MemorySource src(comp);
            const DecodeResult r = decoder.Decode(zmDeflated, 0, kUnknownSize, src, sink);
            ASSERT_TRUE(r.Ok());
            EXPECT_EQ(r.consumed, size);
            ASSERT_EQ(decoder.Unconsumed().size(), sizeof descriptor);
            EXPECT_EQ(decoder.Unconsumed()[3], 8);
        } else {
            MemorySource src(data);
            ASSERT_TRUE(decoder.Decode(zmStored, 0, data.size(), src, sink).Ok());
            EXPECT_TRUE(decoder.Unconsumed().empty());
        }
        EXPECT_EQ(Crc32(sink.Data()), Crc32(data));
    }
}

TEST(ZipMethod, CancelledBeforeTheStart) {
    const std::vector<uint8_t> data = test::TextData(100000, 4);
    CancelFlag flag{true};
    for (uint16_t method : {zmStored, zmShrunk, zmReduced1, zmImploded, zmDeflated, zmDeflate64}) {
        MemorySource src(data);
        VectorSink sink;
        const DecodeResult r = DecodeZipMethodData(method, 0, data.size(), src, sink, &flag);
        EXPECT_EQ(r.status, DecodeStatus::Cancelled) << method;
        EXPECT_TRUE(sink.Data().empty()) << method;
    }
}

TEST(ZipMethod, DecodersInSeveralThreadsDoNotShareState) {
    // Each thread decodes its own entries with its own decoder; shared state would mix them up.
    std::vector<std::vector<uint8_t>> inputs, compressed;
    for (uint32_t i = 0; i < 4; ++i) {
        inputs.push_back(test::MixedData(400000, 50 + i));
        compressed.push_back(test::ZlibDeflate(inputs.back(), 1 + 2 * static_cast<int>(i)));
    }
    std::vector<int> good(4, 0);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            ZipMethodDecoder decoder;
            for (int round = 0; round < 5; ++round) {
                const size_t k = (t + static_cast<size_t>(round)) % 4;
                MemorySource src(compressed[k]);
                VectorSink sink;
                if (decoder.Decode(zmDeflated, 0, inputs[k].size(), src, sink).Ok() &&
                    sink.Data() == inputs[k])
                    ++good[t];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(good, (std::vector<int>{5, 5, 5, 5}));
}

TEST(ZipMethod, PrefixedSourceDeliversThePrefixThenTheRest) {
    const std::vector<uint8_t> rest = {4, 5, 6, 7};
    MemorySource inner(rest);
    const std::vector<uint8_t> prefix = {1, 2, 3};
    PrefixedSource src(prefix, inner);
    uint8_t buf[8];
    std::vector<uint8_t> got;
    for (size_t n; (n = src.Read(buf, 2)) != 0;)
        got.insert(got.end(), buf, buf + n);
    EXPECT_EQ(got, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7}));
}

}  // namespace
}  // namespace varnok
