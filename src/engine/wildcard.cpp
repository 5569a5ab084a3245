#include "engine/wildcard.h"

bool MatchWildcard(std::string_view text, std::string_view pattern)
{
    // Greedy matching with one backtrack point: the last star seen. Moving the text
    // position of that star forward is enough, because an earlier star can absorb anything
    // a later segment would need to skip.
    size_t t = 0;
    size_t p = 0;
    size_t starPattern = std::string_view::npos;
    size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starPattern = p++;
            starText = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (starPattern != std::string_view::npos) {
            p = starPattern + 1;
            t = ++starText;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}
