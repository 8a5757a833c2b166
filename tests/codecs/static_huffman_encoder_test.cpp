// The -lh5- family encoder. Hazards: a stream that our decoder or a peer (LHa for UNIX, lhasa, 7-Zip,
// bsdtar: those installed) rejects or decodes differently, for every parameter set; the edges of the
// format: empty input, one byte, runs longer than the longest match, a match exactly one dictionary
// back and one a byte too far, more symbols than a block's 16-bit count holds, codes of a single
// symbol, every length of zero run in the literal table, code lengths that a plain Huffman tree would
// make longer than 16 bits; matches into the history before the first byte, which each reader fills
// differently; incompressible input that must be reported (and given up early); output that depends
// on how the source splits its reads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "archive/codecs/static_huffman.h"
#include "archive/codecs/static_huffman_encoder.h"
#include "archive/core/crc.h"

namespace varnok {
namespace {

struct NamedParams {
    const char* method;  // LHA method id
    StaticHuffmanParams params;
};
constexpr NamedParams kAll[] = {
    {"-lh5-", kLh5Params}, {"-lh6-", kLh6Params}, {"-lh7-", kLh7Params}, {"-lh5-", kBhMethod1Params}};

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

// Words of a small vocabulary with numbers: compressible, with matches of many lengths and distances.
std::vector<uint8_t> Text(size_t n, uint64_t seed) {
    static const char* const kWords[] = {"header", "entry ", "dictionary", "position", " the ", "of ",
                                         "block",  "match",  "\n",         "length",   "code",  ", "};
    std::vector<uint8_t> v;
    const std::vector<uint8_t> r = Random(n + 1, seed);
    for (size_t i = 0; v.size() < n; ++i) {
        const std::string w = kWords[r[i % n] % 12];
        v.insert(v.end(), w.begin(), w.end());
        if (r[(i * 7) % n] < 30) v.push_back(static_cast<uint8_t>('0' + r[(i * 3) % n] % 10));
    }
    v.resize(n);
    return v;
}

std::vector<uint8_t> Decode(const StaticHuffmanParams& p, const std::vector<uint8_t>& comp, size_t size) {
    MemorySource src(comp);
    VectorSink sink;
    const DecodeResult r = DecodeStaticHuffman(p, src, comp.size(), sink, size);
    EXPECT_TRUE(r.Ok()) << "status " << static_cast<int>(r.status) << " error " << r.errorCode;
    return std::move(sink.Data());
}

// Encodes (complete stream), decodes with our decoder, expects the input back; returns the stream.
std::vector<uint8_t> RoundTrip(const StaticHuffmanParams& p, const std::vector<uint8_t>& data) {
    StaticHuffmanEncodeResult r;
    std::vector<uint8_t> comp = EncodeStaticHuffman(p, data, &r);
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.consumed, data.size());
    EXPECT_EQ(r.produced, comp.size());
    EXPECT_EQ(r.notSmaller, comp.size() >= data.size());
    const std::vector<uint8_t> back = Decode(p, comp, data.size());
    EXPECT_TRUE(back == data) << "size " << data.size() << ", decoded " << back.size();
    return comp;
}

TEST(StaticHuffmanEncoder, TinyInputsComeBack) {
    for (const auto& [method, p] : kAll) {
        SCOPED_TRACE(method);
        StaticHuffmanEncodeResult r;
        EXPECT_TRUE(EncodeStaticHuffman(p, {}, &r).empty());
        EXPECT_TRUE(r.Ok());
        EXPECT_TRUE(r.notSmaller);
        for (std::string s : {"x", "xy", "xyz", "abcabc", "abcabcabcabc"})
            RoundTrip(p, std::vector<uint8_t>(s.begin(), s.end()));
    }
}

TEST(StaticHuffmanEncoder, RunsLongerThanTheLongestMatchUseMatchesOf256) {
    for (const auto& [method, p] : kAll) {
        SCOPED_TRACE(method);
        // One literal, then matches of 256: the block's 16-bit symbol count (the stream's first two
        // bytes) says 101; matches capped below 256 would need more symbols.
        const std::vector<uint8_t> run(1 + 256 * 100, 'A');
        const std::vector<uint8_t> comp = RoundTrip(p, run);
        ASSERT_GE(comp.size(), 2u);
        EXPECT_EQ(comp[0] << 8 | comp[1], 101);
        // A period-3 run, and a run after other data (a match of 256 that overlaps itself).
        std::vector<uint8_t> mixed = Text(5000, 1);
        for (int i = 0; i < 3000; ++i)
            mixed.push_back("xyz"[i % 3]);
        mixed.insert(mixed.end(), 1000, 0);
        RoundTrip(p, mixed);
    }
}

TEST(StaticHuffmanEncoder, MatchesReachExactlyOneDictionaryBackAndNoFurther) {
    // ARJ's 26,624 bytes too: a dictionary that is not a power of two.
    std::vector<NamedParams> sets(std::begin(kAll), std::end(kAll));
    sets.push_back({"arj", kArjMethod1to3Params});
    for (const auto& [method, p] : sets) {
        SCOPED_TRACE(method);
        // A random piece repeated exactly `history` bytes later, with random bytes between: the
        // repeat is a match at the farthest distance the decoder accepts. One byte more and it is
        // out of reach: the piece goes out as literals.
        const std::vector<uint8_t> piece = Random(300, 7);
        auto build = [&](size_t distance) {
            std::vector<uint8_t> d = piece;
            const std::vector<uint8_t> filler = Random(distance - piece.size(), 8);
            d.insert(d.end(), filler.begin(), filler.end());
            d.insert(d.end(), piece.begin(), piece.end());
            return d;
        };
        const size_t reach = RoundTrip(p, build(p.history)).size();
        const size_t beyond = RoundTrip(p, build(p.history + 1)).size();
        EXPECT_GT(beyond, reach + 250) << "the match at the dictionary's edge was not used";
    }
}

TEST(StaticHuffmanEncoder, IncompressibleInputIsReportedNotSmallerAndGivenUpEarly) {
    const std::vector<uint8_t> noise = Random(4 << 20, 3);
    for (const auto& [method, p] : kAll) {
        SCOPED_TRACE(method);
        StaticHuffmanEncoder enc(p);
        MemorySource src(noise);
        CountingSink sink;
        const StaticHuffmanEncodeResult r = enc.Encode(src, sink);
        EXPECT_EQ(r.status, StaticHuffmanEncodeResult::Status::Stopped);
        EXPECT_TRUE(r.notSmaller);
        EXPECT_EQ(r.produced, sink.Count());
        EXPECT_LT(r.consumed, noise.size() / 8) << "read far more than it needed to decide";

        // Finishing anyway gives a complete (larger) stream and the same verdict.
        StaticHuffmanEncodeResult full;
        const std::vector<uint8_t> some(noise.begin(), noise.begin() + 100000);
        const std::vector<uint8_t> comp = EncodeStaticHuffman(p, some, &full);
        EXPECT_TRUE(full.Ok());
        EXPECT_TRUE(full.notSmaller);
        EXPECT_EQ(Decode(p, comp, some.size()), some);

        // Compressible input goes through to the end in Stop mode, smaller.
        const std::vector<uint8_t> text = Text(300000, 4);
        MemorySource tsrc(text);
        VectorSink tsink;
        const StaticHuffmanEncodeResult t = enc.Encode(tsrc, tsink);
        EXPECT_TRUE(t.Ok());
        EXPECT_FALSE(t.notSmaller);
        EXPECT_EQ(t.consumed, text.size());
        EXPECT_LT(t.produced, text.size() / 2);
        EXPECT_EQ(Decode(p, tsink.Data(), text.size()), text);
    }
}

TEST(StaticHuffmanEncoder, InputsOfMoreSymbolsThanOneBlockHolds) {
    // 16 byte values at random: about 4 bits a byte, no matches worth taking, 300,000 symbols: more
    // than four times what a block's 16-bit count can name. Then text mixing literals and matches.
    std::vector<uint8_t> nibbles = Random(300000, 5);
    for (auto& b : nibbles)
        b = static_cast<uint8_t>('a' + (b & 15));
    for (const auto& [method, p] : kAll) {
        SCOPED_TRACE(method);
        EXPECT_LT(RoundTrip(p, nibbles).size(), nibbles.size() * 6 / 10);
        RoundTrip(p, Text(1 << 20, 6));
    }
}

TEST(StaticHuffmanEncoder, CodesOfASingleSymbol) {
    for (const auto& [method, p] : kAll) {
        SCOPED_TRACE(method);
        // One literal and no matches: "AA". 256 distinct literals once each: every length is 8, so
        // the code-length code has one symbol. A run long enough for blocks of nothing but matches
        // of 256 at distance 1: literal/length and position codes of one symbol each.
        RoundTrip(p, {'A', 'A'});
        std::vector<uint8_t> all(256);
        std::iota(all.begin(), all.end(), 0);
        RoundTrip(p, all);
        RoundTrip(p, std::vector<uint8_t>(256 * 65536 + 1000, 'A'));
    }
}

TEST(StaticHuffmanEncoder, EveryZeroRunInTheLiteralLengths) {
    // Literals g + 1 apart leave runs of exactly g zero lengths between them: one and two zeros,
    // 3..18, exactly 19 (which has no code of its own), 20 and more.
    for (const auto& [method, p] : kAll) {
        SCOPED_TRACE(method);
        for (int gap = 0; gap <= 40; ++gap) {
            std::vector<uint8_t> data;
            const std::vector<uint8_t> r = Random(4000, static_cast<uint64_t>(gap) + 11);
            const int values = 256 / (gap + 1);
            for (uint8_t b : r)
                data.push_back(static_cast<uint8_t>((b % values) * (gap + 1)));
            RoundTrip(p, data);
        }
    }
}

TEST(StaticHuffmanEncoder, CodeLengthsStayWithin16BitsOnFibonacciFrequencies) {
    // Fibonacci frequencies make the deepest Huffman tree: 30 symbols would need 29 bits.
    std::vector<uint32_t> freq(510, 0);
    uint32_t a = 1, b = 1;
    for (int s = 0; s < 30; ++s) {
        freq[static_cast<size_t>(s) * 17] = a;
        b = a + b;
        a = b - a;
    }
    std::vector<uint8_t> len(510);
    EXPECT_EQ(LimitedHuffmanLengths(freq.data(), 510, len.data()), 30);
    uint64_t kraft = 0;
    for (size_t s = 0; s < 510; ++s) {
        EXPECT_LE(len[s], 16);
        EXPECT_EQ(len[s] != 0, freq[s] != 0);
        if (len[s]) kraft += uint64_t{1} << (16 - len[s]);
    }
    EXPECT_EQ(kraft, uint64_t{1} << 16) << "not a complete code";
    // A more frequent symbol never gets a longer code.
    for (int s = 1; s < 30; ++s)
        EXPECT_LE(len[static_cast<size_t>(s) * 17], len[static_cast<size_t>(s - 1) * 17]);
}

TEST(StaticHuffmanEncoder, MixedShapesComeBack) {
    // Many small inputs of different alphabets, lengths and repetitiveness: the code tables take
    // many shapes (lengths above 6 in the small tables, zero runs after the third code-length length).
    for (const auto& [method, p] : kAll) {
        SCOPED_TRACE(method);
        for (uint64_t seed = 1; seed <= 60; ++seed) {
            const std::vector<uint8_t> r = Random(64, seed * 977);
            const size_t n = 1 + r[0] * 97 + r[1];
            const int alphabet = 1 + r[2] % 64;
            std::vector<uint8_t> data = Random(n, seed);
            for (size_t i = 0; i < n; ++i) {
                data[i] = static_cast<uint8_t>(data[i] % alphabet * (1 + r[3] % 4));
                if (i > 40 && data[i] < r[4] / 4) data[i] = data[i - 1 - data[i] % 40];
            }
            RoundTrip(p, data);
        }
    }
}

TEST(StaticHuffmanEncoder, HistoryBeforeTheFirstByteIsNeverUsed) {
    // The -lh5- reader fills the history with spaces, BH's with zeros: the same stream must decode to
    // the same bytes under both, and BH Fuse is coded exactly like -lh5-.
    std::vector<uint8_t> data(300, ' ');
    data.insert(data.end(), 300, 0);
    const std::vector<uint8_t> text = Text(2000, 9);
    data.insert(data.end(), text.begin(), text.end());
    const std::vector<uint8_t> lh5 = EncodeStaticHuffman(kLh5Params, data);
    EXPECT_EQ(EncodeStaticHuffman(kBhMethod1Params, data), lh5);
    EXPECT_EQ(Decode(kLh5Params, lh5, data.size()), data);
    EXPECT_EQ(Decode(kBhMethod1Params, lh5, data.size()), data);
}

// Delivers at most a few bytes per Read, and can raise a cancel flag after some reads.
class TricklingSource final : public ByteSource {
  public:
    TricklingSource(const std::vector<uint8_t>& data, CancelFlag* cancel = nullptr, int cancelAfter = 0)
        : data_(data), cancel_(cancel), cancelAfter_(cancelAfter) {}
    size_t Read(uint8_t* buf, size_t n) override {
        if (cancel_ && ++reads_ == cancelAfter_) cancel_->store(true);
        const size_t k = std::min({n, data_.size() - pos_, size_t{1} + pos_ % 7});
        std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), k, buf);
        pos_ += k;
        return k;
    }

  private:
    const std::vector<uint8_t>& data_;
    size_t pos_ = 0;
    CancelFlag* cancel_;
    int cancelAfter_;
    int reads_ = 0;
};

TEST(StaticHuffmanEncoder, OutputDoesNotDependOnReadSizesAndCancelIsReported) {
    const std::vector<uint8_t> text = Text(400000, 10);
    for (const auto& [method, p] : kAll) {
        SCOPED_TRACE(method);
        StaticHuffmanEncoder enc(p);
        TricklingSource src(text);
        VectorSink sink;
        EXPECT_TRUE(enc.Encode(src, sink).Ok());
        EXPECT_EQ(sink.Data(), EncodeStaticHuffman(p, text));

        CancelFlag cancel{false};
        TricklingSource slow(text, &cancel, 1000);
        CountingSink counted;
        const StaticHuffmanEncodeResult r =
            enc.Encode(slow, counted, StaticHuffmanEncoder::IfNotSmaller::Stop, &cancel);
        EXPECT_EQ(r.status, StaticHuffmanEncodeResult::Status::Cancelled);
        EXPECT_LT(r.consumed, text.size());
    }
}

TEST(StaticHuffmanEncoder, ParametersNoDecoderCouldFollowAreRefused) {
    EXPECT_THROW(StaticHuffmanEncoder({13, 4, 16384, 0x20}), std::invalid_argument);  // history > 2^dicBit
    EXPECT_THROW(StaticHuffmanEncoder({16, 4, 65536, 0x20}), std::invalid_argument);  // 17 codes, 4-bit count
}

// ---- the peers ----

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// A level-0 LHA entry.
void AddEntry(std::vector<uint8_t>& arc, const std::string& name, const char* method,
              const std::vector<uint8_t>& data, const std::vector<uint8_t>& packed) {
    std::vector<uint8_t> h;
    h.reserve(32 + name.size());
    for (int i = 0; i < 5; ++i)
        h.push_back(static_cast<uint8_t>(method[i]));
    Put32(h, static_cast<uint32_t>(packed.size()));
    Put32(h, static_cast<uint32_t>(data.size()));
    Put32(h, 0x5A210000);  // 2025-01-01 00:00
    h.push_back(0x20);     // attribute
    h.push_back(0);        // level
    h.push_back(static_cast<uint8_t>(name.size()));
    for (char c : name)
        h.push_back(static_cast<uint8_t>(c));
    Put16(h, Crc16(data.data(), data.size()));
    uint8_t sum = 0;
    for (uint8_t b : h)
        sum = static_cast<uint8_t>(sum + b);
    arc.push_back(static_cast<uint8_t>(h.size()));
    arc.push_back(sum);
    arc.insert(arc.end(), h.begin(), h.end());
    arc.insert(arc.end(), packed.begin(), packed.end());
}

bool HaveTool(const char* tool) {
    // `lha` counts only as LHa for UNIX: some systems install jLHA's front end under that name, which
    // loses the ends of valid -lh5- streams.
    const std::string t(tool);
    const std::string cmd =
        t == "lha" ? "lha --version 2>&1 | grep -q 'LHa for UNIX'" : "command -v " + t + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

TEST(StaticHuffmanEncoder, PeersReadTheStreams) {
    const char* const tools[] = {"lha", "lhasa", "7z", "bsdtar"};
    bool any = false;
    for (const char* t : tools)
        any = any || HaveTool(t);
    if (!any) GTEST_SKIP() << "none of lha, lhasa, 7z, bsdtar installed";

    // Entries that make the table shapes of the tests above, at each method.
    std::vector<std::vector<uint8_t>> inputs = {
        Text(300000, 12), std::vector<uint8_t>(70000, 'A'), {'A', 'A'}};
    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    inputs.push_back(all);
    for (int gap : {2, 3, 18, 19, 20, 40}) {
        std::vector<uint8_t> d = Random(3000, static_cast<uint64_t>(gap));
        for (auto& b : d)
            b = static_cast<uint8_t>((b % (256 / (gap + 1))) * (gap + 1));
        inputs.push_back(d);
    }
    std::vector<uint8_t> nibbles = Random(200000, 13);
    for (auto& b : nibbles)
        b = static_cast<uint8_t>('a' + (b & 15));
    inputs.push_back(nibbles);

    std::vector<uint8_t> arc;
    std::vector<std::pair<std::string, const std::vector<uint8_t>*>> entries;
    for (const auto& [method, p] : kAll) {
        if (&p == &kAll[3].params) continue;  // BH parameters: coded like -lh5-
        for (size_t i = 0; i < inputs.size(); ++i) {
            const std::string name = std::string(method).substr(1, 3) + "_" + std::to_string(i) + ".bin";
            AddEntry(arc, name, method, inputs[i], EncodeStaticHuffman(p, inputs[i]));
            entries.emplace_back(name, &inputs[i]);
        }
    }
    arc.push_back(0);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("varnok_lzh_enc_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "peer.lzh").string();
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(arc.data()), static_cast<std::streamsize>(arc.size()));

    // Each tool extracts the whole archive into a directory of its own.
    for (const char* tool : tools) {
        if (!HaveTool(tool)) continue;
        SCOPED_TRACE(tool);
        const std::string t(tool);
        const std::string out = (dir / t).string();
        std::filesystem::create_directories(out);
        const std::string cmd = t == "lha" || t == "lhasa" ? t + " xqw='" + out + "' '" + file + "'"
                                : t == "7z"                ? "7z x -y '-o" + out + "' '" + file + "'"
                                                           : "bsdtar -xf '" + file + "' -C '" + out + "'";
        EXPECT_EQ(std::system((cmd + " >/dev/null 2>&1").c_str()), 0) << cmd;
        for (const auto& [name, data] : entries) {
            std::ifstream f(std::filesystem::path(out) / name, std::ios::binary);
            const std::vector<uint8_t> got((std::istreambuf_iterator<char>(f)),
                                           std::istreambuf_iterator<char>());
            EXPECT_TRUE(got == *data) << name << ": " << got.size() << " bytes";
        }
    }
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace varnok
