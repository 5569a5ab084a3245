#pragma once

#include "engine/web_project.h"

#include <string>

enum class TrayIcon {
    Idle,
    Busy,
};

// What the run logic needs from the main window. The desktop window implements it with its
// controls; windowless runs implement it on standard output.
//
// Calls arrive from the window thread and from the upload worker. A window must carry the
// worker's calls out synchronously on its own thread (requestQuit alone may be posted).
// The project list changes only inside reloadProjects, which the run logic calls on its
// worker between runs, so projectCount/projectAt may be answered from the worker without a
// lock.
class MainWindowView {
public:
    virtual ~MainWindowView() = default;

    // Start, Find and Setups.
    virtual void setRunControlsEnabled(bool enabled) = 0;
    virtual void showStartButton() = 0;
    virtual void showStopButton() = 0;
    virtual void setStatusText(const std::string& text) = 0;
    // Where the uploads of a run stand ("12/40 files, ..."); shown in the status line unless
    // the view has a place of its own for it. endProgress follows the last one of a run.
    virtual void showProgress(const std::string& text) { setStatusText(text); }
    virtual void endProgress() { }
    virtual void appendLogLine(const std::string& text) = 0;
    // The "->" line that repeats the upload line before it, and the "OK "/"Error " result
    // lines of a finished run: the log shows them as it shows every line; a view that tells
    // each outcome by itself (reportOutcome) has no use for them.
    virtual void appendEchoLine(const std::string& text) { appendLogLine(text); }
    virtual void appendResultLine(const std::string& text) { appendLogLine(text); }
    // One file's outcome on one site, as the run settles it (from the worker, possibly from
    // several connections at once).
    virtual void reportOutcome(const WebProject& /*project*/, const WebProject::StepOutcome& /*outcome*/) { }
    // A failure in plain words ("cannot connect to host:21: connection refused"). The log
    // already holds the same failure in the protocol's terms, sent right after this call.
    virtual void explainProblem(const std::string& /*text*/) { }
    // What the data connections do, below the level of the protocol lines.
    virtual void appendDetail(const std::string& /*text*/) { }
    // Rebuilds the list of modified files from the selected project's items.
    virtual void refreshFileList() = 0;
    // Ends the application once the current event has been handled.
    virtual void requestQuit() = 0;
    virtual void setTrayIcon(TrayIcon icon) = 0;
    // The projects in list (name) order.
    [[nodiscard]] virtual int projectCount() const = 0;
    [[nodiscard]] virtual WebProject* projectAt(int index) const = 0;
    // Reloads the project list from the data directory and answers the newly selected
    // project (nullptr when the list is empty).
    virtual WebProject* reloadProjects() = 0;
};
