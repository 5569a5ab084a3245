#pragma once

#include "ftp/byte_stream.h"
#include "ftp/tls_context.h"
#include "session/peer_certificate.h"

#include <chrono>
#include <memory>
#include <string>

// TLS over a connected stream (RFC 4217 for the FTP side). The handshake and every later
// call wait in poll() with the inner stream's budget, like the plain stream. The inner
// stream stays the owner of the socket.
class TlsStream final : public ByteStream {
public:
    ~TlsStream() override;
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    struct Handshake {
        std::unique_ptr<TlsStream> stream; // null on failure
        std::string error; // OpenSSL's reason when the handshake failed
        IoResult result; // TimedOut when the budget ran out
        // The peer answered with a plain FTP reply ("220 ...") instead of TLS: the port
        // speaks plain FTP.
        bool plainFtpReply = false;
    };
    // `host` is checked against the certificate; `resume` (may be null) is the session a data
    // connection must continue.
    [[nodiscard]] static Handshake connect(std::unique_ptr<ByteStream> inner, std::shared_ptr<TlsContext> context,
        const std::string& host, SSL_SESSION* resume, std::chrono::milliseconds budget);

    [[nodiscard]] IoResult receive(char* buffer, size_t capacity) override;
    [[nodiscard]] IoResult sendAll(const char* data, size_t size) override;
    // Sends close_notify first, so the peer can tell the end of the data from a cut.
    void close() override;
    [[nodiscard]] bool isOpen() const override;
    [[nodiscard]] std::optional<SocketAddress> localAddress() const override { return inner_->localAddress(); }
    [[nodiscard]] std::optional<SocketAddress> peerAddress() const override { return inner_->peerAddress(); }
    [[nodiscard]] int stopDescriptor() const override { return inner_ ? inner_->stopDescriptor() : -1; }
    [[nodiscard]] int descriptor() const override { return inner_->descriptor(); }

    // close() then waits (within the budget) for the peer's close_notify too.
    void awaitPeerShutdown() { awaitPeerShutdown_ = true; }

    [[nodiscard]] const PeerCertificate& certificate() const { return certificate_; }
    [[nodiscard]] std::string version() const;
    [[nodiscard]] std::string cipher() const;
    [[nodiscard]] bool sessionReused() const;
    // The session to hand to data connections; the caller frees it with SSL_SESSION_free.
    [[nodiscard]] SSL_SESSION* session() const;
    // A session another control connection to this server may resume, or null; the caller
    // frees it. Under TLS 1.2 this connection's own session, which resumes any number of
    // times. A TLS 1.3 ticket may resume once only: one is given away only while more than
    // `kept` stay in the context for this connection's data connections.
    [[nodiscard]] SSL_SESSION* sessionToShare(size_t kept);

private:
    TlsStream(std::unique_ptr<ByteStream> inner, std::shared_ptr<TlsContext> context, SSL* ssl,
        std::chrono::milliseconds budget);
    enum class Step { Done, Again, Failed, TimedOut };
    // Waits as OpenSSL asks after a call answered `code`.
    [[nodiscard]] Step waitAfter(int code, int& error);
    [[nodiscard]] IoResult fail(IoResult::Status status, int error, size_t count = 0);
    void readCertificate(const std::string& host);

    std::unique_ptr<ByteStream> inner_;
    std::shared_ptr<TlsContext> context_;
    SSL* ssl_ = nullptr;
    std::chrono::milliseconds budget_;
    PeerCertificate certificate_;
    bool awaitPeerShutdown_ = false;
};
