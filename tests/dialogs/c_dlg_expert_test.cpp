#include "dialogs/c_dlg_expert.h"

#include "config/project_settings.h"
#include "dialogs/strategy_box.h"
#include "support/qt_test_application.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace {

ProjectSettings project()
{
    ProjectSettings settings;
    settings.sites.emplace_back();
    settings.archmax = 10;
    settings.forbiddenDirectories = { "/a", "/b" };
    settings.forbiddenFiles = { "*.bak" };
    settings.sites.front().preScript = { "mkdir /x" };
    return settings;
}

} // namespace

TEST(CDlgExpert, SampleFillsOnlyEmptyFields)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    ProjectSettings settings = project();
    CDlgExpert dialog(strings, settings);
    EXPECT_EQ(dialog.maximumField()->text(), "10");
    dialog.reportField()->setText("/mine.html");
    dialog.fillSample();
    EXPECT_EQ(dialog.reportField()->text(), "/mine.html");
    EXPECT_EQ(dialog.archiveField()->text(), "/Archivdateien");
    EXPECT_EQ(dialog.maximumField()->text(), "10");
    dialog.maximumField()->clear();
    dialog.fillSample();
    EXPECT_EQ(dialog.maximumField()->text(), "60");
}

TEST(CDlgExpert, FrontPageAddsEachPatternOnce)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::German);
    struct Case {
        const char* before;
        const char* after;
    } cases[] = {
        { "", "*_vti_cnf\n*_vti_pvt" },
        { "/a", "/a\n*_vti_cnf\n*_vti_pvt" },
        { "*/x*_vti_cnf", "*/x*_vti_cnf\n*_vti_pvt" },
        { "*_vti_pvt\n*_vti_cnf", "*_vti_pvt\n*_vti_cnf" },
    };
    for (const Case& row : cases) {
        ProjectSettings settings = project();
        CDlgExpert dialog(strings, settings);
        dialog.directoriesField()->setPlainText(row.before);
        dialog.addFrontPageRules();
        dialog.addFrontPageRules();
        EXPECT_EQ(dialog.directoriesField()->toPlainText().toStdString(), row.after) << row.before;
    }
}

TEST(CDlgExpert, OkStoresTheFieldsAndCancelKeepsThemButNotTheScripts)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    ProjectSettings settings = project();
    {
        CDlgExpert dialog(strings, settings);
        EXPECT_EQ(dialog.directoriesField()->toPlainText(), "/a\n/b");
        dialog.setScriptEditor([](const QString& text) -> std::optional<QString> {
            EXPECT_EQ(text, "mkdir /x\r\n");
            return QStringLiteral("cd /\r\n\r\nput a.html\r\n");
        });
        dialog.editBeforeScript();
        dialog.directoriesField()->setPlainText("/changed");
        EXPECT_TRUE(dialog.atomicBox()->isChecked());
        dialog.atomicBox()->setChecked(false);
        EXPECT_EQ(dialog.connectionsBox()->value(), FtpSite::kDefaultConnections);
        dialog.connectionsBox()->setValue(9);
        dialog.reject();
    }
    EXPECT_TRUE(settings.sites.front().atomic);
    EXPECT_EQ(settings.sites.front().connections, FtpSite::kDefaultConnections);
    EXPECT_EQ(settings.sites.front().preScript, (std::vector<std::string> { "cd /", "put a.html" }));
    EXPECT_EQ(settings.forbiddenDirectories, (std::vector<std::string> { "/a", "/b" }));
    {
        CDlgExpert dialog(strings, settings);
        dialog.reportField()->setText("/r.html");
        dialog.archiveField()->setText("/arch");
        dialog.maximumField()->setText("1e3");
        dialog.directoriesField()->setPlainText("/x\n\n\n/y ");
        dialog.filesField()->setPlainText("");
        dialog.setRulesEditor([](const QString& text) -> std::optional<QString> {
            EXPECT_EQ(text, "/x\r\n\r\n\r\n/y ");
            return QStringLiteral("/x\r\n/y \r\n/z");
        });
        dialog.editDirectoryRules();
        dialog.atomicBox()->setChecked(false);
        dialog.connectionsBox()->setValue(7);
        dialog.keyFileField()->setText(" /home/u/.ssh/site key ");
        EXPECT_EQ(dialog.strategyBox()->strategy(), 1);
        dialog.strategyBox()->showStrategy(ProjectSettings::kContentStrategy);
        dialog.accept();
    }
    EXPECT_FALSE(settings.sites.front().atomic);
    EXPECT_EQ(settings.sites.front().connections, 7);
    EXPECT_EQ(settings.sites.front().keyfile, "/home/u/.ssh/site key");
    EXPECT_EQ(settings.htmlreport, "/r.html");
    EXPECT_EQ(settings.archivdir, "/arch");
    EXPECT_EQ(settings.archmax, 1);
    EXPECT_EQ(settings.forbiddenDirectories, (std::vector<std::string> { "/x", "/y ", "/z" }));
    EXPECT_TRUE(settings.forbiddenFiles.empty());
    EXPECT_EQ(settings.strategy, ProjectSettings::kContentStrategy);
}

TEST(CDlgExpert, ConnectionsLoadsTheSiteCountWithinRangeAndHasItsHint)
{
    qtTestApplication();
    for (UiLanguage language : { UiLanguage::English, UiLanguage::German }) {
        const UiStrings strings(language);
        ProjectSettings settings = project();
        settings.sites.front().connections = 12;
        CDlgExpert dialog(strings, settings);
        EXPECT_EQ(dialog.connectionsBox()->value(), 12);
        dialog.connectionsBox()->setValue(40);
        EXPECT_EQ(dialog.connectionsBox()->value(), FtpSite::kMaxConnections);
        dialog.connectionsBox()->setValue(0);
        EXPECT_EQ(dialog.connectionsBox()->value(), FtpSite::kMinConnections);
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(dialog.connectionsBox(), &enter);
        EXPECT_TRUE(dialog.hintLabel()->text().contains("1–16")) << dialog.hintLabel()->text().toStdString();
        QCoreApplication::sendEvent(dialog.keyFileField(), &enter);
        EXPECT_TRUE(dialog.hintLabel()->text().contains("sftp://")) << dialog.hintLabel()->text().toStdString();
        QCoreApplication::sendEvent(dialog.strategyBox(), &enter);
        EXPECT_TRUE(dialog.hintLabel()->text().contains(
            language == UiLanguage::English ? "even if a build tool rewrote them" : "Inhalt sich wirklich geändert"))
            << dialog.hintLabel()->text().toStdString();
    }
}

TEST(CDlgExpert, UploadLimitIsReadAsARateAndAnUnreadableOneIsNotSaved)
{
    qtTestApplication();
    struct Row {
        const char* typed;
        std::optional<int64_t> saved; // nullopt: refused, the site keeps its limit
    };
    const Row rows[] = { { "4M", 4 << 20 }, { " 500k ", 500 << 10 }, { "", 0 }, { "0", 0 }, { "fast", std::nullopt },
        { "10", std::nullopt } };
    for (UiLanguage language : { UiLanguage::English, UiLanguage::German }) {
        const UiStrings strings(language);
        for (const Row& row : rows) {
            SCOPED_TRACE(row.typed);
            ProjectSettings settings = project();
            settings.sites.front().uploadRateLimit = 3 << 20;
            CDlgExpert dialog(strings, settings);
            EXPECT_EQ(dialog.rateLimitField()->text(), "3M");
            QEvent enter(QEvent::Enter);
            QCoreApplication::sendEvent(dialog.rateLimitField(), &enter);
            EXPECT_TRUE(dialog.hintLabel()->text().contains("--bwlimit")) << dialog.hintLabel()->text().toStdString();
            dialog.rateLimitField()->setText(row.typed);
            dialog.accept();
            EXPECT_EQ(dialog.result(), row.saved ? QDialog::Accepted : QDialog::Rejected);
            EXPECT_EQ(settings.sites.front().uploadRateLimit, row.saved.value_or(3 << 20));
            if (!row.saved) {
                EXPECT_TRUE(dialog.hintLabel()->text().contains("4M, 500k"))
                    << dialog.hintLabel()->text().toStdString();
            }
        }
    }
}

// Each entry stores its own value; one no entry names (written by hand) survives a visit.
TEST(CDlgExpert, StrategyBoxOffersEveryStrategyAndKeepsAnUnknownOne)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::German);
    ProjectSettings settings = project();
    for (int strategy : { 0, 1, 2, 3, 7 }) {
        settings.strategy = strategy;
        CDlgExpert dialog(strings, settings);
        EXPECT_EQ(dialog.strategyBox()->strategy(), strategy);
        EXPECT_EQ(dialog.strategyBox()->count(), strategy == 7 ? 5 : 4);
        EXPECT_FALSE(dialog.strategyBox()->currentText().isEmpty());
        dialog.accept();
        EXPECT_EQ(settings.strategy, strategy);
    }
}
