#include "shell/project_watches.h"

#include "platform/file_utils.h"

#include <algorithm>

namespace {

// A change the notifications cannot see (a folder mounted over another, a network file
// system) is found within the hour.
constexpr auto kFullScanEvery = std::chrono::hours(1);

} // namespace

std::string ProjectWatches::add(WebProject& project)
{
    auto one = std::make_unique<Watched>();
    one->project = &project;
    if (!one->watch.start(project.local))
        return one->watch.error();
    watched_.push_back(std::move(one));
    return {};
}

std::vector<int> ProjectWatches::descriptors() const
{
    std::vector<int> found;
    for (const auto& one : watched_)
        found.push_back(one->watch.descriptor());
    return found;
}

std::vector<std::string> ProjectWatches::describe() const
{
    std::vector<std::string> lines;
    for (const auto& one : watched_)
        lines.push_back("watching " + one->project->local + " (" + std::to_string(one->watch.watchedFolders())
            + " folders) for " + fileNamePart(one->project->projectPath));
    return lines;
}

void ProjectWatches::serve(Clock::time_point now, const Start& start)
{
    if (!nextFullScan_)
        nextFullScan_ = now + kFullScanEvery;
    const bool fullScanDue = now >= *nextFullScan_;
    for (const auto& one : watched_) {
        one->watch.collect(one->live);
        one->settler.add(one->live, now);
        // What is still being written stays known to the watch until it is closed.
        one->live.folders.clear();
        one->live.subtrees.clear();
        one->live.overflow = false;
        const std::string name = fileNamePart(one->project->projectPath);
        if (std::optional<ChangeSettler::Due> due = one->settler.take(now)) {
            start.log(due->scope
                    ? "watch: " + name + " changed in " + std::to_string(due->folders) + " folder(s): uploading"
                    : "watch: " + name + " changed beyond what was noticed: a full scan");
            start.run(*one->project, std::move(due->scope));
        } else if (fullScanDue) {
            start.run(*one->project, std::nullopt);
        }
    }
    if (fullScanDue)
        nextFullScan_ = now + kFullScanEvery;
}

std::chrono::milliseconds ProjectWatches::wait(Clock::time_point now) const
{
    auto wait = std::chrono::milliseconds(1000);
    for (const auto& one : watched_)
        wait = std::min(wait, one->settler.wait(now));
    return wait;
}
