#pragma once

#include "shell/command_line.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

class Application;
class ProjectList;
class RunController;
class WebProject;

// The project a command-line argument names (see RunController::findProject), or every
// project for "-all".
[[nodiscard]] std::vector<WebProject*> chosenProjects(ProjectList& projects, const std::string& argument);

struct WindowlessOptions {
    bool dryRun = false; // list what the run would do; connect to nothing, write nothing
    Verbosity verbosity = Verbosity::Normal;
    bool progressLine = false; // the output is a terminal: show the uploads' progress in place
    bool allowDeleteAll = false; // the run may delete whatever is gone locally
    std::optional<int64_t> uploadRateLimit; // --bwlimit: in place of every site's own cap
    bool watch = false; // after a first run, upload what changes in the local folders until SIGTERM
};

// The program without a window: a command-line run ("NAME", "-all") that prints the log to a
// stream and ends after the run, or the scheduler of "-service" that runs until SIGTERM.
//
// SIGTERM, SIGINT and SIGHUP are blocked on the calling thread while run() lasts and taken
// from a signalfd, so construct and run it before any other thread starts (threads inherit
// the mask) and no handler needs to touch shared state.
class WindowlessRunner {
public:
    WindowlessRunner(Application& application, FILE* out, WindowlessOptions options = {});

    // Answers the process exit code: 0 when every file went up, 1 when a file ended as
    // Error, a site could not be reached, the run was interrupted, or the argument named no
    // project. The service ends with 0 on SIGTERM. A run (not the service) ends with its
    // summary line: one per project when several ran, then the total.
    [[nodiscard]] int run(const std::string& argument);

    // "alpha.ftp, site 1 "main" (ftp.example.org)": the project and the site an error of the
    // running project belongs to; all of its sites when none is being served.
    [[nodiscard]] static std::string errorContext(const WebProject& project);

private:
    [[nodiscard]] int dryRun(const std::string& argument);

    // Watches the local folders of `projects`, after a first run of each; as the service,
    // the interval timer serves the other projects beside it. Answers 0 when SIGTERM or
    // Ctrl-C ends it, 1 when a folder cannot be watched.
    [[nodiscard]] int watch(const std::vector<WebProject*>& projects, bool service);
    // Logs the service's start, or starts the run the argument names; false when it names
    // no project.
    [[nodiscard]] bool startRunOrService(RunController& controller, const std::string& argument, bool service);

    Application& application_;
    FILE* out_;
    WindowlessOptions options_;
};
