// The shared LZ driver on toy steps, so that each rule it owns is seen apart from any real format.
// Hazards: a cancel that loses what was decoded or reports another code than the other decoders; an
// item decoded from invented bits past the end that is counted or written; corrupt data found after
// the input ran out reported as damage instead of truncation; a step's error that is dropped when
// the stretch ends at the same time; a step that is offered more room than the entry has left; a
// match that reaches back across a flushed chunk; an entry that ends exactly on a chunk boundary; the
// driver's copy of the reader and the input's buffer getting out of step when the buffer is refilled
// (and moved) many times inside one stretch.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "archive/codecs/lz_driver.h"
#include "archive/core/errors.h"

namespace varnok {
namespace {

struct KeepSink final : ByteSink {
    std::vector<uint8_t> data;
    size_t writes = 0;
    void Write(const uint8_t* b, size_t n) override {
        data.insert(data.end(), b, b + n);
        ++writes;
    }
};

// Toy format: 8-bit items; a byte below 0xF0 is a literal, 0xF0 + k a match of 4 + k bytes from the
// distance in the next 16 bits, 0xFF an error.
struct ToyStep {
    size_t maxRoomSeen = 0;
    size_t operator()(MsbBitReader& br, LzByte* buf, size_t pos, size_t room, int& error) {
        if (room > maxRoomSeen) maxRoomSeen = room;
        br.Refill();
        const uint32_t c = br.Get(8);
        if (c == 0xFF) {
            error = E_CorruptInput;
            return 0;
        }
        if (c < 0xF0) {
            buf[pos] = static_cast<LzByte>(c);
            return 1;
        }
        size_t len = 4 + (c - 0xF0);
        const size_t dist = br.Get(16);
        if (len > room) len = room;
        LzCopy(buf, pos, dist, len);
        return len;
    }
};

DecodeResult RunToy(const std::vector<uint8_t>& in, uint64_t size, KeepSink& sink,
                    const CancelFlag* cancel = nullptr, size_t history = 64, size_t chunk = 0,
                    size_t* maxRoom = nullptr, size_t inputBuffer = 64 * 1024) {
    MemorySource src(in.data(), in.size());
    MsbBitInput input(src, in.size(), inputBuffer);
    LzOutput w(sink, size, history, 20, 0x2E, chunk);
    ToyStep step;
    DecodeResult r = DriveLzDecoder(input, w, cancel, step);
    if (maxRoom) *maxRoom = step.maxRoomSeen;
    return r;
}

TEST(LzDriver, CancelReportsUserCanceledLikeEveryDecoder) {
    KeepSink sink;
    CancelFlag cancel{true};
    auto r = RunToy({'a', 'b', 'c'}, 3, sink, &cancel);
    EXPECT_EQ(r.status, DecodeStatus::Cancelled);
    EXPECT_EQ(r.errorCode, E_UserCanceled);
    EXPECT_EQ(r.produced, 0u);
    EXPECT_TRUE(sink.data.empty());
}

TEST(LzDriver, ItemOfInventedBitsIsNeitherCountedNorWritten) {
    // Two literals, then a match whose distance field lies past the end of the input.
    KeepSink sink;
    auto r = RunToy({'a', 'b', 0xF0, 0x00}, 10, sink);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
    EXPECT_EQ(r.errorCode, E_UnexpectedEof);
    EXPECT_EQ(r.produced, 2u);
    EXPECT_EQ(sink.data, (std::vector<uint8_t>{'a', 'b'}));
    EXPECT_EQ(r.consumed, 4u);
}

TEST(LzDriver, ErrorReadFromPastTheEndIsATruncationNotDamage) {
    // The same error on real input is damage...
    KeepSink sink;
    auto r = RunToy({'z', 0xFF}, 10, sink);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_CorruptInput);
    EXPECT_EQ(r.produced, 1u);

    // ...but a step that finds its codes unusable after reading zero bits past the end (as a table
    // read from nothing does) has met the end of the input.
    KeepSink cut;
    std::vector<uint8_t> none;
    MemorySource empty(none.data(), 0);
    MsbBitInput input(empty, 0);
    LzOutput w(cut, 5, 64, 20, 0);
    auto r2 = DriveLzDecoder(input, w, nullptr,
                             [&](MsbBitReader& br, LzByte*, size_t, size_t, int& error) -> size_t {
                                 br.Refill();
                                 br.Get(8);
                                 error = E_BadHuffmanCode;
                                 return 0;
                             });
    EXPECT_EQ(r2.status, DecodeStatus::Truncated);
    EXPECT_EQ(r2.errorCode, E_UnexpectedEof);
    EXPECT_EQ(r2.produced, 0u);
}

TEST(LzDriver, CorruptItemStopsAtOnceAndKeepsWhatCameBefore) {
    KeepSink sink;
    auto r = RunToy({'x', 'y', 0xFF, 'q', 'q'}, 5, sink);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_CorruptInput);
    EXPECT_EQ(sink.data, (std::vector<uint8_t>{'x', 'y'}));
    EXPECT_EQ(r.produced, 2u);
}

TEST(LzDriver, RoomNeverReachesPastTheEntry) {
    // A 19-byte match where only 3 bytes of the entry are left: exactly the entry's size comes out.
    KeepSink sink;
    size_t maxRoom = 0;
    auto r = RunToy({'a', 0xFF - 0x01, 0x00, 0x01}, 4, sink, nullptr, 64, 0, &maxRoom);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(sink.data, (std::vector<uint8_t>{'a', 'a', 'a', 'a'}));
    EXPECT_LE(maxRoom, 4u);
}

TEST(LzDriver, MatchesReachBackAcrossFlushedChunksAndTheEntryMayEndOnABoundary) {
    // Chunks of 64 bytes: literals 0..63 fill the first chunk exactly, then matches 64 back repeat them
    // in pieces of 18, the fourth cut to what the entry has left; the entry ends exactly at the end of
    // the second chunk and the item after it is never read.
    std::vector<uint8_t> in;
    for (int i = 0; i < 64; ++i)
        in.push_back(static_cast<uint8_t>(i));
    for (int k = 0; k < 4; ++k) {
        in.push_back(0xFE);  // a match of 18
        in.push_back(0);
        in.push_back(64);
    }
    in.push_back(0xFF);  // would be an error if it were read
    KeepSink sink;
    auto r = RunToy(in, 128, sink, nullptr, 64, 64);
    ASSERT_EQ(r.status, DecodeStatus::Ok);
    ASSERT_EQ(sink.data.size(), 128u);
    for (size_t i = 0; i < 128; ++i)
        ASSERT_EQ(sink.data[i], static_cast<uint8_t>(i % 64)) << i;
    EXPECT_GE(sink.writes, 2u);
    EXPECT_EQ(r.produced, 128u);
}

TEST(LzDriver, TinyInputBufferRefilledInsideAStretchGivesTheSameBytesAndCount) {
    // 20000 items of 1 or 3 bytes through an input buffer of 9 bytes: thousands of refills, each moving
    // the unread tail to the front while the driver's reader holds a position in it.
    std::vector<uint8_t> in;
    uint32_t s = 5;
    size_t expected = 0;
    for (int i = 0; i < 20000; ++i) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        if (i > 8 && s % 3 == 0) {
            in.push_back(0xF0);  // a match of 4 from 1..8 back
            in.push_back(0);
            in.push_back(static_cast<uint8_t>(1 + s % 8));
            expected += 4;
        } else {
            in.push_back(static_cast<uint8_t>(s % 0xF0));
            expected += 1;
        }
    }
    KeepSink big, tiny;
    auto a = RunToy(in, expected, big);
    auto b = RunToy(in, expected, tiny, nullptr, 64, 0, nullptr, 9);
    ASSERT_EQ(a.status, DecodeStatus::Ok);
    ASSERT_EQ(b.status, DecodeStatus::Ok);
    EXPECT_EQ(tiny.data, big.data);
    EXPECT_EQ(a.consumed, in.size());
    EXPECT_EQ(b.consumed, in.size());
    EXPECT_EQ(b.produced, expected);
}

TEST(LzDriver, HistoryBeforeTheFirstByteIsTheFill) {
    KeepSink sink;
    auto r = RunToy({0xF0, 0x00, 0x10}, 4, sink);  // 4 bytes from 16 back: all fill
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(sink.data, std::vector<uint8_t>(4, 0x2E));
}

}  // namespace
}  // namespace varnok
