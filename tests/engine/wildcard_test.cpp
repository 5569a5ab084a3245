#include "engine/skip_rules.h"
#include "engine/wildcard.h"

#include <gtest/gtest.h>

namespace {

struct WildcardRow {
    const char* text;
    const char* pattern;
    bool expected;
};

const WildcardRow kRows[] = {
    { "x.bak", "*.bak", true },
    { "index.old.bak", "*.bak", true },
    { "a.b.bak", "*.bak", true },
    { "x.bak.txt", "*.bak", false },
    { "/site/_vti_cnf", "*_vti_cnf", true },
    { "/site/_vti_cnf/x", "*_vti_cnf", false },
    { "/x/Archiv", "*/Archiv", true },
    { "myoldfile", "*old*", true },
    { "oldx", "*old*", true },
    { "old", "*old*", true },
    { "xold", "*old*", true },
    { "aaab", "*aab", true },
    { "abcabc", "*abc", true },
    { "abbd", "a*d", true },
    { "abdabd", "a*d", true },
    { "abab", "*ab*ab", true },
    { "x?", "x?", true },
    { "xx", "x?", false },
    { "", "", true },
    { "a", "", false },
    { "", "*", true },
    { "", "**", true },
    { "", "*a", false },
    { "/Site/_VTI_CNF", "*_vti_cnf", false },
    { "/x\\Archiv", "*\\Archiv", true },
    { "/x/Archiv", "*\\Archiv", false },
    { "abc", "abc", true },
    { "abc", "ab", false },
    { "ab", "abc", false },
    { "mississippi", "m*iss*ppi", true },
    { "mississippi", "m*iss*ppx", false },
};

TEST(MatchWildcard, Table)
{
    for (const WildcardRow& row : kRows)
        EXPECT_EQ(MatchWildcard(row.text, row.pattern), row.expected) << row.text << " ~ " << row.pattern;
}

TEST(SkipRules, FileRuleFoldsCaseFolderRuleDoesNot)
{
    EXPECT_TRUE(isForbiddenFile("A.BAK", { "*.bak" }));
    EXPECT_TRUE(isForbiddenFile("a.bak", { "*.BAK" }));
    EXPECT_FALSE(isForbiddenFile("a.html", { "*.bak", "*sic*" }));
    EXPECT_TRUE(isForbiddenFile("Music.html", { "*.bak", "*sic*" }));
    EXPECT_FALSE(isForbiddenDirectory("/Site/_VTI_CNF", { "*_vti_cnf" }));
    EXPECT_TRUE(isForbiddenDirectory("/site/_vti_cnf", { "*_vti_cnf" }));
    EXPECT_TRUE(isForbiddenDirectory("", { "*" }));
    EXPECT_FALSE(isForbiddenDirectory("", { "*/Archiv" }));
}

} // namespace
