#include "session/next_token.h"

namespace {

bool isSeparator(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ',';
}

void skipSeparators(std::string_view text, size_t& position)
{
    while (position < text.size() && isSeparator(text[position]))
        ++position;
}

} // namespace

std::string nextToken(std::string_view text, size_t& position)
{
    skipSeparators(text, position);
    std::string token;
    if (position < text.size() && text[position] == '"') {
        ++position;
        for (;;) {
            size_t close = text.find('"', position);
            if (close == std::string_view::npos) {
                token += text.substr(position);
                position = text.size();
                break;
            }
            token += text.substr(position, close - position);
            position = close + 1;
            if (position >= text.size() || text[position] != '"')
                break;
            token += '"';
            ++position;
        }
    } else {
        size_t start = position;
        while (position < text.size() && !isSeparator(text[position]))
            ++position;
        token = text.substr(start, position - start);
    }
    skipSeparators(text, position);
    return token;
}

std::string directoryArgument(std::string_view argument)
{
    size_t position = 0;
    std::string directory = nextToken(argument, position);
    const size_t arrow = directory.find("->");
    if (arrow != std::string::npos)
        directory = arrow + 3 <= directory.size() ? directory.substr(arrow + 3) : std::string();
    return directory;
}
