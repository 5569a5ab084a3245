#include "ftp/reply_reader.h"

#include <climits>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool startsWithCode(std::string_view line)
{
    return line.size() >= 3 && isDigit(line[0]) && isDigit(line[1]) && isDigit(line[2]);
}

} // namespace

void ReplyReader::append(std::string_view bytes)
{
    if (consumed_ > 0 && consumed_ == buffer_.size()) {
        buffer_.clear();
        consumed_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<ReplyReader::Line> ReplyReader::nextLine()
{
    for (;;) {
        std::string_view pending(buffer_);
        pending.remove_prefix(consumed_);
        size_t end = pending.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            if (pending.size() < kMaxLineLength) {
                // Keep only the unfinished tail, so a long reply does not pile up consumed bytes.
                buffer_.erase(0, consumed_);
                consumed_ = 0;
                return std::nullopt;
            }
            end = kMaxLineLength;
        } else if (end > kMaxLineLength) {
            end = kMaxLineLength;
        }
        std::string_view text = pending.substr(0, end);
        consumed_ += end;
        if (end < pending.size() && (pending[end] == '\r' || pending[end] == '\n'))
            ++consumed_;
        if (text.empty())
            continue;

        Line line { std::string(text), false };
        if (openCode_.empty()) {
            if (text.size() > 3 && text[3] == '-' && startsWithCode(text))
                openCode_ = std::string(text.substr(0, 3));
            else
                line.final = true;
        } else if (text.substr(0, 3) == openCode_ && (text.size() == 3 || text[3] == ' ')) {
            openCode_.clear();
            line.final = true;
        }
        return line;
    }
}

void ReplyReader::reset()
{
    buffer_.clear();
    consumed_ = 0;
    openCode_.clear();
}

int replyCode(std::string_view line)
{
    size_t position = 0;
    while (position < line.size()
        && (line[position] == ' ' || line[position] == '\t' || line[position] == '\n' || line[position] == '\r'
            || line[position] == '\v' || line[position] == '\f'))
        ++position;
    bool negative = false;
    if (position < line.size() && (line[position] == '+' || line[position] == '-'))
        negative = line[position++] == '-';
    long long value = 0;
    while (position < line.size() && isDigit(line[position])) {
        if (value < INT_MAX)
            value = value * 10 + (line[position] - '0');
        ++position;
    }
    if (value > INT_MAX)
        value = INT_MAX;
    return static_cast<int>(negative ? -value : value);
}
