#pragma once

#include "engine/web_project.h"
#include "platform/folder_watch.h"
#include "shell/change_settler.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class RunController;

// The local folders of the projects in watch mode, each with its notifications and the runs
// they settle into. The owner calls serve() when a descriptor is readable or wait() has
// passed (the command line polls; the desktop ticks a timer). Belongs to one thread.
class ProjectWatches {
public:
    using Clock = ChangeSettler::Clock;

    // Starts watching `project`'s local folder; the error in words when it cannot be.
    [[nodiscard]] std::string add(WebProject& project);
    void clear() { watched_.clear(); }
    [[nodiscard]] bool empty() const { return watched_.empty(); }
    [[nodiscard]] std::vector<int> descriptors() const;
    // "watching /home/me/www (12 folders) for alpha.ftp", one line per project.
    [[nodiscard]] std::vector<std::string> describe() const;

    // What a due run tells the log, and the run itself.
    struct Start {
        std::function<void(const std::string& line)> log;
        std::function<void(WebProject& project, std::optional<WebProject::ScanScope> scope)> run;
    };
    // Reads what the kernel said and starts the runs now due; a full scan of every project
    // now and then catches what notifications cannot see.
    void serve(Clock::time_point now, const Start& start);
    // How long until serve() may have something to start.
    [[nodiscard]] std::chrono::milliseconds wait(Clock::time_point now) const;

private:
    struct Watched {
        WebProject* project = nullptr;
        FolderWatch watch;
        FolderChanges live;
        ChangeSettler settler;
    };
    std::vector<std::unique_ptr<Watched>> watched_;
    std::optional<Clock::time_point> nextFullScan_;
};
