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
class ReplyReader {
public:
    // A line without an end this long is taken as it stands, so a server cannot make the
    // buffer grow without bound.
    static constexpr size_t kMaxLineLength = 64 * 1024;

    struct Line {
        std::string text; // without CR/LF
        bool final = false; // ends the reply
    };

    void append(std::string_view bytes);
    // The next complete non-empty line, or nullopt until more bytes arrive.
    [[nodiscard]] std::optional<Line> nextLine();
    // Forgets everything (a new connection).
    void reset();

    [[nodiscard]] bool inMultiLineReply() const { return !openCode_.empty(); }
    [[nodiscard]] size_t bufferedBytes() const { return buffer_.size() - consumed_; }

private:
    std::string buffer_;
    size_t consumed_ = 0;
    std::string openCode_; // the "DDD" of a multi-line reply in progress
};

// The decimal prefix of a reply line: leading white space skipped, an optional sign, digits
// up to the first non-digit; 0 when there are none. Values saturate instead of overflowing.
[[nodiscard]] int replyCode(std::string_view line);
