#pragma once

#include <string_view>

// The skip rules' matcher: "*" matches any run of bytes, including none; every other byte
// ("?" included) matches itself; the whole text must match. No allocation, no recursion.
[[nodiscard]] bool MatchWildcard(std::string_view text, std::string_view pattern);
