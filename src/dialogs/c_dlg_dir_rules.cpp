#include "dialogs/c_dlg_dir_rules.h"

#include "dialogs/dialog_text.h"
#include "dialogs/ok_cancel_buttons.h"
#include "engine/wildcard.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <filesystem>
#include <system_error>

using dialog_text::fromQt;
using dialog_text::shownLines;
using dialog_text::storedLines;
using dialog_text::toQt;

namespace {

constexpr int kStateRole = Qt::UserRole + 1;
constexpr int kDelayMilliseconds = 300;
constexpr int kProgressEvery = 16;

} // namespace

CDlgDirRules::CDlgDirRules(
    const UiStrings& strings, std::string localRoot, std::string remoteRoot, QString rulesText, QWidget* parent)
    : QDialog(parent)
    , localRoot_(std::move(localRoot))
    , remoteRoot_(std::move(remoteRoot))
    , rulesText_(std::move(rulesText))
    , list_(new QTreeWidget(this))
    , rules_(new QPlainTextEdit(this))
    , status_(new QLabel(strings("rules.initial"), this))
    , evaluateTimer_(new QTimer(this))
    , scanTimer_(new QTimer(this))
{
    setWindowTitle(strings("rules.title"));
    setWindowIcon(app_icons::idle());
    setSizeGripEnabled(true);
    list_->setRootIsDecorated(false);
    list_->setUniformRowHeights(true);
    list_->setHeaderLabels({ strings("rules.name"), strings("rules.rule") });
    list_->setColumnWidth(0, 450);
    list_->setColumnWidth(1, 100);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_, 3);
    layout->addWidget(new QLabel(strings("rules.script"), this));
    layout->addWidget(rules_, 1);
    layout->addWidget(status_);
    auto* buttons = makeOkCancelButtons(*this, strings);
    layout->addWidget(buttons);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) { toggleRow(item); });
    resize(640, 520);

    evaluateTimer_->setSingleShot(true);
    evaluateTimer_->setInterval(kDelayMilliseconds);
    connect(evaluateTimer_, &QTimer::timeout, this, &CDlgDirRules::evaluateRows);
    scanTimer_->setSingleShot(true);
    scanTimer_->setInterval(kDelayMilliseconds);
    connect(scanTimer_, &QTimer::timeout, this, [this] {
        scanTree();
        evaluateRows();
    });
    scanTimer_->start();
    rules_->setPlainText(shownLines(rulesText_));
    connect(rules_, &QPlainTextEdit::textChanged, evaluateTimer_, qOverload<>(&QTimer::start));
    evaluateTimer_->start();
}

QString CDlgDirRules::fieldRules() const
{
    return storedLines(rules_->toPlainText());
}

void CDlgDirRules::scanTree()
{
    if (scanned_)
        return;
    scanned_ = true;
    scanDirectory(localRoot_, remoteRoot_);
}

void CDlgDirRules::scanDirectory(const std::string& localPath, const std::string& listPath)
{
    if (closed_)
        return;
    auto* item = new QTreeWidgetItem(list_, { toQt(listPath), QString() });
    setRowState(item, RowState::NotEvaluated);
    paths_.push_back(listPath);
    if (++directoryCount_ % kProgressEvery == 0)
        status_->setText(toQt(localPath));
    // Long scans keep the window alive.
    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);

    std::error_code error;
    std::filesystem::directory_iterator entries(localPath, error);
    if (error)
        return;
    for (const std::filesystem::directory_entry& entry : entries) {
        // A link to a folder is not followed: it could lead back up the tree.
        std::error_code statusError;
        if (entry.symlink_status(statusError).type() != std::filesystem::file_type::directory || statusError)
            continue;
        const std::string name = entry.path().filename().string();
        if (name == "." || name == "..")
            continue;
        scanDirectory(localPath + "/" + name, listPath + "/" + name);
        if (closed_)
            return;
    }
}

CDlgDirRules::Evaluation CDlgDirRules::evaluate(const std::vector<std::string>& paths, const QString& rulesText)
{
    const std::vector<std::string> rules = dialog_text::splitLines(rulesText);
    Evaluation result;
    result.rules.resize(paths.size());
    std::string prefix;
    for (size_t row = 0; row < paths.size(); ++row) {
        const std::string& path = paths[row];
        ++result.total;
        if (!prefix.empty()) {
            if (path.compare(0, prefix.size(), prefix) == 0) {
                result.rules[row] = prefix;
                ++result.excluded;
                continue;
            }
            prefix.clear();
        }
        bool matched = false;
        for (const std::string& rule : rules) {
            if (MatchWildcard(path, rule)) {
                result.rules[row] = rule;
                prefix = rule;
                matched = true;
                break;
            }
        }
        if (matched)
            ++result.excluded;
        else
            ++result.included;
    }
    return result;
}

void CDlgDirRules::evaluateRows()
{
    const Evaluation evaluation = evaluate(paths_, fieldRules());
    for (int row = 0; row < list_->topLevelItemCount() && row < static_cast<int>(paths_.size()); ++row) {
        QTreeWidgetItem* item = list_->topLevelItem(row);
        const std::string& rule = evaluation.rules[static_cast<size_t>(row)];
        item->setText(1, toQt(rule));
        setRowState(item, rule.empty() ? RowState::Included : RowState::Excluded);
    }
    status_->setText(QString::asprintf("%d-%d=%d Dirs", evaluation.total, evaluation.excluded, evaluation.included));
}

QString CDlgDirRules::toggledRules(const QString& rulesText, const QString& path)
{
    QString text = rulesText;
    const qsizetype found = text.indexOf(path);
    if (found >= 0)
        text.remove(found, path.size() + 2);
    else
        text += path + QStringLiteral("\r\n");
    return text;
}

void CDlgDirRules::toggleRow(QTreeWidgetItem* item)
{
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    QTreeWidgetItem* target = selected.isEmpty() ? item : selected.first();
    if (target == nullptr)
        return;
    const QString path = target->text(0);
    // The empty root row stands in no rule; "removing" it would eat the rules' first characters.
    if (path.isEmpty())
        return;
    const QString text = toggledRules(fieldRules(), path);
    const QSignalBlocker blocker(rules_);
    rules_->setPlainText(shownLines(text));
    evaluateTimer_->stop();
    evaluateRows();
}

void CDlgDirRules::setRowState(QTreeWidgetItem* item, RowState state)
{
    item->setData(0, kStateRole, static_cast<int>(state));
    item->setIcon(0, state == RowState::Excluded ? app_icons::excludedFolder() : app_icons::includedFolder());
}

CDlgDirRules::RowState CDlgDirRules::rowState(int row) const
{
    QTreeWidgetItem* item = list_->topLevelItem(row);
    return item == nullptr ? RowState::NotEvaluated : static_cast<RowState>(item->data(0, kStateRole).toInt());
}

void CDlgDirRules::accept()
{
    rulesText_ = fieldRules();
    QDialog::accept();
}

void CDlgDirRules::done(int result)
{
    closed_ = true;
    evaluateTimer_->stop();
    scanTimer_->stop();
    QDialog::done(result);
}
