// The manual page of varnok-cli: it must render without a warning (a broken macro drops text silently), and it
// must describe each command with exactly the options the program's own help shows, so that the page does not
// promise an option the command refuses or keep quiet about one it takes.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "tests/cli/cli_help_support.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::Quote;
using test::cli::Commands;
using test::cli::HelpOptions;
using test::cli::SourcePath;

const std::string kPage = "dist/varnok-cli.1";

TEST(ManPage, RendersWithoutWarnings) {
    if (!test::HaveTool("groff")) GTEST_SKIP() << "groff is not installed";
    std::string out;
    // -ww: every warning; -z: no output but the diagnostics.
    const int code = test::Run("groff -ww -z -man " + Quote(SourcePath(kPage)) + " 2>&1", &out);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(out, "");
    if (test::HaveTool("man")) {
        out.clear();
        test::Run("MANWIDTH=80 man --warnings -l " + Quote(SourcePath(kPage)) + " 2>&1 >/dev/null", &out);
        EXPECT_EQ(out, "");
    }
}

TEST(ManPage, EachCommandSectionNamesExactlyTheOptionsOfItsHelp) {
    // Sections ".SS "COMMAND ..."" hold the options as ".B \-x" or ".BI \-\-x " VALUE"" after ".TP".
    std::map<std::string, std::set<std::string>> page;
    std::istringstream in(test::ReadText(SourcePath(kPage)));
    std::string line, current, previous;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, std::regex(R"(^\.SS "([a-z]+))"))) {
            current = m[1].str();
            page[current];
        } else if (std::regex_search(line, m, std::regex(R"(^\.SH )"))) {
            current.clear();
        } else if (!current.empty() && previous == ".TP" &&
                   std::regex_search(line, m, std::regex(R"(^\.BI? ((\\-)+[a-z0-9\\-]+))"))) {
            page[current].insert(std::regex_replace(m[1].str(), std::regex(R"(\\-)"), "-"));
        }
        previous = line;
    }
    const auto commands = Commands();
    ASSERT_FALSE(commands.empty());
    for (const auto& c : commands) {
        ASSERT_TRUE(page.count(c)) << "the manual page has no section for " << c;
        std::set<std::string> help;
        for (const auto& o : HelpOptions(c))
            help.insert(o.name);
        EXPECT_EQ(page[c], help) << c;
    }
    EXPECT_EQ(page.size(), commands.size());
}

}  // namespace
}  // namespace varnok
