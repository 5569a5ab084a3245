#pragma once

#include "shell/main_window_view.h"

#include <cstdio>
#include <functional>
#include <mutex>

class ProjectList;

// The main window of a windowless run: log lines go to a stream (standard output), the
// controls and the tray icon do not exist. The project list is the one loaded at start-up;
// without a project editor it is never reloaded.
class ConsoleWindow final : public MainWindowView {
public:
    // `onQuit` is called (on the worker) when the run logic asks the application to end.
    ConsoleWindow(const ProjectList& projects, FILE* out, std::function<void()> onQuit);

    void setRunControlsEnabled(bool) override { }
    void showStartButton() override { }
    void showStopButton() override { }
    // The status line shows scan progress many times a second; a log has no use for it.
    void setStatusText(const std::string&) override { }
    void appendLogLine(const std::string& text) override;
    void refreshFileList() override { }
    void requestQuit() override;
    void setTrayIcon(TrayIcon) override { }
    [[nodiscard]] int projectCount() const override;
    [[nodiscard]] WebProject* projectAt(int index) const override;
    WebProject* reloadProjects() override;

    void setSelected(WebProject* project) { selected_ = project; }

private:
    const ProjectList& projects_;
    FILE* out_;
    std::function<void()> onQuit_;
    std::mutex outputMutex_;
    WebProject* selected_ = nullptr;
};
