#include "engine/web_project.h"

#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

struct LineSink : FtpEventSink {
    std::vector<std::string> lines;
    void onLine(const std::string& text) override { lines.push_back(text); }
};

class ProjectReport : public ::testing::Test {
protected:
    void SetUp() override
    {
        project.projectPath = dir.file("site.ftp");
        project.local = "/w";
        project.dataDirectory = dir.path();
        project.machineOptions = &options;
        project.eventSink = &sink;
        dir.writeFile("report.html", "plain\n<!-- repeat -->\n[file] [status]\n<!-- repeat -->\n");
        dir.writeFile("reportfp.html", "author\n<!-- repeat -->\n[file] [author] [status]\n<!-- repeat -->\n");
        project.items = { item("/w/a.html", true, false, false), item("/w/b.html", true, true, false),
            item("/w/same.html", false, false, false), item("/w/gone.html", true, false, true) };
        project.items[0].author = "alice";
    }

    static FileItem item(std::string path, bool changed, bool failed, bool deleted)
    {
        FileItem result;
        result.path = std::move(path);
        result.mtime = 1165500000;
        result.changed = changed;
        result.failed = failed;
        result.deleted = deleted;
        return result;
    }

    TempDir dir;
    MachineOptions options;
    LineSink sink;
    WebProject project;
};

TEST_F(ProjectReport, RowsAreAppendedOncePerRun)
{
    options.frontPage = false;
    std::string page = project.ReportHTML("www");
    EXPECT_EQ(page, dir.file("site.ftp.html"));
    const std::string expected = "plain\n"
                                 "<!-- repeat -->\n<a href=\"/www/gone.html\">/www/gone.html</a> Del\n"
                                 "<!-- repeat -->\n<a href=\"/www/b.html\">/www/b.html</a> Error\n"
                                 "<!-- repeat -->\n<a href=\"/www/a.html\">/www/a.html</a> OK\n"
                                 "<!-- repeat -->\n";
    EXPECT_EQ(readWholeFile(page), expected);
    // The second site of the same run: same rows, its own start directory.
    EXPECT_EQ(project.ReportHTML(""), page);
    std::optional<std::string> rows = readWholeFile(dir.file("site.ftp.report"));
    ASSERT_TRUE(rows);
    EXPECT_EQ(*rows, "/w/a.html;;1165500000;0;alice;\n/w/b.html;;1165500000;1;;\n/w/gone.html;;-1;-1;;\n");
    EXPECT_NE(readWholeFile(page)->find("<a href=\"/a.html\">"), std::string::npos);

    project.reportRowsAppended = false; // the next run
    options.frontPage = true;
    (void)project.ReportHTML("");
    EXPECT_EQ(readWholeFile(dir.file("site.ftp.report"))->size(), 2 * rows->size());
    std::optional<std::string> authorPage = readWholeFile(page);
    ASSERT_TRUE(authorPage);
    EXPECT_EQ(authorPage->rfind("author\n", 0), 0u);
    EXPECT_NE(authorPage->find(">/a.html</a> alice OK"), std::string::npos);
    // No local folder reaches the published page.
    EXPECT_EQ(authorPage->find("/w/"), std::string::npos);
    EXPECT_TRUE(sink.lines.empty());
}

TEST_F(ProjectReport, UnwritableRowsStillGivesThePage)
{
    dir.makeDirectory("site.ftp.report");
    options.frontPage = false;
    std::string page = project.ReportHTML("");
    EXPECT_EQ(readWholeFile(page), "plain\n<!-- repeat -->\n");
    EXPECT_TRUE(project.reportRowsAppended);
}

} // namespace
