#include "dialogs/c_dlg_value.h"

#include "dialogs/ok_cancel_buttons.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

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
    auto* buttons = makeOkCancelButtons(*this, strings);
    layout->addWidget(buttons);
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
