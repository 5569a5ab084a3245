#include "engine/skip_rules.h"

#include "engine/wildcard.h"

namespace {

// Only A-Z change: names are byte strings in whatever encoding the file system uses.
std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

} // namespace

bool isForbiddenDirectory(std::string_view serverDir, const std::vector<std::string>& patterns)
{
    for (const std::string& pattern : patterns)
        if (MatchWildcard(serverDir, pattern))
            return true;
    return false;
}

bool isForbiddenFile(std::string_view fileName, const std::vector<std::string>& patterns)
{
    if (patterns.empty())
        return false;
    std::string name = lowerAscii(fileName);
    for (const std::string& pattern : patterns)
        if (MatchWildcard(name, lowerAscii(pattern)))
            return true;
    return false;
}

std::vector<std::string> lowerFilePatterns(const std::vector<std::string>& patterns)
{
    std::vector<std::string> lowered;
    lowered.reserve(patterns.size());
    for (const std::string& pattern : patterns)
        lowered.push_back(lowerAscii(pattern));
    return lowered;
}

bool isForbiddenFileLowered(std::string_view fileName, const std::vector<std::string>& loweredPatterns)
{
    if (loweredPatterns.empty())
        return false;
    std::string name = lowerAscii(fileName);
    for (const std::string& pattern : loweredPatterns)
        if (MatchWildcard(name, pattern))
            return true;
    return false;
}
