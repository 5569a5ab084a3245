#pragma once

#include "engine/full_compare.h"
#include "session/ftp_event_sink.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>

class RemoteSession;
class ProjectSettings;
class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class UiStrings;

// "Neu kopieren": the full compare of a web project's local folder with the server folder
// the FTP browser is in. Find and Start run on the window thread; the client keeps its own
// sink (the browser's log) while this dialog's sink shows the progress messages.
class CDlgRelaunch final : public QDialog, public FtpEventSink {
    Q_OBJECT
public:
    // Asked before Start changes anything; the default shows a Yes/No warning box.
    using Confirm = std::function<bool(const QString& question)>;
    // Told when Start has ended; the default shows a message box.
    using Inform = std::function<void(const QString& text)>;

    CDlgRelaunch(const UiStrings& strings, RemoteSession& client, const std::string& remoteStart,
        const std::string& localDirectory, const ProjectSettings& project, QWidget* parent = nullptr);

    void find();
    void start();
    void setConfirm(Confirm confirm) { confirm_ = std::move(confirm); }
    void setInform(Inform inform) { inform_ = std::move(inform); }

    [[nodiscard]] QTreeWidget* list() const { return list_; }
    [[nodiscard]] QCheckBox* deleteBox() const { return deleteBox_; }
    [[nodiscard]] QCheckBox* resendAllBox() const { return resendAllBox_; }
    [[nodiscard]] QLabel* countsLabel() const { return counts_; }
    [[nodiscard]] QLabel* statusLabel() const { return status_; }
    [[nodiscard]] QPushButton* findButton() const { return findButton_; }
    [[nodiscard]] QPushButton* startButton() const { return startButton_; }

    // FtpEventSink: progress messages into the status line.
    void onLine(const std::string& text) override;
    void onStatusLine(const std::string& text) override { onLine(text); }

private:
    void refreshList();

    const UiStrings& strings_;
    FullCompare compare_;
    QString countsFormat_;
    Confirm confirm_;
    Inform inform_;
    QTreeWidget* list_;
    QCheckBox* deleteBox_;
    QCheckBox* resendAllBox_;
    QLabel* counts_;
    QLabel* status_;
    QPushButton* findButton_;
    QPushButton* startButton_;
};
