#include "engine/command_lines.h"

#include "engine/web_project.h"

#include <gtest/gtest.h>

namespace {

struct tm december7()
{
    struct tm local { };
    local.tm_year = 106;
    local.tm_mon = 11;
    local.tm_mday = 7;
    local.tm_hour = 15;
    local.tm_min = 30;
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
        { "/sub", "index.html", "_sub_index0712061530.html" },
        { "", "a.b.css", "a.b0712061530.css" },
        { "/sub", "README", "_sub_README" },
        { "/a/b", "x.tar.gz", "_a_b_x.tar0712061530.gz" },
        { "", "back\\slash.txt", "back_slash0712061530.txt" },
        { "/dotted.dir", "README", "_dotted0712061530.dir_README" },
        { "", ".htaccess", "0712061530.htaccess" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(archiveName(row.file, row.serverDir, december7()), row.expected) << row.serverDir << " " << row.file;

    struct tm morning = december7();
    morning.tm_year = 100; // 2000: two-digit year with a leading zero
    morning.tm_mon = 0;
    morning.tm_mday = 2;
    morning.tm_hour = 3;
    morning.tm_min = 4;
    EXPECT_EQ(archiveName("a.html", "", morning), "a0201000304.html");
}

TEST(CommandLines, LineForms)
{
    EXPECT_EQ(enterFolderLine(""), "cd /");
    EXPECT_EQ(enterFolderLine("/sub dir"), "mkdir /sub dir");
    EXPECT_EQ(putLine("/w/a b.html", "/a b.html"), "put \"/w/a b.html\" \"/a b.html\"");
    EXPECT_EQ(deleteLine("/www/sub", "x.html"), "dele /www/sub/x.html");
    EXPECT_EQ(archiveMoveLine("www", "/sub", "x.html", "/_archiv_", "_sub_x.html"),
        "mv \"/www/sub/x.html\" \"/_archiv_/_sub_x.html\"");
    EXPECT_EQ(archiveMoveLine("", "", "x.html", "/_archiv_", "x.html"), "mv \"/x.html\" \"/_archiv_/x.html\"");
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
        "mv \"/www/sub/index.html\" \"/_archiv_/_sub_index0712061530.html\"");
    EXPECT_EQ(item.archivePath, "/_archiv_/_sub_index0712061530.html");
}

} // namespace
