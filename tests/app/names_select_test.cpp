// A name shown anywhere is the name that selects: every entry the lister or the ZIP bridge shows, for names
// flagged UTF-8, written by DOS archivers in their OEM code page, by Unix ones in Latin-1, in CP866 or in
// CP932, extracts alone when selected by that name, and under it, in every extractor, in the extract engine
// library, on the command line and in the window.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "app/archive_model.h"
#include "app/extract.h"
#include "archive/core/lister.h"
#include "archive/extractors.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"
#include "zipbridge/zip_bridge.h"

namespace varnok::app {
namespace {

namespace fs = std::filesystem;
namespace vt = varnok::test;
using varnok::test::TempDir;

struct Case {
    std::string file;
    std::vector<uint8_t> bytes;
    std::map<std::string, std::string> shown;  // the names as their authors typed them -> contents
};

vt::ZipItem ZipEntry(const std::string& raw, const std::string& data, uint8_t host, uint16_t flags = 0) {
    vt::ZipItem i{raw, data};
    i.host = host;
    i.flags = flags;
    return i;
}

std::vector<Case> Cases() {
    std::vector<Case> c;
    c.push_back(
        {"flagged.zip",
         vt::BuildZip({ZipEntry("\xC3\x96lf\xC3\xA4sser.txt", "1", 0, 0x800),
                       ZipEntry("\xE6\x97\xA5\xE6\x9C\xAC/\xE8\xB3\x87\xE6\x96\x99.txt", "2", 3, 0x800)}),
         {{"Ölfässer.txt", "1"}, {"日本/資料.txt", "2"}}});
    c.push_back({"dos.zip",
                 vt::BuildZip({ZipEntry("\x81"
                                        "ber.txt",
                                        "3", 0),
                               ZipEntry("Gr\x94\xE1"
                                        "e\\\x84rger.txt",
                                        "4", 0)}),
                 {{"über.txt", "3"}, {"Größe/ärger.txt", "4"}}});
    c.push_back(
        {"latin1.zip",
         vt::BuildZip({ZipEntry("caf\xE9.txt", "5", 3), ZipEntry("na\xEFve/r\xE9sum\xE9.txt", "6", 3)}),
         {{"café.txt", "5"}, {"naïve/résumé.txt", "6"}}});
    c.push_back({"cp866.zip",
                 vt::BuildZip({ZipEntry("\x8F\x90\x88\x82\x85\x92.txt", "7", 3),
                               ZipEntry("\xAF\xE0\xA8\xA2\xA5\xE2/\xAC\xA8\xE0.txt", "8", 3)}),
                 {{"ПРИВЕТ.txt", "7"}, {"привет/мир.txt", "8"}}});
    c.push_back({"cp932.lzh",
                 vt::BuildLzh({{"\x8A\xBF\x8E\x9A.txt", "9", 2, 'M'},
                               {"\x95\x5C.txt", "10", 2, 'M'},
                               {"\x95\x5C\x82\xBE\x82\xE6\\\x88\xEA\x97\x97\x95\x5C.txt", "11", 1, 'M'}}),
                 {{"漢字.txt", "9"}, {"表.txt", "10"}, {"表だよ/一覧表.txt", "11"}}});
    c.push_back({"cp866.arj",
                 vt::BuildArj({{"\x8F\x90\x88\x82\x85\x92.TXT", "12", 0},
                               {"\x84\xAE\xAA\xE3\xAC\xA5\xAD\xE2\xEB\\\xAE\xE2\xE7\xA5\xE2.DOC", "13", 0}}),
                 {{"ПРИВЕТ.TXT", "12"}, {"Документы/отчет.DOC", "13"}}});
    c.push_back({"latin1.arj",
                 vt::BuildArj({{"caf\xE9.txt", "14", 2}, {"na\xEFve/r\xE9sum\xE9.txt", "15", 2}}),
                 {{"café.txt", "14"}, {"naïve/résumé.txt", "15"}}});
    return c;
}

std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> out;
    if (!fs::exists(root)) return out;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) out[fs::relative(e.path(), root).string()] = vt::ReadText(e.path());
    return out;
}

std::vector<std::string> Listed(const std::string& path) {
    TArcLister l;
    std::vector<std::string> names;
    l.OnRead = [&](TZipCommon&, uint64_t, int) { names.push_back(l.Entry().EntryName); };
    l.FileSpec = {"*.*"};
    l.SetArchiveFile(path);
    l.ReadArchive();
    return names;
}

class NamesSelect : public ::testing::Test {
  protected:
    TempDir tmp;
};

TEST_F(NamesSelect, EveryShownNameSelectsItsEntryEverywhere) {
    for (const Case& c : Cases()) {
        const fs::path archive = tmp / c.file;
        vt::WriteFile(archive, c.bytes);
        SCOPED_TRACE(c.file);

        // The lister shows the names as typed; the ZIP bridge shows the same.
        std::vector<std::string> listed = Listed(archive.string());
        std::vector<std::string> want;
        for (const auto& [n, d] : c.shown)
            want.push_back(n);
        std::sort(listed.begin(), listed.end());
        ASSERT_EQ(listed, want);
        const bool zip = archive.extension() == ".zip";
        if (zip) {
            TZipBridge bridge;
            bridge.Unattended = true;
            bridge.SetZipFileName(archive.string());
            std::vector<std::string> shown;
            for (const auto& e : bridge.Entries())
                shown.push_back(e.FileName);
            std::sort(shown.begin(), shown.end());
            EXPECT_EQ(shown, want);
        }

        for (const auto& [name, data] : c.shown) {
            SCOPED_TRACE(name);
            const std::map<std::string, std::string> alone{{name, data}};
            // The family's extractor, selected by the name.
            {
                const fs::path out = tmp / "component";
                fs::remove_all(out);
                TArcLister probe;
                probe.SetArchiveFile(archive.string());
                auto x = CreateExtractor(probe.ArcType());
                ASSERT_TRUE(x);
                x->SetArchiveFile(archive.string());
                x->FileSpec = {name};
                x->ExtractDir = out.string();
                x->ConfirmOverwrites = false;
                x->CreateStoredDirs = true;
                x->ExtractArchive();
                EXPECT_EQ(Tree(out), alone) << "extractor";
            }
            // The command line.
            {
                const fs::path out = tmp / "cli";
                fs::remove_all(out);
                std::string cmd = vt::Quote(vt::BinDir() / "varnok-cli") + " extract " + vt::Quote(archive) +
                                  " " + vt::Quote(name) + " -d " + vt::Quote(out) + " >/dev/null 2>&1";
                EXPECT_EQ(vt::Run(cmd), 0) << "varnok-cli";
                EXPECT_EQ(Tree(out), alone) << "varnok-cli";
            }
            // The window: the row shown under the name, selected alone.
            {
                const fs::path out = tmp / "window";
                fs::remove_all(out);
                Settings settings;
                test::RecordingView view;
                ArchiveModel model(settings, view);
                ASSERT_TRUE(model.Open(archive.string()));
                int row = -1;
                for (int i = 0; i < model.RowCount(); ++i)
                    if (model.Row(i).StoredName() == name) row = i;
                ASSERT_GE(row, 0) << "no row shows the name";
                model.SetSelected(row, true);
                ExtractRequest r;
                r.selectedOnly = true;
                r.destination = out.string() + "/";
                EXPECT_EQ(model.Extractor().Run(r), 1) << "window";
                EXPECT_EQ(Tree(out), alone) << "window";
                EXPECT_TRUE(view.messages.empty()) << (view.messages.empty() ? "" : view.messages[0].second);
            }
            // The extract engine library, by the bridge's exact pattern of the name it shows.
            if (zip) {
                const fs::path out = tmp / "engine";
                fs::remove_all(out);
                TZipBridge bridge;
                bridge.Unattended = true;
                bridge.SetZipFileName(archive.string());
                bridge.ExtrBaseDir = out.string();
                bridge.ExtrOptions = ExtrOpts{ExtrDirNames, ExtrOverWrite};
                bridge.FSpecArgs = {TZipBridge::ExactSpec(name)};
                EXPECT_EQ(bridge.Extract(), 1) << "engine: " << bridge.LastMessage();
                EXPECT_EQ(Tree(out), alone) << "engine";
            }
        }
    }
}

// A code page chosen for an archive is kept for it while the program runs, and the names extract as they are
// then shown.
TEST_F(NamesSelect, AChosenCodePageIsKeptPerArchiveAndExtractsAsShown) {
    const fs::path cp866 = tmp / "r.zip", other = tmp / "o.zip";
    vt::WriteFile(cp866, vt::BuildZip({ZipEntry("\x8F\x90\x88\x82\x85\x92.txt", "x", 0)}));
    vt::WriteFile(other, vt::BuildZip({ZipEntry("\x81"
                                                "ber.txt",
                                                "y", 0)}));
    Settings settings;
    test::RecordingView view;
    ArchiveModel model(settings, view);
    ASSERT_TRUE(model.Open(cp866.string()));
    ASSERT_EQ(model.RowCount(), 1);
    EXPECT_EQ(model.Row(0).StoredName(), "ПРИВЕТ.txt");
    model.SetNameCodePage("CP437");
    ASSERT_EQ(model.RowCount(), 1);
    EXPECT_EQ(model.Row(0).StoredName(), "ÅÉêéàÆ.txt");
    // Another archive reads as its names say; back to the first, the choice stands.
    ASSERT_TRUE(model.Open(other.string()));
    EXPECT_TRUE(model.NameCodePage().empty());
    EXPECT_EQ(model.Row(0).StoredName(), "über.txt");
    ASSERT_TRUE(model.Open(cp866.string()));
    EXPECT_EQ(model.NameCodePage(), "CP437");
    EXPECT_EQ(model.Row(0).StoredName(), "ÅÉêéàÆ.txt");
    ExtractRequest r;
    r.destination = (tmp / "out").string() + "/";
    EXPECT_EQ(model.Extractor().Run(r), 1);
    EXPECT_EQ(Tree(tmp / "out"), (std::map<std::string, std::string>{{"ÅÉêéàÆ.txt", "x"}}));
    model.SetNameCodePage("");
    EXPECT_EQ(model.Row(0).StoredName(), "ПРИВЕТ.txt");
}

}  // namespace
}  // namespace varnok::app
