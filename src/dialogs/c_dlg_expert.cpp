#include "dialogs/c_dlg_expert.h"

#include "config/project_settings.h"
#include "config/transfer_rate.h"
#include "dialogs/c_dlg_dir_rules.h"
#include "dialogs/c_dlg_edit_text.h"
#include "dialogs/dialog_text.h"
#include "dialogs/hint_event_filter.h"
#include "dialogs/strategy_box.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

using dialog_text::fromQt;
using dialog_text::joinSeparated;
using dialog_text::joinTerminated;
using dialog_text::shownLines;
using dialog_text::splitLines;
using dialog_text::storedLines;
using dialog_text::toQt;

CDlgExpert::CDlgExpert(const UiStrings& strings, ProjectSettings& project, QWidget* parent)
    : QDialog(parent)
    , strings_(strings)
    , project_(project)
    , report_(new QLineEdit(this))
    , archive_(new QLineEdit(this))
    , maximum_(new QLineEdit(this))
    , directories_(new QPlainTextEdit(this))
    , files_(new QPlainTextEdit(this))
    , atomic_(new QCheckBox(strings("expert.atomic"), this))
    , connections_(new QSpinBox(this))
    , keyFile_(new QLineEdit(this))
    , rateLimit_(new QLineEdit(this))
    , strategy_(new StrategyBox(strings, this))
    , hint_(new QLabel(strings("hints.initial"), this))
{
    setWindowTitle(strings("expert.title"));
    setWindowIcon(app_icons::idle());
    if (project_.sites.empty())
        project_.sites.emplace_back();

    auto* layout = new QGridLayout(this);
    addReportBox(*layout);
    const RowLabels labels = addSkipAndConnectionRows(*layout);
    addHintBox(*layout);
    addButtons(*layout);
    watchHints(labels);
    editScript_ = [this](const QString& text) -> std::optional<QString> {
        CDlgEditText dialog(strings_, text, this);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.value();
    };
    editRules_ = [this](const QString& text) -> std::optional<QString> {
        CDlgDirRules dialog(strings_, project_.local, project_.sites.front().startdir, text, this);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.rulesText();
    };

    report_->setText(toQt(project.htmlreport));
    archive_->setText(toQt(project.archivdir));
    maximum_->setText(QString::number(project.archmax));
    directories_->setPlainText(shownLines(joinSeparated(project.forbiddenDirectories)));
    files_->setPlainText(shownLines(joinSeparated(project.forbiddenFiles)));
    atomic_->setChecked(project.sites.front().atomic);
    connections_->setValue(project.sites.front().connections);
    keyFile_->setText(toQt(project.sites.front().keyfile));
    if (const int64_t limit = project.sites.front().uploadRateLimit; limit > 0)
        rateLimit_->setText(toQt(transferRateText(limit)));
    strategy_->showStrategy(project.strategy);
    resize(720, 560);
}

void CDlgExpert::addReportBox(QGridLayout& layout)
{
    auto* report = new QGroupBox(strings_("expert.htmlgroup"), this);
    auto* reportLayout = new QGridLayout(report);
    reportLayout->addWidget(new QLabel(strings_("expert.report"), report), 0, 0);
    reportLayout->addWidget(new QLabel(strings_("expert.uploadas"), report), 1, 0);
    reportLayout->addWidget(report_, 1, 1, 1, 3);
    reportLayout->addWidget(new QLabel(strings_("expert.archive"), report), 2, 0);
    reportLayout->addWidget(archive_, 2, 1);
    reportLayout->addWidget(new QLabel(strings_("expert.max"), report), 2, 2);
    maximum_->setMaximumWidth(70);
    reportLayout->addWidget(maximum_, 2, 3);
    for (const char* key : { "expert.example", "expert.explain" }) {
        auto* label = new QLabel(strings_(key), report);
        label->setWordWrap(true);
        reportLayout->addWidget(label, reportLayout->rowCount(), 0, 1, 4);
    }
    reportLayout->setColumnStretch(1, 1);
    layout.addWidget(report, 0, 0, 1, 2);
}

// The skip lists side by side, the upload and connection settings under them; answers the
// labels that explain their field as well.
CDlgExpert::RowLabels CDlgExpert::addSkipAndConnectionRows(QGridLayout& layout)
{
    auto* skipDirectories = new QGroupBox(strings_("expert.skipdirs"), this);
    auto* directoriesLayout = new QVBoxLayout(skipDirectories);
    directoriesLayout->addWidget(directories_);
    auto* modify = new QPushButton(strings_("expert.modify"), skipDirectories);
    directoriesLayout->addWidget(modify, 0, Qt::AlignRight);
    layout.addWidget(skipDirectories, 1, 0);
    auto* skipFiles = new QGroupBox(strings_("expert.skipfiles"), this);
    auto* filesLayout = new QVBoxLayout(skipFiles);
    filesLayout->addWidget(files_);
    layout.addWidget(skipFiles, 1, 1);
    layout.addWidget(atomic_, 2, 0);
    auto* connectionsRow = new QHBoxLayout();
    auto* connectionsLabel = new QLabel(strings_("expert.connections"), this);
    connectionsLabel->setBuddy(connections_);
    connections_->setRange(FtpSite::kMinConnections, FtpSite::kMaxConnections);
    connectionsRow->addWidget(connectionsLabel);
    connectionsRow->addWidget(connections_);
    connectionsRow->addStretch(1);
    auto* keyFileLabel = new QLabel(strings_("expert.keyfile"), this);
    keyFileLabel->setBuddy(keyFile_);
    connectionsRow->addWidget(keyFileLabel);
    connectionsRow->addWidget(keyFile_, 2);
    auto* rateLimitLabel = new QLabel(strings_("expert.bwlimit"), this);
    rateLimitLabel->setBuddy(rateLimit_);
    rateLimit_->setMaximumWidth(80);
    connectionsRow->addWidget(rateLimitLabel);
    connectionsRow->addWidget(rateLimit_);
    layout.addLayout(connectionsRow, 2, 1);
    auto* strategyRow = new QHBoxLayout();
    auto* strategyLabel = new QLabel(strings_("web.strategy"), this);
    strategyLabel->setBuddy(strategy_);
    strategyRow->addWidget(strategyLabel);
    strategyRow->addWidget(strategy_, 1);
    layout.addLayout(strategyRow, 3, 0, 1, 2);
    connect(modify, &QPushButton::clicked, this, &CDlgExpert::editDirectoryRules);
    return { connectionsLabel, keyFileLabel, strategyLabel, rateLimitLabel };
}

void CDlgExpert::addHintBox(QGridLayout& layout)
{
    auto* hints = new QGroupBox(strings_("hints.group"), this);
    auto* hintLayout = new QVBoxLayout(hints);
    hint_->setWordWrap(true);
    hint_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    hint_->setMinimumHeight(60);
    hintLayout->addWidget(hint_);
    layout.addWidget(hints, 4, 0, 1, 2);
}

void CDlgExpert::addButtons(QGridLayout& layout)
{
    auto* buttons = new QVBoxLayout();
    auto* scripts = new QLabel(strings_("expert.scripts"), this);
    auto* before = new QPushButton(strings_("expert.before"), this);
    auto* after = new QPushButton(strings_("expert.after"), this);
    auto* sample = new QPushButton(strings_("expert.sample"), this);
    auto* frontPage = new QPushButton(strings_("expert.frontpage"), this);
    auto* ok = new QPushButton(strings_("button.ok"), this);
    auto* cancel = new QPushButton(strings_("expert.cancel"), this);
    buttons->addWidget(scripts);
    buttons->addWidget(before);
    buttons->addWidget(after);
    buttons->addSpacing(12);
    buttons->addWidget(sample);
    buttons->addWidget(frontPage);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    ok->setDefault(true);
    layout.addLayout(buttons, 0, 2, 5, 1);
    layout.setRowStretch(1, 1);

    connect(before, &QPushButton::clicked, this, &CDlgExpert::editBeforeScript);
    connect(after, &QPushButton::clicked, this, &CDlgExpert::editAfterScript);
    connect(sample, &QPushButton::clicked, this, &CDlgExpert::fillSample);
    connect(frontPage, &QPushButton::clicked, this, &CDlgExpert::addFrontPageRules);
    connect(ok, &QPushButton::clicked, this, &CDlgExpert::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CDlgExpert::watchHints(const RowLabels& labels)
{
    hints_.Load(strings_.hintText(), CHintText::projectKeys());
    auto* filter = new HintEventFilter(hints_, *hint_, this);
    filter->watch(report_, 1070);
    filter->watch(archive_, 1071);
    filter->watch(maximum_, 1072);
    filter->watch(directories_, 1019);
    filter->watch(files_, 1023);
    filter->watch(atomic_, 1073);
    filter->watch(labels.connections, 1074);
    filter->watch(connections_, 1074);
    filter->watch(labels.keyFile, 1075);
    filter->watch(keyFile_, 1075);
    filter->watch(labels.rateLimit, 1077);
    filter->watch(rateLimit_, 1077);
    filter->watch(labels.strategy, 1026);
    filter->watch(strategy_, 1026);
}

void CDlgExpert::accept()
{
    const QString rateText = rateLimit_->text().trimmed();
    const std::optional<int64_t> rateLimit = rateText.isEmpty() ? 0 : parseTransferRate(fromQt(rateText));
    if (!rateLimit) {
        // Saving a guess could leave a site crawling or uncapped without a word.
        hint_->setText(strings_("expert.bwlimitbad"));
        rateLimit_->setFocus();
        return;
    }
    project_.sites.front().uploadRateLimit = *rateLimit;
    project_.htmlreport = fromQt(report_->text());
    project_.archivdir = fromQt(archive_->text());
    project_.archmax = dialog_text::readLeadingInt(maximum_->text());
    project_.forbiddenDirectories = splitLines(directories_->toPlainText());
    project_.forbiddenFiles = splitLines(files_->toPlainText());
    project_.sites.front().atomic = atomic_->isChecked();
    project_.sites.front().connections = connections_->value();
    project_.sites.front().keyfile = fromQt(keyFile_->text().trimmed());
    project_.strategy = strategy_->strategy();
    QDialog::accept();
}

void CDlgExpert::fillSample()
{
    if (report_->text().isEmpty())
        report_->setText(QStringLiteral("/report.html"));
    if (archive_->text().isEmpty())
        archive_->setText(QStringLiteral("/Archivdateien"));
    if (maximum_->text().isEmpty())
        maximum_->setText(QStringLiteral("60"));
}

void CDlgExpert::addFrontPageRules()
{
    QString text = storedLines(directories_->toPlainText());
    for (const QString& pattern : { QStringLiteral("*_vti_cnf"), QStringLiteral("*_vti_pvt") }) {
        if (text.contains(pattern))
            continue;
        if (!text.isEmpty())
            text += QStringLiteral("\r\n");
        text += pattern;
    }
    directories_->setPlainText(shownLines(text));
}

void CDlgExpert::editBeforeScript()
{
    std::vector<std::string>& script = project_.sites.front().preScript;
    if (std::optional<QString> edited = editScript_(joinTerminated(script)))
        script = splitLines(*edited);
}

void CDlgExpert::editAfterScript()
{
    std::vector<std::string>& script = project_.sites.front().postScript;
    if (std::optional<QString> edited = editScript_(joinTerminated(script)))
        script = splitLines(*edited);
}

void CDlgExpert::editDirectoryRules()
{
    if (std::optional<QString> edited = editRules_(storedLines(directories_->toPlainText())))
        directories_->setPlainText(shownLines(*edited));
}
