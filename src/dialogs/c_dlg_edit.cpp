#include "dialogs/c_dlg_edit.h"

#include "dialogs/ok_cancel_buttons.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

CDlgEdit::CDlgEdit(const UiStrings& strings, QString value, QWidget* parent)
    : QDialog(parent)
    , field_(new QLineEdit(value, this))
{
    setWindowTitle(strings("edit.title"));
    setWindowIcon(app_icons::idle());
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(strings("edit.label"), this));
    layout->addWidget(field_);
    auto* buttons = makeOkCancelButtons(*this, strings);
    layout->addWidget(buttons);
    setMinimumWidth(320);
}

QString CDlgEdit::value() const
{
    return field_->text();
}
