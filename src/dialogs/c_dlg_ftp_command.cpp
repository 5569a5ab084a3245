#include "dialogs/c_dlg_ftp_command.h"

#include "config/site_list.h"
#include "dialogs/browser_text.h"
#include "dialogs/c_dlg_overwrite.h"
#include "dialogs/c_dlg_progress.h"
#include "dialogs/c_dlg_relaunch.h"
#include "dialogs/c_dlg_site_list.h"
#include "dialogs/c_dlg_value.h"
#include "dialogs/dialog_text.h"
#include "shell/project_list.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QThread>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <initializer_list>

using dialog_text::fromQt;
using dialog_text::toQt;

namespace {

constexpr int kRowIndexRole = Qt::UserRole;
constexpr int kKindRole = Qt::UserRole + 1; // 1 directory, 0 file

QTreeWidget* makePane(QWidget* parent, const QString& name, const QString& size, const QString& date)
{
    auto* pane = new QTreeWidget(parent);
    pane->setHeaderLabels({ name, size, date });
    pane->setRootIsDecorated(false);
    pane->setSelectionMode(QAbstractItemView::ExtendedSelection);
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    pane->setUniformRowHeights(true);
    // The widths are meant to hold a long name, a size in the gigabytes and the longest
    // date the column shows, in whatever font the desktop uses.
    const QFontMetrics metrics = pane->fontMetrics();
    pane->header()->resizeSection(0, metrics.horizontalAdvance(QStringLiteral("m")) * 18);
    pane->header()->resizeSection(1, metrics.horizontalAdvance(QStringLiteral("0000000000")) + 16);
    pane->header()->resizeSection(2, metrics.horizontalAdvance(QStringLiteral("23:59 31.12.2026")) + 24);
    return pane;
}

void neverDefault(std::initializer_list<QPushButton*> buttons)
{
    for (QPushButton* button : buttons) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
}

} // namespace

CDlgFTPCommand::CDlgFTPCommand(const UiStrings& strings, ProjectList& projects, SiteList& sites,
    const MachineOptions& options, std::string sitesFallbackPath, QWidget* parent)
    : QDialog(parent)
    , strings_(strings)
    , projects_(projects)
    , sites_(sites)
    , sitesFallbackPath_(std::move(sitesFallbackPath))
    , browser_(options)
{
    auto text = [&](const char* key) { return browser_text::text(strings, key); };
    setWindowTitle(text("browser.title"));
    setWindowIcon(app_icons::idle());
    setSizeGripEnabled(true);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(text("browser.server"), this));
    servers_ = new QComboBox(this);
    servers_->setMinimumContentsLength(30);
    top->addWidget(servers_, 1);
    auto* sitesButton = new QPushButton(text("browser.sites"), this);
    top->addWidget(sitesButton);
    layout->addLayout(top);

    addPanes(*layout);

    layout->addWidget(new QLabel(text("browser.log"), this));
    log_ = new QListWidget(this);
    log_->setMaximumHeight(120);
    layout->addWidget(log_);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    auto* closeButton = new QPushButton(QStringLiteral("OK"), this);
    closeRow->addWidget(closeButton);
    layout->addLayout(closeRow);

    // Enter activates a row of a pane; it never presses a button.
    neverDefault({ sitesButton, closeButton });
    connect(sitesButton, &QPushButton::clicked, this, &CDlgFTPCommand::openSites);
    connect(closeButton, &QPushButton::clicked, this, &QDialog::reject);
    connectPanes();

    useDesktopPrompts();

    browser_.session().setEventSink(this);
    buildServerEntries();
    resize(960, 600);
}

// The two panes with their path lists, and between them the transfer buttons.
void CDlgFTPCommand::addPanes(QVBoxLayout& layout)
{
    auto* panes = new QGridLayout;
    remotePath_ = new QComboBox(this);
    localPath_ = new QComboBox(this);
    auto* browseButton = new QPushButton(QStringLiteral("..."), this);
    auto* localPathRow = new QHBoxLayout;
    localPathRow->addWidget(localPath_, 1);
    localPathRow->addWidget(browseButton);
    panes->addWidget(remotePath_, 0, 0);
    panes->addLayout(localPathRow, 0, 2);
    QString name = browser_text::text(strings_, "browser.column.name");
    QString size = browser_text::text(strings_, "browser.column.size");
    QString date = browser_text::text(strings_, "browser.column.date");
    remotePane_ = makePane(this, name, size, date);
    localPane_ = makePane(this, name, size, date);
    panes->addWidget(remotePane_, 1, 0);
    panes->addWidget(localPane_, 1, 2);
    auto* middle = new QVBoxLayout;
    synchron_ = new QCheckBox(browser_text::text(strings_, "browser.synchron"), this);
    synchron_->setChecked(true);
    overwrite_ = new QCheckBox(browser_text::text(strings_, "browser.overwrite"), this);
    auto* downloadButton = new QPushButton(QStringLiteral(">"), this);
    auto* uploadButton = new QPushButton(QStringLiteral("<"), this);
    middle->addStretch();
    middle->addWidget(synchron_);
    middle->addWidget(overwrite_);
    middle->addWidget(downloadButton);
    middle->addWidget(uploadButton);
    middle->addStretch();
    panes->addLayout(middle, 1, 1);
    panes->setColumnStretch(0, 1);
    panes->setColumnStretch(2, 1);
    layout.addLayout(panes, 1);
    neverDefault({ browseButton, downloadButton, uploadButton });
    connect(browseButton, &QPushButton::clicked, this, &CDlgFTPCommand::browseLocalFolder);
    connect(downloadButton, &QPushButton::clicked, this, &CDlgFTPCommand::download);
    connect(uploadButton, &QPushButton::clicked, this, &CDlgFTPCommand::upload);
}

// What choosing a server, a path or a row does. Each pane follows the other's selection and
// scrolling, so a file and its counterpart stay side by side.
void CDlgFTPCommand::connectPanes()
{
    connect(servers_, &QComboBox::activated, this, &CDlgFTPCommand::connectTo);
    connect(remotePane_, &QTreeWidget::itemDoubleClicked, this, [this] { activate(Pane::Remote); });
    connect(localPane_, &QTreeWidget::itemDoubleClicked, this, [this] { activate(Pane::Local); });
    connect(remotePath_, &QComboBox::activated, this, [this](int index) {
        browser_.chooseRemotePath(fromQt(remotePath_->itemText(index)));
        fillPanes();
    });
    connect(localPath_, &QComboBox::activated, this, [this](int index) {
        browser_.chooseLocalPath(fromQt(localPath_->itemText(index)), synchron_->isChecked());
        fillPanes();
    });
    connect(
        remotePane_, &QTreeWidget::itemSelectionChanged, this, [this] { followSelection(remotePane_, localPane_); });
    connect(localPane_, &QTreeWidget::itemSelectionChanged, this, [this] { followSelection(localPane_, remotePane_); });
    connect(remotePane_->verticalScrollBar(), &QScrollBar::valueChanged, this,
        [this] { followScrolling(remotePane_, localPane_); });
    connect(localPane_->verticalScrollBar(), &QScrollBar::valueChanged, this,
        [this] { followScrolling(localPane_, remotePane_); });
    connect(remotePane_, &QTreeWidget::customContextMenuRequested, this,
        [this](const QPoint& position) { showContextMenu(Pane::Remote, position); });
    connect(localPane_, &QTreeWidget::customContextMenuRequested, this,
        [this](const QPoint& position) { showContextMenu(Pane::Local, position); });
    remotePane_->installEventFilter(this);
    localPane_->installEventFilter(this);
}

void CDlgFTPCommand::useDesktopPrompts()
{
    ask_ = [this](const QString& question) {
        return QMessageBox::question(this, strings_("app.title"), question, QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes;
    };
    inform_ = [this](const QString& message) { QMessageBox::information(this, strings_("app.title"), message); };
    askOverwrite_ = [this](const std::vector<std::string>& names) {
        CDlgOverwrite dialog(strings_, names, this);
        return dialog.exec() == QDialog::Accepted;
    };
    askValue_ = [this](const QString& caption, QString& value) {
        CDlgValue dialog(strings_, caption, value, this);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        value = dialog.value();
        return true;
    };
    runBatch_ = [this](const std::vector<FtpOperation>& batch) {
        CDlgProgress progress(strings_, browser_.session(), this);
        progress.setWork([this, batch](CDlgProgress& dialog) {
            browser_.runBatch(batch);
            dialog.onFinished();
        });
        progress.run();
    };
    openRelaunch_ = [this](ProjectSettings& project) {
        CDlgRelaunch dialog(strings_, browser_.session(), browser_.session().currentDirectory(),
            browser_.localDirectory(), project, this);
        dialog.exec();
    };
}

CDlgFTPCommand::~CDlgFTPCommand()
{
    browser_.session().setEventSink(nullptr);
}

void CDlgFTPCommand::onLine(const std::string& text)
{
    QString line = toQt(text);
    qsizetype cut = line.indexOf(QLatin1Char('\r'));
    if (cut >= 0)
        line.truncate(cut);
    while (line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, line] { log_->addItem(line); }, Qt::QueuedConnection);
        return;
    }
    log_->addItem(line);
    log_->scrollToBottom();
}

void CDlgFTPCommand::buildServerEntries()
{
    entries_ = FtpBrowser::buildServerEntries(projects_, sites_.sites);
    servers_->clear();
    for (const ServerEntry& entry : entries_)
        servers_->addItem(toQt(entry.text));
    servers_->setCurrentIndex(-1);
    connectedEntry_ = -1;
}

void CDlgFTPCommand::connectTo(int index)
{
    if (index < 0 || index >= static_cast<int>(entries_.size()))
        return;
    connectedEntry_ = index;
    if (!browser_.connect(entries_[static_cast<size_t>(index)]))
        return;
    fillPanes();
}

void CDlgFTPCommand::fillPanes()
{
    fillRemotePane();
    fillLocalPane();
}

void CDlgFTPCommand::fillRemotePane()
{
    fillPane(remotePane_, browser_.remoteRows(), false);
    fillPathList(remotePath_, browser_.remotePathItems(), browser_.remoteDirectory());
}

void CDlgFTPCommand::fillLocalPane()
{
    fillPane(localPane_, browser_.localRows(), true);
    fillPathList(localPath_, browser_.localPathItems(), browser_.localDirectory());
}

void CDlgFTPCommand::fillPane(QTreeWidget* pane, const std::vector<BrowserRow>& rows, bool local)
{
    QFileIconProvider icons;
    synchronising_ = true;
    pane->clear();
    QList<QTreeWidgetItem*> items;
    for (size_t i = 0; i < rows.size(); ++i) {
        const BrowserRow& row = rows[i];
        auto* item = new QTreeWidgetItem;
        item->setText(0, toQt(row.name));
        if (!row.isDirectory)
            item->setText(1, QString::number(row.size));
        if (row.time != 0)
            item->setText(2, toQt(FtpBrowser::dateText(row.time)));
        item->setData(0, kRowIndexRole, static_cast<int>(i));
        item->setData(0, kKindRole, row.isDirectory ? 1 : 0);
        if (row.isDirectory)
            item->setIcon(0, icons.icon(QAbstractFileIconProvider::Folder));
        else if (local)
            item->setIcon(0, icons.icon(QFileInfo(toQt(browser_.localPath(row.name)))));
        else
            item->setIcon(0, icons.icon(QAbstractFileIconProvider::File));
        items.append(item);
    }
    pane->addTopLevelItems(items);
    synchronising_ = false;
}

void CDlgFTPCommand::fillPathList(QComboBox* list, const std::vector<std::string>& items, const std::string& current)
{
    list->clear();
    for (const std::string& item : items)
        list->addItem(toQt(item));
    list->setCurrentIndex(list->findText(toQt(current)));
}

QTreeWidget* CDlgFTPCommand::paneWidget(Pane pane) const
{
    return pane == Pane::Remote ? remotePane_ : localPane_;
}

std::vector<BrowserRow> CDlgFTPCommand::selectedRows(Pane pane) const
{
    const std::vector<BrowserRow>& rows = pane == Pane::Remote ? browser_.remoteRows() : browser_.localRows();
    QTreeWidget* widget = paneWidget(pane);
    std::vector<BrowserRow> selected;
    for (int i = 0; i < widget->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = widget->topLevelItem(i);
        int index = item->data(0, kRowIndexRole).toInt();
        if (item->isSelected() && index >= 0 && index < static_cast<int>(rows.size()))
            selected.push_back(rows[static_cast<size_t>(index)]);
    }
    return selected;
}

void CDlgFTPCommand::activate(Pane pane)
{
    std::vector<BrowserRow> rows = selectedRows(pane);
    if (rows.empty())
        return;
    if (pane == Pane::Remote) {
        browser_.openRemote(rows.front().name, synchron_->isChecked());
        fillPanes();
        return;
    }
    std::string file = browser_.openLocal(rows.front(), synchron_->isChecked());
    if (!file.empty()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(toQt(file)));
        return;
    }
    fillPanes();
}

void CDlgFTPCommand::runTransfer(const std::vector<FtpOperation>& batch)
{
    if (!batch.empty())
        runBatch_(batch);
    browser_.fillLocal();
    browser_.relist();
    fillPanes();
}

void CDlgFTPCommand::download()
{
    std::vector<BrowserRow> rows = selectedRows(Pane::Remote);
    if (rows.empty())
        return;
    std::vector<FtpOperation> batch = browser_.downloadBatch(rows);
    if (!overwrite_->isChecked()) {
        std::vector<std::string> existing = browser_.downloadConflicts(batch);
        if (!existing.empty() && !askOverwrite_(existing))
            batch.clear();
    }
    runTransfer(batch);
}

void CDlgFTPCommand::upload()
{
    std::vector<BrowserRow> rows = selectedRows(Pane::Local);
    if (rows.empty())
        return;
    std::vector<FtpOperation> batch = browser_.uploadBatch(rows);
    if (!overwrite_->isChecked()) {
        std::vector<std::string> existing = browser_.uploadConflicts(batch);
        if (!existing.empty() && !askOverwrite_(existing))
            batch.clear();
    }
    runTransfer(batch);
}

void CDlgFTPCommand::newFolder(Pane pane)
{
    QString value;
    if (!askValue_(browser_text::text(strings_, "browser.valuefolder"), value))
        return;
    if (pane == Pane::Local) {
        (void)browser_.makeLocalDirectory(fromQt(value));
        browser_.fillLocal();
        fillLocalPane();
    } else {
        browser_.makeRemoteDirectory(fromQt(value));
        fillRemotePane();
    }
}

void CDlgFTPCommand::renameSelected(Pane pane)
{
    std::vector<BrowserRow> rows = selectedRows(pane);
    if (rows.empty())
        return;
    QString value = toQt(rows.front().name);
    if (!askValue_(browser_text::text(strings_, "browser.valuerename"), value))
        return;
    if (pane == Pane::Local) {
        (void)browser_.renameLocal(rows.front().name, fromQt(value));
        browser_.fillLocal();
        fillLocalPane();
    } else {
        browser_.renameRemote(rows.front().name, fromQt(value));
        fillRemotePane();
    }
}

void CDlgFTPCommand::deleteSelected(Pane pane)
{
    std::vector<BrowserRow> rows = selectedRows(pane);
    if (pane == Pane::Local) {
        // Local files are gone for good: the same question as for the server.
        int files = 0;
        for (const BrowserRow& row : rows)
            if (!row.isDirectory)
                ++files;
        if (files > 0 && ask_(browser_text::fillNumbers(strings_("102"), { files })))
            (void)browser_.deleteLocalFiles(rows);
    } else {
        std::vector<FtpOperation> batch = browser_.remoteDeleteBatch(rows);
        int files = FtpBrowser::deleteFileCount(batch);
        if (!batch.empty() && (files == 0 || ask_(browser_text::fillNumbers(strings_("102"), { files }))))
            runBatch_(batch);
    }
    browser_.fillLocal();
    browser_.relist();
    fillPanes();
}

void CDlgFTPCommand::showDifferences()
{
    synchronising_ = true;
    for (Pane pane : { Pane::Local, Pane::Remote }) {
        QTreeWidget* widget = paneWidget(pane);
        const std::vector<BrowserRow>& rows = pane == Pane::Remote ? browser_.remoteRows() : browser_.localRows();
        const std::vector<BrowserRow>& other = pane == Pane::Remote ? browser_.localRows() : browser_.remoteRows();
        widget->clearSelection();
        for (int index : FtpBrowser::oneSidedRows(rows, other))
            widget->topLevelItem(index)->setSelected(true);
    }
    synchronising_ = false;
}

void CDlgFTPCommand::softRelaunch()
{
    if (connectedEntry_ < 0)
        return;
    ServerEntry& entry = entries_[static_cast<size_t>(connectedEntry_)];
    if (!entry.project) {
        inform_(browser_text::text(strings_, "browser.projectsonly"));
        return;
    }
    std::string before = browser_.localDirectory();
    openRelaunch_(*entry.project);
    browser_.relist();
    (void)browser_.setLocalDirectory(before);
    browser_.fillLocal();
    fillPanes();
}

void CDlgFTPCommand::openSites()
{
    CDlgSiteList dialog(strings_, sites_, sitesFallbackPath_, this);
    dialog.exec();
    buildServerEntries();
}

void CDlgFTPCommand::browseLocalFolder()
{
    QString folder = QFileDialog::getExistingDirectory(
        this, browser_text::text(strings_, "browser.directory"), toQt(browser_.localDirectory()));
    if (folder.isEmpty())
        return;
    browser_.chooseLocalPath(fromQt(folder), false);
    fillLocalPane();
}

void CDlgFTPCommand::followSelection(QTreeWidget* from, QTreeWidget* to)
{
    if (synchronising_ || !synchron_->isChecked() || !from->hasFocus())
        return;
    synchronising_ = true;
    const std::vector<BrowserRow>& toRows = to == remotePane_ ? browser_.remoteRows() : browser_.localRows();
    if (QTreeWidgetItem* top = from->itemAt(1, 1)) {
        int row = FtpBrowser::rowNamed(toRows, fromQt(top->text(0)));
        if (row >= 0)
            to->scrollToItem(to->topLevelItem(row), QAbstractItemView::PositionAtTop);
    }
    to->clearSelection();
    std::vector<std::string> names;
    for (QTreeWidgetItem* item : from->selectedItems())
        names.push_back(fromQt(item->text(0)));
    for (int row : FtpBrowser::rowsNamed(toRows, names))
        to->topLevelItem(row)->setSelected(true);
    synchronising_ = false;
}

void CDlgFTPCommand::followScrolling(QTreeWidget* from, QTreeWidget* to)
{
    if (synchronising_ || !synchron_->isChecked())
        return;
    QTreeWidgetItem* top = from->itemAt(1, 1);
    if (!top)
        return;
    const std::vector<BrowserRow>& toRows = to == remotePane_ ? browser_.remoteRows() : browser_.localRows();
    int row = FtpBrowser::rowNamed(toRows, fromQt(top->text(0)));
    if (row < 0)
        return;
    synchronising_ = true;
    to->scrollToItem(to->topLevelItem(row), QAbstractItemView::PositionAtTop);
    synchronising_ = false;
}

void CDlgFTPCommand::showContextMenu(Pane pane, const QPoint& position)
{
    auto text = [&](const char* key) { return browser_text::text(strings_, key); };
    QMenu menu(this);
    QAction* newFolderAction = menu.addAction(text("browser.newfolder"));
    QAction* renameAction = menu.addAction(text("browser.rename"));
    QAction* deleteAction = menu.addAction(text("browser.delete"));
    menu.addSeparator();
    QAction* differencesAction = menu.addAction(text("browser.differences"));
    QAction* relaunchAction = menu.addAction(text("browser.relaunch"));
    QAction* chosen = menu.exec(paneWidget(pane)->viewport()->mapToGlobal(position));
    if (chosen == newFolderAction)
        newFolder(pane);
    else if (chosen == renameAction)
        renameSelected(pane);
    else if (chosen == deleteAction)
        deleteSelected(pane);
    else if (chosen == differencesAction)
        showDifferences();
    else if (chosen == relaunchAction)
        softRelaunch();
}

bool CDlgFTPCommand::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == remotePane_ || watched == localPane_) {
        Pane pane = watched == remotePane_ ? Pane::Remote : Pane::Local;
        if (event->type() == QEvent::FocusIn) {
            hadFocus_ = true;
            focusPane_ = pane;
        } else if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                activate(pane);
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CDlgFTPCommand::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (hadFocus_)
            activate(focusPane_);
        return;
    }
    QDialog::keyPressEvent(event);
}
