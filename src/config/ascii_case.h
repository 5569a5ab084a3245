#pragma once

#include <string_view>

// Compares with ASCII letters folded. The stored keys are ASCII, and the process locale (which
// strcasecmp would consult) must not change what matches.
[[nodiscard]] inline bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}
