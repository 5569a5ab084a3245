#pragma once

#include <cstdio>
#include <string>

class Application;

// The program without a window: a command-line run ("NAME", "-all") that prints the log to a
// stream and ends after the run, or the scheduler of "-service" that runs until SIGTERM.
//
// SIGTERM, SIGINT and SIGHUP are blocked on the calling thread while run() lasts and taken
// from a signalfd, so construct and run it before any other thread starts (threads inherit
// the mask) and no handler needs to touch shared state.
class WindowlessRunner {
public:
    WindowlessRunner(Application& application, FILE* out);

    // Answers the process exit code: 0 when every file went up, 1 when a file ended as
    // Error, a site could not be reached, the run was interrupted, or the argument named no
    // project. The service ends with 0 on SIGTERM.
    [[nodiscard]] int run(const std::string& argument);

private:
    Application& application_;
    FILE* out_;
};
