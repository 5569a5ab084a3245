#include "dialogs/c_dlg_options.h"

#include "config/machine_options.h"
#include "shell/diagnostic_log.h"
#include "shell/service_registration.h"
#include "support/qt_test_application.h"
#include "support/temp_dir.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

namespace {

struct Fixture {
    TempDir folder;
    DiagnosticLog log { folder.path() + "/" };
    ServiceRegistration service { folder.path() + "/units/", "/usr/bin/tarnwick", "", log };
    std::string optionsFile = folder.file("Tarnwick.conf");
    MachineOptions options;
    std::vector<std::string> ascii { "html", "txt" };

    static std::vector<std::string> entries() { return { "Work VPN", "mobile" }; }
};

void moveOver(QWidget* widget)
{
    QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), widget->mapToGlobal(QPointF(2, 2)), Qt::NoButton, Qt::NoButton,
        Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &move);
}

} // namespace

TEST(CDlgOptions, OkStoresTheOptionsFileAndTheAsciiList)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    Fixture fixture;
    fixture.options.dialUpEntry = "work";
    CDlgOptions dialog(strings, fixture.options, fixture.ascii, fixture.optionsFile, fixture.service, Fixture::entries);
    dialog.setQuiet(true);
    EXPECT_EQ(dialog.asciiField()->toPlainText(), "html\ntxt");
    EXPECT_EQ(dialog.dialUpBox()->currentText(), "Work VPN");
    EXPECT_EQ(dialog.dialUpBox()->count(), 3);
    EXPECT_FALSE(dialog.serviceBox()->isHidden());

    dialog.asciiField()->setPlainText("htm\n\n css \nphp\n");
    dialog.frontPageBox()->setChecked(false);
    dialog.disconnectBox()->setChecked(true);
    EXPECT_TRUE(dialog.passiveBox()->isChecked());
    dialog.passiveBox()->setChecked(false);
    dialog.accept();
    EXPECT_TRUE(dialog.savedOptions());
    EXPECT_EQ(fixture.ascii, (std::vector<std::string> { "htm", " css ", "php" }));

    MachineOptions stored;
    loadOptions(stored, fixture.optionsFile);
    EXPECT_FALSE(stored.frontPage);
    EXPECT_TRUE(stored.disconnect);
    EXPECT_FALSE(stored.passive);
    EXPECT_EQ(stored.dialUpEntry, "Work VPN");
    EXPECT_FALSE(fixture.service.isInstalled());
}

TEST(CDlgOptions, NoDialUpAndVanishedEntriesStoreAnEmptyName)
{
    qtTestApplication();
    for (UiLanguage language : { UiLanguage::English, UiLanguage::German }) {
        const UiStrings strings(language);
        Fixture fixture;
        fixture.options.dialUpEntry = "gone";
        {
            CDlgOptions dialog(
                strings, fixture.options, fixture.ascii, fixture.optionsFile, fixture.service, Fixture::entries);
            dialog.setQuiet(true);
            EXPECT_EQ(dialog.dialUpBox()->currentIndex(), -1);
            dialog.accept();
        }
        EXPECT_EQ(fixture.options.dialUpEntry, "");
        {
            CDlgOptions dialog(
                strings, fixture.options, fixture.ascii, fixture.optionsFile, fixture.service, Fixture::entries);
            dialog.setQuiet(true);
            dialog.dialUpBox()->setCurrentIndex(dialog.dialUpBox()->findText(strings("108")));
            dialog.accept();
        }
        MachineOptions stored;
        stored.dialUpEntry = "before";
        loadOptions(stored, fixture.optionsFile);
        EXPECT_EQ(stored.dialUpEntry, "");
    }
}

TEST(CDlgOptions, ServiceCheckBoxInstallsAndRemovesTheUnitInBothLanguages)
{
    qtTestApplication();
    for (UiLanguage language : { UiLanguage::English, UiLanguage::German }) {
        const UiStrings strings(language);
        Fixture fixture;
        {
            CDlgOptions dialog(strings, fixture.options, fixture.ascii, fixture.optionsFile, fixture.service, {});
            dialog.setQuiet(true);
            EXPECT_FALSE(dialog.serviceBox()->isChecked());
            EXPECT_FALSE(dialog.serviceBox()->isHidden());
            dialog.serviceBox()->setChecked(true);
            dialog.accept();
        }
        EXPECT_TRUE(fixture.service.isInstalled());
        {
            // OK with the box left as found keeps the service.
            CDlgOptions dialog(strings, fixture.options, fixture.ascii, fixture.optionsFile, fixture.service, {});
            dialog.setQuiet(true);
            EXPECT_TRUE(dialog.serviceBox()->isChecked());
            dialog.accept();
        }
        EXPECT_TRUE(fixture.service.isInstalled());
        {
            CDlgOptions dialog(strings, fixture.options, fixture.ascii, fixture.optionsFile, fixture.service, {});
            dialog.setQuiet(true);
            dialog.serviceBox()->setChecked(false);
            dialog.accept();
        }
        EXPECT_FALSE(fixture.service.isInstalled());
    }
}

TEST(CDlgOptions, HintsFollowThePointer)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    Fixture fixture;
    CDlgOptions dialog(strings, fixture.options, fixture.ascii, fixture.optionsFile, fixture.service, {});
    EXPECT_EQ(dialog.hintLabel()->text(), "Statisch");
    moveOver(dialog.serviceBox());
    EXPECT_EQ(dialog.hintLabel()->text(), "Starts Tarnwick as a system service.");
    moveOver(dialog.asciiField()->viewport());
    EXPECT_EQ(dialog.hintLabel()->text(),
        "Please state which file extensions should be transferred as text:\nhtml\ntxt\nrtf");
    moveOver(&dialog);
    EXPECT_TRUE(dialog.hintLabel()->text().endsWith("rtf"));
}
