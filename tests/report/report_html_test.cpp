#include "report/report_html.h"

#include "platform/file_utils.h"
#include "support/temp_dir.h"

#include <ctime>
#include <gtest/gtest.h>

namespace {

// A block that shows every placeholder once, so a row renders as one readable line.
const char* const kTemplate = "<head>\n"
                              "<!-- repeat -->\n"
                              "[date]|[alt]|[file]|[autor]|[editor]|[status]\n"
                              "<!-- repeat -->\n"
                              "</tail>\n";

ReportRow row(std::string path, int64_t time, bool failed = false, std::string archive = {})
{
    return ReportRow { std::move(path), std::move(archive), time, failed, {}, {} };
}

int64_t localTime(int year, int month, int day, int hour, int minute)
{
    struct tm local { };
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_isdst = -1;
    return static_cast<int64_t>(std::mktime(&local));
}

std::string render(const std::vector<ReportRow>& rows, int archmax, std::string_view layout = kTemplate)
{
    ReportPageSettings settings { "/w", "", archmax };
    return renderReportPage(splitReportTemplate(layout), rows, settings);
}

TEST(ReportHtml, RendersNewestFirstWithEveryPlaceholder)
{
    ReportRow first = row("/w/a.html", localTime(2006, 12, 7, 15, 30), false, "/_archiv_/a0712061530.html");
    first.author = "alice";
    first.editor = "bob";
    ReportRow second = row("/w/sub/b.gif", localTime(2007, 1, 2, 3, 4), true);
    ReportRow third = row("/w/gone.html", -1, true);
    EXPECT_EQ(render({ first, second, third }, 0),
        "<head>\n"
        "<!-- repeat -->\n"
        " - | - |<a href=\"/gone.html\">/gone.html</a>| - | - |Del\n"
        "<!-- repeat -->\n"
        "02.01.2007 03:04| - |<a href=\"/sub/b.gif\">/sub/b.gif</a>| - | - |Error\n"
        "<!-- repeat -->\n"
        "07.12.2006 15:30|/_archiv_/a0712061530.html|<a href=\"/a.html\">/a.html</a>|alice|bob|OK\n"
        "<!-- repeat -->\n"
        "</tail>\n");
}

// A file moved within the site is one row under its new name; the field that says so is one
// older lists lack, and a list that has it still reads in the six fields before it.
TEST(ReportHtml, AMoveIsOneRowThatNamesWhereTheFileWas)
{
    TempDir dir;
    const std::string rowsPath = dir.file("site.ftp.report");
    ReportRow moved = row("/w/new/v.mp4", localTime(2007, 1, 2, 3, 4));
    moved.movedFrom = "/w/old;/v.mp4";
    ASSERT_TRUE(appendReportRows(rowsPath, { moved }));
    EXPECT_EQ(readWholeFile(rowsPath), "/w/new/v.mp4;;" + std::to_string(moved.time) + ";0;;;/w/old%3B/v.mp4\n");
    const std::vector<ReportRow> rows = readReportRows(rowsPath);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].movedFrom, moved.movedFrom);
    EXPECT_EQ(render(rows, 0),
        "<head>\n<!-- repeat -->\n"
        "02.01.2007 03:04| - |<a href=\"/new/v.mp4\">/new/v.mp4</a>| - | - |Moved from /old;/v.mp4\n"
        "<!-- repeat -->\n</tail>\n");
}

TEST(ReportHtml, ArchmaxLimitsTheRows)
{
    std::vector<ReportRow> rows { row("/w/1", 1), row("/w/2", 2), row("/w/3", 3) };
    struct Case {
        int archmax;
        size_t shown;
    };
    for (Case c : { Case { 1, 2 }, Case { 0, 3 }, Case { -1, 0 }, Case { 2, 3 }, Case { 10, 3 } }) {
        std::string page = render(rows, c.archmax, "<!-- repeat -->[file]\n<!-- repeat -->\n");
        size_t count = 0;
        for (size_t at = page.find("<a "); at != std::string::npos; at = page.find("<a ", at + 1))
            ++count;
        EXPECT_EQ(count, c.shown) << "archmax " << c.archmax;
        if (c.shown > 0) {
            EXPECT_EQ(page.find("<a href=\"/3\">"), page.find("<a ")) << "newest first";
        }
    }
}

TEST(ReportHtml, HostileNamesAreEscaped)
{
    ReportRow hostile = row("/w/<script>x</script>.html", 5, false, "/_archiv_/\"><script>y</script>");
    hostile.author = "<b>&'";
    hostile.editor = "\"quoted\"";
    std::string page = render({ hostile }, 0, "<!-- repeat -->\n<a href=\"[alt]\">alt</a> [file] [author] [editor]\n");
    EXPECT_EQ(page.find("<script>"), std::string::npos) << page;
    EXPECT_NE(page.find("<a href=\"/%3Cscript%3Ex%3C/script%3E.html\">/&lt;script&gt;x&lt;/script&gt;.html</a>"),
        std::string::npos)
        << page;
    EXPECT_NE(page.find("href=\"/_archiv_/%22%3E%3Cscript%3Ey%3C/script%3E\""), std::string::npos) << page;
    EXPECT_NE(page.find("&lt;b&gt;&amp;&#39; &quot;quoted&quot;"), std::string::npos) << page;
}

TEST(ReportHtml, PlaceholdersAreFilledOnceAndOnlyInTheTemplateText)
{
    ReportRow tricky = row("/w/[status][editor].html", 1);
    tricky.author = "[date]";
    std::string page
        = render({ tricky }, 0, "<!-- repeat -->\n[author] [author] [file] [editor] [status] [status] [alt]\n");
    EXPECT_EQ(page,
        "<!-- repeat -->\n"
        "[date] [author] <a href=\"/%5Bstatus%5D%5Beditor%5D.html\">/[status][editor].html</a>  -  OK [status]  - "
        "\n");
}

TEST(ReportHtml, LinkTargets)
{
    struct Case {
        const char* local;
        const char* start;
        const char* path;
        const char* target;
    };
    const Case cases[] = {
        { "/home/u/web", "/htdocs", "/home/u/web/img/a.gif", "/htdocs/img/a.gif" },
        { "/home/u/web", "www", "/home/u/web/img/a.gif", "/www/img/a.gif" },
        { "/home/u/web", "", "/home/u/web/a.gif", "/a.gif" },
        { "/home/U/Web", "", "/home/u/web/a.gif", "/a.gif" }, // prefix compared without case
        // Outside the local folder (it moved since): only the name, never the local folders.
        { "/home/u/web", "/htdocs", "/x/y.htm", "/htdocs/y.htm" },
        { "/w", "", "/w/a b#c?.html", "/a%20b%23c%3F.html" },
    };
    for (const Case& c : cases) {
        ReportPageSettings settings { c.local, c.start, 0 };
        std::string page = renderReportPage(splitReportTemplate("<!-- repeat -->[file]"), { row(c.path, 1) }, settings);
        size_t href = page.find("href=\"") + 6;
        EXPECT_EQ(page.substr(href, page.find('"', href) - href), c.target) << c.path;
        // The shown name is the server path too: the local one would tell visitors the
        // user's account and folders.
        EXPECT_EQ(page.find("/home/"), std::string::npos) << page;
    }
}

TEST(ReportHtml, TemplateMarkers)
{
    ReportTemplate none = splitReportTemplate("a\nb\n");
    EXPECT_EQ(none.head, (std::vector<std::string> { "a", "b" }));
    EXPECT_TRUE(none.block.empty() && none.tail.empty());
    EXPECT_EQ(render({ row("/w/a", 1) }, 0, "a\nb\n"), "a\nb\n");

    ReportTemplate three = splitReportTemplate("h\r\n<!-- repeat -->\r\nrow\n<!-- repeat --> end\nt\n"
                                               "<!-- repeat -->\nlost\n");
    EXPECT_EQ(three.head, std::vector<std::string> { "h" });
    EXPECT_EQ(three.block, (std::vector<std::string> { "<!-- repeat -->", "row" }));
    EXPECT_EQ(three.tail, (std::vector<std::string> { "<!-- repeat --> end", "t" }));

    // A template written by an older version ends in a zero byte.
    ReportTemplate zero = splitReportTemplate(std::string("h\n<!-- repeat -->\n\0", 19));
    EXPECT_EQ(zero.block, (std::vector<std::string> { "<!-- repeat -->", "" }));
}

TEST(ReportHtml, RowsFileRoundTripsAwkwardValues)
{
    TempDir dir;
    std::string rowsPath = dir.file("site.ftp.report");
    ReportRow awkward = row("/w/a;b%3B\nc.html", 1165500000, true, "/_archiv_/a;b");
    awkward.author = "x;y";
    awkward.editor = "100%";
    ReportRow deleted = row("/w/gone.html", -1, false);
    ASSERT_TRUE(appendReportRows(rowsPath, { awkward }));
    ASSERT_TRUE(appendReportRows(rowsPath, { deleted }));
    EXPECT_EQ(readWholeFile(rowsPath),
        "/w/a%3Bb%253B%0Ac.html;/_archiv_/a%3Bb;1165500000;1;x%3By;100%25\n/w/gone.html;;-1;-1;;\n");
    std::vector<ReportRow> rows = readReportRows(rowsPath);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].path, awkward.path);
    EXPECT_EQ(rows[0].archivePath, awkward.archivePath);
    EXPECT_EQ(rows[0].author, "x;y");
    EXPECT_EQ(rows[0].editor, "100%");
    EXPECT_TRUE(rows[0].failed);
    EXPECT_EQ(rows[1].time, -1);
    EXPECT_TRUE(rows[1].failed);
}

TEST(ReportHtml, DamagedRowsGiveDefaults)
{
    struct Case {
        const char* name;
        std::string line;
        std::string path;
        int64_t time;
        bool failed;
    };
    const Case cases[] = {
        { "path only", "/w/a.html", "/w/a.html", 0, false },
        { "three fields", "/w/a.html;;42", "/w/a.html", 42, false },
        { "junk numbers", "/w/a.html;;x;y;;", "/w/a.html", 0, false },
        { "failed any non-zero", "/w/a.html;;1;7;;", "/w/a.html", 1, true },
        { "extra fields", "/w/a;;1;0;a;e;more;more", "/w/a", 1, false },
        { "huge time", "/w/a;;999999999999999999999999;0", "/w/a", INT64_MAX, false },
        { "stray percent", "/w/100%;;1;0", "/w/100%", 1, false },
        { "overlong", std::string(100000, 'p') + ";;5;0", std::string(100000, 'p'), 5, false },
    };
    for (const Case& c : cases) {
        ReportRow parsed = parseReportRow(c.line);
        EXPECT_EQ(parsed.path, c.path) << c.name;
        EXPECT_EQ(parsed.time, c.time) << c.name;
        EXPECT_EQ(parsed.failed, c.failed) << c.name;
    }
    TempDir dir;
    dir.writeFile("rows", "\n/w/a;;1;0;;\r\n\n" + std::string(1 << 20, ';') + "\n");
    EXPECT_EQ(readReportRows(dir.file("rows")).size(), 2u);
    EXPECT_TRUE(readReportRows(dir.file("missing")).empty());
}

TEST(ReportHtml, WritesPageFromFiles)
{
    TempDir dir;
    dir.writeFile("rows", "/w/a.html;;1;0;;\n");
    dir.writeFile("t.html", "<!-- repeat -->\n[status]\n");
    ReportPageSettings settings { "/w", "", 10 };
    ASSERT_TRUE(writeReportPage(dir.file("rows"), dir.file("t.html"), dir.file("page.html"), settings));
    EXPECT_EQ(readWholeFile(dir.file("page.html")), "<!-- repeat -->\nOK\n");
    // Without a template the page is empty; without a folder it cannot be written.
    ASSERT_TRUE(writeReportPage(dir.file("rows"), dir.file("none.html"), dir.file("page.html"), settings));
    EXPECT_EQ(readWholeFile(dir.file("page.html")), "");
    EXPECT_FALSE(writeReportPage(dir.file("rows"), dir.file("t.html"), dir.file("no/page.html"), settings));
}

} // namespace
