#pragma once

#include <QDialog>

#include <memory>

struct FtpSite;
class PasswordEdit;
class PasswordStore;
class QCheckBox;
class QLineEdit;
class UiStrings;

// Edits one FTP site of the sites book; OK writes the fields into it.
class CDlgSites final : public QDialog {
    Q_OBJECT
public:
    // `passwords`: the keyring the password is kept in when it takes it; nullptr: the file.
    CDlgSites(const UiStrings& strings, FtpSite& site, QWidget* parent = nullptr, PasswordStore* passwords = nullptr);
    ~CDlgSites() override;

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
    std::unique_ptr<PasswordEdit> passwordEdit_;
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
