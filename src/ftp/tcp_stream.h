#pragma once

#include "ftp/byte_stream.h"

#include <chrono>
#include <memory>
#include <string>

// How a wait on one socket ended. Stopped: the run's stop signal was raised (ECANCELED).
enum class SocketWait { Ready, TimedOut, Stopped, Failed };
// Polls `socket` for `events` until `deadline`, and `stopDescriptor` (-1: none) beside it;
// `error` receives the errno behind anything but Ready.
[[nodiscard]] SocketWait waitForSocket(
    int socket, short events, std::chrono::steady_clock::time_point deadline, int stopDescriptor, int& error);

// A plain TCP connection. Every blocking step waits in poll() on the calling thread, so a
// stalled peer costs at most `budget` per call and nothing else ever touches the descriptor.
class TcpStream final : public ByteStream {
public:
    // Takes ownership of a connected socket. Every wait also ends when `stopDescriptor` turns
    // readable (see StopSignal); -1: only the budget ends it.
    TcpStream(int socket, std::chrono::milliseconds budget, int stopDescriptor = -1);
    ~TcpStream() override;
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    struct Connected {
        std::unique_ptr<TcpStream> stream; // null on failure
        int error = 0; // errno of the failure; EINVAL for a name that does not resolve
        bool unknownHost = false; // the name did not resolve
    };
    // Resolves `host` (a name, a dotted IPv4 address or a bare IPv6 address) and connects to
    // the first address that answers within the budget.
    [[nodiscard]] static Connected connect(
        const std::string& host, int port, std::chrono::milliseconds budget, int stopDescriptor = -1);
    // Connects to `address` with its port replaced by `port`.
    [[nodiscard]] static Connected connect(
        const SocketAddress& address, int port, std::chrono::milliseconds budget, int stopDescriptor = -1);

    // Like connect, but returns once the handshake is under way, so that its round trip
    // overlaps other work; finishConnect completes it.
    [[nodiscard]] static Connected startConnect(
        const SocketAddress& address, int port, std::chrono::milliseconds budget, int stopDescriptor = -1);
    // Waits within the budget for the handshake startConnect began: 0, or the errno of its
    // failure (the stream is then closed). Immediate for a stream already connected.
    [[nodiscard]] int finishConnect();

    [[nodiscard]] IoResult receive(char* buffer, size_t capacity) override;
    [[nodiscard]] IoResult sendAll(const char* data, size_t size) override;
    void close() override;
    [[nodiscard]] bool isOpen() const override { return socket_ >= 0; }
    [[nodiscard]] std::optional<SocketAddress> localAddress() const override;
    [[nodiscard]] std::optional<SocketAddress> peerAddress() const override;
    [[nodiscard]] int descriptor() const override { return socket_; }
    [[nodiscard]] std::chrono::milliseconds budget() const { return budget_; }
    [[nodiscard]] int stopDescriptor() const override { return stopDescriptor_; }

private:
    [[nodiscard]] SocketWait waitFor(short events, int& error);
    [[nodiscard]] IoResult fail(IoResult::Status status, int error, size_t count = 0);

    int socket_ = -1;
    std::chrono::milliseconds budget_;
    int stopDescriptor_ = -1;
    bool connecting_ = false;
};
