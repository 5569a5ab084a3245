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
    std::snprintf(text, sizeof text, "%d uploaded, %d deleted, %d failed in %.1f s%s", tally.uploaded, tally.deleted,
        tally.failed, tally.seconds, tally.stopped ? " (stopped, nothing recorded)" : "");
    return text;
}

std::vector<std::string> summaryLines(const std::vector<RunOutcome>& outcomes)
{
    if (outcomes.empty())
        return { summaryLine(RunTally {}) };
    if (outcomes.size() == 1)
        return { summaryLine(outcomes.front().tally) };
    std::vector<std::string> lines;
    RunTally total;
    for (const RunOutcome& outcome : outcomes) {
        lines.push_back(outcome.projectName + ": " + summaryLine(outcome.tally));
        total += outcome.tally;
    }
    lines.push_back("total: " + summaryLine(total));
    return lines;
}
