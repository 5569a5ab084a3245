#include "ui/log_window.h"

#include "ui/log_line_model.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QFileDialog>
#include <QListView>
#include <QMenuBar>
#include <QVBoxLayout>

LogWindow::LogWindow(const UiStrings& strings, QWidget* parent)
    : QDialog(parent)
    , strings_(strings)
    , model_(new LogLineModel(ActivityLog::kDefaultCapacity, this))
    , list_(new QListView(this))
{
    setWindowTitle(strings("log.title"));
    setWindowIcon(app_icons::idle());
    list_->setModel(model_);
    list_->setUniformItemSizes(true);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);

    auto* menuBar = new QMenuBar(this);
    QMenu* menu = menuBar->addMenu(strings("log.menu"));
    menu->addAction(strings("log.delete"), this, &LogWindow::deleteLines);
    menu->addAction(strings("log.save"), this, &LogWindow::saveLines);

    auto* layout = new QVBoxLayout(this);
    layout->setMenuBar(menuBar);
    layout->addWidget(list_);
    resize(640, 400);

    askSavePath_ = [this](const QString& proposedName) {
        QFileDialog dialog(this, strings_("log.savetitle"), QString(), strings_("log.filter"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("txt"));
        dialog.selectFile(proposedName);
        return dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty() ? dialog.selectedFiles().first()
                                                                                       : QString();
    };
}

void LogWindow::appendLogLine(const std::string& text)
{
    model_->append(text);
}

void LogWindow::deleteLines()
{
    model_->clear();
}

void LogWindow::saveLines()
{
    const QString path = askSavePath_(QStringLiteral("ftp.txt"));
    if (path.isEmpty())
        return;
    // A file that cannot be written leaves nothing to report.
    (void)model_->log().saveTo(path.toStdString());
}
