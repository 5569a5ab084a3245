#include "dialogs/ok_cancel_buttons.h"

#include "uikit/ui_strings.h"

#include <QDialog>
#include <QDialogButtonBox>

QDialogButtonBox* makeOkCancelButtons(QDialog& dialog, const UiStrings& strings)
{
    auto* buttons = new QDialogButtonBox(&dialog);
    buttons->addButton(strings("button.ok"), QDialogButtonBox::AcceptRole);
    buttons->addButton(strings("button.cancel"), QDialogButtonBox::RejectRole);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return buttons;
}
