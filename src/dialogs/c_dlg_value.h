#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class UiStrings;

// Asks for one line of text under a caller's caption, which is the title and the label.
class CDlgValue final : public QDialog {
    Q_OBJECT
public:
    CDlgValue(const UiStrings& strings, const QString& caption, QString value, QWidget* parent = nullptr);

    [[nodiscard]] QString value() const;
    [[nodiscard]] QLineEdit* field() const { return field_; }
    [[nodiscard]] QString label() const;

private:
    QLabel* label_;
    QLineEdit* field_;
};
