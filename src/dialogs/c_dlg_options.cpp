#include "dialogs/c_dlg_options.h"

#include "config/machine_options.h"
#include "dialogs/dialog_text.h"
#include "dialogs/hint_event_filter.h"
#include "dialogs/ok_cancel_buttons.h"
#include "shell/service_registration.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QVBoxLayout>

using dialog_text::fromQt;
using dialog_text::toQt;

namespace {
constexpr int kMaxDialUpEntries = 100;
}

void CDlgOptions::fillDialUpEntries(const DialUpEntries& dialUpEntries, const std::string& chosen)
{
    QStringList entries { strings_("108") };
    if (dialUpEntries) {
        std::vector<std::string> names = dialUpEntries();
        if (names.size() > kMaxDialUpEntries)
            names.resize(kMaxDialUpEntries);
        for (const std::string& name : names)
            entries.append(toQt(name));
    }
    entries.sort();
    dialUp_->addItems(entries);
    noDialUpIndex_ = dialUp_->findText(strings_("108"), Qt::MatchExactly);
    dialUp_->setCurrentIndex(-1);
    // The first entry whose name begins with the stored one, letter case ignored.
    const QString stored = toQt(chosen);
    for (int index = 0; index < dialUp_->count(); ++index) {
        if (dialUp_->itemText(index).startsWith(stored, Qt::CaseInsensitive)) {
            dialUp_->setCurrentIndex(index);
            break;
        }
    }
}

CDlgOptions::CDlgOptions(const UiStrings& strings, MachineOptions& options, std::vector<std::string>& asciiExtensions,
    std::string optionsFile, ServiceRegistration& service, const DialUpEntries& dialUpEntries, QWidget* parent)
    : QDialog(parent)
    , strings_(strings)
    , options_(options)
    , asciiExtensions_(asciiExtensions)
    , optionsFile_(std::move(optionsFile))
    , serviceRegistration_(service)
    , ascii_(new QPlainTextEdit(this))
    , frontPage_(new QCheckBox(strings("options.frontpage"), this))
    , checkSize_(new QCheckBox(strings("options.checksize"), this))
    , dialUp_(new QComboBox(this))
    , disconnect_(new QCheckBox(strings("options.disconnect"), this))
    , passive_(new QCheckBox(strings("options.passive"), this))
    , service_(new QCheckBox(strings("options.service"), this))
    , hint_(new QLabel(strings("hints.options.initial"), this))
{
    setWindowTitle(strings("options.title"));
    setWindowIcon(app_icons::idle());

    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(strings("options.ascii"), this), 0, 0);
    layout->addWidget(ascii_, 1, 0, 7, 1);
    ascii_->setMinimumWidth(160);
    layout->addWidget(frontPage_, 1, 1, 1, 2);
    layout->addWidget(checkSize_, 2, 1, 1, 2);
    layout->addWidget(new QLabel(strings("options.dial"), this), 3, 1);
    layout->addWidget(dialUp_, 3, 2);
    layout->addWidget(disconnect_, 4, 1, 1, 2);
    layout->addWidget(passive_, 5, 1, 1, 2);
    layout->addWidget(service_, 6, 1, 1, 2);
    auto* hints = new QGroupBox(strings("hints.group"), this);
    auto* hintLayout = new QVBoxLayout(hints);
    hint_->setWordWrap(true);
    hint_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    hint_->setMinimumHeight(90);
    hintLayout->addWidget(hint_);
    layout->addWidget(hints, 8, 0, 1, 3);
    auto* buttons = makeOkCancelButtons(*this, strings);
    layout->addWidget(buttons, 9, 0, 1, 3);
    layout->setColumnStretch(2, 1);
    dialUp_->setEditable(true);
    dialUp_->setInsertPolicy(QComboBox::NoInsert);
    dialUp_->setMinimumWidth(180);

    hints_.Load(strings.hintText(), CHintText::optionsKeys());
    auto* filter = new HintEventFilter(hints_, *hint_, this);
    filter->watch(ascii_, 1082);
    filter->watch(frontPage_, 1081);
    filter->watch(checkSize_, 1080);
    filter->watch(dialUp_, 1098);
    filter->watch(disconnect_, 1083);
    filter->watch(service_, 1084);
    filter->watch(passive_, 1085);

    fillDialUpEntries(dialUpEntries, options.dialUpEntry);
    ascii_->setPlainText(dialog_text::joinSeparated(asciiExtensions));
    frontPage_->setChecked(options.frontPage);
    checkSize_->setChecked(options.checkFileSize);
    disconnect_->setChecked(options.disconnect);
    passive_->setChecked(options.passive);
    service_->setChecked(service.isInstalled());
    resize(620, 420);
}

void CDlgOptions::accept()
{
    asciiExtensions_ = dialog_text::splitLines(ascii_->toPlainText());
    options_.frontPage = frontPage_->isChecked();
    options_.checkFileSize = checkSize_->isChecked();
    options_.disconnect = disconnect_->isChecked();
    options_.passive = passive_->isChecked();
    options_.dialUpEntry.clear();
    // "<No dial up>" means no entry, not an entry of that name.
    const int selected = dialUp_->currentIndex();
    if (selected >= 0 && selected != noDialUpIndex_ && dialUp_->currentText() == dialUp_->itemText(selected))
        options_.dialUpEntry = fromQt(dialUp_->itemText(selected));
    savedOptions_ = saveOptions(options_, optionsFile_);

    bool serviceChanged = true;
    if (service_->isChecked() != serviceRegistration_.isInstalled()) {
        serviceChanged = service_->isChecked() ? serviceRegistration_.installService() == 0
                                               : serviceRegistration_.removeService() == 0;
    }
    if (!quiet_ && !savedOptions_)
        QMessageBox::warning(this, strings_("app.title"), strings_("options.savefailed"));
    if (!quiet_ && !serviceChanged)
        QMessageBox::warning(this, strings_("app.title"), strings_("options.servicefailed"));
    QDialog::accept();
}
