#include "shell/run_summary.h"

#include "engine/web_project.h"

#include <cstdio>

RunTally& RunTally::operator+=(const RunTally& other)
{
    uploaded += other.uploaded;
    deleted += other.deleted;
    failed += other.failed;
    seconds += other.seconds;
    stopped = stopped || other.stopped;
    return *this;
}

std::vector<size_t> changedItemIndexes(const WebProject& project)
{
    std::vector<size_t> changed;
    for (size_t index = 0; index < project.items.size(); ++index)
        if (project.items[index].changed)
            changed.push_back(index);
    return changed;
}

RunTally tallyFinishedRun(const WebProject& project, const std::vector<size_t>& changed)
{
    RunTally tally;
    for (size_t index : changed) {
        if (index >= project.items.size())
            continue;
        const FileItem& item = project.items[index];
        if (item.changed)
            ++tally.failed;
        else if (item.deleted)
            ++tally.deleted;
        else
            ++tally.uploaded;
    }
    return tally;
}

std::string summaryLine(const RunTally& tally)
{
    char text[160];
    // After a stop the files not reached are no failures: they simply go with the next run.
    std::snprintf(text, sizeof text, "%s%d uploaded, %d deleted, %d %s in %.1f s", tally.stopped ? "stopped: " : "",
        tally.uploaded, tally.deleted, tally.failed, tally.stopped ? "left for the next run" : "failed", tally.seconds);
    return text;
}

std::vector<std::string> summaryLines(const std::vector<RunOutcome>& outcomes)
{
    if (outcomes.empty())
        return { summaryLine(RunTally {}) };
    std::vector<std::string> lines;
    const bool several = outcomes.size() > 1;
    RunTally total;
    for (const RunOutcome& outcome : outcomes) {
        const std::string project = several ? outcome.projectName + ", " : std::string();
        for (const auto& [name, tally] : outcome.sites)
            lines.push_back(project + "site \"" + name + "\": " + summaryLine(tally));
        if (several)
            lines.push_back(outcome.projectName + ": " + summaryLine(outcome.tally));
        total += outcome.tally;
    }
    if (several || !outcomes.front().sites.empty())
        lines.push_back("total: " + summaryLine(total));
    else
        lines.push_back(summaryLine(total));
    return lines;
}
