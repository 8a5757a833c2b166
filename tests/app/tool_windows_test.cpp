// The tool windows' runs on real archives, without a display: what they write, what they leave behind when
// stopped or failing, and what they tell the user.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>

#include "app/extract.h"
#include "app/placement.h"
#include "app/settings.h"
#include "app/tool_windows.h"
#include "archive/tools/zipcheck.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

namespace fs = std::filesystem;
using varnok::test::ReadFile;
using varnok::test::TempDir;
using varnok::test::WriteFile;

// Records what a tool shows and answers its questions from queues.
struct ToolRecorder : ToolView {
    std::vector<std::pair<std::string, std::string>> messages;
    std::vector<std::string> questions;
    std::deque<int> answers;  // 0 yes, 1 no, 2 cancel; empty: no
    std::vector<std::string> summary, details;
    int progressOpened = 0, progressClosed = 0;
    std::vector<std::pair<int, int>> bars;
    // Called on every ProcessEvents: a user acting while the run goes on.
    std::function<void()> onEvents;

    void ClearLogs() override {
        summary.clear();
        details.clear();
    }
    void SummaryLine(const std::string& l) override { summary.push_back(l); }
    void DetailsLine(const std::string& l) override { details.push_back(l); }
    void DetailsAppend(const std::string& t) override {
        if (details.empty()) details.emplace_back();
        details.back() += t;
    }
    void Message(const std::string& t, const std::string& text) override { messages.emplace_back(t, text); }
    int Next() {
        if (answers.empty()) return 1;
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    bool AskYesNo(const std::string&, const std::string& text) override {
        questions.push_back(text);
        return Next() == 0;
    }
    int AskYesNoCancel(const std::string&, const std::string& text) override {
        questions.push_back(text);
        return Next();
    }
    void ProgressOpen(const std::string&) override { ++progressOpened; }
    void ProgressClose() override { ++progressClosed; }
    void ListBar(int done, int total) override { bars.emplace_back(done, total); }
    void ProcessEvents() override {
        if (onEvents) onEvents();
    }
    bool Said(const std::string& title) const {
        for (const auto& m : messages)
            if (m.first == title) return true;
        return false;
    }
};

// The names in a folder (not recursive).
std::vector<std::string> Names(const fs::path& dir) {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(dir))
        n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
}

std::string SampleZip(const fs::path& dir, const std::string& name = "pack.zip") {
    std::vector<varnok::test::ZipItem> items;
    for (int i = 0; i < 6; ++i)
        items.push_back({"dir/f" + std::to_string(i) + ".txt", std::string(40000 + i, static_cast<char>('a' + i))});
    items.push_back({"top.txt", "top level"});
    const std::string p = (dir / name).string();
    WriteFile(p, varnok::test::BuildZip(items));
    return p;
}

// Whether an archive tests sound with every entry, and how many entries it has.
int SoundEntries(const std::string& path) {
    TZipCheck ck;
    ck.SetArchiveFile(path);
    ck.FileSpec = {"*.*"};
    int n = 0;
    ck.OnStatus = [&](TZipCommon&, const std::string&, bool pass) { n += pass ? 1 : -1000; };
    return ck.Test() ? n : -1;
}

// ---- Encode -------------------------------------------------------------------------------------------------

TEST(EncodeTool, TheTargetFollowsTheSourceTheEncodingAndTheChosenFolder) {
    ToolRecorder v;
    EncodeTool t(v);
    t.Start("/srv/a/pack.zip");
    EXPECT_EQ(t.target, "/srv/a/pack.uue");
    t.SetEncoding(TextEncoding::XXE);
    EXPECT_EQ(t.target, "/srv/a/pack.xxe");
    t.ChooseTargetFolder("/tmp/out");
    EXPECT_EQ(t.target, "/tmp/out/pack.xxe");
    t.Start("");
    EXPECT_FALSE(t.OkEnabled());
    EXPECT_FALSE(t.ChooseSource("/no/such/file.zip"));
    ASSERT_EQ(v.messages.size(), 1u);
    EXPECT_EQ(v.messages[0].second, kMissingArchiveText);
}

TEST(EncodeTool, SuccessIsSaidOnlyForAWrittenTextAndAKeptTargetStaysAsItWas) {
    TempDir d;
    const std::string src = SampleZip(d.Path());
    ToolRecorder v;
    EncodeTool t(v);
    t.Start(src);
    ASSERT_EQ(t.Run(true), ToolResult::Done);
    ASSERT_EQ(v.messages.size(), 1u);
    EXPECT_EQ(v.messages[0], std::make_pair(std::string("Information"), std::string("The archive was succesfully encoded.")));
    const std::string text = varnok::test::ReadText(t.target);
    EXPECT_NE(text.find("begin 644 pack.zip"), std::string::npos);

    // Run again: the user keeps the existing text; nothing changes and nothing claims success.
    const auto before = ReadFile(t.target);
    v.messages.clear();
    v.answers = {1};
    EXPECT_EQ(t.Run(true), ToolResult::Cancelled);
    ASSERT_EQ(v.questions.size(), 1u);
    EXPECT_EQ(v.questions[0], "File " + t.target + " already exists. Overwrite it?");
    EXPECT_TRUE(v.messages.empty());
    EXPECT_EQ(ReadFile(t.target), before);
    EXPECT_EQ(Names(d.Path()), (std::vector<std::string>{"pack.uue", "pack.zip"}));
}

TEST(EncodeTool, AFailedWriteShowsOneErrorAndNoSuccess) {
    TempDir d;
    const std::string src = SampleZip(d.Path());
    ToolRecorder v;
    EncodeTool t(v);
    t.Start(src);
    t.target = (d.Path() / "missing-folder/pack.uue").string();
    EXPECT_EQ(t.Run(false), ToolResult::Failed);
    ASSERT_EQ(v.messages.size(), 1u);
    EXPECT_EQ(v.messages[0].first, "Error");
    EXPECT_EQ(v.messages[0].second.rfind("An error occured while encoding archive. Process canceled.", 0), 0u);
    EXPECT_FALSE(v.Said("Information"));
}

TEST(EncodeTool, TheSourceMustExistAndBeAnArchiveWhenAsked) {
    TempDir d;
    WriteFile(d / "notes.txt", std::string("just text, no archive"));
    ToolRecorder v;
    EncodeTool t(v);
    t.source = (d / "gone.zip").string();
    t.target = (d / "gone.uue").string();
    EXPECT_EQ(t.Run(false), ToolResult::Refused);
    t.source = (d / "notes.txt").string();
    EXPECT_EQ(t.Run(true), ToolResult::Refused);
    ASSERT_EQ(v.messages.size(), 2u);
    EXPECT_EQ(v.messages[0].second, kSourceMissingText);
    EXPECT_EQ(v.messages[1].second, kSourceInvalidText);
    // Without the check any file is encoded.
    EXPECT_EQ(t.Run(false), ToolResult::Done);
}

TEST(EncodeTool, CancelledAtAnyPointLeavesNoTextBehind) {
    TempDir d;
    std::vector<varnok::test::ZipItem> items{{"big.bin", std::string(1'000'000, 'x')}};
    WriteFile(d / "big.zip", varnok::test::BuildZip(items));
    for (int stopAt = 1; stopAt < 200; ++stopAt) {
        ToolRecorder v;
        EncodeTool t(v);
        t.Start((d / "big.zip").string());
        int calls = 0;
        v.onEvents = [&] {
            if (++calls == stopAt) t.Cancel();
        };
        const ToolResult r = t.Run(false);
        if (calls < stopAt) {
            // The run ended before this step: every step has been tried.
            ASSERT_EQ(r, ToolResult::Done);
            break;
        }
        EXPECT_EQ(r, ToolResult::Cancelled) << stopAt;
        EXPECT_TRUE(v.messages.empty()) << stopAt;
        EXPECT_EQ(Names(d.Path()), std::vector<std::string>{"big.zip"}) << stopAt;
    }
}

// ---- Convert ------------------------------------------------------------------------------------------------

TEST(ConvertTool, TargetNamesFollowTheTypeAndTheDestination) {
    ToolRecorder v;
    ConvertTool t(v);
    t.options.folder = "/out";
    t.options.type = ConvertType::Lha;
    EXPECT_EQ(t.TargetName("/in/a.zip"), "/out/a.lha");
    t.options.type = ConvertType::GzipTar;
    EXPECT_EQ(t.TargetName("/in/a.tar.gz"), "/out/a.tar.gz");
    t.options.ownDirectory = true;
    t.options.type = ConvertType::Bh;
    EXPECT_EQ(t.TargetName("/in/a.zip"), "/in/a.bh");
}

TEST(ConvertTool, AZipBecomesASoundArchiveOfEveryWritableType) {
    TempDir d;
    const std::string src = SampleZip(d.Path());
    fs::create_directories(d / "tmp");
    const auto original = ReadFile(src);
    int converted = 0;
    for (int i = 0; i < kConvertTypeCount; ++i) {
        const auto type = static_cast<ConvertType>(i);
        if (!ConvertTool::TypeAvailable(type)) continue;
        ToolRecorder v;
        ConvertTool t(v);
        t.list.Add({src}, v);
        t.options.type = type;
        t.options.folder = (d / "out").string();
        t.options.tempDir = (d / "tmp").string();
        ASSERT_EQ(t.Run(), ToolResult::Done) << ConvertTool::TypeCaption(type) << ::testing::PrintToString(v.messages);
        ASSERT_EQ(t.Written().size(), 1u);
        EXPECT_EQ(SoundEntries(t.Written()[0]), 7) << t.Written()[0];
        EXPECT_EQ(v.messages.back(), std::make_pair(std::string("Information"), std::string("All files have been converted.")));
        EXPECT_TRUE(t.list.Empty());
        EXPECT_NE(std::find(t.Log().begin(), t.Log().end(), "Converting " + src + " ..."), t.Log().end());
        ++converted;
    }
    EXPECT_GE(converted, 4);
    EXPECT_EQ(ReadFile(src), original);
    EXPECT_TRUE(fs::is_empty(d / "tmp"));
}

TEST(ConvertTool, CancelledAtEveryStepLeavesTheArchivesAsTheyWere) {
    TempDir d;
    const std::string src = SampleZip(d.Path());
    fs::create_directories(d / "out");
    fs::create_directories(d / "tmp");
    // An existing target that "Add to archive" would grow.
    WriteFile(d / "out/pack.zip", varnok::test::BuildZip({{"old/one.txt", std::string(30000, 'o')}}));
    const auto original = ReadFile(src);
    const auto existing = ReadFile(d / "out/pack.zip");
    bool finished = false;
    for (int stopAt = 1; stopAt < 400 && !finished; ++stopAt) {
        ToolRecorder v;
        ConvertTool t(v);
        t.list.Add({src}, v);
        t.options.type = ConvertType::Zip;
        t.options.addToArchive = true;
        t.options.folder = (d / "out").string();
        t.options.tempDir = (d / "tmp").string();
        int calls = 0;
        v.onEvents = [&] {
            if (++calls == stopAt) t.Cancel();
        };
        const ToolResult r = t.Run();
        if (calls < stopAt) {
            ASSERT_EQ(r, ToolResult::Done) << stopAt << ::testing::PrintToString(v.messages);
            finished = true;
            break;
        }
        EXPECT_EQ(r, ToolResult::Cancelled) << stopAt;
        EXPECT_FALSE(v.Said("Information")) << stopAt;
        EXPECT_EQ(ReadFile(src), original) << stopAt;
        EXPECT_EQ(ReadFile(d / "out/pack.zip"), existing) << stopAt;
        EXPECT_EQ(Names(d / "out"), std::vector<std::string>{"pack.zip"}) << stopAt;
        EXPECT_TRUE(fs::is_empty(d / "tmp")) << stopAt;
        EXPECT_EQ(t.list.Files(), std::vector<std::string>{src}) << stopAt;
    }
    EXPECT_TRUE(finished);
}

TEST(ConvertTool, AFailedSourceIsNamedOnceStaysListedAndNothingClaimsSuccess) {
    TempDir d;
    const std::string good = SampleZip(d.Path(), "good.zip");
    // A ZIP whose stored data was damaged after it was written: extraction fails its check.
    auto bytes = varnok::test::BuildZip({{"a.txt", std::string(5000, 'a')}, {"b.txt", "bbbb"}});
    bytes[100] ^= 0x55;
    WriteFile(d / "bad.zip", bytes);
    const std::string bad = (d / "bad.zip").string();
    ToolRecorder v;
    ConvertTool t(v);
    t.list.Add({bad, good}, v);
    t.options.type = ConvertType::Zip;
    t.options.folder = (d / "out").string();
    t.options.tempDir = d.Path().string();
    t.options.deleteSource = true;
    EXPECT_EQ(t.Run(), ToolResult::Failed);
    EXPECT_FALSE(v.Said("Information"));
    ASSERT_EQ(v.messages.size(), 1u);
    EXPECT_EQ(v.messages[0].first, "Error");
    EXPECT_NE(v.messages[0].second.find("bad.zip"), std::string::npos);
    // The good one was converted (and, as asked, its source removed); the bad one is still there and listed.
    EXPECT_EQ(t.list.Files(), std::vector<std::string>{bad});
    EXPECT_TRUE(fs::exists(bad));
    EXPECT_FALSE(fs::exists(good));
    EXPECT_FALSE(fs::exists(d / "out/bad.zip"));
    EXPECT_EQ(SoundEntries((d / "out/good.zip").string()), 7);
}

TEST(ConvertTool, AnExistingTargetIsReplacedOnlyWhenTheUserSaysSo) {
    TempDir d;
    const std::string src = SampleZip(d.Path());
    WriteFile(d / "pack.bh", std::string("keep me"));
    ToolRecorder v;
    ConvertTool t(v);
    t.list.Add({src}, v);
    t.options.ownDirectory = true;
    t.options.tempDir = d.Path().string();
    if (!ConvertTool::TypeAvailable(ConvertType::Bh)) GTEST_SKIP() << "no BH writer";
    v.answers = {1};
    EXPECT_EQ(t.Run(), ToolResult::Failed);
    EXPECT_EQ(varnok::test::ReadText(d / "pack.bh"), "keep me");
    EXPECT_FALSE(v.Said("Information"));
    v.answers = {0};
    EXPECT_EQ(t.Run(), ToolResult::Done);
    EXPECT_EQ(SoundEntries((d / "pack.bh").string()), 7);
}

// ---- Test ---------------------------------------------------------------------------------------------------

TEST(TestTool, ADamagedEntryMakesItsArchiveInvalidAndTheNextSoundOneStaysValid) {
    TempDir d;
    auto lzh = varnok::test::BuildLzh({{"one.txt", std::string(3000, '1')}, {"two.txt", std::string(3000, '2')}});
    auto damaged = lzh;
    damaged[200] ^= 0x20;  // inside the first entry's data
    WriteFile(d / "bad.lzh", damaged);
    WriteFile(d / "good.lzh", lzh);
    ToolRecorder v;
    TestTool t(v);
    t.list.Add({(d / "bad.lzh").string(), (d / "good.lzh").string()}, v);
    EXPECT_EQ(t.Run(), ToolResult::Failed);
    ASSERT_EQ(t.Summary().size(), 2u);
    EXPECT_EQ(t.Summary()[0], "INVALID: Archive " + (d / "bad.lzh").string() + " tested, 1 errors were found.");
    EXPECT_EQ(t.Summary()[1], "VALID: Archive " + (d / "good.lzh").string() + " tested, no errors were found.");
    const auto& det = t.Details();
    EXPECT_EQ(std::count_if(det.begin(), det.end(),
                            [](const std::string& l) { return l.find(": failed") != std::string::npos; }),
              1);
    EXPECT_NE(std::find(det.begin(), det.end(), "1 error(s) or warning(s) were detected"), det.end());
    EXPECT_NE(std::find(det.begin(), det.end(), "Tested file one.txt: ok"), det.end());
}

TEST(TestTool, AZipWithADamagedEntryIsNeverValid) {
    TempDir d;
    auto bytes = varnok::test::BuildZip({{"a.txt", std::string(5000, 'a')}, {"b.txt", "bbbb"}});
    WriteFile(d / "good.ZIP", bytes);
    bytes[100] ^= 0x55;
    WriteFile(d / "bad.zip", bytes);
    ToolRecorder v;
    TestTool t(v);
    t.tempDir = d.Path().string();
    t.list.Add({(d / "bad.zip").string(), (d / "good.ZIP").string()}, v);
    EXPECT_TRUE(TestTool::TestedAsZip((d / "good.ZIP").string()));
    EXPECT_EQ(t.Run(), ToolResult::Failed);
    ASSERT_EQ(t.Verdicts().size(), 2u);
    EXPECT_FALSE(t.Verdicts()[0].valid);
    EXPECT_GE(t.Verdicts()[0].errors, 1);
    EXPECT_EQ(t.Summary()[0].rfind("INVALID: Archive " + (d / "bad.zip").string() + " tested, ", 0), 0u);
    EXPECT_TRUE(t.Verdicts()[1].valid) << ::testing::PrintToString(t.Details());
    EXPECT_EQ(Names(d.Path()), (std::vector<std::string>{"bad.zip", "good.ZIP"}));
}

TEST(TestTool, WhatCannotBeTestedIsNotAValidArchive) {
    TempDir d;
    WriteFile(d / "text.lzh", std::string("this is no archive at all, just words"));
    WriteFile(d / "text.zip", std::string("neither is this one"));
    ToolRecorder v;
    TestTool t(v);
    t.tempDir = d.Path().string();
    t.list.Add({(d / "text.lzh").string(), (d / "text.zip").string()}, v);
    EXPECT_EQ(t.Run(), ToolResult::Failed);
    ASSERT_EQ(t.Summary().size(), 2u);
    EXPECT_EQ(t.Summary()[0], "INVALID: Archive " + (d / "text.lzh").string() + " is not an valid archive");
    EXPECT_EQ(t.Summary()[1].rfind("INVALID: Archive " + (d / "text.zip").string(), 0), 0u);
}

TEST(TestTool, AStoppedTestIsNotValid) {
    TempDir d;
    std::vector<varnok::test::LzhItem> items;
    for (int i = 0; i < 20; ++i)
        items.push_back({"f" + std::to_string(i), std::string(50000, static_cast<char>('a' + i))});
    WriteFile(d / "many.lzh", varnok::test::BuildLzh(items));
    ToolRecorder v;
    TestTool t(v);
    t.list.Add({(d / "many.lzh").string()}, v);
    v.onEvents = [&] { t.Cancel(); };
    EXPECT_EQ(t.Run(), ToolResult::Cancelled);
    ASSERT_EQ(t.Summary().size(), 1u);
    EXPECT_EQ(t.Summary()[0].rfind("INVALID: ", 0), 0u);
}

// ---- Repair -------------------------------------------------------------------------------------------------

TEST(RepairTool, AZipWithoutItsDirectoryIsRebuiltBesideIt) {
    TempDir d;
    varnok::test::ZipOptions cut;
    cut.omitCentral = true;
    WriteFile(d / "damaged.zip", varnok::test::BuildZip({{"a.txt", "alpha"}, {"b/c.txt", "gamma"}}, cut));
    const auto before = ReadFile(d / "damaged.zip");
    ToolRecorder v;
    RepairTool t(v);
    t.list.Add({(d / "damaged.zip").string()}, v);
    ASSERT_EQ(t.Run(), ToolResult::Done);
    const std::string fixed = (d / "damaged_fixed.zip").string();
    EXPECT_EQ(t.Written(), std::vector<std::string>{fixed});
    EXPECT_EQ(SoundEntries(fixed), 2);
    EXPECT_EQ(ReadFile(d / "damaged.zip"), before);
    EXPECT_EQ(t.Summary().front(), "Fixing file " + (d / "damaged.zip").string() + " ...");
    EXPECT_NE(std::find(t.Summary().begin(), t.Summary().end(), "...done, new filename is " + fixed), t.Summary().end());
    EXPECT_NE(std::find(t.Details().begin(), t.Details().end(), "a.txt ...Ok"), t.Details().end());
    // The bar went over the list and was hidden at the end.
    EXPECT_EQ(v.bars.front(), std::make_pair(0, 1));
    EXPECT_EQ(v.bars.back(), std::make_pair(0, 0));
    EXPECT_TRUE(v.messages.empty());
}

TEST(RepairTool, NothingToRecoverLeavesNoFileAndSaysSo) {
    TempDir d;
    WriteFile(d / "junk.zip", std::string(4000, 'j'));
    ToolRecorder v;
    RepairTool t(v);
    t.list.Add({(d / "junk.zip").string()}, v);
    EXPECT_EQ(t.Run(), ToolResult::Failed);
    ASSERT_EQ(v.messages.size(), 1u);
    EXPECT_EQ(v.messages[0].first, "Error");
    EXPECT_NE(v.messages[0].second.find("junk.zip"), std::string::npos);
    EXPECT_EQ(Names(d.Path()), std::vector<std::string>{"junk.zip"});
}

TEST(RepairTool, AnExistingRepairIsKeptUnlessReplacing) {
    TempDir d;
    WriteFile(d / "x.zip", varnok::test::BuildZip({{"a.txt", "alpha"}}));
    WriteFile(d / "x_fixed.zip", std::string("mine"));
    ToolRecorder v;
    RepairTool t(v);
    t.list.Add({(d / "x.zip").string()}, v);
    v.answers = {1};
    EXPECT_EQ(t.Run(), ToolResult::Done);
    EXPECT_EQ(varnok::test::ReadText(d / "x_fixed.zip"), "mine");
    v.answers = {0};
    EXPECT_EQ(t.Run(), ToolResult::Done);
    EXPECT_EQ(SoundEntries((d / "x_fixed.zip").string()), 1);
}

TEST(RepairTool, CancelledAtEveryStepWritesNothing) {
    TempDir d;
    std::vector<varnok::test::ZipItem> items;
    for (int i = 0; i < 12; ++i)
        items.push_back({"f" + std::to_string(i), std::string(200000, static_cast<char>('a' + i))});
    WriteFile(d / "big.zip", varnok::test::BuildZip(items));
    const auto before = ReadFile(d / "big.zip");
    bool finished = false;
    for (int stopAt = 1; stopAt < 400 && !finished; ++stopAt) {
        ToolRecorder v;
        RepairTool t(v);
        t.list.Add({(d / "big.zip").string()}, v);
        int calls = 0;
        v.onEvents = [&] {
            if (++calls == stopAt) t.Cancel();
        };
        const ToolResult r = t.Run();
        if (calls < stopAt) {
            ASSERT_EQ(r, ToolResult::Done) << stopAt << ::testing::PrintToString(v.messages);
            finished = true;
            break;
        }
        EXPECT_EQ(r, ToolResult::Cancelled) << stopAt;
        EXPECT_EQ(Names(d.Path()), std::vector<std::string>{"big.zip"}) << stopAt;
        EXPECT_EQ(ReadFile(d / "big.zip"), before) << stopAt;
    }
    EXPECT_TRUE(finished);
}

// ---- The window around them ---------------------------------------------------------------------------------

TEST(ToolCommands, TheExtractDialogOffersTheSelectionWhenRowsAreSelected) {
    EXPECT_TRUE(ExtractDialogStartsWithSelection(false, 2));
    EXPECT_TRUE(ExtractDialogStartsWithSelection(true, 0));
    EXPECT_FALSE(ExtractDialogStartsWithSelection(false, 0));
}

TEST(ToolCommands, TheFirstStartWindowShowsEveryColumnOnACommonScreen) {
    IniFile empty;
    Settings s;
    s.Load(empty);
    int columns = 0;
    for (int c = 0; c < kColumnCount; ++c)
        columns += s.ColumnWidth(c);
    // The list's frame and vertical scroll bar need some 25 pixels beside the columns.
    EXPECT_GE(s.Width, columns + 25);
    EXPECT_LE(s.Width, 1366);
    EXPECT_LE(s.Height, 768 - 60);
    WindowRect r = FitToScreen({0, 0, s.Width, s.Height}, 1366, 728);
    EXPECT_EQ(r.width, s.Width);
    EXPECT_EQ(r.height, s.Height);
}

}  // namespace
}  // namespace varnok::app
