// The ACE samples of the shared fixtures through the header reader and the decoder alone: every file of every
// single-volume sample (solid ones in order, the encrypted one with its password) against the CRC it stores and
// the digest the peers recorded. Volume sets are the engine's (tests/engines/unace_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>

#include "archive/core/crc.h"
#include "archive/formats/ace/ace_crypt.h"
#include "archive/formats/ace/ace_decoder.h"
#include "archive/formats/ace/ace_headers.h"
#include "platform/file.h"
#include "tests/support/fixtures.h"
#include "tests/support/sha256.h"
#include "tests/support/test_support.h"

namespace varnok::test::ace {
namespace {

class FileRange final : public ByteSource {
  public:
    FileRange(const platform::File& f, uint64_t pos) : f_(f), pos_(pos) {}
    size_t Read(uint8_t* buf, size_t n) override {
        const size_t k = f_.ReadAt(pos_, buf, n);
        pos_ += k;
        return k;
    }

  private:
    const platform::File& f_;
    uint64_t pos_;
};

TEST(AceFixtures, EveryFileMatchesItsCrcAndThePeersDigest) {
    if (FixturesDir().empty()) GTEST_SKIP() << "fixtures not available";
    const auto archives = FixturesOfFormat("ace");
    if (archives.empty()) GTEST_SKIP() << "no ACE fixtures";
    int compared = 0;
    for (const std::string& rel : archives) {
        const auto rows = ExpectedOf(rel);
        platform::File f;
        ASSERT_TRUE(f.Open(Fixture(rel).string(), platform::File::Mode::Read)) << rel;
        const uint64_t size = f.Size();
        varnok::ace::Block main;
        ASSERT_EQ(varnok::ace::ReadBlock(f, 0, size, main), varnok::ace::ReadResult::Ok) << rel;
        if (main.flags & varnok::ace::fMainMultiVolume) continue;
        const std::string password = PasswordOf(rows);
        varnok::ace::Decoder decoder;
        uint64_t pos = main.nextPos;
        for (;;) {
            varnok::ace::Block b;
            const auto r = varnok::ace::ReadBlock(f, pos, size, b);
            if (r == varnok::ace::ReadResult::End) break;
            ASSERT_EQ(r, varnok::ace::ReadResult::Ok) << rel << " at " << pos;
            ASSERT_TRUE(b.crcOk) << rel;
            pos = b.nextPos;
            if (!b.IsFile() || (b.attributes & 0x10)) continue;
            varnok::ace::FileParams p;
            p.type = b.compressionType;
            p.parameters = b.parameters;
            p.packedSize = b.addSize;
            p.unpackedSize = b.unpackedSize;
            p.solid = b.flags & varnok::ace::fSolid;
            FileRange raw(f, b.nextPos - b.addSize);
            VectorSink out;
            DecodeResult res;
            if (b.flags & varnok::ace::fPassword) {
                varnok::ace::DecryptingSource plain(raw, password);
                res = decoder.Decode(p, plain, out, nullptr);
            } else {
                res = decoder.Decode(p, raw, out, nullptr);
            }
            ASSERT_TRUE(res.Ok()) << rel << ": " << b.name << " error " << res.errorCode;
            EXPECT_EQ(UpdateCrc32(0xFFFFFFFFu, out.Data().data(), out.Data().size()), b.crc) << rel << ": " << b.name;
            std::string name = b.name;
            std::replace(name.begin(), name.end(), '\\', '/');
            const auto row = std::find_if(rows.begin(), rows.end(), [&](const ExpectedEntry& e) { return e.entry == name; });
            if (row == rows.end() || !row->HasDigest()) continue;
            EXPECT_EQ(Sha256Hex(out.Data()), row->sha256) << rel << ": " << name;
            ++compared;
        }
    }
    EXPECT_GT(compared, 20);
}

}  // namespace
}  // namespace varnok::test::ace
