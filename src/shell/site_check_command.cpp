#include "shell/site_check_command.h"

#include "platform/file_lock.h"
#include "platform/file_utils.h"
#include "shell/application.h"
#include "shell/console_window.h"
#include "shell/windowless_runner.h"

#include <vector>

namespace {

std::string siteName(const WebProject& project, int site)
{
    const FtpSite& described = project.sites[static_cast<size_t>(site - 1)];
    return "site " + std::to_string(site) + " \"" + described.name + "\" (" + described.url + ")";
}

// Prints what one project's sites came to; true when every site is in step.
bool reportProject(const WebProject& project, const std::vector<SiteComparison>& sites, CompareMode mode,
    std::FILE* out, std::FILE* err)
{
    bool inStep = true;
    for (const SiteComparison& site : sites) {
        const std::string name = siteName(project, site.site);
        if (!site.failure.empty()) {
            std::fprintf(err, "failed %s: %s\n", name.c_str(), site.failure.c_str());
            inStep = false;
            continue;
        }
        if (mode == CompareMode::Report) {
            for (const FullCompare::Difference& difference : site.differences)
                std::fprintf(out, "%s\n", differenceLine(difference).c_str());
            if (site.differences.empty())
                std::fprintf(out, "%s: in step\n", name.c_str());
            else
                std::fprintf(out, "%s: %zu differences\n", name.c_str(), site.differences.size());
            inStep = inStep && site.differences.empty();
            continue;
        }
        int counts[3] = {}; // uploaded, deleted, failed
        for (const WebProject::StepOutcome& outcome : site.outcomes) {
            std::fprintf(outcome.kind == WebProject::StepOutcome::Kind::Failed ? err : out, "%s\n",
                ConsoleWindow::outcomeLine(project, outcome).c_str());
            ++counts[outcome.kind == WebProject::StepOutcome::Kind::Uploaded ? 0
                    : outcome.kind == WebProject::StepOutcome::Kind::Failed  ? 2
                                                                             : 1];
        }
        if (site.deletionsHeld)
            std::fprintf(err,
                "failed %s: more of the server than maxdelete=%d%% allows is not in %s: nothing was deleted; "
                "to allow it, set maxdelete=100 in %s for one repair\n",
                name.c_str(), project.maxdelete, project.local.c_str(), project.projectPath.c_str());
        std::fprintf(out, "%s: %d uploaded, %d deleted, %d failed\n", name.c_str(), counts[0], counts[1], counts[2]);
        inStep = inStep && counts[2] == 0 && !site.deletionsHeld;
    }
    return inStep;
}

} // namespace

std::string differenceLine(const FullCompare::Difference& difference)
{
    switch (difference.kind) {
    case FullCompare::Difference::Kind::MissingOnServer: return "missing on the server: " + difference.serverPath;
    case FullCompare::Difference::Kind::SizeDiffers: return "differs in size: " + difference.serverPath;
    case FullCompare::Difference::Kind::OnlyOnServer: return "only on the server: " + difference.serverPath;
    case FullCompare::Difference::Kind::Leftover: break;
    }
    return "left over by a stopped upload: " + difference.serverPath;
}

int runSiteCheck(Application& application, const std::string& argument, CompareMode mode, std::FILE* out,
    std::FILE* err, std::optional<int64_t> uploadRateLimit)
{
    std::vector<WebProject*> chosen = chosenProjects(application.projects(), argument);
    if (chosen.empty()) {
        std::fprintf(
            err, "tarnwick: no project matches \"%s\" in %s\n", argument.c_str(), application.dataDirectory().c_str());
        return 1;
    }
    bool inStep = true;
    for (WebProject* project : chosen) {
        std::fprintf(out, "%s %s:\n", mode == CompareMode::Report ? "compare of" : "repair of",
            fileNamePart(project->projectPath).c_str());
        FileLock lock;
        if (mode == CompareMode::Repair && !project->projectPath.empty()) {
            const FileLock::Outcome outcome = lock.lock(project->projectPath + ".lock", FileLock::Wait::DontWait);
            if (outcome != FileLock::Outcome::Locked) {
                std::fprintf(err, "failed %s: %s\n", fileNamePart(project->projectPath).c_str(),
                    outcome == FileLock::Outcome::HeldElsewhere
                        ? "another Tarnwick process is running it; nothing was changed"
                        : ("cannot lock " + project->projectPath + ".lock: " + errorText(lock.error())).c_str());
                inStep = false;
                continue;
            }
        }
        if (uploadRateLimit)
            project->uploadRateLimitOverride = uploadRateLimit;
        NullEventSink quiet;
        project->eventSink = &quiet;
        const std::vector<SiteComparison> sites = compareSites(*project, mode);
        project->eventSink = project;
        inStep = reportProject(*project, sites, mode, out, err) && inStep;
    }
    std::fflush(out);
    return inStep ? 0 : 1;
}
