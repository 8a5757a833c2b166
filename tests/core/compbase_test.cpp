// The compression base's promises, checked through the ZIP writer: an update that fails for any reason leaves
// the old archive byte for byte and no temporary file; moved sources go only after the archive is in place;
// merging with the old entries follows the replace rules.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "archive/core/errors.h"
#include "archive/formats/zip/zip_writer.h"
#include "archive/formats/zip/unzip.h"
#include "archive/formats/bh/bh_writer.h"
#include "archive/formats/bh/unbh.h"
#include "archive/formats/lzh/lzh_writer.h"
#include "archive/formats/lzh/unlha.h"
#include "archive/formats/tar/tar_writer.h"
#include "archive/formats/tar/untar.h"
#include "tests/support/extractor_run.h"
#include "tests/support/writer_run.h"

namespace varnok::test {
namespace {

struct Fixture {
    TempDir dir;
    fs::path src = dir / "src";
    fs::path zip = dir / "out" / "a.zip";
    std::vector<uint8_t> before;
    Fixture() {
        fs::create_directories(src);
        fs::create_directories(zip.parent_path());
        WriteFile(src / "one.txt", Text(20000));
        WriteFile(src / "two.txt", Text(30000));
        TZip w;
        EXPECT_FALSE(RunWriter(w, zip, {"one.txt", "two.txt"}, src).failed);
        before = ReadFile(zip);
    }
    void ExpectUnchanged() {
        EXPECT_EQ(ReadFile(zip), before);
        EXPECT_TRUE(TempLeftovers(zip.parent_path()).empty());
    }
};

std::vector<std::string> Names(const fs::path& zip) {
    TUnZip x;
    TempDir out;
    RunExtractor(x, zip, out.Path());
    std::vector<std::string> n;
    for (const auto& [k, v] : FilesUnder(out.Path()))
        n.push_back(k);
    return n;
}

TEST(CompBase, FullDiskMidwayLeavesArchiveAndNoTemporaryFile) {
    Fixture f;
    WriteFile(f.src / "big.bin", RandomBytes(400000, 3));
    // A child whose files may not grow past the old archive's size plus a little: the write of the new entry
    // fails with EFBIG, as on a full disk.
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlim_t limit = f.before.size() + 70000;
        rlimit rl{limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        TZip w;
        WriteOutcome o = RunWriter(w, f.zip, {"big.bin"}, f.src);
        _exit(o.failed && o.HasCode(E_WriteFile) ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    f.ExpectUnchanged();
}

TEST(CompBase, CancelAtEveryEntryLeavesArchiveUnchanged) {
    Fixture f;
    for (int i = 0; i < 4; ++i)
        WriteFile(f.src / ("new" + std::to_string(i) + ".txt"), Text(5000 + i));
    for (int stopAt = 1; stopAt <= 6; ++stopAt) {
        TZip w;
        WriteOutcome o = RunWriter(w, f.zip, {"new*.txt", "one.txt"}, f.src, [&](TCompBase& c) {
            c.OnBegin = [stopAt](TZipCommon& s, const std::string&, int count, bool&) {
                if (count >= stopAt) s.SetCancel(true);
            };
        });
        EXPECT_TRUE(o.failed) << stopAt;
        EXPECT_TRUE(o.HasCode(E_UserCanceled)) << stopAt;
        f.ExpectUnchanged();
    }
}

TEST(CompBase, ReadOnlyArchiveIsNotWrittenWithoutConsent) {
    Fixture f;
    WriteFile(f.src / "three.txt", "3");
    chmod(f.zip.c_str(), 0444);
    TZip w;
    WriteOutcome o = RunWriter(w, f.zip, {"three.txt"}, f.src);
    EXPECT_TRUE(o.HasCode(E_EventNotAssigned));
    TZip refused;
    o = RunWriter(refused, f.zip, {"three.txt"}, f.src, [](TCompBase& c) {
        c.OnNonWriteableArchive = [](TZipCommon&, const std::string&, bool& write) { write = false; };
    });
    EXPECT_TRUE(o.failed);
    f.ExpectUnchanged();
    // With consent the update happens and the archive keeps its mode.
    TZip allowed;
    o = RunWriter(allowed, f.zip, {"three.txt"}, f.src, [](TCompBase& c) {
        c.OnNonWriteableArchive = [](TZipCommon&, const std::string&, bool& write) { write = true; };
    });
    EXPECT_FALSE(o.failed);
    EXPECT_EQ(Names(f.zip).size(), 3u);
}

TEST(CompBase, DamagedDirectoryIsNeverRewrittenWithoutItsEntries) {
    Fixture f;
    // Cut the archive inside its central directory: the entries it names cannot all be read.
    std::vector<uint8_t> cut(f.before.begin(), f.before.end() - 40);
    WriteFile(f.zip, cut);
    f.before = cut;
    WriteFile(f.src / "three.txt", "3");
    TZip w;
    WriteOutcome o = RunWriter(w, f.zip, {"three.txt"}, f.src);
    EXPECT_TRUE(o.failed);
    f.ExpectUnchanged();
}

TEST(CompBase, DeleteRules) {
    Fixture f;
    TZip missing;
    WriteOutcome o = RunWriter(missing, f.dir / "none.zip", {"x"}, f.src, [](TCompBase& c) { c.Switch = swDelete; });
    EXPECT_TRUE(o.HasCode(E_NothingToDo));
    EXPECT_FALSE(fs::exists(f.dir / "none.zip"));

    TZip one;
    o = RunWriter(one, f.zip, {"one.txt"}, f.src, [](TCompBase& c) { c.Switch = swDelete; });
    EXPECT_EQ(o.result, 1);
    EXPECT_EQ(Names(f.zip), std::vector<std::string>{"two.txt"});
    // Deleting the last entry deletes the archive.
    TZip last;
    o = RunWriter(last, f.zip, {"two.txt"}, f.src, [](TCompBase& c) { c.Switch = swDelete; });
    EXPECT_EQ(o.result, 1);
    EXPECT_FALSE(fs::exists(f.zip));
}

TEST(CompBase, ReplaceIsAskedOnlyForFilesThatDiffer) {
    Fixture f;
    int asked = 0;
    auto ask = [&](bool answer) {
        return [&asked, answer](TCompBase& c) {
            c.OnReplaceFile = [&asked, answer](TZipCommon&, const std::string&, const std::string&, int64_t,
                                               int64_t, uint64_t, uint64_t, uint32_t, uint32_t, bool& replace) {
                ++asked;
                replace = answer;
            };
        };
    };
    TZip same;
    WriteOutcome o = RunWriter(same, f.zip, {"one.txt"}, f.src, ask(true));
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(ReadFile(f.zip), f.before);  // nothing to do: the archive is not rewritten
    WriteFile(f.src / "one.txt", "changed");
    TZip no;
    o = RunWriter(no, f.zip, {"one.txt"}, f.src, ask(false));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(ReadFile(f.zip), f.before);
    TZip yes;
    o = RunWriter(yes, f.zip, {"one.txt"}, f.src, ask(true));
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(o.result, 1);
    TUnZip x;
    TempDir out;
    RunExtractor(x, f.zip, out.Path());
    EXPECT_EQ(ReadText(out / "one.txt"), "changed");
    EXPECT_EQ(ReadText(out / "two.txt"), Text(30000));
}

TEST(CompBase, ReplacedEntryWhoseFileVanishedKeepsItsOldContents) {
    Fixture f;
    WriteFile(f.src / "one.txt", "new contents");
    TZip w;
    WriteOutcome o = RunWriter(w, f.zip, {"one.txt"}, f.src, [&](TCompBase& c) {
        c.OnBegin = [&](TZipCommon&, const std::string&, int, bool&) { fs::remove(f.src / "one.txt"); };
    });
    EXPECT_TRUE(o.HasCode(E_OpenFile));
    TUnZip x;
    TempDir out;
    RunExtractor(x, f.zip, out.Path());
    EXPECT_EQ(ReadText(out / "one.txt"), Text(20000));
}

TEST(CompBase, StoredNameRules) {
    TempDir d;
    WriteFile(d / "data/sub/a.txt", "a");
    const std::string pattern = (d / "data").string() + "/*.txt";
    auto stored = [&](TStoredDirNames rule) {
        TZip w;
        RunWriter(w, d / "n.zip", {pattern}, d.Path(), [rule](TCompBase& c) {
            c.StoredDirNames = rule;
            c.RecurseDirs = true;
        });
        std::vector<std::string> n = Names(d / "n.zip");
        fs::remove(d / "n.zip");
        return n.empty() ? std::string() : n[0];
    };
    EXPECT_EQ(stored(sdRelative), "sub/a.txt");
    EXPECT_EQ(stored(sdNone), "a.txt");
    EXPECT_EQ(stored(sdRelativeStoreStart), "data/sub/a.txt");
    EXPECT_EQ(stored(sdExplorer), "data/sub/a.txt");
    EXPECT_EQ(stored(sdAbsoluteNoDrv), (d / "data/sub/a.txt").string().substr(1));
}

TEST(CompBase, MoveDeletesOnlyWhatTheNewArchiveHolds) {
    Fixture f;
    WriteFile(f.src / "m1.txt", "m1");
    WriteFile(f.src / "m2.txt", "m2");
    // A cancelled move deletes nothing.
    TZip cancelled;
    WriteOutcome o = RunWriter(cancelled, f.zip, {"m*.txt"}, f.src, [](TCompBase& c) {
        c.Switch = swMove;
        c.DeleteOptions = doFinal;
        c.OnEnd = [](TZipCommon& s, const std::string& name, bool) {
            if (name == "m2.txt") s.SetCancel(true);
        };
    });
    EXPECT_TRUE(o.failed);
    EXPECT_TRUE(fs::exists(f.src / "m1.txt"));
    EXPECT_TRUE(fs::exists(f.src / "m2.txt"));
    f.ExpectUnchanged();
    std::vector<std::string> deleted;
    TZip moved;
    o = RunWriter(moved, f.zip, {"m*.txt"}, f.src, [&](TCompBase& c) {
        c.Switch = swMove;
        c.DeleteOptions = doFinal;
        c.OnDeleteFile = [&](TZipCommon&, const std::string& name, int, int) { deleted.push_back(name); };
    });
    EXPECT_EQ(o.result, 2);
    EXPECT_EQ(deleted.size(), 2u);
    EXPECT_FALSE(fs::exists(f.src / "m1.txt"));
    EXPECT_TRUE(fs::exists(f.src / "one.txt"));  // kept entries' files are not touched
    EXPECT_EQ(Names(f.zip).size(), 4u);
}

TEST(CompBase, DefaultExtension) {
    TZip w;
    w.SetArchiveFile("backup");
    w.SetDefaultExt("ZIPPED");
    EXPECT_EQ(w.DefaultExt(), ".zip");
    EXPECT_EQ(w.ArchiveFile(), "backup.zip");
    w.SetDefaultExt(".bak");
    EXPECT_EQ(w.ArchiveFile(), "backup.bak");
}

TEST(CompBase, ArchiveIsNeverAddedToItself) {
    TempDir d;
    WriteFile(d / "x.txt", "x");
    TZip first;
    RunWriter(first, d / "self.zip", {"*"}, d.Path());
    WriteFile(d / "y.txt", "y");
    TZip again;
    WriteOutcome o = RunWriter(again, d / "self.zip", {"*"}, d.Path());
    EXPECT_FALSE(o.failed);
    std::vector<std::string> n = Names(d / "self.zip");
    EXPECT_EQ(n, (std::vector<std::string>{"x.txt", "y.txt"}));
}

}  // namespace
}  // namespace varnok::test

namespace varnok::test {
namespace {

// A file whose name an entry already has, and that does not replace it, moves the old entry aside under the
// name OnRenameDupFile gives; both come back, in every writer with entries.
template <class Writer, class Reader>
void RenameDuplicateKeepsBoth(const std::string& ext) {
    TempDir d;
    const std::string longDir = std::string(120, 'p') + "/";
    WriteFile(d / (longDir + "same.txt"), "old contents");
    Writer first;
    RunWriter(first, d / ("a" + ext), {longDir}, d.Path());
    WriteFile(d / (longDir + "same.txt"), "new contents, longer");
    // Answering with the entry's own name keeps it: nothing changes.
    const std::vector<uint8_t> before = ReadFile(d / ("a" + ext));
    int asked = 0;
    Writer keep;
    RunWriter(keep, d / ("a" + ext), {longDir + "same.txt"}, d.Path(), [&](TCompBase& c) {
        c.OnReplaceFile = [](TZipCommon&, const std::string&, const std::string&, int64_t, int64_t, uint64_t,
                             uint64_t, uint32_t, uint32_t, bool& replace) { replace = false; };
        c.OnRenameDupFile = [&](TZipCommon&, const std::string&, std::string& newName) {
            ++asked;
            newName = "same.txt";
        };
    });
    EXPECT_EQ(asked, 1) << ext;
    EXPECT_EQ(ReadFile(d / ("a" + ext)), before) << ext;
    Writer again;
    WriteOutcome o = RunWriter(again, d / ("a" + ext), {longDir + "same.txt"}, d.Path(), [&](TCompBase& c) {
        c.OnReplaceFile = [](TZipCommon&, const std::string&, const std::string&, int64_t, int64_t, uint64_t,
                             uint64_t, uint32_t, uint32_t, bool& replace) { replace = false; };
        c.OnRenameDupFile = [](TZipCommon&, const std::string&, std::string& newName) { newName = "older copy.txt"; };
    });
    ASSERT_FALSE(o.failed) << ext << (o.messages.empty() ? "" : o.messages[0]);
    if (ext == ".zip" && HaveTool("unzip")) {
        EXPECT_EQ(test::Run("unzip -tq " + Quote(d / "a.zip") + " >/dev/null 2>&1"), 0);
    }
    if (ext == ".tar" && HaveTool("tar")) {
        std::string listing;
        EXPECT_EQ(test::Run("tar -tf " + Quote(d / "a.tar"), &listing), 0);
        EXPECT_NE(listing.find(longDir + "older copy.txt\n"), std::string::npos) << listing;
    }
    Reader x;
    TempDir out;
    RunExtractor(x, d / ("a" + ext), out.Path());
    EXPECT_EQ(FilesUnder(out.Path()),
              (std::map<std::string, std::string>{{longDir + "older copy.txt", "old contents"},
                                                  {longDir + "same.txt", "new contents, longer"}}))
        << ext;
}

TEST(CompBase, RenamedDuplicatesKeepBothVersions) {
    RenameDuplicateKeepsBoth<TZip, TUnZip>(".zip");
    RenameDuplicateKeepsBoth<TTar, TUnTar>(".tar");
    RenameDuplicateKeepsBoth<TBlakHole, TUnBh>(".bh");
    RenameDuplicateKeepsBoth<TLha, TUnLha>(".lzh");
}

}  // namespace
}  // namespace varnok::test
