#include "report/activity_log.h"
#include "support/temp_dir.h"
#include "support/upload_site.h"

#include <gtest/gtest.h>

namespace {

TEST(ActivityLog, LinesAreCutAtTheirFirstLineBreak)
{
    struct Case {
        const char* text;
        const char* appended; // what append keeps
        const char* plain; // what a plain line keeps
    };
    const Case cases[] = {
        { "220 ready", "220 ready", "220 ready" },
        { "226 done\r\n", "226 done", "226 done" },
        { "first\nsecond\r\n", "first\nsecond", "first" },
        { "\r", "", "" },
        { "", "", "" },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(test.text)));
        ActivityLog log;
        log.append(test.text);
        EXPECT_EQ(log.lines(), std::vector<std::string> { test.appended });
        EXPECT_EQ(ActivityLog::cutAtLineEnd(test.text), test.plain);
    }
}

TEST(ActivityLog, KeepsTheNewestLinesWhenFull)
{
    ActivityLog log(3);
    for (const char* line : { "1", "2", "3", "4", "5" })
        log.append(line);
    EXPECT_EQ(log.lines(), (std::vector<std::string> { "3", "4", "5" }));
    EXPECT_EQ(log.droppedCount(), 2u);
    log.clear();
    log.append("after");
    EXPECT_EQ(log.lines(), std::vector<std::string> { "after" });
}

TEST(ActivityLog, SavesEveryLineWithALineFeed)
{
    TempDir folder;
    ActivityLog log;
    EXPECT_TRUE(log.saveTo(folder.file("empty.txt")));
    EXPECT_EQ(readText(folder.file("empty.txt")), "");
    log.append(ActivityLog::uploadLine("/web/a.html"));
    log.append(ActivityLog::okResult("/web/a.html"));
    EXPECT_TRUE(log.saveTo(folder.file("ftp.txt")));
    EXPECT_EQ(readText(folder.file("ftp.txt")), "-->/web/a.html\nOK /web/a.html\n");
    EXPECT_FALSE(log.saveTo(folder.file("missing/folder/ftp.txt")));
}

} // namespace
