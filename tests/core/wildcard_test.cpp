#include <gtest/gtest.h>

#include "archive/core/wildcard.h"

namespace varnok {
namespace {

bool Sel(const std::string& name, std::vector<std::string> spec, std::vector<std::string> excl = {}) {
    return SpecMatch(name, spec, excl);
}

TEST(Wildcard, FilePatternRules) {
    EXPECT_FALSE(Sel("a.txt", {}));
    EXPECT_FALSE(Sel("", {"*.*"}));
    EXPECT_TRUE(Sel("README", {"*"}));
    EXPECT_FALSE(Sel("readme.txt", {"*"}));
    EXPECT_TRUE(Sel("README", {"*.*"}));
    EXPECT_TRUE(Sel("readme.txt", {"*.*"}));
    EXPECT_TRUE(Sel("notes.txt", {"*.TXT"}));
    EXPECT_FALSE(Sel("ac", {"a?c"}));
    EXPECT_TRUE(Sel("abc", {"a?c"}));
    EXPECT_TRUE(Sel("docs/a.txt", {"docs/*.txt"}));
    EXPECT_FALSE(Sel("src/a.txt", {"docs/*.txt"}));
    EXPECT_TRUE(Sel("src/a.txt", {"*.txt"}));  // without a folder in the pattern any folder matches
    EXPECT_FALSE(Sel("a.txt", {"*.*"}, {"*.*"}));
    EXPECT_FALSE(Sel("a.txt", {"*.*"}, {"*.TXT"}));
    EXPECT_TRUE(Sel("a.doc", {"*.*"}, {"*.txt"}));
    EXPECT_TRUE(Sel("README", {"*."}));
    EXPECT_FALSE(Sel("readme.txt", {"*."}));
    EXPECT_TRUE(Sel("b.c", {"x", "*.c"}));
}

TEST(Wildcard, BothSidesMayHoldWildcards) {
    EXPECT_TRUE(WildcardMatch("a*", "abc"));
    EXPECT_TRUE(WildcardMatch("abc", "a*"));
    EXPECT_TRUE(WildcardMatch("", "*"));
    EXPECT_FALSE(WildcardMatch("", "a"));
    EXPECT_TRUE(WildcardMatch("a.", "A"));
    EXPECT_TRUE(WildcardMatch("*b*d", "abcd"));
    EXPECT_FALSE(WildcardMatch("*b*e", "abcd"));
}

TEST(Wildcard, ManyStarsStayFast) {
    // A name made of stars against a pattern of many stars must not take exponential time.
    std::string name(200, '*');
    name += "a";
    std::string pat;
    for (int i = 0; i < 40; ++i)
        pat += "*a";
    EXPECT_FALSE(WildcardMatch(std::string(300, 'b'), pat));
    EXPECT_TRUE(WildcardMatch(name, pat));
    EXPECT_FALSE(WildcardMatch(name + "x", pat));
}

}  // namespace
}  // namespace varnok
