#pragma once

#include <cstddef>
#include <optional>
#include <sys/socket.h>

// What one send or receive achieved. `error` is the errno behind Failed (ETIMEDOUT for
// TimedOut, 0 for Closed).
struct IoResult {
    enum class Status {
        Ok, // `count` bytes moved (a receive moves at least one)
        Closed, // the peer ended the stream in order
        Failed, // the stream is unusable; it has been closed
        TimedOut, // no progress within the budget; the stream has been closed
    };

    Status status = Status::Ok;
    size_t count = 0;
    int error = 0;

    [[nodiscard]] bool ok() const { return status == Status::Ok; }
};

// An endpoint address as the socket layer knows it.
struct SocketAddress {
    sockaddr_storage storage {};
    socklen_t length = 0;

    [[nodiscard]] int family() const { return storage.ss_family; }
};

// A connected byte stream: the control connection and every data connection go through
// this, so that an encrypted stream can stand in for the plain one without touching the
// commands. Each call blocks the calling thread for at most the stream's budget without
// progress. Not shared between threads.
class ByteStream {
public:
    virtual ~ByteStream() = default;

    [[nodiscard]] virtual IoResult receive(char* buffer, size_t capacity) = 0;
    // Sends everything; short sends are continued. On failure `count` says how much went.
    [[nodiscard]] virtual IoResult sendAll(const char* data, size_t size) = 0;
    // Ends the stream. Safe to repeat.
    virtual void close() = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;
    [[nodiscard]] virtual std::optional<SocketAddress> localAddress() const = 0;
    [[nodiscard]] virtual std::optional<SocketAddress> peerAddress() const = 0;
    // The socket underneath, for a layer that runs its own protocol over it; -1 when closed.
    [[nodiscard]] virtual int descriptor() const = 0;
    // What ends the waits of this stream early (see StopSignal); -1 when nothing does.
    [[nodiscard]] virtual int stopDescriptor() const { return -1; }
};
