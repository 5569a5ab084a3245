#include "ui/c_dlg_main.h"

#include "dialogs/c_dlg_ftp_command.h"
#include "dialogs/c_dlg_options.h"
#include "dialogs/c_dlg_site_list.h"
#include "dialogs/c_dlg_web_project.h"
#include "engine/web_project.h"
#include "platform/dial_up.h"
#include "platform/file_utils.h"
#include "report/activity_log.h"
#include "shell/app_info.h"
#include "shell/application.h"
#include "shell/password_move.h"
#include "shell/service_registration.h"
#include "ui/file_list_model.h"
#include "ui/help_page.h"
#include "ui/log_window.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Modal, so the project list cannot be reloaded while the browser refers to its projects.
void openFtpBrowser(QWidget* parent, Application& application, const UiStrings& strings)
{
    CDlgFTPCommand dialog(strings, application.projects(), application.sites(), application.options(),
        application.dataDirectory() + "sites.inf", parent);
    dialog.exec();
}

QString fromBytes(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

CDlgMain::CDlgMain(Application& application, const UiStrings& strings, DesktopEnvironment environment, QWidget* parent)
    : QMainWindow(parent)
    , application_(application)
    , strings_(strings)
    , environment_(std::move(environment))
{
    setWindowTitle(strings("app.title"));
    setWindowIcon(app_icons::idle());

    auto* central = new QWidget(this);
    auto* grid = new QGridLayout(central);
    configuration_ = new QComboBox(central);
    configuration_->setToolTip(strings("main.configuration"));
    setUpFileList(central);
    listArea_ = new QStackedWidget(central);
    listArea_->addWidget(fileList_);
    listArea_->addWidget(makeWelcome(central));
    status_ = new QLabel(central);
    status_->setTextFormat(Qt::PlainText);
    status_->setMinimumWidth(100);
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    QVBoxLayout* buttons = makeButtons(central);

    grid->addWidget(configuration_, 0, 0);
    grid->addWidget(listArea_, 1, 0);
    grid->addWidget(status_, 2, 0);
    grid->addLayout(buttons, 0, 1, 3, 1);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(0, 1);
    setCentralWidget(central);
    resize(900, 480);

    logWindow_ = new LogWindow(strings, this);
    buildMenus();

    connect(startButton_, &QPushButton::clicked, this, &CDlgMain::startSelected);
    connect(stopButton_, &QPushButton::clicked, this, &CDlgMain::stopRun);
    connect(findButton_, &QPushButton::clicked, this, &CDlgMain::findSelected);
    connect(logButton_, &QPushButton::clicked, this, &CDlgMain::showLog);
    connect(infoButton_, &QPushButton::clicked, this, &CDlgMain::showAbout);
    connect(setupsButton_, &QPushButton::clicked, this, &CDlgMain::openProjectEditor);
    connect(configuration_, &QComboBox::activated, this, &CDlgMain::selectProject);
    connect(fileList_, &QWidget::customContextMenuRequested, this,
        [this](const QPoint& position) { listMenu_->popup(fileList_->viewport()->mapToGlobal(position)); });
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::hide);

    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, [this] { controller_->onTimerTick(); });
    // Often enough that a save is online about a second later; reading nothing costs nothing.
    watchTimer_ = new QTimer(this);
    watchTimer_->setInterval(200);
    connect(watchTimer_, &QTimer::timeout, this, [this] {
        watches_.serve(ProjectWatches::Clock::now(),
            { [this](const std::string& line) { logWindow_->appendLogLine(line); },
                [this](WebProject& project, std::optional<WebProject::ScanScope> scope) {
                    controller_->startWatchedRun(&project, std::move(scope));
                } });
    });

    startController();
    rewatch();
}

void CDlgMain::rewatch()
{
    watches_.clear();
    for (int index = 0; index < application_.projects().count(); ++index) {
        WebProject* project = application_.projects().at(index);
        if (project == nullptr || project->watch == 0)
            continue;
        if (const std::string error = watches_.add(*project); !error.empty())
            logWindow_->appendLogLine("Error " + error);
    }
    for (const std::string& line : watches_.describe())
        logWindow_->appendLogLine(line);
    if (watches_.empty())
        watchTimer_->stop();
    else
        watchTimer_->start();
}

void CDlgMain::setUpFileList(QWidget* central)
{
    fileList_ = new QTableView(central);
    fileListModel_ = new FileListModel(strings_.columnNames(), this);
    fileList_->setModel(fileListModel_);
    fileList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    fileList_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    fileList_->setShowGrid(false);
    fileList_->setWordWrap(false);
    fileList_->verticalHeader()->hide();
    fileList_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    fileList_->verticalHeader()->setDefaultSectionSize(fileList_->fontMetrics().height() + 4);
    fileList_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    fileList_->horizontalHeader()->setStretchLastSection(true);
    // The time column must hold a whole "dd.mm.yy hh:mm" in the desktop's font.
    const int timeWidth
        = std::max(90, fileList_->fontMetrics().horizontalAdvance(QStringLiteral("00.00.00 00:00")) + 16);
    const int widths[] = { 150, 150, timeWidth, 150, 150, 90 };
    for (int column = 0; column < FileListModel::ColumnCount; ++column)
        fileList_->setColumnWidth(column, widths[column]);
    fileList_->setTextElideMode(Qt::ElideMiddle);
    fileList_->setContextMenuPolicy(Qt::CustomContextMenu);
}

QWidget* CDlgMain::makeWelcome(QWidget* central)
{
    // The first launch: instead of an empty list, how to make the first project.
    auto* welcome = new QWidget(central);
    auto* welcomeLayout = new QVBoxLayout(welcome);
    welcomeText_ = new QLabel(strings_("main.welcome"), welcome);
    welcomeText_->setWordWrap(true);
    welcomeText_->setTextFormat(Qt::PlainText);
    welcomeText_->setAlignment(Qt::AlignCenter);
    createProjectButton_ = new QPushButton(strings_("main.createproject"), welcome);
    welcomeLayout->addStretch(1);
    welcomeLayout->addWidget(welcomeText_);
    welcomeLayout->addWidget(createProjectButton_, 0, Qt::AlignHCenter);
    welcomeLayout->addStretch(2);
    connect(createProjectButton_, &QPushButton::clicked, this, &CDlgMain::createFirstProject);
    return welcome;
}

// The buttons down the right-hand side, the version at their foot.
QVBoxLayout* CDlgMain::makeButtons(QWidget* central)
{
    auto* buttons = new QVBoxLayout();
    startButton_ = new QPushButton(strings_("main.start"), central);
    stopButton_ = new QPushButton(strings_("main.stop"), central);
    findButton_ = new QPushButton(strings_("main.find"), central);
    logButton_ = new QPushButton(strings_("main.log"), central);
    infoButton_ = new QPushButton(strings_("main.info"), central);
    setupsButton_ = new QPushButton(strings_("main.setups"), central);
    ftpButton_ = new QPushButton(strings_("main.ftp"), central);
    connect(ftpButton_, &QPushButton::clicked, this, [this] { openFtpBrowser(this, application_, strings_); });
    for (QPushButton* button :
        { startButton_, stopButton_, findButton_, logButton_, infoButton_, setupsButton_, ftpButton_ }) {
        button->setMinimumWidth(95);
        buttons->addWidget(button);
    }
    stopButton_->hide();
    buttons->addStretch(1);
    version_ = new QLabel(strings_("main.version"), central);
    buttons->addWidget(version_);
    return buttons;
}

void CDlgMain::startController()
{
    controller_ = std::make_unique<RunController>(*this);
    keyring_ = std::make_unique<SecretServiceKeyring>(SecretServiceKeyring::Prompting::Allowed);
    controller_->setDiagnosticLog(&application_.log());
    controller_->setArchiveMarks(&application_.archiveMarks());
    controller_->setOptionsSource([this] { return application_.optionsSnapshot(); });
    controller_->setRunObserver([this](const RunOutcome& outcome) {
        if ((outcome.trigger != RunTrigger::Timer && outcome.trigger != RunTrigger::Watch) || !outcome.failed)
            return;
        // Posted, not waited for: the window may be closing, and then the notice is moot.
        QMetaObject::invokeMethod(
            this, [this, outcome] { notifyFailedRun(outcome); }, Qt::QueuedConnection);
    });
}

void CDlgMain::notifyFailedRun(const RunOutcome& outcome)
{
    lastTrayMessage_ = strings_("tray.runfailed")
                           .arg(fromBytes(outcome.projectName))
                           .arg(outcome.tally.failed)
                           .arg(outcome.unreachableSites);
    if (tray_ != nullptr && QSystemTrayIcon::supportsMessages())
        tray_->showMessage(strings_("tray.runfailed.title"), lastTrayMessage_, QSystemTrayIcon::Warning, 15000);
}

bool CDlgMain::showsWelcome() const
{
    return listArea_->currentIndex() == 1;
}

CDlgMain::~CDlgMain()
{
    {
        std::lock_guard lock(callMutex_);
        closing_ = true;
    }
    // A worker waiting for this window gives up now instead of blocking the join below.
    callDone_.notify_all();
    timer_->stop();
    controller_.reset();
    if (tray_ != nullptr)
        tray_->hide();
}

void CDlgMain::buildMenus()
{
    QMenu* file = menuBar()->addMenu(strings_("menu.file"));
    file->addAction(strings_("menu.file.ftp"), this, [this] { openFtpBrowser(this, application_, strings_); });
    file->addAction(strings_("menu.file.quit"), this, [] { QCoreApplication::exit(0); });

    QMenu* setup = menuBar()->addMenu(strings_("menu.setup"));
    setup->addAction(strings_("menu.setup.sites"), this, &CDlgMain::openSites);
    setup->addAction(strings_("menu.setup.projects"), this, &CDlgMain::openProjectEditor);
    setup->addAction(strings_("menu.setup.keyring"), this, &CDlgMain::movePasswordsToKeyring);
    optionsAction_ = setup->addAction(strings_("menu.setup.options"), this, &CDlgMain::openOptions);

    QMenu* help = menuBar()->addMenu(strings_("menu.help"));
    help->addAction(strings_("menu.help.index"), this, &CDlgMain::openHelp);

    listMenu_ = new QMenu(this);
    listMenu_->addAction(strings_("list.markok"), this, [this] { markSelectedRows(MarkAs::Ok); });
    listMenu_->addAction(strings_("list.markchanged"), this, [this] { markSelectedRows(MarkAs::Changed); });

    trayMenu_ = new QMenu(this);
    trayMenu_->addAction(strings_("tray.open"), this, [this] {
        showNormal();
        raise();
        activateWindow();
    });
    trayMenu_->addAction(strings_("tray.openftp"), this, [this] { openFtpBrowser(this, application_, strings_); });
    trayMenu_->addAction(strings_("tray.uploadall"), this, &CDlgMain::uploadAll);
    trayMenu_->addSeparator();
    // The projects stay until the run logic has stopped: a run may still be using one.
    trayMenu_->addAction(strings_("tray.quit"), this, [] { QCoreApplication::exit(0); });
}

void CDlgMain::startUp(const std::string& commandLine)
{
    fillConfigurationBox(-1);
    timer_->start();
    if (environment_.useTray && QSystemTrayIcon::isSystemTrayAvailable()) {
        tray_ = new QSystemTrayIcon(app_icons::idle(), this);
        tray_->setToolTip(strings_("app.tooltip"));
        tray_->setContextMenu(trayMenu_);
        connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
            if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
                showNormal();
                raise();
                activateWindow();
            }
        });
        tray_->show();
        hide();
    } else {
        // Without a notification area a hidden window could never be reached again.
        environment_.useTray = false;
        show();
    }
    (void)controller_->actOnCommandLine(commandLine);
    m_pSelected = controller_->selected();
    if (int index = configuration_->findData(QVariant::fromValue(static_cast<void*>(m_pSelected))); index >= 0)
        configuration_->setCurrentIndex(index);
}

void CDlgMain::fillConfigurationBox(int selectedIndex)
{
    ProjectList& projects = application_.projects();
    configuration_->clear();
    for (int index = 0; index < projects.count(); ++index)
        configuration_->addItem(
            fromBytes(projects.nameAt(index)), QVariant::fromValue(static_cast<void*>(projects.at(index))));
    if (selectedIndex < 0)
        selectedIndex = projects.count() == 0 ? -1 : [&] {
            WebProject* selected = application_.selectedProject();
            for (int index = 0; index < projects.count(); ++index) {
                if (projects.at(index) == selected)
                    return index;
            }
            return 0;
        }();
    configuration_->setCurrentIndex(selectedIndex);
    m_pSelected = selectedIndex >= 0 ? projects.at(selectedIndex) : nullptr;
    controller_->setSelected(m_pSelected);
    listArea_->setCurrentIndex(projects.count() == 0 ? 1 : 0);
    updateRunControls();
}

void CDlgMain::selectProject(int index)
{
    if (m_bReloadPending || index < 0 || index >= application_.projects().count())
        return;
    m_pSelected = application_.projects().at(index);
    controller_->setSelected(m_pSelected);
}

template <typename Function> void CDlgMain::onWindowThread(Function&& function)
{
    if (QThread::currentThread() == thread()) {
        function();
        return;
    }
    auto done = std::make_shared<bool>(false);
    {
        std::lock_guard lock(callMutex_);
        if (closing_)
            return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, done, &function] {
            {
                std::lock_guard lock(callMutex_);
                if (closing_)
                    return;
            }
            function();
            {
                std::lock_guard lock(callMutex_);
                *done = true;
            }
            callDone_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(callMutex_);
    callDone_.wait(lock, [&] { return *done || closing_; });
}

void CDlgMain::updateRunControls()
{
    // Start and Find have nothing to work on until a project exists.
    const bool hasProject = application_.projects().count() > 0;
    startButton_->setEnabled(m_bRunControlsEnabled && !m_bReloadPending && hasProject);
    findButton_->setEnabled(m_bRunControlsEnabled && !m_bReloadPending && hasProject);
    createProjectButton_->setEnabled(m_bRunControlsEnabled && !m_bReloadPending);
    setupsButton_->setEnabled(m_bRunControlsEnabled);
    // A run reads the machine options while it connects.
    optionsAction_->setEnabled(m_bRunControlsEnabled);
}

void CDlgMain::setRunControlsEnabled(bool enabled)
{
    onWindowThread([this, enabled] {
        m_bRunControlsEnabled = enabled;
        updateRunControls();
    });
}

void CDlgMain::showStartButton()
{
    onWindowThread([this] {
        stopButton_->hide();
        startButton_->show();
    });
}

void CDlgMain::showStopButton()
{
    onWindowThread([this] {
        startButton_->hide();
        stopButton_->show();
    });
}

void CDlgMain::setStatusText(const std::string& text)
{
    onWindowThread([this, &text] { status_->setText(fromBytes(ActivityLog::cutAtLineEnd(text))); });
}

void CDlgMain::appendLogLine(const std::string& text)
{
    onWindowThread([this, &text] { logWindow_->appendLogLine(text); });
}

void CDlgMain::refreshFileList()
{
    onWindowThread([this] {
        fileList_->setUpdatesEnabled(false);
        fileListModel_->setRows(
            m_pSelected != nullptr ? FileListModel::rowsOf(*m_pSelected) : std::vector<FileListModel::Row>());
        fileList_->setUpdatesEnabled(true);
    });
}

void CDlgMain::requestQuit()
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

void CDlgMain::setTrayIcon(TrayIcon icon)
{
    onWindowThread([this, icon] {
        trayState_ = icon;
        if (tray_ != nullptr)
            tray_->setIcon(icon == TrayIcon::Busy ? app_icons::busy() : app_icons::idle());
    });
}

int CDlgMain::projectCount() const
{
    return application_.projects().count();
}

WebProject* CDlgMain::projectAt(int index) const
{
    return application_.projects().at(index);
}

WebProject* CDlgMain::reloadProjects()
{
    WebProject* selected = nullptr;
    onWindowThread([this, &selected] {
        fileListModel_->setRows({});
        // The watches point at the projects about to go.
        watches_.clear();
        application_.loadProjects();
        rewatch();
        fillConfigurationBox(-1);
        selected = m_pSelected;
        m_bReloadPending = false;
        updateRunControls();
    });
    return selected;
}

void CDlgMain::startSelected()
{
    if (m_bReloadPending || m_pSelected == nullptr)
        return;
    controller_->startRun(m_pSelected);
}

void CDlgMain::stopRun()
{
    controller_->requestStop();
    showStartButton();
}

void CDlgMain::findSelected()
{
    if (m_bReloadPending)
        return;
    controller_->rescan(m_pSelected);
}

void CDlgMain::showLog()
{
    logWindow_->show();
    logWindow_->raise();
}

void CDlgMain::showAbout()
{
    QMessageBox::about(this, strings_("app.about"),
        QStringLiteral("%1 %2\n\n%3")
            .arg(QLatin1String(kProductName), QLatin1String(kProductVersion), strings_("app.description")));
}

void CDlgMain::openProjectEditor()
{
    openEditor(false);
}

void CDlgMain::createFirstProject()
{
    openEditor(true);
}

void CDlgMain::openEditor(bool startWithNewProject)
{
    std::vector<CDlgWebProject::Entry> entries;
    ProjectList& projects = application_.projects();
    // The editor starts from the files: a run may be changing the loaded objects right now.
    for (int index = 0; index < projects.count(); ++index) {
        ProjectSettings settings;
        settings.LoadProject(projects.at(index)->projectPath);
        entries.push_back({ projects.nameAt(index), std::move(settings) });
    }
    {
        CDlgWebProject editor(strings_, application_.options(), application_.dataDirectory(), std::move(entries), this);
        editor.setPasswordStore(keyring_.get());
        if (startWithNewProject)
            QTimer::singleShot(0, &editor, &CDlgWebProject::newProject);
        editor.exec();
    }
    // The project objects are replaced from disk once no run is using them.
    m_bReloadPending = true;
    updateRunControls();
    controller_->reloadProjects();
}

void CDlgMain::openSites()
{
    CDlgSiteList dialog(strings_, application_.sites(), application_.dataDirectory() + "sites.inf", this);
    dialog.setPasswordStore(keyring_.get());
    dialog.exec();
}

void CDlgMain::movePasswordsToKeyring()
{
    // The files are rewritten; a run must not be reading them, nor write its copy back.
    if (controller_->isRunning() || m_bReloadPending)
        return;
    const PasswordMoveReport report = ::movePasswordsToKeyring(application_.dataDirectory(), *keyring_);
    int moved = 0;
    for (const PasswordMoveReport::Row& row : report.rows)
        moved += row.state == KeyringState::Found ? 1 : 0;
    QString summary;
    if (!report.keyringReachable)
        summary = strings_("keyring.unreachable");
    else if (report.rows.empty())
        summary = strings_("keyring.nothing");
    else
        summary = strings_("keyring.moved").arg(moved).arg(static_cast<int>(report.rows.size()) - moved);
    QMessageBox box(report.complete() ? QMessageBox::Information : QMessageBox::Warning, strings_("app.title"), summary,
        QMessageBox::Ok, this);
    box.setDetailedText(fromBytes(report.text()));
    box.exec();
    // The sites book in memory still holds what was moved; written back, it would undo the move.
    application_.sites().sites.clear();
    (void)application_.sites().readSites(application_.dataDirectory() + "sites.inf");
    m_bReloadPending = true;
    updateRunControls();
    controller_->reloadProjects();
}

void CDlgMain::openOptions()
{
    if (controller_->isRunning())
        return;
    ServiceRegistration service(
        environment_.unitDirectory, environment_.programPath, environment_.systemctl, application_.log());
    auto dialEntries = [] {
        DialUp dialUp;
        dialUp.start();
        std::vector<std::string> entries = dialUp.enumerateEntries();
        dialUp.stop();
        return entries;
    };
    // A timed run may start while the dialog is open; it reads its own copy of the options,
    // and the edited record replaces the shared one only under its lock.
    MachineOptions edited = application_.options();
    CDlgOptions dialog(
        strings_, edited, application_.asciiExtensions(), environment_.optionsFile, service, dialEntries, this);
    if (dialog.exec() == QDialog::Accepted)
        application_.replaceOptions(edited);
}

void CDlgMain::openHelp()
{
    if (!HelpPage::open(application_.dataDirectory()))
        QMessageBox::warning(this, strings_("app.title"), strings_("help.missing"));
}

void CDlgMain::uploadAll()
{
    if (m_bReloadPending)
        return;
    controller_->uploadAll();
}

void CDlgMain::markSelectedRows(MarkAs mark)
{
    if (m_bReloadPending || m_pSelected == nullptr)
        return;
    QModelIndexList selected = fileList_->selectionModel()->selectedRows();
    std::sort(
        selected.begin(), selected.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<std::string> paths;
    for (const QModelIndex& index : selected) {
        const FileListModel::Row& row = fileListModel_->row(index.row());
        if (!row.fullPath.empty())
            paths.push_back(row.fullPath);
    }
    controller_->markEntries(m_pSelected, std::move(paths), mark);
}

void CDlgMain::closeEvent(QCloseEvent* event)
{
    if (!environment_.useTray) {
        QCoreApplication::exit(0);
        event->accept();
        return;
    }
    // The application lives on in the tray.
    event->ignore();
    hide();
}

void CDlgMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && environment_.useTray)
        QTimer::singleShot(0, this, &QWidget::hide);
}
