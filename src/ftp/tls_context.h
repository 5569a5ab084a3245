#pragma once

#include <deque>
#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;

// What a server makes of a TLS 1.3 data connection that resumes no session (a full handshake,
// or the control connection's spent ticket). Learned from the first such connection and kept
// for the rest of the run: guessing wrong costs either a refused transfer per connection or a
// login per ticket.
enum class TlsResumption {
    Unknown, // no such data connection has ended yet
    Required, // the server refused one: each data connection needs a fresh ticket
    NotNeeded, // the server took one: no login for tickets is ever needed
};

// A session one control connection hands to another client's control connection to the same
// server, so that its handshake skips the key exchange and the certificate chain, together
// with what the giver learned about the server's data connections (even without a session).
// Owns one reference.
class TlsSession {
public:
    TlsSession() = default;
    // Takes over the caller's reference to `session` (may be null), which came from `server`
    // (the url connected to).
    TlsSession(SSL_SESSION* session, std::string server, TlsResumption resumption = TlsResumption::Unknown);

    [[nodiscard]] SSL_SESSION* get() const { return session_.get(); }
    [[nodiscard]] const std::string& server() const { return server_; }
    [[nodiscard]] TlsResumption resumption() const { return resumption_; }
    explicit operator bool() const { return session_ != nullptr; }

private:
    struct Release {
        void operator()(SSL_SESSION* session) const;
    };
    std::unique_ptr<SSL_SESSION, Release> session_;
    std::string server_;
    TlsResumption resumption_ = TlsResumption::Unknown;
};

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
    // How many unused sessions that can still resume are waiting.
    [[nodiscard]] size_t sessionCount();
    // Forgets the sessions of a previous server.
    void clearSessions();

private:
    explicit TlsContext(SSL_CTX* context);
    static int onNewSession(SSL* ssl, SSL_SESSION* session);
    void dropUnusable();

    SSL_CTX* context_;
    std::deque<SSL_SESSION*> sessions_;
};
