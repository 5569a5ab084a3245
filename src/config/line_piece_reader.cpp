#include "config/line_piece_reader.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

LinePieceReader::LinePieceReader(size_t maxPiece)
    : maxPiece_(maxPiece == 0 ? 1 : maxPiece)
{
}

LinePieceReader::~LinePieceReader()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool LinePieceReader::open(const std::string& path)
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    position_ = length_ = 0;
    ended_ = false;
    // O_NONBLOCK so that opening a FIFO does not wait for a writer; it is refused below.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat info { };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return false;
    }
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    fd_ = fd;
    return true;
}

int LinePieceReader::peek()
{
    if (position_ < length_)
        return static_cast<unsigned char>(buffer_[position_]);
    if (ended_ || fd_ < 0)
        return -1;
    for (;;) {
        ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ended_ = true;
            return -1;
        }
        position_ = 0;
        length_ = static_cast<size_t>(got);
        return static_cast<unsigned char>(buffer_[0]);
    }
}

bool LinePieceReader::next(std::string& piece)
{
    piece.clear();
    if (peek() < 0)
        return false;
    while (piece.size() < maxPiece_) {
        if (peek() < 0)
            break;
        // Ordinary bytes are copied a run at a time: a line may be megabytes long.
        const char* start = buffer_ + position_;
        size_t run = std::min(length_ - position_, maxPiece_ - piece.size());
        const char* stop = std::find_if(start, start + run, [](char c) { return c == '\r' || c == '\n'; });
        piece.append(start, stop);
        position_ += static_cast<size_t>(stop - start);
        if (stop == start + run)
            continue;
        int byte = static_cast<unsigned char>(*stop);
        ++position_;
        if (byte == '\r' && peek() == '\n') {
            ++position_;
            byte = '\n';
        }
        if (byte == '\n')
            return true;
        piece.push_back(static_cast<char>(byte));
    }
    return true;
}
