#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Reads a text file the way the stored formats expect: lines of at most `maxPiece` bytes
// (a longer line arrives as several pieces), the line feed removed, "\r\n" taken as "\n".
// With kWholeLines every line arrives whole, however long.
// Only regular files are opened, so a folder or a FIFO in place of the file never blocks.
class LinePieceReader {
public:
    static constexpr size_t kWholeLines = SIZE_MAX;

    explicit LinePieceReader(size_t maxPiece);
    ~LinePieceReader();
    LinePieceReader(const LinePieceReader&) = delete;
    LinePieceReader& operator=(const LinePieceReader&) = delete;

    [[nodiscard]] bool open(const std::string& path);
    // The next piece; false at the end of the file. A read error ends the file early.
    [[nodiscard]] bool next(std::string& piece);

private:
    // The next byte without consuming it, or -1 at the end of the file.
    int peek();

    size_t maxPiece_;
    int fd_ = -1;
    char buffer_[65536];
    size_t position_ = 0;
    size_t length_ = 0;
    bool ended_ = false;
};
