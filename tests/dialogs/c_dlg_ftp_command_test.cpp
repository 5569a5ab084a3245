// The FTP browser window against a real server: both panes, the questions it asks before
// overwriting or deleting, differences, Enter, and the full compare behind Soft Relaunch.

#include "dialogs/c_dlg_ftp_command.h"
#include "dialogs/c_dlg_relaunch.h"

#include "config/site_list.h"
#include "engine/web_project.h"
#include "shell/project_list.h"
#include "support/ftp_server.h"
#include "support/qt_test_application.h"
#include "support/required_server.h"
#include "support/temp_dir.h"
#include "support/upload_site.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void writeFile(const std::string& path, const std::string& content)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

QStringList paneNames(QTreeWidget* pane)
{
    QStringList names;
    for (int i = 0; i < pane->topLevelItemCount(); ++i)
        names << pane->topLevelItem(i)->text(0);
    return names;
}

QStringList selectedNames(QTreeWidget* pane)
{
    QStringList names;
    for (int i = 0; i < pane->topLevelItemCount(); ++i)
        if (pane->topLevelItem(i)->isSelected())
            names << pane->topLevelItem(i)->text(0);
    return names;
}

void select(QTreeWidget* pane, const QStringList& names)
{
    pane->clearSelection();
    for (int i = 0; i < pane->topLevelItemCount(); ++i)
        if (names.contains(pane->topLevelItem(i)->text(0)))
            pane->topLevelItem(i)->setSelected(true);
}

class BrowserWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        qtTestApplication();
        SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
        writeFile(server.pathOf("Index.html"), "remote index");
        writeFile(server.pathOf("same.html"), "remote same");
        writeFile(server.pathOf("docs/a.txt"), "a");
        writeFile(server.pathOf("old/gone.html"), "gone");
        writeFile(server.pathOf(".htaccess"), "deny");
        ASSERT_TRUE(server.start()) << server.error();

        local.writeFile("web/index.html", "local index");
        local.writeFile("web/same.html", "local same!");
        local.writeFile("web/docs/a.txt", "a");
        local.makeDirectory("data");

        FtpSite site;
        site.name = "default";
        site.url = server.url();
        site.user = server.user();
        site.pass = server.password();
        WebProject project;
        project.local = local.file("web");
        project.sites.push_back(site);
        project.projectPath = local.file("data/site.ftp");
        ASSERT_TRUE(project.SaveProject());
        projects.load(local.file("data") + "/", &options, nullptr);

        FtpSite book = site;
        book.name = "book";
        book.localDirectory = local.file("web");
        sites.sites.push_back(book);

        dialog = std::make_unique<CDlgFTPCommand>(strings, projects, sites, options, local.file("data/sites.inf"));
        dialog->setInform([this](const QString& text) { informed << text; });
        dialog->setQuestion([this](const QString& text) {
            asked << text;
            return answer;
        });
        dialog->setOverwriteQuestion([this](const std::vector<std::string>& names) {
            overwriteNames = names;
            return answer;
        });
    }

    void connectTo(const QString& text)
    {
        int index = dialog->serverList()->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        dialog->connectTo(index);
    }

    UiStrings strings { UiLanguage::English };
    FtpServer server;
    TempDir local;
    MachineOptions options;
    ProjectList projects;
    SiteList sites;
    std::unique_ptr<CDlgFTPCommand> dialog;
    QStringList informed;
    QStringList asked;
    std::vector<std::string> overwriteNames;
    bool answer = false;
};

TEST_F(BrowserWindow, ConnectListsBothPanesInOrder)
{
    QStringList entries;
    for (int i = 0; i < dialog->serverList()->count(); ++i)
        entries << dialog->serverList()->itemText(i);
    EXPECT_EQ(entries, (QStringList { "book", "site.ftp.default" }));

    connectTo("site.ftp.default");
    EXPECT_EQ(
        paneNames(dialog->remotePane()), (QStringList { "..", "docs", "old", ".htaccess", "Index.html", "same.html" }));
    EXPECT_EQ(paneNames(dialog->localPane()), (QStringList { "..", "docs", "index.html", "same.html" }));
    EXPECT_EQ(dialog->remotePane()->topLevelItem(5)->text(1), "11");
    EXPECT_EQ(dialog->remotePathList()->currentText(), "/");
    EXPECT_EQ(dialog->localPathList()->currentText().toStdString(), local.file("web"));
    EXPECT_TRUE(dialog->synchronBox()->isChecked());
    EXPECT_FALSE(dialog->overwriteBox()->isChecked());
    EXPECT_GT(dialog->logList()->count(), 0); // the client's trace
}

TEST_F(BrowserWindow, OverwriteQuestionNoTransfersNothing)
{
    connectTo("book");
    select(dialog->remotePane(), { "same.html", "docs" });
    answer = false;
    dialog->download();
    EXPECT_EQ(overwriteNames, (std::vector<std::string> { local.file("web/docs/a.txt"), local.file("web/same.html") }));
    EXPECT_EQ(readText(local.file("web/same.html")), "local same!");

    overwriteNames.clear();
    dialog->overwriteBox()->setChecked(true);
    select(dialog->remotePane(), { "same.html" });
    dialog->download();
    EXPECT_TRUE(overwriteNames.empty());
    EXPECT_EQ(readText(local.file("web/same.html")), "remote same");

    // Upload asks about names already listed on the server.
    dialog->overwriteBox()->setChecked(false);
    select(dialog->localPane(), { "index.html", "same.html" });
    dialog->upload();
    EXPECT_EQ(overwriteNames, std::vector<std::string> { "/same.html" });
    EXPECT_FALSE(fs::exists(server.pathOf("index.html")));
}

TEST_F(BrowserWindow, LocalDeleteAsksFirstAndRemoteDeleteRemovesTrees)
{
    connectTo("book");
    select(dialog->localPane(), { "index.html", "docs" });
    answer = false;
    dialog->deleteSelected(CDlgFTPCommand::Pane::Local);
    EXPECT_EQ(asked, QStringList { "delete 1 files?" });
    EXPECT_TRUE(fs::exists(local.file("web/index.html")));
    answer = true;
    select(dialog->localPane(), { "index.html", "docs" });
    dialog->deleteSelected(CDlgFTPCommand::Pane::Local);
    EXPECT_FALSE(fs::exists(local.file("web/index.html")));
    EXPECT_TRUE(fs::exists(local.file("web/docs/a.txt")));

    asked.clear();
    select(dialog->remotePane(), { "old", "docs" });
    dialog->deleteSelected(CDlgFTPCommand::Pane::Remote);
    EXPECT_EQ(asked, QStringList { "delete 2 files?" });
    EXPECT_FALSE(fs::exists(server.pathOf("old")));
    EXPECT_FALSE(fs::exists(server.pathOf("docs")));
    EXPECT_EQ(paneNames(dialog->remotePane()), (QStringList { "..", ".htaccess", "Index.html", "same.html" }));
}

TEST_F(BrowserWindow, DifferencesSelectOneSidedNames)
{
    connectTo("book");
    dialog->showDifferences();
    EXPECT_EQ(selectedNames(dialog->remotePane()), (QStringList { "old", ".htaccess", "Index.html" }));
    EXPECT_EQ(selectedNames(dialog->localPane()), QStringList { "index.html" });
}

TEST_F(BrowserWindow, SynchronSelectsMatchingNamesAndEnterOpensTheFocusedRow)
{
    connectTo("book");
    dialog->show();
    dialog->remotePane()->setFocus();
    processEventsUntil([&] { return dialog->remotePane()->hasFocus(); }, 2000);
    select(dialog->remotePane(), { "Index.html", "same.html" });
    EXPECT_EQ(selectedNames(dialog->localPane()), (QStringList { "index.html", "same.html" }));

    select(dialog->remotePane(), { "docs" });
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(dialog->remotePane(), &enter);
    EXPECT_EQ(dialog->remotePathList()->currentText(), "/docs");
    EXPECT_EQ(dialog->localPathList()->currentText().toStdString(), local.file("web/docs"));
    EXPECT_TRUE(dialog->isVisible());
    dialog->hide();
}

TEST_F(BrowserWindow, SoftRelaunchOnlyForWebProjects)
{
    connectTo("book");
    int opened = 0;
    dialog->setRelaunchOpener([&](ProjectSettings&) { ++opened; });
    dialog->softRelaunch();
    EXPECT_EQ(informed, QStringList { "This works only for web projects" });
    EXPECT_EQ(opened, 0);

    connectTo("site.ftp.default");
    dialog->softRelaunch();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(informed.size(), 1);
}

TEST_F(BrowserWindow, RelaunchFindsCountsAndStartsOnlyWhenConfirmed)
{
    connectTo("site.ftp.default");
    CDlgRelaunch relaunch(strings, dialog->client(), "/", local.file("web"), *projects.at(0));
    QStringList done;
    bool confirm = false;
    relaunch.setConfirm([&](const QString& question) {
        EXPECT_EQ(question, "Warning: This action can not be undone");
        return confirm;
    });
    relaunch.setInform([&](const QString& text) { done << text; });
    relaunch.find();
    EXPECT_EQ(relaunch.countsLabel()->text(), "3 Deleted, 1 Changed, 2 same size");
    EXPECT_EQ(relaunch.list()->topLevelItemCount(), 6);
    EXPECT_EQ(relaunch.resendAllBox()->text(), "Also re-copy files with the same size");

    relaunch.deleteBox()->setChecked(true);
    relaunch.start();
    EXPECT_TRUE(done.isEmpty());
    EXPECT_TRUE(fs::exists(server.pathOf("old/gone.html")));

    confirm = true;
    relaunch.start();
    EXPECT_EQ(done, QStringList { "Done" });
    EXPECT_EQ(
        listFiles(server.root()), (std::vector<std::string> { ".htaccess", "docs/a.txt", "index.html", "same.html" }));
    EXPECT_EQ(readText(server.pathOf("index.html")), "local index");
    EXPECT_EQ(readText(server.pathOf("same.html")), "remote same"); // same size, box 1083 clear
}

// Pictures of the connected browser in both languages, for scripts/screenshots; skipped
// unless TARNWICK_SCREENSHOT_DIR names the folder to write them to.
TEST_F(BrowserWindow, ScreenshotsInBothLanguages)
{
    const char* folder = std::getenv("TARNWICK_SCREENSHOT_DIR");
    if (!folder || !*folder)
        GTEST_SKIP() << "TARNWICK_SCREENSHOT_DIR not set";
    for (int i = 0; i < 12; ++i)
        local.writeFile("web/page" + std::to_string(i) + ".html", std::string(static_cast<size_t>(100 * i + 7), 'p'));
    for (UiLanguage language : { UiLanguage::English, UiLanguage::German }) {
        UiStrings texts(language);
        CDlgFTPCommand window(texts, projects, sites, options, local.file("data/sites.inf"));
        window.connectTo(window.serverList()->findText("site.ftp.default"));
        window.serverList()->setCurrentIndex(window.serverList()->findText("site.ftp.default"));
        window.show();
        processEventsUntil([&] { return window.isVisible(); }, 2000);
        window.showDifferences();
        QCoreApplication::processEvents();
        std::string path
            = std::string(folder) + "/ftp_browser_" + (language == UiLanguage::German ? "de" : "en") + ".png";
        EXPECT_TRUE(window.grab().save(QString::fromStdString(path))) << path;
        window.hide();
    }
}

} // namespace
