// Rows file lines and report templates on arbitrary bytes: no crash, a row survives being
// written and read again, and no inserted value adds markup to the page.
#include "report/report_html.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    ReportRow row = parseReportRow(text.substr(0, text.find('\n')));
    if (row.time == -1)
        row.failed = true; // a deleted row is stored with failed -1
    std::string line = formatReportRow(row);
    ReportRow again = parseReportRow(std::string_view(line).substr(0, line.size() - 1));
    if (again.path != row.path || again.archivePath != row.archivePath || again.time != row.time
        || again.failed != row.failed || again.author != row.author || again.editor != row.editor)
        std::abort();

    (void)renderReportPage(splitReportTemplate(text), { row }, ReportPageSettings { "/w", "www", 0 });

    ReportTemplate layout = splitReportTemplate("<!-- repeat -->\n[date][file][alt][author][editor][status]\n");
    std::string page = renderReportPage(layout, { row, again }, ReportPageSettings { "/w", "", 0 });
    // Per row: the marker line and the link's two tags.
    if (std::count(page.begin(), page.end(), '<') != 6 || std::count(page.begin(), page.end(), '"') != 4)
        std::abort();
    return 0;
}
