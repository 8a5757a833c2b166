// Archives made during the test by the installed arj, with each method, decoded and compared byte
// for byte with the files that went in.
#include <gtest/gtest.h>

#include "archive/formats/arj/arj_methods.h"
#include "tests/formats/lzh/lzh_test_util.h"
#include "tests/formats/lzh/test_data.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

class ArjPeer : public ::testing::TestWithParam<int> {};

TEST_P(ArjPeer, DecodesWhatArjWrote) {
    VARNOK_REQUIRE_TOOL("arj");
    const int method = GetParam();
    test::TempDir dir;
    auto big = test::MixedData(500 * 1024, 3);
    auto small = test::MixedData(777, 5);
    test::WriteFile(dir / "big.bin", big);
    test::WriteFile(dir / "small.txt", small);
    std::string cmd = "cd " + test::Quote(dir.Path()) + " && arj a -y -m" + std::to_string(method) +
                      " t.arj big.bin small.txt >/dev/null 2>&1";
    ASSERT_EQ(test::Run(cmd), 0) << cmd;
    auto file = test::ReadFile(dir / "t.arj");
    auto entries = test::WalkArj(file);
    ASSERT_EQ(entries.size(), 2u);
    for (const auto& e : entries) {
        SCOPED_TRACE(e.name);
        EXPECT_EQ(e.method, method);
        const auto& want = e.name == "big.bin" ? big : small;
        MemorySource src(file.data() + e.dataOffset, e.packed);
        test::HashSink sink(true);
        auto r = DecodeArjMethod(e.method, src, e.packed, sink, e.unpacked);
        EXPECT_EQ(r.status, DecodeStatus::Ok);
        EXPECT_EQ(sink.Crc32(), e.crc32);
        EXPECT_TRUE(sink.data == want);
    }
}

INSTANTIATE_TEST_SUITE_P(Peers, ArjPeer, ::testing::Values(1, 2, 3, 4),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return "method" + std::to_string(param.param);
                         });

}  // namespace
}  // namespace varnok
