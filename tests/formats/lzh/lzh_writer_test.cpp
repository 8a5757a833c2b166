// The LHA writer: lhasa, bsdtar and jlha give back what it writes, byte for byte, with folders; a name too long
// for a level-0 header gets a level-2 header; data that does not pack is stored with no trace of the attempt.
#include <gtest/gtest.h>

#include "archive/core/errors.h"
#include "archive/formats/lzh/lzh_headers.h"
#include "archive/formats/lzh/lzh_writer.h"
#include "archive/formats/lzh/unlha.h"
#include "tests/support/extractor_run.h"
#include "tests/support/writer_run.h"

namespace varnok::test {
namespace {

// The tree without its non-ASCII name: LZH headers carry no code page, and jlha reads every name as Latin-1.
std::map<std::string, std::string> AsciiTree(const fs::path& root) {
    std::map<std::string, std::string> t = MakeTree(root);
    for (auto it = t.begin(); it != t.end();) {
        if (std::any_of(it->first.begin(), it->first.end(), [](char c) { return c < 0; })) {
            fs::remove(root / it->first);
            it = t.erase(it);
        } else {
            ++it;
        }
    }
    return t;
}


std::vector<lzh::Header> Headers(const fs::path& archive) {
    platform::File f;
    EXPECT_TRUE(f.Open(archive.string(), platform::File::Mode::Read));
    std::vector<lzh::Header> out;
    uint64_t pos = 0;
    lzh::Header h;
    while (lzh::ReadHeader(f, pos, f.Size(), h) == lzh::ReadResult::Ok) {
        out.push_back(h);
        pos = h.nextPos;
    }
    return out;
}

TEST(LhaWriter, PeersGiveBackTheTreeForEveryMethod) {
    TempDir d;
    const auto tree = AsciiTree(d / "src");
    for (TCompressMethod m : {cmStore, cmFrozen5, cmFrozen6}) {
        const fs::path lzh = d / ("t" + std::to_string(m) + ".lzh");
        TLha w;
        WriteOutcome o = RunWriter(w, lzh, {"*"}, d / "src", [m](TCompBase& c) { c.SetCompressMethod(m); });
        ASSERT_FALSE(o.failed) << (o.messages.empty() ? "" : o.messages[0]);
        for (const auto& h : Headers(lzh)) {
            // A name over 233 bytes does not fit a level-0 header.
            EXPECT_EQ(h.level, h.name.size() > 233 ? 2 : 0) << h.name;
            if (h.name == "noise.bin") {
                EXPECT_EQ(h.method, "-lh0-");
            }
            if (h.name == "text/big.txt") {
                EXPECT_EQ(h.method, m == cmStore ? "-lh0-" : m == cmFrozen5 ? "-lh5-" : "-lh6-");
            }
            if (h.name == "emptydir/") {
                EXPECT_EQ(h.method, "-lhd-");
            }
        }
        for (const std::string cmd : {"lhasa x", "bsdtar -xf", "jlha x"}) {
            const std::string tool = cmd.substr(0, cmd.find(' '));
            if (!HaveTool(tool)) continue;
            SCOPED_TRACE(tool);
            TempDir out;
            ASSERT_EQ(test::Run("cd " + Quote(out.Path()) + " && " + cmd + " " + Quote(lzh) + " >/dev/null 2>&1"), 0)
                << tool;
            ExpectTree(tree, out.Path());
        }
        TUnLha x;
        TempDir out;
        EXPECT_EQ(RunExtractor(x, lzh, out.Path(), [](TUnBase& u) { u.CreateStoredDirs = true; }).failed, 0);
        ExpectTree(tree, out.Path());
    }
}

TEST(LhaWriter, UnpackableDataIsStoredRightAfterItsHeader) {
    TempDir d;
    WriteFile(d / "r.bin", RandomBytes(100000, 11));
    TLha w;
    RunWriter(w, d / "r.lzh", {"r.bin"}, d.Path());
    std::vector<lzh::Header> h = Headers(d / "r.lzh");
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].method, "-lh0-");
    EXPECT_EQ(h[0].packedSize, 100000u);
    EXPECT_EQ(fs::file_size(d / "r.lzh"), h[0].dataPos + 100000 + 1);  // and the end mark
}

TEST(LhaWriter, UpdateKeepsTheOtherEntries) {
    TempDir d;
    WriteFile(d / "a.txt", Text(5000));
    TLha first;
    RunWriter(first, d / "u.lzh", {"a.txt"}, d.Path());
    WriteFile(d / "b.txt", "b");
    TLha more;
    EXPECT_EQ(RunWriter(more, d / "u.lzh", {"b.txt"}, d.Path()).result, 1);
    TLha del;
    EXPECT_EQ(RunWriter(del, d / "u.lzh", {"a.txt"}, d.Path(), [](TCompBase& c) { c.Switch = swDelete; }).result, 1);
    TUnLha x;
    TempDir out;
    RunExtractor(x, d / "u.lzh", out.Path());
    EXPECT_EQ(FilesUnder(out.Path()), (std::map<std::string, std::string>{{"b.txt", "b"}}));
}

}  // namespace
}  // namespace varnok::test
