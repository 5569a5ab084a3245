#include "ftp/active_data_connection.h"

#include "ftp/tcp_stream.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

ActiveDataConnection::ActiveDataConnection(
    int socket, const SocketAddress& address, std::chrono::milliseconds budget, int stopDescriptor)
    : listener_(socket)
    , address_(address)
    , budget_(budget)
    , stopDescriptor_(stopDescriptor)
{
}

ActiveDataConnection::~ActiveDataConnection()
{
    closeListener();
}

void ActiveDataConnection::closeListener()
{
    if (listener_ >= 0)
        ::close(listener_);
    listener_ = -1;
}

ActiveDataConnection::Listening ActiveDataConnection::listen(
    const SocketAddress* local, std::chrono::milliseconds budget, int stopDescriptor)
{
    SocketAddress bindTo;
    if (local && (local->family() == AF_INET || local->family() == AF_INET6)) {
        bindTo = *local;
    } else {
        auto* any = reinterpret_cast<sockaddr_in*>(&bindTo.storage);
        any->sin_family = AF_INET;
        any->sin_addr.s_addr = htonl(INADDR_ANY);
        bindTo.length = sizeof(sockaddr_in);
    }
    if (bindTo.family() == AF_INET)
        reinterpret_cast<sockaddr_in*>(&bindTo.storage)->sin_port = 0;
    else
        reinterpret_cast<sockaddr_in6*>(&bindTo.storage)->sin6_port = 0;

    Listening result;
    int socket = ::socket(bindTo.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (socket < 0) {
        result.error = errno;
        return result;
    }
    result.socketCreated = true;
    SocketAddress bound;
    bound.length = sizeof bound.storage;
    if (bind(socket, reinterpret_cast<const sockaddr*>(&bindTo.storage), bindTo.length) != 0
        || getsockname(socket, reinterpret_cast<sockaddr*>(&bound.storage), &bound.length) != 0
        || ::listen(socket, 1) != 0) {
        result.error = errno;
        ::close(socket);
        return result;
    }
    result.connection.reset(new ActiveDataConnection(socket, bound, budget, stopDescriptor));
    return result;
}

std::unique_ptr<ByteStream> ActiveDataConnection::establish(IoResult& result)
{
    if (listener_ < 0) {
        result = { IoResult::Status::Failed, 0, EBADF };
        return nullptr;
    }
    auto deadline = std::chrono::steady_clock::now() + budget_;
    for (;;) {
        int socket = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket >= 0) {
            // As on connected sockets: TLS ends a transfer with small records (the last data,
            // close_notify) that Nagle would hold back until the peer's delayed ACK, 40 ms a file.
            int on = 1;
            (void)setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            closeListener();
            result = { IoResult::Status::Ok, 0, 0 };
            return std::make_unique<TcpStream>(socket, budget_, stopDescriptor_);
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            result = { IoResult::Status::Failed, 0, errno };
            closeListener();
            return nullptr;
        }
        int error = 0;
        SocketWait wait = waitForSocket(listener_, POLLIN, deadline, stopDescriptor_, error);
        if (wait != SocketWait::Ready) {
            result = { wait == SocketWait::TimedOut ? IoResult::Status::TimedOut : IoResult::Status::Failed, 0, error };
            closeListener();
            return nullptr;
        }
    }
}
