#include "engine/dry_run.h"

#include "engine/command_lines.h"
#include "engine/web_project.h"
#include "ftp/next_token.h"
#include "platform/ascii_case.h"

#include <algorithm>
#include <unordered_map>

namespace {

std::vector<std::string> tokens(std::string_view line)
{
    std::vector<std::string> words;
    size_t position = 0;
    while (position < line.size()) {
        std::string word = nextToken(line, position);
        if (word.empty() && position >= line.size())
            break;
        words.push_back(std::move(word));
    }
    return words;
}

// The server folder a deleted item had, relative to the start directory, as the run derives
// it from the local path; false for a path outside the local folder (the run skips those).
bool deletedServerFolder(const WebProject& project, const std::string& folder, std::string& serverDir)
{
    if (!startsWithIgnoringCase(folder, project.local))
        return false;
    std::string relativeFolder = folder.substr(project.local.size());
    if (!relativeFolder.empty() && relativeFolder.front() != '/' && !project.local.ends_with('/'))
        return false;
    serverDir = project.remote;
    if (!relativeFolder.empty() && relativeFolder.front() != '/')
        serverDir += '/';
    serverDir += relativeFolder;
    return true;
}

std::string fromStartDirectory(const std::string& startdir, const std::string& serverPath)
{
    if (startdir.empty() || startdir.front() == '/')
        return startdir + serverPath;
    return "/" + startdir + serverPath;
}

} // namespace

bool RunPlan::nothingToDo() const
{
    for (const SitePlan& site : sites)
        if (!site.steps.empty())
            return false;
    return true;
}

const char* reasonName(PlanReason reason)
{
    switch (reason) {
    case PlanReason::New: return "new";
    case PlanReason::Changed: return "changed";
    case PlanReason::Deleted: return "deleted";
    case PlanReason::Report: return "report";
    }
    return "";
}

RunPlan planRun(WebProject& project)
{
    project.Scan();
    // Detection leaves this set for the run that would follow; nothing follows here.
    project.detectionDone = false;

    std::unordered_map<std::string, const FileItem*> itemByPath;
    for (const FileItem& item : project.items)
        itemByPath.emplace(item.path, &item);
    const auto reasonOf = [&](const std::string& localPath) {
        return project.timeMap.contains(localPath) ? PlanReason::Changed : PlanReason::New;
    };

    RunPlan plan;
    for (const FileItem& item : project.items)
        if (item.deleted && project.deleteRemoved != 1)
            ++plan.keptOnServer;
    // A run with nothing pending does not connect at all, so it sends nothing anywhere.
    if (!project.changesPending)
        return plan;

    for (const FtpSite& site : project.sites) {
        SitePlan& sitePlan = plan.sites.emplace_back();
        sitePlan.name = site.name;
        sitePlan.url = site.url;
        for (const FileItem& item : project.items) {
            if (item.failed && item.changed && !item.deleted)
                sitePlan.steps.push_back({ PlannedAction::Refuse, reasonOf(item.path), item.path, {}, {} });
        }
        for (const PendingCommand& pending : project.pendingCommands) {
            std::vector<std::string> words
                = tokens(site.startdir.empty() ? pending.command : applyStartDirectory(pending.command, site.startdir));
            if (words.size() == 3 && words[0] == "put") {
                sitePlan.steps.push_back(
                    { PlannedAction::Upload, reasonOf(pending.localPath), words[1], words[2], {} });
            } else if (words.size() == 3 && words[0] == "mv") {
                // The move line is queued right before the put of the same file.
                sitePlan.steps.push_back({ PlannedAction::Archive, PlanReason::Changed, {}, words[1], words[2] });
            }
        }
        // The reason of an archive move is that of the upload it makes room for.
        for (size_t index = 0; index + 1 < sitePlan.steps.size(); ++index) {
            PlannedStep& step = sitePlan.steps[index];
            if (step.action == PlannedAction::Archive && sitePlan.steps[index + 1].action == PlannedAction::Upload)
                step.reason = sitePlan.steps[index + 1].reason;
        }
        if (project.deleteRemoved == 1) {
            for (FileItem& item : project.items) {
                if (!item.deleted)
                    continue;
                const size_t slash = item.path.rfind('/');
                std::string serverDir;
                if (slash == std::string::npos || !deletedServerFolder(project, item.path.substr(0, slash), serverDir))
                    continue;
                const std::string fileName = item.path.substr(slash + 1);
                const std::string serverPath = fromStartDirectory(site.startdir, serverDir + "/" + fileName);
                if (project.archivdir.empty()) {
                    sitePlan.steps.push_back({ PlannedAction::Delete, PlanReason::Deleted, item.path, serverPath, {} });
                } else {
                    (void)project.BuildArchiveMove(fileName, serverDir, item);
                    sitePlan.steps.push_back(
                        { PlannedAction::Archive, PlanReason::Deleted, item.path, serverPath, item.archivePath });
                }
            }
        }
        if (!project.htmlreport.empty())
            sitePlan.steps.push_back(
                { PlannedAction::Upload, PlanReason::Report, project.projectPath + ".html", project.htmlreport, {} });
        if (!project.archivdir.empty())
            sitePlan.pruneKeep = std::max(project.archmax, 0);
    }
    return plan;
}

std::vector<std::string> describePlan(const RunPlan& plan)
{
    std::vector<std::string> lines;
    if (plan.nothingToDo())
        lines.push_back("nothing to upload or delete");
    const std::vector<SitePlan> none;
    for (const SitePlan& site : plan.nothingToDo() ? none : plan.sites) {
        lines.push_back("site \"" + site.name + "\" (" + site.url + "):");
        int uploads = 0;
        int deletions = 0;
        int archived = 0;
        for (const PlannedStep& step : site.steps) {
            std::string reason = reasonName(step.reason);
            reason.resize(8, ' ');
            switch (step.action) {
            case PlannedAction::Upload:
                lines.push_back("  upload   " + reason + " " + step.localPath + " -> " + step.serverPath);
                uploads += step.reason == PlanReason::Report ? 0 : 1;
                break;
            case PlannedAction::Archive:
                lines.push_back("  archive  " + reason + " " + step.serverPath + " -> " + step.archivePath);
                ++archived;
                break;
            case PlannedAction::Delete:
                lines.push_back("  delete   " + reason + " " + step.serverPath);
                ++deletions;
                break;
            case PlannedAction::Refuse:
                lines.push_back(
                    "  fail     " + reason + " " + step.localPath + " (a double quote in the name cannot be sent)");
                break;
            }
        }
        if (site.pruneKeep >= 0)
            lines.push_back("  archive pruned to " + std::to_string(site.pruneKeep) + " newest on the server");
        lines.push_back("  " + std::to_string(uploads) + " to upload, " + std::to_string(deletions) + " to delete, "
            + std::to_string(archived) + " to archive");
    }
    if (plan.keptOnServer > 0)
        lines.push_back(std::to_string(plan.keptOnServer)
            + " files deleted locally stay on the server (automatic deletion is off)");
    return lines;
}
