#pragma once

#include <string>
#include <vector>

class WebProject;

// What a run of a project would do, found by the run's own detection but without connecting,
// and without writing anything: no file list, no archive marks, no transcript, no report.
enum class PlannedAction {
    Upload,
    Archive, // the server copy moves into the archive folder before it is replaced or removed
    Delete,
    Refuse, // the file cannot be named in a command line; the run reports it as failed
    RemoveFolder, // a server folder whose local folder is gone, once the deletions emptied it
};

enum class PlanReason {
    New, // not recorded in the file list
    Changed, // recorded, and changed since
    Deleted, // recorded, and gone from the local folder
    Report, // the HTML report page of the project
};

struct PlannedStep {
    PlannedAction action = PlannedAction::Upload;
    PlanReason reason = PlanReason::New;
    std::string localPath; // empty for deletions and archive moves
    std::string serverPath; // where the file goes, or which server file is deleted or moved
    std::string archivePath; // for Archive: the name it gets in the archive folder
};

struct SitePlan {
    std::string name;
    std::string url;
    std::vector<PlannedStep> steps; // in the order the run would send them
    int pruneKeep = -1; // >= 0: the archive folder is trimmed to this many newest entries
};

struct RunPlan {
    std::vector<SitePlan> sites;
    // Files deleted locally that stay on the server because automatic deletion is off.
    int keptOnServer = 0;
    [[nodiscard]] bool nothingToDo() const;
};

// Clears the project's items and pending commands, reads its file list and detects changes,
// then derives the plan from what the run would send. The project's event sink sees the scan.
// The project's items and pending commands hold that detection afterwards.
[[nodiscard]] RunPlan planRun(WebProject& project);

// The plan as lines for a person, one per step, each site headed by its name and address,
// each step with its reason: "  upload   new      /home/me/www/a.html -> /www/a.html".
[[nodiscard]] std::vector<std::string> describePlan(const RunPlan& plan);

[[nodiscard]] const char* reasonName(PlanReason reason);
