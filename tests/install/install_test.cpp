// Varnok installed as users get it, and run from where it landed: "cmake --install" into a scratch prefix
// (Installed*), and the Debian package made by CPack, unpacked with dpkg -x into a scratch root (Package*).
// Hazards: a file missing from or misplaced in the installation, programs that still reach into the build
// tree (RPATH, engines, the stub), engines or stub not found from the installed layout, a desktop entry or MIME
// package the desktop rejects, a manual page with the version unset, a package without the libraries the
// engines need in its dependencies, and unstripped binaries in the package.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

#include "app/help_topics.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

namespace fs = std::filesystem;
using test::Quote;
using test::TempDir;

const fs::path kBuild = VARNOK_BUILD_DIR;
const std::string kVersion = VARNOK_PROJECT_VERSION;

fs::path Source() {
    const char* s = getenv("VARNOK_SOURCE");
    return s ? fs::path(s) : fs::path(".");
}

struct Output {
    int code;
    std::string text;  // standard output and error together
};

// Runs a shell command with a home and XDG folders of its own under home, and nothing from the build in
// LD_LIBRARY_PATH.
Output RunAsUser(const std::string& command, const fs::path& home) {
    const std::string h = Quote(home);
    std::string out;
    const int code = test::Run("mkdir -p " + h + "/run && chmod 700 " + h + "/run && cd " + h +
                                   " && env -u LD_LIBRARY_PATH HOME=" + h + " XDG_CONFIG_HOME=" + h +
                                   "/.config XDG_DATA_HOME=" + h + "/.local/share XDG_CACHE_HOME=" + h +
                                   "/.cache XDG_RUNTIME_DIR=" + h + "/run " + command + " 2>&1",
                               &out);
    return {code, out};
}

bool HasGui() {
    return fs::exists(kBuild / "bin/varnok");
}

// The width and height in a PNG's header.
std::pair<uint32_t, uint32_t> PngSize(const fs::path& p) {
    const auto b = test::ReadFile(p);
    if (b.size() < 24 || b[1] != 'P' || b[2] != 'N' || b[3] != 'G') return {0, 0};
    auto be = [&](size_t at) {
        return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | uint32_t(b[at + 3]);
    };
    return {be(16), be(20)};
}

std::vector<fs::path> ElfFiles(const fs::path& prefix) {
    std::vector<fs::path> out;
    for (const char* dir : {"bin", "lib/varnok"}) {
        if (!fs::exists(prefix / dir)) continue;
        for (const auto& e : fs::directory_iterator(prefix / dir)) {
            char magic[4] = {};
            std::ifstream f(e.path(), std::ios::binary);
            if (f.read(magic, 4) && std::string(magic, 4) == "\x7f" "ELF") out.push_back(e.path());
        }
    }
    return out;
}

// ---- Checks made on an installed tree (prefix holds bin, lib/varnok and share) ----

void ExpectEveryFileInItsPlace(const fs::path& p) {
    std::vector<std::string> files = {"bin/varnok-cli",
                                      "lib/varnok/varnok-sfx",
                                      "lib/varnok/libvarnok-unzdll.so",
                                      "lib/varnok/libvarnok-zipdll.so",
                                      "lib/varnok/libvarnok-unrar.so",
                                      "lib/varnok/libvarnok-unace.so",
                                      "lib/varnok/libvarnok-fci.so",
                                      "share/mime/packages/varnok.xml",
                                      "share/icons/hicolor/scalable/apps/varnok.svg",
                                      "share/man/man1/varnok-cli.1.gz",
                                      "share/bash-completion/completions/varnok-cli"};
    if (fs::exists(kBuild / "lib/varnok/libvarnok-cabinet.so")) files.push_back("lib/varnok/libvarnok-cabinet.so");
    if (HasGui()) {
        files.push_back("bin/varnok");
        files.push_back("share/applications/varnok.desktop");
    }
    for (const auto& e : fs::directory_iterator(Source() / "help"))
        files.push_back("share/varnok/help/" + e.path().filename().string());
    for (const auto& f : files)
        EXPECT_TRUE(fs::is_regular_file(p / f)) << f;
    for (const char* exe : {"bin/varnok-cli", "lib/varnok/varnok-sfx"})
        EXPECT_NE(fs::status(p / exe).permissions() & fs::perms::owner_exec, fs::perms::none) << exe;
    for (int n : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const std::string size = std::to_string(n) + "x" + std::to_string(n);
        const fs::path png = p / "share/icons/hicolor" / size / "apps/varnok.png";
        ASSERT_TRUE(fs::exists(png)) << png;
        EXPECT_EQ(PngSize(png), std::make_pair(uint32_t(n), uint32_t(n))) << png;
    }
    // The window looks for its help where the installation put it.
    EXPECT_EQ(app::FindHelpIndex((p / "bin").string()), (p / "share/varnok/help/index.html").lexically_normal().string());
}

void ExpectNoPathIntoTheBuild(const fs::path& p) {
    if (!test::HaveTool("readelf")) GTEST_SKIP() << "readelf is not installed";
    const auto elves = ElfFiles(p);
    EXPECT_GE(elves.size(), 7u);
    for (const auto& f : elves) {
        std::string out;
        test::Run("readelf -d " + Quote(f) + " 2>&1", &out);
        EXPECT_EQ(out.find("RPATH"), std::string::npos) << f << "\n" << out;
        EXPECT_EQ(out.find("RUNPATH"), std::string::npos) << f << "\n" << out;
    }
}

// The installed varnok-cli lists, extracts a cabinet through the installed engines, adds through the installed
// ZIP engine and makes a self-extractor with the installed stub.
void ExpectCliWorksFromThere(const fs::path& p) {
    TempDir home;
    const std::string cli = Quote(p / "bin/varnok-cli");
    auto v = RunAsUser(cli + " --version", home.Path());
    EXPECT_EQ(v.code, 0);
    EXPECT_EQ(v.text, "varnok-cli " + kVersion + "\n");
    auto l = RunAsUser(cli + " list " + Quote(Source() / "samples/varnok-sample.zip"), home.Path());
    EXPECT_EQ(l.code, 0) << l.text;
    EXPECT_NE(l.text.find(" files, "), std::string::npos) << l.text;

    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(i) + " of a text the cabinet compresses\n";
    test::WriteFile(home / "a.txt", text);
    test::WriteFile(home / "b.bin", std::string("\x01\x02\x03", 3));
    auto add = RunAsUser(cli + " add t.cab a.txt b.bin --method lzx", home.Path());
    ASSERT_EQ(add.code, 0) << add.text;
    auto x = RunAsUser(cli + " extract t.cab -d out", home.Path());
    ASSERT_EQ(x.code, 0) << x.text;
    EXPECT_EQ(test::ReadText(home / "out/a.txt"), text);
    EXPECT_EQ(test::ReadText(home / "out/b.bin"), std::string("\x01\x02\x03", 3));

    auto engine = RunAsUser(cli + " add e.zip a.txt --engine", home.Path());
    EXPECT_EQ(engine.code, 0) << engine.text;
    auto sfx = RunAsUser(cli + " sfx e.zip -o e.run", home.Path());
    ASSERT_EQ(sfx.code, 0) << sfx.text;
    auto run = RunAsUser("./e.run --dir sfx-out --yes", home.Path());
    EXPECT_EQ(run.code, 0) << run.text;
    EXPECT_EQ(test::ReadText(home / "sfx-out/a.txt"), text);

    // The engines of the other families, on samples of other archivers when they are at hand.
    for (const char* rel : {"rar/libarchive_rar.rar", "ace/patool_t.ace"}) {
        const fs::path sample = test::Fixture(rel);
        if (sample.empty()) continue;
        auto t = RunAsUser(cli + " test " + Quote(sample), home.Path());
        EXPECT_EQ(t.code, 0) << rel << "\n" << t.text;
        EXPECT_NE(t.text.find("VALID: "), std::string::npos) << rel << "\n" << t.text;
    }
}

// The program alone, without the folders installed with it, finds no engine and no stub: not the build tree's,
// not any other.
void ExpectNothingWithoutTheInstalledFolders(const fs::path& p) {
    TempDir home;
    fs::create_directories(home / "alone/bin");
    fs::copy_file(p / "bin/varnok-cli", home / "alone/bin/varnok-cli");
    const std::string cli = Quote(home / "alone/bin/varnok-cli");
    test::WriteFile(home / "a.txt", "alpha");
    auto add = RunAsUser(cli + " add t.cab a.txt", home.Path());
    EXPECT_NE(add.code, 0) << add.text;
    EXPECT_FALSE(fs::exists(home / "t.cab"));
    ASSERT_EQ(RunAsUser(cli + " add e.zip a.txt", home.Path()).code, 0);
    auto sfx = RunAsUser(cli + " sfx e.zip -o e.run", home.Path());
    EXPECT_NE(sfx.code, 0) << sfx.text;
    EXPECT_NE(sfx.text.find("varnok-sfx is not in the program's folders"), std::string::npos) << sfx.text;
    EXPECT_FALSE(fs::exists(home / "e.run"));
}

void ExpectDesktopFilesAccepted(const fs::path& p) {
    const fs::path xml = p / "share/mime/packages/varnok.xml";
    const std::string package = test::ReadText(xml);
    std::set<std::string> ours;
    const std::regex typeRe("<mime-type type=\"([^\"]+)\"");
    for (auto it = std::sregex_iterator(package.begin(), package.end(), typeRe); it != std::sregex_iterator(); ++it)
        ours.insert((*it)[1].str());
    EXPECT_FALSE(ours.empty());
    std::string out;
    if (test::HaveTool("xmllint"))
        EXPECT_EQ(test::Run("xmllint --noout " + Quote(xml) + " 2>&1", &out), 0) << out;
    else
        EXPECT_EQ(test::Run("python3 -c 'import sys, xml.dom.minidom; xml.dom.minidom.parse(sys.argv[1])' " +
                                Quote(xml) + " 2>&1",
                            &out),
                  0)
            << out;
    if (test::HaveTool("update-mime-database")) {
        // The desktop's own tool builds its database from the package: every type of ours gets its entry.
        TempDir data;
        const fs::path db = data / "mime";
        fs::create_directories(db / "packages");
        fs::copy_file(xml, db / "packages/varnok.xml");
        EXPECT_EQ(test::Run("XDG_DATA_DIRS=" + Quote(data.Path()) + " update-mime-database " + Quote(db) + " 2>&1",
                            &out),
                  0)
            << out;
        EXPECT_EQ(out, "");
        for (const auto& t : ours)
            EXPECT_TRUE(fs::exists(db / (t + ".xml"))) << t;
    }
    if (!HasGui()) return;
    const fs::path desktop = p / "share/applications/varnok.desktop";
    if (test::HaveTool("desktop-file-validate")) {
        out.clear();
        EXPECT_EQ(test::Run("desktop-file-validate " + Quote(desktop) + " 2>&1", &out), 0) << out;
        EXPECT_EQ(out, "");
    }
    const std::string entry = test::ReadText(desktop);
    EXPECT_NE(entry.find("\nExec=varnok %f\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon=varnok\n"), std::string::npos) << entry;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(entry, m, std::regex("\nMimeType=([^\n]*)\n")));
    std::set<std::string> listed;
    std::stringstream types(m[1].str());
    std::string t;
    while (std::getline(types, t, ';'))
        if (!t.empty()) listed.insert(t);
    for (const char* must : {"application/zip", "application/vnd.rar", "application/x-lha", "application/x-tar"})
        EXPECT_TRUE(listed.count(must)) << must;
    // Every type our package defines is one the entry opens.
    for (const auto& o : ours)
        EXPECT_TRUE(listed.count(o)) << o;
    // And every type the entry opens is one the desktop knows: the system's database or our package.
    const fs::path known = "/usr/share/mime/types", aliases = "/usr/share/mime/aliases";
    if (fs::exists(known)) {
        std::set<std::string> system;
        for (const fs::path& f : {known, aliases}) {
            if (!fs::exists(f)) continue;
            std::istringstream in(test::ReadText(f));
            std::string line;
            while (std::getline(in, line))
                system.insert(line.substr(0, line.find(' ')));
        }
        for (const auto& l : listed)
            EXPECT_TRUE(system.count(l) || ours.count(l)) << l << " is known neither to the system nor to our package";
    }
}

void ExpectManualAndCompletion(const fs::path& p) {
    const fs::path page = p / "share/man/man1/varnok-cli.1.gz";
    std::string text;
    ASSERT_EQ(test::Run("gzip -dc " + Quote(page), &text), 0);
    EXPECT_NE(text.find("\"varnok " + kVersion + "\""), std::string::npos);
    EXPECT_EQ(text.find('@'), std::string::npos) << "a placeholder is left in the manual page";
    if (test::HaveTool("man")) {
        std::string out;
        test::Run("MANWIDTH=80 man --warnings -l " + Quote(page) + " 2>&1 >/dev/null", &out);
        EXPECT_EQ(out, "");
    }
    std::string out;
    EXPECT_EQ(test::Run("bash --norc -c 'source \"$1\" && complete -p varnok-cli' _ " +
                            Quote(p / "share/bash-completion/completions/varnok-cli") + " 2>&1",
                        &out),
              0);
    EXPECT_EQ(out, "complete -F _varnok_cli varnok-cli\n");
}

// The window starts from the installation: still running when it is stopped, offscreen, as a first start with
// a home of its own.
void ExpectWindowStarts(const fs::path& p) {
    if (!HasGui()) GTEST_SKIP() << "the window is not built";
    if (!test::HaveTool("timeout")) GTEST_SKIP() << "timeout is not installed";
    TempDir home;
    auto r = RunAsUser("QT_QPA_PLATFORM=offscreen timeout 5 " + Quote(p / "bin/varnok") + " " +
                           Quote(Source() / "samples/varnok-sample.zip"),
                       home.Path());
    EXPECT_EQ(r.code, 124) << "the window ended by itself:\n" << r.text;
}

// ---- cmake --install into a scratch prefix ----

class Installed : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        root_ = std::make_unique<TempDir>();
        std::string out;
        code_ = test::Run(Quote(fs::path(VARNOK_CMAKE)) + " --install " + Quote(kBuild) + " --prefix " +
                              Quote(Prefix()) + " 2>&1",
                          &out);
        log_ = out;
    }
    static void TearDownTestSuite() { root_.reset(); }
    void SetUp() override { ASSERT_EQ(code_, 0) << log_; }
    static fs::path Prefix() { return root_->Path() / "prefix"; }

    static std::unique_ptr<TempDir> root_;
    static int code_;
    static std::string log_;
};
std::unique_ptr<TempDir> Installed::root_;
int Installed::code_ = -1;
std::string Installed::log_;

TEST_F(Installed, EveryFileIsInItsUsualPlace) {
    ExpectEveryFileInItsPlace(Prefix());
}
TEST_F(Installed, ProgramsCarryNoPathIntoTheBuildTree) {
    ExpectNoPathIntoTheBuild(Prefix());
}
TEST_F(Installed, CliLoadsEnginesAndStubFromTheInstalledFolder) {
    ExpectCliWorksFromThere(Prefix());
}
TEST_F(Installed, ProgramCopiedAwayFromItsFoldersFindsNoEngineOrStub) {
    ExpectNothingWithoutTheInstalledFolders(Prefix());
}
TEST_F(Installed, DesktopEntryAndMimePackageAreAccepted) {
    ExpectDesktopFilesAccepted(Prefix());
}
TEST_F(Installed, ManualPageAndCompletionWork) {
    ExpectManualAndCompletion(Prefix());
}
TEST_F(Installed, WindowStarts) {
    ExpectWindowStarts(Prefix());
}

// ---- cpack -G DEB, then dpkg -x into a scratch root ----

class Package : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!test::HaveTool("dpkg-deb") || !test::HaveTool("dpkg-shlibdeps") || !test::HaveTool("file")) {
            skip_ = "dpkg-deb, dpkg-shlibdeps (dpkg-dev) or file is not installed";
            return;
        }
        root_ = std::make_unique<TempDir>();
        const fs::path out = root_->Path() / "out";
        std::string log;
        code_ = test::Run("cd " + Quote(root_->Path()) + " && " + Quote(fs::path(VARNOK_CPACK)) + " -G DEB --config " +
                              Quote(kBuild / "CPackConfig.cmake") + " -B " + Quote(out) + " 2>&1",
                          &log);
        log_ = log;
        if (fs::exists(out))
            for (const auto& e : fs::directory_iterator(out))
                if (e.path().extension() == ".deb") deb_ = e.path();
        if (code_ == 0 && !deb_.empty())
            code_ = test::Run("dpkg -x " + Quote(deb_) + " " + Quote(root_->Path() / "root") + " 2>&1", &log);
    }
    static void TearDownTestSuite() { root_.reset(); }
    void SetUp() override {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_EQ(code_, 0) << log_;
        ASSERT_FALSE(deb_.empty()) << log_;
    }
    static fs::path Usr() { return root_->Path() / "root/usr"; }

    static std::unique_ptr<TempDir> root_;
    static int code_;
    static std::string log_, skip_;
    static fs::path deb_;
};
std::unique_ptr<TempDir> Package::root_;
int Package::code_ = -1;
std::string Package::log_, Package::skip_;
fs::path Package::deb_;

TEST_F(Package, ControlNamesThePackageAndTheLibrariesItNeeds) {
    std::string info;
    ASSERT_EQ(test::Run("dpkg-deb -I " + Quote(deb_), &info), 0);
    EXPECT_NE(info.find(" Package: varnok\n"), std::string::npos) << info;
    EXPECT_NE(info.find(" Version: " + kVersion + "-1\n"), std::string::npos) << info;
    EXPECT_NE(info.find(" Section: utils\n"), std::string::npos) << info;
    EXPECT_NE(info.find(" Maintainer: "), std::string::npos) << info;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(info, m, std::regex(" Depends: ([^\n]*)\n"))) << info;
    const std::string depends = m[1].str();
    // From dpkg-shlibdeps: the C and C++ libraries, curl (mail and the update check), and the ones only the
    // engines (loaded at run time) need. RAR is decoded by our own code: nothing of libarchive is needed.
    EXPECT_EQ(depends.find("libarchive"), std::string::npos) << depends;
    std::vector<std::string> needed = {"libc6", "libstdc++6", "libcurl4"};
    if (fs::exists(kBuild / "lib/varnok/libvarnok-cabinet.so")) needed.push_back("libmspack0");
    if (HasGui()) needed.push_back("libqt6widgets6");
    for (const auto& n : needed)
        EXPECT_NE(depends.find(n), std::string::npos) << n << " missing from: " << depends;
}

TEST_F(Package, FilesLieUnderUsrAndAreStripped) {
    std::string list;
    ASSERT_EQ(test::Run("dpkg-deb -c " + Quote(deb_), &list), 0);
    for (const char* f : {"./usr/bin/varnok-cli", "./usr/lib/varnok/varnok-sfx", "./usr/share/varnok/help/index.html",
                          "./usr/share/man/man1/varnok-cli.1.gz"})
        EXPECT_NE(list.find(f), std::string::npos) << f;
    std::istringstream in(list);
    std::string line;
    while (std::getline(in, line)) {
        const size_t at = line.find(" ./");
        ASSERT_NE(at, std::string::npos) << line;
        const std::string path = line.substr(at + 1);
        EXPECT_TRUE(path == "./" || path.rfind("./usr/", 0) == 0 || path == "./usr/") << path;
    }
    if (!test::HaveTool("readelf")) return;
    for (const auto& f : ElfFiles(Usr())) {
        std::string sections;
        test::Run("readelf -S " + Quote(f) + " 2>&1", &sections);
        EXPECT_EQ(sections.find(".debug_info"), std::string::npos) << f << " carries debugging information";
    }
}

TEST_F(Package, EveryFileIsInItsUsualPlace) {
    ExpectEveryFileInItsPlace(Usr());
}
TEST_F(Package, ProgramsCarryNoPathIntoTheBuildTree) {
    ExpectNoPathIntoTheBuild(Usr());
}
TEST_F(Package, CliRunsFromTheUnpackedRoot) {
    ExpectCliWorksFromThere(Usr());
}
TEST_F(Package, DesktopEntryAndMimePackageAreAccepted) {
    ExpectDesktopFilesAccepted(Usr());
}
TEST_F(Package, ManualPageAndCompletionWork) {
    ExpectManualAndCompletion(Usr());
}
TEST_F(Package, WindowStartsFromTheUnpackedRoot) {
    ExpectWindowStarts(Usr());
}

}  // namespace
}  // namespace varnok
