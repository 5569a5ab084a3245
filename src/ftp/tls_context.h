#pragma once

#include <deque>
#include <memory>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

// The TLS settings of one client (TLS 1.2 or newer, system CA store) and the sessions its
// servers issued. Servers that insist on session reuse refuse a data connection that does
// not continue the control connection's session. Under TLS 1.3 a server may take each ticket
// for one resumption only (proftpd does, and issues no new ones on resumed data
// connections), so a ticket is handed out once and never offered again.
class TlsContext {
public:
    // Null when OpenSSL cannot set up a context.
    [[nodiscard]] static std::shared_ptr<TlsContext> create();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

    [[nodiscard]] SSL_CTX* get() const { return context_; }
    // The newest unused session that can still resume, or null; the caller frees it
    // (SSL_SESSION_free).
    [[nodiscard]] SSL_SESSION* takeSession();
    // Whether takeSession would answer a session; drops those that can no longer resume.
    [[nodiscard]] bool hasSession();
    // Forgets the sessions of a previous server.
    void clearSessions();

private:
    explicit TlsContext(SSL_CTX* context);
    static int onNewSession(SSL* ssl, SSL_SESSION* session);
    void dropUnusable();

    SSL_CTX* context_;
    std::deque<SSL_SESSION*> sessions_;
};
