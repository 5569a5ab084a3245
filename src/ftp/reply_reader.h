#pragma once

#include <optional>
#include <string>
#include <string_view>

// Splits what arrives on the control connection into reply lines. Bytes are kept across
// receives, so a line cut between two packets is joined, and lines after the end of one
// reply wait for the next (a "150" and a "226" often arrive together).
//
// A reply whose first line is "DDD-" runs until a line that starts with the same "DDD "
// (or is just "DDD"); any other first line is a reply by itself.
//
// No server has a reason to send replies anywhere near the limits below; one that does is
// broken or hostile, and the reader stops instead of growing (or logging) without end.
class ReplyReader {
public:
    static constexpr size_t kMaxLineLength = 64 * 1024;
    static constexpr size_t kMaxReplyLines = 10000;
    static constexpr size_t kMaxReplyBytes = 1024 * 1024;

    // Why the reader stopped. Once set, nextLine answers nothing until reset().
    enum class Overflow {
        None,
        LineTooLong, // a line longer than kMaxLineLength
        TooManyLines, // a reply of more than kMaxReplyLines lines
        TooManyBytes, // a reply of more than kMaxReplyBytes bytes
    };

    struct Line {
        std::string text; // without CR/LF
        bool final = false; // ends the reply
    };

    void append(std::string_view bytes);
    // The next complete non-empty line, or nullopt until more bytes arrive (or for good
    // once overflow() is set).
    [[nodiscard]] std::optional<Line> nextLine();
    [[nodiscard]] Overflow overflow() const { return overflow_; }
    // Forgets everything (a new connection).
    void reset();

    [[nodiscard]] bool inMultiLineReply() const { return !openCode_.empty(); }
    [[nodiscard]] size_t bufferedBytes() const { return buffer_.size() - consumed_; }

private:
    std::string buffer_;
    size_t consumed_ = 0;
    std::string openCode_; // the "DDD" of a multi-line reply in progress
    size_t replyLines_ = 0; // lines of the reply in progress
    size_t replyBytes_ = 0; // bytes of those lines, line ends included
    Overflow overflow_ = Overflow::None;
};

// One line for the user saying which limit a server broke.
[[nodiscard]] const char* overflowText(ReplyReader::Overflow overflow);

// The decimal prefix of a reply line: leading white space skipped, an optional sign, digits
// up to the first non-digit; 0 when there are none. Values saturate instead of overflowing.
[[nodiscard]] int replyCode(std::string_view line);
