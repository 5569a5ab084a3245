// The run logic without a window: the scheduler driven tick by tick, queued starts, the
// command line, the mark commands.

#include "engine/web_project.h"
#include "platform/file_lock.h"
#include "shell/main_window_view.h"
#include "shell/run_controller.h"
#include "support/ftp_server.h"
#include "support/test_tree.h"
#include "support/upload_site.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// Records what the run logic asks of the window. With `holdRuns` set, a run stops at its
// first window call until release() is called, so a test can act while it is in progress.
class RecordingView : public MainWindowView {
public:
    std::vector<std::unique_ptr<WebProject>> projects;
    bool holdRuns = false;

    void setRunControlsEnabled(bool enabled) override
    {
        std::unique_lock lock(mutex_);
        if (!enabled) {
            ++runsBegun_;
            ++active_;
            maxActive_ = std::max(maxActive_, active_);
            changed_.notify_all();
            changed_.wait(lock, [this] { return !holdRuns; });
        } else {
            --active_;
        }
    }
    void showStartButton() override { }
    void showStopButton() override { }
    void setStatusText(const std::string&) override { }
    void appendLogLine(const std::string& text) override
    {
        std::lock_guard lock(mutex_);
        log_.push_back(text);
        const bool result = text.starts_with("-->OK ") || text.starts_with("-->Error ");
        if (text.starts_with("-->") && !result && ++uploadsBegun_ == crashAtUpload)
            throw std::runtime_error("simulated crash");
    }
    std::vector<std::string> log()
    {
        std::lock_guard lock(mutex_);
        return log_;
    }
    int crashAtUpload = 0; // the upload whose log line throws, counting from 1
    void refreshFileList() override { }
    void requestQuit() override
    {
        std::lock_guard lock(mutex_);
        ++quits_;
    }
    void setTrayIcon(TrayIcon icon) override { icons.push_back(icon); }
    int projectCount() const override { return static_cast<int>(projects.size()); }
    WebProject* projectAt(int index) const override
    {
        return index >= 0 && index < projectCount() ? projects[static_cast<size_t>(index)].get() : nullptr;
    }
    WebProject* reloadProjects() override { return projectAt(0); }

    // Waits (bounded) until a held run has reached the window.
    bool waitForRunBegun(int count)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return runsBegun_ >= count; });
    }
    void release()
    {
        std::lock_guard lock(mutex_);
        holdRuns = false;
        changed_.notify_all();
    }
    int quits()
    {
        std::lock_guard lock(mutex_);
        return quits_;
    }
    int maxActive()
    {
        std::lock_guard lock(mutex_);
        return maxActive_;
    }

    std::vector<TrayIcon> icons; // window thread only

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int runsBegun_ = 0;
    int active_ = 0;
    int maxActive_ = 0;
    int quits_ = 0;
    int uploadsBegun_ = 0;
    std::vector<std::string> log_;
};

// Projects with an empty web folder and no sites: a run scans, finds nothing and writes its
// file list, which is how a test sees that it ran.
struct Fixture {
    TestTree tree;
    RecordingView view;

    WebProject& addProject(const std::string& name, int minutes)
    {
        auto project = std::make_unique<WebProject>();
        project->local = tree.root();
        project->temp = tree.base();
        project->projectPath = tree.base() + "/" + name;
        project->filelist = project->projectPath + ".txt";
        project->strategy = 2;
        project->minutes = minutes;
        view.projects.push_back(std::move(project));
        return *view.projects.back();
    }
    static bool ran(const WebProject& project) { return fs::exists(project.filelist); }
    static void forget(const WebProject& project) { fs::remove(project.filelist); }
};

void minuteCheck(RunController& controller)
{
    for (int tick = 0; tick < RunController::kTicksPerMinuteCheck; ++tick)
        controller.onTimerTick();
    controller.waitUntilIdle();
}

TEST(Scheduler, TwoProjectsOfIntervalOneStartOneAfterTheOther)
{
    Fixture fixture;
    WebProject& first = fixture.addProject("first.ftp", 1);
    WebProject& second = fixture.addProject("second.ftp", 1);
    WebProject& never = fixture.addProject("third.ftp", 0);
    RunController controller(fixture.view);

    for (int tick = 1; tick < RunController::kTicksPerMinuteCheck; ++tick)
        controller.onTimerTick();
    EXPECT_EQ(controller.ticks(), 58);
    EXPECT_EQ(first.minuteCounter, 0);

    struct Check {
        int first, second;
        bool firstRan, secondRan;
    };
    const Check checks[] = {
        { 1, 1, false, false },
        { 0, 1, true, false },
        { 1, 0, false, true },
        // The due project ends the walk: the second is not counted at this check.
        { 0, 0, true, false },
    };
    controller.onTimerTick(); // the 59th tick makes the first check
    controller.waitUntilIdle();
    for (size_t index = 0; index < std::size(checks); ++index) {
        SCOPED_TRACE("minute check " + std::to_string(index + 1));
        if (index > 0)
            minuteCheck(controller);
        EXPECT_EQ(controller.ticks(), 0);
        EXPECT_EQ(first.minuteCounter, checks[index].first);
        EXPECT_EQ(second.minuteCounter, checks[index].second);
        EXPECT_EQ(Fixture::ran(first), checks[index].firstRan);
        EXPECT_EQ(Fixture::ran(second), checks[index].secondRan);
        EXPECT_EQ(never.minuteCounter, 0);
        EXPECT_FALSE(Fixture::ran(never));
        Fixture::forget(first);
        Fixture::forget(second);
    }
    EXPECT_EQ(controller.completedRuns(), 3);
}

TEST(Scheduler, NoMinuteCheckDuringARunAndTheIconBlinks)
{
    Fixture fixture;
    WebProject& project = fixture.addProject("site.ftp", 1);
    RunController controller(fixture.view);
    for (int tick = 0; tick < 10; ++tick)
        controller.onTimerTick();

    fixture.view.holdRuns = true;
    controller.startRun(&project);
    ASSERT_TRUE(fixture.view.waitForRunBegun(1));
    EXPECT_TRUE(controller.isRunning());
    for (int tick = 0; tick < 3 * RunController::kTicksPerMinuteCheck; ++tick)
        controller.onTimerTick();
    EXPECT_EQ(controller.ticks(), 10);
    EXPECT_EQ(project.minuteCounter, 0);
    ASSERT_EQ(fixture.view.icons.size(), 177u);
    for (size_t index = 0; index < fixture.view.icons.size(); ++index)
        EXPECT_EQ(fixture.view.icons[index], index % 2 == 0 ? TrayIcon::Busy : TrayIcon::Idle) << index;

    fixture.view.release();
    controller.waitUntilIdle();
    controller.onTimerTick(); // the icon was left busy: the first idle tick restores it
    EXPECT_EQ(fixture.view.icons.back(), TrayIcon::Idle);
    EXPECT_EQ(controller.ticks(), 11);
}

TEST(Scheduler, StartsQueueBehindARunInProgress)
{
    Fixture fixture;
    WebProject& first = fixture.addProject("a.ftp", 0);
    fixture.addProject("b.ftp", 0);
    fixture.addProject("c.ftp", 0);
    RunController controller(fixture.view);

    fixture.view.holdRuns = true;
    controller.startRun(&first);
    ASSERT_TRUE(fixture.view.waitForRunBegun(1));
    controller.uploadAll();
    controller.startRun(&first);
    fixture.view.release();
    controller.waitUntilIdle();
    EXPECT_EQ(controller.completedRuns(), 5);
    EXPECT_EQ(fixture.view.maxActive(), 1);
}

TEST(Scheduler, JobsQueuedBehindAReloadFindTheReloadedProject)
{
    // A reload replaces every project object; a start, a Find or a mark command queued
    // behind it must reach the new object for the same file, never the destroyed one.
    struct ReloadingView : RecordingView {
        WebProject* reloadProjects() override
        {
            for (auto& project : projects) {
                auto fresh = std::make_unique<WebProject>();
                fresh->local = project->local;
                fresh->temp = project->temp;
                fresh->projectPath = project->projectPath;
                fresh->filelist = project->filelist;
                fresh->strategy = project->strategy;
                project = std::move(fresh);
            }
            return projectAt(0);
        }
    };
    TestTree tree;
    ReloadingView view;
    auto project = std::make_unique<WebProject>();
    project->local = tree.root();
    project->temp = tree.base();
    project->projectPath = tree.base() + "/site.ftp";
    project->filelist = project->projectPath + ".txt";
    project->strategy = 2;
    view.projects.push_back(std::move(project));
    WebProject* before = view.projects.front().get();

    RunController controller(view);
    view.holdRuns = true;
    controller.startRun(before);
    ASSERT_TRUE(view.waitForRunBegun(1));
    controller.reloadProjects();
    controller.startRun(before);
    controller.rescan(before);
    controller.markEntries(before, { "x" }, MarkAs::Ok);
    view.release();
    controller.waitUntilIdle();

    EXPECT_EQ(controller.completedRuns(), 2);
    EXPECT_NE(view.projects.front().get(), before);
    EXPECT_EQ(controller.selected(), view.projects.front().get());
}

TEST(RunFailures, ACrashInTheUploadRecordsNothingAsSent)
{
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Fixture fixture;
    WebProject& project = fixture.addProject("site.ftp", 0);
    FtpSite site;
    site.url = server.url();
    site.user = server.user();
    site.pass = server.password();
    project.sites.push_back(site);
    generateSite(fixture.tree, 10);
    RunController controller(fixture.view);

    fixture.view.crashAtUpload = 4;
    controller.startRun(&project);
    controller.waitUntilIdle();
    EXPECT_TRUE(controller.anyRunFailed());
    EXPECT_TRUE(readFileListFile(project.filelist).empty());
    std::vector<std::string> log = fixture.view.log();
    EXPECT_EQ(std::count_if(
                  log.begin(), log.end(), [](const std::string& line) { return line.starts_with("Crash in upload"); }),
        1);
    EXPECT_EQ(
        std::count_if(log.begin(), log.end(), [](const std::string& line) { return line.starts_with("-->Error "); }),
        10);

    fixture.view.crashAtUpload = 0;
    controller.startRun(&project);
    controller.waitUntilIdle();
    EXPECT_EQ(readFileListFile(project.filelist).size(), 10u);
    EXPECT_EQ(compareTrees(fixture.tree.root(), server.root()), std::vector<std::string>());
}

TEST(RunLock, ARunOfAProjectLockedElsewhereIsSkipped)
{
    Fixture fixture;
    WebProject& locked = fixture.addProject("site.ftp", 1);
    WebProject& free = fixture.addProject("other.ftp", 0);
    RunController controller(fixture.view);
    FileLock elsewhere; // what another process running site.ftp holds
    ASSERT_EQ(elsewhere.lock(locked.projectPath + ".lock", FileLock::Wait::DontWait), FileLock::Outcome::Locked);

    // The manual start, the scheduler's interval and "Upload all" alike skip it.
    controller.startRun(&locked);
    controller.waitUntilIdle();
    minuteCheck(controller);
    minuteCheck(controller);
    controller.uploadAll();
    controller.waitUntilIdle();
    EXPECT_FALSE(Fixture::ran(locked));
    EXPECT_TRUE(Fixture::ran(free));
    EXPECT_EQ(controller.completedRuns(), 1);
    EXPECT_TRUE(controller.anyRunFailed());
    std::vector<std::string> log = fixture.view.log();
    EXPECT_EQ(std::count(log.begin(), log.end(),
                  "Error: site.ftp is being run by another Tarnwick process; this run is skipped"),
        3);

    // Its own run held the lock only while it lasted; once the other process lets go, the
    // next interval runs.
    elsewhere.unlock();
    minuteCheck(controller);
    minuteCheck(controller);
    EXPECT_TRUE(Fixture::ran(locked));
    FileLock after;
    EXPECT_EQ(after.lock(locked.projectPath + ".lock", FileLock::Wait::DontWait), FileLock::Outcome::Locked);
}

// A lock that cannot be taken at all (a data folder nobody may write) means the run could
// not record what it sent either: it fails before it starts.
TEST(RunLock, ALockThatCannotBeTakenFailsTheRunBeforeItStarts)
{
    Fixture fixture;
    WebProject& project = fixture.addProject("site.ftp", 0);
    fs::create_directories(project.projectPath + ".lock"); // unopenable as a file, also for root
    RunController controller(fixture.view);
    controller.startRun(&project);
    controller.waitUntilIdle();
    EXPECT_FALSE(Fixture::ran(project));
    EXPECT_TRUE(controller.anyRunFailed());
    const std::vector<std::string> log = fixture.view.log();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) {
        return line.starts_with("Error: cannot lock " + project.projectPath + ".lock: ")
            && line.ends_with("; nothing was sent");
    })) << testing::PrintToString(log);
}

TEST(RunOptions, EachJobReadsTheOptionsCopiedWhenItBegan)
{
    // The window thread replaces the options record whenever the Options dialog is confirmed,
    // also while a timed run is in progress; a job must see one consistent record throughout.
    Fixture fixture;
    WebProject& project = fixture.addProject("site.ftp", 0);
    fixture.tree.add("index.htm", "page");
    fixture.tree.add("_vti_cnf/index.htm", "vti_author:SR|alice\n");
    project.forbiddenDirectories = { "*_vti_cnf" };
    MachineOptions shared;
    shared.frontPage = true;
    project.machineOptions = &shared; // what a job must not read
    std::mutex mutex;
    MachineOptions current;
    current.frontPage = false;
    RunController controller(fixture.view);
    controller.setOptionsSource([&] {
        std::lock_guard lock(mutex);
        return current;
    });

    const auto author = [&] {
        auto item = std::find_if(project.items.begin(), project.items.end(),
            [](const FileItem& candidate) { return candidate.path.ends_with("/index.htm"); });
        return item == project.items.end() ? std::string("(none)") : item->author;
    };
    fixture.view.holdRuns = true;
    controller.startRun(&project);
    ASSERT_TRUE(fixture.view.waitForRunBegun(1));
    {
        std::lock_guard lock(mutex);
        current.frontPage = true;
    }
    fixture.view.release();
    controller.waitUntilIdle();
    EXPECT_EQ(author(), "");
    EXPECT_EQ(project.machineOptions, &shared);

    Fixture::forget(project);
    controller.rescan(&project);
    controller.waitUntilIdle();
    EXPECT_EQ(author(), "SR|alice");
}

TEST(CommandLine, AllRunsEveryProjectAndQuitsOnceAfterTheLast)
{
    Fixture fixture;
    for (const char* name : { "a.ftp", "b.ftp", "c.ftp" })
        fixture.addProject(name, 0);
    RunController controller(fixture.view);
    EXPECT_TRUE(controller.actOnCommandLine("-all"));
    controller.waitUntilIdle();
    EXPECT_EQ(controller.completedRuns(), 3);
    EXPECT_EQ(fixture.view.quits(), 1);
    for (const auto& project : fixture.view.projects)
        EXPECT_TRUE(Fixture::ran(*project));
}

TEST(CommandLine, SingleRunsAndArgumentsThatStartNothing)
{
    struct Case {
        const char* argument;
        bool started;
        int runs;
        int quits;
    };
    const Case cases[] = {
        { "b", true, 1, 1 },
        { "B.FTP", true, 1, 1 },
        { "-all", true, 2, 1 },
        { "-ALL", false, 0, 0 },
        { "zeta", false, 0, 0 },
        { "", false, 0, 0 },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.argument);
        Fixture fixture;
        fixture.addProject("a.ftp", 0);
        fixture.addProject("b.ftp", 0);
        RunController controller(fixture.view);
        EXPECT_EQ(controller.actOnCommandLine(test.argument), test.started);
        controller.waitUntilIdle();
        EXPECT_EQ(controller.completedRuns(), test.runs);
        EXPECT_EQ(fixture.view.quits(), test.quits);
    }
}

TEST(CommandLine, AllWithoutProjectsQuitsAtOnce)
{
    Fixture fixture;
    RunController controller(fixture.view);
    EXPECT_TRUE(controller.actOnCommandLine("-all"));
    controller.waitUntilIdle();
    EXPECT_EQ(controller.completedRuns(), 0);
    EXPECT_EQ(fixture.view.quits(), 1);
}

TEST(CommandLine, ProjectSearchBeginsAtTheSecondEntry)
{
    struct Case {
        std::vector<std::string> names;
        const char* argument;
        int found;
    };
    const Case cases[] = {
        { { "alpha.ftp", "alphabet.ftp" }, "alpha", 1 },
        { { "alpha.ftp", "beta.ftp" }, "alpha", 0 },
        { { "alpha.ftp", "beta.ftp" }, "ALPHA", 0 },
        { { "alpha.ftp", "beta.ftp" }, "alpha.ftp", 0 },
        { { "alpha.ftp", "beta.ftp" }, "beta", 1 },
        { { "alpha.ftp", "beta.ftp" }, "gamma", -1 },
        { { "alpha.ftp" }, "alpha", 0 },
        { { "a.ftp", "ab.ftp", "b.ftp" }, "a", 1 },
        { { "a.ftp", "b.ftp", "c.ftp" }, "a", 0 },
        { {}, "a", -1 },
        { { "alpha.ftp" }, "", -1 },
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::string(test.argument) + " in " + testing::PrintToString(test.names));
        EXPECT_EQ(RunController::findProject(test.names, test.argument), test.found);
    }
}

TEST(MarkCommands, MarkedEntriesEnterOrLeaveTheFileList)
{
    Fixture fixture;
    WebProject& project = fixture.addProject("site.ftp", 0);
    const std::string page = fixture.tree.add("page.html", "p");
    const std::string other = fixture.tree.add("other.html", "o");
    RunController controller(fixture.view);
    controller.setSelected(&project);

    controller.rescan(&project);
    controller.markEntries(&project, { page }, MarkAs::Ok);
    controller.waitUntilIdle();
    std::map<std::string, int64_t> recorded = readFileListFile(project.filelist);
    EXPECT_TRUE(recorded.contains(page));
    EXPECT_FALSE(recorded.contains(other));

    controller.rescan(&project);
    controller.markEntries(&project, { page }, MarkAs::Changed);
    controller.waitUntilIdle();
    EXPECT_FALSE(readFileListFile(project.filelist).contains(page));
}

} // namespace
