#pragma once

#include <string>
#include <string_view>

// Text a server chose (greetings, replies, names in listings) made safe to show: control
// characters would otherwise reach the terminal or the log as they stand, and an escape
// sequence can rewrite what the user sees. Each C0 control, DEL and each C1 control (as
// UTF-8 or as a lone byte) becomes "\xHH" per byte; tab stays a tab. Everything else,
// valid UTF-8 and other high bytes alike, is kept, and a backslash stays a backslash, so
// applying this twice changes nothing.
[[nodiscard]] std::string printableServerText(std::string_view text);
