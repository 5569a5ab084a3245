#include "dialogs/c_dlg_sites.h"

#include "config/ftp_site.h"
#include "connect/site_password.h"
#include "dialogs/dialog_text.h"
#include "dialogs/ok_cancel_buttons.h"
#include "dialogs/password_field.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QVBoxLayout>

using dialog_text::fromQt;
using dialog_text::toQt;

CDlgSites::CDlgSites(const UiStrings& strings, FtpSite& site, QWidget* parent, PasswordStore* passwords)
    : QDialog(parent)
    , site_(site)
    // The sites book belongs to no project.
    , passwordEdit_(std::make_unique<PasswordEdit>(site, std::string(), passwords))
    , name_(new QLineEdit(this))
    , url_(new QLineEdit(this))
    , user_(new QLineEdit(this))
    , password_(new QLineEdit(this))
    , directory_(new QLineEdit(this))
    , localDirectory_(new QLineEdit(this))
    , anonymous_(new QCheckBox(strings("sites.anonymous"), this))
{
    setWindowTitle(strings("sites.title"));
    setWindowIcon(app_icons::idle());
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout();
    form->addRow(strings("sites.name"), name_);
    form->addRow(strings("sites.url"), url_);
    form->addRow(strings("sites.user"), user_);
    auto* passwordRow = new QHBoxLayout();
    passwordRow->addWidget(password_, 1);
    showPassword_ = maskPasswordField(*password_, strings, this);
    passwordRow->addWidget(showPassword_);
    form->addRow(strings("sites.password"), passwordRow);
    form->addRow(QString(), anonymous_);
    form->addRow(strings("sites.directory"), directory_);
    form->addRow(strings("sites.localdir"), localDirectory_);
    layout->addLayout(form);
    auto* buttons = makeOkCancelButtons(*this, strings);
    layout->addWidget(buttons);
    connect(anonymous_, &QCheckBox::clicked, this, [this](bool checked) {
        if (!checked)
            return;
        user_->setText(QStringLiteral("anonymous"));
        password_->setText(QStringLiteral("gast@"));
    });

    filling_ = true;
    name_->setText(toQt(site.name));
    url_->setText(toQt(site.url));
    user_->setText(toQt(site.user));
    password_->setText(toQt(passwordEdit_->shown()));
    directory_->setText(toQt(site.startdir));
    localDirectory_->setText(toQt(site.localDirectory));
    filling_ = false;
    setMinimumWidth(420);
}

CDlgSites::~CDlgSites() = default;

void CDlgSites::accept()
{
    if (!filling_) {
        site_.name = fromQt(name_->text());
        site_.url = fromQt(url_->text());
        site_.user = fromQt(user_->text());
        site_.localDirectory = fromQt(localDirectory_->text());
        site_.startdir = fromQt(directory_->text());
        passwordEdit_->apply(site_, fromQt(password_->text()));
    }
    QDialog::accept();
}
