#include "dialogs/c_dlg_overwrite.h"

#include "dialogs/dialog_text.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

CDlgOverwrite::CDlgOverwrite(const UiStrings& strings, const std::vector<std::string>& names, QWidget* parent)
    : QDialog(parent)
    , list_(new QListWidget(this))
{
    setWindowTitle(strings("overwrite.title"));
    setWindowIcon(app_icons::idle());
    list_->setSortingEnabled(true);
    for (const std::string& name : names)
        list_->addItem(dialog_text::toQt(name));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(strings("overwrite.text"), this));
    layout->addWidget(list_, 1);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* yes = buttons->addButton(strings("button.yes"), QDialogButtonBox::YesRole);
    buttons->addButton(strings("button.no"), QDialogButtonBox::NoRole);
    yes->setDefault(true);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    resize(420, 320);
}
