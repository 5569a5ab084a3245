#include "dialogs/c_dlg_dir_rules.h"

#include "support/qt_test_application.h"
#include "support/temp_dir.h"
#include "uikit/ui_strings.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QTreeWidget>

#include <gtest/gtest.h>

TEST(CDlgDirRules, EvaluationCarriesAPlainRuleOverItsSubtree)
{
    const std::vector<std::string> rows { "", "/Archiv", "/Archiv/a", "/Archiv2", "/docs", "/docs/_vti_cnf",
        "/docs/_vti_cnf/x", "/img" };
    struct Case {
        const char* name;
        const char* rules;
        std::vector<std::string> excludedBy;
        int excluded;
    } cases[] = {
        { "no rules", "", { "", "", "", "", "", "", "", "" }, 0 },
        { "plain rule takes prefix rows", "/Archiv\r\n", { "", "/Archiv", "/Archiv", "/Archiv", "", "", "", "" }, 3 },
        { "wildcard rule is tested row by row", "*_vti_cnf", { "", "", "", "", "", "*_vti_cnf", "", "" }, 1 },
        { "first matching rule wins", "/docs*\r\n\r\n/docs", { "", "", "", "", "/docs*", "/docs*", "/docs*", "" }, 3 },
    };
    for (const Case& row : cases) {
        const CDlgDirRules::Evaluation result = CDlgDirRules::evaluate(rows, QString::fromUtf8(row.rules));
        EXPECT_EQ(result.rules, row.excludedBy) << row.name;
        EXPECT_EQ(result.total, 8) << row.name;
        EXPECT_EQ(result.excluded, row.excluded) << row.name;
        EXPECT_EQ(result.included, 8 - row.excluded) << row.name;
    }
}

TEST(CDlgDirRules, ToggleRemovesTheLineOrAppendsIt)
{
    struct Case {
        const char* rules;
        const char* path;
        const char* result;
    } cases[] = {
        { "/a\r\n/b\r\n", "/a", "/b\r\n" },
        { "/b\r\n", "/a", "/b\r\n/a\r\n" },
        { "/b", "/a", "/b/a\r\n" },
        { "/b\r\n/a", "/a", "/b\r\n" },
        { "", "/a", "/a\r\n" },
    };
    for (const Case& row : cases)
        EXPECT_EQ(CDlgDirRules::toggledRules(QString::fromUtf8(row.rules), QString::fromUtf8(row.path)).toStdString(),
            row.result)
            << row.rules << " / " << row.path;
}

TEST(CDlgDirRules, ScansTheLocalTreeAndCountsRows)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    TempDir root;
    {
        CDlgDirRules dialog(strings, root.path(), "", QString());
        EXPECT_EQ(dialog.statusLine()->text(), "0 Directories");
        dialog.scanTree();
        dialog.evaluateRows();
        EXPECT_EQ(dialog.list()->topLevelItemCount(), 1);
        EXPECT_EQ(dialog.statusLine()->text(), "1-0=1 Dirs");
    }
    root.makeDirectory("Archiv/a");
    root.makeDirectory("img");
    CDlgDirRules dialog(strings, root.path(), "www", QStringLiteral("/x\r\n"));
    dialog.scanTree();
    dialog.evaluateRows();
    ASSERT_EQ(dialog.list()->topLevelItemCount(), 4);
    EXPECT_EQ(dialog.list()->topLevelItem(0)->text(0), "www");
    EXPECT_EQ(dialog.statusLine()->text(), "4-0=4 Dirs");

    // Double-click toggles the row's path in the rules and evaluates at once.
    QTreeWidgetItem* archive = dialog.list()->findItems("www/Archiv", Qt::MatchExactly).value(0);
    ASSERT_NE(archive, nullptr);
    dialog.list()->setCurrentItem(archive);
    dialog.toggleRow(archive);
    EXPECT_EQ(dialog.fieldRules(), "/x\r\nwww/Archiv\r\n");
    EXPECT_EQ(dialog.statusLine()->text(), "4-2=2 Dirs");
    EXPECT_EQ(dialog.rowState(dialog.list()->indexOfTopLevelItem(archive)), CDlgDirRules::RowState::Excluded);
    dialog.toggleRow(archive);
    EXPECT_EQ(dialog.fieldRules(), "/x\r\n");

    // Cancel hands back the text it was given.
    dialog.toggleRow(archive);
    dialog.reject();
    EXPECT_EQ(dialog.rulesText(), "/x\r\n");
}

TEST(CDlgDirRules, OkReturnsTheEditedRulesAndTheEmptyRootRowIsNoRule)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::German);
    TempDir root;
    CDlgDirRules dialog(strings, root.path(), "", QStringLiteral("ab\r\n"));
    EXPECT_EQ(dialog.statusLine()->text(), "0 Verzeichnisse");
    dialog.scanTree();
    dialog.toggleRow(dialog.list()->topLevelItem(0));
    EXPECT_EQ(dialog.fieldRules(), "ab\r\n");
    dialog.rulesField()->setPlainText(QStringLiteral("*/tmp\n*/cache"));
    dialog.accept();
    EXPECT_EQ(dialog.rulesText(), "*/tmp\r\n*/cache");
}
