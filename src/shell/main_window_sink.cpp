#include "shell/main_window_sink.h"

#include "engine/web_project.h"
#include "report/activity_log.h"
#include "session/server_text.h"
#include "shell/main_window_view.h"

MainWindowSink::MainWindowSink(MainWindowView& view, WebProject& project)
    : view_(view)
    , project_(project)
{
}

void MainWindowSink::beginUploads(int files, int64_t bytes)
{
    progress_.begin(files, bytes, RunProgress::Clock::now());
    lastShownDone_ = -1;
    showProgress(true);
}

void MainWindowSink::endUploads()
{
    if (!progress_.active())
        return;
    progress_.finish();
    view_.endProgress();
}

void MainWindowSink::showProgress(bool always)
{
    if (!progress_.active())
        return;
    const auto now = RunProgress::Clock::now();
    const RunProgress::Snapshot snapshot = progress_.snapshot(now);
    const int64_t nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch()).count();
    if (!always && snapshot.filesDone == lastShownDone_ && nanoseconds - lastShownNanoseconds_ < 200'000'000)
        return;
    lastShownNanoseconds_ = nanoseconds;
    lastShownDone_ = snapshot.filesDone;
    view_.showProgress(RunProgress::describe(snapshot));
}

void MainWindowSink::onTransferFailed(const std::string& localFile)
{
    progress_.transferFailed();
    // An empty name stands for "no particular file": every changed entry failed.
    for (FileItem& item : project_.items) {
        if (!item.changed)
            continue;
        if (localFile.empty()) {
            item.failed = true;
        } else if (item.path == localFile) {
            item.failed = true;
            return;
        }
    }
}

void MainWindowSink::onUploadBegins(const std::string& localFile, int64_t /*expectedSize*/)
{
    // FinishRun reports its results through this call as well; a local file name never
    // begins with these words, since it is a full path.
    const bool result = localFile.starts_with("OK ") || localFile.starts_with("Error ");
    const std::string line = ActivityLog::cutAtCarriageReturn(ActivityLog::uploadLine(localFile));
    const std::string echo = printableServerText(ActivityLog::cutAtLineEnd(ActivityLog::uploadStatusLine(localFile)));
    if (result) {
        view_.appendResultLine(line);
        view_.appendResultLine(echo);
    } else {
        view_.appendLogLine(line);
        view_.appendEchoLine(echo);
    }
    if (!progress_.active())
        view_.setStatusText(echo);
    if (result)
        return;
    progress_.uploadBegins(localFile);
    showProgress(true);
}

void MainWindowSink::onDownloadBegins(const std::string& localFile, int64_t /*unused*/)
{
    view_.appendLogLine(ActivityLog::cutAtCarriageReturn(ActivityLog::downloadLine(localFile)));
}

void MainWindowSink::onFileSize(int64_t bytes)
{
    total_ = bytes;
    running_ = 0;
    progress_.fileSize(bytes);
    showProgress(false);
}

void MainWindowSink::onBytes(int64_t bytes)
{
    running_ += bytes;
    progress_.bytes(bytes);
    showProgress(false);
}

void MainWindowSink::onLine(const std::string& text)
{
    // Messages may carry names from a server's listing; the client escapes only its own lines.
    std::string line = printableServerText(ActivityLog::cutAtLineEnd(text));
    view_.appendLogLine(line);
    if (!progress_.active())
        view_.setStatusText(line);
}

void MainWindowSink::onStatusLine(const std::string& text)
{
    std::string line = printableServerText(ActivityLog::cutAtLineEnd(text));
    if (!progress_.active())
        view_.setStatusText(line);
    view_.appendLogLine(line);
}

void MainWindowSink::onProblem(const std::string& text)
{
    view_.explainProblem(printableServerText(ActivityLog::cutAtLineEnd(text)));
}

void MainWindowSink::onDetail(const std::string& text)
{
    view_.appendDetail(printableServerText(ActivityLog::cutAtLineEnd(text)));
}

void MainWindowSink::onStatusMessage(const std::string& text)
{
    if (!progress_.active())
        view_.setStatusText(text);
}
