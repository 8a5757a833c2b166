// The BH writer: every method (stored, deflate, fuse) and the traditional cipher give back the files through
// our extractor (BH has no other reader); names a BH header cannot hold are refused, not cut.
#include <gtest/gtest.h>

#include "archive/core/errors.h"
#include "archive/formats/bh/bh_headers.h"
#include "archive/formats/bh/bh_writer.h"
#include "archive/formats/bh/unbh.h"
#include "tests/support/extractor_run.h"
#include "tests/support/writer_run.h"

namespace varnok::test {
namespace {

TEST(BhWriter, EveryMethodGivesBackTheFiles) {
    for (TCompressMethod m : {cmStore, cmDeflate, cmFuse}) {
        for (const std::string password : {"", "secret"}) {
            TempDir d;
            WriteFile(d / "src/text.txt", Text(120000));
            WriteFile(d / "src/noise.bin", RandomBytes(40000, 5));
            WriteFile(d / "src/empty", "");
            WriteFile(d / "src/sub/small.txt", "small");
            TBlakHole w;
            WriteOutcome o = RunWriter(w, d / "a.bh", {"*"}, d / "src", [&](TCompBase& c) {
                c.SetCompressMethod(m);
                c.Password = password;
            });
            ASSERT_FALSE(o.failed) << m << (o.messages.empty() ? "" : o.messages[0]);
            // The methods the headers name: incompressible data is stored whatever was asked.
            platform::File f;
            ASSERT_TRUE(f.Open((d / "a.bh").string(), platform::File::Mode::Read));
            uint64_t pos = 0;
            bh::Header h;
            int seen = 0;
            while (bh::ReadHeader(f, pos, f.Size(), h) == bh::ReadResult::Ok && h.headerSize) {
                ++seen;
                if (h.name == "noise.bin" || h.name == "empty") {
                    EXPECT_EQ(h.method, 0) << h.name;
                }
                if (h.name == "text.txt") {
                    EXPECT_EQ(h.method, m == cmStore ? 0 : m == cmFuse ? 1 : 8) << m;
                }
                EXPECT_EQ(h.encrypted(), !password.empty() && h.unpackedSize > 0) << h.name;
                pos = h.nextPos;
            }
            EXPECT_EQ(seen, 4);
            TUnBh x;
            TempDir out;
            Outcome r = RunExtractor(x, d / "a.bh", out.Path(), [&](TUnBase& u) {
                u.Password = password;
                u.Passwords = {password};
            });
            EXPECT_EQ(r.failed, 0) << m << (r.messages.empty() ? "" : r.messages[0]);
            EXPECT_EQ(ReadText(out / "text.txt"), Text(120000));
            EXPECT_EQ(ReadText(out / "noise.bin"), RandomBytes(40000, 5));
            EXPECT_EQ(ReadText(out / "sub/small.txt"), "small");
            EXPECT_TRUE(fs::exists(out / "empty"));
        }
    }
}

TEST(BhWriter, UpdateKeepsEntriesAndRefusesNamesTooLong) {
    TempDir d;
    WriteFile(d / "a.txt", "a");
    TBlakHole first;
    RunWriter(first, d / "u.bh", {"a.txt"}, d.Path());
    const std::string longName = std::string(150, 'l') + "/" + std::string(150, 'm') + ".txt";
    WriteFile(d / longName, "long");
    WriteFile(d / "b.txt", "b");
    TBlakHole more;
    WriteOutcome o = RunWriter(more, d / "u.bh", {"b.txt", longName}, d.Path());
    EXPECT_TRUE(o.HasCode(E_InvalidFileName));
    TUnBh x;
    TempDir out;
    RunExtractor(x, d / "u.bh", out.Path());
    EXPECT_EQ(FilesUnder(out.Path()), (std::map<std::string, std::string>{{"a.txt", "a"}, {"b.txt", "b"}}));
}

}  // namespace
}  // namespace varnok::test
