#pragma once

#include <string_view>

// Comparisons with only ASCII letters folded. Stored keys and local-root prefixes are compared
// this way so that the process locale (which strcasecmp would consult) never changes a match,
// and bytes of other encodings pass untouched.
[[nodiscard]] constexpr char foldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

[[nodiscard]] constexpr bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (foldAscii(text[i]) != foldAscii(prefix[i]))
            return false;
    }
    return true;
}

[[nodiscard]] constexpr bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && startsWithIgnoringCase(a, b);
}
