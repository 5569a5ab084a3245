#include "connect/site_password.h"

#include "config/ftp_site.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

// A keyring in memory that answers every call with `state` unless it is Found, and records
// what was asked of it.
class MemoryKeyring final : public PasswordStore {
public:
    KeyringState state = KeyringState::Found;
    std::map<std::vector<std::string>, std::string> passwords;
    int lookups = 0;

    static std::vector<std::string> index(const PasswordKey& key) { return { key.project, key.site, key.user }; }

    bool reachable() override { return state != KeyringState::Unreachable; }
    KeyringAnswer lookup(const PasswordKey& key) override
    {
        ++lookups;
        KeyringAnswer answer;
        answer.state = state;
        if (state != KeyringState::Found)
            return answer;
        const auto found = passwords.find(index(key));
        if (found == passwords.end())
            answer.state = KeyringState::NotFound;
        else
            answer.password = SecretText(found->second);
        return answer;
    }
    KeyringAnswer store(const PasswordKey& key, std::string_view, std::string_view password) override
    {
        KeyringAnswer answer;
        answer.state = state;
        if (state == KeyringState::Found)
            passwords[index(key)] = std::string(password);
        return answer;
    }
    KeyringAnswer remove(const PasswordKey& key) override
    {
        KeyringAnswer answer;
        answer.state = state;
        if (state == KeyringState::Found)
            answer.state = passwords.erase(index(key)) > 0 ? KeyringState::Found : KeyringState::NotFound;
        return answer;
    }
};

FtpSite site(std::string pass, FtpSite::PasswordPlace place)
{
    FtpSite result;
    result.name = "live";
    result.user = "web";
    result.pass = std::move(pass);
    result.passwordPlace = place;
    return result;
}

constexpr auto kFile = FtpSite::PasswordPlace::File;
constexpr auto kKeyring = FtpSite::PasswordPlace::Keyring;

TEST(SitePassword, ComesFromTheFileOrTheKeyringOrNamesTheFix)
{
    struct Row {
        const char* name;
        FtpSite site;
        KeyringState keyring;
        const char* password;
        const char* problemPart; // empty: no problem
    };
    const Row rows[] = {
        { "clear password, keyring never asked", site("clear", kFile), KeyringState::Unreachable, "clear", "" },
        { "no password at all (SFTP key)", site("", kFile), KeyringState::Unreachable, "", "" },
        { "in the keyring", site("", kKeyring), KeyringState::Found, "kept", "" },
        { "keyring out of reach", site("", kKeyring), KeyringState::Unreachable, "", "cannot be reached" },
        { "keyring locked", site("", kKeyring), KeyringState::Locked, "", "is locked" },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MemoryKeyring keyring;
        keyring.passwords[{ "Shop", "live", "web" }] = "kept";
        keyring.state = row.keyring;
        const SitePassword answer = sitePassword(row.site, "Shop", "/data/Shop.ftp", &keyring);
        EXPECT_EQ(answer.password.text(), row.password);
        if (*row.problemPart == '\0') {
            EXPECT_EQ(answer.problem, "");
            continue;
        }
        for (const char* part : { row.problemPart, "user web", "no login was tried", "Unlock the keyring",
                 "/data/Shop.ftp", "passwordstore=keyring" })
            EXPECT_NE(answer.problem.find(part), std::string::npos) << part << " in: " << answer.problem;
    }
}

TEST(SitePassword, AMissingEntryIsAProblemNotAnEmptyPassword)
{
    MemoryKeyring keyring;
    const SitePassword answer = sitePassword(site("", kKeyring), "Shop", "Shop.ftp", &keyring);
    EXPECT_NE(answer.problem.find("holds no password"), std::string::npos) << answer.problem;
}

TEST(PasswordProjectName, IsTheFileNameWithoutFolderAndExtension)
{
    EXPECT_EQ(passwordProjectName("/home/u/.local/share/Tarnwick/My Shop.ftp"), "My Shop");
    EXPECT_EQ(passwordProjectName("plain.ini"), "plain.ini");
    EXPECT_EQ(passwordProjectName("/x/.ftp"), ".ftp");
}

// What an editor does with its password field, from opening to saving.
TEST(PasswordEdit, FilesWhatWasTypedWithoutLosingWhatCouldNotBeRead)
{
    struct Row {
        const char* name;
        FtpSite opened;
        KeyringState keyring; // while open and saving
        bool withStore;
        const char* rename; // new user before saving; empty: unchanged
        const char* typed; // nullptr: the field as shown
        const char* shown;
        const char* pass; // what the site holds afterwards
        FtpSite::PasswordPlace place;
        std::map<std::vector<std::string>, std::string> keyringAfter;
    };
    using Entries = std::map<std::vector<std::string>, std::string>;
    const Entries kept { { { "Shop", "live", "web" }, "kept" } };
    const Row rows[] = {
        { "clear password moves on saving", site("clear", kFile), KeyringState::Found, true, "", nullptr, "clear", "",
            kKeyring, { { { "Shop", "live", "web" }, "clear" } } },
        { "no keyring: stays in the file", site("clear", kFile), KeyringState::Found, false, "", "new", "clear", "new",
            kFile, {} },
        { "keyring refuses: stays in the file", site("clear", kFile), KeyringState::Locked, true, "", nullptr, "clear",
            "clear", kFile, {} },
        { "unchanged keyring password is not stored again", site("", kKeyring), KeyringState::Found, true, "", nullptr,
            "kept", "", kKeyring, kept },
        { "changed password replaces the entry", site("", kKeyring), KeyringState::Found, true, "", "fresh", "kept", "",
            kKeyring, { { { "Shop", "live", "web" }, "fresh" } } },
        { "cleared password leaves the keyring", site("", kKeyring), KeyringState::Found, true, "", "", "kept", "",
            kFile, {} },
        { "new user: entry moves with it", site("", kKeyring), KeyringState::Found, true, "admin", nullptr, "kept", "",
            kKeyring, { { { "Shop", "live", "admin" }, "kept" } } },
        { "locked keyring, field left empty: marker kept", site("", kKeyring), KeyringState::Locked, true, "", nullptr,
            "", "", kKeyring, kept },
        { "locked keyring, new password typed: kept in the file", site("", kKeyring), KeyringState::Locked, true, "",
            "typed", "", "typed", kFile, kept },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        MemoryKeyring keyring;
        keyring.passwords = kept;
        if (row.opened.passwordPlace == kFile)
            keyring.passwords.clear();
        keyring.state = row.keyring;
        FtpSite edited = row.opened;
        PasswordEdit edit(edited, "Shop", row.withStore ? &keyring : nullptr);
        EXPECT_EQ(edit.shown(), row.shown);
        if (*row.rename != '\0')
            edited.user = row.rename;
        edit.apply(edited, row.typed != nullptr ? std::string(row.typed) : edit.shown());
        EXPECT_EQ(edited.pass, row.pass);
        EXPECT_EQ(edited.passwordPlace, row.place);
        EXPECT_EQ(keyring.passwords, row.keyringAfter);
    }
}

} // namespace
