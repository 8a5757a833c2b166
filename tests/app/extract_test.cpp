#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "app/archive_model.h"
#include "app/extract.h"
#include "app/paths.h"
#include "platform/fileattr.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using test::FakeFactory;
using test::RecordingView;
using varnok::test::ReadText;
using varnok::test::TempDir;
using varnok::test::WriteFile;

class ExtractTest : public ::testing::Test {
  protected:
    void SetUp() override {
        model.SetEngineFactory(factory);
        model.SetSessionTempDir((tmp / "session").string());
        platform::ForceDirectories((tmp / "session").string());
        out = (tmp / "out").string() + "/";
        platform::ForceDirectories(out);
    }
    // Opens a ZIP with these entries and gives the fake engine the same entries.
    void OpenZip(const std::vector<std::pair<std::string, std::string>>& entries,
                 const std::string& name = "a.zip") {
        std::vector<varnok::test::ZipItem> items;
        for (const auto& [n, d] : entries)
            items.push_back({n, d});
        std::string p = (tmp / name).string();
        WriteFile(p, varnok::test::BuildZip(items));
        factory->archive.entries = entries;
        ASSERT_TRUE(model.Open(p));
    }
    ExtractRequest All(bool overwrite = false) {
        ExtractRequest r;
        r.destination = out;
        r.overwrite = overwrite;
        return r;
    }

    TempDir tmp;
    std::string out;
    Settings settings;
    RecordingView view;
    std::shared_ptr<FakeFactory> factory = std::make_shared<FakeFactory>();
    ArchiveModel model{settings, view};
};

TEST_F(ExtractTest, AnEntryRefusedForItsPasswordIsOneLine) {
    OpenZip({{"docs/a.txt", "a"}, {"docs/b.txt", "b"}, {"c.txt", "c"}});
    factory->archive.passwordRefused = {"docs/a.txt", "docs/b.txt"};
    model.Extractor().Run(All());
    const auto& errors = model.Extractor().Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "a.txt: Invalid password (26517)");
    EXPECT_EQ(errors[1], "b.txt: Invalid password (26517)");
    EXPECT_EQ(ReadText(out + "c.txt"), "c");
}

TEST_F(ExtractTest, TheOverwriteAnswersHoldForOneOperationOnly) {
    OpenZip({{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}, {"d.txt", "new d"}});
    for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt"})
        WriteFile(out + n, std::string("old"));
    view.overwriteAnswers = {OverwriteAnswer::Yes, OverwriteAnswer::No, OverwriteAnswer::YesToAll};
    // Both times in the prompt take the form the window gives the list's dates.
    model.SetDateFormatter([](int64_t t) { return "listed " + std::to_string(t); });
    EXPECT_EQ(model.Extractor().Run(All()), 3);
    ASSERT_EQ(view.prompts.size(), 3u);  // after "Yes to all" nobody is asked
    EXPECT_EQ(ReadText(out + "a.txt"), "new a");
    EXPECT_EQ(ReadText(out + "b.txt"), "old");
    EXPECT_EQ(ReadText(out + "c.txt"), "new c");
    EXPECT_EQ(ReadText(out + "d.txt"), "new d");
    // What the prompt shows: the existing file and the entry as listed.
    EXPECT_EQ(view.prompts[0].existingPath, out + "a.txt");
    EXPECT_EQ(view.prompts[0].existingSize, 3u);
    EXPECT_EQ(view.prompts[0].entryName, "a.txt");
    EXPECT_EQ(view.prompts[0].entrySize, 5u);
    EXPECT_EQ(view.prompts[0].entryTime, model.Text(0, colDate));
    EXPECT_EQ(view.prompts[0].existingTime.rfind("listed ", 0), 0u) << view.prompts[0].existingTime;
    EXPECT_EQ(view.status[0], "3 entry(ies) successfully extracted !");

    // "Yes to all" does not carry into the next operation; "No to all" skips the rest.
    view.prompts.clear();
    for (const char* n : {"a.txt", "b.txt", "c.txt", "d.txt"})
        WriteFile(out + n, std::string("old"));
    view.overwriteAnswers = {OverwriteAnswer::NoToAll};
    EXPECT_EQ(model.Extractor().Run(All()), 0);
    EXPECT_EQ(view.prompts.size(), 1u);
    EXPECT_EQ(ReadText(out + "d.txt"), "old");
    // With overwrite on nothing is asked.
    view.prompts.clear();
    EXPECT_EQ(model.Extractor().Run(All(true)), 4);
    EXPECT_TRUE(view.prompts.empty());
    EXPECT_EQ(ReadText(out + "b.txt"), "new b");
    // The window was disabled and the progress window shown around each run.
    EXPECT_EQ(view.progressOpened, 3);
    EXPECT_EQ(view.progressClosed, 3);
    EXPECT_FALSE(view.busy);
}

TEST_F(ExtractTest, CancelStopsTheRunAndDeletesOnlyFilesItCreated) {
    OpenZip({{"pre.txt", "new"}, {"one.txt", "1"}, {"two.txt", "2"}, {"three.txt", "3"}});
    WriteFile(out + "pre.txt", std::string("precious"));
    view.overwriteAnswers = {OverwriteAnswer::No};
    int events = 0;
    view.onEvents = [&] {
        // The Cancel button, pressed while the second new file is written.
        if (++events == 2) model.Extractor().Cancel();
        EXPECT_TRUE(model.Busy());
        EXPECT_FALSE(model.Enabled(Cmd::Extract));
        EXPECT_FALSE(model.Enabled(Cmd::CloseArchive));
    };
    model.Extractor().Run(All());
    EXPECT_TRUE(model.Extractor().LastRunCancelled());
    EXPECT_EQ(ReadText(out + "pre.txt"), "precious");
    EXPECT_FALSE(platform::PathExists(out + "one.txt"));
    EXPECT_FALSE(platform::PathExists(out + "two.txt"));
    EXPECT_FALSE(platform::PathExists(out + "three.txt"));  // never started
    EXPECT_FALSE(model.Busy());
    EXPECT_TRUE(model.Enabled(Cmd::Extract));

    // Cancel in the overwrite prompt stops the operation too; the file that existed stays.
    view.onEvents = nullptr;
    view.overwriteAnswers = {OverwriteAnswer::Cancel};
    model.Extractor().Run(All());
    EXPECT_TRUE(model.Extractor().LastRunCancelled());
    EXPECT_EQ(ReadText(out + "pre.txt"), "precious");
    EXPECT_FALSE(platform::PathExists(out + "one.txt"));
    EXPECT_TRUE(view.messages.empty());
}

TEST_F(ExtractTest, SkipOlderLeavesNewerFilesAloneWithoutAsking) {
    OpenZip({{"old.txt", "from archive"}, {"newer.txt", "from archive"}});
    WriteFile(out + "old.txt", std::string("disk"));
    WriteFile(out + "newer.txt", std::string("disk"));
    // The archive's entries are from 2024: a file from 2030 is newer, one from 2000 older.
    platform::SetFileTime(out + "old.txt", 946684800);
    platform::SetFileTime(out + "newer.txt", 1893456000);
    ExtractRequest r = All(true);
    r.skipOlder = true;
    EXPECT_EQ(model.Extractor().Run(r), 1);
    EXPECT_EQ(ReadText(out + "old.txt"), "from archive");
    EXPECT_EQ(ReadText(out + "newer.txt"), "disk");
    EXPECT_TRUE(view.prompts.empty());
}

TEST_F(ExtractTest, SelectedRowsAreHandedOverByExactName) {
    OpenZip({{"a*.txt", "star"}, {"ab.txt", "ab"}, {"sub/A*.TXT", "upper"}, {"x?.c", "q"}});
    model.SetSelected(0, true);
    model.SetSelected(2, true);
    ExtractRequest r = All();
    r.selectedOnly = true;
    EXPECT_EQ(model.Extractor().Run(r), 2);
    ASSERT_EQ(factory->jobs.size(), 1u);
    const ExtractJob& job = factory->jobs[0];
    EXPECT_FALSE(job.allEntries);
    EXPECT_EQ(job.names, (std::vector<std::string>{"a*.txt", "sub/A*.TXT"}));
    EXPECT_EQ(job.destination, out);
    EXPECT_FALSE(platform::PathExists(out + "ab.txt"));
    EXPECT_TRUE(platform::PathExists(out + "sub/A*.TXT"));

    // "Selected files" with nothing selected extracts nothing (the engine is not even asked, since it would
    // take no names as all of them).
    model.UnselectAll();
    EXPECT_EQ(model.Extractor().Run(r), 0);
    EXPECT_EQ(factory->jobs.size(), 1u);
    EXPECT_EQ(view.status[0], "0 entry(ies) successfully extracted !");
    // All entries without folder names.
    r.selectedOnly = false;
    r.useFolderNames = false;
    r.overwrite = true;
    model.Extractor().Run(r);
    EXPECT_TRUE(factory->jobs[1].allEntries);
    EXPECT_FALSE(factory->jobs[1].useFolderNames);
    EXPECT_TRUE(platform::PathExists(out + "A*.TXT"));
}

TEST_F(ExtractTest, ErrorsOfARunAreCollectedAndShownTogether) {
    OpenZip({{"a.txt", "1"}, {"b.txt", "2"}, {"c.txt", "3"}});
    factory->archive.errors["a.txt"] = 25136;
    factory->archive.crcFailures = {"c.txt"};
    model.Extractor().Run(All());
    ASSERT_EQ(model.Extractor().Errors().size(), 2u);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].first, "Error");
    EXPECT_NE(view.messages[0].second.find("2 error(s)"), std::string::npos);
    EXPECT_NE(view.messages[0].second.find("a.txt"), std::string::npos);
    EXPECT_NE(view.messages[0].second.find("(25136)"), std::string::npos);
    EXPECT_NE(view.messages[0].second.find("c.txt: File fails CRC check"), std::string::npos);
    EXPECT_EQ(view.logs.size(), 2u);
    // A clean run shows nothing.
    factory->archive.errors.clear();
    factory->archive.crcFailures.clear();
    model.Extractor().Run(All(true));
    EXPECT_EQ(view.messages.size(), 1u);
    EXPECT_TRUE(model.Extractor().ErrorSummary().empty());
}

TEST_F(ExtractTest, ZipSpecificFailures) {
    OpenZip({}, "empty.zip");
    EXPECT_EQ(model.Extractor().Run(All()), -1);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0], (std::pair<std::string, std::string>{"Error", "No files to extract"}));
    EXPECT_TRUE(factory->jobs.empty());

    OpenZip({{"a.txt", "1"}});
    factory->archive.throwFatal = true;
    model.Extractor().Run(All());
    EXPECT_EQ(view.messages.back(), (std::pair<std::string, std::string>{
                                        "Error", "Error in Extract; Fatal DLL Exception in mainunit"}));
    EXPECT_EQ(view.status[0], "0 entry(ies) successfully extracted !");
    EXPECT_FALSE(model.Busy());

    factory->haveZip = false;
    factory->archive.throwFatal = false;
    EXPECT_EQ(model.Extractor().Run(All()), -1);
    EXPECT_EQ(view.messages.back().second, "UNZDLL.DLL not found!");
}

TEST_F(ExtractTest, ExtractingAllOfAZipListsItsFoldersForTheRunOnly) {
    std::vector<varnok::test::ZipItem> items = {{"d/", ""}, {"d/a.txt", "1"}};
    items[0].externalAttr = 0x10;
    std::string p = (tmp / "dirs.zip").string();
    WriteFile(p, varnok::test::BuildZip(items));
    factory->archive.entries = {{"d/", ""}, {"d/a.txt", "1"}};
    ASSERT_TRUE(model.Open(p));
    ASSERT_EQ(model.RowCount(), 1);
    model.SortByColumn(colName);
    int counted = -1;
    view.onEvents = [&] { counted = model.Bridge().Count(); };
    model.Extractor().Run(All());
    EXPECT_EQ(counted, 2);  // the folder entry was listed while extracting
    EXPECT_FALSE(model.Bridge().UseDirOnlyEntries);
    EXPECT_EQ(model.Bridge().Count(), 1);
    EXPECT_EQ(model.RowCount(), 1);  // the rows were left as they were
    EXPECT_EQ(model.SortColumn(), colName);
}

TEST_F(ExtractTest, QuickFormsUseTheSettingsAndTheirDestinations) {
    OpenZip({{"f.txt", "1"}, {"g/h.txt", "2"}}, "pack.zip");
    settings.optZipDirs = false;
    settings.optOverwrite = true;
    EXPECT_EQ(model.Extractor().ExtractToNamedFolder(), 2);
    std::string named = (tmp / "pack").string() + "/";
    EXPECT_EQ(factory->jobs.back().destination, named);
    EXPECT_TRUE(platform::FileExists(named + "h.txt"));  // no folder names
    EXPECT_TRUE(factory->jobs.back().allEntries);

    EXPECT_EQ(model.Extractor().ExtractHere(), 2);
    EXPECT_EQ(factory->jobs.back().destination, tmp.Path().string() + "/");

    settings.optFavFolder = (tmp / "missing").string();
    EXPECT_EQ(model.Extractor().ExtractToFavourite(), -1);
    EXPECT_EQ(view.messages.back(),
              (std::pair<std::string, std::string>{"Question", "Directory does not exist !"}));
    settings.optFavFolder = out;
    EXPECT_EQ(model.Extractor().ExtractToFavourite(), 2);

    // The extract dialog's choices: remembered, pushed onto the destination history, and used by the
    // remembered destinations (always with folder names).
    LastExtractChoices c;
    c.destination = (tmp / "dlg").string() + "/";
    c.selectedOnly = true;
    c.useFolderNames = false;
    c.overwrite = true;
    model.SetSelected(1, true);
    EXPECT_EQ(model.Extractor().RunDialogChoices(c), 1);
    EXPECT_EQ(settings.ExtractHistory.Slots()[0], c.destination);
    EXPECT_TRUE(platform::FileExists(c.destination + "h.txt"));
    std::string again = (tmp / "again/deeper").string() + "/";
    EXPECT_EQ(model.Extractor().ExtractToRemembered(again), 1);
    EXPECT_TRUE(factory->jobs.back().useFolderNames);
    EXPECT_TRUE(factory->jobs.back().overwrite);
    EXPECT_TRUE(platform::FileExists(again + "g/h.txt"));

    size_t jobs = factory->jobs.size();
    c.cancelled = true;
    EXPECT_EQ(model.Extractor().RunDialogChoices(c), -1);
    EXPECT_EQ(factory->jobs.size(), jobs);
    EXPECT_TRUE(model.Extractor().Last().cancelled);
}

TEST_F(ExtractTest, AnArchiveHoldingOneTarFileOpensThatTarFile) {
    auto inner = varnok::test::BuildTar({{"x.txt", "1"}, {"y.txt", "2"}, {"z.txt", "3"}});
    std::string innerText(inner.begin(), inner.end());
    std::string outer = (tmp / "outer.tar").string();
    WriteFile(outer, varnok::test::BuildTar({{"data.TAR", innerText}}));
    factory->archive.entries = {{"data.TAR", innerText}};
    ASSERT_TRUE(model.Open(outer));
    ASSERT_EQ(factory->jobs.size(), 1u);
    EXPECT_FALSE(factory->jobs[0].useFolderNames);
    EXPECT_TRUE(factory->jobs[0].overwrite);
    EXPECT_EQ(factory->jobs[0].names, (std::vector<std::string>{"data.TAR"}));
    EXPECT_EQ(model.ArchivePath(), (tmp / "session/data.TAR").string());
    EXPECT_EQ(model.RowCount(), 3);
    EXPECT_EQ(view.title, "Varnok - data.TAR");
    EXPECT_EQ(settings.OpenHistory.Slots()[0], model.ArchivePath());
    // Without an extractor the archive itself stays open.
    factory->haveComponent = false;
    ASSERT_TRUE(model.Open(outer));
    EXPECT_EQ(model.ArchivePath(), outer);
    EXPECT_EQ(model.RowCount(), 1);
}

TEST_F(ExtractTest, AnEncodedArchiveIsDecodedAndTheDecodedFileOpened) {
    std::string uue = (tmp / "mail.uue").string();
    WriteFile(uue, std::string("header text\nbegin 644 pictures.zip\nM(&)A\n`\nend\n"));
    auto zip = varnok::test::BuildZip({{"p1.gif", "GIF89a"}, {"p2.gif", "GIF89a"}});
    factory->archive.entries = {{"pictures.zip", std::string(zip.begin(), zip.end())}};
    view.askAnswers = {true};
    ASSERT_TRUE(model.Open(uue));
    ASSERT_EQ(view.questions.size(), 1u);
    EXPECT_EQ(view.questions[0].first, "Question");
    EXPECT_EQ(view.questions[0].second,
              "This is an encoded archive. \n\rDo you want to extract it to the temp foler and open it?");
    // The decoded file is opened under the name of its "begin" line.
    EXPECT_EQ(model.ArchivePath(), (tmp / "session/pictures.zip").string());
    EXPECT_EQ(model.Engine(), EngineKind::ZipBridge);
    EXPECT_EQ(model.RowCount(), 2);
    // Answering No keeps the encoded file open.
    view.askAnswers = {false};
    ASSERT_TRUE(model.Open(uue));
    EXPECT_EQ(model.ArchivePath(), uue);
    EXPECT_EQ(model.ArcType(), atUue);
}

}  // namespace
}  // namespace varnok::app
