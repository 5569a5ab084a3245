#pragma once

#include "config/machine_options.h"
#include "engine/web_project.h"
#include "shell/main_window_view.h"
#include "shell/run_summary.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class ArchiveMarkStore;
class DiagnosticLog;
class WebProject;

enum class MarkAs {
    Changed,
    Ok,
};

// The run logic of the main window: manual starts, the interval scheduler, "Upload all",
// Stop, Find and the mark commands, all talking to the window through MainWindowView.
//
// Everything that touches a project's files or lists runs on one worker thread, one job after
// the other. That is what keeps two runs (or a run and a Find, or a run and a reload of the
// project list) from ever working on the same project at once: a start while a run is in
// progress waits in the queue and begins when the run ends.
//
// The public operations are called on the window thread (onTimerTick only there); the
// minute counters and the tick count belong to that thread.
class RunController {
public:
    static constexpr int kTicksPerMinuteCheck = 59;

    explicit RunController(MainWindowView& view);
    // Cancels the run in progress, drops queued jobs and waits for the worker.
    ~RunController();
    RunController(const RunController&) = delete;
    RunController& operator=(const RunController&) = delete;

    // Optional collaborators; both must outlive the controller.
    void setDiagnosticLog(const DiagnosticLog* log) { diagnosticLog_ = log; }
    // Loaded before each run and saved after it, so cleared archive marks survive the process.
    void setArchiveMarks(ArchiveMarkStore* marks) { archiveMarks_ = marks; }
    // Each run and scan works on a copy of the options from here, taken when it begins, instead
    // of the record the window thread may be rewriting. Without a source the project's own
    // options pointer is used.
    void setOptionsSource(std::function<MachineOptions()> source) { optionsSource_ = std::move(source); }
    // Told on the worker, after each run has recorded its results.
    void setRunObserver(std::function<void(const RunOutcome&)> observer) { runObserver_ = std::move(observer); }

    void setSelected(WebProject* project) { selected_ = project; }
    [[nodiscard]] WebProject* selected() const { return selected_; }
    [[nodiscard]] WebProject* running() const { return running_; }
    [[nodiscard]] bool isRunning() const { return isRunning_; }
    void setQuitAfterRun(bool quit) { quitAfterRun_ = quit; }
    [[nodiscard]] bool quitAfterRun() const { return quitAfterRun_; }
    [[nodiscard]] int ticks() const { return ticks_; }

    // Start button and command line: a run of `project` (nothing for nullptr).
    void startRun(WebProject* project);
    // Watch mode: a run of `project` whose scan looks only where `scope` says (a full scan
    // without one).
    void startWatchedRun(WebProject* project, std::optional<WebProject::ScanScope> scope);
    // Runs every project in list order; with the quit flag set, quits once after the last.
    void uploadAll();
    // The one-second timer.
    void onTimerTick();
    // Stop: cancels the running project.
    void requestStop();
    // Find: a fresh scan of `project`, then the list view is rebuilt.
    void rescan(WebProject* project);
    // The list menu: marks the items with these paths and rewrites the project's file list.
    void markEntries(WebProject* project, std::vector<std::string> paths, MarkAs mark);
    // Reloads the project list once no run holds one of its projects.
    void reloadProjects();

    // The command-line argument: a project name (prefix, any case) or "-all". Answers
    // whether a run was started.
    bool actOnCommandLine(const std::string& argument);
    // The index of the project a command-line argument names, or -1. The search begins at
    // the second entry and wraps round; then it is repeated with ".ftp" appended.
    [[nodiscard]] static int findProject(const std::vector<std::string>& names, const std::string& argument);

    // The body of one run on the worker thread; `project` is the running project.
    void runUpload(WebProject& project, RunTrigger trigger = RunTrigger::Manual);

    // Blocks until no job is queued or running. Must not be called from the worker.
    void waitUntilIdle();
    // True once any run ended with a file as Error, an unreachable site, a cancel or a crash.
    [[nodiscard]] bool anyRunFailed() const { return anyRunFailed_; }
    [[nodiscard]] int completedRuns() const { return completedRuns_; }

private:
    using Job = std::function<void()>;

    void enqueue(Job job);
    void workerLoop(std::stop_token stop);
    void prepareAndRun(WebProject& project);
    void rescanNow(WebProject* project);
    // Jobs name their project by its file, not by pointer: a reload queued before them
    // replaces every project object. Answers nullptr when the project is gone.
    [[nodiscard]] WebProject* findLoaded(const std::string& projectPath) const;
    void reportCrash(const char* where, const WebProject& project, const char* what);

    MainWindowView& view_;
    const DiagnosticLog* diagnosticLog_ = nullptr;
    ArchiveMarkStore* archiveMarks_ = nullptr;
    std::function<MachineOptions()> optionsSource_;
    std::function<void(const RunOutcome&)> runObserver_;

    std::atomic<WebProject*> selected_ { nullptr };
    std::atomic<WebProject*> running_ { nullptr };
    std::atomic<bool> isRunning_ { false };
    std::atomic<bool> quitAfterRun_ { false };
    std::atomic<bool> anyRunFailed_ { false };
    std::atomic<int> completedRuns_ { 0 };
    std::atomic<bool> shuttingDown_ { false };

    // Window thread only.
    int ticks_ = 0;
    bool trayBusy_ = false;

    std::mutex mutex_;
    std::condition_variable_any wakeWorker_;
    std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool jobActive_ = false;
    std::jthread worker_;
};
