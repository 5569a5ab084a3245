#pragma once

#include "session/ftp_event_sink.h"
#include "shell/run_progress.h"

#include <atomic>
#include <cstdint>

class MainWindowView;
class WebProject;

// The sink a run or a Find installs on its project: lines go to the activity log and the
// status line of the window. Used by one worker at a time.
class MainWindowSink final : public FtpEventSink {
public:
    // `project` is the project the sink is installed on; failed transfers are marked there.
    MainWindowSink(MainWindowView& view, WebProject& project);

    void onTransferFailed(const std::string& localFile) override;
    void onUploadBegins(const std::string& localFile, int64_t expectedSize) override;
    void onDownloadBegins(const std::string& localFile, int64_t unused) override;
    void onFileSize(int64_t bytes) override;
    void onBytes(int64_t bytes) override;
    void onLine(const std::string& text) override;
    void onStatusLine(const std::string& text) override;
    void onStatusMessage(const std::string& text) override;
    void onProblem(const std::string& text) override;
    void onDetail(const std::string& text) override;

    // Between these two the status line shows the progress of the uploads instead of the
    // protocol lines (which still go to the log).
    void beginUploads(int files, int64_t bytes);
    void endUploads();

    [[nodiscard]] int64_t totalBytes() const { return total_; }
    [[nodiscard]] int64_t bytesSoFar() const { return running_; }

private:
    MainWindowView& view_;
    WebProject& project_;
    std::atomic<int64_t> total_ { 0 };
    std::atomic<int64_t> running_ { 0 };
    RunProgress progress_;
    // Bytes arrive block by block; the view is told at most this often, and on each completion.
    std::atomic<int64_t> lastShownNanoseconds_ { 0 };
    std::atomic<int> lastShownDone_ { -1 };
    void showProgress(bool always);
};
