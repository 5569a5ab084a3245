#pragma once

#include "keyring/secret_text.h"

#include <string>
#include <string_view>

// Which password: the project it belongs to (its name; empty for the sites book), the
// site's name and the user. These are the attributes a keyring manager shows and searches.
struct PasswordKey {
    std::string project;
    std::string site;
    std::string user;

    bool operator==(const PasswordKey&) const = default;
};

enum class KeyringState : char {
    Found, // lookup: the password is in `password`; store/remove: done
    NotFound, // the keyring answered and holds no such password
    Unreachable, // no Secret Service on a session bus (a server without a desktop, cron)
    Locked, // the keyring is locked and may not or could not be unlocked, or access was denied
};

struct KeyringAnswer {
    KeyringState state = KeyringState::Unreachable;
    SecretText password; // lookup only
    std::string detail; // what the service or the bus said, for messages; never the password
};

// Where passwords live outside the project and sites files. Nothing throws; every answer
// says which of the four states holds.
class PasswordStore {
public:
    virtual ~PasswordStore() = default;

    // Whether a Secret Service answers at all (it may still be locked).
    [[nodiscard]] virtual bool reachable() = 0;
    [[nodiscard]] virtual KeyringAnswer lookup(const PasswordKey& key) = 0;
    // Replaces any password stored under `key`. `label` is what a keyring manager lists.
    [[nodiscard]] virtual KeyringAnswer store(const PasswordKey& key, std::string_view label, std::string_view password)
        = 0;
    // Found when something was removed, NotFound when there was nothing to remove.
    [[nodiscard]] virtual KeyringAnswer remove(const PasswordKey& key) = 0;
};
