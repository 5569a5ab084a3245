#pragma once

#include <QDialog>

class QPlainTextEdit;
class UiStrings;

// Edits a command script; Enter starts a new line.
class CDlgEditText final : public QDialog {
    Q_OBJECT
public:
    CDlgEditText(const UiStrings& strings, const QString& value, QWidget* parent = nullptr);

    [[nodiscard]] QString value() const;
    [[nodiscard]] QPlainTextEdit* field() const { return field_; }

private:
    QPlainTextEdit* field_;
};
