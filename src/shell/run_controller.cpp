#include "shell/run_controller.h"

#include "engine/web_project.h"
#include "platform/archive_mark_store.h"
#include "platform/ascii_case.h"
#include "platform/file_lock.h"
#include "platform/file_utils.h"
#include "shell/diagnostic_log.h"
#include "shell/main_window_sink.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <unordered_set>

namespace {

int findFromSecond(const std::vector<std::string>& names, const std::string& prefix)
{
    const int count = static_cast<int>(names.size());
    for (int step = 0; step < count; ++step) {
        int index = (1 + step) % count;
        if (startsWithIgnoringCase(names[static_cast<size_t>(index)], prefix))
            return index;
    }
    return -1;
}

// Points the project at a private copy of the options for one job and back afterwards.
class OptionsForJob {
public:
    OptionsForJob(WebProject& project, const std::function<MachineOptions()>& source)
        : project_(project)
        , previous_(project.machineOptions)
    {
        if (source) {
            snapshot_ = source();
            project_.machineOptions = &snapshot_;
        }
    }
    ~OptionsForJob() { project_.machineOptions = previous_; }
    OptionsForJob(const OptionsForJob&) = delete;
    OptionsForJob& operator=(const OptionsForJob&) = delete;

private:
    WebProject& project_;
    const MachineOptions* previous_;
    MachineOptions snapshot_;
};

// What the uploads of a run amount to, every site counted: the puts of the queue, and the
// report page each site gets.
int queuedUploads(const WebProject& project)
{
    if (!project.changesPending)
        return 0;
    int puts = 0;
    for (const PendingCommand& pending : project.pendingCommands)
        puts += pending.localPath.empty() ? 0 : 1;
    const int sites = static_cast<int>(project.sites.size());
    return puts * sites + (project.htmlreport.empty() ? 0 : sites);
}

int64_t queuedBytes(const WebProject& project)
{
    if (!project.changesPending)
        return 0;
    std::unordered_set<std::string_view> queued;
    for (const PendingCommand& pending : project.pendingCommands)
        if (!pending.localPath.empty())
            queued.insert(pending.localPath);
    int64_t bytes = 0;
    for (const FileItem& item : project.items)
        if (queued.contains(item.path))
            bytes += item.size;
    return bytes * static_cast<int64_t>(project.sites.size());
}

// One run per project at a time, across processes: a second run of the same project (the
// desktop and a cron line, or two cron lines) would send every file twice. The lock lives
// beside the project file and goes with the process however it ends. Answers false when
// another process holds it, and when it cannot be taken at all (a read-only data folder):
// such a run could not record what it sent either, and every later run would send it again.
bool lockProject(const WebProject& project, FileLock& lock, MainWindowView& view, const DiagnosticLog* log)
{
    if (project.projectPath.empty())
        return true;
    FileLock::Outcome outcome = lock.lock(project.projectPath + ".lock", FileLock::Wait::DontWait);
    if (outcome == FileLock::Outcome::Locked)
        return true;
    const std::string words = outcome == FileLock::Outcome::HeldElsewhere
        ? fileNamePart(project.projectPath) + " is being run by another Tarnwick process; this run is skipped"
        : "cannot lock " + project.projectPath + ".lock: " + errorText(lock.error()) + "; nothing was sent";
    const std::string text = "Error: " + words;
    view.explainProblem(words);
    view.appendLogLine(text);
    if (log != nullptr)
        log->logLine(text, LogLineKind::Error);
    return false;
}

// What a finished run of `project` came to, per site when it has several; `changed` are the
// items it sent or deleted.
RunOutcome outcomeOf(const WebProject& project, const std::vector<size_t>& changed)
{
    RunOutcome outcome;
    outcome.projectName = fileNamePart(project.projectPath);
    outcome.tally = tallyFinishedRun(project, changed);
    outcome.tally.stopped = project.cancelRequested;
    if (project.sites.size() > 1) {
        for (size_t index = 0; index < project.sites.size(); ++index) {
            RunTally site;
            if (index < project.siteOutcomes.size()) {
                site.uploaded = project.siteOutcomes[index].uploaded;
                site.deleted = project.siteOutcomes[index].deleted;
                site.failed = project.siteOutcomes[index].failed;
            }
            site.stopped = outcome.tally.stopped;
            outcome.sites.emplace_back(project.sites[index].name, site);
        }
    }
    outcome.unreachableSites = project.unreachableSites;
    return outcome;
}

} // namespace

RunController::RunController(MainWindowView& view)
    : view_(view)
    , worker_([this](std::stop_token stop) { workerLoop(stop); })
{
}

RunController::~RunController()
{
    shuttingDown_ = true;
    {
        std::lock_guard lock(mutex_);
        jobs_.clear();
    }
    requestStop();
    worker_.request_stop();
    wakeWorker_.notify_all();
    // The jthread joins here: the run in progress sees its cancel flag and ends.
}

void RunController::enqueue(Job job)
{
    if (shuttingDown_)
        return;
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wakeWorker_.notify_one();
}

void RunController::workerLoop(std::stop_token stop)
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            if (!wakeWorker_.wait(lock, stop, [this] { return !jobs_.empty(); }))
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            jobActive_ = true;
        }
        try {
            job();
        } catch (...) {
            // The job's own regions catch everything they expect; this only keeps the
            // worker alive for the jobs behind it.
            anyRunFailed_ = true;
        }
        {
            std::lock_guard lock(mutex_);
            jobActive_ = false;
            if (jobs_.empty())
                idle_.notify_all();
        }
    }
}

void RunController::waitUntilIdle()
{
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !jobActive_; });
}

void RunController::startRun(WebProject* project)
{
    if (project == nullptr)
        return;
    view_.showStopButton();
    enqueue([this, path = project->projectPath] {
        if (WebProject* current = findLoaded(path))
            prepareAndRun(*current);
    });
}

void RunController::startWatchedRun(WebProject* project, std::optional<WebProject::ScanScope> scope)
{
    if (project == nullptr)
        return;
    enqueue([this, path = project->projectPath, scope = std::move(scope)]() mutable {
        WebProject* current = findLoaded(path);
        if (current == nullptr)
            return;
        running_ = current;
        current->clearCancel();
        current->nextScanScope = std::move(scope);
        runUpload(*current, RunTrigger::Watch);
    });
}

void RunController::prepareAndRun(WebProject& project)
{
    running_ = &project;
    project.clearCancel();
    runUpload(project);
}

void RunController::uploadAll()
{
    enqueue([this] {
        const bool quitAtEnd = quitAfterRun_.exchange(false);
        for (int index = 0; index < view_.projectCount() && !shuttingDown_; ++index) {
            WebProject* project = view_.projectAt(index);
            if (project == nullptr)
                continue;
            running_ = project;
            runUpload(*project, RunTrigger::UploadAll);
        }
        if (quitAtEnd)
            view_.requestQuit();
    });
}

void RunController::onTimerTick()
{
    if (isRunning_) {
        trayBusy_ = !trayBusy_;
        view_.setTrayIcon(trayBusy_ ? TrayIcon::Busy : TrayIcon::Idle);
        return;
    }
    if (trayBusy_) {
        trayBusy_ = false;
        view_.setTrayIcon(TrayIcon::Idle);
    }
    if (++ticks_ < kTicksPerMinuteCheck)
        return;
    ticks_ = 0;

    WebProject* due = nullptr;
    for (int index = 0; index < view_.projectCount(); ++index) {
        WebProject* project = view_.projectAt(index);
        if (project == nullptr || project->minutes == 0)
            continue;
        if (++project->minuteCounter > project->minutes) {
            due = project;
            break;
        }
    }
    if (due == nullptr)
        return;
    due->minuteCounter = 0;
    enqueue([this, path = due->projectPath] {
        WebProject* current = findLoaded(path);
        if (current == nullptr)
            return;
        running_ = current;
        runUpload(*current, RunTrigger::Timer);
    });
}

void RunController::requestStop()
{
    if (WebProject* project = running_)
        project->requestCancel();
}

void RunController::rescan(WebProject* project)
{
    if (project == nullptr)
        return;
    enqueue([this, path = project->projectPath] { rescanNow(findLoaded(path)); });
}

void RunController::markEntries(WebProject* project, std::vector<std::string> paths, MarkAs mark)
{
    if (project == nullptr)
        return;
    enqueue([this, projectPath = project->projectPath, paths = std::move(paths), mark] {
        WebProject* project = findLoaded(projectPath);
        if (project == nullptr)
            return;
        std::unordered_set<std::string> wanted(paths.begin(), paths.end());
        for (FileItem& item : project->items) {
            if (wanted.contains(item.path))
                item.changed = mark == MarkAs::Changed;
        }
        view_.refreshFileList();
        project->WriteFileList();
    });
}

WebProject* RunController::findLoaded(const std::string& projectPath) const
{
    for (int index = 0; index < view_.projectCount(); ++index) {
        WebProject* project = view_.projectAt(index);
        if (project != nullptr && project->projectPath == projectPath)
            return project;
    }
    return nullptr;
}

void RunController::reloadProjects()
{
    enqueue([this] { selected_ = view_.reloadProjects(); });
}

int RunController::findProject(const std::vector<std::string>& names, const std::string& argument)
{
    if (argument.empty())
        return -1;
    int index = findFromSecond(names, argument);
    if (index < 0)
        index = findFromSecond(names, argument + ".ftp");
    return index;
}

bool RunController::actOnCommandLine(const std::string& argument)
{
    if (argument.empty())
        return false;
    bool started = false;
    std::vector<std::string> names;
    for (int index = 0; index < view_.projectCount(); ++index) {
        WebProject* project = view_.projectAt(index);
        names.push_back(project != nullptr ? fileNamePart(project->projectPath) : std::string());
    }
    if (int index = findProject(names, argument); index >= 0) {
        selected_ = view_.projectAt(index);
        quitAfterRun_ = true;
        startRun(selected_);
        started = true;
    }
    if (argument == "-all") {
        quitAfterRun_ = true;
        uploadAll();
        started = true;
    }
    return started;
}

void RunController::reportCrash(const char* where, const WebProject& project, const char* what)
{
    std::string text = FtpEventSink::format("Crash in %s of %s: %s", where, project.projectPath.c_str(), what);
    view_.explainProblem(text);
    view_.appendLogLine(text);
    if (diagnosticLog_ != nullptr)
        diagnosticLog_->logLine(text, LogLineKind::Error);
}

void RunController::runUpload(WebProject& project, RunTrigger trigger)
{
    const auto began = std::chrono::steady_clock::now();
    FileLock projectLock;
    if (!lockProject(project, projectLock, view_, diagnosticLog_)) {
        anyRunFailed_ = true;
        view_.showStartButton();
        if (quitAfterRun_)
            view_.requestQuit();
        return;
    }
    OptionsForJob options(project, optionsSource_);
    isRunning_ = true;
    view_.setRunControlsEnabled(false);
    if (archiveMarks_ != nullptr)
        archiveMarks_->load();

    MainWindowSink sink(view_, project);
    std::vector<size_t> changed;
    WebProject::RunHooks hooks;
    hooks.scanned = [&] {
        // A stop that came while detection began would have been cleared with the last run's.
        if (shuttingDown_)
            project.requestCancel();
        sink.beginUploads(queuedUploads(project), queuedBytes(project));
    };
    hooks.sent = [&] {
        sink.endUploads();
        changed = changedItemIndexes(project);
    };
    project.eventSink = &sink;
    project.outcomeHeard
        = [this, &project](const WebProject::StepOutcome& step) { view_.reportOutcome(project, step); };
    const std::vector<WebProject::RunFault> faults = project.run(hooks);
    project.outcomeHeard = nullptr;
    project.eventSink = &project;
    for (const WebProject::RunFault& fault : faults)
        reportCrash(fault.stage, project, fault.what.c_str());
    const bool crashed = !faults.empty();

    if (archiveMarks_ != nullptr && !archiveMarks_->save() && diagnosticLog_ != nullptr)
        diagnosticLog_->logLine("archive marks could not be saved", LogLineKind::Error);

    bool failed = crashed || project.cancelRequested || project.unreachableSites > 0 || !project.runErrors.empty()
        || std::any_of(project.items.begin(), project.items.end(), [](const FileItem& item) { return item.failed; });
    if (failed)
        anyRunFailed_ = true;
    ++completedRuns_;
    if (runObserver_) {
        RunOutcome outcome = outcomeOf(project, changed);
        outcome.trigger = trigger;
        outcome.tally.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
        for (auto& [name, site] : outcome.sites)
            site.seconds = outcome.tally.seconds;
        outcome.failed = failed;
        runObserver_(outcome);
    }

    isRunning_ = false;
    view_.setRunControlsEnabled(true);
    view_.showStartButton();

    if (quitAfterRun_)
        view_.requestQuit();
    else if (!shuttingDown_)
        rescanNow(selected_);
}

void RunController::rescanNow(WebProject* project)
{
    if (project == nullptr)
        return;
    OptionsForJob options(*project, optionsSource_);
    MainWindowSink sink(view_, *project);
    try {
        project->eventSink = &sink;
        project->Scan();
    } catch (const std::exception& error) {
        reportCrash("scan", *project, error.what());
    } catch (...) {
        reportCrash("scan", *project, "unknown exception");
    }
    project->eventSink = project;
    view_.refreshFileList();
}
