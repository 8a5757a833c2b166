// Help topics without a display: where the pages are looked for, what is started to show them, what the user
// is told when that cannot be done, and the shipped pages themselves. Hazards: help taken from the current
// folder or a relative place (someone else's index.html opened in the browser), a page name leading out of the
// help folder, silence when the pages or xdg-open are missing, broken or outside links in the shipped pages,
// and menu commands the help never mentions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>

#include "app/commands.h"
#include "app/help_topics.h"
#include "tests/support/test_support.h"

namespace varnok::app {
namespace {

using test::TempDir;
namespace fs = std::filesystem;

struct RecordingView : ArchiveView {
    std::vector<std::pair<std::string, std::string>> messages;
    void Message(const std::string& title, const std::string& text) override { messages.emplace_back(title, text); }
};

// A program installed under prefix: prefix/bin, and the help pages where rel says.
struct Prefix {
    TempDir dir;
    std::string Bin() const { return (dir.Path() / "bin").string(); }
    void Help(const std::string& rel) {
        fs::create_directories(dir.Path() / "bin");
        fs::create_directories(dir.Path() / rel);
        test::WriteFile(dir.Path() / rel / "index.html", "<html></html>");
        test::WriteFile(dir.Path() / rel / "tools.html", "<html></html>");
    }
};

struct Launches {
    std::vector<std::vector<std::string>> started;
    bool xdgOpen = true;
    bool starts = true;
    void Wire(HelpOpener& h) {
        h.onPath = [this](const std::string& p) { return p == "xdg-open" && xdgOpen; };
        h.spawn = [this](const std::vector<std::string>& argv, const std::string&) {
            started.push_back(argv);
            return starts;
        };
    }
};

TEST(HelpTopics, InstalledPagesAreFoundBesideTheProgramsPrefix) {
    Prefix p;
    p.Help("share/varnok/help");
    EXPECT_EQ(FindHelpIndex(p.Bin()), p.dir.Path().lexically_normal().string() + "/share/varnok/help/index.html");
    // Packagers may keep them with the documentation instead.
    Prefix doc;
    doc.Help("share/doc/varnok/html");
    EXPECT_EQ(FindHelpIndex(doc.Bin()),
              doc.dir.Path().lexically_normal().string() + "/share/doc/varnok/html/index.html");
    // The program's own share folder wins over the documentation folder.
    p.Help("share/doc/varnok/html");
    EXPECT_NE(FindHelpIndex(p.Bin()).find("/share/varnok/help/"), std::string::npos);
}

TEST(HelpTopics, PagesAreNeverTakenFromTheCurrentFolderOrARelativePlace) {
    TempDir elsewhere;
    fs::create_directories(elsewhere.Path() / "share/varnok/help");
    test::WriteFile(elsewhere.Path() / "share/varnok/help/index.html", "planted");
    test::WriteFile(elsewhere.Path() / "index.html", "planted");
    const fs::path old = fs::current_path();
    fs::create_directories(elsewhere.Path() / "bin");
    fs::current_path(elsewhere.Path() / "bin");
    // A program folder that is not absolute finds nothing, even where the current folder would.
    EXPECT_EQ(FindHelpIndex("bin"), "");
    EXPECT_EQ(FindHelpIndex("."), "");
    EXPECT_EQ(FindHelpIndex(""), "");
    Prefix empty;
    fs::create_directories(empty.dir.Path() / "bin");
    EXPECT_EQ(FindHelpIndex(empty.Bin()), "");
    fs::current_path(old);
}

TEST(HelpTopics, OpensTheIndexWithXdgOpen) {
    Prefix p;
    p.Help("share/varnok/help");
    HelpOpener h;
    h.programDir = p.Bin();
    Launches l;
    l.Wire(h);
    RecordingView v;
    EXPECT_TRUE(h.Open(v));
    ASSERT_EQ(l.started.size(), 1u);
    EXPECT_EQ(l.started[0], (std::vector<std::string>{"xdg-open", FindHelpIndex(p.Bin())}));
    EXPECT_TRUE(v.messages.empty());
    EXPECT_TRUE(h.Open(v, "tools.html"));
    EXPECT_EQ(l.started.back()[1], p.dir.Path().lexically_normal().string() + "/share/varnok/help/tools.html");
}

TEST(HelpTopics, MissingPagesAreSaidWithTheFoldersLookedIn) {
    Prefix p;
    fs::create_directories(p.dir.Path() / "bin");
    HelpOpener h;
    h.programDir = p.Bin();
    Launches l;
    l.Wire(h);
    RecordingView v;
    EXPECT_FALSE(h.Open(v));
    EXPECT_TRUE(l.started.empty());
    ASSERT_EQ(v.messages.size(), 1u);
    EXPECT_EQ(v.messages[0].first, "Error");
    EXPECT_NE(v.messages[0].second.find("not installed"), std::string::npos);
    EXPECT_NE(v.messages[0].second.find(p.dir.Path().lexically_normal().string() + "/share/varnok/help"),
              std::string::npos)
        << v.messages[0].second;
}

TEST(HelpTopics, APageNameNeverLeadsOutOfTheHelpFolder) {
    Prefix p;
    p.Help("share/varnok/help");
    test::WriteFile(p.dir.Path() / "share/varnok/secret.html", "x");
    test::WriteFile(p.dir.Path() / "share/varnok/help/.hidden.html", "x");
    HelpOpener h;
    h.programDir = p.Bin();
    Launches l;
    l.Wire(h);
    for (const char* page : {"../secret.html", "/etc/passwd", ".hidden.html", "", "missing.html"}) {
        RecordingView v;
        EXPECT_FALSE(h.Open(v, page)) << page;
        EXPECT_EQ(v.messages.size(), 1u) << page;
    }
    EXPECT_TRUE(l.started.empty());
}

TEST(HelpTopics, NoBrowserStarterIsSaidNotSilent) {
    Prefix p;
    p.Help("share/varnok/help");
    HelpOpener h;
    h.programDir = p.Bin();
    Launches l;
    l.xdgOpen = false;
    l.Wire(h);
    RecordingView v;
    EXPECT_FALSE(h.Open(v));
    EXPECT_TRUE(l.started.empty());
    ASSERT_EQ(v.messages.size(), 1u);
    EXPECT_NE(v.messages[0].second.find("xdg-open is not installed"), std::string::npos);
    // The message names the page, so the user can open it by hand.
    EXPECT_NE(v.messages[0].second.find("index.html"), std::string::npos);
    l.xdgOpen = true;
    l.starts = false;
    RecordingView v2;
    EXPECT_FALSE(h.Open(v2));
    ASSERT_EQ(v2.messages.size(), 1u);
    EXPECT_NE(v2.messages[0].second.find("could not be started"), std::string::npos);
}

// ---- The shipped pages ----

fs::path HelpSource() {
    return test::SourceDir() / "help";
}

std::vector<fs::path> Pages() {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(HelpSource()))
        if (e.path().extension() == ".html") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Attributes(const std::string& html, const std::string& attr) {
    std::vector<std::string> out;
    const std::regex re("\\b" + attr + "=\"([^\"]*)\"", std::regex::icase);
    for (auto it = std::sregex_iterator(html.begin(), html.end(), re); it != std::sregex_iterator(); ++it)
        out.push_back((*it)[1].str());
    return out;
}

TEST(ShippedHelp, EveryLinkLeadsToAPageOrPlaceThatExists) {
    const auto pages = Pages();
    ASSERT_GE(pages.size(), 9u);
    for (const auto& page : pages) {
        const std::string html = test::ReadText(page);
        for (const std::string& href : Attributes(html, "href")) {
            const size_t hash = href.find('#');
            const std::string file = href.substr(0, hash);
            const fs::path target = file.empty() ? page : HelpSource() / file;
            ASSERT_TRUE(fs::exists(target)) << page.filename() << " links to " << href;
            if (hash != std::string::npos) {
                const std::string id = "id=\"" + href.substr(hash + 1) + "\"";
                EXPECT_NE(test::ReadText(target).find(id), std::string::npos) << page.filename() << ": " << href;
            }
        }
    }
}

TEST(ShippedHelp, PagesUseNothingFromOutside) {
    for (const auto& page : Pages()) {
        const std::string html = test::ReadText(page);
        for (const char* attr : {"href", "src", "action"})
            for (const std::string& v : Attributes(html, attr)) {
                EXPECT_EQ(v.find(':'), std::string::npos) << page.filename() << ": " << attr << "=" << v;
                EXPECT_NE(v.rfind("/", 0), 0u) << page.filename() << ": " << attr << "=" << v;
            }
        EXPECT_EQ(html.find("<script"), std::string::npos) << page.filename();
        EXPECT_EQ(html.find("url("), std::string::npos) << page.filename();
        EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos) << page.filename();
        EXPECT_NE(html.find("<title>"), std::string::npos) << page.filename();
    }
    EXPECT_EQ(test::ReadText(HelpSource() / "help.css").find("url("), std::string::npos);
}

TEST(ShippedHelp, EveryPageIsReachableFromTheIndex) {
    std::set<std::string> linked;
    for (const std::string& href : Attributes(test::ReadText(HelpSource() / "index.html"), "href"))
        linked.insert(href.substr(0, href.find('#')));
    for (const auto& page : Pages()) {
        if (page.filename() != "index.html") {
            EXPECT_TRUE(linked.count(page.filename().string())) << page.filename();
        }
    }
}

// The text a reader sees: tags dropped, the few entities the pages use turned back into characters, runs of
// white space as one blank.
std::string VisibleText(std::string html) {
    html = std::regex_replace(html, std::regex("<[^>]*>"), "");
    for (const auto& [entity, ch] : std::vector<std::pair<std::string, std::string>>{
             {"&gt;", ">"}, {"&lt;", "<"}, {"&quot;", "\""}, {"&amp;", "&"}}) {
        size_t at;
        while ((at = html.find(entity)) != std::string::npos)
            html.replace(at, entity.size(), ch);
    }
    return std::regex_replace(html, std::regex("\\s+"), " ");
}

TEST(ShippedHelp, EveryMenuCommandIsDescribed) {
    std::string all;
    for (const auto& page : Pages())
        all += VisibleText(test::ReadText(page)) + " ";
    for (const CommandInfo& c : AllCommands()) {
        std::string caption;
        for (const char* p = c.caption; *p; ++p)
            if (*p != '&') caption += *p;
        if (caption.size() > 3 && caption.compare(caption.size() - 3, 3, "...") == 0) caption.resize(caption.size() - 3);
        EXPECT_NE(all.find(caption), std::string::npos) << "no help page mentions \"" << caption << "\"";
        if (*c.shortcut) {
            EXPECT_NE(all.find(c.shortcut), std::string::npos) << caption << " " << c.shortcut;
        }
    }
}

}  // namespace
}  // namespace varnok::app
