#include "shell/main_window_sink.h"

#include "engine/web_project.h"
#include "ftp/server_text.h"
#include "report/activity_log.h"
#include "shell/main_window_view.h"

MainWindowSink::MainWindowSink(MainWindowView& view, WebProject& project)
    : view_(view)
    , project_(project)
{
}

void MainWindowSink::onTransferFailed(const std::string& localFile)
{
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
    view_.appendLogLine(ActivityLog::cutAtCarriageReturn(ActivityLog::uploadLine(localFile)));
    message("->%s", localFile.c_str());
}

void MainWindowSink::onDownloadBegins(const std::string& localFile, int64_t /*unused*/)
{
    view_.appendLogLine(ActivityLog::cutAtCarriageReturn(ActivityLog::downloadLine(localFile)));
}

void MainWindowSink::onFileSize(int64_t bytes)
{
    total_ = bytes;
    running_ = 0;
}

void MainWindowSink::onBytes(int64_t bytes)
{
    running_ += bytes;
}

void MainWindowSink::onLine(const std::string& text)
{
    // Messages may carry names from a server's listing; the client escapes only its own lines.
    std::string line = printableServerText(ActivityLog::cutAtLineEnd(text));
    view_.appendLogLine(line);
    view_.setStatusText(line);
}

void MainWindowSink::onStatusLine(const std::string& text)
{
    std::string line = printableServerText(ActivityLog::cutAtLineEnd(text));
    view_.setStatusText(line);
    view_.appendLogLine(line);
}

void MainWindowSink::onStatusMessage(const std::string& text)
{
    view_.setStatusText(text);
}
