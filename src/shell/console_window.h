#pragma once

#include "shell/command_line.h"
#include "shell/main_window_view.h"

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

class ProjectList;

struct ConsoleOptions {
    Verbosity verbosity = Verbosity::Normal;
    // The stream is a terminal: the progress of the uploads is one line, redrawn in place.
    // Without it nothing but plain lines is ever written: no carriage returns, no escapes.
    bool progressLine = false;
    // Several projects run one after the other: the file lines of each come under its name.
    bool projectHeaders = false;
};

// The main window of a windowless run: log lines go to a stream (standard output), the
// controls and the tray icon do not exist. The project list is the one loaded at start-up;
// without a project editor it is never reloaded.
class ConsoleWindow final : public MainWindowView {
public:
    // `onQuit` is called (on the worker) when the run logic asks the application to end.
    ConsoleWindow(const ProjectList& projects, FILE* out, std::function<void()> onQuit, ConsoleOptions options = {});

    void setRunControlsEnabled(bool) override { }
    void showStartButton() override { }
    void showStopButton() override { }
    // The status line shows scan progress many times a second; a log has no use for it.
    void setStatusText(const std::string&) override { }
    void showProgress(const std::string& text) override;
    void endProgress() override;
    // The protocol view of the desktop's log: shown from -v on, a warning from the default on.
    void appendLogLine(const std::string& text) override;
    void appendEchoLine(const std::string&) override { }
    void appendResultLine(const std::string&) override { }
    void reportOutcome(const WebProject& project, const WebProject::StepOutcome& outcome) override;
    void explainProblem(const std::string& text) override;
    void appendDetail(const std::string& text) override;
    void refreshFileList() override { }
    void requestQuit() override;
    void setTrayIcon(TrayIcon) override { }
    [[nodiscard]] int projectCount() const override;
    [[nodiscard]] WebProject* projectAt(int index) const override;
    WebProject* reloadProjects() override;

    void setSelected(WebProject* project) { selected_ = project; }
    // Names the project and site an error line belongs to ("alpha.ftp, site 1 ...").
    void setErrorContext(std::function<std::string()> context) { errorContext_ = std::move(context); }
    // A line of the runner's own (the summary): always written, quiet or not.
    void printLine(const std::string& text);

    // "uploaded www/a.html", "failed b.html: the server refused it: 550 Permission denied";
    // files below the project's local folder are named from there. Empty for an outcome the
    // default level leaves out (the move of a replaced file's previous version).
    [[nodiscard]] static std::string outcomeLine(const WebProject& project, const WebProject::StepOutcome& outcome);

private:
    void writeLocked(const std::string& text);
    // The project's name and the site's, before the first line that belongs to them.
    void writeHeadersLocked(const WebProject& project, int site);
    [[nodiscard]] bool shows(Verbosity level) const { return options_.verbosity >= level; }

    const ProjectList& projects_;
    FILE* out_;
    std::function<void()> onQuit_;
    ConsoleOptions options_;
    std::function<std::string()> errorContext_;
    std::mutex outputMutex_;
    std::string progress_; // the line shown in place, empty when none is
    const WebProject* headedProject_ = nullptr;
    int headedSite_ = 0;
    // The last plain-words failure: its technical line, which follows, is not shown again.
    std::string lastProblem_;
    WebProject* selected_ = nullptr;
};
