#pragma once

#include "keyring/secret_service_keyring.h"
#include "shell/main_window_view.h"
#include "shell/project_watches.h"
#include "shell/run_controller.h"

#include <QMainWindow>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

class Application;
class FileListModel;
class LogWindow;
class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QStackedWidget;
class QSystemTrayIcon;
class QTableView;
class QTimer;
class QVBoxLayout;
class UiStrings;

// Where the main window finds what lies outside the data directory.
struct DesktopEnvironment {
    std::string optionsFile; // the machine options
    std::string unitDirectory; // where the service unit goes
    std::string programPath; // the program the service unit starts
    std::string systemctl; // empty: no systemd
    bool useTray = true; // false: the window stays visible instead of hiding in the tray
};

// The main window: the project list, the modified files of the selected project, the run
// buttons, the menus, the tray icon and the log window. The run logic (RunController) works
// on its own worker; every call it makes into this window is carried out on the window
// thread while the worker waits.
class CDlgMain final : public QMainWindow, public MainWindowView {
    Q_OBJECT
public:
    CDlgMain(
        Application& application, const UiStrings& strings, DesktopEnvironment environment, QWidget* parent = nullptr);
    // Stops the run logic first: a run in progress is cancelled and the worker joined.
    ~CDlgMain() override;

    // The rest of start-up once the application has loaded its data: fills the list, starts
    // the timer, sets up the tray, hides the window and acts on the command-line argument.
    void startUp(const std::string& commandLine);

    // MainWindowView
    void setRunControlsEnabled(bool enabled) override;
    void showStartButton() override;
    void showStopButton() override;
    void setStatusText(const std::string& text) override;
    void appendLogLine(const std::string& text) override;
    void refreshFileList() override;
    void requestQuit() override;
    void setTrayIcon(TrayIcon icon) override;
    [[nodiscard]] int projectCount() const override;
    [[nodiscard]] WebProject* projectAt(int index) const override;
    WebProject* reloadProjects() override;
    // Watches the local folders of the projects that ask for it (after every reload).
    void rewatch();

    // Commands of the buttons and menus.
    void startSelected();
    void stopRun();
    void findSelected();
    void showLog();
    void showAbout();
    void openProjectEditor();
    // The button of the first launch: the project editor, opened on a new project.
    void createFirstProject();
    void openSites();
    // Moves the passwords the files hold in the clear into the keyring and says what moved.
    void movePasswordsToKeyring();
    void openOptions();
    void openHelp();
    void uploadAll();
    void markSelectedRows(MarkAs mark);
    void selectProject(int index);

    [[nodiscard]] RunController& controller() { return *controller_; }
    [[nodiscard]] WebProject* selectedProject() const { return m_pSelected; }
    [[nodiscard]] QPushButton* startButton() const { return startButton_; }
    [[nodiscard]] QPushButton* stopButton() const { return stopButton_; }
    [[nodiscard]] QPushButton* findButton() const { return findButton_; }
    [[nodiscard]] QPushButton* setupsButton() const { return setupsButton_; }
    [[nodiscard]] QPushButton* ftpButton() const { return ftpButton_; }
    [[nodiscard]] QComboBox* configurationBox() const { return configuration_; }
    [[nodiscard]] QTableView* fileList() const { return fileList_; }
    [[nodiscard]] FileListModel& fileListModel() const { return *fileListModel_; }
    [[nodiscard]] QLabel* statusLine() const { return status_; }
    [[nodiscard]] LogWindow& logWindow() const { return *logWindow_; }
    [[nodiscard]] TrayIcon trayIconState() const { return trayState_; }
    // Without projects the list area explains how to create the first one.
    [[nodiscard]] bool showsWelcome() const;
    [[nodiscard]] QLabel* welcomeText() const { return welcomeText_; }
    [[nodiscard]] QPushButton* createProjectButton() const { return createProjectButton_; }
    // The last notification about a failed scheduled run (also kept without a tray).
    [[nodiscard]] const QString& lastTrayMessage() const { return lastTrayMessage_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    template <typename Function> void onWindowThread(Function&& function);
    void setUpFileList(QWidget* central);
    [[nodiscard]] QWidget* makeWelcome(QWidget* central);
    [[nodiscard]] QVBoxLayout* makeButtons(QWidget* central);
    void startController();
    void buildMenus();
    void fillConfigurationBox(int selectedIndex);
    void updateRunControls();
    void openEditor(bool startWithNewProject);
    void notifyFailedRun(const RunOutcome& outcome);

    Application& application_;
    const UiStrings& strings_;
    DesktopEnvironment environment_;

    QComboBox* configuration_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QPushButton* findButton_ = nullptr;
    QPushButton* logButton_ = nullptr;
    QPushButton* infoButton_ = nullptr;
    QPushButton* setupsButton_ = nullptr;
    QPushButton* ftpButton_ = nullptr;
    QStackedWidget* listArea_ = nullptr;
    QLabel* welcomeText_ = nullptr;
    QPushButton* createProjectButton_ = nullptr;
    QString lastTrayMessage_;
    QTableView* fileList_ = nullptr;
    FileListModel* fileListModel_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* version_ = nullptr;
    QAction* optionsAction_ = nullptr;
    QMenu* listMenu_ = nullptr;
    QMenu* trayMenu_ = nullptr;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* timer_ = nullptr;
    // The projects in watch mode; their notifications are read on the window thread.
    ProjectWatches watches_;
    QTimer* watchTimer_ = nullptr;
    LogWindow* logWindow_ = nullptr;

    WebProject* m_pSelected = nullptr;
    bool m_bRunControlsEnabled = true;
    // Between closing the project editor and the reload on the worker, the projects the
    // window knows are about to be destroyed: commands that would queue work on them wait.
    bool m_bReloadPending = false;
    TrayIcon trayState_ = TrayIcon::Idle;

    std::mutex callMutex_;
    std::condition_variable callDone_;
    bool closing_ = false;

    // Declared last: destroyed first, while everything it calls still exists.
    std::unique_ptr<RunController> controller_;
    // The editors keep passwords here; it may ask to be unlocked, the user being at hand.
    std::unique_ptr<SecretServiceKeyring> keyring_;
};
