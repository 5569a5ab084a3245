#include "engine/web_project.h"

#include "platform/file_utils.h"
#include "report/report_html.h"
#include "report/report_templates.h"

#include <map>
#include <set>

std::string WebProject::ReportHTML(const std::string& startDirectory)
{
    std::string pagePath = projectPath + ".html";
    try {
        std::string folder = dataDirectory.empty() ? getDataDirectory() : dataDirectory;
        if (!folder.empty() && folder.back() != '/')
            folder += '/';
        bool frontPage = machineOptions ? machineOptions->frontPage : MachineOptions {}.frontPage;
        std::string templatePath = folder + (frontPage ? kAuthorReportTemplateName : kPlainReportTemplateName);
        std::string rowsPath = projectPath + ".report";

        if (!reportRowsAppended) {
            // A move is one row under its new name, not an upload and a deletion.
            std::map<std::string, std::string> movedTo; // new path -> old
            std::set<std::string> movedAway;
            for (const StepOutcome& outcome : stepOutcomes)
                if (outcome.kind == StepOutcome::Kind::Moved) {
                    movedTo[outcome.path] = outcome.detail;
                    movedAway.insert(outcome.detail);
                }
            std::vector<ReportRow> rows;
            for (const FileItem& item : items) {
                if (item.deleted && movedAway.contains(item.path))
                    continue;
                // A deletion the server refused is an error, not a "Del".
                if (item.deleted && !item.failed)
                    rows.push_back({ item.path, item.archivePath, -1, true, item.author, item.editor });
                else if (item.deleted)
                    rows.push_back({ item.path, {}, clock(), true, item.author, item.editor });
                else if (item.changed)
                    rows.push_back({ item.path, item.archivePath, item.mtime, item.failed, item.author, item.editor,
                        movedTo.contains(item.path) ? movedTo[item.path] : std::string() });
            }
            // An unwritable rows file only costs this run's history; the page is still made.
            if (!rows.empty())
                (void)appendReportRows(rowsPath, rows);
            reportRowsAppended = true;
        }
        ReportPageSettings settings { local, startDirectory, archmax };
        (void)writeReportPage(rowsPath, templatePath, pagePath, settings);
    } catch (...) {
        (eventSink ? *eventSink : *this).message("Crash in ReportHTML\n");
    }
    return pagePath;
}
