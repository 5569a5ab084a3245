#include "ftp/active_data_connection.h"
#include "ftp/ftp_client.h"

#include <cerrno>
#include <netinet/in.h>

// Every transfer and listing opens its data connection here, so another mode (passive,
// IPv6, encrypted) is one change in this function and in DataConnection.
std::unique_ptr<DataConnection> FtpClient::openDataConnection()
{
    std::optional<SocketAddress> local = control_ ? control_->localAddress() : std::nullopt;
    if (local && local->family() != AF_INET) {
        // FIXME: IPv6 control connections need EPRT (or EPSV) for their data connections.
        sink_->message("Error %s %d\n", "open.port IPv4 data connections only", EAFNOSUPPORT);
        return nullptr;
    }
    ActiveDataConnection::Listening listening = ActiveDataConnection::listen(local ? &*local : nullptr, budget_);
    if (!listening.connection) {
        if (!listening.socketCreated) {
            addFailure();
            sink_->message("Error %s %d\n", "open.socket %d creating socket", listening.error);
        }
        return nullptr;
    }
    if (!local) {
        addFailure();
        sink_->message("Error %s %d\n", "open.getsockname", ENOTCONN);
    }
    const auto& bound = reinterpret_cast<const sockaddr_in&>(listening.connection->address().storage);
    uint32_t host = ntohl(bound.sin_addr.s_addr);
    unsigned port = ntohs(bound.sin_port);
    // The answer is not examined: a refused PORT shows in the transfer command's reply.
    (void)command("PORT %u,%u,%u,%u,%u,%u", (host >> 24) & 0xff, (host >> 16) & 0xff, (host >> 8) & 0xff, host & 0xff,
        (port >> 8) & 0xff, port & 0xff);
    return std::move(listening.connection);
}

std::unique_ptr<ByteStream> FtpClient::establishData(DataConnection& connection, const char* where)
{
    IoResult result;
    std::unique_ptr<ByteStream> stream = connection.establish(result);
    if (stream)
        return stream;
    if (result.status == IoResult::Status::TimedOut)
        noteTimeout();
    addFailure();
    sink_->message("Error %s %d\n", where, result.error);
    // The server answers the transfer command once more (425 and the like); left unread, that
    // answer would be taken for the reply to the next command.
    (void)readReply();
    return nullptr;
}
