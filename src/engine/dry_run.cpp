#include "engine/dry_run.h"

#include "engine/command_lines.h"
#include "engine/web_project.h"

#include <algorithm>
#include <string_view>
#include <unordered_set>

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
    case PlanReason::ContentChanged: return "content changed";
    case PlanReason::Moved: return "moved from";
    case PlanReason::Deleted: return "deleted";
    case PlanReason::Report: return "report";
    }
    return "";
}

namespace {

// The plan's deletions (or archive moves), leftovers, emptied folders and report page; the
// files in `movedAway` are renamed by their moves instead.
void describeRemovals(WebProject& project, const WebProject::SitePlan& work,
    const std::unordered_set<std::string_view>& movedAway, SitePlan& sitePlan)
{
    for (const WebProject::SitePlan::Deletion& deletion : work.deletions) {
        FileItem& item = *deletion.item;
        // Renamed by its move; deleted only should the rename fail.
        if (movedAway.contains(item.path))
            continue;
        if (!work.archiveDeletions) {
            sitePlan.steps.push_back(
                { PlannedAction::Delete, PlanReason::Deleted, item.path, deletion.target.serverPath, {} });
            continue;
        }
        (void)project.BuildArchiveMove(deletion.target.fileName, deletion.target.serverDir, item);
        sitePlan.steps.push_back(
            { PlannedAction::Archive, PlanReason::Deleted, item.path, deletion.target.serverPath, item.archivePath });
    }
    for (const WebProject::SitePlan::LeftoverPart& part : work.leftoverParts)
        sitePlan.steps.push_back(
            { PlannedAction::RemoveLeftover, PlanReason::Deleted, part.localPath, part.serverPath, {} });
    for (const std::string& folder : work.emptiedFolders)
        sitePlan.steps.push_back({ PlannedAction::RemoveFolder, PlanReason::Deleted, {}, folder, {} });
    if (!work.report.empty())
        sitePlan.steps.push_back(
            { PlannedAction::Upload, PlanReason::Report, project.projectPath + ".html", work.report, {} });
}

} // namespace

RunPlan planRun(WebProject& project)
{
    project.Scan();
    // Detection leaves this set for the run that would follow; nothing follows here.
    project.detectionDone = false;

    std::unordered_set<std::string_view> movedAway;
    for (const PendingCommand& pending : project.pendingCommands)
        if (pending.kind == PendingCommand::Kind::Move)
            movedAway.insert(pending.movedFromFile);
    std::unordered_set<std::string_view> contentChanged;
    for (const FileItem& item : project.items)
        if (item.contentChanged)
            contentChanged.insert(item.path);
    const auto reasonOf = [&](const std::string& localPath) {
        if (!project.timeMap.contains(localPath))
            return PlanReason::New;
        return contentChanged.contains(localPath) ? PlanReason::ContentChanged : PlanReason::Changed;
    };

    RunPlan plan;
    for (const FileItem& item : project.items)
        if (item.deleted && project.deleteRemoved != 1)
            ++plan.keptOnServer;
    // A run with nothing pending does not connect at all, so it sends nothing anywhere.
    if (!project.changesPending)
        return plan;

    for (const FtpSite& site : project.sites) {
        // The plan the run would carry out for this site, described step by step.
        const WebProject::SitePlan work = project.planSite(site);
        SitePlan& sitePlan = plan.sites.emplace_back();
        sitePlan.name = site.name;
        sitePlan.url = site.url;
        for (const FileItem& item : project.items) {
            if (item.failed && item.changed && !item.deleted)
                sitePlan.steps.push_back({ PlannedAction::Refuse, reasonOf(item.path), item.path, {}, {} });
        }
        for (const PendingCommand& pending : *work.queued) {
            if (pending.kind == PendingCommand::Kind::Move)
                sitePlan.steps.push_back({ PlannedAction::Move, PlanReason::Moved, pending.localPath,
                    serverPathAt(site.startdir, pending.remotePath), serverPathAt(site.startdir, pending.movedFrom) });
            else if (pending.kind == PendingCommand::Kind::Put)
                sitePlan.steps.push_back({ PlannedAction::Upload, reasonOf(pending.localPath), pending.localPath,
                    serverPathAt(site.startdir, pending.remotePath), {} });
            else if (pending.kind == PendingCommand::Kind::ArchiveMove)
                // Queued right before the put of the same file.
                sitePlan.steps.push_back({ PlannedAction::Archive, PlanReason::Changed, {}, pending.archiveSource,
                    project.archivdir + "/" + pending.archiveName });
        }
        // The reason of an archive move is that of the upload it makes room for.
        for (size_t index = 0; index + 1 < sitePlan.steps.size(); ++index) {
            PlannedStep& step = sitePlan.steps[index];
            if (step.action == PlannedAction::Archive && sitePlan.steps[index + 1].action == PlannedAction::Upload)
                step.reason = sitePlan.steps[index + 1].reason;
        }
        describeRemovals(project, work, movedAway, sitePlan);
        sitePlan.pruneKeep = work.pruneKeep;
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
        int moved = 0;
        for (const PlannedStep& step : site.steps) {
            std::string reason = reasonName(step.reason);
            reason.resize(std::max<size_t>(reason.size(), 8), ' ');
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
            case PlannedAction::RemoveLeftover: lines.push_back("  dele     leftover " + step.serverPath); break;
            case PlannedAction::RemoveFolder: lines.push_back("  rmdir    " + reason + " " + step.serverPath); break;
            case PlannedAction::Move:
                lines.push_back("  move     " + reason + " " + step.archivePath + " -> " + step.serverPath);
                ++moved;
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
            + std::to_string(archived) + " to archive" + (moved > 0 ? ", " + std::to_string(moved) + " to move" : ""));
    }
    if (plan.keptOnServer > 0)
        lines.push_back(std::to_string(plan.keptOnServer)
            + " files deleted locally stay on the server (automatic deletion is off)");
    return lines;
}
