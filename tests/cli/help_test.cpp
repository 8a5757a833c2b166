// varnok-cli's --version and help, read from the program as a user sees them. The hazards: help that names an
// option the command refuses (or that takes a value the command does not expect), a command without help,
// "--help" taken for help where it is the value of an option or an operand after "--", a version that is not
// the project's, and a README synopsis that has drifted from the help.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "tests/cli/cli_help_support.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::Quote;
using test::TempDir;
using test::cli::Commands;
using test::cli::HelpOptions;
using test::cli::RunCli;

std::string SourceFile(const std::string& rel) {
    const char* src = getenv("VARNOK_SOURCE");
    return test::ReadText(std::string(src ? src : ".") + "/" + rel);
}

TEST(CliHelp, VersionIsTheProjectVersion) {
    std::smatch m;
    const std::string lists = SourceFile("CMakeLists.txt");
    ASSERT_TRUE(std::regex_search(lists, m, std::regex(R"(project\(Varnok VERSION ([0-9.]+))")));
    auto r = RunCli("--version");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, "varnok-cli " + m[1].str() + "\n");
    EXPECT_EQ(r.err, "");
}

TEST(CliHelp, OverviewListsEveryCommandTheProgramDispatches) {
    auto r = RunCli("--help");
    ASSERT_EQ(r.code, 0);
    const std::vector<std::string> commands = Commands();
    ASSERT_GE(commands.size(), 16u) << r.out;
    for (const std::string& c : commands) {
        // A listed command is one the program knows: without operands it is a usage error of its own, never
        // "unknown command".
        auto bare = RunCli(c);
        EXPECT_EQ(bare.err.find("unknown command"), std::string::npos) << c;
    }
    // And the commands of the README are all listed.
    std::istringstream readme(SourceFile("README.md"));
    std::string line;
    std::smatch m;
    while (std::getline(readme, line))
        if (std::regex_search(line, m, std::regex(R"(^    varnok-cli ([a-z|]+) )"))) {
            std::stringstream names(m[1].str());
            std::string name;
            while (std::getline(names, name, '|'))
                EXPECT_NE(std::find(commands.begin(), commands.end(), name), commands.end()) << name;
        }
    // No arguments: the same list on standard error, as a usage error.
    auto none = RunCli("");
    EXPECT_EQ(none.code, 2);
    EXPECT_NE(none.err.find("Commands:"), std::string::npos);
}

TEST(CliHelp, EveryCommandHasHelpInEveryFormAndExitsZero) {
    for (const std::string& c : Commands()) {
        const std::string usage = "usage: varnok-cli " + c;
        for (const std::string& form : {c + " --help", c + " -h", "help " + c}) {
            auto r = RunCli(form);
            EXPECT_EQ(r.code, 0) << form;
            EXPECT_EQ(r.out.rfind(usage, 0), 0u) << form << "\n" << r.out;
            EXPECT_EQ(r.err, "") << form;
        }
    }
    auto unknown = RunCli("help frobnicate");
    EXPECT_EQ(unknown.code, 2);
    EXPECT_NE(unknown.err.find("unknown command frobnicate"), std::string::npos);
}

TEST(CliHelp, EveryOptionNamedInHelpIsAcceptedByItsParser) {
    TempDir cwd;
    size_t checked = 0;
    for (const std::string& c : Commands()) {
        for (const auto& o : HelpOptions(c)) {
            // The option alone after the command: a flag must be known, an option that takes a value must
            // say that it needs one. Either way the parser answers before the command does anything.
            auto r = RunCli(c + " " + o.name, cwd.Path());
            EXPECT_EQ(r.err.find("unknown option"), std::string::npos) << c << " " << o.name << ": " << r.err;
            if (o.value.empty())
                EXPECT_EQ(r.err.find("needs a value"), std::string::npos) << c << " " << o.name << ": " << r.err;
            else
                EXPECT_NE(r.err.find("option " + o.name + " needs a value"), std::string::npos)
                    << c << " " << o.name << " is shown with a value: " << r.err;
            ++checked;
        }
    }
    EXPECT_GE(checked, 60u);
    EXPECT_TRUE(std::filesystem::is_empty(cwd.Path())) << "a command wrote something while its options were tried";
}

TEST(CliHelp, HelpIsAskedOnlyAsAnOption) {
    TempDir d;
    const std::string missing = Quote(d / "missing.zip");
    // The value of an option that takes one is no request for help.
    auto asValue = RunCli("list " + missing + " -p --help");
    EXPECT_EQ(asValue.code, 1) << asValue.out;
    EXPECT_NE(asValue.err.find("missing.zip"), std::string::npos);
    // After "--" it is a pattern.
    auto asOperand = RunCli("list " + missing + " -- --help");
    EXPECT_EQ(asOperand.code, 1) << asOperand.out;
    // Anywhere among the options it is help, whatever else is there.
    auto anywhere = RunCli("extract " + missing + " -d " + Quote(d / "out") + " --help");
    EXPECT_EQ(anywhere.code, 0);
    EXPECT_EQ(anywhere.out.rfind("usage: varnok-cli extract", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(d / "out"));
}

TEST(CliHelp, ReadmeSynopsisAndHelpNameTheSameOptions) {
    std::map<std::string, std::set<std::string>> readme;
    std::istringstream in(SourceFile("README.md"));
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (!std::regex_search(line, m, std::regex(R"(^    varnok-cli ([a-z|]+)( .*)?$)"))) continue;
        std::set<std::string> options;
        const std::string rest = m[2].str();
        const std::regex option(R"((^|[\s\[|])(--?[a-zA-Z][a-zA-Z0-9-]*))");
        for (auto it = std::sregex_iterator(rest.begin(), rest.end(), option); it != std::sregex_iterator(); ++it)
            options.insert((*it)[2].str());
        std::stringstream names(m[1].str());
        std::string name;
        while (std::getline(names, name, '|'))
            readme[name].insert(options.begin(), options.end());
    }
    ASSERT_GE(readme.size(), 16u);
    for (const auto& [command, options] : readme) {
        std::set<std::string> help;
        for (const auto& o : HelpOptions(command))
            help.insert(o.name);
        for (const std::string& o : options)
            EXPECT_TRUE(help.count(o)) << "README names " << command << " " << o << ", its help does not";
        for (const std::string& o : help)
            EXPECT_TRUE(options.count(o)) << "the help of " << command << " names " << o << ", README does not";
    }
}

}  // namespace
}  // namespace varnok
