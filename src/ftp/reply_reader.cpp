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
    if (overflow_ != Overflow::None)
        return;
    if (consumed_ > 0 && consumed_ == buffer_.size()) {
        buffer_.clear();
        consumed_ = 0;
    }
    buffer_.append(bytes);
}

std::optional<ReplyReader::Line> ReplyReader::nextLine()
{
    for (;;) {
        if (overflow_ != Overflow::None)
            return std::nullopt;
        std::string_view pending(buffer_);
        pending.remove_prefix(consumed_);
        size_t end = pending.find_first_of("\r\n");
        if (end == std::string_view::npos ? pending.size() > kMaxLineLength : end > kMaxLineLength) {
            overflow_ = Overflow::LineTooLong;
            buffer_.clear();
            consumed_ = 0;
            return std::nullopt;
        }
        if (end == std::string_view::npos) {
            // Keep only the unfinished tail, so a long reply does not pile up consumed bytes.
            buffer_.erase(0, consumed_);
            consumed_ = 0;
            return std::nullopt;
        }
        std::string_view text = pending.substr(0, end);
        consumed_ += end + 1;
        replyBytes_ += end + 1;
        if (!text.empty())
            ++replyLines_;
        if (replyLines_ > kMaxReplyLines || replyBytes_ > kMaxReplyBytes) {
            overflow_ = replyLines_ > kMaxReplyLines ? Overflow::TooManyLines : Overflow::TooManyBytes;
            buffer_.clear();
            consumed_ = 0;
            return std::nullopt;
        }
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
        if (line.final) {
            replyLines_ = 0;
            replyBytes_ = 0;
        }
        return line;
    }
}

void ReplyReader::reset()
{
    buffer_.clear();
    consumed_ = 0;
    openCode_.clear();
    replyLines_ = 0;
    replyBytes_ = 0;
    overflow_ = Overflow::None;
}

const char* overflowText(ReplyReader::Overflow overflow)
{
    switch (overflow) {
    case ReplyReader::Overflow::None: break;
    case ReplyReader::Overflow::LineTooLong: return "server sent a reply line longer than 64 KiB";
    case ReplyReader::Overflow::TooManyLines: return "server sent a reply of more than 10000 lines";
    case ReplyReader::Overflow::TooManyBytes: return "server sent a reply of more than 1 MiB";
    }
    return "";
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
