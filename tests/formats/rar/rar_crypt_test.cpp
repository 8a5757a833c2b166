// RAR encryption and the RAR 5 decoder: the ciphers and key derivations against the encrypted samples (the
// peers' digests), encrypted headers read with the password and refused without it, our RAR 5 decoder on
// every RAR 5 sample, and the hazards of hostile records (a huge KDF count, cut encrypted blocks, a header
// whose decrypted length lies, damaged and truncated LZ streams, filters beyond the output, dictionaries beyond
// the cap). The RAR 5 filters are checked on streams made here against the encoder side of each transform;
// archives made here go through the extractor (solid entries wanted alone, wrong and missing passwords,
// BLAKE2sp checksums and their MAC form, RAR 3 passwords long enough to meet the old SHA-1's write-back).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <set>

#include "archive/core/crc.h"
#include "archive/core/engine_library.h"
#include "archive/core/errors.h"
#include "archive/core/crypto/aes.h"
#include "archive/core/crypto/aes_cbc.h"
#include "archive/core/crypto/sha256.h"
#include "archive/formats/rar/rar5_decoder.h"
#include "archive/formats/rar/rar_crypt.h"
#include "archive/formats/rar/rar_headers.h"
#include "archive/formats/rar/unrar.h"
#include "tests/formats/rar/rar_builder.h"
#include "tests/support/fixtures.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok::rar {
namespace {

namespace fs = std::filesystem;

// One file of an archive as the walk finds it, with its packed data gathered from every part.
struct WalkedFile {
    Block head;      // the first part's header
    Block last;      // the last part's header (the whole file's CRC)
    std::vector<uint8_t> packed;
};

struct Walked {
    std::vector<WalkedFile> files;
    bool headersEncrypted = false;
    bool ended = false;  // the walk reached the end of the last volume without a bad block
    HeaderCrypt crypt;
};

void WalkArchive(const std::vector<fs::path>& volumes, const std::string& password, Walked& w) {
    w.crypt.password = password;
    for (const fs::path& v : volumes) {
        platform::File f;
        ASSERT_TRUE(f.Open(v.string(), platform::File::Mode::Read));
        const Format fmt = DetectFormat(f, 0);
        ASSERT_NE(fmt, Format::None);
        w.crypt.active = false;
        uint64_t pos = fmt == Format::Rar4 ? kMarker4Size : kMarker5Size;
        for (int n = 0; n < 10000; ++n) {
            Block b;
            const ReadResult r = fmt == Format::Rar4 ? ReadBlock4(f, pos, f.Size(), b, &w.crypt)
                                                     : ReadBlock5(f, pos, f.Size(), b, &w.crypt);
            if (r == ReadResult::End) {
                w.ended = true;
                break;
            }
            if (r == ReadResult::Bad) return;
            if (b.headersEncrypted) w.headersEncrypted = true;
            if (b.headersEncrypted && !w.crypt.active) return;
            if (b.isFile) {
                std::vector<uint8_t> data(static_cast<size_t>(b.dataSize));
                EXPECT_EQ(f.ReadAt(b.nextPos - b.dataSize, data.data(), data.size()), data.size());
                if (b.splitBefore && !w.files.empty()) {
                    w.files.back().packed.insert(w.files.back().packed.end(), data.begin(), data.end());
                    w.files.back().last = b;
                } else {
                    w.files.push_back({b, b, std::move(data)});
                }
            }
            pos = b.nextPos;
        }
    }
}

// The decoded content of every RAR 5 file, decrypted with the password when encrypted; name -> digest.
std::map<std::string, std::string> DecodeRar5(const Walked& w, const std::string& password,
                                              std::vector<std::string>* errors = nullptr) {
    std::map<std::string, std::string> out;
    Rar5Decoder dec;
    for (const WalkedFile& wf : w.files) {
        if (wf.head.isDirectory) continue;
        MemorySource raw(wf.packed.data(), wf.packed.size());
        std::unique_ptr<DecryptingSource> dsrc;
        ByteSource* src = &raw;
        Rar5Keys keys;
        Rar5Crypt c;
        if (wf.head.encrypted) {
            EXPECT_TRUE(ParseRar5Crypt(wf.head.cryptRecord.data(), wf.head.cryptRecord.size(), true, c));
            if (DeriveRar5Keys(password, c, keys) != Rar5KdfResult::Ok) {
                if (errors) errors->push_back(wf.head.name + ": password");
                continue;
            }
            dsrc = DecryptingSource::Aes(raw, keys.key.data(), 32, c.iv.data());
            src = dsrc.get();
        }
        VectorSink sink;
        Rar5Decoder::Result r;
        if (wf.head.method == '0') {
            std::vector<uint8_t> stored(wf.packed.size());
            stored.resize(src->Read(stored.data(), stored.size()));
            if (stored.size() < wf.head.unpackedSize) r = {Rar5Decoder::Status::Truncated, "stored data cut"};
            sink.Write(stored.data(), static_cast<size_t>(std::min<uint64_t>(stored.size(), wf.head.unpackedSize)));
        } else {
            r = dec.Decode(*src, wf.packed.size(), wf.head.unpackedSize, wf.head.dictionarySize, wf.head.solid,
                           sink);
        }
        if (r.status != Rar5Decoder::Status::Ok) {
            if (errors) errors->push_back(wf.head.name + ": " + r.why);
            continue;
        }
        const std::vector<uint8_t>& data = sink.Data();
        uint32_t crc = Crc32(data.data(), data.size());
        if (wf.head.encrypted && c.useMac) crc = Rar5MacCrc(crc, keys.hashKey);
        if (wf.last.crc != 0 && crc != wf.last.crc) {
            if (errors) errors->push_back(wf.head.name + ": crc");
            continue;
        }
        out[wf.head.name] = test::Sha256Hex(data);
    }
    return out;
}

std::vector<fs::path> Volumes(const std::string& first) {
    std::vector<fs::path> v;
    const fs::path p = test::Fixture(first);
    if (p.empty()) return v;
    v.push_back(p);
    const std::string s = p.string();
    const size_t at = s.find(".part1.");
    if (at != std::string::npos)
        for (int k = 2; k < 10; ++k) {
            fs::path next = s.substr(0, at) + ".part" + std::to_string(k) + s.substr(at + 6);
            if (!fs::exists(next)) break;
            v.push_back(next);
        }
    return v;
}

void ExpectMatchesPeers(const std::string& archive, const std::string& password) {
    const auto vols = Volumes(archive);
    if (vols.empty()) GTEST_SKIP() << "fixtures absent";
    Walked w;
    WalkArchive(vols, password, w);
    std::vector<std::string> errors;
    const auto got = DecodeRar5(w, password, &errors);
    EXPECT_TRUE(errors.empty()) << archive << ": " << (errors.empty() ? "" : errors[0]);
    size_t compared = 0;
    for (const auto& row : test::ExpectedOf(archive)) {
        if (row.sha256.empty()) continue;
        ++compared;
        ASSERT_TRUE(got.count(row.entry)) << archive << ": " << row.entry;
        EXPECT_EQ(got.at(row.entry), row.sha256) << archive << ": " << row.entry;
    }
    EXPECT_GT(compared, 0u) << archive;
}

TEST(Rar5Decoder, SamplesDecodeByteForByte) {
    for (const char* a : {"rar/rarfile_rar5-solid.rar", "rar/rarfile_rar5-subdirs.rar",
                          "rar/vols5_rarfile/rar5-vols.part1.rar", "rar/ssokolow_testfile.rar5.rr.rar",
                          "rar/ssokolow_testfile.rar5.locked.rar"})
        ExpectMatchesPeers(a, "");
}

TEST(Rar5Crypt, EncryptedDataAndHeadersWithThePassword) {
    ExpectMatchesPeers("rar/rarfile_rar5-psw.rar", "password");
    ExpectMatchesPeers("rar/rarfile_rar5-hpsw.rar", "password");
}


// ---- The RAR 5 decoder on streams made here ----

using test::Rar5StreamWriter;

Rar5Decoder::Result DecodeBytes(Rar5Decoder& dec, const std::vector<uint8_t>& packed, uint64_t size,
                                std::vector<uint8_t>& out, bool solid = false, uint64_t dictionary = 1 << 22) {
    MemorySource src(packed.data(), packed.size());
    VectorSink sink;
    const auto r = dec.Decode(src, packed.size(), size, dictionary, solid, sink);
    out = sink.Data();
    return r;
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, int e8Percent = 0) {
    std::mt19937 g(seed);
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(static_cast<int>(g() % 100) < e8Percent ? (g() & 1 ? 0xE8 : 0xE9) : g());
    return v;
}

// The encoder side of each filter, from the format's definition: what the decoder's transform must undo.
constexpr int32_t kE8FileSize = 0x1000000;

std::vector<uint8_t> E8Encode(std::vector<uint8_t> d, uint32_t fileOffset, bool e9) {
    for (size_t pos = 0; pos + 4 < d.size();) {
        const uint8_t b = d[pos++];
        if (b != 0xE8 && !(e9 && b == 0xE9)) continue;
        const int32_t off = static_cast<int32_t>((pos + fileOffset) % kE8FileSize);
        int32_t rel;
        std::memcpy(&rel, &d[pos], 4);
        int32_t stored = rel;
        if (rel >= -off && rel < kE8FileSize - off)
            stored = rel + off;  // a target inside the file: its absolute address
        else if (rel >= kE8FileSize - off && rel < kE8FileSize)
            stored = rel - kE8FileSize;
        std::memcpy(&d[pos], &stored, 4);
        pos += 4;
    }
    return d;
}

std::vector<uint8_t> ArmEncode(std::vector<uint8_t> d, uint32_t fileOffset) {
    for (size_t i = 0; i + 3 < d.size(); i += 4) {
        if (d[i + 3] != 0xEB) continue;
        uint32_t target = d[i] | (uint32_t{d[i + 1]} << 8) | (uint32_t{d[i + 2]} << 16);
        target += static_cast<uint32_t>((fileOffset + i) / 4);
        d[i] = static_cast<uint8_t>(target);
        d[i + 1] = static_cast<uint8_t>(target >> 8);
        d[i + 2] = static_cast<uint8_t>(target >> 16);
    }
    return d;
}

// DELTA stores each channel's bytes one after the other as differences from the channel's previous byte.
std::vector<uint8_t> DeltaEncode(const std::vector<uint8_t>& d, int channels) {
    std::vector<uint8_t> out;
    for (int ch = 0; ch < channels; ++ch) {
        uint8_t prev = 0;
        for (size_t i = static_cast<size_t>(ch); i < d.size(); i += static_cast<size_t>(channels)) {
            out.push_back(static_cast<uint8_t>(prev - d[i]));
            prev = d[i];
        }
    }
    return out;
}

// A file of `plain` whose stretch [at, at + len) is filtered: the stream carries the encoded stretch.
std::vector<uint8_t> FilteredStream(const std::vector<uint8_t>& plain, size_t at, size_t len, int type,
                                    int channels = 1) {
    std::vector<uint8_t> stretch(plain.begin() + static_cast<ptrdiff_t>(at),
                                 plain.begin() + static_cast<ptrdiff_t>(at + len));
    switch (type) {
        case 0: stretch = DeltaEncode(stretch, channels); break;
        case 1: stretch = E8Encode(stretch, static_cast<uint32_t>(at), false); break;
        case 2: stretch = E8Encode(stretch, static_cast<uint32_t>(at), true); break;
        case 3: stretch = ArmEncode(stretch, static_cast<uint32_t>(at)); break;
    }
    Rar5StreamWriter w;
    w.Literals({plain.begin(), plain.begin() + static_cast<ptrdiff_t>(at)});
    w.Filter(0, static_cast<uint32_t>(len), type, channels);
    w.Literals(stretch);
    w.Literals({plain.begin() + static_cast<ptrdiff_t>(at + len), plain.end()});
    return w.Finish();
}

std::vector<uint8_t> X86Like(size_t n, uint32_t seed) {
    // Calls to targets before, inside and past the file, and far ones (both signs) left alone.
    std::mt19937 g(seed);
    std::vector<uint8_t> v = RandomBytes(n, seed, 6);
    for (size_t i = 0; i + 5 < n; ++i)
        if (v[i] == 0xE8 || v[i] == 0xE9) {
            const int32_t kinds[] = {static_cast<int32_t>(g() % 4096) - 2048, -static_cast<int32_t>(i) - 3,
                                     kE8FileSize - 5, -kE8FileSize - 7, 0x7FFFFFF0,
                                     static_cast<int32_t>(g() % kE8FileSize) - static_cast<int32_t>(i)};
            const int32_t rel = kinds[g() % 6];
            std::memcpy(&v[i + 1], &rel, 4);
            i += 4;
        }
    return v;
}

TEST(Rar5Filters, EachTransformUndoesItsEncoderSide) {
    struct Case {
        const char* name;
        int type, channels;
        std::vector<uint8_t> plain;
        size_t at, len;
    };
    std::vector<uint8_t> arm = RandomBytes(4096, 7);
    for (size_t i = 3; i < arm.size(); i += 8)
        arm[i] = 0xEB;  // every other word a BL instruction
    const std::vector<Case> cases = {
        {"delta 1", 0, 1, RandomBytes(3000, 1), 100, 2000},
        {"delta 3", 0, 3, RandomBytes(3001, 2), 0, 3001},
        {"delta 32", 0, 32, RandomBytes(5000, 3), 17, 4099},
        {"e8", 1, 1, X86Like(6000, 4), 333, 5000},
        {"e8e9", 2, 1, X86Like(6000, 5), 0, 6000},
        {"arm", 3, 1, arm, 40, 4000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rar5Decoder dec;
        std::vector<uint8_t> out;
        const auto r = DecodeBytes(dec, FilteredStream(c.plain, c.at, c.len, c.type, c.channels), c.plain.size(), out);
        ASSERT_EQ(r.status, Rar5Decoder::Status::Ok) << r.why;
        EXPECT_EQ(out, c.plain);
    }
}

TEST(Rar5Filters, OffsetsCountFromTheEntryNotTheSolidStream) {
    // The second entry of a solid pair: E8 and ARM addresses are relative to that entry's first byte.
    Rar5Decoder dec;
    std::vector<uint8_t> out;
    const auto first = RandomBytes(1000, 9);
    Rar5StreamWriter w;
    w.Literals(first);
    ASSERT_EQ(DecodeBytes(dec, w.Finish(), first.size(), out).status, Rar5Decoder::Status::Ok);
    const auto x86 = X86Like(3000, 10);
    ASSERT_EQ(DecodeBytes(dec, FilteredStream(x86, 200, 2500, 2), x86.size(), out, true).status,
              Rar5Decoder::Status::Ok);
    EXPECT_EQ(out, x86);
}

TEST(Rar5Filters, FiltersBeyondTheOutputChangeNothingAndEndWithTheirEntry) {
    const auto plain = RandomBytes(500, 11, 10);
    for (uint32_t start : {500u, 4000u, 0xFFFFFFu}) {
        SCOPED_TRACE(start);
        Rar5StreamWriter w;
        w.Filter(start, 1000, 1);  // E8 over bytes the entry never has
        w.Literals(plain);
        Rar5Decoder dec;
        std::vector<uint8_t> out;
        const auto r = DecodeBytes(dec, w.Finish(), plain.size(), out);
        ASSERT_EQ(r.status, Rar5Decoder::Status::Ok) << r.why;
        EXPECT_EQ(out, plain);
        // The next entry of the solid stream is not touched by the filter of the one before.
        Rar5StreamWriter next;
        next.Literals(plain);
        ASSERT_EQ(DecodeBytes(dec, next.Finish(), plain.size(), out, true).status, Rar5Decoder::Status::Ok);
        EXPECT_EQ(out, plain);
    }
}

TEST(Rar5Decoder, MatchesAcrossSolidEntries) {
    // Matches of every length class and far distances, into the previous entry's data.
    const auto a = RandomBytes(70000, 12);
    Rar5StreamWriter w1;
    w1.Literals(a);
    Rar5Decoder dec;
    std::vector<uint8_t> out;
    ASSERT_EQ(DecodeBytes(dec, w1.Finish(), a.size(), out).status, Rar5Decoder::Status::Ok);
    Rar5StreamWriter w2;
    std::vector<uint8_t> want;
    const std::vector<uint8_t> history = a;
    std::vector<uint8_t> all = a;
    auto match = [&](uint32_t len, uint64_t dist) {
        w2.Match(len, dist);
        for (uint32_t k = 0; k < len; ++k) {
            all.push_back(all[all.size() - dist]);
            want.push_back(all.back());
        }
    };
    match(2, 1);
    match(9, 300);
    match(40, 9000);
    match(300, 69000);
    match(4000, 5);
    match(1000, 0x2001);
    ASSERT_EQ(DecodeBytes(dec, w2.Finish(), want.size(), out, true).status, Rar5Decoder::Status::Ok);
    EXPECT_EQ(out, want);
}

TEST(Rar5Decoder, DamagedAndTruncatedStreamsAreToldApart) {
    Rar5StreamWriter w;
    w.Literals({'a', 'b', 'c'});
    w.Match(5, 4);  // reaches before the first byte
    std::vector<uint8_t> out;
    Rar5Decoder dec;
    EXPECT_EQ(DecodeBytes(dec, w.Finish(), 8, out).status, Rar5Decoder::Status::Damaged);
    EXPECT_LE(out.size(), 8u);
    // A later solid entry cannot go on from a failed one.
    Rar5StreamWriter ok;
    ok.Literals({'x'});
    EXPECT_EQ(DecodeBytes(dec, ok.Finish(), 1, out, true).status, Rar5Decoder::Status::Damaged);

    const auto plain = RandomBytes(2000, 13);
    Rar5StreamWriter full;
    full.Literals(plain);
    auto packed = full.Finish();
    for (size_t cut : {size_t{1}, size_t{3}, size_t{100}, packed.size() / 2, packed.size() - 1}) {
        std::vector<uint8_t> part(packed.begin(), packed.begin() + static_cast<ptrdiff_t>(cut));
        EXPECT_EQ(DecodeBytes(dec, part, plain.size(), out).status, Rar5Decoder::Status::Truncated) << cut;
    }
    // A block header whose checksum does not match.
    packed[1] ^= 0x40;
    EXPECT_EQ(DecodeBytes(dec, packed, plain.size(), out).status, Rar5Decoder::Status::Damaged);
}

TEST(Rar5Decoder, DictionaryBeyondTheCapIsRefusedBeforeAnyAllocation) {
    Rar5StreamWriter w;
    w.Literals({'a'});
    Rar5Decoder dec;
    std::vector<uint8_t> out;
    const auto r = DecodeBytes(dec, w.Finish(), 1, out, false, Rar5Decoder::kMaxDictionary * 2);
    EXPECT_EQ(r.status, Rar5Decoder::Status::Unsupported);
    EXPECT_TRUE(out.empty());
    // At the cap it decodes (the window grows with the output, not with the claim).
    EXPECT_EQ(DecodeBytes(dec, w.Finish(), 1, out, false, Rar5Decoder::kMaxDictionary).status,
              Rar5Decoder::Status::Ok);
}

// ---- Hostile encryption records and encrypted blocks ----

TEST(Rar5Crypt, HugeKdfCountIsRefusedWithoutRunningIt) {
    for (uint8_t log2 : {uint8_t{25}, uint8_t{60}, uint8_t{255}}) {
        std::vector<uint8_t> rec;
        test::PutVint(rec, 0);
        test::PutVint(rec, 0);
        rec.push_back(log2);
        rec.resize(rec.size() + 32, 0x11);
        Rar5Crypt c;
        ASSERT_TRUE(ParseRar5Crypt(rec.data(), rec.size(), true, c));
        Rar5Keys keys;
        // Run, 2^60 rounds would never end: the test would time out.
        EXPECT_EQ(DeriveRar5Keys("password", c, keys), Rar5KdfResult::Unsupported) << int{log2};
    }
}

TEST(Rar5Crypt, CutEncryptedBlocksEndAtTheLastWholeBlock) {
    std::vector<uint8_t> key(32, 7), iv(16, 9);
    const auto plain = RandomBytes(64, 14);
    const auto enc = test::AesCbcEncrypt(plain, key.data(), 32, iv.data());
    for (size_t n : {size_t{0}, size_t{5}, size_t{16}, size_t{37}, size_t{63}}) {
        MemorySource raw(enc.data(), n);
        auto dec = DecryptingSource::Aes(raw, key.data(), 32, iv.data());
        std::vector<uint8_t> got(100);
        size_t total = 0;
        while (size_t k = dec->Read(got.data() + total, got.size() - total))
            total += k;
        EXPECT_EQ(total, n / 16 * 16) << n;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + static_cast<ptrdiff_t>(total), plain.begin()));
    }
}

TEST(Rar5Crypt, EncryptedHeaderWhoseLengthLiesIsBad) {
    test::TempDir tmp;
    // 0: the truth, which the walk reads through to the file.
    for (uint64_t lie : {uint64_t{0}, uint64_t{4000}, uint64_t{1} << 40, uint64_t{3}}) {
        SCOPED_TRACE(lie);
        test::Rar5File f{.name = "a.txt", .packed = {'h', 'i'}, .data = {'h', 'i'}};
        f.headerSizeLie = lie;
        test::Rar5Options o{.password = "pw", .encryptHeaders = true};
        const auto path = tmp / "lie.rar";
        test::WriteFile(path, test::MakeRar5({f}, o));
        platform::File file;
        ASSERT_TRUE(file.Open(path.string(), platform::File::Mode::Read));
        HeaderCrypt crypt;
        crypt.password = "pw";
        uint64_t pos = kMarker5Size;
        bool sawFile = false, bad = false;
        for (int n = 0; n < 10 && !bad; ++n) {
            Block b;
            const ReadResult r = ReadBlock5(file, pos, file.Size(), b, &crypt);
            if (r == ReadResult::Bad) bad = true;
            if (r != ReadResult::Ok) break;
            sawFile |= b.isFile;
            pos = b.nextPos;
        }
        EXPECT_EQ(bad, lie != 0);
        EXPECT_EQ(sawFile, lie == 0);
    }
}

// ---- Through the extractor ----

namespace fs = std::filesystem;

std::set<std::string> FilesBelow(const fs::path& d) {
    std::set<std::string> s;
    if (!fs::exists(d)) return s;
    for (auto& e : fs::recursive_directory_iterator(d))
        if (e.is_regular_file()) s.insert(fs::relative(e.path(), d).string());
    return s;
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Outcome {
    int result = 0;
    std::map<std::string, int> failed;  // stored name -> code
    std::vector<int> errors;
    std::vector<std::string> messages;
    bool raised = false;
    bool specsCleared = false;
};

Outcome Extract(const fs::path& archive, const fs::path& dest, std::optional<std::string> password,
            std::vector<std::string> specs = {"*.*"}) {
    TUnRar u;
    Outcome r;
    u.SetArchiveFile(archive.string());
    u.ExtractDir = dest.string();
    u.FileSpec = specs;
    u.ConfirmOverwrites = false;
    u.OnError = [&](TZipCommon&, const std::string&, const std::string& msg, const std::string&, int code) {
        r.errors.push_back(code);
        r.messages.push_back(msg);
    };
    u.OnEntryFailed = [&](TZipCommon&, const std::string& name, const std::string&, int code,
                          const std::string&) { r.failed[name] = code; };
    if (password)
        u.OnGetPassword = [&, pw = *password, asked = false](TZipCommon&, const std::string&, std::string& out,
                                                             bool& again) mutable {
            out = asked ? "" : pw;
            again = !asked;
            asked = true;
        };
    try {
        r.result = u.ExtractArchive();
    } catch (const ArchiveError&) {
        r.raised = true;
    }
    r.specsCleared = u.FileSpec.empty();
    return r;
}

bool Has(const std::vector<int>& v, int code) {
    return std::find(v.begin(), v.end(), code) != v.end();
}

// Builds without the engine library (no libarchive) have no folder to give: those tests skip.
#ifndef VARNOK_ENGINE_DIR
#define VARNOK_ENGINE_DIR ""
#endif

class RarExtract : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { EngineLibrary::SetFolder(VARNOK_ENGINE_DIR); }
    void SetUp() override {
        if (!TUnRar::LibraryAvailable()) GTEST_SKIP() << "the RAR engine library is not built";
    }
    test::TempDir tmp_;
};

test::Rar5File Compressed(const std::string& name, const std::vector<uint8_t>& data, bool solid = false) {
    Rar5StreamWriter w;
    w.Literals(data);
    return {.name = name, .packed = w.Finish(), .data = data, .method = 3, .dictionaryLog = 2, .solid = solid};
}

TEST_F(RarExtract, LastFileOfSolidRar5AloneComesOutByteForByte) {
    const auto a = RandomBytes(5000, 20), b = RandomBytes(3000, 21);
    // c repeats stretches of a and b: wrong unless both were decoded before it.
    Rar5StreamWriter wc;
    std::vector<uint8_t> c;
    std::vector<uint8_t> history = a;
    history.insert(history.end(), b.begin(), b.end());
    wc.Match(200, 8000);  // a[0..200)
    c.insert(c.end(), a.begin(), a.begin() + 200);
    wc.Match(300, 3200);  // from 3200 back: b[0..300) sits 3000 + 200 back
    c.insert(c.end(), b.begin(), b.begin() + 300);
    test::Rar5File fc{.name = "c.bin", .packed = wc.Finish(), .data = c, .method = 3, .dictionaryLog = 2,
                      .solid = true};
    const auto arc = tmp_ / "solid.rar";
    test::WriteFile(arc, test::MakeRar5({Compressed("a.bin", a), Compressed("b.bin", b, true), fc},
                                        {.solidArchive = true}));
    const Outcome r = Extract(arc, tmp_ / "out", std::nullopt, {"c.bin"});
    EXPECT_TRUE(r.failed.empty());
    EXPECT_EQ(FilesBelow(tmp_ / "out"), std::set<std::string>{"c.bin"});
    EXPECT_EQ(ReadAll(tmp_ / "out" / "c.bin"), c);
}

TEST_F(RarExtract, DamagedRar5StreamFailsTheEntryAndLeavesNoFile) {
    Rar5StreamWriter w;
    w.Literals({'a', 'b'});
    w.Match(10, 50);
    const std::vector<uint8_t> claimed(12, 'a');
    const auto arc = tmp_ / "damaged.rar";
    test::WriteFile(arc, test::MakeRar5({{.name = "bad.bin", .packed = w.Finish(), .data = claimed, .method = 3},
                                         Compressed("good.bin", RandomBytes(100, 22))}));
    const Outcome r = Extract(arc, tmp_ / "out", std::nullopt);
    ASSERT_EQ(r.failed.count("bad.bin"), 1u);
    EXPECT_NE(r.failed.at("bad.bin"), E_InvalidPassword);
    EXPECT_EQ(FilesBelow(tmp_ / "out"), std::set<std::string>{"good.bin"});
}

TEST_F(RarExtract, DictionaryBeyondTheCapFailsTheEntryOnly) {
    auto big = Compressed("big.bin", RandomBytes(100, 23));
    big.dictionaryLog = 15;  // 4 GiB
    const auto arc = tmp_ / "dict.rar";
    test::WriteFile(arc, test::MakeRar5({big, Compressed("small.bin", RandomBytes(100, 24))}));
    const Outcome r = Extract(arc, tmp_ / "out", std::nullopt);
    EXPECT_EQ(r.failed.count("big.bin"), 1u);
    EXPECT_EQ(FilesBelow(tmp_ / "out"), std::set<std::string>{"small.bin"});
}

TEST_F(RarExtract, HugeKdfCountFailsTheEntryOrTheWalkAtOnce) {
    const auto data = RandomBytes(50, 28);
    for (bool headers : {false, true}) {
        SCOPED_TRACE(headers);
        const auto arc = tmp_ / (headers ? "kdfh.rar" : "kdf.rar");
        test::WriteFile(arc, test::MakeRar5({{.name = "k.bin", .packed = data, .data = data}},
                                            {.password = "pw", .encryptHeaders = headers, .kdfLog2 = 60}));
        const auto out = tmp_ / (headers ? "outh" : "out");
        const Outcome r = Extract(arc, out, "pw");
        EXPECT_TRUE(r.raised || !r.errors.empty() || r.failed.count("k.bin"));
        EXPECT_TRUE(FilesBelow(out).empty());
    }
}

TEST_F(RarExtract, CutEncryptedRar5DataFailsTheEntry) {
    const auto data = RandomBytes(100, 25);
    for (size_t cut : {0, 7, 16, 112}) {  // of 112 encrypted bytes
        SCOPED_TRACE(cut);
        test::Rar5File f{.name = "cut.bin", .packed = data, .data = data};
        f.cutPacked = cut;
        const auto arc = tmp_ / ("cut" + std::to_string(cut) + ".rar");
        test::WriteFile(arc, test::MakeRar5({f}, {.password = "pw"}));
        const auto out = tmp_ / ("out" + std::to_string(cut));
        const Outcome r = Extract(arc, out, "pw");
        EXPECT_EQ(r.failed.count("cut.bin"), cut ? 1u : 0u);
        EXPECT_EQ(FilesBelow(out).size(), cut ? 0u : 1u);
    }
}

TEST_F(RarExtract, Blake2spChecksumsDecideLikeCrc) {
    const auto data = RandomBytes(3000, 26);
    for (const std::string pw : {"", "secret"}) {
        SCOPED_TRACE(pw);
        test::Rar5File good = Compressed("good.bin", data);
        good.blake2 = true;
        test::Rar5File bad = good;
        bad.name = "bad.bin";
        bad.badChecksum = true;
        test::Rar5File stored{.name = "stored.bin", .packed = data, .data = data, .blake2 = true};
        const auto arc = tmp_ / ("b2" + pw + ".rar");
        test::WriteFile(arc, test::MakeRar5({good, bad, stored}, {.password = pw}));
        const auto out = tmp_ / ("out" + pw);
        const Outcome r = Extract(arc, out, pw.empty() ? std::nullopt : std::optional<std::string>(pw));
        EXPECT_EQ(FilesBelow(out), (std::set<std::string>{"good.bin", "stored.bin"}));
        EXPECT_EQ(ReadAll(out / "good.bin"), data);
        ASSERT_EQ(r.failed.count("bad.bin"), 1u);
    }
    // The MAC form: a plain digest in an entry whose record says its checksums are MACs does not pass.
    test::Rar5File plainDigest = Compressed("mac.bin", data);
    plainDigest.blake2 = true;
    const auto arc = tmp_ / "nomac.rar";
    test::WriteFile(arc, test::MakeRar5({plainDigest}, {.password = "secret", .plainChecksumsUnderMac = true}));
    const Outcome r = Extract(arc, tmp_ / "outmac", std::string("secret"));
    EXPECT_EQ(r.failed.count("mac.bin"), 1u);
    EXPECT_TRUE(FilesBelow(tmp_ / "outmac").empty());
}

TEST_F(RarExtract, MissingPasswordWithoutOnGetPasswordEndsTheRun) {
    const auto data = RandomBytes(300, 27);
    const auto rar5 = tmp_ / "p5.rar";
    test::WriteFile(rar5, test::MakeRar5({{.name = "x.bin", .packed = data, .data = data},
                                          {.name = "y.bin", .packed = data, .data = data}},
                                         {.password = "pw"}));
    for (const fs::path& arc : {rar5}) {
        SCOPED_TRACE(arc.filename().string());
        const auto out = tmp_ / (arc.stem().string() + ".out");
        const Outcome r = Extract(arc, out, std::nullopt);
        // Reported once, as "Invalid password", for the first entry: the run does not go on to the second.
        EXPECT_EQ(std::count(r.errors.begin(), r.errors.end(), E_InvalidPassword), 1);
        EXPECT_EQ(ErrorText(E_InvalidPassword), "Invalid password");
        EXPECT_TRUE(r.specsCleared);
        EXPECT_TRUE(FilesBelow(out).empty());
    }
}

// unrar_test checks the other encrypted samples through the extractor (every sample against the peers' digests,
// and the encrypted-header ones with the password asked for). This one has no digests on record, and neither
// unar nor Debian's 7z decodes it: each entry's CRC (checked by the engine), the sizes 7z lists and the files'
// own signatures stand for them.
TEST_F(RarExtract, EncryptedSampleOfAnotherWriterPassesItsCrcs) {
    const fs::path p = test::Fixture("rar/sharpcompress_Rar.Encrypted.rar");
    if (p.empty() || !fs::exists(p)) GTEST_SKIP() << "fixtures absent";
    const auto out = tmp_ / "ours";
    const Outcome r = Extract(p, out, std::string("test"));
    EXPECT_TRUE(r.failed.empty()) << (r.failed.empty() ? "" : r.failed.begin()->first);
    EXPECT_TRUE(r.errors.empty());
    const std::map<std::string, uintmax_t> sizes = {
        {"jpg/test.jpg", 40372}, {"exe/test.exe", 45056}, {"\xd1\x82\xd0\xb5\xd1\x81\xd1\x82.txt", 15498}};
    for (const auto& [name, size] : sizes) {
        ASSERT_TRUE(fs::exists(out / name)) << name;
        EXPECT_EQ(fs::file_size(out / name), size) << name;
    }
    const auto jpg = ReadAll(out / "jpg/test.jpg"), exe = ReadAll(out / "exe/test.exe");
    EXPECT_TRUE(jpg.size() > 2 && jpg[0] == 0xFF && jpg[1] == 0xD8);
    EXPECT_TRUE(exe.size() > 2 && exe[0] == 'M' && exe[1] == 'Z');
    // And nothing without the password.
    const Outcome none = Extract(p, tmp_ / "none", std::string("wrong"));
    EXPECT_TRUE(FilesBelow(tmp_ / "none").empty());
}

// ---- RAR 3 encryption, keys derived here ----

// SHA-1 the way RAR 3 ran it: a 64-byte block that lies wholly inside the caller's buffer is transformed where
// it lies, and the transform works on the block itself, leaving its last 16 schedule words there (in the
// machine's little-endian order). The first block of a call goes through the context's own buffer.
class Rar3Sha1 {
  public:
    void Process(uint8_t* data, size_t len) {
        size_t j = static_cast<size_t>(count_ % 64), i = 0;
        count_ += len;
        if (j + len > 63) {
            i = 64 - j;
            std::memcpy(buffer_ + j, data, i);
            Transform(buffer_);
            for (; i + 63 < len; i += 64)
                Transform(data + i);
            j = 0;
        }
        std::memcpy(buffer_ + j, data + i, len - i);
    }
    std::array<uint8_t, 20> Digest() const {
        Rar3Sha1 c = *this;
        uint8_t pad[72] = {0x80};
        const uint64_t bits = count_ * 8;
        const size_t padLen = (count_ % 64 < 56 ? 56 : 120) - static_cast<size_t>(count_ % 64);
        for (int k = 0; k < 8; ++k)
            pad[padLen + static_cast<size_t>(k)] = static_cast<uint8_t>(bits >> (56 - 8 * k));
        c.Process(pad, padLen + 8);
        std::array<uint8_t, 20> d{};
        for (int k = 0; k < 20; ++k)
            d[static_cast<size_t>(k)] = static_cast<uint8_t>(c.h_[k / 4] >> (24 - 8 * (k % 4)));
        return d;
    }

  private:
    static uint32_t Rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }
    void Transform(uint8_t* p) {
        uint32_t l[16];
        for (int k = 0; k < 16; ++k)
            l[k] = uint32_t{p[4 * k]} << 24 | uint32_t{p[4 * k + 1]} << 16 | uint32_t{p[4 * k + 2]} << 8 | p[4 * k + 3];
        uint32_t a = h_[0], b = h_[1], c = h_[2], d = h_[3], e = h_[4];
        for (int t = 0; t < 80; ++t) {
            if (t >= 16) l[t & 15] = Rol(l[(t + 13) & 15] ^ l[(t + 8) & 15] ^ l[(t + 2) & 15] ^ l[t & 15], 1);
            const uint32_t f = t < 20 ? ((b & (c ^ d)) ^ d) + 0x5A827999u
                               : t < 40 ? (b ^ c ^ d) + 0x6ED9EBA1u
                               : t < 60 ? (((b | c) & d) | (b & c)) + 0x8F1BBCDCu
                                        : (b ^ c ^ d) + 0xCA62C1D6u;
            const uint32_t tmp = Rol(a, 5) + f + e + l[t & 15];
            e = d;
            d = c;
            c = Rol(b, 30);
            b = a;
            a = tmp;
        }
        h_[0] += a, h_[1] += b, h_[2] += c, h_[3] += d, h_[4] += e;
        for (int k = 0; k < 16; ++k)
            for (int q = 0; q < 4; ++q)
                p[4 * k + q] = static_cast<uint8_t>(l[k] >> (8 * q));
    }
    uint32_t h_[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    uint8_t buffer_[64] = {};
    uint64_t count_ = 0;
};

// RAR 3's key and IV: 2^18 rounds over the UTF-16LE password (ASCII here), the salt and a 3-byte counter.
test::RarFile::Aes Rar3Keys(const std::string& password, const std::array<uint8_t, 8>& salt) {
    std::vector<uint8_t> raw;
    for (char ch : password) {
        raw.push_back(static_cast<uint8_t>(ch));
        raw.push_back(0);
    }
    raw.insert(raw.end(), salt.begin(), salt.end());
    Rar3Sha1 h;
    test::RarFile::Aes k;
    k.salt = salt;
    for (uint32_t i = 0; i < (1u << 18); ++i) {
        h.Process(raw.data(), raw.size());
        uint8_t n[3] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i >> 16)};
        h.Process(n, 3);
        if (i % (1u << 14) == 0) k.iv[i >> 14] = h.Digest()[19];
    }
    const auto d = h.Digest();
    for (int w = 0; w < 4; ++w)
        for (int b = 0; b < 4; ++b)
            k.key[static_cast<size_t>(4 * w + b)] = d[static_cast<size_t>(4 * w + 3 - b)];
    return k;
}

std::string LongPassword(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>('a' + (i * 7) % 26);
    return s;
}

// From 29 characters on (with the 8-byte salt) some round's call holds a whole block of its own, which the old
// SHA-1 rewrote; 28 never does. 127 is the longest RAR 3 takes. Each key costs 2^18 SHA-1 rounds: two lengths.
TEST_F(RarExtract, Rar3PasswordsLongEnoughForTheOldSha1WriteBack) {
    const std::string text = "The quick brown fox jumps over the lazy dog, 0123456789 times over.";
    for (size_t len : {size_t{29}, size_t{127}}) {
        SCOPED_TRACE(len);
        const std::string pw = LongPassword(len);
        const std::array<uint8_t, 8> salt = {1, 2, 3, 4, 5, 6, 7, static_cast<uint8_t>(len)};
        test::RarFile f{"long.txt", text};
        f.aes = Rar3Keys(pw, salt);
        const auto arc = tmp_ / ("long" + std::to_string(len) + ".rar");
        test::WriteFile(arc, test::MakeRar4({f}));
        const auto out = tmp_ / ("out" + std::to_string(len));
        const Outcome r = Extract(arc, out, pw);
        EXPECT_TRUE(r.failed.empty());
        const auto got = ReadAll(out / "long.txt");
        EXPECT_EQ(std::string(got.begin(), got.end()), text);
        if (test::HaveTool("7z")) {
            // The peer reads the archive made here with the same password.
            std::string listing;
            test::Run("7z x -so -p" + pw + " " + test::Quote(arc) + " 2>/dev/null", &listing);
            EXPECT_EQ(listing, text) << "7z";
        }
    }
}

TEST_F(RarExtract, Rar3WrongPasswordIsToldByTheCrcAndLeavesNoFile) {
    const std::array<uint8_t, 8> salt = {9, 8, 7, 6, 5, 4, 3, 2};
    test::RarFile f{"secret.txt", std::string(1000, 'z')};
    f.aes = Rar3Keys("right", salt);
    const auto arc = tmp_ / "wrong3.rar";
    test::WriteFile(arc, test::MakeRar4({f}));
    const Outcome r = Extract(arc, tmp_ / "out", std::string("wrong"));
    ASSERT_EQ(r.failed.count("secret.txt"), 1u);
    EXPECT_EQ(r.failed.at("secret.txt"), E_InvalidPassword);
    EXPECT_TRUE(FilesBelow(tmp_ / "out").empty());
    // Without OnGetPassword the run ends at once with "Invalid password" and the file list cleared.
    const Outcome none = Extract(arc, tmp_ / "none", std::nullopt);
    EXPECT_TRUE(Has(none.errors, E_InvalidPassword));
    EXPECT_TRUE(none.specsCleared);
    EXPECT_TRUE(FilesBelow(tmp_ / "none").empty());
}

}  // namespace
}  // namespace varnok::rar
