#include "report/report_templates.h"

#include "platform/file_utils.h"
#include "report/report_html.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(ReportTemplates, BuiltInTextsAreTheResourcesWithTwoMarkers)
{
    struct Case {
        std::string_view text;
        const char* resource;
        std::vector<const char*> placeholders;
    };
    const Case cases[] = {
        { plainReportTemplate(), "report.html", { "[date]", "[alt]", "[file]", "[status]" } },
        { authorReportTemplate(), "reportfp.html", { "[date]", "[alt]", "[file]", "[autor]", "[editor]", "[status]" } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.resource);
        EXPECT_EQ(readWholeFile(std::string(TARNWICK_SOURCE_DIR "/resources/") + c.resource), std::string(c.text));
        ReportTemplate layout = splitReportTemplate(c.text);
        ASSERT_FALSE(layout.block.empty());
        ASSERT_FALSE(layout.tail.empty());
        std::string block;
        for (const std::string& line : layout.block)
            block += line;
        for (const char* placeholder : c.placeholders)
            EXPECT_NE(block.find(placeholder), std::string::npos) << placeholder;
        EXPECT_NE(layout.tail.back().find("</html>"), std::string::npos);
    }
}

TEST(ReportTemplates, InstallsMissingTemplatesOnly)
{
    TempDir dir;
    dir.writeFile("reportfp.html", "edited by the user");
    ASSERT_TRUE(installReportTemplates(dir.path()));
    std::optional<std::string> plain = readWholeFile(dir.file("report.html"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, plainReportTemplate());
    EXPECT_NE(plain->back(), '\0');
    EXPECT_EQ(readWholeFile(dir.file("reportfp.html")), "edited by the user");

    ASSERT_EQ(::unlink(dir.file("reportfp.html").c_str()), 0);
    ASSERT_TRUE(installReportTemplates(dir.path() + "/"));
    EXPECT_EQ(readWholeFile(dir.file("reportfp.html")), std::string(authorReportTemplate()));

    EXPECT_FALSE(installReportTemplates(dir.file("missing")));
}

} // namespace
