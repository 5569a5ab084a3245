#pragma once

#include "config/machine_options.h"
#include "config/site_list.h"
#include "platform/archive_mark_store.h"
#include "shell/diagnostic_log.h"
#include "shell/project_list.h"

#include <mutex>
#include <string>
#include <vector>

class WebProject;

// What the running program holds for its whole life: the data directory, the machine
// options, the archive marks, the projects, the sites book and the ASCII extension list.
// The windowless runner and the desktop window both start from here.
class Application {
public:
    // The data directory and options file of the user's environment.
    Application();
    // `dataDirectory` ends with "/".
    Application(std::string dataDirectory, std::string optionsFile);
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Loads the options, installs missing report templates, loads the projects, the sites
    // book (only when there are projects) and "ascii.ini".
    void startUp();
    // Reloads the projects; answers the newly selected one (the one found last), or nullptr.
    // Must not run while a run uses one of the projects.
    WebProject* loadProjects();

    [[nodiscard]] const std::string& dataDirectory() const { return dataDirectory_; }
    // The window thread's own view of the options; only that thread may read it unlocked.
    [[nodiscard]] const MachineOptions& options() const { return options_; }
    // A copy for a run on the worker thread, taken under the lock that replaceOptions holds,
    // so an Options dialog confirmed while a timed run connects never tears a value.
    [[nodiscard]] MachineOptions optionsSnapshot() const;
    void replaceOptions(const MachineOptions& options);
    [[nodiscard]] ArchiveMarkStore& archiveMarks() { return archiveMarks_; }
    [[nodiscard]] const DiagnosticLog& log() const { return log_; }
    [[nodiscard]] ProjectList& projects() { return projects_; }
    [[nodiscard]] SiteList& sites() { return sites_; }
    [[nodiscard]] std::vector<std::string>& asciiExtensions() { return asciiExtensions_; }
    [[nodiscard]] WebProject* selectedProject() const { return projects_.at(selectedIndex_); }

private:
    std::string dataDirectory_;
    std::string optionsFile_;
    mutable std::mutex optionsMutex_;
    MachineOptions options_;
    ArchiveMarkStore archiveMarks_;
    DiagnosticLog log_;
    ProjectList projects_;
    int selectedIndex_ = -1;
    SiteList sites_;
    std::vector<std::string> asciiExtensions_;
};
