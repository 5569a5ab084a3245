#include "ftp/tcp_stream.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

int remainingMilliseconds(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 0x7fffffff ? 0x7fffffff : static_cast<int>(left);
}

bool setNonBlocking(int socket)
{
    int flags = fcntl(socket, F_GETFL);
    return flags >= 0 && fcntl(socket, F_SETFL, flags | O_NONBLOCK) == 0;
}

// Starts connecting one resolved address; answers the socket (`inProgress` when the
// handshake is still under way) or -1 with `error`.
int beginConnect(const addrinfo& address, int& error, bool& inProgress)
{
    inProgress = false;
    int socket = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address.ai_protocol);
    if (socket < 0) {
        error = errno;
        return -1;
    }
    int on = 1;
    (void)setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(socket, address.ai_addr, address.ai_addrlen) == 0)
        return socket;
    if (errno != EINPROGRESS && errno != EINTR) {
        error = errno;
        ::close(socket);
        return -1;
    }
    inProgress = true;
    return socket;
}

// Waits for a handshake begun by beginConnect: 0, or the errno of its failure.
int awaitConnect(int socket, Clock::time_point deadline, int stopDescriptor)
{
    int error = 0;
    if (waitForSocket(socket, POLLOUT, deadline, stopDescriptor, error) != SocketWait::Ready)
        return error;
    int pending = 0;
    socklen_t length = sizeof pending;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &pending, &length) != 0)
        pending = errno;
    return pending;
}

// Connects one resolved address within the budget; answers the socket or -1 with `error`.
int connectWithin(const addrinfo& address, std::chrono::milliseconds budget, int stopDescriptor, int& error)
{
    bool inProgress = false;
    int socket = beginConnect(address, error, inProgress);
    if (socket < 0 || !inProgress)
        return socket;
    error = awaitConnect(socket, Clock::now() + budget, stopDescriptor);
    if (error != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

// `address` with its port replaced by `port`, as getaddrinfo would give it.
std::optional<addrinfo> withPort(SocketAddress& target, int port)
{
    if (target.family() == AF_INET)
        reinterpret_cast<sockaddr_in&>(target.storage).sin_port = htons(static_cast<uint16_t>(port));
    else if (target.family() == AF_INET6)
        reinterpret_cast<sockaddr_in6&>(target.storage).sin6_port = htons(static_cast<uint16_t>(port));
    else
        return std::nullopt;
    addrinfo one {};
    one.ai_family = target.family();
    one.ai_socktype = SOCK_STREAM;
    one.ai_addr = reinterpret_cast<sockaddr*>(&target.storage);
    one.ai_addrlen = target.length;
    return one;
}

} // namespace

SocketWait waitForSocket(int socket, short events, Clock::time_point deadline, int stopDescriptor, int& error)
{
    for (;;) {
        pollfd waiting[2] = { { socket, events, 0 }, { stopDescriptor, POLLIN, 0 } };
        int ready = poll(waiting, stopDescriptor >= 0 ? 2 : 1, remainingMilliseconds(deadline));
        // A stop wins over a ready socket: the run is ending, whatever the peer does.
        if (ready > 0 && stopDescriptor >= 0 && (waiting[1].revents & POLLIN) != 0) {
            error = ECANCELED;
            return SocketWait::Stopped;
        }
        if (ready > 0)
            return SocketWait::Ready; // errors and hang-ups surface in the following call
        if (ready == 0) {
            error = ETIMEDOUT;
            return SocketWait::TimedOut;
        }
        if (errno != EINTR) {
            error = errno;
            return SocketWait::Failed;
        }
    }
}

TcpStream::TcpStream(int socket, std::chrono::milliseconds budget, int stopDescriptor)
    : socket_(socket)
    , budget_(budget)
    , stopDescriptor_(stopDescriptor)
{
    if (socket_ >= 0)
        (void)setNonBlocking(socket_);
}

TcpStream::~TcpStream()
{
    close();
}

namespace {

// Names under ".invalid" never resolve (RFC 6761, 6.4) and are not worth asking a name server.
bool isReservedInvalidName(std::string_view host)
{
    while (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    constexpr std::string_view kTld = "invalid";
    if (host.size() < kTld.size())
        return false;
    const std::string_view last = host.substr(host.size() - kTld.size());
    for (size_t index = 0; index < kTld.size(); ++index)
        if ((last[index] | 0x20) != kTld[index])
            return false;
    return host.size() == kTld.size() || host[host.size() - kTld.size() - 1] == '.';
}

} // namespace

TcpStream::Connected TcpStream::connect(
    const std::string& host, int port, std::chrono::milliseconds budget, int stopDescriptor)
{
    addrinfo hints {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (host.empty() || isReservedInvalidName(host) || getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0
        || !found)
        return { nullptr, EINVAL, true };
    Connected result { nullptr, EINVAL, false };
    for (addrinfo* address = found; address; address = address->ai_next) {
        int socket = connectWithin(*address, budget, stopDescriptor, result.error);
        if (socket >= 0) {
            result.stream = std::make_unique<TcpStream>(socket, budget, stopDescriptor);
            result.error = 0;
            break;
        }
        if (result.error == ECANCELED)
            break;
    }
    freeaddrinfo(found);
    return result;
}

TcpStream::Connected TcpStream::connect(
    const SocketAddress& address, int port, std::chrono::milliseconds budget, int stopDescriptor)
{
    Connected result = startConnect(address, port, budget, stopDescriptor);
    if (result.stream) {
        result.error = result.stream->finishConnect();
        if (result.error != 0)
            result.stream.reset();
    }
    return result;
}

TcpStream::Connected TcpStream::startConnect(
    const SocketAddress& address, int port, std::chrono::milliseconds budget, int stopDescriptor)
{
    SocketAddress target = address;
    const std::optional<addrinfo> one = withPort(target, port);
    if (!one)
        return { nullptr, EAFNOSUPPORT, false };
    Connected result { nullptr, 0, false };
    bool inProgress = false;
    int socket = beginConnect(*one, result.error, inProgress);
    if (socket >= 0) {
        result.stream = std::make_unique<TcpStream>(socket, budget, stopDescriptor);
        result.stream->connecting_ = inProgress;
    }
    return result;
}

int TcpStream::finishConnect()
{
    if (socket_ < 0)
        return ENOTCONN;
    if (!std::exchange(connecting_, false))
        return 0;
    const int error = awaitConnect(socket_, Clock::now() + budget_, stopDescriptor_);
    if (error != 0)
        close();
    return error;
}

SocketWait TcpStream::waitFor(short events, int& error)
{
    return waitForSocket(socket_, events, Clock::now() + budget_, stopDescriptor_, error);
}

IoResult TcpStream::fail(IoResult::Status status, int error, size_t count)
{
    close();
    return { status, count, error };
}

IoResult TcpStream::receive(char* buffer, size_t capacity)
{
    if (socket_ < 0)
        return { IoResult::Status::Failed, 0, ENOTCONN };
    for (;;) {
        ssize_t count = recv(socket_, buffer, capacity, 0);
        if (count > 0)
            return { IoResult::Status::Ok, static_cast<size_t>(count), 0 };
        if (count == 0)
            return fail(IoResult::Status::Closed, 0);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return fail(IoResult::Status::Failed, errno);
        int error = 0;
        SocketWait wait = waitFor(POLLIN, error);
        if (wait == SocketWait::TimedOut)
            return fail(IoResult::Status::TimedOut, error);
        if (wait != SocketWait::Ready)
            return fail(IoResult::Status::Failed, error);
    }
}

IoResult TcpStream::sendAll(const char* data, size_t size)
{
    if (socket_ < 0)
        return { IoResult::Status::Failed, 0, ENOTCONN };
    size_t sent = 0;
    while (sent < size) {
        ssize_t count = send(socket_, data + sent, size - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return fail(IoResult::Status::Failed, errno, sent);
        // The budget restarts with every block that leaves: only a stall counts.
        int error = 0;
        SocketWait wait = waitFor(POLLOUT, error);
        if (wait == SocketWait::TimedOut)
            return fail(IoResult::Status::TimedOut, error, sent);
        if (wait != SocketWait::Ready)
            return fail(IoResult::Status::Failed, error, sent);
    }
    return { IoResult::Status::Ok, sent, 0 };
}

void TcpStream::close()
{
    if (socket_ < 0)
        return;
    // NOTE: close() is not retried on EINTR: on Linux the descriptor is gone either way.
    ::close(socket_);
    socket_ = -1;
}

std::optional<SocketAddress> TcpStream::localAddress() const
{
    SocketAddress address;
    address.length = sizeof address.storage;
    if (socket_ < 0 || getsockname(socket_, reinterpret_cast<sockaddr*>(&address.storage), &address.length) != 0)
        return std::nullopt;
    return address;
}

std::optional<SocketAddress> TcpStream::peerAddress() const
{
    SocketAddress address;
    address.length = sizeof address.storage;
    if (socket_ < 0 || getpeername(socket_, reinterpret_cast<sockaddr*>(&address.storage), &address.length) != 0)
        return std::nullopt;
    return address;
}
