#include "dialogs/c_dlg_edit_text.h"

#include "dialogs/dialog_text.h"
#include "dialogs/ok_cancel_buttons.h"
#include "uikit/app_icons.h"
#include "uikit/ui_strings.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

CDlgEditText::CDlgEditText(const UiStrings& strings, const QString& value, QWidget* parent)
    : QDialog(parent)
    , field_(new QPlainTextEdit(this))
{
    setWindowTitle(strings("edittext.title"));
    setWindowIcon(app_icons::idle());
    field_->setPlainText(dialog_text::shownLines(value));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(field_, 1);
    auto* hints = new QGroupBox(strings("hints.group"), this);
    auto* hintLayout = new QVBoxLayout(hints);
    for (const char* key : { "edittext.hint1", "edittext.hint2", "edittext.hint3", "edittext.hint4" }) {
        auto* label = new QLabel(strings(key), hints);
        label->setWordWrap(true);
        hintLayout->addWidget(label);
    }
    layout->addWidget(hints);
    auto* buttons = makeOkCancelButtons(*this, strings);
    layout->addWidget(buttons);
    resize(480, 420);
}

QString CDlgEditText::value() const
{
    return dialog_text::storedLines(field_->toPlainText());
}
