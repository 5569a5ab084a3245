#include "ui/log_window.h"

#include "platform/file_utils.h"
#include "support/qt_test_application.h"
#include "support/temp_dir.h"
#include "ui/log_line_model.h"
#include "uikit/ui_strings.h"

#include <gtest/gtest.h>

TEST(LogWindow, LinesAreCutAtCarriageReturnsAndSavedWithLineFeeds)
{
    qtTestApplication();
    TempDir folder;
    const UiStrings strings(UiLanguage::English);
    LogWindow window(strings);
    QString proposed;
    const std::string path = folder.file("saved.txt");
    window.setSavePathAsker([&](const QString& name) {
        proposed = name;
        return QString::fromStdString(path);
    });

    window.saveLines();
    EXPECT_EQ(proposed, "ftp.txt");
    EXPECT_EQ(readWholeFile(path).value_or("missing"), "");

    window.appendLogLine("-->index.html");
    window.appendLogLine("226 done\r\ntrailing");
    window.appendLogLine("two\nlines");
    ASSERT_EQ(window.lines().rowCount(), 3);
    EXPECT_EQ(window.lines().data(window.lines().index(1), Qt::DisplayRole).toString(), "226 done");
    window.saveLines();
    EXPECT_EQ(readWholeFile(path).value_or(""), "-->index.html\n226 done\ntwo\nlines\n");

    window.deleteLines();
    EXPECT_EQ(window.lines().rowCount(), 0);
    window.appendLogLine("after");
    EXPECT_EQ(window.lines().log().lines(), std::vector<std::string> { "after" });
}

TEST(LogWindow, CancelledSaveWritesNothing)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::German);
    LogWindow window(strings);
    int asked = 0;
    window.setSavePathAsker([&](const QString&) {
        ++asked;
        return QString();
    });
    window.appendLogLine("x");
    window.saveLines();
    EXPECT_EQ(asked, 1);
}

TEST(LogLineModel, KeepsTheNewestLinesUpToItsCapacity)
{
    qtTestApplication();
    LogLineModel model(3);
    for (const char* line : { "1", "2", "3", "4", "5" })
        model.append(line);
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(0), Qt::DisplayRole).toString(), "3");
    EXPECT_EQ(model.log().lines(), (std::vector<std::string> { "3", "4", "5" }));
}
