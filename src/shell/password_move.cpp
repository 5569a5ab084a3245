#include "shell/password_move.h"

#include "config/project_settings.h"
#include "config/site_list.h"
#include "connect/site_password.h"
#include "engine/web_project.h"
#include "keyring/secret_service_keyring.h"
#include "platform/file_utils.h"
#include "shell/command_line.h"
#include "shell/project_list.h"

namespace {

// Moves the clear passwords of `sites`; answers whether any moved.
bool moveSites(std::vector<FtpSite>& sites, const std::string& projectName, const std::string& file,
    PasswordStore& store, PasswordMoveReport& report)
{
    bool moved = false;
    for (FtpSite& site : sites) {
        if (site.pass.empty())
            continue;
        const SecretText password(site.pass);
        KeyringAnswer answer = keepPasswordInKeyring(site, projectName, password.text(), store);
        report.rows.push_back({ file, site.name, site.user, answer.state, std::move(answer.detail) });
        moved = moved || answer.state == KeyringState::Found;
    }
    return moved;
}

const char* stateText(KeyringState state)
{
    switch (state) {
    case KeyringState::Found: return "moved into the keyring";
    case KeyringState::NotFound: return "kept in the file: the keyring did not take it";
    case KeyringState::Unreachable: return "kept in the file: no Secret Service is reachable";
    case KeyringState::Locked: return "kept in the file: the keyring is locked or refused it";
    }
    return "";
}

} // namespace

bool PasswordMoveReport::complete() const
{
    if (!keyringReachable || !unwritable.empty())
        return false;
    for (const Row& row : rows)
        if (row.state != KeyringState::Found)
            return false;
    return true;
}

std::string PasswordMoveReport::text() const
{
    std::string out;
    if (!keyringReachable)
        return "no Secret Service is reachable on the session bus; every password stays where it is. "
               "Run this from the desktop session, with its keyring unlocked.\n";
    for (const Row& row : rows) {
        out += row.file + ": site " + row.site + ", user " + row.user + ": " + stateText(row.state);
        if (row.state != KeyringState::Found && !row.detail.empty())
            out += " (" + row.detail + ")";
        out += '\n';
    }
    for (const std::string& file : unwritable)
        out += file + ": could not be rewritten; it still holds its passwords\n";
    if (rows.empty())
        out += "no password in the clear: nothing to move\n";
    return out;
}

PasswordMoveReport movePasswordsToKeyring(const std::string& dataDirectory, PasswordStore& store)
{
    PasswordMoveReport report;
    if (!store.reachable()) {
        report.keyringReachable = false;
        return report;
    }
    ProjectList projects;
    (void)projects.load(dataDirectory, nullptr, nullptr);
    for (int index = 0; index < projects.count(); ++index) {
        WebProject& project = *projects.at(index);
        if (!moveSites(project.sites, passwordProjectName(project.projectPath), project.projectPath, store, report))
            continue;
        if (!project.SaveProject())
            report.unwritable.push_back(project.projectPath);
    }
    SiteList book;
    const std::string bookPath = dataDirectory + "sites.inf";
    if (book.readSites(bookPath) && moveSites(book.sites, {}, bookPath, store, report) && !book.writeSites())
        report.unwritable.push_back(bookPath);
    return report;
}

int runMovePasswordsCommand(const std::string& dataDirectory, PasswordStore& store, FILE* out, FILE* err)
{
    const PasswordMoveReport report = movePasswordsToKeyring(dataDirectory, store);
    std::fputs(report.text().c_str(), report.keyringReachable ? out : err);
    return report.complete() ? kExitDone : kExitFailed;
}

int runMovePasswordsCommand(FILE* out, FILE* err)
{
    SecretServiceKeyring keyring(SecretServiceKeyring::Prompting::Never);
    return runMovePasswordsCommand(getDataDirectory(), keyring, out, err);
}
