#include "ftp/passive_reply.h"

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Digits at `position` as a number no larger than `limit`; advances past them.
std::optional<int> number(std::string_view text, size_t& position, int limit)
{
    size_t start = position;
    int value = 0;
    while (position < text.size() && isDigit(text[position])) {
        value = value * 10 + (text[position] - '0');
        if (value > limit)
            return std::nullopt;
        ++position;
    }
    if (position == start)
        return std::nullopt;
    return value;
}

} // namespace

std::optional<PassiveReply> PassiveReply::parsePasv(std::string_view line)
{
    // Servers differ in the text before the numbers; the numbers start at the first digit
    // after the reply code.
    size_t position = 0;
    while (position < line.size() && isDigit(line[position]))
        ++position;
    while (position < line.size() && !isDigit(line[position]))
        ++position;
    int values[6] = {};
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            while (position < line.size() && line[position] == ' ')
                ++position;
            if (position >= line.size() || line[position] != ',')
                return std::nullopt;
            ++position;
            while (position < line.size() && line[position] == ' ')
                ++position;
        }
        std::optional<int> value = number(line, position, 255);
        if (!value)
            return std::nullopt;
        values[i] = *value;
    }
    PassiveReply reply;
    for (int i = 0; i < 4; ++i)
        reply.address[i] = static_cast<uint8_t>(values[i]);
    reply.port = values[4] * 256 + values[5];
    if (reply.port == 0)
        return std::nullopt;
    return reply;
}

std::optional<PassiveReply> PassiveReply::parseEpsv(std::string_view line)
{
    size_t open = line.find('(');
    if (open == std::string_view::npos || open + 4 >= line.size())
        return std::nullopt;
    char delimiter = line[open + 1];
    if (delimiter < 33 || delimiter > 126 || isDigit(delimiter))
        return std::nullopt;
    if (line[open + 2] != delimiter || line[open + 3] != delimiter)
        return std::nullopt;
    size_t position = open + 4;
    std::optional<int> port = number(line, position, 65535);
    if (!port || *port == 0 || position + 1 >= line.size() || line[position] != delimiter || line[position + 1] != ')')
        return std::nullopt;
    PassiveReply reply;
    reply.port = *port;
    return reply;
}
