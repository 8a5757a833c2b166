// RAR encryption and the RAR 5 decoder: the ciphers and key derivations against the encrypted samples (the
// peers' digests), encrypted headers read with the password and refused without it, our RAR 5 decoder on
// every RAR 5 sample, and the hazards of hostile records (a huge KDF count, cut encrypted blocks, a header
// whose decrypted length lies, damaged and truncated LZ streams).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <map>

#include "archive/core/crc.h"
#include "archive/core/crypto/aes.h"
#include "archive/core/crypto/aes_cbc.h"
#include "archive/core/crypto/sha256.h"
#include "archive/formats/rar/rar5_decoder.h"
#include "archive/formats/rar/rar_crypt.h"
#include "archive/formats/rar/rar_headers.h"
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

}  // namespace
}  // namespace varnok::rar
