#include "dialogs/c_dlg_web_project.h"

#include "dialogs/strategy_box.h"

#include "config/ftp_site.h"
#include "config/machine_options.h"
#include "dialogs/c_dlg_sites.h"
#include "ftp/ftp_client.h"
#include "support/ftp_server.h"
#include "support/qt_test_application.h"
#include "support/required_server.h"
#include "support/ssh_server.h"
#include "support/temp_dir.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

bool exists(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0;
}

struct Fixture {
    TempDir folder;
    std::string data = folder.path() + "/";
    MachineOptions options;
    const UiStrings strings { UiLanguage::English };

    // A project file on disk plus the main window's view of it.
    CDlgWebProject::Entry saved(const std::string& name, const std::string& url)
    {
        ProjectSettings settings;
        settings.projectPath = data + name;
        FtpSite site;
        site.name = "default";
        site.url = url;
        settings.sites.push_back(site);
        settings.strategy = 1;
        EXPECT_TRUE(settings.SaveProject());
        ProjectSettings loaded;
        loaded.LoadProject(settings.projectPath);
        return { name, std::move(loaded) };
    }

    ProjectSettings load(const std::string& name)
    {
        ProjectSettings loaded;
        loaded.LoadProject(data + name);
        return loaded;
    }

    std::unique_ptr<CDlgWebProject> open(std::vector<CDlgWebProject::Entry> entries, std::vector<QString> names = {})
    {
        auto dialog = std::make_unique<CDlgWebProject>(strings, options, data, std::move(entries));
        CDlgWebProject::Prompts prompts;
        prompts.askName = [this, names]() mutable -> std::optional<QString> {
            if (nameIndex >= names.size())
                return std::nullopt;
            return names[nameIndex++];
        };
        prompts.confirm = [this](const QString& question) {
            questions.push_back(question);
            return answerYes;
        };
        prompts.inform = [this](const QString& message) { messages.push_back(message); };
        prompts.pickFolder = [this] { return pickedFolder; };
        prompts.editExpert = [](ProjectSettings& project) {
            project.htmlreport = "/from-expert.html";
            project.strategy = 0;
        };
        dialog->setPrompts(prompts);
        return dialog;
    }

    size_t nameIndex = 0;
    std::vector<QString> questions;
    std::vector<QString> messages;
    bool answerYes = true;
    QString pickedFolder;
};

// Types the server's address and login into the dialog, as a user would.
void enterServer(CDlgWebProject& dialog, const FtpServer& server)
{
    dialog.serverField()->setText(QString::fromStdString(server.url()));
    dialog.userField()->setText(QString::fromStdString(server.user()));
    dialog.passwordField()->setText(QString::fromStdString(server.password()));
}

} // namespace

TEST(CDlgWebProject, NewNamesTheFileAndSaveStoresTheFields)
{
    qtTestApplication();
    Fixture fixture;
    auto dialog = fixture.open({}, { "site", "site.ftp", "old.ini", "../escape", "" });
    EXPECT_EQ(dialog->currentProject(), nullptr);

    dialog->newProject();
    ASSERT_NE(dialog->currentProject(), nullptr);
    EXPECT_EQ(dialog->currentProject()->projectPath, fixture.data + "site.ftp");
    EXPECT_EQ(dialog->configurationBox()->currentText(), "site.ftp");
    EXPECT_FALSE(exists(fixture.data + "site.ftp"));

    dialog->serverField()->setText("ftp.example.org");
    dialog->userField()->setText("me");
    dialog->passwordField()->setText("pw");
    dialog->startDirectoryField()->setText("/pub/");
    dialog->minutesField()->setText("15min");
    dialog->localDirectoryField()->setText("/srv/www");
    dialog->deleteBox()->setChecked(true);
    dialog->saveProject();

    ProjectSettings stored = fixture.load("site.ftp");
    ASSERT_EQ(stored.sites.size(), 1u);
    EXPECT_EQ(stored.sites[0].name, "default");
    EXPECT_EQ(stored.sites[0].url, "ftp.example.org");
    EXPECT_EQ(stored.sites[0].user, "me");
    EXPECT_EQ(stored.sites[0].pass, "pw");
    EXPECT_EQ(stored.sites[0].startdir, "pub/");
    EXPECT_EQ(stored.minutes, 15);
    EXPECT_EQ(stored.local, "/srv/www");
    EXPECT_EQ(stored.deleteRemoved, 1);
    EXPECT_EQ(stored.strategy, ProjectSettings::kContentStrategy);

    dialog->newProject();
    EXPECT_EQ(dialog->currentProject()->projectPath, fixture.data + "site.ftp.ftp");
    dialog->strategyBox()->showStrategy(ProjectSettings::kFileListStrategy);
    dialog->saveProject();
    EXPECT_EQ(fixture.load("site.ftp.ftp").strategy, ProjectSettings::kFileListStrategy);
    dialog->newProject();
    EXPECT_EQ(dialog->currentProject()->projectPath, fixture.data + "old.ini");
    // A name that would leave the data directory, or none at all, creates nothing.
    ProjectSettings* before = dialog->currentProject();
    dialog->newProject();
    dialog->newProject();
    EXPECT_EQ(dialog->currentProject(), before);
    EXPECT_EQ(dialog->configurationBox()->count(), 3);
    // Cancelled input: nothing happens.
    dialog->newProject();
    EXPECT_EQ(dialog->configurationBox()->count(), 3);
}

TEST(CDlgWebProject, StartDirectoryAndIntervalAreStoredAsRead)
{
    qtTestApplication();
    struct Case {
        const char* startTyped;
        const char* startStored;
        const char* minutesTyped;
        int minutesStored;
    } cases[] = {
        { "/pub/", "pub/", "abc", 0 },
        { "//pub", "/pub", "  7", 7 },
        { "\\www", "www", "-5", 0 },
        { "www", "www", "9999999", 0 },
    };
    for (const Case& row : cases) {
        Fixture fixture;
        auto dialog = fixture.open({ fixture.saved("a.ftp", "h") });
        dialog->selectEntry(0);
        dialog->startDirectoryField()->setText(row.startTyped);
        dialog->minutesField()->setText(row.minutesTyped);
        dialog->accept();
        ProjectSettings stored = fixture.load("a.ftp");
        EXPECT_EQ(stored.sites.at(0).startdir, row.startStored) << row.startTyped;
        EXPECT_EQ(stored.minutes, row.minutesStored) << row.minutesTyped;
        EXPECT_EQ(stored.strategy, 1) << "an existing project keeps its strategy";
        EXPECT_EQ(dialog->minutesField()->text(), QString::number(row.minutesStored));
    }
}

TEST(CDlgWebProject, SwitchingProjectsKeepsWhatWasTyped)
{
    qtTestApplication();
    Fixture fixture;
    auto dialog = fixture.open({ fixture.saved("beta.ftp", "b.example"), fixture.saved("Alpha.ftp", "a.example") });
    ASSERT_EQ(dialog->configurationBox()->count(), 2);
    EXPECT_EQ(dialog->configurationBox()->itemText(0), "Alpha.ftp");
    EXPECT_EQ(dialog->configurationBox()->currentIndex(), -1);

    dialog->selectEntry(0);
    EXPECT_EQ(dialog->serverField()->text(), "a.example");
    dialog->serverField()->setText("typed.example");
    dialog->openExpert();
    dialog->selectEntry(1);
    EXPECT_EQ(dialog->serverField()->text(), "b.example");
    ProjectSettings alpha = fixture.load("Alpha.ftp");
    EXPECT_EQ(alpha.sites.at(0).url, "typed.example");
    EXPECT_EQ(alpha.htmlreport, "/from-expert.html");
    EXPECT_EQ(alpha.strategy, 0) << "the editor kept the strategy chosen in the expert settings";
    dialog->reject();
    EXPECT_EQ(fixture.load("beta.ftp").strategy, 1);
}

TEST(CDlgWebProject, DeleteRemovesTheFileAndDropsUnsavedNewProjects)
{
    qtTestApplication();
    Fixture fixture;
    auto dialog = fixture.open({ fixture.saved("keep.ftp", "k"), fixture.saved("gone.ftp", "g") }, { "fresh" });
    dialog->deleteProject();
    EXPECT_TRUE(fixture.questions.empty());

    dialog->newProject();
    dialog->selectEntry(dialog->configurationBox()->findText("gone.ftp"));
    fixture.answerYes = false;
    dialog->deleteProject();
    EXPECT_TRUE(exists(fixture.data + "gone.ftp"));
    fixture.answerYes = true;
    dialog->deleteProject();
    ASSERT_EQ(fixture.questions.size(), 2u);
    EXPECT_EQ(fixture.questions[0], "Do you want to delete the configuration?");
    EXPECT_FALSE(exists(fixture.data + "gone.ftp"));
    EXPECT_EQ(dialog->currentProject(), nullptr);
    EXPECT_EQ(dialog->serverField()->text(), "g");
    // "fresh.ftp" was stored when "gone.ftp" was selected, so it stays on disk but leaves the list.
    ASSERT_EQ(dialog->configurationBox()->count(), 1);
    EXPECT_EQ(dialog->configurationBox()->itemText(0), "keep.ftp");
    EXPECT_TRUE(exists(fixture.data + "fresh.ftp"));
}

TEST(CDlgWebProject, CancelledFolderPickerKeepsTheField)
{
    qtTestApplication();
    Fixture fixture;
    auto dialog = fixture.open({ fixture.saved("a.ftp", "h") });
    fixture.pickedFolder = "/chosen";
    dialog->browseLocalDirectory();
    EXPECT_EQ(dialog->localDirectoryField()->text(), "");
    dialog->selectEntry(0);
    dialog->browseLocalDirectory();
    EXPECT_EQ(dialog->localDirectoryField()->text(), "/chosen");
    fixture.pickedFolder.clear();
    dialog->browseLocalDirectory();
    EXPECT_EQ(dialog->localDirectoryField()->text(), "/chosen");
}

TEST(CDlgWebProject, TestConnectionReportsTheOutcome)
{
    qtTestApplication();
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Fixture fixture;
    auto dialog = fixture.open({});
    enterServer(*dialog, server);
    dialog->testConnection();
    dialog->passwordField()->setText("wrong");
    dialog->testConnection();
    ASSERT_EQ(fixture.messages.size(), 2u);
    EXPECT_EQ(fixture.messages[0], "Connection OK");
    EXPECT_TRUE(fixture.messages[1].startsWith("Connection has returned the following errors\r\n"))
        << fixture.messages[1].toStdString();
    EXPECT_GT(fixture.messages[1].size(), QString("Connection has returned the following errors\r\n").size());
}

TEST(CDlgWebProject, TestConnectionNamesAFailedDataConnection)
{
    qtTestApplication();
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    FtpServer server;
    ASSERT_TRUE(server.start()) << server.error();
    Fixture fixture;
    auto dialog = fixture.open({});
    enterServer(*dialog, server);
    dialog->startDirectoryField()->setText("missing");
    dialog->testConnection();
    ASSERT_EQ(fixture.messages.size(), 1u);
    EXPECT_TRUE(fixture.messages[0].contains("the data connection")) << fixture.messages[0].toStdString();
}

TEST(CDlgWebProject, TestConnectionOffersToTrustAnUnverifiedCertificate)
{
    qtTestApplication();
    SKIP_UNLESS_SERVER_RUNS(FtpServer::unavailableReason(FtpServer::Kind::Pyftpdlib));
    Fixture fixture;
    FtpServer::Setup setup;
    setup.tls = FtpServerTls::Explicit;
    ASSERT_TRUE(FtpServer::makeCertificate(fixture.folder.path(), "server.pem", "localhost"));
    setup.certificate = fixture.folder.path() + "/server.pem";
    FtpServer server(FtpServer::Kind::Pyftpdlib, setup);
    ASSERT_TRUE(server.start()) << server.error();
    auto dialog = fixture.open({});
    enterServer(*dialog, server);

    fixture.answerYes = false;
    dialog->testConnection();
    ASSERT_EQ(fixture.questions.size(), 1u);
    EXPECT_TRUE(fixture.questions[0].contains("SHA-256: ")) << fixture.questions[0].toStdString();
    EXPECT_TRUE(fixture.questions[0].contains(QString::fromStdString(server.hostAndPort())));
    ASSERT_EQ(fixture.messages.size(), 1u);
    EXPECT_TRUE(fixture.messages[0].contains("connecting and logging in")) << fixture.messages[0].toStdString();
    EXPECT_FALSE(exists(fixture.data + "trusted-certs.txt"));

    fixture.answerYes = true;
    dialog->testConnection();
    ASSERT_EQ(fixture.messages.size(), 2u);
    EXPECT_EQ(fixture.messages[1], "Connection OK");
    EXPECT_TRUE(exists(fixture.data + "trusted-certs.txt"));

    // Trusted now: no question the next time.
    dialog->testConnection();
    EXPECT_EQ(fixture.questions.size(), 2u);
    EXPECT_EQ(fixture.messages.back(), "Connection OK");
}

TEST(CDlgWebProject, TestConnectionOffersToTrustAnUnknownHostKey)
{
    qtTestApplication();
    SKIP_UNLESS_SERVER_RUNS(SshServer::unavailableReason());
    SshServer server;
    ASSERT_TRUE(server.start()) << server.error();
    if (!server.passwordUnavailableReason().empty())
        GTEST_SKIP() << server.passwordUnavailableReason();
    Fixture fixture;
    auto dialog = fixture.open({});
    dialog->serverField()->setText(QString::fromStdString("sftp://" + server.hostAndPort()));
    dialog->userField()->setText(QString::fromStdString(server.user()));
    dialog->passwordField()->setText(QString::fromStdString(server.password()));

    fixture.answerYes = false;
    dialog->testConnection();
    ASSERT_EQ(fixture.questions.size(), 1u);
    EXPECT_TRUE(fixture.questions[0].contains(QString::fromStdString(server.hostKeyFingerprint())))
        << fixture.questions[0].toStdString();
    EXPECT_FALSE(exists(fixture.data + "trusted-host-keys.txt"));

    fixture.answerYes = true;
    dialog->testConnection();
    EXPECT_EQ(fixture.messages.back(), "Connection OK");
    dialog->testConnection();
    EXPECT_EQ(fixture.questions.size(), 2u) << "trusted now: no question the next time";
    EXPECT_EQ(fixture.messages.back(), "Connection OK");
}

TEST(CDlgWebProject, HintsFollowThePointerAcrossFields)
{
    qtTestApplication();
    Fixture fixture;
    auto dialog = fixture.open({});
    auto hover = [](QWidget* widget) {
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)), Qt::NoButton,
            Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(widget, &move);
    };
    EXPECT_EQ(dialog->hintLabel()->text(), "Hinweis für das aktuelle Feld (Nicht übersetzten)");
    hover(dialog->configurationBox());
    EXPECT_EQ(dialog->hintLabel()->text(), "Please choose the configuration to edit.");
    // The check box has no hint: the last one stays.
    hover(dialog->deleteBox());
    EXPECT_EQ(dialog->hintLabel()->text(), "Please choose the configuration to edit.");
    hover(dialog->minutesField());
    EXPECT_EQ(dialog->hintLabel()->text(), "Upload every X minutes");
    hover(dialog->configurationBox());
    EXPECT_EQ(dialog->hintLabel()->text(), "Please choose the configuration to edit.");
}

// The password is masked in both dialogs that show one; "Show" reveals it while checked, and
// what is stored is the text either way.
TEST(CDlgWebProject, PasswordFieldsAreMaskedUntilShown)
{
    qtTestApplication();
    Fixture fixture;
    FtpSite site;
    site.pass = "secret";
    for (UiLanguage language : { UiLanguage::English, UiLanguage::German }) {
        const UiStrings strings(language);
        auto editor = std::make_unique<CDlgWebProject>(
            strings, fixture.options, fixture.data, std::vector<CDlgWebProject::Entry> { fixture.saved("a.ftp", "h") });
        auto sites = std::make_unique<CDlgSites>(strings, site);
        const std::pair<QLineEdit*, QCheckBox*> fields[] = {
            { editor->passwordField(), editor->showPasswordBox() },
            { sites->passwordField(), sites->showPasswordBox() },
        };
        for (const auto& [field, show] : fields) {
            SCOPED_TRACE(strings("password.show").toStdString());
            ASSERT_NE(show, nullptr);
            EXPECT_EQ(show->text(), language == UiLanguage::German ? "Anzeigen" : "Show");
            field->setText("secret");
            EXPECT_EQ(field->echoMode(), QLineEdit::Password);
            EXPECT_NE(field->displayText(), "secret");
            show->click();
            EXPECT_EQ(field->displayText(), "secret");
            show->click();
            EXPECT_NE(field->displayText(), "secret");
            EXPECT_EQ(field->text(), "secret");
        }
    }
}
