// Hand-made -pm2- streams: literals through the recent-byte list, copies and their distance widths,
// the points where the codes are replaced, the output bound, and damaged input.
#include <gtest/gtest.h>

#include <algorithm>

#include "archive/core/errors.h"
#include "archive/formats/lzh/pmarc2.h"
#include "tests/formats/lzh/lzh_test_util.h"

namespace varnok {
namespace {

using test::BitWriter;
using Bytes = std::vector<uint8_t>;

DecodeResult Decode(const Bytes& in, uint64_t unpacked, Bytes* out = nullptr,
                    const CancelFlag* cancel = nullptr) {
    MemorySource src(in.data(), in.size());
    test::HashSink sink(true);
    auto r = DecodePm2(src, in.size(), sink, unpacked, cancel);
    EXPECT_EQ(r.produced, sink.size);
    EXPECT_LE(sink.size, unpacked);
    EXPECT_LE(r.consumed, in.size());
    if (out) *out = sink.data;
    return r;
}

// The item code as a single symbol taking no bits.
void PutSingleItem(BitWriter& w, uint32_t symbol) {
    w.Put(symbol + 1, 5);
    w.Put(0, 3);
}

// An item code of ten symbols: literal class 0 is "0", copy code 1 (3 bytes) is "1". The distance
// code follows at once (five 3-bit lengths): width 0 is "0", width 1 is "1".
void PutLiteralAndCopyCodes(BitWriter& w) {
    w.Put(10, 5), w.Put(1, 3), w.Put(1, 3);
    w.Put(1, 1);
    for (int i = 1; i < 9; ++i)
        w.Put(0, 1);
    w.Put(1, 1);
    w.Put(1, 3), w.Put(1, 3), w.Put(0, 3), w.Put(0, 3), w.Put(0, 3);
}

// Literal class 0 with place 7, repeated: the eight most recent bytes cycle, so the output is the
// period 27 26 25 24 23 22 21 20 (hex) from the start of the stream.
uint8_t Cycle(size_t i) {
    return static_cast<uint8_t>(0x27 - i % 8);
}

TEST(Pm2, LiteralsComeFromTheRecentByteListAndCopiesUpdateIt) {
    BitWriter w;
    w.Put(0, 1);  // unused first bit
    // Nine symbols; classes 0, 1, 5 get 2 bits (00, 01, 10), class 7 and copy code 0 get 3 bits
    // (110, 111).
    w.Put(9, 5), w.Put(2, 3), w.Put(2, 3);
    for (uint32_t v : {1, 1, 0, 0, 0, 1, 0, 2, 2})
        w.Put(v, 2);
    w.Put(0, 2), w.Put(0, 3);   // place 0: ' ' (the list starts with printable ASCII)
    w.Put(0, 2), w.Put(1, 3);   // place 1: '!'
    w.Put(1, 2), w.Put(0, 3);   // place 8: '(' ('!' moved to the front, ' ' behind it)
    w.Put(2, 2), w.Put(0, 5);   // place 96: the control characters follow ASCII: 00
    w.Put(6, 3), w.Put(63, 6);  // place 255: the list ends with E0..FF
    w.Put(0, 2), w.Put(3, 3);   // place 3: '!' (behind FF, 00 and '(')
    w.Put(7, 3), w.Put(3, 6);   // copy of 2 from 4 back: '(' 00
    w.Put(0, 2), w.Put(1, 3);   // place 1: '(' -- the copied bytes are now the most recent
    w.Put(7, 3), w.Put(63, 6);  // copy of 2 from 64 back: the window starts out as spaces
    Bytes out;
    auto r = Decode(w.Finish(), 11, &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, (Bytes{' ', '!', '(', 0x00, 0xFF, '!', '(', 0x00, '(', ' ', ' '}));
}

TEST(Pm2, DistanceCodeWidensAfterOneAndTwoKiB) {
    BitWriter w;
    w.Put(0, 1);
    PutLiteralAndCopyCodes(w);
    Bytes want;
    for (size_t i = 0; i < 1024; ++i) {
        w.Put(0, 1), w.Put(7, 3);
        want.push_back(Cycle(i));
    }
    // At 1 KiB: six lengths; width 0 is "0", width 5 (10 bits above 1024) is "1".
    w.Put(1, 3), w.Put(0, 3), w.Put(0, 3), w.Put(0, 3), w.Put(0, 3), w.Put(1, 3);
    w.Put(1, 1), w.Put(1, 1), w.Put(0, 10);  // from 1025 back: a space, then the first two bytes
    want.insert(want.end(), {' ', Cycle(0), Cycle(1)});
    w.Put(1, 1), w.Put(0, 1), w.Put(7, 6);  // from 8 back
    want.insert(want.end(), {Cycle(1019), Cycle(1020), Cycle(1021)});
    // Copies of the last three bytes up to 2050: the code changes after the copy that crosses 2 KiB.
    while (want.size() < 2048) {
        w.Put(1, 1), w.Put(0, 1), w.Put(2, 6);
        for (int k = 0; k < 3; ++k)
            want.push_back(want[want.size() - 3]);
    }
    ASSERT_EQ(want.size(), 2050u);
    // At 2 KiB: seven lengths, only width 6 used: it takes no code bits, then 11 bits above 2048.
    for (int i = 0; i < 6; ++i)
        w.Put(0, 3);
    w.Put(2, 3);
    w.Put(1, 1), w.Put(5, 11);  // from 2054 back: still the preset spaces
    want.insert(want.end(), {' ', ' ', ' '});
    w.Put(1, 1), w.Put(0, 11);  // from 2049 back: bytes 4, 5, 6
    want.insert(want.end(), {Cycle(4), Cycle(5), Cycle(6)});
    Bytes out;
    auto r = Decode(w.Finish(), want.size(), &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok) << r.errorCode;
    EXPECT_EQ(out, want);
}

TEST(Pm2, ItemCodeMayChangeAtFourKiBAndEveryFourKiBAfter) {
    BitWriter w;
    w.Put(0, 1);
    PutSingleItem(w, 28);  // every item: 256 repeats of the last byte (no distance code is sent)
    w.Put(1, 1);           // at 4 KiB: a new item code...
    PutSingleItem(w, 0);   // ...of literal class 0 alone
    for (int i = 0; i < 4095; ++i)
        w.Put(7, 3);
    w.Put(0, 3);  // the last literal repeats the one before: '!'
    w.Put(1, 1);  // at 8 KiB: back to the runs
    PutSingleItem(w, 28);
    w.Put(0, 1);  // at 12 KiB: keep the code
    Bytes want(4096, ' ');
    for (size_t i = 0; i < 4095; ++i)
        want.push_back(Cycle(i));
    want.push_back('!');
    want.resize(12288 + 100, '!');  // the last run is cut at the entry's size
    Bytes out;
    auto in = w.Finish();
    auto r = Decode(in, want.size(), &out);
    EXPECT_EQ(r.status, DecodeStatus::Ok) << r.errorCode;
    EXPECT_EQ(out, want);
    EXPECT_EQ(r.consumed, in.size());
}

TEST(Pm2, DamagedCodesAreCorruptAfterWhatWasDecoded) {
    struct Case {
        const char* what;
        void (*put)(BitWriter&);
        int error;
    };
    const Case cases[] = {
        {"single symbol 29 (beyond the copy codes)", [](BitWriter& w) { PutSingleItem(w, 29); },
         E_BadHuffmanCode},
        {"single-symbol form with no symbols",
         [](BitWriter& w) {
             w.Put(0, 5);
             w.Put(0, 3);
         },
         E_InvalidDecodeTree},
        {"three 1-bit codes (over-subscribed)",
         [](BitWriter& w) {
             w.Put(3, 5), w.Put(1, 3), w.Put(1, 3);
             w.Put(1, 1), w.Put(1, 1), w.Put(1, 1);
         },
         E_InvalidDecodeTree},
        {"one 1-bit code (incomplete)",
         [](BitWriter& w) {
             w.Put(2, 5), w.Put(1, 3), w.Put(1, 3);
             w.Put(1, 1), w.Put(0, 1);
         },
         E_InvalidDecodeTree},
        {"a copy with no distance code",
         [](BitWriter& w) {
             w.Put(10, 5), w.Put(0, 3);  // single symbol 9: copy code 1
             for (int i = 0; i < 5; ++i)
                 w.Put(0, 3);
         },
         E_BadHuffmanCode},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BitWriter w;
        w.Put(0, 1);
        c.put(w);
        w.Put(0, 32);
        Bytes out;
        auto r = Decode(w.Finish(), 100, &out);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt);
        EXPECT_EQ(r.errorCode, c.error);
        EXPECT_TRUE(out.empty());
    }
    // A bad distance code at 1 KiB: the first 1024 bytes are out before the error.
    BitWriter w;
    w.Put(0, 1);
    PutLiteralAndCopyCodes(w);
    for (int i = 0; i < 1024; ++i)
        w.Put(0, 1), w.Put(7, 3);
    for (int i = 0; i < 6; ++i)
        w.Put(1, 3);  // six 1-bit codes
    w.Put(0, 32);
    Bytes out;
    auto r = Decode(w.Finish(), 2000, &out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidDecodeTree);
    ASSERT_EQ(out.size(), 1024u);
    EXPECT_EQ(out[1023], Cycle(1023));
}

TEST(Pm2, CutStreamsAreTruncatedAndNeverInventBytes) {
    BitWriter w;
    w.Put(0, 1);
    PutLiteralAndCopyCodes(w);
    for (int i = 0; i < 300; ++i)
        w.Put(0, 1), w.Put(7, 3);
    for (int i = 0; i < 100; ++i)
        w.Put(1, 1), w.Put(1, 1), w.Put(i % 64, 6);
    auto full = w.Finish();
    Bytes whole;
    ASSERT_EQ(Decode(full, 600, &whole).status, DecodeStatus::Ok);
    for (size_t keep : {size_t{0}, size_t{1}, size_t{3}, full.size() / 2, full.size() - 1}) {
        SCOPED_TRACE(keep);
        Bytes cut(full.begin(), full.begin() + static_cast<long>(keep));
        Bytes out;
        auto r = Decode(cut, 600, &out);
        EXPECT_EQ(r.status, DecodeStatus::Truncated);
        EXPECT_EQ(r.errorCode, E_UnexpectedEof);
        EXPECT_LT(out.size(), 600u);
        // What did come out is the start of the real output.
        EXPECT_TRUE(std::equal(out.begin(), out.end(), whole.begin()));
    }
}

TEST(Pm2, ZeroSizeReadsNothingAndCancelStops) {
    BitWriter w;
    w.Put(0, 1);
    PutSingleItem(w, 28);
    auto in = w.Finish();
    auto r = Decode(in, 0);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(r.consumed, 0u);
    CancelFlag cancel{true};
    Bytes out;
    r = Decode(in, 1000, &out, &cancel);
    EXPECT_EQ(r.status, DecodeStatus::Cancelled);
    EXPECT_EQ(r.errorCode, E_UserCanceled);
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace varnok
