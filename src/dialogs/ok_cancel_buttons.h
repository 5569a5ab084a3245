#pragma once

class QDialog;
class QDialogButtonBox;
class UiStrings;

// The OK and Cancel row the editing dialogs end with, wired to the dialog's accept (which a
// dialog may override to store its fields) and reject. The caller places it in its layout.
[[nodiscard]] QDialogButtonBox* makeOkCancelButtons(QDialog& dialog, const UiStrings& strings);
