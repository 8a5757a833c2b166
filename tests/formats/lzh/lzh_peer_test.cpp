// Archives made during the test by the installed lha (jlha-utils), decoded and compared byte for
// byte with the files that went in.
#include <gtest/gtest.h>

#include "archive/formats/lzh/lzh_methods.h"
#include "tests/formats/lzh/lzh_test_util.h"
#include "tests/formats/lzh/test_data.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

struct LhaCase {
    const char* command;  // header level and method, as lha takes them
    const char* method;
};

class LhaPeer : public ::testing::TestWithParam<LhaCase> {};

TEST_P(LhaPeer, DecodesWhatLhaWrote) {
    VARNOK_REQUIRE_TOOL("lha");
    const LhaCase c = GetParam();
    test::TempDir dir;
    // One file larger than every window (distances up to 64 KiB), one small, one empty.
    auto big = test::MixedData(600 * 1024, 7);
    auto small = test::MixedData(3000, 9);
    test::WriteFile(dir / "big.bin", big);
    test::WriteFile(dir / "small.txt", small);
    test::WriteFile(dir / "empty", std::vector<uint8_t>{});
    std::string cmd = "cd " + test::Quote(dir.Path()) + " && lha " + c.command +
                      " t.lzh big.bin small.txt empty >/dev/null 2>&1";
    ASSERT_EQ(test::Run(cmd), 0) << cmd;
    auto file = test::ReadFile(dir / "t.lzh");
    auto entries = test::WalkLzh(file);
    ASSERT_EQ(entries.size(), 3u);
    bool sawMethod = false;
    for (const auto& e : entries) {
        SCOPED_TRACE(e.name + " " + e.method);
        const auto& want = e.name == "big.bin" ? big : e.name == "small.txt" ? small : std::vector<uint8_t>{};
        sawMethod |= e.method == c.method;
        MemorySource src(file.data() + e.dataOffset, e.packed);
        test::HashSink sink(true);
        auto r = DecodeLzhMethod(e.method, src, e.packed, sink, e.unpacked);
        EXPECT_EQ(r.status, DecodeStatus::Ok);
        EXPECT_EQ(r.consumed, e.packed);
        EXPECT_EQ(sink.crc16, e.crc16);
        EXPECT_TRUE(sink.data == want);
    }
    EXPECT_TRUE(sawMethod) << "lha did not use " << c.method;
}

INSTANTIATE_TEST_SUITE_P(Peers, LhaPeer,
                         ::testing::Values(LhaCase{"a0o5", "-lh5-"}, LhaCase{"a1o6", "-lh6-"},
                                           LhaCase{"a2o7", "-lh7-"}, LhaCase{"a2o5", "-lh5-"},
                                           LhaCase{"a0o7", "-lh7-"}),
                         [](const ::testing::TestParamInfo<LhaCase>& param) {
                             return std::string(param.param.command);
                         });

}  // namespace
}  // namespace varnok
