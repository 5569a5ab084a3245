#include "dialogs/c_dlg_relaunch.h"

#include "dialogs/browser_text.h"
#include "dialogs/dialog_text.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>
#include <QTreeWidget>
#include <QVBoxLayout>

using dialog_text::toQt;

CDlgRelaunch::CDlgRelaunch(const UiStrings& strings, RemoteSession& client, const std::string& remoteStart,
    const std::string& localDirectory, const ProjectSettings& project, QWidget* parent)
    : QDialog(parent)
    , strings_(strings)
    , compare_(client, project, localDirectory, remoteStart, *this)
{
    setWindowTitle(browser_text::text(strings, "relaunch.title"));
    auto* layout = new QVBoxLayout(this);
    auto* description = new QLabel(browser_text::text(strings, "relaunch.description"), this);
    description->setWordWrap(true);
    layout->addWidget(description);

    list_ = new QTreeWidget(this);
    QStringList columns = strings.columnNames().mid(0, 2);
    list_->setHeaderLabels(columns);
    list_->setRootIsDecorated(false);
    list_->header()->resizeSection(0, 150);
    list_->header()->resizeSection(1, 150);
    layout->addWidget(list_, 1);

    deleteBox_ = new QCheckBox(strings("1080"), this);
    resendAllBox_ = new QCheckBox(strings("1083"), this);
    layout->addWidget(deleteBox_);
    layout->addWidget(resendAllBox_);
    countsFormat_ = strings("1099");
    counts_ = new QLabel(countsFormat_, this);
    layout->addWidget(counts_);
    status_ = new QLabel(this);
    layout->addWidget(status_);

    auto* buttons = new QHBoxLayout;
    findButton_ = new QPushButton(browser_text::text(strings, "relaunch.find"), this);
    startButton_ = new QPushButton(browser_text::text(strings, "relaunch.start"), this);
    auto* close = new QPushButton(QStringLiteral("OK"), this);
    for (QPushButton* button : { findButton_, startButton_, close }) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    connect(findButton_, &QPushButton::clicked, this, &CDlgRelaunch::find);
    connect(startButton_, &QPushButton::clicked, this, &CDlgRelaunch::start);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    confirm_ = [this](const QString& question) {
        return QMessageBox::warning(this, strings_("app.title"), question, QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes;
    };
    inform_ = [this](const QString& text) { QMessageBox::information(this, strings_("app.title"), text); };
    resize(520, 480);
}

void CDlgRelaunch::onLine(const std::string& text)
{
    // Only the window thread drives the compare; anything else must not touch the label.
    if (QThread::currentThread() != thread())
        return;
    QString line = toQt(text);
    qsizetype cut = line.indexOf(QLatin1Char('\r'));
    status_->setText(cut >= 0 ? line.left(cut) : line);
}

void CDlgRelaunch::find()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    compare_.Find();
    QApplication::restoreOverrideCursor();
    refreshList();
}

void CDlgRelaunch::refreshList()
{
    list_->clear();
    for (const FileItem& item : compare_.items()) {
        auto* row = new QTreeWidgetItem(list_);
        std::string path = item.path;
        size_t slash = path.rfind('/');
        row->setText(0, toQt(slash == std::string::npos ? path : path.substr(slash + 1)));
        row->setText(1, toQt(path));
        row->setIcon(0,
            item.deleted        ? app_icons::deletedFile()
                : !item.changed ? app_icons::unchangedFile()
                                : app_icons::changedFile());
    }
    FullCompare::Counts counts = compare_.counts();
    counts_->setText(browser_text::fillNumbers(countsFormat_, { counts.deleted, counts.changed, counts.sameSize }));
}

void CDlgRelaunch::start()
{
    if (!confirm_(strings_("109")))
        return;
    FullCompare::Deletion deletion = deleteBox_->isChecked() ? FullCompare::Deletion::DeleteServerOnlyFiles
                                                             : FullCompare::Deletion::KeepServerOnlyFiles;
    FullCompare::Resend resend
        = resendAllBox_->isChecked() ? FullCompare::Resend::AlsoSameSize : FullCompare::Resend::ChangedOnly;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    compare_.Start(deletion, resend);
    QApplication::restoreOverrideCursor();
    inform_(browser_text::text(strings_, "relaunch.done"));
}
