#pragma once

#include <deque>
#include <memory>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

// The TLS settings of one client (TLS 1.2 or newer, system CA store) and the sessions its
// servers issued. Servers that insist on session reuse refuse a data connection that does
// not continue the control connection's session; under TLS 1.3 every ticket is good for one
// resumption only, so each data connection takes one that has not been used yet.
class TlsContext {
public:
    // Null when OpenSSL cannot set up a context.
    [[nodiscard]] static std::shared_ptr<TlsContext> create();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    [[nodiscard]] SSL_CTX* get() const { return context_; }
    // The newest unused resumable session, or null; the caller frees it (SSL_SESSION_free).
    [[nodiscard]] SSL_SESSION* takeSession();
    // Forgets the sessions of a previous server.
    void clearSessions();

private:
    explicit TlsContext(SSL_CTX* context);
    static int onNewSession(SSL* ssl, SSL_SESSION* session);

    SSL_CTX* context_;
    std::deque<SSL_SESSION*> sessions_;
};
