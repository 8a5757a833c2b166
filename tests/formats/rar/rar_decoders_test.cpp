// The RAR 1.5-4 decoders through the engine (every fixture against the peers' digests and unar, solid entries
// wanted out of order) and on their own (hostile streams: cut, damaged tables, filters we do not run, PPMd
// asking for the largest model, sizes that lie; RAR 1.5's adaptive state carried across solid entries).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "archive/core/crc.h"
#include "archive/core/errors.h"
#include "archive/formats/rar/rar15_decoder.h"
#include "archive/formats/rar/rar20_decoder.h"
#include "archive/formats/rar/rar29_decoder.h"
#include "archive/formats/rar/rar_headers.h"
#include "engines/unrar/unrar_engine.h"
#include "tests/support/fixtures.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

class VectorSink final : public ByteSink {
  public:
    void Write(const uint8_t* p, size_t n) override { data.insert(data.end(), p, p + n); }
    std::vector<uint8_t> data;
};

// One entry's packed bytes as stored in a single-volume archive.
struct Packed {
    rar::Block block;
    std::vector<uint8_t> bytes;
};

std::vector<Packed> PackedEntries(const fs::path& archive) {
    std::vector<Packed> out;
    platform::File f;
    if (!f.Open(archive.string(), platform::File::Mode::Read)) return out;
    const uint64_t size = f.Size();
    uint64_t pos = rar::kMarker4Size;
    for (int n = 0; n < 1000; ++n) {
        rar::Block b;
        if (rar::ReadBlock4(f, pos, size, b) != rar::ReadResult::Ok || b.nextPos <= pos) break;
        if (b.isFile && !b.isDirectory && b.dataSize < (64u << 20)) {
            Packed p{b, std::vector<uint8_t>(b.dataSize)};
            f.ReadAt(b.nextPos - b.dataSize, p.bytes.data(), p.bytes.size());
            out.push_back(std::move(p));
        }
        pos = b.nextPos;
    }
    return out;
}

// The entries of an archive decoded through the engine: name -> sha256 of the data (RAR_TEST with the data
// callback), or "error N" for an entry that failed. `want`: only these names are tested, the others skipped.
std::vector<uint8_t>* g_data = nullptr;
int OnData(const unsigned char* p, unsigned int n) {
    if (g_data) g_data->insert(g_data->end(), p, p + n);
    return 1;
}
int OnVolume(char*, int) { return 1; }

std::map<std::string, std::string> EngineDigests(const fs::path& archive, const std::set<std::string>& want = {}) {
    std::map<std::string, std::string> out;
    RAROpenArchiveData d{};
    const std::string name = archive.string();
    d.ArcName = const_cast<char*>(name.c_str());
    d.OpenMode = RAR_OM_EXTRACT;
    std::unique_ptr<unrar::Session> s(unrar::Session::Open(&d));
    if (!s) {
        ADD_FAILURE() << archive << ": does not open (" << d.OpenResult << ")";
        return out;
    }
    s->SetChangeVolProc(OnVolume);
    s->SetDataProc(OnData);
    RARHeaderData h;
    int rc;
    while ((rc = s->ReadHeader(&h)) == RAR_OK) {
        std::string entry = h.FileName;
        std::replace(entry.begin(), entry.end(), '\\', '/');
        if ((h.Flags & RAR_FLAG_DIRECTORY) == RAR_FLAG_DIRECTORY || (!want.empty() && !want.count(entry))) {
            s->Process(RAR_SKIP, nullptr, nullptr);
            continue;
        }
        std::vector<uint8_t> data;
        g_data = &data;
        const int r = s->Process(RAR_TEST, nullptr, nullptr);
        g_data = nullptr;
        out[entry] = r == RAR_OK ? test::Sha256Hex(data) : "error " + std::to_string(r) + ": " + s->ErrorText();
    }
    EXPECT_EQ(rc, RAR_ERR_END_ARCHIVE) << archive << ": " << s->ErrorText();
    return out;
}

// The RAR 1.5-4 fixtures whose every entry a peer extracted, without passwords.
std::vector<std::string> Rar4Fixtures() {
    std::vector<std::string> out;
    for (const std::string& rel : test::FixturesOfFormat("rar")) {
        const auto rows = test::ExtractedFiles(rel);
        if (rows.empty() || !test::PasswordOf(test::ExpectedOf(rel)).empty()) continue;
        platform::File f;
        if (!f.Open(test::Fixture(rel).string(), platform::File::Mode::Read)) continue;
        if (rar::DetectFormat(f, 0) == rar::Format::Rar5) continue;
        if (rel.find("rar5") != std::string::npos) continue;
        // Encrypted samples belong to the decryption's tests.
        if (rel.find("psw") != std::string::npos || rel.find("Encrypted") != std::string::npos) continue;
        out.push_back(rel);
    }
    return out;
}

bool TooLargeHere(const test::ExpectedEntry& e) { return kSanitized && e.size && *e.size > (32u << 20); }

TEST(RarDecoders, EveryRar4FixtureMatchesThePeersDigests) {
    const auto fixtures = Rar4Fixtures();
    if (fixtures.empty()) GTEST_SKIP() << "fixtures absent";
    int compared = 0;
    for (const std::string& rel : fixtures) {
        std::set<std::string> want;
        for (const auto& e : test::ExtractedFiles(rel))
            if (!e.directory && !e.symlink && !TooLargeHere(e)) want.insert(e.entry);
        if (want.empty()) continue;
        const auto got = EngineDigests(test::Fixture(rel), want);
        for (const auto& e : test::ExtractedFiles(rel)) {
            if (!want.count(e.entry)) continue;
            auto it = got.find(e.entry);
            ASSERT_NE(it, got.end()) << rel << ": " << e.entry << " not listed";
            EXPECT_EQ(it->second, e.sha256) << rel << ": " << e.entry;
            ++compared;
        }
    }
    // The 1.5, 2.0, solid, multi-volume and RAR 3 samples together hold far more entries than this.
    EXPECT_GE(compared, 20);
}

TEST(RarDecoders, SameBytesAsUnar) {
    if (!test::HaveTool("unar")) GTEST_SKIP() << "unar absent";
    const auto fixtures = Rar4Fixtures();
    if (fixtures.empty()) GTEST_SKIP() << "fixtures absent";
    test::TempDir tmp;
    int compared = 0;
    for (const std::string& rel : fixtures) {
        if (rel.find("ppmd_lzss") != std::string::npos) continue;  // 241 MB: covered by the digests
        const fs::path dir = tmp.Path() / std::to_string(compared);
        fs::create_directories(dir);
        test::Run("unar -q -f -D -o " + test::Quote(dir) + " " + test::Quote(test::Fixture(rel)) + " >/dev/null 2>&1");
        const auto ours = EngineDigests(test::Fixture(rel));
        for (const auto& [name, digest] : ours) {
            const fs::path theirs = dir / name;
            if (!fs::is_regular_file(theirs) || fs::is_symlink(theirs)) continue;
            EXPECT_EQ(digest, test::Sha256OfFile(theirs)) << rel << ": " << name;
            ++compared;
        }
    }
    EXPECT_GE(compared, 20);
}

// The RAR 1.5 samples on their own, so that a change to the fixture selection above cannot drop them: every
// entry decodes (the engine checks each against the CRC its header holds) and gives the bytes of every peer
// that read it whole. unar stops in the comment samples' 7-byte FILE1.TXT, so only the CRC speaks for it.
TEST(RarDecoders, Rar15EntriesPassTheirCrcAndMatchThePeers) {
    int decoded = 0, compared = 0;
    for (const char* rel : {"rar/sharpcompress_Rar15.rar", "rar/rarfile_rar15-comment.rar",
                            "rar/rarfile_rar15-comment-lock.rar"}) {
        if (!fs::exists(test::Fixture(rel))) continue;
        const auto got = EngineDigests(test::Fixture(rel));
        for (const auto& [name, digest] : got) {
            EXPECT_EQ(digest.rfind("error", 0), std::string::npos) << rel << ": " << name << ": " << digest;
            ++decoded;
        }
        for (const auto& e : test::ExtractedFiles(rel)) {
            auto it = got.find(e.entry);
            ASSERT_NE(it, got.end()) << rel << ": " << e.entry << " not listed";
            EXPECT_EQ(it->second, e.sha256) << rel << ": " << e.entry;
            ++compared;
        }
    }
    if (!decoded) GTEST_SKIP() << "fixtures absent";
    EXPECT_GE(decoded, 7);
    EXPECT_GE(compared, 3);
}

// RAR 1.5's own cipher is not taken: an entry marked encrypted (the sample with the flag set and its header
// CRC made right again) is refused by name, with the password given, rather than decoded as plain data.
TEST(RarDecoders, Rar15EncryptedEntryIsRefusedAsTheOldCipher) {
    const fs::path p = test::Fixture("rar/sharpcompress_Rar15.rar");
    if (!fs::exists(p)) GTEST_SKIP() << "fixtures absent";
    std::vector<uint8_t> bytes = test::ReadFile(p);
    std::string marked;
    for (const Packed& e : PackedEntries(p)) {
        if (e.block.method == '0') continue;
        const size_t at = static_cast<size_t>(e.block.pos);
        ASSERT_LT(at + e.block.headerSize, bytes.size() + 1);
        bytes[at + 3] |= 0x04;
        const uint32_t crc = Crc32(bytes.data() + at + 2, static_cast<size_t>(e.block.headerSize) - 2);
        bytes[at] = static_cast<uint8_t>(crc);
        bytes[at + 1] = static_cast<uint8_t>(crc >> 8);
        marked = e.block.name;
        break;
    }
    ASSERT_FALSE(marked.empty());
    test::TempDir tmp;
    const std::string name = (tmp.Path() / "locked15.rar").string();
    test::WriteFile(name, bytes);
    RAROpenArchiveData d{};
    d.ArcName = const_cast<char*>(name.c_str());
    d.OpenMode = RAR_OM_EXTRACT;
    std::unique_ptr<unrar::Session> s(unrar::Session::Open(&d));
    ASSERT_TRUE(s) << d.OpenResult;
    s->SetChangeVolProc(OnVolume);
    s->SetPassword("secret");
    RARHeaderData h;
    bool seen = false;
    while (s->ReadHeader(&h) == RAR_OK) {
        if (h.FileName != marked) {
            s->Process(RAR_SKIP, nullptr, nullptr);
            continue;
        }
        seen = true;
        EXPECT_TRUE(h.Flags & RAR_FLAG_PASSWORD);
        EXPECT_EQ(s->Process(RAR_TEST, nullptr, nullptr), RAR_ERR_UNKNOWN_FORMAT);
        EXPECT_NE(s->ErrorText().find("RAR 1.5 cipher"), std::string::npos) << s->ErrorText();
    }
    EXPECT_TRUE(seen) << marked;
}

// Only the last entry of a solid archive wanted: the ones before are decoded silently, and the bytes are right.
TEST(RarDecoders, SolidEntryWantedAloneAfterSkippedOnes) {
    for (const char* rel : {"rar/rarfile_rar3-solid.rar", "rar/libarchive_rar_filter.rar"}) {
        const fs::path p = test::Fixture(rel);
        if (!fs::exists(p)) GTEST_SKIP() << "fixtures absent";
        const auto rows = test::ExtractedFiles(rel);
        ASSERT_FALSE(rows.empty());
        const test::ExpectedEntry& last = rows.back();
        const auto got = EngineDigests(p, {last.entry});
        ASSERT_EQ(got.size(), 1u) << rel;
        EXPECT_EQ(got.begin()->second, last.sha256) << rel << ": " << last.entry;
    }
}

// ---- The decoders on their own ----

// MSB-first bit writer for hand-made streams.
class BitWriter {
  public:
    void Put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) {
            if (bits_ % 8 == 0) bytes.push_back(0);
            if ((v >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (bits_ % 8));
            ++bits_;
        }
    }
    std::vector<uint8_t> bytes;

  private:
    size_t bits_ = 0;
};

// An LZ block header of RAR 2.9 whose 299 main codes all have 9 bits (symbol s is coded as s) and whose
// other tables are empty.
void PutNineBitTables(BitWriter& w) {
    w.Put(0, 1);  // LZ
    w.Put(0, 1);  // fresh lengths
    for (int i = 0; i < 20; ++i)
        w.Put(i == 9 || i == 19 ? 1 : 0, 4);  // level codes: 9 -> "0", 19 -> "1"
    for (int i = 0; i < 299; ++i)
        w.Put(0, 1);  // length 9
    w.Put(1, 1);
    w.Put(105 - 11, 7);  // 105 zero lengths
}

DecodeResult Run29(rar::Rar29Decoder& d, const std::vector<uint8_t>& in, uint64_t size, VectorSink& out,
                   bool solid = false) {
    MemorySource src(in.data(), in.size());
    return d.Decode(src, out, size, solid);
}

TEST(RarDecoders, Rar29ReadsItsOwnHandMadeLiterals) {
    BitWriter w;
    PutNineBitTables(w);
    for (char c : std::string("RAR"))
        w.Put(static_cast<uint8_t>(c), 9);
    w.Put(256, 9);  // end of block
    w.Put(0, 1);    // new file
    w.Put(0, 1);    // tables kept
    rar::Rar29Decoder d;
    VectorSink out;
    const DecodeResult r = Run29(d, w.bytes, 3, out);
    EXPECT_TRUE(r.Ok()) << d.Error();
    EXPECT_EQ(std::string(out.data.begin(), out.data.end()), "RAR");
}

TEST(RarDecoders, OverSubscribedLevelTableIsCorrupt) {
    BitWriter w;
    w.Put(0, 2);
    for (int i = 0; i < 20; ++i)
        w.Put(1, 4);  // twenty codes of one bit
    w.Put(0, 32);
    rar::Rar29Decoder d;
    VectorSink out;
    const DecodeResult r = Run29(d, w.bytes, 100, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_BadHuffmanCode);
    EXPECT_TRUE(out.data.empty());
}

TEST(RarDecoders, FilterWithUnknownVmCodeIsRefused) {
    BitWriter w;
    PutNineBitTables(w);
    w.Put('x', 9);
    w.Put(257, 9);
    // Filter record: new filter 0, block at 0 of 16 bytes, a 4-byte program whose bytes XOR to zero.
    BitWriter vm;
    vm.Put(0, 6);                     // number 0: the first filter
    vm.Put(0, 6);                     // block start 0
    vm.Put(1, 2), vm.Put(1, 4), vm.Put(0, 4);  // block size 16
    vm.Put(4, 6);                     // program of 4 bytes
    for (uint8_t b : {1, 2, 3, 0})
        vm.Put(b, 8);
    w.Put(0x80 | 0x20 | 7, 8);  // new number, block size, length in the next 16 bits
    w.Put(static_cast<uint32_t>(vm.bytes.size()), 16);
    for (uint8_t b : vm.bytes)
        w.Put(b, 8);
    for (int i = 0; i < 40; ++i)
        w.Put('y', 9);
    rar::Rar29Decoder d;
    VectorSink out;
    const DecodeResult r = Run29(d, w.bytes, 41, out);
    EXPECT_EQ(r.status, DecodeStatus::Corrupt);
    EXPECT_EQ(r.errorCode, E_UnsupportedMethod);
    EXPECT_NE(d.Error().find("unknown VM code"), std::string::npos) << d.Error();
}

TEST(RarDecoders, PpmdOfLargestOrderAndMemoryOnGarbageEndsCleanly) {
    // PPMd, restart, order 64, 256 MiB, then bytes no compressor wrote.
    std::vector<uint8_t> in = {0x80 | 0x20 | 0x1F, 0xFF};
    for (int i = 0; i < 4096; ++i)
        in.push_back(static_cast<uint8_t>(i * 131 + 7));
    rar::Rar29Decoder d;
    VectorSink out;
    const DecodeResult r = Run29(d, in, 1u << 20, out);
    EXPECT_FALSE(r.Ok());
    EXPECT_LT(out.data.size(), 1u << 20);
    // Order 1 is not a PPMd model RAR writes.
    rar::Rar29Decoder d1;
    VectorSink out1;
    const DecodeResult r1 = Run29(d1, {0x80 | 0x20, 0x00, 1, 2, 3, 4, 5, 6}, 10, out1);
    EXPECT_EQ(r1.status, DecodeStatus::Corrupt);
}

// Real packed data of the RAR 3 multi-block sample, and what it decodes to.
struct Sample29 {
    std::vector<uint8_t> packed;
    uint64_t size = 0;
    std::vector<uint8_t> plain;
};
Sample29 LoadSample29() {
    Sample29 s;
    const fs::path p = test::Fixture("rar/libarchive_rar_multi_lzss_blocks.rar");
    if (!fs::exists(p)) return s;
    auto entries = PackedEntries(p);
    if (entries.empty()) return s;
    s.packed = entries[0].bytes;
    s.size = entries[0].block.unpackedSize;
    rar::Rar29Decoder d;
    VectorSink out;
    if (Run29(d, s.packed, s.size, out).Ok()) s.plain = out.data;
    return s;
}

TEST(RarDecoders, CutPackedDataIsTruncatedWithOnlyRightBytes) {
    const Sample29 s = LoadSample29();
    if (s.plain.empty()) GTEST_SKIP() << "fixtures absent";
    for (size_t cut : {size_t{0}, size_t{3}, s.packed.size() / 3, s.packed.size() / 2}) {
        rar::Rar29Decoder d;
        VectorSink out;
        std::vector<uint8_t> part(s.packed.begin(), s.packed.begin() + static_cast<long>(cut));
        const DecodeResult r = Run29(d, part, s.size, out);
        EXPECT_FALSE(r.Ok()) << cut;
        ASSERT_LE(out.data.size(), s.plain.size());
        // What came out before the cut is what the whole stream gives (up to the last few bytes, which may
        // be decoded from the invented end).
        const size_t sure = out.data.size() > 512 ? out.data.size() - 512 : 0;
        EXPECT_TRUE(std::equal(out.data.begin(), out.data.begin() + static_cast<long>(sure), s.plain.begin())) << cut;
    }
}

TEST(RarDecoders, SizesThatLieNeverGiveMoreThanTheHeaderSays) {
    const Sample29 s = LoadSample29();
    if (s.plain.empty()) GTEST_SKIP() << "fixtures absent";
    {
        // The header claims less: exactly that much comes out, the right bytes.
        rar::Rar29Decoder d;
        VectorSink out;
        const uint64_t small = s.size / 3;
        const DecodeResult r = Run29(d, s.packed, small, out);
        EXPECT_TRUE(r.Ok()) << d.Error();
        ASSERT_EQ(out.data.size(), small);
        EXPECT_TRUE(std::equal(out.data.begin(), out.data.end(), s.plain.begin()));
    }
    {
        // The header claims more: the stream's end marker comes first and the entry fails.
        rar::Rar29Decoder d;
        VectorSink out;
        const DecodeResult r = Run29(d, s.packed, s.size + 1000, out);
        EXPECT_FALSE(r.Ok());
        EXPECT_LE(out.data.size(), s.size);
    }
}

TEST(RarDecoders, SolidEntryAfterAFailedOneIsRefused) {
    const Sample29 s = LoadSample29();
    if (s.plain.empty()) GTEST_SKIP() << "fixtures absent";
    rar::Rar29Decoder d;
    VectorSink out;
    std::vector<uint8_t> half(s.packed.begin(), s.packed.begin() + static_cast<long>(s.packed.size() / 2));
    EXPECT_FALSE(Run29(d, half, s.size, out).Ok());
    VectorSink out2;
    EXPECT_FALSE(Run29(d, s.packed, s.size, out2, /*solid=*/true).Ok());
    EXPECT_NE(d.Error().find("earlier entry"), std::string::npos);
    // A non-solid entry starts afresh.
    VectorSink out3;
    EXPECT_TRUE(Run29(d, s.packed, s.size, out3).Ok());
    EXPECT_EQ(out3.data, s.plain);
}

TEST(RarDecoders, DamagedStreamsOfEachVersionFailWithoutOverrun) {
    // Bit flips all over real streams of RAR 2.0 and 2.9 (filters and PPMd among them): any outcome but a
    // crash, a hang or more bytes than asked for.
    const std::pair<const char*, int> samples[] = {{"rar/libarchive_rar_filter.rar", 29},
                                                   {"rar/libarchive_rar_multi_lzss_blocks.rar", 29},
                                                   {"rar/sharpcompress_Rar2.rar", 20}};
    int runs = 0;
    for (const auto& [rel, version] : samples) {
        const fs::path p = test::Fixture(rel);
        if (!fs::exists(p)) continue;
        auto entries = PackedEntries(p);
        if (entries.empty()) continue;
        const Packed& e = entries[0];
        uint32_t seed = 12345;
        for (int round = 0; round < 40; ++round) {
            std::vector<uint8_t> bytes = e.bytes;
            for (int k = 0; k < 1 + round % 4; ++k) {
                seed = seed * 1103515245 + 12345;
                const size_t at = (seed >> 8) % bytes.size();
                bytes[at] ^= static_cast<uint8_t>(1u << (seed % 8));
            }
            VectorSink out;
            MemorySource src(bytes.data(), bytes.size());
            if (version == 29) {
                rar::Rar29Decoder d;
                d.Decode(src, out, e.block.unpackedSize, false);
            } else {
                rar::Rar20Decoder d;
                d.Decode(src, out, e.block.unpackedSize, false);
            }
            EXPECT_LE(out.data.size(), e.block.unpackedSize) << rel;
            ++runs;
        }
    }
    if (!runs) GTEST_SKIP() << "fixtures absent";
}

TEST(RarDecoders, CancelStopsTheDecoder) {
    const Sample29 s = LoadSample29();
    if (s.plain.empty()) GTEST_SKIP() << "fixtures absent";
    CancelFlag cancel{true};
    rar::Rar29Decoder d;
    VectorSink out;
    MemorySource src(s.packed.data(), s.packed.size());
    const DecodeResult r = d.Decode(src, out, s.size, false, &cancel);
    EXPECT_EQ(r.status, DecodeStatus::Cancelled);
}

// ---- RAR 1.5 on its own ----

DecodeResult Run15(rar::Rar15Decoder& d, const std::vector<uint8_t>& in, uint64_t size, VectorSink& out,
                   bool solid = false, const CancelFlag* cancel = nullptr) {
    MemorySource src(in.data(), in.size());
    return d.Decode(src, out, size, solid, cancel);
}

// Two hand-made entries of one solid stream. The first: a flags byte of eight "literal" bits (place 1 of the
// fresh flags list, code 00001) and the literal 'A' (place 0x41 of the fresh literal list, 8-bit code 229).
// The second starts new flags: place 1 of the list as the first entry left it holds 0x00, so a short match
// follows, of selector 0 (code 0: length 2) and place 0 of the near distances (code 00000: distance 1).
const std::vector<uint8_t> kSolidFirst = {0x0F, 0x28};  // 00001 11100101 pad
const std::vector<uint8_t> kSolidSecond = {0x08, 0x00};  // 00001 0 00000 pad

TEST(RarDecoders, Rar15SolidEntryContinuesTheWindowAndTheLists) {
    rar::Rar15Decoder d;
    VectorSink first, second;
    ASSERT_TRUE(Run15(d, kSolidFirst, 1, first).Ok()) << d.Error();
    EXPECT_EQ(std::string(first.data.begin(), first.data.end()), "A");
    const DecodeResult r = Run15(d, kSolidSecond, 2, second, /*solid=*/true);
    ASSERT_TRUE(r.Ok()) << d.Error();
    EXPECT_EQ(std::string(second.data.begin(), second.data.end()), "AA");
    // The same bytes as a fresh entry mean something else: its state is not the first entry's.
    rar::Rar15Decoder fresh;
    VectorSink alone;
    Run15(fresh, kSolidSecond, 2, alone);
    EXPECT_NE(std::string(alone.data.begin(), alone.data.end()), "AA");
    // And a non-solid entry on a used decoder starts afresh too.
    VectorSink again;
    Run15(d, kSolidSecond, 2, again, /*solid=*/false);
    EXPECT_EQ(again.data, alone.data);
}

// Real packed data of the RAR 1.5 sample's text entry, and what it decodes to.
struct Sample15 {
    std::vector<uint8_t> packed;
    uint64_t size = 0;
    std::vector<uint8_t> plain;
    std::string sha256;
};
Sample15 LoadSample15(const std::string& name = "TECT.TXT") {
    Sample15 s;
    const char* rel = "rar/sharpcompress_Rar15.rar";
    const fs::path p = test::Fixture(rel);
    if (!fs::exists(p)) return s;
    for (const Packed& e : PackedEntries(p)) {
        std::string n = e.block.name;
        std::replace(n.begin(), n.end(), '\\', '/');
        if (n != name || e.block.method == '0') continue;
        s.packed = e.bytes;
        s.size = e.block.unpackedSize;
    }
    for (const auto& e : test::ExtractedFiles(rel))
        if (e.entry == name) s.sha256 = e.sha256;
    if (s.packed.empty()) return s;
    rar::Rar15Decoder d;
    VectorSink out;
    if (Run15(d, s.packed, s.size, out).Ok()) s.plain = out.data;
    return s;
}

TEST(RarDecoders, Rar15DecoderOnItsOwnGivesThePeersBytes) {
    for (const char* name : {"TECT.TXT", "EXE/TEST.EXE", "JPG/TEST.JPG"}) {
        const Sample15 s = LoadSample15(name);
        if (s.packed.empty()) GTEST_SKIP() << "fixtures absent";
        ASSERT_EQ(s.plain.size(), s.size) << name;
        EXPECT_EQ(test::Sha256Hex(s.plain), s.sha256) << name;
    }
}

TEST(RarDecoders, Rar15CutPackedDataIsTruncatedWithOnlyRightBytes) {
    const Sample15 s = LoadSample15();
    if (s.plain.empty()) GTEST_SKIP() << "fixtures absent";
    for (size_t cut : {size_t{0}, size_t{1}, s.packed.size() / 3, s.packed.size() - 2}) {
        rar::Rar15Decoder d;
        VectorSink out;
        std::vector<uint8_t> part(s.packed.begin(), s.packed.begin() + static_cast<long>(cut));
        const DecodeResult r = Run15(d, part, s.size, out);
        EXPECT_EQ(r.status, DecodeStatus::Truncated) << cut << ": " << d.Error();
        ASSERT_LE(out.data.size(), s.plain.size()) << cut;
        const size_t sure = out.data.size() > 512 ? out.data.size() - 512 : 0;
        EXPECT_TRUE(std::equal(out.data.begin(), out.data.begin() + static_cast<long>(sure), s.plain.begin())) << cut;
    }
}

TEST(RarDecoders, Rar15SizesThatLieNeverGiveMoreThanTheHeaderSays) {
    const Sample15 s = LoadSample15();
    if (s.plain.empty()) GTEST_SKIP() << "fixtures absent";
    {
        rar::Rar15Decoder d;
        VectorSink out;
        const uint64_t small = s.size / 3;
        EXPECT_TRUE(Run15(d, s.packed, small, out).Ok()) << d.Error();
        ASSERT_EQ(out.data.size(), small);
        EXPECT_TRUE(std::equal(out.data.begin(), out.data.end(), s.plain.begin()));
    }
    {
        // No end marker: the stream runs dry (or turns to nonsense) before a size far past its own.
        rar::Rar15Decoder d;
        VectorSink out;
        const DecodeResult r = Run15(d, s.packed, s.size * 4, out);
        EXPECT_FALSE(r.Ok());
        EXPECT_LT(out.data.size(), s.size * 4);
        EXPECT_TRUE(std::equal(s.plain.begin(), s.plain.end() - 512, out.data.begin()));
    }
}

TEST(RarDecoders, Rar15SolidEntryAfterAFailedOneIsRefused) {
    const Sample15 s = LoadSample15();
    if (s.plain.empty()) GTEST_SKIP() << "fixtures absent";
    rar::Rar15Decoder d;
    VectorSink out;
    std::vector<uint8_t> half(s.packed.begin(), s.packed.begin() + static_cast<long>(s.packed.size() / 2));
    EXPECT_FALSE(Run15(d, half, s.size, out).Ok());
    VectorSink out2;
    EXPECT_FALSE(Run15(d, s.packed, s.size, out2, /*solid=*/true).Ok());
    EXPECT_NE(d.Error().find("earlier entry"), std::string::npos) << d.Error();
    VectorSink out3;
    EXPECT_TRUE(Run15(d, s.packed, s.size, out3).Ok()) << d.Error();
    EXPECT_EQ(out3.data, s.plain);
}

TEST(RarDecoders, Rar15DamagedStreamsFailWithoutOverrun) {
    int runs = 0;
    for (const char* name : {"TECT.TXT", "EXE/TEST.EXE"}) {
        const Sample15 s = LoadSample15(name);
        if (s.plain.empty()) continue;
        uint32_t seed = 777;
        int differing = 0;
        for (int round = 0; round < 60; ++round) {
            std::vector<uint8_t> bytes = s.packed;
            for (int k = 0; k < 1 + round % 4; ++k) {
                seed = seed * 1103515245 + 12345;
                bytes[(seed >> 8) % bytes.size()] ^= static_cast<uint8_t>(1u << (seed % 8));
            }
            rar::Rar15Decoder d;
            VectorSink out;
            const DecodeResult r = Run15(d, bytes, s.size, out);
            ASSERT_LE(out.data.size(), s.size) << name;
            if (!r.Ok() || out.data != s.plain) ++differing;
            ++runs;
        }
        // Without tables or a checksum in the stream, a flip mostly shows as different bytes, not as an error.
        EXPECT_GT(differing, 50) << name;
    }
    // Streams of nothing but one byte value: whatever the lists make of them, bounded output.
    for (uint8_t fill : {0x00, 0xFF, 0x55}) {
        rar::Rar15Decoder d;
        VectorSink out;
        Run15(d, std::vector<uint8_t>(4096, fill), 100000, out);
        EXPECT_LE(out.data.size(), 100000u);
    }
    if (!runs) GTEST_SKIP() << "fixtures absent";
}

TEST(RarDecoders, Rar15CancelStopsTheDecoder) {
    const Sample15 s = LoadSample15("EXE/TEST.EXE");
    if (s.plain.empty()) GTEST_SKIP() << "fixtures absent";
    CancelFlag cancel{true};
    rar::Rar15Decoder d;
    VectorSink out;
    const DecodeResult r = Run15(d, s.packed, s.size, out, false, &cancel);
    EXPECT_EQ(r.status, DecodeStatus::Cancelled);
    EXPECT_LT(out.data.size(), s.size);
}

}  // namespace
}  // namespace varnok
