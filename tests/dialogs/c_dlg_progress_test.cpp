#include "dialogs/c_dlg_progress.h"

#include "config/machine_options.h"
#include "ftp/ftp_client.h"
#include "support/qt_test_application.h"
#include "support/temp_dir.h"
#include "uikit/ui_strings.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

bool exists(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0;
}

FtpOperation localFolder(const std::string& path)
{
    FtpOperation operation;
    operation.kind = FtpOperation::Kind::MakeLocalDirectory;
    operation.name1 = path;
    return operation;
}

} // namespace

TEST(CDlgProgress, BatchTotalRoundsEveryOperationUpToWholeKilobytes)
{
    auto sized = [](int64_t size) {
        FtpOperation operation;
        operation.size = size;
        return operation;
    };
    EXPECT_EQ(CDlgProgress::batchTotal({}), 1024);
    EXPECT_EQ(CDlgProgress::batchTotal({ sized(0) }), 2048);
    EXPECT_EQ(CDlgProgress::batchTotal({ sized(1), sized(1024), sized(1025) }), 1024 + 1024 + 1024 + 2048);
    EXPECT_EQ(CDlgProgress::batchTotal({ sized(-1) }), 2048);
}

TEST(CDlgProgress, BatchRunsToTheEndAndTheDialogClosesAtTheNextTick)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    TempDir folder;
    MachineOptions options;
    FtpClient client(options);
    CDlgProgress dialog(strings, client);
    dialog.setTickInterval(10);
    dialog.setBatch({ localFolder(folder.file("a")), localFolder(folder.file("b")) });
    EXPECT_EQ(dialog.run(), QDialog::Accepted);
    EXPECT_TRUE(exists(folder.file("a")));
    EXPECT_TRUE(exists(folder.file("b")));
    EXPECT_EQ(dialog.progressBar()->maximum(), 3);
    EXPECT_EQ(&client.eventSink() == static_cast<FtpEventSink*>(&dialog), false);
}

TEST(CDlgProgress, CancelStopsTheBatchBeforeItsNextOperation)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::English);
    TempDir folder;
    MachineOptions options;
    FtpClient client(options);
    CDlgProgress dialog(strings, client);
    dialog.setTickInterval(10);
    dialog.setBatch({ localFolder(folder.file("a")) });
    dialog.cancelButton()->click();
    // Cancel does not close the dialog; the batch ends and the tick does.
    EXPECT_EQ(dialog.run(), QDialog::Accepted);
    EXPECT_FALSE(exists(folder.file("a")));
}

TEST(CDlgProgress, WorkFunctionReportsThroughTheDialog)
{
    qtTestApplication();
    const UiStrings strings(UiLanguage::German);
    MachineOptions options;
    FtpClient client(options);
    CDlgProgress dialog(strings, client);
    dialog.setTickInterval(10);
    bool sawDialogAsSink = false;
    dialog.setWork([&](CDlgProgress& progress) {
        sawDialogAsSink = &client.eventSink() == static_cast<FtpEventSink*>(&progress);
        client.eventSink().onUploadBegins("/web/docs/page.html", 4096);
        client.eventSink().onBytes(2048);
        client.eventSink().onLine("226 Transfer complete");
        client.eventSink().onUploadBegins("bare.txt", 0);
        progress.onFinished();
    });
    EXPECT_EQ(dialog.run(), QDialog::Accepted);
    QCoreApplication::processEvents();
    EXPECT_TRUE(sawDialogAsSink);
    EXPECT_EQ(dialog.fileLabel()->text(), "bare.txt");
    EXPECT_EQ(dialog.folderLabel()->text(), "");
    EXPECT_EQ(dialog.bytesLabel()->text(), "2/4");
    EXPECT_EQ(dialog.statusLine()->text(), "226 Transfer complete");
    EXPECT_EQ(dialog.windowTitle(), "Dialog");
}
