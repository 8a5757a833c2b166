// The bash completion of varnok-cli, run in bash the way bash runs it: the script sourced, COMP_WORDS and
// COMP_CWORD set, the completion function called, COMPREPLY read back. It is held to the program's own help:
// completion that offers an option the command refuses, misses one it takes, or offers values an option does
// not take sends users into usage errors. Also: "--" ends the options, an option's value is no operand, and file
// names with blanks come back whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "tests/cli/cli_help_support.h"
#include "tests/support/test_support.h"

namespace varnok {
namespace {

using test::Quote;
using test::TempDir;
using test::cli::Choices;
using test::cli::Commands;
using test::cli::HelpOptions;
using test::cli::SourcePath;

// A word for a bash array: single-quoted.
std::string BashWord(const std::string& w) {
    std::string q = "'";
    for (char c : w)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// What completing the last of words offers (words[0] is "varnok-cli"), as a set; run in folder cwd.
std::multiset<std::string> Complete(const std::vector<std::string>& words, const std::filesystem::path& cwd = {}) {
    std::string array;
    for (const auto& w : words)
        array += BashWord(w) + " ";
    TempDir tmp;
    const auto script = tmp / "run.sh";
    test::WriteFile(script, "set -u\nsource " + Quote(SourcePath("dist/varnok-cli.bash")) + "\nCOMP_WORDS=(" + array +
                                ")\nCOMP_CWORD=" + std::to_string(words.size() - 1) +
                                "\n_varnok_cli varnok-cli\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n");
    std::string out;
    const std::string dir = cwd.empty() ? std::string(".") : Quote(cwd);
    EXPECT_EQ(test::Run("cd " + dir + " && bash --norc --noprofile " + Quote(script) + " 2>&1", &out), 0) << out;
    std::multiset<std::string> got;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t nl = out.find('\n', pos);
        if (nl == std::string::npos) nl = out.size();
        if (nl > pos) got.insert(out.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return got;
}

std::multiset<std::string> Set(std::initializer_list<const char*> items) {
    return {items.begin(), items.end()};
}

class Completion : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test::HaveTool("bash")) GTEST_SKIP() << "bash is not installed";
    }
};

TEST_F(Completion, FirstWordOffersExactlyTheCommandsOfTheHelp) {
    std::multiset<std::string> want{"--help", "--version", "help"};
    for (const auto& c : Commands())
        want.insert(c);
    EXPECT_EQ(Complete({"varnok-cli", ""}), want);
    EXPECT_EQ(Complete({"varnok-cli", "ex"}), Set({"extract"}));
    EXPECT_EQ(Complete({"varnok-cli", "help", "un"}), Set({"unsfx"}));
}

TEST_F(Completion, EachCommandOffersExactlyTheOptionsOfItsHelp) {
    for (const auto& c : Commands()) {
        std::multiset<std::string> want{"-h", "--help"};
        for (const auto& o : HelpOptions(c))
            want.insert(o.name);
        EXPECT_EQ(Complete({"varnok-cli", c, "x", "-"}), want) << c;
    }
}

TEST_F(Completion, OptionsWithFixedValuesOfferExactlyThoseValues) {
    size_t withChoices = 0;
    for (const auto& c : Commands())
        for (const auto& o : HelpOptions(c)) {
            const auto choices = Choices(o);
            const auto got = Complete({"varnok-cli", c, "x", o.name, ""});
            if (choices.empty()) {
                // A free value (a password, a size, a text) is not completed with the command's options.
                for (const auto& g : got)
                    EXPECT_NE(g.rfind("-", 0), 0u) << c << " " << o.name << " offers " << g;
                continue;
            }
            ++withChoices;
            EXPECT_EQ(got, std::multiset<std::string>(choices.begin(), choices.end())) << c << " " << o.name;
        }
    EXPECT_GE(withChoices, 9u);
    // The same name takes other values in other commands: --overwrite is a flag of extract, a mode of sfx.
    EXPECT_EQ(Complete({"varnok-cli", "sfx", "a.zip", "--overwrite", "a"}), Set({"ask", "always"}));
    EXPECT_EQ(Complete({"varnok-cli", "encode", ""}), Set({"uue", "xxe", "mime"}));
}

TEST_F(Completion, FilesAfterDoubleDashAndAfterOptionValues) {
    TempDir d;
    test::WriteFile(d / "a b.zip", "x");
    test::WriteFile(d / "-x.txt", "x");
    std::filesystem::create_directory(d / "sub");
    // A file name with a blank comes back as one word.
    EXPECT_EQ(Complete({"varnok-cli", "list", "a"}, d.Path()), Set({"a b.zip"}));
    // After "--" a word with a dash is a file, not an option.
    EXPECT_EQ(Complete({"varnok-cli", "add", "n.zip", "--", "-"}, d.Path()), Set({"-x.txt"}));
    // "--" as the value of -p does not end the options.
    const auto afterValue = Complete({"varnok-cli", "add", "n.zip", "-p", "--", "--m"}, d.Path());
    EXPECT_EQ(afterValue, Set({"--move", "--method"}));
    // -d takes a folder.
    EXPECT_EQ(Complete({"varnok-cli", "extract", "a b.zip", "-d", ""}, d.Path()), Set({"sub"}));
    // The encoding comes first in encode; a word that is an option's value does not count as it.
    EXPECT_EQ(Complete({"varnok-cli", "encode", "-o", "out", "m"}), Set({"mime"}));
    EXPECT_EQ(Complete({"varnok-cli", "encode", "uue", "a"}, d.Path()), Set({"a b.zip"}));
    // Unknown commands complete nothing.
    EXPECT_TRUE(Complete({"varnok-cli", "frobnicate", ""}, d.Path()).empty());
}

}  // namespace
}  // namespace varnok
