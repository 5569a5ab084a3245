#include "engine/command_lines.h"

#include "engine/web_project.h"
#include "session/next_token.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>

namespace {

struct tm december7()
{
    struct tm local { };
    local.tm_year = 106;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = 15;
    local.tm_min = 30;
    local.tm_sec = 45;
    return local;
}

TEST(CommandLines, ArchiveNames)
{
    struct Row {
        const char* serverDir;
        const char* file;
        const char* expected;
    };
    const Row rows[] = {
        { "/sub", "index.html", "_sub_index071206153045.html" },
        { "", "a.b.css", "a.b071206153045.css" },
        { "/sub", "README", "_sub_README071206153045" },
        { "/a/b", "x.tar.gz", "_a_b_x.tar071206153045.gz" },
        { "", "back\\slash.txt", "back_slash071206153045.txt" },
        { "/dotted.dir", "README", "_dotted.dir_README071206153045" },
        { "", ".htaccess", "071206153045.htaccess" },
    };
    for (const Row& row : rows) {
        std::string name = archiveName(row.file, row.serverDir, december7());
        EXPECT_EQ(name, row.expected) << row.serverDir << " " << row.file;
        // Pruning reads the stamp back: it must find exactly the moment it was made.
        struct tm local = december7();
        local.tm_isdst = -1;
        EXPECT_EQ(archiveStampTime(name), static_cast<int64_t>(std::mktime(&local))) << name;
    }

    struct tm morning = december7();
    morning.tm_year = 100; // 2000: two-digit year with a leading zero
    morning.tm_mon = 0;
    morning.tm_mday = 2;
    morning.tm_hour = 3;
    morning.tm_min = 4;
    morning.tm_sec = 5;
    EXPECT_EQ(archiveName("a.html", "", morning), "a020100030405.html");
}

TEST(CommandLines, ArchiveStampsAndUniqueNames)
{
    auto localTime = [](int year, int month, int day, int hour, int minute, int second) {
        struct tm local { };
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        return std::optional<int64_t>(static_cast<int64_t>(std::mktime(&local)));
    };
    struct Row {
        const char* name;
        std::optional<int64_t> expected;
    };
    const Row rows[] = {
        { "_sub_index071206153045.html", localTime(2006, 12, 7, 15, 30, 45) },
        { "_sub_index071206153045-3.html", localTime(2006, 12, 7, 15, 30, 45) },
        { "_sub_index0712061530.html", localTime(2006, 12, 7, 15, 30, 0) }, // names from before seconds
        { "photo2023_x311299235959.jpg", localTime(1999, 12, 31, 23, 59, 59) },
        { "_sub_README081206090000", localTime(2006, 12, 8, 9, 0, 0) }, { "index.html", std::nullopt },
        { "v123.html", std::nullopt }, { "991399999999.html", std::nullopt }, // no such date or time
    };
    for (const Row& row : rows)
        EXPECT_EQ(archiveStampTime(row.name), row.expected) << row.name;

    std::set<std::string> taken { "a071206153045.html", "a071206153045-2.html", "README071206153045" };
    auto isTaken = [&taken](const std::string& name) { return taken.count(name) > 0; };
    EXPECT_EQ(uniqueArchiveName("b071206153045.html", isTaken), "b071206153045.html");
    EXPECT_EQ(uniqueArchiveName("a071206153045.html", isTaken), "a071206153045-3.html");
    EXPECT_EQ(uniqueArchiveName("README071206153045", isTaken), "README071206153045-2");
}

TEST(CommandLines, LineForms)
{
    EXPECT_EQ(enterFolderLine(""), "cd \"/\"");
    EXPECT_EQ(enterFolderLine("/sub dir"), "mkdir \"/sub dir\"");
    EXPECT_EQ(enterFolderLine("/a,b"), "mkdir \"/a,b\"");
    EXPECT_EQ(putLine("/w/a b.html", "/a b.html"), "put \"/w/a b.html\" \"/a b.html\"");
    EXPECT_EQ(deleteLine("/www/sub", "x y.html"), "dele \"/www/sub/x y.html\"");
    EXPECT_EQ(archiveMoveLine("www", "/sub", "x.html", "/_archiv_", "_sub_x.html"),
        "mv \"/www/sub/x.html\" \"/_archiv_/_sub_x.html\"");
    EXPECT_EQ(archiveMoveLine("", "", "x.html", "/_archiv_", "x.html"), "mv \"/x.html\" \"/_archiv_/x.html\"");
}

// A transcript line shows each path whole and reads back to the same paths, whatever the
// name holds; lines written before quotes were doubled read as they always did.
TEST(CommandLines, PathsReadBackFromTheirLine)
{
    struct Row {
        const char* name;
        std::string line;
        std::vector<std::string> tokens;
    };
    const Row rows[] = {
        { "quote in the name", putLine("/w/quo\"te.html", "/quo\"te.html"),
            { "put", "/w/quo\"te.html", "/quo\"te.html" } },
        { "quotes at both ends", deleteLine("/w", "\"x\""), { "dele", "/w/\"x\"" } },
        { "two quotes in a row", moveLine("/a\"\"b", "/c, d"), { "mv", "/a\"\"b", "/c, d" } },
        { "only a quote", enterFolderLine("\""), { "mkdir", "\"" } },
        { "older line with an empty path", "put \"\" \"/x\"", { "put", "", "/x" } },
        { "older line with an unclosed quote", "put \"/a b", { "put", "/a b" } },
        { "older line with a backslash before a quote", "cd \"\\web\\\" x", { "cd", "\\web\\", "x" } },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> tokens;
        for (size_t position = 0; position < row.line.size();)
            tokens.push_back(nextToken(row.line, position));
        EXPECT_EQ(tokens, row.tokens) << row.line;
    }
    EXPECT_EQ(putLine("/w/quo\"te.html", "/quo\"te.html"), "put \"/w/quo\"\"te.html\" \"/quo\"\"te.html\"");
    EXPECT_EQ(applyStartDirectory(putLine("/w/\"a\".html", "/\"a\".html"), "www"),
        putLine("/w/\"a\".html", "/www/\"a\".html"));
}

TEST(CommandLines, StartDirectoryRewrite)
{
    struct Row {
        const char* line;
        const char* startDir;
        const char* expected;
    };
    const Row rows[] = {
        { "put \"/w/sub/x.html\" \"/sub/x.html\"", "", "put \"/w/sub/x.html\" \"/sub/x.html\"" },
        { "put \"/w/sub/x.html\" \"/sub/x.html\"", "www", "put \"/w/sub/x.html\" \"/www/sub/x.html\"" },
        { "put \"/w/x.html\" \"/x.html\"", "www", "put \"/w/x.html\" \"/www/x.html\"" },
        { "cd /", "www", "cd \"/www/\"" },
        { "mkdir /sub", "www", "mkdir \"/www/sub\"" },
        { "cd \"/\"", "www", "cd \"/www/\"" },
        { "mkdir \"/my folder\"", "www", "mkdir \"/www/my folder\"" },
        { "mkdir \"/a,b\"", "www", "mkdir \"/www/a,b\"" },
        { "mkdir /my folder", "www", "mkdir \"/www/my\"" },
        { "mkdir /my folder", "", "mkdir /my folder" },
        { "Put \"/w/x.html\" \"/x.html\"", "www", "Put \"/w/x.html\" \"/x.html\"" },
        { "MKDIR /sub", "www", "MKDIR /sub" },
        { "mv \"/sub/x.html\" \"/_archiv_/x.html\"", "www", "mv \"/sub/x.html\" \"/_archiv_/x.html\"" },
        { "dele /sub/x.html", "www", "dele /sub/x.html" },
        { "", "www", "" },
        { "put", "www", "put \"\" \"/www\"" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(applyStartDirectory(row.line, row.startDir), row.expected) << row.line;
}

TEST(CommandLines, BuildArchiveMoveUsesProjectClockAndStartDirectory)
{
    WebProject project;
    project.archivdir = "/_archiv_";
    project.currentStartDir = "www";
    struct tm local = december7();
    local.tm_isdst = -1;
    int64_t when = static_cast<int64_t>(std::mktime(&local));
    project.clock = [when] { return when; };
    FileItem item;
    EXPECT_EQ(project.BuildArchiveMove("index.html", "/sub", item),
        "mv \"/www/sub/index.html\" \"/_archiv_/_sub_index071206153045.html\"");
    EXPECT_EQ(item.archivePath, "/_archiv_/_sub_index071206153045.html");
}

} // namespace
