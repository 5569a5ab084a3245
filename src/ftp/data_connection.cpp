#include "ftp/active_data_connection.h"
#include "ftp/ftp_client.h"
#include "ftp/passive_data_connection.h"
#include "ftp/passive_reply.h"
#include "ftp/reply_reader.h"
#include "ftp/tcp_stream.h"
#include "ftp/tls_stream.h"

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <string>
#include <utility>

namespace {

// "127.0.0.1:40123", "[::1]:40123"
std::string endpointText(const SocketAddress& address, int port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.family() == AF_INET6) {
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(address.storage).sin6_addr, text, sizeof text);
        return "[" + std::string(text) + "]:" + std::to_string(port);
    }
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(address.storage).sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(port);
}

int portOf(const SocketAddress& address)
{
    if (address.family() == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6&>(address.storage).sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in&>(address.storage).sin_port);
}

} // namespace

// Every transfer and listing opens its data connection here.
std::unique_ptr<DataConnection> FtpClient::openDataConnection()
{
    if (lossReported_ && !(control_ && control_->isOpen())) {
        // The lost control connection was reported once; every transfer after it would only
        // repeat that.
        addFailure();
        return nullptr;
    }
    dataUnresumed_ = false;
    dataHandshakeFailed_ = false;
    dataReply_ = 0;
    if (!ensureResumableSession())
        return nullptr;
    if (options_.passive)
        return openPassiveConnection();
    return openActiveConnection();
}

bool FtpClient::ensureResumableSession()
{
    // A TLS 1.3 ticket may resume once only: on a server that refuses data connections
    // without one (after it has already emptied the target of an upload), a new login brings
    // fresh tickets once the ones in hand are spent. Most servers take a full handshake
    // instead, and many issue no tickets at all. TLS 1.2 sessions resume any number of times.
    if (!protectData_ || !controlTls_ || controlTls_->version() != "TLSv1.3"
        || dataResumption_ != TlsResumption::Required || tlsContext_->hasSession())
        return true;
    std::string directory = currentDirectory();
    char type = typeInEffect_;
    int failures = failureCount_;
    sink_->message("TLS session tickets used up: logging in again\n");
    bool connected = connect(host_, user_, password_).ok();
    failureCount_ = failures;
    if (connected && !directory.empty())
        connected = nameCommand("CWD %s", directory) / 100 == 2;
    if (connected && type != 0) {
        connected = command("TYPE %c", type) / 100 == 2;
        typeInEffect_ = connected ? type : 0;
    }
    if (!connected || !tlsContext_->hasSession()) {
        addFailure();
        sink_->message("Error %s %d\n", "open.tls cannot log in again for fresh TLS session tickets", EPROTO);
        return false;
    }
    return true;
}

std::unique_ptr<DataConnection> FtpClient::openPassiveConnection()
{
    std::optional<SocketAddress> peer = control_ ? control_->peerAddress() : std::nullopt;
    if (!peer) {
        addFailure();
        sink_->message("Error %s %d\n", "open.passive no control connection", ENOTCONN);
        return nullptr;
    }
    std::optional<PassiveReply> target;
    if (std::unique_ptr<TcpStream> ahead = std::move(dataAhead_)) {
        // Asked for with the last upload's end; should the server have dropped that port
        // meanwhile, the usual request follows.
        const int error = ahead->finishConnect();
        if (error == 0) {
            const std::optional<SocketAddress> to = ahead->peerAddress();
            sink_->onDetail("data connection to " + (to ? endpointText(*to, portOf(*to)) : std::string("server"))
                + " (passive, asked for ahead)");
            return std::make_unique<PassiveDataConnection>(std::move(ahead));
        }
        if (stopped() || error == ETIMEDOUT) {
            if (error == ETIMEDOUT)
                noteTimeout();
            addFailure();
            sink_->message("Error %s %d\n", "open.connect data connection", error);
            return nullptr;
        }
    }
    if (!epsvRefused_) {
        std::string reply = sendRaw("EPSV\r\n");
        int code = replyCode(reply);
        if (code == 229) {
            target = PassiveReply::parseEpsv(reply);
            if (!target) {
                addFailure();
                sink_->message("Error %s %d\n", "open.epsv unreadable port in reply", EPROTO);
                return nullptr;
            }
        } else if (code / 100 == 5) {
            // Older servers know only PASV; asking EPSV again for every file would cost a
            // round trip each time.
            epsvRefused_ = true;
        } else {
            addFailure();
            sink_->message("Error %s %d\n", "open.epsv refused", code);
            return nullptr;
        }
    }
    if (!target) {
        std::string reply = sendRaw("PASV\r\n");
        if (replyCode(reply) != 227) {
            addFailure();
            sink_->message("Error %s %d\n", "open.pasv refused", replyCode(reply));
            return nullptr;
        }
        target = PassiveReply::parsePasv(reply);
        if (!target) {
            addFailure();
            sink_->message("Error %s %d\n", "open.pasv unreadable address in reply", EPROTO);
            return nullptr;
        }
    }
    TcpStream::Connected connected = TcpStream::connect(*peer, target->port, budget_, stopDescriptor());
    if (!connected.stream) {
        if (connected.error == ETIMEDOUT)
            noteTimeout();
        addFailure();
        sink_->message("Error %s %d\n", "open.connect data connection", connected.error);
        return nullptr;
    }
    sink_->onDetail("data connection to " + endpointText(*peer, target->port) + " (passive)");
    return std::make_unique<PassiveDataConnection>(std::move(connected.stream));
}

std::unique_ptr<DataConnection> FtpClient::openActiveConnection()
{
    std::optional<SocketAddress> local = control_ ? control_->localAddress() : std::nullopt;
    ActiveDataConnection::Listening listening
        = ActiveDataConnection::listen(local ? &*local : nullptr, budget_, stopDescriptor());
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
    const SocketAddress& address = listening.connection->address();
    sink_->onDetail("data connection awaited on " + endpointText(address, portOf(address)) + " (active)");
    // The answers are not examined: a refused PORT shows in the transfer command's reply.
    if (address.family() == AF_INET6) {
        const auto& bound = reinterpret_cast<const sockaddr_in6&>(address.storage);
        char text[INET6_ADDRSTRLEN] = {};
        inet_ntop(AF_INET6, &bound.sin6_addr, text, sizeof text);
        (void)command("EPRT |2|%s|%u|", text, static_cast<unsigned>(ntohs(bound.sin6_port)));
    } else {
        const auto& bound = reinterpret_cast<const sockaddr_in&>(address.storage);
        uint32_t host = ntohl(bound.sin_addr.s_addr);
        unsigned port = ntohs(bound.sin_port);
        (void)command("PORT %u,%u,%u,%u,%u,%u", (host >> 24) & 0xff, (host >> 16) & 0xff, (host >> 8) & 0xff,
            host & 0xff, (port >> 8) & 0xff, port & 0xff);
    }
    return std::move(listening.connection);
}

std::unique_ptr<ByteStream> FtpClient::establishData(DataConnection& connection, const char* where)
{
    IoResult result;
    std::unique_ptr<ByteStream> stream = connection.establish(result);
    if (stream && !protectData_)
        return stream;
    if (stream) {
        // Servers that insist on it (vsftpd's require_ssl_reuse, proftpd by default) refuse a
        // data connection that does not continue the control connection's session. A TLS 1.2
        // session resumes again and again; a TLS 1.3 ticket is best used once, and without
        // one the control connection's session is worth offering while it can still resume.
        const bool tls13 = controlTls_ && controlTls_->version() == "TLSv1.3";
        SSL_SESSION* session = tlsContext_->takeSession();
        if (!session && controlTls_)
            session = controlTls_->session();
        if (session && tls13 && !SSL_SESSION_is_resumable(session)) {
            SSL_SESSION_free(session);
            session = nullptr;
        }
        TlsStream::Handshake handshake = TlsStream::connect(std::move(stream), tlsContext_, tlsHost_, session, budget_);
        if (session)
            SSL_SESSION_free(session);
        dataUnresumed_ = tls13 && !(handshake.stream && handshake.stream->sessionReused());
        dataHandshakeFailed_ = !handshake.stream;
        if (handshake.stream && handshake.stream->certificate().fingerprint == certificate_.fingerprint) {
            sink_->onDetail("data connection protected by " + handshake.stream->version()
                + (handshake.stream->sessionReused() ? " (session resumed)" : " (full handshake)"));
            handshake.stream->awaitPeerShutdown();
            return std::move(handshake.stream);
        }
        sink_->message("Error %s tls %s\n", where,
            handshake.stream ? "another certificate on the data connection" : handshake.error.c_str());
        result = handshake.stream ? IoResult { IoResult::Status::Failed, 0, EPROTO } : handshake.result;
        if (handshake.stream)
            handshake.stream->close();
    }
    if (result.status == IoResult::Status::TimedOut)
        noteTimeout();
    addFailure();
    if (endSessionIfStopped())
        return nullptr;
    sink_->message("Error %s %d\n", where, result.error);
    // The server answers the transfer command once more (425 and the like); left unread, that
    // answer would be taken for the reply to the next command.
    dataReply_ = readReplyCode();
    return nullptr;
}

bool FtpClient::repeatForResumption()
{
    const bool unresumed = std::exchange(dataUnresumed_, false);
    const bool handshakeFailed = std::exchange(dataHandshakeFailed_, false);
    const int reply = std::exchange(dataReply_, 0);
    if (!unresumed || dataResumption_ != TlsResumption::Unknown)
        return false;
    if (reply / 100 == 2) {
        dataResumption_ = TlsResumption::NotNeeded;
        return false;
    }
    // Other refusals (a missing file, a full disk) say nothing about resumption.
    if (!handshakeFailed && reply != 425 && reply != 522)
        return false;
    dataResumption_ = TlsResumption::Required;
    sink_->message("Data connection refused without TLS session resumption (%d): logging in again\n", reply);
    return !stopped() && control_ && control_->isOpen();
}
