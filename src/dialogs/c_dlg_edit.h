#pragma once

#include <QDialog>

class QLineEdit;
class UiStrings;

// Asks for one line of text ("Input").
class CDlgEdit final : public QDialog {
    Q_OBJECT
public:
    CDlgEdit(const UiStrings& strings, QString value, QWidget* parent = nullptr);

    // The field's text; after OK the caller takes it as the new value.
    [[nodiscard]] QString value() const;
    [[nodiscard]] QLineEdit* field() const { return field_; }

private:
    QLineEdit* field_;
};
