#pragma once

#include "keyring/password_store.h"

#include <cstdio>
#include <string>
#include <vector>

// What moving the clear passwords of the data directory into the keyring did, one row per
// password found in the clear.
struct PasswordMoveReport {
    struct Row {
        std::string file;
        std::string site;
        std::string user;
        KeyringState state = KeyringState::Found; // Found: moved
        std::string detail;
    };
    std::vector<Row> rows;
    std::vector<std::string> unwritable; // files whose rewrite failed: they still hold the password
    bool keyringReachable = true;

    [[nodiscard]] bool complete() const;
    // One line per row and per unwritable file, or one line saying there was nothing to move.
    [[nodiscard]] std::string text() const;
};

// Files every clear password of the project files in `dataDirectory` ("/"-terminated) and of
// its sites book in `store`, and rewrites each file that gave one up by temporary file and
// rename (mode 0600); the ".bak" copy of a project becomes its previous version without the
// moved passwords. Passwords the keyring does not take stay where they are. Running it again
// finds nothing more to move.
[[nodiscard]] PasswordMoveReport movePasswordsToKeyring(const std::string& dataDirectory, PasswordStore& store);

// --move-passwords-to-keyring: the report on `out`, a keyring out of reach on `err`. Exit 0
// when no password is left in the clear.
[[nodiscard]] int runMovePasswordsCommand(const std::string& dataDirectory, PasswordStore& store, FILE* out, FILE* err);
// The same for the user's data directory and desktop keyring, never prompting.
[[nodiscard]] int runMovePasswordsCommand(FILE* out, FILE* err);
