#pragma once

#include <optional>
#include <string>
#include <string_view>

// Paths of a session whose root is the login folder, as a chrooted FTP login sees them:
// "/" is the login folder itself and ".." never leads above it.

// `path` resolved against `current` (both login-relative; an absolute `path` ignores
// `current`) into the normal form "/" or "/a/b": no empty, "." or ".." steps, no trailing
// "/". nullopt for a path holding NUL, which no server could be asked about faithfully.
[[nodiscard]] std::optional<std::string> loginRelativePath(std::string_view current, std::string_view path);

// Where a login-relative path in normal form lies on the server, below `loginFolder` (an
// absolute server path such as "/home/site").
[[nodiscard]] std::string serverPathOf(std::string_view loginFolder, std::string_view relative);

// Whether a "/"-separated path holds a ".." step: a name from a server that must not lead
// out of a local folder.
[[nodiscard]] bool hasParentStep(std::string_view path);
