// Several archives extracted in one go, end to end with the program's own engines: a ZIP, an LZH and a TAR
// made here, in every destination mode, with archives that cannot be read, repeats, answers to the overwrite
// prompt and Cancel; and the pieces the window and the Open dialog are made of.
#include <gtest/gtest.h>

#include <set>

#include "app/archive_model.h"
#include "app/extract.h"
#include "app/multi_extract.h"
#include "platform/fileattr.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using test::RecordingView;
using varnok::test::ReadText;
using varnok::test::TempDir;
using varnok::test::WriteFile;

// Notes how many rows the model held whenever an extract started.
class RowWatchingView : public RecordingView {
  public:
    ArchiveModel* model = nullptr;
    std::vector<int> rowsAtExtract;
    void ProgressOpen(const std::string& h) override {
        RecordingView::ProgressOpen(h);
        if (model) rowsAtExtract.push_back(model->RowCount());
    }
};

class MultiExtractTest : public ::testing::Test {
  protected:
    void SetUp() override {
        view.model = &model;
        root = tmp.Path().string();
        a = root + "/one/alpha.zip";
        b = root + "/two/beta.lzh";
        c = root + "/two/gamma.tar";
        WriteFile(a, varnok::test::BuildZip({{"a.txt", "from alpha"}, {"docs/a2.txt", "alpha docs"}}));
        WriteFile(b, varnok::test::BuildLzh({{"b.txt", "from beta"}, {"docs\\b2.txt", "beta docs", 1}}));
        WriteFile(c, varnok::test::BuildTar({{"c.txt", "from gamma"}, {"docs/c2.txt", "gamma docs"}}));
    }
    MultiExtractRequest Req(int mode, const std::string& dest = {}) {
        MultiExtractRequest r;
        r.mode = mode;
        r.destination = dest;
        return r;
    }

    TempDir tmp;
    std::string root, a, b, c;
    Settings settings;
    RowWatchingView view;
    ArchiveModel model{settings, view};
    MultiExtract batch{model};
};

TEST_F(MultiExtractTest, SameDirectoryPutsEveryArchiveIntoTheDestination) {
    const std::string out = root + "/out";
    std::vector<std::pair<int, int>> titles;
    batch.OnArchive = [&](int n, int m) { titles.emplace_back(n, m); };
    MultiExtractResult r = batch.Run({a, b, c}, Req(meSameDirectory, out));
    EXPECT_TRUE(r.Ok()) << (r.problems.empty() ? "" : r.problems[0]);
    EXPECT_EQ(r.extracted, 3);
    EXPECT_EQ(ReadText(out + "/a.txt"), "from alpha");
    EXPECT_EQ(ReadText(out + "/docs/a2.txt"), "alpha docs");
    EXPECT_EQ(ReadText(out + "/b.txt"), "from beta");
    EXPECT_EQ(ReadText(out + "/docs/b2.txt"), "beta docs");
    EXPECT_EQ(ReadText(out + "/docs/c2.txt"), "gamma docs");
    EXPECT_EQ(titles, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
    EXPECT_TRUE(view.messages.empty());
    EXPECT_FALSE(model.IsOpen());
}

TEST_F(MultiExtractTest, SameDirectoryWithSubdirsMakesOneFolderPerArchiveBelowAMissingDestination) {
    const std::string out = root + "/not/yet/there";
    MultiExtractResult r = batch.Run({a, b, c}, Req(meSameDirectorySubdirs, out));  // no trailing "/"
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(ReadText(out + "/alpha/a.txt"), "from alpha");
    EXPECT_EQ(ReadText(out + "/beta/docs/b2.txt"), "beta docs");
    EXPECT_EQ(ReadText(out + "/gamma/c.txt"), "from gamma");
    EXPECT_FALSE(platform::PathExists(out + "/a.txt"));
}

TEST_F(MultiExtractTest, OwnDirectoryExtractsEachArchiveBesideItself) {
    MultiExtractResult r = batch.Run({a, b, c}, Req(meOwnDirectory, root + "/ignored"));
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(ReadText(root + "/one/a.txt"), "from alpha");
    EXPECT_EQ(ReadText(root + "/two/b.txt"), "from beta");
    EXPECT_EQ(ReadText(root + "/two/docs/c2.txt"), "gamma docs");
    EXPECT_FALSE(platform::PathExists(root + "/ignored"));
}

TEST_F(MultiExtractTest, OwnDirectoryWithSubdirsMakesAFolderNamedAfterEachArchive) {
    MultiExtractRequest req = Req(meOwnDirectorySubdirs);
    req.useFolderNames = false;
    MultiExtractResult r = batch.Run({a, b, c}, req);
    EXPECT_TRUE(r.Ok());
    // Without folder names the stored folders are not made.
    EXPECT_EQ(ReadText(root + "/one/alpha/a2.txt"), "alpha docs");
    EXPECT_EQ(ReadText(root + "/two/beta/b2.txt"), "beta docs");
    EXPECT_EQ(ReadText(root + "/two/gamma/c.txt"), "from gamma");
    EXPECT_FALSE(platform::PathExists(root + "/two/gamma/docs"));
}

TEST_F(MultiExtractTest, AnArchiveThatCannotBeReadInTheMiddleIsPassedOverAndTheBatchGoesOn) {
    const std::string broken = root + "/two/broken.zip";
    WriteFile(broken, std::string("this is no archive at all, only text"));
    const std::string gone = root + "/two/gone.lzh";
    const std::string out = root + "/out";
    MultiExtractResult r = batch.Run({a, broken, gone, c}, Req(meSameDirectory, out));
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.archives, 4);
    EXPECT_EQ(r.extracted, 2);
    ASSERT_EQ(r.problems.size(), 2u);
    EXPECT_NE(r.problems[0].find("broken.zip"), std::string::npos);
    EXPECT_NE(r.problems[1].find("gone.lzh"), std::string::npos);
    EXPECT_EQ(ReadText(out + "/a.txt"), "from alpha");
    EXPECT_EQ(ReadText(out + "/c.txt"), "from gamma");
    // The running flag went and rows are built again.
    EXPECT_FALSE(batch.Running());
    ASSERT_TRUE(model.Open(b));
    EXPECT_EQ(model.RowCount(), 2);
}

TEST_F(MultiExtractTest, NoRowsAreBuiltWhileTheBatchRunsAlsoAfterAZipArchive) {
    const std::string a2 = root + "/one/second.zip";
    WriteFile(a2, varnok::test::BuildZip({{"s.txt", "second"}}));
    batch.Run({a, a2, b, c}, Req(meOwnDirectorySubdirs));
    // Listing and extracting both show progress: every time, the model held no rows.
    ASSERT_GE(view.rowsAtExtract.size(), 4u);
    EXPECT_EQ(view.rowsAtExtract, std::vector<int>(view.rowsAtExtract.size(), 0));
    EXPECT_EQ(ReadText(root + "/one/second/s.txt"), "second");
}

TEST_F(MultiExtractTest, TheSameArchiveListedTwiceIsExtractedOnce) {
    const std::string out = root + "/out";
    const std::string again = root + "/one/../one/alpha.zip";
    MultiExtractResult r = batch.Run({a, c, again, a}, Req(meSameDirectory, out));
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(r.archives, 2);
    // The second extract of alpha would have asked before replacing its files.
    EXPECT_TRUE(view.prompts.empty());
}

TEST_F(MultiExtractTest, TheOverwriteAnswerHoldsForTheRestOfOneArchiveOnly) {
    const std::string out = root + "/out";
    const std::string copy = root + "/two/alpha-copy.zip";
    WriteFile(copy, varnok::test::ReadFile(a));
    WriteFile(out + "/a.txt", std::string("mine"));
    WriteFile(out + "/docs/a2.txt", std::string("mine too"));
    // "Yes to all" in the first archive; in the second the prompt comes again and is answered No.
    view.overwriteAnswers = {OverwriteAnswer::YesToAll, OverwriteAnswer::No, OverwriteAnswer::No};
    MultiExtractResult r = batch.Run({a, copy}, Req(meSameDirectory, out));
    EXPECT_TRUE(r.Ok());
    EXPECT_EQ(view.prompts.size(), 3u);
    EXPECT_EQ(ReadText(out + "/a.txt"), "from alpha");
}

TEST_F(MultiExtractTest, OverwriteAndSkipOlderReachEveryExtract) {
    const std::string out = root + "/out";
    WriteFile(out + "/a.txt", std::string("mine"));
    WriteFile(out + "/c.txt", std::string("mine"));
    MultiExtractRequest req = Req(meSameDirectory, out);
    req.overwrite = true;
    EXPECT_TRUE(batch.Run({a, c}, req).Ok());
    EXPECT_TRUE(view.prompts.empty());
    EXPECT_EQ(ReadText(out + "/a.txt"), "from alpha");
    EXPECT_EQ(ReadText(out + "/c.txt"), "from gamma");
}

TEST_F(MultiExtractTest, CancelEndsTheWholeBatch) {
    std::vector<varnok::test::ZipItem> items;
    for (int i = 0; i < 30; ++i)
        items.push_back({"f" + std::to_string(i) + ".bin", std::string(200000, static_cast<char>('a' + i % 26))});
    const std::string big = root + "/one/big.zip";
    WriteFile(big, varnok::test::BuildZip(items));
    int events = 0;
    view.onEvents = [&] {
        if (++events == 3) model.Extractor().Cancel();
    };
    MultiExtractResult r = batch.Run({big, c}, Req(meOwnDirectorySubdirs));
    EXPECT_TRUE(r.cancelled);
    EXPECT_FALSE(r.Ok());
    EXPECT_FALSE(platform::PathExists(root + "/two/gamma/c.txt"));
    EXPECT_FALSE(batch.Running());
}

TEST_F(MultiExtractTest, ADestinationThatCannotBeMadeFailsEachArchiveWithoutExtractingAnywhereElse) {
    WriteFile(root + "/blocker", std::string("x"));
    MultiExtractResult r = batch.Run({a, c}, Req(meSameDirectorySubdirs, root + "/blocker"));
    EXPECT_EQ(r.extracted, 0);
    EXPECT_EQ(r.problems.size(), 2u);
    EXPECT_FALSE(platform::PathExists(root + "/one/a.txt"));
    // A mode that needs a destination without one does not fall back to some other folder.
    r = batch.Run({a}, Req(meSameDirectory, ""));
    EXPECT_EQ(r.problems.size(), 1u);
    EXPECT_FALSE(platform::PathExists(root + "/one/a.txt"));
}

// ---- Destinations, the window's list, the Open dialog -----------------------------------------------------------

TEST(MultiExtractPieces, DestinationsOfTheFourModes) {
    MultiExtractRequest r;
    r.destination = "/out";
    r.mode = meSameDirectory;
    EXPECT_EQ(MultiExtractDestination(r, "/d/a.zip"), "/out/");
    r.mode = meSameDirectorySubdirs;
    EXPECT_EQ(MultiExtractDestination(r, "/d/a.zip"), "/out/a/");
    EXPECT_EQ(MultiExtractDestination(r, "/d/data.tar.gz"), "/out/data.tar/");
    r.mode = meOwnDirectory;
    EXPECT_EQ(MultiExtractDestination(r, "/d/e/a.zip"), "/d/e/");
    r.mode = meOwnDirectorySubdirs;
    EXPECT_EQ(MultiExtractDestination(r, "/d/e/a.b.zip"), "/d/e/a.b/");
    EXPECT_TRUE(ModeCreatesFolder(meSameDirectorySubdirs));
    EXPECT_FALSE(ModeCreatesFolder(meOwnDirectory));
    EXPECT_EQ(std::string(MultiExtractModeCaption(1)), "Same directory & create Subdirs");
    EXPECT_EQ(std::string(MultiExtractModeCaption(3)), "Each in its own Directory & create Subdirs");
    EXPECT_EQ(MultiExtract::ProgressTitle(2, 5), "Status... (File 2 of 5)");
}

TEST(MultiExtractPieces, AddingTheSameFileTwiceLeavesOneRow) {
    MultiExtractList l;
    EXPECT_TRUE(l.Add("/d/a.zip"));
    EXPECT_FALSE(l.Add("/d/a.zip"));
    EXPECT_FALSE(l.Add("/d/./a.zip"));
    EXPECT_TRUE(l.Add("/e/a.zip"));  // same name, other folder
    EXPECT_TRUE(l.Add("/d/A.zip"));  // names differ in case on this system
    ASSERT_EQ(l.Rows().size(), 3u);
    EXPECT_EQ(l.Rows()[0].name, "a.zip");
    EXPECT_EQ(l.Rows()[0].folder, "/d/");
    l.Remove({2, 0, 2, 7, -1});
    EXPECT_EQ(l.Paths(), std::vector<std::string>{"/e/a.zip"});
}

TEST(MultiExtractPieces, EncryptedArchivesAreLeftOutOfTheOpenDialogsChoice) {
    EXPECT_EQ(WithoutEncryptedArchives({"/d/a.zip", "/d/secret.VCA", "/d/b.vca.zip", "/d/c.vca"}),
              (std::vector<std::string>{"/d/a.zip", "/d/b.vca.zip"}));
}

TEST(MultiExtractPieces, TheOpenDialogsFiltersHaveNoEmptyPatternsAndTheAllFilesEntryTakesEveryName) {
    const auto& f = OpenDialogFilters();
    ASSERT_GE(f.size(), 3u);
    EXPECT_EQ(f.front().first, "All archives");
    for (const auto& [caption, patterns] : f) {
        EXPECT_EQ(patterns.find(';'), std::string::npos) << caption;
        EXPECT_EQ(patterns.find("  "), std::string::npos) << caption;
        EXPECT_FALSE(patterns.empty() || patterns.back() == ' ') << caption;
    }
    EXPECT_NE(f[0].second.find("*.tgz"), std::string::npos);
    EXPECT_NE(f[0].second.find("*.vca"), std::string::npos);
    EXPECT_EQ(f[1].second.find("*.vca"), std::string::npos);
    EXPECT_NE(f[1].second.find("*.exe"), std::string::npos);
    EXPECT_EQ(f.back().second, "*");
}

TEST(MultiExtractPieces, PreparingTheDestinationMakesParentsAndFailsOnAFileInTheWay) {
    TempDir t;
    const std::string d = t.Path().string() + "/x/y/z/";
    EXPECT_TRUE(PrepareMultiExtractDestination(d));
    EXPECT_TRUE(platform::DirectoryExists(d));
    WriteFile(t.Path().string() + "/file", std::string("x"));
    EXPECT_FALSE(PrepareMultiExtractDestination(t.Path().string() + "/file/sub"));
    EXPECT_FALSE(PrepareMultiExtractDestination(""));
}

}  // namespace
}  // namespace varnok::app
