// Checkout on real archives, without a display and with the XDG folders of the test: the menu folder and its
// launchers read back against the keys the desktop-entry and menu formats require, Exec lines parsed back the
// way a desktop parses them (hostile names included), the launcher limit and its wrong count, files of other
// programs left alone, nothing written outside the chosen folder and the two menu folders, and a cancel that
// makes no menu folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "app/archive_model.h"
#include "app/desktop_entry.h"
#include "app/checkout_command.h"
#include "app/extract.h"
#include "tests/app/app_test_support.h"
#include "tests/support/builders.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

namespace fs = std::filesystem;
using test::RecordingView;
using varnok::test::TempDir;
using varnok::test::WriteFile;
using varnok::test::ZipItem;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A desktop file parsed as its format says: one group header, then key=value lines; nullopt when a line is
// neither, a key repeats, or the group is missing.
std::optional<std::map<std::string, std::string>> ParseDesktop(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::istringstream in(text);
    std::string line;
    bool group = false;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line == "[Desktop Entry]") {
            if (group) return std::nullopt;
            group = true;
            continue;
        }
        if (!group) return std::nullopt;
        const size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) return std::nullopt;
        const std::string key = line.substr(0, eq);
        for (char c : key)
            if (!isalnum(static_cast<unsigned char>(c)) && c != '-') return std::nullopt;
        if (!keys.emplace(key, line.substr(eq + 1)).second) return std::nullopt;
    }
    if (!group) return std::nullopt;
    return keys;
}

// The string escapes of a value undone (\s \n \t \r \\).
std::string Unescape(const std::string& v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\\' && i + 1 < v.size()) {
            const char n = v[++i];
            out += n == 's' ? ' ' : n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n;
        } else {
            out += v[i];
        }
    }
    return out;
}

// The arguments of an Exec value as a launcher would run them: string escapes, then quoting, then "%%" to "%";
// nullopt for a field code, an unfinished quote or a reserved character outside quotes.
std::optional<std::vector<std::string>> ExecArgs(const std::string& value) {
    const std::string v = Unescape(value);
    std::vector<std::string> args;
    std::string cur;
    bool have = false;
    for (size_t i = 0; i < v.size(); ++i) {
        const char c = v[i];
        if (c == ' ') {
            if (have) args.push_back(cur);
            cur.clear();
            have = false;
        } else if (c == '"') {
            have = true;
            for (++i;; ++i) {
                if (i >= v.size()) return std::nullopt;
                if (v[i] == '"') break;
                if (v[i] == '\\') {
                    if (++i >= v.size()) return std::nullopt;
                    if (std::string("\"`$\\").find(v[i]) == std::string::npos) return std::nullopt;
                } else if (v[i] == '`' || v[i] == '$') {
                    return std::nullopt;
                } else if (v[i] == '%') {
                    if (i + 1 >= v.size() || v[i + 1] != '%') return std::nullopt;
                    ++i;
                }
                cur += v[i];
            }
        } else if (c == '%') {
            if (i + 1 >= v.size() || v[i + 1] != '%') return std::nullopt;
            cur += v[++i];
            have = true;
        } else if (std::string("\t\n'\\><~|&;$*?#()`").find(c) != std::string::npos) {
            return std::nullopt;
        } else {
            cur += c;
            have = true;
        }
    }
    if (have) args.push_back(cur);
    return args;
}

// A file:// URL back to its path.
std::string UrlPath(const std::string& url) {
    EXPECT_EQ(url.rfind("file://", 0), 0u) << url;
    std::string out;
    for (size_t i = 7; i < url.size(); ++i) {
        if (url[i] == '%' && i + 2 < url.size()) {
            out += static_cast<char>(std::stoi(url.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += url[i];
        }
    }
    return out;
}

// Every file below a folder (relative paths), folders left out.
std::set<std::string> FilesBelow(const fs::path& dir) {
    std::set<std::string> out;
    if (!fs::exists(dir)) return out;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (!e.is_directory()) out.insert(fs::relative(e.path(), dir).string());
    return out;
}

ZipItem Program(const std::string& name, const std::string& data = "#!/bin/sh\necho hi\n") {
    ZipItem it{name, data};
    it.host = 3;  // Unix: the high half of the external attributes is the mode
    it.externalAttr = (0100755u << 16) | 0x20;
    return it;
}

class CheckoutTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(tmp / "arc");
        fs::create_directories(tmp / "session");
        for (const char* v : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "HOME"}) {
            const char* old = getenv(v);
            savedEnv.emplace_back(v, old ? std::optional<std::string>(old) : std::nullopt);
        }
        setenv("XDG_DATA_HOME", (tmp / "data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (tmp / "config").c_str(), 1);
        setenv("HOME", (tmp / "home").c_str(), 1);
        model.SetSessionTempDir((tmp / "session").string());
    }
    void TearDown() override {
        for (const auto& [name, value] : savedEnv)
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
    }
    std::string Zip(const std::vector<ZipItem>& items, const std::string& name = "tools.zip") {
        std::string p = (tmp / "arc" / name).string();
        WriteFile(p, varnok::test::BuildZip(items));
        return p;
    }
    CheckoutRequest Request(const std::string& group = "Tools") {
        CheckoutRequest r;
        r.folder = (tmp / "out" / "tools").string();
        r.group = group;
        return r;
    }
    fs::path Launchers() const { return tmp / "data" / "applications"; }
    fs::path Menus() const { return tmp / "config" / "menus" / "applications-merged"; }
    std::map<std::string, std::string> Launcher(const std::string& path) {
        auto keys = ParseDesktop(Slurp(path));
        EXPECT_TRUE(keys) << path << ":\n" << Slurp(path);
        return keys ? *keys : std::map<std::string, std::string>{};
    }
    // The keys each launcher must have for its type, and the menu naming every launcher.
    void CheckFormats() {
        for (const std::string& path : cmd.Launchers()) {
            SCOPED_TRACE(path);
            EXPECT_EQ(fs::path(path).parent_path(), Launchers());
            EXPECT_EQ(fs::path(path).filename().string().rfind("varnok-checkout-", 0), 0u);
            auto k = Launcher(path);
            ASSERT_TRUE(k.count("Type") && k.count("Name"));
            if (k["Type"] == "Application") {
                EXPECT_TRUE(k.count("Exec"));
            } else {
                EXPECT_EQ(k["Type"], "Link");
                EXPECT_TRUE(k.count("URL"));
                EXPECT_FALSE(k.count("Exec"));
            }
        }
        ASSERT_FALSE(cmd.MenuFile().empty());
        ASSERT_FALSE(cmd.DirectoryFile().empty());
        auto d = Launcher(cmd.DirectoryFile());
        EXPECT_EQ(d["Type"], "Directory");
        EXPECT_TRUE(d.count("Name"));
        const std::string menu = Slurp(cmd.MenuFile());
        EXPECT_EQ(menu.rfind("<!DOCTYPE Menu PUBLIC \"-//freedesktop//DTD Menu 1.0//EN\"", 0), 0u);
        EXPECT_NE(menu.find("<Menu>\n  <Name>Applications</Name>"), std::string::npos);
        EXPECT_NE(menu.find("<Directory>" + fs::path(cmd.DirectoryFile()).filename().string() + "</Directory>"),
                  std::string::npos);
        EXPECT_NE(menu.find("<DirectoryDir>" + Menus().string() + "</DirectoryDir>"), std::string::npos);
        size_t includes = 0;
        for (size_t at = menu.find("<Filename>"); at != std::string::npos; at = menu.find("<Filename>", at + 1)) {
            const size_t end = menu.find("</Filename>", at);
            const std::string id = menu.substr(at + 10, end - at - 10);
            EXPECT_TRUE(fs::exists(Launchers() / id)) << id;
            ++includes;
        }
        EXPECT_EQ(includes, cmd.Launchers().size());
        // The desktop's own checker, where it is installed.
        if (system("command -v desktop-file-validate >/dev/null 2>&1") == 0) {
            for (const std::string& path : cmd.Launchers())
                EXPECT_EQ(system(("desktop-file-validate '" + path + "' >/dev/null").c_str()), 0) << path;
        }
    }
    const std::string* Find(const std::string& name) {
        for (const std::string& p : cmd.Launchers())
            if (fs::path(p).filename() == name) return &p;
        return nullptr;
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnv;
    TempDir tmp;
    Settings settings;
    RecordingView view;
    ArchiveModel model{settings, view};
    CheckoutCommand cmd{model};
};

TEST(CheckoutNames, PartsOfFileNamesStayDistinctAndSafe) {
    EXPECT_EQ(CheckoutNamePart("setup"), "setup");
    EXPECT_EQ(CheckoutNamePart("My-Tool_2"), "My-Tool_2");
    const std::string a = CheckoutNamePart("a b"), b = CheckoutNamePart("a_b"), c = CheckoutNamePart("a.b");
    EXPECT_NE(a, b);
    EXPECT_NE(a, c);
    for (const std::string& s : {a, c, CheckoutNamePart("../x"), CheckoutNamePart(""), CheckoutNamePart("\n")}) {
        EXPECT_FALSE(s.empty());
        EXPECT_EQ(s.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_"),
                  std::string::npos)
            << s;
    }
    EXPECT_EQ(CheckoutFolderPicked("/home/u/.local/share/varnok/checkout/tools", "/srv/apps"), "/srv/apps/tools");
    EXPECT_EQ(CheckoutFolderPicked("", "/srv/apps/"), "/srv/apps");
    EXPECT_TRUE(CheckoutCounts("SETUP.EXE", false));
    EXPECT_TRUE(CheckoutCounts("read.Doc", false));
    EXPECT_TRUE(CheckoutCounts("run", true));
    EXPECT_FALSE(CheckoutCounts("data.bin", false));
    EXPECT_FALSE(CheckoutCounts("txt", false));
}

TEST(CheckoutNames, ExecArgumentsReadBackAsTheyWere) {
    for (const std::string& path : {std::string("/opt/a b/run"), std::string("/x/it's \"q\" %f $(id) `id`"),
                                    std::string("/x/back\\slash\\\\two"), std::string("/x/100%%/%u"),
                                    std::string("/x/;&|<>*?#~")}) {
        SCOPED_TRACE(path);
        const std::string value = DesktopExecArgument(path);
        EXPECT_EQ(value.find('\n'), std::string::npos);
        auto args = ExecArgs(value);
        ASSERT_TRUE(args) << value;
        EXPECT_EQ(*args, std::vector<std::string>{path}) << value;
    }
    // A plain path stands unquoted: xdg-open's fallback takes Exec's first word literally, quotes and all.
    EXPECT_EQ(DesktopExecArgument("/usr/bin/varnok"), "/usr/bin/varnok");
    EXPECT_EQ(DesktopExecArgument("/opt/v-1.0/100%"), "/opt/v-1.0/100%%");
    EXPECT_EQ(*ExecArgs(DesktopExecArgument("/opt/v-1.0/100%")), std::vector<std::string>{"/opt/v-1.0/100%"});
    EXPECT_EQ(Unescape(DesktopValue(" lead\\ing")), " lead\\ing");
    EXPECT_EQ(DesktopValue("two\nlines\r"), "two lines ");
    EXPECT_EQ(UrlPath(FileUrl("/a b/%c#d?e")), "/a b/%c#d?e");
}

TEST_F(CheckoutTest, DefaultsAreBelowTheDataFolderAndNamedAfterTheArchive) {
    ASSERT_TRUE(model.Open(Zip({{"a.txt", "A"}}, "my.tools.zip")));
    const CheckoutRequest d = cmd.Defaults();
    EXPECT_EQ(d.folder, (tmp / "data" / "varnok" / "checkout" / "my.tools").string());
    EXPECT_EQ(d.group, "my.tools");
    EXPECT_EQ(d.maxIcons, "40");
    EXPECT_TRUE(d.appsAndDocsOnly);
}

TEST_F(CheckoutTest, ProgramsGetExecDocumentsGetLinksAndNothingElseIsWritten) {
    ASSERT_TRUE(model.Open(Zip({Program("bin/run"), {"readme.txt", "read me"}, {"setup.exe", "MZ"},
                                {"setup.txt", "notes"}, {"data.bin", "x"}, {"docs/Guide.DOC", "doc"}})));
    ASSERT_EQ(cmd.Run(Request()), CheckoutStatus::Done);
    EXPECT_TRUE(view.messages.empty()) << view.messages.front().second;
    const fs::path out = tmp / "out" / "tools";
    EXPECT_EQ(FilesBelow(out),
              (std::set<std::string>{"bin/run", "readme.txt", "setup.exe", "setup.txt", "data.bin", "docs/Guide.DOC"}));
    // setup.exe and setup.txt share one launcher name; the later row's launcher stands.
    std::set<std::string> names;
    for (const std::string& p : cmd.Launchers())
        names.insert(fs::path(p).filename().string());
    EXPECT_EQ(names, (std::set<std::string>{"varnok-checkout-Tools-run.desktop", "varnok-checkout-Tools-readme.desktop",
                                            "varnok-checkout-Tools-setup.desktop",
                                            "varnok-checkout-Tools-Guide.desktop"}));
    CheckFormats();

    auto run = Launcher(*Find("varnok-checkout-Tools-run.desktop"));
    EXPECT_EQ(run["Type"], "Application");
    EXPECT_EQ(*ExecArgs(run["Exec"]), std::vector<std::string>{fs::canonical(out / "bin" / "run").string()});
    EXPECT_EQ(Unescape(run["Path"]), fs::canonical(out / "bin").string());
    EXPECT_EQ(run["Name"], "run");
    // A Windows program without the executable mode is no program here: a link, like a document.
    auto setup = Launcher(*Find("varnok-checkout-Tools-setup.desktop"));
    EXPECT_EQ(setup["Type"], "Link");
    EXPECT_EQ(UrlPath(setup["URL"]), fs::canonical(out / "setup.txt").string());
    EXPECT_EQ(setup["Comment"], "setup.txt");
    auto guide = Launcher(*Find("varnok-checkout-Tools-Guide.desktop"));
    EXPECT_EQ(UrlPath(guide["URL"]), fs::canonical(out / "docs" / "Guide.DOC").string());

    // Beyond the chosen folder only the menu folder's files exist.
    std::set<std::string> outside;
    for (const std::string& f : FilesBelow(tmp.Path()))
        if (f.rfind("out/", 0) != 0 && f.rfind("arc/", 0) != 0 && f.rfind("session/", 0) != 0) outside.insert(f);
    std::set<std::string> expected = {"config/menus/applications-merged/varnok-checkout-Tools.menu",
                                      "config/menus/applications-merged/varnok-checkout-Tools.directory"};
    for (const std::string& n : names)
        expected.insert("data/applications/" + n);
    EXPECT_EQ(outside, expected);
}

TEST_F(CheckoutTest, EveryRowCountsWithoutTheFilterAndTheLimitStopsTheLauncherList) {
    std::vector<ZipItem> items;
    for (int i = 0; i < 50; ++i)
        items.push_back({"p" + std::to_string(100 + i) + ".exe", "MZ"});
    items.push_back({"data.bin", "x"});
    ASSERT_TRUE(model.Open(Zip(items)));
    ASSERT_EQ(cmd.Run(Request()), CheckoutStatus::Done);
    EXPECT_EQ(cmd.Launchers().size(), 40u);
    EXPECT_EQ(FilesBelow(Launchers()).size(), 40u);
    CheckFormats();

    CheckoutRequest all = Request("All");
    all.appsAndDocsOnly = false;
    all.maxIcons = "100";
    ASSERT_EQ(cmd.Run(all), CheckoutStatus::Done);
    EXPECT_EQ(cmd.Launchers().size(), 51u);
    EXPECT_TRUE(Find("varnok-checkout-All-data.desktop"));
    CheckFormats();
}

TEST_F(CheckoutTest, AWrongCountExtractsButMakesNoLauncher) {
    ASSERT_TRUE(model.Open(Zip({{"a.txt", "A"}, {"b.txt", "B"}})));
    for (const char* bad : {"4x", "", " 4", "1.5"}) {
        view.messages.clear();
        CheckoutRequest r = Request();
        r.maxIcons = bad;
        EXPECT_EQ(cmd.Run(r), CheckoutStatus::WrongCount) << bad;
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0], std::make_pair(std::string("Error"), std::string("You entered a wrong char!")));
        EXPECT_TRUE(cmd.Launchers().empty());
        EXPECT_TRUE(FilesBelow(Launchers()).empty());
    }
    EXPECT_EQ(FilesBelow(tmp / "out" / "tools"), (std::set<std::string>{"a.txt", "b.txt"}));
    CheckoutRequest r = Request();
    r.maxIcons = "1";
    EXPECT_EQ(cmd.Run(r), CheckoutStatus::Done);
    EXPECT_EQ(cmd.Launchers().size(), 1u);
    r.maxIcons = "0";
    EXPECT_EQ(cmd.Run(r), CheckoutStatus::Done);
    EXPECT_TRUE(cmd.Launchers().empty());
    CheckFormats();
}

TEST_F(CheckoutTest, FilesOfOtherProgramsAreNeverReplaced) {
    ASSERT_TRUE(model.Open(Zip({{"readme.txt", "R"}, {"notes.txt", "N"}})));
    fs::create_directories(Launchers());
    fs::create_directories(Menus());
    const std::string foreign = "[Desktop Entry]\nType=Application\nName=Other\nExec=other\n";
    WriteFile(Launchers() / "varnok-checkout-Tools-readme.desktop", foreign);
    WriteFile(Menus() / "varnok-checkout-Tools.menu", std::string("<Menu><Name>Other</Name></Menu>\n"));
    fs::create_symlink(tmp / "elsewhere.desktop", Launchers() / "varnok-checkout-Tools-notes.desktop");
    ASSERT_EQ(cmd.Run(Request()), CheckoutStatus::Done);
    EXPECT_EQ(Slurp(Launchers() / "varnok-checkout-Tools-readme.desktop"), foreign);
    EXPECT_EQ(Slurp(Menus() / "varnok-checkout-Tools.menu"), "<Menu><Name>Other</Name></Menu>\n");
    EXPECT_TRUE(fs::is_symlink(Launchers() / "varnok-checkout-Tools-notes.desktop"));
    EXPECT_FALSE(fs::exists(tmp / "elsewhere.desktop"));
    EXPECT_TRUE(cmd.Launchers().empty());
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_NE(view.messages[0].second.find("varnok-checkout-Tools-readme.desktop"), std::string::npos);

    // Our own files of an earlier checkout are brought up to date.
    fs::remove(Launchers() / "varnok-checkout-Tools-readme.desktop");
    fs::remove(Launchers() / "varnok-checkout-Tools-notes.desktop");
    fs::remove(Menus() / "varnok-checkout-Tools.menu");
    ASSERT_EQ(cmd.Run(Request()), CheckoutStatus::Done);
    ASSERT_EQ(cmd.Run(Request()), CheckoutStatus::Done);
    EXPECT_EQ(cmd.Launchers().size(), 2u);
    CheckFormats();
}

TEST_F(CheckoutTest, HostileNamesStayInsideTheFolderAndTheirFiles) {
    const std::string odd = "it's \"q\" %f $(id) `id`";
    ASSERT_TRUE(model.Open(Zip({Program(odd + ".txt"), {"../escape.txt", "E"}, {"a/../../up.txt", "U"},
                                {"new\nline.txt", "N"}, {"%k.txt", "K"}, Program("b\\c.exe")})));
    CheckoutRequest r = Request("Group \"x\" & <y>\n..");
    r.folder = (tmp / "out" / "we$ird `dir` \\ %u 'q'").string();
    r.appsAndDocsOnly = false;
    ASSERT_EQ(cmd.Run(r), CheckoutStatus::Done);
    // Nothing outside the chosen folder and the two menu folders.
    for (const std::string& f : FilesBelow(tmp.Path())) {
        const bool allowed = f.rfind("out/we$ird `dir` \\ %u 'q'/", 0) == 0 || f.rfind("arc/", 0) == 0 ||
                             f.rfind("session/", 0) == 0 || f.rfind("data/applications/varnok-checkout-", 0) == 0 ||
                             f.rfind("config/menus/applications-merged/varnok-checkout-", 0) == 0;
        EXPECT_TRUE(allowed) << f;
    }
    EXPECT_FALSE(cmd.Launchers().empty());
    CheckFormats();
    const std::string folder = fs::canonical(r.folder).string();
    bool sawProgram = false;
    for (const std::string& p : cmd.Launchers()) {
        SCOPED_TRACE(p);
        auto k = Launcher(p);
        std::string target;
        if (k["Type"] == "Application") {
            auto args = ExecArgs(k["Exec"]);
            ASSERT_TRUE(args) << k["Exec"];
            ASSERT_EQ(args->size(), 1u);
            target = args->front();
            sawProgram = sawProgram || target == folder + "/" + odd + ".txt";
        } else {
            target = UrlPath(k["URL"]);
        }
        EXPECT_EQ(target.rfind(folder + "/", 0), 0u) << target;
        EXPECT_TRUE(fs::is_regular_file(target)) << target;
    }
    EXPECT_TRUE(sawProgram);
    auto d = Launcher(cmd.DirectoryFile());
    EXPECT_EQ(d["Name"], "Group \"x\" & <y> ..");
    const std::string menu = Slurp(cmd.MenuFile());
    EXPECT_EQ(menu.find("<y>"), std::string::npos);
}

TEST_F(CheckoutTest, AFolderThatCannotBeMadeWritesNothing) {
    ASSERT_TRUE(model.Open(Zip({{"a.txt", "A"}})));
    WriteFile(tmp / "file", std::string("x"));
    CheckoutRequest r = Request();
    r.folder = (tmp / "file" / "sub").string();
    EXPECT_EQ(cmd.Run(r), CheckoutStatus::FolderFailed);
    EXPECT_EQ(view.messages.size(), 1u);
    EXPECT_FALSE(fs::exists(tmp / "data"));
    EXPECT_FALSE(fs::exists(tmp / "config"));
    model.Close();
    EXPECT_EQ(cmd.Run(Request()), CheckoutStatus::NotStarted);
}

TEST_F(CheckoutTest, ACancelledExtractionMakesNoMenuFolder) {
    std::vector<ZipItem> items;
    for (int i = 0; i < 20; ++i)
        items.push_back({"f" + std::to_string(i) + ".txt", std::string(100000, 'x')});
    ASSERT_TRUE(model.Open(Zip(items)));
    view.onEvents = [this] { model.Extractor().Cancel(); };
    EXPECT_EQ(cmd.Run(Request()), CheckoutStatus::Cancelled);
    EXPECT_TRUE(cmd.Launchers().empty());
    EXPECT_FALSE(fs::exists(Launchers()));
    EXPECT_FALSE(fs::exists(Menus()));
}

}  // namespace
}  // namespace varnok::app
