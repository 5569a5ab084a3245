#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The lines of the activity log: what the FTP client and the upload engine reported during
// runs and Finds, in arrival order. The window that shows them is the desktop's; this is the
// list behind it. Any thread may add lines.
//
// The list keeps the newest `capacity` lines: a service that runs for months must not grow
// without end.
class ActivityLog {
public:
    static constexpr size_t kDefaultCapacity = 100000;

    explicit ActivityLog(size_t capacity = kDefaultCapacity);

    // The vocabulary of the lines. The prefixes are what users and their scripts look for.
    [[nodiscard]] static std::string uploadLine(std::string_view text) { return "-->" + std::string(text); }
    [[nodiscard]] static std::string uploadStatusLine(std::string_view text) { return "->" + std::string(text); }
    [[nodiscard]] static std::string downloadLine(std::string_view text) { return "<--" + std::string(text); }
    [[nodiscard]] static std::string okResult(std::string_view path) { return "OK " + std::string(path); }
    [[nodiscard]] static std::string errorResult(std::string_view path) { return "Error " + std::string(path); }

    // A log line never spans lines: the text up to its first carriage return, and for
    // plain lines also up to its first line feed.
    [[nodiscard]] static std::string cutAtCarriageReturn(std::string_view text);
    [[nodiscard]] static std::string cutAtLineEnd(std::string_view text);

    // Adds one line (cut at its first carriage return).
    void append(std::string_view text);
    void clear();
    [[nodiscard]] std::vector<std::string> lines() const;
    [[nodiscard]] size_t size() const;
    // Lines dropped from the front because the list was full.
    [[nodiscard]] size_t droppedCount() const;

    // Writes every line followed by a line feed, truncating `path`. False when the file
    // cannot be written; an empty list makes an empty file.
    [[nodiscard]] bool saveTo(const std::string& path) const;

private:
    size_t capacity_;
    mutable std::mutex mutex_;
    std::deque<std::string> lines_;
    size_t dropped_ = 0;
};
