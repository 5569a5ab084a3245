#include "dialogs/c_dlg_edit.h"
#include "dialogs/c_dlg_edit_text.h"
#include "dialogs/c_dlg_overwrite.h"
#include "dialogs/c_dlg_value.h"
#include "support/qt_test_application.h"
#include "uikit/ui_strings.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

TEST(CDlgValue, CaptionIsTitleAndLabel)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::German);
    CDlgValue dialog(strings, QStringLiteral("Neuer Ordner"), QStringLiteral("docs"));
    EXPECT_EQ(dialog.windowTitle(), "Neuer Ordner");
    EXPECT_EQ(dialog.label(), "Neuer Ordner");
    EXPECT_EQ(dialog.value(), "docs");
    dialog.field()->setText("images");
    EXPECT_EQ(dialog.value(), "images");
}

TEST(CDlgValue, SmallDialogsSpeakBothLanguages)
{
    qtTestApplication();
    struct Case {
        UiLanguage language;
        const char* edit;
        const char* script;
        const char* overwrite;
    } cases[] = {
        { UiLanguage::English, "Input", "Edit Script", "Tarnwick - Overwrite files" },
        { UiLanguage::German, "Eingabe", "Text bearbeiten", "Dateien überschreiben" },
    };
    for (const Case& row : cases) {
        const UiStrings strings(row.language);
        EXPECT_EQ(CDlgEdit(strings, QString()).windowTitle(), QString::fromUtf8(row.edit));
        EXPECT_EQ(CDlgEditText(strings, QString()).windowTitle(), QString::fromUtf8(row.script));
        EXPECT_EQ(CDlgOverwrite(strings, {}).windowTitle(), QString::fromUtf8(row.overwrite));
    }
}

TEST(CDlgEditText, ScriptLinesKeepTheirStoredBreaks)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    CDlgEditText dialog(strings, QStringLiteral("mkdir /start\r\nput a b\r\n"));
    EXPECT_EQ(dialog.field()->toPlainText(), "mkdir /start\nput a b\n");
    dialog.field()->setPlainText("cd /\nput x");
    EXPECT_EQ(dialog.value(), "cd /\r\nput x");
}

TEST(CDlgOverwrite, ListsTheNamesSorted)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    CDlgOverwrite dialog(strings, { "b.html", "a.html", "c.html" });
    ASSERT_EQ(dialog.list()->count(), 3);
    EXPECT_EQ(dialog.list()->item(0)->text(), "a.html");
    EXPECT_EQ(dialog.list()->item(2)->text(), "c.html");
}
