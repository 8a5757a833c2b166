// The ACE header reader as the engine and the lister use it: the archive comment in each of the layouts writers
// used, packed comments, and headers that lie about their sizes.
#include <gtest/gtest.h>

#include "archive/core/bytes.h"
#include "archive/formats/ace/ace_comment.h"
#include "archive/formats/ace/ace_headers.h"
#include "platform/file.h"
#include "tests/formats/ace/ace_test_data.h"
#include "tests/formats/ace/ace_test_writer.h"
#include "tests/support/test_support.h"

namespace varnok::test::ace {
namespace {

varnok::ace::Block ReadAt(const std::vector<uint8_t>& bytes, uint64_t pos, varnok::ace::ReadResult* r = nullptr) {
    TempDir dir;
    WriteFile(dir / "a.ace", bytes);
    platform::File f;
    EXPECT_TRUE(f.Open((dir / "a.ace").string(), platform::File::Mode::Read));
    varnok::ace::Block b;
    const auto res = varnok::ace::ReadBlock(f, pos, f.Size(), b);
    if (r) *r = res;
    return b;
}

TEST(AceHeaders, ArchiveCommentIsFoundInEveryLayout) {
    const std::string text = "The archive's comment, in three layouts.";
    struct Case {
        std::string advert;
        bool lengthAlways;
    } cases[] = {{"*UNREGISTERED VERSION*", false}, {"", true}, {"", false}};
    for (const Case& c : cases) {
        ArchiveOptions o;
        o.advert = c.advert;
        o.advertLengthAlways = c.lengthAlways;
        o.comment = PackComment(text);
        const auto vols = BuildArchive({}, o);
        const auto main = ReadAt(vols[0], 0);
        ASSERT_TRUE(main.crcOk);
        EXPECT_EQ(main.advert, c.advert);
        std::string got;
        ASSERT_TRUE(varnok::ace::DecodeComment(main.comment, got)) << c.advert << c.lengthAlways;
        EXPECT_EQ(got, text);
    }
}

TEST(AceHeaders, PackedCommentsUnpackAndDamageIsReported) {
    const std::string text(5000, 'c');
    const auto packed = PackComment(text + "end");
    std::string got;
    ASSERT_TRUE(varnok::ace::DecodeComment(packed, got));
    EXPECT_EQ(got, text + "end");
    ASSERT_TRUE(varnok::ace::DecodeComment(packed, got, 100));
    EXPECT_EQ(got, text.substr(0, 100));
    const std::vector<uint8_t> cut(packed.begin(), packed.begin() + 40);
    EXPECT_FALSE(varnok::ace::DecodeComment(cut, got));
    EXPECT_LT(got.size(), text.size());
    EXPECT_FALSE(varnok::ace::DecodeComment({}, got));
}

TEST(AceHeaders, FileHeaderFieldsAndLies) {
    const auto data = Words(1000, 1);
    auto e = MakeEntry("dir\\name.txt", data, 1, PackLz77(data), 6);
    const auto vols = BuildArchive({e});
    const auto main = ReadAt(vols[0], 0);
    auto file = ReadAt(vols[0], main.nextPos);
    ASSERT_TRUE(file.crcOk);
    EXPECT_EQ(file.name, "dir\\name.txt");
    EXPECT_EQ(file.unpackedSize, data.size());
    EXPECT_EQ(file.addSize, e.packed.size());
    EXPECT_EQ(file.crc, AceCrc(data));
    EXPECT_EQ(file.parameters, 6);

    // A name longer than its header.
    auto bad = vols[0];
    const size_t at = static_cast<size_t>(main.nextPos);
    const size_t nameLen = at + 33;  // the name length field
    PutLe16(&bad[nameLen], 500);
    varnok::ace::ReadResult r;
    ReadAt(bad, main.nextPos, &r);
    EXPECT_EQ(r, varnok::ace::ReadResult::Bad);
    // A changed byte fails the header's check.
    bad = vols[0];
    bad[at + 8] ^= 1;
    EXPECT_FALSE(ReadAt(bad, main.nextPos).crcOk);
    // A header size past the end of the file.
    bad = vols[0];
    bad.resize(at + 10);
    ReadAt(bad, main.nextPos, &r);
    EXPECT_EQ(r, varnok::ace::ReadResult::Bad);
}

TEST(AceHeaders, SixtyFourBitFileHeadersAreFiles) {
    const auto data = Words(3000, 2);
    auto e = MakeEntry("big.bin", data, 0, data);
    e.wide = true;
    const auto vols = BuildArchive({e});
    const auto main = ReadAt(vols[0], 0);
    const auto file = ReadAt(vols[0], main.nextPos);
    ASSERT_TRUE(file.crcOk);
    EXPECT_TRUE(file.IsFile());
    EXPECT_EQ(file.type, varnok::ace::kTypeFile64);
    EXPECT_EQ(file.name, "big.bin");
    EXPECT_EQ(file.addSize, data.size());
    EXPECT_EQ(file.unpackedSize, data.size());
    EXPECT_EQ(file.crc, AceCrc(data));
    EXPECT_EQ(file.nextPos, vols[0].size());
}

}  // namespace
}  // namespace varnok::test::ace
