#include "dialogs/c_dlg_web_project.h"

#include "config/machine_options.h"
#include "connect/site_password.h"
#include "dialogs/c_dlg_edit.h"
#include "dialogs/c_dlg_expert.h"
#include "dialogs/dialog_text.h"
#include "dialogs/hint_event_filter.h"
#include "dialogs/password_field.h"
#include "dialogs/strategy_box.h"
#include "shell/connection_check.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <strings.h>

using dialog_text::fromQt;
using dialog_text::toQt;

namespace {

QString trustQuestion(const UiStrings& strings, const ConnectionCheckResult& result)
{
    if (result.outcome == ConnectionOutcome::UnknownHostKey)
        return strings("web.hostkey.question").arg(toQt(result.hostKeyFingerprint), toQt(result.server));
    const PeerCertificate& certificate = result.certificate;
    return strings("web.cert.question")
        .arg(toQt(certificate.problem), toQt(certificate.subject), toQt(certificate.issuer),
            toQt(certificate.notBefore), toQt(certificate.notAfter), toQt(certificate.fingerprint),
            toQt(result.server));
}

QString outcomeMessage(const UiStrings& strings, const ConnectionCheckResult& result)
{
    if (result.outcome == ConnectionOutcome::Passed)
        return strings("110");
    const char* step = result.outcome == ConnectionOutcome::DataConnectionFailed ? "web.test.data" : "web.test.connect";
    return strings("111") + QStringLiteral("\r\n") + strings(step) + toQt(result.transcript);
}

} // namespace

CDlgWebProject::CDlgWebProject(const UiStrings& strings, const MachineOptions& options, std::string dataDirectory,
    std::vector<Entry> mainList, QWidget* parent)
    : QDialog(parent)
    , strings_(strings)
    , options_(options)
    , dataDirectory_(std::move(dataDirectory))
    , configuration_(new QComboBox(this))
    , server_(new QLineEdit(this))
    , user_(new QLineEdit(this))
    , password_(new QLineEdit(this))
    , startDirectory_(new QLineEdit(this))
    , localDirectory_(new QLineEdit(this))
    , minutes_(new QLineEdit(this))
    , delete_(new QCheckBox(strings("web.delete"), this))
    , watch_(new QCheckBox(strings("web.watch"), this))
    , strategy_(new StrategyBox(strings, this))
    , hint_(new QLabel(strings("hints.initial"), this))
{
    setWindowTitle(strings("web.title"));
    setWindowIcon(app_icons::idle());

    auto* layout = new QGridLayout(this);
    addButtons(*layout, addFields(*layout));
    watchHints();
    prompts_ = desktopPrompts();

    for (Entry& entry : mainList) {
        projects_.push_back(
            { std::move(entry.name), std::make_unique<ProjectSettings>(std::move(entry.project)), true });
    }
    fillConfigurationBox();
    resize(640, 460);
}

CDlgWebProject::~CDlgWebProject() = default;

// The fields and the hint box, one row each; answers the number of rows.
int CDlgWebProject::addFields(QGridLayout& layout)
{
    int row = 0;
    layout.addWidget(new QLabel(strings_("web.configuration"), this), row, 0);
    layout.addWidget(configuration_, row++, 1, 1, 2);
    layout.addWidget(new QLabel(strings_("web.server"), this), row, 0);
    layout.addWidget(server_, row++, 1, 1, 2);
    layout.addWidget(new QLabel(strings_("web.user"), this), row, 0);
    layout.addWidget(user_, row++, 1, 1, 2);
    layout.addWidget(new QLabel(strings_("web.password"), this), row, 0);
    layout.addWidget(password_, row, 1);
    showPassword_ = maskPasswordField(*password_, strings_, this);
    layout.addWidget(showPassword_, row++, 2);
    layout.addWidget(new QLabel(strings_("web.startdir"), this), row, 0);
    layout.addWidget(startDirectory_, row++, 1, 1, 2);
    layout.addWidget(new QLabel(strings_("web.localdir"), this), row, 0);
    layout.addWidget(localDirectory_, row, 1);
    auto* browse = new QPushButton(strings_("web.browse"), this);
    browse->setMaximumWidth(40);
    layout.addWidget(browse, row++, 2);
    auto* interval = new QHBoxLayout();
    interval->addWidget(new QLabel(strings_("web.interval"), this));
    minutes_->setMaximumWidth(80);
    interval->addWidget(minutes_);
    interval->addWidget(new QLabel(strings_("web.minutes"), this));
    interval->addStretch(1);
    layout.addLayout(interval, row++, 0, 1, 3);
    layout.addWidget(delete_, row++, 0, 1, 3);
    layout.addWidget(watch_, row++, 0, 1, 3);
    layout.addWidget(new QLabel(strings_("web.strategy"), this), row, 0);
    layout.addWidget(strategy_, row++, 1, 1, 2);
    auto* hints = new QGroupBox(strings_("hints.group"), this);
    auto* hintLayout = new QVBoxLayout(hints);
    hint_->setWordWrap(true);
    hint_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    hint_->setMinimumHeight(70);
    hintLayout->addWidget(hint_);
    layout.setRowStretch(row, 1);
    layout.addWidget(hints, row++, 0, 1, 3);
    layout.setColumnStretch(1, 1);
    connect(browse, &QPushButton::clicked, this, &CDlgWebProject::browseLocalDirectory);
    return row;
}

// The buttons run down the right-hand side, over all `rows` of the fields.
void CDlgWebProject::addButtons(QGridLayout& layout, int rows)
{
    auto* buttons = new QVBoxLayout();
    auto* add = new QPushButton(strings_("web.new"), this);
    auto* remove = new QPushButton(strings_("web.remove"), this);
    auto* test = new QPushButton(strings_("web.test"), this);
    auto* expert = new QPushButton(strings_("web.expert"), this);
    auto* save = new QPushButton(strings_("web.save"), this);
    auto* ok = new QPushButton(strings_("button.ok"), this);
    auto* cancel = new QPushButton(strings_("button.cancel"), this);
    for (QPushButton* button : { add, remove, test, expert, save })
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    ok->setDefault(true);
    layout.addLayout(buttons, 0, 3, rows, 1);

    connect(configuration_, &QComboBox::activated, this, &CDlgWebProject::selectEntry);
    connect(add, &QPushButton::clicked, this, &CDlgWebProject::newProject);
    connect(remove, &QPushButton::clicked, this, &CDlgWebProject::deleteProject);
    connect(test, &QPushButton::clicked, this, &CDlgWebProject::testConnection);
    connect(expert, &QPushButton::clicked, this, &CDlgWebProject::openExpert);
    connect(save, &QPushButton::clicked, this, &CDlgWebProject::saveProject);
    connect(ok, &QPushButton::clicked, this, &CDlgWebProject::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void CDlgWebProject::watchHints()
{
    hints_.Load(strings_.hintText(), CHintText::projectKeys());
    auto* filter = new HintEventFilter(hints_, *hint_, this);
    filter->watch(configuration_, 1001);
    filter->watch(server_, 1012);
    filter->watch(user_, 1013);
    filter->watch(password_, 1014);
    filter->watch(startDirectory_, 1015);
    filter->watch(localDirectory_, 1003);
    filter->watch(minutes_, 1041);
    filter->watch(watch_, 1076);
    filter->watch(strategy_, 1026);
}

CDlgWebProject::Prompts CDlgWebProject::desktopPrompts()
{
    Prompts prompts;
    prompts.askName = [this]() -> std::optional<QString> {
        CDlgEdit dialog(strings_, QString(), this);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.value();
    };
    prompts.confirm = [this](const QString& question) {
        return QMessageBox::question(this, strings_("app.title"), question, QMessageBox::Yes | QMessageBox::No)
            == QMessageBox::Yes;
    };
    prompts.inform = [this](const QString& message) { QMessageBox::information(this, strings_("app.title"), message); };
    prompts.pickFolder = [this] {
        return QFileDialog::getExistingDirectory(this, strings_("web.selectdir"), localDirectory_->text());
    };
    prompts.editExpert = [this](ProjectSettings& project) { CDlgExpert(strings_, project, this).exec(); };
    return prompts;
}

void CDlgWebProject::fillConfigurationBox()
{
    std::stable_sort(projects_.begin(), projects_.end(),
        [](const Project& a, const Project& b) { return ::strcasecmp(a.name.c_str(), b.name.c_str()) < 0; });
    configuration_->clear();
    for (const Project& project : projects_)
        configuration_->addItem(toQt(project.name));
    configuration_->setCurrentIndex(-1);
    for (size_t index = 0; index < projects_.size(); ++index) {
        if (projects_[index].settings.get() == current_)
            configuration_->setCurrentIndex(static_cast<int>(index));
    }
}

FtpSite& CDlgWebProject::currentSite()
{
    if (current_->sites.empty())
        current_->sites.emplace_back();
    return current_->sites.front();
}

void CDlgWebProject::fillFields()
{
    minutes_->setText(QString::number(current_->minutes));
    localDirectory_->setText(toQt(current_->local));
    delete_->setChecked(current_->deleteRemoved != 0);
    watch_->setChecked(current_->watch != 0);
    strategy_->showStrategy(current_->strategy);
    const FtpSite& site = currentSite();
    server_->setText(toQt(site.url));
    user_->setText(toQt(site.user));
    passwordEdit_ = std::make_unique<PasswordEdit>(site, passwordProjectName(current_->projectPath), passwords_);
    password_->setText(toQt(passwordEdit_->shown()));
    startDirectory_->setText(toQt(site.startdir));
}

void CDlgWebProject::storeFields()
{
    if (current_ == nullptr)
        return;
    FtpSite& site = currentSite();
    site.url = fromQt(server_->text());
    site.user = fromQt(user_->text());
    if (passwordEdit_)
        passwordEdit_->apply(site, fromQt(password_->text()));
    site.startdir = fromQt(startDirectory_->text());
    if (!site.startdir.empty() && (site.startdir.front() == '/' || site.startdir.front() == '\\'))
        site.startdir.erase(0, 1);
    current_->minutes = dialog_text::storedInterval(minutes_->text());
    minutes_->setText(QString::number(current_->minutes));
    current_->local = fromQt(localDirectory_->text());
    current_->deleteRemoved = delete_->isChecked() ? 1 : 0;
    current_->watch = watch_->isChecked() ? 1 : 0;
    current_->strategy = strategy_->strategy();
    (void)current_->SaveProject();
}

void CDlgWebProject::setPasswordStore(PasswordStore* passwords)
{
    passwords_ = passwords;
    if (current_ != nullptr)
        fillFields();
}

void CDlgWebProject::selectEntry(int index)
{
    if (index < 0 || index >= static_cast<int>(projects_.size()))
        return;
    ProjectSettings* chosen = projects_[static_cast<size_t>(index)].settings.get();
    if (chosen == current_)
        return;
    // What was typed for the project being left is kept, not dropped.
    storeFields();
    current_ = chosen;
    configuration_->setCurrentIndex(index);
    fillFields();
}

void CDlgWebProject::saveProject()
{
    storeFields();
}

void CDlgWebProject::accept()
{
    storeFields();
    QDialog::accept();
}

void CDlgWebProject::newProject()
{
    std::optional<QString> entered = prompts_.askName();
    if (!entered)
        return;
    std::string name = fromQt(*entered);
    // The name becomes a file in the data directory and nowhere else.
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..")
        return;
    storeFields();
    if (name.find(".ini") == std::string::npos)
        name += ".ftp";
    auto project = std::make_unique<ProjectSettings>();
    project->projectPath = dataDirectory_ + name;
    // A site rebuilt by a generator sends only what really changed.
    project->strategy = ProjectSettings::kContentStrategy;
    FtpSite site;
    site.name = "default";
    project->sites.push_back(site);
    current_ = project.get();
    projects_.push_back({ name, std::move(project), false });
    fillConfigurationBox();
    fillFields();
}

void CDlgWebProject::deleteProject()
{
    if (current_ == nullptr)
        return;
    if (!prompts_.confirm(strings_("103")))
        return;
    ::remove(current_->projectPath.c_str());
    const ProjectSettings* deleted = current_;
    current_ = nullptr;
    // Only the projects of the main window's list stay; the deleted one leaves with the new ones.
    std::erase_if(projects_,
        [deleted](const Project& project) { return !project.inMainList || project.settings.get() == deleted; });
    fillConfigurationBox();
}

void CDlgWebProject::testConnection()
{
    const TrustStores stores = TrustStores::inFolder(dataDirectory_);
    ConnectionCheckRequest request;
    request.url = fromQt(server_->text());
    request.user = fromQt(user_->text());
    request.password = fromQt(password_->text());
    request.startDirectory = fromQt(startDirectory_->text());
    if (current_ != nullptr)
        request.keyFile = currentSite().keyfile;
    ConnectionCheckResult result = checkConnection(options_, stores, request);
    // Trusting on the spot earns one more try; a second refusal is reported, not asked again.
    if (offersTrust(result) && prompts_.confirm(trustQuestion(strings_, result)) && trustOffered(result, stores))
        result = checkConnection(options_, stores, request);
    prompts_.inform(outcomeMessage(strings_, result));
}

void CDlgWebProject::browseLocalDirectory()
{
    if (current_ == nullptr)
        return;
    const QString folder = prompts_.pickFolder();
    // A cancelled picker leaves the field as it was.
    if (!folder.isEmpty())
        localDirectory_->setText(folder);
}

void CDlgWebProject::openExpert()
{
    if (current_ == nullptr)
        return;
    (void)currentSite();
    current_->strategy = strategy_->strategy();
    prompts_.editExpert(*current_);
    strategy_->showStrategy(current_->strategy);
}
