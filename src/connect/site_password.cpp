#include "connect/site_password.h"

#include "config/ftp_site.h"
#include "keyring/secret_service_keyring.h"

#include <optional>

std::string passwordProjectName(std::string_view projectPath)
{
    const size_t slash = projectPath.rfind('/');
    std::string_view name = slash == std::string_view::npos ? projectPath : projectPath.substr(slash + 1);
    constexpr std::string_view kExtension = ".ftp";
    if (name.size() > kExtension.size() && name.ends_with(kExtension))
        name.remove_suffix(kExtension.size());
    return std::string(name);
}

PasswordKey passwordKey(std::string_view projectName, const FtpSite& site)
{
    return { std::string(projectName), site.name, site.user };
}

std::string passwordLabel(const PasswordKey& key)
{
    std::string label = "Tarnwick: " + key.user + " on site " + key.site;
    label += key.project.empty() ? " of the sites book" : " of project " + key.project;
    return label;
}

SitePassword sitePassword(
    const FtpSite& site, std::string_view projectName, std::string_view filePath, PasswordStore* store)
{
    SitePassword result;
    if (site.passwordPlace != FtpSite::PasswordPlace::Keyring || !site.pass.empty()) {
        result.password = SecretText(site.pass);
        return result;
    }
    std::optional<SecretServiceKeyring> desktop;
    if (store == nullptr)
        store = &desktop.emplace(SecretServiceKeyring::Prompting::Never);
    KeyringAnswer answer = store->lookup(passwordKey(projectName, site));
    if (answer.state == KeyringState::Found) {
        result.password = std::move(answer.password);
        return result;
    }
    std::string why;
    switch (answer.state) {
    case KeyringState::Found: break;
    case KeyringState::NotFound: why = "holds no password for it"; break;
    case KeyringState::Unreachable: why = "cannot be reached (no Secret Service on the session bus)"; break;
    case KeyringState::Locked: why = "is locked or refused access"; break;
    }
    // Whoever shows it names the site already.
    result.problem = "the password of user " + site.user + " is kept in the desktop keyring, which " + why
        + "; no login was tried. Unlock the keyring or run tarnwick from the desktop session, or put the "
          "password back into "
        + std::string(filePath) + " as pass=... in place of " + FtpSite::kPasswordStoreKey + "="
        + FtpSite::kKeyringMarker;
    return result;
}

KeyringAnswer keepPasswordInKeyring(
    FtpSite& site, std::string_view projectName, std::string_view password, PasswordStore& store)
{
    if (password.empty()) {
        KeyringAnswer none;
        none.state = KeyringState::NotFound;
        site.pass.clear();
        site.passwordPlace = FtpSite::PasswordPlace::File;
        return none;
    }
    const PasswordKey key = passwordKey(projectName, site);
    KeyringAnswer answer = store.store(key, passwordLabel(key), password);
    if (answer.state == KeyringState::Found) {
        site.pass.clear();
        site.passwordPlace = FtpSite::PasswordPlace::Keyring;
    } else {
        site.pass = std::string(password);
        site.passwordPlace = FtpSite::PasswordPlace::File;
    }
    return answer;
}

PasswordEdit::PasswordEdit(const FtpSite& site, std::string projectName, PasswordStore* store)
    : projectName_(std::move(projectName))
    , store_(store)
{
    if (site.passwordPlace != FtpSite::PasswordPlace::Keyring || !site.pass.empty()) {
        shown_ = SecretText(site.pass);
        return;
    }
    filedUnder_ = passwordKey(projectName_, site);
    KeyringAnswer answer = store_ != nullptr ? store_->lookup(*filedUnder_) : KeyringAnswer {};
    if (answer.state == KeyringState::Found)
        shown_ = std::move(answer.password);
    else
        unread_ = true;
}

void PasswordEdit::apply(FtpSite& site, std::string_view typed)
{
    // The site still points at the keyring; a rename meanwhile cannot take along what was
    // never read, and the next run says so.
    if (unread_ && typed.empty())
        return;
    const bool sameKey = filedUnder_ && passwordKey(projectName_, site) == *filedUnder_;
    if (sameKey && !unread_ && typed == shown_.text()) {
        site.pass.clear();
        site.passwordPlace = FtpSite::PasswordPlace::Keyring;
        return;
    }
    if (store_ == nullptr) {
        site.pass = std::string(typed);
        site.passwordPlace = FtpSite::PasswordPlace::File;
        return;
    }
    const KeyringAnswer filed = keepPasswordInKeyring(site, projectName_, typed, *store_);
    const bool nowInKeyring = filed.state == KeyringState::Found;
    if (filedUnder_ && !(nowInKeyring && sameKey))
        (void)store_->remove(*filedUnder_);
    filedUnder_ = nowInKeyring ? std::optional<PasswordKey>(passwordKey(projectName_, site)) : std::nullopt;
    shown_ = SecretText(typed);
    unread_ = false;
}
