#include "session/login_path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

TEST(LoginPathTest, ResolvesAgainstTheCurrentFolderAndNeverLeavesTheRoot)
{
    struct Row {
        const char* name;
        std::string current;
        std::string path;
        std::optional<std::string> expected;
    };
    const std::vector<Row> rows = {
        { "root", "/", "/", "/" },
        { "empty means here", "/www", "", "/www" },
        { "absolute ignores current", "/www", "/img/a.png", "/img/a.png" },
        { "relative", "/www", "a.html", "/www/a.html" },
        { "dot steps and doubled slashes", "/www", ".//sub/./a.html/", "/www/sub/a.html" },
        { "parent", "/www/sub", "../a.html", "/www/a.html" },
        { "parents beyond the root stop there", "/www", "../../../etc/passwd", "/etc/passwd" },
        { "absolute parents stop at the root", "/", "/..", "/" },
        { "blanks and umlauts kept", "/", "Neue Seiten/Bücher äöü", "/Neue Seiten/Bücher äöü" },
        { "three dots are a name", "/", "...", "/..." },
        { "NUL refused", "/", std::string("a\0b", 3), std::nullopt },
    };
    for (const Row& row : rows)
        EXPECT_EQ(loginRelativePath(row.current, row.path), row.expected) << row.name;
}

TEST(LoginPathTest, PlacesLoginRelativePathsBelowTheLoginFolder)
{
    struct Row {
        std::string login;
        std::string relative;
        std::string expected;
    };
    const std::vector<Row> rows = {
        { "/home/site", "/", "/home/site" },
        { "/home/site", "/www/a.html", "/home/site/www/a.html" },
        { "/home/site/", "/www", "/home/site/www" },
        { "/", "/www", "/www" },
        { "/", "/", "/" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(serverPathOf(row.login, row.relative), row.expected) << row.login << " + " << row.relative;
}

} // namespace
