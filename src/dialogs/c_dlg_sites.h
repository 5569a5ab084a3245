#pragma once

#include <QDialog>

struct FtpSite;
class QCheckBox;
class QLineEdit;
class UiStrings;

// Edits one FTP site of the sites book; OK writes the fields into it.
class CDlgSites final : public QDialog {
    Q_OBJECT
public:
    CDlgSites(const UiStrings& strings, FtpSite& site, QWidget* parent = nullptr);

    void accept() override;

    [[nodiscard]] QLineEdit* nameField() const { return name_; }
    [[nodiscard]] QLineEdit* urlField() const { return url_; }
    [[nodiscard]] QLineEdit* userField() const { return user_; }
    [[nodiscard]] QLineEdit* passwordField() const { return password_; }
    [[nodiscard]] QCheckBox* showPasswordBox() const { return showPassword_; }
    [[nodiscard]] QLineEdit* directoryField() const { return directory_; }
    [[nodiscard]] QLineEdit* localDirectoryField() const { return localDirectory_; }
    [[nodiscard]] QCheckBox* anonymousBox() const { return anonymous_; }

private:
    FtpSite& site_;
    QLineEdit* name_;
    QLineEdit* url_;
    QLineEdit* user_;
    QLineEdit* password_;
    QCheckBox* showPassword_ = nullptr;
    QLineEdit* directory_;
    QLineEdit* localDirectory_;
    QCheckBox* anonymous_;
    bool filling_ = false;
};
