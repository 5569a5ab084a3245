#pragma once

#include "shell/main_window_view.h"

#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>

class ProjectList;

struct ConsoleOptions {
    bool quiet = false; // only error lines (and what the runner prints itself)
    // The stream is a terminal: the progress of the uploads is one line, redrawn in place.
    // Without it nothing but plain lines is ever written: no carriage returns, no escapes.
    bool progressLine = false;
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
    void appendLogLine(const std::string& text) override;
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

    // The lines a user must see even in a quiet run: the client's and engine's failures and
    // the "Error" result of a file.
    [[nodiscard]] static bool isErrorLine(std::string_view text);

private:
    void writeLocked(const std::string& text);

    const ProjectList& projects_;
    FILE* out_;
    std::function<void()> onQuit_;
    ConsoleOptions options_;
    std::function<std::string()> errorContext_;
    std::mutex outputMutex_;
    std::string progress_; // the line shown in place, empty when none is
    WebProject* selected_ = nullptr;
};
