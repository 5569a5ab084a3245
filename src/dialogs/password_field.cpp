#include "dialogs/password_field.h"

#include "uikit/ui_strings.h"

#include <QCheckBox>
#include <QLineEdit>

QCheckBox* maskPasswordField(QLineEdit& field, const UiStrings& strings, QWidget* parent)
{
    field.setEchoMode(QLineEdit::Password);
    auto* show = new QCheckBox(strings("password.show"), parent);
    QObject::connect(show, &QCheckBox::toggled, &field,
        [&field](bool visible) { field.setEchoMode(visible ? QLineEdit::Normal : QLineEdit::Password); });
    return show;
}
