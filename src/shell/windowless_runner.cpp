#include "shell/windowless_runner.h"

#include "engine/dry_run.h"
#include "engine/web_project.h"
#include "platform/file_utils.h"
#include "shell/application.h"
#include "shell/console_window.h"
#include "shell/project_watches.h"
#include "shell/run_controller.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <memory>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

class UniqueFd {
public:
    explicit UniqueFd(int descriptor)
        : descriptor_(descriptor)
    {
    }
    ~UniqueFd()
    {
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    [[nodiscard]] int get() const { return descriptor_; }

private:
    int descriptor_;
};

class BlockedSignals {
public:
    BlockedSignals()
    {
        sigemptyset(&set_);
        sigaddset(&set_, SIGTERM);
        sigaddset(&set_, SIGINT);
        sigaddset(&set_, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    }
    ~BlockedSignals() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    BlockedSignals(const BlockedSignals&) = delete;
    BlockedSignals& operator=(const BlockedSignals&) = delete;
    [[nodiscard]] const sigset_t& set() const { return set_; }

private:
    sigset_t set_;
    sigset_t previous_;
};

void drain(int descriptor, size_t size)
{
    char buffer[sizeof(signalfd_siginfo)];
    while (::read(descriptor, buffer, size) < 0 && errno == EINTR) { }
}

void wake(int eventDescriptor)
{
    const uint64_t one = 1;
    while (::write(eventDescriptor, &one, sizeof one) < 0 && errno == EINTR) { }
}

// Filled from the run thread, read when the summary is printed.
class CollectedOutcomes {
public:
    void add(const RunOutcome& outcome)
    {
        std::lock_guard lock(mutex_);
        outcomes_.push_back(outcome);
    }
    void printSummary(ConsoleWindow& view)
    {
        std::lock_guard lock(mutex_);
        for (const std::string& line : summaryLines(outcomes_))
            view.printLine(line);
    }

private:
    std::mutex mutex_;
    std::vector<RunOutcome> outcomes_;
};

void attachController(
    RunController& controller, ConsoleWindow& view, CollectedOutcomes& outcomes, Application& application)
{
    view.setErrorContext([&controller] {
        WebProject* project = controller.running();
        return project != nullptr ? WindowlessRunner::errorContext(*project) : std::string("tarnwick");
    });
    controller.setRunObserver([&outcomes](const RunOutcome& outcome) { outcomes.add(outcome); });
    controller.setDiagnosticLog(&application.log());
    controller.setArchiveMarks(&application.archiveMarks());
    controller.setSelected(application.selectedProject());
}

enum class LoopEnd { Quit, Interrupted };

// Ticks the controller once a second until the console asks to quit or a signal arrives.
LoopEnd tickUntilQuit(RunController& controller, int signalDescriptor, int quitDescriptor, const DiagnosticLog& log)
{
    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now() + std::chrono::seconds(1);
    for (;;) {
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - Clock::now()).count();
        pollfd watched[2] = { { signalDescriptor, POLLIN, 0 }, { quitDescriptor, POLLIN, 0 } };
        int ready = ::poll(watched, 2, static_cast<int>(std::max<int64_t>(wait, 0)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            log.logLine("poll failed in the windowless loop", LogLineKind::Error);
            return LoopEnd::Interrupted;
        }
        if (watched[0].revents & POLLIN) {
            drain(signalDescriptor, sizeof(signalfd_siginfo));
            return LoopEnd::Interrupted;
        }
        if (watched[1].revents & POLLIN) {
            drain(quitDescriptor, sizeof(uint64_t));
            return LoopEnd::Quit;
        }
        if (Clock::now() >= nextTick) {
            controller.onTimerTick();
            nextTick += std::chrono::seconds(1);
            // A suspended machine must not make up for the lost seconds all at once.
            if (nextTick < Clock::now())
                nextTick = Clock::now() + std::chrono::seconds(1);
        }
    }
}

// Serves the watches and the interval timer until a signal arrives.
void watchUntilSignal(RunController& controller, ProjectWatches& watches, int signalDescriptor, ConsoleWindow& view)
{
    using Clock = ProjectWatches::Clock;
    auto nextTick = Clock::now() + std::chrono::seconds(1);
    const ProjectWatches::Start start { [&view](const std::string& line) { view.printLine(line); },
        [&controller](WebProject& project, std::optional<WebProject::ScanScope> scope) {
            controller.startWatchedRun(&project, std::move(scope));
        } };
    std::vector<pollfd> descriptors;
    for (;;) {
        const Clock::time_point now = Clock::now();
        const auto wait
            = std::min(std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now), watches.wait(now));
        descriptors.assign(1, { signalDescriptor, POLLIN, 0 });
        for (int descriptor : watches.descriptors())
            descriptors.push_back({ descriptor, POLLIN, 0 });
        const int ready
            = ::poll(descriptors.data(), descriptors.size(), static_cast<int>(std::max<int64_t>(wait.count(), 0)));
        if (ready < 0 && errno != EINTR)
            return;
        if (descriptors[0].revents & POLLIN) {
            drain(signalDescriptor, sizeof(signalfd_siginfo));
            return;
        }
        const Clock::time_point after = Clock::now();
        watches.serve(after, start);
        if (after >= nextTick) {
            controller.onTimerTick();
            nextTick = after + std::chrono::seconds(1);
        }
    }
}

} // namespace

WindowlessRunner::WindowlessRunner(Application& application, FILE* out, WindowlessOptions options)
    : application_(application)
    , out_(out)
    , options_(options)
{
}

std::string WindowlessRunner::errorContext(const WebProject& project)
{
    std::string text = fileNamePart(project.projectPath);
    const auto describe = [](const FtpSite& site, int number) {
        return "site " + std::to_string(number) + " \"" + site.name + "\" (" + site.url + ")";
    };
    const int current = project.currentSite;
    if (current >= 1 && current <= static_cast<int>(project.sites.size()))
        return text + ", " + describe(project.sites[static_cast<size_t>(current - 1)], current);
    for (size_t index = 0; index < project.sites.size(); ++index)
        text += (index == 0 ? ", " : " and ") + describe(project.sites[index], static_cast<int>(index + 1));
    return text;
}

std::vector<WebProject*> chosenProjects(ProjectList& projects, const std::string& argument)
{
    std::vector<WebProject*> chosen;
    if (argument == "-all") {
        for (int index = 0; index < projects.count(); ++index)
            chosen.push_back(projects.at(index));
    } else if (int index = RunController::findProject(projects.names(), argument); index >= 0) {
        chosen.push_back(projects.at(index));
    }
    return chosen;
}

int WindowlessRunner::dryRun(const std::string& argument)
{
    std::vector<WebProject*> chosen = chosenProjects(application_.projects(), argument);
    if (chosen.empty() && argument != "-all") {
        std::fprintf(stderr, "tarnwick: no project matches \"%s\" in %s\n", argument.c_str(),
            application_.dataDirectory().c_str());
        return 1;
    }
    if (chosen.empty())
        std::fprintf(out_, "no projects in %s\n", application_.dataDirectory().c_str());
    for (WebProject* project : chosen) {
        std::fprintf(
            out_, "dry run of %s (nothing is sent or recorded):\n", fileNamePart(project->projectPath).c_str());
        for (const std::string& line : describePlan(planRun(*project)))
            std::fprintf(out_, "%s\n", line.c_str());
    }
    std::fflush(out_);
    return 0;
}

bool WindowlessRunner::startRunOrService(RunController& controller, const std::string& argument, bool service)
{
    if (service) {
        application_.log().logLine("Starting Tarnwick", LogLineKind::Plain);
        return true;
    }
    if (controller.actOnCommandLine(argument))
        return true;
    std::fprintf(
        stderr, "tarnwick: no project matches \"%s\" in %s\n", argument.c_str(), application_.dataDirectory().c_str());
    return false;
}

int WindowlessRunner::watch(const std::vector<WebProject*>& projects, bool service)
{
    ProjectWatches watches;
    for (WebProject* project : projects) {
        if (const std::string error = watches.add(*project); !error.empty()) {
            std::fprintf(stderr, "tarnwick: %s\n", error.c_str());
            return 1;
        }
    }
    BlockedSignals blocked;
    UniqueFd signals(::signalfd(-1, &blocked.set(), SFD_CLOEXEC));
    if (signals.get() < 0) {
        application_.log().showMessage("windowless start failed: no signalfd");
        return 1;
    }
    ConsoleWindow view(
        application_.projects(), out_, [] {},
        ConsoleOptions { options_.verbosity, options_.progressLine, projects.size() > 1 });
    auto owned = std::make_unique<RunController>(view);
    RunController& controller = *owned;
    CollectedOutcomes unused;
    attachController(controller, view, unused, application_);
    // Each run says what it came to when it ends: a watch has no last summary.
    controller.setRunObserver([&view](const RunOutcome& outcome) {
        for (const std::string& line : summaryLines({ outcome }))
            view.printLine(line);
    });
    for (const std::string& line : watches.describe())
        view.printLine(line);
    for (WebProject* project : projects)
        controller.startRun(project);
    if (service)
        application_.log().logLine("Starting Tarnwick", LogLineKind::Plain);
    watchUntilSignal(controller, watches, signals.get(), view);
    // The run in progress ends within a moment and records what the servers confirmed.
    controller.requestStop();
    pthread_sigmask(SIG_UNBLOCK, &blocked.set(), nullptr);
    owned.reset();
    if (service)
        application_.log().logLine("Stopping Tarnwick", LogLineKind::Plain);
    return 0;
}

int WindowlessRunner::run(const std::string& argument)
{
    if (options_.allowDeleteAll)
        for (WebProject* project : chosenProjects(application_.projects(), argument))
            project->allowDeleteAll = true;
    if (options_.uploadRateLimit)
        for (WebProject* project : chosenProjects(application_.projects(), argument))
            project->uploadRateLimitOverride = options_.uploadRateLimit;
    if (options_.dryRun)
        return dryRun(argument);
    if (options_.watch || argument == "-service") {
        std::vector<WebProject*> projects = chosenProjects(application_.projects(), argument);
        if (!options_.watch) {
            // The service watches the projects that ask for it; the timer serves the rest.
            projects.clear();
            for (int index = 0; index < application_.projects().count(); ++index)
                if (WebProject* project = application_.projects().at(index); project->watch != 0)
                    projects.push_back(project);
        }
        if (options_.watch && projects.empty()) {
            std::fprintf(stderr, "tarnwick: no project matches \"%s\" in %s\n", argument.c_str(),
                application_.dataDirectory().c_str());
            return 1;
        }
        if (!projects.empty())
            return watch(projects, !options_.watch);
    }
    BlockedSignals blocked;
    UniqueFd signals(::signalfd(-1, &blocked.set(), SFD_CLOEXEC));
    UniqueFd quit(::eventfd(0, EFD_CLOEXEC));
    if (signals.get() < 0 || quit.get() < 0) {
        application_.log().showMessage("windowless start failed: no signalfd or eventfd");
        return 1;
    }

    const bool service = argument == "-service";
    ConsoleWindow view(
        application_.projects(), out_, [&quit] { wake(quit.get()); },
        ConsoleOptions {
            options_.verbosity, options_.progressLine, argument == "-all" && application_.projects().count() > 1 });
    view.setSelected(application_.selectedProject());
    CollectedOutcomes outcomes;
    // Declared after what it reports into: its destructor waits for the run in progress.
    auto owned = std::make_unique<RunController>(view);
    RunController& controller = *owned;
    attachController(controller, view, outcomes, application_);
    if (!startRunOrService(controller, argument, service))
        return 1;

    if (tickUntilQuit(controller, signals.get(), quit.get(), application_.log()) == LoopEnd::Interrupted) {
        // The run in progress ends within a moment, even inside a stalled transfer, and
        // records what the servers confirmed; the controller's destructor waits for it. A
        // second Ctrl-C is not asked to wait: with the signals unblocked here, their default
        // action ends the process.
        controller.requestStop();
        pthread_sigmask(SIG_UNBLOCK, &blocked.set(), nullptr);
        owned.reset();
        if (service) {
            application_.log().logLine("Stopping Tarnwick", LogLineKind::Plain);
            return 0;
        }
        outcomes.printSummary(view);
        return 1;
    }
    controller.waitUntilIdle();
    const bool failed = controller.anyRunFailed();
    owned.reset();
    if (!service)
        outcomes.printSummary(view);
    return failed ? 1 : 0;
}
