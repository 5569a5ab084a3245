#pragma once

#include "keyring/password_store.h"

// The desktop keyring, spoken to over the session bus through libsecret.
//
// With Prompting::Never nothing waits for a person: a locked keyring answers Locked at once,
// which is what a windowless run needs (nobody would see the unlock dialog). The desktop
// passes Prompting::Allowed so the keyring may ask for its password.
//
// One object per thread; each call is a blocking round trip on the bus.
class SecretServiceKeyring final : public PasswordStore {
public:
    enum class Prompting : char { Never, Allowed };

    explicit SecretServiceKeyring(Prompting prompting);

    [[nodiscard]] bool reachable() override;
    [[nodiscard]] KeyringAnswer lookup(const PasswordKey& key) override;
    [[nodiscard]] KeyringAnswer store(
        const PasswordKey& key, std::string_view label, std::string_view password) override;
    [[nodiscard]] KeyringAnswer remove(const PasswordKey& key) override;

    // The schema name stored with every password, for tests and keyring tools.
    static constexpr const char* kSchemaName = "org.morvane.Tarnwick.Password";

private:
    Prompting prompting_;
};
