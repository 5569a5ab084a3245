#include "ui/c_dlg_main.h"

#include "engine/web_project.h"
#include "platform/file_utils.h"
#include "shell/application.h"
#include "support/ftp_server.h"
#include "support/qt_test_application.h"
#include "support/required_server.h"
#include "support/temp_dir.h"
#include "support/test_tree.h"
#include "ui/file_list_model.h"
#include "ui/log_line_model.h"
#include "ui/log_window.h"
#include "uikit/ui_strings.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

namespace {

bool exists(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0;
}

// A data directory with one project over a small web folder: index.html recorded as uploaded,
// docs/page.html new, old.html recorded but deleted locally.
struct Desk {
    TestTree tree;
    TempDir home;
    std::string data = home.makeDirectory("data") + "/";
    std::string optionsFile = home.file("Tarnwick.conf");
    const UiStrings strings { UiLanguage::English };

    void writeProject(const std::string& name, const std::string& url, int strategy = 2)
    {
        tree.add("index.html", "<html>");
        tree.add("docs/page.html", "<p>");
        ProjectSettings settings;
        settings.projectPath = data + name;
        settings.local = tree.root();
        settings.strategy = strategy;
        FtpSite site;
        site.name = "default";
        site.url = url;
        site.user = "user";
        site.pass = "pass";
        settings.sites.push_back(site);
        ASSERT_TRUE(settings.SaveProject());
        const std::string list = tree.path("index.html") + "=" + std::to_string(TestTree::kDefaultTime) + "\n"
            + tree.path("old.html") + "=123\n";
        ASSERT_TRUE(writeFileAtomically(settings.projectPath + ".txt", list));
    }

    // "site.ftp" against a real server, with its login; `adjust` changes more before it is saved.
    void writeServerProject(const FtpServer& server, const std::function<void(ProjectSettings&)>& adjust = {})
    {
        writeProject("site.ftp", server.url());
        ProjectSettings settings;
        settings.LoadProject(data + "site.ftp");
        settings.sites.at(0).user = server.user();
        settings.sites.at(0).pass = server.password();
        if (adjust)
            adjust(settings);
        ASSERT_TRUE(settings.SaveProject());
    }

    DesktopEnvironment environment() const
    {
        DesktopEnvironment environment;
        environment.optionsFile = optionsFile;
        environment.unitDirectory = home.path() + "/units/";
        environment.programPath = "/usr/bin/tarnwick";
        environment.useTray = false;
        return environment;
    }
};

std::vector<std::string> names(const FileListModel& model)
{
    std::vector<std::string> result;
    for (int row = 0; row < model.rowCount(); ++row)
        result.push_back(model.row(row).name);
    return result;
}

} // namespace

TEST(CDlgMain, FindFillsTheListAndMarksRewriteTheFileList)
{
    qtTestApplication();
    Desk desk;
    desk.writeProject("site.ftp", "127.0.0.1:1");
    Application application(desk.data, desk.optionsFile);
    application.startUp();
    CDlgMain window(application, desk.strings, desk.environment());
    window.startUp("");
    ASSERT_EQ(window.configurationBox()->count(), 1);
    EXPECT_EQ(window.configurationBox()->currentText(), "site.ftp");
    ASSERT_NE(window.selectedProject(), nullptr);
    EXPECT_FALSE(window.stopButton()->isVisibleTo(&window));
    EXPECT_TRUE(window.ftpButton()->isEnabled());

    window.findButton()->click();
    FileListModel& model = window.fileListModel();
    ASSERT_TRUE(processEventsUntil([&] { return model.rowCount() == 3; })) << model.rowCount();
    EXPECT_EQ(names(model), (std::vector<std::string> { "page.html", "old.html", "index.html" }));
    EXPECT_EQ(model.row(0).image, FileListModel::Image::Changed);
    EXPECT_EQ(model.row(1).image, FileListModel::Image::Deleted);
    EXPECT_EQ(model.row(2).image, FileListModel::Image::Unchanged);
    EXPECT_EQ(model.data(model.index(0, FileListModel::Path), Qt::DisplayRole).toString().toStdString(),
        desk.tree.root() + "/docs");

    // Mark as OK records the new page; the next Find lists it as unchanged.
    window.fileList()->selectRow(0);
    window.markSelectedRows(MarkAs::Ok);
    const std::string fileList = desk.data + "site.ftp.txt";
    ASSERT_TRUE(processEventsUntil(
        [&] { return readWholeFile(fileList).value_or("").find("page.html") != std::string::npos; }));
    window.findButton()->click();
    ASSERT_TRUE(processEventsUntil([&] { return model.rowCount() == 3 && model.row(0).name == "old.html"; }));
    EXPECT_EQ(names(model), (std::vector<std::string> { "old.html", "index.html", "page.html" }));

    // Mark as changed leaves it out of the file list again.
    window.fileList()->clearSelection();
    window.fileList()->selectRow(2);
    window.markSelectedRows(MarkAs::Changed);
    ASSERT_TRUE(processEventsUntil(
        [&] { return readWholeFile(fileList).value_or("page.html").find("page.html") == std::string::npos; }));
    EXPECT_NE(readWholeFile(fileList).value_or("").find("index.html"), std::string::npos);
}

TEST(CDlgMain, OtherStrategiesListOnlyChangedFiles)
{
    qtTestApplication();
    Desk desk;
    desk.writeProject("site.ftp", "127.0.0.1:1", 0);
    Application application(desk.data, desk.optionsFile);
    application.startUp();
    CDlgMain window(application, desk.strings, desk.environment());
    window.startUp("");
    window.findSelected();
    FileListModel& model = window.fileListModel();
    ASSERT_TRUE(processEventsUntil([&] { return model.rowCount() > 0; }));
    for (int row = 0; row < model.rowCount(); ++row)
        EXPECT_NE(model.row(row).image, FileListModel::Image::Unchanged) << model.row(row).name;
}

TEST(CDlgMain, RunAgainstARealServerSwitchesTheButtons)
{
    qtTestApplication();
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Desk desk;
    desk.writeServerProject(server);
    Application application(desk.data, desk.optionsFile);
    application.startUp();
    CDlgMain window(application, desk.strings, desk.environment());
    window.startUp("");

    window.startButton()->click();
    EXPECT_FALSE(window.startButton()->isVisibleTo(&window));
    EXPECT_TRUE(window.stopButton()->isVisibleTo(&window));
    ASSERT_TRUE(processEventsUntil([&] { return window.controller().completedRuns() == 1; }, 60000));
    ASSERT_TRUE(processEventsUntil(
        [&] { return window.startButton()->isEnabled() && window.startButton()->isVisibleTo(&window); }));
    EXPECT_TRUE(window.startButton()->isVisibleTo(&window));
    EXPECT_FALSE(window.stopButton()->isVisibleTo(&window));
    EXPECT_TRUE(window.findButton()->isEnabled());
    EXPECT_TRUE(window.setupsButton()->isEnabled());
    EXPECT_TRUE(exists(server.pathOf("docs/page.html"))) << server.log();
    EXPECT_GT(window.logWindow().lines().rowCount(), 0);

    // The closing rescan lists the uploaded files as unchanged.
    FileListModel& model = window.fileListModel();
    ASSERT_TRUE(processEventsUntil(
        [&] { return model.rowCount() == 2 && model.row(0).image == FileListModel::Image::Unchanged; }));

    // Stop during a second run: Start comes back at once, enabled once the run has ended.
    window.startButton()->click();
    window.stopButton()->click();
    EXPECT_TRUE(window.startButton()->isVisibleTo(&window));
    EXPECT_FALSE(window.stopButton()->isVisibleTo(&window));
    ASSERT_TRUE(processEventsUntil([&] { return window.controller().completedRuns() == 2; }, 60000));
    ASSERT_TRUE(processEventsUntil(
        [&] { return window.startButton()->isEnabled() && window.startButton()->isVisibleTo(&window); }));
}

// With no project the list area says how to create one, its button opens the editor on a new
// project, and Start and Find wait until a project exists.
TEST(CDlgMain, FirstLaunchExplainsHowToCreateAProject)
{
    qtTestApplication();
    for (UiLanguage language : { UiLanguage::English, UiLanguage::German }) {
        Desk desk;
        const UiStrings strings(language);
        Application application(desk.data, desk.optionsFile);
        application.startUp();
        CDlgMain window(application, strings, desk.environment());
        window.startUp("");
        EXPECT_TRUE(window.showsWelcome());
        EXPECT_TRUE(window.welcomeText()->text().startsWith(
            language == UiLanguage::German ? "Es gibt noch kein Webprojekt." : "There is no web project yet."));
        EXPECT_EQ(window.createProjectButton()->text(),
            language == UiLanguage::German ? "Webprojekt anlegen..." : "Create a web project...");
        EXPECT_FALSE(window.startButton()->isEnabled());
        EXPECT_FALSE(window.findButton()->isEnabled());
        EXPECT_TRUE(window.createProjectButton()->isEnabled());

        // The button: the editor opens and at once asks for the new project's name.
        std::vector<std::string> dialogs;
        QTimer closer;
        int ticks = 0;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (++ticks > 500)
                closer.stop();
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialogs.push_back(dialog->metaObject()->className());
                dialog->reject();
            }
        });
        closer.start(20);
        window.createProjectButton()->click();
        closer.stop();
        EXPECT_EQ(dialogs, (std::vector<std::string> { "CDlgEdit", "CDlgWebProject" }));

        desk.writeProject("first.ftp", "127.0.0.1:1");
        window.controller().reloadProjects();
        ASSERT_TRUE(processEventsUntil([&] { return !window.showsWelcome(); }));
        ASSERT_TRUE(processEventsUntil([&] { return window.startButton()->isEnabled(); }));
        EXPECT_TRUE(window.findButton()->isEnabled());
    }
}

// A scheduled run that fails says so in a notification naming the project; a run the user
// started does not.
TEST(CDlgMain, AFailedScheduledRunIsNotified)
{
    qtTestApplication();
    Desk desk;
    desk.writeProject("site.ftp", "127.0.0.1:1");
    {
        ProjectSettings settings;
        settings.LoadProject(desk.data + "site.ftp");
        settings.minutes = 1;
        ASSERT_TRUE(settings.SaveProject());
    }
    Application application(desk.data, desk.optionsFile);
    application.startUp();
    CDlgMain window(application, desk.strings, desk.environment());
    window.startUp("");
    window.startSelected();
    ASSERT_TRUE(processEventsUntil([&] { return window.controller().completedRuns() == 1; }, 60000));
    processEventsUntil([] { return false; }, 100);
    EXPECT_TRUE(window.lastTrayMessage().isEmpty()) << window.lastTrayMessage().toStdString();

    // The second minute check finds the project of interval 1 due.
    for (int tick = 0; tick < 2 * RunController::kTicksPerMinuteCheck && window.controller().completedRuns() == 1;
         ++tick)
        window.controller().onTimerTick();
    ASSERT_TRUE(processEventsUntil([&] { return !window.lastTrayMessage().isEmpty(); }, 60000));
    // How many files failed depends on what the first run left recorded; the project and the
    // unreachable site are named either way.
    const std::string message = window.lastTrayMessage().toStdString();
    EXPECT_TRUE(message.starts_with("The scheduled upload of site.ftp did not finish: ")) << message;
    EXPECT_TRUE(message.ends_with(" files failed, 1 sites unreachable. The Log window shows the details.")) << message;
}

TEST(CDlgMain, ReloadReplacesTheProjectsAndTheLabelsFollowTheLanguage)
{
    qtTestApplication();
    Desk desk;
    desk.writeProject("beta.ftp", "127.0.0.1:1");
    Application application(desk.data, desk.optionsFile);
    application.startUp();
    const UiStrings german(UiLanguage::German);
    CDlgMain window(application, german, desk.environment());
    window.startUp("");
    EXPECT_EQ(window.findButton()->text(), "Suchen");
    EXPECT_EQ(window.setupsButton()->text(), "Einstellungen");
    EXPECT_EQ(window.fileListModel().headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(), "Größe");

    ProjectSettings alpha;
    alpha.projectPath = desk.data + "alpha.ftp";
    ASSERT_TRUE(alpha.SaveProject());
    window.controller().reloadProjects();
    ASSERT_TRUE(processEventsUntil([&] { return window.configurationBox()->count() == 2; }));
    EXPECT_EQ(window.configurationBox()->itemText(0), "alpha.ftp");
    EXPECT_EQ(window.configurationBox()->itemText(1), "beta.ftp");
    EXPECT_NE(window.selectedProject(), nullptr);
    EXPECT_EQ(window.controller().selected(), window.selectedProject());
}

TEST(CDlgMain, ClosingWhileARunWaitsForTheWindowDoesNotHang)
{
    qtTestApplication();
    Desk desk;
    desk.writeProject("site.ftp", "127.0.0.1:1");
    Application application(desk.data, desk.optionsFile);
    application.startUp();
    {
        CDlgMain window(application, desk.strings, desk.environment());
        window.startUp("");
        window.startSelected();
        // No events are handled: the worker soon waits for the window; destruction must free it.
    }
    SUCCEED();
}

// A project in watch mode: the window uploads a saved page by itself, about a second later.
TEST(CDlgMain, WatchModeUploadsASavedPage)
{
    qtTestApplication();
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Desk desk;
    desk.writeServerProject(server, [](ProjectSettings& settings) { settings.watch = 1; });
    Application application(desk.data, desk.optionsFile);
    application.startUp();
    CDlgMain window(application, desk.strings, desk.environment());
    window.startUp("");

    desk.tree.add("docs/saved.html", "saved");
    ASSERT_TRUE(processEventsUntil([&] { return exists(server.pathOf("docs/saved.html")); }, 10000)) << server.log();
    ASSERT_TRUE(processEventsUntil([&] { return window.controller().completedRuns() == 1; }, 10000));
}
