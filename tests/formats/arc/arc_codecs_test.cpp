// ARC and PAK decoders on data made here: round trips through test-side packers and crunchers for the
// methods with a simple encoder, hand-made streams for the formats' corners, and corrupt input.
#include <gtest/gtest.h>

#include <map>

#include "archive/core/bytes.h"
#include "archive/core/errors.h"
#include "archive/formats/arc/arc_codecs.h"
#include "tests/formats/gzip_tar/codec_test_util.h"

namespace varnok {
namespace {

using Bytes = std::vector<uint8_t>;

DecodeResult Decode(int method, const Bytes& in, Bytes& out, const CancelFlag* cancel = nullptr) {
    MemorySource src(in);
    VectorSink sink;
    DecodeResult r = DecodeArcEntry(method, src, sink, cancel);
    out = sink.Data();
    EXPECT_EQ(r.produced, out.size());
    EXPECT_LE(r.consumed, in.size());
    return r;
}

Bytes Str(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// ---- test-side encoders ----

// ARC run-length packing: a run of 3..255 equal bytes becomes the byte, 0x90 and the run length; the byte
// 0x90 itself becomes 0x90 0x00 (and is never the repeated byte).
Bytes RlePack(const Bytes& d) {
    Bytes o;
    for (size_t i = 0; i < d.size();) {
        uint8_t b = d[i];
        if (b == 0x90) {
            o.push_back(0x90);
            o.push_back(0);
            ++i;
            continue;
        }
        size_t run = 1;
        while (i + run < d.size() && d[i + run] == b && run < 255)
            ++run;
        o.push_back(b);
        if (run >= 3) {
            o.push_back(0x90);
            o.push_back(static_cast<uint8_t>(run));
            i += run;
        } else {
            ++i;
        }
    }
    return o;
}

// The old-style cruncher (methods 5-7): LZW whose codes are hash-table positions, 12 bits, packed two
// codes to three bytes most significant bits first. Reports how many strings it entered.
Bytes CrunchOld(const Bytes& d, bool newHash, size_t* entered = nullptr) {
    struct Slot {
        bool used = false;
        uint16_t next = 0;
    };
    std::vector<Slot> t(4096);
    std::map<uint32_t, uint16_t> dict;  // (pred << 8 | byte) -> position
    auto hash = [&](uint32_t pred, uint32_t foll) -> uint32_t {
        uint32_t key = (pred + foll) & 0xFFFF;
        if (newHash) return (key * 15073u) % 4096;
        uint64_t s = key | 0x800;
        return static_cast<uint32_t>((s * s / 64) % 4096);
    };
    auto place = [&](uint32_t pred, uint32_t foll) -> uint16_t {
        uint32_t h = hash(pred, foll);
        if (t[h].used) {
            while (t[h].next)
                h = t[h].next;
            uint32_t s = (h + 101) % 4096;
            while (t[s].used)
                s = (s + 1) % 4096;
            t[h].next = static_cast<uint16_t>(s);
            h = s;
        }
        t[h].used = true;
        t[h].next = 0;
        dict[(pred << 8) | foll] = static_cast<uint16_t>(h);
        return static_cast<uint16_t>(h);
    };
    uint16_t root[256];
    for (uint32_t c = 0; c < 256; ++c)
        root[c] = place(0xFFFF, c);
    size_t room = 4096 - 256, added = 0;
    std::vector<uint16_t> codes;
    if (!d.empty()) {
        uint32_t w = root[d[0]];
        for (size_t i = 1; i < d.size(); ++i) {
            auto it = dict.find((w << 8) | d[i]);
            if (it != dict.end()) {
                w = it->second;
                continue;
            }
            codes.push_back(static_cast<uint16_t>(w));
            if (added < room) place(w, d[i]), ++added;
            w = root[d[i]];
        }
        codes.push_back(static_cast<uint16_t>(w));
    }
    if (entered) *entered = added;
    Bytes o;
    for (size_t i = 0; i < codes.size(); i += 2) {
        uint32_t a = codes[i], b = i + 1 < codes.size() ? codes[i + 1] : 0;
        o.push_back(static_cast<uint8_t>(a >> 4));
        o.push_back(static_cast<uint8_t>(((a & 0xF) << 4) | (b >> 8)));
        if (i + 1 < codes.size()) o.push_back(static_cast<uint8_t>(b));
    }
    return o;
}

Bytes ArcLzw(const Bytes& d, int bits) {
    test::TestLzwLayout l;
    l.maxBits = bits;
    return test::TestLzwCompress(d, l);
}

std::vector<std::pair<std::string, Bytes>> Samples() {
    return {{"text", test::SampleText(150000, 1)},
            {"runs", test::SampleRuns(120000, 2)},
            {"random", test::SampleRandom(30000, 3)},
            {"mixed", test::SampleMixed(200000, 4)},
            {"empty", {}},
            {"one", {0x90}}};
}

// ---- stored and packed ----

TEST(ArcStoredPacked, StoredCopiesEverything) {
    auto data = test::SampleRandom(300000, 9);
    for (int m : {1, 2}) {
        Bytes out;
        DecodeResult r = Decode(m, data, out);
        EXPECT_EQ(r.status, DecodeStatus::Ok);
        EXPECT_EQ(r.consumed, data.size());
        EXPECT_TRUE(out == data);
    }
}

TEST(ArcStoredPacked, RunLengthCorners) {
    Bytes out;
    // A packed entry ending in 0x90 0x00 ends with the byte 0x90.
    EXPECT_EQ(Decode(3, {'a', 0x90, 0x00}, out).status, DecodeStatus::Ok);
    EXPECT_EQ(out, (Bytes{'a', 0x90}));
    // A count n repeats the previous byte n - 1 more times; 1 adds nothing.
    Decode(3, {'x', 0x90, 0x05, 'y', 0x90, 0x01}, out);
    EXPECT_EQ(out, Str("xxxxxy"));
    // A literal 0x90 does not become the byte that repeats.
    Decode(3, {'q', 0x90, 0x00, 0x90, 0x03}, out);
    EXPECT_EQ(out, (Bytes{'q', 0x90, 'q', 'q'}));
    // A run marker at the very end (its count missing) adds nothing.
    Decode(3, {'z', 0x90}, out);
    EXPECT_EQ(out, Str("z"));
    // The longest run.
    Decode(3, {'r', 0x90, 0xFF}, out);
    EXPECT_EQ(out, Bytes(255, 'r'));
}

TEST(ArcStoredPacked, PackedRoundTrip) {
    for (const auto& [name, data] : Samples()) {
        Bytes out;
        DecodeResult r = Decode(3, RlePack(data), out);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << name;
        EXPECT_TRUE(out == data) << name;
    }
}

// ---- squeezed ----

// A squeeze tree: node count, then (child0, child1) pairs; leaves are -(value + 1).
Bytes SqueezeTree(const std::vector<std::pair<int16_t, int16_t>>& nodes, int16_t count) {
    Bytes o;
    AppendLe16(o, static_cast<uint16_t>(count));
    for (auto [a, b] : nodes) {
        AppendLe16(o, static_cast<uint16_t>(a));
        AppendLe16(o, static_cast<uint16_t>(b));
    }
    return o;
}

TEST(ArcSqueezed, HandMadeTree) {
    // Node 0: 0 -> 'a', 1 -> node 1; node 1: 0 -> 'b', 1 -> end. Codes: a = 0, b = 10, end = 11.
    Bytes s = SqueezeTree({{-('a' + 1), 1}, {-('b' + 1), -257}}, 2);
    test::LsbBitWriter w;
    for (int bit : {0, 1, 0, 0, 1, 0, 0, 1, 1})
        w.Put(static_cast<uint32_t>(bit), 1);  // a b a b a end
    w.Put(0x7F, 7);                            // trailing bits after the end are not read
    Bytes body = w.Finish();
    s.insert(s.end(), body.begin(), body.end());
    s.push_back(0xEE);  // bytes after the end of the data are not consumed
    Bytes out;
    DecodeResult r = Decode(4, s, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, Str("ababa"));
    EXPECT_EQ(r.consumed, s.size() - 1);

    // The same tree with a 0x90 0x04 pair coded after 'a': the output passes the run-length stage.
    Bytes s2 = SqueezeTree({{-('a' + 1), 1}, {2, -257}, {-(0x90 + 1), -(0x04 + 1)}}, 3);
    test::LsbBitWriter w2;
    for (int bit : {0, 1, 0, 0, 1, 0, 1, 1, 1})
        w2.Put(static_cast<uint32_t>(bit), 1);  // a 0x90 4 end
    Bytes body2 = w2.Finish();
    s2.insert(s2.end(), body2.begin(), body2.end());
    r = Decode(4, s2, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, Str("aaaa"));
}

TEST(ArcSqueezed, TreeChecks) {
    Bytes out;
    // A node count of 0 is an empty file.
    DecodeResult r = Decode(4, SqueezeTree({}, 0), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_TRUE(out.empty());
    // Counts outside 0..256 are invalid decode trees.
    for (int16_t count : {257, -1, 0x7FFF}) {
        r = Decode(4, SqueezeTree({}, count), out);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt) << count;
        EXPECT_EQ(r.errorCode, E_InvalidDecodeTree);
        EXPECT_EQ(ErrorText(r.errorCode), "File contains invalid decode tree");
    }
    // A child index at or beyond the node count.
    Bytes s = SqueezeTree({{-('a' + 1), 2}, {-257, -257}}, 2);
    s.push_back(0x03);  // bits 1 -> node 2 (missing)
    r = Decode(4, s, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidDecodeTree);
    // A leaf beyond the end-of-data value.
    s = SqueezeTree({{-258, -257}}, 1);
    s.push_back(0x00);
    r = Decode(4, s, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidDecodeTree);
    // A tree whose nodes loop into each other only consumes input.
    s = SqueezeTree({{1, 1}, {0, 0}}, 2);
    s.insert(s.end(), 5000, 0xA5);
    r = Decode(4, s, out);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
    EXPECT_TRUE(out.empty());
}

TEST(ArcSqueezed, TruncatedInput) {
    Bytes out;
    Bytes s = SqueezeTree({{-('a' + 1), -257}}, 1);
    for (size_t n = 0; n < s.size(); ++n) {
        Bytes part(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(Decode(4, part, out).status, DecodeStatus::Truncated) << n;
    }
    s.push_back(0x00);  // eight 'a' and no end code
    DecodeResult r = Decode(4, s, out);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
    EXPECT_EQ(out, Str("aaaaaaaa"));
}

// ---- old-style crunched ----

TEST(ArcCrunchedOld, RoundTripsFillingTheTable) {
    for (int method : {5, 6, 7}) {
        for (const auto& [name, data] : Samples()) {
            bool rle = method != 5;
            size_t entered = 0;
            Bytes packed = CrunchOld(rle ? RlePack(data) : data, method == 7, &entered);
            Bytes out;
            DecodeResult r = Decode(method, packed, out);
            EXPECT_EQ(r.status, DecodeStatus::Ok) << name << " " << method;
            EXPECT_TRUE(out == data) << name << " " << method;
            if (name == "text" || name == "mixed") {
                EXPECT_EQ(entered, 3840u) << "table not filled: " << name;
            }
        }
    }
}

TEST(ArcCrunchedOld, CorruptCodes) {
    Bytes out;
    // Code 0x800 is the old hash's slot for byte 0; under the new hash no byte sits there.
    DecodeResult r = Decode(7, {0x80, 0x00}, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidCode);
    r = Decode(5, {0x80, 0x00}, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, Bytes{0});
    // Two unused codes in a row: the second refers back to a string that was never entered.
    Bytes codes = CrunchOld(Str("abc"), false);
    ASSERT_EQ(codes.size(), 5u);
    codes = {codes[0], static_cast<uint8_t>(codes[1] & 0xF0), 0x01, 0x00, 0x10,
             0x01};  // 'a', 0x001, 0x001, 0x001
    r = Decode(5, codes, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidCode);

    // A string that is its own predecessor: 'a' (slot 2192), the unused slot 113 (the previous string
    // plus its first byte: "aa"; that string goes to slot 149), byte 242 (slot 48), whose string
    // (113, 242) hashes to slot 113 itself. Decoding 113 then never reaches a single byte.
    r = Decode(5, {0x89, 0x00, 0x71, 0x03, 0x00, 0x71}, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_StackOverflow);
    EXPECT_EQ(ErrorText(r.errorCode), "Stack overflow");
    EXPECT_EQ(out, (Bytes{'a', 'a', 'a', 242}));
}

// ---- dynamic LZW (crunched 8, squashed 9) ----

TEST(ArcLzw, RoundTrips) {
    for (const auto& [name, data] : Samples()) {
        Bytes m8 = ArcLzw(RlePack(data), 12);
        m8.insert(m8.begin(), 12);
        Bytes out;
        DecodeResult r = Decode(8, m8, out);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << name;
        EXPECT_TRUE(out == data) << name;
        r = Decode(9, ArcLzw(data, 13), out);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << name;
        EXPECT_TRUE(out == data) << name;
    }
}

TEST(ArcLzw, FromNcompress) {
    VARNOK_REQUIRE_TOOL("compress");
    test::TempDir dir;
    auto data = test::SampleMixed(400000, 11);
    for (int bits : {12, 13}) {
        auto in = dir / "in";
        test::WriteFile(in, bits == 12 ? RlePack(data) : data);
        ASSERT_EQ(test::Run("compress -c -f -b" + std::to_string(bits) + " " + test::Quote(in) + " > " +
                            test::Quote(dir / "in.Z")),
                  0);
        Bytes z = test::ReadFile(dir / "in.Z");
        ASSERT_GT(z.size(), 3u);
        // The ARC data is the code stream without the .Z header (method 8: behind its width byte).
        Bytes body(z.begin() + (bits == 12 ? 2 : 3), z.end());
        if (bits == 12) body[0] = 12;
        Bytes out;
        DecodeResult r = Decode(bits == 12 ? 8 : 9, body, out);
        EXPECT_EQ(r.status, DecodeStatus::Ok) << bits;
        EXPECT_TRUE(out == data) << bits;
    }
}

TEST(ArcLzw, WidthByteAndBadCodes) {
    Bytes out;
    DecodeResult r = Decode(8, {13, 'a', 0}, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_IncorrectBits);
    EXPECT_EQ(ErrorText(r.errorCode), "Incorrect number of bits");
    r = Decode(8, {}, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_TRUE(out.empty());

    test::LsbBitWriter w;
    for (uint32_t c : std::initializer_list<uint32_t>{'a', 'b', 259u})
        w.Put(c, 9);  // 259 lies beyond the next free code 258
    r = Decode(9, w.Finish(), out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidCode);
    EXPECT_EQ(out, Str("ab"));
}

TEST(ArcLzw, ClearCodeRestartsAtNineBits) {
    // 'a' 'b' "ab", then a clear (the rest of its 8-code group is padding), then 9-bit codes again with
    // new strings from 257: 'c' 'd' "cd".
    test::LsbBitWriter w;
    for (uint32_t c : std::initializer_list<uint32_t>{'a', 'b', 257u, 256u})
        w.Put(c, 9);
    w.Put(0, 9 * 4);
    for (uint32_t c : std::initializer_list<uint32_t>{'c', 'd', 257u, 258u})
        w.Put(c, 9);
    Bytes out;
    DecodeResult r = Decode(9, w.Finish(), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, Str("ababcdcddc"));
}

// ---- PAK crushed and distilled ----

TEST(PakCrushed, HandMadeStreams) {
    Bytes out;
    // Flag 0 + literal 'h', flag 0 + literal 'i', flag 1 + 1-bit code 0 (= 256, the end).
    test::LsbBitWriter w;
    w.Put(0, 1), w.Put('h', 8), w.Put(0, 1), w.Put('i', 8), w.Put(1, 1), w.Put(0, 1);
    DecodeResult r = Decode(10, w.Finish(), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, Str("hi"));

    // The first symbol cannot be a string.
    test::LsbBitWriter w2;
    w2.Put(1, 1), w2.Put(1, 1);
    r = Decode(10, w2.Finish(), out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidCode);

    // 'h', then string 257, the one being defined ("h" + its own first byte), then the end; the code
    // width is still 1 bit.
    test::LsbBitWriter w3;
    w3.Put(0, 1), w3.Put('h', 8), w3.Put(1, 1), w3.Put(1, 1), w3.Put(1, 1), w3.Put(0, 1);
    r = Decode(10, w3.Finish(), out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, Str("hhh"));

    // A code past the next free one: five literals enter four strings (next free 261) and widen the
    // codes to 3 bits, which reach up to 263.
    test::LsbBitWriter w4;
    for (char ch : std::string("hijkl"))
        w4.Put(0, 1), w4.Put(static_cast<uint8_t>(ch), 8);
    w4.Put(1, 1), w4.Put(7, 3);
    r = Decode(10, w4.Finish(), out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidCode);
    EXPECT_EQ(out, Str("hijkl"));

    // No end code.
    r = Decode(10, {}, out);
    EXPECT_EQ(r.status, DecodeStatus::Truncated);
}

// A distill header with a tree of three leaves: 'a' = 0, end = 10, match of 3 = 11 (values 9 bits wide).
Bytes DistillHeader(test::LsbBitWriter& w) {
    const uint16_t count = 4;
    Bytes o = {static_cast<uint8_t>(count), 0, 9};
    // Root pair at count - 2 = 2: (leaf 'a', pair 0); pair 0: (leaf end, leaf match-of-3).
    for (uint32_t v : {256u + count, 257u + count, 'a' + 0u + count, 0u})
        w.Put(v, 9);
    return o;
}

TEST(PakDistilled, HandMadeStreams) {
    Bytes out;
    test::LsbBitWriter w;
    Bytes s = DistillHeader(w);
    for (int i = 0; i < 4; ++i)
        w.Put(0, 1);  // 'a' x4
    // A match of 3 at offset 1: class 0 (code 000), then one low bit (position 4 >= 4): 0.
    w.Put(3, 2), w.Put(0, 3), w.Put(0, 1);
    w.Put(1, 2);  // end
    Bytes body = w.Finish();
    s.insert(s.end(), body.begin(), body.end());
    DecodeResult r = Decode(11, s, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, Str("aaaaaaa"));

    // A match before any output reads the space-filled window: class 5 (code 00110, offset 6).
    test::LsbBitWriter w2;
    s = DistillHeader(w2);
    w2.Put(3, 2), w2.Put(0x06, 5);  // no low offset bits at position 0
    w2.Put(0, 1);                   // 'a'
    w2.Put(1, 2);                   // end
    body = w2.Finish();
    s.insert(s.end(), body.begin(), body.end());
    r = Decode(11, s, out);
    EXPECT_EQ(r.status, DecodeStatus::Ok);
    EXPECT_EQ(out, Str("   a"));
}

TEST(PakDistilled, HeaderAndTreeChecks) {
    Bytes out;
    for (Bytes h : {Bytes{1, 0, 9}, Bytes{0x75, 0x02, 9}, Bytes{4, 0, 0}, Bytes{4, 0, 17}}) {
        h.insert(h.end(), 20, 0);
        DecodeResult r = Decode(11, h, out);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt);
        EXPECT_EQ(r.errorCode, E_InvalidDecodeTree);
    }
    // A pair index that runs past the values.
    test::LsbBitWriter w;
    Bytes s = {4, 0, 9};
    for (uint32_t v : {260u, 261u, 3u, 0u})
        w.Put(v, 9);
    w.Put(0x00, 8);
    Bytes body = w.Finish();
    s.insert(s.end(), body.begin(), body.end());
    DecodeResult r = Decode(11, s, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidDecodeTree);
    // A symbol beyond the longest match.
    test::LsbBitWriter w2;
    s = {4, 0, 9};
    for (uint32_t v : {260u, 4u + 400u, 'a' + 4u, 0u})
        w2.Put(v, 9);
    w2.Put(3, 2);
    body = w2.Finish();
    s.insert(s.end(), body.begin(), body.end());
    r = Decode(11, s, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_InvalidCode);
    // Input ending inside the header, the tree or the data.
    for (size_t n : {0, 2, 4, 6}) {
        Bytes part(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(Decode(11, part, out).status, DecodeStatus::Truncated) << n;
    }
}

// ---- dispatcher ----

TEST(ArcDecoder, UnsupportedMethods) {
    Bytes out;
    for (int m : {0, 12, 20, 30, 31, 255, -1}) {
        DecodeResult r = Decode(m, {1, 2, 3}, out);
        EXPECT_EQ(r.status, DecodeStatus::Corrupt) << m;
        EXPECT_EQ(r.errorCode, E_UnsupportedMethod);
        EXPECT_EQ(r.consumed, 0u);
        EXPECT_FALSE(ArcMethodSupported(m));
    }
    for (int m = 1; m <= 11; ++m)
        EXPECT_TRUE(ArcMethodSupported(m));
}

TEST(ArcDecoder, CancelStopsEveryMethod) {
    auto data = test::SampleText(400000, 5);
    std::map<int, Bytes> streams = {
        {2, data}, {3, RlePack(data)}, {5, CrunchOld(data, false)}, {9, ArcLzw(data, 13)}};
    CancelFlag cancel{true};
    for (auto& [m, s] : streams) {
        Bytes out;
        DecodeResult r = Decode(m, s, out, &cancel);
        EXPECT_EQ(r.status, DecodeStatus::Cancelled) << m;
        EXPECT_LT(out.size(), data.size()) << m;
    }
}

TEST(ArcDecoder, ReusedDecoderAndSmallReads) {
    auto data = test::SampleMixed(250000, 8);
    Bytes m8 = ArcLzw(RlePack(data), 12);
    m8.insert(m8.begin(), 12);
    ArcDecoder d;
    for (size_t step : {1, 3, 64, 100000}) {
        for (auto [m, s] : std::vector<std::pair<int, Bytes>>{{8, m8}, {9, ArcLzw(data, 13)}}) {
            test::TrickleSource src(s, step);
            VectorSink sink;
            DecodeResult r = d.Decode(m, src, sink);
            EXPECT_EQ(r.status, DecodeStatus::Ok) << m << " " << step;
            EXPECT_TRUE(sink.Data() == data) << m << " " << step;
        }
    }
}

}  // namespace
}  // namespace varnok
