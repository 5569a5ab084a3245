#include "dialogs/c_dlg_value.h"

#include "ui/app_icons.h"
#include "ui/ui_strings.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

CDlgValue::CDlgValue(const UiStrings& strings, const QString& caption, QString value, QWidget* parent)
    : QDialog(parent)
    , label_(new QLabel(caption, this))
    , field_(new QLineEdit(value, this))
{
    setWindowTitle(caption);
    setWindowIcon(app_icons::idle());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label_);
    layout->addWidget(field_);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(strings("button.ok"), QDialogButtonBox::AcceptRole);
    buttons->addButton(strings("button.cancel"), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setMinimumWidth(320);
}

QString CDlgValue::value() const
{
    return field_->text();
}

QString CDlgValue::label() const
{
    return label_->text();
}
