#pragma once

#include "session/ftp_event_sink.h"
#include "session/ftp_operation.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

class RemoteSession;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class UiStrings;

// Shows a transfer or delete batch (or any work function) running on a worker thread and lets
// the user cancel it between operations. While the work runs the dialog is the client's event
// sink; the worker's reports are posted to the dialog's thread. The dialog closes at the
// first tick after the work has ended.
class CDlgProgress final : public QDialog, public FtpEventSink {
    Q_OBJECT
public:
    // Runs on the worker; must call onFinished when done and should end soon after
    // shouldStop turns true.
    using WorkFunction = std::function<void(CDlgProgress& progress)>;

    CDlgProgress(const UiStrings& strings, RemoteSession& client, QWidget* parent = nullptr);
    // Waits for the worker and gives the client its previous sink back.
    ~CDlgProgress() override;

    void setWork(WorkFunction work) { work_ = std::move(work); }
    void setBatch(std::vector<FtpOperation> batch) { batch_ = std::move(batch); }
    void setTickInterval(int milliseconds);
    // Starts the work and shows the dialog until it has ended.
    int run();

    // Every operation counts its size rounded up to whole kilobytes (at least one), plus one
    // kilobyte for the batch.
    [[nodiscard]] static int64_t batchTotal(const std::vector<FtpOperation>& batch);

    // Cancel button: the work stops before its next operation; the dialog stays until then.
    void cancel() { cancelRequested_ = true; }
    void reject() override { cancel(); }
    [[nodiscard]] bool isRunning() const { return running_; }

    // FtpEventSink, called by the worker.
    void onFinished() override { running_ = false; }
    void onTotalSize(int64_t bytes) override;
    [[nodiscard]] bool shouldStop() override { return cancelRequested_; }
    void onUploadBegins(const std::string& path, int64_t size) override;
    void onDownloadBegins(const std::string& path, int64_t size) override { onUploadBegins(path, size); }
    void onFileSize(int64_t size) override;
    void onBytes(int64_t bytes) override;
    void onLine(const std::string& text) override;
    void onStatusLine(const std::string& text) override { onLine(text); }

    [[nodiscard]] QLabel* fileLabel() const { return file_; }
    [[nodiscard]] QLabel* folderLabel() const { return folder_; }
    [[nodiscard]] QLabel* bytesLabel() const { return bytes_; }
    [[nodiscard]] QLabel* statusLine() const { return status_; }
    [[nodiscard]] QProgressBar* progressBar() const { return bar_; }
    [[nodiscard]] QPushButton* cancelButton() const { return cancelButton_; }

private:
    void start();
    void tick();
    void post(std::function<void()> update);
    void showBytes(int64_t itemDone, int64_t expected, int64_t overall);

    RemoteSession& client_;
    WorkFunction work_;
    std::vector<FtpOperation> batch_;
    FtpEventSink* previousSink_ = nullptr;
    bool sinkInstalled_ = false;

    std::atomic<bool> running_ { false };
    std::atomic<bool> cancelRequested_ { false };
    std::atomic<int64_t> total_ { 0 };
    std::atomic<int64_t> done_ { 0 };
    std::atomic<int64_t> itemSize_ { 0 };
    std::atomic<int64_t> itemDone_ { 0 };

    QLabel* file_;
    QLabel* folder_;
    QLabel* bytes_;
    QLabel* status_;
    QProgressBar* bar_;
    QPushButton* cancelButton_;
    QTimer* timer_;
    std::jthread worker_;
};
