#pragma once

#include "keyring/password_store.h"

#include <optional>
#include <string>
#include <string_view>

struct FtpSite;

// The name a project's passwords are filed under in the keyring: its file name without
// the folder and without ".ftp". The sites book files its passwords under the empty name.
[[nodiscard]] std::string passwordProjectName(std::string_view projectPath);
[[nodiscard]] PasswordKey passwordKey(std::string_view projectName, const FtpSite& site);
// What a keyring manager lists for the password.
[[nodiscard]] std::string passwordLabel(const PasswordKey& key);

struct SitePassword {
    SecretText password; // may be empty: the site logs in without one (an SFTP key)
    std::string problem; // set when the password is in the keyring and cannot be had
};

// The password a session for `site` logs in with. A site whose password is in the keyring
// asks `store` (nullptr: the desktop keyring, which never prompts); when that fails,
// `problem` names the site and how to mend it, mentioning `filePath`, the file holding the
// site. No login may be tried then: the server would see an empty password.
[[nodiscard]] SitePassword sitePassword(
    const FtpSite& site, std::string_view projectName, std::string_view filePath, PasswordStore* store);

// Files `password` for `site` in the keyring and leaves the site holding only the marker.
// On any answer but Found the site keeps `password` in the clear, as before keyrings, so
// nothing typed is lost. An empty password is never filed: it means "none".
[[nodiscard]] KeyringAnswer keepPasswordInKeyring(
    FtpSite& site, std::string_view projectName, std::string_view password, PasswordStore& store);

// The password field of an editor for one site. Opening looks the password up (the field
// shows it); apply() files what the field holds when the editor saves.
//
// A password the keyring would not give stays filed where it is unless something new is
// typed: an empty field then means "not read", not "no password". A password filed under a
// site name or user that was changed since, or cleared, leaves the keyring with it.
class PasswordEdit {
public:
    // `store` nullptr: no keyring; passwords are kept in the file.
    PasswordEdit(const FtpSite& site, std::string projectName, PasswordStore* store);

    [[nodiscard]] const std::string& shown() const { return shown_.text(); }
    [[nodiscard]] bool unread() const { return unread_; }
    // `site` is the one opened, with the editor's other fields already applied.
    void apply(FtpSite& site, std::string_view typed);

private:
    std::string projectName_;
    PasswordStore* store_;
    SecretText shown_;
    bool unread_ = false;
    std::optional<PasswordKey> filedUnder_;
};
