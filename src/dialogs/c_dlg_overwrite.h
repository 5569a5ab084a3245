#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QListWidget;
class UiStrings;

// Asks whether files that exist already may be overwritten: Yes (accepted) or No.
class CDlgOverwrite final : public QDialog {
    Q_OBJECT
public:
    CDlgOverwrite(const UiStrings& strings, const std::vector<std::string>& names, QWidget* parent = nullptr);

    [[nodiscard]] QListWidget* list() const { return list_; }

private:
    QListWidget* list_;
};
