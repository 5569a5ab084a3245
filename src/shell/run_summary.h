#pragma once

#include <string>
#include <vector>

class WebProject;

// How a run ended, from the marks the run recorded: what its result lines said.
struct RunTally {
    int uploaded = 0;
    int deleted = 0;
    int failed = 0;
    double seconds = 0;
    bool stopped = false; // cancelled: what was confirmed is recorded, `failed` were not reached

    RunTally& operator+=(const RunTally& other);
};

enum class RunTrigger {
    Manual, // Start button or command line
    Timer,
    UploadAll,
    Watch, // the local folder changed under watch mode
};

struct RunOutcome {
    std::string projectName; // the project file's name, "name.ftp"
    RunTrigger trigger = RunTrigger::Manual;
    RunTally tally; // a file counts as uploaded once every site has it
    // With several sites: what each confirmed, under the site's name.
    std::vector<std::pair<std::string, RunTally>> sites;
    int unreachableSites = 0;
    bool failed = false; // what makes the exit code 1
};

// The items a run may record, taken after detection: the changed ones.
[[nodiscard]] std::vector<size_t> changedItemIndexes(const WebProject& project);
// After FinishRun: a changed item whose mark was cleared went up (or away, when deleted);
// one still marked failed. `changed` comes from changedItemIndexes before FinishRun.
[[nodiscard]] RunTally tallyFinishedRun(const WebProject& project, const std::vector<size_t>& changed);

// "3 uploaded, 1 deleted, 0 failed in 2.4 s"; after a stop
// "stopped: 300 uploaded, 0 deleted, 400 left for the next run in 5.1 s"
[[nodiscard]] std::string summaryLine(const RunTally& tally);
// One line for a single run to one site. A project with several sites gets a line per site
// ("site \"name\": ...") before its own; several runs get one per project ("name.ftp: ...")
// and a total.
[[nodiscard]] std::vector<std::string> summaryLines(const std::vector<RunOutcome>& outcomes);
