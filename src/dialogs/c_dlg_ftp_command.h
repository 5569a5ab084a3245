#pragma once

#include "session/ftp_event_sink.h"
#include "shell/ftp_browser.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class ProjectList;
class QCheckBox;
class QComboBox;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class QVBoxLayout;
class SiteList;
class UiStrings;
struct MachineOptions;

// The two-pane FTP browser: the server on the left, a local folder on the right, copies in
// both directions, folder operations on both sides and the full compare. The dialog owns its
// client for its whole life and is that client's event sink except while a batch runs.
// Everything here runs on the window thread; batches run behind the progress dialog.
class CDlgFTPCommand final : public QDialog, public FtpEventSink {
    Q_OBJECT
public:
    enum class Pane {
        Remote,
        Local,
    };
    // Questions the user answers; tests replace them. Defaults are message boxes and dialogs.
    using Question = std::function<bool(const QString& text)>;
    using Inform = std::function<void(const QString& text)>;
    using OverwriteQuestion = std::function<bool(const std::vector<std::string>& names)>;
    using ValueQuestion = std::function<bool(const QString& caption, QString& value)>;
    using BatchRunner = std::function<void(const std::vector<FtpOperation>& batch)>;
    using RelaunchOpener = std::function<void(ProjectSettings& project)>;

    // `projects` and `sites` must outlive the dialog; `sitesFallbackPath` is where the sites
    // book is written when it was never read from a file.
    CDlgFTPCommand(const UiStrings& strings, ProjectList& projects, SiteList& sites, const MachineOptions& options,
        std::string sitesFallbackPath, QWidget* parent = nullptr);
    ~CDlgFTPCommand() override;

    void buildServerEntries();
    // Connects to the server entry at `index` of the server list.
    void connectTo(int index);
    void download();
    void upload();
    void newFolder(Pane pane);
    void renameSelected(Pane pane);
    void deleteSelected(Pane pane);
    void showDifferences();
    void softRelaunch();
    void activate(Pane pane);
    void openSites();
    void browseLocalFolder();

    void setQuestion(Question question) { ask_ = std::move(question); }
    void setInform(Inform inform) { inform_ = std::move(inform); }
    void setOverwriteQuestion(OverwriteQuestion question) { askOverwrite_ = std::move(question); }
    void setValueQuestion(ValueQuestion question) { askValue_ = std::move(question); }
    void setBatchRunner(BatchRunner runner) { runBatch_ = std::move(runner); }
    void setRelaunchOpener(RelaunchOpener opener) { openRelaunch_ = std::move(opener); }

    [[nodiscard]] FtpBrowser& browser() { return browser_; }
    [[nodiscard]] RemoteSession& client() { return browser_.session(); }
    [[nodiscard]] QComboBox* serverList() const { return servers_; }
    [[nodiscard]] QComboBox* remotePathList() const { return remotePath_; }
    [[nodiscard]] QComboBox* localPathList() const { return localPath_; }
    [[nodiscard]] QTreeWidget* remotePane() const { return remotePane_; }
    [[nodiscard]] QTreeWidget* localPane() const { return localPane_; }
    [[nodiscard]] QCheckBox* synchronBox() const { return synchron_; }
    [[nodiscard]] QCheckBox* overwriteBox() const { return overwrite_; }
    [[nodiscard]] QListWidget* logList() const { return log_; }
    [[nodiscard]] const std::vector<ServerEntry>& serverEntries() const { return entries_; }

    // FtpEventSink: the log list.
    void onLine(const std::string& text) override;
    void onStatusLine(const std::string& text) override { onLine(text); }
    void onTransferFailed(const std::string& file) override { onLine(file); }
    void onUploadBegins(const std::string& file, int64_t) override { message("->%s", file.c_str()); }
    void onDownloadBegins(const std::string& file, int64_t) override { message("<-%s", file.c_str()); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void addPanes(QVBoxLayout& layout);
    void connectPanes();
    void useDesktopPrompts();
    void fillRemotePane();
    void fillLocalPane();
    void fillPanes();
    void fillPane(QTreeWidget* pane, const std::vector<BrowserRow>& rows, bool local);
    void fillPathList(QComboBox* list, const std::vector<std::string>& items, const std::string& current);
    [[nodiscard]] std::vector<BrowserRow> selectedRows(Pane pane) const;
    [[nodiscard]] QTreeWidget* paneWidget(Pane pane) const;
    void followSelection(QTreeWidget* from, QTreeWidget* to);
    void followScrolling(QTreeWidget* from, QTreeWidget* to);
    void showContextMenu(Pane pane, const QPoint& position);
    void runTransfer(const std::vector<FtpOperation>& batch);

    const UiStrings& strings_;
    ProjectList& projects_;
    SiteList& sites_;
    std::string sitesFallbackPath_;
    FtpBrowser browser_;
    std::vector<ServerEntry> entries_;
    int connectedEntry_ = -1;
    bool hadFocus_ = false;
    Pane focusPane_ = Pane::Remote;
    bool synchronising_ = false;

    Question ask_;
    Inform inform_;
    OverwriteQuestion askOverwrite_;
    ValueQuestion askValue_;
    BatchRunner runBatch_;
    RelaunchOpener openRelaunch_;

    QComboBox* servers_;
    QComboBox* remotePath_;
    QComboBox* localPath_;
    QTreeWidget* remotePane_;
    QTreeWidget* localPane_;
    QCheckBox* synchron_;
    QCheckBox* overwrite_;
    QListWidget* log_;
};
