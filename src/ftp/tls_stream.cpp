#include "ftp/tls_stream.h"

#include "ftp/tcp_stream.h"

#include <cerrno>
#include <csignal>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string lastOpenSslError()
{
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "connection closed during the handshake";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::string nameText(X509_NAME* name)
{
    if (!name)
        return {};
    BIO* out = BIO_new(BIO_s_mem());
    if (!out)
        return {};
    X509_NAME_print_ex(out, name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long length = BIO_get_mem_data(out, &data);
    std::string text(data, length > 0 ? static_cast<size_t>(length) : 0);
    BIO_free(out);
    return text;
}

std::string timeText(const ASN1_TIME* time)
{
    BIO* out = BIO_new(BIO_s_mem());
    if (!out || !time) {
        BIO_free(out);
        return {};
    }
    ASN1_TIME_print(out, time);
    char* data = nullptr;
    long length = BIO_get_mem_data(out, &data);
    std::string text(data, length > 0 ? static_cast<size_t>(length) : 0);
    BIO_free(out);
    return text;
}

// OpenSSL writes to the socket without MSG_NOSIGNAL: a peer that went away would end the
// process with SIGPIPE. The signal is held back for this thread only while OpenSSL works,
// and one it raised is taken off the thread again.
class SigpipeHeld {
public:
    SigpipeHeld()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        wasPending_ = sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
        held_ = pthread_sigmask(SIG_BLOCK, &pipe_, &previous_) == 0;
    }
    ~SigpipeHeld()
    {
        if (!held_)
            return;
        if (!wasPending_) {
            timespec none { 0, 0 };
            while (sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) { }
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;

private:
    sigset_t pipe_;
    sigset_t previous_;
    bool wasPending_ = false;
    bool held_ = false;
};

// Keeps the first record header the peer sent: OpenSSL reports it before judging it, so a
// plain-text answer can be told from a broken TLS one.
void onRecord(
    int writing, int /*version*/, int contentType, const void* bytes, size_t length, SSL* /*ssl*/, void* argument)
{
    auto* header = static_cast<std::string*>(argument);
    if (!writing && contentType == SSL3_RT_HEADER && header->empty())
        header->assign(static_cast<const char*>(bytes), length);
}

// "220 " or "220-": three digits and a separator open every FTP reply, and no TLS record
// starts with a digit.
bool isFtpReplyStart(const std::string& bytes)
{
    return bytes.size() >= 4 && bytes[0] >= '1' && bytes[0] <= '5' && bytes[1] >= '0' && bytes[1] <= '9'
        && bytes[2] >= '0' && bytes[2] <= '9' && (bytes[3] == ' ' || bytes[3] == '-');
}

bool isAddressLiteral(const std::string& host)
{
    return host.find(':') != std::string::npos || host.find_first_not_of("0123456789.") == std::string::npos;
}

bool namesHost(X509* certificate, const std::string& host)
{
    if (isAddressLiteral(host))
        return X509_check_ip_asc(certificate, host.c_str(), 0) == 1;
    return X509_check_host(certificate, host.c_str(), host.size(), 0, nullptr) == 1;
}

} // namespace

TlsStream::TlsStream(
    std::unique_ptr<ByteStream> inner, std::shared_ptr<TlsContext> context, SSL* ssl, std::chrono::milliseconds budget)
    : inner_(std::move(inner))
    , context_(std::move(context))
    , ssl_(ssl)
    , budget_(budget)
{
}

TlsStream::~TlsStream()
{
    close();
}

TlsStream::Handshake TlsStream::connect(std::unique_ptr<ByteStream> inner, std::shared_ptr<TlsContext> context,
    const std::string& host, SSL_SESSION* resume, std::chrono::milliseconds budget)
{
    Handshake handshake;
    if (!inner || inner->descriptor() < 0 || !context) {
        handshake.error = "no connection";
        handshake.result = { IoResult::Status::Failed, 0, ENOTCONN };
        return handshake;
    }
    SSL* ssl = SSL_new(context->get());
    if (!ssl) {
        handshake.error = lastOpenSslError();
        handshake.result = { IoResult::Status::Failed, 0, ENOMEM };
        return handshake;
    }
    std::unique_ptr<TlsStream> stream(new TlsStream(std::move(inner), std::move(context), ssl, budget));
    SSL_set_fd(ssl, stream->descriptor());
    bool literal = isAddressLiteral(host);
    if (!literal)
        SSL_set_tlsext_host_name(ssl, host.c_str());
    if (literal)
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    else
        SSL_set1_host(ssl, host.c_str());
    if (resume)
        SSL_set_session(ssl, resume);
    std::string firstHeader;
    SSL_set_msg_callback(ssl, &onRecord);
    SSL_set_msg_callback_arg(ssl, &firstHeader);
    ERR_clear_error();
    SigpipeHeld held;
    for (;;) {
        int code = SSL_connect(ssl);
        if (code == 1)
            break;
        int error = 0;
        Step step = stream->waitAfter(code, error);
        if (step == Step::Again)
            continue;
        handshake.error = step == Step::TimedOut ? "no answer during the handshake" : lastOpenSslError();
        handshake.plainFtpReply = step != Step::TimedOut && isFtpReplyStart(firstHeader);
        handshake.result = { step == Step::TimedOut ? IoResult::Status::TimedOut : IoResult::Status::Failed, 0,
            step == Step::TimedOut ? ETIMEDOUT : (error ? error : EPROTO) };
        // Without a finished handshake there is nothing to close politely.
        SSL_free(stream->ssl_);
        stream->ssl_ = nullptr;
        return handshake;
    }
    SSL_set_msg_callback(ssl, nullptr);
    stream->readCertificate(host);
    handshake.stream = std::move(stream);
    return handshake;
}

void TlsStream::readCertificate(const std::string& host)
{
    X509* peer = SSL_get1_peer_certificate(ssl_);
    if (!peer) {
        certificate_.problem = "the server sent no certificate";
        return;
    }
    long verdict = SSL_get_verify_result(ssl_);
    certificate_.verified = verdict == X509_V_OK;
    if (!certificate_.verified)
        certificate_.problem = X509_verify_cert_error_string(verdict);
    // A resumed session brings the verdict of the handshake that made it, given for the host
    // that connection asked for: this connection's host must be named as well.
    if (certificate_.verified && SSL_session_reused(ssl_) == 1 && !namesHost(peer, host)) {
        certificate_.verified = false;
        certificate_.problem = "the certificate does not name " + host;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(peer, EVP_sha256(), digest, &length) == 1) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        for (unsigned int i = 0; i < length; ++i) {
            if (i > 0)
                certificate_.fingerprint += ':';
            certificate_.fingerprint += kHex[digest[i] >> 4];
            certificate_.fingerprint += kHex[digest[i] & 15];
        }
    }
    certificate_.subject = nameText(X509_get_subject_name(peer));
    certificate_.issuer = nameText(X509_get_issuer_name(peer));
    certificate_.notBefore = timeText(X509_get0_notBefore(peer));
    certificate_.notAfter = timeText(X509_get0_notAfter(peer));
    X509_free(peer);
}

TlsStream::Step TlsStream::waitAfter(int code, int& error)
{
    short events = 0;
    switch (SSL_get_error(ssl_, code)) {
    case SSL_ERROR_WANT_READ: events = POLLIN; break;
    case SSL_ERROR_WANT_WRITE: events = POLLOUT; break;
    case SSL_ERROR_SYSCALL: error = errno == EAGAIN ? 0 : errno; return Step::Failed;
    default: return Step::Failed;
    }
    switch (waitForSocket(inner_->descriptor(), events, Clock::now() + budget_, inner_->stopDescriptor(), error)) {
    case SocketWait::Ready: return Step::Again;
    case SocketWait::TimedOut: return Step::TimedOut;
    case SocketWait::Stopped:
    case SocketWait::Failed: return Step::Failed;
    }
    return Step::Failed;
}

IoResult TlsStream::fail(IoResult::Status status, int error, size_t count)
{
    // A broken TLS stream must not try to say goodbye.
    if (ssl_) {
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    inner_->close();
    return { status, count, error };
}

IoResult TlsStream::receive(char* buffer, size_t capacity)
{
    if (!ssl_)
        return { IoResult::Status::Failed, 0, ENOTCONN };
    int want = capacity > 0x40000000 ? 0x40000000 : static_cast<int>(capacity);
    SigpipeHeld held;
    for (;;) {
        ERR_clear_error();
        int count = SSL_read(ssl_, buffer, want);
        if (count > 0)
            return { IoResult::Status::Ok, static_cast<size_t>(count), 0 };
        if (SSL_get_error(ssl_, count) == SSL_ERROR_ZERO_RETURN) {
            close();
            return { IoResult::Status::Closed, 0, 0 };
        }
        int error = 0;
        Step step = waitAfter(count, error);
        if (step == Step::Again)
            continue;
        // An end without close_notify may be a cut: the data cannot be trusted to be whole.
        return fail(
            step == Step::TimedOut ? IoResult::Status::TimedOut : IoResult::Status::Failed, error ? error : ECONNRESET);
    }
}

IoResult TlsStream::sendAll(const char* data, size_t size)
{
    if (!ssl_)
        return { IoResult::Status::Failed, 0, ENOTCONN };
    size_t sent = 0;
    SigpipeHeld held;
    while (sent < size) {
        size_t left = size - sent;
        int chunk = left > 0x40000000 ? 0x40000000 : static_cast<int>(left);
        ERR_clear_error();
        int count = SSL_write(ssl_, data + sent, chunk);
        if (count > 0) {
            sent += static_cast<size_t>(count);
            continue;
        }
        int error = 0;
        Step step = waitAfter(count, error);
        if (step == Step::Again)
            continue;
        return fail(step == Step::TimedOut ? IoResult::Status::TimedOut : IoResult::Status::Failed,
            error ? error : EPIPE, sent);
    }
    return { IoResult::Status::Ok, sent, 0 };
}

void TlsStream::close()
{
    if (ssl_) {
        ERR_clear_error();
        SigpipeHeld held;
        // Tickets the server sent are taken in before the end, so that the next data
        // connection has an unused one to resume with.
        char ignored[256];
        for (int round = 0; round < 16 && SSL_read(ssl_, ignored, sizeof ignored) > 0; ++round) { }
        ERR_clear_error();
        // A data connection waits for the server's close_notify as well: a server drops the
        // session of a connection that did not end cleanly on both sides, and the next data
        // connection could not resume it.
        for (int attempt = 0; attempt < 8; ++attempt) {
            int code = SSL_shutdown(ssl_);
            if (code == 1 || (code == 0 && !awaitPeerShutdown_))
                break;
            if (code == 0)
                continue;
            int error = 0;
            if (waitAfter(code, error) != Step::Again)
                break;
        }
        SSL_free(ssl_);
        ssl_ = nullptr;
        // Records nobody read (session tickets the server sent after the handshake) would make
        // close() reset the connection, and the server would drop the end of an upload.
        int fd = inner_ ? inner_->descriptor() : -1;
        char unread[4096];
        for (int round = 0; fd >= 0 && round < 256; ++round) {
            ssize_t count = recv(fd, unread, sizeof unread, MSG_DONTWAIT);
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                break;
        }
    }
    if (inner_)
        inner_->close();
}

bool TlsStream::isOpen() const
{
    return ssl_ && inner_->isOpen();
}

std::string TlsStream::version() const
{
    return ssl_ ? SSL_get_version(ssl_) : "";
}

std::string TlsStream::cipher() const
{
    return ssl_ ? SSL_get_cipher_name(ssl_) : "";
}

bool TlsStream::sessionReused() const
{
    return ssl_ && SSL_session_reused(ssl_) == 1;
}

SSL_SESSION* TlsStream::session() const
{
    return ssl_ ? SSL_get1_session(ssl_) : nullptr;
}

SSL_SESSION* TlsStream::sessionToShare(size_t kept)
{
    if (!ssl_)
        return nullptr;
    SSL_SESSION* mine = nullptr;
    if (SSL_version(ssl_) != TLS1_3_VERSION)
        mine = SSL_get1_session(ssl_);
    else if (context_->sessionCount() > kept)
        mine = context_->takeSession();
    // Without the certificate in it, a connection resuming it could not judge the server.
    // A copy rather than a second reference: the handshake that resumes it on another thread
    // writes to it.
    SSL_SESSION* shared
        = mine && SSL_SESSION_is_resumable(mine) && SSL_SESSION_get0_peer(mine) ? SSL_SESSION_dup(mine) : nullptr;
    SSL_SESSION_free(mine);
    return shared;
}
