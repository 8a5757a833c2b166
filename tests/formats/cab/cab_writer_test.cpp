// TMakeCab with the cabinet writer library of this build: every method's cabinets read back byte for byte by
// cabextract, 7-Zip, bsdtar (where it reads the method) and our own TUnCab; sets; adding to a cabinet keeps
// its old files; a failed, cancelled or refused run leaves the old cabinet byte for byte and no temporary
// file; the parameter clamping. Built a second time without the library for the missing-library case.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <string>

#include "archive/core/engine_library.h"
#include "archive/core/errors.h"
#include "archive/formats/cab/cab_writer.h"
#include "archive/formats/cab/uncab.h"
#include "tests/support/test_support.h"
#include "tests/support/writer_run.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

#ifdef VARNOK_EMPTY_ENGINE_DIR
const bool kEngines = EngineLibrary::SetFolder(VARNOK_EMPTY_ENGINE_DIR);

TEST(CabWriterWithoutLibrary, ARunFailsWithCabinetDllNotFoundAndTouchesNothing) {
    ASSERT_TRUE(kEngines);
    TempDir tmp;
    test::WriteFile(tmp / "src/a.txt", "data");
    test::WriteFile(tmp / "old.cab", "not rewritten");
    TMakeCab w;
    auto o = test::RunWriter(w, tmp / "old.cab", {"a.txt"}, tmp / "src");
    EXPECT_EQ(o.result, 0);
    EXPECT_TRUE(o.failed);
    ASSERT_TRUE(o.HasCode(E_CabinetNotFound));
    EXPECT_EQ(ErrorText(E_CabinetNotFound), "Cabinet.dll not found");
    EXPECT_EQ(test::ReadText(tmp / "old.cab"), "not rewritten");
    EXPECT_FALSE(TMakeCab::LibraryLoaded());
}
#else
const bool kEngines = EngineLibrary::SetFolder(VARNOK_ENGINE_DIR);

std::map<std::string, std::string> Files(const fs::path& root) {
    std::map<std::string, std::string> m;
    if (!fs::exists(root)) return m;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) m[fs::relative(e.path(), root).string()] = test::ReadText(e.path());
    return m;
}

// The awkward tree: an empty file, a file of exactly one block, many small files, a file past the folder
// threshold, non-ASCII names, folders.
std::map<std::string, std::string> MakeTree(const fs::path& root) {
    std::map<std::string, std::string> t;
    auto file = [&](const std::string& rel, const std::string& data) {
        fs::create_directories((root / rel).parent_path());
        test::WriteFile(root / rel, data);
        t[rel] = data;
    };
    file("empty.txt", "");
    file("block.bin", test::RandomBytes(32768, 3));
    for (int i = 0; i < 60; ++i)
        file("many/s" + std::to_string(i) + ".txt", test::Text(static_cast<size_t>(i * 53 % 900)));
    file("big/large.txt", test::Text(700000) + test::RandomBytes(300000, 4));
    file("caf\xC3\xA9/\xD0\xBF\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE6\x97\xA5.txt", "non-ASCII\n");
    return t;
}

// Names whose contents differ or that are missing or extra, for a short failure message.
std::string Diff(const std::map<std::string, std::string>& got, const std::map<std::string, std::string>& want) {
    std::string d;
    for (const auto& [n, data] : want) {
        auto it = got.find(n);
        if (it == got.end())
            d += " missing:" + n;
        else if (it->second != data)
            d += " differs:" + n;
    }
    for (const auto& [n, data] : got)
        if (!want.count(n)) d += " extra:" + n;
    return d;
}

// TUnCab gives back exactly the tree.
void ExpectOurReaderGives(const fs::path& cab, const std::map<std::string, std::string>& tree, const fs::path& out) {
    TUnCab u;
    u.SetArchiveFile(cab.string());
    u.ExtractDir = out.string();
    u.FileSpec = {"*.*"};
    u.ConfirmOverwrites = false;
    std::string errors;
    u.OnError = [&](TZipCommon&, const std::string& f, const std::string& msg, const std::string&, int code) {
        errors += " " + f + ": " + msg + " (" + std::to_string(code) + ")";
    };
    u.ExtractArchive();
    EXPECT_EQ(Diff(Files(out), tree), "") << errors;
}

void ExpectPeersGive(const fs::path& cab, const std::map<std::string, std::string>& tree, bool bsdtar,
                     const std::string& label) {
    const fs::path base = cab.parent_path() / ("peers-" + label);
    struct Peer {
        std::string tool, command;
    };
    std::vector<Peer> peers = {
        {"cabextract", "cabextract -q -d " + test::Quote(base / "cabextract") + " " + test::Quote(cab)},
        {"7z", "7z x -y -o" + test::Quote(base / "7z") + " " + test::Quote(cab) + " >/dev/null"},
    };
    if (bsdtar)
        peers.push_back({"bsdtar", "mkdir -p " + test::Quote(base / "bsdtar") + " && bsdtar -xf " + test::Quote(cab) +
                                       " -C " + test::Quote(base / "bsdtar")});
    for (const auto& p : peers) {
        if (!test::HaveTool(p.tool)) continue;
        std::string out;
        EXPECT_EQ(test::Run(p.command + " 2>&1", &out), 0) << label << " " << p.tool << ": " << out;
        EXPECT_EQ(Diff(Files(base / p.tool), tree), "") << label << " " << p.tool;
    }
}

class CabWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kEngines);
        if (!TMakeCab::LibraryLoaded()) GTEST_SKIP() << "libvarnok-fci.so not built";
    }
};

TEST_F(CabWriterTest, EveryMethodReadsBackExactlyWithThePeersAndOurReader) {
    TempDir tmp;
    const auto tree = MakeTree(tmp / "src");
    struct M {
        TCompressMethod method;
        const char* label;
        bool bsdtar;
    };
    for (const M& m : {M{cmStore, "store", true}, M{cmMsZip, "mszip", true}, M{cmLzx, "lzx", true},
                       M{cmQuantum, "quantum", false}}) {
        TMakeCab w;
        w.SetCompressMethod(m.method);
        w.QuantumType = ctQuantum;
        w.SetLzxLevel(21);
        w.SetQuantumLevel(4);
        w.SetQuantumMemory(18);
        w.FolderThreshold = 200000;
        const auto cab = tmp / (std::string(m.label) + ".cab");
        auto o = test::RunWriter(w, cab, {"*"}, tmp / "src");
        ASSERT_FALSE(o.failed) << m.label << ": " << (o.messages.empty() ? "" : o.messages[0]);
        EXPECT_EQ(o.result, static_cast<int>(tree.size())) << m.label;
        ExpectPeersGive(cab, tree, m.bsdtar, m.label);
        ExpectOurReaderGives(cab, tree, tmp / ("ours-" + std::string(m.label)));
        EXPECT_TRUE(test::TempLeftovers(tmp.Path()).empty());
    }
}

TEST_F(CabWriterTest, AddingToACabinetKeepsItsOldFilesWithTheirDates) {
    TempDir tmp;
    test::WriteFile(tmp / "src/keep.txt", test::Text(50000));
    test::WriteFile(tmp / "src/sub/replace.txt", "old contents\n");
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    fs::last_write_time(tmp / "src/keep.txt", old);
    const auto cab = tmp / "a.cab";
    {
        TMakeCab w;
        ASSERT_FALSE(test::RunWriter(w, cab, {"*"}, tmp / "src").failed);
    }
    fs::remove_all(tmp / "src");
    test::WriteFile(tmp / "src/sub/replace.txt", "new contents, longer\n");
    test::WriteFile(tmp / "src/new.txt", "added\n");
    TMakeCab w;
    w.SetCompressMethod(cmLzx);
    auto o = test::RunWriter(w, cab, {"*"}, tmp / "src");
    ASSERT_FALSE(o.failed) << (o.messages.empty() ? "" : o.messages[0]);
    const std::map<std::string, std::string> want = {
        {"keep.txt", test::Text(50000)}, {"sub/replace.txt", "new contents, longer\n"}, {"new.txt", "added\n"}};
    ExpectOurReaderGives(cab, want, tmp / "out");
    ExpectPeersGive(cab, want, true, "added");
    // The old file keeps its date (DOS time: two-second steps).
    const auto kept = fs::last_write_time(tmp / "out/keep.txt");
    EXPECT_LT(std::chrono::abs(kept - old), std::chrono::seconds(3));
    EXPECT_TRUE(test::TempLeftovers(tmp.Path()).empty());
}

TEST_F(CabWriterTest, CancelledFailedAndRefusedRunsLeaveTheCabinetByteIdentical) {
    TempDir tmp;
    test::WriteFile(tmp / "src/a.txt", test::Text(100000));
    const auto cab = tmp / "a.cab";
    {
        TMakeCab w;
        ASSERT_FALSE(test::RunWriter(w, cab, {"*"}, tmp / "src").failed);
    }
    const auto before = test::ReadFile(cab);
    test::WriteFile(tmp / "src/b.bin", test::RandomBytes(400000, 9));

    fs::create_directories(tmp / "scratch");
    const std::string scratch = (tmp / "scratch").string();
    {  // cancelled while the new file is read
        TMakeCab w;
        w.SetTempDir(scratch);
        auto o = test::RunWriter(w, cab, {"*"}, tmp / "src", [](TCompBase& c) {
            c.OnProgress = [](TZipCommon& s, int, int) { s.SetCancel(true); };
        });
        EXPECT_TRUE(o.failed);
        EXPECT_TRUE(test::ReadFile(cab) == before) << "cancel";
    }
    {  // a second cabinet needed and nobody to name it
        TMakeCab w;
        w.SetTempDir(scratch);
        w.MaxCabinetSize = 60000;
        auto o = test::RunWriter(w, cab, {"*"}, tmp / "src");
        EXPECT_TRUE(o.failed);
        EXPECT_TRUE(test::ReadFile(cab) == before) << "next cabinet";
    }
    {  // deleting is refused
        TMakeCab w;
        w.SetTempDir(scratch);
        w.Switch = swDelete;
        auto o = test::RunWriter(w, cab, {"a.txt"}, tmp / "src");
        EXPECT_TRUE(o.failed);
        EXPECT_TRUE(o.HasCode(E_InvalidArcType));
        EXPECT_TRUE(test::ReadFile(cab) == before) << "delete";
    }
    EXPECT_TRUE(test::TempLeftovers(tmp.Path()).empty());
    // The private scratch folders (old files, the library's block files) are gone too.
    EXPECT_TRUE(fs::is_empty(tmp / "scratch"));
}

TEST_F(CabWriterTest, SetsThroughOnGetNextCabinetAreReadByCabextract) {
    TempDir tmp;
    std::map<std::string, std::string> tree;
    for (int i = 0; i < 5; ++i) {
        const std::string n = "f" + std::to_string(i) + ".bin";
        tree[n] = test::RandomBytes(45000 + 1000 * static_cast<size_t>(i), 30u + i);
        test::WriteFile(tmp / "src" / n, tree[n]);
    }
    TMakeCab w;
    w.SetCompressMethod(cmMsZip);
    w.MaxCabinetSize = 60000;
    int asked = 0;
    w.OnGetNextCabinet = [&](TMakeCab&, CCAB&, std::string& name, unsigned long, bool& abort) {
        name = (tmp / ("set" + std::to_string(++asked + 1) + ".cab")).string();
        abort = false;
    };
    auto o = test::RunWriter(w, tmp / "set1.cab", {"*"}, tmp / "src");
    ASSERT_FALSE(o.failed) << (o.messages.empty() ? "" : o.messages[0]);
    EXPECT_GE(asked, 3);
    for (int i = 1; i <= asked + 1; ++i) {
        ASSERT_TRUE(fs::exists(tmp / ("set" + std::to_string(i) + ".cab"))) << i;
        EXPECT_LE(fs::file_size(tmp / ("set" + std::to_string(i) + ".cab")), 60000u);
    }
    EXPECT_TRUE(test::TempLeftovers(tmp.Path()).empty());
    if (!test::HaveTool("cabextract")) GTEST_SKIP() << "peer tool not installed: cabextract";
    std::string out;
    ASSERT_EQ(test::Run("cabextract -q -d " + test::Quote(tmp / "out") + " " + test::Quote(tmp / "set1.cab") + " 2>&1", &out), 0) << out;
    EXPECT_EQ(Diff(Files(tmp / "out"), tree), "");
}

TEST(CabWriterParameters, LevelsAreClampedAndTheTcompValueFollowsTheMethod) {
    TMakeCab w;
    EXPECT_EQ(w.CompressMethod(), cmMsZip);
    EXPECT_EQ(w.TcompValue(), 1);
    EXPECT_EQ(w.MethodText(), "MsZIP");
    w.SetLzxLevel(25);
    EXPECT_EQ(w.LzxLevel(), 21);
    w.SetLzxLevel(3);
    EXPECT_EQ(w.LzxLevel(), 15);
    w.SetQuantumLevel(0);
    EXPECT_EQ(w.QuantumLevel(), 1);
    w.SetQuantumMemory(5);
    EXPECT_EQ(w.QuantumMemory(), 10);
    w.SetCompressMethod(cmLzx);
    EXPECT_EQ(w.TcompValue(), 15 * 256 + 3);
    EXPECT_EQ(w.MethodText(), "Lzx");
    w.SetCompressMethod(cmQuantum);
    w.QuantumType = ctLzx;
    w.SetQuantumLevel(7);
    w.SetQuantumMemory(21);
    EXPECT_EQ(w.TcompValue(), 0x1573);
    EXPECT_EQ(w.MethodText(), "Quantum");
    w.QuantumType = ctQuantum;
    EXPECT_EQ(w.TcompValue(), 0x1572);
    w.SetCompressMethod(cmStore);
    EXPECT_EQ(w.TcompValue(), 0);
    EXPECT_EQ(w.MethodText(), "Stored");
    w.SetCompressMethod(cmDeflate);  // not a cabinet method: ignored
    EXPECT_EQ(w.CompressMethod(), cmStore);
}
#endif

}  // namespace
}  // namespace varnok
